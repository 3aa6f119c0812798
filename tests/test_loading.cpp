// Loading a freshly opened keyboard on the device thread: the order, what ends it, and what it stores.
#include "keyboardfixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <atomic>

namespace {
constexpr uint32_t Running = 0xFFFFFFFF;

QByteArray bytes(const void* p, size_t n)
{
    return QByteArray(static_cast<const char*>(p), int(n));
}

template <typename T>
QByteArray bytes(const std::vector<T>& v)
{
    return bytes(v.data(), v.size() * sizeof(T));
}

QByteArray joined(const std::vector<QByteArray>& records)
{
    QByteArray all;
    for (const QByteArray& r : records)
        all += r;
    return all;
}

bool isCommand(const sim::LogEntry& e, uint8_t group, uint8_t command)
{
    return e.direction == sim::LogEntry::ToDevice && uint8_t(e.report[0]) == group
        && uint8_t(e.report[1]) == command;
}

// Index in the log of the first report written with this command, -1 when none was.
int firstWrite(const QList<sim::LogEntry>& log, uint8_t group, uint8_t command)
{
    for (int i = 0; i < log.size(); ++i)
        if (isCommand(log[i], group, command))
            return i;
    return -1;
}

int writesIn(const QList<sim::LogEntry>& log)
{
    int n = 0;
    for (const sim::LogEntry& e : log)
        n += e.direction == sim::LogEntry::ToDevice;
    return n;
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
        Device* d = f.device;
        QMetaObject::invokeMethod(d, [this, d] { result = d->loadDevInfoSlot(); }, Qt::QueuedConnection);
    }
    bool done() const { return result.load() != Running; }
};
}

class Loading : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void fullLoadMatchesTheKeyboardByteForByte()
    {
        KeyboardFixture f;
        // Current maps other than the first, so that reading the wrong one shows.
        f.kb->edit([](sim::FirmwareState& s) {
            s.curKeyMap = 2;
            s.curColourMap = 1;
            s.curLightingMode = 7;
        });
        QVERIFY(f.open());
        Load load(f);
        QTRY_VERIFY_WITH_TIMEOUT(load.done(), 20000);
        QCOMPARE(load.result.load(), DeviceResult::Ok);
        QCOMPARE(load.finished.count(), 1);
        QCOMPARE(load.failed.count(), 0);

        const sim::FirmwareState s = f.kb->state();
        const Device& d = *f.device;
        QCOMPARE(d.m_devInfo.word0, s.infoWord0);
        QCOMPARE(d.m_devInfo.word1, s.infoWord1);
        QCOMPARE(bytes(d.m_devInfo.date, 16), s.date.leftJustified(16, '\0'));
        QCOMPARE(bytes(d.m_devInfo.boardName, 16), s.boardName);
        QCOMPARE(d.m_fw_version, s.fwVersion);
        QCOMPARE(d.m_hw_version, s.hwVersion);
        QByteArray version = s.versionBytes;
        for (char& c : version)
            c = char(c + '0');
        QCOMPARE(bytes(d.m_versionText, 16), version);
        QCOMPARE(d.m_scanSpeed, s.scanSpeed);
        QCOMPARE(bytes(d.m_userInfo, 48), s.userInfo);
        QCOMPARE(bytes(d.m_deviceId, 12), s.deviceId);
        QCOMPARE(d.m_nKey, s.nKey);

        QCOMPARE(d.m_curkcm, s.curKeyMap);
        QCOMPARE(bytes(d.m_pKCs), s.keyMaps.at(s.curKeyMap));
        QCOMPARE(d.m_curkrm, s.curColourMap);
        QCOMPARE(bytes(d.m_pKRs), s.colourMaps.at(s.curColourMap));
        QCOMPARE(d.m_curlm, s.curLightingMode);
        QCOMPARE(bytes(d.m_pLMMs), s.lightingModes.at(s.curLightingMode));
        QCOMPARE(d.m_pKFs.size(), size_t(32));
        QCOMPARE(bytes(d.m_pKFs), joined(s.keyFunctions));
        QCOMPARE(d.m_pKMs.size(), size_t(32));
        QCOMPARE(bytes(d.m_pKMs), joined(s.macroHeads));
        QCOMPARE(d.m_pLAs.size(), size_t(32));
        QCOMPARE(bytes(d.m_pLAs), joined(s.lightingActions));

        QCOMPARE(bytes(d.m_btName, 12), s.btName);
        QCOMPARE(d.m_sleepTime, s.sleepTime);
    }

    void keyboardWithoutOptionalFunctionsStillLoads_data()
    {
        QTest::addColumn<int>("model");
        QTest::newRow("no colour, no lighting") << int(sim::Model::NoLighting);
        QTest::newRow("no bluetooth") << int(sim::Model::Wired);
    }
    void keyboardWithoutOptionalFunctionsStillLoads()
    {
        QFETCH(int, model);
        sim::KeyboardSpec spec;
        spec.model = sim::Model(model);
        KeyboardFixture f(spec);
        QVERIFY(f.open());
        Load load(f);
        QTRY_VERIFY_WITH_TIMEOUT(load.done(), 30000);
        QCOMPARE(load.result.load(), DeviceResult::Ok);
        QCOMPARE(load.finished.count(), 1);
        QCOMPARE(load.failed.count(), 0);

        const sim::FirmwareState s = f.kb->state();
        QCOMPARE(bytes(f.device->m_pKCs), s.keyMaps.at(s.curKeyMap));
        QCOMPARE(bytes(f.device->m_pKMs), joined(s.macroHeads));
        const bool bluetooth = spec.model != sim::Model::Wired;
        QCOMPARE(bytes(f.device->m_btName, 12), bluetooth ? s.btName : QByteArray(12, '\0'));
        QCOMPARE(f.device->m_sleepTime, bluetooth ? s.sleepTime : 0u);
    }

    void infoIsAskedForUntilTheKeyboardAnswers()
    {
        KeyboardFixture f;
        f.kb->silence(0x10, 0x10, 2);
        QVERIFY(f.open());
        Load load(f);
        QTRY_VERIFY_WITH_TIMEOUT(firstWrite(f.kb->log(), 0x10, 0x40) >= 0, 8000);
        f.device->requestStop(); // the rest of the load is not the point here

        const QList<sim::LogEntry> log = f.kb->log();
        const int step2 = firstWrite(log, 0x10, 0x40);
        int attempts = 0;
        for (int i = 0; i < step2; ++i)
            attempts += isCommand(log[i], 0x10, 0x10);
        QCOMPARE(attempts, 3);
        // Two silent attempts of 500 ms + 1 s pause each, then the answered one and its pause.
        const qint64 took = log[step2].msSincePlug - log[firstWrite(log, 0x10, 0x10)].msSincePlug;
        QVERIFY2(took >= 3800 && took < 5000, QByteArray::number(took));
        QTRY_VERIFY(load.done());
    }

    // Each row that silences a command waits out one 2 s time-out.
    void failingStepEndsTheLoadWithTheErrorSignal_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("writeFails");
        QTest::newRow("version silent") << 0x10 << 0x11 << false;
        QTest::newRow("macro count silent") << 0x50 << 0x00 << false;
        QTest::newRow("device id not written") << 0x10 << 0x40 << true;
    }
    void failingStepEndsTheLoadWithTheErrorSignal()
    {
        QFETCH(int, group);
        QFETCH(int, command);
        QFETCH(bool, writeFails);
        KeyboardFixture f;
        if (!writeFails)
            f.kb->silence(uint8_t(group), uint8_t(command));
        QVERIFY(f.open());
        if (writeFails)
            f.kb->failWrite(2); // the first request of the second step
        Load load(f);
        QTRY_VERIFY_WITH_TIMEOUT(load.done(), 10000);
        QCOMPARE(load.result.load(), DeviceResult::Stopped);
        QCOMPARE(load.failed.count(), 1);
        QCOMPARE(load.finished.count(), 0);
        // Nothing is asked after the failing request.
        const QList<sim::LogEntry> log = f.kb->log();
        const int failing = firstWrite(log, uint8_t(group), uint8_t(command));
        QVERIFY(failing >= 0 || writeFails);
        if (failing >= 0)
            QCOMPARE(writesIn(log.mid(failing)), 1);
        else
            QCOMPARE(writesIn(log), 1); // the failed write never reached the keyboard
    }

    void stopEndsTheLoadWithoutEitherSignal_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("delayMs");
        // Past the 500 ms wait of the first silent attempt: in the pause between attempts.
        QTest::newRow("pause between info attempts") << 0x10 << 0x10 << 700;
        QTest::newRow("waiting for a key code page") << 0x20 << 0x10 << 100;
    }
    void stopEndsTheLoadWithoutEitherSignal()
    {
        QFETCH(int, group);
        QFETCH(int, command);
        QFETCH(int, delayMs);
        KeyboardFixture f;
        f.kb->silence(uint8_t(group), uint8_t(command));
        QVERIFY(f.open());
        Load load(f);
        QTRY_VERIFY_WITH_TIMEOUT(firstWrite(f.kb->log(), uint8_t(group), uint8_t(command)) >= 0, 5000);
        QTest::qWait(delayMs);
        const int writesAtStop = f.kb->writes();
        QElapsedTimer clock;
        clock.start();
        f.device->requestStop();
        QTRY_VERIFY_WITH_TIMEOUT(load.done(), 2000);
        QVERIFY2(clock.elapsed() < 300, QByteArray::number(clock.elapsed()));
        QCOMPARE(load.result.load(), DeviceResult::Stopped);
        QCOMPARE(load.finished.count(), 0);
        QCOMPARE(load.failed.count(), 0);
        QCOMPARE(f.kb->writes(), writesAtStop);
    }
};

QTEST_GUILESS_MAIN(Loading)
#include "test_loading.moc"
