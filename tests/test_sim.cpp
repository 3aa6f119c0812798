// The emulated keyboard itself: its hidapi surface and its firmware replies.
#include "simcontrol.h"

#include <hidapi.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QtTest>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

using Expect = std::function<QByteArray(const sim::FirmwareState&)>;
using Check = std::function<bool(const sim::FirmwareState&)>;
Q_DECLARE_METATYPE(Expect)
Q_DECLARE_METATYPE(Check)
Q_DECLARE_METATYPE(sim::Behaviour)

namespace {

QByteArray u16(uint16_t v) { return QByteArray(1, char(v & 0xFF)) + QByteArray(1, char(v >> 8)); }
QByteArray u32(uint32_t v) { return u16(uint16_t(v & 0xFFFF)) + u16(uint16_t(v >> 16)); }
QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray b;
    for (int v : list)
        b.append(char(v));
    return b;
}

// The 64-byte command report, as the tool builds it.
QByteArray report(uint8_t group, uint8_t cmd, const QByteArray& payload = {}, int length = -1, uint16_t offset = 0)
{
    QByteArray r(64, '\0');
    r[0] = char(group);
    r[1] = char(cmd);
    r.replace(2, 2, u16(uint16_t(length < 0 ? payload.size() : length)));
    r.replace(4, 2, u16(offset));
    r.replace(8, payload.size(), payload);
    return r.left(64);
}

int write(hid_device* h, const QByteArray& rep)
{
    const QByteArray out = QByteArray(1, '\0') + rep;
    return hid_write(h, reinterpret_cast<const unsigned char*>(out.constData()), size_t(out.size()));
}

QByteArray read(hid_device* h, int ms = 200)
{
    unsigned char buf[65] = {};
    const int n = hid_read_timeout(h, buf, sizeof buf, ms);
    return n > 0 ? QByteArray(reinterpret_cast<const char*>(buf), n) : QByteArray();
}

// One request and its reply; empty when the keyboard stays silent.
QByteArray exchange(hid_device* h, const QByteArray& rep, int ms = 200)
{
    return write(h, rep) == 65 ? read(h, ms) : QByteArray();
}

// A full reply: echo, then `data` from byte 8.
QByteArray reply(uint8_t group, uint8_t cmd, const QByteArray& data, uint8_t len = 0, const QByteArray& head = {})
{
    QByteArray r(64, '\0');
    r[0] = char(group);
    r[1] = char(cmd);
    r[2] = char(len);
    r.replace(4, head.size(), head);
    r.replace(8, data.size(), data);
    return r.left(64);
}

hid_device* openCommand(const sim::KeyboardPtr& kb) { return hid_open_path(kb->commandPath().toUtf8().constData()); }

QList<int> enumerated(unsigned short vid, unsigned short pid, QStringList* paths = nullptr)
{
    QList<int> ifaces;
    hid_device_info* list = hid_enumerate(vid, pid);
    for (hid_device_info* d = list; d; d = d->next) {
        ifaces << d->interface_number;
        if (paths)
            *paths << QString::fromUtf8(d->path);
    }
    hid_free_enumeration(list);
    return ifaces;
}

} // namespace

// The hidapi functions: enumeration, handles, queues, threads and transport faults.
class SimHidTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void enumerationListsEachInterfaceWithItsOwnPath()
    {
        sim::KeyboardSpec spec;
        spec.interfaces = {0, 1, 2, 3};
        auto kb = sim::plug(spec);
        QStringList paths;
        QCOMPARE(enumerated(0, 0, &paths), QList<int>({0, 1, 2, 3}));
        for (int i = 0; i < paths.size(); ++i) {
            QCOMPARE(paths[i], kb->path(i));
            QVERIFY(paths[i].startsWith("sim/hidraw"));
            QVERIFY2(paths[i].right(1) != QString::number(i), "path must not end in the interface number");
        }
        QCOMPARE(QSet<QString>(paths.begin(), paths.end()).size(), 4);
        QVERIFY(kb->path(7).isEmpty());
        QCOMPARE(hid_exit(), 0);
        QCOMPARE(enumerated(0, 0).size(), 4);
    }

    void enumerationFiltersByIds_data()
    {
        QTest::addColumn<int>("vid");
        QTest::addColumn<int>("pid");
        QTest::addColumn<int>("entries");
        QTest::newRow("everything") << 0 << 0 << 5;
        QTest::newRow("vendor") << 0x3151 << 0 << 5;
        QTest::newRow("first product") << 0x3151 << 0x4015 << 3;
        QTest::newRow("second product") << 0x3151 << 0x4020 << 2;
        QTest::newRow("other vendor") << 0x1234 << 0 << 0;
    }
    void enumerationFiltersByIds()
    {
        QFETCH(int, vid);
        QFETCH(int, pid);
        QFETCH(int, entries);
        sim::plug();
        sim::KeyboardSpec second;
        second.pid = 0x4020;
        second.interfaces = {0, 2};
        sim::plug(second);
        QCOMPARE(enumerated(uint16_t(vid), uint16_t(pid)).size(), entries);
    }

    void unpluggedKeyboardLeavesTheBus()
    {
        auto kb = sim::plug();
        hid_device* h = openCommand(kb);
        QVERIFY(h);
        sim::unplug(kb);
        QVERIFY(!kb->plugged());
        QVERIFY(enumerated(0, 0).isEmpty());
        QVERIFY(!openCommand(kb));
        QCOMPARE(write(h, report(0x10, 0x50)), -1);
        unsigned char buf[64];
        QCOMPARE(hid_read_timeout(h, buf, 64, 10), -1);
        hid_close(h);
    }

    void openByIdsTakesTheCommandInterface()
    {
        sim::KeyboardSpec spec;
        spec.commandInterface = 1;
        auto kb = sim::plug(spec);
        hid_device* h = hid_open(spec.vid, spec.pid, nullptr);
        QVERIFY(h);
        QCOMPARE(exchange(h, report(0x10, 0x50)).left(2), bytes({0x10, 0x50}));
        hid_close(h);
        QVERIFY(!hid_open(spec.vid, 0x9999, nullptr));
    }

    void otherInterfacesTakeWritesButDoNotAnswer()
    {
        auto kb = sim::plug();
        hid_device* h = hid_open_path(kb->path(0).toUtf8().constData());
        QVERIFY(h);
        QCOMPARE(write(h, report(0x10, 0x50)), 65);
        QVERIFY(read(h, 50).isEmpty());
        QCOMPARE(kb->writes(), 0);
        hid_close(h);
    }

    void malformedWritesFail_data()
    {
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("no report id") << report(0x10, 0x50);
        QTest::newRow("report id 1") << QByteArray(1, '\1') + report(0x10, 0x50);
        QTest::newRow("too long") << QByteArray(1, '\0') + report(0x10, 0x50) + "x";
    }
    void malformedWritesFail()
    {
        QFETCH(QByteArray, out);
        auto kb = sim::plug();
        hid_device* h = openCommand(kb);
        QCOMPARE(hid_write(h, reinterpret_cast<const unsigned char*>(out.constData()), size_t(out.size())), -1);
        QCOMPARE(kb->writes(), 0);
        QVERIFY(kb->plugged());
        hid_close(h);
    }

    void queueKeepsTheNewest64()
    {
        auto kb = sim::plug();
        hid_device* h = openCommand(kb);
        for (int i = 0; i < 70; ++i)
            kb->inject(bytes({0xF0, i}));
        for (int i = 6; i < 70; ++i)
            QCOMPARE(int(uint8_t(read(h, 0).at(1))), i);
        QVERIFY(read(h, 0).isEmpty());
        hid_close(h);
    }

    void reportsGoOnlyToHandlesOpenAtTheTime()
    {
        auto kb = sim::plug();
        kb->inject(bytes({0xF0, 1})); // nobody listens: lost
        hid_device* a = openCommand(kb);
        kb->inject(bytes({0xF0, 2}));
        hid_device* b = openCommand(kb);
        kb->inject(bytes({0xF0, 3}));
        QCOMPARE(read(a, 0).left(2), bytes({0xF0, 2}));
        QCOMPARE(read(a, 0).left(2), bytes({0xF0, 3}));
        QCOMPARE(read(b, 0).left(2), bytes({0xF0, 3}));
        QVERIFY(read(b, 0).isEmpty());
        hid_close(a);
        hid_close(b);
    }

    void readCopiesAtMostTheReport_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("count");
        QTest::newRow("short buffer") << 10 << 10;
        QTest::newRow("report size") << 64 << 64;
        QTest::newRow("with room for an id") << 65 << 64;
    }
    void readCopiesAtMostTheReport()
    {
        QFETCH(int, length);
        QFETCH(int, count);
        auto kb = sim::plug();
        hid_device* h = openCommand(kb);
        kb->inject(QByteArray(64, '\x5A'));
        unsigned char buf[80];
        std::memset(buf, 0xEE, sizeof buf);
        QCOMPARE(hid_read_timeout(h, buf, size_t(length), 100), count);
        QCOMPARE(int(buf[count - 1]), 0x5A);
        QCOMPARE(int(buf[count]), 0xEE);
        hid_close(h);
    }

    void blockingReadIsReleasedByUnplug()
    {
        auto kb = sim::plug();
        hid_device* h = openCommand(kb);
        std::atomic<int> result{1};
        std::thread reader([&] {
            unsigned char buf[64];
            result = hid_read(h, buf, sizeof buf);
        });
        QTest::qWait(50);
        QCOMPARE(result.load(), 1);
        sim::unplug(kb);
        reader.join();
        QCOMPARE(result.load(), -1);
        hid_close(h);
    }

    void writeAndReadRunOnTwoThreads()
    {
        auto kb = sim::plug();
        hid_device* h = openCommand(kb);
        const int requests = 300;
        std::atomic<int> replies{0};
        std::thread reader([&] {
            unsigned char buf[64];
            QElapsedTimer t;
            t.start();
            while (replies < requests && t.elapsed() < 5000)
                if (hid_read_timeout(h, buf, sizeof buf, 10) == 64 && buf[1] == 0x50)
                    ++replies;
        });
        int written = 0;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < requests; ++i) {
            // Stay well inside the 64-report queue, but keep writes and reads overlapping.
            while (i - replies.load() > 16 && t.elapsed() < 5000)
                std::this_thread::yield();
            written += write(h, report(0x10, 0x50)) == 65;
        }
        reader.join();
        QCOMPARE(written, requests);
        QCOMPARE(replies.load(), requests);
        QCOMPARE(kb->writes(), requests);
        hid_close(h);
    }

    void failedWriteLeavesTheKeyboardPlugged()
    {
        auto kb = sim::plug();
        hid_device* h = openCommand(kb);
        kb->failWrite(2);
        QCOMPARE(write(h, report(0x10, 0x50)), 65);
        QCOMPARE(write(h, report(0x10, 0x50)), -1);
        QCOMPARE(write(h, report(0x10, 0x50)), 65);
        QVERIFY(kb->plugged());
        QCOMPARE(kb->writes(), 2);
        hid_close(h);
    }

    void unplugAtWriteFailsThatWrite()
    {
        auto kb = sim::plug();
        hid_device* h = openCommand(kb);
        kb->unplugAtWrite(2);
        QCOMPARE(write(h, report(0x10, 0x50)), 65);
        QVERIFY(kb->plugged());
        QCOMPARE(write(h, report(0x10, 0x50)), -1);
        QVERIFY(!kb->plugged());
        hid_close(h);
    }

    void enterDfuLeavesTheBusWithoutReply()
    {
        auto kb = sim::plug();
        hid_device* h = openCommand(kb);
        QCOMPARE(write(h, report(0x10, 0x00)), 65);
        QVERIFY(!kb->plugged());
        unsigned char buf[64];
        QCOMPARE(hid_read_timeout(h, buf, sizeof buf, 10), -1);
        hid_close(h);
    }

    void reportDelayAppliesInEachDirection()
    {
        auto kb = sim::plug();
        hid_device* h = openCommand(kb);
        kb->setReportDelay(40);
        QElapsedTimer t;
        t.start();
        QCOMPARE(write(h, report(0x10, 0x50)), 65);
        QVERIFY(t.elapsed() >= 40);
        QVERIFY(read(h, 5).isEmpty());
        QVERIFY(!read(h, 500).isEmpty());
        QVERIFY(t.elapsed() >= 80);
        const QList<sim::LogEntry> log = kb->log();
        QCOMPARE(log.size(), 2);
        QCOMPARE(log[0].direction, sim::LogEntry::ToDevice);
        QCOMPARE(log[0].report, report(0x10, 0x50));
        QCOMPARE(log[1].direction, sim::LogEntry::FromDevice);
        QVERIFY(log[1].msSincePlug - log[0].msSincePlug >= 39);
        hid_close(h);
    }
};

// The firmware model: replies byte for byte, stored sets, models and behaviours.
class SimKeyboardTest : public QObject {
    Q_OBJECT
private:
    sim::KeyboardPtr kb;
    hid_device* h = nullptr;

private slots:
    void init()
    {
        kb = sim::plug();
        h = openCommand(kb);
        QVERIFY(h);
    }
    void cleanup()
    {
        hid_close(h);
        h = nullptr;
        kb.reset();
        sim::reset();
    }

    void stateIsFilledFromTheSeed()
    {
        const sim::FirmwareState s = kb->state();
        QCOMPARE(s.boardName, QByteArray("TK104 Dual").leftJustified(16, '\0'));
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d$").match(QString::fromLatin1(s.date)).hasMatch());
        QCOMPARE(int(s.keyMaps.size()), 4);
        QCOMPARE(s.keyMaps[0].size(), 104 * 4);
        QCOMPARE(int(s.macroHeads.size()), 32);
        int used = 0;
        for (size_t i = 0; i < s.macroHeads.size(); ++i) {
            const uint32_t w = uint8_t(s.macroHeads[i][0]) | uint8_t(s.macroHeads[i][1]) << 8 | uint8_t(s.macroHeads[i][2]) << 16;
            QCOMPARE(int(w & 0x3F), int(i));
            QCOMPARE(s.macroFrames[i].size(), int((w >> 7) & 0x3FF) * 10);
            used += (w & 0x40) && ((w >> 7) & 0x3FF) > 0;
        }
        QVERIFY(used > 5);

        sim::KeyboardSpec same, other;
        other.seed = 2;
        QCOMPARE(sim::plug(same)->state().keyMaps, s.keyMaps);
        QVERIFY(sim::plug(other)->state().keyMaps != s.keyMaps);
        sim::KeyboardSpec longName;
        longName.boardName = "ABCDEFGHIJKLMNOPQR";
        QCOMPARE(sim::plug(longName)->state().boardName, QByteArray("ABCDEFGHIJKLMNOP"));
    }

    void getRepliesByteForByte_data()
    {
        using S = const sim::FirmwareState&;
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<Expect>("expected");
        QTest::newRow("device info") << report(0x10, 0x10) << Expect([](S s) {
            return reply(0x10, 0x10, u32(s.infoWord0) + u32(s.infoWord1) + s.date + s.boardName);
        });
        QTest::newRow("version") << report(0x10, 0x11) << Expect([](S s) {
            return reply(0x10, 0x11, u16(s.fwVersion) + u16(s.hwVersion) + s.versionBytes);
        });
        QTest::newRow("scan speed") << report(0x10, 0x20)
                                    << Expect([](S s) { return reply(0x10, 0x20, u16(s.scanSpeed)); });
        QTest::newRow("user info") << report(0x10, 0x30) << Expect([](S s) { return reply(0x10, 0x30, s.userInfo); });
        QTest::newRow("device id") << report(0x10, 0x40) << Expect([](S s) { return reply(0x10, 0x40, s.deviceId); });
        QTest::newRow("n-key") << report(0x10, 0x50) << Expect([](S s) { return reply(0x10, 0x50, bytes({s.nKey})); });
        QTest::newRow("key code info") << report(0x20, 0x00) << Expect([](S) { return reply(0x20, 0x00, bytes({4, 104})); });
        QTest::newRow("key code page") << report(0x20, 0x10, bytes({1, 13, 25, 0})) << Expect([](S s) {
            return reply(0x20, 0x10, bytes({1, 13, 25, 0}) + s.keyMaps[1].mid(13 * 4, 13 * 4));
        });
        QTest::newRow("key code page clipped to the table") << report(0x20, 0x10, bytes({0, 100, 110, 0})) << Expect([](S s) {
            return reply(0x20, 0x10, bytes({0, 100, 110, 0}) + s.keyMaps[0].mid(100 * 4));
        });
        QTest::newRow("colour page") << report(0x30, 0x10, bytes({1, 91, 103, 0})) << Expect([](S s) {
            return reply(0x30, 0x10, bytes({1, 91, 103, 0}) + s.colourMaps[1].mid(91 * 4));
        });
        QTest::newRow("lighting mode page") << report(0x60, 0x03, bytes({2, 48, 95, 0})) << Expect([](S s) {
            return reply(0x60, 0x03, bytes({2, 48, 95, 0}) + s.lightingModes[2].mid(48, 48));
        });
        QTest::newRow("key function") << report(0x40, 0x10, bytes({5}))
                                      << Expect([](S s) { return reply(0x40, 0x10, s.keyFunctions[5], 0x38); });
        QTest::newRow("key function out of range") << report(0x40, 0x10, bytes({32}))
                                                   << Expect([](S) { return reply(0x40, 0x10, {}); });
        QTest::newRow("macro head") << report(0x50, 0x01, bytes({3}))
                                    << Expect([](S s) { return reply(0x50, 0x01, s.macroHeads[3], 0x18); });
        QTest::newRow("lighting action") << report(0x60, 0x21, bytes({7}))
                                         << Expect([](S s) { return reply(0x60, 0x21, s.lightingActions[7], 0x0C); });
        QTest::newRow("bt name") << report(0xB0, 0x10) << Expect([](S s) { return reply(0xB0, 0x10, s.btName); });
        QTest::newRow("sleep time") << report(0xB0, 0x20) << Expect([](S s) { return reply(0xB0, 0x20, u32(s.sleepTime)); });
    }
    void getRepliesByteForByte()
    {
        QFETCH(QByteArray, request);
        QFETCH(Expect, expected);
        QCOMPARE(exchange(h, request).toHex(), expected(kb->state()).toHex());
    }

    void setIsStoredUnlessRefused_data()
    {
        using S = const sim::FirmwareState&;
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<Check>("stored");
        const QByteArray kf = QByteArray(1, char(0x40 | 9)) + QByteArray(55, '\x33');
        const QByteArray head = QByteArray(1, char(0x40 | 4)) + QByteArray(23, '\x44');
        const QByteArray la = QByteArray(1, char(6)) + QByteArray(11, '\x66');
        const QByteArray entries = bytes({1, 2, 3, 0, 4, 5, 6, 0});
        QTest::newRow("scan speed") << report(0x10, 0x21, u16(0x1234)) << Check([](S s) { return s.scanSpeed == 0x1234; });
        QTest::newRow("user info") << report(0x10, 0x31, QByteArray(48, 'u'))
                                   << Check([](S s) { return s.userInfo == QByteArray(48, 'u'); });
        QTest::newRow("n-key") << report(0x10, 0x51, bytes({7})) << Check([](S s) { return s.nKey == 7; });
        QTest::newRow("key code map") << report(0x20, 0x02, bytes({3})) << Check([](S s) { return s.curKeyMap == 3; });
        QTest::newRow("key codes") << report(0x20, 0x11, bytes({2, 10, 11, 0}) + entries)
                                   << Check([entries](S s) { return s.keyMaps[2].mid(40, 8) == entries; });
        QTest::newRow("colours") << report(0x30, 0x11, bytes({1, 0, 1, 0}) + entries)
                                 << Check([entries](S s) { return s.colourMaps[1].left(8) == entries; });
        QTest::newRow("lighting bytes") << report(0x60, 0x04, bytes({5, 100, 103, 0, 9, 8, 7, 6}))
                                        << Check([](S s) { return s.lightingModes[5].mid(100) == bytes({9, 8, 7, 6}); });
        QTest::newRow("lighting mode") << report(0x60, 0x02, bytes({31})) << Check([](S s) { return s.curLightingMode == 31; });
        QTest::newRow("key function into its own slot")
            << report(0x40, 0x20, kf) << Check([kf](S s) { return s.keyFunctions[9] == kf; });
        QTest::newRow("macro head into its own slot")
            << report(0x50, 0x02, head) << Check([head](S s) { return s.macroHeads[4] == head; });
        QTest::newRow("lighting action into its own slot")
            << report(0x60, 0x22, la) << Check([la](S s) { return s.lightingActions[6] == la; });
        QTest::newRow("macro selection") << report(0x50, 0x03, bytes({9})) << Check([](S s) { return s.selectedMacro == 9; });
        QTest::newRow("recording") << report(0x50, 0x10, bytes({1})) << Check([](S s) { return s.recording; });
        QTest::newRow("bt name") << report(0xB0, 0x11, QByteArray("new name 12b"))
                                 << Check([](S s) { return s.btName == "new name 12b"; });
        QTest::newRow("sleep time") << report(0xB0, 0x21, u32(600000)) << Check([](S s) { return s.sleepTime == 600000; });
    }
    void setIsStoredUnlessRefused()
    {
        QFETCH(QByteArray, request);
        QFETCH(Check, stored);
        const uint8_t g = uint8_t(request[0]), c = uint8_t(request[1]);
        kb->edit([](sim::FirmwareState& s) { s.curKeyMap = s.curLightingMode = s.selectedMacro = 0; });
        QVERIFY(!stored(kb->state()));

        kb->answerStatus(g, c, 5, 1);
        QCOMPARE(exchange(h, request).mid(8, 4), u32(5));
        QVERIFY2(!stored(kb->state()), "a refused set changes nothing");

        const QByteArray ok = exchange(h, request);
        QCOMPARE(ok.left(2), request.left(2));
        QCOMPARE(ok.mid(8, 4), u32(0));
        QVERIFY(stored(kb->state()));
    }

    void setOutsideTheTablesIsRefused_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("key code map") << report(0x20, 0x02, bytes({4}));
        QTest::newRow("key codes past the last key") << report(0x20, 0x11, bytes({0, 103, 104, 0}) + QByteArray(8, '\1'));
        QTest::newRow("more than 13 key codes") << report(0x20, 0x11, bytes({0, 0, 13, 0}) + QByteArray(48, '\1'));
        QTest::newRow("key function slot") << report(0x40, 0x20, bytes({0x3F}) + QByteArray(55, '\1'));
        QTest::newRow("macro selection") << report(0x50, 0x03, bytes({32}));
    }
    void setOutsideTheTablesIsRefused()
    {
        QFETCH(QByteArray, request);
        const sim::FirmwareState before = kb->state();
        QVERIFY(exchange(h, request).mid(8, 4) != u32(0));
        QCOMPARE(kb->state().keyMaps, before.keyMaps);
        QCOMPARE(kb->state().keyFunctions, before.keyFunctions);
        QCOMPARE(kb->state().curKeyMap, before.curKeyMap);
    }

    void macroFramesTravelInPacketsOfFive()
    {
        QByteArray frames;
        for (int i = 0; i < 120; ++i)
            frames.append(char(i));
        QCOMPARE(exchange(h, report(0x50, 0x03, bytes({2}))).mid(8, 4), u32(0));
        for (int f = 0; f < 12; f += 5) {
            const QByteArray part = frames.mid(f * 10, 50);
            const QByteArray ack = exchange(h, report(0x50, 0x40, part, part.size(), uint16_t(f)));
            QCOMPARE(ack, reply(0x50, 0x40, u32(0), 4, u16(uint16_t(f))));
        }
        QCOMPARE(exchange(h, report(0x50, 0x40, {}, 0, 12)), reply(0x50, 0x40, u32(0), 4, u16(12)));

        const sim::FirmwareState s = kb->state();
        QCOMPARE(s.macroFrames[2], frames);
        QCOMPARE(int((uint8_t(s.macroHeads[2][0]) >> 7) | (uint8_t(s.macroHeads[2][1]) << 1) | ((uint8_t(s.macroHeads[2][2]) & 1) << 9)), 12);

        QCOMPARE(exchange(h, report(0x50, 0x30, {}, 0, 5)), reply(0x50, 0x30, frames.mid(50, 50), 50, u16(5)));
        QCOMPARE(exchange(h, report(0x50, 0x30, {}, 0, 10)), reply(0x50, 0x30, frames.mid(100, 20), 20, u16(10)));
        QCOMPARE(exchange(h, report(0x50, 0x30, {}, 0, 12)), reply(0x50, 0x30, {}, 0, u16(12)));
    }

    void modelsAreSilentOnMissingGroups_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<int>("colourMaps");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected"); // bytes 0..9; empty: silent
        const int full = int(sim::Model::Full), noLighting = int(sim::Model::NoLighting), wired = int(sim::Model::Wired);
        QTest::newRow("no lighting: colours") << noLighting << 2 << report(0x30, 0x00) << QByteArray();
        QTest::newRow("no lighting: modes") << noLighting << 2 << report(0x60, 0x00) << QByteArray();
        QTest::newRow("no lighting: actions") << noLighting << 2 << report(0x60, 0x20) << QByteArray();
        QTest::newRow("no lighting: key codes") << noLighting << 2 << report(0x20, 0x00)
                                                << reply(0x20, 0x00, bytes({4, 104})).left(10);
        QTest::newRow("wired: bt name") << wired << 2 << report(0xB0, 0x10) << QByteArray();
        QTest::newRow("wired: sleep time") << wired << 2 << report(0xB0, 0x21, u32(1)) << QByteArray();
        QTest::newRow("no colour maps") << full << 0 << report(0x30, 0x00) << reply(0x30, 0x00, bytes({0, 0})).left(10);
        QTest::newRow("unknown command") << full << 2 << report(0x20, 0x7F) << QByteArray();
        QTest::newRow("unknown group") << full << 2 << report(0x77, 0x00) << QByteArray();
    }
    void modelsAreSilentOnMissingGroups()
    {
        QFETCH(int, model);
        QFETCH(int, colourMaps);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        sim::KeyboardSpec spec;
        spec.model = sim::Model(model);
        spec.colourMaps = uint8_t(colourMaps);
        auto other = sim::plug(spec);
        hid_device* o = openCommand(other);
        QCOMPARE(exchange(o, request, 50).left(10), expected);
        hid_close(o);
    }

    void behaviourAppliesToItsCountOfRequests_data()
    {
        QTest::addColumn<sim::Behaviour>("behaviour");
        QTest::addColumn<QByteArray>("changed"); // the changed reply; empty: none
        const QByteArray normal = reply(0x10, 0x20, u16(0));
        sim::Behaviour b;
        b.group = 0x10;
        b.command = 0x20;
        b.count = 2;
        b.kind = sim::Behaviour::Silent;
        QTest::newRow("silent") << b << QByteArray();
        b.kind = sim::Behaviour::WrongEcho;
        QTest::newRow("wrong echo") << b << QByteArray(normal).replace(1, 1, bytes({0xDF}));
        b.kind = sim::Behaviour::Status;
        b.status = 0xEE;
        QTest::newRow("status") << b << reply(0x10, 0x20, u32(0xEE));
        b.kind = sim::Behaviour::Patch;
        b.offset = 62;
        b.bytes = bytes({0xAB, 0xCD, 0xEF});
        QTest::newRow("patch clipped at the end") << b << QByteArray(normal).replace(62, 2, bytes({0xAB, 0xCD}));
    }
    void behaviourAppliesToItsCountOfRequests()
    {
        QFETCH(sim::Behaviour, behaviour);
        QFETCH(QByteArray, changed);
        kb->edit([](sim::FirmwareState& s) { s.scanSpeed = 0; });
        kb->addBehaviour(behaviour);
        QCOMPARE(exchange(h, report(0x10, 0x20), 50).toHex(), changed.toHex());
        QCOMPARE(exchange(h, report(0x10, 0x50)).left(2), bytes({0x10, 0x50}));
        QCOMPARE(exchange(h, report(0x10, 0x20), 50).toHex(), changed.toHex());
        QCOMPARE(exchange(h, report(0x10, 0x20)).toHex(), reply(0x10, 0x20, u16(0)).toHex());
    }

    void lateReplyComesAheadOfTheNextOne()
    {
        kb->answerLate(0x10, 0x20, 1);
        QVERIFY(exchange(h, report(0x10, 0x20), 50).isEmpty());
        QCOMPARE(write(h, report(0x10, 0x50)), 65);
        QCOMPARE(read(h).left(2), bytes({0x10, 0x20}));
        QCOMPARE(read(h).left(2), bytes({0x10, 0x50}));
        QVERIFY(read(h, 20).isEmpty());
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int failed = 0;
    {
        SimHidTest t;
        failed += QTest::qExec(&t, argc, argv);
    }
    {
        SimKeyboardTest t;
        failed += QTest::qExec(&t, argc, argv);
    }
    return failed;
}

#include "test_sim.moc"
