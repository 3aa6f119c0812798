#pragma once
// Local stand-ins for the online update's download server (HTTP/1.1) and daytime time servers, on
// 127.0.0.1 at ports the system picks, running on a thread of their own so a test may block its own.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>

namespace sim {

// What a daytime server does with a connection.
enum class DaytimeMode {
    Line,    // sends the daytime line of the shared clock ("<day> YY-MM-DD HH:MM:SS 50 0 0 615.2 UTC(NIST) *")
    Silence, // accepts and never writes
    Garbage, // sends a line that does not parse
    Close,   // accepts and closes at once, sending nothing
};

// How a made-up body of zeros is encoded (its Content-Encoding): gzip, zlib ("deflate") or raw deflate
// (which some servers send as "deflate" too).
enum class BodyEncoding { Gzip, Deflate, RawDeflate };

// The download server's own clock and the daytime servers' clock are one: offset from the system's.
void setSharedClockOffsetSecs(qint64 secs);
QDateTime sharedClockUtc();

// MD5 hex (lower case) of key + encoded path + t: what a request's sign must be.
QString updateSign(const QByteArray& key, const QByteArray& encodedPath, const QString& t);

class UpdateServers {
public:
    // Serves the files under root; requests must be signed with key. daytimeCount servers (1..7).
    UpdateServers(const QString& root, const QByteArray& key, int daytimeCount = 1);
    ~UpdateServers(); // stops the thread
    UpdateServers(const UpdateServers&) = delete;
    UpdateServers& operator=(const UpdateServers&) = delete;

    // Starts the thread and listens; false when a socket cannot be opened.
    bool start();
    // "127.0.0.1:<port>"
    QString downloadHost() const;
    QStringList daytimeHosts() const;
    // Writes an UpdateServer.ini naming these servers (timeServers defaults to daytimeHosts()).
    bool writeConfig(const QString& path, const QStringList& timeServers = QStringList()) const;

    // Daytime server `index`'s behaviour (default Line).
    void setDaytimeMode(int index, DaytimeMode mode);
    // How many connections daytime server `index` accepted.
    int daytimeConnections(int index) const;

    // Per request path (decoded, without the query), the answer instead of the file:
    void answerNotFound(const QString& path);
    // 302 with Location: an absolute http URL or a relative reference; the server appends a fresh
    // sign and t for the target, so the unsigned follow-up is accepted.
    void redirect(const QString& path, const QString& location);
    // Sends the headers and then nothing, keeping the connection open.
    void stall(const QString& path);
    // Sends Content-Length of the whole file but only `bytes` of the body, then closes.
    void cutShort(const QString& path, int bytes);
    // Sends a body of zeros made up as it goes, with no file behind it: `bodyBytes` of them (-1: until
    // the client goes) under Content-Length `announced` (-1: none, the body ends when the connection
    // closes). The body is handed out as fast as the client takes it.
    void generate(const QString& path, qint64 bodyBytes, qint64 announced);
    // `inflatedBytes` zeros, compressed and sent with the encoding's Content-Encoding whatever the
    // request accepts; with Content-Length of the compressed size, or without (ends with the connection).
    void generateEncoded(const QString& path, BodyEncoding encoding, qint64 inflatedBytes, bool withLength);
    // Zeros in chunks of the chunked transfer coding, until the client goes.
    void generateChunked(const QString& path);
    // Sends the headers with Content-Length `announced` and then nothing, keeping the connection open.
    void withhold(const QString& path, qint64 announced);
    // Announces `bodyBytes`, sends `firstBytes` zeros at once and then `bytesPerTick` zeros every
    // `tickMs`, then closes.
    void trickle(const QString& path, qint64 bodyBytes, int bytesPerTick, int tickMs, qint64 firstBytes = 0);
    void clearBehaviours();

    // Every request line received, in order ("GET /a%20b?sign=...&t=... HTTP/1.1").
    QStringList requestLines() const;
    // The Accept-Encoding header of each request, in order (empty when it had none).
    QStringList acceptEncodings() const;
    // Requests refused with 403 (bad or expired sign).
    int forbiddenCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace sim
