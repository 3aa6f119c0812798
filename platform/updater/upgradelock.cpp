#include "upgradelock.h"

#include "platform/updaternames.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
constexpr unsigned long PollMs = 100;
} // namespace

UpgradeLock::UpgradeLock(const QString& appDir)
    : m_appDir(QDir::cleanPath(appDir)), m_path(m_appDir + QLatin1Char('/') + UpdaterNames::lock())
{
}

UpgradeLock::~UpgradeLock() { release(); }

bool UpgradeLock::acquire(int timeoutMs, UpgradeLog& log)
{
    const QDeadlineTimer deadline(timeoutMs);
    bool told = false;
    for (;;) {
        bool held = false;
        if (tryOnce(&held))
            return true;
        m_heldByAnother = held;
        if (!held) {
            log.failure({QStringLiteral("无法锁定 %1（不是普通文件或无法创建），未更改任何文件").arg(m_path),
                         QStringLiteral("cannot take the lock %1 (not a regular file, or it cannot be made); "
                                        "nothing changed")
                             .arg(m_path)});
            return false;
        }
        if (deadline.hasExpired()) {
            log.failure({QStringLiteral("%1 毫秒后锁 %2 仍被另一个进程持有，未更改任何文件").arg(timeoutMs).arg(m_path),
                         QStringLiteral("the lock %1 is still held by another process after %2 ms; nothing changed")
                             .arg(m_path)
                             .arg(timeoutMs)});
            return false;
        }
        if (!told) {
            log.step({QStringLiteral("另一个升级程序正在运行：等待其结束（最多 %1 毫秒）").arg(timeoutMs),
                      QStringLiteral("another updater is running: waiting for it to end (at most %1 ms)").arg(timeoutMs)});
            told = true;
        }
        QThread::msleep(PollMs);
    }
}

#ifdef Q_OS_WIN
bool UpgradeLock::tryOnce(bool* held)
{
    // No sharing: a second open fails while this handle lives; the file goes with the last handle.
    HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(m_path).utf16()),
                           GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
        return false;
    }
    m_handle = h;
    return true;
}

bool UpgradeLock::stillHeld() const { return m_handle != nullptr; }

void UpgradeLock::release()
{
    if (m_handle)
        CloseHandle(static_cast<HANDLE>(m_handle));
    m_handle = nullptr;
}
#else
bool UpgradeLock::tryOnce(bool* held)
{
    *held = false;
    if (m_dirFd < 0) {
        m_dirFd = ::open(QFile::encodeName(m_appDir).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (m_dirFd < 0)
            return false;
    }
    if (!m_dirLocked && !m_fileOnly) {
        if (::flock(m_dirFd, LOCK_EX | LOCK_NB) != 0) {
            *held = errno == EWOULDBLOCK || errno == EINTR;
            if (*held)
                return false;
            // A file system that locks no folder (a network share may not): the file's lock alone, and
            // the check of its name before each file.
            m_fileOnly = true;
        } else if (!folderStillNamed()) {
            // A folder moved away meanwhile: a lock on it keeps out nobody who comes by its path.
            release();
            return false;
        } else {
            m_dirLocked = true;
        }
    }
    if (m_fd < 0) {
        // Never through a link; O_NONBLOCK: a pipe in its place does not hold the updater up.
        const int fd = ::open(QFile::encodeName(m_path).constData(),
                              O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
        struct stat opened {};
        if (fd < 0 || ::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        m_fd = fd;
    }
    // Kept open while waiting: the same file is tried again until its name leads elsewhere. With the
    // folder locked, its holder is no updater of this folder.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        *held = errno == EWOULDBLOCK || errno == EINTR;
        if (!*held || !stillNamed())
            close();
        return false;
    }
    // Its holder removed it as it ended, or another file took the name meanwhile (whose holder may be
    // at work now): this lock is on a file nobody else looks at.
    if (!stillNamed()) {
        close();
        *held = true;
        return false;
    }
    m_locked = true;
    return true;
}

namespace {
// Whether path still names the file or folder fd has open: a rename over it would make it another.
bool stillAt(int fd, const QString& path)
{
    struct stat opened {};
    struct stat named {};
    return fd >= 0 && ::fstat(fd, &opened) == 0 && ::lstat(QFile::encodeName(path).constData(), &named) == 0
           && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}
} // namespace

bool UpgradeLock::stillNamed() const { return stillAt(m_fd, m_path); }

bool UpgradeLock::folderStillNamed() const { return stillAt(m_dirFd, m_appDir); }

bool UpgradeLock::stillHeld() const
{
    return (m_dirLocked || m_fileOnly) && m_locked && folderStillNamed() && stillNamed();
}

void UpgradeLock::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_locked = false;
}

void UpgradeLock::release()
{
    // Removed while still held, so a process that opened it meanwhile sees it is gone; a file that took
    // its name is another's, and stays.
    if (m_locked && stillNamed())
        ::unlink(QFile::encodeName(m_path).constData());
    close();
    if (m_dirFd >= 0)
        ::close(m_dirFd); // lets the folder go last: a waiting updater finds the file gone
    m_dirFd = -1;
    m_dirLocked = false;
}
#endif
