// The direct command layer against the emulated keyboard, with no read loop competing for replies.
#include "device/cmd.h"
#include "keyboardfixture.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <cstring>

namespace {
QByteArray bytes(const void* p, int n)
{
    return QByteArray(static_cast<const char*>(p), n);
}

QByteArray lastSent(const sim::KeyboardPtr& kb)
{
    const QList<sim::LogEntry> log = kb->log();
    for (int i = log.size() - 1; i >= 0; --i)
        if (log[i].direction == sim::LogEntry::ToDevice)
            return log[i].report;
    return {};
}
}

class CmdExchange : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void getsReturnTheKeyboardsValues()
    {
        KeyboardFixture f;
        QVERIFY(f.usb->openPath(f.kb->commandPath()));
        Cmd cmd(f.usb);
        const sim::FirmwareState s = f.kb->state();

        uint32_t w0 = 0, w1 = 0, date[4] = {}, name[4] = {};
        QCOMPARE(cmd.getDevInfo(&w0, &w1, date, name), DeviceResult::Ok);
        QCOMPARE(w0, s.infoWord0);
        QCOMPARE(w1, s.infoWord1);
        QCOMPARE(bytes(date, 16), s.date.leftJustified(16, '\0'));
        QCOMPARE(bytes(name, 16), s.boardName);

        uint16_t fw = 0, hw = 0;
        uint8_t text[16] = {};
        QCOMPARE(cmd.getDeviceVersion(&fw, &hw, text), DeviceResult::Ok);
        QCOMPARE(fw, s.fwVersion);
        QCOMPARE(hw, s.hwVersion);
        for (int i = 0; i < 16; ++i)
            QCOMPARE(text[i], uint8_t(s.versionBytes[i] + '0'));

        uint8_t maps = 0, keys = 0;
        QCOMPARE(cmd.getKCInfo(&maps, &keys), DeviceResult::Ok);
        QCOMPARE(maps, f.kb->spec().keyMaps);
        QCOMPARE(keys, f.kb->spec().keys);
    }

    void colourInfoOfAnotherGroupReadsAsNoColourMaps()
    {
        KeyboardFixture f;
        QVERIFY(f.usb->openPath(f.kb->commandPath()));
        f.kb->patchReply(0x30, 0x00, 0, QByteArray(1, char(0x31)));
        Cmd cmd(f.usb);
        uint8_t maps = 0xFF, keys = 0xFF;
        QCOMPARE(cmd.getKRInfo(&maps, &keys), DeviceResult::Ok);
        QCOMPARE(maps, uint8_t(0));
        QCOMPARE(keys, uint8_t(0));
    }

    void setScanSpeedReturnsWithoutReadingTheReply()
    {
        KeyboardFixture f;
        QVERIFY(f.usb->openPath(f.kb->commandPath()));
        Cmd cmd(f.usb);
        QCOMPARE(cmd.setScanSpeed(7), DeviceResult::Ok);
        QCOMPARE(lastSent(f.kb).mid(0, 10), QByteArray::fromHex("10210200000000000700"));
        // The keyboard's reply is still there for the next read.
        QCOMPARE(cmd.recv(), DeviceResult::Ok);
        QCOMPARE(cmd.buffer()[0], uint8_t(0x10));
        QCOMPARE(cmd.buffer()[1], uint8_t(0x21));
    }

    void enterDfuDoesNotWaitForAReply()
    {
        KeyboardFixture f;
        QVERIFY(f.usb->openPath(f.kb->commandPath()));
        Cmd cmd(f.usb);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(cmd.enterDfu(), DeviceResult::Ok);
        QVERIFY(clock.elapsed() < 500);
        QCOMPARE(lastSent(f.kb).left(2), QByteArray::fromHex("1000"));
    }

    void unansweredCommandTimesOut()
    {
        KeyboardFixture f;
        QVERIFY(f.usb->openPath(f.kb->commandPath()));
        Cmd cmd(f.usb);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(cmd.cmd0000(), DeviceResult::Timeout); // group 0 has no answer
        QVERIFY(clock.elapsed() >= Cmd::ReplyTimeoutMs - 50);
        QVERIFY(clock.elapsed() < Cmd::ReplyTimeoutMs + 1000);
    }

    void failedWriteAndFailedReadAreReported()
    {
        KeyboardFixture f;
        QVERIFY(f.usb->openPath(f.kb->commandPath()));
        Cmd cmd(f.usb);
        f.kb->failWrite(1);
        uint8_t nKey = 0x77;
        QCOMPARE(cmd.getNKey(&nKey), DeviceResult::WriteFailed);
        QCOMPARE(nKey, uint8_t(0x77));

        // The keyboard leaves while the read waits.
        f.kb->silence(0x10, 0x50);
        QThread* unplug = QThread::create([&f] {
            QThread::msleep(200);
            sim::unplug(f.kb);
        });
        unplug->start();
        QCOMPARE(cmd.getNKey(&nKey), DeviceResult::Stopped);
        unplug->wait();
        delete unplug;
        QCOMPARE(nKey, uint8_t(0x77));
    }

    void keyPageTakesOnlyTheRangeTheReplyNames_data()
    {
        QTest::addColumn<int>("replyFirst");
        QTest::addColumn<int>("replyLast");
        QTest::addColumn<int>("copied");
        QTest::newRow("as asked") << 13 << 25 << 13;
        QTest::newRow("shorter") << 13 << 16 << 4;
        QTest::newRow("longer than asked") << 0 << 40 << 13;
        QTest::newRow("reversed") << 20 << 13 << 0;
    }
    void keyPageTakesOnlyTheRangeTheReplyNames()
    {
        QFETCH(int, replyFirst);
        QFETCH(int, replyLast);
        QFETCH(int, copied);
        KeyboardFixture f;
        QVERIFY(f.usb->openPath(f.kb->commandPath()));
        QByteArray range(2, '\0');
        range[0] = char(replyFirst);
        range[1] = char(replyLast);
        f.kb->patchReply(0x20, 0x10, 9, range);
        Cmd cmd(f.usb);
        // One spare entry past the asked range must never be written.
        uint8_t dest[14 * 4];
        std::memset(dest, 0xEE, sizeof dest);
        QCOMPARE(cmd.getKC(1, 13, 25, dest), DeviceResult::Ok);
        const sim::FirmwareState s = f.kb->state();
        QCOMPARE(bytes(dest, copied * 4), s.keyMaps[1].mid(13 * 4, copied * 4));
        QCOMPARE(bytes(dest + copied * 4, (14 - copied) * 4), QByteArray((14 - copied) * 4, char(0xEE)));
    }

    void keyRangeBeyondOneReportIsRefusedUnsent()
    {
        KeyboardFixture f;
        QVERIFY(f.usb->openPath(f.kb->commandPath()));
        Cmd cmd(f.usb);
        uint8_t entries[14 * 4] = {};
        QCOMPARE(cmd.getKC(0, 0, 13, entries), DeviceResult::BadIndex);
        QCOMPARE(cmd.setKR(0, 0, 13, entries), DeviceResult::BadIndex);
        QCOMPARE(cmd.setKC(0, 5, 4, entries), DeviceResult::BadIndex);
        QCOMPARE(f.kb->writes(), 0);
    }

    void setKeyCodesSendsMapRangeAndEntriesAndReturnsTheStatus()
    {
        KeyboardFixture f;
        QVERIFY(f.usb->openPath(f.kb->commandPath()));
        Cmd cmd(f.usb);
        const uint8_t entries[8] = {1, 2, 3, 0, 4, 5, 6, 0};
        QCOMPARE(cmd.setKC(2, 10, 11, entries), DeviceResult::Ok);
        QCOMPARE(lastSent(f.kb).left(20), QByteArray::fromHex("20110c0000000000020a0b000102030004050600"));
        QCOMPARE(f.kb->state().keyMaps[2].mid(40, 8), bytes(entries, 8));

        f.kb->answerStatus(0x30, 0x11, 9);
        QCOMPARE(cmd.setKR(0, 0, 1, entries), uint32_t(9));
    }
};

QTEST_GUILESS_MAIN(CmdExchange)
#include "test_cmd.moc"
