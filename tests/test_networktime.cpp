// Network time for signing downloads: the daytime answer's fields, the rotation over the configured
// servers with wrap-around, the waits, and a stop that ends a wait at once.
#include "Update/downloadfile.h"
#include "Update/overallvariate.h"
#include "tempappdir.h"
#include "updateserver.h"
#include "widget/qss.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {

const QByteArray Key = "fetchkx0123456789abcdef0123456789abcdef0";

// host:port pairs on which nothing listens: bound, then closed again.
QStringList refusingHosts(int count)
{
    QStringList hosts;
    std::vector<std::unique_ptr<QTcpServer>> held;
    for (int i = 0; i < count; ++i) {
        held.emplace_back(new QTcpServer);
        if (held.back()->listen(QHostAddress::LocalHost, 0))
            hosts << QStringLiteral("127.0.0.1:%1").arg(held.back()->serverPort());
    }
    return hosts;
}

} // namespace

class NetworkTimeRotation : public QObject {
    Q_OBJECT
    std::unique_ptr<TempAppDir> m_app;
    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<sim::UpdateServers> m_servers;

    // The time-server list a row names: "day<n>" is daytime server n, "refused" a port nothing listens on.
    QStringList hostsFor(const QStringList& kinds)
    {
        const QStringList days = m_servers->daytimeHosts();
        QStringList hosts;
        for (const QString& kind : kinds) {
            if (kind == QLatin1String("refused"))
                hosts << refusingHosts(1);
            else
                hosts << days.at(kind.mid(3).toInt());
        }
        return hosts;
    }

    std::unique_ptr<DownloadFile> workerFor(const QStringList& hosts)
    {
        const QString config = m_app->filePath(QStringLiteral("config/UpdateServer.ini"));
        if (!m_servers->writeConfig(config, hosts))
            return nullptr;
        return std::make_unique<DownloadFile>();
    }

private slots:
    void init()
    {
        m_app.reset(new TempAppDir);
        setAppDirPathForTest(m_app->path());
        qunsetenv("TESSARK_UPDATE_CONFIG");
        m_root.reset(new QTemporaryDir);
        m_servers.reset(new sim::UpdateServers(m_root->path(), Key, 7));
        QVERIFY(m_servers->start());
        sim::setSharedClockOffsetSecs(0);
        DownloadFile::setWaitsForTest(2000, 2000, 2000);
    }

    void cleanup()
    {
        m_servers.reset();
        DownloadFile::setWaitsForTest(30000, 30000, 30000);
        DownloadFile::setNextTimeServerIndex(0);
        setAppDirPathForTest(QString());
    }

    void answerFields_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QDateTime>("expected");
        const QDateTime example(QDate(2024, 3, 15), QTime(8, 30, 0), Qt::UTC);
        QTest::newRow("day number, date, time, further fields")
            << QByteArray("60384 24-03-15 08:30:00 50 0 0 615.2 UTC(NIST) *") << example;
        QTest::newRow("white space and line end around it")
            << QByteArray("\n  60384 24-03-15 08:30:00 50 0 0 615.2 UTC(NIST) * \r\n") << example;
        QTest::newRow("cut at the first NUL") << QByteArray("60384 24-03-15 08:30:00\0 garbage", 33) << example;
        QTest::newRow("single field") << QByteArray("60384") << QDateTime();
        QTest::newRow("empty") << QByteArray() << QDateTime();
        QTest::newRow("no time") << QByteArray("60384 24-03-15") << QDateTime();
        QTest::newRow("impossible date") << QByteArray("60384 24-02-30 08:30:00 0") << QDateTime();
        QTest::newRow("impossible time") << QByteArray("60384 24-03-15 25:30:00 0") << QDateTime();
        QTest::newRow("fields in another order") << QByteArray("24-03-15 08:30:00 60384") << QDateTime();
    }

    void answerFields()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QDateTime, expected);
        const QDateTime parsed = DownloadFile::parseDaytimeAnswer(answer);
        QCOMPARE(parsed.isValid(), expected.isValid());
        if (expected.isValid()) {
            QCOMPARE(parsed, expected);
            QCOMPARE(parsed.timeSpec(), Qt::UTC);
        }
    }

    void rotation_data()
    {
        QTest::addColumn<QStringList>("servers");
        QTest::addColumn<int>("startIndex");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<int>("nextIndex");
        QTest::addColumn<QList<int>>("asked"); // connections per daytime server 0..6 after the call

        const QStringList seven{"day0", "day1", "day2", "day3", "day4", "day5", "day6"};
        QTest::newRow("first answers") << seven << 0 << true << 1 << QList<int>{1, 0, 0, 0, 0, 0, 0};
        QTest::newRow("last answers, next is the first") << seven << 6 << true << 0 << QList<int>{0, 0, 0, 0, 0, 0, 1};
        QTest::newRow("later servers refuse, wraps to the first")
            << QStringList{"day0", "day1", "day2", "refused", "refused", "refused", "refused"} << 3 << true << 1
            << QList<int>{1, 0, 0, 0, 0, 0, 0};
        QTest::newRow("every server refuses, index kept")
            << QStringList{"refused", "refused", "refused", "refused"} << 3 << false << 3
            << QList<int>{0, 0, 0, 0, 0, 0, 0};
        QTest::newRow("index beyond a shorter list starts at the first")
            << QStringList{"day0", "day1"} << 5 << true << 1 << QList<int>{1, 0, 0, 0, 0, 0, 0};
        QTest::newRow("garbage answer skipped")
            << QStringList{"day4", "day1"} << 0 << true << 0 << QList<int>{0, 1, 0, 0, 1, 0, 0};
        QTest::newRow("closed without answer skipped")
            << QStringList{"day5", "day2"} << 0 << true << 0 << QList<int>{0, 0, 1, 0, 0, 1, 0};
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

        // Behaviours used by the rows above: 4 garbage, 5 closes, 6 silent (only in the last row).
        m_servers->setDaytimeMode(4, sim::DaytimeMode::Garbage);
        m_servers->setDaytimeMode(5, sim::DaytimeMode::Close);
        if (QByteArray(QTest::currentDataTag()).startsWith("silent")) {
            m_servers->setDaytimeMode(6, sim::DaytimeMode::Silence);
            DownloadFile::setWaitsForTest(2000, 300, 2000);
        }
        // A shared clock far from the machine's shows the time is the server's, not the local one.
        sim::setSharedClockOffsetSecs(-86400 * 400);

        const auto worker = workerFor(hostsFor(servers));
        QVERIFY(worker);
        QCOMPARE(worker->timeServerList().size(), servers.size());
        DownloadFile::setNextTimeServerIndex(startIndex);

        const QDateTime result = worker->getNetworkTime();
        QCOMPARE(result.isValid(), answered);
        if (answered) {
            QCOMPARE(result.timeSpec(), Qt::UTC);
            QVERIFY(qAbs(result.secsTo(sim::sharedClockUtc())) <= 2);
        }
        QCOMPARE(DownloadFile::nextTimeServerIndex(), nextIndex);
        for (int i = 0; i < asked.size(); ++i)
            QCOMPARE(m_servers->daytimeConnections(i), asked.at(i));
    }

    void stopEndsSilentWait_data()
    {
        QTest::addColumn<bool>("fromTimer");
        QTest::newRow("stop from another thread") << false;
        QTest::newRow("stop from a timer of the worker's thread") << true;
    }

    void stopEndsSilentWait()
    {
        QFETCH(bool, fromTimer);
        // The full waits: only the stop can end this call early.
        DownloadFile::setWaitsForTest(30000, 30000, 30000);
        m_servers->setDaytimeMode(0, sim::DaytimeMode::Silence);
        const auto worker = workerFor(hostsFor({"day0", "day1"}));
        QVERIFY(worker);

        QElapsedTimer clock;
        std::atomic<qint64> stoppedAt{-1};
        const auto stop = [&] {
            stoppedAt = clock.elapsed();
            worker->requestStop();
        };
        std::unique_ptr<QThread> stopper;
        std::unique_ptr<QThread> workerThread;
        QDateTime result = QDateTime::currentDateTimeUtc();
        qint64 returnedAt = -1;
        clock.start();
        if (fromTimer) {
            // As the dialog runs it: the worker on its own thread, the stop from the GUI thread's timer.
            workerThread.reset(QThread::create([&] {
                result = worker->getNetworkTime();
                returnedAt = clock.elapsed();
            }));
            workerThread->start();
            QTimer::singleShot(500, this, stop);
            QVERIFY(QTest::qWaitFor([&] { return workerThread->isFinished(); }, 5000));
            workerThread->wait();
        } else {
            stopper.reset(QThread::create([&] {
                QThread::msleep(500);
                stop();
            }));
            stopper->start();
            result = worker->getNetworkTime();
            returnedAt = clock.elapsed();
            stopper->wait();
        }
        QVERIFY(result.isNull());
        QVERIFY(stoppedAt >= 0);
        QVERIFY2(returnedAt - stoppedAt < 100, qPrintable(QStringLiteral("returned %1 ms after the stop")
                                                               .arg(returnedAt - stoppedAt)));
        QCOMPARE(m_servers->daytimeConnections(0), 1);
        // The answering server after the silent one is not asked once stopped.
        QCOMPARE(m_servers->daytimeConnections(1), 0);
        QCOMPARE(DownloadFile::nextTimeServerIndex(), 0);
    }

    void stoppedWorkerAsksNobody()
    {
        const auto worker = workerFor(hostsFor({"day0"}));
        QVERIFY(worker);
        worker->requestStop();
        QVERIFY(worker->getNetworkTime().isNull());
        QCOMPARE(m_servers->daytimeConnections(0), 0);
    }
};

QTEST_GUILESS_MAIN(NetworkTimeRotation)
#include "test_networktime.moc"
