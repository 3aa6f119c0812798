#pragma once
// Where the online update fetches from: the download server, the daytime servers and the signing key,
// read from config/UpdateServer.ini (or the file TESSARK_UPDATE_CONFIG names).
#include <QByteArray>
#include <QString>
#include <QStringList>

struct UpdateServerConfig {
    // host[:port]; empty when no server is configured (as shipped).
    QString downloadServer;
    // host[:port] each (port 13 when none is given), seven at most, in the order asked.
    QStringList timeServers;
    // 40 characters; the compiled-in one when the file gives none. Never logged.
    QByteArray signingKey;

    static constexpr int MaxTimeServers = 7;
    static constexpr quint16 DaytimePort = 13;
    static constexpr quint16 HttpPort = 80;
    static constexpr int SigningKeyLength = 40;
    // A configuration file is a few lines; anything larger is not one.
    static constexpr qint64 MaxFileSize = 64 * 1024;

    UpdateServerConfig();

    // TESSARK_UPDATE_CONFIG, else appDirPath() + "/config/UpdateServer.ini"; missing file: no server.
    static QString path();
    static UpdateServerConfig load();
    static UpdateServerConfig load(const QString& path);

    // Splits "host[:port]" (an IPv6 address in brackets); false for anything else, such as a path, a
    // user name or a port outside 1 to 65535.
    static bool splitHostPort(const QString& entry, quint16 defaultPort, QString* host, quint16* port);
};
