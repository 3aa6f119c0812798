// Network time for signing downloads: the daytime answer's fields, the rotation over the configured
// servers with wrap-around, and a stop that ends a wait for a silent server at once.
#include "Update/downloadfile.h"
#include "localupdate.h"
#include "timescale.h"
#include "widget/qss.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QThread>
#include <QtTest>

class NetworkTimeRotation : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    std::unique_ptr<LocalUpdate> m_local;

    // A row's server list: "day<n>" is daytime server n, "refused" a port nothing listens on.
    std::unique_ptr<DownloadFile> workerFor(const QStringList& kinds)
    {
        const QStringList days = m_local->servers.daytimeHosts();
        QStringList hosts;
        for (const QString& kind : kinds) {
            QTcpServer closed; // bound, then closed again
            hosts << (kind == QLatin1String("refused") && closed.listen(QHostAddress::LocalHost)
                          ? QStringLiteral("127.0.0.1:%1").arg(closed.serverPort())
                          : days.value(kind.mid(3).toInt()));
        }
        if (!m_local->servers.writeConfig(m_app.filePath(QStringLiteral("config/UpdateServer.ini")), hosts))
            return nullptr;
        return std::make_unique<DownloadFile>();
    }

private slots:
    void initTestCase()
    {
        qunsetenv("TESSARK_UPDATE_CONFIG");
        setAppDirPathForTest(m_app.path());
    }
    void init()
    {
        m_local.reset(new LocalUpdate(7));
        QVERIFY(m_local->servers.start());
        DownloadFile::setWaitsForTest(timescale::ms(10000), timescale::ms(10000), timescale::ms(10000));
    }
    void cleanup()
    {
        m_local.reset();
        DownloadFile::setWaitsForTest(30000, 30000, 30000);
        DownloadFile::setNextTimeServerIndex(0);
        sim::setSharedClockOffsetSecs(0);
    }

    void answerFields_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("parses"); // as 2024-03-15 08:30:00 UTC
        QTest::newRow("day number, date, time, further fields")
            << QByteArray("60384 24-03-15 08:30:00 50 0 0 615.2 UTC(NIST) *") << true;
        QTest::newRow("white space and line end around it")
            << QByteArray("\n  60384 24-03-15 08:30:00 50 0 0 615.2 UTC(NIST) * \r\n") << true;
        QTest::newRow("cut at the first NUL") << QByteArray("60384 24-03-15 08:30:00\0 garbage", 33) << true;
        QTest::newRow("single field") << QByteArray("60384") << false;
        QTest::newRow("impossible date") << QByteArray("60384 24-02-30 08:30:00 0") << false;
        QTest::newRow("fields in another order") << QByteArray("24-03-15 08:30:00 60384") << false;
    }
    void answerFields()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, parses);
        const QDateTime parsed = DownloadFile::parseDaytimeAnswer(answer);
        QCOMPARE(parsed, parses ? QDateTime(QDate(2024, 3, 15), QTime(8, 30, 0), Qt::UTC) : QDateTime());
        QVERIFY(!parses || parsed.timeSpec() == Qt::UTC);
    }

    void rotation_data()
    {
        QTest::addColumn<QStringList>("servers");
        QTest::addColumn<int>("startIndex");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<int>("nextIndex");
        QTest::addColumn<QList<int>>("asked"); // connections per daytime server 0..6 after the call
        const QStringList seven{"day0", "day1", "day2", "day3", "day4", "day5", "day6"};
        const QStringList refused4{"refused", "refused", "refused", "refused"};
        QTest::newRow("first answers") << seven << 0 << true << 1 << QList<int>{1, 0, 0, 0, 0, 0, 0};
        QTest::newRow("last answers, next is the first") << seven << 6 << true << 0 << QList<int>{0, 0, 0, 0, 0, 0, 1};
        QTest::newRow("later servers refuse, wraps to the first")
            << QStringList{"day0", "day1", "day2"} + refused4 << 3 << true << 1 << QList<int>{1, 0, 0, 0, 0, 0, 0};
        QTest::newRow("every server refuses, index kept") << refused4 << 3 << false << 3 << QList<int>{0, 0, 0, 0, 0, 0, 0};
        QTest::newRow("index beyond a shorter list starts at the first")
            << QStringList{"day0", "day1"} << 5 << true << 1 << QList<int>{1, 0, 0, 0, 0, 0, 0};
        QTest::newRow("garbage and closing servers skipped")
            << QStringList{"day4", "day5", "day1"} << 0 << true << 0 << QList<int>{0, 1, 0, 0, 1, 1, 0};
        QTest::newRow("silent server times out, next asked")
            << QStringList{"day6", "day3"} << 0 << true << 0 << QList<int>{0, 0, 0, 1, 0, 0, 1};
    }
    void rotation()
    {
        QFETCH(QStringList, servers);
        QFETCH(int, startIndex);
        QFETCH(bool, answered);
        QFETCH(int, nextIndex);
        QFETCH(QList<int>, asked);
        m_local->servers.setDaytimeMode(4, sim::DaytimeMode::Garbage);
        m_local->servers.setDaytimeMode(5, sim::DaytimeMode::Close);
        if (QByteArray(QTest::currentDataTag()).startsWith("silent"))
            m_local->servers.setDaytimeMode(6, sim::DaytimeMode::Silence);
        // The answer wait is also how long the silent server holds the rotation up.
        DownloadFile::setWaitsForTest(timescale::ms(10000), timescale::ms(2000), timescale::ms(10000));
        // A shared clock far from the machine's shows the time is the server's, not the local one.
        sim::setSharedClockOffsetSecs(-86400 * 400);
        const auto worker = workerFor(servers);
        QVERIFY(worker);
        DownloadFile::setNextTimeServerIndex(startIndex);
        const QDateTime result = worker->getNetworkTime();
        QCOMPARE(result.isValid(), answered);
        QVERIFY(!answered || qAbs(result.secsTo(sim::sharedClockUtc())) <= 2);
        QCOMPARE(DownloadFile::nextTimeServerIndex(), nextIndex);
        for (int i = 0; i < asked.size(); ++i)
            QCOMPARE(m_local->servers.daytimeConnections(i), asked.at(i));
    }

    // The full waits, far beyond the limit below: only the stop, from another thread, can end this call
    // within it.
    void stopEndsSilentWait()
    {
        const int limit = timescale::ms(20000);
        DownloadFile::setWaitsForTest(15 * limit, 15 * limit, 15 * limit);
        m_local->servers.setDaytimeMode(0, sim::DaytimeMode::Silence);
        const auto worker = workerFor({"day0", "day1"});
        QVERIFY(worker);
        QElapsedTimer clock;
        std::atomic<qint64> stoppedAt{-1};
        std::unique_ptr<QThread> stopper(QThread::create([&] {
            QThread::msleep(500);
            stoppedAt = clock.elapsed();
            worker->requestStop();
        }));
        clock.start();
        stopper->start();
        const QDateTime result = worker->getNetworkTime();
        const qint64 returnedAt = clock.elapsed();
        stopper->wait();
        QVERIFY(result.isNull());
        QVERIFY2(stoppedAt >= 0 && returnedAt - stoppedAt < limit, qPrintable(QString::number(returnedAt - stoppedAt)));
        QCOMPARE(m_local->servers.daytimeConnections(0), 1);
        QCOMPARE(m_local->servers.daytimeConnections(1), 0); // not asked once stopped
        QCOMPARE(DownloadFile::nextTimeServerIndex(), 0);
    }
};

QTEST_GUILESS_MAIN(NetworkTimeRotation)
#include "test_networktime.moc"
