// The platform seams: scripted message boxes, the tray choice, the HID permission check and its
// one-time report, the udev rule, and the pictures the main window loads.
#include "images/compiledimages.h"
#include "platform/hidaccess.h"
#include "widget/kfwritefailurebox.h"
#include "widget/messagebox.h"
#include "messageboxrecorder.h"

#include <QFile>
#include <QIcon>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

class TestSeams : public QObject {
    Q_OBJECT
private slots:
    void recorderAnswersScriptedButtons()
    {
        MessageBoxRecorder recorder;
        recorder.script(QMessageBox::No);
        QWidget parent;
        QCOMPARE(messagebox::question(&parent, "t", "Update?", QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes),
                 QMessageBox::No);
        // Script used up: the default button, else the first one.
        QCOMPARE(messagebox::question(nullptr, "t", "again"), QMessageBox::Yes);
        QCOMPARE(messagebox::information(nullptr, "i", "x", QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel),
                 QMessageBox::Cancel);
        const MessageBoxRequest& first = recorder.boxes().at(0);
        QVERIFY(first.kind == MessageBoxRequest::Question && first.parent == &parent && first.text == "Update?");
        {
            MessageBoxRecorder inner; // nested recorders restore the outer one
            messagebox::critical(nullptr, "c", "x");
            QCOMPARE(inner.boxes().size(), 1);
        }
        messagebox::about(nullptr, "a", "about text");
        QCOMPARE(recorder.boxes().size(), 4);
        QCOMPARE(recorder.boxes().at(3).kind, MessageBoxRequest::About);
    }

    void keyFunctionFailureShowsTheErrorCode()
    {
        MessageBoxRecorder recorder;
        showKFWriteFailureBox(7);
        QCOMPARE(recorder.boxes().size(), 1);
        QCOMPARE(recorder.boxes().at(0).kind, MessageBoxRequest::Critical);
        QCOMPARE(recorder.boxes().at(0).text,
                 QString("Set KF Item failed! <font color='red'> ERROR: 7. application</font>"));
    }

    void trayChoice()
    {
        QCOMPARE(canHideToTray(), false); // offscreen there is no tray: the window must minimise
        forceTrayAvailable(1);
        QCOMPARE(canHideToTray(), true);
        forceTrayAvailable(-1);
        QCOMPARE(canHideToTray(), false);
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
        QFETCH(int, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath("hidraw9");
        QFile f(path);
        if (mode >= 0)
            QVERIFY(f.open(QIODevice::WriteOnly) && ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0);
        QCOMPARE(int(::hidNodeAccess(path)), expected);
        // Paths of other systems are not file paths and are never refused here.
        QCOMPARE(::hidNodeAccess("\\\\?\\hid#vid_3151"), HidNodeAccess::Usable);
    }

    void permissionIsReportedOncePerPath()
    {
        MessageBoxRecorder recorder;
        forgetHidPermissionReports();
        QTest::ignoreMessage(QtWarningMsg, qPrintable(hidPermissionLogLine("/dev/hidraw3")));
        QVERIFY(reportHidPermissionOnce(nullptr, "/dev/hidraw3", HidNodeAccess::PermissionDenied));
        QVERIFY(reportHidPermissionOnce(nullptr, "/dev/hidraw3", HidNodeAccess::PermissionDenied));
        QVERIFY(!reportHidPermissionOnce(nullptr, "/dev/hidraw4", HidNodeAccess::Missing));
        QCOMPARE(recorder.boxes().size(), 1);
        QVERIFY(recorder.boxes().at(0).text.contains("70-tessark.rules"));
        forgetHidPermissionReports();
    }

    void udevRuleNamesBothIdPairs()
    {
        QFile f(QFINDTESTDATA("../platform/linux/70-tessark.rules"));
        QVERIFY(f.open(QIODevice::ReadOnly | QIODevice::Text));
        QStringList rules;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (!line.trimmed().isEmpty() && !line.trimmed().startsWith('#'))
                rules << QString::fromUtf8(line).toLower();
        const QStringList ids{"attrs{idvendor}==\"3151\", attrs{idproduct}==\"4015\"",
                              "attrs{idvendor}==\"0416\", attrs{idproduct}==\"a316\""};
        QCOMPARE(rules.size(), ids.size());
        for (int i = 0; i < rules.size(); ++i)
            QVERIFY2(rules[i].startsWith("kernel==\"hidraw*\"") && rules[i].contains(ids[i])
                         && rules[i].endsWith("tag+=\"uaccess\""),
                     qPrintable(rules[i]));
    }

    void picturesLoad()
    {
        initCompiledImages();
        initCompiledImages(); // a second call does nothing
        for (const char* name : {"Tessark-icon-tools-win.svg", "Tessark-icon-tray-mac-white.svg",
                                 "Tessark-icon-tray-mac-black.svg"})
            QVERIFY2(!QIcon(QStringLiteral("://images/") + name).pixmap(32, 32).isNull(), name);
        // Read from the application directory, as the image-button style does.
        for (const char* name : {"disconnect.svg", "menu.svg", "menu-ban.svg", "minimize.svg", "minimize-ban.svg",
                                 "close.svg", "close-ban.svg"})
            QVERIFY2(QSvgRenderer(QFINDTESTDATA(QStringLiteral("../appdir/images/") + name)).isValid(), name);
    }
};

QTEST_MAIN(TestSeams)
#include "test_seams.moc"
