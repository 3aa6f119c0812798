// The update dialog: its automatic-check file, the checking text, how check results, failures, progress
// and the keyboard going offline show, its texts in both languages, and its bounded teardown.
#include "Update/downloadfile.h"
#include "Update/onlineupdate.h"
#include "Update/overallvariate.h"
#include "setting/Language.h"
#include "widget/qss.h"
#include "widget/waterprogressbar.h"
#include "tempappdir.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSemaphore>
#include <QtTest>

#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray writtenForm(const char* value)
{
    return QByteArray("<?xml version='1.0' encoding='UTF-8'?>\n<COMMAND>\n    <Update>\n        <AutoUpdate Auto=\"")
        + value + "\"/>\n    </Update>\n</COMMAND>\n";
}

QString checking(int language, int dots)
{
    return (language == 0 ? QStringLiteral("正在检查新版本，请稍后") : QStringLiteral("Check new version,Please wait"))
        + QString(dots, QChar(0x00B7));
}

QString latest(int language)
{
    return language == 0 ? QStringLiteral("当前已是最新版本！") : QStringLiteral("Current is latest version!");
}

const QString NewVersion = QStringLiteral("Discover new version!");

// While it lives no file grows past 16 bytes: a full disk, which binds root too.
struct FileSizeLimit {
    FileSizeLimit()
    {
        getrlimit(RLIMIT_FSIZE, &old);
        handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 16;
        ok = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, handler);
    }
    rlimit old{};
    void (*handler)(int) = nullptr;
    bool ok = false;
};

} // namespace

class UpdateDialog : public QObject {
    Q_OBJECT
    TempAppDir m_dir;
    overallVariate* m_hub = nullptr;

    QString settingsFile() const { return m_dir.filePath("config/AutoUpdate.xml"); }
    onlineUpdate* dialog() const { return m_hub->updateWidget(); }
    template <typename T> T* child(const char* name) const { return dialog()->findChild<T*>(name); }
    QString tip() const { return child<QLabel>("label_UpdateTip")->text(); }
    QFrame* toolFrame() const { return child<QFrame>("frame_TessarkUpdate"); }
    QFrame* firmwareFrame() const { return child<QFrame>("frame_FirmwareUpdate"); }
    QCheckBox* autoBox() const { return child<QCheckBox>("checkBox_AutoCheckUpdate"); }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }
    WaterProgressbar* ball(const char* label) const { return child<QLabel>(label)->findChild<WaterProgressbar*>(); }
    WaterProgressbar* toolBall() const { return ball("label_Progress"); }
    WaterProgressbar* firmwareBall() const { return ball("label_Firmware_Progress"); }
    // Check, tool upgrade and firmware upgrade buttons: 1 enabled.
    QString buttons() const
    {
        return QString("%1%2%3").arg(button("pushButton_checkUpdate")->isEnabled())
            .arg(button("pushButton_TessarkUpdate")->isEnabled()).arg(button("pushButton_FirmwareUpdate")->isEnabled());
    }
    QString frames() const { return QString("%1%2").arg(toolFrame()->isVisible()).arg(firmwareFrame()->isVisible()); }

    // As the main window does: the language first, then the hub and with it the dialog.
    void createHub(int language = 1)
    {
        g_language = new Language;
        g_language->setLanguageType(language);
        m_hub = new overallVariate;
        g_overallVariate = m_hub;
        m_hub->createUpdateWidget();
        g_language->emitLanguageChange();
    }

private slots:
    void initTestCase()
    {
        qunsetenv("TESSARK_UPDATE_CONFIG"); // no server: a check that reaches the worker ends at once
        setAppDirPathForTest(m_dir.path());
    }
    void cleanupTestCase() { setAppDirPathForTest(QString()); }
    void init() { QFile::remove(settingsFile()); }
    // As the main window's teardown: the language, then the hub, which stops the worker and schedules
    // the dialog's deletion.
    void cleanup()
    {
        QFile::setPermissions(m_dir.filePath("config"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QPointer<onlineUpdate> alive = m_hub ? m_hub->updateWidget() : nullptr;
        delete g_language;
        g_language = nullptr;
        delete m_hub;
        m_hub = nullptr;
        g_overallVariate = nullptr;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!alive);
    }

    // The dot counter belongs to the process and starts at 1: the first check shows one dot, then every
    // 300 ms two, three, one. A later check shows one dot and goes on from where the counter stands.
    void checkingTextCyclesItsDots_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("English") << 1;
        QTest::newRow("Chinese") << 0;
    }
    void checkingTextCyclesItsDots()
    {
        QFETCH(int, language);
        createHub(language);
        if (language == 1)
            QCOMPARE(onlineUpdate::dotCounter(), 1);
        while (onlineUpdate::dotCounter() != 1)
            dialog()->UpdateTipSlot();
        dialog()->startCheckTip();
        QCOMPARE(tip(), checking(language, 1));
        for (int dots : {2, 3, 1})
            QTRY_COMPARE_WITH_TIMEOUT(tip(), checking(language, dots), 1000);
        dialog()->tipTimer()->stop();
        dialog()->UpdateTipSlot();
        dialog()->startCheckTip();
        dialog()->tipTimer()->stop();
        QCOMPARE(tip(), checking(language, 1));
        dialog()->UpdateTipSlot();
        QCOMPARE(tip(), checking(language, 3));
    }

    // config/AutoUpdate.xml at construction: only Update/AutoUpdate counts, the last one winning; "0"
    // (or no number) unchecks the box, which rewrites the file; a file that does not read changes nothing.
    void automaticCheckFileIsRead_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<bool>("on");            // the box and the hub's flag
        QTest::addColumn<QByteArray>("after");   // null: the file as it was
        QTest::newRow("missing file: on") << QByteArray() << true << QByteArray("unread");
        QTest::newRow("malformed: on") << QByteArray("<COMMAND><Update>") << true << QByteArray("unread");
        QTest::newRow("1: on, untouched")
            << QByteArray("<ROOT><Update><AutoUpdate Auto=\"1\"/></Update></ROOT>") << true << QByteArray();
        QTest::newRow("0: off, rewritten")
            << QByteArray("<COMMAND><Update><AutoUpdate Auto=\"0\"/></Update></COMMAND>") << false << writtenForm("0");
        QTest::newRow("not a number: off")
            << QByteArray("<COMMAND><Update><AutoUpdate Auto=\"y\"/></Update></COMMAND>") << false << writtenForm("0");
        QTest::newRow("no Update: nothing")
            << QByteArray("<COMMAND><AutoUpdate Auto=\"0\"/><U><AutoUpdate Auto=\"0\"/></U></COMMAND>") << true
            << QByteArray();
        QTest::newRow("no AutoUpdate: nothing")
            << QByteArray("<COMMAND><Update><Auto Auto=\"0\"/></Update></COMMAND>") << true << QByteArray();
        QTest::newRow("last wins: on")
            << QByteArray("<C><Update><AutoUpdate Auto=\"0\"/></Update><Update><AutoUpdate Auto=\"7\"/></Update></C>")
            << true << writtenForm("2");
    }
    void automaticCheckFileIsRead()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, on);
        QFETCH(QByteArray, after);
        QVERIFY(content.isNull() || m_dir.write("config/AutoUpdate.xml", content));
        if (after == "unread") {
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("读取xml错误"));
            after = QByteArray();
        }
        createHub();
        QCOMPARE(autoBox()->isChecked(), on);
        QCOMPARE(m_hub->getAutoCheckUpdate(), on);
        QCOMPARE(QFile::exists(settingsFile()), !content.isNull());
        QCOMPARE(readFile(settingsFile()), after.isNull() ? content : after);
    }

    // Each change of the box writes the whole file ("0" unchecked, "2" checked); the hub's flag follows
    // the box even when the file cannot be replaced, which then keeps its content.
    void boxChangeWritesTheFile_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("none") << "";
        QTest::newRow("read-only file") << "file";
        QTest::newRow("read-only folder") << "folder";
        QTest::newRow("disk full") << "full";
    }
    void boxChangeWritesTheFile()
    {
        QFETCH(QString, obstacle);
        if ((obstacle == "file" || obstacle == "folder") && ::geteuid() == 0)
            QSKIP("permissions do not bind root");
        const QByteArray old = "<COMMAND><Update><AutoUpdate Auto=\"1\"/></Update></COMMAND>";
        QVERIFY(m_dir.write("config/AutoUpdate.xml", old));
        createHub();
        if (obstacle == "file")
            QVERIFY(QFile::setPermissions(settingsFile(), QFile::ReadOwner));
        if (obstacle == "folder")
            QVERIFY(QFile::setPermissions(m_dir.filePath("config"), QFile::ReadOwner | QFile::ExeOwner));
        std::optional<FileSizeLimit> full;
        if (obstacle == "full")
            QVERIFY(full.emplace().ok);
        QByteArray seen[2];
        for (QByteArray& content : seen) {
            autoBox()->click();
            QCOMPARE(m_hub->getAutoCheckUpdate(), autoBox()->isChecked());
            content = readFile(settingsFile());
        }
        full.reset();
        QCOMPARE(seen[0], obstacle.isEmpty() ? writtenForm("0") : old);
        QCOMPARE(seen[1], obstacle.isEmpty() ? writtenForm("2") : old);
        QCOMPARE(QDir(m_dir.filePath("config")).entryList({"AutoUpdate*"}), QStringList{"AutoUpdate.xml"});
    }

    // Requests leave queued; one that arrives while the worker is busy does nothing, and a check button
    // pressed then is enabled again when the job ends.
    void checkRequests_data()
    {
        QTest::addColumn<int>("source"); // 0 start-up, 1 keyboard online, 2 check button
        QTest::addColumn<bool>("busy");
        for (bool busy : {false, true}) {
            QTest::addRow("start-up%s", busy ? ", busy" : "") << 0 << busy;
            QTest::addRow("keyboard online%s", busy ? ", busy" : "") << 1 << busy;
            QTest::addRow("check button%s", busy ? ", busy" : "") << 2 << busy;
        }
    }
    void checkRequests()
    {
        QFETCH(int, source);
        QFETCH(bool, busy);
        createHub();
        QSignalSpy toWorker(m_hub, source == 1 ? &overallVariate::checkFirmwareUpdateSignal
                                               : &overallVariate::checkUpdateDownloadSignal);
        if (busy)
            m_hub->setBusy(true); // its queued effect on the buttons not yet seen
        if (source == 0)
            m_hub->emitCheckUpdate();
        else if (source == 1)
            m_hub->setOnlinState(true);
        else
            button("pushButton_checkUpdate")->click();
        QCOMPARE(toWorker.count(), source == 2 && !busy ? 1 : 0);
        QCoreApplication::processEvents();
        QCOMPARE(toWorker.count(), busy ? 0 : 1);
        if (!busy)
            return; // what the worker answers is its own matter
        QCOMPARE(tip(), QString());
        QVERIFY(!dialog()->tipTimer()->isActive());
        QCOMPARE(buttons(), QString("000"));
        m_hub->setBusy(false);
        QTRY_COMPARE(buttons(), QString("111"));
    }

    // No keyboard: the tool result ends the check. Nothing new: the nothing-new text, no tool frame, the
    // dialog stays hidden. A newer tool: the dialog shows itself with the tool frame, ready to upgrade.
    void toolResultWithoutKeyboard_data()
    {
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing new, English") << false << 1 << latest(1);
        QTest::newRow("nothing new, Chinese") << false << 0 << latest(0);
        QTest::newRow("newer tool") << true << 1 << NewVersion;
    }
    void toolResultWithoutKeyboard()
    {
        QFETCH(bool, found);
        QFETCH(int, language);
        QFETCH(QString, expected);
        createHub(language);
        dialog()->startCheckTip();
        m_hub->emitTessarkUpdate(found);
        QCOMPARE(tip(), expected);
        QVERIFY(!dialog()->tipTimer()->isActive());
        QCOMPARE(dialog()->isVisible(), found);
        QCOMPARE(frames(), found ? QString("10") : QString("00"));
        QCOMPARE(buttons(), found ? QString("110") : QString("100"));
    }

    // With a keyboard online the tip cycles on after the tool result; the firmware result completes the
    // display, the firmware frame taking the hidden tool frame's place.
    void keyboardOnlineWaitsForTheFirmwareResult_data()
    {
        QTest::addColumn<bool>("tool");
        QTest::addColumn<bool>("firmware");
        QTest::addColumn<QString>("finalTip");
        QTest::addColumn<QString>("shown"); // tool and firmware frames
        QTest::addColumn<int>("firmwareY");
        QTest::newRow("nothing new") << false << false << latest(1) << "00" << 250;
        QTest::newRow("tool only") << true << false << NewVersion << "10" << 250;
        QTest::newRow("firmware only") << false << true << NewVersion << "01" << 100;
        QTest::newRow("both") << true << true << NewVersion << "11" << 250;
    }
    void keyboardOnlineWaitsForTheFirmwareResult()
    {
        QFETCH(bool, tool);
        QFETCH(bool, firmware);
        QFETCH(QString, finalTip);
        QFETCH(QString, shown);
        QFETCH(int, firmwareY);
        createHub();
        m_hub->setAutoCheckUpdate(false);
        m_hub->setOnlinState(true);
        dialog()->startCheckTip();
        m_hub->emitTessarkUpdate(tool);
        QCOMPARE(buttons(), QString("100"));
        QTRY_VERIFY_WITH_TIMEOUT(tip().startsWith(checking(1, 0)) && tip() != checking(1, 1), 2000);
        m_hub->emitFirmwareUpdate(firmware);
        QVERIFY(!dialog()->tipTimer()->isActive());
        QCOMPARE(tip(), finalTip);
        QCOMPARE(frames(), shown);
        QCOMPARE(firmwareFrame()->pos(), QPoint(40, firmwareY));
        QCOMPARE(buttons(), firmware ? QString("111") : QString("110"));
        QCOMPARE(dialog()->isVisible(), tool || firmware);
    }

    // A firmware frame moved up into the tool frame's place goes back below it when the tool frame shows.
    void firmwareFrameReturnsBelowTheToolFrame()
    {
        createHub();
        m_hub->emitFirmwareUpdate(true);
        QCOMPARE(firmwareFrame()->pos(), QPoint(40, 100));
        m_hub->emitTessarkUpdate(true);
        QCOMPARE(frames(), QString("11"));
        QCOMPARE(firmwareFrame()->pos(), QPoint(40, 250));
        m_hub->emitFirmwareUpdate(true);
        QCOMPARE(firmwareFrame()->pos(), QPoint(40, 250));
    }

    // Offline: the firmware frame and its progress ball go; the tip becomes a single space only when the
    // tool frame is not shown either.
    void keyboardGoingOffline_data()
    {
        QTest::addColumn<bool>("tool");
        QTest::addColumn<QString>("expected");
        QTest::newRow("firmware frame only") << false << " ";
        QTest::newRow("tool frame too") << true << NewVersion;
    }
    void keyboardGoingOffline()
    {
        QFETCH(bool, tool);
        QFETCH(QString, expected);
        createHub();
        m_hub->emitFirmwareUpdate(true);
        if (tool)
            m_hub->emitTessarkUpdate(true);
        firmwareBall()->value = 2;
        firmwareBall()->show();
        m_hub->setOnlinState(false);
        QCOMPARE(frames(), tool ? QString("10") : QString("00"));
        QCOMPARE(tip(), expected);
        QVERIFY(firmwareBall()->isHidden() && firmwareBall()->value == 0);
    }

    // The upgrade buttons reset and show their 80 x 60 ball and ask the worker; count and progress go to
    // the ball of the worker's mode (2 tool files, 5 firmware files) and nowhere in any other mode.
    void progressFollowsTheDownloadMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("balls"); // tool value/maximum, firmware value/maximum
        for (int mode : {0, 1, 3, 4})
            QTest::addRow("mode %d", mode) << mode << "0/100 0/100";
        QTest::newRow("tool files") << 2 << "3/4 0/100";
        QTest::newRow("firmware files") << 5 << "0/100 3/4";
    }
    void progressFollowsTheDownloadMode()
    {
        QFETCH(int, mode);
        QFETCH(QString, balls);
        createHub();
        m_hub->setBusy(true); // the worker refuses the downloads asked for below
        m_hub->emitTessarkUpdate(true);
        m_hub->emitFirmwareUpdate(true);
        toolBall()->value = firmwareBall()->value = 9;
        QSignalSpy tool(m_hub, &overallVariate::dowmloadTessarkUpdateFileSignal);
        QSignalSpy firmware(m_hub, &overallVariate::dowmloadFirmwareUpdateFileSignal);
        button("pushButton_TessarkUpdate")->click();
        button("pushButton_FirmwareUpdate")->click();
        QCOMPARE(tool.count() + firmware.count(), 2);
        QVERIFY(toolBall()->isVisible() && firmwareBall()->isVisible() && toolBall()->size() == QSize(80, 60));
        dialog()->worker()->setDownloadMode(mode);
        m_hub->emitDownloadNumber(4);
        m_hub->emitDownloadProgress(3);
        QCOMPARE(QString("%1/%2 %3/%4").arg(toolBall()->value).arg(toolBall()->maximum).arg(firmwareBall()->value)
                     .arg(firmwareBall()->maximum), balls);
    }

    // A failed job: the failure text (its message only in the log), the timer stopped, the buttons back
    // (busy cleared first), the progress balls hidden.
    void failureShowsTheFailureText_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("text");
        QTest::newRow("English") << 1 << "Update failed, Please later retry!";
        QTest::newRow("Chinese") << 0 << QStringLiteral("升级失败，请稍后重试！");
    }
    void failureShowsTheFailureText()
    {
        QFETCH(int, language);
        QFETCH(QString, text);
        createHub(language);
        m_hub->emitTessarkUpdate(true);
        m_hub->emitFirmwareUpdate(true);
        m_hub->setBusy(true);
        QTRY_COMPARE(buttons(), QString("000"));
        toolBall()->show();
        firmwareBall()->show();
        dialog()->startCheckTip();
        m_hub->setBusy(false);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("下载出错了.*host not found"));
        m_hub->emitErrorInfo("host not found");
        QTRY_COMPARE(tip(), text);
        QVERIFY(!dialog()->tipTimer()->isActive());
        QCOMPARE(buttons(), QString("111"));
        QVERIFY(toolBall()->isHidden() && firmwareBall()->isHidden());
    }

    // The language signal retranslates the title, the box and the buttons, not the tip.
    void languageChangeRetranslates_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("texts"); // title, box, check button, both upgrade buttons
        QTest::newRow("English") << 1 << "Online Upgrade|Auto Check Update|Check Update|Upgrade|Upgrade";
        QTest::newRow("Chinese") << 0 << "在线升级|自动检查更新|检查更新|立即升级|立即升级";
    }
    void languageChangeRetranslates()
    {
        QFETCH(int, language);
        QFETCH(QString, texts);
        createHub(1 - language);
        m_hub->emitTessarkUpdate(false);
        const QString before = tip();
        g_language->setLanguageType(language);
        QCOMPARE(QStringList({dialog()->windowTitle(), autoBox()->text(), button("pushButton_checkUpdate")->text(),
                              button("pushButton_TessarkUpdate")->text(), button("pushButton_FirmwareUpdate")->text()})
                     .join('|'), texts);
        QCOMPARE(tip(), before);
    }

    // Deleting the dialog stops its worker's thread: an idle or briefly busy worker is waited for and goes
    // with it; one busy past the bounded wait is left running (logged) and the deletion returns.
    void teardownWaitIsBounded_data()
    {
        QTest::addColumn<int>("busyMs"); // -1: until released
        QTest::newRow("idle") << 0;
        QTest::newRow("busy 500 ms") << 500;
        QTest::newRow("busy past the wait") << -1;
    }
    void teardownWaitIsBounded()
    {
        QFETCH(int, busyMs);
        createHub();
        const QPointer<DownloadFile> worker = dialog()->worker();
        const QPointer<QThread> thread = dialog()->workerThread();
        QSemaphore started, release;
        if (busyMs != 0) {
            QMetaObject::invokeMethod(worker, [&] {
                started.release();
                busyMs > 0 ? QThread::msleep(busyMs) : release.acquire();
            }, Qt::QueuedConnection);
            started.acquire();
        }
        if (busyMs < 0)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("did not stop within 3000 ms"));
        QElapsedTimer clock;
        clock.start();
        delete dialog();
        const qint64 elapsed = clock.elapsed();
        if (busyMs >= 0) {
            QVERIFY2(elapsed < busyMs + 1500, QByteArray::number(elapsed));
            QVERIFY(!thread && !worker);
            return;
        }
        QVERIFY2(elapsed >= onlineUpdate::WorkerStopWaitMs - 50 && elapsed < onlineUpdate::WorkerStopWaitMs + 1500,
                 QByteArray::number(elapsed));
        QVERIFY(thread && thread->isRunning() && worker && worker->stopRequested());
        // Once its job returns the thread ends and the worker deletes itself there.
        release.release();
        QVERIFY(thread->wait(5000));
        QVERIFY(!worker);
        delete thread.data();
    }

    // Both frames rendered offscreen; TESSARK_SCREENSHOT_DIR keeps the pictures.
    void rendersWithBothFrames_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("en") << 1;
        QTest::newRow("zh") << 0;
    }
    void rendersWithBothFrames()
    {
        QFETCH(int, language);
        createHub(language);
        m_hub->emitTessarkUpdateInfo(language ? "Version 1.2.0: faster loading." : "版本 1.2.0：加载更快。");
        m_hub->emitFirmwareUpdateInfo(language ? "Firmware 2.1.0: fixes the sleep timer." : "固件 2.1.0：修复休眠。");
        m_hub->emitTessarkUpdate(true);
        m_hub->emitFirmwareUpdate(true);
        toolBall()->value = 1;
        toolBall()->maximum = 3;
        toolBall()->show();
        QTest::qWait(200);
        const QImage image = dialog()->grab().toImage();
        QCOMPARE(image.size(), QSize(620, 430));
        const QString dir = qEnvironmentVariable("TESSARK_SCREENSHOT_DIR");
        if (!dir.isEmpty())
            QVERIFY(image.save(dir + "/updatedialog-" + QTest::currentDataTag() + ".png"));
    }
};

QTEST_MAIN(UpdateDialog)
#include "test_updatedialog.moc"
