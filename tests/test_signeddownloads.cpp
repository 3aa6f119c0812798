// Signed downloads of the update worker against local servers: the signature the server checks,
// where each file is stored, progress, redirects, and every failure leaving no file behind.
#include "Update/downloadfile.h"
#include "Update/overallvariate.h"
#include "tempappdir.h"
#include "updateserver.h"
#include "widget/qss.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <memory>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const QByteArray Key = "fetchkx0123456789abcdef0123456789abcdef0";
// No end action runs for a mode outside 0 to 5: the downloaded files stay where the test looks.
constexpr int NoEndAction = 9;

QByteArray pattern(int size, int seed)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 13 + i / 97 + seed * 5) & 0xFF);
    return b;
}

// The configuration file the tool ships: beside this source (the path the compiler saw may be relative to
// the folder of the test binary), or as the build copied it beside the executables.
QString shippedConfigPath()
{
    const QString relative = QStringLiteral("/../appdir/config/UpdateServer.ini");
    const QString appDir = QCoreApplication::applicationDirPath();
    const QStringList candidates{QFileInfo(QStringLiteral(__FILE__)).absolutePath() + relative,
                                 QDir(appDir).filePath(QFileInfo(QStringLiteral(__FILE__)).path() + relative),
                                 appDir + QStringLiteral("/../config/UpdateServer.ini")};
    for (const QString& path : candidates) {
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

} // namespace

class SignedDownloads : public QObject {
    Q_OBJECT
    std::unique_ptr<TempAppDir> m_app;
    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<sim::UpdateServers> m_servers;
    std::unique_ptr<overallVariate> m_hub;

    QString configPath() const { return m_app->filePath(QStringLiteral("config/UpdateServer.ini")); }

    // A file the download server offers.
    bool offer(const QString& link, const QByteArray& content) const
    {
        const QString path = m_root->path() + link;
        if (!QDir().mkpath(QFileInfo(path).absolutePath()))
            return false;
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
    }

    QString local(const QString& link) const { return m_app->path() + link; }

    // Every file below the application folder other than config/ and log/.
    QStringList downloadedFiles() const
    {
        QStringList files;
        QDirIterator it(m_app->path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = QDir(m_app->path()).relativeFilePath(it.next());
            if (!path.startsWith(QLatin1String("config/")) && !path.startsWith(QLatin1String("log/")))
                files << path;
        }
        return files;
    }

    std::unique_ptr<DownloadFile> worker(const QStringList& links, int mode = NoEndAction)
    {
        auto w = std::make_unique<DownloadFile>();
        w->setLinkList(links);
        w->setDownloadMode(mode);
        return w;
    }

private slots:
    void init()
    {
        m_app.reset(new TempAppDir);
        setAppDirPathForTest(m_app->path());
        qunsetenv("TESSARK_UPDATE_CONFIG");
        m_root.reset(new QTemporaryDir);
        m_servers.reset(new sim::UpdateServers(m_root->path(), Key, 1));
        QVERIFY(m_servers->start());
        QVERIFY(m_servers->writeConfig(configPath()));
        sim::setSharedClockOffsetSecs(0);
        DownloadFile::setWaitsForTest(5000, 5000, 5000);
        DownloadFile::setNextTimeServerIndex(0);
        m_hub.reset(new overallVariate);
        g_overallVariate = m_hub.get();
        m_hub->setBusy(true);
    }

    void cleanup()
    {
        g_overallVariate = nullptr;
        m_hub.reset();
        m_servers.reset();
        DownloadFile::setWaitsForTest(30000, 30000, 30000);
        setAppDirPathForTest(QString());
        qunsetenv("TESSARK_UPDATE_CONFIG");
    }

    void workedExampleSignatureAccepted()
    {
        const QString link = QStringLiteral("/UpgradeFirmware/model a/x+y.bin");
        const QByteArray content = pattern(5000, 1);
        QVERIFY(offer(link, content));
        // The shared clock reads 2024-03-15 08:30:00 just after a second begins, so the daytime
        // answer the worker gets a moment later still says 08:30:00.
        const QDateTime example(QDate(2024, 3, 15), QTime(8, 30, 0), Qt::UTC);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QTest::qWait(1000 - now.time().msec() + 5);
        sim::setSharedClockOffsetSecs(example.toSecsSinceEpoch() - QDateTime::currentSecsSinceEpoch());
        QCOMPARE(sim::sharedClockUtc().toSecsSinceEpoch(), example.toSecsSinceEpoch());

        QSignalSpy progress(m_hub.get(), &overallVariate::downloadProgressSignal);
        QSignalSpy errors(m_hub.get(), &overallVariate::ErrorInfoSignal);
        const auto w = worker({link});
        w->Startdownload(0);
        QVERIFY(progress.wait(5000));

        const QByteArray p = "/UpgradeFirmware/model%20a/x%2By.bin";
        const QString t = QStringLiteral("65f40744");
        const QString sign = sim::updateSign(Key, p, t);
        QCOMPARE(m_servers->requestLines(),
                 QStringList{QStringLiteral("GET %1?sign=%2&t=%3 HTTP/1.1").arg(QString::fromLatin1(p), sign, t)});
        QCOMPARE(QString::fromLatin1(DownloadFile::getMd5(QString::fromLatin1(Key + p) + t).toHex()), sign);
        QCOMPARE(m_servers->forbiddenCount(), 0);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(readFile(local(link)), content);
    }

    void wrongKeyRefused()
    {
        const QString link = QStringLiteral("/UpgradeTessark/Windows/VersionFile/TessarkVersion.ini");
        QVERIFY(offer(link, "[TessarkVersion]\nVersion=9.9.9\n"));
        QVERIFY(UpdateServerConfig::write(configPath(), m_servers->downloadHost(), m_servers->daytimeHosts(),
                                          "wrongkx0123456789abcdef0123456789abcdef0"));
        QSignalSpy errors(m_hub.get(), &overallVariate::ErrorInfoSignal);
        QSignalSpy busy(m_hub.get(), &overallVariate::threadBusySignal);
        const auto w = worker({link}, DownloadFile::ToolVersionFile);
        w->Startdownload(0);
        QVERIFY(errors.wait(5000));
        QVERIFY(!errors.at(0).at(0).toString().isEmpty());
        QCOMPARE(m_servers->forbiddenCount(), 1);
        QVERIFY(!m_hub->getBusy());
        QCOMPARE(busy.last().at(0).toBool(), false);
        QCOMPARE(downloadedFiles(), QStringList());
    }

    void progressForThreeLinks()
    {
        const QStringList links{QStringLiteral("/UpgradeFirmware/TK104 Dual/a.bin"),
                                QStringLiteral("/UpgradeFirmware/TK104 Dual/b.bin"),
                                QStringLiteral("/UpgradeFirmware/TK104 Dual/deep/er/c.bin")};
        for (int i = 0; i < links.size(); ++i)
            QVERIFY(offer(links.at(i), pattern(70000 + i * 1000, i)));
        // A file left from an earlier download is replaced, not appended to.
        QVERIFY(m_app->write(links.at(1).mid(1), QByteArray(200000, 'x')));

        QSignalSpy progress(m_hub.get(), &overallVariate::downloadProgressSignal);
        QSignalSpy errors(m_hub.get(), &overallVariate::ErrorInfoSignal);
        const auto w = worker(links);
        w->Startdownload(0);
        QTRY_COMPARE_WITH_TIMEOUT(progress.count(), 3, 10000);
        QCOMPARE(progress.at(0).at(0).toInt(), 1);
        QCOMPARE(progress.at(1).at(0).toInt(), 2);
        QCOMPARE(progress.at(2).at(0).toInt(), 3);
        QCOMPARE(errors.count(), 0);
        for (int i = 0; i < links.size(); ++i)
            QCOMPARE(readFile(local(links.at(i))), pattern(70000 + i * 1000, i));
        QVERIFY(m_servers->requestLines().at(0).startsWith(
            QStringLiteral("GET /UpgradeFirmware/TK104%20Dual/a.bin?sign=")));
    }

    void requestsRunOnWorkerThread()
    {
        const QStringList links{QStringLiteral("/UpgradeFirmware/m/1.bin"), QStringLiteral("/UpgradeFirmware/m/2.bin")};
        QVERIFY(offer(links.at(0), pattern(300000, 7)));
        QVERIFY(offer(links.at(1), pattern(1000, 8)));
        auto w = worker(links);
        QThread thread;
        w->moveToThread(&thread);
        std::atomic<QThread*> emittedOn{nullptr};
        QList<int> progress; // filled on this thread, in order of emission
        QObject receiver;
        connect(m_hub.get(), &overallVariate::downloadProgressSignal, &receiver,
                [&](int done) { progress << done; }, Qt::QueuedConnection);
        connect(m_hub.get(), &overallVariate::downloadProgressSignal, &receiver,
                [&](int) { emittedOn = QThread::currentThread(); }, Qt::DirectConnection);
        thread.start();
        QMetaObject::invokeMethod(w.get(), [&w] { w->Startdownload(0); }, Qt::QueuedConnection);
        QTRY_COMPARE_WITH_TIMEOUT(progress, (QList<int>{1, 2}), 10000);
        QCOMPARE(emittedOn.load(), &thread);
        thread.quit();
        QVERIFY(thread.wait(5000));
        QCOMPARE(readFile(local(links.at(0))), pattern(300000, 7));
    }

    void executableSuffix_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("stored");
        QTest::newRow(".exe") << QStringLiteral("/UpgradeTessark/Windows/Tessark/Tessark/Tessark.exe")
                              << QStringLiteral("/UpgradeTessark/Windows/Tessark/Tessark/Tessark.exe.tessark");
        QTest::newRow(".EXE") << QStringLiteral("/UpgradeTessark/Windows/Tessark/SETUP.EXE")
                              << QStringLiteral("/UpgradeTessark/Windows/Tessark/SETUP.EXE.tessark");
        QTest::newRow(".exe.bak") << QStringLiteral("/UpgradeTessark/Windows/Tessark/Tessark.exe.bak")
                                  << QStringLiteral("/UpgradeTessark/Windows/Tessark/Tessark.exe.bak");
    }

    void executableSuffix()
    {
        QFETCH(QString, link);
        QFETCH(QString, stored);
        QVERIFY(offer(link, pattern(4096, 3)));
        QSignalSpy progress(m_hub.get(), &overallVariate::downloadProgressSignal);
        const auto w = worker({link});
        w->Startdownload(0);
        QVERIFY(progress.wait(5000));
        QCOMPARE(readFile(local(stored)), pattern(4096, 3));
        QCOMPARE(downloadedFiles(), QStringList{stored.mid(1)});
    }

    void notFound_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("errorShown");
        QTest::newRow("tool version check") << int(DownloadFile::ToolVersionFile) << true;
        QTest::newRow("firmware version check") << int(DownloadFile::FirmwareVersionFile) << false;
    }

    void notFound()
    {
        QFETCH(int, mode);
        QFETCH(bool, errorShown);
        const QString link = QStringLiteral("/UpgradeFirmware/TK104/VersionFile/FirmwareVersion.ini");
        QVERIFY(offer(link, "[FirmwareVersion]\n"));
        m_servers->answerNotFound(link);
        QSignalSpy errors(m_hub.get(), &overallVariate::ErrorInfoSignal);
        QSignalSpy firmware(m_hub.get(), &overallVariate::FirmwareUpdateSignal);
        QSignalSpy busy(m_hub.get(), &overallVariate::threadBusySignal);
        const auto w = worker({link}, mode);
        w->Startdownload(0);
        QTRY_VERIFY_WITH_TIMEOUT(busy.count() > 0, 5000);
        QCOMPARE(errors.count(), errorShown ? 1 : 0);
        if (errorShown)
            QVERIFY(errors.at(0).at(0).toString().contains(QStringLiteral("Not Found"), Qt::CaseInsensitive));
        QCOMPARE(firmware.count(), errorShown ? 0 : 1);
        if (!errorShown)
            QCOMPARE(firmware.at(0).at(0).toBool(), false);
        QVERIFY(!m_hub->getBusy());
        QCOMPARE(downloadedFiles(), QStringList());
    }

    void redirects_data()
    {
        QTest::addColumn<QStringList>("locations"); // where each hop sends to; the last one is served
        QTest::addColumn<bool>("completes");
        QTest::newRow("four, relative and absolute")
            << QStringList{"r1.bin", "/UpgradeFirmware/m/sub/r2.bin", "../r3.bin", "http://{host}/UpgradeFirmware/m/r4.bin"}
            << true;
        QTest::newRow("five") << QStringList{"r1.bin", "r2.bin", "r3.bin", "r4.bin", "r5.bin"} << false;
        QTest::newRow("to another scheme") << QStringList{"ftp://127.0.0.1/r1.bin"} << false;
    }

    void redirects()
    {
        QFETCH(QStringList, locations);
        QFETCH(bool, completes);
        const QString link = QStringLiteral("/UpgradeFirmware/m/start.bin");
        QString from = link;
        for (QString location : locations) {
            location.replace(QStringLiteral("{host}"), m_servers->downloadHost());
            m_servers->redirect(from, location);
            from = QUrl(QStringLiteral("http://h") + from).resolved(QUrl(location)).path();
        }
        QVERIFY(offer(from, pattern(20000, 4)));
        QVERIFY(offer(link, "not this"));

        QSignalSpy progress(m_hub.get(), &overallVariate::downloadProgressSignal);
        QSignalSpy errors(m_hub.get(), &overallVariate::ErrorInfoSignal);
        const auto w = worker({link});
        w->Startdownload(0);
        QTRY_VERIFY_WITH_TIMEOUT(progress.count() + errors.count() > 0, 5000);
        QCOMPARE(progress.count(), completes ? 1 : 0);
        QCOMPARE(m_servers->forbiddenCount(), 0);
        if (completes) {
            QCOMPARE(readFile(local(link)), pattern(20000, 4));
            QCOMPARE(m_servers->requestLines().size(), locations.size() + 1);
            QVERIFY(m_servers->requestLines().last().startsWith(QStringLiteral("GET /UpgradeFirmware/m/r4.bin?")));
        } else {
            QVERIFY(!errors.at(0).at(0).toString().isEmpty());
            QCOMPARE(downloadedFiles(), QStringList());
            QVERIFY(!m_hub->getBusy());
            // The fifth redirect is not followed.
            QCOMPARE(m_servers->requestLines().size(), qMin(locations.size(), 5));
        }
    }

    void completedFileResetsRedirectCount()
    {
        // Four redirects for each of two files: counted per file, so both arrive.
        const QStringList links{QStringLiteral("/UpgradeFirmware/m/a.bin"), QStringLiteral("/UpgradeFirmware/m/b.bin")};
        for (const QString& link : links) {
            QString from = link;
            for (int hop = 1; hop <= 4; ++hop) {
                const QString to = link + QStringLiteral(".%1").arg(hop);
                m_servers->redirect(from, to);
                from = to;
            }
            QVERIFY(offer(from, link.toLatin1()));
        }
        QSignalSpy progress(m_hub.get(), &overallVariate::downloadProgressSignal);
        QSignalSpy errors(m_hub.get(), &overallVariate::ErrorInfoSignal);
        const auto w = worker(links);
        w->Startdownload(0);
        QTRY_COMPARE_WITH_TIMEOUT(progress.count() + errors.count(), 2, 10000);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(readFile(local(links.at(1))), links.at(1).toLatin1());
    }

    void takenOverTransferLeavesNoFile()
    {
        // A second operation started while a transfer hangs: the abandoned file goes, the new one arrives.
        const QString hanging = QStringLiteral("/UpgradeFirmware/m/hanging.bin");
        const QString next = QStringLiteral("/UpgradeFirmware/m/next.bin");
        QVERIFY(offer(hanging, pattern(1000, 1)));
        QVERIFY(offer(next, pattern(1000, 2)));
        m_servers->stall(hanging);
        QSignalSpy progress(m_hub.get(), &overallVariate::downloadProgressSignal);
        QSignalSpy errors(m_hub.get(), &overallVariate::ErrorInfoSignal);
        const auto w = worker({hanging});
        w->Startdownload(0);
        QTRY_COMPARE_WITH_TIMEOUT(m_servers->requestLines().size(), 1, 5000);
        QVERIFY(QFileInfo::exists(local(hanging)));
        w->setLinkList({next});
        w->Startdownload(0);
        QVERIFY(progress.wait(5000));
        QCOMPARE(downloadedFiles(), QStringList{next.mid(1)});
        QTest::qWait(100);
        QCOMPARE(errors.count(), 0);
    }

    void brokenTransferLeavesNoFile_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("stalled transfer") << QStringLiteral("stall");
        QTest::newRow("body shorter than announced") << QStringLiteral("short body");
        QTest::newRow("short write") << QStringLiteral("short write");
    }

    void brokenTransferLeavesNoFile()
    {
        QFETCH(QString, failure);
        const QString link = QStringLiteral("/UpgradeFirmware/TK104/a.bin");
        QVERIFY(offer(link, pattern(256 * 1024, 5)));
        if (failure == QLatin1String("stall")) {
            m_servers->stall(link);
            DownloadFile::setWaitsForTest(5000, 5000, 300);
        } else if (failure == QLatin1String("short body")) {
            m_servers->cutShort(link, 100000);
        }
        QSignalSpy errors(m_hub.get(), &overallVariate::ErrorInfoSignal);
        QSignalSpy progress(m_hub.get(), &overallVariate::downloadProgressSignal);
        const auto w = worker({link}, DownloadFile::FirmwareFiles);

        // A full disk: no file of this process may grow past 64 KiB while the download runs.
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const bool limitFile = failure == QLatin1String("short write");
        if (limitFile) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = saved;
            small.rlim_cur = 64 * 1024;
            QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        }
        QElapsedTimer clock;
        clock.start();
        w->Startdownload(0);
        const bool failed = errors.wait(5000);
        if (limitFile)
            setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(failed);
        QVERIFY(clock.elapsed() < 4000);
        QCOMPARE(progress.count(), 0);
        QVERIFY(!m_hub->getBusy());
        if (limitFile)
            QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("download UpdateFile File Write Failed!"));
        QCOMPARE(downloadedFiles(), QStringList());
    }

    void noServerConfigured_data()
    {
        QTest::addColumn<QByteArray>("config"); // empty: no file at all
        QFile shipped(shippedConfigPath());
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        QTest::newRow("as shipped") << shipped.readAll();
        QTest::newRow("no file") << QByteArray();
        QTest::newRow("download server unusable") << QByteArray("[UpdateServer]\nDownload=host/path?x\nTime=127.0.0.1:1\n");
    }

    void noServerConfigured()
    {
        QFETCH(QByteArray, config);
        QVERIFY(QFile::remove(configPath()));
        if (!config.isEmpty())
            QVERIFY(m_app->write(QStringLiteral("config/UpdateServer.ini"), config));
        QSignalSpy errors(m_hub.get(), &overallVariate::ErrorInfoSignal);
        const auto w = worker({QStringLiteral("/UpgradeFirmware/TK104/VersionFile/FirmwareVersion.ini")},
                              DownloadFile::FirmwareVersionFile);
        QVERIFY(w->serverConfig().downloadServer.isEmpty());
        w->Startdownload(0);
        // At once, before any folder, file or socket.
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("获取时间错误!"));
        QVERIFY(!m_hub->getBusy());
        QVERIFY(!QFileInfo::exists(m_app->filePath(QStringLiteral("UpgradeFirmware"))));
        QCOMPARE(m_servers->daytimeConnections(0), 0);
        QCOMPARE(m_servers->requestLines(), QStringList());
    }

    void linkThatCannotBeOpened_data()
    {
        QTest::addColumn<QString>("link");
        QTest::newRow("empty link") << QString();
        QTest::newRow("leaves the application folder") << QStringLiteral("/../outside.bin");
        QTest::newRow("a folder is in the way") << QStringLiteral("/UpgradeFirmware/folder");
    }

    void linkThatCannotBeOpened()
    {
        QFETCH(QString, link);
        QVERIFY(QDir().mkpath(m_app->filePath(QStringLiteral("UpgradeFirmware/folder/kept"))));
        QSignalSpy errors(m_hub.get(), &overallVariate::ErrorInfoSignal);
        const auto w = worker({link});
        w->Startdownload(0);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("download UpdateFile File Open Failed!"));
        QCOMPARE(m_servers->requestLines(), QStringList());
        QVERIFY(!QFileInfo::exists(QFileInfo(m_app->path()).dir().filePath(QStringLiteral("outside.bin"))));
        QVERIFY(QFileInfo(m_app->filePath(QStringLiteral("UpgradeFirmware/folder/kept"))).isDir());
    }

    void stoppedWorkerSendsNothing()
    {
        const QString link = QStringLiteral("/UpgradeFirmware/m/a.bin");
        QVERIFY(offer(link, "x"));
        QSignalSpy progress(m_hub.get(), &overallVariate::downloadProgressSignal);
        const auto w = worker({link});
        w->requestStop();
        w->Startdownload(0);
        QTest::qWait(200);
        QCOMPARE(progress.count(), 0);
        QCOMPARE(m_servers->requestLines(), QStringList());
        QCOMPARE(m_servers->daytimeConnections(0), 0);
        QCOMPARE(downloadedFiles(), QStringList());
    }

    void serverConfig_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("download");
        QTest::addColumn<QStringList>("times");
        QTest::addColumn<QByteArray>("key"); // empty: the built-in one

        const QByteArray key = "abcdefg0123456789abcdef0123456789abcdef0";
        QTest::newRow("all given")
            << QByteArray("[UpdateServer]\nDownload=dl.example.org:8080\nTime=a.example.org, b.example.org:1313\nKey=" + key + "\n")
            << "dl.example.org:8080" << QStringList{"a.example.org", "b.example.org:1313"} << key;
        QTest::newRow("no port") << QByteArray("[UpdateServer]\nDownload=dl.example.org\n") << "dl.example.org"
                                 << QStringList() << QByteArray();
        QTest::newRow("IPv6 address") << QByteArray("[UpdateServer]\nDownload=\"[::1]:8080\"\n") << "[::1]:8080"
                                      << QStringList() << QByteArray();
        QTest::newRow("more than seven time servers")
            << QByteArray("[UpdateServer]\nTime=t1, t2, t3, t4, t5, t6, t7, t8, t9\n") << QString()
            << QStringList{"t1", "t2", "t3", "t4", "t5", "t6", "t7"} << QByteArray();
        QTest::newRow("unusable entries dropped")
            << QByteArray("[UpdateServer]\nDownload=user@host\nTime=good, bad/path, x:0, y:70000, z:\n") << QString()
            << QStringList{"good"} << QByteArray();
        QTest::newRow("key of another length") << QByteArray("[UpdateServer]\nKey=short\n") << QString()
                                               << QStringList() << QByteArray();
        QTest::newRow("another group") << QByteArray("[Other]\nDownload=dl.example.org\n") << QString()
                                       << QStringList() << QByteArray();
    }

    void serverConfig()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, download);
        QFETCH(QStringList, times);
        QFETCH(QByteArray, key);
        // Named by the environment this time, in a folder of its own.
        const QString path = m_app->filePath(QStringLiteral("elsewhere/servers.ini"));
        QVERIFY(m_app->write(QStringLiteral("elsewhere/servers.ini"), ini));
        qputenv("TESSARK_UPDATE_CONFIG", path.toLocal8Bit());
        QCOMPARE(UpdateServerConfig::path(), path);
        const UpdateServerConfig config = UpdateServerConfig::load();
        QCOMPARE(config.downloadServer, download);
        QCOMPARE(config.timeServers, times);
        if (key.isEmpty()) {
            QVERIFY(QRegularExpression(QStringLiteral("^[a-z]{7}[0-9a-f]{33}$"))
                        .match(QString::fromLatin1(config.signingKey))
                        .hasMatch());
        } else {
            QCOMPARE(config.signingKey, key);
        }
    }

    void configThatIsNoRegularFile()
    {
        const QString fifo = m_app->filePath(QStringLiteral("config/fifo.ini"));
        QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(UpdateServerConfig::load(fifo).downloadServer.isEmpty());
        QVERIFY(UpdateServerConfig::load(m_app->filePath(QStringLiteral("config"))).downloadServer.isEmpty());
        QVERIFY(clock.elapsed() < 1000);
    }
};

QTEST_GUILESS_MAIN(SignedDownloads)
#include "test_signeddownloads.moc"
