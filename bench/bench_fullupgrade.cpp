// A three-image firmware upgrade from the settings page against an emulated keyboard answering each
// report after 1 ms: wall time of each phase (Bluetooth application, SoftDevice, the restart and the
// bootloader ticks, the USB application, the reload) with the ring's percentage at its end.
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
#include <QTest>
#include <cstdio>

namespace {

QElapsedTimer g_clock;
QMutex g_mutex;
QList<QPair<qint64, QString>> g_lines;
QtMessageHandler g_next = nullptr;

void record(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    {
        QMutexLocker lock(&g_mutex);
        g_lines.append({g_clock.elapsed(), text});
    }
    Q_UNUSED(type);
    Q_UNUSED(context);
}

// When a line starting with text was first logged, -1 if never.
qint64 at(const QString& text)
{
    QMutexLocker lock(&g_mutex);
    for (const auto& line : qAsConst(g_lines))
        if (line.second.contains(text))
            return line.first;
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
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TempAppDir dir;
    if (!dir.setUpForWindow(QFINDTESTDATA("../appdir"))) {
        std::fprintf(stderr, "cannot set up the application folder\n");
        return 1;
    }
    constexpr int AppSize = 96 * 1024, SdSize = 64 * 1024, UsbSize = 128 * 1024;
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
    QElapsedTimer wait;
    wait.start();
    while (!w.deviceLoaded() && wait.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!w.deviceLoaded()) {
        std::fprintf(stderr, "the keyboard did not load\n");
        return 1;
    }
    kb->setReportDelay(1);
    bl->setReportDelay(1);

    g_clock.start();
    g_next = qInstallMessageHandler(record);
    QList<QPair<QString, int>> ring; // percentage at each phase's end
    const QStringList ends = {QStringLiteral("升级qv_bt_app"), QStringLiteral("Update DFU close device finished."),
                              QStringLiteral("设备检测正常"), QStringLiteral("Update DFU finished slot."),
                              QStringLiteral("keyboard picture drawn")};
    w.updateSlot(folder);
    int next = 1;
    while (g_clock.elapsed() < 180000 && at(ends.last()) < 0) {
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
    std::printf("return and reload of the keyboard:     %6lld ms\n", (long long)(reloaded - usbDone));
    std::printf("total:                                 %6lld ms\n", (long long)reloaded);
    if (qEnvironmentVariableIsSet("BENCH_TRACE")) {
        int shown = 0;
        for (const auto& line : qAsConst(g_lines))
            if (line.first >= opened && shown++ < 60)
                std::printf("%lld %s\n", (long long)line.first, qPrintable(line.second.left(100)));
    }
    for (const auto& r : ring)
        std::printf("ring at \"%s\": %d %%\n", qPrintable(r.first), r.second);
    return 0;
}
