// Firmware upload to the emulated USB bootloader: packets, acknowledgements, progress and how it ends.
#include "device/device.h"
#include "device/usb.h"
#include "keyboardfixture.h"
#include "simcontrol.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <atomic>
#include <memory>

namespace {
constexpr int ShortAck = 300; // acknowledgement deadline of the fault cases

uint32_t u32(const QByteArray& r, int at)
{
    return le::u32(reinterpret_cast<const uint8_t*>(r.constData()) + at);
}

QByteArray pattern(int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 7 + i / 251) & 0xFF);
    return b;
}

// The main window's USB road: bootloader transport, upgrade Device on the firmware thread,
// started() -> readDFUUsbSlot, then the sync packet from this thread.
struct Upload {
    Usb usb{nullptr, nullptr, nullptr};
    Device* device = new Device(&usb, nullptr, nullptr, nullptr);
    QThread thread;
    QSignalSpy finished{device, &Device::emitUpdateDfuFinished};
    QSignalSpy stopped{device, &Device::emitStopDfu};
    QSignalSpy progress{device, &Device::SendByteUpdateProgress};
    QByteArray image;

    Upload() { usb.setIds(0x0416, 0xA316, -1); }
    ~Upload()
    {
        device->requestStop();
        thread.quit();
        thread.wait();
        delete device;
        usb.close();
    }
    bool start(const QByteArray& bytes)
    {
        image = bytes;
        if (!Device::dfuOpen(&usb))
            return false;
        device->moveToThread(&thread);
        QObject::connect(&thread, &QThread::started, device, &Device::readDFUUsbSlot);
        thread.start();
        device->dfuStartUpdateFW(reinterpret_cast<uint8_t*>(image.data()), image.size());
        return true;
    }
    // True once readDFUUsbSlot has given the firmware thread's event loop back.
    bool loopReturned(int ms)
    {
        auto back = std::make_shared<std::atomic<bool>>(false);
        QMetaObject::invokeMethod(device, [back] { *back = true; }, Qt::QueuedConnection);
        QElapsedTimer clock;
        clock.start();
        while (!*back && clock.elapsed() < ms)
            QThread::msleep(1);
        return *back;
    }
};
}

class UsbBootloaderUpgrade : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void imageArrivesWithNumberedPacketsAndProgress_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {0, 48, 49, 104, 105, 100000})
            QTest::addRow("%d bytes", size) << size;
    }
    void imageArrivesWithNumberedPacketsAndProgress()
    {
        QFETCH(int, size);
        sim::BootloaderConfig config;
        config.fwVersion = 0x0321;
        auto bl = sim::plugBootloader(config);
        Upload up;
        QVERIFY(up.start(pattern(size)));
        QTRY_COMPARE_WITH_TIMEOUT(up.finished.count(), 1, 20000);
        QVERIFY(up.loopReturned(500));
        QCOMPARE(up.stopped.count(), 0);

        QCOMPARE(bl->image(), up.image);
        QCOMPARE(int(bl->announcedSize()), size);
        QVERIFY(bl->ran());
        const int dataPackets = size > 48 ? (size - 48 + 55) / 56 : 0;
        const QList<QByteArray> packets = bl->packets();
        QCOMPARE(packets.size(), 3 + dataPackets);
        QList<uint32_t> commands;
        for (int i = 0; i < packets.size(); ++i) {
            commands << u32(packets[i], 0);
            QCOMPARE(u32(packets[i], 4), uint32_t(2 * i + 1));
        }
        QCOMPARE(commands.mid(0, 2), (QList<uint32_t>{0xA4, 0xA0}));
        QCOMPARE(commands.last(), 0xABu);
        QCOMPARE(u32(packets[0], 8), 1u);
        const QList<QByteArray> acks = bl->acks();
        QCOMPARE(uint8_t(acks[0][0]), uint8_t(0xA6)); // the sync packet's sum
        for (int i = 0; i < acks.size(); ++i)
            QCOMPARE(u32(acks[i], 4), uint32_t(2 * i + 2));

        QList<int> expected;
        for (int k = 1; k <= dataPackets; ++k)
            expected << qMin(48 + 56 * k, size);
        QList<int> values;
        for (const QList<QVariant>& args : up.progress)
            values << args.at(0).toInt();
        QCOMPARE(values, expected);
        // The new application runs: the keyboard comes back with its new version.
        QVERIFY(bl->keyboardAfterRun());
        QCOMPARE(bl->keyboardAfterRun()->state().fwVersion, uint16_t(0x0321));
    }

    void faultEndsInOneStopDfu_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("packet"); // 1 sync, 2 update, 3 first data packet
        QTest::addRow("wrong checksum") << 0 << 3;
        QTest::addRow("own packet number") << 1 << 2;
        QTest::addRow("silence") << 2 << 3;
        QTest::addRow("failed write") << 3 << 3;
        QTest::addRow("failed sync write") << 3 << 1;
        QTest::addRow("unplugged at a write") << 4 << 4;
        QTest::addRow("unplugged while waiting") << 5 << 3;
    }
    void faultEndsInOneStopDfu()
    {
        QFETCH(int, fault);
        QFETCH(int, packet);
        auto bl = sim::plugBootloader();
        switch (fault) {
        case 0: bl->faultAck(packet, sim::Bootloader::AckFault::WrongChecksum); break;
        case 1: bl->faultAck(packet, sim::Bootloader::AckFault::WrongPacketNumber); break;
        case 2: bl->faultAck(packet, sim::Bootloader::AckFault::Silent); break;
        case 3: bl->failWrite(packet); break;
        case 4: bl->unplugAtWrite(packet); break;
        case 5: bl->faultAck(packet, sim::Bootloader::AckFault::Silent); break;
        }
        Upload up;
        // The unplug case keeps the long deadline: only the read failure may end it.
        if (fault != 5)
            up.device->setDfuAckTimeouts(ShortAck, ShortAck);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(up.start(pattern(1000)));
        if (fault == 5) {
            QTRY_COMPARE(bl->packets().size(), packet);
            sim::unplug(bl);
        }
        QTRY_COMPARE_WITH_TIMEOUT(up.stopped.count(), 1, 2000);
        QVERIFY2(clock.elapsed() < ShortAck + 400, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(up.loopReturned(200));
        QTest::qWait(50);
        QCOMPARE(up.stopped.count(), 1);
        QCOMPARE(up.finished.count(), 0);
        QVERIFY(!bl->ran());
    }

    void stopRequestEndsTheLoopWithin100ms_data()
    {
        QTest::addColumn<bool>("interruption");
        QTest::addRow("Device::requestStop") << false;
        QTest::addRow("thread interruption") << true;
    }
    void stopRequestEndsTheLoopWithin100ms()
    {
        QFETCH(bool, interruption);
        auto bl = sim::plugBootloader();
        bl->faultAck(2, sim::Bootloader::AckFault::Silent);
        Upload up;
        QVERIFY(up.start(pattern(500)));
        QTRY_COMPARE(bl->packets().size(), 2);
        QElapsedTimer clock;
        clock.start();
        if (interruption)
            up.thread.requestInterruption();
        else
            up.device->requestStop();
        QVERIFY(up.loopReturned(100));
        QCOMPARE(up.stopped.count() + up.finished.count(), 0);
    }

    void bootloaderAppearsAfterTheKeyboardLeaves()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        auto bl = f.kb->restartIntoBootloader(150);
        QCOMPARE(f.device->enterDfu(), DeviceResult::Ok);
        QTRY_VERIFY(!f.kb->plugged());
        Usb probe(nullptr, nullptr, nullptr);
        probe.setIds(0x0416, 0xA316, -1);
        QVERIFY(!Device::dfuOpen(&probe));
        QTRY_VERIFY_WITH_TIMEOUT(Device::dfuOpen(&probe), 1000);
        QVERIFY(bl->plugged());
        probe.close();
    }

    void bootloaderThatNeverAppearsIsNotOpened()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        f.kb->restartIntoBootloader(-1);
        QCOMPARE(f.device->enterDfu(), DeviceResult::Ok);
        QTRY_VERIFY(!f.kb->plugged());
        Usb probe(nullptr, nullptr, nullptr);
        probe.setIds(0x0416, 0xA316, -1);
        QTest::qWait(50);
        QVERIFY(!Device::dfuOpen(&probe));
        QVERIFY(!Device::dfuOpen(nullptr));
    }
};

QTEST_GUILESS_MAIN(UsbBootloaderUpgrade)
#include "test_usbupgrade.moc"
