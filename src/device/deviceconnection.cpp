#include "deviceconnection.h"

#include "device.h"
#include "usb.h"

#include <QPointer>

#include <QDebug>

DeviceConnection::DeviceConnection(QObject* parent)
    : QObject(parent)
{
    m_usbThread.setObjectName(QStringLiteral("usb"));
    m_deviceThread.setObjectName(QStringLiteral("device"));
}

DeviceConnection::~DeviceConnection()
{
    if (!close()) {
        // Owners leak a stuck connection; destroying running threads would abort the process.
        qWarning() << "device connection destroyed while its device thread runs: waiting for it";
        m_deviceThread.wait();
        m_stuck = false;
        close();
    }
}

void DeviceConnection::open(ushort vid, ushort pid, int iface, const QString& path)
{
    if (!close())
        return;
    m_usb = new Usb(&m_lock.cond, &m_lock.mutex, &m_lock.waiting);
    m_usb->moveToThread(&m_usbThread);
    connect(this, &DeviceConnection::emitUsbOpen, m_usb, &Usb::openSlot);
    connect(m_usb, &Usb::emitOpenSucceeded, this, &DeviceConnection::usbOpenSucceededSlot);
    connect(m_usb, &Usb::emitUsbDisconnect, this, &DeviceConnection::emitUsbDisconnect);
    m_usbThread.start(ThreadPriority);
    emit emitUsbOpen(vid, pid, iface, path);
}

void DeviceConnection::usbOpenSucceededSlot()
{
    if (!m_usb || m_device)
        return;
    m_device = new Device(m_usb, &m_lock.cond, &m_lock.mutex, &m_lock.waiting);
    m_device->moveToThread(&m_deviceThread);
    connect(m_usb, &Usb::emitRecvCmd, m_device, &Device::recvCmdSlot);
    connect(m_device, &Device::emitFinishLoad, this, &DeviceConnection::emitFinishLoad);
    connect(m_device, &Device::emitLoadDevInfoError, this, &DeviceConnection::emitLoadDevInfoError);
    relayNotifications();
    connect(m_device, &Device::emitState, this, &DeviceConnection::emitState);
    connect(this, &DeviceConnection::emitLoadDevInfo, m_device, &Device::loadDevInfoSlot);
    m_deviceThread.start(ThreadPriority);
    emit emitOpenSucceeded();
    emit emitLoadDevInfo();
}

void DeviceConnection::relayNotifications()
{
    // Queued, always: a report is handled after whatever sent the request that caused it returned. The
    // client counts it as waiting until the receivers of emitNotify, called directly, are done with it.
    const QPointer<Device> from = m_device;
    from->countNotificationsInFlight(true);
    connect(
        m_device, &Device::emitNotify, this,
        [this, from](const QByteArray& report) {
            emit emitNotify(report);
            if (from)
                from->notificationHandled();
        },
        Qt::QueuedConnection);
}

void DeviceConnection::usbQuitThreadSlot()
{
    if (!m_usb)
        return;
    // A late disconnect from this transport must not reach whoever opens the next one.
    disconnect(m_usb, nullptr, this, nullptr);
    m_usb->stopRead();
    if (m_usbThread.isRunning()) {
        Usb* usb = m_usb;
        QMetaObject::invokeMethod(usb, [usb] { usb->cancelOpen(); }, Qt::BlockingQueuedConnection);
    }
    m_usbThread.quit();
    m_usbThread.wait();
    m_usb->close();
    delete m_usb;
    m_usb = nullptr;
}

void DeviceConnection::lend(Device* device)
{
    if (m_lent) {
        disconnect(m_device, nullptr, this, nullptr);
        m_device->countNotificationsInFlight(false);
        m_device = nullptr;
        m_lent = false;
    }
    if (!device || m_device || m_usb)
        return;
    m_device = device;
    m_lent = true;
    relayNotifications();
    connect(m_device, &Device::emitState, this, &DeviceConnection::emitState);
}

bool DeviceConnection::deviceQuitThreadSlot()
{
    if (m_stuck)
        return false;
    if (m_lent) {
        lend(nullptr);
        return true;
    }
    if (m_device) {
        disconnect(m_device, nullptr, this, nullptr);
        // Frees a request or a loading step that waits, before the thread is asked to end.
        m_device->requestStop();
    }
    // The read loop no longer wakes anyone once the client goes.
    if (m_usb)
        m_usb->stopRead();
    m_deviceThread.quit();
    if (!m_deviceThread.wait(DeviceStopWaitMs)) {
        qWarning() << "device thread still runs" << DeviceStopWaitMs << "ms after the stop request;"
                   << "the keyboard stays open and its objects alive";
        m_stuck = true;
        return false;
    }
    delete m_device;
    m_device = nullptr;
    return true;
}

bool DeviceConnection::close()
{
    if (!deviceQuitThreadSlot())
        return false;
    usbQuitThreadSlot();
    return true;
}
