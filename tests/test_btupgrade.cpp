// Bluetooth module upload through the emulated keyboard: frames, sums, block order and how it ends.
#include "device/updatedfubtthread.h"
#include "keyboardfixture.h"
#include "logrecorder.h"
#include "wire.h"
#include "timescale.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>

namespace {
constexpr int ShortAck = 200; // acknowledgement deadline of the fault cases
constexpr int Skip = 4096;    // SoftDevice bytes that stay on the host
using Signals = QList<QVariantList>;

// Whether the switch to the application (0x85) went to the module only once every acknowledgement of an
// image frame had come from it, by the emulator's clock.
bool switchFollowsEveryAcknowledgement(const QList<sim::LogEntry>& log)
{
    qint64 lastAck = -1, switched = -1;
    for (const sim::LogEntry& e : log) {
        const QByteArray& r = e.report;
        if (r.size() < 13 || uint8_t(r[0]) != 0xB0)
            continue;
        const uint8_t sub = uint8_t(r[8]);
        if (e.direction == sim::LogEntry::FromDevice && sub >= 0x81 && sub <= 0x84)
            lastAck = qMax(lastAck, e.msSincePlug);
        else if (e.direction == sim::LogEntry::ToDevice && sub == 0x85 && switched < 0)
            switched = e.msSincePlug;
    }
    return switched >= 0 && lastAck <= switched;
}

// The main window's Bluetooth road: 0x08 through the request core, then the transport's reading
// paused and the thread started on the image, then the erase frame from this thread.
struct Upgrade {
    KeyboardFixture f;
    updateDFUBtThread thread; // destroyed first: it reads the fixture's transport
    QSignalSpy errors{&thread, &updateDFUBtThread::UpdateError};
    QSignalSpy stopped{&thread, &updateDFUBtThread::emitStopDfu};
    QSignalSpy finished{&thread, &updateDFUBtThread::emitUpdateDfuFinished};
    QByteArray image;

    bool begin()
    {
        if (!f.open() || f.device->appBoot() != DeviceResult::Ok)
            return false;
        f.usb->setReadingEnabled(false);
        thread.setUsb(f.usb);
        return true;
    }
    // Sets an image of size patterned bytes, starts the thread unless it runs already, and sends the
    // image's erase frame.
    void send(int size, bool softDevice)
    {
        image.resize(size);
        for (int i = 0; i < size; ++i)
            image[i] = char((i * 13 + i / 256) & 0xFF);
        thread.setImage(reinterpret_cast<const uint8_t*>(image.constData()), uint32_t(image.size()));
        thread.setRunning(true);
        thread.start(QThread::HighestPriority);
        softDevice ? void(thread.bt_erase_sd_com()) : void(thread.bt_erase_app_com());
    }
    int frames(uint8_t sub) const
    {
        const QList<QByteArray> sent = sentReports(f.kb, 0xB0, 0xDF);
        return int(std::count_if(sent.begin(), sent.end(), [sub](const QByteArray& r) { return r[8] == char(sub); }));
    }
};
}

class BluetoothModuleUpgrade : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void imageArrivesInSummedBlocks_data()
    {
        QTest::addColumn<bool>("softDevice");
        QTest::addColumn<int>("size");
        // 1, 2: before block 2's acknowledgement a notification, an echo with byte 1 not 0xDF; 3: an application first;
        // 4: block 2's acknowledgement doubled; 5: every report 100 ms (the slowest working pace) and half the bound;
        // 6: the erase's acknowledgement again, while block 1 is in flight; 7: block 2's acknowledgement
        // again once block 3 went out, every acknowledgement 400 ms late; 8: every block's acknowledgement
        // doubled: the ignored reports are counted, not each logged
        QTest::addColumn<int>("before");
        for (int size : {48, 96, 100})
            QTest::addRow("application %d", size) << false << size << 0;
        for (int size : {4096, 4097, 4145})
            QTest::addRow("SoftDevice %d", size) << true << size << 0;
        QTest::addRow("notification between frames") << false << 200 << 1;
        QTest::addRow("acknowledgement with byte 1 not 0xDF") << false << 200 << 2;
        QTest::addRow("SoftDevice after an application: blocks from 1 again") << true << 4145 << 3;
        QTest::addRow("doubled acknowledgement ignored: the image ends on the last block's own") << false << 300 << 4;
        QTest::addRow("slowest working pace, far inside the bound") << false << 960 << 5;
        QTest::addRow("erase acknowledged again during block 1: ignored") << false << 300 << 6;
        QTest::addRow("acknowledgement doubled after the next frame: the image ends after the last block's own")
            << false << 300 << 7;
        QTest::addRow("every acknowledgement doubled") << false << 960 << 8;
    }
    void imageArrivesInSummedBlocks()
    {
        QFETCH(bool, softDevice);
        QFETCH(int, size);
        QFETCH(int, before);
        Upgrade u;
        QVERIFY(u.begin());
        // Each image with two blocks or more ends once its last block's wait is over: a short one.
        u.thread.setAckTimeouts(timescale::ms(1500), UpgradeTimeout::EraseAck);
        if (before == 1)
            u.f.kb->injectBeforeBtAck(0x83, 2, report(0xF0, 0x21));
        else if (before == 2)
            u.f.kb->wrongEcho(0xB0, 0xDF, 2);
        else if (before == 4)
            u.f.kb->doubleBtAck(0x83, 2);
        else if (before == 7) {
            u.f.kb->doubleBtAckLate(0x83, 2);
            u.f.kb->setBtAckDelay(400);
        } else if (before == 6) {
            QByteArray eraseAck = report(0xB0, 0xDF, 0x81);
            eraseAck[9] = 1;
            u.f.kb->injectBeforeBtAck(0x83, 1, eraseAck);
        } else if (before == 5) { // as the benchmarks' slowest bootloader; the bound halved still holds it
            u.f.kb->setReportDelay(100);
            u.thread.setPaceBound(8, timescale::ms(UploadPace::SlowestAckMs / 2));
        }
        else if (before == 8) {
            for (int nth = 1; nth <= 20; ++nth)
                u.f.kb->doubleBtAck(0x83, nth);
        } else if (before == 3) { // the main window's next-image step: the same thread goes on
            u.send(100, false);
            QTRY_COMPARE_WITH_TIMEOUT(u.finished.count(), 1, timescale::ms(10000));
            QVERIFY(u.thread.isRunning());
            u.finished.clear();
        }
        logrecorder::start();
        u.send(size, softDevice);
        QTRY_COMPARE_WITH_TIMEOUT(u.finished.count(), 1, timescale::ms(20000));
        const QStringList lines = logrecorder::lines();
        logrecorder::stop();
        QCOMPARE(u.errors.count(), 0);
        // The frames are counted in one line when the image ends; of the reports ignored meanwhile only
        // the first few are logged themselves.
        const QStringList ended = lines.filter(QStringLiteral("Bluetooth upload of an image ended"));
        QCOMPARE(ended.size(), 1);
        QVERIFY2(lines.filter(QStringLiteral(": ignored")).size() <= 4, qPrintable(lines.join(QLatin1Char('\n'))));
        if (before == 8)
            QVERIFY2(!ended.first().endsWith(QLatin1String(" 0 reports ignored")), qPrintable(ended.first()));
        // Every acknowledgement was read by the time the image ended: nothing is left for the next step
        // (the start frame) to take as its reply. The thread reads nothing once the image ended.
        uint8_t left[65];
        QCOMPARE(u.f.usb->read_timeout(left, sizeof left, 100), 0);

        const int skip = softDevice ? Skip : 0;
        const int blocks = (size - skip + 47) / 48;
        const sim::BtModuleState m = u.f.kb->btModule();
        QCOMPARE(softDevice ? m.softDevice : m.application,
                 u.image.mid(skip) + QByteArray(blocks * 48 - (size - skip), char(0xFF)));
        // The module checks each frame's sum and block number itself; none more than the blocks went out.
        QCOMPARE(u.frames(softDevice ? 0x84 : 0x83), blocks);

        // The window's next step, the switch to the application: accepted, and it left only after every
        // frame was answered.
        u.f.usb->setReadingEnabled(true);
        QCOMPARE(u.f.device->_bt_boot_app(), DeviceResult::Ok);
        QVERIFY(switchFollowsEveryAcknowledgement(u.f.kb->log()));
    }

    void failureEndsTheUploadOnce_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<Signals>("errors"); // UpdateError; none: one emitStopDfu instead
        QTest::addRow("block 3 rejected") << 0 << Signals{{0x83, 5}};
        QTest::addRow("block 2 unanswered") << 1 << Signals{{-1, -2}};
        QTest::addRow("erase unanswered") << 2 << Signals{{-1, -2}};
        QTest::addRow("block write failed") << 3 << Signals{{0x83, -3}};
        QTest::addRow("erase write failed") << 4 << Signals{{0x81, -3}};
        QTest::addRow("unplugged while waiting") << 5 << Signals{};
        QTest::addRow("empty application refused") << 6 << Signals{{0x81, -4}};
        QTest::addRow("SoftDevice of 4095 bytes refused") << 7 << Signals{{0x82, -4}};
        QTest::addRow("every acknowledgement late: the pace bound ends it") << 8 << Signals{{-1, -2}};
        QTest::addRow("block 3 acknowledged under another sub-command") << 9 << Signals{{0x83, -5}};
        QTest::addRow("erase acknowledged under another sub-command") << 10 << Signals{{0x81, -5}};
        QTest::addRow("application block acknowledged as SoftDevice data") << 11 << Signals{{0x83, -5}};
        QTest::addRow("SoftDevice erase acknowledged as the application's") << 12 << Signals{{0x82, -5}};
        QTest::addRow("doubled acknowledgement, last block rejected") << 13 << Signals{{0x83, 5}};
        QTest::addRow("acknowledgement doubled after the next frame, last block rejected")
            << 14 << Signals{{0x83, 3}};
        QTest::addRow("last block's rejection waiting behind a doubled acknowledgement") << 15 << Signals{{0x83, 3}};
        // The module gets no frame after the rejected one; the thread goes on with a second image, whose
        // end line counts only that image's frames.
        QTest::addRow("middle block's rejection waiting behind a doubled acknowledgement, then a second image")
            << 16 << Signals{{0x83, 3}};
    }
    void failureEndsTheUploadOnce()
    {
        QFETCH(int, fault);
        QFETCH(Signals, errors);
        Upgrade u;
        QVERIFY(u.begin());
        switch (fault) {
        case 0: u.f.kb->rejectBtFrame(0x83, 3, 5); break;
        case 1: case 5: u.f.kb->ignoreBtFrame(0x83, 2); break;
        case 2: u.f.kb->ignoreBtFrame(0x81, 1); break;
        case 3: u.f.kb->failWrite(3); break; // erase, block 1, block 2
        case 4: u.f.kb->failWrite(1); break;
        case 8: // each frame well inside its own wait, but far slower than the (scaled) pace
            u.f.kb->setBtAckDelay(150);
            u.thread.setPaceBound(4, 30);
            break;
        case 9: u.f.kb->renameBtAck(0x83, 3, 0xC3); break;
        case 10: u.f.kb->renameBtAck(0x81, 1, 0xC1); break;
        case 11: u.f.kb->renameBtAck(0x83, 2, 0x84); break;
        case 12: u.f.kb->renameBtAck(0x82, 1, 0x81); break;
        case 13: // 300 bytes: 7 blocks
            u.f.kb->doubleBtAck(0x83, 2);
            u.f.kb->rejectBtFrame(0x83, 7, 5);
            break;
        case 14: // the copy taken for block 3's: the last block's rejection comes after the count is complete
            u.f.kb->doubleBtAckLate(0x83, 2);
            u.f.kb->rejectBtFrame(0x83, 7, 3);
            u.f.kb->setBtAckDelay(100);
            u.thread.setAckTimeouts(timescale::ms(1500), timescale::ms(1500));
            break;
        case 15: // block 6's copy and block 7's rejection both wait when the copy is read
            u.f.kb->doubleBtAckLate(0x83, 6);
            u.f.kb->rejectBtFrame(0x83, 7, 3);
            break;
        case 16: // block 3's copy, taken for block 4's acknowledgement, and block 4's rejection
            u.f.kb->doubleBtAckLate(0x83, 3);
            u.f.kb->rejectBtFrame(0x83, 4, 3);
            break;
        }
        // The unplug case keeps the long deadline (only the read failure may end it), the late one too.
        if (fault != 5 && fault != 8 && fault != 14)
            u.thread.setAckTimeouts(ShortAck, ShortAck);
        const int before = u.f.kb->writes();
        QElapsedTimer clock;
        clock.start();
        const bool softDevice = fault == 7 || fault == 12;
        u.send(fault == 6 ? 0 : fault == 7 ? Skip - 1 : fault == 12 ? Skip + 300 : 300, softDevice);
        if (fault == 5) {
            QTRY_COMPARE_WITH_TIMEOUT(u.frames(0x83), 2, timescale::ms(10000));
            sim::unplug(u.f.kb);
        }
        QTRY_VERIFY_WITH_TIMEOUT(u.errors.count() + u.stopped.count() > 0, timescale::ms(10000));
        if (fault == 16)
            QCOMPARE(u.frames(0x83), 4); // block 5 never went out
        // Not a default deadline: the shortest, for an acknowledgement, is 5 s (an erase's is longer), and a
        // wait that long cannot end sooner. As generous a limit as keeps that point.
        const qint64 took = clock.elapsed();
        QVERIFY2(took < UpgradeTimeout::Ack, QByteArray::number(took));
        QVERIFY(!errors.isEmpty() || u.thread.wait(timescale::ms(10000))); // a lost device also ends the thread
        const int writes = u.f.kb->writes();
        QTest::qWait(ShortAck / 2);
        QCOMPARE(Signals(u.errors), errors);
        QCOMPARE(u.stopped.count(), errors.isEmpty() ? 1 : 0);
        QCOMPARE(u.finished.count(), 0);
        QCOMPARE(u.f.kb->writes(), fault == 6 || fault == 7 ? before : writes); // nothing (more) goes out
        QCOMPARE(u.frames(softDevice ? 0x83 : 0x84), 0); // no frame of the other image's kind
        if (fault != 16)
            return;
        logrecorder::start();
        u.errors.clear();
        u.send(100, false); // 3 blocks
        QTRY_COMPARE_WITH_TIMEOUT(u.finished.count(), 1, timescale::ms(10000));
        const QStringList ended = logrecorder::lines().filter(QStringLiteral("Bluetooth upload of an image ended"));
        logrecorder::stop();
        QCOMPARE(u.errors.count(), 0);
        QCOMPARE(ended, QStringList{QStringLiteral("Bluetooth upload of an image ended: 4 frames written for 100 bytes, "
                                                   "0 reports ignored")});
        QCOMPARE(u.frames(0x83), 7);
    }

    void stopEndsTheThreadWithin100msAndStartRunsItAgain()
    {
        Upgrade u;
        QVERIFY(u.begin());
        u.f.kb->ignoreBtFrame(0x81, 1);
        u.send(100, false);
        QTRY_COMPARE_WITH_TIMEOUT(u.frames(0x81), 1, timescale::ms(10000));
        u.thread.stop();
        // The stop is seen within a read slice; the erase acknowledgement it waits for has a deadline of
        // 30 s, which no wait shorter than that can have seen out.
        QVERIFY(u.thread.wait(qMin(timescale::ms(10000), UpgradeTimeout::EraseAck / 2)));
        u.send(100, false);
        QTRY_COMPARE_WITH_TIMEOUT(u.finished.count(), 1, timescale::ms(10000));
        QCOMPARE(u.errors.count() + u.stopped.count(), 0);
    }
};

QTEST_GUILESS_MAIN(BluetoothModuleUpgrade)
#include "test_btupgrade.moc"
