// The update hub: its flags and their signals, the firmware information, the tool's version from
// about.xml, the worker's thread and the order in which its reports reach the GUI thread.
#include "tempappdir.h"
#include "Update/downloadfile.h"
#include "Update/onlineupdate.h"
#include "Update/overallvariate.h"
#include "setting/Language.h"
#include "widget/qss.h"
#include "timescale.h"

#include <QPointer>
#include <memory>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

namespace {
// The thread each Hide event of the watched widget is delivered on.
struct HideWatch : QObject {
    QThread* thread = nullptr;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Hide)
            thread = QThread::currentThread();
        return false;
    }
};
} // namespace

class UpdateHub : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    std::unique_ptr<Language> m_language; // made once the application folder is set: it keeps its file's path

private slots:
    void initTestCase()
    {
        qunsetenv("TESSARK_UPDATE_CONFIG"); // no server: a check ends at once
        setAppDirPathForTest(m_app.path());
        m_language = std::make_unique<Language>();
        g_language = m_language.get();
    }
    void cleanup() { g_overallVariate = nullptr; }

    void onlineStateSignals_data()
    {
        QTest::addColumn<bool>("autoCheck");
        QTest::addColumn<QList<bool>>("calls");
        QTest::addColumn<int>("firmwareChecks");
        QTest::addColumn<int>("offline");
        QTest::newRow("online, checking on") << true << QList<bool>{true} << 1 << 0;
        QTest::newRow("online twice, checking on") << true << QList<bool>{true, true} << 2 << 0;
        QTest::newRow("online, checking off") << false << QList<bool>{true} << 0 << 0;
        QTest::newRow("offline, checking on") << true << QList<bool>{false} << 0 << 1;
        QTest::newRow("offline, checking off") << false << QList<bool>{false} << 0 << 1;
    }
    void onlineStateSignals()
    {
        QFETCH(bool, autoCheck);
        QFETCH(QList<bool>, calls);
        overallVariate hub;
        QVERIFY(hub.getAutoCheckUpdate()); // on until AutoUpdate.xml says otherwise
        hub.setAutoCheckUpdate(autoCheck);
        QSignalSpy checks(&hub, &overallVariate::checkUpdateSignalFirmware);
        QSignalSpy offline(&hub, &overallVariate::DeviceOfflineSignal);
        for (bool online : calls)
            hub.setOnlinState(online);
        QTEST(int(checks.size()), "firmwareChecks");
        QTEST(int(offline.size()), "offline");
        QCOMPARE(hub.getOnlinState(), calls.last());
    }

    // Busy is announced even when unchanged; clearing the firmware information leaves the three flags.
    void busyAndFirmwareInfo()
    {
        overallVariate hub;
        QSignalSpy busy(&hub, &overallVariate::threadBusySignal);
        hub.setBusy(true);
        hub.setBusy(true);
        QCOMPARE(busy, (QList<QList<QVariant>>{{true}, {true}}));
        hub.setOnlinState(true);
        hub.setAutoCheckUpdate(false);
        hub.setFirmwareInfo("TK104 Dual", "1.2.3", 1, "0.0.4", "0.0.5", "10.0.5");
        FirmwareInfo info = hub.getFirmwareInfo();
        QCOMPARE(QStringList({info.modelDir, info.usbAppVersion, info.btAppVersion, info.btSdVersion, info.hardwareVersion}),
                 QStringList({"TK104 Dual", "1.2.3", "0.0.4", "0.0.5", "10.0.5"}));
        QCOMPARE(info.modelType, 1);
        info.modelDir = "changed"; // a copy, not the hub's own
        QCOMPARE(hub.getFirmwareInfo().modelDir, QStringLiteral("TK104 Dual"));
        hub.clearFirmwareInfo();
        info = hub.getFirmwareInfo();
        QVERIFY((info.modelDir + info.usbAppVersion + info.btAppVersion + info.btSdVersion + info.hardwareVersion).isEmpty());
        QCOMPARE(info.modelType, 0);
        QVERIFY(hub.getBusy() && hub.getOnlinState() && !hub.getAutoCheckUpdate());
    }

    void toolVersionFromAboutFile_data()
    {
        QTest::addColumn<QByteArray>("about");
        QTest::addColumn<QString>("version");
        QTest::newRow("missing") << QByteArray() << QString();
        QTest::newRow("root without children") << QByteArray("<COMMAND/>") << QString();
        QTest::newRow("no firmware element") << QByteArray("<COMMAND><title title=\"x 1.0.0\"/></COMMAND>") << QString();
        QTest::newRow("last word") << QByteArray("<COMMAND><firmware firmware=\"Tessark 1.0.3\"/></COMMAND>") << "1.0.3";
        QTest::newRow("the last element wins")
            << QByteArray("<COMMAND><firmware firmware=\"A 1.0.1\"/><x/><firmware firmware=\"B 2.0.0\"/></COMMAND>") << "2.0.0";
        QTest::newRow("no space: whole") << QByteArray("<COMMAND><firmware firmware=\"1.0.7\"/></COMMAND>") << "1.0.7";
        QTest::newRow("trailing space: empty") << QByteArray("<COMMAND><firmware firmware=\"A 1.0.7 \"/></COMMAND>") << "";
        QTest::newRow("tag case differs") << QByteArray("<COMMAND><Firmware firmware=\"A 1.0.7\"/></COMMAND>") << "";
    }
    void toolVersionFromAboutFile()
    {
        QFETCH(QByteArray, about);
        QFile::remove(m_app.filePath("config/about.xml"));
        QVERIFY(about.isNull() || m_app.write("config/about.xml", about));
        QTEST(overallVariate::getTessarkVersions(), "version");
    }

    // Requests go to the worker's thread; what it reports arrives on the GUI thread in emission order,
    // a hide it asks for before handing over the firmware folder included.
    void requestsRunOnTheWorkersThreadAndResultsArriveInOrder()
    {
        overallVariate hub;
        g_overallVariate = &hub;
        hub.setAutoCheckUpdate(false);
        hub.createUpdateWidget();
        onlineUpdate* dialog = hub.updateWidget();
        QThread* workerThread = dialog->workerThread();
        QVERIFY(workerThread && workerThread != QThread::currentThread());

        // No server is configured: the tool check fails at once, on the worker's thread.
        QThread* failedOn = nullptr;
        connect(&hub, &overallVariate::ErrorInfoSignal, this, [&] { failedOn = QThread::currentThread(); },
                Qt::DirectConnection);
        hub.emitCheckUpdateDownload();
        QTRY_COMPARE_WITH_TIMEOUT(failedOn, workerThread, timescale::ms(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!hub.getBusy(), timescale::ms(10000));

        QStringList received;
        connect(&hub, &overallVariate::TessarkUpdateSignal, this, [&](bool found) { received << QString("t%1").arg(found); });
        connect(&hub, &overallVariate::downloadNumberSignal, this, [&](int n) { received << QString("n%1").arg(n); });
        connect(&hub, &overallVariate::downloadProgressSignal, this, [&](int n) { received << QString("p%1").arg(n); });
        connect(&hub, &overallVariate::emitUpdateSignal, this,
                [&](const QString& folder) { received << folder + (dialog->isVisible() ? " shown" : " hidden"); });
        HideWatch hides;
        dialog->installEventFilter(&hides);
        QMetaObject::invokeMethod(dialog->worker(), [&hub] {
            hub.emitTessarkUpdate(true); // shows the dialog
            hub.emitDownloadNumber(3);
            for (int i = 1; i <= 3; ++i)
                hub.emitDownloadProgress(i);
            hub.hideUpdateWidget();
            hub.emitUpdate("/staged");
        });
        QTRY_COMPARE_WITH_TIMEOUT(received, QStringList({"t1", "n3", "p1", "p2", "p3", "/staged hidden"}), timescale::ms(10000));
        QCOMPARE(hides.thread, QThread::currentThread());
        dialog->removeEventFilter(&hides);
        QVERIFY(hub.stopWorker());
    }

    void destroyingTheHubStopsTheWorker()
    {
        QPointer<QThread> thread;
        std::unique_ptr<QSignalSpy> threadFinished;
        {
            overallVariate hub;
            g_overallVariate = &hub;
            hub.setAutoCheckUpdate(false);
            hub.createUpdateWidget();
            thread = hub.updateWidget()->workerThread();
            QVERIFY(thread && thread->isRunning());
            threadFinished.reset(new QSignalSpy(thread.data(), &QThread::finished));
        }
        QCOMPARE(threadFinished->count(), 1);
        QTest::qWait(0); // the dialog's deferred deletion
    }
};

QTEST_MAIN(UpdateHub)
#include "test_updatehub.moc"
