// The HID transport against the emulated keyboard: opening, the read loop, writing and reading.
#include "wire.h"
#include "device/requestlock.h"
#include "device/usb.h"
#include "simcontrol.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <hidapi.h>

namespace {

// A transport with its read loop running on its own thread.
struct RunningUsb {
    RequestLock lock;
    Usb usb{&lock.cond, &lock.mutex, &lock.waiting};
    QThread thread;
    explicit RunningUsb(const QString& path)
    {
        usb.openPath(path);
        usb.moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(&usb, "readSlot", Qt::QueuedConnection);
    }
    ~RunningUsb()
    {
        usb.stopRead();
        thread.quit();
        thread.wait();
        usb.close();
    }
};
}

class UsbTransport : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void firstOpenAttemptComesAfterOneSecondAndSucceedsOnce()
    {
        auto kb = sim::plug();
        RequestLock lock;
        auto* usb = new Usb(&lock.cond, &lock.mutex, &lock.waiting);
        QThread thread;
        usb->moveToThread(&thread);
        thread.start();
        QSignalSpy opened(usb, &Usb::emitOpenSucceeded);
        QElapsedTimer clock;
        clock.start();
        QMetaObject::invokeMethod(usb, "openSlot", Qt::QueuedConnection, Q_ARG(ushort, 0x3151),
                                  Q_ARG(ushort, 0x4015), Q_ARG(int, 2), Q_ARG(QString, kb->commandPath()));
        QVERIFY(opened.wait(3000));
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
        QTest::qWait(1300);
        QCOMPARE(opened.count(), 1);
        usb->stopRead();
        thread.quit();
        QVERIFY(thread.wait(2000));
        usb->close();
        delete usb;
    }

    void stopReadEndsTheLoopWithinOnePassAndStillSignalsDisconnect()
    {
        auto kb = sim::plug();
        RunningUsb r(kb->commandPath());
        QSignalSpy gone(&r.usb, &Usb::emitUsbDisconnect);
        QTest::qWait(50);
        QElapsedTimer clock;
        clock.start();
        r.usb.stopRead();
        QVERIFY(gone.wait(1000));
        QVERIFY(clock.elapsed() < 500);
    }

    void unrequestedReportsAreCopiedAndTheRingWraps()
    {
        auto kb = sim::plug();
        RunningUsb r(kb->commandPath());
        QList<QByteArray> received; // queued to this thread, as the protocol client gets them
        connect(&r.usb, &Usb::emitRecvCmd, this, [&received](QByteArray b) { received << b; });
        for (int i = 0; i < 33; ++i)
            kb->inject(report(0xF0, 0x21, uint8_t(i)));
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 33, 3000);
        for (int i = 0; i < 33; ++i)
            QCOMPARE(received.at(i), report(0xF0, 0x21, uint8_t(i)));
        QCOMPARE(r.usb.ringIndex(), 0); // the 33rd report took the first slot again
    }

    void disabledReadingLeavesReportsForTheBlockingRead()
    {
        auto kb = sim::plug();
        RunningUsb r(kb->commandPath());
        int received = 0;
        connect(&r.usb, &Usb::emitRecvCmd, this, [&received] { ++received; });
        QTest::qWait(30);
        r.usb.setReadingEnabled(false);
        kb->inject(report(0xB0, 0xDF, 7));
        QTest::qWait(100);
        QCOMPARE(received, 0);
        uint8_t data[64] = {};
        QCOMPARE(r.usb.read(data, 64), 0);
        QCOMPARE(data[0], uint8_t(0xB0));
        QCOMPARE(data[8], uint8_t(7));
        r.usb.setReadingEnabled(true);
        kb->inject(report(0xF0, 0x20));
        QTRY_COMPARE_WITH_TIMEOUT(received, 1, 1000);
    }

    void writeSendsTheReportAfterReportIdZero()
    {
        auto kb = sim::plug();
        RequestLock lock;
        Usb usb(&lock.cond, &lock.mutex, &lock.waiting);
        uint8_t data[64];
        for (int i = 0; i < 64; ++i)
            data[i] = uint8_t(i == 0 ? 0x10 : (i == 1 ? 0x20 : 0x40 + i));
        QCOMPARE(usb.write(data, 64), -1); // nothing open yet
        QVERIFY(usb.openPath(kb->commandPath()));
        QCOMPARE(usb.write(data, 64), 0);
        const auto log = kb->log();
        QVERIFY(!log.isEmpty());
        QCOMPARE(log.first().direction, sim::LogEntry::ToDevice);
        QCOMPARE(log.first().report, QByteArray(reinterpret_cast<const char*>(data), 64));
        kb->failWrite(1);
        QCOMPARE(usb.write(data, 64), -1);
        usb.close();
    }

    void readTimeoutReturnsZeroWhenNothingArrives()
    {
        auto kb = sim::plug();
        RequestLock lock;
        Usb usb(&lock.cond, &lock.mutex, &lock.waiting);
        QVERIFY(usb.openPath(kb->commandPath()));
        uint8_t data[64];
        QCOMPARE(usb.read_timeout(data, 64, 20), 0);
        kb->inject(report(0xF0, 0x60, 3));
        QCOMPARE(usb.read_timeout(data, 64, 200), 64);
        QCOMPARE(data[8], uint8_t(3));
        usb.close();
    }

    void openByIdsChoosesTheInterfaceByItsNumber_data()
    {
        QTest::addColumn<int>("iface");
        QTest::addColumn<bool>("opens");
        QTest::newRow("command interface") << 2 << true;
        QTest::newRow("first interface") << 0 << true;
        QTest::newRow("any interface") << -1 << true;
        QTest::newRow("interface it lacks") << 5 << false;
    }
    void openByIdsChoosesTheInterfaceByItsNumber()
    {
        QFETCH(int, iface);
        QFETCH(bool, opens);
        sim::KeyboardConfig config;
        auto kb = sim::plug(config);
        RequestLock lock;
        Usb usb(&lock.cond, &lock.mutex, &lock.waiting);
        usb.setIds(config.vid, config.pid, iface);
        QCOMPARE(usb.open(), opens ? 0 : -1);
        if (opens && iface >= 0)
            QCOMPARE(usb.path(), kb->path(iface));
        usb.close();
    }
};

QTEST_GUILESS_MAIN(UsbTransport)
#include "test_usb.moc"
