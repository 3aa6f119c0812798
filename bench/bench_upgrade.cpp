// Uploads a 128 KiB image (or as many bytes as the first argument says) to the emulated USB bootloader
// and to the emulated Bluetooth module with a 1 ms per-report delay (the bootloader's may be given as
// the second argument), and compares the throughput with one packet per 2 ms round trip.
#include "device/updatedfubtthread.h"
#include "keyboardfixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <cstdio>

namespace {
int ImageSize = 128 * 1024; // or the first argument, as bench_fullupgrade takes it
int BootloaderDelayMs = 1;   // or the second argument
constexpr int RoundTripMs = 2; // one report each way at 1 ms

QByteArray image(int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char(i * 31);
    return b;
}

bool waitFor(const QSignalSpy& done, const QSignalSpy& failed, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (done.isEmpty() && failed.isEmpty() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return !done.isEmpty();
}

void print(const char* what, int bytes, qint64 ms, int bytesPerPacket)
{
    std::printf("%-22s %d bytes in %lld ms: %.0f bytes/s (bound %d bytes per %d ms: %d bytes/s)\n", what, bytes,
                static_cast<long long>(ms), bytes * 1000.0 / double(ms), bytesPerPacket, RoundTripMs,
                bytesPerPacket * 1000 / RoundTripMs);
}

int usbBootloader()
{
    auto bl = sim::plugBootloader();
    bl->setReportDelay(BootloaderDelayMs);
    Usb usb(nullptr, nullptr, nullptr);
    usb.setIds(0x0416, 0xA316, -1);
    if (!Device::dfuOpen(&usb))
        return 1;
    Device* device = new Device(&usb, nullptr, nullptr, nullptr);
    QThread thread;
    device->moveToThread(&thread);
    QObject::connect(&thread, &QThread::started, device, &Device::readDFUUsbSlot);
    QSignalSpy done(device, &Device::emitUpdateDfuFinished);
    QSignalSpy failed(device, &Device::emitStopDfu);
    thread.start();
    QByteArray bytes = image(ImageSize);
    QElapsedTimer clock;
    clock.start();
    device->dfuStartUpdateFW(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
    const bool ok = waitFor(done, failed, 120000 + ImageSize / 10) && bl->image() == bytes;
    const qint64 ms = clock.elapsed();
    device->requestStop();
    thread.quit();
    thread.wait();
    delete device;
    usb.close();
    if (!ok)
        return 1;
    print("USB bootloader:", ImageSize, ms, 56);
    return 0;
}

int bluetoothModule()
{
    KeyboardFixture f;
    f.kb->setReportDelay(1);
    if (!f.open() || f.device->appBoot() != DeviceResult::Ok)
        return 1;
    f.usb->setReadingEnabled(false);
    updateDFUBtThread thread;
    QSignalSpy done(&thread, &updateDFUBtThread::emitUpdateDfuFinished);
    QSignalSpy failed(&thread, &updateDFUBtThread::UpdateError);
    const QByteArray bytes = image(ImageSize);
    thread.setUsb(f.usb);
    thread.setImage(reinterpret_cast<const uint8_t*>(bytes.constData()), uint32_t(bytes.size()));
    thread.setRunning(true);
    thread.start(QThread::HighestPriority);
    QElapsedTimer clock;
    clock.start();
    thread.bt_erase_app_com();
    const bool ok = waitFor(done, failed, 120000 + ImageSize / 10) && f.kb->btModule().application.left(ImageSize) == bytes;
    const qint64 ms = clock.elapsed();
    thread.stop();
    thread.wait();
    f.usb->setReadingEnabled(true);
    if (!ok)
        return 1;
    print("Bluetooth module:", ImageSize, ms, 48);
    return 0;
}
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {}); // a line per packet
    if (argc > 1)
        ImageSize = QByteArray(argv[1]).toInt();
    if (argc > 2)
        BootloaderDelayMs = QByteArray(argv[2]).toInt();
    if (ImageSize <= 0 || ImageSize > 16 * 1024 * 1024 || BootloaderDelayMs < 0 || BootloaderDelayMs > 100) {
        std::fprintf(stderr, "usage: bench_upgrade [image bytes, 1 to 16777216 [bootloader delay ms, 0 to 100]]\n");
        return 2;
    }
    if (usbBootloader() != 0) {
        std::fprintf(stderr, "USB bootloader upload failed\n");
        return 1;
    }
    if (bluetoothModule() != 0) {
        std::fprintf(stderr, "Bluetooth module upload failed\n");
        return 1;
    }
    return 0;
}
