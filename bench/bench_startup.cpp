// Starts the tool as a whole process several times: time to the main window shown, time to the first emulated
// keyboard's picture drawn (1 ms per report unless TESSARK_SIM_REPORT_DELAY_MS says otherwise), and resident memory.
// Usage: bench_startup [runs] [executable]; the platform is offscreen unless a display or QT_QPA_PLATFORM is set.
// TESSARK_BENCH_AUTO_CHECK=0 starts with automatic update checking off (config/AutoUpdate.xml), else it is on.
#include "benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
constexpr int TimeoutMs = 60000;
constexpr int SettleMs = 1000;
const char* const Drawn = "keyboard picture drawn";

bool copyTree(const QString& from, const QString& to)
{
    QDir source(from);
    if (!source.exists())
        return true;
    QDir().mkpath(to);
    for (const QFileInfo& entry : source.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isDir() ? !copyTree(entry.absoluteFilePath(), target) : !QFile::copy(entry.absoluteFilePath(), target))
            return false;
    }
    return true;
}

template <typename T>
void printFigure(const char* name, std::vector<T> values, const char* unit)
{
    std::sort(values.begin(), values.end());
    const T median = values.size() % 2 ? values[values.size() / 2]
                                       : (values[values.size() / 2 - 1] + values[values.size() / 2]) / 2;
    std::printf("%-28s median %8.1f %s   min %8.1f   max %8.1f\n", name, double(median), unit, double(values.front()),
                double(values.back()));
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 10;
    const QString exe = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QCoreApplication::applicationDirPath() + QStringLiteral("/../tessark-sim");
    const QString binDir = QFileInfo(exe).absolutePath();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")) && !env.contains(QStringLiteral("DISPLAY")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!env.contains(QStringLiteral("TESSARK_SIM_REPORT_DELAY_MS")))
        env.insert(QStringLiteral("TESSARK_SIM_REPORT_DELAY_MS"), QStringLiteral("1"));
    const bool autoCheck = qgetenv("TESSARK_BENCH_AUTO_CHECK") != "0";
    std::printf("executable: %s, platform: %s, report delay: %s ms, automatic update check: %s, runs: %d (plus one "
                "warm-up)\n",
                qPrintable(exe), qPrintable(env.value(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"))),
                qPrintable(env.value(QStringLiteral("TESSARK_SIM_REPORT_DELAY_MS"))), autoCheck ? "on" : "off", runs);

    std::vector<double> shownMs, drawnMs;
    std::vector<long> rssShown, rssSettled;
    for (int run = -1; run < runs; ++run) {
        // A fresh installation each time, as a user's first start: config, images and fonts beside it.
        QTemporaryDir dir;
        const QString app = dir.filePath(QStringLiteral("app"));
        QDir().mkpath(dir.filePath(QStringLiteral("run")));
        QFile::setPermissions(dir.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (const char* sub : {"config", "images", "font"})
            copyTree(binDir + QLatin1Char('/') + QLatin1String(sub), app + QLatin1Char('/') + QLatin1String(sub));
        if (!autoCheck) {
            QFile autoUpdate(app + QStringLiteral("/config/AutoUpdate.xml"));
            if (!autoUpdate.open(QIODevice::WriteOnly)
                || autoUpdate.write("<?xml version='1.0' encoding='UTF-8'?>\n<COMMAND>\n    <Update>\n"
                                    "        <AutoUpdate Auto=\"0\"/>\n    </Update>\n</COMMAND>\n") < 0)
                return 1;
        }
        const QString copy = app + QLatin1Char('/') + QFileInfo(exe).fileName();
        if (!QFile::copy(exe, copy)) {
            std::fprintf(stderr, "cannot copy %s\n", qPrintable(exe));
            return 1;
        }
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("xdgconfig")));

        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer clock;
        clock.start();
        p.start(copy, QStringList());
        QByteArray out;
        while (!out.contains("main window shown") && clock.elapsed() < TimeoutMs && p.state() != QProcess::NotRunning) {
            p.waitForReadyRead(5);
            out += p.readAll();
        }
        const double ms = clock.nsecsElapsed() / 1e6;
        if (!out.contains("main window shown")) {
            std::fprintf(stderr, "run %d: the window was not shown:\n%s\n", run, out.constData());
            return 1;
        }
        const long shownKiB = residentKiB(p.processId());
        while (!out.contains(Drawn) && clock.elapsed() < TimeoutMs && p.state() != QProcess::NotRunning) {
            p.waitForReadyRead(5);
            out += p.readAll();
        }
        const double drawn = clock.nsecsElapsed() / 1e6;
        if (!out.contains(Drawn)) {
            std::fprintf(stderr, "run %d: the keyboard picture was not drawn:\n%s\n", run, out.constData());
            return 1;
        }
        QThread::msleep(SettleMs);
        const long settledKiB = residentKiB(p.processId());
        p.kill();
        p.waitForFinished(10000);
        if (run < 0)
            continue;
        std::printf("run %2d: shown after %7.1f ms, picture drawn after %7.1f ms, VmRSS %6ld KiB at show, %6ld KiB "
                    "%d ms after the picture\n",
                    run + 1, ms, drawn, shownKiB, settledKiB, SettleMs);
        shownMs.push_back(ms);
        drawnMs.push_back(drawn);
        rssShown.push_back(shownKiB);
        rssSettled.push_back(settledKiB);
    }
    printFigure("start to window shown", shownMs, "ms ");
    printFigure("start to picture drawn", drawnMs, "ms ");
    printFigure("VmRSS at show", rssShown, "KiB");
    printFigure("VmRSS 1 s after picture", rssSettled, "KiB");
    return 0;
}
