#pragma once
// The firmware upgrade's worker threads, held so that a device close can stop and join them first.
#include "progressrelay.h"

#include <QPointer>
#include <QThread>

class Device;
class updateDFUBtThread;

class UpgradeThreads {
public:
    // How long stop() waits for each thread, as a device close does for the device thread.
    static constexpr unsigned long StopWaitMs = 3000;

    UpgradeThreads();
    // Stops and joins what still runs; the objects stay their owners'.
    ~UpgradeThreads();
    UpgradeThreads(const UpgradeThreads&) = delete;
    UpgradeThreads& operator=(const UpgradeThreads&) = delete;

    // The thread the USB bootloader's Device runs its acknowledgement loop on.
    QThread& firmwareThread() { return m_firmwareThread; }
    void setFirmwareDevice(Device* device);
    Device* firmwareDevice() const;
    void setBtThread(updateDFUBtThread* thread);
    updateDFUBtThread* btThread() const;
    // Where both threads' per-packet byte counts go (connected directly); it hands them on to this
    // object's thread with at most one delivery pending. Outlives the threads.
    ProgressRelay& progressRelay() { return m_progressRelay; }

    // Asks both loops to end and waits for them, each bounded by StopWaitMs. False when one still
    // runs: it may still read the transport, which must then stay open.
    bool stop();

private:
    ProgressRelay m_progressRelay; // first: destroyed after the threads are joined
    QThread m_firmwareThread;
    QPointer<Device> m_firmwareDevice;
    QPointer<updateDFUBtThread> m_btThread; // deleted by its owner when it finishes
};
