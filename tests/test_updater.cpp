// The updater program: started as the tool starts it, it waits for the tool, copies the staged files
// over the application folder, removes them and restarts the tool.
#include "tempappdir.h"

#include <QtTest>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The build puts Upgrade/ beside tests/: found from the test's own place, so a copy of the build run
// by another user starts its own copy.
QString program()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../Upgrade/Upgrade"));
}
const QString ToolName = QStringLiteral("Tessark");
const QString Staged = QStringLiteral("UpgradeTessark/Windows/Tessark/Tessark");

int modeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

bool setMode(const QString& path, int mode) { return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0; }

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

    Installation()
    {
        app.write(ToolName, toolScript("old", record()));
        setMode(app.filePath(ToolName), 0755);
        QDir(app.path()).mkpath(Staged);
    }
    ~Installation()
    {
        for (auto& p : running) {
            p->kill();
            p->waitForFinished(10000);
        }
    }
    QString record() const { return records.filePath(QStringLiteral("started.txt")); }
    QString appArg() const { return app.path() + QLatin1Char('/'); }
    bool stage(const QString& relative, const QByteArray& content, int mode = 0644)
    {
        return app.write(Staged + '/' + relative, content) && setMode(app.filePath(Staged + '/' + relative), mode);
    }
    QStringList arguments(const QString& language = QStringLiteral("1")) const
    {
        return {"upgrade", "3", appArg(), ToolName, app.filePath(Staged) + '/', appArg(), language};
    }
    // Runs the updater with the wait for the tool bounded to waitMs; false if it did not end. With
    // fileSizeBlocks, no file it writes may grow past that many blocks (of 512 or 1024 bytes): a write
    // beyond fails as on a full disk.
    bool run(const QStringList& args, int waitMs = 5000, int fileSizeBlocks = 0)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSARK_UPGRADE_WAIT_MS"), QString::number(waitMs));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        if (fileSizeBlocks > 0) {
            const QString limit = QStringLiteral("ulimit -f %1 && trap '' XFSZ && exec \"$0\" \"$@\"").arg(fileSizeBlocks);
            p.start(QStringLiteral("/bin/sh"), QStringList{QStringLiteral("-c"), limit, program()} + args);
        } else {
            p.start(program(), args);
        }
        const bool ended = p.waitForFinished(60000); // generous for the sanitizer build
        output = QString::fromLocal8Bit(p.readAll());
        exitCode = ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        if (!ended) {
            p.kill();
            p.waitForFinished(10000);
        }
        return ended;
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
        return running.back()->waitForStarted(10000) ? running.back().get() : nullptr;
    }
    QString log() const { return QString::fromUtf8(readFile(app.filePath(QStringLiteral("log/Upgrade.log")))); }
    // Whether the tool recorded a start with this version in the application folder within ms.
    bool restarted(const QByteArray& version, int ms = 10000) const
    {
        const QByteArray line = version + ' ' + QFile::encodeName(app.path());
        QDeadlineTimer deadline(ms);
        while (!readFile(record()).contains(line) && !deadline.hasExpired())
            QThread::msleep(20);
        return readFile(record()).contains(line);
    }
};

} // namespace

class UpdaterProgram : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QFileInfo(program()).isExecutable(), qPrintable(program())); }

    // A good run: nested files replaced and added, the staged folders gone, the new tool started in the
    // application folder, the log in the language asked for.
    void replacesFilesAndRestartsTheTool_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("finished");
        QTest::newRow("English") << "1" << "upgrade finished";
        QTest::newRow("Chinese") << "0" << QString::fromUtf8("升级完成");
        QTest::newRow("other value reads English") << "2" << "upgrade finished";
    }
    void replacesFilesAndRestartsTheTool()
    {
        QFETCH(QString, language);
        QFETCH(QString, finished);
        Installation inst;
        QVERIFY(inst.app.write(QStringLiteral("config/about.xml"), "old about"));
        QVERIFY(inst.stage(ToolName, toolScript("new", inst.record())));
        QVERIFY(inst.stage(QStringLiteral("config/about.xml"), "new about"));
        QVERIFY(inst.stage(QStringLiteral("plugins/platforms/libnew.so"), "library"));
        QVERIFY(inst.run(inst.arguments(language)));
        QVERIFY2(inst.exitCode == 0, qPrintable(inst.output));
        QCOMPARE(readFile(inst.app.filePath(QStringLiteral("config/about.xml"))), QByteArray("new about"));
        QCOMPARE(readFile(inst.app.filePath(QStringLiteral("plugins/platforms/libnew.so"))), QByteArray("library"));
        QVERIFY(!QFileInfo::exists(inst.app.filePath(QStringLiteral("UpgradeTessark"))));
        QVERIFY(inst.restarted("new"));
        QVERIFY(!readFile(inst.record()).contains("old"));
        QVERIFY2(inst.log().contains(finished), qPrintable(inst.log()));
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
        QVERIFY(timer.elapsed() < waitMs + 10000);
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
