// Device information and settings against the emulated keyboard: what is sent, stored and signalled.
#include "wire.h"
#include "keyboardfixture.h"

#include <QMutexLocker>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <cstring>
#include <memory>

namespace {
enum Setting { ScanSpeed, UserInfo, NKey, BtName, SleepTime, LastSleepTime };
// A setting, the value set, the keyboard's answer (Timeout: none), the field as sent, whether it is kept and
// whether emitState comes.
struct SettingCase { Setting setting; QVariant value; uint32_t status; QByteArray field; bool stored, signalled; };

// Every field the information and settings operations store, the settings first; each filled first, when
// asked, with a byte no reply of the emulated keyboard holds throughout.
QList<QByteArray> infoFields(Device& d, bool fill = false)
{
    QList<QByteArray> all;
    for (const auto& [field, size] : QList<QPair<void*, int>>{
             {&d.m_scanSpeed, 2}, {d.m_userInfo, 48}, {&d.m_nKey, 1}, {d.m_btName, 12}, {&d.m_sleepTime, 4},
             {&d.m_lastSleepTime, 4}, {&d.m_devInfo, sizeof d.m_devInfo}, {&d.m_fw_version, 2},
             {&d.m_hw_version, 2}, {d.m_versionText, 16}, {d.m_deviceId, 12}})
        all << bytes(fill ? std::memset(field, 0x5A, size_t(size)) : field, size);
    return all;
}
}
Q_DECLARE_METATYPE(SettingCase)

class DeviceInfo : public QObject {
    Q_OBJECT
    std::unique_ptr<KeyboardFixture> f;
    Device* d = nullptr;

private slots:
    void init()
    {
        f = std::make_unique<KeyboardFixture>();
        d = f->device;
        QVERIFY(f->open());
    }
    void cleanup() { f.reset(), sim::reset(); }

    // Version digits come as values; the board name is zero padded. The time-outs take 0.5 s and 2 s.
    void getStoresItsReplyAndNothingWhenNoneCame()
    {
        f->kb->edit([](sim::FirmwareState& s) {
            s.versionBytes = QByteArray::fromHex("00010203040506070809000102030405");
            s.boardName = QByteArray("TK\0junk-after-0", 16);
        });
        QCOMPARE(d->getDevInfo(), DeviceResult::Ok);
        QCOMPARE(d->getDeviceVersion(), DeviceResult::Ok);
        QCOMPARE(d->versionText(), QString("0123456789012345"));
        QCOMPARE(d->boardName(), QString("TK"));
        // Replies of the same kind came before: nothing of them may be taken again.
        const QList<QByteArray> before = infoFields(*d, true);
        f->kb->silence(0x10, 0x10);
        f->kb->silence(0x10, 0x11);
        QCOMPARE(d->getDevInfo(), DeviceResult::Timeout);
        QCOMPARE(d->getDeviceVersion(), DeviceResult::Timeout);
        QCOMPARE(infoFields(*d), before);
    }

    // The field is what is sent (UTF-8 cut and zero padded for texts) and, when stored, what is kept.
    // The unanswered rows wait out a 2 s and a 5 s time-out.
    void settingIsSentThenStoredAndSignalledAsTheKeyboardAnswers_data()
    {
        QTest::addColumn<SettingCase>("c");
        const auto row = [](const char* name, const SettingCase& c) { QTest::newRow(name) << c; };
        const auto hex = [](const char* wire) { return QByteArray::fromHex(wire); };
        const QString sixtyBytes(30, QChar(0x00E4)); // 'ä' is two UTF-8 bytes
        const QByteArray mine = hex("4d696e650000000000000000"); // "Mine", zero padded
        row("user info of 60 bytes", {UserInfo, sixtyBytes, 0, sixtyBytes.toUtf8().left(48), true, false});
        row("scan speed", {ScanSpeed, 9u, 0, hex("0900"), true, false});
        row("scan speed refused", {ScanSpeed, 9u, 5, hex("0900"), false, false});
        row("nkey", {NKey, 1u, 0, hex("01"), true, false});
        row("nkey refused", {NKey, 1u, 5, hex("01"), false, false});
        row("bt name empty", {BtName, "", 0, QByteArray(12, '\0'), true, true});
        row("bt name refused, not kept", {BtName, "Mine", 2, mine, false, true});
        row("bt name unanswered", {BtName, "Mine", DeviceResult::Timeout, mine, false, false});
        row("sleep time", {SleepTime, 600000u, 0, hex("c0270900"), true, true});
        row("sleep time off", {SleepTime, 0u, 0, hex("00000000"), true, true});
        row("sleep time refused, not kept", {SleepTime, 300000u, 3, hex("e0930400"), false, true});
        row("sleep time unanswered", {SleepTime, 180000u, DeviceResult::Timeout, hex("20bf0200"), false, true});
    }
    void settingIsSentThenStoredAndSignalledAsTheKeyboardAnswers()
    {
        QFETCH(SettingCase, c);
        const uint8_t group = c.setting < BtName ? 0x10 : 0xB0;
        const uint8_t command = QList<uint8_t>{0x21, 0x31, 0x51, 0x11, 0x21}.at(c.setting);
        if (c.status == DeviceResult::Timeout)
            f->kb->silence(group, command);
        else if (c.status)
            f->kb->answerStatus(group, command, c.status);
        QList<QByteArray> expected = infoFields(*d, true);
        QSignalSpy state(d, &Device::emitState);
        uint32_t result = 0;
        switch (c.setting) {
        case ScanSpeed: result = d->setScanSpeed(uint16_t(c.value.toUInt())); break;
        case UserInfo: result = d->setUserInfo(c.value.toString()); break;
        case NKey: result = d->setNKey(uint8_t(c.value.toUInt())); break;
        case BtName: result = d->setBtName(c.value.toString()); break;
        default: result = d->setSleepTime(c.value.toUInt()); break;
        }
        QCOMPARE(result, c.status);

        const QByteArray sent = f->kb->log().first().report; // the only request written
        QCOMPARE(uint8_t(sent[2]), uint8_t(c.field.size()));
        QCOMPARE(sent.mid(8), c.field.leftJustified(56, '\0'));
        if (c.stored)
            expected[c.setting] = c.field;
        // Switching sleeping off keeps the last real value for switching it on again.
        if (c.stored && c.setting == SleepTime && c.value.toUInt())
            expected[LastSleepTime] = c.field;
        QCOMPARE(infoFields(*d), expected);
        QCOMPARE(QList<QVariantList>(state),
                 (c.signalled ? QList<QVariantList>{{1, int(c.status)}} : QList<QVariantList>()));
    }

    void enterDfuNeitherTakesTheLockNorWaits()
    {
        // Another thread holds the request lock meanwhile; enterDfu must not queue behind it.
        const std::unique_ptr<QThread> holder(QThread::create([this] {
            QMutexLocker lock(&f->lock.mutex);
            QThread::msleep(600);
        }));
        holder->start();
        QThread::msleep(50);
        const uint32_t result = f->device->enterDfu();
        const bool lockStillHeld = holder->isRunning();
        holder->wait();
        QCOMPARE(result, DeviceResult::Ok);
        QVERIFY(lockStillHeld);
        QCOMPARE(f->kb->log().first().report, QByteArray(1, char(0x10)) + QByteArray(63, '\0'));
    }
};

QTEST_GUILESS_MAIN(DeviceInfo)
#include "test_deviceinfo.moc"
