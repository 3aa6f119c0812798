// Device information and settings against the emulated keyboard: what is sent, stored and signalled.
#include "wire.h"
#include "keyboardfixture.h"

#include <QMutexLocker>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <cstring>

namespace {
enum Setting { ScanSpeed, UserInfo, NKey, BtName, SleepTime, LastSleepTime };


QByteArray padded(const QByteArray& text, int size)
{
    return text.leftJustified(size, '\0', true);
}

// Every field the information and settings operations store, the settings first.
QList<QPair<void*, int>> fieldsOf(Device& d)
{
    return {{&d.m_scanSpeed, 2}, {d.m_userInfo, 48}, {&d.m_nKey, 1}, {d.m_btName, 12}, {&d.m_sleepTime, 4},
            {&d.m_lastSleepTime, 4}, {&d.m_devInfo, sizeof d.m_devInfo}, {&d.m_fw_version, 2},
            {&d.m_hw_version, 2}, {d.m_versionText, 16}, {d.m_deviceId, 12}};
}

QList<QByteArray> infoFields(Device& d)
{
    QList<QByteArray> all;
    for (const auto& [field, size] : fieldsOf(d))
        all << bytes(field, size);
    return all;
}

// Fills every field with a byte that no reply of the emulated keyboard holds throughout.
void fillInfoFields(Device& d)
{
    for (const auto& [field, size] : fieldsOf(d))
        std::memset(field, 0x5A, size_t(size));
}
}

class DeviceInfo : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    // Version digits come as values; the board name is zero padded. The time-outs take 0.5 s and 2 s.
    void getStoresItsReplyAndNothingWhenNoneCame()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        Device& d = *f.device;
        f.kb->edit([](sim::FirmwareState& s) {
            s.versionBytes = QByteArray(16, '\0');
            s.boardName = QByteArray("TK\0junk-after-0", 16);
        });
        QCOMPARE(d.getDevInfo(), DeviceResult::Ok);
        QCOMPARE(d.getDeviceVersion(), DeviceResult::Ok);
        QCOMPARE(d.versionText(), QString(16, '0'));
        QCOMPARE(d.boardName(), QString("TK"));
        // Replies of the same kind came before: nothing of them may be taken again.
        fillInfoFields(d);
        const QList<QByteArray> before = infoFields(d);
        f.kb->silence(0x10, 0x10);
        f.kb->silence(0x10, 0x11);
        QCOMPARE(d.getDevInfo(), DeviceResult::Timeout);
        QCOMPARE(d.getDeviceVersion(), DeviceResult::Timeout);
        QCOMPARE(infoFields(d), before);
    }

    // The field is what is sent (UTF-8 cut and zero padded for texts) and, when stored, what is kept.
    // The unanswered rows wait out a 2 s and a 5 s time-out.
    void settingIsSentThenStoredAndSignalledAsTheKeyboardAnswers_data()
    {
        QTest::addColumn<int>("setting");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<uint32_t>("status");
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("signalled");
        const auto row = [](const char* name, Setting setting, const QVariant& value, uint32_t status,
                            const QByteArray& field, bool stored, bool signalled) {
            QTest::newRow(name) << int(setting) << value << status << field << stored << signalled;
        };
        const auto hex = [](const char* wire) { return QByteArray::fromHex(wire); };
        const QString sixtyBytes(30, QChar(0x00E4)); // 'ä' is two UTF-8 bytes
        row("user info of 60 bytes", UserInfo, sixtyBytes, 0, sixtyBytes.toUtf8().left(48), true, false);
        row("scan speed", ScanSpeed, 9u, 0, hex("0900"), true, false);
        row("scan speed refused", ScanSpeed, 9u, 5, hex("0900"), false, false);
        row("nkey", NKey, 1u, 0, hex("01"), true, false);
        row("nkey refused", NKey, 1u, 5, hex("01"), false, false);
        row("bt name empty", BtName, "", 0, QByteArray(12, '\0'), true, true);
        row("bt name refused, kept", BtName, "Mine", 2, padded("Mine", 12), true, true);
        row("bt name unanswered", BtName, "Mine", DeviceResult::Timeout, padded("Mine", 12), false, false);
        row("sleep time", SleepTime, 600000u, 0, hex("c0270900"), true, true);
        row("sleep time off", SleepTime, 0u, 0, hex("00000000"), true, true);
        row("sleep time refused, kept", SleepTime, 300000u, 3, hex("e0930400"), true, true);
        row("sleep time unanswered", SleepTime, 180000u, DeviceResult::Timeout, hex("20bf0200"), false, true);
    }
    void settingIsSentThenStoredAndSignalledAsTheKeyboardAnswers()
    {
        QFETCH(int, setting);
        QFETCH(QVariant, value);
        QFETCH(uint32_t, status);
        QFETCH(QByteArray, field);
        QFETCH(bool, stored);
        QFETCH(bool, signalled);
        KeyboardFixture f;
        QVERIFY(f.open());
        Device& d = *f.device;
        const uint8_t group = setting < BtName ? 0x10 : 0xB0;
        const uint8_t command = QList<uint8_t>{0x21, 0x31, 0x51, 0x11, 0x21}.at(setting);
        if (status == DeviceResult::Timeout)
            f.kb->silence(group, command);
        else if (status)
            f.kb->answerStatus(group, command, status);
        fillInfoFields(d);
        QList<QByteArray> expected = infoFields(d);
        QSignalSpy state(&d, &Device::emitState);
        uint32_t result = 0;
        switch (setting) {
        case ScanSpeed: result = d.setScanSpeed(uint16_t(value.toUInt())); break;
        case UserInfo: result = d.setUserInfo(value.toString()); break;
        case NKey: result = d.setNKey(uint8_t(value.toUInt())); break;
        case BtName: result = d.setBtName(value.toString()); break;
        default: result = d.setSleepTime(value.toUInt()); break;
        }
        QCOMPARE(result, status);

        const QByteArray sent = f.kb->log().first().report; // the only request written
        QCOMPARE(uint8_t(sent[2]), uint8_t(field.size()));
        QCOMPARE(sent.mid(8), padded(field, 56));
        if (stored)
            expected[setting] = field;
        // Switching sleeping off keeps the last real value for switching it on again.
        if (stored && setting == SleepTime && value.toUInt())
            expected[LastSleepTime] = field;
        QCOMPARE(infoFields(d), expected);
        QCOMPARE(state.count(), int(signalled));
        if (signalled)
            QCOMPARE(state.at(0), QVariantList({1, int(status)}));
    }

    void enterDfuNeitherTakesTheLockNorWaits()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        // Another thread holds the request lock meanwhile; enterDfu must not queue behind it.
        QThread* holder = QThread::create([&f] {
            QMutexLocker lock(&f.lock.mutex);
            QThread::msleep(600);
        });
        holder->start();
        QThread::msleep(50);
        QCOMPARE(f.device->enterDfu(), DeviceResult::Ok);
        QVERIFY(holder->isRunning());
        holder->wait();
        delete holder;
        QCOMPARE(f.kb->log().first().report, QByteArray(1, char(0x10)) + QByteArray(63, '\0'));
    }
};

QTEST_GUILESS_MAIN(DeviceInfo)
#include "test_deviceinfo.moc"
