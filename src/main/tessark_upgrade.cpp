// The firmware upgrade: up to three images from one folder, the Bluetooth ones through the open
// keyboard, then the USB one to the bootloader the keyboard restarts into; progress and errors go
// to the settings page, and at the end the scans find the keyboard again.
#include "tessark.h"

#include "device/checkusb.h"
#include "device/device.h"
#include "device/updatedfubtthread.h"
#include "device/usb.h"
#include "Update/serverpath.h"
#include "setting/Language.h"
#include "setting/setting.h"
#include "widget/menutree.h"
#include "widget/messagebox.h"
#include "widget/regularfile.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThread>

namespace {
constexpr ushort BootloaderVid = 0x0416;
constexpr ushort BootloaderPid = 0xA316;
constexpr unsigned long BeforeUsbImageMs = 500; // the new Bluetooth application starts meanwhile

// As the settings page shows a version.
QString shownVersion(int v)
{
    return QStringLiteral("V%1.%2.%3").arg(v / 100).arg((v % 100) / 10).arg(v % 10);
}

const char* const ReadFailedLog = "Update DFU error!, Read *.bin file failed. return. close device. scan device.";

// The whole file into out; false when it cannot be opened, is too large or reads short.
bool readWholeFile(const QString& path, QByteArray* out)
{
    out->clear();
    QFile file;
    if (!RegularFile::openForReading(&file, path)) {
        qDebug() << "Open bin failed.";
        return false;
    }
    const qint64 size = file.size();
    qDebug() << "file size=" << size;
    if (size < 0 || size > Tessark::MaxImageBytes) {
        qDebug() << "image size out of range:" << size;
        return false;
    }
    QByteArray buffer(int(size), '\0');
    const qint64 n = size > 0 ? file.read(buffer.data(), size) : 0;
    if (n != size) {
        qDebug() << "short read of" << path << ":" << n << "of" << size << "bytes";
        return false;
    }
    *out = buffer;
    return true;
}

// The sender's per-packet progress reaches the settings page through the relay: a fast upload then
// leaves no queue of progress events behind it.
template <typename Sender>
void relayProgress(Sender* from, void (Sender::*signal)(int), ProgressRelay& relay, Setting* page)
{
    QObject::connect(from, signal, &relay, &ProgressRelay::post,
                     Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection));
    if (page)
        QObject::connect(&relay, &ProgressRelay::progress, page, &Setting::UpdateProgressSlot, Qt::UniqueConnection);
}

QString stepName(int step)
{
    switch (step) {
    case 0x08: return QStringLiteral("appToBootloadeErr: ");
    case 0x81: return QStringLiteral("eraseAppFlashErr: ");
    case 0x82: return QStringLiteral("eraseSoftDeviceFlashErr: ");
    case 0x83: return QStringLiteral("WriteAppFlashErr: ");
    case 0x84: return QStringLiteral("WriteSoftDeviceFlashErr: ");
    case 0x85: return QStringLiteral("BootloadeToAppErr: ");
    default: return QStringLiteral("unknown Err: ");
    }
}
// Images refused from the download's staging folder go at once: nothing the server sent stays under a
// name of its choosing, whether the box about it is left open or the tool ends first. A folder the user
// picked keeps its files.
void removeRefusedStagedImages(const QString& folder, const QStringList& refused)
{
    const QString appDir = QDir::cleanPath(QDir(appDirPath()).absolutePath());
    const QString stage = QDir::cleanPath(QDir(folder).absolutePath());
    if (stage == appDir + QStringLiteral("/UpgradeFirmware")
        || !ServerPath::isInside(stage, appDir + QStringLiteral("/UpgradeFirmware"))
        || !ServerPath::linkedFolder(stage, appDir).isEmpty())
        return;
    for (const QString& path : refused) {
        if (!QFile::remove(path))
            qWarning() << "Refused firmware image not removed from the staging folder:" << path;
    }
}
} // namespace

// ---- choosing the images ---------------------------------------------------------------------

int Tessark::firmwareImageKind(const QString& fileName)
{
    const QFileInfo info(fileName);
    if (info.suffix().compare(QLatin1String("bin"), Qt::CaseInsensitive) != 0)
        return 0;
    const QStringList parts = info.baseName().split(QLatin1Char('_'));
    if (parts.size() < 4 || parts[0] != QLatin1String("qv"))
        return 0;
    if (parts[1] == QLatin1String("bt") && parts[2] == QLatin1String("app"))
        return BtAppImage;
    if (parts[1] == QLatin1String("bt") && parts[2] == QLatin1String("sd"))
        return BtSdImage;
    if (parts[1] == QLatin1String("usb") && parts[2] == QLatin1String("app"))
        return UsbAppImage;
    return 0;
}

QMap<int, QString> Tessark::chooseFirmwareImages(const QString& folder)
{
    QMap<int, QString> images;
    if (folder.isEmpty())
        return images;
    // Oldest first: a later file of the same kind replaces the earlier one. Every entry, so that what
    // is named like an image but is no regular file (a folder, a FIFO, a device, a link to one) is
    // named in the log rather than left out unseen; none of them is ever opened.
    const QFileInfoList files = QDir(folder).entryInfoList(
        QDir::Files | QDir::Dirs | QDir::System | QDir::NoDotAndDotDot, QDir::Time | QDir::Reversed);
    for (const QFileInfo& file : files) {
        const int kind = firmwareImageKind(file.fileName());
        if (!kind)
            continue;
        const QString problem = RegularFile::kindProblem(file.absoluteFilePath());
        if (!problem.isEmpty()) {
            qWarning().noquote() << QStringLiteral("Firmware image skipped: \"%1\": not a regular file (%2)")
                                        .arg(file.absoluteFilePath(), problem);
            continue;
        }
        images.insert(kind, file.absoluteFilePath());
    }
    return images;
}

QString Tessark::firmwareImageProblem(int kind, const QString& path)
{
    QFile file;
    QString why;
    if (!RegularFile::openForReading(&file, path, &why))
        return QStringLiteral("cannot be opened (%1)").arg(why);
    const qint64 size = file.size();
    if (size <= 0)
        return QStringLiteral("is empty");
    if (size > MaxImageBytes)
        return QStringLiteral("is larger than 16 MiB");
    if (kind == BtSdImage && size < MinSoftDeviceBytes)
        return QStringLiteral("is shorter than 4096 bytes, too short for a SoftDevice");
    return QString();
}

// ---- upgrade mode ----------------------------------------------------------------------------

void Tessark::enterFirmwareModeUi()
{
    qDebug() << "enter firmware mode: the keyboard's bootloader alone";
    labelPageClickSlot(QStringLiteral("Setting"));
    modeDUFSlot();
    if (m_ptrSetting)
        m_ptrSetting->intoUpdate(0, 0);
}

void Tessark::enterFirmwareUpdateUi()
{
    qDebug() << "enter firmware update mode for the open keyboard";
    labelPageClickSlot(QStringLiteral("Setting"));
    modeDUFSlot();
    if (m_ptrSetting)
        m_ptrSetting->intoUpdate(m_data.vid, m_data.pid);
}

void Tessark::createDfuUiSlot()
{
    emit emitUsbRead();
    qDebug() << "Open USB succeeded.";
    labelPageClickSlot(QStringLiteral("Setting"));
    if (m_ptrSetting)
        m_ptrSetting->intoUpdate(0, 0);
    setMenuButtonEnabled(true);
}

void Tessark::updateDFUSlot(QString folder)
{
    qDebug() << "Ready to update the Firmware.";
    // Meant for these images alone, whether they go or not.
    const int expects = m_expectedVersion;
    m_expectedVersion = -1;
    if (m_upgradePhase != UpgradePhase::Idle) {
        qWarning() << "A firmware upgrade is running: the folder is refused." << folder;
        return;
    }
    // What the keyboard must come back with is judged against what it had, or what the image holds.
    m_upgradeExpects = expects;
    m_lateUpgradeWatch = false; // a keyboard still owed from the last upgrade is this one's to judge now
    m_versionBefore = loadedDevice() ? int(loadedDevice()->m_fw_version) : -1;
    m_upgradedId.clear();
    m_pathsBeside.clear();
    if (const Device* dev = loadedDevice())
        m_upgradedId = QByteArray(reinterpret_cast<const char*>(dev->m_deviceId), int(sizeof dev->m_deviceId));
    m_mapFilePath = chooseFirmwareImages(folder);
    qDebug() << "MapFilePath=" << m_mapFilePath.size();
    if (m_mapFilePath.isEmpty()) {
        // Nothing qualifies, or the path is no folder: nothing goes out, and the user must hear why.
        const bool zh = chineseInterface();
        const QString where = QDir::toNativeSeparators(folder);
        const QString names = QStringLiteral("qv_bt_app_*.bin, qv_bt_sd_*.bin, qv_usb_app_*.bin");
        refuseUpgrade(zh ? QStringLiteral("该文件夹中没有找到固件镜像：\n") + where + QStringLiteral("\n（") + names
                               + QStringLiteral("）")
                         : QStringLiteral("No firmware image was found in that folder:\n") + where
                               + QStringLiteral("\n(") + names + QStringLiteral(")"),
                      zh ? QStringLiteral("固件升级") : QStringLiteral("Firmware Update"));
        return;
    }
    // Every image is checked before anything goes out: a bad USB image found only after the switch
    // would leave the keyboard in its bootloader.
    QStringList problems;
    QStringList refused;
    for (auto it = m_mapFilePath.constBegin(); it != m_mapFilePath.constEnd(); ++it) {
        const QString why = firmwareImageProblem(it.key(), it.value());
        if (!why.isEmpty()) {
            problems << QDir::toNativeSeparators(it.value()) + QStringLiteral(": ") + why;
            refused << it.value();
        }
    }
    if (!problems.isEmpty()) {
        removeRefusedStagedImages(folder, refused);
        refuseUpgrade(problems.join(QLatin1Char('\n')));
        return;
    }
    if (!loadedDevice()) {
        // The Bluetooth images travel through the open keyboard; a keyboard stuck in its bootloader
        // still takes its USB image.
        QStringList dropped;
        for (int kind : {int(BtAppImage), int(BtSdImage)}) {
            if (!m_mapFilePath.contains(kind))
                continue;
            const QString path = m_mapFilePath.take(kind);
            qWarning() << "No keyboard open: the Bluetooth image is not sent:" << path;
            dropped << QDir::toNativeSeparators(path) + QStringLiteral(": no keyboard is open to take it");
        }
        if (m_mapFilePath.isEmpty()) {
            refuseUpgrade(dropped.join(QLatin1Char('\n')));
            return;
        }
    }

    qint64 total = 0;
    for (const QString& path : qAsConst(m_mapFilePath))
        total += QFileInfo(path).size();
    if (m_ptrSetting) {
        m_ptrSetting->m_progressTotal = int(total); // at most three images of 16 MiB
        m_ptrSetting->m_progressOffset = 0;
    }
    m_sendByte = 0;
    m_upgradeClock.start();
    startFirstImage();
}

void Tessark::updateBtFile()
{
    qDebug() << "Map=" << m_mapFilePath.size();
    if (m_mapFilePath.size() == 1 && m_mapFilePath.contains(UsbAppImage)) {
        qDebug() << "单模键盘";
        return;
    }
    qDebug() << "双模键盘";
    if (!m_mapFilePath.isEmpty())
        startFirstImage();
}

void Tessark::startFirstImage()
{
    if (m_mapFilePath.isEmpty())
        return;
    const int kind = m_mapFilePath.firstKey();
    const QString path = m_mapFilePath.take(kind);
    if (kind == UsbAppImage) {
        qDebug() << "升级USB00";
        updateDFU_Key(path);
    } else {
        qDebug() << (kind == BtAppImage ? "升级qv_bt_app" : "升级qv_bt_sd");
        DualmodeUpgrade(path);
    }
}

void Tessark::refuseUpgrade(const QString& problems, const QString& title)
{
    qWarning().noquote() << "Firmware upgrade refused, nothing sent:" << problems;
    m_mapFilePath.clear();
    messagebox::critical(this, title.isEmpty() ? tr("ErrorCode") : title, problems);
    if (m_ptrSetting)
        m_ptrSetting->updateErrorStop();
    restoreSettingControls();
    if (!loadedDevice()) {
        m_scanDevice.start(ScanIntervalMs);
        m_MultiScanDevice.start(ScanIntervalMs);
    }
}

bool Tessark::readBinFileBuf(QString path)
{
    return readWholeFile(path, &m_dfuFileBuf);
}

bool Tessark::readBtBinFileBuf(QString path)
{
    return readWholeFile(path, &m_btDfuFileBuf);
}

// ---- the Bluetooth road ----------------------------------------------------------------------

Usb* Tessark::keyboardUsb() const
{
    Device* const dev = loadedDevice();
    return dev ? dev->usb() : nullptr;
}

uint32_t Tessark::btStep(const std::function<uint32_t(Device*)>& step, bool* reported)
{
    *reported = false;
    Device* const dev = loadedDevice();
    if (!dev)
        return DeviceResult::Stopped;
    const QMetaObject::Connection seen =
        connect(dev, &Device::UpdateError, this, [reported] { *reported = true; }, Qt::DirectConnection);
    const uint32_t e = step(dev);
    disconnect(seen);
    return e;
}

void Tessark::eraseForImage(const QString& path)
{
    updateDFUBtThread* const thread = m_upgrade.btThread();
    if (!thread)
        return;
    const int kind = firmwareImageKind(path);
    if (kind == BtAppImage)
        thread->bt_erase_app_com();
    else if (kind == BtSdImage)
        thread->bt_erase_sd_com();
}

void Tessark::DualmodeUpgrade(QString path)
{
    m_upgradePhase = UpgradePhase::Bluetooth;
    emit emitWaitDfuOpen(true);
    QCoreApplication::processEvents();

    Device* const dev = loadedDevice();
    Usb* const usb = keyboardUsb();
    if (!dev || !usb) {
        // The frames go through the keyboard's transport: without one nothing can be sent.
        qWarning() << "No keyboard open: the Bluetooth image is not sent:" << path;
        emit emitWaitDfuOpen(false);
        btUpgradeStopSlot();
        return;
    }
    disconnect(m_deviceErrorConnection);
    m_deviceErrorConnection = connect(dev, &Device::UpdateError, this, &Tessark::DFUErrorCode, Qt::QueuedConnection);

    qDebug() << "双模键盘升级" << path;
    bool reported = false;
    const uint32_t booted = btStep([](Device* d) { return d->_bt_app_boot(); }, &reported);
    if (booted != DeviceResult::Ok) {
        qDebug() << "app_boot失败";
        emit emitWaitDfuOpen(false);
        if (!reported)
            QMetaObject::invokeMethod(this, [this] { DFUErrorCode(0x08, BtUpgradeError::WriteFailed); },
                                      Qt::QueuedConnection);
        return;
    }
    m_scanDevice.stop();
    m_MultiScanDevice.stop();

    if (!readBtBinFileBuf(path)) {
        qDebug() << ReadFailedLog;
        endBtUpgrade(false); // the scans resume once its box is closed
        return;
    }

    updateDFUBtThread* thread = m_upgrade.btThread();
    if (!thread) {
        thread = new updateDFUBtThread(this);
        m_upgrade.setBtThread(thread);
    } else if (thread->isRunning() && thread->isInterruptionRequested()) {
        // Told to stop by the last upgrade: a start now would find it still running and do nothing.
        thread->wait(UpgradeThreads::StopWaitMs);
    }
    // The thread alone reads the keyboard's replies until the images are sent.
    usb->setReadingEnabled(false);
    thread->setUsb(usb);
    thread->setImage(reinterpret_cast<const uint8_t*>(m_btDfuFileBuf.constData()), uint32_t(m_btDfuFileBuf.size()));
    thread->setRunning(true);
    thread->start(QThread::HighestPriority);

    // Queued, also for what the erase below raises on this thread: the handlers run after it returned.
    const auto queued = Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection);
    connect(thread, &updateDFUBtThread::UpdateError, this, &Tessark::DFUErrorCode, queued);
    if (m_ptrSetting)
        relayProgress(thread, &updateDFUBtThread::SendByteUpdateProgress, m_upgrade.progressRelay(), m_ptrSetting);
    connect(thread, &QThread::finished, this, &Tessark::btThreadFinishedSlot, queued);
    connect(thread, &updateDFUBtThread::emitStopDfu, this, &Tessark::btUpgradeStopSlot, queued);
    connect(thread, &updateDFUBtThread::emitUpdateDfuFinished, this, &Tessark::btImageFinishedSlot, queued);

    m_sendByte += uint32_t(m_btDfuFileBuf.size());
    eraseForImage(path);
    emit emitWaitDfuOpen(false);
}

void Tessark::btImageFinishedSlot()
{
    if (m_upgradePhase != UpgradePhase::Bluetooth) {
        qDebug() << "Bluetooth image finished after the upgrade ended: ignored";
        return;
    }
    if (m_mapFilePath.isEmpty()) {
        quitBtUpgrade();
        return;
    }
    updateDFUBtThread* const thread = m_upgrade.btThread();
    const int kind = m_mapFilePath.firstKey();
    const QString path = m_mapFilePath.value(kind);
    if (kind == UsbAppImage) {
        if (thread)
            thread->stop();
        if (Usb* usb = keyboardUsb())
            usb->setReadingEnabled(true);
        bool reported = false;
        if (btStep([](Device* d) { return d->_bt_boot_app(); }, &reported) != DeviceResult::Ok) {
            // The module did not start its new application: the USB image is not sent.
            qWarning() << "The Bluetooth application did not start: the USB image is not sent.";
            m_mapFilePath.clear();
            if (!reported || !m_deviceErrorConnection)
                QMetaObject::invokeMethod(this, [this] { DFUErrorCode(0x85, BtUpgradeError::WriteFailed); },
                                          Qt::QueuedConnection);
            return;
        }
        qDebug() << "_bt_boot_app成功";
        disconnectDfuSignals();
        if (m_ptrSetting)
            m_ptrSetting->m_progressOffset = int(m_sendByte);
        QThread::msleep(BeforeUsbImageMs);
        m_mapFilePath.remove(kind);
        updateDFU_Key(path);
        return;
    }
    if (m_ptrSetting)
        m_ptrSetting->m_progressOffset = int(m_sendByte);
    m_mapFilePath.remove(kind);
    readUpgradeFile(path);
    m_sendByte += uint32_t(m_btDfuFileBuf.size());
}

void Tessark::readUpgradeFile(QString path)
{
    qDebug() << "filepath=" << path;
    updateDFUBtThread* const thread = m_upgrade.btThread();
    if (!thread || !readBtBinFileBuf(path)) {
        qDebug() << ReadFailedLog;
        m_scanDevice.start(ScanIntervalMs);
        // The images sent so far stay: the module starts its application, the rest is dropped.
        m_mapFilePath.clear();
        if (Usb* usb = keyboardUsb())
            usb->setReadingEnabled(true);
        bool reported = false;
        btStep([](Device* d) { return d->_bt_boot_app(); }, &reported);
        btUpgradeStopSlot();
        return;
    }
    thread->setImage(reinterpret_cast<const uint8_t*>(m_btDfuFileBuf.constData()), uint32_t(m_btDfuFileBuf.size()));
    thread->setRunning(true);
    eraseForImage(path);
}

void Tessark::quitBtUpgrade()
{
    endBtUpgrade(true);
}

void Tessark::endBtUpgrade(bool succeeded)
{
    if (updateDFUBtThread* thread = m_upgrade.btThread())
        thread->stop();
    if (Usb* usb = keyboardUsb())
        usb->setReadingEnabled(true);
    if (loadedDevice()) {
        bool reported = false;
        if (btStep([](Device* d) { return d->_bt_boot_app(); }, &reported) == DeviceResult::Ok) {
            qDebug() << "_bt_boot_app成功";
        } else if (reported && m_deviceErrorConnection) {
            // The module refused to start its application: the error box ends the upgrade.
            m_mapFilePath.clear();
            return;
        }
    }
    qDebug() << "quitBtUpgrade";
    m_upgradePhase = UpgradePhase::Idle;
    m_mapFilePath.clear();
    if (m_ptrSetting) {
        if (succeeded)
            m_ptrSetting->updateFinished();
        else
            m_ptrSetting->updateErrorStop();
    }
    restoreSettingControls();
    setTitleButtonsEnabled(true);
    connectTabLabels(true);
    unModeUFSlot();
    disconnectDfuSignals();
    const qint64 s = m_upgradeClock.isValid() ? m_upgradeClock.elapsed() / 1000 : 0;
    qDebug() << "发送总耗时：" << s / 60 << "分" << s % 60 << "秒";
    if (succeeded)
        resumeScans();
    else
        tellUpgradeFailed();
}

void Tessark::btUpgradeStopSlot()
{
    if (m_upgradePhase != UpgradePhase::Bluetooth) {
        qDebug() << "Bluetooth upgrade stop after the upgrade ended: ignored";
        return;
    }
    m_upgradePhase = UpgradePhase::Idle;
    m_mapFilePath.clear();
    if (Usb* usb = keyboardUsb())
        usb->setReadingEnabled(true);
    updateDFUBtThread* const thread = m_upgrade.btThread();
    if (thread)
        thread->stop();
    if (m_ptrSetting)
        m_ptrSetting->updateErrorStop();
    setTitleButtonsEnabled(true);
    connectTabLabels(true);
    unModeUFSlot();
    qDebug() << "中途升级错误，中断升级处理" << "isRunning=" << (thread && thread->isRunning());
    disconnectDfuSignals();
    restoreSettingControls();
    tellUpgradeFailed();
}

void Tessark::btThreadFinishedSlot()
{
    auto* const thread = qobject_cast<updateDFUBtThread*>(sender());
    if (!thread)
        return;
    if (m_upgrade.btThread() == thread)
        m_upgrade.setBtThread(nullptr);
    thread->deleteLater();
}

// Erase, then upload the image request by request; the module must be in its bootloader (0x08).
uint32_t Tessark::updateBtSync(const QString& path, bool softDevice)
{
    Device* const dev = loadedDevice();
    if (!dev || !readBtBinFileBuf(path))
        return DeviceResult::Stopped;
    const uint32_t e = softDevice ? dev->_bt_erase_sd_boot() : dev->_bt_erase_app();
    if (e != DeviceResult::Ok)
        return e;
    dev->dfuStartBtUpdateFW(reinterpret_cast<uint8_t*>(m_btDfuFileBuf.data()), m_btDfuFileBuf.size());
    return softDevice ? dev->_bt_sd_bin_data() : dev->_bt_app_bin_data();
}

uint32_t Tessark::updateBtAppSync(QString path)
{
    return updateBtSync(path, false);
}

uint32_t Tessark::updateBtSdSync(QString path)
{
    return updateBtSync(path, true);
}

// ---- the USB road ----------------------------------------------------------------------------

void Tessark::updateDFU_Key(QString path)
{
    m_upgradePhase = UpgradePhase::UsbWait;
    if (Device* const dev = loadedDevice()) {
        // The keyboard restarts into its bootloader without a reply; a write that failed never reached
        // it, so it stays as it is and there is no bootloader to wait for.
        if (dev->enterDfu() != DeviceResult::Ok) {
            qWarning() << "The keyboard did not take the command to enter its bootloader: the USB image is not sent.";
            failWithKeyboardKept();
            return;
        }
        qDebug() << "Update DFU close device finished.";
        m_scanDevice.stop();
        m_MultiScanDevice.stop();
        // The restart wait opens the keyboard that comes back, not one that stayed beside it.
        m_pathsBeside.clear();
        if (m_menuTree) {
            const QString own = usb() ? usb()->path() : QString();
            for (const UsbData& d : m_menuTree->devices())
                if (d.path != own)
                    m_pathsBeside << d.path;
            m_menuTree->clearDevices();
        }
        closeDevice();
    }
    if (!readBinFileBuf(path)) {
        qDebug() << ReadFailedLog;
        closeDevice();
        // Nothing will be uploaded: the page must not wait for it.
        m_upgradePhase = UpgradePhase::Idle;
        m_mapFilePath.clear();
        if (m_ptrSetting)
            m_ptrSetting->updateErrorStop();
        setTitleButtonsEnabled(true);
        connectTabLabels(true);
        tellUpgradeFailed();
        return;
    }
    newDFUUsb(m_dfuUsb);
    m_dfuOpenCount = 0;
    m_waitOpenDfuTimer.start(m_dfuWaitIntervalMs);
    emit emitWaitDfuOpen(true);
}

bool Tessark::newDFUUsb(Usb*& usb)
{
    if (!usb) {
        usb = new Usb(nullptr, nullptr, nullptr);
        usb->setParent(this);
    }
    usb->setIds(BootloaderVid, BootloaderPid, -1);
    return true;
}

bool Tessark::openDFUDevice(Usb* usb)
{
    if (!usb)
        return false;
    Device* fw = m_upgrade.firmwareDevice();
    const bool made = !fw;
    if (made)
        fw = new Device(usb, nullptr, nullptr, nullptr);
    fw->setUsb(usb);
    if (!Device::dfuOpen(usb)) {
        if (made)
            delete fw;
        return false;
    }
    qDebug() << "设备检测正常，开始升级固件.........";
    QThread& thread = m_upgrade.firmwareThread();
    fw->moveToThread(&thread);
    connect(&thread, &QThread::started, fw, &Device::readDFUUsbSlot);
    // Queued: a failed first write reports on this thread, inside dfuStartUpdateFW.
    connect(fw, &Device::emitUpdateDfuFinished, this, &Tessark::updateDfuFinishedSlot, Qt::QueuedConnection);
    connect(&thread, &QThread::finished, fw, &QObject::deleteLater);
    if (m_ptrSetting)
        relayProgress(fw, &Device::SendByteUpdateProgress, m_upgrade.progressRelay(), m_ptrSetting);
    connect(fw, &Device::emitStopDfu, this, &Tessark::updateErrorStopSlot, Qt::QueuedConnection);
    m_upgrade.setFirmwareDevice(fw);
    return true;
}

void Tessark::waitOpenDfuDeviceSolt()
{
    if (m_upgradePhase != UpgradePhase::UsbWait) {
        m_waitOpenDfuTimer.stop();
        return;
    }
    if (openDFUDevice(m_dfuUsb)) {
        m_dfuOpenCount = 0;
        emit emitWaitDfuOpen(false);
        m_waitOpenDfuTimer.stop();
        setTitleButtonsEnabled(false);
        connectTabLabels(false);
        m_upgradePhase = UpgradePhase::UsbUpload;
        m_upgrade.firmwareThread().start(QThread::InheritPriority);
        if (Device* fw = m_upgrade.firmwareDevice())
            fw->dfuStartUpdateFW(reinterpret_cast<uint8_t*>(m_dfuFileBuf.data()), m_dfuFileBuf.size());
        return;
    }
    qDebug() << "Open DFU Device USB wait overtime = " << m_dfuOpenCount;
    if (m_dfuOpenCount++ >= DfuOpenAttempts - 1) {
        qDebug() << "Stop update firmware.";
        m_dfuOpenCount = 0;
        m_waitOpenDfuTimer.stop();
        emit emitWaitDfuOpen(false);
        releaseUsbRoad();
        if (m_ptrSetting)
            m_ptrSetting->updateErrorStop();
        tellUpgradeFailed();
    }
}

void Tessark::updateDfuFinishedSlot()
{
    if (m_upgradePhase != UpgradePhase::UsbUpload)
        return;
    qDebug() << "Update DFU finished slot.";
    if (Device* fw = m_upgrade.firmwareDevice())
        disconnect(fw, &Device::emitStopDfu, this, &Tessark::updateErrorStopSlot);
    // The run command is out, which proves nothing yet: done is a keyboard back, loaded.
    releaseUsbRoad();
    waitForRestartedKeyboard();
}

void Tessark::waitForRestartedKeyboard()
{
    m_upgradePhase = UpgradePhase::Restarting;
    m_restartOvertime = false;
    m_restartBackPaths.clear();
    m_restartBackLeft = false;
    qDebug() << "The image is in: waiting up to" << m_restartWaitMs << "ms for the keyboard to restart.";
    if (m_ptrSetting)
        m_ptrSetting->showKeyboardRestarting();
    connect(&m_restartWaitTimer, &FullWait::ended, this, &Tessark::restartWaitEndedSlot, Qt::UniqueConnection);
    m_restartWaitTimer.start(m_restartWaitMs);
    connect(&m_restartGraceTimer, &FullWait::ended, this, &Tessark::restartGraceEndedSlot, Qt::UniqueConnection);
    m_restartGraceTimer.stop();
    // resumeScans leaves the scans to a running upgrade: this one needs them to find the keyboard.
    if (m_exiting || m_quitPending)
        return;
    m_MultiScanDevice.start(ScanIntervalMs);
    if (!loadedDevice())
        m_scanDevice.start(ScanIntervalMs);
}

QStringList Tessark::restartCandidates()
{
    // The list as the bus has it now, so that the keyboard opened is the one the menu shows chosen.
    MultiscanDeviceSlot();
    QStringList paths;
    if (!m_menuTree)
        return paths;
    for (const UsbData& d : m_menuTree->devices())
        if (!m_pathsBeside.contains(d.path))
            paths << d.path;
    return paths;
}

void Tessark::restartWaitEndedSlot()
{
    if (m_upgradePhase != UpgradePhase::Restarting || m_restartOvertime)
        return;
    // A keyboard back in time counts as back: its load, however slow, decides, and so do the loads of
    // keyboards that came with it until the upgraded one is among them. While the wait runs, another
    // keyboard is closed again once loaded, so one open now is still loading.
    const QStringList back = restartCandidates();
    if (usb() || !back.isEmpty()) {
        m_restartOvertime = true;
        m_restartBackPaths = back;
        if (usb())
            m_restartBackPaths << usb()->path();
        qDebug() << "The wait for the restarted keyboard ran out with a keyboard back within it: its load decides,"
                 << "for up to" << m_restartGraceMs << "ms more.";
        m_restartGraceTimer.start(m_restartGraceMs);
        return;
    }
    failRestartWait();
}

void Tessark::restartGraceEndedSlot()
{
    if (m_upgradePhase != UpgradePhase::Restarting)
        return;
    failRestartWait();
}

void Tessark::failRestartWait()
{
    if (m_upgradePhase != UpgradePhase::Restarting)
        return;
    m_restartWaitTimer.stop();
    m_restartGraceTimer.stop();
    const bool overtime = m_restartOvertime;
    m_restartOvertime = false;
    m_upgradePhase = UpgradePhase::Idle;
    // What the image brought is still told when the keyboard loads after all.
    m_lateUpgradeWatch = true;
    if (CheckUSB::present(BootloaderVid, BootloaderPid))
        qWarning() << "Firmware upgrade failed: the bootloader is still on the bus" << m_restartWaitMs
                   << "ms after the run command; the new firmware did not start.";
    else if (overtime && m_restartBackLeft)
        qWarning() << "Firmware upgrade failed: a keyboard came back within" << m_restartWaitMs
                   << "ms of the run command and left again during its load; the upgraded one was not back and"
                   << "loaded within" << m_restartGraceMs << "ms more.";
    else if (overtime)
        qWarning() << "Firmware upgrade failed: a keyboard came back within" << m_restartWaitMs
                   << "ms of the run command, but the upgraded one was not loaded within" << m_restartGraceMs
                   << "ms more.";
    else
        qWarning() << "Firmware upgrade failed: neither the keyboard nor its bootloader came back within"
                   << m_restartWaitMs << "ms of the run command.";
    // The box covers no load: one still running starts again once it is closed, and is told then.
    if (usb() && !m_deviceLoaded) {
        qDebug() << "The load of the keyboard that came back is cut off for the failure box.";
        closeDevice();
    }
    if (m_ptrSetting)
        m_ptrSetting->updateErrorStop();
    setTitleButtonsEnabled(true);
    connectTabLabels(true);
    tellUpgradeFailed();
}

// Whether a keyboard that was back as the wait's clock ran out has not yet proved to be another: one
// that left during its load may come back within the extra time, which is then still its own.
bool Tessark::restartBackMayReturn() const
{
    for (const QString& path : m_restartBackPaths)
        if (!m_pathsBeside.contains(path))
            return true;
    return false;
}

bool Tessark::isUpgradedKeyboard(const Device* dev) const
{
    return m_upgradedId.isEmpty()
        || m_upgradedId == QByteArray(reinterpret_cast<const char*>(dev->m_deviceId), int(sizeof dev->m_deviceId));
}

bool Tessark::takeLoadedKeyboard(Device* dev)
{
    if (m_upgradePhase == UpgradePhase::Restarting) {
        if (isUpgradedKeyboard(dev)) {
            judgeRestartedKeyboard(dev->m_fw_version);
            return true;
        }
        // Another keyboard of the family proves nothing about the one that restarts, and held open it
        // would keep the scans from opening that one: it is closed and passed over until the wait ends.
        const QString path = usb() ? usb()->path() : QString();
        qDebug() << "Another keyboard loaded while the upgraded one restarts: closed again, the upgrade still waits"
                 << "for the upgraded one.";
        if (!path.isEmpty() && !m_pathsBeside.contains(path))
            m_pathsBeside << path;
        closeDevice();
        if (!m_exiting && !m_quitPending)
            m_scanDevice.start(ScanIntervalMs);
        return false;
    }
    if (m_lateUpgradeWatch && m_upgradePhase == UpgradePhase::Idle && isUpgradedKeyboard(dev)) {
        m_lateUpgradeWatch = false;
        const int version = dev->m_fw_version;
        const int expected = m_upgradeExpects;
        const int before = m_versionBefore;
        m_upgradeExpects = -1;
        qWarning().noquote() << "The upgraded keyboard is back after the wait for it failed, with version"
                             << shownVersion(version);
        // The box waits for the load to end, as the one of a keyboard back in time.
        QMetaObject::invokeMethod(this, [this, version, expected, before] { tellLateKeyboard(version, expected, before); },
                                  Qt::QueuedConnection);
    }
    return true;
}

void Tessark::judgeRestartedKeyboard(int version)
{
    m_restartWaitTimer.stop();
    m_restartGraceTimer.stop();
    m_restartOvertime = false;
    m_lateUpgradeWatch = false;
    m_upgradePhase = UpgradePhase::Idle;
    const int expected = m_upgradeExpects;
    m_upgradeExpects = -1;
    // The box waits for the load to end: it must not open inside it.
    if (expected >= 0 && version != expected) {
        qWarning().noquote() << "Firmware upgrade failed: the keyboard is back with version" << shownVersion(version)
                             << "instead of the image's" << shownVersion(expected);
        if (m_ptrSetting)
            m_ptrSetting->updateErrorStop();
        QMetaObject::invokeMethod(this, [this, version, expected] { tellWrongVersion(version, expected); },
                                  Qt::QueuedConnection);
    } else if (expected < 0 && m_versionBefore >= 0 && version == m_versionBefore) {
        qWarning().noquote() << "Firmware upgrade not confirmed: the keyboard is back with the version it had before,"
                             << shownVersion(version);
        if (m_ptrSetting)
            m_ptrSetting->updateUnconfirmed();
        QMetaObject::invokeMethod(this, [this, version] { tellSameVersion(version); }, Qt::QueuedConnection);
    } else {
        qDebug().noquote() << "The keyboard is back with version" << shownVersion(version);
        if (m_ptrSetting)
            m_ptrSetting->updateFinished();
    }
    setTitleButtonsEnabled(true);
    connectTabLabels(true);
}

void Tessark::tellLateKeyboard(int version, int expected, int before)
{
    // Judged as one back in time would be; only a version that tells nothing against either gets a
    // box of its own.
    if (expected >= 0 && version != expected) {
        tellWrongVersion(version, expected);
        return;
    }
    if (expected < 0 && before >= 0 && version == before) {
        tellSameVersion(version);
        return;
    }
    const bool zh = chineseInterface();
    const QString v = shownVersion(version);
    QString text = zh ? QStringLiteral("键盘最终已重新连接，报告的固件版本是 %1。").arg(v)
                      : QStringLiteral("The keyboard is back after all and reports version %1.").arg(v);
    if (before >= 0 && before != version)
        text += zh ? QStringLiteral("升级前是 %1。").arg(shownVersion(before))
                   : QStringLiteral(" It had %1 before the upgrade.").arg(shownVersion(before));
    messagebox::information(this, zh ? QStringLiteral("固件升级") : QStringLiteral("Firmware Update"), text);
}

void Tessark::tellSameVersion(int version)
{
    const bool zh = chineseInterface();
    const QString v = shownVersion(version);
    messagebox::warning(this, zh ? QStringLiteral("固件升级") : QStringLiteral("Firmware Update"),
                        zh ? QStringLiteral("键盘报告的固件版本与升级前相同（%1）。\n如果该固件应带来新版本，"
                                            "则升级没有生效，可以再次升级。").arg(v)
                           : QStringLiteral("The keyboard reports the same version as before the upgrade (%1).\n"
                                            "If the image was to bring a new version, it did not take: you can "
                                            "repeat the upgrade.").arg(v));
}

void Tessark::tellWrongVersion(int version, int expected)
{
    const bool zh = chineseInterface();
    showUpgradeFailure(zh ? QStringLiteral("固件升级失败：键盘重新启动后报告的版本是 %1，而不是新固件的 %2。\n"
                                           "可以再次升级。").arg(shownVersion(version), shownVersion(expected))
                          : QStringLiteral("The firmware upgrade failed: the keyboard came back with version %1, "
                                           "not the new firmware's %2.\nYou can repeat the upgrade.")
                                .arg(shownVersion(version), shownVersion(expected)));
}

void Tessark::updateErrorStopSlot()
{
    if (m_upgradePhase != UpgradePhase::UsbUpload)
        return;
    if (m_ptrSetting)
        m_ptrSetting->updateErrorStop();
    releaseUsbRoad();
    setTitleButtonsEnabled(true);
    connectTabLabels(true);
    tellUpgradeFailed();
}

void Tessark::afterDFUSlot()
{
    releaseUsbRoad();
    resumeScans();
    qDebug() << "0000000000000000000-quitDFU-0000000000000000000";
}

void Tessark::releaseUsbRoad()
{
    m_upgradePhase = UpgradePhase::Idle;
    m_mapFilePath.clear();
    if (m_upgrade.firmwareDevice())
        qDebug() << "delete DFU device finished.";
    // The firmware Device goes when its thread finishes; one still running keeps it and the transport.
    if (!m_upgrade.stop()) {
        qWarning() << "an upgrade thread still runs: the bootloader's transport stays open";
    } else if (m_dfuUsb) {
        qDebug() << "delete usb finished.";
        releaseDfuUsb();
    }
}

void Tessark::resumeScans()
{
    // Quitting, or an upgrade started meanwhile, owns the scans.
    if (m_exiting || m_quitPending || m_upgradePhase != UpgradePhase::Idle)
        return;
    if (!m_MultiScanDevice.isActive()) {
        qDebug() << "start m_MultiScanDevice.";
        m_MultiScanDevice.start(ScanIntervalMs);
    }
    // An open keyboard needs no search.
    if (!loadedDevice() && !m_scanDevice.isActive()) {
        qDebug() << "start scan device.";
        m_scanDevice.start(ScanIntervalMs);
    }
}

void Tessark::releaseDfuUsb()
{
    if (!m_dfuUsb)
        return;
    m_dfuUsb->close();
    delete m_dfuUsb;
    m_dfuUsb = nullptr;
}

// ---- errors ----------------------------------------------------------------------------------

void Tessark::DFUErrorCode(int step, int code)
{
    if (m_upgradePhase == UpgradePhase::Idle) {
        qDebug() << "upgrade error after the upgrade ended, ignored:" << step << code;
        return;
    }
    // Idle first: a second report while the box is open shows no second box.
    m_upgradePhase = UpgradePhase::Idle;
    m_mapFilePath.clear();
    const QString name = stepName(step);
    qDebug().noquote() << name << code;
    // Held while the box is up, as for the other failure boxes: the module may fail before the
    // Bluetooth road stopped the scans, and a keyboard listed or opened meanwhile would come first.
    m_scanDevice.stop();
    m_MultiScanDevice.stop();
    const QPointer<Tessark> self(this);
    messagebox::critical(this, tr("ErrorCode"), name + QString::number(code) + QString(10, QLatin1Char(' ')),
                         QMessageBox::Abort);
    if (!self)
        return;
    if (updateDFUBtThread* thread = m_upgrade.btThread())
        thread->stop();
    if (Usb* usb = keyboardUsb())
        usb->setReadingEnabled(true);
    if (m_ptrSetting)
        m_ptrSetting->updateErrorStop();
    restoreSettingControls();
    setTitleButtonsEnabled(true);
    connectTabLabels(true);
    unModeUFSlot();
    disconnectDfuSignals();
    resumeScans();
}

void Tessark::tellUpgradeFailed()
{
    const bool zh = chineseInterface();
    qWarning() << "Firmware upgrade failed: the user is told to plug the keyboard in again";
    showUpgradeFailure(zh ? QStringLiteral("固件升级失败。\n请重新插入键盘：工具会重新打开其引导程序，然后可以再次升级。")
                          : QStringLiteral("The firmware upgrade failed.\nPlug the keyboard in again: the tool "
                                           "opens its bootloader again, and you can repeat the upgrade."));
}

void Tessark::failWithKeyboardKept()
{
    m_upgradePhase = UpgradePhase::Idle;
    m_mapFilePath.clear();
    if (m_ptrSetting)
        m_ptrSetting->updateErrorStop(); // leaves upgrade mode through the page
    else
        unModeUFSlot();
    restoreSettingControls();
    setTitleButtonsEnabled(true);
    connectTabLabels(true);
    disconnectDfuSignals();
    const bool zh = chineseInterface();
    showUpgradeFailure(zh ? QStringLiteral("固件升级失败：键盘没有接受进入引导程序的命令，USB 固件没有发送。\n"
                                           "键盘仍可继续使用，可以再次升级。")
                          : QStringLiteral("The firmware upgrade failed: the keyboard did not take the command to "
                                           "start its bootloader, so its USB firmware was not sent.\nThe keyboard "
                                           "stays in use, and you can repeat the upgrade."));
}

void Tessark::showUpgradeFailure(const QString& text)
{
    // Held while the box is up: a keyboard opened meanwhile would put its own prompts and the update
    // dialog over it.
    m_scanDevice.stop();
    m_MultiScanDevice.stop();
    const QPointer<Tessark> self(this);
    messagebox::critical(this, chineseInterface() ? QStringLiteral("固件升级") : QStringLiteral("Firmware Update"),
                         text);
    if (!self)
        return;
    resumeScans();
}

void Tessark::restoreSettingControls()
{
    if (!m_ptrSetting)
        return;
    if (Device* dev = loadedDevice())
        setSettingInformation(dev);
    else
        m_ptrSetting->setDeviceControlsEnabled(false);
}

void Tessark::disconnectDfuSignals()
{
    disconnect(m_deviceErrorConnection);
    m_deviceErrorConnection = QMetaObject::Connection();
    updateDFUBtThread* const thread = m_upgrade.btThread();
    if (!thread)
        return;
    disconnect(thread, &updateDFUBtThread::UpdateError, this, &Tessark::DFUErrorCode);
    disconnect(thread, &updateDFUBtThread::SendByteUpdateProgress, &m_upgrade.progressRelay(), &ProgressRelay::post);
    // Without its finished() handler the thread object stays for the next upgrade.
    disconnect(thread, &QThread::finished, this, &Tessark::btThreadFinishedSlot);
    disconnect(thread, &updateDFUBtThread::emitStopDfu, this, &Tessark::btUpgradeStopSlot);
    disconnect(thread, &updateDFUBtThread::emitUpdateDfuFinished, this, &Tessark::btImageFinishedSlot);
}

void Tessark::stopUpgradeForExit()
{
    m_waitOpenDfuTimer.stop();
    m_restartWaitTimer.stop();
    m_restartGraceTimer.stop();
    m_restartOvertime = false;
    m_lateUpgradeWatch = false;
    if (m_upgradePhase != UpgradePhase::Idle)
        qDebug() << "exit during a firmware upgrade";
    m_upgradePhase = UpgradePhase::Idle;
    m_mapFilePath.clear();
    if (m_upgrade.stop())
        releaseDfuUsb();
    else
        qWarning() << "an upgrade thread still runs at exit: the bootloader's transport stays open";
}
