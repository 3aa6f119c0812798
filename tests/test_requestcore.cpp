// One request at a time against the emulated keyboard: which report is the reply, and when a wait ends.
#include "wire.h"
#include "keyboardfixture.h"
#include "logrecorder.h"
#include "timescale.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <cstring>
#include <memory>
#include <numeric>

class RequestCore : public QObject {
    Q_OBJECT
    static constexpr int ShortWait = 300; // keeps the time-out cases quick
    // A wait for a reply that must come: far from normal, so a busy machine does not make it a time-out.
    static int replyWait() { return timescale::ms(10000); }
    std::unique_ptr<KeyboardFixture> f;

    uint32_t ask(uint8_t group, uint8_t command, int ms, uint8_t* reply = nullptr)
    {
        return f->device->request(group, command, 0, 0, nullptr, ms, reply);
    }

private slots:
    void init()
    {
        f = std::make_unique<KeyboardFixture>();
        QVERIFY(f->open());
    }
    void cleanup() { f.reset(), sim::reset(); }

    void packetCarriesLengthOffsetAndAtMost56PayloadBytes()
    {
        uint8_t payload[60];
        std::iota(payload, payload + 60, uint8_t(1));
        QCOMPARE(f->device->sendPacket(0x50, 0x40, 60, 0x0123, payload), DeviceResult::Ok);
        QCOMPARE(sentReports(f->kb, 0x50, 0x40).value(0), QByteArray::fromHex("50403c0023010000") + bytes(payload, 56));
    }

    void lateReplyOfThePreviousRequestIsNotTakenForTheNext()
    {
        f->kb->answerLate(0x10, 0x20, 1);
        uint8_t reply[64];
        QCOMPARE(ask(0x10, 0x20, ShortWait, reply), DeviceResult::Timeout);
        QCOMPARE(ask(0x10, 0x50, replyWait(), reply), DeviceResult::Ok);
        QCOMPARE(reply[1], uint8_t(0x50));
        QCOMPARE(reply[8], f->kb->state().nKey);
    }

    // A wrong echo counts as silence: the whole wait, then a time-out with the reply untouched.
    void wrongEchoIsNotAReply()
    {
        f->kb->wrongEcho(0x10, 0x20, 1);
        f->kb->silence(0x10, 0x50, 1);
        for (int command : {0x20, 0x50}) {
            uint8_t reply[64];
            std::memset(reply, 0xAB, sizeof reply);
            QElapsedTimer clock;
            clock.start();
            QCOMPARE(ask(0x10, uint8_t(command), ShortWait, reply), DeviceResult::Timeout);
            QVERIFY(clock.elapsed() >= ShortWait - 10);
            QCOMPARE(reply[0], uint8_t(0xAB));
        }
    }

    // During a request as when idle, only 0xF0 reports are passed on as notifications.
    void notificationDuringARequestGoesToTheNotificationWay()
    {
        QSignalSpy notified(f->device, &Device::emitNotify);
        f->kb->injectBeforeBtAck(0x00, 1, report(0xF0, 0x21, 9)); // comes while the request below waits
        QCOMPARE(ask(0xB0, 0xDF, replyWait()), DeviceResult::Ok);
        f->kb->inject(report(0x20, 0x10));
        f->kb->inject(report(0xF0, 0x60, 5));
        QTRY_COMPARE_WITH_TIMEOUT(QList<QVariantList>(notified),
                     (QList<QVariantList>{{report(0xF0, 0x21, 9)}, {report(0xF0, 0x60, 5)}}), timescale::ms(10000));
    }

    // Reports that come during a request's wait and do not answer it are dropped: the first is logged,
    // the others counted in one line when the request ends.
    void reportsThatDoNotAnswerAreCounted()
    {
        for (int i = 0; i < 20; ++i)
            f->kb->injectBeforeBtAck(0x00, 1, report(0x20, 0x10, uint8_t(i)));
        logrecorder::start();
        QCOMPARE(ask(0xB0, 0xDF, replyWait()), DeviceResult::Ok);
        const QStringList lines = logrecorder::lines();
        logrecorder::stop();
        QCOMPARE(lines.filter(QStringLiteral("dropped a report that does not answer b0/df")).size(), 1);
        QCOMPARE(lines.filter(QStringLiteral("19 more reports that do not answer b0/df were dropped")).size(), 1);
    }

    // Notifications passed on and not yet handled: past the bound (more for recorded frames, so a whole
    // recording fits) they are dropped and counted, not logged; the drops are told once, however slowly
    // places free up.
    void notificationsWaitingToBeHandledAreBounded_data()
    {
        QTest::addColumn<uint8_t>("command");
        // past the bound, one is handled every so many reports; -1: 600 at once every 1000 reports;
        // -2: all at once after 5000 reports, and each as it comes from then on
        QTest::addColumn<int>("handledEvery");
        QTest::addColumn<int>("passedOn");
        QTest::addColumn<int>("handledAgain"); // lines saying the notifications are handled again
        const int bound = Device::MaxNotificationsInFlight;
        QTest::newRow("lock states") << uint8_t(0x21) << 0 << bound << 0;
        QTest::newRow("recorded frames") << uint8_t(0x50) << 0 << bound + Usb::RecordingRoom << 0;
        QTest::newRow("lock states, handled slowly meanwhile") << uint8_t(0x21) << 2 << bound + (20000 - bound) / 2 << 0;
        // The wait swings from its bound to under half and back, 18 times: still told once.
        QTest::newRow("lock states, handled in bursts") << uint8_t(0x21) << -1 << bound + 18 * 600 << 1;
        // One burst, then all handled: the bound is not reached again.
        QTest::newRow("lock states, one burst") << uint8_t(0x21) << -2 << bound + 15000 << 1;
    }
    void notificationsWaitingToBeHandledAreBounded()
    {
        QFETCH(uint8_t, command);
        QFETCH(int, handledEvery);
        QFETCH(int, passedOn);
        QFETCH(int, handledAgain);
        logrecorder::start();
        {
            Device d(nullptr, nullptr, nullptr, nullptr);
            d.countNotificationsInFlight(true);
            QSignalSpy notified(&d, &Device::emitNotify);
            for (int i = 0; i < 20000; ++i) {
                d.recvCmdSlot(report(0xF0, command, 1));
                if (handledEvery > 0 && i >= Device::MaxNotificationsInFlight && i % handledEvery == 0)
                    d.notificationHandled();
                for (int k = 0; handledEvery == -1 && i >= 2000 && i % 1000 == 0 && k < 600; ++k)
                    d.notificationHandled();
                if (handledEvery == -2 && i == 4999)
                    d.countNotificationsInFlight(true); // every one waiting is handled
                else if (handledEvery == -2 && i > 4999)
                    d.notificationHandled();
            }
            QCOMPARE(notified.count(), passedOn);
        }
        const QStringList lines = logrecorder::lines();
        logrecorder::stop();
        QCOMPARE(lines.filter(QStringLiteral("wait to be handled")).size(), 1);
        QCOMPARE(lines.filter(QStringLiteral("handled again")).size(), handledAgain);
        QCOMPARE(lines.filter(QStringLiteral("the report above came %1 more times").arg(passedOn - 1)).size(), 1);
    }

    // Switches (key map, colour map, mode) past the bound are not dropped: the last of each kind named
    // goes on once a place frees up, ahead of what comes after, however many came; others are dropped.
    void lastSwitchOfEachKindPastTheBoundGoesOn_data()
    {
        QTest::addColumn<QList<int>>("codes"); // switched in turn
        QTest::addColumn<int>("count");
        QTest::newRow("key maps, colour maps and modes in turn") << QList<int>{0x20, 0x30, 0x60} << 3000;
        QTest::newRow("one key map") << QList<int>{0x20} << 1;
    }
    void lastSwitchOfEachKindPastTheBoundGoesOn()
    {
        QFETCH(QList<int>, codes);
        QFETCH(int, count);
        Device d(nullptr, nullptr, nullptr, nullptr);
        d.countNotificationsInFlight(true);
        QSignalSpy notified(&d, &Device::emitNotify);
        const int bound = Device::MaxNotificationsInFlight;
        for (int i = 0; i < bound; ++i)
            d.recvCmdSlot(report(0xF0, 0x21, 1));
        QMap<int, int> last; // by code: the index named last
        for (int i = 0; i < count; ++i) {
            const int code = codes[i % codes.size()], index = (i / codes.size()) % 3;
            QByteArray r = report(0xF0, uint8_t(code), 0);
            r[2] = 2, r[9] = char(index);
            d.recvCmdSlot(r);
            last[code] = index;
        }
        d.recvCmdSlot(report(0xF0, 0x21, 2)); // dropped: no place yet
        QCoreApplication::processEvents();
        QCOMPARE(notified.count(), bound);
        d.notificationHandled();
        QTRY_COMPARE_WITH_TIMEOUT(notified.count(), bound + last.size(), timescale::ms(5000));
        d.recvCmdSlot(report(0xF0, 0x21, 3)); // bound and parked switches take every place
        QCOMPARE(notified.count(), bound + last.size());
        for (int k = 0; k < last.size() + 1; ++k)
            d.notificationHandled();
        d.recvCmdSlot(report(0xF0, 0x21, 4));
        QCOMPARE(notified.count(), bound + last.size() + 1);
        QMap<int, int> passed;
        for (int i = bound; i < bound + last.size(); ++i) {
            const QByteArray r = notified[i][0].toByteArray();
            passed[uint8_t(r[1])] = uint8_t(r[9]);
        }
        QCOMPARE(passed, last);
        QCOMPARE(notified.last()[0].toByteArray(), report(0xF0, 0x21, 4));
        QVERIFY(!d.switchesParked());
    }

    // Switches parked past the bound, flood after flood: once a place frees up, without waiting for another
    // report, the last of each kind named goes on, once, and nothing older after anything newer. Each flood
    // names 0 and 1 in turn and ends on an index no earlier switch named (2, then 3), so neither the first
    // switch parked nor one of an earlier flood can pass for the last.
    void parkedSwitchesGoOnOnceNewestLast_data()
    {
        QTest::addColumn<QList<int>>("firstFlood"); // codes switched in turn
        QTest::addColumn<QList<int>>("secondFlood"); // once the first has gone on and been handled; empty: none
        QTest::addColumn<bool>("newerWithTheFreePlace"); // a switch of the first code comes as the place frees up
        const QList<int> all{0x20, 0x30, 0x60};
        QTest::newRow("the last of each kind") << all << QList<int>() << false;
        QTest::newRow("a second flood of every kind") << all << all << false;
        QTest::newRow("a second flood of one kind") << all << QList<int>{0x60} << false;
        QTest::newRow("a newer switch as a place frees up") << QList<int>{0x30, 0x60} << QList<int>() << true;
    }
    void parkedSwitchesGoOnOnceNewestLast()
    {
        QFETCH(QList<int>, firstFlood);
        QFETCH(QList<int>, secondFlood);
        QFETCH(bool, newerWithTheFreePlace);
        Device d(nullptr, nullptr, nullptr, nullptr);
        d.countNotificationsInFlight(true);
        QSignalSpy notified(&d, &Device::emitNotify);
        const auto switchesFrom = [&notified](int from) {
            QStringList named;
            for (int i = from; i < notified.count(); ++i) {
                const QString s = switchNamed(notified[i][0].toByteArray());
                if (!s.isEmpty())
                    named << s;
            }
            return named;
        };
        const int bound = Device::MaxNotificationsInFlight;
        int handled = 0;
        QList<QList<int>> floods{firstFlood};
        if (!secondFlood.isEmpty())
            floods << secondFlood;
        for (int round = 0; round < floods.size(); ++round) {
            const QList<int>& codes = floods[round];
            // Everything passed on so far is handled; the bound is filled again.
            for (; handled < notified.count(); ++handled)
                d.notificationHandled();
            QCoreApplication::processEvents();
            const int start = notified.count();
            for (int i = 0; i < bound; ++i)
                d.recvCmdSlot(report(0xF0, 0x21, 1));
            QStringList expected;
            for (const QByteArray& r : switchFlood(codes, 500, uint8_t(2 + round), &expected))
                d.recvCmdSlot(r);
            QCoreApplication::processEvents();
            QCOMPARE(notified.count(), start + bound); // all parked
            d.notificationHandled();
            if (newerWithTheFreePlace) {
                d.recvCmdSlot(switchReport(uint8_t(codes.first()), 7));
                expected << switchNamed(switchReport(uint8_t(codes.first()), 7));
            }
            QTRY_COMPARE_WITH_TIMEOUT(switchesFrom(start), expected, timescale::ms(5000));
            QCoreApplication::processEvents(); // a pass-on still posted finds nothing left
            QCOMPARE(switchesFrom(start), expected);
            QVERIFY(!d.switchesParked());
        }
    }

    // A chattering keyboard's reports are logged as counts: the first few that differ from the one
    // before are logged whole, one line each; the rest are told in one line, a run of one report as before.
    void unrequestedReportsAreLoggedAsCounts_data()
    {
        QTest::addColumn<int>("kinds"); // reports cycle through this many different ones
        QTest::addColumn<QString>("counted");
        QTest::addColumn<bool>("spanLater"); // the first report comes once more, a span later
        QTest::newRow("one report, again and again") << 1 << "the report above came 4999 more times" << false;
        QTest::newRow("two reports in turn") << 2 << "4992 more unrequested reports came within" << false;
        QTest::newRow("every report another") << 5000 << "4992 more unrequested reports came within" << false;
        QTest::newRow("one report, again a span later") << 1 << "the report above came 4999 more times" << true;
        QTest::newRow("two reports in turn, again a span later") << 2 << "4992 more unrequested reports came within"
                                                                  << true;
    }
    void unrequestedReportsAreLoggedAsCounts()
    {
        QFETCH(int, kinds);
        QFETCH(QString, counted);
        QFETCH(bool, spanLater);
        logrecorder::start();
        const auto back = qScopeGuard([] { Device::shiftLogClockForTest(0); });
        {
            Device d(nullptr, nullptr, nullptr, nullptr);
            for (int i = 0; i < 5000; ++i) {
                QByteArray r = report(0xF0, 0x21, 1);
                r[4] = char(i % kinds);
                r[5] = char((i % kinds) >> 8);
                d.recvCmdSlot(r);
            }
            if (spanLater) {
                // After the counts, the report is logged whole again, even one equal to the last logged.
                Device::shiftLogClockForTest(10 * 60 * 1000); // past any span of the report log
                d.recvCmdSlot(report(0xF0, 0x21, 1));
            }
        }
        const QStringList lines = logrecorder::lines();
        logrecorder::stop();
        QCOMPARE(lines.filter(QStringLiteral("recvCmdSlot")).size(), (kinds == 1 ? 1 : 8) + (spanLater ? 1 : 0));
        if (spanLater)
            QVERIFY(lines.last().contains(QStringLiteral("recvCmdSlot")));
        QCOMPARE(lines.filter(counted).size(), 1);
        QCOMPARE(lines.filter(QStringLiteral("the report above came")).size(), kinds == 1 ? 1 : 0);
    }

    void unplugDuringARequestEndsItAtOnce() { waitingRequestEndsAtOnceAndNoneIsWrittenAfter(true); }
    void stopFreesAWaitingRequestAndRefusesLaterOnes() { waitingRequestEndsAtOnceAndNoneIsWrittenAfter(false); }

    void requestsFromTwoThreadsEachGetTheirOwnReply()
    {
        f->kb->setReportDelay(1);
        std::atomic<int> bad{0};
        auto askTwenty = [this, &bad](uint8_t command) {
            for (int i = 0; i < 20; ++i) {
                uint8_t reply[64] = {};
                if (ask(0x10, command, replyWait(), reply) != 0 || reply[1] != command)
                    ++bad;
            }
        };
        const std::unique_ptr<QThread> other(QThread::create([&askTwenty] { askTwenty(0x50); }));
        other->start();
        askTwenty(0x20);
        other->wait();
        QCOMPARE(bad.load(), 0);
    }

    void bluetoothFramesMatchOnTheGroupAlone()
    {
        f->kb->wrongEcho(0xB0, 0xDF, 1);
        uint8_t reply[64];
        QCOMPARE(ask(0xB0, 0xDF, replyWait(), reply), DeviceResult::Ok);
        QCOMPARE(reply[1], uint8_t(0xDF ^ 0xFF));
    }

    // Reports a request does not accept but may hold (tags 1 to 4 at byte 8; 9 is accepted): the last one
    // that may go early is taken once the earliest grace ends, the last of all at the wait's end; an
    // accepted one behind them wins, and a report of another command is never held.
    void heldReportIsTheReplyOnlyWhenNoneIsAccepted_data()
    {
        QTest::addColumn<QByteArray>("tags");    // of the reports coming in behind the request, in order
        QTest::addColumn<int>("command");        // theirs (the request's is 0x10)
        QTest::addColumn<int>("taken");          // the tag of the reply; -1: none, a time-out
        QTest::addColumn<int>("way");            // Device::ReplyWay when one is taken
        const int grace = int(Device::ReplyWay::HeldAfterGrace), end = int(Device::ReplyWay::HeldAtWaitEnd);
        // Tags 1, 2: held to the wait's end; 3, 4: held for a 100 ms grace.
        QTest::newRow("the last of two held to the end") << QByteArray("\x01\x02") << 0x10 << 2 << end;
        QTest::newRow("the last of two held for a grace") << QByteArray("\x03\x04") << 0x10 << 4 << grace;
        QTest::newRow("one held for a grace before one held to the end") << QByteArray("\x03\x01") << 0x10 << 3 << grace;
        QTest::newRow("an accepted one behind a held one") << QByteArray("\x01\x09") << 0x10 << 9 << 0;
        QTest::newRow("another command's report") << QByteArray("\x03\x01") << 0x11 << -1 << 0;
    }
    void heldReportIsTheReplyOnlyWhenNoneIsAccepted()
    {
        QFETCH(QByteArray, tags);
        QFETCH(int, command);
        QFETCH(int, taken);
        QFETCH(int, way);
        f->kb->silence(0x30, 0x10, 1);
        const int writes = f->kb->writes();
        const std::unique_ptr<QThread> sender(QThread::create([this, writes, tags, command] {
            QDeadlineTimer deadline(timescale::ms(10000));
            while (f->kb->writes() == writes && !deadline.hasExpired()) // until the request waits
                QThread::msleep(1);
            for (const char tag : tags)
                f->kb->inject(report(0x30, uint8_t(command), uint8_t(tag)));
        }));
        sender->start();
        const Device::ReplyFilter accept = [](const uint8_t* r) { return r[8] == 9; };
        const Device::HoldFilter holdable = [](const uint8_t* r) {
            return r[8] <= 2 ? Device::TakeAtWaitEnd : Device::HeldPageGraceMs - 50;
        };
        // A wait a grace ends well within, however busy the machine; one the reports come well within.
        const int wait = taken < 0                                 ? ShortWait
                         : way == int(Device::ReplyWay::HeldAtWaitEnd) ? timescale::ms(1000)
                                                                        : replyWait();
        uint8_t reply[64];
        std::memset(reply, 0xAB, sizeof reply);
        Device::ReplyWay how = Device::ReplyWay::Accepted;
        QElapsedTimer clock;
        clock.start();
        const uint32_t e = f->device->request(0x30, 0x10, 0, 0, nullptr, wait, reply, accept, false, holdable, &how);
        const qint64 took = clock.elapsed();
        sender->wait();
        QCOMPARE(e, taken < 0 ? DeviceResult::Timeout : DeviceResult::Ok);
        QCOMPARE(int(reply[8]), taken < 0 ? 0xAB : taken);
        QCOMPARE(int(how), way);
        if (taken < 0 || way == int(Device::ReplyWay::HeldAtWaitEnd))
            QVERIFY2(took >= wait - 10, QByteArray::number(took)); // not before the wait's end
        else
            QVERIFY2(took < wait, QByteArray::number(took));
    }

private:
    // Unplugging or a stop ends a request waiting on a silent keyboard at once; later ones are not written.
    void waitingRequestEndsAtOnceAndNoneIsWrittenAfter(bool unplug)
    {
        f->kb->silence(0x20, 0x11);
        const std::unique_ptr<QThread> end(QThread::create([this, unplug] {
            QDeadlineTimer deadline(timescale::ms(10000));
            while (f->kb->writes() < 1 && !deadline.hasExpired()) // until the request waits
                QThread::msleep(1);
            unplug ? sim::unplug(f->kb) : f->device->requestStop();
        }));
        end->start();
        // The request's own wait far beyond the limit below: ending within it, the end woke the request.
        const int limit = timescale::ms(20000);
        QElapsedTimer clock;
        clock.start();
        const uint32_t result = ask(0x20, 0x11, 3 * limit);
        const qint64 took = clock.elapsed();
        end->wait();
        QCOMPARE(result, DeviceResult::Stopped);
        QVERIFY2(took < limit, QByteArray::number(took));
        const int writes = f->kb->writes();
        QCOMPARE(ask(0x10, 0x20, ShortWait), DeviceResult::Stopped);
        QCOMPARE(f->kb->writes(), writes);
    }
};

QTEST_GUILESS_MAIN(RequestCore)
#include "test_requestcore.moc"
