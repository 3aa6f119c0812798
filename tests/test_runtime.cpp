// The stopwatch: its log line, and measuring on a monotonic clock whatever the wall clock shows.
#include "widget/runtime.h"

#include <QTest>

namespace {
QStringList s_messages;
void capture(QtMsgType, const QMessageLogContext&, const QString& message)
{
    s_messages << message;
}
} // namespace

class Stopwatch : public QObject {
    Q_OBJECT
private slots:
    void logsTheTimeSinceItsMark_data()
    {
        QTest::addColumn<qint64>("constructedAt");
        QTest::addColumn<int>("markKind"); // 0: no mark
        QTest::addColumn<qint64>("markedAt");
        QTest::addColumn<int>("stopKind");
        QTest::addColumn<qint64>("stoppedAt");
        QTest::addColumn<QString>("expected");
        QTest::newRow("within a minute") << qint64(0) << 1 << qint64(10250) << 1 << qint64(10262)
                                         << "\"load           [ 0.012s ]\"";
        // A wall clock would say 00.050 - 59.950; the monotonic one knows it was 100 ms.
        QTest::newRow("across a minute") << qint64(0) << 1 << qint64(59950) << 1 << qint64(60050)
                                         << "\"load           [ 0.100s ]\"";
        QTest::newRow("second kind") << qint64(0) << 2 << qint64(400) << 2 << qint64(1900)
                                     << "\"load           [ 1.500s ]\"";
        QTest::newRow("never marked: since construction") << qint64(2000) << 0 << qint64(0) << 1 << qint64(2750)
                                                          << "\"load           [ 0.750s ]\"";
        QTest::newRow("the other kind's mark does not count") << qint64(0) << 1 << qint64(400) << 2 << qint64(1000)
                                                              << "\"load           [ 1.000s ]\"";
    }
    void logsTheTimeSinceItsMark()
    {
        QFETCH(qint64, constructedAt);
        QFETCH(int, markKind);
        QFETCH(qint64, markedAt);
        QFETCH(int, stopKind);
        QFETCH(qint64, stoppedAt);
        QFETCH(QString, expected);
        qint64 now = constructedAt;
        RunTime watch([&now] { return now; });
        if (markKind) {
            now = markedAt;
            watch.mark(markKind);
        }
        now = stoppedAt;
        s_messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(capture);
        watch.stop(QStringLiteral("load           "), stopKind);
        qInstallMessageHandler(previous);
        QCOMPARE(s_messages, QStringList(expected));
    }
};

QTEST_GUILESS_MAIN(Stopwatch)
#include "test_runtime.moc"
