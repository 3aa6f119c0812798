#include "singleapplication.h"

#include "main/tessark.h"
#include "platform/instancelock.h"
#include "platform/localservername.h"
#include "widget/qss.h"
#include "widget/messagebox.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>
#include <QThread>

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

// Whether a process listens at the name: only a refused connection, or none to be had, says nothing does.
bool someoneListens(const QString& serverPath)
{
    QLocalSocket probe;
    probe.connectToServer(serverPath, QIODevice::ReadWrite);
    if (probe.waitForConnected(ConnectWaitMs)) {
        probe.abort();
        return true;
    }
    const QLocalSocket::LocalSocketError error = probe.error();
    return error != QLocalSocket::ConnectionRefusedError && error != QLocalSocket::ServerNotFoundError;
}

} // namespace

SingleApplication::SingleApplication(int& argc, char** argv)
    : QApplication(argc, argv),
      m_serverName(folderServerName(QFileInfo(QCoreApplication::applicationFilePath()).fileName(), appDirPath())),
      m_serverPath(userLocalServerName(m_serverName)), m_lock(std::make_unique<InstanceLock>(appDirPath()))
{
    initLocalConnection();
}

SingleApplication::~SingleApplication() = default;

void SingleApplication::initLocalConnection()
{
    m_running = false;
    m_refusal = Refusal::None;
    if (m_serverPath.isEmpty())
        m_guardWarnings << QStringLiteral("Single instance: no private runtime folder for the socket of %1; "
                                          "a later start cannot bring this copy to the front")
                               .arg(m_serverName);
    InstanceLock::State lock = m_lock->take();
    if (lock == InstanceLock::State::Unusable) {
        // Whether a copy lives cannot be told: one that answers comes to the front, and otherwise this
        // start does not run, in case one lives that cannot answer.
        qDebug().noquote() << "Single instance: cannot lock" << m_lock->path() << "(" + m_lock->whyUnusable() + ")"
                           << "- asking whether a running copy answers";
        if (!m_serverPath.isEmpty() && askRunningCopy(QDeadlineTimer(AnswerWaitMs)) == Asked::Taken) {
            m_running = true;
            return;
        }
        m_refusal = Refusal::LockUnusable;
        return;
    }
    if (lock == InstanceLock::State::HeldElsewhere) {
        // A copy of this folder lives for as long as it holds the lock, answering or not: this start never
        // runs beside it.
        qDebug().noquote() << "Single instance: a running copy holds" << m_lock->path() << "- asking it to show itself";
        const QDeadlineTimer deadline(AnswerWaitMs);
        bool silent = false;
        for (;;) {
            const qint64 left = deadline.remainingTime();
            const Asked asked = m_serverPath.isEmpty() ? Asked::NotReached : askRunningCopy(deadline);
            if (asked == Asked::Taken) {
                m_running = true;
                return;
            }
            // Silent only when given the time a running copy takes to answer: an ask in the wait's last
            // moments ends before a process that closes every connection at once is seen to have closed it.
            silent = silent || (asked == Asked::Silent && left >= ReadWaitMs);
            lock = m_lock->take();
            if (lock == InstanceLock::State::Taken) {
                m_guardWarnings << QStringLiteral("Single instance: the copy holding %1 did not answer and has "
                                                  "ended; running in its place")
                                       .arg(m_lock->path());
                break;
            }
            if (lock == InstanceLock::State::Unusable) {
                m_refusal = Refusal::LockUnusable;
                return;
            }
            if (deadline.hasExpired()) {
                m_refusal = silent ? Refusal::NotAnswering : Refusal::NotReachable;
                return;
            }
            QThread::msleep(ulong(qMin<qint64>(RetryPauseMs, deadline.remainingTime())));
        }
    }
    // No other copy of this folder lives: whatever is at the socket's name was left by one that ended, or
    // belongs to a copy of another folder.
    m_lock->keep();
    if (!m_serverPath.isEmpty())
        newLocalServer();
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

void SingleApplication::tellRefusal() const
{
    QString text;
    switch (m_refusal) {
    case Refusal::None:
        return;
    case Refusal::NotAnswering:
        text = QCoreApplication::translate(
            "SingleApplication", "Tessark is already running but does not answer. It may be busy with a keyboard: "
                                 "wait until it is done, or end it, and then start Tessark again.");
        break;
    case Refusal::NotReachable:
        text = m_serverPath.isEmpty()
                   ? QCoreApplication::translate("SingleApplication",
                                                 "Tessark is already running from this folder but cannot be reached: "
                                                 "this start has no runtime folder to find it in. Bring it to the "
                                                 "front from its window or tray icon, or end it, and then start "
                                                 "Tessark again.")
                   : QCoreApplication::translate("SingleApplication",
                                                 "Tessark is already running from this folder but cannot be reached: "
                                                 "no socket of its own stands at %1 (it was removed, could not be "
                                                 "made, or the copy was started in another session). Bring it to "
                                                 "the front from its window or tray icon, or end it, and then start "
                                                 "Tessark again.")
                         .arg(m_serverPath);
        break;
    case Refusal::LockUnusable:
        text = QCoreApplication::translate("SingleApplication",
                                           "Tessark cannot tell whether it is already running from this folder: its "
                                           "lock %1 cannot be used (%2). It does not start, so as not to run beside "
                                           "a copy that may live: remove what stands at that name, or make the "
                                           "folder writable, and then start Tessark again.")
                   .arg(m_lock->path(), m_lock->whyUnusable());
        break;
    }
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
    case LocalNameOccupant::OwnSocket:
        // Left by a copy that ended only when nothing listens there: a copy of this folder that lost its
        // lock while stopped may still listen, and starts reach it there for as long as it runs.
        if (someoneListens(m_serverPath)) {
            m_guardWarnings << QStringLiteral("Single instance: a running process listens at %1; it is left to "
                                              "it and this copy runs without a socket of its own")
                                   .arg(m_serverPath);
            return;
        }
        break;
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
