// Bounds on the update worker's downloads, against local servers that misbehave: a body over the limit
// of its kind (endless, announced or one byte over) and a transfer under the pace floor each end as a
// failure with nothing left on disk, busy cleared and memory flat; what keeps within the bounds completes.
#include "Update/downloadfile.h"
#include "Update/overallvariate.h"
#include "localupdate.h"
#include "logrecorder.h"
#include "memoryuse.h"
#include "widget/qss.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <limits>

namespace {
constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 Endless = -1;
constexpr qint64 NoLength = -1;
// What a download may add to resident memory whatever the server sends: buffers, a chunk, sockets.
// Under AddressSanitizer freed memory is held back for a while, so resident size tells nothing there.
#ifdef __SANITIZE_ADDRESS__
constexpr qint64 MemorySlack = std::numeric_limits<qint64>::max();
#else
constexpr qint64 MemorySlack = 8 * MiB;
#endif
// The pace window while these tests run; the trickling server sends every TickMs.
constexpr int WindowMs = 1000;
constexpr int TickMs = 100;
constexpr int VersionFileMode = DownloadFile::ToolVersionFile;
constexpr int ImageMode = DownloadFile::FirmwareFiles;
constexpr int ToolFileMode = DownloadFile::ToolFiles;
constexpr int NoEndAction = 9; // a mode outside 0 to 5
const QString TooLarge = "download UpdateFile File Too Large!";
const QString TooSlow = "download UpdateFile Transfer Too Slow!";

QString linkOf(int mode)
{
    return mode == ImageMode      ? "/UpgradeFirmware/TK104/qv_usb_app_2.0.bin"
           : mode == ToolFileMode ? "/UpgradeTessark/Windows/Tessark/Tessark.dat"
                                  : "/UpgradeTessark/Windows/VersionFile/TessarkVersion.ini";
}
} // namespace

class DownloadBounds : public QObject {
    Q_OBJECT
    std::unique_ptr<TempAppDir> m_app;
    std::unique_ptr<LocalUpdate> m_local;
    std::unique_ptr<overallVariate> m_hub;
    QStringList m_errors;
    int m_progress = 0;
    qint64 m_elapsedMs = 0;
    qint64 m_memoryGrowth = 0; // peak resident size during the download over the size before it

    // Downloads link in mode, as an operation leaves the worker; true once it completed or busy cleared.
    bool run(const QString& link, int mode)
    {
        QSignalSpy progress(m_hub.get(), &overallVariate::downloadProgressSignal);
        QSignalSpy errors(m_hub.get(), &overallVariate::ErrorInfoSignal);
        m_hub->setBusy(true);
        const qint64 before = memoryuse::residentBytes();
        memoryuse::resetPeak();
        QElapsedTimer clock;
        clock.start();
        bool ended = false;
        {
            DownloadFile worker;
            worker.setLinkList({link});
            worker.setDownloadMode(mode);
            worker.Startdownload(0);
            ended = QTest::qWaitFor([&] { return !m_hub->getBusy() || !progress.isEmpty(); }, 15000);
            m_elapsedMs = clock.elapsed();
        }
        m_memoryGrowth = memoryuse::peakResidentBytes() - before;
        m_errors.clear();
        for (const QList<QVariant>& args : errors)
            m_errors << args.at(0).toString();
        m_progress = progress.size();
        return ended;
    }

    QStringList downloadedFiles() const { return ::downloadedFiles(m_app->path()); }

    // Whether a log line names the local file and all of words.
    bool logged(const QString& link, const QStringList& words) const
    {
        for (const QString& line : logrecorder::lines()) {
            bool all = line.contains(m_app->path() + link);
            for (const QString& word : words)
                all = all && line.contains(word);
            if (all)
                return true;
        }
        return false;
    }

    // Completed (an image stays, whole), or failed once with text, busy cleared and nothing left.
    void verifyOutcome(bool completes, int mode, const QString& link, qint64 body, const QString& text)
    {
        QVERIFY(!m_hub->getBusy());
        QCOMPARE(m_errors, completes ? QStringList() : QStringList{text});
        QCOMPARE(m_progress, completes ? 1 : 0);
        if (completes && mode == ImageMode)
            QCOMPARE(QFileInfo(m_app->path() + link).size(), body);
        if (!completes)
            QCOMPARE(downloadedFiles(), QStringList());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(memoryuse::resetPeak());
        QVERIFY(memoryuse::residentBytes() > 0 && memoryuse::peakResidentBytes() > 0);
    }

    void init()
    {
        m_app.reset(new TempAppDir);
        setAppDirPathForTest(m_app->path());
        m_local.reset(new LocalUpdate);
        QVERIFY(m_local->start(m_app->filePath(QStringLiteral("config/UpdateServer.ini"))));
        DownloadFile::setWaitsForTest(5000, 5000, 5000);
        DownloadFile::setNextTimeServerIndex(0);
        m_hub.reset(new overallVariate);
        g_overallVariate = m_hub.get();
        // The first transfer of the process loads what every later one shares: not counted.
        QVERIFY(m_local->offer("/warm-up.bin", QByteArray(1000, 'w')));
        QVERIFY(run("/warm-up.bin", NoEndAction));
        QVERIFY(QFile::remove(m_app->filePath("warm-up.bin")));
        logrecorder::start();
    }

    void cleanup()
    {
        logrecorder::stop();
        g_overallVariate = nullptr;
        m_hub.reset();
        m_local.reset();
        DownloadFile::setWaitsForTest(30000, 30000, 30000);
        DownloadFile::setPaceWindowForTest(DownloadFile::PaceWindowMs);
    }

    // Version and link files 1 MiB, firmware images 16 MiB, tool files 256 MiB: an announced length
    // over the limit is refused before anything is written, a body that passes it ends the transfer.
    void bodiesAreBoundedByTheirKind_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<qint64>("body");      // bytes the server sends, Endless: until the client goes
        QTest::addColumn<qint64>("announced"); // its Content-Length, NoLength: none
        QTest::addColumn<bool>("completes");
        for (const int mode : {VersionFileMode, ImageMode}) {
            const QByteArray kind = mode == ImageMode ? "image" : "version file";
            const qint64 limit = mode == ImageMode ? 16 * MiB : MiB;
            QTest::newRow(kind + ": endless, no length") << mode << Endless << NoLength << false;
            QTest::newRow(kind + ": 2 GiB announced") << mode << Endless << 2048 * MiB << false;
            QTest::newRow(kind + ": one byte over, no length") << mode << limit + 1 << NoLength << false;
            QTest::newRow(kind + ": one byte over, announced") << mode << limit + 1 << limit + 1 << false;
            QTest::newRow(kind + ": the limit, no length") << mode << limit << NoLength << true;
            QTest::newRow(kind + ": the limit, announced") << mode << limit << limit << true;
        }
        QTest::newRow("tool file: 2 GiB announced") << ToolFileMode << Endless << 2048 * MiB << false;
        QTest::newRow("tool file: one byte over, announced") << ToolFileMode << Endless << 256 * MiB + 1 << false;
    }
    void bodiesAreBoundedByTheirKind()
    {
        QFETCH(int, mode);
        QFETCH(qint64, body);
        QFETCH(qint64, announced);
        QFETCH(bool, completes);
        const QString link = linkOf(mode);
        m_local->servers.generate(link, body, announced);
        QVERIFY(run(link, mode));
        QVERIFY2(m_memoryGrowth < MemorySlack, qPrintable(QString::number(m_memoryGrowth)));
        QVERIFY(m_elapsedMs < 10000);
        verifyOutcome(completes, mode, link, body, TooLarge);
        // Refused on the header alone whenever a length over the limit is announced.
        const QString limit = QString::number(DownloadFile::sizeLimit(mode));
        QVERIFY(completes || logged(link, announced == NoLength ? QStringList{limit, "body"}
                                                                : QStringList{limit, "Content-Length"}));
    }

    // Under 1 KiB/s over a window a transfer ends; a version or link file must be done within one
    // window. A slow transfer above the floor completes, however many windows it takes.
    void slowTransfersEndAtThePaceFloor_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<qint64>("body"); // announced, then sent bytesPerTick every TickMs
        QTest::addColumn<int>("bytesPerTick");
        QTest::addColumn<bool>("completes");
        QTest::newRow("version file: a byte a tick") << VersionFileMode << MiB << 1 << false;
        QTest::newRow("version file: above the floor, not done within the window") << VersionFileMode << 6000LL << 300 << false;
        QTest::newRow("version file: done within the window") << VersionFileMode << 1500LL << 300 << true;
        QTest::newRow("image: a byte a tick") << ImageMode << MiB << 1 << false;
        QTest::newRow("image: half the floor") << ImageMode << 64 * 1024LL << 50 << false;
        QTest::newRow("image: above the floor over three windows") << ImageMode << 9000LL << 300 << true;
    }
    void slowTransfersEndAtThePaceFloor()
    {
        QFETCH(int, mode);
        QFETCH(qint64, body);
        QFETCH(int, bytesPerTick);
        QFETCH(bool, completes);
        DownloadFile::setPaceWindowForTest(WindowMs);
        const QString link = linkOf(mode);
        m_local->servers.trickle(link, body, bytesPerTick, TickMs);
        QVERIFY(run(link, mode));
        verifyOutcome(completes, mode, link, body, TooSlow);
        if (completes)
            return;
        // At the end of the first window, long before the 5 s silence wait.
        QVERIFY2(m_elapsedMs >= WindowMs && m_elapsedMs < 3 * WindowMs, qPrintable(QString::number(m_elapsedMs)));
        QVERIFY(logged(link, {QString::number(WindowMs)}));
    }
};

QTEST_GUILESS_MAIN(DownloadBounds)
#include "test_downloadbounds.moc"
