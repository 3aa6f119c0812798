#include "localservername.h"

#include <QDir>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

QString userLocalServerName(const QString& executableFileName)
{
#ifdef Q_OS_UNIX
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty())
        return QDir(runtimeDir).filePath(executableFileName);
    return QDir(QDir::tempPath()).filePath(executableFileName + QLatin1Char('-') + QString::number(::getuid()));
#else
    // Named pipes are per session already; the name alone is what Qt expects.
    return executableFileName;
#endif
}
