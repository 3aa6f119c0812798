// The platform seams: scripted message boxes, the tray choice, the HID permission check and its
// one-time report, the udev rule, and the pictures the main window loads.
#include "images/compiledimages.h"
#include "platform/hidaccess.h"
#include "widget/kfwritefailurebox.h"
#include "widget/messagebox.h"
#include "messageboxrecorder.h"
#include "tempappdir.h"

#include <QApplication>
#include <QIcon>
#include <QPushButton>
#include <QSvgRenderer>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

class TestSeams : public QObject {
    Q_OBJECT
private slots:
    // Each kind of box reaches the installed handler with its parent and text and returns its answer:
    // scripted first, then the default button, else the first one; nested recorders restore the outer one.
    void recorderAnswersScriptedButtons()
    {
        MessageBoxRecorder recorder;
        recorder.script(QMessageBox::No);
        QWidget parent;
        QCOMPARE(messagebox::question(&parent, "t", "Update?", QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes),
                 QMessageBox::No);
        QCOMPARE(messagebox::question(nullptr, "t", "again"), QMessageBox::Yes);
        QCOMPARE(messagebox::information(nullptr, "i", "x", QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel),
                 QMessageBox::Cancel);
        const MessageBoxRequest& first = recorder.boxes().at(0);
        QVERIFY(first.kind == MessageBoxRequest::Question && first.parent == &parent && first.text == "Update?");
        {
            MessageBoxRecorder inner;
            messagebox::critical(nullptr, "c", "x");
            QCOMPARE(inner.boxes().size(), 1);
        }
        messagebox::about(nullptr, "a", "about text");
        QCOMPARE(recorder.boxes().size(), 4);
        QCOMPARE(recorder.boxes().at(3).kind, MessageBoxRequest::About);
        QCOMPARE(messagebox::warning(&parent, "w", "Record?", QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton,
                                     "/icons/tray.svg"),
                 QMessageBox::Yes);
        const MessageBoxRequest& warning = recorder.boxes().at(4);
        QVERIFY(warning.kind == MessageBoxRequest::Warning && warning.parent == &parent);
        QCOMPARE(warning.windowIcon, QStringLiteral("/icons/tray.svg"));
    }

    // The real warning box with a window icon is a fixed-size dialog showing that icon.
    void realWarningBoxIsAFixedSizeDialogWithItsIcon()
    {
        TempAppDir dir;
        QVERIFY(dir.write("icon.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='8' height='8'>"
                                      "<rect width='8' height='8'/></svg>"));
        Qt::WindowFlags flags;
        bool iconSet = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box && box->icon() == QMessageBox::Warning);
            flags = box->windowFlags();
            iconSet = !box->windowIcon().isNull();
            box->button(QMessageBox::No)->click();
        });
        QCOMPARE(messagebox::warning(nullptr, "w", "Record?", QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes,
                                     dir.filePath("icon.svg")),
                 QMessageBox::No);
        QVERIFY(flags.testFlag(Qt::MSWindowsFixedSizeDialogHint) && (flags & Qt::WindowType_Mask) == Qt::Dialog);
        QVERIFY(iconSet);
    }

    void keyFunctionFailureShowsTheErrorCode()
    {
        MessageBoxRecorder recorder;
        showKFWriteFailureBox(7);
        QCOMPARE(recorder.boxes().size(), 1);
        QCOMPARE(recorder.boxes().at(0).kind, MessageBoxRequest::Critical);
        QVERIFY(recorder.boxes().at(0).text.contains("ERROR: 7."));
    }

    // Offscreen there is no tray: the window must minimise; a forced answer is undone by -1.
    void trayChoice()
    {
        QVERIFY(!canHideToTray());
        forceTrayAvailable(1);
        QVERIFY(canHideToTray());
        forceTrayAvailable(-1);
        QVERIFY(!canHideToTray());
    }

    void hidNodeAccess_data()
    {
        QTest::addColumn<int>("mode"); // -1: no file
        QTest::addColumn<int>("expected");
        QTest::newRow("read-write") << 0600 << int(HidNodeAccess::Usable);
        // root may open anything: the refusal is seen only by other users.
        QTest::newRow("no access") << 0 << int(::geteuid() == 0 ? HidNodeAccess::Usable : HidNodeAccess::PermissionDenied);
        QTest::newRow("missing") << -1 << int(HidNodeAccess::Missing);
    }
    void hidNodeAccess()
    {
        QFETCH(int, mode);
        QTemporaryDir dir;
        const QString path = dir.filePath("hidraw9");
        QFile f(path);
        if (mode >= 0)
            QVERIFY(f.open(QIODevice::WriteOnly) && ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0);
        QTEST(int(::hidNodeAccess(path)), "expected");
        // Paths of other systems are not file paths and are never refused here.
        QCOMPARE(::hidNodeAccess("\\\\?\\hid#vid_3151"), HidNodeAccess::Usable);
    }

    // The first refusal of a path is logged and handed to the caller to tell; later ones are not.
    void permissionIsReportedOncePerPath()
    {
        forgetHidPermissionReports();
        QTest::ignoreMessage(QtWarningMsg, qPrintable(hidPermissionLogLine("/dev/hidraw3")));
        QCOMPARE(reportHidPermissionOnce("/dev/hidraw3", HidNodeAccess::PermissionDenied), HidPermissionReport::TellUser);
        QCOMPARE(reportHidPermissionOnce("/dev/hidraw3", HidNodeAccess::PermissionDenied),
                 HidPermissionReport::AlreadyTold);
        QCOMPARE(reportHidPermissionOnce("/dev/hidraw4", HidNodeAccess::Missing), HidPermissionReport::NotRefused);
        QVERIFY(hidPermissionUserText().contains("70-tessark.rules"));
        forgetHidPermissionReports();
    }

    // One rule per vendor and product pair, each for hidraw nodes and giving the logged-in user access
    // (udev matches attribute names and values as written).
    void udevRuleNamesBothIdPairs()
    {
        QStringList rules;
        for (const QString& line : QString(readFile(QFINDTESTDATA("../platform/linux/70-tessark.rules"))).split('\n'))
            if (!line.trimmed().isEmpty() && !line.startsWith('#'))
                rules << line;
        const QString rule("KERNEL==\"hidraw*\", ATTRS{idVendor}==\"%1\", ATTRS{idProduct}==\"%2\", TAG+=\"uaccess\"");
        QCOMPARE(rules, QStringList({rule.arg("3151", "4015"), rule.arg("0416", "a316")}));
    }

    // The compiled icons, and the shipped pictures read from the application folder (the tab icons are
    // drawn by the tab head's test).
    void picturesLoad()
    {
        initCompiledImages();
        initCompiledImages(); // a second call does nothing
        for (const char* name : {"Tessark-icon-tools-win.svg", "Tessark-icon-tray-mac-white.svg",
                                 "Tessark-icon-tray-mac-black.svg"})
            QVERIFY2(!QIcon(QStringLiteral("://images/") + name).pixmap(32, 32).isNull(), name);
        for (const char* name : {"disconnect.svg", "menu.svg", "menu-ban.svg", "minimize.svg", "minimize-ban.svg",
                                 "close.svg", "close-ban.svg", "Cursor/down.svg", "Cursor/up.svg", "Cursor/del.svg",
                                 "Cursor/color.svg", "Cursor/mode.svg"})
            QVERIFY2(QSvgRenderer(QFINDTESTDATA(QStringLiteral("../appdir/images/") + name)).isValid(), name);
    }
};

QTEST_MAIN(TestSeams)
#include "test_seams.moc"
