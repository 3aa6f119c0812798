// The waits rows allow for what must happen without hanging: one factor, larger in the sanitizer build
// and raised by an environment variable; and the thread clock rows bound a cost with.
#include "sanitizer.h"
#include "threadclock.h"
#include "timescale.h"

#include <QtTest>
#include <thread>

class TimeScale : public QObject
{
    Q_OBJECT

private slots:
    void sanitizerBuildWaitsLonger()
    {
#ifdef TESSARK_ASAN
        QVERIFY(timescale::buildFactor() >= 3.5);
#else
        QCOMPARE(timescale::buildFactor(), 1.0);
#endif
    }

    void variableRaisesTheFactorOnly_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<double>("times"); // of the build's own factor
        QTest::newRow("unset") << QByteArray() << 1.0;
        QTest::newRow("two") << QByteArray("2") << 2.0;
        QTest::newRow("two and a half, spaced") << QByteArray(" 2.5\n") << 2.5;
        QTest::newRow("one") << QByteArray("1") << 1.0;
        QTest::newRow("a half cannot lower it") << QByteArray("0.5") << 1.0;
        QTest::newRow("zero") << QByteArray("0") << 1.0;
        QTest::newRow("negative") << QByteArray("-3") << 1.0;
        QTest::newRow("not a number") << QByteArray("slow") << 1.0;
        QTest::newRow("infinite") << QByteArray("inf") << 1.0;
        QTest::newRow("huge, held at a thousand") << QByteArray("1e300") << 1000.0;
    }
    void variableRaisesTheFactorOnly()
    {
        QFETCH(QByteArray, value);
        QFETCH(double, times);
        QCOMPARE(timescale::factorFor(value), timescale::buildFactor() * times);
    }

    // The variable as the run has it reaches every scaled wait.
    void variableReachesTheWaits()
    {
        const QByteArray before = qgetenv(timescale::EnvName);
        const bool had = qEnvironmentVariableIsSet(timescale::EnvName);
        qputenv(timescale::EnvName, "3");
        const int scaled = timescale::ms(1000);
        const int huge = timescale::ms(2000000000);
        had ? qputenv(timescale::EnvName, before) : qunsetenv(timescale::EnvName);
        QCOMPARE(scaled, int(3000 * timescale::buildFactor()));
        QCOMPARE(huge, std::numeric_limits<int>::max());
    }

    // What the thread computes counts; time it sleeps, or the machine spends on others, does not.
    void threadClockCountsWorkNotWaiting()
    {
        ThreadClock clock;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
        clock.start();
        volatile quint64 sum = 0;
        while (clock.elapsed() < 30)
            sum = sum + 1;
        QVERIFY(sum > 0);
    }
};

QTEST_GUILESS_MAIN(TimeScale)
#include "test_timescale.moc"
