// The update hub: its flags and their signals, the firmware information, the tool's version from
// about.xml, and the order in which the worker's thread reaches the GUI thread.
#include "tempappdir.h"
#include "Update/downloadfile.h"
#include "Update/onlineupdate.h"
#include "Update/overallvariate.h"
#include "setting/Language.h"
#include "widget/qss.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

class UpdateHub : public QObject {
    Q_OBJECT

    std::unique_ptr<TempAppDir> m_app;

private slots:
    void init()
    {
        m_app.reset(new TempAppDir);
        setAppDirPathForTest(m_app->path());
    }
    void cleanup()
    {
        g_overallVariate = nullptr;
        m_app.reset();
    }

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
        QTest::newRow("online then offline") << true << QList<bool>{true, false} << 1 << 1;
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

    void busyIsAnnouncedEvenUnchanged()
    {
        overallVariate hub;
        QSignalSpy busy(&hub, &overallVariate::threadBusySignal);
        hub.setBusy(false);
        hub.setBusy(true);
        hub.setBusy(true);
        QCOMPARE(busy.size(), 3);
        QCOMPARE(busy.at(0).at(0).toBool(), false);
        QCOMPARE(busy.at(2).at(0).toBool(), true);
        QVERIFY(hub.getBusy());
    }

    void firmwareInfoIsCopiedAndClearedAlone()
    {
        overallVariate hub;
        hub.setBusy(true);
        hub.setOnlinState(true);
        hub.setAutoCheckUpdate(false);
        hub.setFirmwareInfo(QStringLiteral("TK104 Dual"), QStringLiteral("1.2.3"), 1, QStringLiteral("0.0.4"),
                            QStringLiteral("0.0.5"), QStringLiteral("10.0.5"));
        FirmwareInfo info = hub.getFirmwareInfo();
        QCOMPARE(info.modelDir, QStringLiteral("TK104 Dual"));
        QCOMPARE(info.usbAppVersion, QStringLiteral("1.2.3"));
        QCOMPARE(info.modelType, 1);
        QCOMPARE(info.btAppVersion, QStringLiteral("0.0.4"));
        QCOMPARE(info.btSdVersion, QStringLiteral("0.0.5"));
        QCOMPARE(info.hardwareVersion, QStringLiteral("10.0.5"));
        info.modelDir = QStringLiteral("changed"); // a copy, not the hub's own
        QCOMPARE(hub.getFirmwareInfo().modelDir, QStringLiteral("TK104 Dual"));

        hub.clearFirmwareInfo();
        info = hub.getFirmwareInfo();
        QVERIFY(info.modelDir.isEmpty() && info.usbAppVersion.isEmpty() && info.btAppVersion.isEmpty()
                && info.btSdVersion.isEmpty() && info.hardwareVersion.isEmpty());
        QCOMPARE(info.modelType, 0);
        QVERIFY(hub.getBusy() && hub.getOnlinState() && !hub.getAutoCheckUpdate());
    }

    void toolVersionFromAboutFile_data()
    {
        QTest::addColumn<QByteArray>("about");
        QTest::addColumn<QString>("version");
        QTest::newRow("missing") << QByteArray() << QString();
        QTest::newRow("not well-formed") << QByteArray("<COMMAND><firmware") << QString();
        QTest::newRow("root without children") << QByteArray("<COMMAND/>") << QString();
        QTest::newRow("no firmware element") << QByteArray("<COMMAND><title title=\"x 1.0.0\"/></COMMAND>")
                                             << QString();
        QTest::newRow("last word") << QByteArray("<COMMAND><firmware firmware=\"Tessark 1.0.3\"/></COMMAND>")
                                   << QStringLiteral("1.0.3");
        QTest::newRow("the last element wins")
            << QByteArray("<COMMAND><firmware firmware=\"A 1.0.1\"/><x/><firmware firmware=\"B 2.0.0\"/></COMMAND>")
            << QStringLiteral("2.0.0");
        QTest::newRow("no space: whole") << QByteArray("<COMMAND><firmware firmware=\"1.0.7\"/></COMMAND>")
                                         << QStringLiteral("1.0.7");
        QTest::newRow("trailing space: empty") << QByteArray("<COMMAND><firmware firmware=\"A 1.0.7 \"/></COMMAND>")
                                               << QString();
        QTest::newRow("tag case differs") << QByteArray("<COMMAND><Firmware firmware=\"A 1.0.7\"/></COMMAND>")
                                          << QString();
    }
    void toolVersionFromAboutFile()
    {
        QFETCH(QByteArray, about);
        if (!about.isNull())
            QVERIFY(m_app->write(QStringLiteral("config/about.xml"), about));
        QTEST(overallVariate::getTessarkVersions(), "version");
    }

    // The worker hides the dialog from its thread and then hands over the firmware folder: the window
    // must find the dialog hidden when the folder arrives.
    void hideReachesTheDialogBeforeTheFolder()
    {
        Language language;
        g_language = &language;
        overallVariate hub;
        g_overallVariate = &hub;
        hub.setBusy(true); // no check of its own gets in the way
        hub.createUpdateWidget();
        QPointer<onlineUpdate> dialog = hub.updateWidget();
        QVERIFY(dialog);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));

        QList<bool> visibleAtFolder;
        connect(&hub, &overallVariate::emitUpdateSignal, this,
                [&](const QString&) { visibleAtFolder << dialog->isVisible(); });
        QThread* gui = QThread::currentThread();
        QThread other;
        other.start();
        QObject runner;
        runner.moveToThread(&other);
        std::atomic<bool> offGui{false};
        QMetaObject::invokeMethod(&runner, [&hub, gui, &offGui] {
            offGui = QThread::currentThread() != gui;
            hub.hideUpdateWidget();
            hub.emitUpdate(QStringLiteral("/staged"));
        });
        QTRY_COMPARE(visibleAtFolder.size(), 1);
        QCOMPARE(visibleAtFolder.first(), false);
        QVERIFY(offGui);
        other.quit();
        QVERIFY(other.wait(5000));
        g_overallVariate = nullptr;
        g_language = nullptr;
    }

    // Requests go to the worker's thread; what it reports arrives on the GUI thread in emission order.
    void requestsRunOnTheWorkersThreadAndResultsArriveInOrder()
    {
        Language language;
        g_language = &language;
        overallVariate hub;
        g_overallVariate = &hub;
        hub.setAutoCheckUpdate(false);
        hub.createUpdateWidget();
        onlineUpdate* dialog = hub.updateWidget();
        QVERIFY(dialog && dialog->worker());
        QThread* workerThread = dialog->workerThread();
        QVERIFY(workerThread && workerThread != QThread::currentThread());

        // No server is configured: the tool check fails at once, on the worker's thread.
        QThread* failedOn = nullptr;
        connect(&hub, &overallVariate::ErrorInfoSignal, this, [&] { failedOn = QThread::currentThread(); },
                Qt::DirectConnection);
        QSignalSpy errors(&hub, &overallVariate::ErrorInfoSignal);
        hub.emitCheckUpdateDownload();
        QTRY_COMPARE(errors.size(), 1);
        QCOMPARE(failedOn, workerThread);
        QVERIFY(!hub.getBusy());

        QStringList received;
        connect(&hub, &overallVariate::downloadNumberSignal, this,
                [&](int n) { received << QStringLiteral("n%1").arg(n); });
        connect(&hub, &overallVariate::downloadProgressSignal, this,
                [&](int n) { received << QStringLiteral("p%1").arg(n); });
        connect(&hub, &overallVariate::TessarkUpdateSignal, this,
                [&](bool found) { received << QStringLiteral("t%1").arg(found); });
        QMetaObject::invokeMethod(dialog->worker(), [&hub] {
            hub.emitTessarkUpdate(true);
            hub.emitDownloadNumber(3);
            for (int i = 1; i <= 3; ++i)
                hub.emitDownloadProgress(i);
        });
        QTRY_COMPARE(received.size(), 5);
        QCOMPARE(received, QStringList({"t1", "n3", "p1", "p2", "p3"}));
        QVERIFY(hub.stopWorker());
        g_overallVariate = nullptr;
        g_language = nullptr;
    }

    void destroyingTheHubStopsTheWorker()
    {
        Language language;
        g_language = &language;
        QPointer<QThread> thread;
        {
            overallVariate hub;
            g_overallVariate = &hub;
            hub.setAutoCheckUpdate(false);
            hub.createUpdateWidget();
            thread = hub.updateWidget()->workerThread();
            QVERIFY(thread && thread->isRunning());
        }
        g_overallVariate = nullptr;
        QVERIFY(!thread || !thread->isRunning());
        QTest::qWait(0); // the dialog's deferred deletion
        g_language = nullptr;
    }
};

QTEST_MAIN(UpdateHub)
#include "test_updatehub.moc"
