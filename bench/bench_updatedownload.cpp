// Throughput of one signed update download through the worker on its own thread, from the local servers:
// the time from the request to the file written and reported, for a firmware image of the given size
// (at most the 16 MiB an image may have).
// Usage: bench_updatedownload [runs] [MiB]
#include "tempappdir.h"
#include "updateserver.h"

#include "Update/downloadfile.h"
#include "Update/overallvariate.h"
#include "widget/qss.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
const QByteArray Key = "abcdefg0123456789abcdef0123456789abcdef0";
constexpr int TimeoutMs = 120000;
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 5;
    constexpr int MaxMib = int(DownloadFile::MaxImageFileBytes / (1024 * 1024));
    const int mib = argc > 2 ? qBound(1, atoi(argv[2]), MaxMib) : MaxMib;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {}); // the worker's lines

    TempAppDir appDir;
    setAppDirPathForTest(appDir.path());
    QTemporaryDir served;
    const QString link = QStringLiteral("/UpgradeFirmware/TK104 Dual/qv_usb_app_1.bin");
    QByteArray image(mib * 1024 * 1024, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char((uint32_t(i) * 2654435761u) >> 24);
    QDir().mkpath(served.filePath(QStringLiteral("UpgradeFirmware/TK104 Dual")));
    QFile f(served.filePath(link.mid(1)));
    if (!f.open(QIODevice::WriteOnly) || f.write(image) != image.size())
        return 1;
    f.close();

    sim::UpdateServers servers(served.path(), Key);
    const QString ini = appDir.filePath(QStringLiteral("servers.ini"));
    if (!servers.start() || !servers.writeConfig(ini))
        return 1;
    qputenv("TESSARK_UPDATE_CONFIG", ini.toUtf8());

    overallVariate hub;
    g_overallVariate = &hub;
    QThread thread;
    auto* worker = new DownloadFile;
    worker->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    thread.start();

    std::printf("download of %d MiB from 127.0.0.1, runs: %d (plus one warm-up)\n", mib, runs);
    std::vector<double> ms;
    for (int run = -1; run < runs; ++run) {
        QEventLoop loop;
        bool done = false;
        const auto progress = QObject::connect(&hub, &overallVariate::downloadProgressSignal, &loop, [&] {
            done = true;
            loop.quit();
        });
        const auto error = QObject::connect(&hub, &overallVariate::ErrorInfoSignal, &loop, [&](const QString& e) {
            std::fprintf(stderr, "failed: %s\n", qPrintable(e));
            loop.quit();
        });
        QTimer::singleShot(TimeoutMs, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        QMetaObject::invokeMethod(worker, [worker, link] {
            // One firmware image, as the last step of a firmware update fetches it: the list's end only
            // names the folder to the window, which is not there.
            worker->setLinkList({link});
            worker->setDownloadMode(DownloadFile::FirmwareFiles);
            worker->Startdownload(0);
        });
        loop.exec();
        QObject::disconnect(progress);
        QObject::disconnect(error);
        const double elapsed = clock.nsecsElapsed() / 1e6;
        if (!done || QFileInfo(appDir.path() + link).size() != image.size()) {
            std::fprintf(stderr, "run %d: the file did not arrive whole\n", run);
            return 1;
        }
        if (run < 0)
            continue;
        std::printf("run %d: %8.1f ms, %7.1f MiB/s\n", run + 1, elapsed, mib * 1000.0 / elapsed);
        ms.push_back(elapsed);
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
    std::printf("median %.1f ms (%.1f MiB/s), min %.1f ms, max %.1f ms\n", median, mib * 1000.0 / median, ms.front(),
                ms.back());
    thread.quit();
    thread.wait();
    g_overallVariate = nullptr;
    return 0;
}
