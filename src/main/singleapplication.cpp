#include "singleapplication.h"

#include "main/tessark.h"
#include "platform/localservername.h"

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>

namespace {
constexpr int ConnectWaitMs = 500;
constexpr int WriteWaitMs = 30000;
constexpr int ReadWaitMs = 1000;
}

SingleApplication::SingleApplication(int& argc, char** argv)
    : QApplication(argc, argv), m_serverName(QFileInfo(QCoreApplication::applicationFilePath()).fileName())
{
    initLocalConnection();
}

void SingleApplication::initLocalConnection()
{
    m_running = false;
    QLocalSocket socket;
    socket.connectToServer(userLocalServerName(m_serverName), QIODevice::ReadWrite);
    if (!socket.waitForConnected(ConnectWaitMs)) {
        newLocalServer();
        return;
    }
    m_running = true;
    QTextStream stream(&socket);
    const QStringList args = QCoreApplication::arguments();
    // Only the arrival matters to the first copy; it never reads the text.
    stream << (args.size() < 2 ? QString() : args.last());
    stream.flush();
    socket.waitForBytesWritten(WriteWaitMs);
}

void SingleApplication::newLocalServer()
{
    m_server = new QLocalServer(this);
    connect(m_server, SIGNAL(newConnection()), this, SLOT(newLocalConnection()));
    // Only this user may connect: another user's copy must neither wake nor block ours.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = userLocalServerName(m_serverName);
    if (!m_server->listen(name) && m_server->serverError() == QAbstractSocket::AddressInUseError) {
        // A copy that crashed left its socket behind: take it over.
        QLocalServer::removeServer(name);
        m_server->listen(name);
    }
}

void SingleApplication::newLocalConnection()
{
    QLocalSocket* connection = m_server->nextPendingConnection();
    if (!connection)
        return;
    connection->waitForReadyRead(ReadWaitMs);
    delete connection;
    if (m_mainWindow)
        m_mainWindow->mainShow();
}
