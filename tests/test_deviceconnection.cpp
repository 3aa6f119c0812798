// A whole connection as the main window makes it: open, load, notifications, unplug and close.
#include "wire.h"
#include "timescale.h"
#include "device/device.h"
#include "device/deviceconnection.h"
#include "device/usb.h"
#include "widget/data.h"
#include "widget/qss.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

Q_DECLARE_METATYPE(sim::KeyboardConfig)

class DeviceConnectionTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    // Each sample board opens once, a second after asked, loads as its config.xml record says, passes
    // notifications on and, once unplugged, signals it and closes at once.
    void emulatedBoardsAreTheSampleFamily_data()
    {
        QTest::addColumn<sim::KeyboardConfig>("config");
        QTest::addColumn<int>("colourMaps");
        QTest::newRow("full-size dual") << sim::fullSizeDual() << 2;
        QTest::newRow("tenkeyless wired") << sim::tenkeylessWired() << 0;
    }
    void emulatedBoardsAreTheSampleFamily()
    {
        QFETCH(sim::KeyboardConfig, config);
        QFETCH(int, colourMaps);
        setAppDirPathForTest(QFINDTESTDATA("../appdir")); // only read
        Data data;
        QVector<BoardInfo*> boards;
        QVERIFY(data.parseConfigXML(&boards, QStringLiteral("config.xml")));
        const bool known = std::any_of(boards.begin(), boards.end(),
                                       [&](BoardInfo* b) { return b->name == QString::fromLatin1(config.boardName); });
        qDeleteAll(boards);
        QVERIFY2(known, config.boardName.constData());
        QCOMPARE(data.vid, config.vid);
        QCOMPARE(data.pid, config.pid);

        auto kb = sim::plug(config);
        DeviceConnection c;
        QSignalSpy opened(&c, &DeviceConnection::emitOpenSucceeded);
        QSignalSpy loaded(&c, &DeviceConnection::emitFinishLoad);
        QSignalSpy failed(&c, &DeviceConnection::emitLoadDevInfoError);
        QSignalSpy notified(&c, &DeviceConnection::emitNotify);
        QSignalSpy gone(&c, &DeviceConnection::emitUsbDisconnect);
        QElapsedTimer clock;
        clock.start();
        c.open(data.vid, data.pid, config.commandInterface, kb->commandPath());
        QVERIFY(opened.wait(timescale::ms(10000)));
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed()))); // the first attempt after 1 s
        QVERIFY(loaded.wait(timescale::ms(20000)));
        QCOMPARE(QList<int>({opened.count(), failed.count()}), QList<int>({1, 0}));
        QCOMPARE(c.device()->boardName(), QString::fromLatin1(config.boardName));
        QCOMPARE(int(c.device()->m_nkrm), colourMaps);
        kb->inject(report(0xF0, 0x20, 2));
        QVERIFY(notified.wait(timescale::ms(10000)));
        QCOMPARE(notified.at(0).at(0).toByteArray(), report(0xF0, 0x20, 2));
        sim::unplug(kb);
        QVERIFY(gone.wait(timescale::ms(10000)));
        // True: both threads ended, none was given up on; the limit only says it ends.
        clock.start();
        QVERIFY(c.close());
        QVERIFY2(clock.elapsed() < timescale::ms(20000), qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!c.device() && !c.usb());
    }

    // Closing ends at once and quietly while the keyboard loads, or while its transport still tries to open.
    void closeDuringLoadingEndsAtOnceWithoutSignals_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("while loading") << true;
        QTest::newRow("before the keyboard opened") << false;
    }
    void closeDuringLoadingEndsAtOnceWithoutSignals()
    {
        QFETCH(bool, present);
        sim::KeyboardConfig config;
        auto kb = sim::plug(config);
        kb->silence(0x10, 0x10); // the keyboard never answers its device information
        kb->refuseOpen(!present); // listed, so the transport keeps trying
        DeviceConnection c;
        QSignalSpy opened(&c, &DeviceConnection::emitOpenSucceeded);
        QSignalSpy loaded(&c, &DeviceConnection::emitFinishLoad);
        QSignalSpy failed(&c, &DeviceConnection::emitLoadDevInfoError);
        c.open(config.vid, config.pid, config.commandInterface, kb->commandPath());
        QCOMPARE(opened.wait(present ? timescale::ms(10000) : 1200), present);
        QTest::qWait(700);
        // True, not the 3 s give-up wait: the stop freed the loading from its waits and its thread ended.
        // The limit only says it ends.
        QElapsedTimer clock;
        clock.start();
        QVERIFY(c.close());
        QVERIFY2(clock.elapsed() < timescale::ms(20000), qPrintable(QString::number(clock.elapsed())));
        QTest::qWait(100);
        QCOMPARE(QList<int>({opened.count(), loaded.count(), failed.count()}), QList<int>({present, 0, 0}));
        QVERIFY(!c.device() && !c.usb());
    }
    // A notification counts as waiting until this thread has handled it: a flood while this thread is
    // busy passes on no more than the bound, and the next one once they are handled.
    void notificationsWaitingForThisThreadAreBounded()
    {
        auto kb = sim::plug(sim::fullSizeDual());
        DeviceConnection c;
        QSignalSpy loaded(&c, &DeviceConnection::emitFinishLoad);
        QSignalSpy notified(&c, &DeviceConnection::emitNotify);
        c.open(kb->config().vid, kb->config().pid, kb->config().commandInterface, kb->commandPath());
        QVERIFY(loaded.wait(timescale::ms(20000)));
        notified.clear();
        QCOMPARE(kb->flood(report(0xF0, 0x21, 1), 20000), 20000);
        // Still handling nothing here, until the client has taken every report read.
        QElapsedTimer clock;
        clock.start();
        for (int idle = 0; idle < 20 && clock.elapsed() < timescale::ms(10000);) {
            QThread::msleep(10);
            idle = c.usb()->backlog() == 0 ? idle + 1 : 0;
        }
        QTRY_COMPARE_WITH_TIMEOUT(notified.count(), Device::MaxNotificationsInFlight, timescale::ms(10000));
        kb->inject(report(0xF0, 0x21, 2));
        QTRY_COMPARE_WITH_TIMEOUT(notified.count(), Device::MaxNotificationsInFlight + 1, timescale::ms(10000));
        QCOMPARE(notified.last().at(0).toByteArray(), report(0xF0, 0x21, 2));
    }

    // The read loop and the loading wait on the keyboard: both threads run at the highest priority.
    void bothThreadsRunTimeCritical()
    {
        auto kb = sim::plug(sim::fullSizeDual());
        DeviceConnection c;
        QSignalSpy loaded(&c, &DeviceConnection::emitFinishLoad);
        c.open(kb->config().vid, kb->config().pid, kb->config().commandInterface, kb->commandPath());
        QVERIFY(loaded.wait(timescale::ms(20000)));
        QVERIFY(c.usb()->thread()->isRunning() && c.device()->thread()->isRunning());
        QCOMPARE(c.usb()->thread()->priority(), QThread::TimeCriticalPriority);
        QCOMPARE(c.device()->thread()->priority(), QThread::TimeCriticalPriority);
    }

    // Ending the client alone wakes the request it waits in (the keyboard never answers), ends its
    // thread at once and keeps the transport; a second call has nothing left to do.
    void deviceQuitWakesTheWaitingRequestAndKeepsTheTransport()
    {
        sim::KeyboardConfig config;
        auto kb = sim::plug(config);
        kb->silence(0x10, 0x10);
        DeviceConnection c;
        QSignalSpy opened(&c, &DeviceConnection::emitOpenSucceeded);
        QSignalSpy failed(&c, &DeviceConnection::emitLoadDevInfoError);
        c.open(config.vid, config.pid, config.commandInterface, kb->commandPath());
        QVERIFY(opened.wait(timescale::ms(10000)));
        QTest::qWait(300); // inside the wait for the device information
        QThread* thread = c.device()->thread();
        // True, not the give-up wait: the request was woken and the thread ended. The limit only says it ends.
        QElapsedTimer clock;
        clock.start();
        QVERIFY(c.deviceQuitThreadSlot());
        QVERIFY2(clock.elapsed() < timescale::ms(20000), qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!thread->isRunning());
        QVERIFY(!c.device());
        QVERIFY(c.usb() && c.usb()->thread()->isRunning());
        QVERIFY(c.deviceQuitThreadSlot());
        QTest::qWait(100);
        QCOMPARE(failed.count(), 0);
        QVERIFY(c.close());
        QVERIFY(!c.usb());
    }
};

QTEST_GUILESS_MAIN(DeviceConnectionTest)
#include "test_deviceconnection.moc"
