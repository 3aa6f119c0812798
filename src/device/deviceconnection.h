#pragma once
// One keyboard connection: the shared request lock, the usb and device threads and their wiring.
#include "requestlock.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>

class Device;
class Usb;

class DeviceConnection : public QObject {
    Q_OBJECT
public:
    explicit DeviceConnection(QObject* parent = nullptr);
    ~DeviceConnection() override;

    // Creates the transport on the usb thread; it tries the path once a second until it opens, or
    // signals emitUsbDisconnect once the path is no longer enumerated.
    void open(ushort vid, ushort pid, int iface, const QString& path);
    // How long close() waits for the device thread to leave a request or the loading.
    static constexpr unsigned long DeviceStopWaitMs = 3000;
    // Both threads run at the highest priority: the read loop and the loading wait on the keyboard.
    static constexpr QThread::Priority ThreadPriority = QThread::TimeCriticalPriority;

    // Stops any request and the loading, ends both threads, closes the transport. Safe to repeat.
    // False when the device thread did not end in time: the transport then stays open and both
    // objects alive, so nothing is freed under the running thread; the owner must leak this object.
    bool close();

    // Hosts a loaded client made and owned elsewhere (an emulated keyboard loaded beside the window):
    // device() returns it and its notifications and setting results are relayed, until close()
    // or lend(nullptr), which only forget it. Only while nothing is open.
    void lend(Device* device);

    Usb* usb() const { return m_usb; }
    Device* device() const { return m_device; } // null until the transport opened
    RequestLock& lock() { return m_lock; }

signals:
    void emitUsbOpen(ushort vid, ushort pid, int iface, QString path);
    void emitLoadDevInfo();

    void emitOpenSucceeded();
    void emitFinishLoad();
    void emitLoadDevInfoError();
    // Each of the keyboard's notifications, on this object's thread. Connect directly: the client counts
    // a report as waiting until its receivers returned, which bounds how many can pile up.
    void emitNotify(QByteArray report);
    void emitState(int state, int code);
    void emitUsbDisconnect();

public slots:
    void usbOpenSucceededSlot();
    void usbQuitThreadSlot();
    // Ends the protocol client: wakes a request waiting in the device thread, ends that thread and
    // frees the client. False when the thread did not end in time (see close()).
    bool deviceQuitThreadSlot();

private:
    // Passes the client's notifications on (emitNotify) and tells it when they were handled.
    void relayNotifications();

    RequestLock m_lock;
    QThread m_usbThread;
    QThread m_deviceThread;
    Usb* m_usb = nullptr;
    Device* m_device = nullptr;
    bool m_stuck = false; // a close gave up on the device thread
    bool m_lent = false;  // m_device belongs to someone else
};
