// How the main window ends a firmware upgrade that fails: a keyboard that never left for its
// bootloader stays in use, and the failure box is up before any other keyboard is opened; and what
// must not fail one: an acknowledgement that comes twice.
#include "localupdate.h"
#include "messageboxrecorder.h"
#include "simcontrol.h"
#include "tempappdir.h"
#include "updatesamples.h"

#include "Update/onlineupdate.h"
#include "Update/overallvariate.h"
#include "device/device.h"
#include "main/tessark.h"
#include "setting/setting.h"
#include "widget/menutree.h"
#include "widget/tablabel.h"
#include "timescale.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

const QString KeptText = QStringLiteral(
    "The firmware upgrade failed: the keyboard did not take the command to start its bootloader, so its USB "
    "firmware was not sent.\nThe keyboard stays in use, and you can repeat the upgrade.");
const QString PlugAgainText = QStringLiteral(
    "The firmware upgrade failed.\nPlug the keyboard in again: the tool opens its bootloader again, and you can "
    "repeat the upgrade.");

sim::BootloaderConfig bootloaderStaying()
{
    sim::BootloaderConfig c;
    c.keyboardReturns = false;
    return c;
}

bool writeImage(const QString& path, int size)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(QByteArray(size, '\x3c')) == size;
}

} // namespace

class UpgradeFailures : public QObject {
    Q_OBJECT
    std::unique_ptr<TempAppDir> m_app;
    std::unique_ptr<LocalUpdate> m_local;
    std::unique_ptr<TempDir> m_folder;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    std::unique_ptr<Tessark> w;

    bool loaded(const QByteArray& board) const
    {
        return w->deviceLoaded() && w->device() && w->device()->boardName() == board;
    }

private slots:
    void init()
    {
        m_app.reset(new TempAppDir);
        QVERIFY(m_app->setUpForWindow(QFINDTESTDATA("../appdir")));
        m_local.reset(new LocalUpdate);
        // The shipped tool version is current; newer firmware only for the tenkeyless model.
        QVERIFY(sim::writeSampleTool(m_local->root.path(), QStringLiteral("1.0.0")));
        QVERIFY(sim::writeSampleFirmware(m_local->root.path(), QStringLiteral("TK87 Wired Board"),
                                         QStringLiteral("50.0.0")));
        QVERIFY(m_local->start(m_app->filePath(QStringLiteral("servers.ini"))));
        m_folder.reset(new TempDir);
        m_boxes.reset(new MessageBoxRecorder);
    }
    void cleanup()
    {
        UploadPace::setDefaultBoundForTest(0, 0);
        w.reset();
        sim::reset();
        m_boxes.reset();
        m_local.reset();
        m_app.reset();
    }

    // The write that sends the keyboard into its bootloader fails: the upgrade ends at once with its
    // box, nothing waits for a bootloader, and the keyboard stays open and answers its pages.
    void keyboardThatDidNotTakeTheSwitchStaysInUse()
    {
        sim::KeyboardPtr kb = sim::plug(sim::fullSizeDual());
        w.reset(new Tessark(nullptr, QStringLiteral("None")));
        QVERIFY(QTest::qWaitFor([&] { return loaded("TK104 Dual"); }, timescale::ms(20000)));
        QTRY_VERIFY_WITH_TIMEOUT(!g_overallVariate->getBusy(), timescale::ms(10000));
        Device* const before = w->device();
        QVERIFY(writeImage(m_folder->filePath(QStringLiteral("qv_usb_app_1.bin")), 3000));
        QSignalSpy wait(w.get(), &Tessark::emitWaitDfuOpen);
        bool openWhileShown = false;
        // Whether anything waited for a bootloader before the box came: the upgrade ended at once, not
        // when a wait for one gave up.
        bool waitedBeforeBox = true;
        m_boxes->whileOpen([&](const MessageBoxRequest&) {
            openWhileShown = loaded("TK104 Dual");
            waitedBeforeBox = !wait.isEmpty() || w->dfuWaitTimer().isActive() || w->dfuUsb();
        });

        w->labelPageClickSlot(QStringLiteral("Setting"));
        QTest::qWait(300); // whatever the page asks of the keyboard is over before the write fails
        kb->failWrite(1); // the next write is the switch to the bootloader
        w->updateSlot(m_folder->path());
        QTRY_VERIFY_WITH_TIMEOUT(!m_boxes->boxes().isEmpty(), timescale::ms(10000));
        QVERIFY(!waitedBeforeBox);

        QCOMPARE(m_boxes->boxes().first().kind, MessageBoxRequest::Critical);
        QCOMPARE(m_boxes->boxes().first().title + ": " + m_boxes->boxes().first().text, "Firmware Update: " + KeptText);
        QVERIFY(openWhileShown);
        QCOMPARE(w->upgradePhase(), Tessark::UpgradePhase::Idle);
        QVERIFY(!w->dfuWaitTimer().isActive() && !w->dfuUsb() && wait.isEmpty());
        QVERIFY(w->settingPage() && w->settingPage()->isNormalLayout());
        for (TabLabel* tab : w->tabList())
            QVERIFY(tab->isEnabled());
        QVERIFY(w->multiScanTimer().isActive());
        QCOMPARE(w->menuTree()->devices().size(), 1);
        // A keyboard sent to its bootloader restarts into it this much later, and the wait for it opens
        // at its first tick: by then nothing waits, and nothing started to.
        QTest::qWait(300 + Tessark::DfuWaitIntervalMs + 200);
        QVERIFY(wait.isEmpty());
        QVERIFY(!w->dfuWaitTimer().isActive() && !w->dfuUsb());
        QCOMPARE(w->upgradePhase(), Tessark::UpgradePhase::Idle);

        // Still the same keyboard, and it answers: a read, and a setting from the settings page.
        QVERIFY(loaded("TK104 Dual") && w->device() == before);
        QCOMPARE(w->device()->getDeviceVersion(), DeviceResult::Ok);
        emit w->settingPage()->emitSleepTime(7);
        QCOMPARE(kb->state().sleepTime, 7u * 60000u);
    }

    // An upgrade fails while the keyboard stays open and its scans run: while the failure box is up a
    // second keyboard is plugged, and it is neither listed nor opened until the box is closed.
    void failureBoxHoldsTheScansWhileOpen_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("box"); // its title and text begin so
        QTest::addRow("refused switch to the bootloader, USB image") << "usb" << "Firmware Update: " + KeptText;
        QTest::addRow("silent switch of the Bluetooth module") << "bluetooth" << "ErrorCode: unknown Err: -2";
        // Each frame answered well inside its own wait, but far slower than the (scaled) pace of the upload.
        QTest::addRow("crawling Bluetooth module") << "bluetooth crawl" << "ErrorCode: unknown Err: -2";
    }
    void failureBoxHoldsTheScansWhileOpen()
    {
        QFETCH(QString, road);
        QFETCH(QString, box);
        sim::KeyboardPtr kb = sim::plug(sim::fullSizeDual());
        w.reset(new Tessark(nullptr, QStringLiteral("None")));
        QVERIFY(QTest::qWaitFor([&] { return loaded("TK104 Dual"); }, timescale::ms(20000)));
        QTRY_VERIFY_WITH_TIMEOUT(!g_overallVariate->getBusy(), timescale::ms(10000));
        QVERIFY(w->multiScanTimer().isActive());
        Device* const before = w->device();
        if (road == "usb") {
            QVERIFY(writeImage(m_folder->filePath(QStringLiteral("qv_usb_app_1.bin")), 3000));
            kb->failWrite(1); // the switch to the bootloader
        } else if (road == "bluetooth") {
            QVERIFY(writeImage(m_folder->filePath(QStringLiteral("qv_bt_app_1.bin")), 960));
            kb->ignoreBtFrame(0x08, 1); // the module's switch to its bootloader
        } else {
            QVERIFY(writeImage(m_folder->filePath(QStringLiteral("qv_bt_app_1.bin")), 960)); // 20 blocks
            kb->setBtAckDelay(150);
            UploadPace::setDefaultBoundForTest(4, 30);
        }
        sim::KeyboardPtr second;
        QStringList whileShown;
        m_boxes->whileOpen([&](const MessageBoxRequest&) {
            if (second)
                return;
            second = sim::plug(sim::tenkeylessWired());
            // Several scan intervals: a scan that ran would have listed the keyboard, or opened it.
            QElapsedTimer open;
            open.start();
            while (open.elapsed() < 4 * Tessark::ScanIntervalMs + 500) {
                QTest::qWait(50);
                if (w->menuTree()->devices().size() != 1)
                    whileShown << "the second keyboard is listed";
                if (w->device() != before)
                    whileShown << "another keyboard is open";
            }
            whileShown.removeDuplicates();
        });
        w->updateSlot(m_folder->path());
        QTRY_VERIFY_WITH_TIMEOUT(!m_boxes->boxes().isEmpty(), timescale::ms(15000));
        const MessageBoxRequest shown = m_boxes->boxes().first();
        QVERIFY2((shown.title + ": " + shown.text).startsWith(box), qPrintable(shown.title + ": " + shown.text));
        QVERIFY(second);
        QCOMPARE(whileShown, QStringList());

        // Closed, the scans run again: the second keyboard is listed, the first stays in use.
        QTRY_COMPARE_WITH_TIMEOUT(w->menuTree()->devices().size(), 2, timescale::ms(10000));
        QVERIFY(loaded("TK104 Dual") && w->device() == before);
        QCOMPARE(w->upgradePhase(), Tessark::UpgradePhase::Idle);
    }

    // A USB upgrade fails while another keyboard is plugged: its box is shown while no keyboard is open,
    // the other keyboard opens only once the box is closed, and its firmware offer comes up after it.
    void failureBoxComesBeforeTheNextKeyboard_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addRow("bootloader unplugged during the upload") << "upload cut";
        QTest::addRow("bootloader never appears") << "no bootloader";
        // Each packet answered well inside its own wait, but far slower than the (scaled) pace of the
        // upload; the user unplugs the keyboard, as the box says.
        QTest::addRow("crawling bootloader") << "crawl";
    }
    void failureBoxComesBeforeTheNextKeyboard()
    {
        QFETCH(QString, fault);
        sim::KeyboardPtr first = sim::plug(sim::fullSizeDual());
        sim::BootloaderPtr crawling;
        if (fault == "upload cut")
            first->restartIntoBootloader(200, bootloaderStaying())->unplugAtWrite(5);
        if (fault == "crawl") {
            crawling = first->restartIntoBootloader(200, bootloaderStaying());
            crawling->setReportDelay(100);
            UploadPace::setDefaultBoundForTest(4, 30);
        }
        w.reset(new Tessark(nullptr, QStringLiteral("None")));
        w->setDfuWaitIntervalForTest(50);
        QVERIFY(QTest::qWaitFor([&] { return loaded("TK104 Dual"); }, timescale::ms(20000)));
        QTRY_VERIFY_WITH_TIMEOUT(!g_overallVariate->getBusy(), timescale::ms(10000));
        sim::KeyboardPtr second = sim::plug(sim::tenkeylessWired());
        QTRY_COMPARE_WITH_TIMEOUT(w->menuTree()->devices().size(), 2, timescale::ms(10000));
        QVERIFY(writeImage(m_folder->filePath(QStringLiteral("qv_usb_app_1.bin")), 3000));
        const QPointer<onlineUpdate> dialog = g_overallVariate->updateWidget();
        QSignalSpy offers(g_overallVariate, &overallVariate::FirmwareUpdateSignal);

        // Long enough for the scans to have opened and checked the other keyboard, had they run.
        QStringList whileShown;
        m_boxes->whileOpen([&](const MessageBoxRequest&) {
            if (crawling)
                sim::unplug(crawling);
            QElapsedTimer open;
            open.start();
            while (open.elapsed() < 3000) {
                QTest::qWait(50);
                if (w->usb() || w->device())
                    whileShown << "a keyboard is open";
                if (dialog && dialog->isVisible())
                    whileShown << "the update dialog is shown";
            }
            whileShown.removeDuplicates();
        });
        w->updateSlot(m_folder->path());
        QTRY_VERIFY_WITH_TIMEOUT(!m_boxes->boxes().isEmpty(), timescale::ms(30000));
        QCOMPARE(m_boxes->boxes().first().text, PlugAgainText);
        QCOMPARE(whileShown, QStringList());
        QVERIFY(offers.isEmpty());

        QTRY_VERIFY_WITH_TIMEOUT(loaded("TK87 Wired Board"), timescale::ms(20000));
        QTRY_VERIFY_WITH_TIMEOUT(!offers.isEmpty(), timescale::ms(10000));
        QCOMPARE(offers.first().at(0).toBool(), true);
        QTRY_VERIFY_WITH_TIMEOUT(dialog && dialog->isVisible(), timescale::ms(10000));
        QCOMPARE(m_boxes->boxes().size(), 1);
    }

    // A Bluetooth upgrade whose module sends one acknowledgement twice completes as any other: the image
    // arrives whole, the module starts it, and no box comes up.
    void doubledAcknowledgementLeavesTheUpgradeGood_data()
    {
        QTest::addColumn<int>("block"); // whose acknowledgement comes twice; 960 bytes: 20 blocks
        QTest::addRow("a block's acknowledgement doubled") << 5;
        QTest::addRow("the last block's acknowledgement doubled") << 20;
    }
    void doubledAcknowledgementLeavesTheUpgradeGood()
    {
        QFETCH(int, block);
        sim::KeyboardPtr kb = sim::plug(sim::fullSizeDual());
        w.reset(new Tessark(nullptr, QStringLiteral("None")));
        QVERIFY(QTest::qWaitFor([&] { return loaded("TK104 Dual"); }, timescale::ms(20000)));
        QTRY_VERIFY_WITH_TIMEOUT(!g_overallVariate->getBusy(), timescale::ms(10000));
        QByteArray image(960, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 11 + i / 7);
        QFile file(m_folder->filePath(QStringLiteral("qv_bt_app_1.bin")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
        file.close();
        kb->doubleBtAck(0x83, block);
        w->labelPageClickSlot(QStringLiteral("Setting"));
        w->updateSlot(m_folder->path());
        QTRY_VERIFY_WITH_TIMEOUT(kb->btModule().application.size() >= image.size(), timescale::ms(15000));
        QTRY_COMPARE_WITH_TIMEOUT(w->upgradePhase(), Tessark::UpgradePhase::Idle, timescale::ms(10000));
        QTest::qWait(300); // a box would come through the event loop
        QCOMPARE(m_boxes->boxes().size(), 0);
        QCOMPARE(kb->btModule().application.left(image.size()), image);
        QVERIFY(!kb->btModule().inBootloader); // the start frame was taken
        QVERIFY(loaded("TK104 Dual"));
    }
};

QTEST_MAIN(UpgradeFailures)
#include "test_upgradefailures.moc"
