// Loads an emulated 104-key keyboard with a 1 ms report delay and reports the cost of each request.
#include "keyboardfixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <atomic>
#include <cstdio>

namespace {
// Fixed sleeps of a successful first attempt: only the pause after the device information.
constexpr int FixedSleepMs = 1000;
constexpr uint32_t Running = 0xFFFFFFFF;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    KeyboardFixture f; // sim::KeyboardConfig defaults: the 104-key keyboard with every table
    f.kb->setReportDelay(1);
    if (!f.open()) {
        std::fprintf(stderr, "cannot open the emulated keyboard\n");
        return 1;
    }
    f.moveDeviceToThread();
    QSignalSpy finished(f.device, &Device::emitFinishLoad);
    std::atomic<uint32_t> result{Running};
    const int writesBefore = f.kb->writes();

    QElapsedTimer clock;
    clock.start();
    Device* d = f.device;
    QMetaObject::invokeMethod(d, [&result, d] { result = d->loadDevInfoSlot(); }, Qt::QueuedConnection);
    while (result.load() == Running && clock.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const qint64 wallMs = clock.elapsed();

    if (result.load() != DeviceResult::Ok || finished.count() != 1) {
        std::fprintf(stderr, "load failed: result %08x\n", unsigned(result.load()));
        return 1;
    }
    const int requests = f.kb->writes() - writesBefore;
    const double perRequest = double(wallMs - FixedSleepMs) / requests;
    std::printf("requests exchanged:            %d\n", requests);
    std::printf("wall time:                     %lld ms\n", static_cast<long long>(wallMs));
    std::printf("per request without sleeps:    %.2f ms (fixed sleeps %d ms removed)\n", perRequest, FixedSleepMs);
    std::printf("ratio to the read loop pause:  %.2f (pause %d ms)\n", perRequest / Usb::PassPauseMs,
                Usb::PassPauseMs);
    return 0;
}
