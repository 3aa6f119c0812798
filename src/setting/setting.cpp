#include "setting.h"

#include "Language.h"
#include "buildingblock.h"
#include "device/checkusb.h"
#include "device/device.h"
#include "firmware.h"
#include "schedule.h"
#include "ui_setting.h"
#include "widget/plaintext.h"
#include "widget/roundrect.h"

#include <QDebug>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRegExp>
#include <QRegExpValidator>
#include <QSlider>
#include <QVBoxLayout>
#include <cmath>

namespace {

// The keyboard's USB bootloader, watched when upgrade mode is entered without ids.
constexpr uint16_t BootloaderVid = 0x0416;
constexpr uint16_t BootloaderPid = 0xA316;

constexpr int ProductHeight = 210;
constexpr int SettingHeight = 160;
constexpr int UpdateHeight = 150;
constexpr int FrameGap = 5;
// Upgrade mode: the update frame drops this far under the hidden product frame, the overlay sits at
// OverlayY and the ring over its left part.
constexpr int UpgradeUpdateGap = 195;
constexpr int OverlayY = 70;
const QPoint RingPos(148, 84);

constexpr int SleepMinimumMinutes = 1;
constexpr int SleepMaximumMinutes = 180;
constexpr int MsPerMinute = 60000;
constexpr int BtNameMaxLength = 12;

const QString None = QStringLiteral("None");

// The frame at width x height, whatever minimum the form gave it: the page's own heights win.
void fitFrame(QFrame* frame, int width, int height)
{
    if (frame->minimumHeight() > height)
        frame->setMinimumHeight(height);
    frame->resize(width, height);
}

// Whole minutes of a time in milliseconds as the slider can show them; 0 stays 0 (sleep off).
int sleepSliderMinutes(uint32_t ms)
{
    const uint32_t minutes = ms / MsPerMinute;
    if (minutes == 0)
        return 0;
    return int(qBound<uint32_t>(SleepMinimumMinutes, minutes, SleepMaximumMinutes));
}

} // namespace

Setting::Setting(QWidget* parent, Device* device, bool showBuildingBlock)
    : QWidget(parent)
    , m_ptrDevice(device)
    , ui(new Ui_Setting)
{
    ui->setupUi(this);
    m_appDir = appDirPath();

    setDownloadButtonEnabled(true);

    QLineEdit* name = ui->QLineEdit_BluetoothName;
    name->setMaxLength(BtNameMaxLength);
    name->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_qss.setLineEditStyle(name, true, 13, false, QColor(0x28, 0x28, 0x28), QColor(125, 125, 125));
    // The keyboard cannot show CJK ideographs in its Bluetooth name.
    name->setValidator(new QRegExpValidator(QRegExp(QStringLiteral("[^一-龥]+$"), Qt::CaseSensitive), name));

    connect(ui->Button_BluetoothName, &QPushButton::clicked, this, &Setting::BluetoothNameSlot);

    dfuModeSlot();
    setStyleSheet(QStringLiteral("color: rgb(70, 70, 70)"));

    createSleepSlider(13);
    setFonts();

    if (showBuildingBlock) {
        m_qss.setImageButtonStyle(ui->buildingBlockButton, QStringLiteral("cell.svg"), QStringLiteral("cell-hover.svg"),
                                  QStringLiteral("setting"), QString(), false);
        connect(ui->buildingBlockButton, &QPushButton::pressed, this, &Setting::buildingBlockButtonToggledSlot);
        ui->buildingBlockButton->show();
    } else {
        ui->buildingBlockButton->hide();
    }

    clearInformation();

    if (g_language)
        connect(g_language, &Language::LanguageChange, this, &Setting::retranslate);
    retranslate(currentLanguageType());
}

Setting::~Setting()
{
    // A poller left running would signal into a deleted page.
    deleteCheckUSB();
    if (m_overlayLabel)
        deleteBackgroundImage();
    // The panel takes its ring with it, wherever the ring is shown.
    delete m_firmware;
    m_firmware = nullptr;
    buildingBlockCloseSlot();
    delete ui;
}

void Setting::createSleepSlider(int pointSize)
{
    auto* slider = new CSlider(ui->widget_AutoSleep);
    slider->setFont(QFont(QStringLiteral("Consolas"), pointSize));
    slider->setMinimum(SleepMinimumMinutes);
    slider->setMaximum(SleepMaximumMinutes);
    slider->setWheelEnabled(false);
    slider->slider()->setCursor(Qt::SizeHorCursor);
    slider->setShowValue(true);
    slider->setUnit(QStringLiteral(" 分钟"));

    auto* box = new QVBoxLayout(ui->widget_AutoSleep);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(slider);
    slider->setMinimumWidth(ui->widget_AutoSleep->width());

    slider->setSliderEnabled(false);
    ui->checkBox_Enabled_AutoSleep->setEnabled(false);

    connect(slider, &CSlider::sliderReleased, this, &Setting::sliderReleasedSlot);
    connect(ui->checkBox_Enabled_AutoSleep, &QCheckBox::clicked, this, &Setting::Enabled_AutoSleepSlot);
    m_sleepSlider = slider;
}

void Setting::setFonts()
{
    const QFont thin(QStringLiteral("Consolas"), 12, 0);
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui->label, ui->label_2, ui->label_3, ui->label_4, ui->labelPN, ui->labelFV, ui->labelHV, ui->labelCD,
             ui->label_BluetoothName, ui->label_SleepTime, ui->checkBox_Enabled_AutoSleep})
        w->setFont(thin);
    const QFont title(QStringLiteral("Consolas"), 16, 50);
    ui->label_ProductInformation->setFont(title);
    ui->label_Setting->setFont(title);
}

void Setting::retranslate(int language)
{
    const bool zh = language == 0;
    const auto text = [zh](const char* chinese, const char* english) {
        return zh ? QString::fromUtf8(chinese) : QString::fromUtf8(english);
    };
    ui->label_ProductInformation->setText(text("产品信息", "Product information"));
    ui->label->setText(text("        产品名称:", "Product Name:"));
    ui->label_2->setText(text("        固件版本:", "Firmware Version:"));
    ui->label_3->setText(text("        硬件版本:", "Hardware Version:"));
    ui->label_4->setText(text("        发布日期:", "Release Date:"));
    ui->label_Setting->setText(text("设置", "Setting"));
    ui->label_BluetoothName->setText(text("        蓝牙名称:", "Bluetooth Name:"));
    ui->label_SleepTime->setText(text("        休眠时间:", "Sleep Time:"));
    ui->checkBox_Enabled_AutoSleep->setText(text("开启", "Enabled"));
    if (m_sleepSlider)
        m_sleepSlider->setUnit(text(" 分钟", " Minute"));
    ui->Button_BluetoothName->setToolTip(text("设置蓝牙名称", "Set Bluetooth Name"));
}

void Setting::setDownloadButtonEnabled(bool on)
{
    ui->Button_BluetoothName->setEnabled(on);
    if (on)
        m_qss.setImageButtonStyle(ui->Button_BluetoothName, QStringLiteral("download.svg"),
                                  QStringLiteral("download-hover.svg"), QStringLiteral("setting"), QString(), false);
    else
        m_qss.setImageButtonStyle(ui->Button_BluetoothName, QStringLiteral("download-ban.svg"), QString(),
                                  QStringLiteral("setting"), QString(), false);
}

void Setting::dfuModeSlot()
{
    if (m_firmware)
        return;
    m_firmware = new Firmware(ui->frameUpdate, QString());
    connect(m_firmware, &Firmware::emitUpdateSure, this, &Setting::updateSureSlot);
    connect(this, &Setting::emitWaitDfuOpen, m_firmware, &Firmware::waitDfuOpenSlot);
    m_firmware->show();
    m_firmware->setButtonsEnabled(false);
    qDebug() << __LINE__ << "create UI update the firmware.";
}

void Setting::setPageSize(int width, int /*height*/)
{
    fitFrame(ui->frameProduct, width, ProductHeight);
    fitFrame(ui->frameSetting, width, SettingHeight);
    fitFrame(ui->frameUpdate, width, UpdateHeight);

    const QRect product(this->width() / 2 - width / 2, FrameGap, width, ui->frameProduct->height());
    ui->frameProduct->move(product.topLeft());
    ui->frameSetting->move(product.x(), product.bottom() + 1 + FrameGap);
    ui->frameUpdate->move(product.x(), ui->frameSetting->geometry().bottom() + 1 + FrameGap);

    if (!m_firmware)
        return;
    m_firmware->createPanel(ui->frameUpdate->width(), ui->frameUpdate->height());
    // On the page itself, so upgrade mode can place the ring over the overlay picture.
    Schedule* ring = m_firmware->schedule();
    if (ring && ring->parentWidget() != this) {
        ring->setParent(this);
        ring->hide();
    }
}

void Setting::setProductInfo(const QString& name, const QString& firmwareVersion, const QString& hardwareVersion,
                             const QString& releaseDate)
{
    // From the keyboard and its family's files: shown as typed.
    for (QLabel* label : {ui->labelPN, ui->labelFV, ui->labelHV, ui->labelCD})
        plaintext::keep(label);
    ui->labelPN->setText(name);
    ui->labelFV->setText(firmwareVersion);
    ui->labelHV->setText(hardwareVersion);
    ui->labelCD->setText(releaseDate);
}

void Setting::setDeviceControlsEnabled(bool on)
{
    setDownloadButtonEnabled(on);
    if (m_firmware)
        m_firmware->setButtonsEnabled(on);
    ui->QLineEdit_BluetoothName->setEnabled(on);
    // Automatic sleep shows as the keyboard last reported it: a sleep time of 0 keeps the box clear
    // and the slider locked.
    const bool sleeping = on && m_sleepMinutes != 0;
    if (m_sleepSlider) {
        m_sleepSlider->setSliderEnabled(sleeping);
        if (sleeping)
            m_sleepSlider->setValue(m_sleepMinutes);
    }
    // Only setSleepTime unlocks the box, once it knows the keyboard's values.
    ui->checkBox_Enabled_AutoSleep->setChecked(sleeping);
    ui->checkBox_Enabled_AutoSleep->setEnabled(false);
    ui->buildingBlockButton->setEnabled(on);
}

void Setting::setBluetoothName(const QString& name)
{
    QString shown = name;
    shown.remove(QChar(0));
    ui->QLineEdit_BluetoothName->setText(shown);
}

void Setting::setSleepTime(uint32_t ms, uint32_t lastMs)
{
    // The keyboard's own values, unsigned: they may lie far beyond what the slider shows.
    qDebug("sleep time the keyboard holds: %u ms, last set %u ms", ms, lastMs);
    m_sleepMinutes = sleepSliderMinutes(ms);
    QCheckBox* box = ui->checkBox_Enabled_AutoSleep;
    if (m_sleepSlider) {
        if (m_sleepMinutes != 0) {
            m_sleepSlider->setSliderEnabled(true);
            m_sleepSlider->setValue(m_sleepMinutes);
        } else {
            // Off: the slider offers the last real value for switching sleep on again.
            m_sleepSlider->setValue(sleepSliderMinutes(lastMs));
            m_sleepSlider->setSliderEnabled(false);
        }
    }
    box->setChecked(m_sleepMinutes != 0);
    box->setEnabled(true);
}

void Setting::clearInformation()
{
    m_sleepMinutes = 0; // the keyboard's values go with it
    setProductInfo(None, None, None, None);
    setDeviceControlsEnabled(false);
    buildingBlockCloseSlot();
}

void Setting::clearDevice()
{
    clearInformation();
    delete m_sleepSlider.data();
}

void Setting::setBuildingBlockButtonVisible(bool visible)
{
    ui->buildingBlockButton->setVisible(visible);
    update();
}

void Setting::sliderReleasedSlot()
{
    if (!m_sleepSlider)
        return;
    m_sleepMinutes = m_sleepSlider->value();
    emit emitSleepTime(m_sleepMinutes);
}

void Setting::Enabled_AutoSleepSlot(bool checked)
{
    if (checked) {
        if (m_sleepSlider)
            m_sleepSlider->setSliderEnabled(true);
        sliderReleasedSlot();
        return;
    }
    if (m_sleepSlider)
        m_sleepSlider->setSliderEnabled(false);
    m_sleepMinutes = 0;
    emit emitSleepTime(0);
}

void Setting::BluetoothNameSlot()
{
    const QString name = ui->QLineEdit_BluetoothName->text();
    if (name.isEmpty()) {
        qDebug() << __LINE__ << "The Bluetooth Name invalid!";
        return;
    }
    emit emitBluetoothName(name);
}

void Setting::buildingBlockButtonToggledSlot()
{
    qDebug() << __LINE__ << "building block button show()";
    if (m_buildingBlock)
        return;
    m_buildingBlock = new BuildingBlock(nullptr, m_ptrDevice.data());
    connect(m_buildingBlock, &BuildingBlock::emitClose, this, &Setting::buildingBlockCloseSlot);
    m_buildingBlock->show();
}

void Setting::buildingBlockCloseSlot()
{
    if (!m_buildingBlock)
        return;
    BuildingBlock* editor = m_buildingBlock;
    m_buildingBlock = nullptr;
    disconnect(editor, nullptr, this, nullptr);
    // Deferred: this runs inside the editor's own signal, or while its file dialog may be open.
    editor->close();
    editor->deleteLater();
}

void Setting::intoUpdate(uint16_t vid, uint16_t pid)
{
    qDebug() << __LINE__ << "into dfu update.....";
    createBackgroundImage();
    m_normalLayout = false;
    if (m_firmware) {
        m_firmware->setButtonsEnabled(true);
        if (Schedule* ring = m_firmware->schedule())
            ring->setLabelReadyUpdate();
    }
    createCheckUSB(vid, pid);
}

void Setting::createCheckUSB(uint16_t vid, uint16_t pid)
{
    if (m_checkUSB)
        return;
    qDebug() << __LINE__ << "Create check usb.";
    if (vid == 0 && pid == 0)
        m_checkUSB = new CheckUSB(BootloaderVid, BootloaderPid);
    else
        m_checkUSB = new CheckUSB(vid, pid);
    connect(m_checkUSB, &CheckUSB::emitDisconnect, this, &Setting::checkUSBDisconnectSlot);
    m_checkUSB->start(CheckUsbIntervalMs);
}

void Setting::deleteCheckUSB()
{
    if (!m_checkUSB)
        return;
    qDebug() << __LINE__ << "Delete check usb.";
    m_checkUSB->stop();
    // The poller touches nothing after emitting, so this may run inside its emitDisconnect().
    delete m_checkUSB;
    m_checkUSB = nullptr;
}

void Setting::createBackgroundImage()
{
    qDebug() << __LINE__ << "cretate update background;";
    if (m_overlayLabel)
        return;
    setOverlayMode(false);

    const QPixmap picture(m_appDir + QStringLiteral("/images/setting/background.svg"));
    const int w = int(width() * 0.8);
    const int h = int((height() - ui->frameUpdate->height()) * 0.5 - 10);
    m_overlayLabel = new QLabel(this);
    m_overlayLabel->resize(w, h);
    m_overlayLabel->setScaledContents(true);
    m_overlayLabel->move(width() / 2 - w / 2, OverlayY);
    if (!picture.isNull())
        m_overlayLabel->setPixmap(picture.scaled(m_overlayLabel->size(), Qt::IgnoreAspectRatio,
                                                 Qt::SmoothTransformation));
    m_overlayLabel->show();
    m_overlayLabel->lower();
    ui->frameUpdate->raise();

    if (m_firmware) {
        if (Schedule* ring = m_firmware->schedule()) {
            // Only once setPageSize made it a child of the page; a parentless ring would be a window.
            if (ring->parentWidget() == this) {
                ring->move(RingPos);
                ring->show();
            }
        }
    }
}

void Setting::deleteBackgroundImage()
{
    qDebug() << __LINE__ << "delete update background;";
    setOverlayMode(true);
    delete m_overlayLabel;
    m_overlayLabel = nullptr;
}

void Setting::setOverlayMode(bool normal)
{
    if (normal) {
        ui->frameProduct->show();
        ui->frameSetting->show();
        const QRect s = ui->frameSetting->geometry();
        ui->frameUpdate->move(s.x(), s.bottom() + 1 + FrameGap);
    } else {
        const QRect p = ui->frameProduct->geometry();
        ui->frameUpdate->move(p.x(), p.bottom() + 1 + UpgradeUpdateGap);
        ui->frameProduct->hide();
        ui->frameSetting->hide();
    }
    m_normalLayout = normal;
    update();
}

void Setting::updateSureSlot(const QString& folder)
{
    qInfo() << __LINE__ << "Update firmware sure slot.";
    deleteCheckUSB();
    emit emitModeDUF();
    createBackgroundImage();
    emit emitUpdateFU(folder);
}

void Setting::UpdateProgressSlot(int bytes)
{
    if (!m_firmware)
        return;
    // 64-bit: several firmware images together pass 2^31 / 100 bytes.
    qint64 percent = 0;
    if (m_progressTotal > 0)
        percent = (qint64(bytes) + m_progressOffset) * 100 / m_progressTotal;
    m_firmware->setProgress(int(qBound<qint64>(0, percent, 100)));
}

void Setting::checkUSBDisconnectSlot()
{
    qInfo() << __LINE__ << "Check USB Disconnect slot.";
    deleteCheckUSB();
    if (m_firmware)
        m_firmware->setButtonsEnabled(false);
    cancelSlot();
    emit emitStartScanDevice();
}

void Setting::cancelSlot()
{
    qInfo() << __LINE__ << "cancel slot.";
    if (m_firmware) {
        if (Schedule* ring = m_firmware->schedule())
            ring->hide();
    }
    deleteBackgroundImage();
    setOverlayMode(true);
    emit emitNuModeDUF();
}

void Setting::updateFinished()
{
    qInfo() << __LINE__ << "Update firmware succeeded!";
    cancelSlot();
}

void Setting::updateUnconfirmed()
{
    qInfo() << __LINE__ << "Update firmware ended, the keyboard reports its old version.";
    cancelSlot();
}

void Setting::showKeyboardRestarting()
{
    qInfo() << __LINE__ << "Update firmware sent, the keyboard restarts.";
    if (m_firmware)
        m_firmware->showRestarting();
}

void Setting::updateErrorStop()
{
    qInfo() << __LINE__ << "Update firmware error, recovery interface!";
    cancelSlot();
}

void Setting::outlineFrame(const QWidget* frame, int roundness, int count)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF r(frame->geometry());
    for (int i = 0; i < count; ++i) {
        const int inset = count - i;
        QPainterPath path;
        path.setFillRule(Qt::WindingFill);
        addRoundRect(path, r.adjusted(inset, inset, -inset, -inset), roundness);
        QColor colour(70, 70, 70);
        colour.setAlpha(155 - int(50 * std::sqrt(double(i))));
        painter.setPen(QPen(QBrush(colour), 0.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
    }
}

void Setting::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    if (m_normalLayout) {
        outlineFrame(ui->frameProduct, 7, 1);
        outlineFrame(ui->frameSetting, 8, 1);
    }
    outlineFrame(ui->frameUpdate, 10, 1);
}
