#include "singleapplication.h"

#include "main/tessark.h"
#include "platform/localservername.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>

namespace {
constexpr int ConnectWaitMs = 500;
constexpr int WriteWaitMs = 30000;
constexpr int ReadWaitMs = 1000;
// How long a new copy waits for the running one to say it took the message: well past ReadWaitMs, which
// the running copy may spend on the message before it answers.
constexpr int AnswerWaitMs = 5000;
// Ends the message: no argument holds a NUL.
constexpr char EndMark = '\0';
// What the running copy answers once it has the whole message.
const QByteArray Answer = QByteArrayLiteral("taken");

// Whether the running copy answered within the wait. A connection can succeed to a copy that is being
// killed (its socket still queues connections); such a copy never answers, and its end closes ours.
bool answered(QLocalSocket& socket)
{
    const QDeadlineTimer deadline(AnswerWaitMs);
    while (socket.bytesAvailable() < Answer.size()) {
        if (!socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    return socket.read(Answer.size()) == Answer;
}
} // namespace

SingleApplication::SingleApplication(int& argc, char** argv)
    : QApplication(argc, argv), m_serverName(QFileInfo(QCoreApplication::applicationFilePath()).fileName()),
      m_serverPath(userLocalServerName(m_serverName))
{
    initLocalConnection();
}

void SingleApplication::initLocalConnection()
{
    m_running = false;
    if (m_serverPath.isEmpty()) {
        m_guardWarnings << QStringLiteral("Single instance: no private runtime folder for the socket of %1; "
                                          "running without the single-instance guard")
                               .arg(m_serverName);
        return;
    }
    QLocalSocket socket;
    socket.connectToServer(m_serverPath, QIODevice::ReadWrite);
    if (!socket.waitForConnected(ConnectWaitMs)) {
        newLocalServer();
        return;
    }
    if (!peerIsSameUser(socket.socketDescriptor())) {
        // Another user's process must neither stop us nor hear from us.
        socket.abort();
        m_guardWarnings << QStringLiteral("Single instance: %1 is answered by another user's process; "
                                          "not taken for a running copy")
                               .arg(m_serverPath);
        newLocalServer();
        return;
    }
    QTextStream stream(&socket);
    const QStringList args = QCoreApplication::arguments();
    // Only the arrival matters to the first copy; it reads the text only up to the end mark.
    stream << (args.size() < 2 ? QString() : args.last());
    stream.flush();
    socket.write(&EndMark, 1);
    socket.waitForBytesWritten(WriteWaitMs);
    if (!answered(socket)) {
        // Nothing there takes the message: this copy is the one that runs, under the name the other left.
        socket.abort();
        m_guardWarnings << QStringLiteral("Single instance: %1 took the connection but did not answer; "
                                          "taken for a stale name and replaced")
                               .arg(m_serverPath);
        newLocalServer();
        return;
    }
    m_running = true;
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
