// Signed downloads of the update worker against local servers: the signature the server checks,
// where each file is stored, progress, redirects, every failure leaving no file behind, and the
// server configuration.
#include "Update/downloadfile.h"
#include "Update/overallvariate.h"
#include "localupdate.h"
#include "timescale.h"
#include "widget/qss.h"
#include "platform/filesizelimit.h"

#include <algorithm>
#include <QDirIterator>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {
// No end action runs for a mode outside 0 to 5: the downloaded files stay where the test looks.
constexpr int NoEndAction = 9;
// How long a download may take to end on a quiet machine before the row calls it hung (scaled).
constexpr int DownloadEndsWithinMs = 20000;

QByteArray pattern(int size, int seed)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 13 + i / 97 + seed * 5) & 0xFF);
    return b;
}
} // namespace

class SignedDownloads : public QObject {
    Q_OBJECT
    std::unique_ptr<TempAppDir> m_app;
    std::unique_ptr<LocalUpdate> m_local;
    std::unique_ptr<overallVariate> m_hub;

    QString configPath() const { return m_app->filePath(QStringLiteral("config/UpdateServer.ini")); }
    QString local(const QString& link) const { return m_app->path() + link; }

    QStringList downloadedFiles() const { return ::downloadedFiles(m_app->path()); }

    // Downloads links in mode; true once reports progress steps, an error or the end of busy came.
    bool download(const QStringList& links, int mode = NoEndAction, int reports = 1)
    {
        QSignalSpy progress(m_hub.get(), &overallVariate::downloadProgressSignal);
        QSignalSpy errors(m_hub.get(), &overallVariate::ErrorInfoSignal);
        QSignalSpy busy(m_hub.get(), &overallVariate::threadBusySignal);
        DownloadFile worker;
        worker.setLinkList(links);
        worker.setDownloadMode(mode);
        worker.Startdownload(0);
        return QTest::qWaitFor([&] { return progress.size() >= reports || !errors.isEmpty() || !busy.isEmpty(); },
                               timescale::ms(DownloadEndsWithinMs));
    }

private slots:
    // The downloads are written in this process: a write past the size limit fails as in the tool.
    void initTestCase() { FileSizeLimit::failWritesInsteadOfSignal(); }
    void init()
    {
        m_app.reset(new TempAppDir);
        setAppDirPathForTest(m_app->path());
        m_local.reset(new LocalUpdate);
        QVERIFY(m_local->start(configPath()));
        DownloadFile::setWaitsForTest(timescale::ms(10000), timescale::ms(10000), timescale::ms(10000));
        DownloadFile::setNextTimeServerIndex(0);
        m_hub.reset(new overallVariate);
        g_overallVariate = m_hub.get();
        m_hub->setBusy(true);
    }
    void cleanup()
    {
        g_overallVariate = nullptr;
        m_hub.reset();
        m_local.reset();
        sim::setSharedClockOffsetSecs(0);
        DownloadFile::setWaitsForTest(30000, 30000, 30000);
    }

    void knownTimeGivesKnownSignature()
    {
        const QString link = QStringLiteral("/UpgradeFirmware/model a/x+y.bin");
        QVERIFY(m_local->offer(link, pattern(5000, 1)));
        // The shared clock reads 2024-03-15 08:30:00 (t, a minute on, is 65f40744) just after a second
        // begins, so the daytime answer the worker gets a moment later still says 08:30:00.
        QTest::qWait(1000 - QDateTime::currentDateTimeUtc().time().msec() + 5);
        sim::setSharedClockOffsetSecs(0x65f40744 - 60 - QDateTime::currentSecsSinceEpoch());
        QSignalSpy errors(m_hub.get(), &overallVariate::ErrorInfoSignal);
        QVERIFY(download({link}));
        QCOMPARE(m_local->servers.requestLines(), QStringList{"GET /UpgradeFirmware/model%20a/x%2By.bin"
                                                              "?sign=0372e5259cd8515cece7deeac84495fe&t=65f40744 HTTP/1.1"});
        QCOMPARE(m_local->servers.forbiddenCount(), 0);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(readFile(local(link)), pattern(5000, 1));
    }

    void progressForThreeLinks()
    {
        const QStringList links{QStringLiteral("/UpgradeFirmware/TK104 Dual/a.bin"),
                                QStringLiteral("/UpgradeFirmware/TK104 Dual/b.bin"),
                                QStringLiteral("/UpgradeFirmware/TK104 Dual/deep/er/c.bin")};
        for (int i = 0; i < links.size(); ++i)
            QVERIFY(m_local->offer(links.at(i), pattern(70000 + i * 1000, i)));
        // A file left from an earlier download is replaced, not appended to.
        QVERIFY(m_app->write(links.at(1).mid(1), QByteArray(200000, 'x')));
        QSignalSpy progress(m_hub.get(), &overallVariate::downloadProgressSignal);
        QVERIFY(download(links, NoEndAction, 3));
        QCOMPARE(progress, (QList<QList<QVariant>>{{1}, {2}, {3}}));
        for (int i = 0; i < links.size(); ++i)
            QCOMPARE(readFile(local(links.at(i))), pattern(70000 + i * 1000, i));
        QVERIFY(m_local->servers.requestLines().at(0).startsWith("GET /UpgradeFirmware/TK104%20Dual/a.bin?sign="));
    }

    // One file fetched: stored under its link (".exe" gets ".tessark"), or failing with no file left. As
    // shipped no server is named: the fetch ends before any folder, file or socket.
    void singleDownload_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("fault"); // of the server or the disk
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("result"); // the stored file; "!" and the error shown; empty: neither
        const QString tool = "/UpgradeTessark/Windows/Tessark/", fw = "/UpgradeFirmware/TK104/a.bin";
        const QString openFailed = "!download UpdateFile File Open Failed!";
        QTest::newRow(".exe") << tool + "Tessark.exe" << "" << NoEndAction << tool.mid(1) + "Tessark.exe.tessark";
        QTest::newRow(".EXE") << tool + "SETUP.EXE" << "" << NoEndAction << tool.mid(1) + "SETUP.EXE.tessark";
        QTest::newRow(".exe.bak") << tool + "T.exe.bak" << "" << NoEndAction << tool.mid(1) + "T.exe.bak";
        QTest::newRow("wrong key: 403") << tool + "VersionFile/TessarkVersion.ini" << "wrong key" << 0 << "!server replied: Forbidden";
        QTest::newRow("no server as shipped") << fw << "shipped configuration" << 3 << "!获取时间错误!";
        QTest::newRow("no server configuration file") << fw << "no configuration" << 3 << "!获取时间错误!";
        QTest::newRow("404 in a tool check: shown") << fw << "404" << 0 << "!Not Found";
        QTest::newRow("404 in a firmware check: only no new firmware") << fw << "404" << 3 << "";
        QTest::newRow("stalled transfer") << fw << "stall" << 5 << "!Operation canceled";
        // Qt either ends the reply with its own error or finishes it short, which the worker refuses.
        QTest::newRow("body shorter than announced") << fw << "short body" << 5 << "!Connection closed|File Incomplete!";
        QTest::newRow("short write") << fw << "full disk" << 5 << "!download UpdateFile File Write Failed!";
        QTest::newRow("empty link") << "" << "" << NoEndAction << openFailed;
        QTest::newRow("link leaving the application folder") << "/../outside.bin" << "" << NoEndAction << openFailed;
        QTest::newRow("a folder in the way") << "/UpgradeFirmware/folder" << "" << NoEndAction << openFailed;
    }
    void singleDownload()
    {
        QFETCH(QString, link);
        QFETCH(QString, fault);
        QFETCH(int, mode);
        QFETCH(QString, result);
        QVERIFY(QDir().mkpath(m_app->filePath(QStringLiteral("UpgradeFirmware/folder/kept"))));
        QVERIFY(link.isEmpty() || link.contains("..") || m_local->offer(link, pattern(256 * 1024, 5)));
        if (fault == "404")
            m_local->servers.answerNotFound(link);
        if (fault == "stall")
            m_local->servers.stall(link);
        if (fault == "short body")
            m_local->servers.cutShort(link, 100000);
        if (fault == "wrong key") {
            QSettings ini(configPath(), QSettings::IniFormat);
            ini.setValue("UpdateServer/Key", "wrongkx0123456789abcdef0123456789abcdef0");
        }
        if (fault.endsWith("configuration"))
            QVERIFY(QFile::remove(configPath()));
        if (fault == "shipped configuration")
            QVERIFY(m_app->write("config/UpdateServer.ini", readFile(QFINDTESTDATA("../appdir/config/UpdateServer.ini"))));
        // Every wait but the stall's far beyond the download's own limit: a fault that ends the download
        // within it ended it by itself.
        const int beyond = timescale::ms(3 * DownloadEndsWithinMs);
        DownloadFile::setWaitsForTest(beyond, beyond, fault == "stall" ? 300 : beyond);
        QSignalSpy errors(m_hub.get(), &overallVariate::ErrorInfoSignal);
        QSignalSpy firmware(m_hub.get(), &overallVariate::FirmwareUpdateSignal);
        // A full disk: no file of this process may grow past 64 KiB while the download runs.
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit small{64 * 1024, saved.rlim_max};
        QVERIFY(fault != "full disk" || setrlimit(RLIMIT_FSIZE, &small) == 0);
        const bool ended = download({link}, mode);
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(ended);
        if (!result.startsWith('!') && !result.isEmpty()) {
            QCOMPARE(downloadedFiles(), QStringList{result});
            QCOMPARE(readFile(m_app->filePath(result)), pattern(256 * 1024, 5));
            return;
        }
        QVERIFY(!m_hub->getBusy());
        QCOMPARE(errors.count(), result.isEmpty() ? 0 : 1);
        if (!result.isEmpty()) {
            const QString text = errors.at(0).at(0).toString();
            const QStringList either = result.mid(1).split(QLatin1Char('|'));
            QVERIFY2(std::any_of(either.begin(), either.end(),
                                 [&](const QString& t) { return text.contains(t, Qt::CaseInsensitive); }),
                     qPrintable(text));
        }
        QCOMPARE(firmware, result.isEmpty() ? QList<QList<QVariant>>{{false}} : QList<QList<QVariant>>{});
        QCOMPARE(downloadedFiles(), QStringList());
        QVERIFY(!QFileInfo::exists(m_app->filePath(QStringLiteral("../outside.bin"))));
        QVERIFY(QFileInfo(m_app->filePath(QStringLiteral("UpgradeFirmware/folder/kept"))).isDir());
        QCOMPARE(m_local->servers.forbiddenCount(), fault == "wrong key" ? 1 : 0);
        if (result.endsWith("Open Failed!") || fault.endsWith("configuration"))
            QCOMPARE(m_local->servers.requestLines(), QStringList());
        if (fault.endsWith("configuration"))
            QCOMPARE(m_local->servers.daytimeConnections(0), 0);
    }

    // Each hop of each file's chain ("{n}": the file's number); four in a row are followed, counted per
    // file, relative ones resolved against the address that redirected.
    void redirects_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<QStringList>("locations");
        QTest::addColumn<bool>("completes");
        QTest::newRow("four, relative and absolute")
            << 1 << QStringList{"r1.bin", "/UpgradeFirmware/m/sub/r2.bin", "../r3.bin", "http://{host}/UpgradeFirmware/m/r4.bin"}
            << true;
        QTest::newRow("four for each of two files") << 2 << QStringList{"a{n}.bin", "b{n}.bin", "c{n}.bin", "d{n}.bin"} << true;
        QTest::newRow("five") << 1 << QStringList{"r1.bin", "r2.bin", "r3.bin", "r4.bin", "r5.bin"} << false;
        QTest::newRow("to another scheme") << 1 << QStringList{"file://{root}/UpgradeFirmware/m/start0.bin"} << false;
    }
    void redirects()
    {
        QFETCH(int, files);
        QFETCH(QStringList, locations);
        QFETCH(bool, completes);
        QStringList links;
        for (int n = 0; n < files; ++n) {
            links << QStringLiteral("/UpgradeFirmware/m/start%1.bin").arg(n);
            QString from = links.last();
            for (QString location : locations) {
                location.replace("{host}", m_local->servers.downloadHost()).replace("{n}", QString::number(n));
                location.replace("{root}", m_local->root.path());
                m_local->servers.redirect(from, location);
                from = QUrl("http://h" + from).resolved(QUrl(location)).path();
            }
            QVERIFY(m_local->offer(from, pattern(20000, n)));
            QVERIFY(m_local->offer(links.last(), "not this"));
        }
        QSignalSpy errors(m_hub.get(), &overallVariate::ErrorInfoSignal);
        QVERIFY(download(links, NoEndAction, files));
        QCOMPARE(m_local->servers.forbiddenCount(), 0);
        QCOMPARE(errors.isEmpty(), completes);
        if (completes) {
            for (int n = 0; n < files; ++n)
                QCOMPARE(readFile(local(links.at(n))), pattern(20000, n));
            QCOMPARE(m_local->servers.requestLines().size(), files * (locations.size() + 1));
        } else {
            QCOMPARE(downloadedFiles(), QStringList());
            QVERIFY(!m_hub->getBusy());
            QCOMPARE(m_local->servers.requestLines().size(), qMin(locations.size(), 5)); // no fifth follow-up
        }
    }

    // Named by TESSARK_UPDATE_CONFIG: up to seven time servers, port optional, a 40-character key or the
    // built-in one; a file that is not regular reads as empty.
    void serverConfig_data()
    {
        QTest::addColumn<QByteArray>("ini"); // "FIFO": a named pipe there
        QTest::addColumn<QString>("download");
        QTest::addColumn<QStringList>("times");
        QTest::addColumn<QByteArray>("key"); // empty: the built-in one
        const QByteArray key = "abcdefg0123456789abcdef0123456789abcdef0";
        QTest::newRow("all given")
            << "[UpdateServer]\nDownload=dl.example.org:8080\nTime=a.example.org, b.example.org:1313\nKey=" + key + "\n"
            << "dl.example.org:8080" << QStringList{"a.example.org", "b.example.org:1313"} << key;
        QTest::newRow("no port, seven time servers at most, unusable entries and key dropped")
            << QByteArray("[UpdateServer]\nDownload=dl.example.org\nTime=t1, bad/path, x:0, y:70000, z:, t2, t3, t4, t5, t6, "
                          "t7, t8\nKey=short\n")
            << "dl.example.org" << QStringList{"t1", "t2", "t3", "t4", "t5", "t6", "t7"} << QByteArray();
        QTest::newRow("unusable download server") << QByteArray("[UpdateServer]\nDownload=user@host\n") << QString()
                                                  << QStringList() << QByteArray();
        QTest::newRow("named pipe") << QByteArray("FIFO") << QString() << QStringList() << QByteArray();
    }
    void serverConfig()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, download);
        QFETCH(QStringList, times);
        QFETCH(QByteArray, key);
        const QString path = m_app->filePath(QStringLiteral("elsewhere/servers.ini"));
        if (ini == "FIFO")
            QVERIFY(QDir().mkpath(m_app->filePath("elsewhere")) && mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        else
            QVERIFY(m_app->write(QStringLiteral("elsewhere/servers.ini"), ini));
        qputenv("TESSARK_UPDATE_CONFIG", QFile::encodeName(path));
        QCOMPARE(UpdateServerConfig::path(), path);
        const UpdateServerConfig config = UpdateServerConfig::load();
        QCOMPARE(config.downloadServer, download);
        QCOMPARE(config.timeServers, times);
        if (key.isEmpty())
            QVERIFY(QRegularExpression("^[a-z]{7}[0-9a-f]{33}$").match(QString::fromLatin1(config.signingKey)).hasMatch());
        else
            QCOMPARE(config.signingKey, key);
    }
};

QTEST_GUILESS_MAIN(SignedDownloads)
#include "test_signeddownloads.moc"
