// tessark-sim's emulated keyboards: both sample models plugged, the report log file, the control file.
#include "builtpath.h"
#include "simsession.h"
#include "tempappdir.h"
#include "timescale.h"

#include <hidapi.h>

#include <QDir>
#include <QElapsedTimer>
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

QByteArray report(uint8_t b0, uint8_t b1 = 0)
{
    QByteArray r(64, '\0');
    r[0] = char(b0);
    r[1] = char(b1);
    return r;
}

bool writeTo(const QString& path, const QByteArray& r)
{
    hid_device* h = hid_open_path(path.toUtf8().constData());
    if (!h)
        return false;
    const QByteArray data = QByteArray(1, '\0') + r;
    const int n = hid_write(h, reinterpret_cast<const unsigned char*>(data.constData()), size_t(data.size()));
    hid_close(h);
    return n == data.size();
}

// A four-byte image, then the run command.
bool runBootloader(const sim::BootloaderPtr& bootloader)
{
    QByteArray start = report(0xA0);
    start[12] = 4;
    start.replace(16, 4, "\x01\x02\x03\x04");
    return bootloader && writeTo(bootloader->path(), start) && writeTo(bootloader->path(), report(0xAB));
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
    void controlFileFloodsAReport();
    void controlFileAnswersFirstWithTheReplyBefore_data();
    void controlFileAnswersFirstWithTheReplyBefore();
    void bootloaderRunBringsKeyboardBackWithNextVersion_data();
    void bootloaderRunBringsKeyboardBackWithNextVersion();
    void loneBootloaderGetsSlotThatFollowsItsKeyboard();
    void controlFileSchedulesWriteFaults_data();
    void controlFileSchedulesWriteFaults();
    void executableReadsItsEnvironment();
    void controlFileSetsTheModeCountForTheNextPlug();
};

void TestSimSession::plugsBothModelsAndLogsReports()
{
    TempDir dir;
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
    TempDir dir;
    const QString controlPath = dir.filePath("control");
    sim::SimSession session;
    session.setControlFile(controlPath);
    session.plugAll(sim::sampleFamily());

    QVERIFY(control(controlPath, "unplug 2\nbogus\nplug 9\n"));
    session.start(10);
    QTRY_VERIFY_WITH_TIMEOUT(!session.keyboard(2), timescale::ms(10000));
    QVERIFY(!QFile::exists(controlPath)); // consumed
    QCOMPARE(commandPaths(), QSet<QString>({session.keyboard(1)->commandPath()}));

    QVERIFY(control(controlPath, "plug 2\n"));
    QTRY_VERIFY_WITH_TIMEOUT(session.keyboard(2), timescale::ms(10000));
    QVERIFY(commandPaths().size() == 2 && commandPaths().contains(session.keyboard(2)->commandPath()));
}

namespace {
// The reports the sample family's keyboards logged for the control file's commands, one line each.
QList<QByteArray> loggedFor(const char* commands, const std::function<void(sim::SimSession&)>& prepare = {})
{
    TempDir dir;
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
        if (!QTest::qWaitFor([&] { return !session.keyboard(1)->playing(); }, timescale::ms(10000)))
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

void TestSimSession::controlFileFloodsAReport()
{
    // Short reports are zero-filled; a count that is no number or a missing report drops the line.
    const QList<QByteArray> lines = loggedFor("flood 1 3 f02101\nflood 1 x f021\nflood 1 2\n");
    QCOMPARE(lines.size(), 3);
    for (const QByteArray& line : lines)
        QCOMPARE(line.split(' ').value(3), QByteArray("f02101") + QByteArray(122, '0'));
}

void TestSimSession::controlFileAnswersFirstWithTheReplyBefore_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<int>("lateMs"); // of the own replies of the two reads the line reaches
    QTest::newRow("own reply at once") << QByteArray("stale 1 30 xx 5\nstale 1 30 10 2\n") << 0;
    QTest::newRow("own reply late") << QByteArray("stale 1 30 10 2 x\nstale 1 30 10 2 60001\nstale 1 30 10 2 250\n")
                                    << 250;
}

void TestSimSession::controlFileAnswersFirstWithTheReplyBefore()
{
    // The first read has no reply before it; the second gets the first's again ahead of its own, the third
    // only its own. A line whose command is no hex byte, or whose time is no number from 0 to 60000, is
    // refused and changes nothing.
    QFETCH(QByteArray, lines);
    QFETCH(int, lateMs);
    TempDir dir;
    const QString controlPath = dir.filePath("control");
    sim::SimSession session;
    session.setControlFile(controlPath);
    session.plugAll(sim::sampleFamily());
    const sim::KeyboardPtr kb = session.keyboard(1);
    QVERIFY(control(controlPath, lines));
    session.poll();
    QList<QByteArray> asked;
    for (int first : {0, 13, 26}) {
        QByteArray r = report(0x30, 0x10);
        r[2] = 4;
        r.replace(8, 3, QByteArray(1, char(kb->state().curColourMap)) + char(first) + char(first + 12));
        QVERIFY(writeTo(kb->commandPath(), r));
        asked << r.mid(8, 3);
    }
    QList<QByteArray> answered;
    QList<qint64> askedAt, answeredAt;
    for (const sim::LogEntry& e : kb->log()) {
        if (e.direction == sim::LogEntry::FromDevice)
            answered << e.report.mid(8, 3), answeredAt << e.msSincePlug;
        else
            askedAt << e.msSincePlug;
    }
    QCOMPARE(answered, QList<QByteArray>({asked[0], asked[0], asked[1], asked[2]}));
    // The two reads' own replies are due lateMs after their requests (the log keeps when each is due).
    QCOMPARE(askedAt.size(), 3);
    QVERIFY(answeredAt[0] >= askedAt[0] + lateMs && answeredAt[2] >= askedAt[1] + lateMs);
}

void TestSimSession::bootloaderRunBringsKeyboardBackWithNextVersion_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<int>("reported"); // -1: the keyboard's own version
    QTest::addColumn<int>("after");    // -1: its own version + 1
    QTest::newRow("default") << QByteArray() << -1 << -1;
    QTest::newRow("version") << QByteArray("version 1 95\n") << 95 << 96;
    QTest::newRow("next version") << QByteArray("next-version 1 105\nversion 1 95\n") << 95 << 105;
    QTest::newRow("malformed") << QByteArray("version 1 65536\nnext-version 1 x\nversion 1\n") << -1 << -1;
}

void TestSimSession::bootloaderRunBringsKeyboardBackWithNextVersion()
{
    QFETCH(QByteArray, lines);
    QFETCH(int, reported);
    QFETCH(int, after);
    TempDir dir;
    const QString controlPath = dir.filePath("control");
    const QString logPath = dir.filePath("reports.log");
    QElapsedTimer clock;
    QByteArray ack;
    {
        sim::SimSession session;
        QVERIFY(session.setLogFile(logPath));
        session.setControlFile(controlPath);
        session.plugAll(sim::sampleFamily());
        const int own = session.keyboard(1)->state().fwVersion;
        session.start(10);
        QVERIFY(control(controlPath, lines));
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(controlPath), timescale::ms(10000));
        QCOMPARE(int(session.keyboard(1)->state().fwVersion), reported < 0 ? own : reported);

        clock.start();
        QVERIFY(writeTo(session.keyboard(1)->commandPath(), report(0x10, 0x00)));
        QVERIFY(!session.keyboard(1) && !session.bootloader(1));
        QTRY_VERIFY_WITH_TIMEOUT(session.bootloader(1), timescale::ms(10000));
        QVERIFY(clock.elapsed() >= sim::SimSession::RestartDelayMs);
        const sim::BootloaderPtr bootloader = session.bootloader(1);
        QVERIFY(runBootloader(bootloader));
        ack = bootloader->acks().value(0);
        QTRY_VERIFY_WITH_TIMEOUT(session.keyboard(1), timescale::ms(10000));
        QCOMPARE(int(session.keyboard(1)->state().fwVersion), after < 0 ? own + 1 : after);
        QVERIFY(writeTo(session.keyboard(1)->commandPath(), report(0x10, 0x11)));
    }
    // Bootloader and returned keyboard log under the keyboard's number, each counting from its appearance.
    const qint64 sinceAppearance = clock.elapsed() - sim::SimSession::RestartDelayMs;
    const QList<QByteArray> logged = readAll(logPath).trimmed().split('\n');
    QStringList heads;
    for (const QByteArray& line : logged) {
        const QList<QByteArray> words = line.split(' ');
        QCOMPARE(words.size(), 4);
        heads << QString::fromLatin1(words[0] + ' ' + words[1] + ' ' + words[3].left(4));
        if (heads.size() > 1) // the first is the old keyboard's, counted from its plug
            QVERIFY2(words[2].toLongLong() <= sinceAppearance, line.constData());
    }
    QCOMPARE(heads, QStringList({"1 out 1000", "1 out a000", "1 in " + QString::fromLatin1(ack.toHex().left(4)),
                                 "1 out ab00", "1 out 1011", "1 in 1011"}));
}

void TestSimSession::loneBootloaderGetsSlotThatFollowsItsKeyboard()
{
    TempDir dir;
    const QString controlPath = dir.filePath("control");
    sim::SimSession session;
    session.setControlFile(controlPath);
    session.plugAll(sim::sampleFamily());
    session.start(10);
    QVERIFY(control(controlPath, "bootloader\nnext-version 3 7\nbootloader 1\n"));
    QTRY_VERIFY_WITH_TIMEOUT(session.bootloader(3), timescale::ms(10000));
    QVERIFY(session.count() == 3 && !session.keyboard(3));

    QVERIFY(runBootloader(session.bootloader(3)));
    QTRY_VERIFY_WITH_TIMEOUT(session.keyboard(3), timescale::ms(10000));
    QCOMPARE(session.keyboard(3)->state().fwVersion, uint16_t(7));
    QVERIFY(session.keyboard(3)->state().deviceId != session.keyboard(1)->state().deviceId);

    // Its control lines reach the returned keyboard, which restarts into a bootloader again.
    QVERIFY(control(controlPath, "version 3 20\n"));
    QTRY_COMPARE_WITH_TIMEOUT(session.keyboard(3)->state().fwVersion, uint16_t(20), timescale::ms(10000));
    QVERIFY(writeTo(session.keyboard(3)->commandPath(), report(0x10, 0x00)));
    QVERIFY(control(controlPath, "plug 3\n")); // the bootloader holds the slot
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(controlPath), timescale::ms(10000));
    QTRY_VERIFY_WITH_TIMEOUT(session.bootloader(3), timescale::ms(10000));
    QVERIFY(!session.keyboard(3));
    QVERIFY(runBootloader(session.bootloader(3)));
    QTRY_VERIFY_WITH_TIMEOUT(session.keyboard(3), timescale::ms(10000));
    QCOMPARE(session.keyboard(3)->state().fwVersion, uint16_t(21));
}

void TestSimSession::controlFileSchedulesWriteFaults_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QList<bool>>("written"); // three writes in a row through one handle
    QTest::addColumn<bool>("pluggedAfter");
    QTest::newRow("fail-write, the second") << QByteArray("fail-write 1 2") << QList<bool>{true, false, true} << true;
    QTest::newRow("fail-write, the next") << QByteArray("fail-write 1 1") << QList<bool>{false, true, true} << true;
    QTest::newRow("unplug-at-write, the second")
        << QByteArray("unplug-at-write 1 2") << QList<bool>{true, false, false} << false;
    QTest::newRow("unplug-at-write, the next")
        << QByteArray("unplug-at-write 1 1") << QList<bool>{false, false, false} << false;
    QTest::newRow("K of 0 is ignored") << QByteArray("unplug-at-write 1 0") << QList<bool>{true, true, true} << true;
    QTest::newRow("K not a number") << QByteArray("fail-write 1 x") << QList<bool>{true, true, true} << true;
    QTest::newRow("K missing") << QByteArray("unplug-at-write 1") << QList<bool>{true, true, true} << true;
    QTest::newRow("no such keyboard") << QByteArray("fail-write 7 1") << QList<bool>{true, true, true} << true;
}

void TestSimSession::controlFileSchedulesWriteFaults()
{
    QFETCH(QByteArray, line);
    QFETCH(QList<bool>, written);
    QFETCH(bool, pluggedAfter);
    TempDir dir;
    const QString controlPath = dir.filePath("control");
    sim::SimSession session;
    session.setControlFile(controlPath);
    session.plugAll(sim::sampleFamily());
    const sim::KeyboardPtr kb = session.keyboard(1);
    QVERIFY(control(controlPath, line + '\n'));
    session.poll();
    QVERIFY(!QFile::exists(controlPath));

    hid_device* h = hid_open_path(kb->commandPath().toUtf8().constData());
    QVERIFY(h);
    QList<bool> outcomes;
    const QByteArray data = QByteArray(1, '\0') + report(0x10, 0x10);
    for (int i = 0; i < written.size(); ++i)
        outcomes << (hid_write(h, reinterpret_cast<const unsigned char*>(data.constData()), size_t(data.size()))
                     == data.size());
    hid_close(h);
    QCOMPARE(outcomes, written);
    QCOMPARE(kb->plugged(), pluggedAfter);
    QCOMPARE(bool(session.keyboard(1)), pluggedAfter);
    // The other keyboard is never touched.
    QVERIFY(session.keyboard(2) && session.keyboard(2)->plugged());
}

void TestSimSession::executableReadsItsEnvironment()
{
    TempDir root;
    const QString exe = root.filePath("app/tessark-sim");
    QVERIFY(QDir().mkpath(root.filePath("app")));
    QVERIFY(QFile::copy(builtPath(QStringLiteral("tessark-sim")), exe));
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
    QVERIFY(p.waitForStarted(timescale::ms(30000)));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(root.filePath("reports.log")), timescale::ms(10000));
    // The running copy polls its control file.
    QVERIFY(control(root.filePath("control"), "unplug 1\n"));
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(root.filePath("control")), timescale::ms(10000));
    p.kill();
    p.waitForFinished(timescale::ms(10000));
}

// "modes" takes effect when the keyboard is plugged again; a count out of range is ignored.
void TestSimSession::controlFileSetsTheModeCountForTheNextPlug()
{
    TempDir dir;
    const QString controlPath = dir.filePath("control");
    sim::SimSession session;
    session.setControlFile(controlPath);
    session.plugAll({sim::tenkeylessWired()});
    const size_t before = session.keyboard(1)->state().lightingModes.size();
    QVERIFY(before != 24);
    QVERIFY(control(controlPath, "modes 1 24\nmodes 1 0\nmodes 1 300\nmodes 2 5\n"));
    session.start(10);
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(controlPath), timescale::ms(10000));
    QCOMPARE(session.keyboard(1)->state().lightingModes.size(), before);
    QVERIFY(control(controlPath, "unplug 1\nplug 1\n"));
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(controlPath), timescale::ms(10000));
    QTRY_VERIFY_WITH_TIMEOUT(session.keyboard(1), timescale::ms(10000));
    QCOMPARE(int(session.keyboard(1)->state().lightingModes.size()), 24);
    QCOMPARE(int(session.keyboard(1)->config().lightingModes), 24);
}

QTEST_GUILESS_MAIN(TestSimSession)
#include "test_simsession.moc"

