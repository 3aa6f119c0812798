#include "logrecorder.h"

#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex g_mutex;
QStringList g_lines;

void recordLine(QtMsgType, const QMessageLogContext&, const QString& text)
{
    QMutexLocker lock(&g_mutex);
    g_lines << text;
}
} // namespace

namespace logrecorder {

void start()
{
    {
        QMutexLocker lock(&g_mutex);
        g_lines.clear();
    }
    qInstallMessageHandler(recordLine);
}

void stop()
{
    qInstallMessageHandler(nullptr);
}

QStringList lines()
{
    QMutexLocker lock(&g_mutex);
    return g_lines;
}

} // namespace logrecorder
