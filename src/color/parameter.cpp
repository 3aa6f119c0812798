#include "parameter.h"

#include "device/device.h"
#include "setting/Language.h"
#include "widget/combobox.h"
#include "widget/framepainter.h"
#include "widget/inputnotice.h"
#include "widget/widgetsetup.h"
#include "widget/writefailurenotice.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QDebug>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSignalBlocker>
#include <utility>

namespace {

const int Width = 1000;
const int Height = 475;
const int PointSize = 11;
const QColor FieldBorder(125, 125, 125);
const QColor Greyed(155, 155, 155);

// Shared by every dialog of the process: a rejected entry returns to the text last accepted anywhere.
QString s_totalPeriodText;
QString s_highestDelayText;
QString s_periodDelayText;

const char* onOff(bool on)
{
    return on ? "true" : "false";
}

} // namespace

Parameter::Parameter(QWidget* parent, Device* device, int slot) : QDialog(parent), m_device(device), m_slot(slot)
{
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setModal(true);
    setFixedSize(Width, Height);
    // Centred on the default screen and 30 px lower; the screen's origin is not added.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        move(s.width() / 2 - Width / 2, s.height() / 2 - Height / 2 + 30);
    }
    // Emitted first, before any receiver closes the dialog.
    connect(this, &Parameter::emitClose, this, [this] { m_closeRequested = true; });

    m_title.setParent(this);
    m_qss.setLabelStyle(&m_title, QColor(QStringLiteral("#fff")), PointSize, 50);
    m_title.setText(QStringLiteral("LED Mode ") + QString::number(slot));
    m_title.adjustSize();
    m_title.move(20, 16);
    m_closeButton.setParent(this);
    m_closeButton.resize(25, 25);
    m_closeButton.move(963, 12);
    m_qss.setImageButtonStyle(&m_closeButton, QStringLiteral("close.svg"), QStringLiteral("close-hover.svg"),
                              QString(), QString(), false);
    connect(&m_closeButton, &QPushButton::pressed, this, &Parameter::emitClose);

    initComboBoxData(QStringLiteral("modeParameter.xml"));

    const la_t* r = record(device);
    if (!r) {
        qDebug() << "mode parameter: no lighting action record for slot" << slot << "records"
                 << (device ? int(device->m_nLATotalNum) : 0) << "table" << (device ? int(device->m_pLAs.size()) : 0);
    }
    placeLabel(&m_effectLabel, 100, 22, 70, 60, Qt::AlignLeft | Qt::AlignVCenter);
    m_effectList = new ComboBox(this, PointSize, true);
    m_effectList->setFixedSize(160, 22);
    m_effectList->move(175, 60);
    for (const ModeParameter& m : qAsConst(m_modes))
        m_effectList->addItem(m.text);
    // Selected before the change is connected: opening applies no effect defaults.
    if (r)
        m_effectList->setCurrentIndex(r->effect());
    m_effectList->show();
    connect(m_effectList, qOverload<int>(&QComboBox::currentIndexChanged), this, &Parameter::comboboxChangedMode);

    const auto checkBox = [this](QCheckBox* box, int width, int y, int pointSize) {
        box->setParent(this);
        box->resize(width, 22);
        box->move(70, y);
        m_qss.setCheckBoxStyle(box, QStringLiteral("color"), QStringLiteral("checked.svg"), pointSize, FieldBorder,
                               m_textColour);
    };
    checkBox(&m_cycleFlag, 120, 103, 10);
    connect(&m_cycleFlag, &QCheckBox::toggled, this, &Parameter::cycleFlagChange);
    placeLabel(&m_totalPeriodLabel, 153, 22, 215, 103, Qt::AlignLeft | Qt::AlignVCenter);
    m_totalPeriod.setParent(this);
    m_totalPeriod.resize(60, 22);
    m_totalPeriod.move(378, 103);
    m_totalPeriod.setAlignment(Qt::AlignCenter);
    setLineEditDigits(&m_totalPeriod, 5, true);
    m_totalPeriod.setText(QStringLiteral("1"));
    placeLabel(&m_totalPeriodRange, 100, 22, 447, 103, Qt::AlignLeft | Qt::AlignVCenter);
    m_totalPeriodRange.setText(QStringLiteral("[1,1000]"));
    setTotalPeriodEnabled(true);
    connect(&m_totalPeriod, &QLineEdit::textChanged, this, &Parameter::totalPeriosTimesEditChanged);
    checkBox(&m_colorRandom, 150, 140, PointSize);
    connect(&m_colorRandom, &QCheckBox::toggled, this, &Parameter::colorRandomChange);
    checkBox(&m_keypressRandom, 340, 177, PointSize);
    connect(&m_keypressRandom, &QCheckBox::toggled, this, &Parameter::randomColorThenKeypressChange);

    m_levelFrame.setParent(this);
    m_levelFrame.resize(600, 180);
    m_levelFrame.move(200, 229);
    m_levelFrame.setStyleSheet(QStringLiteral(
        "QFrame{ border-radius: 5px; background-color: rgb(255, 255, 255); border: 1px solid rgb(175, 175, 175); }"));
    m_levelFrame.lower();
    placeLabel(&m_levelTitle, 170, 22, 220, 218, Qt::AlignCenter);
    m_levelTitle.setStyleSheet(m_levelTitle.styleSheet()
                               + QStringLiteral("QLabel{ background-color: rgb(255, 255, 255); }"));
    m_levelTitle.raise();

    buildLevel(m_highest, 230, 254, 140, 63, 63);
    connect(&m_highest.slider, &CSlider::sliderValueChanged, this, &Parameter::sliderReleasedHLChangedSlot);
    buildLevel(m_lowest, 230, 291, 140, 63, 0);
    connect(&m_lowest.slider, &CSlider::sliderValueChanged, this, &Parameter::sliderReleasedLLChangedSlot);
    buildLevel(m_step, 500, 254, 140, 63, 1);
    connect(&m_step.slider, &CSlider::sliderValueChanged, this, &Parameter::sliderReleasedLSChangedSlot);
    buildLevel(m_stepDelay, 500, 291, 155, 1000, 20);
    connect(&m_stepDelay.slider, &CSlider::sliderValueChanged, this, &Parameter::sliderReleasedLDChangedSlot);

    buildDelay(&m_periodDelayLabel, &m_periodDelay, &m_periodDelayUnit, 230, 328, 25);
    buildDelay(&m_highestDelayLabel, &m_highestDelay, &m_highestDelayUnit, 500, 328, 22);

    placeLabel(&m_directionLabel, 190, 22, 230, 365, Qt::AlignLeft | Qt::AlignVCenter);
    int x = 440;
    for (QRadioButton* b : {&m_l2h, &m_h2l}) {
        b->setParent(this);
        b->resize(80, 22);
        b->move(x, 365);
        b->setFont(QFont(QStringLiteral("Consolas"), PointSize));
        b->setStyleSheet(QStringLiteral("color: ") + m_textColour.name());
        x += 90;
    }

    x = 505;
    for (QPushButton* b : {&m_apply, &m_cancel}) {
        b->setParent(this);
        b->resize(65, 27);
        b->move(x, 424);
        m_qss2.setOutlineButtonStyle(b, 10, m_textColour);
        x += 85;
    }
    connect(&m_apply, &QPushButton::pressed, this, &Parameter::confirmButtonPressed);
    connect(&m_cancel, &QPushButton::pressed, &m_closeButton, &QPushButton::pressed);
    m_apply.setEnabled(r != nullptr);

    if (r)
        loadLAItem(device);
    // Connected after loading: a loaded delay is taken as it is.
    connect(&m_highestDelay, &QLineEdit::textChanged, this, &Parameter::highestDelayEidtTextChanged);
    connect(&m_periodDelay, &QLineEdit::textChanged, this, &Parameter::periodDelayEidtTextChanged);

    nameControls();
    if (g_language)
        connect(g_language, &Language::LanguageChange, this, &Parameter::SetLanguage);
    SetLanguage(currentLanguageType());
}

void Parameter::nameControls()
{
    const std::pair<QWidget*, const char*> names[] = {
        {&m_title, "title"}, {&m_closeButton, "close"}, {&m_effectLabel, "effectLabel"},
        {m_effectList, "effectList"}, {&m_cycleFlag, "cycleFlag"}, {&m_totalPeriodLabel, "totalPeriodLabel"},
        {&m_totalPeriod, "totalPeriod"}, {&m_totalPeriodRange, "totalPeriodRange"},
        {&m_colorRandom, "colorRandom"}, {&m_keypressRandom, "keypressRandom"}, {&m_levelFrame, "levelFrame"},
        {&m_levelTitle, "levelTitle"}, {&m_highest.label, "highestLevelLabel"}, {&m_highest.slider, "highestLevel"},
        {&m_lowest.label, "lowestLevelLabel"}, {&m_lowest.slider, "lowestLevel"}, {&m_step.label, "levelStepLabel"},
        {&m_step.slider, "levelStep"}, {&m_stepDelay.label, "stepDelayLabel"}, {&m_stepDelay.slider, "stepDelay"},
        {&m_periodDelayLabel, "periodDelayLabel"}, {&m_periodDelay, "periodDelay"},
        {&m_highestDelayLabel, "highestDelayLabel"}, {&m_highestDelay, "highestDelay"},
        {&m_directionLabel, "directionLabel"}, {&m_l2h, "l2h"}, {&m_h2l, "h2l"}, {&m_apply, "apply"},
        {&m_cancel, "cancel"}};
    for (const auto& n : names)
        n.first->setObjectName(QLatin1String(n.second));
}

Parameter::~Parameter()
{
    m_effectList->disconnect(this);
    delete m_effectList;
}

void Parameter::forgetAcceptedTexts()
{
    s_totalPeriodText.clear();
    s_highestDelayText.clear();
    s_periodDelayText.clear();
}

la_t* Parameter::record(Device* device) const
{
    if (!device || m_slot < 0 || m_slot >= device->m_nLATotalNum || size_t(m_slot) >= device->m_pLAs.size())
        return nullptr;
    return &device->m_pLAs[size_t(m_slot)];
}

void Parameter::placeLabel(QLabel* label, int width, int height, int x, int y, Qt::Alignment alignment)
{
    placeTextLabel(&m_qss, this, label, width, height, x, y, label->text(), PointSize, m_textColour);
    label->setAlignment(alignment);
}

void Parameter::buildLevel(Level& level, int x, int y, int sliderWidth, int maximum, int value)
{
    placeLabel(&level.label, 105, 22, x, y, Qt::AlignRight | Qt::AlignVCenter);
    CSlider& s = level.slider;
    // Parented here, not at construction: a slider takes its parent's minimum width.
    s.setParent(this);
    s.setDirection(QBoxLayout::LeftToRight);
    s.setShowValue(true);
    s.setFont(QFont(QStringLiteral("Consolas"), PointSize));
    m_qss.setTextLabelStyle2(s.valueLabel(), PointSize, 50, m_textColour);
    s.boxLayout()->setSpacing(10);
    setLevelRange(level, 0, maximum);
    level.value = value;
    s.setValue(value);
    s.resize(sliderWidth, 22);
    s.move(x + 115, y);
    s.show();
}

void Parameter::buildDelay(QLabel* label, QLineEdit* edit, QLabel* unit, int x, int y, int unitSize)
{
    placeLabel(label, 105, 22, x, y, Qt::AlignRight | Qt::AlignVCenter);
    edit->setParent(this);
    edit->resize(60, 22);
    edit->move(x + 115, y);
    edit->setAlignment(Qt::AlignCenter);
    m_qss.setLineEditStyle(edit, true, PointSize, false, m_textColour, FieldBorder);
    setLineEditDigits(edit, 5, true);
    unit->setText(QStringLiteral("ms"));
    placeLabel(unit, unitSize, unitSize, x + 185, y, Qt::AlignLeft | Qt::AlignVCenter);
}

void Parameter::setLevelRange(Level& level, int minimum, int maximum)
{
    level.minimum = minimum;
    level.maximum = maximum;
    level.slider.setMaximum(maximum);
    level.slider.setMinimum(minimum);
}

void Parameter::requestClose()
{
    emit m_closeButton.pressed();
}

int Parameter::initComboBoxData(const QString& fileName)
{
    const QString path = m_qss.appDir() + QStringLiteral("/config/") + fileName;
    const int result = readModeParameters(path, &m_modes);
    // The effect list is empty, or some of its defaults are 0: the user hears which file did not read
    // and what that means, once a run, as the dialog reads it again at every opening.
    if (result != 0)
        inputnotice::effectsUnreadable(path, result > 0);
    return result;
}

void Parameter::loadLAItem(Device* device)
{
    if (!record(device))
        return;
    const la_t r = *record(device); // the slots below must not see the entry change under them
    {
        const QSignalBlocker quiet(m_effectList); // showing a record applies no effect defaults
        m_effectList->setCurrentIndex(r.effect());
    }
    m_cycleFlag.setChecked(r.cycle());
    if (!r.cycle())
        m_totalPeriod.setText(QString::number(r.totalPeriod()));
    m_colorRandom.setChecked(r.colorRandom());
    m_keypressRandom.setChecked(r.keypressRandom());
    sliderReleasedHLChangedSlot(r.highestLevel());
    sliderReleasedLLChangedSlot(r.lowestLevel());
    sliderReleasedLSChangedSlot(r.levelStep());
    m_stepDelay.slider.setValue(r.stepDelay());
    (r.direction() ? m_h2l : m_l2h).setChecked(true);
    m_highestDelay.setText(QString::number(r.highestDelay()));
    m_periodDelay.setText(QString::number(r.periodDelay()));
}

void Parameter::applyModeDefaults(int index)
{
    for (const ModeParameter& m : qAsConst(m_modes)) {
        if (m.mode != index)
            continue;
        m_cycleFlag.setChecked(m.CF);
        m_totalPeriod.setText(QString::number(m.TPT));
        m_colorRandom.setChecked(m.CR);
        m_keypressRandom.setChecked(m.RCWK);
        sliderReleasedHLChangedSlot(m.HL);
        sliderReleasedLLChangedSlot(m.LL);
        sliderReleasedLSChangedSlot(m.LS);
        m_stepDelay.slider.setValue(m.LD);
        (m.BD != 0 ? m_h2l : m_l2h).setChecked(true);
        m_highestDelay.setText(QString::number(m.HDY));
        m_periodDelay.setText(QString::number(m.PDY));
        return;
    }
}

void Parameter::downloadData()
{
    la_t* r = record(m_device);
    if (!r) {
        qDebug() << "mode parameter: nothing applied, no lighting action record for slot" << m_slot;
        return;
    }
    qDebug().noquote() << QStringLiteral("------------------DOWNLOAD DATA: LED Mode M") + QString::number(m_slot)
                              + QStringLiteral("-------------------.");
    qDebug() << "id= " << r->slot();
    qDebug() << "combobox index  =" << m_effectList->currentIndex();
    qDebug() << "cycle flag : " << onOff(m_cycleFlag.isChecked());

    const la_t before = *r;
    r->setSlot(m_slot);
    r->setEffect(m_effectList->currentIndex()); // no selection (-1) stores 15
    r->setCycle(m_cycleFlag.isChecked());
    r->setColorRandom(m_colorRandom.isChecked());
    r->setKeypressRandom(m_keypressRandom.isChecked());
    r->setDirection(m_l2h.isChecked() ? 0 : 1);
    r->setHighestLevel(m_highest.slider.value());
    r->setLowestLevel(m_lowest.slider.value());
    r->setLevelStep(m_step.slider.value());
    r->setTotalPeriod(m_totalPeriod.text().toInt());
    r->setStepDelay(m_stepDelay.slider.value());
    r->setHighestDelay(int(m_highestDelay.text().toUInt()));
    r->setPeriodDelay(int(m_periodDelay.text().toUInt()));
    const uint32_t code = m_device->setLAItem(r);
    if (code != 0) {
        // The table keeps what the keyboard holds; the controls keep the user's values for another try.
        *r = before;
        qDebug("mode parameter: slot %d not applied, error code = %x", m_slot, code);
        writefailurenotice::lightingSlotNotTaken(m_slot);
    }

    if (!m_cycleFlag.isChecked())
        qDebug() << "Total Period Times = " << m_totalPeriod.text().toInt();
    qDebug() << "Color Random : " << onOff(m_colorRandom.isChecked());
    qDebug() << "Random Color when keypress : " << onOff(m_keypressRandom.isChecked());
    qDebug() << "Highest Level = " << m_highest.slider.value();
    qDebug() << "Lowest Level  = " << m_lowest.slider.value();
    qDebug() << "Level Step    = " << m_step.slider.value();
    qDebug() << "Level Delay   = " << m_stepDelay.slider.value();
    qDebug().nospace() << "Brightness Direction: L2H = " << m_l2h.isChecked() << ", H2L = " << m_h2l.isChecked();
    qDebug() << "Highest Delay = " << m_highestDelay.text().toUInt();
    qDebug() << "Perlod Delay  = " << m_periodDelay.text().toUInt();
}

void Parameter::setTotalPeriodEnabled(bool enabled)
{
    const QColor colour = enabled ? m_textColour : Greyed;
    m_totalPeriod.setEnabled(enabled);
    m_totalPeriodLabel.setEnabled(enabled);
    m_qss.setTextLabelStyle2(&m_totalPeriodLabel, PointSize, 50, colour);
    m_qss.setTextLabelStyle2(&m_totalPeriodRange, PointSize, 50, colour);
    m_qss.setLineEditStyle(&m_totalPeriod, true, PointSize, false, colour, enabled ? FieldBorder : Greyed);
}

void Parameter::updateLevelStepRange()
{
    setLevelRange(m_step, 0, qMax(0, m_highest.value - m_lowest.value));
}

void Parameter::cycleFlagChange(bool checked)
{
    qDebug() << "cycle flag change status = " << onOff(checked);
    setTotalPeriodEnabled(!checked);
}

void Parameter::totalPeriosTimesEditChanged(QString text)
{
    const int v = text.toInt();
    if (v < 1 || v > 1000) {
        m_totalPeriod.setText(s_totalPeriodText);
        return;
    }
    qDebug() << "total perios timer = " << v;
    s_totalPeriodText = text;
}

void Parameter::colorRandomChange(bool checked)
{
    qDebug() << "color random change = " << onOff(checked);
}

void Parameter::randomColorThenKeypressChange(bool checked)
{
    qDebug() << "random color then keypress = " << onOff(checked);
}

void Parameter::comboboxChangedMode(int index)
{
    qDebug() << "comboBox mode is " << index;
    applyModeDefaults(index);
}

void Parameter::highestDelayEidtTextChanged(QString text)
{
    const uint v = text.toUInt();
    if (v > 65535) {
        m_highestDelay.setText(s_highestDelayText);
        return;
    }
    qDebug() << "highest delay times = " << v;
    s_highestDelayText = text;
}

void Parameter::periodDelayEidtTextChanged(QString text)
{
    const uint v = text.toUInt();
    if (v > 65535) {
        m_periodDelay.setText(s_periodDelayText);
        return;
    }
    qDebug() << "period delay times = " << v;
    s_periodDelayText = text;
}

void Parameter::confirmButtonPressed()
{
    downloadData();
}

void Parameter::sliderReleasedHLChangedSlot(int value)
{
    if (value < m_highest.minimum || value > m_highest.maximum) {
        m_highest.slider.setValue(m_highest.value);
        return;
    }
    m_highest.value = value;
    setLevelRange(m_lowest, 0, value);
    if (m_highest.slider.value() != value)
        m_highest.slider.setValue(value);
    updateLevelStepRange();
}

void Parameter::sliderReleasedLLChangedSlot(int value)
{
    if (value < m_lowest.minimum || value > m_lowest.maximum) {
        m_lowest.slider.setValue(m_lowest.value);
        return;
    }
    m_lowest.value = value;
    setLevelRange(m_highest, value, 63);
    if (m_lowest.slider.value() != value)
        m_lowest.slider.setValue(value);
    updateLevelStepRange();
}

void Parameter::sliderReleasedLSChangedSlot(int value)
{
    if (value < m_step.minimum || value > m_step.maximum) {
        m_step.slider.setValue(m_step.value);
        return;
    }
    m_step.value = value;
    if (m_step.slider.value() != value)
        m_step.slider.setValue(value);
}

void Parameter::sliderReleasedLDChangedSlot(int value)
{
    if (value < m_stepDelay.minimum || value > m_stepDelay.maximum) {
        m_stepDelay.slider.setValue(m_stepDelay.value);
        return;
    }
    m_stepDelay.value = value;
    if (m_stepDelay.slider.value() != value)
        m_stepDelay.slider.setValue(value);
}

void Parameter::SetLanguage(int language)
{
    const bool zh = language == 0;
    const auto pick = [zh](const char* english, const QString& chinese) {
        return zh ? chinese : QString::fromLatin1(english);
    };
    m_effectLabel.setText(pick("LED Action", QStringLiteral("LED 功能")));
    m_cycleFlag.setText(pick("Cycle Flag", QStringLiteral("循环")));
    m_totalPeriodLabel.setText(pick("Total Period Timers", QStringLiteral("           周期次数")));
    m_colorRandom.setText(pick("Color Random", QStringLiteral("颜色随机")));
    m_keypressRandom.setText(pick("Random color when keypress", QStringLiteral("按键颜色随机")));
    m_levelTitle.setText(pick("LED Level Parameter", QStringLiteral("LED 参数")));
    m_levelTitle.resize(zh ? 80 : 170, 22);
    m_highest.label.setText(pick("Highest Level", QStringLiteral("最高亮度")));
    m_lowest.label.setText(pick("Lowest Level", QStringLiteral("最低亮度")));
    m_step.label.setText(pick("Level Step", QStringLiteral("渐变间隔")));
    m_stepDelay.label.setText(pick("Step Delay", QStringLiteral("间隔延时")));
    m_periodDelayLabel.setText(pick("Period Delay", QStringLiteral("周期延时")));
    m_highestDelayLabel.setText(pick("Highest Delay", QStringLiteral("最高延时")));
    m_directionLabel.setText(pick("Brightness Direction", QStringLiteral("     亮度方向")));
    m_l2h.setText(pick("L2H", QStringLiteral("低到高")));
    m_h2l.setText(pick("H2L", QStringLiteral("高到低")));
    m_apply.setText(pick("Apply", QStringLiteral("应用")));
    m_cancel.setText(pick("Cancel", QStringLiteral("取消")));
}

void Parameter::reject()
{
    // Escape and the window system's close go Cancel's way: the owner closes and deletes the dialog.
    // Once it was asked, a close only hides, so closing never asks twice.
    if (!m_closeRequested)
        requestClose();
    else
        QDialog::reject();
}

void Parameter::closeEvent(QCloseEvent* e)
{
    // A close from the program (the owner's, or anyone's) ends the dialog without asking the owner.
    if (!e->spontaneous())
        m_closeRequested = true;
    QDialog::closeEvent(e);
}

void Parameter::mousePressEvent(QMouseEvent* e)
{
    if (qRound(e->localPos().y()) > m_titleRect.height())
        return;
    m_dragOffset = e->globalPos() - pos();
    m_dragging = true;
}

void Parameter::mouseReleaseEvent(QMouseEvent*)
{
    m_dragging = false;
}

void Parameter::mouseMoveEvent(QMouseEvent* e)
{
    if (m_dragging)
        move(QPoint(qRound(e->screenPos().x()), qRound(e->screenPos().y())) - m_dragOffset);
}

void Parameter::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    m_titleRect = paintFrame(p, size()); // the dialogs' frame: a 40-px band, body down to 5 px above the bottom
}
