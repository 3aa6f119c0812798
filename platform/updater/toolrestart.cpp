#include "toolrestart.h"

#include <QProcess>

bool ToolRestart::start(const QString& program, const QString& workingDir, qint64* pid)
{
    return QProcess::startDetached(program, {}, workingDir, pid);
}
