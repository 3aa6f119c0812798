// The one-second ticker: its quit signal comes once in the program's life, at the fifth shared tick.
#include "device/workerread.h"
#include "timescale.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class WorkerReadTicks : public QObject {
    Q_OBJECT
private slots:
    void quitComesOnceAtTheFifthTickCountedAcrossInstances()
    {
        WorkerRead first, second;
        QSignalSpy firstQuit(&first, &WorkerRead::emitQuit), secondQuit(&second, &WorkerRead::emitQuit);
        second.timerStartSlot();
        // One real tick proves the timer drives the count; the rest are called directly.
        QTRY_COMPARE_WITH_TIMEOUT(WorkerRead::ticks(), 1, timescale::ms(WorkerRead::TickMs + 1000));
        for (int i = 0; i < 3; ++i)
            first.timerOutSlot();
        QCOMPARE(firstQuit.count() + secondQuit.count(), 0);
        second.timerOutSlot();
        QCOMPARE(secondQuit.count(), 1);
        QVERIFY(!second.timer()->isActive());

        // The count goes on, but the fifth tick never comes again.
        for (int i = 0; i < 10; ++i)
            first.timerOutSlot();
        QCOMPARE(firstQuit.count() + secondQuit.count(), 1);
    }
};

QTEST_GUILESS_MAIN(WorkerReadTicks)
#include "test_workerread.moc"
