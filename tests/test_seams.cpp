// The platform seams: scripted message boxes, the tray choice, the HID permission check and its
// one-time report, the udev rule, and the pictures the main window loads; and the tests' own seam to
// the disk, the temporary folder helpers.
#include "images/compiledimages.h"
#include "platform/hidaccess.h"
#include "widget/kfwritefailurebox.h"
#include "widget/filechooser.h"
#include "widget/messagebox.h"
#include "messageboxrecorder.h"
#include "tempappdir.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QPointer>
#include <QPushButton>
#include <QSvgRenderer>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool writeProcFile(const char* path, const QByteArray& text)
{
    const int fd = ::open(path, O_WRONLY);
    const bool written = fd >= 0 && ::write(fd, text.constData(), size_t(text.size())) == text.size();
    if (fd >= 0)
        ::close(fd);
    return written;
}

// For this process alone (a child: one thread), a file system at path with room for `entries` more files
// or folders. Root takes a mount namespace of its own, another user a user namespace around it.
bool mountSmallFileSystem(const QString& path, int entries)
{
    const QByteArray uid = QByteArray::number(::geteuid()), gid = QByteArray::number(::getegid());
    if (::geteuid() != 0) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || !writeProcFile("/proc/self/setgroups", "deny")
            || !writeProcFile("/proc/self/uid_map", "0 " + uid + " 1")
            || !writeProcFile("/proc/self/gid_map", "0 " + gid + " 1"))
            return false;
    } else if (::unshare(CLONE_NEWNS) != 0) {
        return false;
    }
    const QByteArray options = "size=64k,nr_inodes=" + QByteArray::number(entries + 1); // and its root
    return ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
        && ::mount("tessark-small", QFile::encodeName(path).constData(), "tmpfs", 0, options.constData()) == 0;
}

} // namespace

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

    // The real boxes answer as QMessageBox's static functions do: the clicked button, and without a
    // default button the first accepting one is the default.
    void realBoxAnswersAsTheStaticFunctions_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("defaultButton");
        QTest::addColumn<int>("clicked");
        QTest::addColumn<int>("expectedDefault");
        const int yesNo = QMessageBox::Yes | QMessageBox::No;
        QTest::newRow("information, Yes by default") << int(MessageBoxRequest::Information) << yesNo
                                                     << int(QMessageBox::Yes) << int(QMessageBox::No)
                                                     << int(QMessageBox::Yes);
        QTest::newRow("critical, Abort alone") << int(MessageBoxRequest::Critical) << int(QMessageBox::Abort)
                                               << int(QMessageBox::NoButton) << int(QMessageBox::Abort)
                                               << int(QMessageBox::NoButton);
        // Yes answers with the Yes role, not the accept role: no default, as the static function has.
        QTest::newRow("question, no default given") << int(MessageBoxRequest::Question) << yesNo
                                                    << int(QMessageBox::NoButton) << int(QMessageBox::Yes)
                                                    << int(QMessageBox::NoButton);
        QTest::newRow("warning, Ok") << int(MessageBoxRequest::Warning) << int(QMessageBox::Ok)
                                     << int(QMessageBox::NoButton) << int(QMessageBox::Ok) << int(QMessageBox::Ok);
    }
    void realBoxAnswersAsTheStaticFunctions()
    {
        QFETCH(int, kind);
        QFETCH(int, buttons);
        QFETCH(int, defaultButton);
        QFETCH(int, clicked);
        QFETCH(int, expectedDefault);
        int shownDefault = -1;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            shownDefault = box->defaultButton() ? int(box->standardButton(box->defaultButton())) : 0;
            box->button(QMessageBox::StandardButton(clicked))->click();
        });
        const auto b = QMessageBox::StandardButtons(buttons);
        const auto d = QMessageBox::StandardButton(defaultButton);
        QMessageBox::StandardButton answer = QMessageBox::NoButton;
        switch (kind) {
        case MessageBoxRequest::Information: answer = messagebox::information(nullptr, "t", "x", b, d); break;
        case MessageBoxRequest::Critical: answer = messagebox::critical(nullptr, "t", "x", b, d); break;
        case MessageBoxRequest::Question: answer = messagebox::question(nullptr, "t", "x", b, d); break;
        default: answer = messagebox::warning(nullptr, "t", "x", b, d); break;
        }
        QCOMPARE(int(answer), clicked);
        QCOMPARE(shownDefault, expectedDefault);
        QVERIFY(!QApplication::activeModalWidget());
    }

    // A parent deleted while its real box or file dialog runs (a row that goes with an unplugged
    // keyboard) takes the dialog with it once: the call returns no answer, and nothing is freed twice
    // (the sanitizer build checks the once).
    void realDialogGoesWithItsDeletedParent_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::newRow("critical box") << "critical";
        QTest::newRow("warning box with an icon") << "warning";
        QTest::newRow("file dialog") << "file";
        QTest::newRow("folder dialog") << "folder";
    }
    void realDialogGoesWithItsDeletedParent()
    {
        QFETCH(QString, dialog);
        QPointer<QWidget> parent = new QWidget;
        QPointer<QWidget> shown;
        QTimer closer; // only if the deletion failed to end the dialog
        closer.setSingleShot(true);
        connect(&closer, &QTimer::timeout, [] {
            if (QWidget* w = QApplication::activeModalWidget())
                w->close();
        });
        closer.start(5000);
        // Polled: a file dialog may take a moment to become the modal widget.
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || !parent)
                return;
            shown = modal;
            QVERIFY(modal->parentWidget() == parent.data());
            delete parent.data();
        });
        poll.start(10);
        QString answer = QStringLiteral("unset");
        if (dialog == "critical")
            answer = messagebox::critical(parent, "t", "x") == QMessageBox::NoButton ? QString() : "a button";
        else if (dialog == "warning")
            answer = messagebox::warning(parent, "t", "x", QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes,
                                         QStringLiteral(":/nothing.svg"))
                             == QMessageBox::NoButton
                         ? QString()
                         : "a button";
        else if (dialog == "file")
            answer = filechooser::getOpenFileName(parent, "t", QDir::tempPath(), QString());
        else
            answer = filechooser::getExistingDirectory(parent, "t", QDir::tempPath());
        poll.stop();
        QVERIFY(closer.isActive());
        QVERIFY(!parent && !shown);
        QCOMPARE(answer, QString());
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
        QTest::newRow("no access") << 0 << int(HidNodeAccess::PermissionDenied);
        QTest::newRow("missing") << -1 << int(HidNodeAccess::Missing);
    }
    void hidNodeAccess()
    {
        QFETCH(int, mode);
        if (mode == 0 && ::geteuid() == 0)
            QSKIP("root opens a file of mode 000 anyway");
        TempDir dir;
        const QString path = dir.filePath("hidraw9");
        QFile f(path);
        if (mode >= 0)
            QVERIFY(f.open(QIODevice::WriteOnly) && ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0);
        QTEST(int(::hidNodeAccess(path)), "expected");
        // Paths of other systems are not file paths and are never refused here.
        QCOMPARE(::hidNodeAccess("\\\\?\\hid#vid_3151"), HidNodeAccess::Usable);
    }

    // The temporary folder helpers stop the process rather than go on without a folder of their own below
    // the temporary folder: when config/ or log/ cannot be made in it (a file system with room for so many
    // entries), or for an absolute "relative" path. They run in a child process, whose abort is the answer.
    void temporaryFolderHelpersStop_data()
    {
        QTest::addColumn<int>("entries"); // 0: the test's own temporary folder
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("stop"); // what they write before stopping; empty: no stop
        QTest::newRow("config/ cannot be made") << 1 << "a" << "Cannot make the folder config in ";
        QTest::newRow("log/ cannot be made") << 2 << "a" << "Cannot make the folder log in ";
        QTest::newRow("room for both") << 3 << "a" << "";
        QTest::newRow("absolute relative path") << 0 << "/etc/passwd" << "Not a path below the temporary folder ";
    }
    void temporaryFolderHelpersStop()
    {
        QFETCH(int, entries);
        QFETCH(QString, relative);
        QFETCH(QString, stop);
        TempDir dir;
        const QString tmp = dir.filePath("tmp");
        const QByteArray out = QFile::encodeName(dir.filePath("out"));
        QVERIFY(QDir().mkpath(tmp));
        std::fflush(stdout);
        std::fflush(stderr);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            const int fd = ::open(out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0 || ::dup2(fd, STDERR_FILENO) < 0)
                ::_exit(3);
            std::signal(SIGABRT, SIG_DFL); // not the test library's handler: its stack dump
            if (entries > 0 && !mountSmallFileSystem(tmp, entries))
                ::_exit(77);
            qputenv("TMPDIR", QFile::encodeName(tmp));
            TempAppDir app;
            app.filePath(relative);
            ::_exit(0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        const QString output = readFile(QFile::decodeName(out));
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
            QSKIP("no file system of its own can be mounted here");
        QVERIFY2(stop.isEmpty() ? WIFEXITED(status) && WEXITSTATUS(status) == 0
                                : WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT,
                 qPrintable(QString::number(status) + ": " + output));
        QVERIFY2(output.contains(stop), qPrintable(output));
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
