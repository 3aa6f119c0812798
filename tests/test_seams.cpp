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
    void recorderAnswersScriptedButtons();
    void keyFunctionFailureGoesThroughTheSeam();
    void trayChoice();
    void hidNodeAccess_data();
    void hidNodeAccess();
    void permissionIsReportedOncePerPath();
    void udevRuleNamesBothIdPairs();
    void pictures();
};

void TestSeams::recorderAnswersScriptedButtons()
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
    messagebox::about(nullptr, "a", "about text");
    QCOMPARE(recorder.boxes().size(), 4);
    const MessageBoxRequest& first = recorder.boxes().at(0);
    QCOMPARE(first.kind, MessageBoxRequest::Question);
    QCOMPARE(first.parent, &parent);
    QCOMPARE(first.title, QString("t"));
    QCOMPARE(first.text, QString("Update?"));
    QCOMPARE(first.buttons, QMessageBox::StandardButtons(QMessageBox::Yes | QMessageBox::No));
    QCOMPARE(first.defaultButton, QMessageBox::Yes);
    QCOMPARE(recorder.boxes().at(3).kind, MessageBoxRequest::About);
    {
        MessageBoxRecorder inner; // nested recorders restore the outer one
        messagebox::critical(nullptr, "c", "x");
        QCOMPARE(inner.boxes().size(), 1);
    }
    messagebox::critical(nullptr, "c", "y");
    QCOMPARE(recorder.boxes().size(), 5);
}

void TestSeams::keyFunctionFailureGoesThroughTheSeam()
{
    MessageBoxRecorder recorder;
    showKFWriteFailureBox(7);
    QCOMPARE(recorder.boxes().size(), 1);
    QCOMPARE(recorder.boxes().at(0).kind, MessageBoxRequest::Critical);
    QCOMPARE(recorder.boxes().at(0).title, QString("critical"));
    QCOMPARE(recorder.boxes().at(0).text,
             QString("Set KF Item failed! <font color='red'> ERROR: 7. application</font>"));
    QCOMPARE(recorder.boxes().at(0).buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

void TestSeams::trayChoice()
{
    // Offscreen there is no tray: the window must minimise.
    QCOMPARE(canHideToTray(), false);
    forceTrayAvailable(1);
    QCOMPARE(canHideToTray(), true);
    forceTrayAvailable(-1);
    QCOMPARE(canHideToTray(), false);
}

void TestSeams::hidNodeAccess_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("expected");
    QTest::newRow("read-write") << 0600 << true << int(HidNodeAccess::Usable);
    // root may open anything: the refusal is seen only by other users.
    QTest::newRow("no access") << 0 << true
                               << int(::geteuid() == 0 ? HidNodeAccess::Usable : HidNodeAccess::PermissionDenied);
    QTest::newRow("missing") << 0600 << false << int(HidNodeAccess::Missing);
}

void TestSeams::hidNodeAccess()
{
    QFETCH(int, mode);
    QFETCH(bool, exists);
    QFETCH(int, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath("hidraw9");
    if (exists) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0);
    }
    QCOMPARE(int(::hidNodeAccess(path)), expected);
    // Paths of other systems are not file paths and are never refused here.
    QCOMPARE(::hidNodeAccess("\\\\?\\hid#vid_3151"), HidNodeAccess::Usable);
}

void TestSeams::permissionIsReportedOncePerPath()
{
    MessageBoxRecorder recorder;
    forgetHidPermissionReports();
    QTest::ignoreMessage(QtWarningMsg, qPrintable(hidPermissionLogLine("/dev/hidraw3")));
    QVERIFY(reportHidPermissionOnce(nullptr, "/dev/hidraw3", HidNodeAccess::PermissionDenied));
    QVERIFY(reportHidPermissionOnce(nullptr, "/dev/hidraw3", HidNodeAccess::PermissionDenied));
    QVERIFY(!reportHidPermissionOnce(nullptr, "/dev/hidraw4", HidNodeAccess::Missing));
    QCOMPARE(recorder.boxes().size(), 1);
    QCOMPARE(recorder.boxes().at(0).kind, MessageBoxRequest::Critical);
    QCOMPARE(recorder.boxes().at(0).text, hidPermissionUserText());
    QVERIFY(hidPermissionUserText().contains("70-tessark.rules"));
    forgetHidPermissionReports();
}

void TestSeams::udevRuleNamesBothIdPairs()
{
    const QString path = QFINDTESTDATA("../platform/linux/70-tessark.rules");
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly | QIODevice::Text));
    QStringList rules;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (!line.trimmed().isEmpty() && !line.trimmed().startsWith('#'))
            rules << QString::fromUtf8(line).toLower();
    }
    QCOMPARE(rules.size(), 2);
    const QStringList ids{"attrs{idvendor}==\"3151\", attrs{idproduct}==\"4015\"",
                          "attrs{idvendor}==\"0416\", attrs{idproduct}==\"a316\""};
    for (int i = 0; i < rules.size() && i < ids.size(); ++i) {
        QVERIFY2(rules.at(i).startsWith("kernel==\"hidraw*\""), qPrintable(rules.at(i)));
        QVERIFY2(rules.at(i).contains(ids.at(i)), qPrintable(rules.at(i)));
        QVERIFY(rules.at(i).endsWith("tag+=\"uaccess\""));
    }
    QFile readme(QFINDTESTDATA("../README.md"));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    QVERIFY(readme.readAll().contains("sudo cp platform/linux/70-tessark.rules /etc/udev/rules.d/"));
}

void TestSeams::pictures()
{
    initCompiledImages();
    initCompiledImages(); // a second call does nothing
    for (const char* name : {"Tessark-icon-tools-win.svg", "Tessark-icon-tray-mac-white.svg",
                             "Tessark-icon-tray-mac-black.svg"}) {
        const QString path = QStringLiteral("://images/") + name;
        QVERIFY2(QFile::exists(path), qPrintable(path));
        QVERIFY(!QIcon(path).pixmap(32, 32).isNull());
    }
    // Read from the application directory, as the image-button style does.
    for (const char* name : {"disconnect.svg", "menu.svg", "menu-ban.svg", "minimize.svg", "minimize-ban.svg",
                             "close.svg", "close-ban.svg"}) {
        const QString path = QFINDTESTDATA(QStringLiteral("../appdir/images/") + name);
        QVERIFY2(QSvgRenderer(path).isValid(), name);
    }
}

QTEST_MAIN(TestSeams)
#include "test_seams.moc"
