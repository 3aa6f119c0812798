// The manual firmware panel: layout and texts, config/temp/temp.xml read and written, the file choice
// through a scripted chooser, the start checks and the ring's wait animation.
#include "setting/firmware.h"
#include "setting/schedule.h"
#include "widget/filechooser.h"
#include "widget/qss.h"
#include "tempappdir.h"

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

} // namespace

class FirmwarePanel : public QObject {
    Q_OBJECT
    TempAppDir m_dir;
    QString m_xml;

private slots:
    void initTestCase()
    {
        setAppDirPathForTest(m_dir.path());
        m_xml = m_dir.filePath("config/temp/temp.xml");
        QVERIFY(QDir(m_dir.path()).mkpath("cwd/fw") && QDir(m_dir.path()).mkpath("last"));
        QVERIFY(QDir::setCurrent(m_dir.filePath("cwd")) && m_dir.write("x.bin", "image"));
        QVERIFY(m_dir.copyFiles(QFINDTESTDATA("../appdir/images/setting"), "images/setting"));
    }
    void init() { QFile::remove(m_xml); }

    // Also: emptying the edit turns it red and the update button off, typing turns them back.
    void layoutTextsAndControls()
    {
        Firmware panel(nullptr, "a");
        panel.createPanel(781, 150);
        QCOMPARE(panel.captionLabel()->pos(), QPoint(47, 65));
        QCOMPARE(edit(&panel)->geometry(), QRect(218, 60, 490, 31));
        QCOMPARE(folderButton(&panel)->geometry(), QRect(720, 60, 30, 30));
        QCOMPARE(updateButton(&panel)->geometry(), QRect(760, 60, 30, 30));
        QVERIFY(edit(&panel)->styleSheet().contains("color: #282828") && panel.schedule()->isHidden());
        QTest::keyClick(edit(&panel), Qt::Key_Backspace);
        QVERIFY(redBorder(&panel) && !updateButton(&panel)->isEnabled());
        QVERIFY(updateButton(&panel)->styleSheet().count("download-ban.svg") == 3);
        QTest::keyClicks(edit(&panel), "b");
        QVERIFY(edit(&panel)->styleSheet().contains("solid #afafaf") && updateButton(&panel)->isEnabled());
        panel.setButtonsEnabled(false);
        QVERIFY(!edit(&panel)->isEnabled() && !folderButton(&panel)->isEnabled() && !updateButton(&panel)->isEnabled());
        QVERIFY(folderButton(&panel)->styleSheet().contains("/images/setting/floder-ban.svg"));
    }

    void readsTheRememberedFolder_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("lastDir");
        QTest::newRow("none") << QByteArray() << "" << ".";
        QTest::newRow("both") << tempXml("/a/fw", "/a") << "/a/fw" << "/a";
        QTest::newRow("last wins, any root and order")
            << QByteArray("<X><DIR dirPath=\"/1\"/><PATH filePath=\"p1\"/><PATH filePath=\"p2\"/><DIR dirPath=\"/2\"/></X>")
            << "p2" << "/2";
        QTest::newRow("missing attributes") << QByteArray("<TEMP><PATH/><DIR/></TEMP>") << "" << ".";
        QTest::newRow("not well-formed") << QByteArray("<TEMP><PATH filePath=\"x\"") << "" << ".";
    }
    void readsTheRememberedFolder()
    {
        QFETCH(QByteArray, file);
        QVERIFY(file.isEmpty() || m_dir.write("config/temp/temp.xml", file));
        Firmware panel(nullptr, QString());
        QTEST(edit(&panel)->text(), "shown");
        QTEST(panel.lastDir().path(), "lastDir");
    }

    // The chosen file's folder is shown and saved with the start folder, which stays the one read at start-up.
    // A cancel, a failed write or the panel deleted while the dialog is open leave the file as it was.
    void fileChoice()
    {
        ScriptedChooser chooser;
        chooser.answer = "/x/firmware/app.bin";
        Firmware first(nullptr, QString());
        QTest::mousePress(folderButton(&first), Qt::LeftButton);
        const FileChooserRequest asked = chooser.asked.value(0);
        QVERIFY(asked.parent == &first && asked.title == "Open File" && asked.filter == "Binary System File(*.bin)");
        QCOMPARE(QDir(asked.directory).absolutePath(), QDir::currentPath());
        QCOMPARE(edit(&first)->text(), QString("/x/firmware"));
        QCOMPARE(readFile(m_xml), tempXml("/x/firmware", QDir::currentPath()));

        const QByteArray old = tempXml("/kept", m_dir.filePath("last"));
        QVERIFY(m_dir.write("config/temp/temp.xml", old));
        auto* panel = new Firmware(nullptr, QString());
        chooser.answer.clear();
        QTest::mousePress(folderButton(panel), Qt::LeftButton);
        QCOMPARE(chooser.asked.value(1).directory, m_dir.filePath("last"));
        QVERIFY(edit(panel)->text() == "/kept" && !redBorder(panel));
        QCOMPARE(readFile(m_xml), old);

        chooser.answer = "/new/app.bin";
        const bool root = geteuid() == 0; // root writes into read-only folders: occupy the name instead
        const QString folder = m_dir.filePath("config/temp");
        QVERIFY(root ? QFile::remove(m_xml) && QDir().mkpath(m_xml)
                     : QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("write file path xml failed"));
        QTest::mousePress(folderButton(panel), Qt::LeftButton);
        QCOMPARE(edit(panel)->text(), QString("/new"));
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(root ? QDir(m_xml).removeRecursively() : readFile(m_xml) == old);

        const QPointer<Firmware> alive(panel);
        chooser.during = [&] { delete panel; };
        QTest::mousePress(folderButton(panel), Qt::LeftButton);
        QVERIFY(!alive && QFile::exists(m_xml) == !root);
    }

    void startChecksThePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("starts");
        QTest::newRow("empty") << "" << false;
        QTest::newRow("missing") << "/no/such/folder" << false;
        QTest::newRow("folder") << "@last" << true;
        QTest::newRow("a file passes unchanged") << "@x.bin" << true;
        QTest::newRow("relative to the working directory") << "fw" << true;
    }
    void startChecksThePath()
    {
        QFETCH(QString, path);
        QFETCH(bool, starts);
        path.replace("@", m_dir.path() + "/");
        Firmware panel(nullptr, path);
        QSignalSpy sure(&panel, &Firmware::emitUpdateSure);
        QTest::mousePress(updateButton(&panel), Qt::LeftButton);
        QCOMPARE(sure.value(0).value(0).toString(), starts ? path : QString());
        QCOMPARE(redBorder(&panel), !starts);
        QCOMPARE(edit(&panel)->isEnabled() && folderButton(&panel)->isEnabled() && updateButton(&panel)->isEnabled(),
                 !starts);
    }

    // 90 ms ticks move the ring's angle; a second wait goes on from the count reached.
    void waitAnimationRunsAndResumes()
    {
        Firmware panel(nullptr, QString());
        panel.createPanel(781, 150);
        QElapsedTimer clock;
        clock.start();
        panel.waitDfuOpenSlot(true);
        QVERIFY(panel.schedule()->isWaiting() && panel.waitTimer().interval() == 90);
        QTRY_VERIFY(panel.waitCount() >= 5);
        QVERIFY(clock.elapsed() >= 5 * 85); // a coarse timer may fire up to 5 % early
        QCOMPARE(panel.schedule()->angle(), panel.waitCount() - 1);
        panel.waitDfuOpenSlot(false);
        const int reached = panel.waitCount();
        QVERIFY(!panel.waitTimer().isActive() && panel.schedule()->label()->text() == "UPDATE");
        panel.waitDfuOpenSlot(true);
        QTRY_VERIFY(panel.waitCount() > reached);
        QCOMPARE(panel.schedule()->angle(), reached);
    }

    // The settings page may delete the ring it reparented before the panel goes.
    void ringDeletedByThePageIsForgotten()
    {
        QWidget page;
        auto* panel = new Firmware(&page, QString());
        panel->createPanel(781, 150);
        panel->schedule()->setParent(&page);
        delete panel->schedule();
        panel->waitDfuOpenSlot(true);
        QVERIFY(!panel->schedule());
    }
};

QTEST_MAIN(FirmwarePanel)
#include "test_firmwarepanel.moc"
