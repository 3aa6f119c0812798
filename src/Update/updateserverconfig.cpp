#include "updateserverconfig.h"

#include "widget/qss.h"

QString UpdateServerConfig::path()
{
    const QByteArray env = qgetenv("TESSARK_UPDATE_CONFIG");
    return env.isEmpty() ? appDirPath() + QStringLiteral("/config/UpdateServer.ini") : QString::fromLocal8Bit(env);
}

UpdateServerConfig UpdateServerConfig::load() { return load(path()); }
UpdateServerConfig UpdateServerConfig::load(const QString&) { return UpdateServerConfig(); }
bool UpdateServerConfig::write(const QString&, const QString&, const QStringList&, const QByteArray&) { return false; }
