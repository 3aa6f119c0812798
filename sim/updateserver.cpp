#include "updateserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVector>
#include <QtDebug>

#include <atomic>

#include <zlib.h>

namespace sim {

namespace {

std::atomic<qint64> g_clockOffsetSecs{0};

constexpr int MaxHead = 8192;            // request line and headers together
constexpr qint64 Chunk = 64 * 1024;      // body bytes handed to the socket at a time
constexpr qint64 MaxQueued = 256 * 1024; // body bytes waiting in the socket before more are read
constexpr qint64 StallLength = 1 << 20;  // Content-Length a stall announces when there is no file
constexpr qint64 SignValidity = 60;      // what the tool adds to its network time

struct Behaviour {
    enum Kind { NotFound, Redirect, Stall, CutShort, Generate, Encoded, Chunked, Withhold, Trickle } kind = NotFound;
    QString location;
    int bytes = 0;
    qint64 bodyBytes = 0;  // Generate, Trickle: -1 without end
    qint64 announced = -1; // Generate: -1 without Content-Length
    int tickMs = 0;        // Trickle
    qint64 firstBytes = 0; // Trickle: sent at once
    QByteArray body;       // Encoded: the compressed body
    QByteArray encoding;   // Encoded: its Content-Encoding
};

// length -1: no Content-Length, the body ends with the connection.
QByteArray statusHead(int code, const QByteArray& reason, qint64 length, const QByteArray& extra = QByteArray())
{
    const QByteArray lengthLine =
        length < 0 ? QByteArray() : "Content-Length: " + QByteArray::number(length) + "\r\n";
    return "HTTP/1.1 " + QByteArray::number(code) + ' ' + reason + "\r\n" + extra +
           "Content-Type: application/octet-stream\r\n" + lengthLine + "Connection: close\r\n\r\n";
}

bool isLowerHex(const QByteArray& text)
{
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

QString hexTime(qint64 secs) { return QString::number(secs, 16); }

// `inflated` zeros as a raw deflate stream, built from one flushed block of a MiB repeated (so a GiB
// takes no time), with the CRC-32 and Adler-32 of the whole.
struct ZeroStream {
    QByteArray raw;
    uLong crc = 0;
    uLong adler = 1;
};

ZeroStream deflatedZeros(qint64 inflated)
{
    constexpr qint64 Block = 1 << 20;
    const QByteArray zeros(int(Block), '\0');
    ZeroStream out;
    out.crc = crc32(0L, Z_NULL, 0);
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return out;
    auto run = [&z](const QByteArray& in, int flush) {
        QByteArray result;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
        z.avail_in = uInt(in.size());
        char buffer[16384];
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            deflate(&z, flush);
            result.append(buffer, int(sizeof buffer - z.avail_out));
        } while (z.avail_out == 0);
        return result;
    };
    // After a full flush the compressor starts afresh: every further MiB compresses to the same bytes.
    const QByteArray block = run(zeros, Z_FULL_FLUSH);
    const uLong blockCrc = crc32(0L, reinterpret_cast<const Bytef*>(zeros.constData()), uInt(Block));
    const uLong blockAdler = adler32(1L, reinterpret_cast<const Bytef*>(zeros.constData()), uInt(Block));
    qint64 left = inflated;
    for (; left >= Block; left -= Block) {
        out.raw += block;
        out.crc = crc32_combine(out.crc, blockCrc, Block);
        out.adler = adler32_combine(out.adler, blockAdler, Block);
    }
    const QByteArray rest(int(left), '\0');
    out.raw += run(rest, Z_FINISH);
    out.crc = crc32(out.crc, reinterpret_cast<const Bytef*>(rest.constData()), uInt(rest.size()));
    out.adler = adler32(out.adler, reinterpret_cast<const Bytef*>(rest.constData()), uInt(rest.size()));
    deflateEnd(&z);
    return out;
}

void appendLittleEndian32(QByteArray& to, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        to += char((value >> (8 * i)) & 0xFF);
}

QByteArray encodedZeros(BodyEncoding encoding, qint64 inflated)
{
    const ZeroStream stream = deflatedZeros(inflated);
    switch (encoding) {
    case BodyEncoding::RawDeflate:
        return stream.raw;
    case BodyEncoding::Deflate: {
        QByteArray zlibBody("\x78\xda", 2);
        zlibBody += stream.raw;
        for (int i = 3; i >= 0; --i)
            zlibBody += char((stream.adler >> (8 * i)) & 0xFF);
        return zlibBody;
    }
    case BodyEncoding::Gzip: {
        QByteArray gzip("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03", 10);
        gzip += stream.raw;
        appendLittleEndian32(gzip, quint32(stream.crc));
        appendLittleEndian32(gzip, quint32(inflated & 0xFFFFFFFF));
        return gzip;
    }
    }
    return QByteArray();
}

// "<modified Julian day> YY-MM-DD HH:MM:SS ..." as the public daytime servers send it.
QByteArray daytimeLine(const QDateTime& utc)
{
    const QDateTime t = utc.toUTC();
    const qint64 mjd = t.date().toJulianDay() - 2400001; // day 0 is 1858-11-17
    return QByteArray::number(mjd) + ' ' + t.toString(QStringLiteral("yy-MM-dd hh:mm:ss")).toLatin1() +
           " 50 0 0 615.2 UTC(NIST) *\r\n";
}

} // namespace

void setSharedClockOffsetSecs(qint64 secs) { g_clockOffsetSecs = secs; }

QDateTime sharedClockUtc() { return QDateTime::currentDateTimeUtc().addSecs(g_clockOffsetSecs.load()); }

QString updateSign(const QByteArray& key, const QByteArray& encodedPath, const QString& t)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(key + encodedPath + t.toLatin1(), QCryptographicHash::Md5).toHex());
}

namespace {

// One HTTP connection's state: the request head read so far and the body still to send.
class HttpConnection : public QObject {
public:
    explicit HttpConnection(QTcpSocket* socket) : QObject(socket), s(socket) {}

    QTcpSocket* s;
    QByteArray head;
    bool answered = false;
    QFile file;
    qint64 remaining = 0;
    // A body of zeros without a file; endless: until the client goes.
    bool generated = false;
    bool endless = false;
    // Each part of the body goes out as one chunk of the chunked coding.
    bool chunked = false;
    // A body held in memory (an encoded one), sent from its start.
    QByteArray data;
    qint64 dataPos = 0;
    // A trickled body's bytes still to send (kept apart from the pumped body's).
    qint64 trickleLeft = 0;

    // Hands the socket more body while little is queued; closes once the body is out.
    void pump()
    {
        while ((remaining > 0 || endless) && s->bytesToWrite() < MaxQueued) {
            if (s->state() != QAbstractSocket::ConnectedState)
                return; // the client went: nothing more to hand out
            const qint64 size = endless ? Chunk : qMin(Chunk, remaining);
            QByteArray part;
            if (!data.isEmpty()) {
                part = data.mid(int(dataPos), int(size));
                dataPos += part.size();
            } else {
                part = generated ? QByteArray(int(size), '\0') : file.read(size);
            }
            if (chunked && !part.isEmpty())
                part = QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n";
            if (part.isEmpty()) {
                remaining = 0; // the file shrank: the client sees a short body
                break;
            }
            if (s->write(part) != part.size())
                return;
            if (!endless)
                remaining -= part.size();
        }
        if (remaining == 0 && !endless && (file.isOpen() || generated || !data.isEmpty())) {
            file.close();
            generated = false;
            data.clear();
            s->disconnectFromHost();
        }
    }

    // Sends bytesPerTick zeros every tickMs until total have gone, then closes.
    void startTrickle(qint64 total, int bytesPerTick, int tickMs, qint64 firstBytes)
    {
        const qint64 first = qBound<qint64>(0, firstBytes, total);
        s->write(QByteArray(int(first), '\0'));
        trickleLeft = total - first;
        auto* timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, this, [this, timer, bytesPerTick] {
            if (s->state() != QAbstractSocket::ConnectedState) {
                timer->stop();
                return;
            }
            const qint64 size = qMin<qint64>(bytesPerTick, trickleLeft);
            s->write(QByteArray(int(size), '\0'));
            trickleLeft -= size;
            if (trickleLeft <= 0) {
                timer->stop();
                s->disconnectFromHost();
            }
        });
        timer->start(tickMs);
    }
};

} // namespace

struct UpdateServers::Impl {
    QString root;
    QByteArray key;
    int daytimeCount = 1;

    // Guards the fields from here to daytimePorts: the caller's thread and the servers' thread share them.
    mutable QMutex mutex;
    QHash<QString, Behaviour> behaviours;
    QVector<DaytimeMode> modes;
    QVector<int> connections;
    QStringList lines;
    QStringList acceptEncodings;
    int forbidden = 0;
    quint16 httpPort = 0;
    QVector<quint16> daytimePorts;

    QThread thread;
    QObject* host = nullptr;       // lives on `thread`; parent of every server
    QVector<QTcpServer*> servers;  // touched only on `thread` (and by start() once it has listened)

    // On the servers' thread:
    bool listenAll();
    void stopAll();
    void acceptHttp(QTcpServer* server);
    void acceptDaytime(int index, QTcpServer* server);
    void answer(HttpConnection* c, const QByteArray& head);
    bool signValid(const QByteArray& rawPath, const QByteArray& query);
    void sendFile(HttpConnection* c, const QString& decodedPath, const Behaviour* b);
    void sendRedirect(QTcpSocket* s, const QByteArray& rawPath, const QString& location);
    static void finish(QTcpSocket* s, const QByteArray& data);
};


bool UpdateServers::Impl::listenAll()
{
    auto listenOne = [this]() -> QTcpServer* {
        auto* server = new QTcpServer(host);
        servers << server;
        return server->listen(QHostAddress::LocalHost, 0) ? server : nullptr;
    };
    QTcpServer* http = listenOne();
    if (!http)
        return false;
    QObject::connect(http, &QTcpServer::newConnection, http, [this, http] { acceptHttp(http); });
    QVector<quint16> ports;
    for (int i = 0; i < daytimeCount; ++i) {
        QTcpServer* server = listenOne();
        if (!server)
            return false;
        QObject::connect(server, &QTcpServer::newConnection, server, [this, i, server] { acceptDaytime(i, server); });
        ports << server->serverPort();
    }
    QMutexLocker lock(&mutex);
    httpPort = http->serverPort();
    daytimePorts = ports;
    return true;
}

void UpdateServers::Impl::stopAll()
{
    for (QTcpServer* server : qAsConst(servers)) {
        server->close();
        // Sockets are the server's children; their own signals must not reach us while they go.
        for (QTcpSocket* s : server->findChildren<QTcpSocket*>()) {
            s->disconnect();
            s->abort();
        }
        delete server;
    }
    servers.clear();
}

void UpdateServers::Impl::finish(QTcpSocket* s, const QByteArray& data)
{
    s->write(data);
    s->disconnectFromHost();
}

void UpdateServers::Impl::acceptDaytime(int index, QTcpServer* server)
{
    while (QTcpSocket* s = server->nextPendingConnection()) {
        DaytimeMode mode;
        {
            QMutexLocker lock(&mutex);
            ++connections[index];
            mode = modes[index];
        }
        QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        switch (mode) {
        case DaytimeMode::Line:
            finish(s, daytimeLine(sharedClockUtc()));
            break;
        case DaytimeMode::Garbage:
            finish(s, "NOT A DAYTIME ANSWER\r\n");
            break;
        case DaytimeMode::Close:
            s->disconnectFromHost();
            break;
        case DaytimeMode::Silence:
            break; // kept open until the client goes or the servers stop
        }
    }
}

void UpdateServers::Impl::acceptHttp(QTcpServer* server)
{
    while (QTcpSocket* s = server->nextPendingConnection()) {
        auto* c = new HttpConnection(s);
        QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        QObject::connect(s, &QTcpSocket::bytesWritten, c, [c] { c->pump(); });
        QObject::connect(s, &QTcpSocket::readyRead, c, [this, c] {
            if (c->answered) {
                c->s->readAll(); // nothing after the head is looked at
                return;
            }
            c->head += c->s->read(MaxHead + 1 - c->head.size());
            int end = c->head.indexOf("\r\n\r\n");
            if (end < 0)
                end = c->head.indexOf("\n\n");
            if (end < 0 && c->head.size() <= MaxHead)
                return;
            c->answered = true;
            if (end < 0) {
                finish(c->s, statusHead(431, "Request Header Fields Too Large", 0));
                return;
            }
            answer(c, c->head.left(end));
        });
    }
}

bool UpdateServers::Impl::signValid(const QByteArray& rawPath, const QByteArray& query)
{
    QByteArray sign, t;
    for (const QByteArray& pair : query.split('&')) {
        if (pair.startsWith("sign="))
            sign = pair.mid(5);
        else if (pair.startsWith("t="))
            t = pair.mid(2);
    }
    if (sign.size() != 32 || !isLowerHex(sign) || t.isEmpty() || t.size() > 15 || !isLowerHex(t))
        return false;
    if (t.toLongLong(nullptr, 16) < sharedClockUtc().toSecsSinceEpoch())
        return false; // expired
    return sign == updateSign(key, rawPath, QString::fromLatin1(t)).toLatin1();
}

void UpdateServers::Impl::answer(HttpConnection* c, const QByteArray& head)
{
    QTcpSocket* s = c->s;
    QByteArray line = head.left(head.indexOf('\n'));
    if (line.endsWith('\r'))
        line.chop(1);
    QByteArray acceptEncoding;
    for (const QByteArray& field : head.split('\n')) {
        const int colon = field.indexOf(':');
        if (colon > 0 && field.left(colon).trimmed().toLower() == "accept-encoding")
            acceptEncoding = field.mid(colon + 1).trimmed();
    }
    {
        QMutexLocker lock(&mutex);
        lines << QString::fromLatin1(line);
        acceptEncodings << QString::fromLatin1(acceptEncoding);
    }
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || !parts[2].startsWith("HTTP/1.") || !parts[1].startsWith('/')) {
        finish(s, statusHead(400, "Bad Request", 0));
        return;
    }
    if (parts[0] != "GET") {
        finish(s, statusHead(405, "Method Not Allowed", 0));
        return;
    }
    const QByteArray target = parts[1];
    const int q = target.indexOf('?');
    const QByteArray rawPath = q < 0 ? target : target.left(q);
    const QByteArray query = q < 0 ? QByteArray() : target.mid(q + 1);
    if (!signValid(rawPath, query)) {
        {
            QMutexLocker lock(&mutex);
            ++forbidden;
        }
        finish(s, statusHead(403, "Forbidden", 0));
        return;
    }
    const QString decoded = QUrl::fromPercentEncoding(rawPath);
    Behaviour behaviour;
    bool special = false;
    {
        QMutexLocker lock(&mutex);
        auto it = behaviours.constFind(decoded);
        if (it != behaviours.constEnd()) {
            behaviour = *it;
            special = true;
        }
    }
    if (special && behaviour.kind == Behaviour::NotFound) {
        finish(s, statusHead(404, "Not Found", 0));
        return;
    }
    if (special && behaviour.kind == Behaviour::Redirect) {
        sendRedirect(s, rawPath, behaviour.location);
        return;
    }
    if (special && behaviour.kind == Behaviour::Generate) {
        s->write(statusHead(200, "OK", behaviour.announced));
        c->generated = true;
        c->endless = behaviour.bodyBytes < 0;
        c->remaining = qMax<qint64>(0, behaviour.bodyBytes);
        c->pump();
        return;
    }
    if (special && behaviour.kind == Behaviour::Encoded) {
        const qint64 size = behaviour.body.size();
        s->write(statusHead(200, "OK", behaviour.announced < 0 ? -1 : size,
                            "Content-Encoding: " + behaviour.encoding + "\r\n"));
        c->data = behaviour.body;
        c->remaining = size;
        c->pump();
        return;
    }
    if (special && behaviour.kind == Behaviour::Chunked) {
        s->write(statusHead(200, "OK", -1, "Transfer-Encoding: chunked\r\n"));
        c->generated = true;
        c->endless = true;
        c->chunked = true;
        c->pump();
        return;
    }
    if (special && behaviour.kind == Behaviour::Withhold) {
        s->write(statusHead(200, "OK", behaviour.announced));
        return; // the body never comes; the connection stays open
    }
    if (special && behaviour.kind == Behaviour::Trickle) {
        s->write(statusHead(200, "OK", behaviour.bodyBytes));
        c->startTrickle(behaviour.bodyBytes, behaviour.bytes, behaviour.tickMs, behaviour.firstBytes);
        return;
    }
    sendFile(c, decoded, special ? &behaviour : nullptr);
}

void UpdateServers::Impl::sendRedirect(QTcpSocket* s, const QByteArray& rawPath, const QString& location)
{
    const QUrl reference(location);
    const QByteArray origin = "http://127.0.0.1:" + QByteArray::number(httpPort);
    const QUrl target = reference.isRelative() ? QUrl::fromEncoded(origin + rawPath).resolved(reference) : reference;
    const QString t = hexTime(sharedClockUtc().toSecsSinceEpoch() + SignValidity);
    const QByteArray signedPath = target.path(QUrl::FullyEncoded).toLatin1();
    const QByteArray to = reference.toEncoded(QUrl::RemoveQuery | QUrl::RemoveFragment) + "?sign=" +
                          updateSign(key, signedPath, t).toLatin1() + "&t=" + t.toLatin1();
    finish(s, statusHead(302, "Found", 0, "Location: " + to + "\r\n"));
}

void UpdateServers::Impl::sendFile(HttpConnection* c, const QString& decodedPath, const Behaviour* b)
{
    QTcpSocket* s = c->s;
    // Only regular files below root; no control characters, no way out through ".." or links.
    bool usable = decodedPath.startsWith(QLatin1Char('/'));
    for (QChar ch : decodedPath)
        usable = usable && ch.unicode() >= 0x20 && ch.unicode() != 0x7F;
    const QString cleaned = QDir::cleanPath(decodedPath);
    usable = usable && !cleaned.startsWith(QLatin1String("/.."));
    const QString rootPath = QFileInfo(root).canonicalFilePath();
    const QFileInfo info(root + cleaned);
    usable = usable && !rootPath.isEmpty() && info.isFile() &&
             info.canonicalFilePath().startsWith(rootPath + QLatin1Char('/'));
    if (usable) {
        c->file.setFileName(info.canonicalFilePath());
        usable = c->file.open(QIODevice::ReadOnly) && !c->file.isSequential();
    }
    if (!usable) {
        if (b && b->kind == Behaviour::Stall) {
            s->write(statusHead(200, "OK", StallLength));
            return;
        }
        c->file.close();
        finish(s, statusHead(404, "Not Found", 0));
        return;
    }
    const qint64 size = c->file.size();
    s->write(statusHead(200, "OK", size));
    if (b && b->kind == Behaviour::Stall) {
        c->file.close();
        return; // headers only; the connection stays open
    }
    c->remaining = b && b->kind == Behaviour::CutShort ? qBound<qint64>(0, b->bytes, size) : size;
    c->pump();
}

UpdateServers::UpdateServers(const QString& root, const QByteArray& key, int daytimeCount) : d(new Impl)
{
    d->root = root;
    d->key = key;
    d->daytimeCount = qBound(1, daytimeCount, 7);
    d->modes.fill(DaytimeMode::Line, d->daytimeCount);
    d->connections.fill(0, d->daytimeCount);
    d->thread.setObjectName(QStringLiteral("UpdateServers"));
}

UpdateServers::~UpdateServers()
{
    if (d->thread.isRunning()) {
        QMetaObject::invokeMethod(d->host, [this] { d->stopAll(); }, Qt::BlockingQueuedConnection);
        d->thread.quit();
        d->thread.wait();
    }
    delete d->host;
}

bool UpdateServers::start()
{
    if (d->host)
        return d->thread.isRunning() && !d->servers.isEmpty();
    d->host = new QObject;
    d->host->moveToThread(&d->thread);
    d->thread.start();
    bool ok = false;
    QMetaObject::invokeMethod(d->host, [this] { return d->listenAll(); }, Qt::BlockingQueuedConnection, &ok);
    if (!ok)
        qWarning() << "UpdateServers: cannot listen on 127.0.0.1";
    return ok;
}

QString UpdateServers::downloadHost() const
{
    QMutexLocker lock(&d->mutex);
    return QStringLiteral("127.0.0.1:%1").arg(d->httpPort);
}

QStringList UpdateServers::daytimeHosts() const
{
    QMutexLocker lock(&d->mutex);
    QStringList hosts;
    for (quint16 port : qAsConst(d->daytimePorts))
        hosts << QStringLiteral("127.0.0.1:%1").arg(port);
    return hosts;
}

bool UpdateServers::writeConfig(const QString& path, const QStringList& timeServers) const
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSettings ini(path, QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("UpdateServer"));
    ini.setValue(QStringLiteral("Download"), downloadHost());
    ini.setValue(QStringLiteral("Time"), timeServers.isEmpty() ? daytimeHosts() : timeServers);
    ini.setValue(QStringLiteral("Key"), QString::fromLatin1(d->key));
    ini.endGroup();
    ini.sync();
    return ini.status() == QSettings::NoError;
}

void UpdateServers::setDaytimeMode(int index, DaytimeMode mode)
{
    QMutexLocker lock(&d->mutex);
    if (index >= 0 && index < d->modes.size())
        d->modes[index] = mode;
}

int UpdateServers::daytimeConnections(int index) const
{
    QMutexLocker lock(&d->mutex);
    return d->connections.value(index, 0);
}

void UpdateServers::answerNotFound(const QString& path)
{
    QMutexLocker lock(&d->mutex);
    d->behaviours.insert(path, Behaviour());
}

void UpdateServers::redirect(const QString& path, const QString& location)
{
    QMutexLocker lock(&d->mutex);
    Behaviour b;
    b.kind = Behaviour::Redirect;
    b.location = location;
    d->behaviours.insert(path, b);
}

void UpdateServers::stall(const QString& path)
{
    QMutexLocker lock(&d->mutex);
    Behaviour b;
    b.kind = Behaviour::Stall;
    d->behaviours.insert(path, b);
}

void UpdateServers::cutShort(const QString& path, int bytes)
{
    QMutexLocker lock(&d->mutex);
    Behaviour b;
    b.kind = Behaviour::CutShort;
    b.bytes = bytes;
    d->behaviours.insert(path, b);
}

void UpdateServers::generate(const QString& path, qint64 bodyBytes, qint64 announced)
{
    Behaviour b;
    b.kind = Behaviour::Generate;
    b.bodyBytes = bodyBytes;
    b.announced = announced;
    QMutexLocker lock(&d->mutex);
    d->behaviours.insert(path, b);
}

void UpdateServers::generateEncoded(const QString& path, BodyEncoding encoding, qint64 inflatedBytes, bool withLength)
{
    Behaviour b;
    b.kind = Behaviour::Encoded;
    b.body = encodedZeros(encoding, inflatedBytes);
    b.encoding = encoding == BodyEncoding::Gzip ? "gzip" : "deflate";
    b.announced = withLength ? b.body.size() : -1;
    QMutexLocker lock(&d->mutex);
    d->behaviours.insert(path, b);
}

void UpdateServers::generateChunked(const QString& path)
{
    Behaviour b;
    b.kind = Behaviour::Chunked;
    QMutexLocker lock(&d->mutex);
    d->behaviours.insert(path, b);
}

void UpdateServers::withhold(const QString& path, qint64 announced)
{
    Behaviour b;
    b.kind = Behaviour::Withhold;
    b.announced = announced;
    QMutexLocker lock(&d->mutex);
    d->behaviours.insert(path, b);
}

void UpdateServers::trickle(const QString& path, qint64 bodyBytes, int bytesPerTick, int tickMs, qint64 firstBytes)
{
    Behaviour b;
    b.kind = Behaviour::Trickle;
    b.bodyBytes = bodyBytes;
    b.bytes = bytesPerTick;
    b.tickMs = tickMs;
    b.firstBytes = firstBytes;
    QMutexLocker lock(&d->mutex);
    d->behaviours.insert(path, b);
}

void UpdateServers::clearBehaviours()
{
    QMutexLocker lock(&d->mutex);
    d->behaviours.clear();
}

QStringList UpdateServers::requestLines() const
{
    QMutexLocker lock(&d->mutex);
    return d->lines;
}

QStringList UpdateServers::acceptEncodings() const
{
    QMutexLocker lock(&d->mutex);
    return d->acceptEncodings;
}

int UpdateServers::forbiddenCount() const
{
    QMutexLocker lock(&d->mutex);
    return d->forbidden;
}

} // namespace sim
