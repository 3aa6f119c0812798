// Closing the open keyboard, and quitting: a timed sequence that closes the keyboard at once, tears
// the window's objects down a second later and then ends the event loop.
#include "tessark.h"

#include "Update/overallvariate.h"
#include "macro/macro.h"
#include "main/loghandler.h"
#include "setting/Language.h"
#include "setting/setting.h"
#include "shortcut/shortcuts.h"
#include "widget/keybtn.h"
#include "widget/menu.h"
#include "widget/menutree.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QGuiApplication>
#include <QLabel>

namespace {
constexpr int QuitTickMs = 500;
constexpr int CloseAfterTeardownMs = 100;
}

bool Tessark::closeDevice()
{
    qDebug() << "close device.....";
    // From here on the tables are no longer the picture's to read.
    m_deviceLoaded = false;
    // An open settings page stays (firmware mode, or an upgrade that closes the keyboard itself).
    if (!m_ptrSetting)
        applyBoardFeatures(nullptr);
    // The layers belong to this keyboard; the next one builds its own.
    deleteGlobuleKeyLayer();
    deleteGlobuleColorLayer();
    deleteGlobuleModeLayer();
    // After the layers: the page skips the row frames that went with them.
    deleteColor();
    deleteDynamicKeybtn();
    if (g_overallVariate) {
        g_overallVariate->setOnlinState(false);
        g_overallVariate->clearFirmwareInfo();
    }
    if (m_ptrShortcuts)
        m_ptrShortcuts->clearVirtualKeyboard();
    if (m_ptrSetting) {
        qDebug() << "Setting clear Information;";
        m_ptrSetting->clearInformation();
        m_ptrSetting->setBuildingBlockButtonVisible(false);
    }
    if (m_ptrShortcuts) {
        qDebug() << "Delete shortcuts KF.";
        m_ptrShortcuts->deleteKF();
    }
    if (m_ptrMacro) {
        qDebug() << "Delete macro item all.";
        m_ptrMacro->releaseDevice();
    }
    qDebug() << "start delete dynmic keybtn all.";
    deleteDynamicKeybtn();
    createDisconPixBackground();

    // An upgrade thread reads the same transport: it ends before the transport closes.
    if (!m_upgrade.stop()) {
        qWarning() << "an upgrade thread did not stop: the keyboard stays open";
        abandonConnection();
    } else {
        deviceQuitThreadSlot();
        if (m_connection->usb())
            qDebug() << "quit usb finish.";
        if (!m_connection->close())
            abandonConnection();
    }
    qDebug() << "0000000000000000000-closeDevice-0000000000000000000";
    return true;
}

void Tessark::deviceQuitThreadSlot()
{
    if (!m_connection->device())
        return;
    qDebug() << "quit device finished.";
    // A device thread that does not end leaves the transport it reads open: the whole connection goes.
    if (!m_connection->deviceQuitThreadSlot())
        abandonConnection();
}

void Tessark::abandonConnection()
{
    // Leaked whole (threads, lock, transport) rather than freeing anything a running thread may
    // still use; the window goes on with a fresh connection.
    disconnect(m_connection, nullptr, this, nullptr);
    m_connection->setParent(nullptr);
    m_connection = new DeviceConnection(this);
    wireConnection();
}

void Tessark::usbDisconnectSLot()
{
    // The keyboard left for its bootloader: the USB upgrade waits for it, nothing to close.
    if (m_waitOpenDfuTimer.isActive())
        return;
    const bool bluetoothUpgrade = m_upgradePhase == UpgradePhase::Bluetooth;
    qDebug() << "start scan usb open mode.";
    closeDevice();
    // Unplugged during the Bluetooth images: the close stopped the thread, perhaps before it could
    // report; the upgrade ends here as after a failed read.
    if (bluetoothUpgrade)
        btUpgradeStopSlot();
    if (!m_switching && !m_exiting)
        m_scanDevice.start(ScanIntervalMs);
}

void Tessark::deviceLoadInfoError()
{
    qDebug() << "Device Load Info Error.";
    qDebug() << "在加载Device时，出现错误，卡顿在USB写入数据中......测试处理.........";
    closeDevice();
    // Our own close stops the read loop quietly (its disconnect no longer reaches this window), so
    // the scan is restarted here: the keyboard is tried again on a later tick.
    if (!m_switching && !m_exiting)
        m_scanDevice.start(ScanIntervalMs);
}

void Tessark::CheckDfuUsbDisconnectSlot()
{
    qDebug() << "USB disconnect slot().";
    // The close stops the transport after the threads that read it.
    closeDevice();
    if (m_exiting)
        return;
    m_MultiScanDevice.start(ScanIntervalMs);
    m_scanDevice.start(ScanIntervalMs);
}

// ---- quitting ---------------------------------------------------------------------------------

void Tessark::exitAppActionSlot()
{
    if (m_exiting)
        return;
    m_exiting = true;
    // At once, not when the teardown a second later waits for it: no updater starts from here on.
    if (g_overallVariate)
        g_overallVariate->askWorkerToStop();
    if (m_ptrMacro && m_ptrMacro->isRecording()) {
        m_ptrMacro->setRecording(false);
        qDebug() << "stop macro recorder.";
    }
    hide();
    m_scanDevice.stop();
    m_MultiScanDevice.stop();
    stopUpgradeForExit();
    // Nothing may restart the device roads from here on.
    if (m_trayIcon)
        disconnect(m_trayIcon, &QSystemTrayIcon::activated, this, &Tessark::activatedSysTrayIconSlot);
    if (m_minimizeAction)
        disconnect(m_minimizeAction, &QAction::triggered, this, &Tessark::mainHide);
    if (m_restoreAction)
        disconnect(m_restoreAction, &QAction::triggered, this, &Tessark::mainShow);
    if (m_exitAction)
        disconnect(m_exitAction, &QAction::triggered, this, &Tessark::exitAppActionSlot);
    disconnect(&m_scanDevice, &QTimer::timeout, this, &Tessark::scanDeviceSlot);
    disconnect(&m_MultiScanDevice, &QTimer::timeout, this, &Tessark::MultiscanDeviceSlot);
    deinitTools();
}

void Tessark::deinitTools()
{
    m_scanDevice.stop();
    closeDevice();
    qDebug() << "delete close device finish.";
    m_quitTimer = new QTimer(this);
    connect(m_quitTimer, &QTimer::timeout, this, &Tessark::quitSlot);
    m_quitTimer->start(QuitTickMs);
    m_quitPending = true;
}

void Tessark::quitSlot()
{
    qDebug() << "quit tick" << m_quitTicks;
    const int before = m_quitTicks--;
    if (before != 0 || !m_quitPending)
        return;
    m_quitPending = false;
    quitTessark();
    m_quitTimer->stop();
    disconnect(m_quitTimer, &QTimer::timeout, this, &Tessark::quitSlot);
    connect(m_quitTimer, &QTimer::timeout, this, &QWidget::close);
    QGuiApplication::setQuitOnLastWindowClosed(true);
    m_quitTimer->start(CloseAfterTeardownMs);
}

void Tessark::quitTessark()
{
    // The update worker reaches the language and the hub from its own thread: it ends before either goes.
    if (g_overallVariate)
        g_overallVariate->stopWorker();
    deleteGlobuleKeyLayer();
    deleteGlobuleColorLayer();
    deleteGlobuleModeLayer();
    if (m_hideTimer) {
        m_hideTimer->stop();
        delete m_hideTimer;
        m_hideTimer = nullptr;
    }
    deleteColor();
    deleteSetting();
    deleteShortcut();
    deleteMacro();
    logDroppedAtStop();
    qDebug() << "delete static dialog finish.";
    delete m_menuTree;
    m_menuTree = nullptr;
    qDebug() << "delete menu tree finished.";
    deleteDynamicKeybtn();
    qDebug() << "delete synmic keyBtn finish.";
    m_pStaticKeyBtn = nullptr;
    m_pStaticKeyBtnHighlight = nullptr;
    qDeleteAll(m_vStaticKeyBtn);
    m_vStaticKeyBtn.clear();
    qDebug() << "delete static keyBtn finish.";
    deleteDisconPixBackground();
    qDebug().noquote() << QStringLiteral("Tessark quit.")
                       << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    if (m_trayIcon) {
        m_trayIcon->hide();
        delete m_trayIcon;
        m_trayIcon = nullptr;
    }
    delete g_language;
    g_language = nullptr;
    delete g_overallVariate;
    g_overallVariate = nullptr;
}

void Tessark::deleteOverallVariateLater()
{
    if (!g_overallVariate)
        return;
    g_overallVariate->deleteLater();
    g_overallVariate = nullptr;
}

void Tessark::closeEvent(QCloseEvent* event)
{
    qDebug() << "colseEvent()";
    if (m_quitTimer) {
        qDebug() << "0000000000000000000-normal quit-0000000000000000000";
        // Closed before the second tick tore down: the pages still get to save what they hold.
        if (m_quitPending) {
            m_quitPending = false;
            quitTessark();
        }
        m_quitTimer->stop();
        m_quitTimer->deleteLater(); // this may run inside its own timeout
        m_quitTimer = nullptr;
    } else if (!m_exiting) {
        // Closed by the system (task bar, Alt+F4): tear down at once, without the timed sequence.
        qDebug() << "0000000000000000000-unmormal quit-0000000000000000000";
        m_exiting = true;
        m_scanDevice.stop();
        m_MultiScanDevice.stop();
        stopUpgradeForExit();
        closeDevice();
        quitTessark();
    }
    qDebug() << "0000000000000000000-closeEvent-0000000000000000000";
    if (isVisible())
        event->accept();
    else
        event->ignore();
    LogHandler::instance()->release();
    QCoreApplication::quit();
}
