#include "regularfile.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace RegularFile {

namespace {

void logRefusal(const QString& path, const QString& why)
{
    qWarning().noquote() << QStringLiteral("File refused: \"%1\": not a regular file (%2)").arg(path, why);
}

#ifdef Q_OS_UNIX
QString modeProblem(mode_t mode)
{
    if (S_ISREG(mode))
        return QString();
    if (S_ISDIR(mode))
        return QStringLiteral("a directory");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a file");
}
#endif

} // namespace

QString kindProblem(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("missing");
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::stat(name.constData(), &st) != 0)
        return ::lstat(name.constData(), &st) == 0 ? QStringLiteral("a link that leads nowhere")
                                                  : QStringLiteral("missing");
    return modeProblem(st.st_mode);
#else
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("missing");
    if (info.isDir())
        return QStringLiteral("a directory");
    return info.isFile() ? QString() : QStringLiteral("not a file");
#endif
}

bool openForReading(QFile* file, const QString& path, QString* why)
{
    QString problem;
#ifdef Q_OS_UNIX
    // Non-blocking, so opening a FIFO returns at once (and a terminal never becomes the controlling
    // one); the descriptor then tells what was opened.
    int fd = -1;
    do {
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        problem = errno == ENOENT ? kindProblem(path) : qt_error_string(errno);
        if (why)
            *why = problem;
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0)
        problem = QStringLiteral("no status");
    else
        problem = modeProblem(st.st_mode);
    if (problem.isEmpty()) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1)
            problem = QStringLiteral("descriptor flags");
    }
    if (!problem.isEmpty()) {
        ::close(fd);
        logRefusal(path, problem);
        if (why)
            *why = problem;
        return false;
    }
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (why)
            *why = file->errorString();
        return false;
    }
    return true;
#else
    problem = kindProblem(path);
    if (!problem.isEmpty()) {
        if (problem != QLatin1String("missing"))
            logRefusal(path, problem);
        if (why)
            *why = problem;
        return false;
    }
    file->setFileName(path);
    if (!file->open(QIODevice::ReadOnly)) {
        if (why)
            *why = file->errorString();
        return false;
    }
    return true;
#endif
}

} // namespace RegularFile
