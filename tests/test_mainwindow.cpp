// The main window with emulated keyboards: shell, discovery, loading, switching, unplugging, closing.
#include "logrecorder.h"
#include "messageboxrecorder.h"
#include "tempappdir.h"
#include "Update/overallvariate.h"
#include "device/device.h"
#include "device/usb.h"
#include "main/tessark.h"
#include "setting/Language.h"
#include "simcontrol.h"
#include "widget/menu.h"
#include "widget/menutree.h"
#include "widget/qss.h"
#include "widget/tablabel.h"
#include "timescale.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {
QStringList trayTexts(const Tessark& w)
{
    QStringList texts;
    for (QAction* a : w.trayMenu()->actions())
        texts << a->text();
    return texts;
}

// Every tab's text, hidden ones too; the macro tab last.
QStringList tabTexts(const Tessark& w)
{
    QStringList texts;
    for (TabLabel* tab : w.tabList() + QVector<TabLabel*>{w.macroTab()})
        texts << tab->text3();
    return texts;
}

QImage iconImage(const QIcon& icon) { return icon.pixmap(16, 16).toImage(); }

QList<int> tabXs(const Tessark& w)
{
    QList<int> xs;
    for (TabLabel* tab : w.tabList())
        if (!tab->isHidden())
            xs << tab->x();
    return xs;
}
}

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempAppDir> m_app;
    TempDir m_xdg;
    TempDir m_runtime;

    // The sample family's files in a fresh application folder; config.xml optionally edited.
    void makeAppDir(const QByteArray& from = QByteArray(), const QByteArray& to = QByteArray())
    {
        m_app.reset(new TempAppDir);
        QDirIterator it(QFINDTESTDATA("../appdir"), QDir::Files, QDirIterator::Subdirectories);
        const QString root = QFINDTESTDATA("../appdir");
        while (it.hasNext()) {
            const QString file = it.next();
            QByteArray content = readFile(file);
            if (file.endsWith(QLatin1String("config/config.xml")) && !from.isEmpty())
                content.replace(from, to);
            QVERIFY(m_app->write(QDir(root).relativeFilePath(file), content));
        }
        setAppDirPathForTest(m_app->path());
    }

    // ms: the limit on a quiet machine, scaled as every such wait is.
    static bool waitLoaded(Tessark& w, const QString& board, int ms = 20000)
    {
        return QTest::qWaitFor([&] { return w.deviceLoaded() && w.device() && w.device()->boardName() == board; },
                               timescale::ms(ms));
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", m_xdg.path().toUtf8());
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
    }
    void init() { makeAppDir(); }
    void cleanup()
    {
        sim::reset();
        forceTrayAvailable(-1);
    }

    void shellIsBuiltInOrder()
    {
        Tessark w(nullptr, QStringLiteral("None"));
        QVERIFY(w.initFinished());
        QCOMPARE(w.scanTimer().interval(), 500);
        QCOMPARE(w.multiScanTimer().interval(), 500);
        QVERIFY(w.scanTimer().isActive() && w.multiScanTimer().isActive());
        QCOMPARE(w.size(), QSize(980, 750));
        QCOMPARE(w.closeButton()->geometry(), QRect(937, 12, 25, 25));
        QCOMPARE(w.minimizeButton()->geometry(), QRect(907, 12, 25, 25));
        QCOMPARE(w.menuButton()->geometry(), QRect(877, 12, 25, 25));
        QVERIFY(w.disconnectedPicture());
        QCOMPARE(w.disconnectedPicture()->size(), QSize(416, 145));
        w.createDisconPixBackground(); // a second one is not made
        QCOMPARE(w.form()->dynamicLayout->findChildren<QLabel*>().size(), 1);

        QCOMPARE(trayTexts(w), QStringList({"Minimize", "Restore", "Exit"}));
        QVERIFY(w.minimizeTimer().isSingleShot() && !w.minimizeTimer().isActive());

        // The tray icon is white while its menu is open and black once it closed.
        const QImage white = iconImage(QIcon(QStringLiteral("://images/Tessark-icon-tray-mac-white.svg")));
        const QImage black = iconImage(QIcon(QStringLiteral("://images/Tessark-icon-tray-mac-black.svg")));
        QVERIFY(!white.isNull() && white != black);
        QVERIFY(iconImage(w.trayIcon()->icon()) != white && iconImage(w.trayIcon()->icon()) != black);
        w.trayMenu()->popup(QPoint(0, 0));
        QCOMPARE(iconImage(w.trayIcon()->icon()), white);
        w.trayMenu()->hide();
        QCOMPARE(iconImage(w.trayIcon()->icon()), black);

        // Chinese and back: every tab and tray action at once; the title stays.
        g_language->setLanguageType(0);
        QCOMPARE(tabTexts(w), QStringList({"键值", "颜色", "快捷键", "设置", "宏"}));
        QCOMPARE(trayTexts(w), QStringList({"最小化", "还原", "退出"}));
        QCOMPARE(w.windowTitle(), QStringLiteral("Tessark"));
        g_language->setLanguageType(1);
        QCOMPARE(tabTexts(w), QStringList({"KEY", "COLOR", "SHORTCUTS", "SETTING", "MACRO"}));
        QCOMPARE(trayTexts(w), QStringList({"Minimize", "Restore", "Exit"}));

        // Without a record: KEY, SHORTCUTS and SETTING, the key page selected.
        QCOMPARE(tabXs(w), QList<int>({98, 296, 522}));
        QVERIFY(w.tabList().at(0)->isChecked());
        BoardInfo all;
        all.key = all.color = all.shortcuts = all.setting = true;
        w.applyBoardFeatures(&all);
        QCOMPARE(tabXs(w), QList<int>({115, 222, 349, 522}));
        QCOMPARE(w.tabList().at(0)->y(), 26);
    }

    // The macro tab: shown by the record, 35 px right of the last visible listed tab, clicked like the
    // listed tabs; recording bans every tab click and the title buttons. One visible tab lays out
    // without dividing by zero.
    void macroTabAndRecordingBan()
    {
        Tessark w(nullptr, QStringLiteral("None"));
        TabLabel* macro = w.macroTab();
        QVERIFY(macro->isHidden());
        BoardInfo full;
        full.key = full.color = full.shortcuts = full.macro = full.setting = true;
        w.applyBoardFeatures(&full);
        QVERIFY(!macro->isHidden());
        QCOMPARE(macro->pos(), QPoint(522 + 122 + 35, 40 - macro->height() / 2));
        QVERIFY(w.tabList().at(0)->isChecked()); // never the first selected

        QTest::mouseClick(macro, Qt::LeftButton);
        QVERIFY(macro->isChecked() && !w.tabList().at(0)->isChecked());
        QVERIFY(w.form()->dynamicLayout->isHidden());

        w.banWindowsButtonSlot(true);
        QTest::mouseClick(w.tabList().at(0), Qt::LeftButton);
        QVERIFY(macro->isChecked());
        for (QPushButton* b : {w.closeButton(), w.minimizeButton(), w.menuButton()})
            QVERIFY2(!b->isEnabled() && b->styleSheet().contains(QLatin1String("-ban.svg")), qPrintable(b->styleSheet()));
        w.banWindowsButtonSlot(false);
        QTest::mouseClick(w.tabList().at(0), Qt::LeftButton);
        QVERIFY(w.tabList().at(0)->isChecked() && !macro->isChecked());

        w.modeDUFSlot();
        for (TabLabel* tab : w.tabList() + QVector<TabLabel*>{macro})
            QVERIFY(!tab->isEnabled() && !tab->isChecked());

        BoardInfo keyOnly;
        keyOnly.key = true;
        w.applyBoardFeatures(&keyOnly);
        QCOMPARE(tabXs(w), QList<int>({115 + (92 + 138 + 122 + 3 * 35) / 2})); // the spare width halved, no step
        BoardInfo none;
        w.applyBoardFeatures(&none);
        QVERIFY(tabXs(w).isEmpty());
    }

    void headerDragsCloseHidesAndTrayRestores()
    {
        forceTrayAvailable(1);
        Tessark w(nullptr, QStringLiteral("None"));
        w.show();
        w.grab(); // paints: the header rectangle is known from then on
        QCOMPARE(w.headerRect().height(), 70.0);
        const QPoint start = w.pos();
        QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(300, 71));
        QMouseEvent move(QEvent::MouseMove, QPointF(300, 90), QPointF(500, 500), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(&w, &move);
        QTest::mouseRelease(&w, Qt::LeftButton, {}, QPoint(300, 90));
        QCOMPARE(w.pos(), start);
        QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(300, 70));
        QApplication::sendEvent(&w, &move);
        QTest::mouseRelease(&w, Qt::LeftButton, {}, QPoint(300, 90));
        QVERIFY(w.pos() != start);

        QTest::mouseClick(w.closeButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(w.isHidden(), timescale::ms(10000));
        // Only a single click on the tray icon brings the window back.
        w.activatedSysTrayIconSlot(QSystemTrayIcon::Context);
        QTest::qWait(20);
        QVERIFY(w.isHidden());
        w.activatedSysTrayIconSlot(QSystemTrayIcon::Trigger);
        QVERIFY(w.isVisible() && !w.isMinimized());
        QVERIFY(w.windowFlags().testFlag(Qt::FramelessWindowHint)
                && !w.windowFlags().testFlag(Qt::WindowMinimizeButtonHint)); // the first show drops the latter
        // The tray's Minimize hides to the tray rather than minimising.
        w.trayMenu()->actions().at(0)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(w.isHidden() && !w.isMinimized(), timescale::ms(10000));
        w.mainShow();
        // The minimise timer, once someone starts it, minimises the window.
        w.minimizeTimer().start(0);
        QTRY_VERIFY_WITH_TIMEOUT(w.isMinimized(), timescale::ms(10000));

        forceTrayAvailable(0); // no tray to come back from: minimised instead
        w.mainShow();
        QTest::mouseClick(w.closeButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(w.isMinimized(), timescale::ms(10000));
        QVERIFY(w.isVisible());
    }

    // Only "/background" exactly, with start with the system on, hides; otherwise the window stays centred.
    void backgroundStartHidesOnlyWithStartWithTheSystem_data()
    {
        QTest::addColumn<bool>("autoStart");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("start with the system off") << false << "/background" << false;
        QTest::newRow("start with the system on") << true << "/background" << true;
        QTest::newRow("argument in capitals") << true << "/BACKGROUND" << false;
        QTest::newRow("no argument") << true << "None" << false;
    }
    void backgroundStartHidesOnlyWithStartWithTheSystem()
    {
        QFETCH(bool, autoStart);
        QFETCH(QString, argument);
        QFETCH(bool, hidden);
        forceTrayAvailable(1);
        QVERIFY(m_app->write("config/menutree.xml", readFile(QFINDTESTDATA("../appdir/config/menutree.xml"))
                                                         .replace("auto_start=\"0\"", autoStart ? "auto_start=\"1\"" : "auto_start=\"0\"")));
        Tessark w(nullptr, argument);
        w.show();
        QTest::qWait(50);
        QCOMPARE(w.isHidden(), hidden);
        if (!hidden) {
            const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
            QCOMPARE(w.pos(), QPoint(available.width() / 2 - 490, available.height() / 2 - 375));
        }
    }

    // The two sample keyboards as tessark-sim plugs them: each gets a folder of its own.
    void twoKeyboardsOpenSwitchKeepTheirOwnFoldersAndUnplug()
    {
        const QList<sim::KeyboardConfig> family = sim::sampleFamily();
        auto first = sim::plug(family.at(0));
        auto other = sim::plug(family.at(1));
        Tessark w(nullptr, QStringLiteral("None"));
        QVERIFY(waitLoaded(w, "TK104 Dual"));
        QCOMPARE(w.menuTree()->devices().keys(), QList<int>({1, 2}));
        QCOMPARE(w.usb()->path(), first->commandPath());
        QVERIFY(!w.disconnectedPicture());
        QVERIFY(!w.dynamicKeyBtns().isEmpty());
        QVERIFY(g_overallVariate->getOnlinState());
        QCOMPARE(g_overallVariate->getFirmwareInfo().modelDir, QStringLiteral("TK104 Dual"));

        // The per-device folder: 24 lower-case hex digits of the device id, an empty shortcuts.xml.
        const QString id = QString::fromLatin1(first->state().deviceId.toHex());
        QCOMPARE(id.size(), 24);
        QFile shortcuts(m_app->filePath(id + "/shortcuts.xml"));
        QVERIFY(shortcuts.exists());
        QCOMPARE(shortcuts.size(), 0);

        // The window's client tells the user of a key function it could not write.
        {
            MessageBoxRecorder boxes;
            const kf_t record{{2}};
            first->failWrite(1);
            QCOMPARE(w.device()->setKFItem(&record), DeviceResult::WriteFailed);
            QCOMPARE(boxes.boxes().size(), 1);
            QVERIFY(boxes.boxes().at(0).text.contains("Set KF Item failed"));
        }

        // Choosing the open one changes nothing; choosing the other closes the first, opens it 1 s later.
        w.switchUsbDevice(w.menuTree()->devices().value(1));
        QVERIFY(!w.switching() && w.deviceLoaded());
        QElapsedTimer t;
        t.start();
        w.switchUsbDevice(w.menuTree()->devices().value(2));
        QVERIFY(!w.deviceLoaded() && !w.usb());
        QVERIFY(!w.scanTimer().isActive() && !w.multiScanTimer().isActive());
        QVERIFY(w.disconnectedPicture());
        QVERIFY(waitLoaded(w, "TK87 Wired Board"));
        QVERIFY(t.elapsed() >= 1000);
        QVERIFY(w.multiScanTimer().isActive());
        const QString otherId = QString::fromLatin1(other->state().deviceId.toHex());
        QVERIFY(otherId != id);
        QVERIFY(QFile::exists(m_app->filePath(otherId + "/shortcuts.xml")));

        // A listed keyboard that is not open leaves the list within a scan; the open one stays.
        sim::unplug(first);
        QTRY_COMPARE_WITH_TIMEOUT(w.menuTree()->devices().size(), 1, timescale::ms(10000));
        QVERIFY(w.deviceLoaded());

        // Unplugging the open one closes it and scanning resumes.
        sim::unplug(other);
        QTRY_VERIFY_WITH_TIMEOUT(!w.usb() && w.scanTimer().isActive(), timescale::ms(10000));
        QVERIFY(!w.deviceLoaded());
        QVERIFY(w.disconnectedPicture());
        QVERIFY(w.dynamicKeyBtns().isEmpty());
        QVERIFY(!g_overallVariate->getOnlinState());
        QTRY_COMPARE_WITH_TIMEOUT(w.menuTree()->devices().size(), 0, timescale::ms(10000));
    }

    void switchingWithNothingOpenOpensTheChosenKeyboard()
    {
        sim::plug(sim::fullSizeDual());
        auto wanted = sim::plug(sim::tenkeylessWired());
        Tessark w(nullptr, QStringLiteral("None"));
        QTRY_COMPARE_WITH_TIMEOUT(w.menuTree()->devices().size(), 2, timescale::ms(10000));
        if (w.usb()) // the scan was quicker: start from nothing open
            w.closeDevice();
        QVERIFY(!w.usb());

        UsbData unknown;
        unknown.path = QStringLiteral("/dev/nothing");
        w.switchUsbDevice(unknown);
        w.switchUsbDevice(UsbData());
        QVERIFY(!w.usb());

        w.switchUsbDevice(w.menuTree()->devices().value(2));
        QVERIFY(waitLoaded(w, "TK87 Wired Board"));
        QCOMPARE(w.usb()->path(), wanted->commandPath());
    }

    void closeDuringLoadingIsPromptAndDrawsNothing()
    {
        auto kb = sim::plug(sim::fullSizeDual());
        kb->setReportDelay(20); // a slow load
        Tessark w(nullptr, QStringLiteral("None"));
        QTRY_VERIFY_WITH_TIMEOUT(w.device(), timescale::ms(10000));
        // The key page asked for while the loader still writes the tables draws nothing.
        w.labelPageClickSlot(QStringLiteral("staticLayout"));
        QVERIFY(w.dynamicKeyBtns().isEmpty());
        logrecorder::start();
        w.closeDevice();
        logrecorder::stop();
        // The loader stopped when asked: a device thread let go after the wait for it gave up would leave
        // no device and no transport here as well, but says so.
        for (const QString& line : logrecorder::lines())
            QVERIFY2(!line.contains(QLatin1String("still runs")), qPrintable(line));
        QVERIFY(!w.device() && !w.usb());
        QVERIFY(w.dynamicKeyBtns().isEmpty());
        // A finish that arrives after the close leaves the window usable.
        w.finishLoadDeviceSlot();
        QVERIFY(w.initFinished());
    }

    void versionPromptBelowTheRecordsMinimum_data()
    {
        QTest::addColumn<int>("firmware");
        QTest::addColumn<int>("prompts");
        QTest::newRow("1.04 against 1.05") << 104 << 1;
        QTest::newRow("1.05 against 1.05") << 105 << 0;
    }
    void versionPromptBelowTheRecordsMinimum()
    {
        QFETCH(int, firmware);
        QFETCH(int, prompts);
        makeAppDir("name=\"TK104 Dual\" file=\"tk104.json\" kf=\"kf_tk104.xml\" fw=\"1.00\"",
                   "name=\"TK104 Dual\" file=\"tk104.json\" kf=\"kf_tk104.xml\" fw=\"1.05\"");
        MessageBoxRecorder boxes;
        boxes.script(QMessageBox::No);
        auto kb = sim::plug(sim::fullSizeDual());
        kb->edit([firmware](sim::FirmwareState& s) { s.fwVersion = uint16_t(firmware); });
        Tessark w(nullptr, QStringLiteral("None"));
        QVERIFY(waitLoaded(w, "TK104 Dual"));
        QCOMPARE(boxes.boxes().size(), prompts);
        if (prompts) {
            const MessageBoxRequest& box = boxes.boxes().at(0);
            QCOMPARE(box.title, QStringLiteral("Firmware Update"));
            QCOMPARE(box.text, QStringLiteral("Firmware Version: <font color='red'>v1.04</font> less than "
                                              "<font color='red'>v1.05</font>, Firmware Update you sure!"));
            QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
            QCOMPARE(box.defaultButton, QMessageBox::Yes);
            QCOMPARE(box.textFormat, Qt::RichText); // its own red, numbers alone inserted
        }
    }

    // A keyboard that leaves while the window opens it and is back at once under another path is
    // loaded again; so is one re-plugged 50 times at any moment of its opening or loading.
    void keyboardRepluggedQuicklyIsLoadedAgain()
    {
        const sim::KeyboardConfig board = sim::fullSizeDual();
        auto kb = sim::plug(board);
        Tessark w(nullptr, QStringLiteral("None"));
        // The transport exists; its first open attempt comes a second later.
        QVERIFY(QTest::qWaitFor([&] { return w.usb() != nullptr; }, timescale::ms(10000)));
        QVERIFY(!w.device());
        const QString path = kb->commandPath();
        sim::unplug(kb);
        kb = sim::plug(board);
        QVERIFY(kb->commandPath() != path);
        QVERIFY(waitLoaded(w, "TK104 Dual", 10000));
        QCOMPARE(w.usb()->path(), kb->commandPath());

        QRandomGenerator random(20240611);
        for (int cycle = 0; cycle < 50; ++cycle) {
            sim::unplug(kb);
            kb = sim::plug(board);
            QTest::qWait(random.bounded(401)); // ms after the plug
        }
        QVERIFY(waitLoaded(w, "TK104 Dual", 10000));
        QCOMPARE(w.usb()->path(), kb->commandPath());
    }

    void boardNameOfSixteenBytesWithoutZero()
    {
        auto kb = sim::plug(sim::fullSizeDual());
        kb->edit([](sim::FirmwareState& s) { s.boardName = "TK104 Dual ABCDEF"; s.boardName.truncate(16); });
        Tessark w(nullptr, QStringLiteral("None"));
        QVERIFY(QTest::qWaitFor([&] { return w.deviceLoaded(); }, timescale::ms(20000)));
        QCOMPARE(w.device()->boardName(), QStringLiteral("TK104 Dual ABCDE"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
