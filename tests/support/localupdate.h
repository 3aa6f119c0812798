#pragma once
// Local update servers for one test: the folder they serve and the file that names them to the tool.
#include "tempappdir.h"
#include "updateserver.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

struct LocalUpdate {
    static constexpr const char* Key = "tessark5f1c0a9e3b7d24c68e0f1a2b3c4d5e6f7"; // the key the known-time signature was computed with

    explicit LocalUpdate(int daytimeCount = 1) : servers(root.path(), Key, daytimeCount) {}
    ~LocalUpdate() { qunsetenv("TESSARK_UPDATE_CONFIG"); }

    // Starts the servers and names them in config, the file TESSARK_UPDATE_CONFIG then names.
    bool start(const QString& config, const QStringList& timeServers = QStringList())
    {
        if (!servers.start() || !servers.writeConfig(config, timeServers))
            return false;
        qputenv("TESSARK_UPDATE_CONFIG", QFile::encodeName(config));
        return true;
    }
    // A file the download server offers under link ("/a/b.bin").
    bool offer(const QString& link, const QByteArray& content) const { return root.write(link.mid(1), content); }

    TempAppDir root;
    sim::UpdateServers servers;
};

// Every file below appDir other than config/ and log/: what downloads left there.
inline QStringList downloadedFiles(const QString& appDir)
{
    QStringList files;
    QDirIterator it(appDir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir(appDir).relativeFilePath(it.next());
        if (!path.startsWith(QLatin1String("config/")) && !path.startsWith(QLatin1String("log/")))
            files << path;
    }
    return files;
}
