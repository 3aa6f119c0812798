// The local download and daytime servers: signed requests served byte for byte, refusals, redirects
// carrying a fresh sign, stalls and short bodies, the daytime line of the shared clock.
#include "updateserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>

namespace {

const QByteArray Key = "testkey0123456789abcdef0123456789abcdef0"; // 40 characters, as the tool's key

QByteArray pattern(int size, int seed)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 31 + i / 251 + seed * 7) & 0xFF);
    return b;
}

QByteArray encoded(const QString& path) { return QUrl::toPercentEncoding(path, "/"); }

QString tAfter(qint64 secs) { return QString::number(sim::sharedClockUtc().toSecsSinceEpoch() + secs, 16); }

// Request target with the query the tool adds.
QByteArray signedTarget(const QString& path, const QByteArray& key = Key, qint64 validSecs = 60)
{
    const QString t = tAfter(validSecs);
    const QByteArray p = encoded(path);
    return p + "?sign=" + sim::updateSign(key, p, t).toLatin1() + "&t=" + t.toLatin1();
}

quint16 portOf(const QString& hostPort) { return quint16(hostPort.section(QLatin1Char(':'), 1).toUInt()); }

struct Fetched {
    int status = 0;
    QByteArray body;
    QUrl location;
    bool finished = false;
};

Fetched fetch(QNetworkAccessManager& nam, const QUrl& url)
{
    Fetched f;
    std::unique_ptr<QNetworkReply> reply(nam.get(QNetworkRequest(url)));
    QSignalSpy done(reply.get(), &QNetworkReply::finished);
    f.finished = done.wait(5000);
    f.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    f.location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    f.body = reply->readAll();
    return f;
}

// A raw exchange on a blocking socket: the test thread waits while the servers' thread answers.
struct Raw {
    QByteArray bytes;
    bool closed = false;
    QByteArray head() const { return bytes.left(bytes.indexOf("\r\n\r\n")); }
    QByteArray body() const { return bytes.mid(bytes.indexOf("\r\n\r\n") + 4); }
    QByteArray header(const QByteArray& name) const
    {
        for (const QByteArray& line : head().split('\n'))
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        return QByteArray();
    }
};

// Sends `request`, then reads until the server closes or stays quiet for quietMs.
Raw exchange(QTcpSocket& s, quint16 port, const QByteArray& request, int quietMs = 300)
{
    Raw r;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(3000))
        return r;
    if (!request.isEmpty()) {
        s.write(request);
        s.waitForBytesWritten(3000);
    }
    QElapsedTimer limit;
    limit.start();
    while (s.state() == QAbstractSocket::ConnectedState && limit.elapsed() < 10000) {
        if (!s.waitForReadyRead(quietMs) && s.state() == QAbstractSocket::ConnectedState)
            break; // quiet
        r.bytes += s.readAll();
    }
    r.bytes += s.readAll();
    r.closed = s.state() != QAbstractSocket::ConnectedState;
    return r;
}

QByteArray get(const QByteArray& target) { return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"; }

// A daytime line read the way the tool reads it: fields 2 and 3, with "20" in front.
QDateTime parseDaytime(const QByteArray& reply)
{
    const QString text = QString::fromUtf8(reply).trimmed();
    QDateTime t = QDateTime::fromString(QStringLiteral("20") + text.section(QLatin1Char(' '), 1, 2),
                                        QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    t.setTimeSpec(Qt::UTC);
    return t;
}

} // namespace

class LocalUpdateServers : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_root;
    std::unique_ptr<sim::UpdateServers> m_servers;
    QNetworkAccessManager* m_nam = nullptr;

    bool put(const QString& path, const QByteArray& bytes)
    {
        const QString file = m_root + path;
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile f(file);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }

    QUrl url(const QByteArray& target) const
    {
        return QUrl::fromEncoded("http://" + m_servers->downloadHost().toLatin1() + target, QUrl::StrictMode);
    }

    quint16 httpPort() const { return portOf(m_servers->downloadHost()); }

private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        m_root = m_dir->filePath(QStringLiteral("root"));
        QVERIFY(QDir().mkpath(m_root));
        m_servers.reset(new sim::UpdateServers(m_root, Key, 4));
        QVERIFY(m_servers->start());
        m_nam = new QNetworkAccessManager(this);
        m_nam->setProxy(QNetworkProxy::NoProxy);
    }

    void cleanup()
    {
        delete m_nam;
        m_nam = nullptr;
        m_servers.reset();
        m_dir.reset();
        sim::setSharedClockOffsetSecs(0);
    }

    void signedRequestGetsTheFileExactly_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("size");
        QTest::newRow("plain") << "/UpgradeTessark/Windows/VersionFile/TessarkVersion.ini" << 120;
        QTest::newRow("space and plus") << "/UpgradeFirmware/model a/x+y.bin" << 3000;
        QTest::newRow("non-ASCII name") << QStringLiteral("/固件/größe.bin") << 10;
        QTest::newRow("empty file") << "/empty.bin" << 0;
        QTest::newRow("several chunks") << "/big.bin" << 1300 * 1000;
    }
    void signedRequestGetsTheFileExactly()
    {
        QFETCH(QString, path);
        QFETCH(int, size);
        const QByteArray bytes = pattern(size, 3);
        QVERIFY(put(path, bytes));
        const QByteArray target = signedTarget(path);
        const Fetched f = fetch(*m_nam, url(target));
        QVERIFY(f.finished);
        QCOMPARE(f.status, 200);
        QVERIFY(f.body == bytes);
        QCOMPARE(m_servers->requestLines(), QStringList{QString::fromLatin1("GET " + target + " HTTP/1.1")});
        QCOMPARE(m_servers->forbiddenCount(), 0);
    }

    // The worked example: key, encoded path and t in that order, lower-case hex; the server takes
    // it while the shared clock is before t.
    void workedExampleIsAccepted()
    {
        const QByteArray key = "tessark5f1c0a9e3b7d24c68e0f1a2b3c4d5e6f7";
        const QByteArray p = "/UpgradeFirmware/model%20a/x%2By.bin";
        const QString sign = sim::updateSign(key, p, QStringLiteral("65f40744"));
        QCOMPARE(sign, QStringLiteral("0372e5259cd8515cece7deeac84495fe"));

        sim::UpdateServers servers(m_root, key);
        QVERIFY(servers.start());
        QVERIFY(put(QStringLiteral("/UpgradeFirmware/model a/x+y.bin"), "image"));
        // 2024-03-15 08:29:50 UTC: ten seconds before t.
        const QDateTime at(QDate(2024, 3, 15), QTime(8, 29, 50), Qt::UTC);
        sim::setSharedClockOffsetSecs(QDateTime::currentDateTimeUtc().secsTo(at));
        QTcpSocket s;
        const Raw r = exchange(s, portOf(servers.downloadHost()), get(p + "?sign=" + sign.toLatin1() + "&t=65f40744"));
        QVERIFY2(r.head().startsWith("HTTP/1.1 200"), r.head().constData());
        QCOMPARE(r.body(), QByteArray("image"));
    }

    void badOrExpiredSignIsForbidden_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<qint64>("clockMove");
        const QString path = QStringLiteral("/d/a b.bin");
        const QByteArray p = encoded(path);
        const QString t = tAfter(60);
        auto q = [](const QString& sign, const QString& t) { return ("?sign=" + sign + "&t=" + t).toLatin1(); };
        QTest::newRow("wrong key") << q(sim::updateSign("x" + Key.mid(1), p, t), t) << qint64(0);
        QTest::newRow("t already past") << q(sim::updateSign(Key, p, tAfter(-1)), tAfter(-1)) << qint64(0);
        QTest::newRow("clock moved past t") << q(sim::updateSign(Key, p, t), t) << qint64(120);
        QTest::newRow("sign over the decoded path") << q(sim::updateSign(Key, path.toUtf8(), t), t) << qint64(0);
        QTest::newRow("sign in upper case") << q(sim::updateSign(Key, p, t).toUpper(), t) << qint64(0);
        QTest::newRow("t not hex") << q(sim::updateSign(Key, p, t + "z"), t + "z") << qint64(0);
        QTest::newRow("no sign") << ("?t=" + t).toLatin1() << qint64(0);
        QTest::newRow("no query") << QByteArray() << qint64(0);
    }
    void badOrExpiredSignIsForbidden()
    {
        QFETCH(QByteArray, query);
        QFETCH(qint64, clockMove);
        QVERIFY(put(QStringLiteral("/d/a b.bin"), "secret bytes"));
        sim::setSharedClockOffsetSecs(clockMove);
        const Fetched f = fetch(*m_nam, url(encoded(QStringLiteral("/d/a b.bin")) + query));
        QVERIFY(f.finished);
        QCOMPARE(f.status, 403);
        QVERIFY(!f.body.contains("secret"));
        QCOMPARE(m_servers->forbiddenCount(), 1);
        QCOMPARE(m_servers->requestLines().size(), 1);
    }

    // Raw request paths, as a client could send them; the sign is valid each time.
    void onlyRegularFilesBelowRootAreServed_data()
    {
        QTest::addColumn<QByteArray>("rawPath");
        QTest::newRow("missing file") << QByteArray("/none.bin");
        QTest::newRow("answerNotFound on a file") << QByteArray("/gone.bin");
        QTest::newRow("folder") << QByteArray("/sub");
        QTest::newRow("dot dot") << QByteArray("/../secret.bin");
        QTest::newRow("encoded dot dot") << QByteArray("/sub/%2E%2E/%2e%2e/secret.bin");
        QTest::newRow("link leading out") << QByteArray("/sub/link.bin");
        QTest::newRow("fifo") << QByteArray("/sub/fifo");
        QTest::newRow("NUL in the path") << QByteArray("/gone.bin%00x");
    }
    void onlyRegularFilesBelowRootAreServed()
    {
        QFETCH(QByteArray, rawPath);
        QVERIFY(put(QStringLiteral("/gone.bin"), "here"));
        QVERIFY(put(QStringLiteral("/sub/ok.bin"), "here"));
        QFile secret(m_dir->filePath(QStringLiteral("secret.bin")));
        QVERIFY(secret.open(QIODevice::WriteOnly) && secret.write("secret") == 6);
        secret.close();
        QVERIFY(QFile::link(secret.fileName(), m_root + QStringLiteral("/sub/link.bin")));
        QCOMPARE(::mkfifo(QFile::encodeName(m_root + QStringLiteral("/sub/fifo")).constData(), 0600), 0);
        m_servers->answerNotFound(QStringLiteral("/gone.bin"));

        const QString t = tAfter(60);
        QTcpSocket s;
        const Raw r = exchange(s, httpPort(), get(rawPath + "?sign=" + sim::updateSign(Key, rawPath, t).toLatin1() +
                                                  "&t=" + t.toLatin1()));
        QVERIFY2(r.head().startsWith("HTTP/1.1 404"), r.head().constData());
        QCOMPARE(r.header("Content-Length"), QByteArray("0"));
        QVERIFY(r.closed);
        QCOMPARE(m_servers->forbiddenCount(), 0);
    }

    // Each Location carries its own sign: the unsigned follow-up, resolved against the address that
    // redirected, is served.
    void redirectCarriesAFreshSign_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("target");
        QTest::newRow("same folder") << "b.bin" << "/d/e/b.bin";
        QTest::newRow("up a folder") << "../x/b.bin" << "/d/x/b.bin";
        QTest::newRow("from the root") << "/x/b.bin" << "/x/b.bin";
        QTest::newRow("with a space") << "c d.bin" << "/d/e/c d.bin";
        QTest::newRow("absolute") << "http://127.0.0.1:PORT/x/b.bin" << "/x/b.bin";
    }
    void redirectCarriesAFreshSign()
    {
        QFETCH(QString, location);
        QFETCH(QString, target);
        location.replace(QLatin1String("PORT"), QString::number(httpPort()));
        QVERIFY(put(target, pattern(500, 9)));
        m_servers->redirect(QStringLiteral("/d/e/a.bin"), location);

        const QUrl first = url(signedTarget(QStringLiteral("/d/e/a.bin")));
        const Fetched hop = fetch(*m_nam, first);
        QCOMPARE(hop.status, 302);
        QVERIFY(hop.location.isValid());
        QCOMPARE(hop.location.isRelative(), !location.startsWith(QLatin1String("http:")));
        const QUrl next = first.resolved(hop.location);
        QCOMPARE(next.path(), target);
        const Fetched f = fetch(*m_nam, next);
        QCOMPARE(f.status, 200);
        QVERIFY(f.body == pattern(500, 9));
        QCOMPARE(m_servers->forbiddenCount(), 0);
    }

    void redirectChainIsSignedAtEveryHop()
    {
        QVERIFY(put(QStringLiteral("/end/file.bin"), "end"));
        m_servers->redirect(QStringLiteral("/a.bin"), QStringLiteral("hop/b.bin"));
        m_servers->redirect(QStringLiteral("/hop/b.bin"), QStringLiteral("../c.bin"));
        m_servers->redirect(QStringLiteral("/c.bin"),
                            QStringLiteral("http://%1/hop/d.bin").arg(m_servers->downloadHost()));
        m_servers->redirect(QStringLiteral("/hop/d.bin"), QStringLiteral("/end/file.bin"));
        QUrl at = url(signedTarget(QStringLiteral("/a.bin")));
        QStringList paths;
        Fetched f;
        for (int hop = 0; hop < 6; ++hop) {
            f = fetch(*m_nam, at);
            if (f.status != 302)
                break;
            at = at.resolved(f.location);
            paths << at.path();
        }
        QCOMPARE(paths, (QStringList{"/hop/b.bin", "/c.bin", "/hop/d.bin", "/end/file.bin"}));
        QCOMPARE(f.status, 200);
        QCOMPARE(f.body, QByteArray("end"));
        QCOMPARE(m_servers->forbiddenCount(), 0);
    }

    // A stall keeps the connection open with no body, until the servers stop.
    void stallSendsHeadersOnly()
    {
        QVERIFY(put(QStringLiteral("/s.bin"), pattern(4000, 1)));
        m_servers->stall(QStringLiteral("/s.bin"));
        QTcpSocket s;
        const Raw r = exchange(s, httpPort(), get(signedTarget(QStringLiteral("/s.bin"))), 400);
        QVERIFY2(r.head().startsWith("HTTP/1.1 200"), r.head().constData());
        QCOMPARE(r.header("Content-Length"), QByteArray("4000"));
        QCOMPARE(r.body(), QByteArray());
        QVERIFY(!r.closed);

        QElapsedTimer stop;
        stop.start();
        m_servers.reset();
        QVERIFY(stop.elapsed() < 2000);
        QVERIFY(s.state() == QAbstractSocket::UnconnectedState || s.waitForDisconnected(2000));
    }

    void cutShortSendsExactlyThatMuch_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::newRow("none") << 0;
        QTest::newRow("a few") << 10;
        QTest::newRow("past the first chunk") << 100000;
    }
    void cutShortSendsExactlyThatMuch()
    {
        QFETCH(int, bytes);
        const QByteArray whole = pattern(200000, 5);
        QVERIFY(put(QStringLiteral("/c.bin"), whole));
        m_servers->cutShort(QStringLiteral("/c.bin"), bytes);
        QTcpSocket s;
        const Raw r = exchange(s, httpPort(), get(signedTarget(QStringLiteral("/c.bin"))), 2000);
        QCOMPARE(r.header("Content-Length"), QByteArray("200000"));
        QVERIFY(r.closed);
        QCOMPARE(r.body().size(), bytes);
        QVERIFY(r.body() == whole.left(bytes));
    }

    void overlongRequestHeadIsRefused()
    {
        QTcpSocket s;
        const Raw r = exchange(s, httpPort(), "GET /" + QByteArray(20000, 'a'), 2000);
        QVERIFY2(r.bytes.startsWith("HTTP/1.1 431"), r.bytes.left(40).constData());
        QVERIFY(r.closed);
    }

    // Each of four daytime servers in its own mode, on a clock moved far from the system's.
    void daytimeServersAnswerByMode()
    {
        sim::setSharedClockOffsetSecs(-400 * 86400 + 3333);
        const QStringList hosts = m_servers->daytimeHosts();
        QCOMPARE(hosts.size(), 4);
        m_servers->setDaytimeMode(1, sim::DaytimeMode::Silence);
        m_servers->setDaytimeMode(2, sim::DaytimeMode::Garbage);
        m_servers->setDaytimeMode(3, sim::DaytimeMode::Close);

        QTcpSocket line;
        const Raw r0 = exchange(line, portOf(hosts[0]), QByteArray(), 2000);
        const QDateTime at = parseDaytime(r0.bytes);
        QVERIFY2(at.isValid(), r0.bytes.constData());
        QVERIFY(qAbs(at.secsTo(sim::sharedClockUtc())) <= 2);
        QVERIFY(r0.bytes.endsWith("\r\n"));
        QCOMPARE(r0.bytes.split(' ').value(0).toLongLong(), QDate(1858, 11, 17).daysTo(at.date()));
        QVERIFY(r0.closed);

        QTcpSocket silent;
        const Raw r1 = exchange(silent, portOf(hosts[1]), QByteArray(), 300);
        QCOMPARE(r1.bytes, QByteArray());
        QVERIFY(!r1.closed);

        QTcpSocket garbage;
        const Raw r2 = exchange(garbage, portOf(hosts[2]), QByteArray(), 2000);
        QVERIFY(!r2.bytes.isEmpty());
        QVERIFY(!parseDaytime(r2.bytes).isValid());

        QTcpSocket closing;
        const Raw r3 = exchange(closing, portOf(hosts[3]), QByteArray(), 2000);
        QCOMPARE(r3.bytes, QByteArray());
        QVERIFY(r3.closed);

        QTcpSocket again;
        exchange(again, portOf(hosts[0]), QByteArray(), 2000);
        QCOMPARE(m_servers->daytimeConnections(0), 2);
        for (int i = 1; i < 4; ++i)
            QCOMPARE(m_servers->daytimeConnections(i), 1);
    }

    void configNamesTheServersAndKey_data()
    {
        QTest::addColumn<QStringList>("timeServers");
        QTest::newRow("the daytime servers") << QStringList();
        QTest::newRow("given list") << QStringList{"127.0.0.1:1", "127.0.0.1"};
    }
    void configNamesTheServersAndKey()
    {
        QFETCH(QStringList, timeServers);
        const QString path = m_dir->filePath(QStringLiteral("config/UpdateServer.ini"));
        QVERIFY(m_servers->writeConfig(path, timeServers));
        QSettings ini(path, QSettings::IniFormat);
        ini.beginGroup(QStringLiteral("UpdateServer"));
        QCOMPARE(ini.value(QStringLiteral("Download")).toString(), m_servers->downloadHost());
        QCOMPARE(ini.value(QStringLiteral("Time")).toStringList(),
                 timeServers.isEmpty() ? m_servers->daytimeHosts() : timeServers);
        QCOMPARE(ini.value(QStringLiteral("Key")).toString().toLatin1(), Key);
    }
};

QTEST_GUILESS_MAIN(LocalUpdateServers)
#include "test_updateserver.moc"
