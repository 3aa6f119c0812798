// The direct command layer against the emulated keyboard, with no read loop competing for replies.
#include "wire.h"
#include "device/cmd.h"
#include "keyboardfixture.h"
#include "timescale.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <atomic>
#include <cstring>
#include <memory>

class CmdExchange : public QObject {
    Q_OBJECT
    std::unique_ptr<KeyboardFixture> f;
    std::unique_ptr<Cmd> cmd;

private slots:
    void init()
    {
        f = std::make_unique<KeyboardFixture>();
        QVERIFY(f->usb->openPath(f->kb->commandPath()));
        cmd = std::make_unique<Cmd>(f->usb);
    }
    void cleanup() { cmd.reset(), f.reset(), sim::reset(); }

    // The unanswered row waits out the 2 s time-out, and only then ends.
    void failedExchangeIsReportedAndStoresNothing_data()
    {
        QTest::addColumn<uint32_t>("result");
        QTest::newRow("no answer") << DeviceResult::Timeout;
        QTest::newRow("write fails") << DeviceResult::WriteFailed;
        QTest::newRow("unplugged while waiting") << DeviceResult::Stopped;
    }
    void failedExchangeIsReportedAndStoresNothing()
    {
        QFETCH(uint32_t, result);
        result == DeviceResult::WriteFailed ? f->kb->failWrite(1) : f->kb->silence(0x10, 0x50);
        const sim::KeyboardPtr kb = f->kb;
        // Unplugged once the request has reached the keyboard: the exchange waits for the reply by then,
        // or is about to, however late this thread runs.
        std::atomic<bool> over{false};
        const std::unique_ptr<QThread> unplug(QThread::create([kb, &over] {
            while (kb->writes() == 0 && !over)
                QThread::msleep(5);
            sim::unplug(kb);
        }));
        if (result == DeviceResult::Stopped)
            unplug->start();
        // On a thread of its own, so that an exchange that never ends fails the row instead of hanging it.
        uint8_t nKey = 0x77;
        uint32_t e = 0;
        qint64 took = -1;
        const std::unique_ptr<QThread> exchange(QThread::create([&] {
            QElapsedTimer clock;
            clock.start();
            e = cmd->getNKey(&nKey);
            took = clock.elapsed();
        }));
        exchange->start();
        const bool ended = exchange->wait(timescale::ms(Cmd::ReplyTimeoutMs + 20000));
        over = true;
        if (!ended)
            sim::unplug(kb); // frees the read
        exchange->wait();
        unplug->wait();
        QVERIFY2(ended, "the exchange did not end");
        QCOMPARE(e, result);
        QCOMPARE(nKey, uint8_t(0x77));
        QCOMPARE(kb->writes(), result == DeviceResult::WriteFailed ? 0 : 1); // one request, never sent again
        if (result == DeviceResult::Timeout)
            QVERIFY2(took >= Cmd::ReplyTimeoutMs - 50, QByteArray::number(took));
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
        f->kb->patchReply(0x20, 0x10, 9, QByteArray(1, char(replyFirst)) + char(replyLast));
        // One spare entry past the asked range must never be written.
        uint8_t dest[14 * 4];
        std::memset(dest, 0xEE, sizeof dest);
        QCOMPARE(cmd->getKC(1, 13, 25, dest), DeviceResult::Ok);
        QCOMPARE(bytes(dest, copied * 4), f->kb->state().keyMaps[1].mid(13 * 4, copied * 4));
        QCOMPARE(bytes(dest + copied * 4, (14 - copied) * 4), QByteArray((14 - copied) * 4, char(0xEE)));
    }

    // Key entries go out with map and range only when they fit one report; setScanSpeed leaves its reply unread.
    void setsSendOneReportAndKeyEntriesOnlyWhenTheyFitIt()
    {
        uint8_t entries[14 * 4] = {1, 2, 3, 0, 4, 5, 6, 0};
        QCOMPARE(cmd->getKC(0, 0, 13, entries), DeviceResult::BadIndex);
        QCOMPARE(cmd->setKR(0, 0, 13, entries), DeviceResult::BadIndex);
        QCOMPARE(cmd->setKC(0, 5, 4, entries), DeviceResult::BadIndex);
        QCOMPARE(f->kb->writes(), 0);
        QCOMPARE(cmd->setKC(2, 10, 11, entries), DeviceResult::Ok);
        f->kb->answerStatus(0x30, 0x11, 9);
        QCOMPARE(cmd->setKR(0, 0, 1, entries), uint32_t(9));
        QCOMPARE(cmd->setScanSpeed(7), DeviceResult::Ok);
        QCOMPARE(sentReports(f->kb, 0x20, 0x11).value(0).left(20),
                 QByteArray::fromHex("20110c0000000000020a0b000102030004050600"));
        QCOMPARE(sentReports(f->kb, 0x10, 0x21).value(0).left(10), QByteArray::fromHex("10210200000000000700"));
        QCOMPARE(cmd->recv(), DeviceResult::Ok);
        QCOMPARE(bytes(cmd->buffer(), 2), QByteArray::fromHex("1021"));
    }
};

QTEST_GUILESS_MAIN(CmdExchange)
#include "test_cmd.moc"
