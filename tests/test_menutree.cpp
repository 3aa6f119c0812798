// The settings menu: keyboard numbering, exclusive choices saved to menutree.xml, language switching,
// the start-with-the-system entry and the dialogs it opens.
#include "platform/autostart.h"
#include "setting/Language.h"
#include "widget/menu.h"
#include "widget/menutree.h"
#include "messageboxrecorder.h"
#include "tempappdir.h"
#include "timescale.h"

#include <QPainter>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

static QAction* findAction(QMenu* menu, const QString& text)
{
    for (QAction* a : menu->actions())
        if (QAction* found = a->text() == text ? a : a->menu() ? findAction(a->menu(), text) : nullptr)
            return found;
    return nullptr;
}

static QString texts(QMenu* menu)
{
    QStringList out;
    for (QAction* a : menu->actions())
        out << a->text();
    return out.join(',');
}

class SettingsMenu : public QObject {
    Q_OBJECT

    TempDir m_xdg;
    TempAppDir m_app;
    QWidget m_window;
    MessageBoxRecorder m_boxes;

    QString menuFile() const { return m_app.filePath(QStringLiteral("config/menutree.xml")); }
    QAction* action(MenuTree& menu, const QString& text) { return findAction(menu.topMenu(), text); }

private slots:
    void initTestCase()
    {
        // The menu rewrites the start-with-the-system entry on construction: never the user's.
        qputenv("XDG_CONFIG_HOME", m_xdg.path().toUtf8());
        setAppDirPathForTest(m_app.path());
        QVERIFY(m_app.copyFiles(QFINDTESTDATA("../appdir/images"), "images"));
        g_language = new Language;
        g_language->setLanguageType(1);
    }
    void init()
    {
        QVERIFY(m_app.write("config/menutree.xml",
                            "<COMMAND><setting auto_start=\"1\"/><layout_version MacOS=\"0\" Windows=\"0\" "
                            "Automatic=\"1\"/><webDownload web=\"https://dl.example/a b?x=1&amp;y=2\"/>"
                            "<webHelp web=\"\"/></COMMAND>"));
    }
    void cleanup()
    {
        // What a failed row may leave: a FIFO would hold up the next write, Chinese the next lookups.
        QFile::remove(menuFile());
        g_language->setLanguageType(1);
    }
    void cleanupTestCase()
    {
        delete g_language;
        g_language = nullptr;
        setAppDirPathForTest(QString());
    }

    void keyboardsAreNumberedAndFreedNumbersReused()
    {
        MenuTree menu(&m_window);
        for (const char* p : {"a", "b", "c"})
            menu.addDevice({p});
        QCOMPARE(texts(menu.usbMenu()), "Device 1,Device 2,Device 3");

        // The second vanishes: its entry is released, and a stale second removal changes nothing.
        const UsbData second = menu.devices().value(2);
        QPointer<QAction> gone = second.action;
        menu.removeDevice(second);
        menu.removeDevice(second);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(gone.isNull());
        menu.addDevice({"d"});
        menu.addDevice({"e"});
        QCOMPARE(texts(menu.usbMenu()), "Device 1,Device 2,Device 3,Device 4");
        QCOMPARE(menu.devices().value(2).path + menu.devices().value(4).path, QStringLiteral("de"));

        // Choosing an entry unchecks the others and hands over the listed entry.
        QSignalSpy chosen(&menu, &MenuTree::ActionTriggered);
        menu.selectDevice({"a"});
        menu.devices().value(2).action->trigger();
        const UsbData got = chosen.value(0).value(0).value<UsbData>();
        QVERIFY(got.path == "d" && got.number == 2 && !menu.devices().value(1).action->isChecked());
    }

    void layoutVersionIsExclusiveSavedAndAnnouncedOnce()
    {
        MenuTree menu(&m_window);
        QSignalSpy win(&menu, &MenuTree::emitLayoutVersionWin);
        QSignalSpy automatic(&menu, &MenuTree::emitLayoutVersionAuto);
        menu.emitLayoutVersion();
        action(menu, "Windows System")->trigger();
        QCOMPARE(automatic.count() + 10 * win.count(), 11);
        MenuTreeData back;
        QVERIFY(Data::parseMenutreeXML(QStringLiteral("menutree.xml"), &back));
        QVERIFY(back.autoStart && back.Windows && !back.MacOS && !back.Automatic);
        QCOMPARE(back.webDownload, QStringLiteral("https://dl.example/a b?x=1&y=2")); // as read

        // The checked entry clicked again: still checked, neither saved nor announced.
        QVERIFY(QFile::remove(menuFile()));
        action(menu, "Windows System")->trigger();
        QVERIFY(action(menu, "Windows System")->isChecked() && !QFile::exists(menuFile()));
        QCOMPARE(win.count() + automatic.count(), 2);
    }

    void languageSwitchRetranslatesAndRewritesTheFile()
    {
        MenuTree menu(&m_window);
        menu.addDevice({"a"});
        const QString languageFile = m_app.filePath("config/Language.xml");
        for (int click = 0; click < 2; ++click) { // the second click, on the checked entry, still writes
            QVERIFY(QFile::remove(languageFile));
            action(menu, "中文")->trigger();
            QVERIFY(action(menu, "中文")->isChecked() && !action(menu, "English")->isChecked());
            QVERIFY(readFile(languageFile).contains("Language=\"0\""));
        }
        QCOMPARE(texts(menu.topMenu()), "设置,检查更新,布局版本,USB 设备,关于 tessark,语言(Language),帮助,退出");
        menu.addDevice({"b"});
        action(menu, "English")->trigger();
        QCOMPARE(texts(menu.topMenu()).section(',', 0, 0) + texts(menu.usbMenu()), "SettingDevice 1,设备2");
    }

    void startWithTheSystemWritesAndRemovesTheEntry()
    {
        // Exec's argument as the characters stand in the file.
        QCOMPARE(desktopExecArgument("/home/a b/tessark"), QStringLiteral("\"/home/a b/tessark\""));
        QCOMPARE(desktopExecArgument("/x/\"q`/t"), QStringLiteral("\"/x/\\\\\"q\\\\`/t\""));
        QCOMPARE(desktopExecArgument("/x/$H/5%"), QStringLiteral("\"/x/\\\\$H/5%%\""));

        const QString entry = m_xdg.path() + "/autostart/" + QCoreApplication::applicationName() + ".desktop";
        MenuTree menu(&m_window); // on in menutree.xml: written at construction
        QCOMPARE(readFile(entry), "[Desktop Entry]\nType=Application\nName=" + QCoreApplication::applicationName().toUtf8()
                                      + "\nExec=" + desktopExecArgument(QCoreApplication::applicationFilePath()).toUtf8()
                                      + " /background\n");
        // A start that finds the entry as it would write it writes nothing.
        struct stat written {}, again {};
        QCOMPARE(::stat(QFile::encodeName(entry).constData(), &written), 0);
        { MenuTree next(&m_window); }
        QCOMPARE(::stat(QFile::encodeName(entry).constData(), &again), 0);
        QCOMPARE(again.st_ino, written.st_ino);
        action(menu, "Power Boot")->trigger();
        QVERIFY(!QFile::exists(entry) && readFile(menuFile()).contains("auto_start=\"0\""));
        action(menu, "Power Boot")->trigger();
        QVERIFY(QFile::exists(entry));
    }

    void theEntryIsBroughtInLineWithTheSetting_data()
    {
        QTest::addColumn<QString>("entry"); // what stands at the entry before the start
        QTest::newRow("the right length with one byte changed: rewritten at the start") << "one byte changed";
        QTest::newRow("switched off when the entry is already gone: no box") << "gone";
    }
    // A start writes the entry exactly as it would write it, however little of it differs; a switch that
    // finds the entry as it should be tells nothing.
    void theEntryIsBroughtInLineWithTheSetting()
    {
        QFETCH(QString, entry);
        const QString path = autostartEntryPath();
        { MenuTree first(&m_window); } // on in menutree.xml: writes the entry
        const QByteArray written = readFile(path);
        QVERIFY(!written.isEmpty());
        m_boxes.clear();
        if (entry == "one byte changed") {
            QByteArray changed = written;
            const int at = changed.indexOf(" /background");
            QVERIFY(at > 0);
            changed[at + 2] = 'B'; // " /Background": started so, the tool would not start in the background
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(changed) == changed.size());
            f.close();
            QCOMPARE(QFileInfo(path).size(), written.size());
            MenuTree menu(&m_window);
            QCOMPARE(readFile(path), written);
        } else {
            MenuTree menu(&m_window);
            QVERIFY(QFile::remove(path));
            action(menu, "Power Boot")->trigger();
            QVERIFY(!action(menu, "Power Boot")->isChecked() && !QFileInfo::exists(path));
            QVERIFY(readFile(menuFile()).contains("auto_start=\"0\""));
        }
        QTest::qWait(20);
        QCOMPARE(m_boxes.boxes().size(), 0);
    }

    // A link the user put at the entry, symbolic or hard, is neither removed nor replaced, and neither is
    // what it names. A start, where the user changed nothing, only logs it; the user's own switch is told,
    // with the link as the reason. A file of the tool's own is removed when off, untold.
    void aLinkAtTheEntryIsLeftAloneAndTold_data()
    {
        QTest::addColumn<QString>("link"); // "symbolic", "dangling", "hard" or "none"
        QTest::addColumn<bool>("on");      // as menutree.xml has it at the start
        QTest::addColumn<bool>("switched"); // by the menu after the start
        QTest::newRow("on, symbolic link to a file") << "symbolic" << true << false;
        QTest::newRow("on, symbolic link, switched off, Chinese") << "symbolic" << true << true;
        QTest::newRow("off, symbolic link to a file") << "symbolic" << false << false;
        QTest::newRow("off, dangling symbolic link") << "dangling" << false << false;
        QTest::newRow("off, hard link") << "hard" << false << false;
        QTest::newRow("on, hard link") << "hard" << true << false;
        QTest::newRow("on, hard link, switched off") << "hard" << true << true;
        QTest::newRow("off, symbolic link, switched on") << "symbolic" << false << true;
        QTest::newRow("off, own file: removed, untold") << "none" << false << false;
    }
    void aLinkAtTheEntryIsLeftAloneAndTold()
    {
        QFETCH(QString, link);
        QFETCH(bool, on);
        QFETCH(bool, switched);
        QVERIFY(m_app.write("config/menutree.xml", on ? "<COMMAND><setting auto_start=\"1\"/></COMMAND>"
                                                      : "<COMMAND><setting auto_start=\"0\"/></COMMAND>"));
        TempDir outside;
        const QString own = outside.filePath("own.desktop"), entry = autostartEntryPath();
        const QByteArray userEntry = "[Desktop Entry]\nType=Application\nExec=/elsewhere/tessark\n";
        // Whatever stands at the entry goes at the end, also when the row fails: a link left there would
        // hold up the rows after it.
        struct Unlink {
            QByteArray name;
            ~Unlink() { ::unlink(name.constData()); }
        } const gone{QFile::encodeName(entry)};
        ::unlink(gone.name.constData());
        QFile f(link == "none" ? entry : own);
        QVERIFY(QDir().mkpath(QFileInfo(entry).path()) && f.open(QIODevice::WriteOnly) && f.write(userEntry) > 0);
        f.close();
        if (link == "symbolic" || link == "dangling")
            QVERIFY(QFile::link(link == "dangling" ? outside.filePath("gone.desktop") : own, entry));
        else if (link == "hard")
            QCOMPARE(::link(QFile::encodeName(own).constData(), QFile::encodeName(entry).constData()), 0);
        struct stat before {};
        QCOMPARE(::lstat(QFile::encodeName(entry).constData(), &before), 0);
        m_boxes.clear();

        const bool chinese = QByteArray(QTest::currentDataTag()).endsWith("Chinese");
        g_language->setLanguageType(chinese ? 0 : 1);

        MenuTree menu(&m_window);
        QTest::qWait(20);
        QCOMPARE(m_boxes.boxes().size(), 0);
        if (switched) {
            action(menu, chinese ? QStringLiteral("开机启动") : QStringLiteral("Power Boot"))->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(m_boxes.boxes().size(), 1, timescale::ms(10000));
            QCOMPARE(m_boxes.boxes()[0].textFormat, Qt::PlainText);
            QCOMPARE(m_boxes.boxes()[0].text,
                     chinese ? QStringLiteral("无法保存 %1：该位置是一个链接，链接及其指向的内容均保持不变。原文件未被修改。").arg(entry)
                             : QStringLiteral("Could not save %1: a link stands at its name; the link and what it "
                                              "points at are left as they are. The file on disk was not changed.")
                                   .arg(entry));
        }
        if (link == "none") {
            QVERIFY(!QFileInfo(entry).exists() && !QFileInfo(entry).isSymLink());
            return;
        }
        // The same link, with what it names as it was.
        struct stat after {};
        QCOMPARE(::lstat(QFile::encodeName(entry).constData(), &after), 0);
        QVERIFY(after.st_ino == before.st_ino && after.st_mode == before.st_mode && after.st_nlink == before.st_nlink);
        QCOMPARE(readFile(own), userEntry);
    }

    // A file that does not read no longer says whether the tool starts with the system: the entry is left
    // alone, the file is kept aside, replaced by what the menu shows and told once, in the interface's
    // language; a FIFO cannot be kept and is told at every start. A missing file (off) or empty one is not told.
    void unreadableFileLeavesTheEntryAndIsKeptAside_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<bool>("kept");
        QTest::newRow("cut short") << QByteArray("<COMMAND><setting auto_start=\"1\"/><webHelp web=\"h") << true;
        QTest::newRow("not XML") << QByteArray("settings, but no markup") << true;
        QTest::newRow("empty") << QByteArray("") << false;
        // Flags are unsigned decimals: anything else says nothing of the user's choice.
        for (const char* flag : {"-1", "4294967296", "yes", "", "0x1"})
            QTest::newRow(qPrintable(QStringLiteral("auto_start %1").arg(*flag ? flag : "empty")))
                << "<COMMAND><setting auto_start=\"" + QByteArray(flag) + "\"/></COMMAND>" << true;
        QTest::newRow("MacOS true") << QByteArray("<COMMAND><setting auto_start=\"1\"/><layout_version MacOS=\"true\"/>"
                                                  "</COMMAND>")
                                    << true;
        QTest::newRow("missing: the default switches it off") << QByteArray() << false;
        QTest::newRow("FIFO") << QByteArray("") << false;
        QTest::newRow("not XML, told in Chinese") << QByteArray("<COMMAND") << true;
    }
    void unreadableFileLeavesTheEntryAndIsKeptAside()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, kept);
        const QString bad = menuFile() + ".bad";
        QFile::remove(bad);
        const QByteArray tag = QTest::currentDataTag();
        QVERIFY(content.isNull() ? QFile::remove(menuFile()) : m_app.write("config/menutree.xml", content));
        if (tag == "FIFO")
            QVERIFY(QFile::remove(menuFile()) && ::mkfifo(QFile::encodeName(menuFile()).constData(), 0600) == 0);
        g_language->setLanguageType(tag.endsWith("Chinese") ? 0 : 1);
        m_boxes.clear();
        const QByteArray userEntry = "[Desktop Entry]\nType=Application\nExec=/elsewhere/tessark\n";
        const QString entry = autostartEntryPath();
        QVERIFY(QDir().mkpath(QFileInfo(entry).path()));
        QFile f(entry);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(userEntry) == userEntry.size());
        f.close();

        MenuTree menu(&m_window);
        const bool unreadable = !content.isNull();
        QCOMPARE(readFile(entry), unreadable ? userEntry : QByteArray());
        QCOMPARE(menu.isAutoStart(), unreadable);
        QTest::qWait(20);
        const bool told = unreadable && (!content.isEmpty() || tag == "FIFO");
        QCOMPARE(m_boxes.boxes().size(), int(told));
        const QString text = told ? m_boxes.boxes()[0].text : QString();
        QVERIFY2(!told || (text.contains(menuFile()) && text.contains(bad) == kept
                           && text.contains("无法读取") == tag.endsWith("Chinese")),
                 qPrintable(text));
        {
            MenuTree again(&m_window);
            QTest::qWait(20);
            QCOMPARE(m_boxes.boxes().size(), told && !kept ? 2 : int(told));
            QCOMPARE(again.isAutoStart(), unreadable);
        }
        action(menu, "MacOS")->trigger(); // saves
        QCOMPARE(readFile(bad), kept ? content : QByteArray());
        QCOMPARE(QFile::exists(bad), kept);
        // Saved as shown, so the next start does not switch it off either.
        QVERIFY(readFile(menuFile()).contains(unreadable ? "auto_start=\"1\"" : "auto_start=\"0\""));
        // A start that read the file on rewrites the entry for this executable.
        QCOMPARE(readFile(entry) == userEntry, unreadable && !kept);
        QCOMPARE(isStartWithSystem(), unreadable);
    }

    // About and Help open modally from the menu and are gone once escaped.
    void escapedDialogsDeleteThemselves()
    {
        MenuTree menu(&m_window);
        for (const QString entry : {"About tessark", "Help"}) {
            QPointer<QWidget> dialog;
            QTimer::singleShot(0, [&dialog] {
                dialog = QApplication::activeModalWidget();
                QTest::keyClick(dialog, Qt::Key_Escape);
            });
            action(menu, entry)->trigger();
            QVERIFY(dialog);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(dialog.isNull());
        }
    }

    // Hovering the keyboards entry opens its submenu; TESSARK_MENU_SHOT=<file.png> saves both menus.
    void menuWithTwoKeyboardsScreenshot()
    {
        MenuTree menu(&m_window);
        menu.addDevice({"a"});
        menu.addDevice({"b"});
        menu.selectDevice({"a"});
        Menu *top = menu.topMenu(), *sub = menu.usbMenu();
        top->popup(QPoint(20, 20));
        top->setActiveAction(sub->menuAction());
        QVERIFY(QTest::qWaitForWindowExposed(sub));
        if (qEnvironmentVariableIsSet("TESSARK_MENU_SHOT")) {
            const QRect all = top->geometry().united(sub->geometry()).adjusted(-10, -10, 10, 10);
            QImage shot(all.size(), QImage::Format_ARGB32);
            shot.fill(QColor(225, 228, 232));
            QPainter p(&shot);
            p.drawPixmap(top->geometry().topLeft() - all.topLeft(), top->grab());
            p.drawPixmap(sub->geometry().topLeft() - all.topLeft(), sub->grab());
            p.end();
            QVERIFY(shot.save(qEnvironmentVariable("TESSARK_MENU_SHOT")));
        }
        top->hide();
    }
};

QTEST_MAIN(SettingsMenu)
#include "test_menutree.moc"
