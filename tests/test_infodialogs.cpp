// The About and Help dialogs: what they take from their files, the links they open, the file About
// writes back, and that they are gone however they are closed.
#include "Update/overallvariate.h"
#include "widget/aboutdialog.h"
#include "widget/helpdialog.h"
#include "widget/label.h"
#include "widget/menutree.h"
#include "readerharness.h"

#include <QDesktopServices>
#include <QtTest>

// Stands in for the browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

// The texts of the named children, joined by |: About's five fields, or Help's two links.
static QString texts(QWidget* dialog, bool about)
{
    QStringList out;
    for (const char* name : about ? QList<const char*>{"firmware", "software", "web", "email", "other"}
                                  : QList<const char*>{"web", "discord"}) {
        auto* edit = dialog->findChild<QLineEdit*>(name);
        out << (edit ? edit->text() : dialog->findChild<QLabel*>(name)->text());
    }
    return out.join('|');
}

class InformationDialogs : public QObject {
    Q_OBJECT

    ReaderAppDir m_app;
    UrlCatcher m_urls;
    // Every scheme a link below uses is caught, so nothing reaches a real browser or file manager.
    const QStringList m_schemes{"https", "http", "mailto", "file", "javascript", "ftp", "tessark-update", ""};

private slots:
    void initTestCase()
    {
        // The menu below sets start with the system from its (missing) file: never the user's entry.
        qputenv("XDG_CONFIG_HOME", m_app.filePath("xdg-config").toUtf8());
        for (const QString& scheme : m_schemes)
            QDesktopServices::setUrlHandler(scheme, &m_urls, "open");
    }
    void cleanupTestCase()
    {
        for (const QString& scheme : m_schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }
    void init() { m_urls.opened.clear(); }

    void dialogsReadTheirFiles_data()
    {
        QTest::addColumn<bool>("about");
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<QString>("read"); // the result, then the texts shown
        QTest::newRow("About, missing") << true << QByteArray() << "-2 ||||";
        QTest::newRow("About, any root")
            << true << QByteArray("<ABOUT><firmware firmware=\"Tessark 2.0.1\"/><software version=\"v\"/><web web=\"w\"/>"
                                  "<email email=\"m@x\"/><other other=\"o\"/></ABOUT>") << "0 Tessark 2.0.1|v|w|m@x|o";
        QTest::newRow("About, wrong case, later wins, nested ignored")
            << true << QByteArray("<COMMAND><Firmware firmware=\"x\"/><software Version=\"y\"/><web web=\"1\"/>"
                                  "<web web=\"2\"/><other><email email=\"deep\"/></other></COMMAND>") << "0 ||2||";
        QTest::newRow("Help, missing") << false << QByteArray() << "-2 |";
        QTest::newRow("Help, swapped attributes, wrong case, later wins")
            << false << QByteArray("<HELP><web link=\"x\"/><discord web=\"y\"/><Discord link=\"z\"/><discord link=\"c\"/>"
                                   "<web web=\"1\"/><web web=\"2\"/></HELP>") << "0 2|c";
    }
    void dialogsReadTheirFiles()
    {
        QFETCH(bool, about);
        QFETCH(QByteArray, content);
        QVERIFY(m_app.put(about ? "config/about.xml" : "config/help.xml", content));
        AboutDialog a;
        HelpDialog h;
        const int result = about ? a.read() : h.readXML();
        QTEST(QString::number(result) + ' ' + texts(about ? static_cast<QWidget*>(&a) : &h, about), "read");
    }

    void aboutSaveReadsBackWithTheVersion()
    {
        QVERIFY(m_app.put("config/about.xml", "<COMMAND><firmware firmware=\"Tessark 1.4.2\"/><software version=\"s\"/>"
                                              "<web web=\"w\"/><email email=\"e@x\"/><other other=\"&amp;o\"/></COMMAND>"));
        QCOMPARE(AboutDialog().save(), 0);
        AboutDialog again;
        QCOMPARE(texts(&again, true), "Tessark 1.4.2|s|w|e@x|&o");
        QCOMPARE(overallVariate::getTessarkVersions(), QStringLiteral("1.4.2"));
    }

    void linksOpenTheirOwnAddressOnALeftPress()
    {
        QVERIFY(m_app.put("config/about.xml", "<COMMAND><web web=\"https://about.example/x y\"/></COMMAND>"));
        QVERIFY(m_app.put("config/help.xml", "<COMMAND><web web=\"https://help.example\"/>"
                                             "<discord link=\"https://chat.example\"/></COMMAND>"));
        AboutDialog about;
        HelpDialog help;
        QTest::mousePress(about.findChild<Label*>("web"), Qt::LeftButton);
        QTest::mousePress(help.findChild<Label*>("discord"), Qt::LeftButton);
        QTest::ignoreMessage(QtInfoMsg, "277 Open: \"https://help.example\"");
        QTest::mousePress(help.findChild<Label*>("web"), Qt::LeftButton);
        QCOMPARE(m_urls.opened, QList<QUrl>({QUrl("https://about.example/x%20y"), QUrl("https://chat.example"),
                                             QUrl("https://help.example")}));
    }

    // Only web pages and mail go to the desktop, from each place that opens an address.
    void onlyWebAndMailAddressesOpen_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("opens");
        QTest::newRow("http") << "http://tessark.example/a" << true;
        QTest::newRow("https") << "https://tessark.example/help?x=1" << true;
        QTest::newRow("mailto") << "mailto:hi@tessark.example" << true;
        QTest::newRow("HTTPS upper case") << "HTTPS://TESSARK.EXAMPLE/" << true;
        QTest::newRow("file") << "file:///etc/passwd" << false;
        QTest::newRow("javascript") << "javascript:alert(1)" << false;
        QTest::newRow("ftp") << "ftp://tessark.example/f" << false;
        QTest::newRow("custom scheme") << "tessark-update://run" << false;
        QTest::newRow("web without a host") << "https:///etc/passwd" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("bare path") << "/usr/bin/xterm" << false;
        QTest::newRow("relative") << "help/index.html" << false;
    }
    void onlyWebAndMailAddressesOpen()
    {
        QFETCH(QString, address);
        QFETCH(bool, opens);
        AboutDialog about;
        HelpDialog help;
        MenuTree menu(nullptr);
        for (int i = opens ? 0 : 4; i > 0; --i)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Not opened"));
        for (QWidget* dialog : QList<QWidget*>{&about, &help})
            for (Label* link : dialog->findChildren<Label*>()) { // About's address, Help's two
                link->setText(address);
                QTest::mousePress(link, Qt::LeftButton);
            }
        menu.openWeb(address);
        QCOMPARE(m_urls.opened, QVector<QUrl>(opens ? 4 : 0, QUrl(address)).toList());
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

    // The shipped files and pictures shown; TESSARK_ABOUT_SHOT / TESSARK_HELP_SHOT=<file.png> save them.
    void screenshots()
    {
        setAppDirPathForTest(QFINDTESTDATA("../appdir")); // only read
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
