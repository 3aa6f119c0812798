// The real tessark-sim executable on an X server of its own (Xvfb), driven by xdotool as a user would:
// a click on a picture key, then on a palette key, must reach the emulated keyboard as a key code write.
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {
constexpr int StartMs = 120000; // generous: a loaded 2-core machine, or the sanitizer build
constexpr int ReportMs = 20000;

// Window-relative centres, from the layout files of appdir/config (the window is 980 wide):
// the TK104 Dual picture (board x/y 0/96, 40 px a unit, 22.5 units wide) starts at x 490 - 22.5 * 20 = 40,
// so its first key, Esc (entry 0), spans 40..76 x 96..132.
constexpr int PictureEscX = 58, PictureEscY = 114;
// The palette (static y 470, 36 px a unit) starts at x 80; its "A" (type 1, code 0x04) sits in the
// Caps Lock row (3.5 units down) after Caps Lock (1.75 units): 143..179 x 596..632.
constexpr int PaletteAX = 161, PaletteAY = 614;
constexpr int PaletteACode = 0x04;
constexpr int PaletteAType = 1;

bool copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    for (const QFileInfo& entry : QDir(from).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isDir() ? !copyTree(entry.absoluteFilePath(), target) : !QFile::copy(entry.absoluteFilePath(), target))
            return false;
    }
    return true;
}

// Stops a process on every path out of the test: politely first, then for good.
void stop(QProcess& p)
{
    // Only a process that has really started is signalled.
    if (p.state() == QProcess::Starting)
        p.waitForStarted(10000);
    if (p.state() != QProcess::Running)
        return;
    p.terminate();
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(10000);
    }
}

struct Processes {
    QProcess xvfb;
    QProcess app;
    ~Processes()
    {
        stop(app);
        stop(xvfb);
    }
};

// Runs xdotool on display; its standard output, or a null string when it failed.
QString xdotool(const QString& display, const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        stop(p);
        return QString();
    }
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed() + QLatin1Char(' ');
}

bool waitForText(QProcess& p, QString& out, const char* text, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!out.contains(QLatin1String(text)) && !deadline.hasExpired() && p.state() == QProcess::Running) {
        p.waitForReadyRead(int(qMin<qint64>(200, deadline.remainingTime())));
        out += QString::fromLocal8Bit(p.readAll());
    }
    return out.contains(QLatin1String(text));
}

// Outgoing key code writes of keyboard 1 in the emulator's log ("1 out <ms> <hex>"), as their bytes.
QList<QByteArray> keyCodeWrites(const QString& logPath)
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
        if (report.size() >= 16 && quint8(report[0]) == 0x20 && quint8(report[1]) == 0x11)
            writes << report;
    }
    return writes;
}
} // namespace

class EndToEnd : public QObject {
    Q_OBJECT
private slots:
    void clickedPaletteKeyIsWrittenToTheClickedPictureKey()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("Xvfb or xdotool is not installed");

        QTemporaryDir root;
        const QString appDir = root.filePath(QStringLiteral("app"));
        const QString binDir = QStringLiteral(TESSARK_BIN_DIR);
        for (const char* sub : {"config", "images", "font"}) {
            const QString name = QLatin1Char('/') + QLatin1String(sub);
            QVERIFY(copyTree(binDir + name, appDir + name));
        }
        const QString exe = appDir + QStringLiteral("/tessark-sim");
        QVERIFY(QFile::copy(binDir + QStringLiteral("/tessark-sim"), exe));
        const QString runtime = root.filePath(QStringLiteral("run"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString simLog = root.filePath(QStringLiteral("sim.log"));

        // Xvfb picks a free display itself and writes its number to standard output when ready.
        Processes procs;
        procs.xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                                   QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                                   QStringLiteral("-screen"), QStringLiteral("0"),
                                                   QStringLiteral("1280x1024x24")});
        QVERIFY(procs.xvfb.waitForStarted(StartMs));
        QString number;
        const QDeadlineTimer xDeadline(StartMs);
        while (!number.contains(QLatin1Char('\n')) && !xDeadline.hasExpired()
               && procs.xvfb.state() != QProcess::NotRunning) {
            procs.xvfb.waitForReadyRead(200);
            number += QString::fromLocal8Bit(procs.xvfb.readAllStandardOutput());
        }
        QVERIFY2(number.contains(QLatin1Char('\n')), qPrintable(procs.xvfb.readAllStandardError()));
        const QString display = QLatin1Char(':') + number.trimmed();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM")); // xcb on the Xvfb display
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("xdgconfig")));
        env.insert(QStringLiteral("TESSARK_SIM_LOG"), simLog);
        procs.app.setProcessEnvironment(env);
        procs.app.setProcessChannelMode(QProcess::MergedChannels);
        procs.app.start(exe, QStringList());
        QVERIFY(procs.app.waitForStarted(StartMs));
        QString out;
        QVERIFY2(waitForText(procs.app, out, "keyboard picture drawn", StartMs),
                 qPrintable(QStringLiteral("display %1, exit %2: %3").arg(display).arg(procs.app.exitCode()).arg(out)));
        QVERIFY2(keyCodeWrites(simLog).isEmpty(), "a key code was written before any click");

        // The window once it is mapped: its top-left is where the layout's coordinates start.
        QString geometry;
        const QDeadlineTimer mapDeadline(StartMs);
        while (!mapDeadline.hasExpired()) {
            const QString ids = xdotool(display, {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                  QStringLiteral("--name"), QStringLiteral("Tessark")});
            const QString id = ids.section(QLatin1Char('\n'), 0, 0).trimmed();
            if (!id.isEmpty())
                geometry = xdotool(display, {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id});
            if (geometry.contains(QLatin1String("WIDTH=980")))
                break;
            QThread::msleep(200);
        }
        QVERIFY2(geometry.contains(QLatin1String("WIDTH=980")), qPrintable(geometry));
        int x = 0, y = 0;
        for (const QString& line : geometry.split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("X=")))
                x = line.mid(2).trimmed().toInt();
            if (line.startsWith(QLatin1String("Y=")))
                y = line.mid(2).trimmed().toInt();
        }

        auto click = [&](int dx, int dy) {
            return !xdotool(display, {QStringLiteral("mousemove"), QString::number(x + dx), QString::number(y + dy),
                                      QStringLiteral("click"), QStringLiteral("1")})
                        .isNull();
        };
        // A click the window has not taken yet (still painting) is simply given again.
        QList<QByteArray> writes;
        for (int attempt = 0; attempt < 3 && writes.isEmpty(); ++attempt) {
            QVERIFY(click(PictureEscX, PictureEscY));
            QVERIFY2(waitForText(procs.app, out, "Click KeyBtn text is", ReportMs), qPrintable(out));
            QVERIFY(click(PaletteAX, PaletteAY));
            const QDeadlineTimer reportDeadline(ReportMs);
            while ((writes = keyCodeWrites(simLog)).isEmpty() && !reportDeadline.hasExpired())
                QThread::msleep(100);
        }
        QVERIFY2(!writes.isEmpty(), qPrintable(out));
        const QByteArray& w = writes.first();
        QCOMPARE(quint8(w[9]), quint8(0));  // first entry: Esc
        QCOMPARE(quint8(w[10]), quint8(0)); // last entry
        QCOMPARE((quint8(w[12]) >> 1) & 7, PaletteAType);
        QCOMPARE(quint8(w[13]) | (quint8(w[14]) << 8), PaletteACode);

        stop(procs.app);
        stop(procs.xvfb);
        QCOMPARE(procs.xvfb.state(), QProcess::NotRunning);
    }
};

QTEST_GUILESS_MAIN(EndToEnd)
#include "test_endtoend.moc"
