// The real tessark-sim executable on an X server of its own (Xvfb), driven by xdotool as a user would:
// a click on a picture key, then on a palette key, must reach the emulated keyboard as a key code write;
// an unplugged keyboard must give way to the disconnected picture and a reload, and Exit, or a stop signal,
// must end the process.
#include "builtpath.h"
#include "tempappdir.h"
#include "timescale.h"
#include "updateserver.h"

#include <QColor>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <csignal>

namespace {
// Limits for what must happen, far beyond a quiet machine's times: they only tell a hang from a slow
// machine, scaled for the sanitizer build and for TESSARK_TEST_TIME_SCALE.
const int StartMs = timescale::ms(120000);
const int ReportMs = timescale::ms(20000);

// Window-relative centres, from the layout files of appdir/config (the window is 980 wide):
// the TK104 Dual picture (board x/y 0/86, 36 px a unit, 22.5 units wide) starts at x 490 - 22.5 * 18 = 85,
// so its first key, Esc (entry 0), spans 85..117 x 86..118.
constexpr int PictureEscX = 101, PictureEscY = 102;
// The palette (static y 410, 36 px a unit) starts at x 80; its "A" (type 1, code 0x04) sits in the
// Caps Lock row (3.5 units down) after Caps Lock (1.75 units): 143..179 x 536..572.
constexpr int PaletteAX = 161, PaletteAY = 554;
constexpr int PaletteACode = 0x04;
constexpr int PaletteAType = 1;
// The title bar's menu button, 25 x 25 at x 979 - 102, y 12.
constexpr int MenuButtonX = 889, MenuButtonY = 24;
// The settings menu has eight entries of one height; About is the fifth, Exit the last.
constexpr int MenuEntries = 8;
constexpr int AboutEntry = 4;
// The SHORTCUTS tab (138 x 28 at x 349, y 26 with four tabs shown). Below the picture the shortcuts page
// (at 35, 327) lists one row per used slot, 58 high: the second row's document field and the download button.
constexpr int ShortcutsTabX = 418, ShortcutsTabY = 40;
constexpr int DocumentFieldX = 665, DocumentFieldY = 464;
constexpr int DownloadX = 805, DownloadY = 692;
// The MACRO tab, and on the macro page the REC button, the DOWNLOAD icon and the add button.
constexpr int MacroTabX = 735, MacroTabY = 40;
constexpr int RecX = 38, RecY = 113;
constexpr int MacroDownloadX = 153, MacroDownloadY = 113;
constexpr int MacroAddX = 507, MacroAddY = 113;
// The COLOR tab; the lighting page (at 35, 349 under the picture) centres its two 760-wide boxes: the
// palette's first swatch, and the slot buttons M2 and M7 of the picker's first row, one globule row
// (32 px) lower since the keyboard's 32 mode globules take two rows. F1 is picture entry 1.
constexpr int ColorTabX = 268, ColorTabY = 40;
constexpr int SwatchX = 139, SwatchY = 444;
constexpr int SlotRowY = 626 + 32, Slot2X = 236, Slot7X = 466;
constexpr int PictureF1X = 173, PictureF1Y = 102;
// The slot dialog is the tool's only window 1000 pixels wide.
constexpr int DialogWidth = 1000;
// The settings page in upgrade mode: the firmware panel's path edit and its update button.
constexpr int FirmwarePathX = 531, FirmwarePathY = 600;
constexpr int FirmwareUpdateX = 844, FirmwareUpdateY = 600;

// Stops a process on every path out of the test: politely first, then for good.
void stop(QProcess& p)
{
    // Only a process that has really started is signalled.
    if (p.state() == QProcess::Starting)
        p.waitForStarted(timescale::ms(10000));
    if (p.state() != QProcess::Running)
        return;
    p.terminate();
    if (!p.waitForFinished(timescale::ms(10000))) {
        p.kill();
        p.waitForFinished(timescale::ms(10000));
    }
}

// True when the lines occur in text one after the other, from index from on.
bool inOrder(const QString& text, std::initializer_list<const char*> lines, int from = 0)
{
    for (const char* line : lines) {
        from = text.indexOf(QLatin1String(line), from);
        if (from < 0)
            return false;
        from += int(qstrlen(line));
    }
    return true;
}

// Outgoing reports of keyboard 1 in the emulator's log whose command group and command are these.
QList<QByteArray> writesOf(const QString& logPath, quint8 group, quint8 command)
{
    QList<QByteArray> writes;
    QFile log(logPath);
    if (!log.open(QIODevice::ReadOnly))
        return writes;
    for (const QByteArray& line : log.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 4 || fields[0] != "1" || fields[1] != "out")
            continue;
        const QByteArray report = QByteArray::fromHex(fields[3]);
        if (report.size() >= 64 && quint8(report[0]) == group && quint8(report[1]) == command)
            writes << report;
    }
    return writes;
}

// Outgoing key code writes of keyboard 1 in the emulator's log ("1 out <ms> <hex>"), as their bytes.
QList<QByteArray> keyCodeWrites(const QString& logPath)
{
    return writesOf(logPath, 0x20, 0x11);
}

// Whether the servers logged a request whose path ends with this.
bool requested(const sim::UpdateServers& servers, const char* pathEnd)
{
    for (const QString& line : servers.requestLines())
        if (line.section(QLatin1Char(' '), 1, 1).section(QLatin1Char('?'), 0, 0).endsWith(QLatin1String(pathEnd)))
            return true;
    return false;
}

// Every file under dir, with its content.
QMap<QString, QByteArray> filesUnder(const QString& dir)
{
    QMap<QString, QByteArray> files;
    for (QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        files.insert(path, readFile(path));
    }
    return files;
}

// Ends every process running this executable (the tool the updater started, detached from the test).
void stopProcessesOf(const QString& exe)
{
    const QString target = QFileInfo(exe).canonicalFilePath();
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        pid.toInt(&number);
        if (number && QFileInfo(QStringLiteral("/proc/") + pid + QStringLiteral("/exe")).symLinkTarget() == target)
            QProcess::execute(QStringLiteral("kill"), {pid});
    }
}

// One tessark-sim on its own Xvfb display, run from a copy of the built files in a temporary folder, so
// its log, settings and single-instance socket stay there. Both processes are stopped on every way out.
struct Session {
    TempAppDir root;
    const QString appDir = root.filePath(QStringLiteral("app"));
    const QString simLog = root.filePath(QStringLiteral("sim.log"));
    const QString control = root.filePath(QStringLiteral("control"));
    QString display;
    QString window; // the main window's id
    QPoint origin;  // and its top-left on the screen
    QString out;    // everything the app has written so far, both channels
    QProcess xvfb;
    QProcess app;
    QProcessEnvironment extraEnv; // added to the app's environment
    // When set, this signal is sent signalMoment ms after the app has its handler, and start() returns.
    int earlySignal = 0;
    int signalMoment = 0;
    QMap<QString, QByteArray> filesAtStart;

    ~Session()
    {
        stop(app);
        stop(xvfb);
    }

    // Runs xdotool on the display; its standard output, or a null string when it failed.
    QString xdotool(const QStringList& args) const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("xdotool"), args);
        if (!p.waitForFinished(timescale::ms(30000)) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            stop(p);
            return QString();
        }
        return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed() + QLatin1Char(' ');
    }

    QRect geometry(const QString& id) const
    {
        QRect r;
        for (const QString& line : xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id})
                                       .split(QLatin1Char('\n'))) {
            const int value = line.section(QLatin1Char('='), 1).trimmed().toInt();
            if (line.startsWith(QLatin1String("X=")))
                r.moveLeft(value);
            else if (line.startsWith(QLatin1String("Y=")))
                r.moveTop(value);
            else if (line.startsWith(QLatin1String("WIDTH=")))
                r.setWidth(value);
            else if (line.startsWith(QLatin1String("HEIGHT=")))
                r.setHeight(value);
        }
        return r;
    }

    // Ids of the app's mapped windows that match the xdotool search arguments.
    QStringList search(const QString& by, const QString& pattern) const
    {
        QStringList ids = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), by, pattern})
                              .simplified()
                              .split(QLatin1Char(' '));
        ids.removeAll(QString());
        return ids;
    }
    QString mainWindow() const { return search(QStringLiteral("--name"), QStringLiteral("^Tessark$")).value(0); }

    bool click(int x, int y) const
    {
        return !xdotool({QStringLiteral("mousemove"), QString::number(x), QString::number(y), QStringLiteral("click"),
                         QStringLiteral("1")})
                    .isNull();
    }

    // Polls done while collecting the app's output; false once ms have passed, or the app has ended, without it.
    template <typename Done>
    bool waitUntil(Done done, int ms)
    {
        const QDeadlineTimer deadline(ms);
        for (;;) {
            const bool running = app.state() == QProcess::Running;
            out += QString::fromLocal8Bit(app.readAll());
            if (done())
                return true;
            if (!running || deadline.hasExpired())
                return false;
            app.waitForReadyRead(int(qMin<qint64>(200, deadline.remainingTime())));
        }
    }

    bool waitFor(const char* text, int ms, int from = 0)
    {
        return waitUntil([&] { return out.indexOf(QLatin1String(text), from) >= 0; }, ms);
    }

    // Hands the emulator a control line and waits until it has taken it. Renamed into place, so a
    // poll never reads half of it.
    bool command(const QByteArray& line)
    {
        QFile file(control + QStringLiteral(".new"));
        if (!file.open(QIODevice::WriteOnly) || file.write(line + '\n') < 0)
            return false;
        file.close();
        return file.rename(control) && waitUntil([&] { return !QFile::exists(control); }, ReportMs);
    }

    // The largest of the app's mapped windows besides the main one that is big enough for a box (a
    // tooltip, over the button just clicked, is not); empty when there is none.
    QString otherWindow() const
    {
        QString found;
        int area = 0;
        for (const QString& id : search(QStringLiteral("--class"), QStringLiteral("tessark-sim"))) {
            const QRect r = id == window ? QRect() : geometry(id);
            if (r.width() >= 150 && r.height() >= 80 && r.width() * r.height() > area) {
                area = r.width() * r.height();
                found = id;
            }
        }
        return found;
    }

    // Presses Return in the box that is open, until it goes: the pointer over it gives it the keys on a
    // display without a window manager. False when none is mapped within ms, or it stays.
    bool answerBox(int ms)
    {
        QString box;
        if (!waitUntil([&] { return !(box = otherWindow()).isEmpty(); }, ms))
            return false;
        for (int attempt = 0; attempt < 5; ++attempt) {
            const QRect r = geometry(box);
            if (r.isEmpty())
                return true;
            xdotool({QStringLiteral("mousemove"), QString::number(r.center().x()), QString::number(r.center().y())});
            xdotool({QStringLiteral("key"), QStringLiteral("Return")});
            if (waitUntil([&] { return !search(QStringLiteral("--class"), QStringLiteral("tessark-sim")).contains(box); },
                          timescale::ms(3000)))
                return true;
        }
        return false;
    }

    // Opens the settings menu: the tallest of the app's other windows (a tooltip may be mapped as well).
    // A press the window did not take (still loading) is given again. Empty when it did not open.
    QRect openMenu()
    {
        QRect menu;
        for (int attempt = 0; attempt < 5 && menu.isEmpty(); ++attempt) {
            if (!click(origin.x() + MenuButtonX, origin.y() + MenuButtonY))
                return QRect();
            waitUntil(
                [&] {
                    for (const QString& id : search(QStringLiteral("--class"), QStringLiteral("tessark"))) {
                        const QRect r = id == window ? QRect() : geometry(id);
                        if (r.height() > menu.height())
                            menu = r;
                    }
                    return menu.height() > MenuEntries * 10;
                },
                timescale::ms(5000));
            if (menu.height() <= MenuEntries * 10)
                menu = QRect();
        }
        return menu;
    }
    bool clickExit(const QRect& menu) const
    {
        return click(menu.center().x(), menu.bottom() - menu.height() / (2 * MenuEntries));
    }

    // Exit from the settings menu; the process must end by itself with exit code 0 (a sanitizer
    // report, leaks included, would show there). Fails the test otherwise.
    void quitThroughMenu()
    {
        const QRect menu = openMenu();
        QVERIFY2(!menu.isEmpty(), "the settings menu did not open");
        const int from = out.size();
        QVERIFY(clickExit(menu));
        QVERIFY2(app.waitForFinished(StartMs), qPrintable(out.mid(from)));
        out += QString::fromLocal8Bit(app.readAll());
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QVERIFY2(app.exitCode() == 0, qPrintable(out.mid(qMax(from, out.indexOf(QLatin1String("Sanitizer"))))));
    }


    // Starts Xvfb and the app and waits for a drawn keyboard in the mapped window; a failure fails the test,
    // so the caller returns when QTest::currentTestFailed().
    void start()
    {
        for (const char* sub : {"config", "images", "font", "Upgrade"})
            QVERIFY(root.copyFiles(builtPath(QLatin1String(sub)), QStringLiteral("app/") + QLatin1String(sub)));
        const QString exe = appDir + QStringLiteral("/tessark-sim");
        QVERIFY(QFile::copy(builtPath(QStringLiteral("tessark-sim")), exe));
        const QString runtime = root.filePath(QStringLiteral("run"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        // Xvfb picks a free display itself and writes its number to standard output when ready.
        xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                            QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                            QStringLiteral("-screen"), QStringLiteral("0"),
                                            QStringLiteral("1280x1024x24")});
        QVERIFY(xvfb.waitForStarted(StartMs));
        QString number;
        const QDeadlineTimer xDeadline(StartMs);
        while (!number.contains(QLatin1Char('\n')) && !xDeadline.hasExpired()
               && xvfb.state() != QProcess::NotRunning) {
            xvfb.waitForReadyRead(200);
            number += QString::fromLocal8Bit(xvfb.readAllStandardOutput());
        }
        QVERIFY2(number.contains(QLatin1Char('\n')), qPrintable(xvfb.readAllStandardError()));
        display = QLatin1Char(':') + number.trimmed();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM")); // xcb on the Xvfb display
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("DISPLAY"), display);
        // The tool paints with QPainter only: no GL driver state whatever the machine's Mesa.
        env.insert(QStringLiteral("QT_XCB_GL_INTEGRATION"), QStringLiteral("none"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("xdgconfig")));
        env.insert(QStringLiteral("TESSARK_SIM_LOG"), simLog);
        env.insert(QStringLiteral("TESSARK_SIM_CONTROL"), control);
        env.insert(extraEnv);
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::MergedChannels);
        if (earlySignal)
            filesAtStart = filesUnder(root.path());
        app.start(exe, QStringList());
        QVERIFY(app.waitForStarted(StartMs));
        const QString status = QStringLiteral("/proc/%1/status").arg(app.processId());
        for (const QDeadlineTimer deadline(StartMs); earlySignal && !deadline.hasExpired();) {
            const QByteArray fields = readFile(status); // polled without a pause: the moment counts
            const quint64 caught = fields.mid(fields.indexOf("SigCgt:") + 7, 17).trimmed().toULongLong(nullptr, 16);
            if (fields.isEmpty() || fields.contains("State:\tZ") || ((caught >> (earlySignal - 1)) & 1)) {
                QThread::msleep(ulong(signalMoment));
                QCOMPARE(::kill(pid_t(app.processId()), earlySignal), 0);
                return;
            }
        }
        QVERIFY2(waitFor("keyboard picture drawn", StartMs),
                 qPrintable(QStringLiteral("display %1, exit %2: %3").arg(display).arg(app.exitCode()).arg(out)));

        // The window once it is mapped: its top-left is where the layout's coordinates start.
        QRect frame;
        QVERIFY2(waitUntil(
                     [&] {
                         window = mainWindow();
                         frame = window.isEmpty() ? QRect() : geometry(window);
                         return frame.width() == 980;
                     },
                     StartMs),
                 qPrintable(window));
        origin = frame.topLeft();
    }
};
} // namespace

class EndToEnd : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("Xvfb or xdotool is not installed");
    }

    void clickedPaletteKeyIsWrittenToTheClickedPictureKey()
    {
        Session s;
        s.start();
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(keyCodeWrites(s.simLog).isEmpty(), "a key code was written before any click");

        // A click the window has not taken yet (still painting) is simply given again.
        QList<QByteArray> writes;
        for (int attempt = 0; attempt < 3 && writes.isEmpty(); ++attempt) {
            const int from = s.out.size();
            QVERIFY(s.click(s.origin.x() + PictureEscX, s.origin.y() + PictureEscY));
            QVERIFY2(s.waitFor("Click KeyBtn text is", ReportMs, from), qPrintable(s.out));
            QVERIFY(s.click(s.origin.x() + PaletteAX, s.origin.y() + PaletteAY));
            s.waitUntil([&] { return !(writes = keyCodeWrites(s.simLog)).isEmpty(); }, ReportMs);
        }
        QVERIFY2(!writes.isEmpty(), qPrintable(s.out));
        const QByteArray& w = writes.first();
        QCOMPARE(quint8(w[9]), quint8(0));  // first entry: Esc
        QCOMPARE(quint8(w[10]), quint8(0)); // last entry
        QCOMPARE((quint8(w[12]) >> 1) & 7, PaletteAType);
        QCOMPARE(quint8(w[13]) | (quint8(w[14]) << 8), PaletteACode);
    }

    void unplugShowsDisconnectedThenReloadsAndExitEndsTheProcess()
    {
        Session s;
        s.start();
        if (QTest::currentTestFailed())
            return;

        // Keyboard 2 leaves first, so that nothing but keyboard 1 coming back can be loaded.
        QVERIFY(s.command("unplug 2"));
        const int unplugFrom = s.out.size();
        QVERIFY(s.command("unplug 1"));
        QVERIFY2(s.waitFor("0000000000000000000-closeDevice-0000000000000000000", ReportMs, unplugFrom),
                 qPrintable(s.out.mid(unplugFrom)));
        QVERIFY2(inOrder(s.out, {"start scan usb open mode.", "close device.....", "create discon pixmap.", "-closeDevice-"},
                         unplugFrom),
                 qPrintable(s.out.mid(unplugFrom)));
        const int plugFrom = s.out.size();
        QVERIFY(s.command("plug 1"));
        QVERIFY2(s.waitFor("keyboard picture drawn", StartMs, plugFrom), qPrintable(s.out.mid(plugFrom)));
        QVERIFY(s.out.indexOf(QStringLiteral("TK104 Dual"), plugFrom) >= 0);

        // Menu button, then the menu's last entry.
        const QRect menu = s.openMenu();
        QVERIFY2(!menu.isEmpty(), "the settings menu did not open");
        const int exitFrom = s.out.size();
        QVERIFY(s.clickExit(menu));
        QElapsedTimer sinceExit;
        sinceExit.start();

        // Hidden at once; the teardown follows on the quit timer's second tick, not sooner.
        qint64 hiddenMs = -1, quitMs = -1;
        QVERIFY2(s.waitUntil(
                     [&] {
                         if (hiddenMs < 0 && s.mainWindow() != s.window)
                             hiddenMs = sinceExit.elapsed();
                         if (quitMs < 0 && s.out.indexOf(QLatin1String("Tessark quit."), exitFrom) >= 0)
                             quitMs = sinceExit.elapsed();
                         return hiddenMs >= 0 && quitMs >= 0;
                     },
                     ReportMs),
                 qPrintable(s.out.mid(exitFrom)));
        QVERIFY2(hiddenMs <= quitMs,
                 qPrintable(QStringLiteral("hidden after %1 ms, quit after %2 ms").arg(hiddenMs).arg(quitMs)));
        QVERIFY2(quitMs >= 500, qPrintable(QStringLiteral("quit after %1 ms").arg(quitMs)));
        // On that second tick and no later one: exactly two ticks came before the teardown.
        const QString exitOut = s.out.mid(exitFrom);
        QVERIFY2(exitOut.left(exitOut.indexOf(QLatin1String("Tessark quit."))).count(QLatin1String("quit tick")) == 2
                     && inOrder(exitOut, {"quit tick 1", "quit tick 0", "Tessark quit."}),
                 qPrintable(exitOut));

        // The process ends by itself, cleanly: a sanitizer report at exit would show in the exit code.
        QVERIFY2(s.app.waitForFinished(ReportMs), "still running");
        s.out += QString::fromLocal8Bit(s.app.readAll());
        QCOMPARE(s.app.exitStatus(), QProcess::NormalExit);
        QVERIFY2(s.app.exitCode() == 0,
                 qPrintable(s.out.mid(qMax(exitFrom, s.out.indexOf(QLatin1String("Sanitizer"), exitFrom)))));

        const QFileInfoList logs = QDir(s.appDir + QStringLiteral("/log")).entryInfoList({QStringLiteral("*.txt")});
        QCOMPARE(logs.size(), 1);
        QFile log(logs.first().absoluteFilePath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(log.readAll());
        QVERIFY2(inOrder(text, {"close device.....", "Tessark quit.",
                                "0000000000000000000-normal quit-0000000000000000000",
                                "0000000000000000000-closeEvent-0000000000000000000"}),
                 qPrintable(text.right(3000)));
    }

    // TERM, INT and HUP end the tool as Exit does, also while the About box waits for an answer: Exit's
    // timed teardown in the log, and the process ends by itself, with status 0. So it does from the
    // first instant the tool has a handler on (moment 0 ms and later), the files there were left as they
    // were; at that instant it ends before anything is loaded (no log, no word to a keyboard). A busy
    // machine may let the start get further meanwhile: only then is it tried again.
    void stopSignalEndsTheProcessAsExitDoes_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("aboutOpen");
        QTest::addColumn<int>("moment"); // ms after the handler is in place; -1: once the keyboard is drawn
        QTest::newRow("SIGTERM, About open") << int(SIGTERM) << true << -1;
        QTest::newRow("SIGINT") << int(SIGINT) << false << -1;
        QTest::newRow("SIGHUP") << int(SIGHUP) << false << -1;
        QTest::newRow("SIGHUP as soon as it is caught") << int(SIGHUP) << false << 0;
        QTest::newRow("SIGHUP 15 ms later") << int(SIGHUP) << false << 15;
        QTest::newRow("SIGTERM 60 ms later") << int(SIGTERM) << false << 60;
        QTest::newRow("SIGHUP 200 ms later") << int(SIGHUP) << false << 200;
    }
    void stopSignalEndsTheProcessAsExitDoes()
    {
        QFETCH(int, signal);
        QFETCH(bool, aboutOpen);
        QFETCH(int, moment);
        for (int attempt = 0; moment >= 0 && attempt < 5; ++attempt) {
            Session s;
            s.earlySignal = signal;
            s.signalMoment = moment;
            s.start();
            if (QTest::currentTestFailed())
                return;
            QVERIFY2(s.app.waitForFinished(ReportMs) && s.app.exitStatus() == QProcess::NormalExit
                         && s.app.exitCode() == 0,
                     qPrintable(QString::number(s.app.exitCode()) + s.app.readAll()));
            const QMap<QString, QByteArray> after = filesUnder(s.root.path());
            for (auto it = s.filesAtStart.cbegin(); it != s.filesAtStart.cend(); ++it)
                QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()));
            if (moment > 0 || (!QFileInfo::exists(s.appDir + "/log") && !readFile(s.simLog).contains(" out ")))
                return;
        }
        QVERIFY2(moment < 0, "loaded before the signal each time");
        Session s;
        s.start();
        if (QTest::currentTestFailed())
            return;
        if (aboutOpen) {
            const QRect menu = s.openMenu();
            QVERIFY2(!menu.isEmpty(), "the settings menu did not open");
            QVERIFY(s.click(menu.center().x(), menu.top() + menu.height() * (2 * AboutEntry + 1) / (2 * MenuEntries)));
            QVERIFY2(s.waitUntil([&] { const QString box = s.otherWindow(); return !box.isEmpty() && s.geometry(box) != menu; },
                                 ReportMs),
                     "About did not open");
        }
        const int from = s.out.size();
        QCOMPARE(::kill(pid_t(s.app.processId()), signal), 0);
        QVERIFY2(s.app.waitForFinished(ReportMs), qPrintable(s.out.mid(from)));
        s.out += QString::fromLocal8Bit(s.app.readAll());
        QCOMPARE(s.app.exitStatus(), QProcess::NormalExit);
        QVERIFY2(s.app.exitCode() == 0, qPrintable(s.out.mid(from)));

        const QFileInfoList logs = QDir(s.appDir + QStringLiteral("/log")).entryInfoList({QStringLiteral("*.txt")});
        QCOMPARE(logs.size(), 1);
        const QString text = QString::fromUtf8(readFile(logs.first().absoluteFilePath()));
        QVERIFY2(inOrder(text, {"received: ending as Exit does", "close device.....", "quit tick 1", "quit tick 0",
                                "Tessark quit.", "0000000000000000000-normal quit-0000000000000000000",
                                "0000000000000000000-closeEvent-0000000000000000000"}),
                 qPrintable(text.right(3000)));
        QCOMPARE(text.contains(QLatin1String("ending: a box was open, answered as cancelled")), aboutOpen);
    }

    // A document row given a script of ours and downloaded: the keyboard's press of that key function runs
    // it, and so does the launcher panel's button, which Ctrl+D shows and hides anywhere on the desktop.
    void keyFunctionRunsItsProgramFromTheKeyboardAndTheLauncher()
    {
        Session s;
        s.start();
        if (QTest::currentTestFailed())
            return;
        const QString marker = s.root.filePath(QStringLiteral("ran"));
        const QString script = s.root.filePath(QStringLiteral("key function.sh"));
        QVERIFY(s.root.write(QStringLiteral("key function.sh"),
                             "#!/bin/sh\necho ran >> '" + marker.toLocal8Bit() + "'\n"));
        QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const auto runs = [&] { return readFile(marker).count("ran"); };

        const int pageFrom = s.out.size();
        QVERIFY(s.click(s.origin.x() + ShortcutsTabX, s.origin.y() + ShortcutsTabY));
        QVERIFY2(s.waitFor("Shortcuts Create Item finished.", ReportMs, pageFrom), qPrintable(s.out.mid(pageFrom)));
        QVERIFY(s.click(s.origin.x() + DocumentFieldX, s.origin.y() + DocumentFieldY));
        QVERIFY(!s.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a")}).isNull());
        QVERIFY(!s.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), script}).isNull());
        QVERIFY(s.click(s.origin.x() + DownloadX, s.origin.y() + DownloadY));

        // Slot 1 written with the document function (number 2) and in use: word 0 is 0x0141.
        QList<QByteArray> writes;
        QVERIFY2(s.waitUntil([&] { return !(writes = writesOf(s.simLog, 0x40, 0x20)).isEmpty(); }, ReportMs),
                 qPrintable(s.out.mid(pageFrom)));
        QCOMPARE(writes.size(), 1);
        QCOMPARE(quint8(writes.first()[8]), quint8(0x41));
        QCOMPARE(quint8(writes.first()[9]), quint8(0x01));

        QVERIFY(s.command("press 1 1"));
        QVERIFY2(s.waitUntil([&] { return runs() == 1; }, ReportMs), qPrintable(s.out.mid(pageFrom)));

        QString panel;
        QVERIFY(!s.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+d")}).isNull());
        QVERIFY2(s.waitUntil([&] { return !(panel = s.search(QStringLiteral("--name"), QStringLiteral("^Virtual Keyboard$")).value(0)).isEmpty(); },
                             ReportMs),
                 qPrintable(s.out.mid(pageFrom)));
        // Three buttons (website, document, folder by slot) in one row: the middle one is the document's.
        const QRect r = s.geometry(panel);
        QVERIFY(s.click(r.center().x(), r.center().y()));
        QVERIFY2(s.waitUntil([&] { return runs() == 2; }, ReportMs), qPrintable(s.out.mid(pageFrom)));
        QVERIFY(!s.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+d")}).isNull());
        QVERIFY(s.waitUntil([&] { return s.search(QStringLiteral("--name"), QStringLiteral("^Virtual Keyboard$")).isEmpty(); },
                            ReportMs));
    }

    // A macro recorded on the keyboard: a new entry, REC, Ctrl+C typed on the keyboard, REC off,
    // DOWNLOAD. The keyboard is told to record and to stop, gets the four frames and their closing
    // packet, and the macro's file holds the four events.
    void recordedMacroIsDownloadedAndSaved()
    {
        Session s;
        s.start();
        if (QTest::currentTestFailed())
            return;
        const int from = s.out.size();
        QVERIFY(s.click(s.origin.x() + MacroTabX, s.origin.y() + MacroTabY));
        QVERIFY2(s.waitFor("read macro item KBDevice finished.", ReportMs, from), qPrintable(s.out.mid(from)));
        QVERIFY(s.click(s.origin.x() + MacroAddX, s.origin.y() + MacroAddY));
        QVERIFY2(s.waitFor("Add Item id=", ReportMs, from), qPrintable(s.out.mid(from)));

        const auto recordWrites = [&] { return writesOf(s.simLog, 0x50, 0x10); };
        QVERIFY(s.click(s.origin.x() + RecX, s.origin.y() + RecY));
        QVERIFY2(s.waitUntil([&] { return recordWrites().size() == 1; }, ReportMs), qPrintable(s.out.mid(from)));
        QCOMPARE(quint8(recordWrites().at(0)[8]), quint8(1));

        // Left Ctrl, C down, C up, Ctrl up: each change reaches the page as one frame.
        QVERIFY(s.command("play 1 0:0100000000000000 80:0100060000000000 60:0100000000000000 70:0000000000000000"));
        QVERIFY2(s.waitUntil([&] { return s.out.mid(from).count(QLatin1String("RECV ts=")) == 4; }, ReportMs),
                 qPrintable(s.out.mid(from)));
        QVERIFY(s.click(s.origin.x() + RecX, s.origin.y() + RecY));
        QVERIFY2(s.waitUntil([&] { return recordWrites().size() == 2; }, ReportMs), qPrintable(s.out.mid(from)));
        QCOMPARE(quint8(recordWrites().at(1)[8]), quint8(0));

        QVERIFY(s.click(s.origin.x() + MacroDownloadX, s.origin.y() + MacroDownloadY));
        QList<QByteArray> frames;
        QVERIFY2(s.waitUntil([&] { return (frames = writesOf(s.simLog, 0x50, 0x40)).size() >= 2; }, ReportMs),
                 qPrintable(s.out.mid(from)));
        QCOMPARE(frames.size(), 2);
        QCOMPARE(quint8(frames[0][2]), quint8(40)); // four frames of ten bytes
        QCOMPARE(quint8(frames[1][2]), quint8(0));  // the closing packet, with the count
        QCOMPARE(quint8(frames[1][4]), quint8(4));

        QVERIFY2(s.waitFor("Save macro item:", ReportMs, from), qPrintable(s.out.mid(from)));
        QStringList files;
        for (const QFileInfo& dir : QDir(s.appDir).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
            for (const QFileInfo& f : QDir(dir.filePath() + QStringLiteral("/item")).entryInfoList({QStringLiteral("*.xml")}))
                files << f.absoluteFilePath();
        QCOMPARE(files.size(), 1);
        QCOMPARE(readFile(files.first()).count("<KEY"), 4);
    }

    // A colour and a slot painted on two keys, a slot's record applied from its dialog; Escape closes
    // the dialog so that the slot opens again.
    void lightingPaintsKeysAndAppliesASlot()
    {
        Session s;
        s.start();
        if (QTest::currentTestFailed())
            return;
        const QByteArray colours = readFile(s.appDir + QStringLiteral("/config/customcolor/color_btn_32.json"));
        const int at = colours.indexOf("\"customColor_0\": \"#");
        QVERIFY(at > 0);
        const QColor first(QString::fromLatin1(colours.mid(at + 18, 7)));
        QVERIFY(first.isValid());

        const int from = s.out.size();
        QVERIFY(s.click(s.origin.x() + ColorTabX, s.origin.y() + ColorTabY));
        QList<QByteArray> colourWrites, slotWrites, records;
        // A press the window has not taken yet (still building the page) is simply given again.
        for (int attempt = 0; attempt < 3 && colourWrites.isEmpty(); ++attempt) {
            QTest::qWait(500);
            QVERIFY(s.click(s.origin.x() + SwatchX, s.origin.y() + SwatchY));
            QTest::qWait(300); // not a double press, which opens the colour dialog
            QVERIFY(s.click(s.origin.x() + PictureEscX, s.origin.y() + PictureEscY));
            s.waitUntil([&] { return !(colourWrites = writesOf(s.simLog, 0x30, 0x11)).isEmpty(); }, timescale::ms(5000));
        }
        QVERIFY2(!colourWrites.isEmpty(), qPrintable(s.out.mid(from)));
        QVERIFY(s.click(s.origin.x() + Slot7X, s.origin.y() + SlotRowY));
        QVERIFY(s.click(s.origin.x() + PictureF1X, s.origin.y() + PictureF1Y));
        QVERIFY2(s.waitUntil([&] { return !(slotWrites = writesOf(s.simLog, 0x60, 0x04)).isEmpty(); }, ReportMs),
                 qPrintable(s.out.mid(from)));

        const QStringList twice = {QStringLiteral("mousemove"), QString::number(s.origin.x() + Slot2X),
                                   QString::number(s.origin.y() + SlotRowY), QStringLiteral("click"),
                                   QStringLiteral("--repeat"), QStringLiteral("2"), QStringLiteral("--delay"),
                                   QStringLiteral("80"), QStringLiteral("1")};
        QVERIFY(!s.xdotool(twice).isNull());
        QVERIFY2(s.waitFor("mode double clicked show mode configuration dialog. 2", ReportMs, from),
                 qPrintable(s.out.mid(from)));
        // The dialog once it is mapped, found by its width; Apply lies at (505, 424) in it.
        QString dialog;
        const auto findDialog = [&] {
            dialog.clear();
            for (const QString& id : s.search(QStringLiteral("--class"), QStringLiteral("tessark-sim")))
                if (s.geometry(id).width() == DialogWidth)
                    dialog = id;
            return !dialog.isEmpty();
        };
        QVERIFY2(s.waitUntil(findDialog, ReportMs), "no slot dialog mapped");
        const QPoint apply = s.geometry(dialog).topLeft() + QPoint(505 + 32, 424 + 13);
        QVERIFY(s.click(apply.x(), apply.y()));
        QVERIFY2(s.waitUntil([&] { return !(records = writesOf(s.simLog, 0x60, 0x22)).isEmpty(); }, ReportMs),
                 qPrintable(s.out.mid(from)));
        QVERIFY(!s.xdotool({QStringLiteral("key"), QStringLiteral("Escape")}).isNull());
        QVERIFY2(s.waitUntil([&] { return !findDialog(); }, ReportMs), "the slot dialog stayed after Escape");
        const int again = s.out.size();
        QVERIFY(!s.xdotool(twice).isNull());
        QVERIFY2(s.waitFor("mode double clicked show mode configuration dialog. 2", ReportMs, again),
                 qPrintable(s.out.mid(again)));
        QVERIFY(!s.out.mid(from).contains(QLatin1String("parameter is not NULL.")));

        // Byte for byte: [map, 0, 0, 0, B, G, R, 0] for Esc; [mode, 1, 1, 0, 7] for F1; slot 2's record,
        // one of the emulator's fixed ones, with its step delay of 1023 shown and stored as 1000, its total
        // period of 0 stored as 0, and its twelve top bits kept.
        QCOMPARE(colourWrites.size(), 1);
        QCOMPARE(quint8(colourWrites[0][2]), quint8(8));
        QCOMPARE(colourWrites[0].mid(9, 7),
                 QByteArray("\0\0\0", 3) + char(first.blue()) + char(first.green()) + char(first.red()) + '\0');
        QCOMPARE(slotWrites.size(), 1);
        QCOMPARE(quint8(slotWrites[0][2]), quint8(5));
        QCOMPARE(slotWrites[0].mid(9, 4), QByteArray("\x01\x01\x00\x07", 4));
        QCOMPARE(records.size(), 1);
        QCOMPARE(quint8(records[0][2]), quint8(12));
        QCOMPARE(records[0].mid(8, 12).toHex(), QByteArray("82c00f0400a0ffff6400c800"));
    }

    // The version prompt's Yes, a folder of three images typed into the settings page, and the keyboard
    // back with its new firmware: Bluetooth frames, the restart, the bootloader's packets, in order.
    void firmwareFolderUpgradesTheKeyboard()
    {
        Session s;
        s.start();
        if (QTest::currentTestFailed())
            return;
        const QString folder = s.root.filePath(QStringLiteral("firmware"));
        QDir().mkpath(folder);
        const QList<QPair<const char*, int>> images = {
            {"qv_bt_app_1.bin", 9600}, {"qv_bt_sd_1.bin", 4096 + 4800}, {"qv_usb_app_1.bin", 5600}};
        for (const auto& image : images)
            QVERIFY(s.root.write(QStringLiteral("firmware/") + QLatin1String(image.first), QByteArray(image.second, 'f')));

        int from = s.out.size();
        for (const char* line : {"unplug 2", "version 1 95", "next-version 1 105", "unplug 1", "plug 1"})
            QVERIFY(s.command(line));
        QVERIFY2(s.waitFor("v0.95", StartMs, from), qPrintable(s.out.mid(from)));
        // The prompt: the pointer over it gives it the keys on a display without a window manager.
        QString box;
        QVERIFY2(s.waitUntil(
                     [&] {
                         for (const QString& id : s.search(QStringLiteral("--class"), QStringLiteral("tessark-sim")))
                             if (id != s.window)
                                 box = id;
                         return !box.isEmpty();
                     },
                     ReportMs),
                 "no prompt mapped");
        const QRect prompt = s.geometry(box);
        QVERIFY(!s.xdotool({QStringLiteral("mousemove"), QString::number(prompt.center().x()),
                            QString::number(prompt.center().y())})
                     .isNull());
        QVERIFY(!s.xdotool({QStringLiteral("key"), QStringLiteral("Return")}).isNull());
        QVERIFY2(s.waitFor("into dfu update", ReportMs, from), qPrintable(s.out.mid(from)));

        QTest::qWait(timescale::ms(500)); // the page laid out in upgrade mode
        QVERIFY(s.click(s.origin.x() + FirmwarePathX, s.origin.y() + FirmwarePathY));
        QVERIFY(!s.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), folder}).isNull());
        QVERIFY(s.click(s.origin.x() + FirmwareUpdateX, s.origin.y() + FirmwareUpdateY));
        from = s.out.indexOf(QLatin1String("into dfu update"));
        QVERIFY2(s.waitFor("Update firmware succeeded!", StartMs, from), qPrintable(s.out.mid(from)));
        const int done = s.out.indexOf(QLatin1String("Update firmware succeeded!"), from);
        QVERIFY2(s.waitFor("keyboard picture drawn", StartMs, done), qPrintable(s.out.mid(done)));
        QVERIFY(s.out.indexOf(QLatin1String("v1.05"), done) > 0);
        QVERIFY(s.out.indexOf(QLatin1String("Firmware Version"), done) < 0);

        // Keyboard 1's writes after the prompt, one token each: Bluetooth frames by sub-command, the
        // restart ("10"), then the bootloader's packets by command until its run command.
        QStringList order;
        bool bootloader = false;
        QFile log(s.simLog);
        QVERIFY(log.open(QIODevice::ReadOnly));
        for (const QByteArray& line : log.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() != 4 || fields[0] != "1" || fields[1] != "out")
                continue;
            const QByteArray r = QByteArray::fromHex(fields[3]);
            if (r.size() < 9)
                continue;
            QString token;
            if (bootloader)
                token = QString::asprintf("%02x", unsigned(quint8(r[0])));
            else if (quint8(r[0]) == 0xB0 && quint8(r[1]) == 0xDF)
                token = QString::asprintf("%02x", unsigned(quint8(r[8])));
            else if (quint8(r[0]) == 0x10 && quint8(r[1]) == 0x00)
                token = QStringLiteral("10");
            bootloader = (bootloader || token == QLatin1String("10")) && token != QLatin1String("ab");
            if (!token.isEmpty() && (order.isEmpty() || order.last() != token))
                order << token;
        }
        QCOMPARE(order, QStringList({"08", "81", "83", "82", "84", "85", "10", "a4", "a0", "00", "ab"}));
    }

    // The keyboard leaves at the key function write of a download: the failure box is open while the
    // window closes the keyboard and deletes the rows; once it is answered the tool goes on, loads the
    // keyboard again when it comes back, and ends cleanly.
    void unplugAtAKeyFunctionWriteWithItsBoxOpen()
    {
        Session s;
        s.start();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(s.command("unplug 2"));
        const int pageFrom = s.out.size();
        QVERIFY(s.click(s.origin.x() + ShortcutsTabX, s.origin.y() + ShortcutsTabY));
        QVERIFY2(s.waitFor("Shortcuts Create Item finished.", ReportMs, pageFrom), qPrintable(s.out.mid(pageFrom).right(900)));
        QVERIFY(s.click(s.origin.x() + DocumentFieldX, s.origin.y() + DocumentFieldY));
        QVERIFY(!s.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), QStringLiteral("x")})
                     .isNull());
        QVERIFY(s.command("unplug-at-write 1 1"));
        const int from = s.out.size();
        QVERIFY(s.click(s.origin.x() + DownloadX, s.origin.y() + DownloadY));
        QVERIFY2(s.waitFor("set KF item: the report could not be written", ReportMs, from), qPrintable(s.out.mid(from).right(900)));
        // Closed while the box is still open: its event loop took the disconnect.
        QVERIFY2(s.waitFor("-closeDevice-", ReportMs, from), qPrintable(s.out.mid(from).right(900)));
        QVERIFY2(s.answerBox(ReportMs), "no box mapped, or it stayed");
        QVERIFY2(s.waitFor("key function download ended", ReportMs, from), qPrintable(s.out.mid(from).right(900)));
        QVERIFY(writesOf(s.simLog, 0x40, 0x20).isEmpty()); // the one write never reached the keyboard
        QCOMPARE(s.app.state(), QProcess::Running);

        const int plugFrom = s.out.size();
        QVERIFY(s.command("plug 1"));
        QVERIFY2(s.waitFor("keyboard picture drawn", StartMs, plugFrom), qPrintable(s.out.mid(plugFrom).right(900)));
        s.quitThroughMenu();
    }

    // The firmware version prompt is open when the keyboard leaves: answered Yes afterwards, nothing is
    // upgraded and nothing shown; the keyboard back with accepted firmware loads without a prompt.
    void unplugWhileTheVersionPromptIsOpen()
    {
        Session s;
        s.start();
        if (QTest::currentTestFailed())
            return;
        int from = s.out.size();
        for (const char* line : {"unplug 2", "version 1 95", "unplug 1", "plug 1"})
            QVERIFY(s.command(line));
        QVERIFY2(s.waitFor("v0.95", StartMs, from), qPrintable(s.out.mid(from).right(900)));
        QVERIFY2(s.waitUntil([&] { return !s.otherWindow().isEmpty(); }, ReportMs), "no prompt mapped");
        const int unplugFrom = s.out.size();
        QVERIFY(s.command("unplug 1"));
        QVERIFY2(s.waitFor("-closeDevice-", ReportMs, unplugFrom), qPrintable(s.out.mid(unplugFrom).right(900)));
        QVERIFY2(s.answerBox(ReportMs), "the prompt went, or it stayed");
        QVERIFY2(s.waitFor("the keyboard left while its version prompt was open", ReportMs, unplugFrom),
                 qPrintable(s.out.mid(unplugFrom).right(900)));
        QTest::qWait(timescale::ms(500)); // time for a wrong upgrade to show itself
        QVERIFY(s.out.indexOf(QLatin1String("enter firmware update mode"), unplugFrom) < 0);
        QCOMPARE(s.app.state(), QProcess::Running);

        from = s.out.size();
        QVERIFY(s.command("version 1 100"));
        QVERIFY(s.command("plug 1"));
        QVERIFY2(s.waitFor("keyboard picture drawn", StartMs, from), qPrintable(s.out.mid(from).right(900)));
        QVERIFY(s.out.indexOf(QLatin1String("Firmware Version"), from) < 0);
        s.quitThroughMenu();
    }

    // Local servers offer a newer tool and newer firmware: once the keyboard has loaded the update
    // dialog shows both; the tool's Upgrade ends in the real updater replacing about.xml and the
    // executable and starting the new tool, which reads its new version.
    // With TESSARK_UPDATE_SHOT=<file.png> it also writes a picture of the screen with the dialog.
    void toolUpgradeIsInstalledByTheUpdaterAndRestarts()
    {
        Session s;
        TempDir served;
        const QString base = QStringLiteral("UpgradeTessark/Windows/Tessark/Tessark/");
        const QByteArray newAbout = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<COMMAND>\n"
                                    "    <firmware firmware=\"Tessark 1.0.1\"/>\n</COMMAND>\n";
        QByteArray newExe = readFile(builtPath(QStringLiteral("tessark-sim")));
        QVERIFY(!newExe.isEmpty());
        newExe += "\ntessark 1.0.1\n"; // trailing bytes: still the same program, told apart by its end
        const auto put = [&](const QString& relative, const QByteArray& content) {
            const QString path = served.filePath(relative);
            QDir().mkpath(QFileInfo(path).path());
            QFile f(path);
            return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
        };
        QVERIFY(put(QStringLiteral("UpgradeTessark/Windows/VersionFile/TessarkVersion.ini"),
                    "[TessarkVersion]\nVersion=1.0.1\nEnglishUpdateInfo=Tessark 1.0.1\n"));
        QVERIFY(put(QStringLiteral("UpgradeTessark/Windows/URLFile/TessarkFileURL.xml"),
                    "<root><tools_FileURL_1.0.0><FileURL url=\"/" + base.toUtf8() + "config/about.xml\"/>"
                    "<FileURL url=\"/" + base.toUtf8() + "tessark-sim\"/></tools_FileURL_1.0.0></root>"));
        QVERIFY(put(base + QStringLiteral("config/about.xml"), newAbout));
        QVERIFY(put(base + QStringLiteral("tessark-sim"), newExe));
        QVERIFY(put(QStringLiteral("UpgradeFirmware/TK104 Dual/VersionFile/FirmwareVersion.ini"),
                    "[FirmwareVersion]\nqv_usb_app_Version=700.0.0\nEnglishUpdateInfo=Firmware 700.0.0\n"));
        sim::UpdateServers servers(served.path(), "abcdefg0123456789abcdef0123456789abcdef0");
        QVERIFY(servers.start());
        const QString ini = s.root.filePath(QStringLiteral("servers.ini"));
        QVERIFY(servers.writeConfig(ini));
        s.extraEnv.insert(QStringLiteral("TESSARK_UPDATE_CONFIG"), ini);
        s.start();
        if (QTest::currentTestFailed())
            return;

        // Shown by itself once both checks found something.
        QString dialog;
        QVERIFY2(s.waitUntil(
                     [&] {
                         dialog = s.search(QStringLiteral("--name"), QStringLiteral("^Online Upgrade$")).value(0);
                         return !dialog.isEmpty() && requested(servers, "FirmwareVersion.ini");
                     },
                     StartMs),
                 qPrintable(servers.requestLines().join(QLatin1Char('\n'))));
        const QRect frame = s.geometry(dialog);
        QCOMPARE(frame.size(), QSize(620, 430));
        // Both answers arrive queued after the firmware file, and a click while the worker still reads it
        // is dropped: wait until both versions were found, then give them a moment to be shown.
        const QString found = QString::fromLocal8Bit("有新版本"); // decoded as the output is
        QVERIFY2(s.waitUntil([&] { return s.out.count(found) >= 2; }, StartMs),
                 qPrintable(s.out.right(4000)));
        QTest::qWait(timescale::ms(500));
        if (!qEnvironmentVariableIsEmpty("TESSARK_UPDATE_SHOT"))
            QProcess::execute(QStringLiteral("import"), {QStringLiteral("-display"), s.display, QStringLiteral("-window"),
                                                        QStringLiteral("root"), qEnvironmentVariable("TESSARK_UPDATE_SHOT")});

        // The tool frame's Upgrade button (82 x 29 at 480, 110 in the dialog).
        const int from = s.out.size();
        QVERIFY(s.click(frame.x() + 521, frame.y() + 124));
        QVERIFY2(s.waitFor("Tessark quit.", StartMs, from), qPrintable(s.out.mid(from)));
        QVERIFY2(s.app.waitForFinished(ReportMs), "still running");

        // The updater waits for the old process, copies, and starts the new tool, which logs its version.
        const QString exe = s.appDir + QStringLiteral("/tessark-sim");
        const QDeadlineTimer deadline(StartMs);
        QString log;
        while (!log.contains(QLatin1String("TessarkVersion= \"1.0.1\"")) && !deadline.hasExpired()) {
            QTest::qWait(200);
            log.clear();
            for (const QFileInfo& f : QDir(s.appDir + QStringLiteral("/log")).entryInfoList({QStringLiteral("*")}, QDir::Files))
                log += QString::fromUtf8(readFile(f.absoluteFilePath()));
        }
        stopProcessesOf(exe);
        QVERIFY2(log.contains(QLatin1String("TessarkVersion= \"1.0.1\"")), qPrintable(log.right(4000)));
        QCOMPARE(readFile(s.appDir + QStringLiteral("/config/about.xml")), newAbout);
        QCOMPARE(readFile(exe), newExe);
        QVERIFY(QFileInfo(exe).permissions() & QFile::ExeOwner);
        QVERIFY(!QDir(s.appDir + QStringLiteral("/UpgradeTessark")).exists());
        QVERIFY(requested(servers, "tessark-sim"));
    }
};

QTEST_GUILESS_MAIN(EndToEnd)
#include "test_endtoend.moc"
