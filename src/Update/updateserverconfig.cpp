#include "updateserverconfig.h"

#include "widget/qss.h"

#include <QDebug>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSettings>

namespace {

const QString Group = QStringLiteral("UpdateServer");
const QString DownloadKey = QStringLiteral("Download");
const QString TimeKey = QStringLiteral("Time");
const QString SigningKeyKey = QStringLiteral("Key");

// Used when the file names no key of its own: seven lower-case letters, then 33 hexadecimal digits.
const char BuiltInSigningKey[] = "wbqnxtd53ea76ff5f9e8683a57576b6f6980ac7c";
static_assert(sizeof(BuiltInSigningKey) - 1 == UpdateServerConfig::SigningKeyLength, "signing key length");

// A key goes into a URL signature as Latin-1 text: printable ASCII without spaces only.
bool isUsableKey(const QByteArray& key)
{
    if (key.size() != UpdateServerConfig::SigningKeyLength)
        return false;
    for (char c : key) {
        if (c <= ' ' || c > '~')
            return false;
    }
    return true;
}

} // namespace

UpdateServerConfig::UpdateServerConfig() : signingKey(BuiltInSigningKey) {}

QString UpdateServerConfig::path()
{
    const QByteArray env = qgetenv("TESSARK_UPDATE_CONFIG");
    return env.isEmpty() ? appDirPath() + QStringLiteral("/config/UpdateServer.ini") : QString::fromLocal8Bit(env);
}

UpdateServerConfig UpdateServerConfig::load() { return load(path()); }

UpdateServerConfig UpdateServerConfig::load(const QString& path)
{
    UpdateServerConfig config;
    const QFileInfo info(path);
    // Only a regular file: never a FIFO or a device that would block or never end.
    if (!info.isFile()) {
        qDebug() << __LINE__ << "UpdateServer: no configuration file" << path;
        return config;
    }
    if (info.size() > MaxFileSize) {
        qWarning() << __LINE__ << "UpdateServer: configuration file too large, no server used" << path;
        return config;
    }

    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        qWarning() << __LINE__ << "UpdateServer: configuration file unreadable, no server used" << path;
        return config;
    }
    settings.beginGroup(Group);

    QString host;
    quint16 port = 0;
    const QString download = settings.value(DownloadKey).toString().trimmed();
    if (splitHostPort(download, HttpPort, &host, &port))
        config.downloadServer = download;
    else if (!download.isEmpty())
        qWarning() << __LINE__ << "UpdateServer: download server ignored" << download;

    const QStringList times = settings.value(TimeKey).toStringList();
    for (const QString& raw : times) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty())
            continue;
        if (config.timeServers.size() == MaxTimeServers) {
            qWarning() << __LINE__ << "UpdateServer: more than" << MaxTimeServers << "time servers, the rest ignored";
            break;
        }
        if (splitHostPort(entry, DaytimePort, &host, &port))
            config.timeServers << entry;
        else
            qWarning() << __LINE__ << "UpdateServer: time server ignored" << entry;
    }

    if (settings.contains(SigningKeyKey)) {
        const QByteArray key = settings.value(SigningKeyKey).toString().toLatin1();
        // The key itself is secret: only that it was refused is logged.
        if (isUsableKey(key))
            config.signingKey = key;
        else
            qWarning() << __LINE__ << "UpdateServer: signing key is not 40 printable characters, built-in key used";
    }
    settings.endGroup();

    qDebug() << __LINE__ << "UpdateServer: download server" << config.downloadServer << "time servers"
             << config.timeServers;
    return config;
}

bool UpdateServerConfig::splitHostPort(const QString& entry, quint16 defaultPort, QString* host, quint16* port)
{
    QString name;
    QString portText;
    bool hasPort = false;
    if (entry.startsWith(QLatin1Char('['))) {
        const int close = entry.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        name = entry.mid(1, close - 1);
        const QString rest = entry.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return false;
            hasPort = true;
            portText = rest.mid(1);
        }
        if (QHostAddress(name).protocol() != QAbstractSocket::IPv6Protocol)
            return false;
    } else {
        const int colon = entry.indexOf(QLatin1Char(':'));
        name = colon < 0 ? entry : entry.left(colon);
        if (colon >= 0) {
            hasPort = true;
            portText = entry.mid(colon + 1);
        }
        // Letters, digits, '-' and '.' only: a name or an IPv4 address, nothing a URL would read as more.
        static const QRegularExpression hostName(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9.-]{0,252}$"));
        if (!hostName.match(name).hasMatch())
            return false;
    }
    quint16 value = defaultPort;
    if (hasPort) {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
        if (!digits.match(portText).hasMatch())
            return false;
        const uint number = portText.toUInt();
        if (number == 0 || number > 65535)
            return false;
        value = quint16(number);
    }
    if (host)
        *host = name;
    if (port)
        *port = value;
    return true;
}
