#include "logrecorder.h"

#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex g_mutex;
QStringList g_lines;
QtMessageHandler g_previous = nullptr;

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
    const QtMessageHandler previous = qInstallMessageHandler(recordLine);
    if (previous != recordLine)
        g_previous = previous;
}

void stop()
{
    qInstallMessageHandler(g_previous);
    g_previous = nullptr;
}

QStringList lines()
{
    QMutexLocker lock(&g_mutex);
    return g_lines;
}

} // namespace logrecorder
