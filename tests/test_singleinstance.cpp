// One copy per application folder, checked with the real executable started as separate processes;
// and that executable under a file-size limit.
#include "builtpath.h"
#include "platform/localservername.h"
#include "tempappdir.h"
#include "timescale.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QtTest>
#include <memory>
#include <vector>

#ifdef Q_OS_LINUX
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

// Runs its program with no file it writes allowed to grow past limit bytes (as `ulimit -f` would), and
// with the signal such a write raises in its default state, which ends the process.
class SizeLimitedProcess : public QProcess {
public:
    explicit SizeLimitedProcess(qint64 limit) : m_limit(rlim_t(limit)) {}

protected:
    void setupChildProcess() override // between fork and exec: system calls only
    {
        const rlimit limit{m_limit, m_limit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_DFL);
    }

private:
    rlim_t m_limit;
};
#endif

// Generous, and scaled: the sanitizer build, or a busy machine, starts slowly.
static const int StartMs = timescale::ms(60000);
static const char* const Shown = "main window shown";

// Copies of the built executable, each in a folder of its own (its app dir: log/ and config/ land there).
// The private root folder (0700) is also their runtime and config folder: no copy outside the test answers them.
struct Installation {
    TempDir root;
    std::vector<std::unique_ptr<QProcess>> processes;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment(); // what start() gives each copy

    Installation()
    {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), root.path());
        // Qt falls back to a runtime folder in TMPDIR when the one given is not private (a row shares it).
        env.insert(QStringLiteral("TMPDIR"), root.filePath("tmp"));
        if (!QDir().mkpath(root.filePath("tmp")))
            qFatal("Cannot make the copies' temporary folder in %s", qPrintable(root.path()));
    }
    ~Installation()
    {
        for (auto& p : processes) {
            p->kill();
            p->waitForFinished(timescale::ms(10000));
        }
    }
    // Copies the executable to "folder/file name"; returns its path.
    QString install(const char* folderAndName)
    {
        const QString exe = root.filePath(folderAndName);
        QDir().mkpath(QFileInfo(exe).path());
        return QFile::copy(builtPath(QStringLiteral("tessark-sim")), exe) ? exe : QString();
    }
    // The socket name, in runtimeDir (the root by default), of the copy installed at "folder/file name".
    QString socketOf(const char* folderAndName, const QString& runtimeDir = QString()) const
    {
        const QFileInfo exe(root.filePath(folderAndName));
        return QDir(runtimeDir.isEmpty() ? root.path() : runtimeDir)
            .filePath(folderServerName(exe.fileName(), exe.path()));
    }
    // fileSizeLimit: bytes any file it writes may hold, 0 for no limit (Linux only).
    QProcess* start(const QString& exe, const QStringList& args = {}, qint64 fileSizeLimit = 0)
    {
#ifdef Q_OS_LINUX
        if (fileSizeLimit > 0)
            processes.push_back(std::make_unique<SizeLimitedProcess>(fileSizeLimit));
        else
#endif
            processes.push_back(std::make_unique<QProcess>());
        QProcess* p = processes.back().get();
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(exe, args);
        return p;
    }
};

// Reads what the process prints (its log lines too) into out until it holds the text; false if it did not in time.
static bool prints(QProcess* p, QString& out, const char* text, int ms = StartMs)
{
    const QDeadlineTimer deadline(ms);
    while (!out.contains(QLatin1String(text)) && p->waitForReadyRead(int(deadline.remainingTime())))
        out += QString::fromLocal8Bit(p->readAll());
    return out.contains(QLatin1String(text));
}

// Starts a second copy of exe: it must end at once with 0, before logging its start mode or even its path,
// and wake first, whose output goes on in out (with the second's added if it did not end so). started:
// such a start already under way.
static bool secondCopyWakes(Installation& inst, const QString& exe, QProcess* first, QString& out,
                            QProcess* started = nullptr)
{
    QProcess* second = started ? started : inst.start(exe, {QStringLiteral("hello")});
    const bool ended = second->waitForFinished(StartMs) && second->exitStatus() == QProcess::NormalExit
                       && second->exitCode() == 0;
    const QString secondOut = QString::fromLocal8Bit(second->readAll());
    if (ended && !secondOut.contains(exe) && !secondOut.contains(QLatin1String("start mode")))
        return prints(first, out, "show slot", timescale::ms(10000)) && first->state() == QProcess::Running;
    out += QLatin1String("\n--- second copy:\n") + secondOut;
    return false;
}

#ifdef Q_OS_LINUX
static const char* const NotAnswering = "already running but does not answer";
static const char* const NotReached = "already running from this folder but cannot be reached";
static const char* const CannotTell = "cannot tell whether it is already running from this folder";
static const char* const LockName = ".upgrade-instance-lock";

// Every file and folder below root with its size and time of change: what a start wrote shows as a difference.
static QStringList filesBelow(const QString& root)
{
    QStringList files;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        files << QStringLiteral("%1 %2 %3")
                     .arg(info.filePath())
                     .arg(info.size())
                     .arg(info.lastModified().toMSecsSinceEpoch());
    }
    files.sort();
    return files;
}

// Stops the process and waits until it stands: no write of its own is under way once this returns true.
static bool stopProcess(QProcess* p)
{
    if (::kill(pid_t(p->processId()), SIGSTOP) != 0)
        return false;
    const QString stat = QStringLiteral("/proc/%1/stat").arg(p->processId());
    return QTest::qWaitFor(
        [&stat] {
            const QByteArray fields = readFile(stat);
            const int nameEnd = fields.lastIndexOf(')');
            return nameEnd > 0 && fields.size() > nameEnd + 2 && fields.at(nameEnd + 2) == 'T';
        },
        timescale::ms(10000));
}

// A start that found a running copy it must not run beside says why (text) and keeps its box open: a
// stop signal answers the box. True when it said so, went no further (it neither logged its path nor
// made a window) and ended.
static bool startIsRefused(Installation& inst, const QString& exe, QString& out, const char* text)
{
    QProcess* start = inst.start(exe, {QStringLiteral("hello")});
    if (!prints(start, out, text) || start->state() != QProcess::Running
        || ::kill(pid_t(start->processId()), SIGTERM) != 0 || !start->waitForFinished(StartMs))
        return false;
    out += QString::fromLocal8Bit(start->readAll());
    return out.contains(QLatin1String("a box was open, answered as cancelled")) && !out.contains(exe)
           && !out.contains(QLatin1String("start mode"));
}

static bool startSaysNotAnswering(Installation& inst, const QString& exe, QString& out)
{
    return startIsRefused(inst, exe, out, NotAnswering);
}

// The file (or whatever else) at path, as a name holds it: what a put-back or a replacement changes.
static QString heldAt(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return QString();
    return QStringLiteral("%1:%2 mode %3").arg(info.st_dev).arg(info.st_ino).arg(info.st_mode, 0, 8);
}

static constexpr uid_t OtherUid = 65534; // nobody

// A process of another user that listens at a local socket path, or connects there, until it is dropped.
// Changing the user needs root: start() fails without it.
struct ForeignPeer {
    pid_t pid = -1;
    int hold = -1; // our end of a socket pair: the child waits until it closes

    bool start(const QString& path, bool listens)
    {
        const QByteArray name = QFile::encodeName(path);
        sockaddr_un address{AF_UNIX, {}};
        int pair[2];
        if (::geteuid() != 0 || size_t(name.size()) >= sizeof address.sun_path
            || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
            return false;
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        pid = ::fork();
        if (pid == 0) { // system calls only: the parent's threads do not exist here
            ::close(pair[0]);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            const auto* a = reinterpret_cast<const sockaddr*>(&address);
            char c = 1;
            if (::setgroups(0, nullptr) == 0 && ::setgid(OtherUid) == 0 && ::setuid(OtherUid) == 0 && fd >= 0
                && (listens ? ::bind(fd, a, sizeof address) == 0 && ::listen(fd, 8) == 0
                            : ::connect(fd, a, sizeof address) == 0)
                && ::write(pair[1], &c, 1) == 1)
                ::read(pair[1], &c, 1); // until the test drops the peer (or ends)
            ::_exit(0);
        }
        ::close(pair[1]);
        hold = pair[0];
        char c = 0;
        return pid > 0 && ::read(hold, &c, 1) == 1;
    }
    ~ForeignPeer()
    {
        if (hold >= 0)
            ::close(hold);
        if (pid > 0)
            ::waitpid(pid, nullptr, 0);
    }
};

// A process of our own that holds the lock at lockPath and listens at socketPath, but accepts each
// connection only to close it at once: it never answers, and ends when dropped.
struct HangingUpHolder {
    pid_t pid = -1;

    bool start(const QString& lockPath, const QString& socketPath)
    {
        const QByteArray lockName = QFile::encodeName(lockPath), name = QFile::encodeName(socketPath);
        sockaddr_un address{AF_UNIX, {}};
        int ready[2];
        if (size_t(name.size()) >= sizeof address.sun_path || ::pipe2(ready, O_CLOEXEC) != 0)
            return false;
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        pid = ::fork();
        if (pid == 0) { // system calls only: the parent's threads do not exist here
            ::close(ready[0]);
            const int lock = ::open(lockName.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            char c = 1;
            if (lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0 && fd >= 0
                && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 && ::listen(fd, 8) == 0
                && ::write(ready[1], &c, 1) == 1) {
                for (;;) { // until killed
                    const int peer = ::accept(fd, nullptr, nullptr);
                    if (peer >= 0)
                        ::close(peer);
                }
            }
            ::_exit(1);
        }
        ::close(ready[1]);
        char c = 0;
        const bool started = pid > 0 && ::read(ready[0], &c, 1) == 1;
        ::close(ready[0]);
        return started;
    }
    bool lives()
    {
        if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) != 0)
            pid = -1; // ended, and reaped
        return pid > 0;
    }
    ~HangingUpHolder()
    {
        if (pid > 0 && ::kill(pid, SIGKILL) == 0)
            ::waitpid(pid, nullptr, 0);
    }
};
#endif

class SingleInstance : public QObject {
    Q_OBJECT
private slots:
    void secondCopyWakesTheFirstAndOtherFileNamesRunBeside_data()
    {
        QTest::addColumn<bool>("staleSocket");
        QTest::newRow("first copy running") << false;
        QTest::newRow("socket of a killed copy taken over") << true;
    }
    // A copy under another file name is a separate instance: it runs beside the first, which is not woken.
    // A second copy of the same file wakes the first and ends with 0.
    void secondCopyWakesTheFirstAndOtherFileNamesRunBeside()
    {
        QFETCH(bool, staleSocket);
        Installation inst;
        const QString exe = inst.install("app/tessark-sim");
        QString out, otherOut;
        if (staleSocket) {
            QProcess* killed = inst.start(exe);
            QVERIFY2(prints(killed, out, Shown), qPrintable(out));
            killed->kill();
            QVERIFY(killed->waitForFinished(timescale::ms(10000)));
            QVERIFY(QFile::exists(inst.socketOf("app/tessark-sim")));
            out.clear();
        }
        QProcess* first = inst.start(exe);
        QVERIFY2(prints(first, out, Shown), qPrintable(out));
        QProcess* other = inst.start(inst.install("b/tessark-other"));
        QVERIFY2(prints(other, otherOut, Shown), qPrintable(otherOut));
        QVERIFY(QFile::exists(inst.socketOf("b/tessark-other")) && other->state() == QProcess::Running);
        QVERIFY2(!prints(first, out, "show slot", 1000), qPrintable(out));

        QVERIFY2(secondCopyWakes(inst, exe, first, out), qPrintable(out));
    }

    // Two unpacked copies of the tool, one runtime folder: each folder's copy has a socket of its own, a
    // start wakes the copy of its own folder only, and still does once the other folder's copy has ended.
    void eachStartReachesItsOwnFoldersCopy()
    {
        Installation inst;
        const QString exeA = inst.install("a/tessark-sim"), exeB = inst.install("b/tessark-sim");
        QString outA, outB;
        QProcess* a = inst.start(exeA);
        QVERIFY2(prints(a, outA, Shown), qPrintable(outA));
        QProcess* b = inst.start(exeB);
        QVERIFY2(prints(b, outB, Shown), qPrintable(outB));
        QVERIFY2(!prints(a, outA, "show slot", 1000) && a->state() == QProcess::Running, qPrintable(outA));
        QVERIFY2(secondCopyWakes(inst, exeA, a, outA), qPrintable(outA));
        QVERIFY2(!outB.contains(QLatin1String("show slot")), qPrintable(outB));
        QVERIFY2(secondCopyWakes(inst, exeB, b, outB), qPrintable(outB));
        b->kill();
        QVERIFY(b->waitForFinished(timescale::ms(10000)));
        for (int round = 0; round < 3; ++round) {
            outA.clear();
            QVERIFY2(secondCopyWakes(inst, exeA, a, outA), qPrintable(outA));
        }
    }

    void aStartRunsOnlyWhenNoCopyLives_data()
    {
        QTest::addColumn<QString>("first");
        QTest::newRow("killed, started again at once, five times") << "killed";
        QTest::newRow("stopped, killed while the start waits for its answer") << "stopped, then killed";
        QTest::newRow("a server at the name that no copy holds the lock of: left to it, said; the start runs") << "silent";
        QTest::newRow("stopped: the start says so, touches no file and ends; the first shows itself once it goes on")
            << "stopped";
        QTest::newRow("stopped, its lock removed: a start runs beside it without taking its socket; once that "
                      "ends, the first takes its lock back and later starts wake it")
            << "stopped, lock removed";
        QTest::newRow("stopped, a file renamed over its lock while the start waits, then killed: the start runs "
                      "in its place on that file, and a later start wakes it")
            << "stopped, renamed over, then killed";
        QTest::newRow("a process holds the lock and its socket accepts and closes at once: the start says it "
                      "cannot be reached, touches no file and ends")
            << "hangs up";
    }
    // Whether a copy lives is its lock's to say, which the system releases when the copy ends however it
    // ends: a start runs, under the name the other held, only when none does, and a later start wakes it. A
    // living copy that does not answer (busy, or stopped) keeps the start from running beside it.
    void aStartRunsOnlyWhenNoCopyLives()
    {
#ifdef Q_OS_LINUX
        QFETCH(QString, first);
        Installation inst;
        const QString exe = inst.install("app/tessark-sim");
        QString out;
        QLocalServer standIn;
        QProcess* running = nullptr;
        if (first == "silent") {
            QVERIFY2(standIn.listen(inst.socketOf("app/tessark-sim")), qPrintable(standIn.errorString()));
        } else if (first == "hangs up") { // a closed connection is no answer: never taken for one, nor for a busy copy
            HangingUpHolder holder;
            QVERIFY(holder.start(inst.root.filePath("app/") + LockName, inst.socketOf("app/tessark-sim")));
            const QStringList before = filesBelow(inst.root.filePath("app"));
            QVERIFY2(startIsRefused(inst, exe, out, NotReached), qPrintable(out));
            QVERIFY2(out.contains(QLatin1String("a running copy holds")) && !out.contains(QLatin1String(NotAnswering)),
                     qPrintable(out));
            QCOMPARE(filesBelow(inst.root.filePath("app")), before);
            QVERIFY(holder.lives());
            return;
        } else {
            running = inst.start(exe);
            QVERIFY2(prints(running, out, Shown), qPrintable(out));
        }
        if (first == "stopped, lock removed") {
            const QString lock = inst.root.filePath("app/") + LockName, socket = inst.socketOf("app/tessark-sim");
            const QString socketHeld = heldAt(socket);
            QVERIFY(stopProcess(running));
            QVERIFY(QFile::remove(lock));
            QProcess* beside = inst.start(exe);
            QString besideOut;
            QVERIFY2(prints(beside, besideOut, Shown), qPrintable(besideOut));
            QVERIFY2(besideOut.contains(QLatin1String("a running process listens at ") + socket), qPrintable(besideOut));
            QCOMPARE(heldAt(socket), socketHeld); // still the first copy's
            QCOMPARE(::kill(pid_t(running->processId()), SIGCONT), 0);
            QVERIFY2(prints(running, out, "both run"), qPrintable(out));
            beside->kill();
            QVERIFY(beside->waitForFinished(timescale::ms(10000)));
            QVERIFY2(prints(running, out, "put the lock back at"), qPrintable(out));
            for (int round = 0; round < 2; ++round) {
                out.clear();
                QVERIFY2(secondCopyWakes(inst, exe, running, out), qPrintable(out));
            }
            return;
        }
        if (first == "stopped") {
            QVERIFY(stopProcess(running));
            const QStringList before = filesBelow(inst.root.filePath("app")); // log/, config/, the keyboards' files
            QString startOut;
            QVERIFY2(startSaysNotAnswering(inst, exe, startOut), qPrintable(startOut));
            QCOMPARE(filesBelow(inst.root.filePath("app")), before);
            QCOMPARE(::kill(pid_t(running->processId()), SIGCONT), 0);
            QVERIFY2(prints(running, out, "show slot") && running->state() == QProcess::Running, qPrintable(out));
        }
        const bool waitedOn = first == "stopped, then killed" || first == "stopped, renamed over, then killed";
        const QString lock = inst.root.filePath("app/") + LockName, aFile = inst.root.filePath("a-file");
        QString renamed; // the file renamed over the lock, as its name held it
        for (int round = 0; first != "stopped" && round < (first == "killed" ? 5 : 1); ++round) {
            if (first == "killed")
                QCOMPARE(::kill(pid_t(running->processId()), SIGKILL), 0);
            if (waitedOn)
                QVERIFY(stopProcess(running));
            QProcess* next = inst.start(exe, {QStringLiteral("hello")});
            if (waitedOn) { // the stopped copy holds the lock: the start waits for it
                QVERIFY2(prints(next, out, "a running copy holds"), qPrintable(out));
                if (first == "stopped, renamed over, then killed") {
                    QVERIFY(QFile(aFile).open(QIODevice::WriteOnly));
                    QCOMPARE(::rename(QFile::encodeName(aFile).constData(), QFile::encodeName(lock).constData()), 0);
                    renamed = heldAt(lock);
                    // Past the time a start lets a file new at the name settle: it is taken as it stands.
                    QTest::qWait(1200);
                }
                QCOMPARE(::kill(pid_t(running->processId()), SIGKILL), 0);
            }
            out.clear();
            QVERIFY2(prints(next, out, Shown) && next->state() == QProcess::Running, qPrintable(out));
            QVERIFY2(!waitedOn || out.contains(QLatin1String("did not answer and has ended")), qPrintable(out));
            if (!renamed.isEmpty()) { // the file at the name is its lock: nothing to put back
                QCOMPARE(heldAt(lock), renamed);
                QTest::qWait(300); // a few of its keeper's looks
                out += QString::fromLocal8Bit(next->readAll());
                QVERIFY2(!out.contains(QLatin1String("put the lock back")) && heldAt(lock) == renamed, qPrintable(out));
            }
            if (first == "silent") { // a live listener is never taken over: it may be a copy that lost its lock
                QVERIFY2(out.contains(QLatin1String("a running process listens at ") + standIn.fullServerName()),
                         qPrintable(out));
                QVERIFY(standIn.isListening() && QFileInfo::exists(standIn.fullServerName()));
                return;
            }
            QVERIFY(!running || running->state() == QProcess::NotRunning || running->waitForFinished(timescale::ms(10000)));
            running = next;
        }
        QVERIFY2(secondCopyWakes(inst, exe, running, out), qPrintable(out));
#endif
    }

    void onlyTheExactArgumentStartsInTheBackground_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("mode");
        QTest::newRow("exact") << QStringList{"/background"} << "/background";
        QTest::newRow("among others") << QStringList{"x", "/background", "y"} << "/background";
        QTest::newRow("capital B, dash, trailing blank") << QStringList{"/Background", "-background", "/background "}
                                                          << "None";
    }
    void onlyTheExactArgumentStartsInTheBackground()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, mode);
        Installation inst;
        QString out;
        QVERIFY2(prints(inst.start(inst.install("app/tessark-sim"), args), out, Shown), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("start mode: \"%1\"").arg(mode)), qPrintable(out));
    }
    // Without XDG_RUNTIME_DIR the name is not put straight into the shared temporary folder, where anyone
    // could take it first, but into a folder of our own there (0700); the guard works as before.
    void withoutRuntimeDirTheSocketLivesInAPrivateFolder()
    {
        Installation inst;
        const QDir tmp(inst.root.filePath("tmp"));
        inst.env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        const QString exe = inst.install("app/tessark-sim");
        QString out;
        QProcess* first = inst.start(exe);
        QVERIFY2(prints(first, out, Shown), qPrintable(out));
        QVERIFY(tmp.entryList({QStringLiteral("tessark-sim*")}, QDir::System | QDir::Files).isEmpty());
        const QFileInfoList runtime = tmp.entryInfoList({QStringLiteral("runtime-*")}, QDir::Dirs);
        QCOMPARE(runtime.size(), 1);
        QVERIFY(!(runtime[0].permissions() & 0x77)); // nothing for group and others
        QVERIFY(QFileInfo::exists(inst.socketOf("app/tessark-sim", runtime[0].filePath())));
        QVERIFY2(secondCopyWakes(inst, exe, first, out), qPrintable(out));
    }

    void theSocketPathIsTakenOverOnlyWhenOurs_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::addColumn<QString>("log"); // on the line naming the path
        QTest::newRow("our file: replaced by the socket") << "our file" << "is ours but no socket";
        QTest::newRow("another user's file: left; the first copy runs unreached, a second start says it cannot be reached")
            << "their file" << "belongs to another user";
        QTest::newRow("another user's server: left, not taken for a running copy; the first runs, a second start "
                      "says it cannot be reached")
            << "their server" << "belongs to another user";
    }
    // Whatever holds the name, the tool says so in its log; it takes the name over only from itself. The
    // runtime folder is shared (1777), as XDG_RUNTIME_DIR may be, so that another user can listen there.
    // A first copy that cannot listen still holds its lock: no second copy runs beside it, and the start
    // says the first cannot be reached.
    void theSocketPathIsTakenOverOnlyWhenOurs()
    {
#ifdef Q_OS_LINUX
        QFETCH(QString, holder);
        QFETCH(QString, log);
        Installation inst;
        const QString exe = inst.install("app/tessark-sim"), shared = inst.root.filePath("shared"),
                      path = inst.socketOf("app/tessark-sim", shared);
        QVERIFY(QDir().mkpath(shared));
        QCOMPARE(::chmod(QFile::encodeName(inst.root.path()).constData(), 0711), 0);
        QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
        inst.env.insert(QStringLiteral("XDG_RUNTIME_DIR"), shared);
        ForeignPeer server;
        if (holder == "their server") {
            if (!server.start(path, true))
                QSKIP("running a process as another user needs root");
        } else {
            QFile squat(path);
            QVERIFY(squat.open(QIODevice::WriteOnly) && squat.write("squat") == 5);
            if (holder.startsWith(QLatin1String("their"))
                && (::geteuid() != 0 || ::fchown(squat.handle(), OtherUid, OtherUid) != 0))
                QSKIP("giving a file to another user needs root");
        }
        const QRegularExpression logged(QRegularExpression::escape(path) + ".*" + log);
        QString out, secondOut;
        QProcess* first = inst.start(exe);
        QVERIFY2(prints(first, out, Shown) && out.contains(logged), qPrintable(out));
        if (holder == "our file") {
            QVERIFY2(secondCopyWakes(inst, exe, first, out), qPrintable(out)); // through a socket at path
        } else { // left as it was
            QCOMPARE(QFileInfo(path).ownerId(), uint(OtherUid));
            QCOMPARE(QFileInfo(path).size(), holder == "their file" ? 5 : 0);
            QVERIFY2(startIsRefused(inst, exe, secondOut, NotReached), qPrintable(secondOut));
            QVERIFY2(holder == "their file"
                         || secondOut.contains(
                             QRegularExpression(QRegularExpression::escape(path) + ".*answered by another user")),
                     qPrintable(secondOut));
        }
        QCOMPARE(first->state(), QProcess::Running);
#endif
    }

    void whateverTheStartsEnvironmentTheFolderHasOneCopy_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("lock removed while the first copy runs: put back, a start wakes the first") << "removed";
        QTest::newRow("a file renamed over the lock: put back, a start wakes the first") << "renamed over";
        QTest::newRow("lock removed and a start at once, five times with no pause, the first copy held back until "
                      "the start's own file stands: put back over it, each start wakes the first")
            << "removed, a start at once";
        QTest::newRow("a start without XDG_RUNTIME_DIR: the first cannot be reached, said") << "no runtime folder";
        QTest::newRow("a start with another runtime folder: the first cannot be reached, said") << "other runtime folder";
        QTest::newRow("a start with a runtime folder it cannot write: the first cannot be reached, said")
            << "unwritable runtime folder";
        QTest::newRow("the first copy's socket removed: it cannot be reached, said") << "socket removed";
        QTest::newRow("the first copy could make no socket: it cannot be reached, said") << "no socket made";
    }
    // Whether a copy lives for an application folder is told by the lock in that folder, whatever the
    // start's runtime folder and whatever happened to the lock's file: a start either wakes the copy that
    // runs, or says why it cannot, touches no file of the folder and ends. Never do two copies run.
    void whateverTheStartsEnvironmentTheFolderHasOneCopy()
    {
#ifdef Q_OS_LINUX
        QFETCH(QString, change);
        Installation inst;
        const QString exe = inst.install("app/tessark-sim"), lock = inst.root.filePath("app/") + LockName,
                      socket = inst.socketOf("app/tessark-sim"), aFile = inst.root.filePath("runtime-file");
        QVERIFY(QFile(aFile).open(QIODevice::WriteOnly));
        if (change == "no socket made") // no folder to listen in, whoever runs it
            inst.env.insert(QStringLiteral("XDG_RUNTIME_DIR"), aFile);
        QString out, secondOut;
        QProcess* first = inst.start(exe);
        QVERIFY2(prints(first, out, Shown), qPrintable(out));
        const QString held = heldAt(lock);
        if (change.startsWith(QLatin1String("removed, a start at once"))) {
            // Held back, the copy finds the start's file at the name, new and held while the start lets it
            // settle: it puts its own over it. (Not held back, it always puts its own back first.)
            QString all;
            for (int round = 0; round < 5; ++round) {
                QVERIFY(stopProcess(first));
                QVERIFY(QFile::remove(lock));
                QProcess* second = inst.start(exe, {QStringLiteral("hello")});
                QVERIFY(QTest::qWaitFor([&] { return !heldAt(lock).isEmpty(); }, StartMs));
                QCOMPARE(::kill(pid_t(first->processId()), SIGCONT), 0);
                out.clear();
                QVERIFY2(secondCopyWakes(inst, exe, first, out, second),
                         qPrintable(QStringLiteral("round %1\n").arg(round) + out));
                all += out;
            }
            QVERIFY2(!heldAt(lock).isEmpty() && !all.contains(QLatin1String("both run"))
                         && all.count(QLatin1String("put the lock back at ")) == 5,
                     qPrintable(all));
            return;
        }
        if (change == "removed" || change == "renamed over") {
            QVERIFY(!held.isEmpty());
            const QString replaced = change == "removed" ? held : heldAt(aFile);
            if (change == "removed")
                QVERIFY(QFile::remove(lock));
            else
                QCOMPARE(::rename(QFile::encodeName(aFile).constData(), QFile::encodeName(lock).constData()), 0);
            // Until the copy has put its lock back: a start then finds it held. Where none is put back, the
            // start below shows what a user would meet.
            (void)QTest::qWaitFor(
                [&] {
                    const QString now = heldAt(lock);
                    return !now.isEmpty() && now != replaced && now != held;
                },
                timescale::ms(10000));
            QVERIFY2(secondCopyWakes(inst, exe, first, out), qPrintable(out));
            QVERIFY2(out.contains(QLatin1String("put the lock back at ") + lock), qPrintable(out));
            return;
        }
        if (change == "socket removed")
            QVERIFY(QFile::remove(socket));
        else if (change == "no runtime folder")
            inst.env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        else if (change == "other runtime folder" || change == "unwritable runtime folder") {
            const QString other = inst.root.filePath("other");
            QVERIFY(QDir().mkpath(other));
            QVERIFY(change != "unwritable runtime folder" || QFile::setPermissions(other, QFile::ReadOwner | QFile::ExeOwner));
            inst.env.insert(QStringLiteral("XDG_RUNTIME_DIR"), other);
        }
        // Stopped, as when busy: it writes nothing meanwhile, so what the start wrote would show.
        QVERIFY(stopProcess(first));
        const QStringList before = filesBelow(inst.root.filePath("app"));
        QVERIFY2(startIsRefused(inst, exe, secondOut, NotReached), qPrintable(secondOut));
        QCOMPARE(filesBelow(inst.root.filePath("app")), before);
        QVERIFY(!held.isEmpty() && heldAt(lock) == held);
        QCOMPARE(::kill(pid_t(first->processId()), SIGCONT), 0);
        QTest::qWait(100);
        QCOMPARE(first->state(), QProcess::Running);
#endif
    }

    void aFolderRenamedUnderACopyKeepsItsOneCopy_data()
    {
        QTest::addColumn<QString>("then"); // what happens in and around the folder once it is renamed
        QTest::newRow("renamed, a folder made at the old path: no lock is put there") << "folder at the old path";
        QTest::newRow("renamed, its lock removed: put back in the renamed folder; Exit makes nothing at the old path")
            << "lock removed";
    }
    // The application folder renamed while its copy runs: the copy's lock stays in its own folder wherever
    // that stands, so a start from the new path wakes it; it makes nothing at the old path, up to its Exit.
    void aFolderRenamedUnderACopyKeepsItsOneCopy()
    {
#ifdef Q_OS_LINUX
        QFETCH(QString, then);
        Installation inst;
        const QString exe = inst.install("app/tessark-sim"), old = inst.root.filePath("app");
        const QString moved = inst.root.filePath("moved"), movedExe = moved + "/tessark-sim", lock = moved + '/' + LockName;
        QString out;
        QProcess* running = inst.start(exe);
        QVERIFY2(prints(running, out, Shown), qPrintable(out));
        QVERIFY(QDir().rename(old, moved));
        QVERIFY(then != "folder at the old path" || QDir().mkdir(old));
        const QString held = heldAt(lock);
        QVERIFY(then != "lock removed" || QFile::remove(lock));
        QTest::qWait(300); // a few of its keeper's looks
        out.clear();
        QVERIFY2(secondCopyWakes(inst, movedExe, running, out), qPrintable(out));
        QVERIFY2(then == "lock removed" ? out.contains(QLatin1String("put the lock back at ") + lock) : heldAt(lock) == held,
                 qPrintable(out));
        QCOMPARE(::kill(pid_t(running->processId()), SIGTERM), 0); // as its Exit
        QVERIFY(running->waitForFinished(StartMs));
        out += QString::fromLocal8Bit(running->readAll());
        if (then == "folder at the old path")
            QVERIFY2(filesBelow(old).isEmpty(), qPrintable(filesBelow(old).join('\n') + '\n' + out));
        else
            QVERIFY2(!QFileInfo::exists(old), qPrintable(filesBelow(old).join('\n') + '\n' + out));
#endif
    }

    void anUnusableLockKeepsEveryStartFromRunningBesideACopy_data()
    {
        QTest::addColumn<QString>("at");    // what stands at the lock's name
        QTest::addColumn<QString>("first"); // the first copy: "none", "running", "stopped" or "ends during the ask"
        QTest::newRow("a link: neither it nor what it names is touched; said") << "link" << "none";
        QTest::newRow("a pipe: left, and the start is not held; said") << "pipe" << "none";
        QTest::newRow("a folder: left; said") << "folder" << "none";
        QTest::newRow("another user's file: left; said") << "their file" << "none";
        QTest::newRow("a folder the start cannot write: nothing made; said") << "unwritable folder" << "none";
        QTest::newRow("a link put there while the first copy runs: the start wakes it") << "link" << "running";
        QTest::newRow("a link put there while the first copy is stopped: said") << "link" << "stopped";
        QTest::newRow("a link put there, the first copy ends during the ask: said") << "link" << "ends during the ask";
        QTest::newRow("another user's file renamed over the lock while the first copy runs: left, said once; the "
                      "start wakes it")
            << "their file" << "running";
        QTest::newRow("a link put there while a start waits on a copy it cannot reach: said at once")
            << "link" << "unreachable, while the start waits";
    }
    // A lock that cannot be had cannot tell whether a copy lives: a start wakes a copy that answers, and
    // otherwise says so and ends, touching no file, rather than run beside a copy that may live. What
    // stands at the lock's name is left alone, and so is what a link there names.
    void anUnusableLockKeepsEveryStartFromRunningBesideACopy()
    {
#ifdef Q_OS_LINUX
        QFETCH(QString, at);
        QFETCH(QString, first);
        Installation inst;
        const QString exe = inst.install("app/tessark-sim"), app = inst.root.filePath("app"),
                      lock = app + QLatin1Char('/') + LockName, linked = inst.root.filePath("linked");
        QString out, startOut;
        QProcess* running = nullptr;
        // Restores what a row takes away, also when it fails: the folder must be removed at the end.
        struct Writable {
            QString folder;
            ~Writable() { QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); }
        } const writable{app};
        if (first != "none") {
            running = inst.start(exe);
            QVERIFY2(prints(running, out, Shown), qPrintable(out));
            QVERIFY(first == "running" || stopProcess(running));
        }
        // In one step over the copy's file: the name never stands empty.
        const auto putLink = [&] {
            return QFile::link(linked, lock + QStringLiteral(".new"))
                   && ::rename(QFile::encodeName(lock + QStringLiteral(".new")).constData(),
                               QFile::encodeName(lock).constData())
                          == 0;
        };
        if (first == "unreachable, while the start waits") {
            // No socket: the start tries the copy, and the lock, again and again until it gives up.
            QVERIFY(QFile::remove(inst.socketOf("app/tessark-sim")));
            QProcess* start = inst.start(exe, {QStringLiteral("hello")});
            QVERIFY2(prints(start, startOut, "a running copy holds"), qPrintable(startOut));
            QElapsedTimer since;
            since.start();
            QVERIFY(putLink());
            const QString held = heldAt(lock);
            const QStringList before = filesBelow(app);
            // Said on its next look at the lock, not once its wait for the copy (5 s by the clock) is over:
            // well within that wait, however slow the build.
            constexpr int StartsWaitMs = 5000;
            QVERIFY2(prints(start, startOut, CannotTell) && start->state() == QProcess::Running, qPrintable(startOut));
            QVERIFY2(since.elapsed() < qMin(timescale::ms(StartsWaitMs / 2), StartsWaitMs * 9 / 10),
                     qPrintable(QStringLiteral("said after %1 ms").arg(since.elapsed())));
            QVERIFY(::kill(pid_t(start->processId()), SIGTERM) == 0 && start->waitForFinished(StartMs));
            startOut += QString::fromLocal8Bit(start->readAll());
            QVERIFY2(startOut.contains(QLatin1String("a box was open, answered as cancelled"))
                         && !startOut.contains(QLatin1String("start mode")) && !startOut.contains(QLatin1String(NotReached))
                         && startOut.contains(lock),
                     qPrintable(startOut));
            QCOMPARE(filesBelow(app), before);
            QCOMPARE(::kill(pid_t(running->processId()), SIGCONT), 0);
            QTest::qWait(300); // time for the copy to find the link, which it leaves
            QVERIFY(heldAt(lock) == held && !QFileInfo::exists(linked) && running->state() == QProcess::Running);
            return;
        }
        if (at == "link") {
            QVERIFY(putLink());
        } else if (at == "pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(lock).constData(), 0600), 0);
        } else if (at == "folder") {
            QVERIFY(QDir().mkpath(lock));
        } else if (at == "their file") { // renamed over a running copy's file, which is left as it was
            const QString made = first == "none" ? lock : lock + QStringLiteral(".new");
            QFile squat(made);
            QVERIFY(squat.open(QIODevice::WriteOnly) && squat.write("squat") == 5);
            if (::geteuid() != 0 || ::fchown(squat.handle(), OtherUid, OtherUid) != 0)
                QSKIP("giving a file to another user needs root");
            squat.close();
            QVERIFY(made == lock
                    || ::rename(QFile::encodeName(made).constData(), QFile::encodeName(lock).constData()) == 0);
        } else if (at == "unwritable folder") {
            if (::geteuid() == 0)
                QSKIP("root writes in any folder");
            QVERIFY(QFile::setPermissions(app, QFile::ReadOwner | QFile::ExeOwner));
        }
        const QString held = heldAt(lock);
        if (first == "running") {
            QTest::qWait(1000); // time for the copy to find what stands there, which it leaves, many times over
            QVERIFY2(secondCopyWakes(inst, exe, running, out), qPrintable(out));
            out += QString::fromLocal8Bit(running->readAll());
            QVERIFY2(out.count(lock + QLatin1String(" no longer holds this copy's lock and is left as it is")) == 1,
                     qPrintable(out));
        } else {
            const QStringList before = filesBelow(app);
            if (first == "ends during the ask") { // stopped: the start asks it, and it is killed meanwhile
                QProcess* start = inst.start(exe, {QStringLiteral("hello")});
                QVERIFY2(prints(start, startOut, "cannot lock"), qPrintable(startOut));
                QCOMPARE(::kill(pid_t(running->processId()), SIGKILL), 0);
                QVERIFY2(prints(start, startOut, CannotTell) && start->state() == QProcess::Running,
                         qPrintable(startOut));
                QVERIFY(::kill(pid_t(start->processId()), SIGTERM) == 0 && start->waitForFinished(StartMs));
                startOut += QString::fromLocal8Bit(start->readAll());
                QVERIFY2(startOut.contains(QLatin1String("a box was open, answered as cancelled"))
                             && !startOut.contains(QLatin1String("start mode")),
                         qPrintable(startOut));
            } else {
                QVERIFY2(startIsRefused(inst, exe, startOut, CannotTell), qPrintable(startOut));
            }
            QVERIFY2(startOut.contains(lock), qPrintable(startOut));
            QCOMPARE(filesBelow(app), before);
        }
        QCOMPARE(heldAt(lock), held);
        QVERIFY(!QFileInfo::exists(linked));
        QVERIFY(at != "their file" || QFileInfo(lock).size() == 5);
        if (first == "stopped") {
            QCOMPARE(::kill(pid_t(running->processId()), SIGCONT), 0);
            QVERIFY2(prints(running, out, "show slot") && running->state() == QProcess::Running, qPrintable(out));
        }
#endif
    }

    // Under a file-size limit a write past it fails, as on a full disk: the tool's log stops at the limit
    // and the tool runs on, where the signal such a write raises would have ended it.
    void writePastTheFileSizeLimitFailsAndTheToolRunsOn()
    {
#ifdef Q_OS_LINUX
        constexpr qint64 Limit = 2048; // far less than a start logs
        Installation inst;
        QString out;
        QProcess* tool = inst.start(inst.install("app/tessark-sim"), {}, Limit);
        const auto ended = [tool, &out] {
            return QStringLiteral("state %1, exit status %2, code %3; printed last: %4")
                .arg(tool->state())
                .arg(tool->exitStatus())
                .arg(tool->exitCode())
                .arg(out.right(300));
        };
        QVERIFY2(prints(tool, out, Shown), qPrintable(ended()));
        const QDir logs(inst.root.filePath("app/log"));
        const auto logged = [&logs] {
            qint64 bytes = 0;
            for (const QFileInfo& file : logs.entryInfoList({QStringLiteral("*.txt")}, QDir::Files))
                bytes += file.size();
            return bytes;
        };
        QVERIFY2(QTest::qWaitFor([&] { return logged() == Limit; }, StartMs), qPrintable(ended()));
        QTest::qWait(2500); // the log is written out every second: each time past the limit
        QVERIFY2(tool->state() == QProcess::Running, qPrintable(ended()));
        QCOMPARE(logged(), Limit);
#endif
    }

    // A connection's end tells whether the other runs as the same user (our own user: see the copies above).
    void peerCredentialsTellOurUserFromAnother()
    {
#ifdef Q_OS_LINUX
        QVERIFY(!peerIsSameUser(-1)); // no answer is no proof
        TempDir dir;
        QLocalServer server;
        server.setSocketOptions(QLocalServer::WorldAccessOption);
        QVERIFY2(server.listen(dir.filePath("peer")), qPrintable(server.errorString()));
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0711), 0);
        ForeignPeer other;
        if (!other.start(server.fullServerName(), false))
            QSKIP("running a process as another user needs root");
        QVERIFY(server.waitForNewConnection(timescale::ms(10000)));
        const std::unique_ptr<QLocalSocket> theirs(server.nextPendingConnection());
        QVERIFY(!peerIsSameUser(theirs->socketDescriptor()));
#endif
    }
};

QTEST_GUILESS_MAIN(SingleInstance)
#include "test_singleinstance.moc"
