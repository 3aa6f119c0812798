#include "memoryuse.h"

#include <QFile>
#include <QRegularExpression>

namespace {

// A "Name:   1234 kB" line of /proc/self/status, in bytes.
qint64 statusField(const char* name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    const QRegularExpression line(QStringLiteral("^%1:\\s*(\\d+) kB$").arg(QLatin1String(name)),
                                  QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toLongLong() * 1024 : -1;
}

} // namespace

namespace memoryuse {

qint64 residentBytes() { return statusField("VmRSS"); }

qint64 peakResidentBytes() { return statusField("VmHWM"); }

bool resetPeak()
{
    // "5" resets the peak resident size to the present one.
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

} // namespace memoryuse
