// A whole connection as the main window makes it: open, load, notifications, unplug and close.
#include "device/device.h"
#include "device/deviceconnection.h"
#include "simcontrol.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

namespace {
QByteArray notification(uint8_t code, uint8_t value)
{
    QByteArray r(64, '\0');
    r[0] = char(0xF0);
    r[1] = char(code);
    r[8] = char(value);
    return r;
}
}

class DeviceConnectionTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void opensLoadsAndPassesNotificationsOn()
    {
        sim::KeyboardSpec spec;
        auto kb = sim::plug(spec);
        DeviceConnection c;
        QSignalSpy opened(&c, &DeviceConnection::emitOpenSucceeded);
        QSignalSpy loaded(&c, &DeviceConnection::emitFinishLoad);
        QSignalSpy failed(&c, &DeviceConnection::emitLoadDevInfoError);
        QSignalSpy notified(&c, &DeviceConnection::emitNotify);
        c.open(spec.vid, spec.pid, spec.commandInterface, kb->commandPath());
        QVERIFY(loaded.wait(20000));
        QCOMPARE(opened.count(), 1);
        QCOMPARE(failed.count(), 0);
        QVERIFY(c.device());
        QCOMPARE(c.device()->boardName(), QString::fromLatin1(spec.boardName));

        kb->inject(notification(0x20, 2));
        QVERIFY(notified.wait(2000));
        QCOMPARE(notified.at(0).at(0).toByteArray(), notification(0x20, 2));
        c.close();
        QVERIFY(!c.device());
        QVERIFY(!c.usb());
    }

    void unplugSignalsDisconnect()
    {
        sim::KeyboardSpec spec;
        auto kb = sim::plug(spec);
        DeviceConnection c;
        QSignalSpy opened(&c, &DeviceConnection::emitOpenSucceeded);
        QSignalSpy gone(&c, &DeviceConnection::emitUsbDisconnect);
        c.open(spec.vid, spec.pid, spec.commandInterface, kb->commandPath());
        QVERIFY(opened.wait(3000));
        sim::unplug(kb);
        QVERIFY(gone.wait(3000));
        QElapsedTimer clock;
        clock.start();
        c.close();
        QVERIFY(clock.elapsed() < 2000);
    }

    void closeDuringLoadingEndsAtOnceWithoutSignals()
    {
        sim::KeyboardSpec spec;
        auto kb = sim::plug(spec);
        kb->silence(0x10, 0x10); // the keyboard never answers its device information
        DeviceConnection c;
        QSignalSpy opened(&c, &DeviceConnection::emitOpenSucceeded);
        QSignalSpy loaded(&c, &DeviceConnection::emitFinishLoad);
        QSignalSpy failed(&c, &DeviceConnection::emitLoadDevInfoError);
        c.open(spec.vid, spec.pid, spec.commandInterface, kb->commandPath());
        QVERIFY(opened.wait(3000));
        QTest::qWait(700);
        QElapsedTimer clock;
        clock.start();
        c.close();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QTest::qWait(100);
        QCOMPARE(loaded.count(), 0);
        QCOMPARE(failed.count(), 0);
    }

    void closeBeforeTheKeyboardOpenedStopsTrying()
    {
        DeviceConnection c;
        QSignalSpy opened(&c, &DeviceConnection::emitOpenSucceeded);
        c.open(1, 2, 0, QStringLiteral("sim/absent"));
        QTest::qWait(1200);
        c.close();
        QCOMPARE(opened.count(), 0);
        QVERIFY(!c.usb());
    }
};

QTEST_GUILESS_MAIN(DeviceConnectionTest)
#include "test_deviceconnection.moc"
