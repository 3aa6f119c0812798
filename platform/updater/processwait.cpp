#include "processwait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#ifdef Q_OS_LINUX
#include <climits>
#include <fcntl.h>
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

int ProcessWait::timeoutFromEnvironment(const char* variable, int defaultMs)
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue(variable, &ok);
    return ok && ms >= 0 && ms <= 600000 ? ms : defaultMs;
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
namespace {

// Whether the command line of process pid holds argument (the program's own name included).
bool hasArgument(const QString& pid, const QString& argument)
{
    const QByteArray path = QByteArrayLiteral("/proc/") + pid.toLatin1() + QByteArrayLiteral("/cmdline");
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Read whole up to a bound (procfs gives it in pieces); a longer one is not the updater's.
    QByteArray line(64 * 1024, '\0');
    int size = 0;
    ssize_t n = 0;
    while (size < line.size() && (n = ::read(fd, line.data() + size, size_t(line.size() - size))) > 0)
        size += int(n);
    ::close(fd);
    line.truncate(size);
    return line.split('\0').contains(QFile::encodeName(argument));
}

} // namespace

bool ProcessWait::isRunning(const QString& withArgument) const
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
        const bool itsExecutable = target == wanted || target == wantedReplaced;
        if (itsExecutable && (withArgument.isEmpty() || hasArgument(pid, withArgument)))
            return true;
    }
    return false;
}
#else
bool ProcessWait::isRunning(const QString&) const
{
    // Not looked up on other systems yet: the tool quits right after starting the updater, and a
    // replacement that meets it still running fails at the rename and is logged.
    return false;
}
#endif
