// The system-wide hot key on an X server of its own: a press anywhere activates it once, whatever the
// lock keys; a key another client holds is refused until that client lets it go. Without a display
// server the hot key is inactive.
#include "platform/globalshortcut.h"

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

namespace {

enum class XServer { Missing, Failed, Running };
XServer xServer = XServer::Missing;
QStringList logLines; // the hot key's own lines
QtMessageHandler testLog = nullptr;

void recordLog(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("global shortcut")))
        logLines << message;
    testLog(type, context, message);
}

int countLog(const QString& part) { return logLines.filter(part).size(); }

// Sends keys as the X server's test extension does for a real keyboard.
bool press(const QString& keys) { return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}) == 0; }

} // namespace

// Skips only where Xvfb is not installed; an X server that would not start fails the test.
#define REQUIRE_X_SERVER()                                                                                  \
    do {                                                                                                    \
        if (xServer == XServer::Missing)                                                                    \
            QSKIP("Xvfb is not installed");                                                                 \
        QVERIFY2(xServer == XServer::Running, "Xvfb did not start");                                        \
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));                                   \
    } while (false)

class GlobalShortcutTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        logLines.clear();
        testLog = qInstallMessageHandler(recordLog);
    }
    void cleanup() { qInstallMessageHandler(testLog); }

    void pressActivatesOnceWhateverTheLocks_data()
    {
        QTest::addColumn<QString>("locks"); // toggled before the press and again after it
        QTest::newRow("no lock") << QString();
        QTest::newRow("num lock") << "Num_Lock";
        QTest::newRow("caps lock") << "Caps_Lock";
        QTest::newRow("both") << "Num_Lock Caps_Lock";
    }
    void pressActivatesOnceWhateverTheLocks()
    {
        QFETCH(QString, locks);
        REQUIRE_X_SERVER();
        GlobalShortcut hotKey(QKeySequence(QStringLiteral("CTRL+D")));
        QVERIFY(hotKey.isActive());
        QSignalSpy activated(&hotKey, &GlobalShortcut::activated);
        for (const QString& lock : locks.split(' ', Qt::SkipEmptyParts))
            QVERIFY(press(lock));
        QVERIFY(press(QStringLiteral("ctrl+d")));
        for (const QString& lock : locks.split(' ', Qt::SkipEmptyParts))
            QVERIFY(press(lock));
        QTRY_COMPARE(activated.count(), 1);
        QVERIFY(press(QStringLiteral("d")) && press(QStringLiteral("ctrl+e"))); // other keys: nothing
        QTest::qWait(200);
        QCOMPARE(activated.count(), 1);
    }

    // A second claim on the same key is refused with one log line and gets nothing; once the holder is
    // gone the key can be had again.
    void heldKeyIsRefusedUntilReleased()
    {
        REQUIRE_X_SERVER();
        auto* holder = new GlobalShortcut(QKeySequence(QStringLiteral("CTRL+D")));
        QVERIFY(holder->isActive());
        GlobalShortcut refused(QKeySequence(QStringLiteral("CTRL+D")));
        QVERIFY(!refused.isActive());
        QCOMPARE(countLog(QStringLiteral("refused")), 1);
        QSignalSpy held(holder, &GlobalShortcut::activated), notHeld(&refused, &GlobalShortcut::activated);
        QVERIFY(press(QStringLiteral("ctrl+d")));
        QTRY_COMPARE(held.count(), 1);
        QCOMPARE(notHeld.count(), 0);

        delete holder;
        GlobalShortcut next(QKeySequence(QStringLiteral("CTRL+D")));
        QVERIFY(next.isActive());
        QSignalSpy activated(&next, &GlobalShortcut::activated);
        QVERIFY(press(QStringLiteral("ctrl+d")));
        QTRY_COMPARE(activated.count(), 1);
        QCOMPARE(countLog(QStringLiteral("refused")), 1);
    }

    // Checked in a child process of this test, which has no X server.
    void withoutDisplayServerInactive()
    {
        if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
            GlobalShortcut hotKey(QKeySequence(QStringLiteral("CTRL+D")));
            QVERIFY(!hotKey.isActive());
            QCOMPARE(logLines, QStringList{"global shortcut Ctrl+D is not available on the platform offscreen"});
            return;
        }
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSARK_HOTKEY_OFFSCREEN"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("withoutDisplayServerInactive")});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray out = child.readAll();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, out.constData());
        QVERIFY2(out.contains("PASS   : GlobalShortcutTest::withoutDisplayServerInactive()"), out.constData());
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
        xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-terminate"),
                                            QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                                            QStringLiteral("0"), QStringLiteral("640x480x24")});
        QByteArray number;
        QElapsedTimer waited;
        waited.start();
        while (!number.contains('\n') && waited.elapsed() < 20000 && xvfb.state() != QProcess::NotRunning)
            if (xvfb.waitForReadyRead(1000))
                number += xvfb.readAllStandardOutput();
        bool ok = false;
        const int display = number.trimmed().toInt(&ok);
        xServer = ok ? XServer::Running : XServer::Failed;
        if (ok) {
            qputenv("DISPLAY", ":" + QByteArray::number(display));
            qputenv("QT_QPA_PLATFORM", "xcb");
        }
    }
    int result = 0;
    {
        QGuiApplication app(argc, argv);
        GlobalShortcutTest test;
        result = QTest::qExec(&test, argc, argv);
    }
    if (xvfb.state() != QProcess::NotRunning) {
        xvfb.terminate();
        if (!xvfb.waitForFinished(5000))
            xvfb.kill();
        xvfb.waitForFinished(5000);
    }
    return result;
}

#include "test_globalshortcut.moc"
