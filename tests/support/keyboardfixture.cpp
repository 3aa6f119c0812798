#include "keyboardfixture.h"

#include <QMetaObject>

KeyboardFixture::KeyboardFixture(const sim::KeyboardConfig& config)
    : kb(sim::plug(config))
{
    usb = new Usb(&lock.cond, &lock.mutex, &lock.waiting);
    device = new Device(usb, &lock.cond, &lock.mutex, &lock.waiting);
    device->setWriteFailureNotifier([this](uint32_t code) { writeFailures << code; });
    QObject::connect(usb, &Usb::emitRecvCmd, device, &Device::recvCmdSlot);
}

KeyboardFixture::~KeyboardFixture()
{
    close();
    sim::unplug(kb);
}

bool KeyboardFixture::open()
{
    if (!usb->openPath(kb->commandPath()))
        return false;
    usb->moveToThread(&usbThread);
    usbThread.start();
    QMetaObject::invokeMethod(usb, "readSlot", Qt::QueuedConnection);
    return true;
}

bool KeyboardFixture::loadNow()
{
    bool finished = false;
    const auto c = QObject::connect(device, &Device::emitFinishLoad, [&finished] { finished = true; });
    device->loadDevInfoSlot();
    QObject::disconnect(c);
    return finished;
}

void KeyboardFixture::moveDeviceToThread()
{
    device->moveToThread(&deviceThread);
    deviceThread.start();
}

void KeyboardFixture::close()
{
    if (!usb)
        return;
    device->requestStop();
    usb->stopRead();
    deviceThread.quit();
    deviceThread.wait();
    usbThread.quit();
    usbThread.wait();
    usb->close();
    delete device;
    delete usb;
    device = nullptr;
    usb = nullptr;
}
