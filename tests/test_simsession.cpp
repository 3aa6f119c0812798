// tessark-sim's emulated keyboards: both sample models plugged, the report log file, the control file.
#include "simsession.h"

#include <hidapi.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

namespace {

QSet<QString> commandPaths()
{
    QSet<QString> paths;
    hid_device_info* all = hid_enumerate(0x3151, 0x4015);
    for (hid_device_info* d = all; d; d = d->next) {
        if (d->interface_number == 2 && d->path)
            paths << QString::fromUtf8(d->path);
    }
    hid_free_enumeration(all);
    return paths;
}

// Puts the whole command file in place at once, as the session expects.
bool control(const QString& path, const QByteArray& lines)
{
    QFile f(path + ".new");
    if (!f.open(QIODevice::WriteOnly) || f.write(lines) != lines.size())
        return false;
    f.close();
    return QFile::rename(path + ".new", path);
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestSimSession : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }
    void plugsBothModelsAndLogsReports();
    void controlFileUnplugsAndPlugs();
    void controlFilePressesKeyFunctions();
    void controlFilePlaysTypedChanges();
    void executableReadsItsEnvironment();
};

void TestSimSession::plugsBothModelsAndLogsReports()
{
    QTemporaryDir dir;
    const QString logPath = dir.filePath("reports.log");
    {
        sim::SimSession session;
        QVERIFY(session.setLogFile(logPath));
        session.plugAll(sim::sampleFamily());
        QCOMPARE(commandPaths(), QSet<QString>({session.keyboard(1)->commandPath(), session.keyboard(2)->commandPath()}));

        hid_device* h = hid_open_path(session.keyboard(2)->commandPath().toUtf8().constData());
        QVERIFY(h);
        QByteArray report(65, '\0');
        report[1] = char(0x10);
        report[2] = char(0x10);
        QCOMPARE(hid_write(h, reinterpret_cast<const unsigned char*>(report.constData()), size_t(report.size())), 65);
        hid_close(h);
        session.poll();
    }
    // The report as a line of its own: keyboard, direction, elapsed time, bytes.
    const QList<QByteArray> words = readAll(logPath).split('\n').value(0).split(' ');
    QVERIFY(words.size() == 4 && words[0] == "2" && words[1] == "out");
    QCOMPARE(words.at(3), QByteArray("1010") + QByteArray(124, '0'));
}

void TestSimSession::controlFileUnplugsAndPlugs()
{
    QTemporaryDir dir;
    const QString controlPath = dir.filePath("control");
    sim::SimSession session;
    session.setControlFile(controlPath);
    session.plugAll(sim::sampleFamily());

    QVERIFY(control(controlPath, "unplug 2\nbogus\nplug 9\n"));
    session.start(10);
    QTRY_VERIFY(!session.keyboard(2));
    QVERIFY(!QFile::exists(controlPath)); // consumed
    QCOMPARE(commandPaths(), QSet<QString>({session.keyboard(1)->commandPath()}));

    QVERIFY(control(controlPath, "plug 2\n"));
    QTRY_VERIFY(session.keyboard(2));
    QVERIFY(commandPaths().size() == 2 && commandPaths().contains(session.keyboard(2)->commandPath()));
}

namespace {
// The reports the sample family's keyboards logged for the control file's commands, one line each.
QList<QByteArray> loggedFor(const char* commands, const std::function<void(sim::SimSession&)>& prepare = {})
{
    QTemporaryDir dir;
    const QString controlPath = dir.filePath("control");
    const QString logPath = dir.filePath("reports.log");
    {
        sim::SimSession session;
        if (!session.setLogFile(logPath))
            return {};
        session.setControlFile(controlPath);
        session.plugAll(sim::sampleFamily());
        if (prepare)
            prepare(session);
        if (!control(controlPath, commands))
            return {};
        session.poll();
        if (!QTest::qWaitFor([&] { return !session.keyboard(1)->playing(); }, 5000))
            return {};
        session.poll(); // writes what the first poll's commands sent
    }
    return readAll(logPath).trimmed().split('\n');
}
} // namespace

void TestSimSession::controlFilePressesKeyFunctions()
{
    // Slot 1 of the wired keyboard holds the document function (hi 2); slot 20 is free; "press 2" lacks its slot.
    const QList<QByteArray> lines = loggedFor("press 2 1\npress 2 20\npress 2\npress 1 x\n");
    QCOMPARE(lines.size(), 1);
    const QList<QByteArray> words = lines.first().split(' ');
    QVERIFY(words.size() == 4 && words[0] == "2" && words[1] == "in");
    QCOMPARE(words.at(3), QByteArray("f0aa020000000000" "0102") + QByteArray(108, '0'));
}

void TestSimSession::controlFilePlaysTypedChanges()
{
    // A malformed change drops its whole line.
    const QList<QByteArray> lines =
        loggedFor("play 1 0:0100000000000000 5:0100060000000000\nplay 1 0:01\nplay 1\n", [](sim::SimSession& s) {
            s.keyboard(1)->edit([](sim::FirmwareState& state) { state.recording = true; });
        });
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(1).split(' ').value(3), QByteArray("f0500a0000000000" "05000100060000000000") + QByteArray(92, '0'));
}

void TestSimSession::executableReadsItsEnvironment()
{
    QTemporaryDir root;
    const QString exe = root.filePath("app/tessark-sim");
    QVERIFY(QDir().mkpath(root.filePath("app")));
    QVERIFY(QFile::copy(QStringLiteral(TESSARK_BIN_DIR "/tessark-sim"), exe));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", root.path());
    env.insert("XDG_CONFIG_HOME", root.path());
    env.insert("TESSARK_SIM_LOG", root.filePath("reports.log"));
    env.insert("TESSARK_SIM_CONTROL", root.filePath("control"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(exe, QStringList());
    QVERIFY(p.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(root.filePath("reports.log")), 10000);
    // The running copy polls its control file.
    QVERIFY(control(root.filePath("control"), "unplug 1\n"));
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(root.filePath("control")), 10000);
    p.kill();
    p.waitForFinished(10000);
}

QTEST_GUILESS_MAIN(TestSimSession)
#include "test_simsession.moc"
