// Bluetooth module upload through the emulated keyboard: frames, sums, block order and how it ends.
#include "device/updatedfubtthread.h"
#include "keyboardfixture.h"
#include "wire.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

namespace {
constexpr int ShortAck = 200; // acknowledgement deadline of the fault cases
constexpr int Skip = 4096;    // SoftDevice bytes that stay on the host

QByteArray pattern(int size, int seed = 0)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 13 + seed + i / 256) & 0xFF);
    return b;
}

QByteArray notification()
{
    QByteArray r = report(0xF0, 0x21);
    r[2] = 4;
    return r;
}

// The main window's Bluetooth road: 0x08 through the request core, then the transport's reading
// paused and the thread started on the image, then the erase frame from this thread.
struct Upgrade {
    KeyboardFixture f;
    updateDFUBtThread thread; // destroyed first: it reads the fixture's transport
    QSignalSpy errors{&thread, &updateDFUBtThread::UpdateError};
    QSignalSpy stopped{&thread, &updateDFUBtThread::emitStopDfu};
    QSignalSpy finished{&thread, &updateDFUBtThread::emitUpdateDfuFinished};
    QSignalSpy progress{&thread, &updateDFUBtThread::SendByteUpdateProgress};
    QByteArray image;

    bool begin()
    {
        if (!f.open() || f.device->appBoot() != DeviceResult::Ok)
            return false;
        f.usb->setReadingEnabled(false);
        thread.setUsb(f.usb);
        return true;
    }
    void send(const QByteArray& bytes, bool softDevice)
    {
        image = bytes;
        thread.setImage(reinterpret_cast<const uint8_t*>(image.constData()), uint32_t(image.size()));
        thread.setRunning(true);
        thread.start(QThread::HighestPriority);
        if (softDevice)
            thread.bt_erase_sd_com();
        else
            thread.bt_erase_app_com();
    }
    QList<QByteArray> frames(uint8_t sub) const
    {
        QList<QByteArray> out;
        for (const QByteArray& r : sentReports(f.kb, 0xB0, 0xDF))
            if (uint8_t(r[8]) == sub)
                out << r.mid(8, 56);
        return out;
    }
};

bool errorIs(const QSignalSpy& spy, int step, int code)
{
    return spy.count() == 1 && spy.at(0).at(0).toInt() == step && spy.at(0).at(1).toInt() == code;
}
}

class BluetoothModuleUpgrade : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void imageArrivesInSummedBlocks_data()
    {
        QTest::addColumn<bool>("softDevice");
        QTest::addColumn<int>("size");
        for (int size : {48, 96, 100})
            QTest::addRow("application %d", size) << false << size;
        for (int size : {4096, 4097, 4145})
            QTest::addRow("SoftDevice %d", size) << true << size;
    }
    void imageArrivesInSummedBlocks()
    {
        QFETCH(bool, softDevice);
        QFETCH(int, size);
        Upgrade u;
        QVERIFY(u.begin());
        u.send(pattern(size), softDevice);
        QTRY_COMPARE(u.finished.count(), 1);
        QCOMPARE(u.errors.count(), 0);
        QVERIFY(!u.thread.running());

        const int skip = softDevice ? Skip : 0;
        const int payload = size - skip;
        const int blocks = (payload + 47) / 48;
        const sim::BtModuleState m = u.f.kb->btModule();
        const QByteArray area = softDevice ? m.softDevice : m.application;
        QCOMPARE(area.size(), blocks * 48);
        QCOMPARE(area.left(payload), u.image.mid(skip));
        QCOMPARE(area.mid(payload), QByteArray(blocks * 48 - payload, char(0xFF)));

        const QList<QByteArray> frames = u.frames(softDevice ? 0x84 : 0x83);
        QCOMPARE(frames.size(), blocks);
        QList<int> values;
        for (int i = 0; i < blocks; ++i) {
            const QByteArray& fr = frames[i];
            QCOMPARE(uint8_t(fr[1]), uint8_t(0x34));
            QCOMPARE(uint8_t(fr[3]), uint8_t(0xFF));
            QCOMPARE(le::u32(reinterpret_cast<const uint8_t*>(fr.constData()) + 4), uint32_t(i + 1));
            uint8_t sum = 0;
            for (int k = 0; k < 56; ++k)
                sum = uint8_t(sum + (k == 2 ? 0 : uint8_t(fr[k])));
            QCOMPARE(uint8_t(fr[2]), sum);
            values << skip + qMin(48 * (i + 1), payload);
        }
        QList<int> sent;
        for (const QList<QVariant>& args : u.progress)
            sent << args.at(0).toInt();
        QCOMPARE(sent, values);
    }

    void applicationThenSoftDeviceRestartsBlocksAtOne()
    {
        Upgrade u;
        QVERIFY(u.begin());
        const QByteArray sd = pattern(Skip + 100, 5);
        // The next-image step of the main window, queued from the thread's emitUpdateDfuFinished.
        connect(&u.thread, &updateDFUBtThread::emitUpdateDfuFinished, this, [&u, &sd] {
            if (u.finished.count() != 1)
                return;
            u.image = sd;
            u.thread.setImage(reinterpret_cast<const uint8_t*>(u.image.constData()), uint32_t(u.image.size()));
            u.thread.setRunning(true);
            u.thread.bt_erase_sd_com();
        }, Qt::QueuedConnection);
        u.send(pattern(100), false);
        QTRY_COMPARE(u.finished.count(), 2);
        QCOMPARE(u.frames(0x83).size(), 3);
        const QList<QByteArray> sdFrames = u.frames(0x84);
        QCOMPARE(sdFrames.size(), 3);
        QCOMPARE(uint8_t(sdFrames[0][4]), uint8_t(1));
        QCOMPARE(u.f.kb->btModule().softDevice.left(100), sd.mid(Skip));

        // The end of the road: the thread leaves, the transport reads again, 0x85 boots the module.
        u.thread.stop();
        QVERIFY(u.thread.wait(200));
        u.f.usb->setReadingEnabled(true);
        QCOMPARE(u.f.device->_bt_boot_app(), DeviceResult::Ok);
        QVERIFY(!u.f.kb->btModule().inBootloader);
        QCOMPARE(u.errors.count() + u.stopped.count(), 0);
    }

    void failureGivesOneUpdateErrorAndStops_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("code");
        QTest::addRow("block 3 rejected") << 0 << 0x83 << 5;
        QTest::addRow("block 2 unanswered") << 1 << -1 << -2;
        QTest::addRow("erase unanswered") << 2 << -1 << -2;
        QTest::addRow("block write failed") << 3 << 0x83 << -3;
        QTest::addRow("erase write failed") << 4 << 0x81 << -3;
    }
    void failureGivesOneUpdateErrorAndStops()
    {
        QFETCH(int, fault);
        QFETCH(int, step);
        QFETCH(int, code);
        Upgrade u;
        QVERIFY(u.begin());
        u.thread.setAckTimeouts(ShortAck, ShortAck);
        switch (fault) {
        case 0: u.f.kb->rejectBtFrame(0x83, 3, 5); break;
        case 1: u.f.kb->ignoreBtFrame(0x83, 2); break;
        case 2: u.f.kb->ignoreBtFrame(0x81, 1); break;
        case 3: u.f.kb->failWrite(3); break; // erase, block 1, block 2
        case 4: u.f.kb->failWrite(1); break;
        }
        QElapsedTimer clock;
        clock.start();
        u.send(pattern(300), false);
        QTRY_VERIFY(u.errors.count() > 0);
        QVERIFY(clock.elapsed() < ShortAck + 300);
        QTest::qWait(ShortAck / 2);
        QVERIFY(errorIs(u.errors, step, code));
        QCOMPARE(u.stopped.count() + u.finished.count(), 0);
        QVERIFY(!u.thread.running());
        const int blocksSent = u.frames(0x83).size();
        QTest::qWait(50);
        QCOMPARE(u.frames(0x83).size(), blocksSent); // nothing more goes out
    }

    void reportsBetweenFramesDoNotStopTheUpload_data()
    {
        QTest::addColumn<bool>("notify");
        QTest::addRow("notification before an acknowledgement") << true;
        QTest::addRow("acknowledgement with byte 1 not 0xDF") << false;
    }
    void reportsBetweenFramesDoNotStopTheUpload()
    {
        QFETCH(bool, notify);
        Upgrade u;
        QVERIFY(u.begin());
        if (notify)
            u.f.kb->injectBeforeBtAck(0x83, 2, notification());
        else
            u.f.kb->wrongEcho(0xB0, 0xDF, 2);
        u.send(pattern(200), false);
        QTRY_COMPARE(u.finished.count(), 1);
        QCOMPARE(u.errors.count(), 0);
        QCOMPARE(u.f.kb->btModule().application.left(200), u.image);
    }

    void unplugMidUploadEndsInStopDfuAndTheThread()
    {
        Upgrade u;
        QVERIFY(u.begin());
        u.f.kb->ignoreBtFrame(0x83, 2); // waits with the long deadline: only the read failure ends it
        u.send(pattern(300), false);
        QTRY_COMPARE(u.frames(0x83).size(), 2);
        sim::unplug(u.f.kb);
        QTRY_COMPARE_WITH_TIMEOUT(u.stopped.count(), 1, 500);
        QVERIFY(u.thread.wait(200));
        QCOMPARE(u.errors.count() + u.finished.count(), 0);
    }

    void unsendableImageIsRefusedBeforeAnyFrame_data()
    {
        QTest::addColumn<bool>("softDevice");
        QTest::addColumn<int>("size");
        QTest::addRow("empty application") << false << 0;
        QTest::addRow("SoftDevice of 4095 bytes") << true << 4095;
    }
    void unsendableImageIsRefusedBeforeAnyFrame()
    {
        QFETCH(bool, softDevice);
        QFETCH(int, size);
        Upgrade u;
        QVERIFY(u.begin());
        const int writes = u.f.kb->writes();
        u.send(pattern(size), softDevice);
        QVERIFY(errorIs(u.errors, softDevice ? 0x82 : 0x81, -4));
        QVERIFY(!u.thread.running());
        QCOMPARE(u.f.kb->writes(), writes);
    }

    void stopEndsTheThreadWithin100msAndStartRunsItAgain()
    {
        Upgrade u;
        QVERIFY(u.begin());
        u.f.kb->ignoreBtFrame(0x81, 1);
        u.send(pattern(100), false);
        QTRY_COMPARE(u.frames(0x81).size(), 1);
        QElapsedTimer clock;
        clock.start();
        u.thread.stop();
        QVERIFY(u.thread.wait(100));
        QVERIFY(clock.elapsed() < 100);
        u.send(pattern(100), false);
        QTRY_COMPARE(u.finished.count(), 1);
        QCOMPARE(u.errors.count() + u.stopped.count(), 0);
    }
};

QTEST_GUILESS_MAIN(BluetoothModuleUpgrade)
#include "test_btupgrade.moc"
