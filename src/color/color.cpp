#include "color/color.h"

#include "color/mode.h"
#include "color/palette.h"
#include "setting/Language.h"

#include <QGroupBox>

#include <algorithm>

namespace {

// The panel's group box holds the buttons below the selection row; it and they grow downward.
void growPanel(QWidget* panel, int extra)
{
    if (extra <= 0)
        return;
    if (auto* box = panel->findChild<QGroupBox*>(QStringLiteral("groupBoxCustom"))) {
        for (QWidget* child : box->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            child->move(child->x(), child->y() + extra);
        box->setMinimumHeight(box->minimumHeight() + extra);
        box->setMaximumHeight(box->maximumHeight() + extra);
    }
    panel->resize(panel->width(), panel->height() + extra);
}

} // namespace

void Ui_Color::setupUi(QWidget* color)
{
    if (color->objectName().isEmpty())
        color->setObjectName(QStringLiteral("Color"));
    color->resize(Color::PageWidth, Color::PageHeight);
    color->setMinimumSize(Color::PageWidth, Color::PageHeight);
    color->setMaximumSize(Color::PageWidth, Color::PageHeight);
    color->setWindowTitle(QStringLiteral("Form"));
}

Color::Color(QWidget* parent, Device* device) : QWidget(parent), ui(new Ui_Color), m_device(device)
{
    ui->setupUi(this);
    createPalette();
    createMode();
    if (g_language) {
        // The page is the context, so the connection ends with it.
        connect(g_language, &Language::LanguageChange, this, [this](int language) {
            m_palette->setLanguage(language);
            m_mode->setLanguage(language);
        });
    }
}

Color::~Color()
{
    delete m_palette;
    m_palette = nullptr;
    delete m_mode; // closes an open parameter dialog
    m_mode = nullptr;
    delete ui;
}

void Color::createPalette()
{
    m_palette = new Palette(this);
    m_palette->resize(width(), m_palette->height());
    m_palette->move(width() / 2 - m_palette->width() / 2, m_palette->y());
    connect(m_palette, &Palette::emitButtonPressed, this, &Color::paletteButtonPressed);
}

void Color::createMode()
{
    m_mode = new Mode(this, m_device);
    m_mode->resize(width(), m_mode->height());
    m_mode->move(width() / 2 - m_mode->width() / 2, m_palette->y() + m_palette->height());
    connect(m_mode, &Mode::emitButtonPressed, this, &Color::modeButtonPressed);
}

void Color::makeRoomForRows(int paletteExtra, int modeExtra)
{
    growPanel(m_palette, paletteExtra);
    growPanel(m_mode, modeExtra);
    m_mode->move(m_mode->x(), m_palette->y() + m_palette->height());
    const int height = PageHeight + std::max(paletteExtra, 0) + std::max(modeExtra, 0);
    setMinimumSize(PageWidth, height);
    setMaximumSize(PageWidth, height);
    resize(PageWidth, height);
}

void Color::paletteButtonPressed()
{
    m_mode->clearSelection();
}

void Color::modeButtonPressed()
{
    m_palette->unsetColorCursor();
    emit emitUnsetCursor();
}
