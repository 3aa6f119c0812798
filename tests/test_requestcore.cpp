// One request at a time against the emulated keyboard: which report is the reply, and when a wait ends.
#include "wire.h"
#include "keyboardfixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

namespace {
constexpr int ShortWait = 300; // keeps the time-out cases quick


// Runs f on a thread of its own and returns when it has finished.
template <typename F>
QThread* startThread(F f)
{
    QThread* t = QThread::create(f);
    t->start();
    return t;
}

// Waits until the keyboard has seen n reports written.
bool waitForWrites(const sim::KeyboardPtr& kb, int n)
{
    QElapsedTimer clock;
    clock.start();
    while (kb->writes() < n && clock.elapsed() < 2000)
        QThread::msleep(1);
    return kb->writes() >= n;
}
}

class RequestCore : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void packetWithoutPayloadIsZeroAfterTheHeader()
    {
        KeyboardFixture f;
        QVERIFY(f.usb->openPath(f.kb->commandPath()));
        QCOMPARE(f.device->sendPacket(0x20, 0x01, 0, 0, nullptr), DeviceResult::Ok);
        QCOMPARE(f.kb->log().first().report, report(0x20, 0x01));
    }

    void packetCarriesLengthOffsetAndAtMost56PayloadBytes()
    {
        KeyboardFixture f;
        QVERIFY(f.usb->openPath(f.kb->commandPath()));
        uint8_t payload[60];
        for (int i = 0; i < 60; ++i)
            payload[i] = uint8_t(i + 1);
        QCOMPARE(f.device->sendPacket(0x50, 0x40, 60, 0x0123, payload), DeviceResult::Ok);
        const QByteArray sent = f.kb->log().first().report;
        QCOMPARE(uint8_t(sent[2]), uint8_t(60));
        QCOMPARE(uint8_t(sent[4]), uint8_t(0x23));
        QCOMPARE(uint8_t(sent[5]), uint8_t(0x01));
        QCOMPARE(sent.mid(8), QByteArray(reinterpret_cast<const char*>(payload), 56));
    }

    void failedWriteIsReportedAndReleasesTheLock()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        f.kb->failWrite(1);
        uint8_t reply[64];
        QCOMPARE(f.device->request(0x10, 0x20, 0, 0, nullptr, ShortWait, reply), DeviceResult::WriteFailed);
        QCOMPARE(f.device->request(0x10, 0x20, 0, 0, nullptr, ShortWait, reply), DeviceResult::Ok);
    }

    void silentKeyboardTimesOutAndTheReplyIsUntouched()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        f.kb->silence(0x10, 0x20);
        uint8_t reply[64];
        std::memset(reply, 0xAB, sizeof reply);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(f.device->request(0x10, 0x20, 0, 0, nullptr, ShortWait, reply), DeviceResult::Timeout);
        QVERIFY(clock.elapsed() >= ShortWait - 10);
        QCOMPARE(reply[0], uint8_t(0xAB));
    }

    void lateReplyOfThePreviousRequestIsNotTakenForTheNext()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        f.kb->answerLate(0x10, 0x20, 1);
        uint8_t reply[64];
        QCOMPARE(f.device->request(0x10, 0x20, 0, 0, nullptr, ShortWait, reply), DeviceResult::Timeout);
        QCOMPARE(f.device->request(0x10, 0x50, 0, 0, nullptr, 2000, reply), DeviceResult::Ok);
        QCOMPARE(reply[1], uint8_t(0x50));
        QCOMPARE(reply[8], f.kb->state().nKey);
    }

    void wrongEchoIsNotAReply()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        f.kb->wrongEcho(0x10, 0x20, 1);
        uint8_t reply[64];
        QCOMPARE(f.device->request(0x10, 0x20, 0, 0, nullptr, ShortWait, reply), DeviceResult::Timeout);
    }

    void notificationDuringARequestGoesToTheNotificationWay()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        QSignalSpy notified(f.device, &Device::emitNotify);
        f.kb->answerLate(0x10, 0x20, 1);
        uint8_t reply[64];
        // The notification arrives while the request waits; the reply only after it.
        QThread* t = startThread([&f] {
            waitForWrites(f.kb, 1);
            f.kb->inject(report(0xF0, 0x21, 9));
            QThread::msleep(30);
            f.kb->inject(report(0x10, 0x20, 0x44));
        });
        QCOMPARE(f.device->request(0x10, 0x20, 0, 0, nullptr, 2000, reply), DeviceResult::Ok);
        t->wait();
        delete t;
        QCOMPARE(reply[8], uint8_t(0x44));
        QTRY_COMPARE(notified.count(), 1);
        QCOMPARE(notified.at(0).at(0).toByteArray(), report(0xF0, 0x21, 9));
    }

    void notificationWhileIdleIsPassedOnAndOtherReportsAreNot()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        QSignalSpy notified(f.device, &Device::emitNotify);
        f.kb->inject(report(0x20, 0x10));
        f.kb->inject(report(0xF0, 0x60, 5));
        QTRY_COMPARE(notified.count(), 1);
        QTest::qWait(50);
        QCOMPARE(notified.count(), 1);
        QCOMPARE(uint8_t(notified.at(0).at(0).toByteArray()[8]), uint8_t(5));
    }

    void unplugDuringARequestEndsItAtOnce()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        f.kb->silence(0x20, 0x11);
        QThread* t = startThread([&f] {
            waitForWrites(f.kb, 1);
            sim::unplug(f.kb);
        });
        QElapsedTimer clock;
        clock.start();
        uint8_t reply[64];
        QCOMPARE(f.device->request(0x20, 0x11, 8, 0, nullptr, DeviceTimeout::Bounded, reply), DeviceResult::Stopped);
        QVERIFY(clock.elapsed() < 1000);
        t->wait();
        delete t;
        // After the read loop ended no request is made at all.
        const int writes = f.kb->writes();
        QCOMPARE(f.device->request(0x10, 0x20, 0, 0, nullptr, ShortWait, reply), DeviceResult::Stopped);
        QCOMPARE(f.kb->writes(), writes);
    }

    void stopFreesAWaitingRequestAndRefusesLaterOnes()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        f.kb->silence(0x50, 0x03);
        QThread* t = startThread([&f] {
            waitForWrites(f.kb, 1);
            f.device->requestStop();
        });
        QElapsedTimer clock;
        clock.start();
        uint8_t reply[64];
        QCOMPARE(f.device->request(0x50, 0x03, 1, 0, nullptr, DeviceTimeout::Bounded, reply), DeviceResult::Stopped);
        QVERIFY(clock.elapsed() < 1000);
        t->wait();
        delete t;
        QCOMPARE(f.device->request(0x10, 0x20, 0, 0, nullptr, ShortWait, reply), DeviceResult::Stopped);
    }

    void requestsFromTwoThreadsEachGetTheirOwnReply()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        f.kb->setReportDelay(1);
        std::atomic<int> bad{0};
        auto ask = [&f, &bad](uint8_t command) {
            for (int i = 0; i < 20; ++i) {
                uint8_t reply[64] = {};
                if (f.device->request(0x10, command, 0, 0, nullptr, 2000, reply) != 0 || reply[1] != command)
                    ++bad;
            }
        };
        QThread* other = startThread([&ask] { ask(0x50); });
        ask(0x20);
        other->wait();
        delete other;
        QCOMPARE(bad.load(), 0);
    }

    void bluetoothFramesMatchOnTheGroupAlone()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        f.kb->silence(0xB0, 0xDF); // the acknowledgement below comes from the test
        QThread* t = startThread([&f] {
            waitForWrites(f.kb, 1);
            f.kb->inject(report(0xB0, 0x42, 0x08));
        });
        uint8_t reply[64];
        QCOMPARE(f.device->request(0xB0, 0xDF, 0, 0, nullptr, 2000, reply), DeviceResult::Ok);
        t->wait();
        delete t;
        QCOMPARE(reply[8], uint8_t(0x08));
    }
};

QTEST_GUILESS_MAIN(RequestCore)
#include "test_requestcore.moc"
