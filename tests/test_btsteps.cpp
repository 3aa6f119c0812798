// The Bluetooth module's synchronous upgrade steps through the request core.
#include "keyboardfixture.h"
#include "wire.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <numeric>

using Signals = QList<QVariantList>;

class BluetoothSteps : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void bootSwitchReportsOneUpdateErrorOnFailure_data()
    {
        QTest::addColumn<bool>("toApp");   // 0x85 back to the application, else 0x08 into the bootloader
        // 0 none, 1 rejected with status 3, 2 write failed, 3 no reply, 4 an upload frame's acknowledgement first,
        // 5 an upload frame's rejection (status 3) first
        QTest::addColumn<int>("fault");
        QTest::addColumn<uint32_t>("result");
        QTest::addColumn<Signals>("errors"); // UpdateError
        QTest::addRow("0x08 accepted") << false << 0 << DeviceResult::Ok << Signals{};
        QTest::addRow("0x85 accepted") << true << 0 << DeviceResult::Ok << Signals{};
        QTest::addRow("0x08 rejected") << false << 1 << DeviceResult::WriteFailed << Signals{{0x08, 3}};
        QTest::addRow("0x85 rejected") << true << 1 << DeviceResult::WriteFailed << Signals{{0x85, 3}};
        QTest::addRow("0x08 write failed") << false << 2 << DeviceResult::WriteFailed << Signals{{0x08, -3}};
        QTest::addRow("0x85 write failed") << true << 2 << DeviceResult::WriteFailed << Signals{{0x85, -3}};
        QTest::addRow("0x08 unanswered for 500 ms") << false << 3 << DeviceResult::Timeout << Signals{{-1, -2}};
        QTest::addRow("0x85 judged by its own reply, a leftover acknowledgement ignored")
            << true << 4 << DeviceResult::Ok << Signals{};
        QTest::addRow("0x85 failed by the last block's rejection that comes while it waits")
            << true << 5 << DeviceResult::WriteFailed << Signals{{0x83, 3}};
    }
    void bootSwitchReportsOneUpdateErrorOnFailure()
    {
        QFETCH(bool, toApp);
        QFETCH(int, fault);
        QFETCH(uint32_t, result);
        QFETCH(Signals, errors);
        KeyboardFixture f;
        QVERIFY(f.open());
        if (toApp)
            QCOMPARE(f.device->appBoot(), DeviceResult::Ok);
        const uint8_t sub = toApp ? 0x85 : 0x08;
        switch (fault) {
        case 1: f.kb->rejectBtFrame(sub, 1, 3); break;
        case 2: f.kb->failWrite(1); break;
        case 3: f.kb->ignoreBtFrame(sub, 1); break;
        case 4: // the last block's, doubled, as it would come when the upload read it once
        case 5: {
            QByteArray leftover = report(0xB0, 0xDF, 0x83);
            leftover[9] = 1;
            leftover[12] = char(fault == 5 ? 3 : 0);
            f.kb->injectBeforeBtAck(sub, 1, leftover);
            break;
        }
        }
        QSignalSpy spy(f.device, &Device::UpdateError);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(toApp ? f.device->_bt_boot_app() : f.device->appBoot(), result);
        // The step's own 500 ms, not the 5 s acknowledgement deadline of the upload, which no wait can end
        // before: as generous a limit as keeps that point.
        const qint64 took = clock.elapsed();
        if (fault == 3)
            QVERIFY2(took >= 480 && took < UpgradeTimeout::Ack, qPrintable(QString::number(took)));
        QCOMPARE(Signals(spy), errors);
        if (errors.isEmpty())
            QCOMPARE(f.kb->btModule().inBootloader, !toApp);
    }

    void wholeImageResendsARejectedBlockAtMostThreeTimes_data()
    {
        QTest::addColumn<int>("rejections");
        QTest::addColumn<QList<int>>("blocks");
        QTest::addColumn<bool>("switchRefused"); // the module refuses 0x85 after the last block
        QTest::addRow("accepted on the third resend") << 3 << QList<int>{1, 2, 2, 2, 2, 3} << false;
        QTest::addRow("rejected four times") << 4 << QList<int>{1, 2, 2, 2, 2} << false;
        QTest::addRow("every block accepted, the switch to the application refused: no success")
            << 0 << QList<int>{1, 2, 3} << true;
    }
    void wholeImageResendsARejectedBlockAtMostThreeTimes()
    {
        QFETCH(int, rejections);
        QFETCH(QList<int>, blocks);
        QFETCH(bool, switchRefused);
        KeyboardFixture f;
        QVERIFY(f.open());
        QCOMPARE(f.device->appBoot(), DeviceResult::Ok);
        QCOMPARE(f.device->_bt_erase_app(), DeviceResult::Ok);
        QByteArray image(120, '\0');
        std::iota(image.begin(), image.end(), char(0));
        for (int n = 0; n < rejections; ++n)
            f.kb->rejectBtFrame(0x83, 2 + n, 6); // the 2nd frame, then each resend
        if (switchRefused)
            f.kb->rejectBtFrame(0x85, 1, 3);
        f.device->dfuStartBtUpdateFW(reinterpret_cast<uint8_t*>(image.data()), image.size());
        QSignalSpy finished(f.device, &Device::emitUpdateDfuFinished);
        const bool accepted = rejections <= 3;
        QCOMPARE(f.device->_bt_app_bin_data(),
                 accepted && !switchRefused ? DeviceResult::Ok : DeviceResult::WriteFailed);
        QList<int> sent;
        for (const QByteArray& r : sentReports(f.kb, 0xB0, 0xDF))
            if (uint8_t(r[8]) == 0x83)
                sent << uint8_t(r[12]);
        QCOMPARE(sent, blocks);
        QCOMPARE(finished.count(), int(accepted && !switchRefused));
        if (accepted)
            QCOMPARE(f.kb->btModule().application.left(120), image);
    }
};

QTEST_GUILESS_MAIN(BluetoothSteps)
#include "test_btsteps.moc"
