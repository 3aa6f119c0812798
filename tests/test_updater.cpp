// The updater program: started as the tool starts it, it waits for the tool, copies the staged files
// over the application folder, removes them and restarts the tool.
#include "builtpath.h"
#include "Update/updaternotice.h"
#include "messageboxrecorder.h"
#include "platform/updaternames.h"
#include "tempappdir.h"
#include "timescale.h"

#include <QtTest>
#include <memory>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

// The build puts Upgrade/ (the shipped updater) and UpgradeTest/ (the same with the tests' pauses)
// beside tests/.
QString program(bool shipped = false)
{
    return builtPath(shipped ? QStringLiteral("Upgrade/Upgrade") : QStringLiteral("UpgradeTest/Upgrade"));
}
const QString ToolName = QStringLiteral("Tessark");
const QString Staged = QStringLiteral("UpgradeTessark/Windows/Tessark/Tessark");

int modeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

bool setMode(const QString& path, int mode) { return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0; }

// The hidden files below folder (its journal, temporary and kept-aside files, when the updater's).
QStringList hiddenFiles(const QString& folder)
{
    QStringList hidden;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (it.fileName().startsWith(QLatin1Char('.')))
            hidden << QDir(folder).relativeFilePath(it.filePath());
    }
    return hidden;
}

// Every file and link below folder, relative, sorted: what a run must (not) have changed.
QStringList listTree(const QString& folder)
{
    QStringList all;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        all << QDir(folder).relativeFilePath(it.next());
    all.sort();
    return all;
}

// A tool that records each start, with its version and working folder, outside the application folder.
QByteArray toolScript(const QByteArray& version, const QString& record)
{
    return "#!/bin/sh\necho \"" + version + " $PWD\" >> '" + QFile::encodeName(record) + "'\n";
}

// An installed tool (a recording script, 0755) in a temporary application folder, a folder for what
// lies outside it, the staged folder, and the updater's run.
struct Installation {
    TempAppDir app;
    TempDir outside;
    TempDir records;
    std::vector<std::unique_ptr<QProcess>> running; // tools the test keeps running; killed at the end
    int exitCode = -1;
    QString output;
    int copyWaitMs = -1; // how long a second updater waits for the first's copy; -1: the updater's own
    QString pauseAt;     // a step where the updater pauses for pauseMs, to be killed or raced there
    int pauseMs = 0;
    bool foldersLockNot = false; // as on a share, no folder can be locked
    bool shipped = false;        // the shipped updater, without the tests' pauses
    QString tool = ToolName;     // the tool's file name in the application folder

    Installation()
    {
        app.write(ToolName, toolScript("old", record()));
        setMode(app.filePath(ToolName), 0755);
        QDir(app.path()).mkpath(Staged);
    }
    ~Installation()
    {
        for (auto p = running.rbegin(); p != running.rend(); ++p) { // what waits for a program first
            (*p)->kill();
            (*p)->waitForFinished(timescale::ms(10000));
        }
        // A tool the updater started on its own may record its start while the folder is being
        // removed, which leaves it behind; once the folder is gone the record cannot make it again.
        QDeadlineTimer deadline(timescale::ms(10000));
        while (!records.remove() && QFileInfo::exists(records.path()) && !deadline.hasExpired())
            QThread::msleep(50);
    }
    QString record() const { return records.filePath(QStringLiteral("started.txt")); }
    QString appArg() const { return app.path() + QLatin1Char('/'); }
    bool stage(const QString& relative, const QByteArray& content, int mode = 0644)
    {
        return app.write(Staged + '/' + relative, content) && setMode(app.filePath(Staged + '/' + relative), mode);
    }
    QStringList arguments(const QString& language = QStringLiteral("1")) const
    {
        return {"upgrade", "3", appArg(), tool, app.filePath(Staged) + '/', appArg(), language};
    }
    // Runs the updater with the wait for the tool bounded to waitMs; false if it did not end. With
    // fileSizeBlocks, no file it writes may grow past that many blocks (of 512 or 1024 bytes). The
    // updater gets SIGXFSZ as this process has it (the default, which ends a process): it must take
    // such a write as a failed one itself.
    bool run(const QStringList& args, int waitMs = 5000, int fileSizeBlocks = 0)
    {
        QProcess p;
        start(p, args, waitMs, fileSizeBlocks);
        const bool ended = p.waitForFinished(timescale::ms(60000));
        output = QString::fromLocal8Bit(p.readAll());
        exitCode = ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        if (!ended) {
            p.kill();
            p.waitForFinished(timescale::ms(10000));
        }
        return ended;
    }
    void start(QProcess& p, const QStringList& args, int waitMs = 5000, int fileSizeBlocks = 0) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSARK_UPGRADE_WAIT_MS"), QString::number(waitMs));
        if (copyWaitMs >= 0)
            env.insert(QStringLiteral("TESSARK_UPGRADE_COPY_WAIT_MS"), QString::number(copyWaitMs));
        if (!pauseAt.isEmpty()) {
            env.insert(QStringLiteral("TESSARK_UPGRADE_PAUSE_AT"), pauseAt);
            env.insert(QStringLiteral("TESSARK_UPGRADE_PAUSE_MS"), QString::number(pauseMs));
        }
        if (foldersLockNot)
            env.insert(QStringLiteral("TESSARK_UPGRADE_NO_FOLDER_LOCKS"), QStringLiteral("1"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        if (fileSizeBlocks > 0) {
            const QString limit = QStringLiteral("ulimit -f %1 && exec \"$0\" \"$@\"").arg(fileSizeBlocks);
            p.start(QStringLiteral("/bin/sh"), QStringList{QStringLiteral("-c"), limit, program(shipped)} + args);
        } else {
            p.start(program(shipped), args);
        }
    }
    // Starts a copy of sleep under name in the application folder, running for seconds.
    QProcess* startSleeper(const QString& name, int seconds)
    {
        const QString path = app.filePath(name);
        QFile::remove(path);
        if (!QFile::copy(QStringLiteral("/bin/sleep"), path) || !setMode(path, 0755))
            return nullptr;
        running.push_back(std::make_unique<QProcess>());
        running.back()->start(path, {QString::number(seconds)});
        return running.back()->waitForStarted(timescale::ms(10000)) ? running.back().get() : nullptr;
    }
    QString log() const { return QString::fromUtf8(readFile(app.filePath(QStringLiteral("log/Upgrade.log")))); }
    // Whether the tool recorded a start with this version in the application folder (or in folder)
    // within ms (scaled).
    bool restarted(const QByteArray& version, int ms = 10000, const QString& folder = QString()) const
    {
        const QByteArray line = version + ' ' + QFile::encodeName(folder.isEmpty() ? app.path() : folder) + '\n';
        QDeadlineTimer deadline(timescale::ms(ms));
        while (!readFile(record()).contains(line) && !deadline.hasExpired())
            QThread::msleep(20);
        return readFile(record()).contains(line);
    }
};

// "old" or "new" when the application folder holds that whole version of the tool and of `files`
// library files (the new version adds a file beside each), else "mixed".
QString versionOf(const QString& folder, int files)
{
    QSet<QString> seen;
    const QByteArray tool = readFile(folder + '/' + ToolName);
    seen << (tool.contains("echo \"old") ? "old" : tool.contains("echo \"new") ? "new" : "other");
    for (int i = 0; i < files; ++i) {
        const QString number = QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0'));
        const QByteArray content = readFile(folder + "/lib/f" + number + ".so");
        const bool added = QFileInfo::exists(folder + "/lib/added" + number + ".so");
        if (content == "old " + number.toLatin1() && !added)
            seen << "old";
        else if (content.startsWith("new " + number.toLatin1()) && added)
            seen << "new";
        else
            seen << "other";
    }
    return seen.size() == 1 ? *seen.begin() : QStringLiteral("mixed");
}
QString versionOf(const Installation& inst, int files) { return versionOf(inst.app.path(), files); }

// Every file, link and folder below folder with its content: what a run must not have changed.
QStringList treeWithContent(const QString& folder)
{
    QStringList all;
    for (const QString& entry : listTree(folder))
        all << entry + '=' + QString::fromUtf8(readFile(folder + '/' + entry).toHex());
    return all;
}

// Installs `files` old library files and stages their new version (each `filler` longer) for versionOf(),
// a new tool and about.xml: a replay after a kill leaves what the tool needs in place, never removes it.
bool stageVersions(Installation& inst, int files, const QByteArray& filler = QByteArray())
{
    bool ok = true;
    for (int i = 0; i < files; ++i) {
        const QString number = QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0'));
        ok = ok && inst.app.write("lib/f" + number + ".so", "old " + number.toLatin1())
             && inst.stage("lib/f" + number + ".so", "new " + number.toLatin1() + filler)
             && inst.stage("lib/added" + number + ".so", filler);
    }
    return ok && inst.stage(ToolName, toolScript("new", inst.record()))
           && inst.stage(QStringLiteral("config/about.xml"), "new about");
}

// Waits up to ms (scaled) until the updater's log holds text at least count times.
bool logShows(const Installation& inst, const QString& text, int count = 1, int ms = 30000)
{
    QDeadlineTimer deadline(timescale::ms(ms));
    while (inst.log().count(text) < count && !deadline.hasExpired())
        QThread::msleep(10);
    return inst.log().count(text) >= count;
}

// The inode at path, not followed; 0 when nothing is there.
ino_t inodeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// A file made at path and locked as the updater locks it, until the object goes.
struct HeldLock {
    int fd = -1;
    explicit HeldLock(const QString& path)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~HeldLock()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

class UpdaterProgram : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(program()).isExecutable(), qPrintable(program()));
        // The updater inherits this: it is not shielded from the signal a size limit raises.
        struct sigaction action {};
        QVERIFY(::sigaction(SIGXFSZ, nullptr, &action) == 0);
        QVERIFY(action.sa_handler == SIG_DFL);
    }

    // A good run: nested files replaced and added, the staged folders gone, the new tool started in the
    // application folder, the log in the language asked for.
    void replacesFilesAndRestartsTheTool_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("finished");
        QTest::newRow("English") << "1" << "upgrade finished";
        QTest::newRow("Chinese") << "0" << QString::fromUtf8("升级完成");
        QTest::newRow("other value reads English") << "2" << "upgrade finished";
        QTest::newRow("the shipped updater pauses for no test") << "1" << "upgrade finished";
        QTest::newRow("a tool named with %1 and %2 is logged as named") << "1" << "upgrade finished";
    }
    void replacesFilesAndRestartsTheTool()
    {
        QFETCH(QString, language);
        QFETCH(QString, finished);
        Installation inst;
        if (QByteArray(QTest::currentDataTag()).startsWith("the shipped")) {
            inst.shipped = true;
            inst.pauseAt = QStringLiteral("lock-taken");
            inst.pauseMs = 60000;
        }
        if (QByteArray(QTest::currentDataTag()).startsWith("a tool named")) {
            inst.tool = QStringLiteral("Tes%1sark%2");
            QVERIFY(QFile::rename(inst.app.filePath(ToolName), inst.app.filePath(inst.tool)));
        }
        QVERIFY(inst.app.write(QStringLiteral("config/about.xml"), "old about"));
        QVERIFY(inst.stage(inst.tool, toolScript("new", inst.record())));
        QVERIFY(inst.stage(QStringLiteral("config/about.xml"), "new about"));
        QVERIFY(inst.stage(QStringLiteral("plugins/platforms/libnew.so"), "library"));
        QVERIFY(inst.run(inst.arguments(language)));
        QVERIFY2(inst.exitCode == 0, qPrintable(inst.output));
        QCOMPARE(readFile(inst.app.filePath(QStringLiteral("config/about.xml"))), QByteArray("new about"));
        QCOMPARE(readFile(inst.app.filePath(QStringLiteral("plugins/platforms/libnew.so"))), QByteArray("library"));
        QVERIFY(!QFileInfo::exists(inst.app.filePath(QStringLiteral("UpgradeTessark"))));
        QVERIFY(inst.restarted("new"));
        QVERIFY(!readFile(inst.record()).contains("old"));
        QVERIFY2(inst.log().contains(finished) && !inst.log().contains("test pause"), qPrintable(inst.log()));
        // Paths go into the log lines in one pass with their numbers.
        const QString tool = inst.app.filePath(inst.tool);
        for (const QString& line : {QStringLiteral("upgrade started: tool %1, staged files"), QStringLiteral("waiting for %1 to exit")})
            QVERIFY2(language != "1" || inst.log().contains(line.arg(tool)), qPrintable(inst.log()));
        for (const QString& entry : listTree(inst.app.path()))
            QVERIFY2(!entry.contains(QLatin1String(".upgrade-")), qPrintable(entry)); // no temporary left
    }

    // Which name and permission bits a staged file ends up with (downloads arrive as 0644). A program
    // still running is replaced all the same: its file is renamed over, never written into.
    void namesAndPermissionBits_data()
    {
        QTest::addColumn<QString>("staged");
        QTest::addColumn<int>("stagedMode");
        QTest::addColumn<int>("existingMode"); // -1: no file of that name yet
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("targetMode");
        QTest::newRow("downloaded executable keeps 0755") << "Helper.exe.tessark" << 0644 << 0755 << "Helper.exe" << 0755;
        QTest::newRow("upper-case EXE") << "HELPER.EXE.tessark" << 0644 << -1 << "HELPER.EXE" << 0644;
        QTest::newRow("replaced 0600 stays 0600") << "secret.ini" << 0644 << 0600 << "secret.ini" << 0600;
        QTest::newRow("new file keeps its own bits") << "run.sh" << 0750 << -1 << "run.sh" << 0750;
        QTest::newRow(".exe.bak is not a download") << "x.exe.bak" << 0644 << -1 << "x.exe.bak" << 0644;
        QTest::newRow("running program replaced") << "helper" << 0644 << 0755 << "helper" << 0755;
    }
    void namesAndPermissionBits()
    {
        QFETCH(QString, staged);
        QFETCH(int, stagedMode);
        QFETCH(int, existingMode);
        QFETCH(QString, target);
        QFETCH(int, targetMode);
        Installation inst;
        QVERIFY(inst.stage("bin/" + staged, "new content", stagedMode));
        const QString targetPath = inst.app.filePath("bin/" + target);
        if (QByteArray(QTest::currentDataTag()).startsWith("running"))
            QVERIFY(QDir().mkpath(inst.app.filePath("bin")) && inst.startSleeper("bin/" + target, 60));
        else
            QVERIFY(existingMode < 0 || (inst.app.write("bin/" + target, "old content") && setMode(targetPath, existingMode)));
        QVERIFY(inst.run(inst.arguments()));
        QVERIFY2(inst.exitCode == 0, qPrintable(inst.output));
        QCOMPARE(readFile(targetPath), QByteArray("new content"));
        QCOMPARE(QString::number(modeOf(targetPath), 8), QString::number(targetMode, 8));
        QVERIFY(target == staged || !QFileInfo::exists(inst.app.filePath("bin/" + staged)));
    }

    // Anything but the tool's own command line: nothing copied, removed, restarted or written.
    void refusesAWrongCommandLine_data()
    {
        QTest::addColumn<int>("index"); // the argument replaced, or -1: the list cut to `count`
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("count");
        QTest::newRow("first argument Upgrade") << 0 << "Upgrade" << 7;
        QTest::newRow("six arguments") << -1 << "" << 6;
        QTest::newRow("count not decimal") << 1 << "-1" << 7;
        QTest::newRow("tool name with a folder") << 3 << "../Tessark" << 7;
        QTest::newRow("staged folder outside") << 4 << "OUTSIDE" << 7;
        QTest::newRow("staged folder is the application folder") << 4 << "APP" << 7;
        QTest::newRow("staged folder climbs out") << 4 << "APP/UpgradeTessark/../../x/" << 7;
        QTest::newRow("staged folder below a link to outside") << 4 << "APP/elsewhere/sub/" << 7;
        QTest::newRow("arguments 3 and 6 differ") << 5 << "OUTSIDE" << 7;
    }
    void refusesAWrongCommandLine()
    {
        QFETCH(int, index);
        QFETCH(QString, value);
        QFETCH(int, count);
        Installation inst;
        QVERIFY(inst.stage(QStringLiteral("config/about.xml"), "new about"));
        QVERIFY(QDir(inst.outside.path()).mkpath(QStringLiteral("sub")));
        QVERIFY(QFile::link(inst.outside.path(), inst.app.filePath(QStringLiteral("elsewhere"))));
        value.replace("OUTSIDE", inst.outside.path() + '/').replace("APP", inst.app.path());
        QStringList args = inst.arguments();
        if (index >= 0)
            args[index] = value;
        const QStringList before = listTree(inst.app.path());
        QVERIFY(inst.run(args.mid(0, count)));
        QCOMPARE(inst.exitCode, 1);
        QCOMPARE(listTree(inst.app.path()), before); // no log file either
        QVERIFY(!inst.restarted("old", 300));
        QVERIFY(inst.output.contains(QLatin1String("upgrade not done")));
    }

    // Links are never followed, in the staged tree nor in the application folder.
    void staysInsideTheApplicationFolder_data()
    {
        QTest::addColumn<QString>("link");   // created below the application folder
        QTest::addColumn<QString>("target"); // below the outside folder
        QTest::addColumn<QString>("stagedFile");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("staged link to a file") << Staged + "/secret.txt" << "secret.txt" << "" << 0;
        QTest::newRow("staged link to a folder") << Staged + "/plugins" << "plugins" << "" << 0;
        QTest::newRow("application folder's link to a folder") << "plugins" << "plugins" << "plugins/libx.so" << 3;
    }
    void staysInsideTheApplicationFolder()
    {
        QFETCH(QString, link);
        QFETCH(QString, target);
        QFETCH(QString, stagedFile);
        QFETCH(int, exitCode);
        Installation inst;
        QVERIFY(QDir(inst.outside.path()).mkpath(QStringLiteral("plugins")));
        for (const char* file : {"secret.txt", "plugins/kept.so"}) {
            QFile f(inst.outside.filePath(file));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("outside") == 7);
        }
        QVERIFY(QFile::link(inst.outside.filePath(target), inst.app.filePath(link)));
        QVERIFY(inst.stage(QStringLiteral("a.txt"), "a"));
        QVERIFY(stagedFile.isEmpty() || inst.stage(stagedFile, "staged"));
        const QStringList outsideBefore = listTree(inst.outside.path());
        QVERIFY(inst.run(inst.arguments()));
        QCOMPARE(inst.exitCode, exitCode);
        QCOMPARE(listTree(inst.outside.path()), outsideBefore); // nothing written nor removed out there
        QCOMPARE(readFile(inst.outside.filePath(QStringLiteral("secret.txt"))), QByteArray("outside"));
        if (exitCode == 0) // the staged link went with the staged folder; nothing took its name
            QVERIFY(!QFileInfo::exists(inst.app.filePath(QFileInfo(link).fileName())));
        // A refusal is found before anything is written; a skipped link does not stop the rest.
        QCOMPARE(QFileInfo::exists(inst.app.filePath(QStringLiteral("a.txt"))), exitCode == 0);
    }

    // The files are copied only once no process runs the tool; the wait is bounded.
    void waitsForTheToolToEnd_data()
    {
        QTest::addColumn<int>("toolSeconds");
        QTest::addColumn<bool>("replaceRunningTool"); // its file deleted and written anew while it runs
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("still running") << 60 << false << 500 << 2;
        QTest::newRow("still running from a replaced file") << 60 << true << 500 << 2;
        QTest::newRow("ends during the wait") << 1 << false << 20000 << 0;
    }
    void waitsForTheToolToEnd()
    {
        QFETCH(int, toolSeconds);
        QFETCH(bool, replaceRunningTool);
        QFETCH(int, waitMs);
        QFETCH(int, exitCode);
        Installation inst;
        QVERIFY(inst.startSleeper(ToolName, toolSeconds));
        QVERIFY(!replaceRunningTool
                || (QFile::remove(inst.app.filePath(ToolName)) && inst.app.write(ToolName, toolScript("old", inst.record()))));
        QVERIFY(inst.stage(ToolName, toolScript("new", inst.record())));
        QVERIFY(inst.stage(QStringLiteral("config/about.xml"), "new about"));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(inst.run(inst.arguments(), waitMs));
        QCOMPARE(inst.exitCode, exitCode);
        // Its exit code tells it gave up at its bound rather than outwaiting the tool; this only that it ended.
        QVERIFY(timer.elapsed() < waitMs + timescale::ms(10000));
        QCOMPARE(QFileInfo::exists(inst.app.filePath(QStringLiteral("config/about.xml"))), exitCode == 0);
        QCOMPARE(QFileInfo::exists(inst.app.filePath(Staged)), exitCode != 0);
        QVERIFY(exitCode != 0 || inst.restarted("new"));
    }

    // One staged file that cannot be written stops the copy and undoes it: files replaced before it hold
    // their old content again (a link its old target), files and folders it added are gone, the staged
    // folder stays for a later try and the old tool is started again.
    void putsEveryFileBackWhenOneFails_data()
    {
        QTest::addColumn<bool>("unreadable"); // else too large for the file size the updater may write
        QTest::newRow("last file too large to write") << false;
        QTest::newRow("last file unreadable") << true;
    }
    void putsEveryFileBackWhenOneFails()
    {
        QFETCH(bool, unreadable);
        if (unreadable && ::geteuid() == 0)
            QSKIP("root reads any file");
        Installation inst;
        QFile secret(inst.outside.filePath(QStringLiteral("secret.txt")));
        QVERIFY(secret.open(QIODevice::WriteOnly) && secret.write("outside") == 7);
        secret.close();
        QVERIFY(QFile::link(secret.fileName(), inst.app.filePath(QStringLiteral("link.txt"))));
        QVERIFY(inst.app.write(QStringLiteral("z.bin"), "old z"));
        // Copied in this order: the tool, a new folder with a new file, the link's name, then z.bin.
        QVERIFY(inst.stage(ToolName, toolScript("new", inst.record())));
        QVERIFY(inst.stage(QStringLiteral("b/new.txt"), "new"));
        QVERIFY(inst.stage(QStringLiteral("link.txt"), "staged"));
        QVERIFY(inst.stage(QStringLiteral("z.bin"), QByteArray(unreadable ? 16 : 1024 * 1024, 'z'), unreadable ? 0 : 0644));
        const QByteArray oldTool = readFile(inst.app.filePath(ToolName));
        const QStringList stagedBefore = listTree(inst.app.filePath(Staged));

        QVERIFY(inst.run(inst.arguments(), 5000, unreadable ? 0 : 128));
        QVERIFY2(inst.exitCode == 3, qPrintable(inst.output));
        QCOMPARE(readFile(inst.app.filePath(ToolName)), oldTool);
        QCOMPARE(modeOf(inst.app.filePath(ToolName)), 0755);
        QVERIFY(!QFileInfo::exists(inst.app.filePath(QStringLiteral("b"))));
        QCOMPARE(QFileInfo(inst.app.filePath(QStringLiteral("link.txt"))).symLinkTarget(), secret.fileName());
        QCOMPARE(readFile(secret.fileName()), QByteArray("outside"));
        QCOMPARE(readFile(inst.app.filePath(QStringLiteral("z.bin"))), QByteArray("old z"));
        for (const QString& entry : listTree(inst.app.path()))
            QVERIFY2(!entry.contains(QLatin1String(".upgrade-")), qPrintable(entry)); // nothing kept aside
        QCOMPARE(listTree(inst.app.filePath(Staged)), stagedBefore);
        QVERIFY(inst.restarted("old"));
        QVERIFY(!readFile(inst.record()).contains("new"));
        QVERIFY2(inst.log().contains(QLatin1String("put back 2 old files")), qPrintable(inst.log()));
    }

    // Killed in the middle of the copy, the updater leaves a mixed version and its kept-aside files; the
    // next run first puts the old version back whole, then copies what is staged, and leaves no hidden
    // file of its own.
    // A record staged by the server is never copied over the live one: the run's own record brings the
    // old version back. A second updater started meanwhile waits for the first instead of replaying
    // its live record. Killed at any step, a run leaves nothing hidden after the next one: the lock, an
    // empty record, a temporary copy, an old file kept under a second name or kept aside after the copy.
    void anInterruptedCopyIsUndoneByTheNextRun_data()
    {
        QTest::addColumn<bool>("stagedKept");
        QTest::addColumn<bool>("stagedRecord"); // the server staged a record of its own
        QTest::addColumn<bool>("secondUpdater"); // started during the copy instead of a kill
        QTest::addColumn<QString>("killAt");     // the step the updater is killed at; empty: amid the copy
        QTest::addColumn<QString>("replayed");   // what the next run logs of the record, if there is one
        const QString undone = QStringLiteral("interrupted while copying");
        const QString finished = QStringLiteral("interrupted after every new file was in");
        QTest::newRow("staged files kept: the next run installs them") << true << false << false << "" << undone;
        QTest::newRow("staged files gone: the old version comes back") << false << false << false << "" << undone;
        QTest::newRow("a staged record: the run's own record is replayed") << false << true << false << "" << undone;
        QTest::newRow("a second updater during the copy waits for the first") << true << false << true << "" << "";
        QTest::newRow("killed holding only the lock") << true << false << false << "lock-taken" << "";
        QTest::newRow("killed with an empty record") << true << false << false << "record-begun" << undone;
        QTest::newRow("killed with a temporary copy") << true << false << false << "temporary-written" << undone;
        QTest::newRow("killed with the old file under a second name") << true << false << false << "old-kept-aside" << undone;
        QTest::newRow("killed once every file was in") << true << false << false << "record-complete" << finished;
        QTest::newRow("killed while dropping the old files") << true << false << false << "old-dropped" << finished;
        // The record's writer is gone: its record is replayed also where no folder can be locked.
        QTest::newRow("folders lock not: killed with the old file under a second name")
            << true << false << false << "old-kept-aside" << undone;
    }
    void anInterruptedCopyIsUndoneByTheNextRun()
    {
        QFETCH(bool, stagedKept);
        QFETCH(bool, stagedRecord);
        QFETCH(bool, secondUpdater);
        QFETCH(QString, killAt);
        QFETCH(QString, replayed);
        const int Files = killAt.isEmpty() ? 200 : 4;
        Installation inst;
        inst.foldersLockNot = QByteArray(QTest::currentDataTag()).startsWith("folders lock not");
        QVERIFY(inst.app.write(QStringLiteral("config/menutree.xml"), "the user's"));
        // Sorts first; as the record it would have the next run delete a file of the old version.
        QVERIFY(!stagedRecord || inst.stage(QStringLiteral(".upgrade-journal"), "add lib%2Ff000.so\n"));
        QVERIFY(stageVersions(inst, Files, QByteArray(256 * 1024, 'x')));
        QCOMPARE(versionOf(inst, Files), QStringLiteral("old"));

        inst.pauseAt = killAt;
        inst.pauseMs = 60000;
        QProcess first;
        inst.start(first, inst.arguments());
        QVERIFY(first.waitForStarted(timescale::ms(10000)));
        inst.pauseAt.clear();
        // Killed once the added files and some of the replaced ones are in (the staged names sort so).
        QDeadlineTimer deadline(timescale::ms(60000));
        // A second updater comes early, so the first still has most of its copy ahead.
        const int copied = secondUpdater ? Files / 2 : Files + 60;
        const QString paused = QStringLiteral("test pause at ") + killAt;
        while ((killAt.isEmpty() ? inst.log().count(QLatin1String("copying ")) < copied : !inst.log().contains(paused))
               && first.state() == QProcess::Running && !deadline.hasExpired())
            first.waitForFinished(1); // also drains its output
        if (secondUpdater) {
            QProcess second;
            inst.start(second, inst.arguments());
            QVERIFY(second.waitForFinished(timescale::ms(60000)) && first.waitForFinished(timescale::ms(60000)));
            QVERIFY2(!inst.log().contains(QLatin1String("cannot put back")), qPrintable(inst.log()));
            QVERIFY2(first.exitCode() == 0, qPrintable(inst.log()));
            QCOMPARE(versionOf(inst, Files), QStringLiteral("new"));
            QCOMPARE(hiddenFiles(inst.app.path()), QStringList{});
            QVERIFY(second.readAll().contains("another updater is running"));
            return;
        }
        ::kill(pid_t(first.processId()), SIGKILL);
        QVERIFY(first.waitForFinished(timescale::ms(10000)));
        QCOMPARE(first.exitStatus(), QProcess::CrashExit);
        // What the kill left: the case to mend.
        QVERIFY(!killAt.isEmpty() || versionOf(inst, Files) == QStringLiteral("mixed"));
        QVERIFY(!hiddenFiles(inst.app.path()).isEmpty());

        QStringList arguments = inst.arguments();
        if (!stagedKept) {
            QVERIFY(QDir(inst.app.filePath(QStringLiteral("UpgradeTessark"))).removeRecursively());
            arguments[1] = QStringLiteral("0");
        }
        QVERIFY(inst.run(arguments));
        QVERIFY2(inst.exitCode == 0, qPrintable(inst.output));
        QCOMPARE(versionOf(inst, Files), stagedKept ? QStringLiteral("new") : QStringLiteral("old"));
        QCOMPARE(hiddenFiles(inst.app.path()), QStringList{});
        QCOMPARE(readFile(inst.app.filePath(QStringLiteral("config/menutree.xml"))), QByteArray("the user's"));
        QVERIFY(inst.restarted(stagedKept ? "new" : "old"));
        QVERIFY2(inst.log().contains(replayed), qPrintable(inst.log()));
    }

    // A file renamed over the lock's name while an updater copies (as a sync tool restoring files would)
    // lets no second updater in: the first stops before its next file, puts the old files back, tells the
    // tool and leaves that file to whoever made it; the tool is restarted by the updater at work, if one
    // is. Where folders cannot be locked, the second waits for the first's live record instead of
    // replaying it. One update is whole in the end, nothing left aside.
    // The application folder moved away (a copy of it put at its path, as a restore would) while an
    // updater copies or waits for its lock, also one held past the wait: the moved folder is undone where
    // it is now, its tool started there and told why; whatever is at the path is not touched, also while
    // a second updater installs there. A lock lost once every file is in stops the run before its record.
    void aReplacedLockLetsNoSecondUpdaterIn_data()
    {
        QTest::addColumn<QString>("change"); // "lock": a file renamed over the lock ("lock at the end": after
                                             // the last file); "folder": the folder moved while copying;
                                             // "waiting" / "(updater) past the wait": while waiting for the lock
        QTest::addColumn<bool>("secondUpdater"); // else the process that made the new file holds it
        QTest::addColumn<bool>("foldersLock");
        QTest::newRow("a second updater waits, then installs") << "lock" << true << true;
        QTest::newRow("the new file's holder keeps it") << "lock" << false << true;
        QTest::newRow("folders lock not: the second waits for the first's live record") << "lock" << true << false;
        QTest::newRow("folder moved while copying: undone where it is") << "folder" << false << true;
        QTest::newRow("folder moved while copying, a second updater installs at its path") << "folder" << true << true;
        QTest::newRow("folders lock not, folder moved while copying") << "folder" << false << false;
        QTest::newRow("folder moved while the updater waits for its lock") << "waiting" << false << true;
        QTest::newRow("folders lock not: folder moved while the updater waits for its lock") << "waiting" << false << false;
        QTest::newRow("folder moved while the updater waits for a folder lock held past the wait")
            << "held past the wait" << false << true;
        QTest::newRow("folder moved while an updater of this folder holds its lock past the wait: that one restarts the tool")
            << "updater past the wait" << false << true;
        QTest::newRow("the lock replaced once every file is in: stopped before the record") << "lock at the end" << false << true;
    }
    void aReplacedLockLetsNoSecondUpdaterIn()
    {
        QFETCH(QString, change);
        QFETCH(bool, secondUpdater);
        QFETCH(bool, foldersLock);
        // With one library file, the fourth file placed is the last.
        const int Files = change == QLatin1String("lock at the end") ? 1 : 20;
        Installation inst;
        inst.foldersLockNot = !foldersLock;
        QVERIFY(stageVersions(inst, Files));
        const QString lockPath = inst.app.filePath(QStringLiteral(".upgrade-lock"));
        const QString other = inst.app.filePath(QStringLiteral("other-lock"));
        const QString moved = inst.outside.filePath(QStringLiteral("moved"));
        const QString copy = inst.outside.filePath(QStringLiteral("copy"));
        const bool folderMoves = !change.startsWith(QLatin1String("lock"));
        const bool byUpdater = change == QLatin1String("updater past the wait");
        const bool waits = change == QLatin1String("waiting") || change.endsWith(QLatin1String("past the wait"));
        QVERIFY(!folderMoves || QProcess::execute(QStringLiteral("cp"), {"-a", inst.app.path(), copy}) == 0);
        const QStringList copyBefore = treeWithContent(copy);
        int heldFolder = -1; // the test holds the folder's lock, as another updater would
        if (byUpdater) { // the lock's holder waits for a program of its own
            QVERIFY(inst.startSleeper(QStringLiteral("Sleeper"), 60));
            inst.running.push_back(std::make_unique<QProcess>());
            QStringList holder = inst.arguments();
            holder[3] = QStringLiteral("Sleeper");
            inst.start(*inst.running.back(), holder, 60000);
            QVERIFY(logShows(inst, QStringLiteral("waiting for")));
        } else if (waits && foldersLock) {
            heldFolder = ::open(QFile::encodeName(inst.app.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            QVERIFY(heldFolder >= 0 && ::flock(heldFolder, LOCK_EX | LOCK_NB) == 0);
        }
        std::unique_ptr<HeldLock> heldFile(waits && !foldersLock ? new HeldLock(lockPath) : nullptr); // or its file
        QVERIFY(!heldFile || heldFile->fd >= 0);
        if (change.endsWith(QLatin1String("past the wait")))
            inst.copyWaitMs = 1000;
        inst.pauseAt = waits ? QString() : QStringLiteral("file-placed");
        inst.pauseMs = 1500;
        QProcess first, second;
        inst.start(first, inst.arguments());
        inst.pauseAt.clear();
        // Past the tool, the version file and the first added and replaced library files.
        QVERIFY(waits ? logShows(inst, QStringLiteral("another updater is running"))
                      : logShows(inst, QStringLiteral("test pause at file-placed"), 4));

        std::unique_ptr<HeldLock> held(secondUpdater || folderMoves ? nullptr : new HeldLock(other));
        const ino_t replacement = held ? inodeOf(other) : 0;
        if (folderMoves) {
            QVERIFY(QDir().rename(inst.app.path(), moved) && QDir().rename(copy, inst.app.path()));
            if (heldFolder >= 0 && change == QLatin1String("waiting"))
                ::close(heldFolder);
            heldFile.reset();
        } else {
            QVERIFY(held ? held->fd >= 0 : inst.app.write(QStringLiteral("other-lock"), ""));
            QVERIFY(::rename(QFile::encodeName(other).constData(), QFile::encodeName(lockPath).constData()) == 0);
        }
        if (secondUpdater)
            inst.start(second, inst.arguments());
        QVERIFY(first.waitForFinished(timescale::ms(60000)) && (!secondUpdater || second.waitForFinished(timescale::ms(60000))));
        if (change == QLatin1String("held past the wait"))
            ::close(heldFolder);
        const QByteArray output = first.readAll(), secondOutput = second.readAll();
        QVERIFY2(!secondUpdater || second.exitCode() == 0, secondOutput.constData());
        if (folderMoves) {
            QVERIFY2(first.exitCode() == (waits ? 6 : 3) && output.contains("moved"), output.constData());
            QVERIFY2(!waits || output.contains("moved away while the updater waited"), output.constData());
            // Whole and told where it is now; its tool started there. The lock's file is its holder's.
            QCOMPARE(versionOf(moved, Files), QStringLiteral("old"));
            QStringList hidden = hiddenFiles(moved);
            hidden.sort();
            QCOMPARE(hidden.join(", "), QString((waits && !foldersLock) || byUpdater ? ".upgrade-lock, .upgrade-notice" : ".upgrade-notice"));
            QCOMPARE(inst.restarted("old", byUpdater ? 1000 : 10000, moved), !byUpdater);
            const QByteArray started = readFile(inst.record());
            MessageBoxRecorder boxes;
            updaternotice::tellIfAny(nullptr, moved);
            QCOMPARE(boxes.boxes().size(), 1);
            QVERIFY2(boxes.boxes().first().text.contains("was moved to where it is now, " + moved),
                     qPrintable(boxes.boxes().first().text));
            // What stands at the path is another's: untouched, or the second updater's whole install.
            if (secondUpdater) {
                QCOMPARE(versionOf(inst, Files), QStringLiteral("new"));
                QCOMPARE(hiddenFiles(inst.app.path()), QStringList{});
            } else {
                QCOMPARE(treeWithContent(inst.app.path()), copyBefore);
                QVERIFY(!started.contains(QFile::encodeName(inst.app.path()) + '\n'));
            }
            return;
        }
        QVERIFY2(first.exitCode() == 3 && output.contains("the updater's lock is no longer its own"), output.constData());
        const QString journal = inst.app.filePath(QStringLiteral(".upgrade-journal"));
        QVERIFY2(change != "lock at the end" || output.contains(QFile::encodeName("stopped before " + journal + '\n')), output.constData());
        QVERIFY2(versionOf(inst, Files) == (secondUpdater ? QStringLiteral("new") : QStringLiteral("old")), qPrintable(inst.log()));
        QCOMPARE(QFileInfo::exists(inst.app.filePath(QStringLiteral("config/about.xml"))), secondUpdater);
        QVERIFY2(!secondUpdater || secondOutput.contains(foldersLock ? "another updater is running" : "still being written"),
                 secondOutput.constData());
        QVERIFY(inst.restarted(secondUpdater ? "new" : "old"));
        // With an updater at work, only that one restarts the tool.
        QCOMPARE(readFile(inst.record()).contains("old"), !secondUpdater);
        QCOMPARE(inodeOf(lockPath), secondUpdater ? ino_t(0) : replacement); // the other's file stays, whole
        held.reset();

        MessageBoxRecorder boxes;
        updaternotice::tellIfAny(nullptr, inst.app.path());
        QCOMPARE(boxes.boxes().size(), 1);
        QVERIFY2(boxes.boxes().first().text.contains("replaced its lock"), qPrintable(boxes.boxes().first().text));
        QCOMPARE(hiddenFiles(inst.app.path()).join(", "), secondUpdater ? QString() : QStringLiteral(".upgrade-lock"));
    }

    // The record an earlier run left is replayed: up to its last change the run is undone; once it says
    // every new file was in, the run is finished instead. Either way no hidden file remains.
    void aRecordOfAnEarlierRunIsReplayed_data()
    {
        QTest::addColumn<bool>("complete");
        QTest::addColumn<bool>("usersFileInNewFolder"); // the folder the run made is no longer only its own
        QTest::newRow("interrupted while copying: undone") << false << false;
        QTest::newRow("interrupted after every file was in: finished") << true << false;
        QTest::newRow("a folder it made holds the user's file: left in place") << false << true;
    }
    void aRecordOfAnEarlierRunIsReplayed()
    {
        QFETCH(bool, complete);
        QFETCH(bool, usersFileInNewFolder);
        Installation inst;
        QVERIFY(!usersFileInNewFolder || inst.app.write(QStringLiteral("newdir/mine.txt"), "the user's"));
        QVERIFY(inst.app.write(QStringLiteral("a.txt"), "new"));
        QVERIFY(inst.app.write(QStringLiteral(".a.txt.upgrade-1-old-0"), "old"));
        QVERIFY(inst.app.write(QStringLiteral("newdir/x.so"), "new"));
        QVERIFY(inst.app.write(QStringLiteral(".b.txt.upgrade-1-0"), "partial"));
        // A line cut short was being written when the run ended: not acted on.
        const QByteArray record = "temp .b.txt.upgrade-1-0\nfolder newdir\nadd newdir%2Fx.so\n"
                                  "aside a.txt .a.txt.upgrade-1-old-0\n"
                                  + QByteArray(complete ? "complete\n" : "") + "add Tessa";
        QVERIFY(inst.app.write(QStringLiteral(".upgrade-journal"), record));
        QVERIFY(QDir(inst.app.filePath(Staged)).removeRecursively());
        QStringList arguments = inst.arguments();
        arguments[1] = QStringLiteral("0");

        QVERIFY(inst.run(arguments));
        QVERIFY2(inst.exitCode == 0, qPrintable(inst.output));
        QCOMPARE(readFile(inst.app.filePath(QStringLiteral("a.txt"))), complete ? QByteArray("new") : QByteArray("old"));
        QCOMPARE(QFileInfo::exists(inst.app.filePath(QStringLiteral("newdir/x.so"))), complete);
        QCOMPARE(QFileInfo::exists(inst.app.filePath(QStringLiteral("newdir"))), complete || usersFileInNewFolder);
        QVERIFY(!usersFileInNewFolder || readFile(inst.app.filePath(QStringLiteral("newdir/mine.txt"))) == "the user's");
        QCOMPARE(readFile(inst.app.filePath(ToolName)), toolScript("old", inst.record()));
        QCOMPARE(hiddenFiles(inst.app.path()), QStringList{});
        QVERIFY(inst.restarted("old"));
    }

    // The record of an earlier run is followed only inside the application folder, for the updater's
    // own files, never for the user's places nor to remove what the tool needs: a damaged one stops the
    // upgrade before anything is changed, and the tool tells the user once at its next start.
    void aDamagedRecordIsNotFollowed_data()
    {
        QTest::addColumn<QByteArray>("record"); // "pipe": the record is a named pipe
        QTest::newRow("climbs out of the application folder")
            << QByteArray("aside ..%2Foutside%2Fsecret.txt ..%2Foutside%2F.secret.txt.upgrade-1-old-0\n");
        QTest::newRow("kept file not beside its own")
            << QByteArray("aside a.txt sub%2F.a.txt.upgrade-1-old-0\n");
        QTest::newRow("kept file not named as the updater's") << QByteArray("aside a.txt b.txt\n");
        QTest::newRow("added file through a link") << QByteArray("add elsewhere%2Fsecret.txt\n");
        QTest::newRow("unknown line") << QByteArray("remove a.txt\n");
        QTest::newRow("dot-dot reaching a file outside") << QByteArray("add ..%2FOUTSIDE%2Fsecret.txt\n");
        QTest::newRow("temporary line naming an ordinary file") << QByteArray("temp a.txt\n");
        QTest::newRow("record is a pipe") << QByteArray("pipe");
        QTest::newRow("a keyboard's file") << QByteArray("add 0123456789abcdef01234567%2Fshortcuts.xml\n");
        QTest::newRow("a custom colour") << QByteArray("add config%2Fcustomcolor%2Fcolor_btn_32.json\n");
        QTest::newRow("menu file from a planted copy")
            << QByteArray("aside config%2Fmenutree.xml config%2F.menutree.xml.upgrade-9-old-0\n");
        QTest::newRow("language setting") << QByteArray("add config%2FLanguage.xml\n");
        QTest::newRow("update setting") << QByteArray("add config%2FAutoUpdate.xml\n");
        QTest::newRow("kept bad copy") << QByteArray("add config%2FAutoUpdate.xml.bad\n");
        QTest::newRow("a log") << QByteArray("add log%2Ftool.log\n");
        QTest::newRow("temporary folder") << QByteArray("folder config%2Ftemp\n");
        QTest::newRow("the program") << QByteArray("add Tessark\n");
        QTest::newRow("the updater") << QByteArray("add Upgrade%2FUpgrade\n");
        QTest::newRow("a folder of the updater's") << QByteArray("folder Upgrade%2Fplugins\n");
        QTest::newRow("version file") << QByteArray("add config%2Fabout.xml\n");
        QTest::newRow("server settings") << QByteArray("add config%2FUpdateServer.ini\n");
    }
    void aDamagedRecordIsNotFollowed()
    {
        QFETCH(QByteArray, record);
        Installation inst;
        QVERIFY(QFile::link(inst.outside.path(), inst.app.filePath(QStringLiteral("elsewhere"))));
        QFile secret(inst.outside.filePath(QStringLiteral("secret.txt")));
        QVERIFY(secret.open(QIODevice::WriteOnly) && secret.write("outside") == 7);
        secret.close();
        const QStringList everyones{"a.txt", "b.txt", "sub/.a.txt.upgrade-1-old-0",
                                    "0123456789abcdef01234567/shortcuts.xml", "config/customcolor/color_btn_32.json",
                                    "config/menutree.xml", "config/.menutree.xml.upgrade-9-old-0", "config/Language.xml",
                                    "config/AutoUpdate.xml", "config/AutoUpdate.xml.bad", "log/tool.log",
                                    "Upgrade/Upgrade", "config/about.xml", "config/UpdateServer.ini"};
        for (const QString& name : everyones)
            QVERIFY(inst.app.write(name, name.toUtf8()));
        for (const char* folder : {"config/temp", "Upgrade/plugins"})
            QVERIFY(QDir(inst.app.path()).mkpath(folder));
        const QString journal = inst.app.filePath(QStringLiteral(".upgrade-journal"));
        record.replace("OUTSIDE", QFile::encodeName(QFileInfo(inst.outside.path()).fileName()));
        if (record == "pipe")
            QVERIFY(::mkfifo(QFile::encodeName(journal).constData(), 0600) == 0);
        else
            QVERIFY(inst.app.write(QStringLiteral(".upgrade-journal"), record));
        QVERIFY(inst.stage(QStringLiteral("config/about.xml"), "new about"));
        const QStringList outsideBefore = listTree(inst.outside.path());

        QVERIFY(inst.run(inst.arguments()));
        QCOMPARE(inst.exitCode, 3);
        QCOMPARE(listTree(inst.outside.path()), outsideBefore);
        QCOMPARE(readFile(secret.fileName()), QByteArray("outside"));
        for (const QString& name : everyones)
            QCOMPARE(readFile(inst.app.filePath(name)), name.toUtf8());
        for (const char* folder : {"config/temp", "Upgrade/plugins"})
            QVERIFY(QFileInfo(inst.app.filePath(folder)).isDir());
        QVERIFY(inst.restarted("old"));
        const QString why = record == "pipe" ? "cannot read the record of an earlier upgrade"
                                             : "the record of an earlier upgrade is damaged";
        QVERIFY2(inst.log().contains(why), qPrintable(inst.log()));

        // The tool's next start says so, once, naming the record.
        MessageBoxRecorder boxes;
        updaternotice::tellIfAny(nullptr, inst.app.path());
        updaternotice::tellIfAny(nullptr, inst.app.path());
        QCOMPARE(boxes.boxes().size(), 1);
        QVERIFY2(boxes.boxes().first().text.contains(journal), qPrintable(boxes.boxes().first().text));
    }

    // A run that installs nothing for a reason the user can mend (a lock it cannot take, a record it
    // cannot follow) is told at the tool's next start, once, naming what to delete, also when a folder
    // or a link (symbolic or hard) to a file outside takes the notice's place; that file is not written.
    // The tool comes back once it has ended, unless an updater of the same folder, which restarts it,
    // holds the lock.
    void aRunThatGivesUpIsToldAtTheNextStart_data()
    {
        QTest::addColumn<QString>("lock");  // what stands at the lock's name, or holds it
        QTest::addColumn<QString>("notice"); // what stands at the notice's place: "folder", "link", "hard link"
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("restarted");
        QTest::addColumn<QString>("told");
        QTest::newRow("lock is a link") << "link" << "" << 6 << true << "cannot lock";
        QTest::newRow("lock is a FIFO") << "fifo" << "" << 6 << true << "cannot lock";
        QTest::newRow("lock is a folder") << "folder" << "" << 6 << true << "cannot lock";
        QTest::newRow("lock cannot be opened") << "unreadable" << "" << 6 << true << "cannot lock";
        QTest::newRow("lock is a read-only file") << "read-only" << "" << 6 << true << "cannot lock";
        QTest::newRow("lock held by another process") << "held" << "" << 6 << true << "held the updater's lock";
        QTest::newRow("lock replaced under the waiting updater") << "replaced" << "" << 6 << true << "held the updater's lock";
        QTest::newRow("lock held by an updater of this folder") << "updater" << "" << 6 << false << "held the updater's lock";
        QTest::newRow("notice's place a folder, record damaged") << "" << "folder" << 3 << true << "Its record";
        QTest::newRow("notice's place a link to a file outside") << "held" << "link" << 6 << true << "held the updater's lock";
        QTest::newRow("notice's place a hard link to a file outside")
            << "held" << "hard link" << 6 << true << "held the updater's lock";
        QTest::newRow("lock held, the old tool still runs: not started twice")
            << "held, tool running" << "" << 6 << false << "held the updater's lock";
        QTest::newRow("lock held, an updater of another folder at work: the tool comes back")
            << "held, other updater" << "" << 6 << true << "held the updater's lock";
        QTest::newRow("a record whose writer runs past the wait: not followed")
            << "record in use" << "" << 6 << true << "held the updater's lock";
        QTest::newRow("a record whose writer runs past the wait, in a folder whose path holds %1")
            << "record in use" << "" << 6 << true << "held the updater's lock";
    }
    void aRunThatGivesUpIsToldAtTheNextStart()
    {
        QFETCH(QString, lock);
        QFETCH(QString, notice);
        QFETCH(int, exitCode);
        QFETCH(bool, restarted);
        QFETCH(QString, told);
        // Below a folder whose path holds %1 (an empty TMPDIR reads as none): paths are logged as they are.
        const bool percentPath = QByteArray(QTest::currentDataTag()).contains("%1");
        const TempDir percent;
        const QByteArray tmp = qgetenv("TMPDIR"), below = QFile::encodeName(percent.filePath(QStringLiteral("per%1cent")));
        QVERIFY(!percentPath || (QDir().mkdir(QFile::decodeName(below)) && qputenv("TMPDIR", below)));
        Installation inst;
        QVERIFY(!percentPath || (qputenv("TMPDIR", tmp) && inst.app.path().contains(QLatin1String("%1"))));
        inst.copyWaitMs = 1000;
        const QString lockPath = inst.app.filePath(QStringLiteral(".upgrade-lock"));
        const QString noticePath = inst.app.filePath(QStringLiteral(".upgrade-notice"));
        const bool noticeFolder = notice == QLatin1String("folder");
        QVERIFY(!noticeFolder || inst.app.write(QStringLiteral(".upgrade-notice/x"), "x")); // not ours: left
        QVERIFY(!noticeFolder || inst.app.write(QStringLiteral(".upgrade-journal"), "remove a.txt\n"));
        const QString outsideFile = inst.outside.filePath(QStringLiteral("notice.txt"));
        QFile outside(outsideFile);
        QVERIFY(outside.open(QIODevice::WriteOnly) && outside.write("outside\n") == 8 && outside.flush());
        const QByteArray from = QFile::encodeName(outsideFile), at = QFile::encodeName(noticePath);
        QVERIFY(!notice.contains("link") || (notice == "link" ? ::symlink : ::link)(from.constData(), at.constData()) == 0);
        if (lock == QLatin1String("held, tool running")) { // from a file replaced since: a restart is recorded
            QVERIFY(inst.startSleeper(ToolName, 60));
            QVERIFY(QFile::remove(inst.app.filePath(ToolName)) && inst.app.write(ToolName, toolScript("old", inst.record())));
            QVERIFY(setMode(inst.app.filePath(ToolName), 0755));
        }
        std::unique_ptr<Installation> otherFolder;
        if (lock == QLatin1String("held, other updater")) { // waits for a program of its own
            otherFolder = std::make_unique<Installation>();
            QVERIFY(otherFolder->startSleeper(QStringLiteral("Sleeper"), 60));
            otherFolder->running.push_back(std::make_unique<QProcess>());
            QStringList args = otherFolder->arguments();
            args[3] = QStringLiteral("Sleeper");
            otherFolder->start(*otherFolder->running.back(), args, 60000);
            QVERIFY(logShows(*otherFolder, QStringLiteral("waiting for")));
        }
        QVERIFY(lock != QLatin1String("link") || QFile::link(inst.outside.filePath(QStringLiteral("lock")), lockPath));
        QVERIFY(lock != QLatin1String("fifo") || ::mkfifo(QFile::encodeName(lockPath).constData(), 0600) == 0);
        QVERIFY(lock != QLatin1String("folder") || QDir().mkdir(lockPath));
        QVERIFY(lock != QLatin1String("unreadable") || (inst.app.write(".upgrade-lock", "") && setMode(lockPath, 0)));
        QVERIFY(lock != QLatin1String("read-only") || (inst.app.write(".upgrade-lock", "") && setMode(lockPath, 0444)));
        std::unique_ptr<HeldLock> record; // as its live writer holds it
        if (lock == QLatin1String("record in use")) {
            QVERIFY(inst.app.write(QStringLiteral("a.txt"), "a") && inst.app.write(QStringLiteral(".upgrade-journal"), "add a.txt\n"));
            record = std::make_unique<HeldLock>(inst.app.filePath(QStringLiteral(".upgrade-journal")));
            QVERIFY(record->fd >= 0);
        }
        std::unique_ptr<HeldLock> held;
        if (lock.startsWith(QLatin1String("held")) || lock == QLatin1String("replaced")) {
            held = std::make_unique<HeldLock>(lockPath);
            QVERIFY(held->fd >= 0);
        }
        if (lock == QLatin1String("updater")) { // the first waits for a program of its own, holding the lock
            QVERIFY(inst.startSleeper(QStringLiteral("Sleeper"), 60));
            inst.running.push_back(std::make_unique<QProcess>());
            QStringList first = inst.arguments();
            first[3] = QStringLiteral("Sleeper");
            inst.start(*inst.running.back(), first, 60000);
        }
        QVERIFY(inst.stage(QStringLiteral("config/about.xml"), "new about"));

        QProcess updater;
        QDeadlineTimer deadline(timescale::ms(20000));
        while (lock == QLatin1String("updater") && !inst.log().contains("waiting for") && !deadline.hasExpired())
            QThread::msleep(10);
        inst.start(updater, inst.arguments(), 500);
        if (lock == QLatin1String("replaced")) {
            // Once it waits: another holder puts its own file at the name, then the first lets go.
            while (!inst.log().contains(QLatin1String("waiting for it to end")) && !deadline.hasExpired())
                QThread::msleep(10);
            const QString other = inst.app.filePath(QStringLiteral("other-lock"));
            auto second = std::make_unique<HeldLock>(other);
            QVERIFY(second->fd >= 0);
            QVERIFY(::rename(QFile::encodeName(other).constData(), QFile::encodeName(lockPath).constData()) == 0);
            held = std::move(second);
        }
        QVERIFY(updater.waitForFinished(timescale::ms(60000)));
        QVERIFY2(updater.exitCode() == exitCode, updater.readAll().constData());
        QVERIFY(!QFileInfo::exists(inst.app.filePath(QStringLiteral("config/about.xml"))));
        QVERIFY(!QFileInfo::exists(inst.outside.filePath(QStringLiteral("lock"))));
        QCOMPARE(inst.restarted("old", restarted ? 10000 : 1000), restarted);
        QVERIFY(!record || (readFile(inst.app.filePath(QStringLiteral("a.txt"))) == "a"
                            && readFile(inst.app.filePath(QStringLiteral(".upgrade-journal"))) == "add a.txt\n"));
        const QString journal = inst.app.filePath(QStringLiteral(".upgrade-journal"));
        QVERIFY2(!percentPath || inst.log().contains("the record " + journal + " is still being written"), qPrintable(inst.log()));
        QVERIFY(lock != QLatin1String("read-only") || modeOf(lockPath) == 0444); // not the updater's to remove
        held.reset();

        MessageBoxRecorder boxes;
        updaternotice::tellIfAny(nullptr, inst.app.path());
        updaternotice::tellIfAny(nullptr, inst.app.path());
        QCOMPARE(boxes.boxes().size(), 1);
        const QString text = boxes.boxes().first().text;
        QVERIFY2(text.contains(told), qPrintable(text));
        const QString toDelete = noticeFolder ? inst.app.filePath(QStringLiteral(".upgrade-journal")) : lockPath;
        QVERIFY2(text.contains(toDelete), qPrintable(text));
        QVERIFY2(!noticeFolder || (text.contains(noticePath) && QFileInfo(noticePath).isDir()), qPrintable(text));
        QCOMPARE(readFile(outsideFile), QByteArray("outside\n"));
    }

    // Whatever was staged for the user's keyboards, logs, colours and settings, or over the tool's own
    // lock, is not copied; the rest of the upgrade is.
    void leavesTheUsersPlacesAlone_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<bool>("existing"); // the user already has a file there
        QTest::newRow("keyboard's shortcuts") << "0123456789abcdef01234567/shortcuts.xml" << true;
        QTest::newRow("new file in a keyboard's folder") << "0123456789abcdef01234567/extra.xml" << false;
        QTest::newRow("custom colour") << "config/customcolor/color_btn_32.json" << true;
        QTest::newRow("menu tree") << "config/menutree.xml" << true;
        QTest::newRow("language setting, other case") << "config/LANGUAGE.XML" << false;
        QTest::newRow("kept bad copy") << "config/AutoUpdate.xml.bad.1" << false;
        QTest::newRow("log file") << "log/tool.log" << true;
        QTest::newRow("temporary folder") << "config/temp/x.bin" << false;
        // Not the user's, but the tool's own: the lock its running copy holds.
        QTest::newRow("the tool's instance lock") << UpdaterNames::instanceLock() << true;
    }
    void leavesTheUsersPlacesAlone()
    {
        QFETCH(QString, place);
        QFETCH(bool, existing);
        Installation inst;
        QVERIFY(!existing || inst.app.write(place, "the user's"));
        QVERIFY(inst.stage(place, "the server's"));
        QVERIFY(inst.stage(ToolName, toolScript("new", inst.record())));
        QVERIFY(inst.stage(QStringLiteral("config/about.xml"), "new about"));
        QVERIFY(inst.run(inst.arguments()));
        QVERIFY2(inst.exitCode == 0, qPrintable(inst.output));
        if (existing)
            QCOMPARE(readFile(inst.app.filePath(place)), QByteArray("the user's"));
        else
            QVERIFY(!QFileInfo::exists(inst.app.filePath(place)));
        QCOMPARE(readFile(inst.app.filePath(QStringLiteral("config/about.xml"))), QByteArray("new about"));
        QVERIFY(inst.restarted("new"));
        QVERIFY2(inst.log().contains(place.startsWith(QLatin1Char('.')) ? QLatin1String("skipped, a name of the updater's own files")
                                                                         : QLatin1String("skipped, a place of the user's own files")),
                 qPrintable(inst.log()));
    }

    // The log is written only into a plain log folder of the application folder; a link in the folder's
    // or the file's place is left as it is, and the upgrade goes on without a log file.
    void writesNoLogThroughALink_data()
    {
        QTest::addColumn<QString>("link");   // below the application folder, after log/ is removed
        QTest::addColumn<QString>("target"); // below the outside folder
        QTest::newRow("log folder links to a folder") << "log" << "logs";
        QTest::newRow("log folder links to nothing") << "log" << "missing";
        QTest::newRow("log file links to a file") << "log/Upgrade.log" << "logs/secret.txt";
    }
    void writesNoLogThroughALink()
    {
        QFETCH(QString, link);
        QFETCH(QString, target);
        Installation inst;
        QVERIFY(QDir(inst.outside.path()).mkpath(QStringLiteral("logs")));
        QFile secret(inst.outside.filePath(QStringLiteral("logs/secret.txt")));
        QVERIFY(secret.open(QIODevice::WriteOnly) && secret.write("outside") == 7);
        secret.close();
        if (link == QLatin1String("log"))
            QVERIFY(QDir(inst.app.filePath(link)).removeRecursively());
        QVERIFY(QFile::link(inst.outside.filePath(target), inst.app.filePath(link)));
        QVERIFY(inst.stage(ToolName, toolScript("new", inst.record())));
        QVERIFY(inst.stage(QStringLiteral("config/about.xml"), "new about"));
        const QStringList outsideBefore = listTree(inst.outside.path());

        QVERIFY(inst.run(inst.arguments()));
        QVERIFY2(inst.exitCode == 0, qPrintable(inst.output));
        QCOMPARE(listTree(inst.outside.path()), outsideBefore);
        QCOMPARE(readFile(secret.fileName()), QByteArray("outside"));
        QCOMPARE(QFileInfo(inst.app.filePath(link)).symLinkTarget(), inst.outside.filePath(target));
        QCOMPARE(readFile(inst.app.filePath(QStringLiteral("config/about.xml"))), QByteArray("new about"));
        QVERIFY(inst.restarted("new"));
        QVERIFY2(inst.output.contains(QLatin1String("upgrade finished")), qPrintable(inst.output)); // on stderr only
    }

};

QTEST_GUILESS_MAIN(UpdaterProgram)
#include "test_updater.moc"
