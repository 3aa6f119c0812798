// One copy per executable and user, checked with the real executable started as separate processes.
#include "platform/localservername.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QtTest>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

static constexpr int StartMs = 60000; // generous: the sanitizer build starts slowly
static const char* const Shown = "main window shown";

// Copies of the built executable, each in a folder of its own (its app dir: log/ and config/ land there).
// The private root folder (0700) is also their runtime and config folder: no copy outside the test answers them.
struct Installation {
    QTemporaryDir root;
    std::vector<std::unique_ptr<QProcess>> processes;
    QProcessEnvironment env = environment(root.path());

    static QProcessEnvironment environment(const QString& root)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), root);
        return env;
    }

    ~Installation()
    {
        for (auto& p : processes) {
            p->kill();
            p->waitForFinished(10000);
        }
    }
    // Copies the executable to "folder/file name"; returns its path.
    QString install(const char* folderAndName)
    {
        const QString exe = root.filePath(folderAndName);
        QDir().mkpath(QFileInfo(exe).path());
        return QFile::copy(QStringLiteral(TESSARK_BIN_DIR "/tessark-sim"), exe) ? exe : QString();
    }
    QProcess* start(const QString& exe, const QStringList& args = {})
    {
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

// Whether one line of the output holds both texts (a log line naming a path and what was found there).
static bool logsLine(const QString& out, const QString& a, const char* b)
{
    const QStringList lines = out.split(QLatin1Char('\n'));
    return std::any_of(lines.begin(), lines.end(),
                       [&](const QString& line) { return line.contains(a) && line.contains(QLatin1String(b)); });
}

// Starts a copy that must end at once with 0 (another copy runs); false, with its output in out, if not.
static bool exitsAsSecondCopy(Installation& inst, const QString& exe, QString& out)
{
    QProcess* p = inst.start(exe);
    const bool ended = p->waitForFinished(StartMs);
    out = QString::fromLocal8Bit(p->readAll());
    return ended && p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0
           && !out.contains(QLatin1String(Shown));
}

static bool isSocket(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISSOCK(info.st_mode);
#else
    return QFileInfo::exists(path);
#endif
}

#ifdef Q_OS_LINUX
static constexpr uid_t OtherUid = 65534; // nobody

// A process of another user that holds one end of a local socket at a path until it is dropped: it either
// listens there or connects there. Changing the user needs root: start() fails without it.
class ForeignPeer {
public:
    enum Role { Listen, Connect };
    bool start(const QString& path, Role role)
    {
        const QByteArray name = QFile::encodeName(path);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (::geteuid() != 0 || size_t(name.size()) >= sizeof address.sun_path)
            return false;
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(m_hold, O_CLOEXEC) != 0)
            return false;
        m_pid = ::fork();
        if (m_pid == 0) {
            // The child uses system calls only: the parent's threads do not exist here.
            ::close(ready[0]);
            ::close(m_hold[1]);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::setgroups(0, nullptr) != 0 || ::setgid(OtherUid) != 0 || ::setuid(OtherUid) != 0 || fd < 0)
                ::_exit(2);
            const auto* a = reinterpret_cast<const sockaddr*>(&address);
            const bool held = role == Listen ? ::bind(fd, a, sizeof address) == 0 && ::listen(fd, 8) == 0
                                             : ::connect(fd, a, sizeof address) == 0;
            if (!held)
                ::_exit(3);
            char c = 1;
            if (::write(ready[1], &c, 1) != 1)
                ::_exit(4);
            ::read(m_hold[0], &c, 1); // until the test drops the peer (or ends)
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(m_hold[0]);
        char c = 0;
        const bool held = m_pid > 0 && ::read(ready[0], &c, 1) == 1;
        ::close(ready[0]);
        return held;
    }
    ~ForeignPeer()
    {
        if (m_hold[1] >= 0)
            ::close(m_hold[1]);
        if (m_pid > 0)
            ::waitpid(m_pid, nullptr, 0);
    }

private:
    pid_t m_pid = -1;
    int m_hold[2] = {-1, -1};
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
            QVERIFY(killed->waitForFinished(10000));
            QVERIFY(QFile::exists(inst.root.filePath("tessark-sim")));
            out.clear();
        }
        QProcess* first = inst.start(exe);
        QVERIFY2(prints(first, out, Shown), qPrintable(out));
        QProcess* other = inst.start(inst.install("b/tessark-other"));
        QVERIFY2(prints(other, otherOut, Shown), qPrintable(otherOut));
        QVERIFY(QFile::exists(inst.root.filePath("tessark-other")) && other->state() == QProcess::Running);
        QVERIFY2(!prints(first, out, "show slot", 1000), qPrintable(out));

        QProcess* second = inst.start(exe, {QStringLiteral("hello")});
        QVERIFY(second->waitForFinished(StartMs));
        const QString secondOut = QString::fromLocal8Bit(second->readAll());
        QVERIFY(second->exitStatus() == QProcess::NormalExit && second->exitCode() == 0);
        // It stopped before the start mode and the window: not even its program path was logged.
        QVERIFY2(!secondOut.contains(exe) && !secondOut.contains(QLatin1String("start mode")), qPrintable(secondOut));
        QVERIFY2(prints(first, out, "show slot", 10000), qPrintable(out));
        QCOMPARE(first->state(), QProcess::Running);
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
        const QString tmp = inst.root.filePath("tmp");
        QVERIFY(QDir().mkpath(tmp));
        inst.env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        inst.env.insert(QStringLiteral("TMPDIR"), tmp);
        const QString exe = inst.install("app/tessark-sim");
        QString out;
        QProcess* first = inst.start(exe);
        QVERIFY2(prints(first, out, Shown), qPrintable(out));

        QVERIFY2(QDir(tmp).entryList({QStringLiteral("tessark-sim*")}, QDir::System | QDir::Files).isEmpty(),
                 qPrintable(QDir(tmp).entryList(QDir::AllEntries | QDir::System).join(' ')));
        const QFileInfoList runtime = QDir(tmp).entryInfoList({QStringLiteral("runtime-*")}, QDir::Dirs);
        QCOMPARE(runtime.size(), 1);
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                                          | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(runtime[0].permissions() & others, QFile::Permissions());
        QVERIFY(isSocket(QDir(runtime[0].filePath()).filePath("tessark-sim")));

        QString secondOut;
        QVERIFY2(exitsAsSecondCopy(inst, exe, secondOut), qPrintable(secondOut));
        QVERIFY2(prints(first, out, "show slot", 10000), qPrintable(out));
        QCOMPARE(first->state(), QProcess::Running);
    }

    void aFileOnTheSocketPathIsReplacedOnlyWhenOurs_data()
    {
        QTest::addColumn<bool>("ours");
        QTest::newRow("ours: replaced by the socket") << true;
        QTest::newRow("another user's: left, both copies run and say why") << false;
    }
    // Whatever holds the name, the tool says so in its log; it takes the name over only from itself.
    void aFileOnTheSocketPathIsReplacedOnlyWhenOurs()
    {
        QFETCH(bool, ours);
        Installation inst;
        const QString exe = inst.install("app/tessark-sim");
        const QString path = inst.root.filePath("tessark-sim");
        {
            QFile squat(path);
            QVERIFY(squat.open(QIODevice::WriteOnly) && squat.write("squat") == 5);
        }
        if (!ours) {
#ifdef Q_OS_LINUX
            if (::geteuid() != 0)
                QSKIP("giving a file to another user needs root");
            QCOMPARE(::chown(QFile::encodeName(path).constData(), OtherUid, OtherUid), 0);
#else
            QSKIP("file owners are checked on Unix only");
#endif
        }
        QString out;
        QProcess* first = inst.start(exe);
        QVERIFY2(prints(first, out, Shown), qPrintable(out));
        if (ours) {
            QVERIFY2(logsLine(out, path, "no socket"), qPrintable(out));
            QVERIFY(isSocket(path));
            QString secondOut;
            QVERIFY2(exitsAsSecondCopy(inst, exe, secondOut), qPrintable(secondOut));
            QVERIFY2(prints(first, out, "show slot", 10000), qPrintable(out));
        } else {
            QVERIFY2(logsLine(out, path, "another user"), qPrintable(out));
            QVERIFY(QFileInfo(path).isFile() && QFileInfo(path).size() == 5);
            QString secondOut;
            QProcess* second = inst.start(exe);
            QVERIFY2(prints(second, secondOut, Shown), qPrintable(secondOut));
            QVERIFY2(logsLine(secondOut, path, "another user"), qPrintable(secondOut));
        }
        QCOMPARE(first->state(), QProcess::Running);
    }

    // Another user listening on the name first (possible where XDG_RUNTIME_DIR is a shared folder) must not
    // pass for a running copy: the tool starts, unguarded, says why and leaves the other's socket alone.
    void anotherUsersServerOnTheNameDoesNotStopTheTool()
    {
#ifdef Q_OS_LINUX
        Installation inst;
        const QString shared = inst.root.filePath("shared");
        QVERIFY(QDir().mkpath(shared));
        QCOMPARE(::chmod(QFile::encodeName(inst.root.path()).constData(), 0711), 0);
        QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
        inst.env.insert(QStringLiteral("XDG_RUNTIME_DIR"), shared);
        const QString path = QDir(shared).filePath("tessark-sim");
        ForeignPeer squatter;
        if (!squatter.start(path, ForeignPeer::Listen))
            QSKIP("running a process as another user needs root");

        QString out;
        QProcess* p = inst.start(inst.install("app/tessark-sim"));
        QVERIFY2(prints(p, out, Shown), qPrintable(out));
        QVERIFY2(logsLine(out, path, "another user"), qPrintable(out));
        QVERIFY(isSocket(path) && QFileInfo(path).ownerId() == OtherUid);
#else
        QSKIP("peer credentials are checked on Linux only");
#endif
    }

    // Both ends of a connection can tell whether the other runs as the same user.
    void peerCredentialsTellOurUserFromAnother()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("peer");
        QLocalServer server;
        server.setSocketOptions(QLocalServer::WorldAccessOption);
        QVERIFY2(server.listen(path), qPrintable(server.errorString()));
        QLocalSocket client;
        client.connectToServer(path);
        QVERIFY(client.waitForConnected(5000) && server.waitForNewConnection(5000));
        const std::unique_ptr<QLocalSocket> ours(server.nextPendingConnection());
        QVERIFY(peerIsSameUser(ours->socketDescriptor()));
        QVERIFY(peerIsSameUser(client.socketDescriptor()));
#ifdef Q_OS_LINUX
        QVERIFY(!peerIsSameUser(-1)); // no answer is no proof

        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0711), 0);
        ForeignPeer other;
        if (!other.start(path, ForeignPeer::Connect))
            QSKIP("running a process as another user needs root (and a temporary folder it can reach)");
        QVERIFY(server.waitForNewConnection(5000));
        const std::unique_ptr<QLocalSocket> theirs(server.nextPendingConnection());
        QVERIFY(!peerIsSameUser(theirs->socketDescriptor()));
#endif
    }
};

QTEST_GUILESS_MAIN(SingleInstance)
#include "test_singleinstance.moc"
