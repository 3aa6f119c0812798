#include "singleapplication.h"

#include "main/tessark.h"
#include "platform/localservername.h"
#include "widget/messagebox.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTextStream>
#include <QThread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
constexpr int ConnectWaitMs = 500;
constexpr int ReadWaitMs = 1000;
// How long a new copy waits for the running one to say it took the message: well past ReadWaitMs, which
// the running copy may spend on the message before it answers.
constexpr int AnswerWaitMs = 5000;
// Between two tries at a copy that holds the lock but cannot be reached: it may be about to listen.
constexpr int RetryPauseMs = 100;
// Ends the message: no argument holds a NUL.
constexpr char EndMark = '\0';
// What the running copy answers once it has the whole message.
const QByteArray Answer = QByteArrayLiteral("taken");

// Whether the running copy answered before the deadline. It does not when it is busy or stopped, nor when
// it ends meanwhile (its end closes our connection).
bool answered(QLocalSocket& socket, const QDeadlineTimer& deadline)
{
    while (socket.bytesAvailable() < Answer.size()) {
        if (!socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    return socket.read(Answer.size()) == Answer;
}

QString lockPathFor(const QString& serverPath, const QString& serverName)
{
#ifdef Q_OS_WIN
    Q_UNUSED(serverPath)
    const QString temp = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    return temp.isEmpty() ? QString() : QDir(temp).filePath(serverName + QStringLiteral(".lock"));
#else
    Q_UNUSED(serverName)
    return serverPath.isEmpty() ? QString() : serverPath + QStringLiteral(".lock");
#endif
}
} // namespace

SingleApplication::SingleApplication(int& argc, char** argv)
    : QApplication(argc, argv), m_serverName(QFileInfo(QCoreApplication::applicationFilePath()).fileName()),
      m_serverPath(userLocalServerName(m_serverName)), m_lockPath(lockPathFor(m_serverPath, m_serverName))
{
    initLocalConnection();
}

void SingleApplication::initLocalConnection()
{
    m_running = false;
    m_notAnswering = false;
    if (m_serverPath.isEmpty()) {
        m_guardWarnings << QStringLiteral("Single instance: no private runtime folder for the socket of %1; "
                                          "running without the single-instance guard")
                               .arg(m_serverName);
        return;
    }
    switch (takeInstanceLock()) {
    case Lock::Taken: // no other copy lives: whatever is at the socket's name was left by one that ended
        newLocalServer();
        return;
    case Lock::Unusable: { // only an answer can tell a running copy, as without the lock
        const Asked asked = askRunningCopy(QDeadlineTimer(AnswerWaitMs));
        if (asked == Asked::Taken) {
            m_running = true;
            return;
        }
        if (asked == Asked::Silent)
            m_guardWarnings << QStringLiteral("Single instance: %1 took the connection but did not answer; "
                                              "taken for a stale name and replaced")
                                   .arg(m_serverPath);
        newLocalServer();
        return;
    }
    case Lock::HeldElsewhere:
        break;
    }
    // A copy lives for as long as it holds the lock, answering or not: this one never runs beside it.
    qDebug().noquote() << "Single instance: a running copy holds" << m_lockPath << "- asking it to show itself";
    const QDeadlineTimer deadline(AnswerWaitMs);
    for (;;) {
        if (askRunningCopy(deadline) == Asked::Taken) {
            m_running = true;
            return;
        }
        if (takeInstanceLock() == Lock::Taken) {
            m_guardWarnings << QStringLiteral("Single instance: the copy at %1 did not answer and has ended; "
                                              "running in its place")
                                   .arg(m_serverPath);
            newLocalServer();
            return;
        }
        if (deadline.hasExpired()) {
            m_notAnswering = true;
            return;
        }
        QThread::msleep(ulong(qMin<qint64>(RetryPauseMs, deadline.remainingTime())));
    }
}

SingleApplication::Lock SingleApplication::takeInstanceLock()
{
    if (m_lockPath.isEmpty())
        return Lock::Unusable;
    const auto unusable = [this](const QString& why) {
        const QString warning = QStringLiteral("Single instance: cannot lock %1 (%2); a running copy is known "
                                               "only by its answer")
                                    .arg(m_lockPath, why);
        if (!m_guardWarnings.contains(warning)) // once, however often the start asks again
            m_guardWarnings << warning;
        return Lock::Unusable;
    };
#ifdef Q_OS_WIN
    if (m_lockHandle == -1) {
        // Not inherited by the programs the tool starts: the lock ends with this process alone.
        const QString native = QDir::toNativeSeparators(m_lockPath);
        const HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t*>(native.utf16()), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return unusable(QStringLiteral("error %1").arg(::GetLastError()));
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            ::CloseHandle(file);
            return unusable(QStringLiteral("not a regular file"));
        }
        m_lockHandle = reinterpret_cast<qintptr>(file);
    }
    OVERLAPPED whole{};
    if (::LockFileEx(reinterpret_cast<HANDLE>(m_lockHandle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                     1, 0, &whole))
        return Lock::Taken;
    const DWORD error = ::GetLastError();
    return error == ERROR_LOCK_VIOLATION ? Lock::HeldElsewhere : unusable(QStringLiteral("error %1").arg(error));
#else
    if (m_lockHandle < 0) {
        // Opened once and only locked: never written, never removed, so no later step acts on the path. No
        // link is followed; a pipe at the name does not hold the open; the programs the tool starts do not
        // inherit it.
        const int fd = ::open(QFile::encodeName(m_lockPath).constData(),
                              O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
        if (fd < 0)
            return unusable(errno == ELOOP ? QStringLiteral("a link") : QString::fromLocal8Bit(std::strerror(errno)));
        struct stat info {};
        // Another user's file would let that user hold the lock for us.
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
            ::close(fd);
            return unusable(QStringLiteral("not a regular file of our own"));
        }
        m_lockHandle = fd;
    }
    int locked;
    do
        locked = ::flock(int(m_lockHandle), LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked == 0)
        return Lock::Taken;
    return errno == EWOULDBLOCK ? Lock::HeldElsewhere : unusable(QString::fromLocal8Bit(std::strerror(errno)));
#endif
}

SingleApplication::Asked SingleApplication::askRunningCopy(const QDeadlineTimer& deadline)
{
    QLocalSocket socket;
    socket.connectToServer(m_serverPath, QIODevice::ReadWrite);
    if (!socket.waitForConnected(int(qMin<qint64>(ConnectWaitMs, deadline.remainingTime()))))
        return Asked::NotReached;
    if (!peerIsSameUser(socket.socketDescriptor())) {
        // Another user's process must neither stop us nor hear from us.
        socket.abort();
        if (!m_toldOtherUser)
            m_guardWarnings << QStringLiteral("Single instance: %1 is answered by another user's process; "
                                              "not taken for a running copy")
                                   .arg(m_serverPath);
        m_toldOtherUser = true;
        return Asked::NotReached;
    }
    QTextStream stream(&socket);
    const QStringList args = QCoreApplication::arguments();
    // Only the arrival matters to the first copy; it reads the text only up to the end mark.
    stream << (args.size() < 2 ? QString() : args.last());
    stream.flush();
    socket.write(&EndMark, 1);
    socket.waitForBytesWritten(int(deadline.remainingTime()));
    if (answered(socket, deadline))
        return Asked::Taken;
    // What reached the socket stays there: a copy that was only busy shows itself once it is free.
    const bool ended = socket.state() != QLocalSocket::ConnectedState;
    socket.abort();
    return ended ? Asked::NotReached : Asked::Silent;
}

void SingleApplication::tellRunningCopyDoesNotAnswer()
{
    const QString text = QCoreApplication::translate(
        "SingleApplication", "Tessark is already running but does not answer. It may be busy with a keyboard: "
                             "wait until it is done, or end it, and then start Tessark again.");
    qWarning().noquote() << text;
    messagebox::warning(nullptr, QCoreApplication::translate("Tessark", "Tessark"), text);
}

void SingleApplication::newLocalServer()
{
    m_server = new QLocalServer(this);
    connect(m_server, SIGNAL(newConnection()), this, SLOT(newLocalConnection()));
    // Only this user may connect: another user's copy must neither wake nor block ours.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // With that option Qt renames its new socket into place, over whatever holds the name: look first.
    switch (localNameOccupant(m_serverPath)) {
    case LocalNameOccupant::OtherUser:
        m_guardWarnings << QStringLiteral("Single instance: %1 belongs to another user; "
                                          "running without the single-instance guard")
                               .arg(m_serverPath);
        return;
    case LocalNameOccupant::OwnOtherFile:
        m_guardWarnings << QStringLiteral("Single instance: %1 is ours but no socket; replacing it").arg(m_serverPath);
        break;
    case LocalNameOccupant::OwnSocket: // a copy that crashed left its socket behind: take it over
    case LocalNameOccupant::Nothing:
        break;
    }
    if (!m_server->listen(m_serverPath) && m_server->serverError() == QAbstractSocket::AddressInUseError) {
        QLocalServer::removeServer(m_serverPath);
        m_server->listen(m_serverPath);
    }
    if (!m_server->isListening())
        m_guardWarnings << QStringLiteral("Single instance: cannot listen on %1 (%2); "
                                          "running without the single-instance guard")
                               .arg(m_serverPath, m_server->errorString());
}

void SingleApplication::newLocalConnection()
{
    QLocalSocket* connection = m_server->nextPendingConnection();
    if (!connection)
        return;
    // The socket's permissions keep other users out, but not root: only our own user wakes the window.
    if (!peerIsSameUser(connection->socketDescriptor())) {
        delete connection;
        qWarning() << "Single instance: refused a connection from another user on" << m_serverPath;
        return;
    }
    // The answer tells the new copy that a running one took its message, so that it may end.
    const QDeadlineTimer deadline(ReadWaitMs);
    bool whole = connection->readAll().contains(EndMark);
    while (!whole && connection->waitForReadyRead(int(deadline.remainingTime())))
        whole = connection->readAll().contains(EndMark);
    if (whole) {
        connection->write(Answer);
        connection->waitForBytesWritten(ReadWaitMs);
        connection->disconnectFromServer();
    }
    delete connection;
    if (m_mainWindow)
        m_mainWindow->mainShow();
}
