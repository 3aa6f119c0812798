#include "upgradelock.h"

#include "platform/updaternames.h"
#include "testpause.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <vector>

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
    const auto movedAway = [&] {
        log.failure({QStringLiteral("等待锁期间应用程序目录 %1 被移走，未更改任何文件").arg(m_appDir),
                     QStringLiteral("the application folder %1 was moved away while the updater waited for its "
                                    "lock; nothing changed")
                         .arg(m_appDir)});
        return false;
    };
    for (;;) {
        bool held = false;
        if (tryOnce(&held))
            return true;
        m_heldByAnother = held;
        if (folderMoved())
            return movedAway();
        if (!held) {
            log.failure({QStringLiteral("无法锁定 %1（不是普通文件或无法创建），未更改任何文件").arg(m_path),
                         QStringLiteral("cannot take the lock %1 (not a regular file, or it cannot be made); "
                                        "nothing changed")
                             .arg(m_path)});
            return false;
        }
        if (deadline.hasExpired()) {
            // Moved away while another kept it past the wait: the folder this run leaves its notice in,
            // and whose tool it starts, is where it is now, not what took its path.
            if (movedWhileHeld())
                return movedAway();
            log.failure({QStringLiteral("%1 毫秒后锁 %2 仍被另一个进程持有，未更改任何文件").arg(QString::number(timeoutMs), m_path),
                         QStringLiteral("the lock %1 is still held by another process after %2 ms; nothing changed")
                             .arg(m_path, QString::number(timeoutMs))});
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
    *held = false;
    const std::wstring path = QDir::toNativeSeparators(m_path).toStdWString();
    // No sharing: a second open fails while this handle lives, and no one renames over it meanwhile.
    // A link is opened itself, never followed.
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A folder, a read-only file or a link in the name cannot be locked at all: told at once. A file
        // another process holds, or one being removed as its holder ends, is waited for.
        const DWORD attributes = GetFileAttributesW(path.c_str());
        const bool unlockable = attributes != INVALID_FILE_ATTRIBUTES
                                && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT));
        *held = !unlockable && (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info {};
    const bool plain = GetFileInformationByHandle(h, &info) && info.nNumberOfLinks == 1
                       && !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    if (!plain) { // opened, but not a file of ours: let go, untouched
        CloseHandle(h);
        return false;
    }
    m_handle = h;
    m_ours = true;
    return true;
}

bool UpgradeLock::stillHeld() const { return m_handle != nullptr; }
bool UpgradeLock::folderMoved() const { return false; }
bool UpgradeLock::movedWhileHeld() { return false; }
int UpgradeLock::folderFd() const { return -1; }

void UpgradeLock::release()
{
    if (m_handle && m_ours) {
        // Removed through the handle it holds: only the file this run locked, never what a name leads to.
        FILE_DISPOSITION_INFO disposition {};
        disposition.DeleteFile = TRUE;
        SetFileInformationByHandle(static_cast<HANDLE>(m_handle), FileDispositionInfo, &disposition, sizeof disposition);
    }
    if (m_handle)
        CloseHandle(static_cast<HANDLE>(m_handle));
    m_handle = nullptr;
    m_ours = false;
}
#else
namespace {
bool inGroups(gid_t gid)
{
    if (gid == ::getegid())
        return true;
    std::vector<gid_t> groups(size_t(qMax(::getgroups(0, nullptr), 0)));
    if (!groups.empty())
        groups.resize(size_t(qMax(::getgroups(int(groups.size()), groups.data()), 0)));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// Whether st's mode bits let this process read and write the file, as open() decides for every user
// but root, who passes those checks: a lock file made read-only is one nobody's run may take.
bool modeLetsReadWrite(const struct stat& st)
{
    const mode_t bits = st.st_uid == ::geteuid() ? (st.st_mode >> 6) & 07
                        : inGroups(st.st_gid)     ? (st.st_mode >> 3) & 07
                                                  : st.st_mode & 07;
    return (bits & 06) == 06;
}
} // namespace

bool UpgradeLock::tryOnce(bool* held)
{
    *held = false;
    if (m_dirFd < 0) {
        m_dirFd = ::open(QFile::encodeName(m_appDir).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (m_dirFd < 0)
            return false;
    }
    if (!m_dirLocked && !m_fileOnly) {
        if (TestPause::foldersLockNot() || ::flock(m_dirFd, LOCK_EX | LOCK_NB) != 0) {
            *held = !TestPause::foldersLockNot() && (errno == EWOULDBLOCK || errno == EINTR);
            if (*held)
                return false;
            // A file system that locks no folder (a network share may not): the file's lock alone, and
            // the check of its name before each file.
            m_fileOnly = true;
        } else if (!folderStillNamed()) {
            // A folder moved away meanwhile: a lock on it keeps out nobody who comes by its path, and
            // what took the path is not the folder this run was asked to update.
            m_moved = true;
            return false;
        } else {
            m_dirLocked = true;
        }
    }
    if (m_fd < 0) {
        // In the folder opened above, never through a link; O_NONBLOCK: a pipe in its place does not
        // hold the updater up.
        const int fd = ::openat(m_dirFd, QFile::encodeName(UpdaterNames::lock()).constData(),
                                O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
        struct stat opened {};
        if (fd < 0 || ::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || !modeLetsReadWrite(opened)) {
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
    // Where the folder is not locked, it may have moved while this run waited for the file.
    if (!folderStillNamed()) {
        close();
        m_moved = true;
        return false;
    }
    m_locked = true;
    return true;
}

namespace {
// Whether name in the folder at (a descriptor, or AT_FDCWD for a path) still names the file or folder
// fd has open: a rename over it would make it another.
bool stillAt(int fd, int at, const QString& name)
{
    struct stat opened {};
    struct stat named {};
    return fd >= 0 && ::fstat(fd, &opened) == 0
           && ::fstatat(at, QFile::encodeName(name).constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
           && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}
} // namespace

bool UpgradeLock::stillNamed() const { return m_dirFd >= 0 && stillAt(m_fd, m_dirFd, UpdaterNames::lock()); }

bool UpgradeLock::folderStillNamed() const { return stillAt(m_dirFd, AT_FDCWD, m_appDir); }

bool UpgradeLock::folderMoved() const { return m_moved || (m_locked && !folderStillNamed()); }

bool UpgradeLock::movedWhileHeld()
{
    m_moved = m_moved || (m_dirFd >= 0 && !folderStillNamed());
    return m_moved;
}

int UpgradeLock::folderFd() const { return m_dirFd; }

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
        ::unlinkat(m_dirFd, QFile::encodeName(UpdaterNames::lock()).constData(), 0);
    close();
    if (m_dirFd >= 0)
        ::close(m_dirFd); // lets the folder go last: a waiting updater finds the file gone
    m_dirFd = -1;
    m_dirLocked = false;
}
#endif
