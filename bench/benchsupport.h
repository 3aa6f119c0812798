#pragma once
// What more than one benchmark reads.
#include <QByteArray>
#include <QFile>
#include <QString>

// VmRSS of a running process (this one: QCoreApplication::applicationPid()) in KiB, or -1.
inline long residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}
