// Network time: the current UTC time from daytime servers, for signing requests.
#include "downloadfile.h"

#include <QDebug>
#include <QEventLoop>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

namespace {

// Where the next query starts. Only the worker's thread moves it; tests set it from theirs.
std::atomic<int> g_nextTimeServer{0};

// A daytime answer is one short line; more is not read.
constexpr qint64 MaxDaytimeAnswer = 512;

} // namespace

QDateTime DownloadFile::parseDaytimeAnswer(QByteArray answer)
{
    const int nul = answer.indexOf('\0');
    if (nul >= 0)
        answer.truncate(nul);
    const QString text = QString::fromUtf8(answer).trimmed();
    const QString reply = QStringLiteral("20") + text.section(QLatin1Char(' '), 1, 2);
    // Date and time read apart and joined as UTC, so no local clock change can shift or void them.
    const QStringList fields = reply.split(QLatin1Char(' '));
    if (fields.size() != 2)
        return QDateTime();
    const QDate date = QDate::fromString(fields.at(0), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(fields.at(1), QStringLiteral("hh:mm:ss"));
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time, Qt::UTC);
}

int DownloadFile::nextTimeServerIndex() { return g_nextTimeServer; }
void DownloadFile::setNextTimeServerIndex(int index) { g_nextTimeServer = index; }

void DownloadFile::initTimeServerList()
{
    m_timeServerList = m_config.timeServers;
}

QByteArray DownloadFile::askTimeServer(const QString& entry)
{
    QString host;
    quint16 port = 0;
    if (!UpdateServerConfig::splitHostPort(entry, UpdateServerConfig::DaytimePort, &host, &port))
        return QByteArray();
    const int connectMs = s_connectWaitMs;
    const int readMs = s_readWaitMs;
    const WorkerStop& stop = m_stop;

    // A blocking connect cannot be cut short, and a local event loop on this thread would run the
    // worker's queued requests in the middle of this one: the socket waits in an event loop of its own
    // thread, which looks at the stop flag every StopPollMs; this thread only waits for that one to end.
    QByteArray answer;
    const std::unique_ptr<QThread> asker(QThread::create([&] {
        QEventLoop loop;
        QTcpSocket socket;
        QTimer deadline;
        QTimer stopPoll;
        bool done = false;
        const auto finish = [&] {
            done = true;
            loop.quit();
        };
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, finish);
        QObject::connect(&stopPoll, &QTimer::timeout, &loop, [&] {
            if (stop)
                finish();
        });
        QObject::connect(&socket, &QTcpSocket::connected, &loop, [&] { deadline.start(readMs); });
        QObject::connect(&socket, &QIODevice::readyRead, &loop, [&] {
            answer += socket.read(MaxDaytimeAnswer - answer.size());
            // Some servers send the line end first: wait on for the line itself.
            if (!answer.trimmed().isEmpty() || answer.size() >= MaxDaytimeAnswer)
                finish();
        });
        QObject::connect(&socket, &QAbstractSocket::errorOccurred, &loop, [&] {
            if (socket.bytesAvailable() > 0)
                answer += socket.read(MaxDaytimeAnswer - answer.size());
            finish();
        });
        deadline.start(connectMs);
        stopPoll.start(StopPollMs);
        socket.connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
        if (!done && !stop)
            loop.exec();
        socket.abort();
    }));
    asker->start();
    asker->wait();
    return answer;
}

QDateTime DownloadFile::getNetworkTime()
{
    QDateTime result;
    const int count = m_timeServerList.size();
    int start = g_nextTimeServer;
    // A list shorter than it was when the index moved starts again at its beginning.
    if (start < 0 || start >= count)
        start = 0;
    // Every server once, from the next one round to the one before it.
    bool stopped = false;
    for (int step = 0; step < count; ++step) {
        const int i = (start + step) % count;
        const QByteArray answer = m_stop ? QByteArray() : askTimeServer(m_timeServerList.at(i));
        if (m_stop) {
            stopped = true;
            break;
        }
        result = parseDaytimeAnswer(answer);
        if (result.isValid()) {
            qDebug() << __LINE__ << "获取时间OK=" << i;
            g_nextTimeServer = (i + 1 == count) ? 0 : i + 1;
            break;
        }
        qDebug() << __LINE__ << "获取时间错误=" << i;
    }
    if (stopped)
        qDebug() << __LINE__ << "network time: worker stopping";
    if (result.isNull())
        qDebug() << __LINE__ << "获取时间错误=====================================================";
    qDebug() << __LINE__ << "m_time=" << result.toLocalTime();
    return result;
}
