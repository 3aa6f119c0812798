#include "processwait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#ifdef Q_OS_LINUX
#include <climits>
#include <unistd.h>
#endif

ProcessWait::ProcessWait(const QString& executablePath)
{
    const QFileInfo info(executablePath);
    m_executable = info.canonicalFilePath();
    if (m_executable.isEmpty()) { // gone already: its folder still resolves
        const QString dir = QFileInfo(info.absolutePath()).canonicalFilePath();
        m_executable = QDir::cleanPath((dir.isEmpty() ? info.absolutePath() : dir) + QLatin1Char('/') + info.fileName());
    }
}

int ProcessWait::timeoutFromEnvironment()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("TESSARK_UPGRADE_WAIT_MS", &ok);
    return ok && ms >= 0 && ms <= 600000 ? ms : DefaultTimeoutMs;
}

bool ProcessWait::waitUntilGone(int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    while (isRunning()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(static_cast<unsigned long>(qBound<qint64>(1, deadline.remainingTime(), PollMs)));
    }
    return true;
}

#ifdef Q_OS_LINUX
bool ProcessWait::isRunning() const
{
    const QByteArray wanted = QFile::encodeName(m_executable);
    // A binary renamed over or deleted while it runs is named with this suffix.
    const QByteArray wantedReplaced = wanted + " (deleted)";
    const QString self = QString::number(QCoreApplication::applicationPid());
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : entries) {
        if (pid == self || pid.isEmpty() || !pid.at(0).isDigit())
            continue;
        char link[PATH_MAX + 1];
        const QByteArray exe = QByteArrayLiteral("/proc/") + pid.toLatin1() + QByteArrayLiteral("/exe");
        // Fails for processes of other users, kernel threads and zombies: none of them runs our tool.
        const ssize_t n = ::readlink(exe.constData(), link, PATH_MAX);
        if (n <= 0)
            continue;
        const QByteArray target(link, int(n));
        if (target == wanted || target == wantedReplaced)
            return true;
    }
    return false;
}
#else
bool ProcessWait::isRunning() const
{
    // Not looked up on other systems yet: the tool quits right after starting the updater, and a
    // replacement that meets it still running fails at the rename and is logged.
    return false;
}
#endif
