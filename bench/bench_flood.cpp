// A flood of one unrequested report (a lock state) from an emulated keyboard, sent as fast as the read
// loop takes it, while the protocol client handles reports on its own thread with its log lines formatted
// (and discarded): reports how fast they were read, how many were dropped past the backlog bound, how
// long the backlog took to empty after the flood, the largest backlog seen and the growth of the
// resident memory (which counts the emulated keyboard's own log of every report as well).
// Usage: bench_flood [reports]; 300000 unless given.
#include "benchsupport.h"
#include "keyboardfixture.h"
#include "wire.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

namespace {
void discardMessages(QtMsgType, const QMessageLogContext&, const QString& m)
{
    volatile int n = m.size(); // formatted, as the log would
    (void)n;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(discardMessages);
    const int reports = argc > 1 ? std::max(1, atoi(argv[1])) : 300000;

    KeyboardFixture f;
    f.moveDeviceToThread();
    if (!f.open()) {
        std::fprintf(stderr, "the emulated keyboard did not open\n");
        return 1;
    }
    const long rssBefore = residentKiB(QCoreApplication::applicationPid());
    std::atomic<bool> flooding{true};
    std::atomic<int> peak{0};
    std::thread watch([&] {
        while (flooding)
            peak = std::max(peak.load(), f.usb->backlog()), QThread::usleep(200);
    });
    QElapsedTimer clock;
    clock.start();
    const int sent = f.kb->flood(report(0xF0, 0x21, 1), reports);
    const qint64 floodMs = clock.elapsed();
    const long rssPeak = residentKiB(QCoreApplication::applicationPid());
    clock.restart();
    while (f.usb->backlog() > 0 && clock.elapsed() < 600000)
        QThread::msleep(1);
    const qint64 drainMs = clock.elapsed();
    flooding = false;
    watch.join();
    std::printf("reports sent           %d of %d in %lld ms (%.0f per second)\n", sent, reports,
                static_cast<long long>(floodMs), floodMs > 0 ? sent * 1000.0 / floodMs : 0.0);
    std::printf("dropped past the bound %d (bound %d)\n", f.usb->droppedReports(), Usb::MaxBacklog);
    std::printf("largest backlog seen   %d\n", peak.load());
    std::printf("backlog emptied after  %lld ms\n", static_cast<long long>(drainMs));
    std::printf("resident memory        +%ld KiB during the flood\n", rssPeak - rssBefore);
    f.close();
    return sent == reports ? 0 : 1;
}
