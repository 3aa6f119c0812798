// The manual firmware panel: config/temp/temp.xml read and written, the file choice through a scripted
// chooser, the path edit's checks before a start and the ring's wait animation.
#include "setting/firmware.h"
#include "setting/schedule.h"
#include "widget/filechooser.h"
#include "widget/qss.h"
#include "messageboxrecorder.h"
#include "tempappdir.h"
#include "timescale.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <functional>
#include <unistd.h>

namespace {

// Answers every dialog with `answer` (empty: cancelled) after running `during`; keeps what was asked.
struct ScriptedChooser : FileChooserHandler {
    ScriptedChooser() { before = filechooser::setHandler(this); }
    ~ScriptedChooser() override { filechooser::setHandler(before); }
    QString openFileName(const FileChooserRequest& request) override
    {
        asked << request;
        return during ? (during(), answer) : answer;
    }
    FileChooserHandler* before = nullptr;
    QString answer;
    std::function<void()> during;
    QList<FileChooserRequest> asked;
};

QByteArray tempXml(const QString& filePath, const QString& dirPath)
{
    return QString("<?xml version = '1.0' encoding = 'UTF-8'?>\n<TEMP>\n    <PATH filePath=\"%1\"/>\n"
                   "    <DIR dirPath=\"%2\"/>\n</TEMP>\n").arg(filePath, dirPath).toUtf8();
}

QLineEdit* edit(QWidget* panel) { return panel->findChild<QLineEdit*>("openLineEdit"); }
QPushButton* folderButton(QWidget* panel) { return panel->findChild<QPushButton*>("openFileButton"); }
QPushButton* updateButton(QWidget* panel) { return panel->findChild<QPushButton*>("downloadButton"); }
bool redBorder(QWidget* panel) { return edit(panel)->styleSheet().contains("solid #ff0000"); }
QString controls(QWidget* panel) // edit, folder button, update button: 1 on, 0 off
{
    return QString("%1%2%3").arg(edit(panel)->isEnabled()).arg(folderButton(panel)->isEnabled())
        .arg(updateButton(panel)->isEnabled());
}

} // namespace

class FirmwarePanel : public QObject {
    Q_OBJECT
    TempAppDir m_dir;
    TempDir m_outside; // a file of the user's elsewhere, which a link may name
    QString m_xml;
    MessageBoxRecorder m_boxes;

private slots:
    void initTestCase()
    {
        setAppDirPathForTest(m_dir.path());
        m_xml = m_dir.filePath("config/temp/temp.xml");
        QVERIFY(QDir(m_dir.path()).mkpath("cwd/fw") && QDir(m_dir.path()).mkpath("last"));
        QVERIFY(QDir::setCurrent(m_dir.filePath("cwd")) && m_dir.write("x.bin", "image"));
        QVERIFY(m_dir.copyFiles(QFINDTESTDATA("../appdir/images/setting"), "images/setting"));
    }
    void init()
    {
        // Writable again after a row that made it read-only and failed before it could undo that.
        QFile::setPermissions(m_dir.filePath("config/temp"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir(m_dir.filePath("config/temp")).removeRecursively();
    }

    // Without temp.xml the dialog starts in the working directory. The chosen file's folder is shown and
    // saved with the start folder, which stays the one read at start-up (the last PATH and DIR, whatever
    // the root). A cancel, a failed write or the panel deleted while the dialog is open leave the file;
    // a failed write is told, naming it. The write fails in a read-only folder (which does not bind root:
    // that row runs as another user), where a folder takes the file's name, or where a link stands at it
    // (left alone, with what it names).
    void fileChoice_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("read-only folder") << "read-only folder";
        QTest::newRow("name taken by a folder") << "name taken by a folder";
        QTest::newRow("link to a file outside") << "link";
    }
    void fileChoice()
    {
        QFETCH(QString, failure);
        const bool readOnlyFolder = failure == "read-only folder";
        if (readOnlyFolder && ::geteuid() == 0)
            QSKIP("root writes into a read-only folder anyway");
        ScriptedChooser chooser;
        chooser.answer = "/x/firmware/app.bin";
        Firmware first(nullptr, QString());
        QTest::mousePress(folderButton(&first), Qt::LeftButton);
        const FileChooserRequest asked = chooser.asked.value(0);
        QCOMPARE(QDir(asked.directory).absolutePath(), QDir::currentPath());
        QCOMPARE(edit(&first)->text(), QString("/x/firmware"));
        QCOMPARE(readFile(m_xml), tempXml("/x/firmware", QDir::currentPath()));

        const QByteArray old = "<X><DIR dirPath=\"/1\"/><PATH filePath=\"/1\"/><PATH filePath=\"/kept\"/><DIR dirPath=\""
                               + m_dir.filePath("last").toUtf8() + "\"/></X>";
        QVERIFY(m_dir.write("config/temp/temp.xml", old));
        auto* panel = new Firmware(nullptr, QString());
        chooser.answer.clear();
        QTest::mousePress(folderButton(panel), Qt::LeftButton);
        QCOMPARE(chooser.asked.value(1).directory, m_dir.filePath("last"));
        QVERIFY(edit(panel)->text() == "/kept" && !redBorder(panel));
        QCOMPARE(readFile(m_xml), old);

        chooser.answer = "/new/app.bin";
        const bool taken = failure == "name taken by a folder";
        const QString folder = m_dir.filePath("config/temp");
        const QString outside = m_outside.filePath("temp.xml");
        if (failure == "link") {
            QFile own(outside);
            QVERIFY(own.open(QIODevice::WriteOnly) && own.write(old) == old.size() && own.flush());
        }
        QVERIFY(taken             ? QFile::remove(m_xml) && QDir().mkpath(m_xml)
                : readOnlyFolder ? QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner)
                                 : QFile::remove(m_xml) && QFile::link(outside, m_xml));
        m_boxes.clear();
        QTest::mousePress(folderButton(panel), Qt::LeftButton);
        QCOMPARE(edit(panel)->text(), QString("/new"));
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes.boxes().size(), 1, timescale::ms(10000));
        QVERIFY2(m_boxes.boxes()[0].text.contains(m_xml), qPrintable(m_boxes.boxes()[0].text));
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (failure == "link")
            QVERIFY(QFileInfo(m_xml).symLinkTarget() == outside && readFile(outside) == old && QFile::remove(m_xml));
        QVERIFY(taken ? QDir(m_xml).removeRecursively() : readFile(m_xml) == (failure == "link" ? QByteArray() : old));

        const QPointer<Firmware> alive(panel);
        chooser.during = [&] { delete panel; };
        QTest::mousePress(folderButton(panel), Qt::LeftButton);
        QVERIFY(!alive && QFile::exists(m_xml) == (failure == "read-only folder"));
    }

    // Emptying the edit turns it red and the update button off, typing turns them back on. A start
    // needs an existing file or folder; it emits the path and turns the controls off.
    void startChecksThePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("typed"); // \b: backspace
        QTest::addColumn<bool>("starts");
        QTest::addColumn<QString>("controls"); // edit, folder button, update button after the press: 1 on
        QTest::newRow("empty") << "" << "" << false << "111";
        QTest::newRow("missing") << "/no/such/folder" << "" << false << "111";
        QTest::newRow("folder") << "@last" << "" << true << "000";
        QTest::newRow("a file passes unchanged") << "@x.bin" << "" << true << "000";
        QTest::newRow("emptied by the user") << "f" << "\b" << false << "110";
        QTest::newRow("typed again, relative to the working directory") << "f" << "\bfw" << true << "000";
    }
    void startChecksThePath()
    {
        QFETCH(QString, path);
        QFETCH(QString, typed);
        QFETCH(bool, starts);
        path.replace("@", m_dir.path() + "/");
        Firmware panel(nullptr, path);
        QTest::keyClicks(edit(&panel), typed);
        QSignalSpy sure(&panel, &Firmware::emitUpdateSure);
        QTest::mousePress(updateButton(&panel), Qt::LeftButton);
        QCOMPARE(sure.value(0).value(0).toString(), starts ? edit(&panel)->text() : QString());
        QCOMPARE(redBorder(&panel), !starts);
        QTEST(controls(&panel), "controls");
    }

    // 90 ms ticks move the ring's angle; a second wait goes on from the count reached. The settings page
    // may delete the ring it reparented before the panel goes.
    void waitAnimationRunsAndResumes()
    {
        Firmware panel(nullptr, QString());
        panel.createPanel(781, 150);
        panel.waitDfuOpenSlot(true);
        QVERIFY(panel.schedule()->isWaiting() && panel.waitTimer().interval() == 90);
        QTRY_VERIFY_WITH_TIMEOUT(panel.waitCount() >= 5, timescale::ms(10000));
        QCOMPARE(panel.schedule()->angle(), panel.waitCount() - 1);
        panel.waitDfuOpenSlot(false);
        const int reached = panel.waitCount();
        QVERIFY(!panel.waitTimer().isActive() && panel.schedule()->label()->text() == "UPDATE");
        panel.waitDfuOpenSlot(true);
        QCOMPARE(panel.waitCount(), reached);
        QTRY_VERIFY_WITH_TIMEOUT(panel.waitCount() > reached, timescale::ms(10000));
        QCOMPARE(panel.schedule()->angle(), reached);

        delete panel.schedule();
        QVERIFY(!panel.schedule());
        QTRY_VERIFY_WITH_TIMEOUT(panel.waitCount() > reached + 2, timescale::ms(10000)); // ticks on without a ring
    }
};

QTEST_MAIN(FirmwarePanel)
#include "test_firmwarepanel.moc"
