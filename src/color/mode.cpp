#include "color/mode.h"

#include "color/parameter.h"
#include "color/pushbutton.h"
#include "setting/Language.h"

#include <QDebug>
#include <QFont>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace {

constexpr int ButtonWidth = 35;
constexpr int ButtonHeight = 30;
constexpr int ButtonGap = 11;
constexpr int FirstX = 17;
constexpr int FirstY = 73;
constexpr int RowBreakAfter = 15;

} // namespace

void Ui_Mode::setupUi(QWidget* mode)
{
    if (mode->objectName().isEmpty())
        mode->setObjectName(QStringLiteral("Mode"));
    mode->resize(792, 186);
    horizontalLayout = new QHBoxLayout(mode);
    horizontalSpacer = new QSpacerItem(20, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    verticalLayout = new QVBoxLayout();
    groupBoxCustom = new QGroupBox(mode);
    groupBoxCustom->setObjectName(QStringLiteral("groupBoxCustom"));
    groupBoxCustom->setMinimumSize(760, 160);
    groupBoxCustom->setMaximumSize(760, 160);
    QFont font(QStringLiteral("Consolas"), 11);
    font.setBold(true);
    font.setWeight(75);
    groupBoxCustom->setFont(font);
    groupBoxCustom->setStyleSheet(QStringLiteral(
        "QGroupBox{ color: rgb(75, 75, 75); background-color: transparent; border: 1px solid #afafaf; "
        "margin-top: 9px; border-radius: 5px; }"
        "QGroupBox::title{ subcontrol-origin: margin; subcontrol-position: top center; padding: 0 9px; }"));
    verticalLayout->addWidget(groupBoxCustom);
    verticalSpacer = new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
    verticalLayout->addItem(verticalSpacer);
    horizontalLayout->addLayout(verticalLayout);
    horizontalSpacer_2 = new QSpacerItem(3, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer_2);
    mode->setWindowTitle(QStringLiteral("Form"));
    groupBoxCustom->setTitle(QStringLiteral("LED MODEL"));
}

Mode::Mode(QWidget* parent, Device* device) : QWidget(parent), ui(new Ui_Mode), m_device(device)
{
    ui->setupUi(this);
    QFont font(QStringLiteral("consolas"), 11);
    font.setWeight(75);
    ui->groupBoxCustom->setFont(font);
    createButtons();
    setLanguage(currentLanguageType());
}

Mode::~Mode()
{
    qDeleteAll(m_buttons);
    m_buttons.clear();
    delete ui;
    ui = nullptr;
    // A dialog never outlives its picker: the close slot clears the reference and defers the
    // deletion, which is done here at once since the picker is going now.
    const QPointer<Parameter> dialog = m_parameter;
    if (dialog)
        dialog->requestClose();
    delete dialog.data();
    m_parameter = nullptr;
}

QGroupBox* Mode::groupBox() const
{
    return ui ? ui->groupBoxCustom : nullptr;
}

void Mode::createButtons()
{
    for (int i = 0; i < SlotCount; ++i) {
        auto* button = new PushButton(ui->groupBoxCustom, i);
        button->resize(ButtonWidth, ButtonHeight);
        m_buttons.append(button);
    }
    int x = FirstX;
    int y = FirstY;
    for (PushButton* button : qAsConst(m_buttons)) {
        button->move(x, y);
        if (button->index() == RowBreakAfter) {
            x = FirstX;
            y += button->height() + ButtonGap;
        } else {
            x += button->width() + ButtonGap;
        }
    }
    for (PushButton* button : qAsConst(m_buttons)) {
        m_qss.setWarnButtonStyle(button, false);
        button->setFont(QFont(QStringLiteral("consolas"), 10));
        button->setText(QStringLiteral("M") + QString::number(button->index()));
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QPushButton::pressed, this, &Mode::buttonPressed);
        connect(button, &PushButton::doubleClicked, this, &Mode::buttonDoubleClicked);
        button->show();
    }
}

void Mode::setLanguage(int language)
{
    ui->groupBoxCustom->setTitle(language == 0 ? QStringLiteral("LED 模式") : QStringLiteral("LED MODEL"));
}

void Mode::clearSelection()
{
    for (PushButton* button : qAsConst(m_buttons))
        m_qss.setWarnButtonStyle(button, false);
    m_currentIndex = -1;
    unsetCursor();
}

void Mode::buttonPressed()
{
    auto* pressed = qobject_cast<PushButton*>(sender());
    for (PushButton* button : qAsConst(m_buttons)) {
        if (button == pressed) {
            m_qss.setWarnButtonStyle(button, true);
            // Before the cursor signal: the page's answer unsets the picture's cursor first.
            emit emitButtonPressed();
        } else {
            m_qss.setWarnButtonStyle(button, false);
        }
    }
    m_currentIndex = m_buttons.indexOf(pressed);
    qDebug() << "set mode =" << m_currentIndex;
    emit emitCursorMode(m_currentIndex);
}

void Mode::buttonDoubleClicked(PushButton* button)
{
    if (!button)
        return;
    if (m_parameter) {
        qDebug() << "parameter is not NULL.";
        return;
    }
    qDebug() << "mode double clicked show mode configuration dialog." << button->index();
    m_parameter = new Parameter(nullptr, m_device, button->index());
    connect(m_parameter.data(), &Parameter::emitClose, this, &Mode::parameterCloseSlot);
    m_parameter->show();
}

void Mode::parameterCloseSlot()
{
    // Only the dialog held now; the reference goes first so the closing runs once. The dialog is
    // still inside its own button's signal, so it goes when the event loop is back.
    Parameter* dialog = qobject_cast<Parameter*>(sender());
    if (!dialog || dialog != m_parameter.data())
        return;
    m_parameter = nullptr;
    disconnect(dialog, nullptr, this, nullptr);
    dialog->close();
    dialog->deleteLater();
}
