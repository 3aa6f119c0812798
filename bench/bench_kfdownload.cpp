// Downloads 32 ticked key function rows to an emulated keyboard answering each report after 1 ms, and
// reports how long the GUI thread was blocked by the download.
#include "keyboardfixture.h"
#include "readerharness.h"

#include "device/records.h"
#include "shortcut/shortcuts.h"
#include "shortcut/shortcutsitem.h"
#include "widget/keybtn.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <cstdio>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ReaderAppDir appDir; // the tool's application folder for this run: the sample model's catalogue
    if (!appDir.copyFiles(QFINDTESTDATA("../appdir/config"), QStringLiteral("config"))) {
        std::fprintf(stderr, "cannot copy the sample configuration\n");
        return 1;
    }
    constexpr int Rows = 32;
    sim::KeyboardConfig config;
    config.keyFunctions = Rows;
    config.sampleKeyFunctions = false;
    KeyboardFixture f(config);
    // Every slot holds the website function (number 1) in every key map.
    f.kb->edit([](sim::FirmwareState& s) {
        for (size_t i = 0; i < s.keyFunctions.size(); ++i) {
            kf_t r{};
            r.bytes[0] = uint8_t(i);
            r.setUsed(true);
            r.setHi(1);
            r.setMapMask(0xFF);
            s.keyFunctions[i] = QByteArray(reinterpret_cast<const char*>(r.bytes), sizeof r.bytes);
        }
    });
    if (!f.open() || !f.loadNow()) {
        std::fprintf(stderr, "cannot load the emulated keyboard\n");
        return 1;
    }
    QVector<KeyBtn*> statics, picture;
    Shortcuts page(nullptr, &statics);
    const QString folder = appDir.filePath(QStringLiteral("device"));
    QDir().mkpath(folder);
    page.load(QStringLiteral("kf_tk104.xml"), folder + QStringLiteral("/shortcuts.xml"), &picture, f.device);
    QElapsedTimer wait;
    wait.start();
    while (!page.initFinished() && wait.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (page.rows().size() != Rows) {
        std::fprintf(stderr, "%d rows made, %d expected\n", int(page.rows().size()), Rows);
        return 1;
    }
    for (ShortcutsItem* row : page.rows())
        row->markChanged(true);

    f.kb->setReportDelay(1);
    const int writesBefore = f.kb->writes();
    QElapsedTimer clock;
    clock.start();
    page.itemDownloadButtonSlot(); // runs on this, the GUI, thread from start to end
    const qint64 blockedMs = clock.elapsed();
    const int writes = f.kb->writes() - writesBefore;
    if (writes != Rows) {
        std::fprintf(stderr, "%d records written, %d expected\n", writes, Rows);
        return 1;
    }
    std::printf("rows downloaded:          %d\n", Rows);
    std::printf("reports written:          %d\n", writes);
    std::printf("GUI thread blocked:       %lld ms\n", static_cast<long long>(blockedMs));
    std::printf("per row:                  %.2f ms\n", double(blockedMs) / Rows);
    return 0;
}
