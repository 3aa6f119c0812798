// A three-image firmware upgrade from the settings page against an emulated keyboard answering each
// report after 1 ms: wall time of each phase (Bluetooth application, SoftDevice, the restart and the
// bootloader ticks, the USB application, the reload) with the ring's percentage at its end, and the
// time from the USB image's last acknowledged packet to the window's "finished" (what the window
// still had to work through). The USB image's size, and the bootloader's answer delay, may be given
// as the arguments.
#include "tempappdir.h"

#include "main/tessark.h"
#include "setting/firmware.h"
#include "setting/schedule.h"
#include "setting/setting.h"
#include "sim/simcontrol.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QStringMatcher>
#include <QTest>
#include <atomic>
#include <cstdio>

namespace {

QElapsedTimer g_clock;
QtMessageHandler g_next = nullptr;

// The few phrases the run waits for, each with the time it was first logged (last for the ones marked
// so), recorded as the lines arrive: the firmware thread logs every packet, so keeping and scanning
// every line would put the harness's own cost into the figures.
struct Phrase {
    Phrase(const QString& t, bool l) : text(t), last(l), matcher(t) {}
    QString text;
    bool last; // keep the latest time, not the first
    QStringMatcher matcher;
    std::atomic<qint64> at{-1};
};
Phrase g_phrases[] = {
    {QStringLiteral("升级qv_bt_app"), false},
    {QStringLiteral("filepath="), false},
    {QStringLiteral("Update DFU close device finished."), false},
    {QStringLiteral("设备检测正常"), false},
    {QStringLiteral("dfu success...."), true}, // the last one: the USB image's last packet acknowledged
    {QStringLiteral("Update DFU finished slot."), false},
    {QStringLiteral("keyboard picture drawn"), false},
};

// BENCH_TRACE: the lines after the bootloader opened, at most TraceLines of them.
constexpr int TraceLines = 60;
bool g_trace = false;
QMutex g_traceMutex;
QList<QPair<qint64, QString>> g_traceLines;

// What the handler itself cost while the USB image went out (opened to finished), to show it is small
// against the phase's figure.
std::atomic<qint64> g_usbHandlerNs{0};
std::atomic<int> g_usbLines{0};

void record(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    Q_UNUSED(type);
    Q_UNUSED(context);
    const qint64 startNs = g_clock.nsecsElapsed();
    const qint64 now = startNs / 1000000;
    const bool usbPhase = g_phrases[3].at.load() >= 0 && g_phrases[5].at.load() < 0;
    for (Phrase& p : g_phrases) {
        if (p.matcher.indexIn(text) < 0)
            continue;
        qint64 unset = -1;
        if (p.last)
            p.at.store(now);
        else
            p.at.compare_exchange_strong(unset, now);
    }
    if (g_trace && g_phrases[3].at.load() >= 0) {
        QMutexLocker lock(&g_traceMutex);
        if (g_traceLines.size() < TraceLines)
            g_traceLines.append({now, text.left(100)});
    }
    if (usbPhase) {
        g_usbHandlerNs.fetch_add(g_clock.nsecsElapsed() - startNs);
        g_usbLines.fetch_add(1);
    }
}

// When the phrase was logged (see Phrase), -1 if never.
qint64 at(const QString& text)
{
    for (const Phrase& p : g_phrases)
        if (text == p.text)
            return p.at.load();
    return -1;
}

bool write(const QString& path, int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char(i * 13 + i / 251);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(b) == size;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) // a display may be chosen, e.g. xcb under Xvfb
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TempAppDir dir;
    if (!dir.setUpForWindow(QFINDTESTDATA("../appdir"))) {
        std::fprintf(stderr, "cannot set up the application folder\n");
        return 1;
    }
    // The USB image's size may be given (bytes); bench_upgrade takes the same argument.
    constexpr int AppSize = 96 * 1024, SdSize = 64 * 1024;
    const int UsbSize = argc > 1 ? QByteArray(argv[1]).toInt() : 128 * 1024;
    const int bootloaderDelayMs = argc > 2 ? QByteArray(argv[2]).toInt() : 1; // the bootloader's answer delay
    if (UsbSize <= 0 || UsbSize > Tessark::MaxImageBytes || bootloaderDelayMs < 0 || bootloaderDelayMs > 100) {
        std::fprintf(stderr, "usage: bench_fullupgrade [USB image bytes, 1 to %d [bootloader delay ms, 0 to 100]]\n",
                     int(Tessark::MaxImageBytes));
        return 2;
    }
    g_trace = qEnvironmentVariableIsSet("BENCH_TRACE");
    const QString folder = dir.filePath(QStringLiteral("images"));
    QDir().mkpath(folder);
    if (!write(folder + QStringLiteral("/qv_bt_app_1.bin"), AppSize)
        || !write(folder + QStringLiteral("/qv_bt_sd_1.bin"), SdSize)
        || !write(folder + QStringLiteral("/qv_usb_app_1.bin"), UsbSize)) {
        std::fprintf(stderr, "cannot write the images\n");
        return 1;
    }
    sim::KeyboardPtr kb = sim::plug(sim::fullSizeDual());
    sim::BootloaderConfig back;
    back.keyboard = sim::fullSizeDual();
    back.fwVersion = 300;
    sim::BootloaderPtr bl = kb->restartIntoBootloader(300, back);
    Tessark w(nullptr, QStringLiteral("None"));
    w.show(); // shown, as a user has it: every repaint of the ring is real work
    QElapsedTimer wait;
    wait.start();
    while (!w.deviceLoaded() && wait.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!w.deviceLoaded()) {
        std::fprintf(stderr, "the keyboard did not load\n");
        return 1;
    }
    kb->setReportDelay(1);
    bl->setReportDelay(bootloaderDelayMs);

    g_clock.start();
    g_next = qInstallMessageHandler(record);
    QList<QPair<QString, int>> ring; // percentage at each phase's end
    const QStringList ends = {QStringLiteral("升级qv_bt_app"), QStringLiteral("Update DFU close device finished."),
                              QStringLiteral("设备检测正常"), QStringLiteral("Update DFU finished slot."),
                              QStringLiteral("keyboard picture drawn")};
    w.updateSlot(folder);
    int next = 1;
    const qint64 limitMs = 180000 + qint64(UsbSize) / 10; // 10 bytes per ms: far below the bootloader's pace
    while (g_clock.elapsed() < limitMs && at(ends.last()) < 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (next < ends.size() && at(ends[next]) >= 0 && w.settingPage()) {
            ring.append({ends[next], w.settingPage()->firmware()->schedule()->progress()});
            ++next;
        }
    }
    qInstallMessageHandler(g_next);
    const qint64 start = 0;
    const qint64 sdStart = at(QStringLiteral("filepath="));
    const qint64 restart = at(QStringLiteral("Update DFU close device finished."));
    const qint64 opened = at(QStringLiteral("设备检测正常"));
    const qint64 lastPacket = at(QStringLiteral("dfu success...."));
    const qint64 usbDone = at(QStringLiteral("Update DFU finished slot."));
    const qint64 reloaded = at(QStringLiteral("keyboard picture drawn"));
    if (sdStart < 0 || restart < 0 || opened < 0 || usbDone < 0 || reloaded < 0) {
        std::fprintf(stderr, "the upgrade did not run through (%lld %lld %lld %lld %lld)\n", (long long)sdStart,
                     (long long)restart, (long long)opened, (long long)usbDone, (long long)reloaded);
        return 1;
    }
    std::printf("Bluetooth application, %d bytes:   %6lld ms  (%.1f kB/s)\n", AppSize, (long long)(sdStart - start),
                AppSize / double(sdStart - start));
    std::printf("SoftDevice, %d bytes:              %6lld ms  (%.1f kB/s)\n", SdSize, (long long)(restart - sdStart),
                SdSize / double(restart - sdStart));
    std::printf("0x85, pause, restart, bootloader ticks: %6lld ms\n", (long long)(opened - restart));
    std::printf("USB application, %d bytes:        %6lld ms  (%.1f kB/s)\n", UsbSize, (long long)(usbDone - opened),
                UsbSize / double(usbDone - opened));
    std::printf("last USB packet acknowledged to finished:  %6lld ms\n", (long long)(usbDone - lastPacket));
    std::printf("the bench's own log handler in the USB phase: %.1f ms over %d lines\n",
                double(g_usbHandlerNs.load()) / 1e6, g_usbLines.load());
    std::printf("return and reload of the keyboard:     %6lld ms\n", (long long)(reloaded - usbDone));
    std::printf("total:                                 %6lld ms\n", (long long)reloaded);
    if (g_trace) {
        QMutexLocker lock(&g_traceMutex);
        for (const auto& line : qAsConst(g_traceLines))
            std::printf("%lld %s\n", (long long)line.first, qPrintable(line.second));
    }
    for (const auto& r : ring)
        std::printf("ring at \"%s\": %d %%\n", qPrintable(r.first), r.second);
    return 0;
}
