#include "palette.h"

#include "setting/Language.h"
#include "ui_palette.h"
#include "widget/colorchooser.h"
#include "widget/fileguard.h"
#include "widget/filenotice.h"
#include "widget/inputnotice.h"
#include "widget/qss.h"
#include "widget/unreadablefile.h"
#include "platform/savefile.h"

#include <QDebug>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

namespace {
constexpr int PressIntervalMs = 200;
constexpr int SwatchAlpha = 200;
} // namespace

Palette::Palette(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui_Palette)
{
    ui->setupUi(this);
    ui->groupBoxCustom->setFont(QFont(QStringLiteral("consolas"), 11, QFont::Bold, false));
    m_currentColor = std::make_unique<QColor>();
    initCustomColorButtons();
    m_pressCount = 0;
    m_pressTimer = new QTimer(this);
    m_pressTimer->setInterval(PressIntervalMs);
    analyJson();
    connect(m_pressTimer, &QTimer::timeout, this, &Palette::timerPressedSlot);
    setLanguage(currentLanguageType());
}

Palette::~Palette()
{
    delete ui;
}

QColor Palette::getCurrentColor() const
{
    if (!m_currentColor) {
        qDebug() << __LINE__ << "get current color is NULL.";
        return QColor();
    }
    return *m_currentColor;
}

void Palette::unsetColorCursor()
{
    m_currentColor = std::make_unique<QColor>();
    unsetCursor();
}

void Palette::setLanguage(int language)
{
    ui->groupBoxCustom->setTitle(language == 0 ? QStringLiteral("LED 颜色") : QStringLiteral("LED COLOR"));
}

void Palette::setButtonColor(QPushButton* button, const QString& colorName)
{
    if (button)
        Qss().setColorSwatchStyle(button, QColor(colorName), SwatchAlpha);
}

void Palette::timerPressedSlot()
{
    m_pressCount = 0;
    m_pressTimer->stop();
}

void Palette::customColorDoubleClickedSlot()
{
    const QObject* from = sender();
    if (!from)
        return;
    int k = 0;
    while (k < m_buttons.size() && m_buttons.at(k)->objectName() != from->objectName())
        ++k;
    if (k == m_buttons.size())
        return;
    const std::unique_ptr<QColor> armed = selectColor(k);
    if (!armed)
        return;
    emit emitButtonPressed();
    emit emitCursorColor(armed.get());
    setButtonColor(m_buttons.at(k), armed->name());
}

void Palette::initCustomColorButtons()
{
    m_buttons.clear();
    for (QPushButton* button : ui->customColor)
        m_buttons.append(button);
    // Every button has its slot, whatever the file holds; what the file leaves out stays white.
    m_colors = QVector<QColor>(m_buttons.size(), QColor(QStringLiteral("#ffffff")));
    for (QPushButton* button : qAsConst(m_buttons)) {
        connect(button, &QPushButton::pressed, this, &Palette::customColorDoubleClickedSlot);
        setButtonColor(button, QStringLiteral("#ffffff"));
        button->setFocusPolicy(Qt::NoFocus);
    }
}

QString Palette::filePath() const
{
    return appDirPath() + QStringLiteral("/config/customcolor/") + QStringLiteral("color_btn_32.json");
}

QByteArray Palette::openJsonColor()
{
    QByteArray data;
    if (FileGuard::readFile(filePath(), &data) != FileGuard::Result::Read) {
        // The guard has logged a file it refused or could not open; a missing one is said here.
        qWarning().noquote() << QStringLiteral("Couldn't read the colour file \"%1\"").arg(filePath())
                             << (QFileInfo::exists(filePath()) ? QStringLiteral("- not read")
                                                               : QStringLiteral("- no such file"));
        return QByteArray();
    }
    return data;
}

void Palette::analyJson()
{
    const QByteArray text = openJsonColor();
    m_keepBeforeWrite = false;
    if (text.isEmpty()) {
        // A missing or refused file was logged by the reading. One that is there and did not read (no
        // permission, too large) is kept before a write replaces it; an empty one holds nothing.
        const QFileInfo info(filePath());
        if (info.isFile() && info.size() == 0)
            qDebug().noquote() << QStringLiteral("Colour file is empty: \"%1\"").arg(filePath());
        m_keepBeforeWrite = info.isFile() && info.size() > 0;
        // Every swatch stays white: the user hears which file did not read (once a run, as the palette
        // is built again at every visit of the colour page).
        inputnotice::unreadable(filePath());
        return;
    }
    const int count = qMin(m_colors.size(), m_buttons.size());
    int read = 0;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (doc.isNull() || error.error != QJsonParseError::NoError) {
        qDebug().noquote() << QStringLiteral("Colour file does not parse: \"%1\": %2 at offset %3")
                                  .arg(filePath(), error.errorString(), QString::number(error.offset));
        read = salvageColors(text);
    } else if (doc.isArray()) {
        const QJsonArray array = doc.array();
        if (array.size() > m_colors.size())
            qDebug() << __LINE__ << "color file has" << array.size() << "colors, only the first" << m_colors.size()
                     << "are used.";
        // Element k belongs to button k alone, so a bad element costs only its own colour.
        for (int k = 0; k < qMin(array.size(), count); ++k) {
            if (!array.at(k).isObject())
                continue;
            const QString name = array.at(k).toObject().value(QStringLiteral("customColor_%1").arg(k)).toString();
            setButtonColor(m_buttons.at(k), name);
            m_colors[k] = QColor(name);
            read += m_colors[k].isValid();
        }
    } else {
        read = salvageColors(text); // not the array the tool writes: whatever pairs it holds
    }
    // What did not read is only in this file: it is kept aside before the first write replaces it.
    m_keepBeforeWrite = read < count;
    if (m_keepBeforeWrite) {
        qDebug().noquote()
            << QStringLiteral("Colour file \"%1\": %2 of %3 colours read")
                   .arg(filePath(), QString::number(read), QString::number(count));
        inputnotice::unreadable(filePath());
    }
}

int Palette::salvageColors(const QByteArray& text)
{
    // A damaged file (cut short, a stray byte) still holds its complete "customColor_k": "name" pairs.
    static const QRegularExpression pair(QStringLiteral("\"customColor_(\\d{1,3})\"\\s*:\\s*\"([^\"\\\\]{1,64})\""));
    int read = 0;
    QRegularExpressionMatchIterator it = pair.globalMatch(QString::fromUtf8(text));
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const int k = m.captured(1).toInt();
        const QColor colour(m.captured(2));
        if (k >= m_colors.size() || k >= m_buttons.size() || !colour.isValid())
            continue;
        setButtonColor(m_buttons.at(k), m.captured(2));
        m_colors[k] = colour;
        ++read;
    }
    return read;
}

void Palette::writeJson()
{
    QJsonArray array;
    for (int k = 0; k < m_buttons.size() && k < m_colors.size(); ++k)
        array.append(QJsonObject{{m_buttons.at(k)->objectName(), m_colors.at(k).name()}});
    QByteArray text = QJsonDocument(array).toJson(QJsonDocument::Compact);
    text.replace("[", "[\n");
    text.replace("{", "  {\n    ");
    text.replace(":", ": ");
    text.replace(",", ",\n");
    text.replace("}", "\n  }");
    text.replace("}]", "}\n]");

    // Refused before a copy of what the link names is kept: that is not the user's file here.
    if (SaveFile::isLinkAtName(filePath())) {
        filenotice::saveFailed(filePath(), QStringLiteral("a link stands at the name; it is left alone"));
        return;
    }
    if (m_keepBeforeWrite) {
        // Only a file that is there and holds something needs its copy; without one it stays as it is.
        const QFileInfo info(filePath());
        if (!keepUnreadableFile(filePath()) && info.isFile() && info.size() > 0) {
            filenotice::saveFailed(filePath(), QStringLiteral("no copy of the unread file could be kept"));
            return;
        }
        m_keepBeforeWrite = false;
    }
    // Written aside and renamed, so a failed write leaves the old colours in place.
    SaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush() || !file.commit())
        filenotice::saveFailed(filePath(), file.errorString());
}

std::unique_ptr<QColor> Palette::selectColor(int k)
{
    if (k < 0 || k >= m_colors.size() || k >= m_buttons.size())
        return nullptr;
    m_pressTimer->start();
    ++m_pressCount;
    if (m_pressCount == 2) {
        m_pressCount = 0;
        // An unplug inside the dialog's event loop deletes the colour page, and the palette with it.
        const QPointer<Palette> alive(this);
        const QColor chosen = colorchooser::getColor(QColor(m_colors.at(k).name()), this,
                                                     QStringLiteral("Select Color"), QColorDialog::ShowAlphaChannel);
        if (!alive)
            return nullptr;
        if (chosen.isValid()) {
            m_colors[k] = QColor(chosen.name());
            m_currentColor = std::make_unique<QColor>(chosen.name());
            writeJson();
            return std::make_unique<QColor>(chosen);
        }
    }
    // Through the name: the armed colour is opaque whatever the slot holds.
    m_currentColor = std::make_unique<QColor>(m_colors.at(k).name());
    return std::make_unique<QColor>(*m_currentColor);
}
