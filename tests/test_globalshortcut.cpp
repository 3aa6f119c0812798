// The system-wide hot key on an X server of its own: a press anywhere activates it once, whatever the lock
// keys; a key another client holds is refused until that client lets it go. Without an X server it is inactive.
#include "platform/globalshortcut.h"
#include "timescale.h"

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

namespace {

enum class XServer { Missing, Failed, Running } xServer = XServer::Missing;
int refusals = 0; // the hot key's log lines about a refused grab
QtMessageHandler testLog = nullptr;

void countRefusals(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    refusals += message.startsWith(QLatin1String("global shortcut")) && message.contains(QLatin1String("refused"));
    testLog(type, context, message);
}

// Sends keys one after the other as the X server's test extension does for a real keyboard.
bool press(const QStringList& keys) { return QProcess::execute(QStringLiteral("xdotool"), QStringList{"key"} + keys) == 0; }

} // namespace

class GlobalShortcutTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { testLog = qInstallMessageHandler(countRefusals); } // the test log puts back its own
    // Skipped only where Xvfb is not installed; an X server that would not start fails the test.
    void init()
    {
        const bool needsX = qstrcmp(QTest::currentTestFunction(), "withoutDisplayServerInactive") != 0;
        if (needsX && xServer == XServer::Missing)
            QSKIP("Xvfb is not installed");
        QVERIFY2(!needsX || xServer == XServer::Running, "Xvfb did not start");
    }

    void pressActivatesOnceWhateverTheLocks_data()
    {
        QTest::addColumn<QStringList>("locks"); // toggled before the press and again after it
        QTest::newRow("no lock") << QStringList();
        QTest::newRow("num lock") << QStringList{"Num_Lock"};
        QTest::newRow("caps lock") << QStringList{"Caps_Lock"};
        QTest::newRow("both") << QStringList{"Num_Lock", "Caps_Lock"};
    }
    void pressActivatesOnceWhateverTheLocks()
    {
        QFETCH(QStringList, locks);
        GlobalShortcut hotKey(Qt::CTRL + Qt::Key_D);
        QSignalSpy activated(&hotKey, &GlobalShortcut::activated);
        QVERIFY(hotKey.isActive() && press(locks + QStringList{"ctrl+d"} + locks));
        QTRY_COMPARE_WITH_TIMEOUT(activated.count(), 1, timescale::ms(10000));
        QVERIFY(press({"d", "ctrl+e"})); // other keys: nothing
        QTest::qWait(200);
        QCOMPARE(activated.count(), 1);
    }

    // A second claim on the key is refused with one log line and gets nothing, until the holder is gone.
    void heldKeyIsRefusedUntilReleased()
    {
        auto* holder = new GlobalShortcut(Qt::CTRL + Qt::Key_D);
        GlobalShortcut refused(Qt::CTRL + Qt::Key_D);
        QSignalSpy held(holder, &GlobalShortcut::activated), notHeld(&refused, &GlobalShortcut::activated);
        QVERIFY(holder->isActive() && !refused.isActive() && press({"ctrl+d"}));
        QTRY_COMPARE_WITH_TIMEOUT(held.count(), 1, timescale::ms(10000));
        QCOMPARE(notHeld.count(), 0);

        delete holder;
        GlobalShortcut next(Qt::CTRL + Qt::Key_D);
        QSignalSpy activated(&next, &GlobalShortcut::activated);
        QVERIFY(next.isActive() && press({"ctrl+d"}));
        QTRY_COMPARE_WITH_TIMEOUT(activated.count(), 1, timescale::ms(10000));
        QCOMPARE(refusals, 1);
    }

    void withoutDisplayServerInactive()
    {
        if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
            QVERIFY(!GlobalShortcut(Qt::CTRL + Qt::Key_D).isActive());
        } else { // in a child process of this test, without the X server
            qputenv("TESSARK_HOTKEY_OFFSCREEN", "1");
            QCOMPARE(QProcess::execute(QCoreApplication::applicationFilePath(), {"withoutDisplayServerInactive"}), 0);
        }
    }
};

// The platform is chosen when the application is made: start the X server first.
int main(int argc, char** argv)
{
    QProcess xvfb;
    if (qEnvironmentVariableIsSet("TESSARK_HOTKEY_OFFSCREEN")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else if (!QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) {
        // -displayfd: the server takes the first free display and writes its number to our pipe;
        // -terminate: it ends with its last client, should this test crash.
        xvfb.start("Xvfb", QString("-displayfd 1 -terminate -nolisten tcp -screen 0 640x480x24").split(' '));
        QByteArray number;
        while (!number.contains('\n') && xvfb.waitForReadyRead(timescale::ms(20000)))
            number += xvfb.readAllStandardOutput();
        xServer = number.contains('\n') ? XServer::Running : XServer::Failed;
        if (xServer == XServer::Running) {
            qputenv("DISPLAY", ":" + number.trimmed());
            qputenv("QT_QPA_PLATFORM", "xcb");
        }
    }
    int result = 0;
    {
        QGuiApplication app(argc, argv); // gone before the X server
        GlobalShortcutTest test;
        result = QTest::qExec(&test, argc, argv);
    }
    xvfb.terminate(); // the destructor kills a server that does not end
    xvfb.waitForFinished(timescale::ms(10000));
    return result;
}

#include "test_globalshortcut.moc"
