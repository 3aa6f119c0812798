// The About and Help dialogs: what they take from their files, the links they open, the file About
// writes back, and that they are gone however they are closed.
#include "Update/overallvariate.h"
#include "widget/aboutdialog.h"
#include "widget/helpdialog.h"
#include "widget/label.h"
#include "widget/qss.h"
#include "tempappdir.h"

#include <QDesktopServices>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QUrl>

// Stands in for the browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

namespace {

// The texts of the named children, in the order given.
QStringList texts(QWidget* dialog, const QStringList& names)
{
    QStringList out;
    for (const QString& name : names) {
        auto* edit = dialog->findChild<QLineEdit*>(name);
        out << (edit ? edit->text() : dialog->findChild<QLabel*>(name)->text());
    }
    return out;
}

const QStringList AboutFields = {"firmware", "software", "web", "email", "other"};

} // namespace

class InformationDialogs : public QObject {
    Q_OBJECT

    TempAppDir m_app;
    UrlCatcher m_urls;

    void writeConfig(const QString& file, const QByteArray& content)
    {
        QFile::remove(m_app.filePath("config/" + file));
        if (!content.isNull())
            QVERIFY(m_app.write("config/" + file, content));
    }

private slots:
    void initTestCase()
    {
        setAppDirPathForTest(m_app.path());
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_urls, "open");
    }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        setAppDirPathForTest(QString());
    }

    void dialogsReadTheirFiles_data()
    {
        QTest::addColumn<bool>("about");
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("shown"); // About: firmware, software, web, email, other; Help: web, discord
        const QStringList none5 = {"", "", "", "", ""};
        QTest::newRow("About, missing") << true << QByteArray() << -2 << none5;
        QTest::newRow("About, any root")
            << true
            << QByteArray("<ABOUT><firmware firmware=\"Tessark 2.0.1\"/><software version=\"v\"/><web web=\"w\"/>"
                          "<email email=\"m@x\"/><other other=\"o\"/></ABOUT>")
            << 0 << QStringList({"Tessark 2.0.1", "v", "w", "m@x", "o"});
        QTest::newRow("About, wrong case, later wins, nested ignored")
            << true
            << QByteArray("<COMMAND><Firmware firmware=\"x\"/><software Version=\"y\"/><web web=\"1\"/><web web=\"2\"/>"
                          "<other><email email=\"deep\"/></other></COMMAND>")
            << 0 << QStringList({"", "", "2", "", ""});
        QTest::newRow("Help, missing") << false << QByteArray() << -2 << QStringList({"", ""});
        QTest::newRow("Help, swapped attributes, wrong case, later wins")
            << false
            << QByteArray("<HELP><web link=\"x\"/><discord web=\"y\"/><Discord link=\"z\"/><discord link=\"c\"/>"
                          "<web web=\"1\"/><web web=\"2\"/></HELP>")
            << 0 << QStringList({"2", "c"});
    }
    void dialogsReadTheirFiles()
    {
        QFETCH(bool, about);
        QFETCH(QByteArray, content);
        QFETCH(int, result);
        QFETCH(QStringList, shown);
        writeConfig(about ? "about.xml" : "help.xml", content);
        AboutDialog a;
        HelpDialog h;
        QCOMPARE(about ? a.read() : h.readXML(), result);
        QCOMPARE(about ? texts(&a, AboutFields) : texts(&h, {"web", "discord"}), shown);
    }

    void aboutSaveReadsBackWithTheVersion()
    {
        writeConfig("about.xml", "<COMMAND><firmware firmware=\"Tessark 1.4.2\"/><software version=\"s\"/>"
                                 "<web web=\"w\"/><email email=\"e@x\"/><other other=\"&amp;o\"/></COMMAND>");
        QCOMPARE(AboutDialog().save(), 0);
        AboutDialog again;
        QCOMPARE(texts(&again, AboutFields), QStringList({"Tessark 1.4.2", "s", "w", "e@x", "&o"}));
        QCOMPARE(overallVariate::getTessarkVersions(), QStringLiteral("1.4.2"));
    }

    void linksOpenTheirOwnAddressOnALeftPress()
    {
        writeConfig("about.xml", "<COMMAND><web web=\"https://about.example/x y\"/></COMMAND>");
        writeConfig("help.xml", "<COMMAND><web web=\"https://help.example\"/><discord link=\"https://chat.example\"/>"
                                "</COMMAND>");
        AboutDialog about;
        HelpDialog help;
        QTest::mousePress(about.findChild<Label*>("web"), Qt::LeftButton);
        QTest::mousePress(help.findChild<Label*>("discord"), Qt::LeftButton);
        QTest::ignoreMessage(QtInfoMsg, "277 Open: \"https://help.example\"");
        QTest::mousePress(help.findChild<Label*>("web"), Qt::LeftButton);
        QCOMPARE(m_urls.opened, QList<QUrl>({QUrl("https://about.example/x%20y"), QUrl("https://chat.example"),
                                             QUrl("https://help.example")}));
    }

    void closedDialogsAreGone_data()
    {
        QTest::addColumn<bool>("about");
        QTest::addColumn<QString>("how");
        for (bool about : {true, false})
            for (const char* how : {"OK", "", "Escape", "window system"}) // "": the close button
                QTest::addRow("%s, %s", about ? "About" : "Help", how) << about << QString(how);
    }
    void closedDialogsAreGone()
    {
        QFETCH(bool, about);
        QFETCH(QString, how);
        QPointer<InfoDialog> dialog = about ? static_cast<InfoDialog*>(new AboutDialog) : new HelpDialog;
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        if (how == "Escape")
            QTest::keyClick(dialog, Qt::Key_Escape);
        else if (how == "window system")
            dialog->close();
        else
            for (QPushButton* b : dialog->findChildren<QPushButton*>())
                if (b->text() == how)
                    QTest::mousePress(b, Qt::LeftButton); // closes at the press
        QVERIFY(!dialog->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(dialog.isNull());
    }

    void screenshots()
    {
        setAppDirPathForTest(QFINDTESTDATA("../appdir")); // the shipped files and pictures, only read
        for (const char* variable : {"TESSARK_ABOUT_SHOT", "TESSARK_HELP_SHOT"}) {
            QScopedPointer<InfoDialog> dialog(variable[8] == 'A' ? static_cast<InfoDialog*>(new AboutDialog)
                                                                 : new HelpDialog);
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));
            if (qEnvironmentVariableIsSet(variable))
                QVERIFY(dialog->grab().save(qEnvironmentVariable(variable)));
        }
        setAppDirPathForTest(m_app.path());
    }
};

QTEST_MAIN(InformationDialogs)
#include "test_infodialogs.moc"
