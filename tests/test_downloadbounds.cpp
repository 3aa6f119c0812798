// Bounds on the update worker's downloads, against local servers that misbehave: a body over the limit
// of its kind (endless, chunked, announced or one byte over), an encoded body and a transfer under the
// pace floor each end as a failure with nothing left on disk, busy cleared and memory flat; what keeps
// within the bounds completes.
#include "Update/downloadfile.h"
#include "Update/overallvariate.h"
#include "localupdate.h"
#include "logrecorder.h"
#include "memoryuse.h"
#include "timescale.h"
#include "widget/qss.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

namespace {
constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 Endless = -1;
constexpr qint64 NoLength = -1;
constexpr qint64 Chunked = -2; // no length, the chunked transfer coding
// What a download may add to resident memory whatever the server sends: buffers, a chunk, sockets.
// Under AddressSanitizer freed memory is held back in its quarantine (256 MiB by default) before it is
// reused, and every allocation carries its red zones: each copy of what passes through stays counted
// for a while (16 MiB of image body showed as up to 130 MB), so the bound there is looser, yet still
// far under the gigabyte a body inflated or kept whole would take.
#ifdef __SANITIZE_ADDRESS__
constexpr qint64 MemorySlack = 320 * MiB;
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
const QString Encoded = "download UpdateFile Encoded Body Refused!";
// A tool file limit small enough to send whole in a test.
constexpr qint64 TestToolLimit = 3 * MiB;

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
    // atStart: done once the worker is made, before its download starts.
    bool run(const QString& link, int mode, const std::function<void()>& atStart = {})
    {
        return run(QStringList{link}, mode, atStart);
    }
    bool run(const QStringList& links, int mode, const std::function<void()>& atStart = {})
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
            worker.setLinkList(links);
            worker.setDownloadMode(mode);
            if (atStart)
                atStart();
            worker.Startdownload(0);
            ended = QTest::qWaitFor([&] { return !m_hub->getBusy() || progress.size() >= links.size(); },
                                    timescale::ms(30000));
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

    // The first log line naming the local file and text; empty when none does.
    QString logLine(const QString& link, const QString& text) const
    {
        for (const QString& line : logrecorder::lines())
            if (line.contains(m_app->path() + link) && line.contains(text))
                return line;
        return QString();
    }

    // Completed (an image stays, whole), or failed once with text, busy cleared and nothing left.
    void verifyOutcome(bool completes, int mode, const QString& link, qint64 body, const QString& text)
    {
        QVERIFY(!m_hub->getBusy());
        // A complete tool file is followed by the hand-over, which finds no updater here.
        const QStringList afterwards =
            mode == ToolFileMode ? QStringList{"Upgrade Program Start Failed!"} : QStringList();
        QVERIFY2(m_errors == (completes ? afterwards : QStringList{text}), qPrintable(m_errors.join(" / ")));
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
        DownloadFile::setToolFileLimitForTest(DownloadFile::MaxToolFileBytes);
        DownloadFile::setUpdateBoundForTest(DownloadFile::MaxUpdateBytes);
    }

    // Version and link files 1 MiB, firmware images 16 MiB, tool files 256 MiB: an announced length
    // over the limit is refused before anything is written, a body that passes it ends the transfer.
    // Tool files are sent whole under a smaller limit set for the test.
    void bodiesAreBoundedByTheirKind_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<qint64>("body");      // bytes the server sends, Endless: until the client goes
        QTest::addColumn<qint64>("announced"); // its Content-Length, NoLength: none, Chunked
        QTest::addColumn<bool>("completes");
        for (const int mode : {VersionFileMode, ImageMode, ToolFileMode}) {
            const QByteArray kind = mode == ImageMode ? "image" : mode == ToolFileMode ? "tool file" : "version file";
            const qint64 limit = mode == ImageMode ? 16 * MiB : mode == ToolFileMode ? TestToolLimit : MiB;
            QTest::newRow(kind + ": endless, no length") << mode << Endless << NoLength << false;
            QTest::newRow(kind + ": endless, chunked") << mode << Endless << Chunked << false;
            QTest::newRow(kind + ": 2 GiB announced") << mode << Endless << 2048 * MiB << false;
            QTest::newRow(kind + ": one byte over, no length") << mode << limit + 1 << NoLength << false;
            QTest::newRow(kind + ": one byte over, announced") << mode << limit + 1 << limit + 1 << false;
            QTest::newRow(kind + ": the limit, no length") << mode << limit << NoLength << true;
            QTest::newRow(kind + ": the limit, announced") << mode << limit << limit << true;
        }
    }
    void bodiesAreBoundedByTheirKind()
    {
        QFETCH(int, mode);
        QFETCH(qint64, body);
        QFETCH(qint64, announced);
        QFETCH(bool, completes);
        DownloadFile::setToolFileLimitForTest(TestToolLimit);
        const QString link = linkOf(mode);
        if (announced == Chunked)
            m_local->servers.generateChunked(link);
        else
            m_local->servers.generate(link, body, announced);
        QVERIFY(run(link, mode));
        QVERIFY2(m_memoryGrowth < MemorySlack, qPrintable(QString::number(m_memoryGrowth)));
        QVERIFY(m_elapsedMs < timescale::ms(20000));
        verifyOutcome(completes, mode, link, body, TooLarge);
        // The body's chunks are not logged one by one; a whole file is, once, with its size.
        QVERIFY(logrecorder::lines().filter(QStringLiteral("downloadUpdateFile=")).size() <= 3);
        QVERIFY(!completes || logged(link, {QStringLiteral("downloaded"), QString::number(body) + " bytes"}));
        // Refused on the header alone whenever a length over the limit is announced.
        const QString limit = QString::number(DownloadFile::sizeLimit(mode));
        QVERIFY(completes || logged(link, announced < 0 ? QStringList{limit, "body"}
                                                        : QStringList{limit, "Content-Length"}));
    }

    // The tool's folder renamed while it runs: a download fails as one that cannot open its file, and
    // nothing is made at the old path.
    void aDownloadMakesNoFolderWhereTheToolsFolderWas_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("image") << ImageMode;
        QTest::newRow("tool file") << ToolFileMode;
    }
    void aDownloadMakesNoFolderWhereTheToolsFolderWas()
    {
        QFETCH(int, mode);
        const QString link = linkOf(mode);
        m_local->servers.generate(link, 1000, 1000);
        const QString old = m_app->path(), moved = old + "-moved";
        bool renamed = false;
        const bool ended = run(link, mode, [&] { renamed = QDir().rename(old, moved); });
        QVERIFY(renamed);
        const bool madeAgain = QFileInfo::exists(old);
        if (madeAgain)
            QDir(old).removeRecursively();
        QVERIFY(QDir().rename(moved, old)); // the temporary folder removes itself at its own path
        QVERIFY(ended);
        QVERIFY2(!madeAgain, "the tool's folder was made again at its old path");
        QVERIFY(!m_hub->getBusy());
        QCOMPARE(m_errors, QStringList{"download UpdateFile File Open Failed!"});
        QCOMPARE(m_progress, 0);
    }

    // One operation's files together (a firmware download's images as a tool update's files) stay within
    // the update bound, made small here: the image that passes it is refused and nothing after it asked
    // for. The bound is checked as bytes arrive: a body without a length that crosses it stops there,
    // long before its own limit.
    void updateBoundHoldsAsBytesArrive_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("files");
        QTest::addColumn<qint64>("body"); // of each file, announced; Endless: with no length
        QTest::addColumn<qint64>("bound");
        QTest::addColumn<int>("failsAt");
        const qint64 image = 64 * 1024;
        QTest::newRow("images past the bound") << ImageMode << 4 << image << 2 * image + image / 2 << 2;
        QTest::newRow("an image crossing it mid-stream") << ImageMode << 1 << Endless << MiB << 0;
        QTest::newRow("a tool file crossing it mid-stream") << ToolFileMode << 1 << Endless << MiB << 0;
    }
    void updateBoundHoldsAsBytesArrive()
    {
        QFETCH(int, mode);
        QFETCH(int, files);
        QFETCH(qint64, body);
        QFETCH(qint64, bound);
        QFETCH(int, failsAt);
        DownloadFile::setToolFileLimitForTest(TestToolLimit);
        DownloadFile::setUpdateBoundForTest(bound);
        QStringList links;
        for (int i = 0; i < files; ++i) {
            links << linkOf(mode) + QString::number(i);
            m_local->servers.generate(links.last(), body, body == Endless ? NoLength : body);
        }
        QVERIFY(run(links, mode));
        QVERIFY(!m_hub->getBusy());
        QCOMPARE(m_errors, QStringList{QString("download UpdateFile Update Too Large! Over %1 bytes in all").arg(bound)});
        QCOMPARE(m_progress, failsAt);
        const QString requests = m_local->servers.requestLines().join('\n');
        for (int i = 0; i < files; ++i) {
            QCOMPARE(QFileInfo::exists(m_app->path() + links.at(i)), i < failsAt);
            QCOMPARE(requests.contains(links.at(i)), i <= failsAt);
        }
    }

    // A Content-Length over the limit is refused as soon as the headers are in, with the body still
    // withheld, long before the pace window; one at the limit is not (it then ends under the floor).
    // The tool's own limits here, 256 MiB for a tool file, with no byte of the body sent.
    void announcedLengthIsRefusedWithoutTheBody_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<qint64>("announced");
        QTest::addColumn<bool>("refused");
        QTest::newRow("version file: one byte over") << VersionFileMode << MiB + 1 << true;
        QTest::newRow("image: one byte over") << ImageMode << 16 * MiB + 1 << true;
        QTest::newRow("tool file: one byte over") << ToolFileMode << 256 * MiB + 1 << true;
        QTest::newRow("tool file: 2 GiB") << ToolFileMode << 2048 * MiB << true;
        QTest::newRow("image: the limit") << ImageMode << 16 * MiB << false;
        QTest::newRow("tool file: the limit") << ToolFileMode << 256 * MiB << false;
    }
    void announcedLengthIsRefusedWithoutTheBody()
    {
        QFETCH(int, mode);
        QFETCH(qint64, announced);
        QFETCH(bool, refused);
        DownloadFile::setPaceWindowForTest(WindowMs);
        const QString link = linkOf(mode);
        m_local->servers.withhold(link, announced);
        QVERIFY(run(link, mode));
        verifyOutcome(false, mode, link, 0, refused ? TooLarge : TooSlow);
        // Refused on the Content-Length (the pace window would have ended it as too slow instead).
        if (refused)
            QVERIFY(logged(link, {QString::number(DownloadFile::sizeLimit(mode)), "Content-Length"}));
        else
            QVERIFY2(m_elapsedMs >= WindowMs, qPrintable(QString::number(m_elapsedMs)));
    }

    // Only the identity encoding is asked for; a body the server encodes anyway (1 GiB of zeros in
    // about a MiB) is refused on its headers, whatever its kind, before a byte is inflated or written.
    void encodedBodiesAreRefused_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<bool>("withLength");
        const QList<QPair<QByteArray, sim::BodyEncoding>> encodings{{"gzip", sim::BodyEncoding::Gzip},
                                                                     {"deflate", sim::BodyEncoding::Deflate},
                                                                     {"raw deflate", sim::BodyEncoding::RawDeflate}};
        for (const int mode : {VersionFileMode, ImageMode, ToolFileMode}) {
            const QByteArray kind = mode == ImageMode ? "image" : mode == ToolFileMode ? "tool file" : "version file";
            for (const auto& encoding : encodings) {
                QTest::newRow(kind + ", " + encoding.first + ", with length") << mode << int(encoding.second) << true;
                QTest::newRow(kind + ", " + encoding.first + ", no length") << mode << int(encoding.second) << false;
            }
        }
    }
    void encodedBodiesAreRefused()
    {
        QFETCH(int, mode);
        QFETCH(int, encoding);
        QFETCH(bool, withLength);
        const QString link = linkOf(mode);
        m_local->servers.generateEncoded(link, sim::BodyEncoding(encoding), 1024 * MiB, withLength);
        QVERIFY(run(link, mode));
        QVERIFY2(m_memoryGrowth < MemorySlack, qPrintable(QString::number(m_memoryGrowth)));
        verifyOutcome(false, mode, link, 0, Encoded);
        QCOMPARE(m_local->servers.acceptEncodings().value(m_local->servers.acceptEncodings().size() - 1),
                 QStringLiteral("identity"));
        QVERIFY(logged(link, {"Content-Encoding", encoding == int(sim::BodyEncoding::Gzip) ? "gzip" : "deflate"}));
    }

    // Under 1 KiB/s over a window a transfer ends; a version or link file must be done within one
    // window. A slow transfer above the floor completes, however many windows it takes.
    void slowTransfersEndAtThePaceFloor_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<qint64>("body"); // announced, firstBytes sent at once, then bytesPerTick every TickMs
        QTest::addColumn<qint64>("firstBytes");
        QTest::addColumn<int>("bytesPerTick");
        QTest::addColumn<int>("windowMs");
        QTest::addColumn<int>("failingWindow"); // the window at whose end the transfer ends; 0: completes
        QTest::newRow("version file: a byte a tick") << VersionFileMode << MiB << 0LL << 1 << WindowMs << 1;
        QTest::newRow("version file: above the floor, not done within the window") << VersionFileMode << 6000LL << 0LL << 300 << WindowMs << 1;
        QTest::newRow("version file: done within the window") << VersionFileMode << 1500LL << 0LL << 300 << WindowMs << 0;
        QTest::newRow("image: a byte a tick") << ImageMode << MiB << 0LL << 1 << WindowMs << 1;
        QTest::newRow("image: half the floor") << ImageMode << 64 * 1024LL << 0LL << 50 << WindowMs << 1;
        QTest::newRow("image: above the floor over three windows") << ImageMode << 9000LL << 0LL << 300 << WindowMs << 0;
        // Each window is judged on its own: a fast start does not carry a stalled transfer.
        QTest::newRow("image: fast first window, then a byte a tick") << ImageMode << MiB << 4000LL << 1 << WindowMs << 2;
        // The floor is per second: 700 bytes a second fail a two-second window (1400 < 2048) ...
        QTest::newRow("image: 700 B/s in a 2 s window") << ImageMode << MiB << 0LL << 70 << 2 * WindowMs << 1;
        // ... and 2000 bytes a second pass half-second windows (1000 > 512), with room for a busy machine
        // to lose ticks (the first window holds four); a floor not scaled to the window (1024) would fail them.
        QTest::newRow("image: 2000 B/s in 0.5 s windows") << ImageMode << 6000LL << 0LL << 200 << WindowMs / 2 << 0;
    }
    void slowTransfersEndAtThePaceFloor()
    {
        QFETCH(int, mode);
        QFETCH(qint64, body);
        QFETCH(qint64, firstBytes);
        QFETCH(int, bytesPerTick);
        QFETCH(int, windowMs);
        QFETCH(int, failingWindow);
        const bool completes = failingWindow == 0;
        DownloadFile::setPaceWindowForTest(windowMs);
        const QString link = linkOf(mode);
        m_local->servers.trickle(link, body, bytesPerTick, TickMs, firstBytes);
        QVERIFY(run(link, mode));
        verifyOutcome(completes, mode, link, body, TooSlow);
        if (completes)
            return;
        // Not before the end of the failing window; ended by the pace check (the only source of its text),
        // not the 5 s silence wait, judging that window's bytes alone: a fast start is not among them (room
        // for a few ticks that arrived late).
        QVERIFY2(m_elapsedMs >= failingWindow * windowMs, qPrintable(QString::number(m_elapsedMs)));
        const QString line = logLine(link, TooSlow);
        const QRegularExpressionMatch counted =
            QRegularExpression(QString("(not done within|(\\d+) bytes in) %1 ms").arg(windowMs)).match(line);
        QVERIFY2(counted.hasMatch() && (mode == VersionFileMode) == counted.captured(2).isEmpty(), qPrintable(line));
        const qint64 trickledInAWindow = qint64(windowMs / TickMs + 1) * bytesPerTick;
        QVERIFY2(counted.captured(2).toLongLong() <= 2 * trickledInAWindow, qPrintable(line));
    }
};

QTEST_GUILESS_MAIN(DownloadBounds)
#include "test_downloadbounds.moc"
