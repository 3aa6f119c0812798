// The main window's side of the online update, with emulated keyboards and local update servers: the
// checks it asks for, what it leaves behind without a server, its quit while the worker waits for a time
// server, and a downloaded firmware folder reaching the settings page.
#include "messageboxrecorder.h"
#include "tempappdir.h"
#include "updateserver.h"

#include "Update/onlineupdate.h"
#include "Update/overallvariate.h"
#include "device/device.h"
#include "main/tessark.h"
#include "setting/setting.h"
#include "simcontrol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <memory>

namespace {
const QByteArray SigningKey = "abcdefg0123456789abcdef0123456789abcdef0";
const QString Board = QStringLiteral("TK104 Dual");
const QString VersionFile = QStringLiteral("/UpgradeFirmware/TK104%20Dual/VersionFile/FirmwareVersion.ini");

// A request line of the log whose path is this (query and protocol aside).
bool requested(const sim::UpdateServers& servers, const QString& encodedPath)
{
    for (const QString& line : servers.requestLines())
        if (line.section(QLatin1Char(' '), 1, 1).section(QLatin1Char('?'), 0, 0) == encodedPath)
            return true;
    return false;
}
} // namespace

class UpdateWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<TempAppDir> m_app;
    QTemporaryDir m_serverRoot;

    static bool waitLoaded(Tessark& w)
    {
        return QTest::qWaitFor([&] { return w.deviceLoaded() && w.device() && w.device()->boardName() == Board; },
                               20000);
    }
    bool serve(const QString& relative, const QByteArray& content)
    {
        const QString path = m_serverRoot.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
    }
    // Points the tool at the servers (the file TESSARK_UPDATE_CONFIG names).
    bool configure(const sim::UpdateServers& servers)
    {
        const QString ini = m_app->filePath(QStringLiteral("servers.ini"));
        qputenv("TESSARK_UPDATE_CONFIG", ini.toUtf8());
        return servers.writeConfig(ini);
    }
    bool stagingLeft() const
    {
        return QDir(m_app->filePath(QStringLiteral("UpgradeTessark"))).exists()
            || QDir(m_app->filePath(QStringLiteral("UpgradeFirmware"))).exists();
    }

private slots:
    void init()
    {
        m_app.reset(new TempAppDir);
        QVERIFY(m_app->setUpForWindow(QFINDTESTDATA("../appdir")));
        // The shipped tool version, current on the server unless a test offers another.
        QVERIFY(serve(QStringLiteral("UpgradeTessark/Windows/VersionFile/TessarkVersion.ini"),
                      "[TessarkVersion]\nVersion=1.0.0\nEnglishUpdateInfo=same\n"));
    }
    void cleanup()
    {
        qunsetenv("TESSARK_UPDATE_CONFIG");
        sim::reset();
        m_app.reset();
    }

    // As shipped: no server. Start, load, unplug and Exit make no folder, show nothing, and the
    // worker's thread is gone at the end.
    void withoutAServerNothingIsLeftBehind()
    {
        auto kb = sim::plug(sim::fullSizeDual());
        auto w = std::make_unique<Tessark>(nullptr, QStringLiteral("None"));
        QVERIFY(g_overallVariate && g_overallVariate->getAutoCheckUpdate());
        QPointer<onlineUpdate> dialog = g_overallVariate->updateWidget();
        QVERIFY(dialog);
        QPointer<QThread> thread = dialog->workerThread();
        QVERIFY(thread && thread->isRunning());
        QSignalSpy errors(g_overallVariate, &overallVariate::ErrorInfoSignal);
        QVERIFY(waitLoaded(*w));
        QTRY_VERIFY(errors.size() >= 1 && !g_overallVariate->getBusy());
        sim::unplug(kb);
        QTRY_VERIFY(!w->deviceLoaded() && !g_overallVariate->getOnlinState());
        QVERIFY(!dialog->isVisible());

        w->exitAppActionSlot();
        QTRY_VERIFY_WITH_TIMEOUT(!g_overallVariate, 5000);
        QVERIFY(!thread || !thread->isRunning());
        QVERIFY(!dialog || !dialog->isVisible());
        QVERIFY(!stagingLeft());
        w.reset();
    }

    // A loaded keyboard asks for its model's firmware version file, the board name encoded.
    void loadAsksForTheModelsVersionFile()
    {
        sim::UpdateServers servers(m_serverRoot.path(), SigningKey);
        QVERIFY(servers.start());
        QVERIFY(configure(servers));
        auto kb = sim::plug(sim::fullSizeDual());
        Tessark w(nullptr, QStringLiteral("None"));
        QVERIFY(waitLoaded(w));
        QTRY_VERIFY_WITH_TIMEOUT(requested(servers, VersionFile), 10000);
        QVERIFY(requested(servers, QStringLiteral("/UpgradeTessark/Windows/VersionFile/TessarkVersion.ini")));
        QCOMPARE(servers.forbiddenCount(), 0);
        QTRY_VERIFY(!g_overallVariate->getBusy());
        QVERIFY(!g_overallVariate->updateWidget()->isVisible()); // nothing newer: nothing shown
    }

    // The worker blocks on a time server that never answers; Exit still ends with the quit sequence.
    void exitWhileATimeServerIsSilentEndsPromptly()
    {
        sim::UpdateServers servers(m_serverRoot.path(), SigningKey);
        QVERIFY(servers.start());
        servers.setDaytimeMode(0, sim::DaytimeMode::Silence);
        QVERIFY(configure(servers));
        auto w = std::make_unique<Tessark>(nullptr, QStringLiteral("None"));
        QTRY_VERIFY(servers.daytimeConnections(0) >= 1 && g_overallVariate->getBusy());
        QElapsedTimer clock;
        clock.start();
        w->exitAppActionSlot();
        QTRY_VERIFY_WITH_TIMEOUT(!g_overallVariate, 10000);
        // The quit sequence takes two 500 ms ticks; the worker may add at most one of its wait slices.
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        w.reset();
    }

    // A firmware download ends on the settings page with the folder of the staged image.
    void downloadedFirmwareReachesTheSettingsPage()
    {
        const QByteArray image(3000, '\x5a');
        QVERIFY(serve(QStringLiteral("UpgradeFirmware/TK104 Dual/VersionFile/FirmwareVersion.ini"),
                      "[FirmwareVersion]\nqv_usb_app_Version=700.0.0\nEnglishUpdateInfo=new firmware\n"));
        QVERIFY(serve(QStringLiteral("UpgradeFirmware/TK104 Dual/URLFile/FirmwareFileURL.xml"),
                      "<root><Firmware_FileURL><FileURL qv_usb_app=\"/qv_usb_app_9.bin\" qv_bt_app=\"\" "
                      "qv_bt_sd=\"\"/></Firmware_FileURL></root>"));
        QVERIFY(serve(QStringLiteral("UpgradeFirmware/TK104 Dual/qv_usb_app_9.bin"), image));
        sim::UpdateServers servers(m_serverRoot.path(), SigningKey);
        QVERIFY(servers.start());
        QVERIFY(configure(servers));
        MessageBoxRecorder boxes;
        auto kb = sim::plug(sim::fullSizeDual());
        auto w = std::make_unique<Tessark>(nullptr, QStringLiteral("None"));
        QSignalSpy found(g_overallVariate, &overallVariate::FirmwareUpdateSignal);
        QVERIFY(waitLoaded(*w));
        QTRY_VERIFY_WITH_TIMEOUT(!found.isEmpty(), 10000);
        QCOMPARE(found.first().at(0).toBool(), true);
        QTRY_VERIFY(!g_overallVariate->getBusy());

        w->labelPageClickSlot(QStringLiteral("Setting"));
        QPointer<Setting> page = w->settingPage();
        QVERIFY(page);
        QSignalSpy handed(page.data(), &Setting::emitUpdateFU);
        g_overallVariate->emitDownloadFirmwareUpdateFile();
        QTRY_VERIFY_WITH_TIMEOUT(!handed.isEmpty(), 10000);
        const QString folder = handed.first().at(0).toString();
        QCOMPARE(QDir(folder).canonicalPath(),
                 QDir(m_app->filePath(QStringLiteral("UpgradeFirmware/TK104 Dual"))).canonicalPath());
        QCOMPARE(readFile(folder + QStringLiteral("/qv_usb_app_9.bin")), image);
        QVERIFY(!g_overallVariate->updateWidget()->isVisible());
        w.reset();
    }
};

QTEST_MAIN(UpdateWindow)
#include "test_updatewindow.moc"
