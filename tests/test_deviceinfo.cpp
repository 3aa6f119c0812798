// Device information and settings against the emulated keyboard: what is sent, stored and signalled.
#include "keyboardfixture.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <cstring>

namespace {
QByteArray bytes(const void* p, int n)
{
    return QByteArray(static_cast<const char*>(p), n);
}

// The last report written with this group and command.
QByteArray lastSent(const sim::KeyboardPtr& kb, uint8_t group, uint8_t command)
{
    const QList<sim::LogEntry> log = kb->log();
    for (int i = log.size() - 1; i >= 0; --i) {
        const QByteArray& r = log[i].report;
        if (log[i].direction == sim::LogEntry::ToDevice && uint8_t(r[0]) == group && uint8_t(r[1]) == command)
            return r;
    }
    return {};
}

// Every field the information and settings operations store.
QByteArray infoFields(const Device& d)
{
    return bytes(&d.m_devInfo, sizeof d.m_devInfo) + bytes(&d.m_fw_version, 2) + bytes(&d.m_hw_version, 2)
        + bytes(d.m_versionText, 16) + bytes(&d.m_scanSpeed, 2) + bytes(d.m_userInfo, 48)
        + bytes(d.m_deviceId, 12) + bytes(&d.m_nKey, 1) + bytes(d.m_btName, 12) + bytes(&d.m_sleepTime, 4)
        + bytes(&d.m_lastSleepTime, 4);
}

void fillInfoFields(Device& d, uint8_t value)
{
    std::memset(static_cast<void*>(&d.m_devInfo), value, sizeof d.m_devInfo);
    d.m_fw_version = d.m_hw_version = d.m_scanSpeed = uint16_t(value * 0x101);
    std::memset(d.m_versionText, value, sizeof d.m_versionText);
    std::memset(d.m_userInfo, value, sizeof d.m_userInfo);
    std::memset(d.m_deviceId, value, sizeof d.m_deviceId);
    d.m_nKey = value;
    std::memset(d.m_btName, value, sizeof d.m_btName);
    d.m_sleepTime = d.m_lastSleepTime = value * 0x01010101u;
}
}

class DeviceInfo : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void versionTextIsEachByteAsADigit_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("text");
        QTest::newRow("all zero") << QByteArray(16, '\0') << QString(16, '0');
        QTest::newRow("digits") << QByteArray::fromHex("02000400010009000000000000000007")
                                << QString("2040109000000007");
    }
    void versionTextIsEachByteAsADigit()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, text);
        KeyboardFixture f;
        QVERIFY(f.open());
        f.kb->edit([&](sim::FirmwareState& s) { s.versionBytes = reply; });
        QCOMPARE(f.device->getDeviceVersion(), DeviceResult::Ok);
        QCOMPARE(f.device->versionText(), text);
    }

    void boardNameEndsAtItsFirstZeroByte()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        f.kb->edit([](sim::FirmwareState& s) { s.boardName = QByteArray("TK\0junk-after-0", 16); });
        QCOMPARE(f.device->getDevInfo(), DeviceResult::Ok);
        QCOMPARE(f.device->boardName(), QString("TK"));
    }

    // Each row waits out one time-out.
    void getThatTimesOutStoresNothing_data()
    {
        QTest::addColumn<int>("command");
        QTest::newRow("device info") << 0x10;
        QTest::newRow("version") << 0x11;
    }
    void getThatTimesOutStoresNothing()
    {
        QFETCH(int, command);
        KeyboardFixture f;
        QVERIFY(f.open());
        Device& d = *f.device;
        const auto get = [&d, command] { return command == 0x10 ? d.getDevInfo() : d.getDeviceVersion(); };
        // A reply of the same kind came before: nothing of it may be taken again.
        QCOMPARE(get(), DeviceResult::Ok);
        fillInfoFields(d, 0x5A);
        const QByteArray before = infoFields(d);
        f.kb->silence(0x10, uint8_t(command));
        QCOMPARE(get(), DeviceResult::Timeout);
        QCOMPARE(infoFields(*f.device), before);
    }

    void textSettingsAreSentAsZeroPaddedUtf8CutToTheField_data()
    {
        QTest::addColumn<bool>("btName");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("field");
        const QString sixtyBytes = QString(30, QChar(0x00E4)); // 'ä' is two UTF-8 bytes
        QTest::newRow("user info, 60 bytes") << false << sixtyBytes << sixtyBytes.toUtf8().left(48);
        QTest::newRow("user info, short") << false << "abc" << QByteArray("abc").leftJustified(48, '\0');
        QTest::newRow("bt name, empty") << true << "" << QByteArray(12, '\0');
        QTest::newRow("bt name, long") << true << "Keyboard-12345" << QByteArray("Keyboard-123");
        QTest::newRow("bt name, multibyte") << true << sixtyBytes << sixtyBytes.toUtf8().left(12);
    }
    void textSettingsAreSentAsZeroPaddedUtf8CutToTheField()
    {
        QFETCH(bool, btName);
        QFETCH(QString, text);
        QFETCH(QByteArray, field);
        KeyboardFixture f;
        QVERIFY(f.open());
        const uint8_t command = btName ? 0x11 : 0x31;
        const uint8_t group = btName ? 0xB0 : 0x10;
        QCOMPARE(btName ? f.device->setBtName(text) : f.device->setUserInfo(text), DeviceResult::Ok);

        const QByteArray sent = lastSent(f.kb, group, command);
        QCOMPARE(sent.size(), 64);
        QCOMPARE(uint8_t(sent[2]) | (uint8_t(sent[3]) << 8), field.size());
        QCOMPARE(sent.mid(8, field.size()), field);
        QCOMPARE(sent.mid(8 + field.size()), QByteArray(56 - field.size(), '\0'));
        QCOMPARE(btName ? bytes(f.device->m_btName, 12) : bytes(f.device->m_userInfo, 48), field);
        QCOMPARE(btName ? f.kb->state().btName : f.kb->state().userInfo, field);
    }

    void setStoresTheValueOnlyWhenTheKeyboardAccepts_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<uint32_t>("status");
        for (uint32_t status : {0u, 5u}) {
            const QByteArray s = status ? " rejected" : " accepted";
            QTest::newRow("scan speed" + s) << 0x21 << status;
            QTest::newRow("user info" + s) << 0x31 << status;
            QTest::newRow("nkey" + s) << 0x51 << status;
        }
    }
    void setStoresTheValueOnlyWhenTheKeyboardAccepts()
    {
        QFETCH(int, command);
        QFETCH(uint32_t, status);
        KeyboardFixture f;
        QVERIFY(f.open());
        Device& d = *f.device;
        d.m_scanSpeed = 3;
        d.m_nKey = 0;
        std::memcpy(d.m_userInfo, "old", 4);
        if (status)
            f.kb->answerStatus(0x10, uint8_t(command), status);
        uint32_t result = 0;
        switch (command) {
        case 0x21: result = d.setScanSpeed(9); break;
        case 0x31: result = d.setUserInfo("new"); break;
        default: result = d.setNKey(1); break;
        }
        QCOMPARE(result, status);
        const bool stored = status == 0;
        QCOMPARE(d.m_scanSpeed, uint16_t(stored && command == 0x21 ? 9 : 3));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(d.m_userInfo)),
                 QByteArray(stored && command == 0x31 ? "new" : "old"));
        QCOMPARE(d.m_nKey, uint8_t(stored && command == 0x51 ? 1 : 0));
    }

    void btNameRefusedByTheKeyboardIsSignalledAndStillStored()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        QSignalSpy state(f.device, &Device::emitState);
        f.kb->answerStatus(0xB0, 0x11, 2);
        QCOMPARE(f.device->setBtName("Mine"), uint32_t(2));
        QCOMPARE(state.count(), 1);
        QCOMPARE(state.at(0).at(0).toInt(), 1);
        QCOMPARE(state.at(0).at(1).toInt(), 2);
        QCOMPARE(bytes(f.device->m_btName, 12), QByteArray("Mine").leftJustified(12, '\0'));
    }

    void btNameWithoutAnswerIsNeitherSignalledNorStored()
    {
        sim::KeyboardSpec spec;
        spec.model = sim::Model::Wired;
        KeyboardFixture f(spec);
        QVERIFY(f.open());
        QSignalSpy state(f.device, &Device::emitState);
        QCOMPARE(f.device->setBtName("Mine"), DeviceResult::Timeout);
        QCOMPARE(state.count(), 0);
        QCOMPARE(bytes(f.device->m_btName, 12), QByteArray(12, '\0'));
    }

    void sleepTimeIsSignalledAndStoredWithTheLastNonZeroValue_data()
    {
        QTest::addColumn<uint32_t>("ms");
        QTest::addColumn<uint32_t>("status");
        QTest::addColumn<uint32_t>("last");
        QTest::newRow("ten minutes") << 600000u << 0u << 600000u;
        QTest::newRow("off keeps the last value") << 0u << 0u << 120000u;
        QTest::newRow("refused, stored anyway") << 300000u << 3u << 300000u;
    }
    void sleepTimeIsSignalledAndStoredWithTheLastNonZeroValue()
    {
        QFETCH(uint32_t, ms);
        QFETCH(uint32_t, status);
        QFETCH(uint32_t, last);
        KeyboardFixture f;
        QVERIFY(f.open());
        f.device->m_lastSleepTime = 120000;
        QSignalSpy state(f.device, &Device::emitState);
        if (status)
            f.kb->answerStatus(0xB0, 0x21, status);
        QCOMPARE(f.device->setSleepTime(ms), status);
        QCOMPARE(state.count(), 1);
        QCOMPARE(state.at(0).at(0).toInt(), 1);
        QCOMPARE(uint32_t(state.at(0).at(1).toInt()), status);
        QCOMPARE(f.device->m_sleepTime, ms);
        QCOMPARE(f.device->m_lastSleepTime, last);
        QCOMPARE(lastSent(f.kb, 0xB0, 0x21).mid(8, 4), bytes(&ms, 4));
    }

    // Waits out the bounded wait of a set once.
    void sleepTimeWithoutAnswerEndsBoundedIsSignalledAndStoresNothing()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        f.device->m_sleepTime = 60000;
        f.device->m_lastSleepTime = 60000;
        QSignalSpy state(f.device, &Device::emitState);
        f.kb->silence(0xB0, 0x21);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(f.device->setSleepTime(180000), DeviceResult::Timeout);
        QVERIFY(clock.elapsed() >= DeviceTimeout::Bounded - 50);
        QVERIFY(clock.elapsed() < DeviceTimeout::Bounded + 1000);
        QCOMPARE(state.count(), 1);
        QCOMPARE(uint32_t(state.at(0).at(1).toInt()), DeviceResult::Timeout);
        QCOMPARE(f.device->m_sleepTime, 60000u);
        QCOMPARE(f.device->m_lastSleepTime, 60000u);
    }

    void enterDfuNeitherTakesTheLockNorWaits()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        // Another thread holds the request lock for a while; enterDfu must not queue behind it.
        QThread* holder = QThread::create([&f] {
            QMutexLocker lock(&f.lock.mutex);
            QThread::msleep(600);
        });
        holder->start();
        QThread::msleep(50);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(f.device->enterDfu(), DeviceResult::Ok);
        QVERIFY(clock.elapsed() < 300);
        holder->wait();
        delete holder;
        const QByteArray sent = lastSent(f.kb, 0x10, 0x00);
        QCOMPARE(sent, QByteArray(1, char(0x10)) + QByteArray(63, '\0'));
    }
};

QTEST_GUILESS_MAIN(DeviceInfo)
#include "test_deviceinfo.moc"
