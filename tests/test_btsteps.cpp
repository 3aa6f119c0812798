// The Bluetooth module's synchronous upgrade steps through the request core, and the number helpers.
#include "keyboardfixture.h"
#include "wire.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

namespace {
bool errorIs(const QSignalSpy& spy, int step, int code)
{
    return spy.count() == 1 && spy.at(0).at(0).toInt() == step && spy.at(0).at(1).toInt() == code;
}
}

class BluetoothSteps : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void switchStepsSendControlFramesAndMoveTheModule()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        QSignalSpy errors(f.device, &Device::UpdateError);
        QCOMPARE(f.device->appBoot(), DeviceResult::Ok);
        QVERIFY(f.kb->btModule().inBootloader);
        QCOMPARE(f.device->_bt_boot_app(), DeviceResult::Ok);
        QVERIFY(!f.kb->btModule().inBootloader);
        const QList<QByteArray> sent = sentReports(f.kb, 0xB0, 0xDF);
        QCOMPARE(sent.size(), 2);
        QByteArray toBoot = report(0xB0, 0xDF, 0x08);
        toBoot[2] = 16;
        toBoot[10] = 0x08;
        QByteArray toApp = report(0xB0, 0xDF, 0x85);
        toApp[2] = 56;
        toApp[10] = char(0x85);
        QCOMPARE(sent[0], toBoot);
        QCOMPARE(sent[1], toApp);
        QCOMPARE(errors.count(), 0);
    }

    void failedStepReportsOneUpdateError_data()
    {
        QTest::addColumn<bool>("toApp");
        QTest::addColumn<int>("fault"); // 0 rejected with status 3, 1 write failed
        QTest::addColumn<uint32_t>("result");
        QTest::addColumn<int>("code");
        QTest::addRow("0x08 rejected") << false << 0 << DeviceResult::WriteFailed << 3;
        QTest::addRow("0x85 rejected") << true << 0 << DeviceResult::WriteFailed << 3;
        QTest::addRow("0x08 write failed") << false << 1 << DeviceResult::WriteFailed << -3;
        QTest::addRow("0x85 write failed") << true << 1 << DeviceResult::WriteFailed << -3;
    }
    void failedStepReportsOneUpdateError()
    {
        QFETCH(bool, toApp);
        QFETCH(int, fault);
        QFETCH(uint32_t, result);
        QFETCH(int, code);
        KeyboardFixture f;
        QVERIFY(f.open());
        if (toApp)
            QCOMPARE(f.device->appBoot(), DeviceResult::Ok);
        const uint8_t sub = toApp ? 0x85 : 0x08;
        if (fault == 0)
            f.kb->rejectBtFrame(sub, 1, 3);
        else
            f.kb->failWrite(1);
        QSignalSpy errors(f.device, &Device::UpdateError);
        QCOMPARE(toApp ? f.device->_bt_boot_app() : f.device->appBoot(), result);
        QVERIFY(errorIs(errors, sub, code));
    }

    void unansweredAppBootTimesOutAfter500ms()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        f.kb->ignoreBtFrame(0x08, 1);
        QSignalSpy errors(f.device, &Device::UpdateError);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(f.device->appBoot(), DeviceResult::Timeout);
        QVERIFY(clock.elapsed() >= 480 && clock.elapsed() < 900);
        QVERIFY(errorIs(errors, -1, -2));
    }

    void eraseStepsJudgeTheReply()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        // In its application the module refuses to erase.
        QCOMPARE(f.device->_bt_erase_app(), DeviceResult::BtEraseRejected);
        QCOMPARE(f.device->_bt_erase_sd_boot(), DeviceResult::WriteFailed);
        QCOMPARE(f.device->appBoot(), DeviceResult::Ok);
        QCOMPARE(f.device->_bt_erase_app(), DeviceResult::Ok);
        QCOMPARE(f.device->_bt_erase_sd_boot(), DeviceResult::Ok);
        QCOMPARE(f.kb->btModule().applicationErases, 1);
        QCOMPARE(f.kb->btModule().softDeviceErases, 1);
    }

    void wholeImageResendsARejectedBlockUnderItsNumber_data()
    {
        QTest::addColumn<int>("rejections");
        QTest::addColumn<uint32_t>("result");
        QTest::addRow("accepted on the third resend") << 3 << DeviceResult::Ok;
        QTest::addRow("rejected four times") << 4 << DeviceResult::WriteFailed;
    }
    void wholeImageResendsARejectedBlockUnderItsNumber()
    {
        QFETCH(int, rejections);
        QFETCH(uint32_t, result);
        KeyboardFixture f;
        QVERIFY(f.open());
        QCOMPARE(f.device->appBoot(), DeviceResult::Ok);
        QCOMPARE(f.device->_bt_erase_app(), DeviceResult::Ok);
        QByteArray image(120, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 3);
        for (int n = 0; n < rejections; ++n)
            f.kb->rejectBtFrame(0x83, 2 + n, 6); // the 2nd frame, then each resend
        f.device->dfuStartBtUpdateFW(reinterpret_cast<uint8_t*>(image.data()), image.size());
        QCOMPARE(f.device->btDfuFileSize(), 120u);
        QSignalSpy finished(f.device, &Device::emitUpdateDfuFinished);
        QCOMPARE(f.device->_bt_app_bin_data(), result);

        QList<int> blocks;
        for (const QByteArray& r : sentReports(f.kb, 0xB0, 0xDF))
            if (uint8_t(r[8]) == 0x83)
                blocks << uint8_t(r[12]);
        if (result == DeviceResult::Ok) {
            QCOMPARE(blocks, (QList<int>{1, 2, 2, 2, 2, 3}));
            QCOMPARE(f.kb->btModule().application.left(120), image);
            QCOMPARE(finished.count(), 1);
        } else {
            QCOMPARE(blocks, (QList<int>{1, 2, 2, 2, 2}));
            QCOMPARE(finished.count(), 0);
        }
    }

    void numberToText()
    {
        QCOMPARE(hexDigit(9), '9');
        QCOMPARE(hexDigit(15), 'F');
        QCOMPARE(hexDigit(16), '0');
        QCOMPARE(toHexString(0xAB), QStringLiteral("0x000000AB"));
        QCOMPARE(parseDecimal(QString()), 0u);
        QCOMPARE(parseDecimal(QStringLiteral("0x")), 0u);
        QCOMPARE(parseDecimal(QStringLiteral("ab0123")), 123u);
        QCOMPARE(hexAsDecimal(0), 0u);
        QCOMPARE(hexAsDecimal(0x1234), 1234u);
        QCOMPARE(hexAsDecimal(0x1A), 0u);
        const uint8_t bytes[] = {0xFF, 0xFF, 2};
        QCOMPARE(byteSum(bytes, 3), 0x200u);
        QCOMPARE(byteSum(bytes, 0), 0u);
    }
};

QTEST_GUILESS_MAIN(BluetoothSteps)
#include "test_btsteps.moc"
