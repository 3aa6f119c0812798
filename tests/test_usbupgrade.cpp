// Firmware upload to the emulated USB bootloader: packets, acknowledgements, progress and how it ends.
#include "device/device.h"
#include "device/usb.h"
#include "logrecorder.h"
#include "simcontrol.h"
#include "timescale.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <memory>

namespace {
constexpr int ShortAck = 300; // acknowledgement deadline of the fault cases

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
    bool start(int size)
    {
        image.resize(size);
        for (int i = 0; i < size; ++i)
            image[i] = char((i * 7 + i / 251) & 0xFF);
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
        auto back = std::make_shared<QSemaphore>();
        QMetaObject::invokeMethod(device, [back] { back->release(); }, Qt::QueuedConnection);
        return back->tryAcquire(1, ms);
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
        QTest::addColumn<int>("delayMs"); // each report's; 100: the slowest working pace, under half the bound
        for (int size : {0, 48, 49, 104, 105, 100000})
            QTest::addRow("%d bytes", size) << size << 0;
        QTest::addRow("1000 bytes at the slowest working pace, far inside the bound") << 1000 << 100;
    }
    void imageArrivesWithNumberedPacketsAndProgress()
    {
        QFETCH(int, size);
        QFETCH(int, delayMs);
        auto bl = sim::plugBootloader();
        bl->setReportDelay(delayMs); // as the benchmarks' slowest bootloader
        Upload up;
        if (delayMs > 0)
            up.device->setDfuPaceBound(8, timescale::ms(UploadPace::SlowestAckMs / 2));
        logrecorder::start();
        QVERIFY(up.start(size));
        QTRY_COMPARE_WITH_TIMEOUT(up.finished.count(), 1, timescale::ms(20000));
        QVERIFY(up.loopReturned(500));
        const QStringList lines = logrecorder::lines();
        logrecorder::stop();
        QCOMPARE(QList<int>({up.finished.count(), up.stopped.count()}), QList<int>({1, 0}));
        QCOMPARE(bl->image(), up.image);
        QVERIFY(bl->ran());

        // Sync, update with the first 48 bytes, 56 bytes a packet after that, run; odd numbers out (the
        // bootloader answers each with the next even one).
        const int dataPackets = size > 48 ? (size - 48 + 55) / 56 : 0;
        const QList<QByteArray> packets = bl->packets();
        QCOMPARE(packets.size(), 3 + dataPackets);
        for (int i = 0; i < packets.size(); ++i)
            QCOMPARE(le::u32(reinterpret_cast<const uint8_t*>(packets[i].constData()) + 4), uint32_t(2 * i + 1));
        QList<QVariantList> progress; // bytes sent after each data packet
        for (int k = 1; k <= dataPackets; ++k)
            progress << QVariantList{qMin(48 + 56 * k, size)};
        QCOMPARE(QList<QVariantList>(up.progress), progress);
        // The packets are counted in one line at the end, not logged one by one, however large the image.
        QCOMPARE(lines.filter(QStringLiteral("USB upload finished")),
                 QStringList(QStringLiteral("USB upload finished: %1 packets written, %2 of %2 image bytes sent")
                                 .arg(packets.size())
                                 .arg(size)));
        QVERIFY2(lines.size() <= 12, qPrintable(lines.mid(0, 20).join(QLatin1Char('\n'))));
    }

    void uploadEndsOnceOnAFaultAndQuietlyOnAStopRequest_data()
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
        QTest::addRow("Device::requestStop") << 6 << 2; // a stop request: no emitStopDfu
        QTest::addRow("thread interruption") << 7 << 2;
        QTest::addRow("every acknowledgement late: the pace bound ends it") << 8 << 3;
    }
    void uploadEndsOnceOnAFaultAndQuietlyOnAStopRequest()
    {
        QFETCH(int, fault);
        QFETCH(int, packet);
        auto bl = sim::plugBootloader();
        switch (fault) {
        case 0: bl->faultAck(packet, sim::Bootloader::AckFault::WrongChecksum); break;
        case 1: bl->faultAck(packet, sim::Bootloader::AckFault::WrongPacketNumber); break;
        case 3: bl->failWrite(packet); break;
        case 4: bl->unplugAtWrite(packet); break;
        case 8: bl->setReportDelay(75); break; // some 150 ms a packet, well inside each packet's own wait
        default: bl->faultAck(packet, sim::Bootloader::AckFault::Silent); break;
        }
        Upload up;
        if (fault < 5) // the others keep the long deadline: only the unplug or the stop request may end them
            up.device->setDfuAckTimeouts(ShortAck, ShortAck);
        if (fault == 8) // far slower than this (scaled) pace from the first data packet on
            up.device->setDfuPaceBound(4, 30);
        QVERIFY(up.start(1000));
        if (fault >= 5 && fault <= 7) {
            QTRY_COMPARE_WITH_TIMEOUT(bl->packets().size(), packet, timescale::ms(10000));
            fault == 5 ? sim::unplug(bl) : fault == 6 ? up.device->requestStop() : up.thread.requestInterruption();
        }
        QVERIFY(up.loopReturned(fault == 8 ? timescale::ms(5000) : fault >= 6 ? 100 : ShortAck + 400));
        QTest::qWait(50);
        QCOMPARE(QList<int>({up.stopped.count(), up.finished.count()}), QList<int>({fault < 6 || fault == 8, 0}));
        QVERIFY(!bl->ran());
    }
};

QTEST_GUILESS_MAIN(UsbBootloaderUpgrade)
#include "test_usbupgrade.moc"
