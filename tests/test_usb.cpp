// The HID transport against the emulated keyboard: opening, the read loop, writing and reading.
#include "wire.h"
#include "keyboardfixture.h"
#include "logrecorder.h"
#include "timescale.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QDeadlineTimer>
#include <QMutex>
#include <QScopeGuard>
#include <QThread>
#include <memory>
#include <numeric>
#include <thread>

class UsbTransport : public QObject {
    Q_OBJECT
    std::unique_ptr<KeyboardFixture> f; // its transport is not open yet

private slots:
    void init() { f = std::make_unique<KeyboardFixture>(); }
    void cleanup() { f.reset(), sim::reset(); }

    // Reports no request waits for go out in order through a ring of 32 slots; stopRead then ends the
    // loop within a pass and it still signals the disconnect.
    void unrequestedReportsAreCopiedAndTheRingWraps()
    {
        QVERIFY(f->open());
        QList<QByteArray> received; // queued to this thread, as the protocol client gets them
        connect(f->usb, &Usb::emitRecvCmd, this, [&received](QByteArray b) { received << b; });
        QSignalSpy gone(f->usb, &Usb::emitUsbDisconnect);
        for (int i = 0; i < 33; ++i)
            f->kb->inject(report(0xF0, 0x21, uint8_t(i)));
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 33, timescale::ms(10000));
        for (int i = 0; i < 33; ++i)
            QCOMPARE(received.at(i), report(0xF0, 0x21, uint8_t(i)));
        QCOMPARE(f->usb->ringIndex(), 0); // the 33rd report took the first slot again
        f->usb->stopRead();
        QVERIFY(gone.wait(timescale::ms(10000)));
    }

    // A pass takes every report already waiting before its pause: a keyboard sending faster than one
    // report per pass (its queue holds 64) loses none and keeps their order, also while requests get
    // their replies in between. The waits stay: an idle loop reads once a pass, never in a busy loop.
    // The keyboard sends no faster than the queue has room: what a busy machine's scheduler lets the
    // system's queue drop is not the transport's to keep, so the count of passes judges the loop. A
    // queue filled while the loop is held is emptied in one pass: one read that could wait.
    void reportsWaitingAtAPassAreAllTaken_data()
    {
        QTest::addColumn<int>("changes");
        QTest::addColumn<int>("spacingMs");
        QTest::addColumn<bool>("requests");
        QTest::addColumn<bool>("held"); // the loop reads nothing until all changes wait in the queue
        QTest::newRow("200, 1 ms apart") << 200 << 1 << false << false;
        QTest::newRow("64 at once, the loop held until all wait") << 64 << 0 << false << true;
        QTest::newRow("200, 1 ms apart, requests meanwhile") << 200 << 1 << true << false;
        QTest::newRow("idle") << 0 << 0 << false << false;
    }
    void reportsWaitingAtAPassAreAllTaken()
    {
        QFETCH(int, changes);
        QFETCH(int, spacingMs);
        QFETCH(bool, requests);
        QFETCH(bool, held);
        QVERIFY(f->open());
        f->kb->edit([](sim::FirmwareState& s) { s.recording = true; }); // each change is a notification
        QList<int> tags; // the first key slot of each recorded report, in arrival order
        connect(f->usb, &Usb::emitRecvCmd, this, [&tags](QByteArray b) {
            if (uint8_t(b[0]) == 0xF0 && uint8_t(b[1]) == 0x50)
                tags << uint8_t(b[12]);
        });
        if (changes == 0) {
            // Idle, every pass is one read that waits out its time-out, then the pause: a pass can never
            // be shorter than both, however busy the machine, so the reads of an idle second are
            // bounded by its length. A loop that polled without waiting would read thousands of times.
            QTest::qWait(100); // the loop is in its passes
            const QString path = f->kb->commandPath();
            QElapsedTimer wall;
            wall.start();
            const int before = sim::reads(path);
            QTest::qWait(1000);
            const int reads = sim::reads(path) - before;
            const qint64 idleMs = wall.elapsed();
            const qint64 most = idleMs / (Usb::ReadTimeoutMs + Usb::PassPauseMs) + 2; // the passes under way at each end
            QVERIFY2(reads > 0 && reads <= most, qPrintable(QStringLiteral("%1 reads in %2 ms").arg(reads).arg(idleMs)));
            QVERIFY(tags.isEmpty());
            return;
        }
        QList<sim::ReportChange> played;
        QList<int> expected;
        for (int i = 0; i < changes; ++i) {
            QByteArray r(8, '\0');
            r[2] = char(i + 1);
            played.append({spacingMs, r, true});
            expected << i + 1;
        }
        const QString path = f->kb->commandPath();
        if (held)
            f->usb->setReadingEnabled(false);
        f->kb->playKeys(played);
        if (held) {
            QTRY_VERIFY_WITH_TIMEOUT(!f->kb->playing(), timescale::ms(10000));
            QVERIFY(tags.isEmpty());
        }
        const int waitingReads = sim::waitingReadsWithReport(path);
        f->usb->setReadingEnabled(true);
        int answered = 0;
        for (int i = 0; requests && i < 20; ++i)
            answered += f->device->macroCmd20(0) == 0;
        QTRY_COMPARE_WITH_TIMEOUT(tags.size(), changes, timescale::ms(10000));
        QCOMPARE(tags, expected);
        QCOMPARE(answered, requests ? 20 : 0);
        if (held)
            QCOMPARE(sim::waitingReadsWithReport(path) - waitingReads, 1);
    }

    // A flood while the protocol client handles nothing (it is on this thread, busy in the flood):
    // past the backlog bound unrequested reports are dropped and counted, recorded frames have room
    // for a whole recording on top, a request is still answered, and a run of one report is logged
    // once with its count. Afterwards the backlog is worked off and is empty.
    void floodOfOneReportIsBoundedAndLoggedOnce_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("delivered");
        QTest::newRow("lock states past the bound") << 0x21 << 3000 << Usb::MaxBacklog;
        QTest::newRow("lock states within the bound") << 0x21 << 500 << 500;
        QTest::newRow("a whole recording of frames") << 0x50 << Usb::MaxBacklog + Usb::RecordingRoom
                                                     << Usb::MaxBacklog + Usb::RecordingRoom;
        QTest::newRow("frames past a recording's room") << 0x50 << 2000 << Usb::MaxBacklog + Usb::RecordingRoom;
    }
    void floodOfOneReportIsBoundedAndLoggedOnce()
    {
        QFETCH(int, command);
        QFETCH(int, count);
        QFETCH(int, delivered);
        logrecorder::start();
        const auto stopRecording = qScopeGuard([] { logrecorder::stop(); });
        QVERIFY(f->open());
        int received = 0;
        QObject sink; // what is still queued for it goes with it, also when a check fails
        connect(f->usb, &Usb::emitRecvCmd, &sink, [&received] { ++received; });
        const QByteArray flooded = report(0xF0, uint8_t(command), 1);
        QCOMPARE(f->kb->flood(flooded, count), count);
        // Waited for without handling events, so nothing leaves the backlog before all are read.
        QDeadlineTimer readAll(timescale::ms(10000));
        while (f->usb->backlog() + f->usb->droppedReports() < count && !readAll.hasExpired())
            QThread::msleep(5);
        QCOMPARE(f->usb->backlog(), delivered);
        QCOMPARE(f->device->macroCmd20(0), 0u); // answered although the backlog may be full
        QTRY_COMPARE_WITH_TIMEOUT(received, delivered, timescale::ms(10000));
        QCOMPARE(f->usb->backlog(), 0);
        f->kb->inject(report(0xF0, 0x21, 2)); // ends the run
        QTRY_COMPARE_WITH_TIMEOUT(received, delivered + 1, timescale::ms(10000));
        QCOMPARE(f->usb->droppedReports(), count - delivered);
        f->close();
        const QStringList lines = logrecorder::lines();
        QCOMPARE(lines.filter(QStringLiteral("recvCmdSlot")).size(), 2);
        QCOMPARE(lines.filter(QStringLiteral("the report above came")),
                 QStringList(QStringLiteral("the report above came %1 more times").arg(delivered - 1)));
    }

    // Switches that find the backlog full are parked by the read loop, not dropped: once the handler has
    // made room, with no report after them, the last of each kind named goes on, once, and nothing older
    // after anything newer; a second flood goes as the first. Each flood names 0 and 1 in turn and ends on an
    // index no earlier switch named (2, then 3), so neither the first switch parked nor one of an earlier
    // flood can pass for the last.
    void parkedSwitchesGoOnOnceNewestLast_data()
    {
        QTest::addColumn<QList<int>>("firstFlood"); // codes switched in turn
        QTest::addColumn<QList<int>>("secondFlood"); // once the first has gone on and been handled; empty: none
        QTest::addColumn<bool>("newerAfterThem"); // a switch of the first code waits to be read as room is made
        const QList<int> all{0x20, 0x30, 0x60};
        QTest::newRow("the last of each kind") << all << QList<int>() << false;
        QTest::newRow("a second flood of every kind") << all << all << false;
        QTest::newRow("a second flood of one kind") << all << QList<int>{0x60} << false;
        QTest::newRow("a newer switch read once there is room") << QList<int>{0x30, 0x60} << QList<int>() << true;
    }
    void parkedSwitchesGoOnOnceNewestLast()
    {
        QFETCH(QList<int>, firstFlood);
        QFETCH(QList<int>, secondFlood);
        QFETCH(bool, newerAfterThem);
        QVERIFY(f->open());
        QStringList switches; // what each switch received names, in order
        int received = 0;
        QObject sink; // on this thread: nothing is handled while it floods
        connect(f->usb, &Usb::emitRecvCmd, &sink, [&](QByteArray b) {
            ++received;
            const QString s = switchNamed(b);
            if (!s.isEmpty())
                switches << s;
        });
        const auto switchesFrom = [&switches](int from) { return QStringList(switches.mid(from)); };
        const auto enableReading = qScopeGuard([this] { f->usb->setReadingEnabled(true); });
        QList<QList<int>> floods{firstFlood};
        if (!secondFlood.isEmpty())
            floods << secondFlood;
        for (int round = 0; round < floods.size(); ++round) {
            const QList<int>& codes = floods[round];
            QTRY_COMPARE_WITH_TIMEOUT(f->usb->backlog(), 0, timescale::ms(10000));
            const int start = switches.size(), before = received, dropped = f->usb->droppedReports();
            QCOMPARE(f->kb->flood(report(0xF0, 0x21, 1), Usb::MaxBacklog), Usb::MaxBacklog);
            QStringList expected;
            for (const QByteArray& r : switchFlood(codes, 200, uint8_t(2 + round), &expected))
                QCOMPARE(f->kb->flood(r, 1), 1);
            f->kb->inject(report(0xF0, 0x21, 2)); // dropped once everything before it is read
            QDeadlineTimer readAll(timescale::ms(10000));
            while (f->usb->droppedReports() == dropped && !readAll.hasExpired())
                QThread::msleep(5);
            QCOMPARE(f->usb->droppedReports(), dropped + 1);
            QCOMPARE(f->usb->backlog(), Usb::MaxBacklog);
            if (newerAfterThem) {
                // Read only after the backlog has emptied, ahead of the loop's own pass-on of what is parked.
                f->usb->setReadingEnabled(false);
                f->kb->inject(switchReport(uint8_t(codes.first()), 7));
                QTRY_COMPARE_WITH_TIMEOUT(received, before + Usb::MaxBacklog, timescale::ms(10000));
                QCOMPARE(f->usb->backlog(), 0);
                QCOMPARE(switches.size(), start); // still parked
                f->usb->setReadingEnabled(true);
                expected << switchNamed(switchReport(uint8_t(codes.first()), 7));
            }
            QTRY_COMPARE_WITH_TIMEOUT(switchesFrom(start), expected, timescale::ms(10000));
            QTest::qWait(100); // several passes: nothing parked is left to go on again
            QCOMPARE(switchesFrom(start), expected);
            QCOMPARE(received, before + Usb::MaxBacklog + expected.size());
        }
    }

    // A backlog that swings at its bound (places freed, reports in, the next dropped) is told once as
    // full and once as having room again, with the drops, not at every swing: neither when it swings
    // by one place, nor when it empties to half and fills again within seconds.
    void backlogSwingsAreToldOnce_data()
    {
        QTest::addColumn<int>("freed"); // places freed at each swing
        QTest::addColumn<int>("swings");
        QTest::newRow("by one place") << 1 << 100;
        QTest::newRow("to half and back") << Usb::MaxBacklog / 2 + 1 << 5;
    }
    void backlogSwingsAreToldOnce()
    {
        QFETCH(int, freed);
        QFETCH(int, swings);
        logrecorder::start();
        const auto stopRecording = qScopeGuard([] { logrecorder::stop(); });
        QVERIFY(f->open());
        int received = 0;
        QObject sink;
        connect(f->usb, &Usb::emitRecvCmd, &sink, [&received] { ++received; });
        const QByteArray flooded = report(0xF0, 0x21, 1);
        const int first = Usb::MaxBacklog + 10;
        QCOMPARE(f->kb->flood(flooded, first), first);
        // Without handling events: only the places freed here leave the backlog.
        QDeadlineTimer readAll(timescale::ms(20000));
        auto readUpTo = [&](int n) {
            while (f->usb->backlog() + f->usb->droppedReports() < n && !readAll.hasExpired())
                QThread::msleep(2);
            return f->usb->backlog() + f->usb->droppedReports() == n;
        };
        QVERIFY(readUpTo(first));
        for (int i = 0; i < swings; ++i) {
            for (int k = 0; k < freed; ++k)
                f->usb->reportHandled();
            QCOMPARE(f->kb->flood(flooded, freed + 1), freed + 1);
            QVERIFY(readUpTo(first + i + 1));
        }
        QCOMPARE(f->usb->droppedReports(), 10 + swings);
        QTRY_COMPARE_WITH_TIMEOUT(received, Usb::MaxBacklog + swings * freed, timescale::ms(10000));
        f->kb->inject(report(0xF0, 0x21, 2)); // finds the backlog emptied
        QTRY_COMPARE_WITH_TIMEOUT(received, Usb::MaxBacklog + swings * freed + 1, timescale::ms(10000));
        f->close();
        const QStringList lines = logrecorder::lines();
        QCOMPARE(lines.filter(QStringLiteral("report backlog full")).size(), 1);
        const QStringList room = lines.filter(QStringLiteral("report backlog has room again"));
        QCOMPARE(room.size(), 1);
        // Told at the first swing that empties it to half, else once it is empty.
        QCOMPARE(room.first(), QStringLiteral("report backlog has room again; %1 unrequested reports were dropped")
                                   .arg(freed == 1 ? 10 + swings : 10));
    }

    // Reports that come while a request waits are handed to it one at a time, in order: one it has not
    // taken yet is never replaced by the report behind it, however late the request's thread looks. Many
    // queued behind one another are handed over as fast as the request takes them, not one a pass.
    void repliesWaitForTheRequestToTakeThem_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("timed"); // taken within half a pass's pause each
        QTest::newRow("three, the request's thread late") << 3 << false;
        QTest::newRow("100 queued, taken promptly") << 100 << true;
    }
    void repliesWaitForTheRequestToTakeThem()
    {
        QFETCH(int, count);
        QFETCH(bool, timed);
        QVERIFY(f->open());
        QList<QByteArray> taken, expected;
        {
            QMutexLocker locker(&f->lock.mutex);
            f->lock.waiting = true;
            f->usb->clearReply();
        }
        for (int i = 0; i < count; ++i)
            expected << report(0xB0, 0xDF, uint8_t(i));
        // As fast as the keyboard's queue has room: past its 64 the rest wait for the loop to read.
        std::thread keyboard([&] {
            for (const QByteArray& r : expected)
                f->kb->flood(r, 1);
        });
        const auto joinKeyboard = qScopeGuard([&] { keyboard.join(); });
        QTest::qWait(200); // the request's thread is late: the read loop has long read what it could
        QElapsedTimer took;
        {
            QMutexLocker locker(&f->lock.mutex);
            QDeadlineTimer deadline(timescale::ms(10000));
            while (taken.size() < count && !deadline.hasExpired()) {
                QByteArray r;
                if (f->usb->takeReply(&r)) {
                    if (taken.isEmpty())
                        took.start();
                    taken << r;
                } else {
                    f->lock.cond.wait(&f->lock.mutex, 10);
                }
            }
            f->lock.waiting = false;
            f->lock.cond.wakeAll();
        }
        const qint64 ms = took.isValid() ? took.elapsed() : -1;
        QCOMPARE(taken, expected);
        // Well under a pass's pause each: the loop hands the next over as the request takes one.
        QVERIFY2(!timed || ms < timescale::ms(count * Usb::PassPauseMs / 2), qPrintable(QStringLiteral("%1 ms").arg(ms)));
    }

    // Disabled reading leaves what comes after for the blocking read: also when the loop was holding a
    // report behind a reply a request has not taken yet (that one goes on unrequested, the pass ends).
    void disabledReadingLeavesReportsForTheBlockingRead_data()
    {
        QTest::addColumn<bool>("behindAReply");
        QTest::newRow("an idle loop") << false;
        QTest::newRow("replies queued behind an untaken one") << true;
    }
    void disabledReadingLeavesReportsForTheBlockingRead()
    {
        QFETCH(bool, behindAReply);
        QVERIFY(f->open());
        int received = 0;
        connect(f->usb, &Usb::emitRecvCmd, this, [&received] { ++received; });
        QTest::qWait(30);
        if (behindAReply) {
            {
                QMutexLocker locker(&f->lock.mutex);
                f->lock.waiting = true;
                f->usb->clearReply();
            }
            for (int i = 0; i < 5; ++i)
                f->kb->inject(report(0xB0, 0xDF, uint8_t(i)));
            QTest::qWait(100); // the first is handed over, the loop holds the second behind it
        }
        const auto endRequest = [this] {
            QMutexLocker locker(&f->lock.mutex);
            f->lock.waiting = false;
            f->lock.cond.wakeAll();
        };
        const auto endRequestAnyway = qScopeGuard(endRequest);
        f->usb->setReadingEnabled(false);
        if (!behindAReply)
            f->kb->inject(report(0xB0, 0xDF, 7));
        QTest::qWait(100);
        QCOMPARE(received, behindAReply ? 1 : 0); // the one held behind the reply
        uint8_t data[64] = {};
        QCOMPARE(f->usb->read_timeout(data, 64, timescale::ms(2000)), 64);
        QCOMPARE(bytes(data, 64), report(0xB0, 0xDF, behindAReply ? 2 : 7));
        endRequest(); // the two left behind go on unrequested
        f->usb->setReadingEnabled(true);
        f->kb->inject(report(0xF0, 0x20));
        QTRY_COMPARE_WITH_TIMEOUT(received, behindAReply ? 4 : 1, timescale::ms(10000));
    }

    // Reads and writes go through the open handle only; a write carries the whole report.
    void writeAndTimedReadUseTheOpenHandle()
    {
        uint8_t data[64];
        std::iota(data, data + 64, uint8_t(0x10));
        QCOMPARE(f->usb->write(data, 64), -1); // nothing open yet
        QVERIFY(f->usb->openPath(f->kb->commandPath()));
        uint8_t in[64];
        QCOMPARE(f->usb->read_timeout(in, 64, 20), 0); // nothing arrived
        f->kb->inject(report(0xF0, 0x60, 3));
        QCOMPARE(f->usb->read_timeout(in, 64, 200), 64);
        QCOMPARE(bytes(in, 64), report(0xF0, 0x60, 3));
        QCOMPARE(f->usb->write(data, 64), 0);
        QCOMPARE(sentReports(f->kb, 0x10, 0x11), QList<QByteArray>{bytes(data, 64)});
        f->kb->failWrite(1);
        QCOMPARE(f->usb->write(data, 64), -1);
    }

    // A path that left the bus is given up after one attempt, with a disconnect, although the keyboard
    // is back under another path; one still enumerated but refused is tried every second until it opens.
    void openRetriesOnlyWhileThePathIsEnumerated_data()
    {
        QTest::addColumn<bool>("left");
        QTest::newRow("back under another path") << true;
        QTest::newRow("enumerated but refused") << false;
    }
    void openRetriesOnlyWhileThePathIsEnumerated()
    {
        QFETCH(bool, left);
        const sim::KeyboardConfig config = f->kb->config();
        const QString path = f->kb->commandPath();
        if (left) {
            sim::unplug(f->kb);
            f->kb = sim::plug(config);
            QVERIFY(f->kb->commandPath() != path);
        } else {
            f->kb->refuseOpen(true);
        }
        QSignalSpy opened(f->usb, &Usb::emitOpenSucceeded);
        QSignalSpy gone(f->usb, &Usb::emitUsbDisconnect);
        f->usb->moveToThread(&f->usbThread);
        f->usbThread.start();
        QVERIFY(QMetaObject::invokeMethod(f->usb, "openSlot", Qt::QueuedConnection, Q_ARG(ushort, config.vid),
                                          Q_ARG(ushort, config.pid), Q_ARG(int, config.commandInterface),
                                          Q_ARG(QString, path)));
        if (left) {
            QVERIFY(gone.wait(timescale::ms(10000)));
            QTest::qWait(2200); // two more ticks of the open timer, had it kept running
            QCOMPARE(sim::openAttempts(path), 1);
            QCOMPARE(QList<int>({opened.count(), gone.count()}), QList<int>({0, 1}));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(sim::openAttempts(path) >= 3, timescale::ms(10000));
            QCOMPARE(QList<int>({opened.count(), gone.count()}), QList<int>({0, 0}));
            f->kb->refuseOpen(false);
            QVERIFY(opened.wait(timescale::ms(10000)));
            QCOMPARE(gone.count(), 0);
        }
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
        f->usb->setIds(f->kb->config().vid, f->kb->config().pid, iface);
        QCOMPARE(f->usb->open(), opens ? 0 : -1);
        if (opens && iface >= 0)
            QCOMPARE(f->usb->path(), f->kb->path(iface));
    }
};

QTEST_GUILESS_MAIN(UsbTransport)
#include "test_usb.moc"
