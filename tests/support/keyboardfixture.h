#pragma once
// Connects a Device to an emulated keyboard through a real Usb read loop, as the main window does.
#include "device/device.h"
#include "device/requestlock.h"
#include "device/usb.h"
#include "simcontrol.h"

#include <QThread>

class KeyboardFixture {
public:
    explicit KeyboardFixture(const sim::KeyboardConfig& config = sim::KeyboardConfig());
    ~KeyboardFixture();

    // Opens the command interface at once (no open timer) and starts the read loop on its thread.
    // The Device stays on the calling thread; notifications reach it through the event loop.
    bool open();
    // Loads the keyboard on the calling thread; true when the load finished.
    bool loadNow();
    // Moves the Device to its own thread, as loading runs there.
    void moveDeviceToThread();
    // Stops the Device and the read loop, waits for both threads, closes the transport.
    void close();

    sim::KeyboardPtr kb;
    RequestLock lock;
    Usb* usb = nullptr;
    Device* device = nullptr;
    QThread usbThread;
    QThread deviceThread;

    // Key function write failures reported by the Device (instead of a message box).
    QList<uint32_t> writeFailures;
};
