// The presence poller: what it reports as the watched device comes and goes.
#include "device/checkusb.h"
#include "simcontrol.h"
#include "timescale.h"

#include <QPointer>
#include <QTest>

class PresencePoller : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    // One disconnect each time the device leaves: none while it stays away, is back or was there from the start.
    void disconnectIsSignalledOnceEachTimeTheDeviceLeaves()
    {
        CheckUSB poller(0x0416, 0xA316);
        int disconnects = 0;
        connect(&poller, &CheckUSB::emitDisconnect, this, [&disconnects] { ++disconnects; });
        const auto poll = [&] { poller.scanDeviceSlot(); return disconnects; };
        auto bl = sim::plugBootloader();
        QCOMPARE(poll(), 0);
        sim::unplug(bl);
        QCOMPARE(poll(), 1);
        QCOMPARE(poll(), 1);
        bl = sim::plugBootloader();
        QCOMPARE(poll(), 1);
        QCOMPARE(poll(), 1);
        sim::unplug(bl);
        QCOMPARE(poll(), 2);
    }

    void receiverMayDeleteThePollerInsideTheSignal()
    {
        QPointer<CheckUSB> poller = new CheckUSB(0x0416, 0xA316); // nothing plugged: away at the first poll
        int disconnects = 0;
        connect(poller, &CheckUSB::emitDisconnect, poller, [&poller, &disconnects] {
            ++disconnects;
            delete poller.data();
        }, Qt::DirectConnection);
        poller->start(5);
        QTRY_VERIFY_WITH_TIMEOUT(poller.isNull(), timescale::ms(10000));
        QTest::qWait(20);
        QCOMPARE(disconnects, 1);
    }
};

QTEST_GUILESS_MAIN(PresencePoller)
#include "test_checkusb.moc"
