// The one-second ticker: its quit signal comes once in the program's life, at the fifth shared tick.
#include "device/workerread.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class WorkerReadTicks : public QObject {
    Q_OBJECT
private slots:
    void quitComesOnceAtTheFifthTickCountedAcrossInstances()
    {
        QCOMPARE(WorkerRead::ticks(), 0);
        WorkerRead first;
        WorkerRead second;
        QSignalSpy firstQuit(&first, &WorkerRead::emitQuit);
        QSignalSpy secondQuit(&second, &WorkerRead::emitQuit);

        second.timerStartSlot();
        QVERIFY(second.timer());
        QCOMPARE(second.timer()->interval(), WorkerRead::TickMs);
        // One real tick proves the timer drives the count; the rest are called directly.
        QTRY_COMPARE_WITH_TIMEOUT(WorkerRead::ticks(), 1, WorkerRead::TickMs + 1000);
        first.timerOutSlot();
        first.timerOutSlot();
        first.timerOutSlot();
        QCOMPARE(firstQuit.count(), 0);
        QCOMPARE(secondQuit.count(), 0);
        second.timerOutSlot();
        QCOMPARE(WorkerRead::ticks(), 5);
        QCOMPARE(secondQuit.count(), 1);
        QCOMPARE(firstQuit.count(), 0);
        QVERIFY(!second.timer()->isActive());

        // A later instance keeps counting from where the others left off and never quits.
        WorkerRead later;
        QSignalSpy laterQuit(&later, &WorkerRead::emitQuit);
        for (int i = 0; i < 10; ++i)
            later.timerOutSlot();
        QCOMPARE(WorkerRead::ticks(), 15);
        QCOMPARE(laterQuit.count(), 0);
        QCOMPARE(secondQuit.count() + firstQuit.count(), 1);
    }

};

QTEST_GUILESS_MAIN(WorkerReadTicks)
#include "test_workerread.moc"
