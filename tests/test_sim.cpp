// The emulated keyboard itself: its hidapi surface and its firmware replies.
#include "simcontrol.h"
#include "timescale.h"

#include <hidapi.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QtTest>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

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
QByteArray reply(uint8_t group, uint8_t cmd, const QByteArray& data) { return report(group, cmd, data, 0); }

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

// The hidapi functions: enumeration, handles, queues and unplugging.
class SimHidTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void enumerationListsEachInterfaceWithItsOwnPath()
    {
        sim::KeyboardConfig config;
        config.interfaces = {0, 1, 2, 3};
        auto kb = sim::plug(config);
        QStringList paths;
        QCOMPARE(enumerated(0, 0, &paths), QList<int>({0, 1, 2, 3}));
        for (int i = 0; i < paths.size(); ++i)
            QCOMPARE(paths[i], kb->path(i));
        QCOMPARE(QSet<QString>(paths.begin(), paths.end()).size(), 4);
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
        sim::unplug(kb);
        reader.join();
        QCOMPARE(result.load(), -1);
        hid_close(h);
    }

    void enterDfuLeavesTheBusWithoutReply()
    {
        auto kb = sim::plug();
        hid_device* h = openCommand(kb);
        QCOMPARE(write(h, report(0x10, 0x00)), 65);
        QVERIFY(!kb->plugged() && read(h, 10).isEmpty());
        hid_close(h);
    }

};

// The firmware model's test controls: each behaviour for its count of requests.
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

    // A key function press is reported only for a used slot whose key-map mask holds the current map.
    void keyFunctionPressIsNotified_data()
    {
        QTest::addColumn<int>("word0"); // slot 5 | used << 6 | hi << 7
        QTest::addColumn<int>("maps");  // key-map mask; the current map is 2
        QTest::addColumn<QByteArray>("notification"); // empty: none
        QTest::newRow("used, active in the current map")
            << (5 | 0x40 | 9 << 7) << 0x04 << report(0xF0, 0xAA, bytes({5, 9}));
        QTest::newRow("unused") << (5 | 9 << 7) << 0xFF << QByteArray();
        QTest::newRow("not active in the current map") << (5 | 0x40 | 9 << 7) << 0xFB << QByteArray();
    }
    void keyFunctionPressIsNotified()
    {
        QFETCH(int, word0);
        QFETCH(int, maps);
        QFETCH(QByteArray, notification);
        kb->edit([&](sim::FirmwareState& s) {
            s.curKeyMap = 2;
            s.keyFunctions[5] = u16(uint16_t(word0)) + u16(uint16_t(maps << 4 | 0x0B)) + QByteArray(52, '\xFF');
        });
        kb->pressKeyFunction(5);
        QCOMPARE(read(h, 50).toHex(), notification.toHex());
        kb->pressKeyFunction(99); // no such slot
        QVERIFY(read(h, 20).isEmpty());
    }

    // Typed changes go out as recording notifications, in their own time, and only while recording.
    void typedChangesAreNotifiedWhileRecording()
    {
        const QList<sim::ReportChange> ctrlC{{0, QByteArray::fromHex("01ff000000000000")},
                                             {40, QByteArray::fromHex("0100060000000000")}};
        kb->playKeys(ctrlC);
        QTRY_VERIFY_WITH_TIMEOUT(!kb->playing(), timescale::ms(10000));
        QVERIFY(read(h, 20).isEmpty());
        QCOMPARE(exchange(h, report(0x50, 0x10, bytes({1}))).left(2), bytes({0x50, 0x10}));
        QElapsedTimer clock;
        clock.start();
        kb->playKeys(ctrlC);
        QCOMPARE(read(h, 1000).toHex(), report(0xF0, 0x50, QByteArray::fromHex("0000010000000000" "0000"), 10).toHex());
        QCOMPARE(read(h, 1000).toHex(), report(0xF0, 0x50, QByteArray::fromHex("2800010006000000" "0000"), 10).toHex());
        QVERIFY(clock.elapsed() >= 40); // never before its time
    }

    // The sample boards' macros: named slots whose frames press and release one key at a time.
    void sampleBoardsHoldTypedMacros()
    {
        const sim::FirmwareState s = sim::plug(sim::tenkeylessWired())->state();
        QStringList used;
        for (const QByteArray& head : s.macroHeads)
            if (head[0] & 0x40)
                used << QString::number(head[0] & 0x3F) + ' ' + QString::fromLatin1(head.mid(8, 16).constData());
        QCOMPARE(used, QStringList({"0 Copy", "2 Hello1", "5 Sig2"}));
        QCOMPARE(s.macroFrames[0].toHex(), QByteArray("0000010000000000" "0000" "2800010006000000" "0000"
                                                      "3c00010000000000" "0000" "3c00000000000000" "0000"));
        QCOMPARE((uint8_t(s.macroHeads[2][0]) >> 7) | (uint8_t(s.macroHeads[2][1]) << 1), 12);
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
