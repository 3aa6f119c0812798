// Loading a freshly opened keyboard on the device thread: the order, what ends it, and what it stores.
#include "wire.h"
#include "keyboardfixture.h"
#include "logrecorder.h"
#include "timescale.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <numeric>

namespace {
constexpr uint32_t Running = 0xFFFFFFFF;

QByteArray joined(const std::vector<QByteArray>& records)
{
    return std::accumulate(records.begin(), records.end(), QByteArray());
}

// Index in the log of the first report written from `from` on with this command (any when group < 0), or -1.
int firstWrite(const QList<sim::LogEntry>& log, int group, int command, int from = 0)
{
    for (int i = from; i < log.size(); ++i) {
        const QByteArray& r = log[i].report;
        const bool match = group < 0 || (r[0] == char(group) && r[1] == char(command));
        if (log[i].direction == sim::LogEntry::ToDevice && match)
            return i;
    }
    return -1;
}

uint32_t firstError(std::initializer_list<uint32_t> results)
{
    for (uint32_t e : results)
        if (e != DeviceResult::Ok)
            return e;
    return DeviceResult::Ok;
}

// Runs loadDevInfoSlot on the device thread, as the main window queues it, and keeps its result.
struct Load {
    KeyboardFixture& f;
    QSignalSpy finished{f.device, &Device::emitFinishLoad};
    QSignalSpy failed{f.device, &Device::emitLoadDevInfoError};
    std::atomic<uint32_t> result{Running};

    explicit Load(KeyboardFixture& fixture) : f(fixture)
    {
        f.moveDeviceToThread();
        QMetaObject::invokeMethod(f.device, [this] { result = f.device->loadDevInfoSlot(); }, Qt::QueuedConnection);
    }
    bool done() const { return result.load() != Running; }
    // The result, then how often each signal came: finished, failed.
    QList<uint> outcome() const { return {result.load(), uint(finished.count()), uint(failed.count())}; }
};
}

class Loading : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    // A keyboard that just enumerated may answer its information only at the third attempt.
    void fullLoadAsksForInfoUntilAnsweredAndMatchesTheKeyboardByteForByte()
    {
        KeyboardFixture f;
        f.kb->silence(0x10, 0x10, 2);
        // Current maps other than the first, so that reading the wrong one shows.
        f.kb->edit([](sim::FirmwareState& s) { s.curKeyMap = 2, s.curColourMap = 1, s.curLightingMode = 7; });
        QVERIFY(f.open());
        Load load(f);
        QTRY_VERIFY_WITH_TIMEOUT(load.done(), timescale::ms(20000));
        QCOMPARE(load.outcome(), QList<uint>({DeviceResult::Ok, 1, 0}));
        QCOMPARE(sentReports(f.kb, 0x10, 0x10).size(), 3);
        // Two silent attempts of 500 ms + 1 s pause each, then the answered one and its pause. Had either
        // wait been the 2 s of other reads, it could not take under 7 s, however quiet the machine.
        const QList<sim::LogEntry> log = f.kb->log();
        const qint64 took = log[firstWrite(log, 0x10, 0x40)].msSincePlug - log[firstWrite(log, 0x10, 0x10)].msSincePlug;
        QVERIFY2(took >= 3800 && took < 2 * (500 + DeviceTimeout::Get) + DeviceTimeout::Get, QByteArray::number(took));

        const sim::FirmwareState s = f.kb->state();
        const Device& d = *f.device;
        QCOMPARE(bytes(&d.m_devInfo, sizeof d.m_devInfo) + bytes(d.m_userInfo, 48) + bytes(d.m_deviceId, 12)
                     + bytes(d.m_btName, 12),
                 bytes(&s.infoWord0, 4) + bytes(&s.infoWord1, 4) + s.date.leftJustified(16, '\0') + s.boardName
                     + s.userInfo + s.deviceId + s.btName);
        QCOMPARE(QList<uint>({d.m_fw_version, d.m_hw_version, d.m_scanSpeed, d.m_nKey, d.m_sleepTime, d.m_curkcm,
                              d.m_curkrm, d.m_curlm}),
                 QList<uint>({s.fwVersion, s.hwVersion, s.scanSpeed, s.nKey, s.sleepTime, s.curKeyMap,
                              s.curColourMap, s.curLightingMode}));
        QCOMPARE(bytes(d.m_pKCs), s.keyMaps.at(s.curKeyMap));
        QCOMPARE(bytes(d.m_pKRs), s.colourMaps.at(s.curColourMap));
        QCOMPARE(bytes(d.m_pLMMs), s.lightingModes.at(s.curLightingMode));
        QCOMPARE(bytes(d.m_pKFs), joined(s.keyFunctions));
        QCOMPARE(bytes(d.m_pKMs), joined(s.macroHeads));
        QCOMPARE(bytes(d.m_pLAs), joined(s.lightingActions));
    }

    // Both load at once: each waits out the time-outs of what it lacks.
    void keyboardsWithoutLightingOrBluetoothStillLoad()
    {
        KeyboardFixture f[] = {KeyboardFixture({sim::Model::NoLighting}), KeyboardFixture({sim::Model::Wired})};
        QVERIFY(f[0].open() && f[1].open());
        Load load[] = {Load(f[0]), Load(f[1])};
        QTRY_VERIFY_WITH_TIMEOUT(load[0].done() && load[1].done(), timescale::ms(30000));
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(load[i].outcome(), QList<uint>({DeviceResult::Ok, 1, 0}));
            const sim::FirmwareState s = f[i].kb->state();
            // What follows the missing functions is read right, not shifted by a late reply.
            QCOMPARE(bytes(f[i].device->m_pKMs), joined(s.macroHeads));
            QCOMPARE(bytes(f[i].device->m_pKFs), joined(s.keyFunctions));
        }
    }

    // An information get left unanswered keeps its fields as they were (0 on a new device), is named in
    // the log, and the load goes on to the end.
    void silentInformationGetLeavesItsFieldsAndLoadGoesOn_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("get");
        QTest::newRow("device id") << 0x40 << "getInfo40";
        QTest::newRow("version") << 0x11 << "getDeviceVersion";
        QTest::newRow("scan speed") << 0x20 << "getScanSpeed";
        QTest::newRow("user information") << 0x30 << "getUserInfo";
        QTest::newRow("n-key rollover") << 0x50 << "getNKey";
    }
    void silentInformationGetLeavesItsFieldsAndLoadGoesOn()
    {
        QFETCH(int, command);
        QFETCH(QString, get);
        KeyboardFixture f;
        f.kb->silence(0x10, uint8_t(command));
        f.kb->edit([](sim::FirmwareState& s) { s.nKey = 1; }); // every field differs from a new device's 0
        QVERIFY(f.open());
        logrecorder::start();
        Load load(f);
        QTRY_VERIFY_WITH_TIMEOUT(load.done(), timescale::ms(20000));
        const QStringList lines = logrecorder::lines();
        logrecorder::stop();
        QCOMPARE(load.outcome(), QList<uint>({DeviceResult::Ok, 1, 0}));
        QVERIFY(!lines.filter(get + " got no reply").isEmpty());

        const Device& d = *f.device;
        const QMap<int, QByteArray> held{{0x40, bytes(d.m_deviceId, 12)},
                                         {0x11, bytes(&d.m_fw_version, 2) + bytes(&d.m_hw_version, 2)},
                                         {0x20, bytes(&d.m_scanSpeed, 2)},
                                         {0x30, bytes(d.m_userInfo, 48)},
                                         {0x50, bytes(&d.m_nKey, 1)}};
        QCOMPARE(held[command], QByteArray(held[command].size(), '\0'));
        QCOMPARE(d.m_nKey == 1, command != 0x50); // the others were read
        // The tables after it were read as on any keyboard.
        QCOMPARE(bytes(d.m_pKFs), joined(f.kb->state().keyFunctions));
    }

    // The load fails at a silent request (the row waits out its 2 s time-out) or a failed write, and ends
    // at once without a signal on a stop. Nothing is asked after the last request named.
    void loadEndsAfterItsLastRequest_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("end");
        QTest::addColumn<int>("stopAfterMs");
        QTest::newRow("key code info silent") << 0x20 << 0x00 << "fails" << -1;
        QTest::newRow("device id not written") << 0x10 << 0x10 << "write fails" << -1;
        // Past the 500 ms wait of the first silent attempt: in the pause between attempts.
        QTest::newRow("stop in the pause between info attempts") << 0x10 << 0x10 << "stops" << 700;
        QTest::newRow("stop waiting for a key code page") << 0x20 << 0x10 << "stops" << 100;
    }
    void loadEndsAfterItsLastRequest()
    {
        QFETCH(int, group);
        QFETCH(int, command);
        QFETCH(QString, end);
        QFETCH(int, stopAfterMs);
        KeyboardFixture f;
        // A failed write: the first request of the second step.
        end == "write fails" ? f.kb->failWrite(2) : f.kb->silence(group, command);
        QVERIFY(f.open());
        Load load(f);
        if (end == "stops") {
            QTRY_VERIFY_WITH_TIMEOUT(firstWrite(f.kb->log(), group, command) >= 0, timescale::ms(10000));
            QTest::qWait(stopAfterMs);
            f.device->requestStop();
        }
        QTRY_VERIFY_WITH_TIMEOUT(load.done(), timescale::ms(10000));
        const QList<sim::LogEntry> log = f.kb->log();
        if (end == "stops") {
            // The stop ended the wait it came in, not the wait's own end: the keyboard logs a report sent
            // once the load is over, sooner after the request than the wait could end (its 2 s reply wait;
            // in the pause, the 500 ms attempt and the 1 s pause), however busy the machine.
            const QByteArray mark = report(0xF0, 0x20, 0x5A);
            f.kb->inject(mark);
            const QList<sim::LogEntry> marked = f.kb->log();
            QVERIFY(marked.last().direction == sim::LogEntry::FromDevice && marked.last().report == mark);
            const qint64 took = marked.last().msSincePlug - log[firstWrite(log, group, command)].msSincePlug;
            const qint64 waitEnds = group == 0x20 ? DeviceTimeout::Get : DeviceTimeout::Info + 1000;
            QVERIFY2(took < waitEnds, QByteArray::number(took));
        }
        QCOMPARE(load.outcome(), QList<uint>({DeviceResult::Stopped, 0, end != "stops"}));
        QCOMPARE(firstWrite(log, -1, -1, firstWrite(log, group, command) + 1), -1); // nothing asked after it
    }

    // A reply naming a page asked before is held: the page's own reply behind it is taken instead, also
    // when it comes late, past the grace a reply naming an earlier page gets but within the request's reply
    // time; with none, the held one (a repeat of a reply taken) is the page's at the end of the page's reply
    // time (for the page's count of entries), and the load goes on while its copies still stream in (this
    // keyboard answers nothing else meanwhile: the next request fails).
    void pageTakesItsOwnReplyOverAnEarlierPagesOne_data()
    {
        QTest::addColumn<bool>("lighting");
        QTest::addColumn<int>("page");   // the page (from 0) answered first with the page before's reply; -1: all
        QTest::addColumn<int>("copies"); // of that reply, 150 ms apart; its own reply comes after only with -1
        QTest::addColumn<int>("lateMs"); // after the request, the page's own reply (the keyboard's lateness)
        QTest::newRow("colour pages, the page before's reply first") << false << -1 << 1 << 0;
        QTest::newRow("lighting pages, the page before's reply first") << true << -1 << 1 << 0;
        QTest::newRow("colour pages, the page before's reply first, their own 300 ms late") << false << -1 << 1 << 300;
        QTest::newRow("lighting pages, the page before's reply first, their own 300 ms late") << true << -1 << 1 << 300;
        QTest::newRow("colour pages, the page before's reply first, their own 1200 ms late") << false << -1 << 1 << 1200;
        QTest::newRow("colour page, only the page before's reply") << false << 1 << 1 << 0;
        QTest::newRow("lighting page, only the page before's reply") << true << 1 << 1 << 0;
        QTest::newRow("colour page, the page before's reply streaming past the wait") << false << 7 << 60 << 0;
    }
    void pageTakesItsOwnReplyOverAnEarlierPagesOne()
    {
        QFETCH(bool, lighting);
        QFETCH(int, page);
        QFETCH(int, copies);
        QFETCH(int, lateMs);
        KeyboardFixture f; // 104 colour entries in pages of 13, 104 lighting bytes in pages of 48
        const uint8_t group = lighting ? 0x60 : 0x30, command = lighting ? 0x03 : 0x10;
        const int spacing = timescale::ms(150);
        f.kb->answerStaleFirst(group, command, page < 0 ? -1 : 1, qMax(page, 0), copies, spacing, lateMs);
        if (page >= 0)
            f.kb->silence(group, command, 1, page);
        QVERIFY(f.open());
        Load load(f);
        QTRY_VERIFY_WITH_TIMEOUT(load.done(), timescale::ms(30000));
        // A report written now is logged at once; the stream's last reply is logged when it is due.
        QCOMPARE(f.device->sendPacket(0x10, 0x20, 0, 0, nullptr), DeviceResult::Ok);
        const QList<sim::LogEntry> log = f.kb->log();
        const Device& d = *f.device;
        const sim::FirmwareState s = f.kb->state();
        QCOMPARE(load.outcome(), copies == 1 ? QList<uint>({DeviceResult::Ok, 1, 0})
                                             : QList<uint>({DeviceResult::Stopped, 0, 1}));
        QByteArray expected = lighting ? s.lightingModes.at(s.curLightingMode) : s.colourMaps.at(s.curColourMap);
        const int pageBytes = lighting ? 48 : 13 * 4;
        if (page >= 0) // the page before's entries, as many as the page holds
            expected.replace(page * pageBytes, pageBytes, expected.mid((page - 1) * pageBytes, pageBytes));
        QCOMPARE(lighting ? bytes(d.m_pLMMs) : bytes(d.m_pKRs), expected);
        qint64 lastStale = 0, written = 0;
        for (const sim::LogEntry& e : log) {
            if (e.direction == sim::LogEntry::ToDevice)
                written = e.msSincePlug;
            else if (e.report.startsWith(QByteArray(1, char(group)) + char(command)))
                lastStale = e.msSincePlug;
        }
        QVERIFY2(copies == 1 || written < lastStale, QByteArray::number(written) + " " + QByteArray::number(lastStale));
    }

    // Keyboards whose colour and lighting page replies name a fixed page or the page before, or lag a
    // reply behind, load the tables they hold, at most 2 s slower than a keyboard that names each page.
    void keyboardNamingEarlierPagesLoadsSoonAfterAPlainOne_data()
    {
        QTest::addColumn<QString>("naming");
        QTest::newRow("always 0-12 and 0-47") << "fixed";
        QTest::newRow("the page before") << "before";
        QTest::newRow("the page before's reply, then its own") << "lagging";
    }
    void keyboardNamingEarlierPagesLoadsSoonAfterAPlainOne()
    {
        QFETCH(QString, naming);
        qint64 took[2] = {0, 0};
        for (int odd = 0; odd < 2; ++odd) {
            KeyboardFixture f;
            for (const uint8_t group : {0x30, 0x60}) {
                const uint8_t command = group == 0x30 ? 0x10 : 0x03;
                if (!odd)
                    continue;
                if (naming == "fixed")
                    f.kb->patchReply(group, command, 9, QByteArray(1, '\0') + char(group == 0x30 ? 12 : 47));
                else if (naming == "before")
                    f.kb->nameRangeBefore(group, command);
                else
                    f.kb->answerStaleFirst(group, command);
            }
            QVERIFY(f.open());
            QElapsedTimer clock;
            clock.start();
            Load load(f);
            QTRY_VERIFY_WITH_TIMEOUT(load.done(), timescale::ms(30000));
            took[odd] = clock.elapsed();
            QCOMPARE(load.outcome(), QList<uint>({DeviceResult::Ok, 1, 0}));
            const sim::FirmwareState s = f.kb->state();
            QCOMPARE(bytes(f.device->m_pKRs), s.colourMaps.at(s.curColourMap));
            QCOMPARE(bytes(f.device->m_pLMMs), s.lightingModes.at(s.curLightingMode));
        }
        QVERIFY2(took[1] - took[0] < timescale::ms(2000), QByteArray::number(took[1]) + " " + QByteArray::number(took[0]));
    }

    // Once a read has taken a reply naming an earlier page, later pages of that kind need not wait for
    // one of their own: the colour table of a keyboard naming 0-12 on every page, whose entries are all
    // alike (each page's reply the same bytes), waits the reply time once; a colour-map switch of one
    // naming the page before waits no grace. A keyboard that repeats each reply first and answers late,
    // having lost one page's own reply in a read, is waited for again in the next. Each reads what the
    // keyboard holds.
    void pagesNamingAnEarlierOneWaitOnlyOnce_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("limitMs"); // for the table read measured
        QTest::newRow("load, 0-12 named on every page, entries alike") << "alike" << DeviceTimeout::Get + 2000;
        QTest::newRow("colour-map switch, the page before named") << "before" << 500;
        // Here what is read counts; the bound only says the switch ends.
        QTest::newRow("colour-map switch after a read that lost one page's late reply") << "lost"
                                                                                          << 4 * DeviceTimeout::Get;
    }
    void pagesNamingAnEarlierOneWaitOnlyOnce()
    {
        QFETCH(QString, kind);
        QFETCH(int, limitMs);
        KeyboardFixture f;
        if (kind == "alike") {
            f.kb->patchReply(0x30, 0x10, 9, QByteArray(1, '\0') + char(12));
            f.kb->edit([](sim::FirmwareState& s) {
                for (QByteArray& map : s.colourMaps)
                    for (int i = 0; i + 4 <= map.size(); i += 4)
                        map.replace(i, 4, QByteArray::fromHex("10203000"));
            });
        } else if (kind == "before") {
            f.kb->nameRangeBefore(0x30, 0x10);
        } else {
            f.kb->answerStaleFirst(0x30, 0x10, -1, 0, 1, 0, 100);
            f.kb->silence(0x30, 0x10, 1, 3);
        }
        QVERIFY(f.open());
        Device* d = f.device;
        QCOMPARE(firstError({d->getKRInfo(), d->getCurKRMID()}), DeviceResult::Ok);
        if (kind != "alike")
            QCOMPARE(d->getAllKR(), DeviceResult::Ok);
        QTest::qWait(500); // the lost read's last late replies are in
        const uint8_t map = kind == "alike" ? d->m_curkrm : uint8_t((d->m_curkrm + 1) % f.kb->state().colourMaps.size());
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(firstError({d->setCurKRMID(map), d->getAllKR()}), DeviceResult::Ok);
        const qint64 took = clock.elapsed();
        QCOMPARE(bytes(d->m_pKRs), f.kb->state().colourMaps.at(map));
        QVERIFY2(took < timescale::ms(limitMs), QByteArray::number(took));
    }
};

QTEST_GUILESS_MAIN(Loading)
#include "test_loading.moc"
