// The presence poller: what it reports as the watched device comes and goes.
#include "device/checkusb.h"
#include "simcontrol.h"

#include <QPointer>
#include <QTest>

namespace {
QStringList s_events;
}

class PresencePoller : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void awayBackAwayGivesTwoDisconnectsWithOneConnectBetween()
    {
        s_events.clear();
        QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
            if (m.endsWith(QLatin1String("USB connect.")))
                s_events << QStringLiteral("connect");
        });
        CheckUSB poller(0x0416, 0xA316);
        connect(&poller, &CheckUSB::emitDisconnect, this, [] { s_events << QStringLiteral("disconnect"); });
        auto bl = sim::plugBootloader();
        poller.scanDeviceSlot(); // present from the start: nothing
        sim::unplug(bl);
        poller.scanDeviceSlot();
        poller.scanDeviceSlot(); // still away: nothing more
        bl = sim::plugBootloader();
        poller.scanDeviceSlot();
        poller.scanDeviceSlot();
        sim::unplug(bl);
        poller.scanDeviceSlot();
        qInstallMessageHandler(previous);
        QCOMPARE(s_events, (QStringList{"disconnect", "connect", "disconnect"}));
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
        QTRY_VERIFY(poller.isNull());
        QTest::qWait(20);
        QCOMPARE(disconnects, 1);
    }
};

QTEST_GUILESS_MAIN(PresencePoller)
#include "test_checkusb.moc"
