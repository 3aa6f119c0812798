#include "upgradelog.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
bool UpgradeLog::openFile(const QString& baseDir, const QString& folder, const QString& fileName)
{
    const QString folderPath = baseDir + QLatin1Char('/') + folder;
    const QString path = folderPath + QLatin1Char('/') + fileName;
    const QFileInfo folderInfo(folderPath);
    if (folderInfo.isSymLink() || (folderInfo.exists() && !folderInfo.isDir())
        || (!folderInfo.exists() && !QDir(baseDir).mkdir(folder))) {
        qWarning().noquote() << "the log folder is not a plain folder, not written:" << folderPath;
        return false;
    }
    const QFileInfo info(path);
    if (info.isSymLink() || (info.exists() && !info.isFile())) {
        qWarning().noquote() << "the log is not a regular file, not written:" << path;
        return false;
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qWarning().noquote() << "cannot open the log" << path << m_file.errorString();
        return false;
    }
    return true;
}
#else
bool UpgradeLog::openFile(const QString& baseDir, const QString& folder, const QString& fileName)
{
    const QString path = baseDir + QLatin1Char('/') + folder + QLatin1Char('/') + fileName;
    // Each step is opened from the one before with O_NOFOLLOW, so nothing swapped in meanwhile is
    // followed either.
    const int base = ::open(QFile::encodeName(baseDir).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (base < 0) {
        qWarning().noquote() << "cannot open the folder" << baseDir << qt_error_string();
        return false;
    }
    const QByteArray folderName = QFile::encodeName(folder);
    if (::mkdirat(base, folderName.constData(), 0777) != 0 && errno != EEXIST) {
        qWarning().noquote() << "cannot create the log folder" << path << qt_error_string();
        ::close(base);
        return false;
    }
    const int dir = ::openat(base, folderName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(base);
    if (dir < 0) {
        qWarning().noquote() << "the log folder is not a plain folder, not written:" << path << qt_error_string();
        return false;
    }
    const QByteArray name = QFile::encodeName(fileName);
    struct stat st {};
    // Something that is not a regular file is not even opened: opening a device may act on it.
    const bool other = ::fstatat(dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode);
    // O_NONBLOCK: a pipe put in its place meanwhile must not hold the updater up.
    const int fd = other ? -1
                         : ::openat(dir, name.constData(),
                                    O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    ::close(dir);
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        qWarning().noquote() << "the log is not a regular file, not written:" << path;
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, O_APPEND);
    if (!m_file.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
        qWarning().noquote() << "cannot open the log" << path << m_file.errorString();
        ::close(fd);
        return false;
    }
    return true;
}
#endif

void UpgradeLog::step(const UpgradeText& text)
{
    write(m_chinese ? text.chinese : text.english, false);
}

void UpgradeLog::failure(const UpgradeText& text)
{
    write(m_chinese ? text.chinese : text.english, true);
}

void UpgradeLog::write(const QString& line, bool failed)
{
    if (failed)
        qWarning().noquote() << line;
    else
        qInfo().noquote() << line;
    if (!m_file.isOpen())
        return;
    const QString stamped =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz ")) + line + QLatin1Char('\n');
    // Flushed per line: the log must show how far the updater got even if it is killed.
    m_file.write(stamped.toUtf8());
    m_file.flush();
}
