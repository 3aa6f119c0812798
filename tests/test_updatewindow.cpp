// The main window's side of the online update, with emulated keyboards and local update servers: the
// checks it asks for, what it leaves behind without a server, its quit while the worker waits for a time
// server, and a downloaded firmware folder reaching the settings page.
#include "localupdate.h"
#include "messageboxrecorder.h"

#include "Update/downloadfile.h"
#include "Update/onlineupdate.h"
#include "Update/overallvariate.h"
#include "device/device.h"
#include "main/tessark.h"
#include "setting/setting.h"
#include "simcontrol.h"
#include "widget/menutree.h"
#include "timescale.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

class UpdateWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<TempAppDir> m_app;
    std::unique_ptr<LocalUpdate> m_local;

    static bool waitLoaded(Tessark& w)
    {
        return QTest::qWaitFor([&] { return w.deviceLoaded() && w.device() && w.device()->boardName() == "TK104 Dual"; },
                               timescale::ms(20000));
    }
    // A request line of the log whose path is this (query and protocol aside).
    bool requested(const QString& encodedPath) const
    {
        for (const QString& line : m_local->servers.requestLines())
            if (line.section(' ', 1, 1).section('?', 0, 0) == encodedPath)
                return true;
        return false;
    }

private slots:
    void init()
    {
        m_app.reset(new TempAppDir);
        QVERIFY(m_app->setUpForWindow(QFINDTESTDATA("../appdir")));
        m_local.reset(new LocalUpdate);
        // The shipped tool version, current on the server.
        QVERIFY(m_local->offer("/UpgradeTessark/Windows/VersionFile/TessarkVersion.ini",
                               "[TessarkVersion]\nVersion=1.0.0\nEnglishUpdateInfo=same\n"));
    }
    void cleanup()
    {
        DownloadFile::setWaitsForTest(30000, 30000, 30000); // the tool's own
        m_local.reset();
        sim::reset();
        m_app.reset();
    }

    // The hub learns the keyboard's versions as the window writes them (1005 is 10.0.5, 123 is 1.2.3); the
    // menu's entry shows the dialog; a deferred release leaves no hub behind.
    void hubKnowsTheKeyboardAndTheMenuShowsTheDialog()
    {
        auto kb = sim::plug(sim::fullSizeDual());
        kb->edit([](sim::FirmwareState& s) {
            s.fwVersion = 1005;
            s.hwVersion = 123;
        });
        Tessark w(nullptr, QStringLiteral("None"));
        QVERIFY(waitLoaded(w));
        const FirmwareInfo info = g_overallVariate->getFirmwareInfo();
        QCOMPARE(QStringList({info.modelDir, info.usbAppVersion, info.hardwareVersion, info.btAppVersion, info.btSdVersion}),
                 QStringList({"TK104 Dual", "10.0.5", "1.2.3", "", ""}));
        QCOMPARE(info.modelType, 0);
        w.menuTree()->checkForUpdateSlot(false);
        QVERIFY(g_overallVariate->updateWidget()->isVisible());
        const QPointer<overallVariate> hub = g_overallVariate;
        w.deleteOverallVariateLater();
        QVERIFY(!g_overallVariate);
        QTRY_VERIFY_WITH_TIMEOUT(!hub, timescale::ms(10000));
    }

    // As shipped: no server. Start, load, unplug and Exit make no folder, show nothing, and the
    // worker's thread is gone at the end.
    void withoutAServerNothingIsLeftBehind()
    {
        auto kb = sim::plug(sim::fullSizeDual());
        auto w = std::make_unique<Tessark>(nullptr, QStringLiteral("None"));
        QVERIFY(g_overallVariate && g_overallVariate->getAutoCheckUpdate());
        QPointer<onlineUpdate> dialog = g_overallVariate->updateWidget();
        QPointer<QThread> thread = dialog->workerThread();
        QVERIFY(thread && thread->isRunning());
        QSignalSpy errors(g_overallVariate, &overallVariate::ErrorInfoSignal);
        QVERIFY(waitLoaded(*w));
        QTRY_VERIFY_WITH_TIMEOUT(errors.size() >= 1 && !g_overallVariate->getBusy(), timescale::ms(10000));
        sim::unplug(kb);
        QTRY_VERIFY_WITH_TIMEOUT(!w->deviceLoaded() && !g_overallVariate->getOnlinState(), timescale::ms(10000));
        QVERIFY(!dialog->isVisible());
        // Taken before the exit: the thread object may be gone by the time it is checked.
        QSignalSpy threadFinished(thread.data(), &QThread::finished);
        w->exitAppActionSlot();
        QTRY_VERIFY_WITH_TIMEOUT(!g_overallVariate, timescale::ms(10000));
        QCOMPARE(threadFinished.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog, timescale::ms(10000));
        QVERIFY(!QFileInfo::exists(m_app->filePath("UpgradeTessark")));
        QVERIFY(!QFileInfo::exists(m_app->filePath("UpgradeFirmware")));
        w.reset();
    }

    // A loaded keyboard asks for its model's firmware version file, the board name encoded.
    void loadAsksForTheModelsVersionFile()
    {
        QVERIFY(m_local->start(m_app->filePath("servers.ini")));
        auto kb = sim::plug(sim::fullSizeDual());
        Tessark w(nullptr, QStringLiteral("None"));
        QVERIFY(waitLoaded(w));
        QTRY_VERIFY_WITH_TIMEOUT(requested("/UpgradeFirmware/TK104%20Dual/VersionFile/FirmwareVersion.ini"), timescale::ms(10000));
        QVERIFY(requested("/UpgradeTessark/Windows/VersionFile/TessarkVersion.ini"));
        QCOMPARE(m_local->servers.forbiddenCount(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!g_overallVariate->getBusy(), timescale::ms(10000));
        QVERIFY(!g_overallVariate->updateWidget()->isVisible()); // nothing newer: nothing shown
    }

    // The worker blocks on a time server that never answers; Exit still ends with the quit sequence.
    void exitWhileATimeServerIsSilentEndsPromptly()
    {
        // The time server's waits far beyond the limit below: ending within it can only be the stop.
        DownloadFile::setWaitsForTest(timescale::ms(600000), timescale::ms(600000), timescale::ms(600000));
        m_local->servers.setDaytimeMode(0, sim::DaytimeMode::Silence);
        QVERIFY(m_local->start(m_app->filePath("servers.ini")));
        auto w = std::make_unique<Tessark>(nullptr, QStringLiteral("None"));
        QTRY_VERIFY_WITH_TIMEOUT(m_local->servers.daytimeConnections(0) >= 1 && g_overallVariate->getBusy(), timescale::ms(10000));
        QElapsedTimer clock;
        clock.start();
        w->exitAppActionSlot();
        QTRY_VERIFY_WITH_TIMEOUT(!g_overallVariate, timescale::ms(20000));
        // Not the time server's waits: the quit sequence stopped the worker (on a quiet machine two 500 ms
        // ticks and at most one of the worker's wait slices).
        QVERIFY2(clock.elapsed() < timescale::ms(20000), qPrintable(QString::number(clock.elapsed())));
        w.reset();
    }

    // A firmware download ends on the settings page with the folder of the staged image; an image the
    // tool refuses is gone from that folder by the time the user is told.
    void downloadedFirmwareReachesTheSettingsPage_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::newRow("image") << QByteArray(3000, '\x5a');
        QTest::newRow("empty image, refused") << QByteArray();
    }
    void downloadedFirmwareReachesTheSettingsPage()
    {
        QFETCH(QByteArray, image);
        QVERIFY(m_local->offer("/UpgradeFirmware/TK104 Dual/VersionFile/FirmwareVersion.ini",
                               "[FirmwareVersion]\nqv_usb_app_Version=700.0.0\nEnglishUpdateInfo=new firmware\n"));
        QVERIFY(m_local->offer("/UpgradeFirmware/TK104 Dual/URLFile/FirmwareFileURL.xml",
                               "<root><Firmware_FileURL><FileURL qv_usb_app=\"/qv_usb_app_9.bin\" qv_bt_app=\"\" "
                               "qv_bt_sd=\"\"/></Firmware_FileURL></root>"));
        QVERIFY(m_local->offer("/UpgradeFirmware/TK104 Dual/qv_usb_app_9.bin", image));
        QVERIFY(m_local->start(m_app->filePath("servers.ini")));
        MessageBoxRecorder boxes;
        QStringList stagedWhileTold{"not told"};
        boxes.whileOpen([&](const MessageBoxRequest&) { stagedWhileTold = downloadedFiles(m_app->filePath("UpgradeFirmware")); });
        auto kb = sim::plug(sim::fullSizeDual());
        auto w = std::make_unique<Tessark>(nullptr, QStringLiteral("None"));
        QSignalSpy found(g_overallVariate, &overallVariate::FirmwareUpdateSignal);
        QVERIFY(waitLoaded(*w));
        QTRY_VERIFY_WITH_TIMEOUT(!found.isEmpty(), timescale::ms(10000));
        QCOMPARE(found.first().at(0).toBool(), true);
        QTRY_VERIFY_WITH_TIMEOUT(!g_overallVariate->getBusy(), timescale::ms(10000));
        w->labelPageClickSlot(QStringLiteral("Setting"));
        QPointer<Setting> page = w->settingPage();
        QVERIFY(page);
        QSignalSpy handed(page.data(), &Setting::emitUpdateFU);
        g_overallVariate->emitDownloadFirmwareUpdateFile();
        QTRY_VERIFY_WITH_TIMEOUT(!handed.isEmpty(), timescale::ms(10000));
        const QString folder = handed.first().at(0).toString();
        QCOMPARE(QDir(folder).canonicalPath(), QDir(m_app->filePath("UpgradeFirmware/TK104 Dual")).canonicalPath());
        QVERIFY(!g_overallVariate->updateWidget()->isVisible());
        if (!image.isEmpty()) {
            QCOMPARE(readFile(folder + QStringLiteral("/qv_usb_app_9.bin")), image);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes().size(), 1, timescale::ms(10000));
            QVERIFY(boxes.boxes().at(0).text.endsWith("qv_usb_app_9.bin: is empty"));
            QCOMPARE(stagedWhileTold, QStringList());
        }
        w.reset();
    }
};

QTEST_MAIN(UpdateWindow)
#include "test_updatewindow.moc"
