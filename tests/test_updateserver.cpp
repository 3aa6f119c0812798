// The local download server's check of each request's sign (MD5 of key, encoded path and t, t not yet
// past on the shared clock): anything else is refused with 403 and the file is not sent.
#include "localupdate.h"
#include "timescale.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

class LocalUpdateServers : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { sim::setSharedClockOffsetSecs(0); }

    void signIsChecked_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<qint64>("clockMove");
        QTest::addColumn<int>("status");
        const QByteArray key = LocalUpdate::Key;
        const QString path = QStringLiteral("/d/a b.bin");
        const QByteArray p = QUrl::toPercentEncoding(path, "/");
        const QString t = QString::number(QDateTime::currentSecsSinceEpoch() + 60, 16);
        const QString past = QString::number(QDateTime::currentSecsSinceEpoch() - 1, 16);
        auto q = [](const QString& sign, const QString& t) { return ("?sign=" + sign + "&t=" + t).toLatin1(); };
        QTest::newRow("valid") << q(sim::updateSign(key, p, t), t) << qint64(0) << 200;
        QTest::newRow("wrong key") << q(sim::updateSign("x" + key.mid(1), p, t), t) << qint64(0) << 403;
        QTest::newRow("t already past") << q(sim::updateSign(key, p, past), past) << qint64(0) << 403;
        QTest::newRow("clock moved past t") << q(sim::updateSign(key, p, t), t) << qint64(120) << 403;
        QTest::newRow("sign over the decoded path") << q(sim::updateSign(key, path.toUtf8(), t), t) << qint64(0) << 403;
        QTest::newRow("sign in upper case") << q(sim::updateSign(key, p, t).toUpper(), t) << qint64(0) << 403;
        QTest::newRow("t not hex") << q(sim::updateSign(key, p, t + "z"), t + "z") << qint64(0) << 403;
        QTest::newRow("no sign") << ("?t=" + t).toLatin1() << qint64(0) << 403;
        QTest::newRow("no query") << QByteArray() << qint64(0) << 403;
    }
    void signIsChecked()
    {
        QFETCH(QByteArray, query);
        QFETCH(qint64, clockMove);
        QFETCH(int, status);
        LocalUpdate local;
        QVERIFY(local.servers.start());
        QVERIFY(local.offer(QStringLiteral("/d/a b.bin"), "secret bytes"));
        sim::setSharedClockOffsetSecs(clockMove);
        QNetworkAccessManager nam;
        nam.setProxy(QNetworkProxy::NoProxy);
        const QByteArray url = "http://" + local.servers.downloadHost().toLatin1() + "/d/a%20b.bin" + query;
        std::unique_ptr<QNetworkReply> reply(nam.get(QNetworkRequest(QUrl::fromEncoded(url, QUrl::StrictMode))));
        QVERIFY(QSignalSpy(reply.get(), &QNetworkReply::finished).wait(timescale::ms(10000)));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
        QCOMPARE(reply->readAll().contains("secret"), status == 200);
        QCOMPARE(local.servers.forbiddenCount(), status == 403 ? 1 : 0);
        QCOMPARE(local.servers.requestLines().size(), 1);
    }
};

QTEST_GUILESS_MAIN(LocalUpdateServers)
#include "test_updateserver.moc"
