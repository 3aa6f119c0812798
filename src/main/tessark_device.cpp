// Finding the keyboards of the family, opening one, loading it and closing it again.
#include "tessark.h"

#include "Update/overallvariate.h"
#include "device/device.h"
#include "device/usb.h"
#include "macro/macro.h"
#include "platform/hidaccess.h"
#include "shortcut/shortcuts.h"
#include "widget/kfwritefailurebox.h"
#include "widget/menutree.h"
#include "widget/messagebox.h"
#include "platform/savefile.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <hidapi.h>

namespace {
constexpr ushort BootloaderVid = 0x0416;
constexpr ushort BootloaderPid = 0xA316;

bool hidPresent(ushort vid, ushort pid)
{
    hid_device_info* devs = hid_enumerate(vid, pid);
    const bool found = devs != nullptr;
    hid_free_enumeration(devs);
    return found;
}

// hidapi takes a vendor or product id of 0 as "any": without the ids of config.xml (it did not read,
// which the user has been told) every device of the computer would look like a keyboard of ours.
bool idsConfigured(const Data& data)
{
    return data.vid != 0 && data.pid != 0;
}

QString versionDots(uint16_t v)
{
    return QStringLiteral("%1.%2.%3").arg(v / 100).arg((v % 100) / 10).arg(v % 10);
}
}

QList<UsbData> Tessark::listUsbDevices(ushort vid, ushort pid, int iface)
{
    QList<UsbData> list;
    hid_device_info* devs = hid_enumerate(vid, pid);
    for (hid_device_info* d = devs; d; d = d->next) {
        if (!d->path || !d->path[0])
            continue;
#ifdef Q_OS_LINUX
        // hidraw paths end in the node number, not the interface: the interface number decides, as
        // it does when the transport opens.
        const bool take = d->interface_number == iface;
#else
        const QByteArray path(d->path);
        const bool take = d->interface_number == iface || path.at(path.size() - 1) - '0' == iface;
#endif
        if (!take)
            continue;
        UsbData data;
        data.path = QString::fromUtf8(d->path);
        data.vid = d->vendor_id;
        data.pid = d->product_id;
        list.append(data);
    }
    hid_free_enumeration(devs);
    return list;
}

void Tessark::MultiscanDeviceSlot()
{
    if (!m_menuTree || !idsConfigured(m_data))
        return;
    const QList<UsbData> list = listUsbDevices(m_data.vid, m_data.pid, m_data.iface);
    QMap<int, UsbData>& listed = m_menuTree->devices();
    for (const UsbData& found : list) {
        bool known = false;
        for (const UsbData& d : listed)
            known = known || d.path == found.path;
        if (!known)
            m_menuTree->addDevice(found);
    }
    // Removing changes the map under the walk: start again after every removal.
    for (bool removed = true; removed;) {
        removed = false;
        for (auto it = listed.begin(); it != listed.end(); ++it) {
            bool present = false;
            for (const UsbData& found : list)
                present = present || (found.path == it->path && found.pid == it->pid && found.vid == it->vid);
            if (!present) {
                m_menuTree->removeDevice(*it);
                removed = true;
                break;
            }
        }
    }
}

void Tessark::scanDeviceSlot()
{
    // A transport is open (an upgrade's end restarts the scan with the keyboard kept): opening would
    // return at once after the tabs were disabled, and nothing would enable them again.
    if (m_connection->usb()) {
        m_scanDevice.stop();
        return;
    }
    QString path;
    if (m_upgradePhase == UpgradePhase::Restarting) {
        // Only a keyboard on the bus anew can be the one restarting; once one is open the scan stops. A
        // bootloader still there is the wait's to judge, not the firmware mode's.
        const QStringList candidates = restartCandidates();
        if (candidates.isEmpty()) {
            if (!m_restartOvertime)
                return;
            // The extra time is the returned keyboard's until it runs out: one that bounced during its
            // load may be back within it. Once all that came back proved to be others, nothing is left.
            if (!restartBackMayReturn()) {
                failRestartWait();
                return;
            }
            if (!m_restartBackLeft)
                qDebug() << "The keyboard that came back within the wait left during its load: the upgrade waits"
                         << "for it until its extra time runs out, up to" << m_restartGraceMs << "ms after the wait.";
            m_restartBackLeft = true;
            return;
        }
        if (m_restartOvertime && m_restartBackLeft) {
            qDebug() << "A keyboard is back within the extra time after one left during its load: its load decides.";
            m_restartBackLeft = false;
        }
        path = candidates.first();
    } else if (idsConfigured(m_data) && hidPresent(m_data.vid, m_data.pid) && m_menuTree
               && !m_menuTree->devices().isEmpty()) {
        path = m_menuTree->devices().first().path;
    }
    if (!path.isEmpty()) {
        qDebug() << "Find Normal device.";
        m_scanDevice.stop();
        m_data.devicePath = path;
        // The transport retries a refused open quietly for ever: say once why it cannot succeed.
        if (reportHidPermissionOnce(m_data.devicePath) == HidPermissionReport::TellUser) {
            messagebox::critical(this, QStringLiteral("Tessark"), hidPermissionUserText());
            // In the box's event loop the user may have chosen a keyboard (now opening) or quit.
            if (m_exiting || m_connection->usb())
                return;
        }
        setTabsDisabled(true);
        openUSB();
    } else if (hidPresent(BootloaderVid, BootloaderPid)) {
        qDebug() << "Find DFU device.";
        m_scanDevice.stop();
        enterFirmwareModeUi();
    }
}

void Tessark::wireConnection()
{
    connect(m_connection, &DeviceConnection::emitOpenSucceeded, this, &Tessark::usbOpenSucceededSlot);
    connect(m_connection, &DeviceConnection::emitFinishLoad, this, &Tessark::finishLoadDeviceSlot);
    connect(m_connection, &DeviceConnection::emitLoadDevInfoError, this, &Tessark::deviceLoadInfoError);
    connect(m_connection, &DeviceConnection::emitUsbDisconnect, this, &Tessark::usbDisconnectSLot);
    // Direct: the connection relays each notification queued already (so a setting change made on this
    // thread reports its result after it returned), and counts it as handled once this slot returned.
    connect(m_connection, &DeviceConnection::emitNotify, this, &Tessark::onRecvNotifySlot);
    connect(m_connection, &DeviceConnection::emitState, this, &Tessark::stateSlot, Qt::QueuedConnection);
}

void Tessark::openUSB()
{
    if (m_connection->usb())
        return;
    qInfo() << "Create USB thread.";
    m_runTime.mark(2);
    m_connection->open(m_data.vid, m_data.pid, m_data.iface, m_data.devicePath);
}

void Tessark::usbOpenSucceededSlot()
{
    // The client is new and not loading yet: the user hears of a key function it could not write.
    if (Device* dev = m_connection->device())
        dev->setWriteFailureNotifier(showKFWriteFailureBox);
    if (!m_menuTree || !m_connection->usb())
        return;
    UsbData opened;
    opened.path = m_connection->usb()->path();
    m_menuTree->selectDevice(opened);
}

void Tessark::finishLoadDeviceSlot()
{
    m_runTime.stop(QStringLiteral("Tessark Device open time "), 2);
    m_runTime.mark(2);
    m_initFinished = false;
    Device* dev = device();
    if (!dev) {
        // Closed while the load finished: nothing to show, but the window must stay usable.
        m_initFinished = true;
        return;
    }
    // What a firmware upgrade waits for: another keyboard loaded meanwhile is closed again.
    if (!takeLoadedKeyboard(dev)) {
        m_initFinished = true;
        return;
    }
    // The version prompt runs an event loop, in which an unplug closes and deletes this keyboard (and
    // a replug may even load the next one): only the keyboard still open afterwards is shown.
    const QPointer<Device> loaded(dev);
    const auto left = [this, &loaded] { return !loaded || loaded.data() != device(); };
    const bool upgrade = checkVersion();
    if (left()) {
        qDebug() << "the keyboard left while its version prompt was open: not shown";
        m_initFinished = true;
        return;
    }
    if (upgrade) {
        // The keyboard stays open for the Bluetooth images; marked loaded so that one left open by a
        // Bluetooth-only upgrade can draw its picture.
        m_initFinished = true;
        m_deviceLoaded = true;
        enterFirmwareUpdateUi();
        return;
    }

    const int index = boardIndexOfDevice();
    if (index >= 0) {
        applyBoardFeatures(m_data.boards[index]);
        const QString folder = createCurDeviceFile();
        // Macros kept aside from this keyboard come back with it, also after the tool was closed: the
        // page is made for them, as the tab makes it.
        if (!m_ptrMacro && Macro::hasKeptAside(folder))
            createMacro(&m_vStaticKeyBtn);
        // A macro page without a keyboard lists this one's macros; one that holds it takes the folder.
        if (m_ptrMacro)
            m_ptrMacro->setDevice(folder, dev);
        // The rows connect to the picture's keys when they are made, after the picture below is built.
        if (m_ptrShortcuts)
            m_ptrShortcuts->load(m_data.boards[index]->kf, folder + QStringLiteral("shortcuts.xml"),
                                 &m_vDynamicKeyBtn, dev);
    }
    // So may a box the pages showed while they took it: the close has already reset everything.
    if (left()) {
        m_initFinished = true;
        return;
    }

    m_deviceLoaded = true;
    m_initFinished = true;
    setTitleButtonsEnabled(true);
    connectTabLabels(true);
    labelPageClickSlot(QStringLiteral("staticLayout"));
    setTabsDisabled(false);
    m_runTime.stop(QStringLiteral("Keyboard load finished "), 2);
    if (left())
        return;

    if (g_overallVariate) {
        g_overallVariate->setOnlinState(true);
        g_overallVariate->setFirmwareInfo(dev->boardName(), versionDots(dev->m_fw_version), 0, QString(), QString(),
                                          versionDots(dev->m_hw_version));
    }
    if (!m_MultiScanDevice.isActive())
        m_MultiScanDevice.start(ScanIntervalMs);
}

int Tessark::boardIndexOfDevice() const
{
    const Device* dev = device();
    if (!dev)
        return -1;
    const QString name = dev->boardName();
    for (int i = 0; i < m_data.boards.size(); ++i) {
        if (m_data.boards[i] && m_data.boards[i]->name == name)
            return i;
    }
    return -1;
}

bool Tessark::checkVersion()
{
    const Device* dev = device();
    if (!dev)
        return false;
    const double shown = dev->m_fw_version / 100.0;
    const int index = boardIndexOfDevice();
    const double minimum = index >= 0 ? m_data.boards[index]->fw : 0.0;
    if (index < 0 || minimum == 0.0) {
        qDebug() << "Check version error：version = " << minimum;
        return false;
    }
    qDebug() << "当前版本：v" + QString::number(shown, 'f', 2);
    if (minimum > shown) {
        const QString a = QStringLiteral("<font color='red'>v") + QString::number(shown, 'f', 2) + QStringLiteral("</font>");
        const QString b = QStringLiteral("<font color='red'>v") + QString::number(minimum, 'f', 2) + QStringLiteral("</font>");
        MessageBoxRequest request;
        request.title = QStringLiteral("Firmware Update");
        request.text = QStringLiteral("Firmware Version: ") + a + QStringLiteral(" less than ") + b +
                       QStringLiteral(", Firmware Update you sure!");
        request.textFormat = Qt::RichText; // the red versions; both inserts are numbers
        request.buttons = QMessageBox::Yes | QMessageBox::No;
        request.defaultButton = QMessageBox::Yes;
        return messagebox::show(request) == QMessageBox::Yes;
    }
    return false;
}

QString Tessark::createCurDeviceFile()
{
    const Device* dev = device();
    if (!dev)
        return QString();
    const QString id = QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(dev->m_deviceId), int(sizeof dev->m_deviceId)).toHex());
    const QString folder = m_appDir + QLatin1Char('/') + id;
    if (!QFileInfo(folder).isDir()) {
        // In the application folder only where that still stands: one moved away is not made again.
        QDir().mkdir(folder);
        qDebug() << "文件夹  不存在，创建。" << folder;
    } else {
        qDebug() << "文件夹  存在, 不创建。" << folder;
    }
    const QString file = folder + QStringLiteral("/shortcuts.xml");
    // Only where nothing stands: whatever is there (a FIFO, a folder) is the page's to judge and tell,
    // and a new file would replace it.
    if (!QFileInfo::exists(file)) {
        SaveFile f(file);
        if (f.open(QIODevice::WriteOnly | QIODevice::Text) && f.commit())
            qDebug() << "文件    不存在，创建完成: shortcuts.xml";
        else
            qDebug() << "create file error!";
    }
    return folder + QLatin1Char('/');
}

void Tessark::switchUsbDevice(UsbData chosen)
{
    bool listed = false;
    if (m_menuTree) {
        for (const UsbData& d : m_menuTree->devices())
            listed = listed || d.path == chosen.path;
    }
    if (chosen.path.isEmpty() || !listed) {
        qDebug() << "switch device: not a listed keyboard:" << chosen.path;
        return;
    }
    // A switch would close the keyboard under a running upgrade, which would then never end.
    if (m_upgradePhase != UpgradePhase::Idle) {
        qDebug() << "switch device refused: a firmware upgrade runs.";
        return;
    }
    if (!m_connection->usb()) {
        // Nothing open yet: open the chosen keyboard rather than the first listed one.
        m_scanDevice.stop();
        m_data.devicePath = chosen.path;
        setTabsDisabled(true);
        openUSB();
        return;
    }
    if (chosen.path == m_connection->usb()->path()) {
        qDebug() << "=====相同设备，不切换=====";
        m_menuTree->selectDevice(chosen);
        return;
    }
    m_switching = true;
    qDebug() << "=====切换设备=====";
    m_MultiScanDevice.stop();
    m_scanDevice.stop();
    closeDevice();
    const QString path = chosen.path;
    QTimer::singleShot(SwitchDelayMs, this, [this, path] {
        m_data.devicePath = path;
        setTabsDisabled(true);
        openUSB();
        m_switching = false;
    });
}
