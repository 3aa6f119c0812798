// The stopwatch: its log line, and measuring on a monotonic clock whatever the wall clock shows.
#include "widget/runtime.h"

#include <QTest>

class Stopwatch : public QObject {
    Q_OBJECT
private slots:
    void logsTheTimeSinceItsMark_data()
    {
        QTest::addColumn<int>("markKind"); // 0: no mark
        QTest::addColumn<int>("stopKind");
        QTest::addColumn<QString>("expected");
        // Constructed at 2000 ms, marked at 61950, stopped at 62050: a wall clock would say 02.050 - 01.950.
        QTest::newRow("across a minute") << 1 << 1 << "\"load           [ 0.100s ]\"";
        QTest::newRow("second kind") << 2 << 2 << "\"load           [ 0.100s ]\"";
        QTest::newRow("never marked: since construction") << 0 << 1 << "\"load           [ 60.050s ]\"";
        QTest::newRow("the other kind's mark does not count") << 1 << 2 << "\"load           [ 60.050s ]\"";
    }
    void logsTheTimeSinceItsMark()
    {
        QFETCH(int, markKind);
        QFETCH(int, stopKind);
        QFETCH(QString, expected);
        qint64 now = 2000;
        RunTime watch([&now] { return now; });
        now = 61950;
        if (markKind)
            watch.mark(markKind);
        now = 62050;
        QTest::ignoreMessage(QtDebugMsg, qPrintable(expected)); // fails unless logged
        watch.stop(QStringLiteral("load           "), stopKind);
    }
};

QTEST_GUILESS_MAIN(Stopwatch)
#include "test_runtime.moc"
