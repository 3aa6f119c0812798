#include "instancelock.h"

#include "heldfolder.h"
#include "updaternames.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QThread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
// How often a running copy looks whether its file still stands at the name.
constexpr unsigned long KeepPollMs = 100;
// A held file at the name younger than this may be one a start is still waiting on: a running copy
// that lost the name puts its own over it.
constexpr qint64 YoungMs = 500;
// How long a file must have stood at the name before a start takes it: well past YoungMs, so a running
// copy that lost the name has put its own back by then.
constexpr qint64 SettleMs = 2 * YoungMs;
// A start gives up when the name changes under it this often.
constexpr int MaxTries = 4;
} // namespace

InstanceLock::InstanceLock(const QString& folder)
    : m_folder(std::make_unique<HeldFolder>(folder)), m_path(QDir(folder).filePath(UpdaterNames::instanceLock()))
{
}

InstanceLock::~InstanceLock()
{
    if (m_keeper) {
        m_keeper->requestInterruption();
        m_keeper->wait();
        delete m_keeper;
    }
}

QString InstanceLock::path() const
{
    return QDir(m_folder->path()).filePath(UpdaterNames::instanceLock());
}

InstanceLock::State InstanceLock::unusable(const QString& why)
{
    closeHandle();
    m_why = why;
    return State::Unusable;
}

void InstanceLock::warnOnce(const QString& text)
{
    if (text == m_lastWarning)
        return;
    m_lastWarning = text;
    qWarning().noquote() << text;
}

#ifdef Q_OS_WIN
void InstanceLock::closeHandle()
{
    if (m_handle != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
}

bool InstanceLock::stillNamed() const { return m_handle != -1; }

InstanceLock::State InstanceLock::take()
{
    if (m_handle == -1) {
        // Opened without sharing its deletion: nobody removes or renames the file while a copy holds it
        // open. Not inherited by the programs the tool starts.
        const QString native = QDir::toNativeSeparators(m_path);
        const HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t*>(native.utf16()), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                          FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return unusable(QStringLiteral("error %1").arg(::GetLastError()));
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(file, &info)
            || (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
            ::CloseHandle(file);
            return unusable(QStringLiteral("not a regular file"));
        }
        m_handle = reinterpret_cast<qintptr>(file);
    }
    OVERLAPPED whole{};
    if (::LockFileEx(reinterpret_cast<HANDLE>(m_handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                     &whole))
        return State::Taken;
    const DWORD error = ::GetLastError();
    return error == ERROR_LOCK_VIOLATION ? State::HeldElsewhere : unusable(QStringLiteral("error %1").arg(error));
}

void InstanceLock::keep() {} // the open file cannot leave its name
void InstanceLock::keepOnce() {}
#else
namespace {
bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// How long ago the file came to its name (a rename or a new link changes its status time too); below
// zero when the clock went back.
qint64 ageMs(const struct stat& st)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return (qint64(now.tv_sec) - qint64(st.st_ctim.tv_sec)) * 1000 + (now.tv_nsec - st.st_ctim.tv_nsec) / 1000000;
}

int lockOnce(int fd)
{
    int locked;
    do
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    return locked;
}

QString systemWords(int error) { return QString::fromLocal8Bit(std::strerror(error)); }
} // namespace

void InstanceLock::closeHandle()
{
    if (m_handle >= 0)
        ::close(int(m_handle));
    m_handle = -1;
}

namespace {
QByteArray lockName() { return QFile::encodeName(UpdaterNames::instanceLock()); }

// What stands at the name in the folder, the name itself when a link.
bool statAt(int folder, const QByteArray& name, struct stat* info)
{
    return ::fstatat(folder, name.constData(), info, AT_SYMLINK_NOFOLLOW) == 0;
}
} // namespace

bool InstanceLock::stillNamed() const
{
    struct stat opened {};
    struct stat named {};
    return m_handle >= 0 && ::fstat(int(m_handle), &opened) == 0 && statAt(m_folder->handle(), lockName(), &named)
           && sameFile(opened, named);
}

InstanceLock::State InstanceLock::take()
{
    if (!m_folder->isOpen())
        return unusable(m_folder->error());
    const int folder = m_folder->handle();
    const QByteArray name = lockName();
    for (int tries = 0; tries < MaxTries; ++tries) {
        if (m_handle < 0) {
            // Opened and locked, never written: no link is followed, a pipe at the name does not hold the
            // start up, and the programs the tool starts do not inherit it.
            const int fd = ::openat(folder, name.constData(),
                                    O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
            if (fd < 0)
                return unusable(errno == ELOOP ? QStringLiteral("a link stands at its name") : systemWords(errno));
            struct stat info {};
            // Another user's file would let that user hold the lock for us.
            if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
                ::close(fd);
                return unusable(QStringLiteral("it is not a regular file of this user's own"));
            }
            m_handle = fd;
        }
        if (lockOnce(int(m_handle)) != 0) {
            if (errno != EWOULDBLOCK)
                return unusable(systemWords(errno));
            if (stillNamed())
                return State::HeldElsewhere;
            closeHandle(); // the file held open left the name: the one there now decides
            continue;
        }
        struct stat named {};
        if (!stillNamed() || !statAt(folder, name, &named)) {
            closeHandle(); // taken from under another name, or none: the name holds something else now
            continue;
        }
        const qint64 age = ageMs(named);
        if (age < SettleMs) {
            QThread::msleep((unsigned long)(age < 0 ? SettleMs : SettleMs - age));
            if (!stillNamed()) { // a running copy put its own back: found held on the next try
                closeHandle();
                continue;
            }
        }
        return State::Taken;
    }
    return unusable(QStringLiteral("the file at its name keeps being replaced"));
}

void InstanceLock::keep()
{
    if (m_keeper || m_handle < 0)
        return;
    m_keeper = QThread::create([this] {
        while (!QThread::currentThread()->isInterruptionRequested()) {
            QThread::msleep(KeepPollMs);
            keepOnce();
        }
    });
    m_keeper->start(QThread::LowPriority);
}

void InstanceLock::keepOnce()
{
    if (stillNamed())
        return;
    // Every name is looked up in the folder the lock was taken in, wherever it stands now: a lock put
    // anywhere else would hold nothing a start from this folder looks at.
    const int folder = m_folder->handle();
    const QByteArray name = lockName();
    // What stands at the name now, judged by the file opened, not by the name.
    int there = ::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (there < 0 && errno != ENOENT) {
        const int error = errno;
        warnOnce(QStringLiteral("Single instance: %1 no longer holds this copy's lock and is left as it is (%2); "
                                "a start does not run beside this copy")
                     .arg(path(), error == ELOOP ? QStringLiteral("a link") : systemWords(error)));
        return;
    }
    if (there >= 0) {
        struct stat info {};
        if (::fstat(there, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
            ::close(there);
            warnOnce(QStringLiteral("Single instance: %1 no longer holds this copy's lock and is left as it is "
                                    "(not a regular file of this user's own); a start does not run beside this copy")
                         .arg(path()));
            return;
        }
        // Held by the file's new opener: a start still waiting on it, or a copy that runs beside this one.
        // Left to it while it holds the file; watched on, and taken back once it has ended, so that later
        // starts find this copy's lock again.
        if (lockOnce(there) != 0 && ageMs(info) >= YoungMs) {
            ::close(there);
            warnOnce(QStringLiteral("Single instance: another copy of this folder holds %1 - it took the name while "
                                    "this copy could not keep it; both run, and this copy takes the lock back once "
                                    "that one has ended")
                         .arg(path()));
            return;
        }
    }
    // Made under a name of this copy's own, locked, and only then put in place: at no moment does the
    // name hold a file nobody holds.
    const QByteArray spareName = name + '.' + QByteArray::number(QCoreApplication::applicationPid());
    ::unlinkat(folder, spareName.constData(), 0); // left by a copy of this number that ended halfway
    const int fd = ::openat(folder, spareName.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                            0600);
    if (fd < 0 || lockOnce(fd) != 0 || ::renameat(folder, spareName.constData(), folder, name.constData()) != 0) {
        const int error = errno;
        if (fd >= 0) {
            ::unlinkat(folder, spareName.constData(), 0);
            ::close(fd);
        }
        if (there >= 0)
            ::close(there);
        // The lock held until now stays held: the folder has none other of this copy's.
        warnOnce(QStringLiteral("Single instance: cannot put the lock back at %1 (%2)").arg(path(), systemWords(error)));
        return;
    }
    if (there >= 0)
        ::close(there);
    closeHandle();
    m_handle = fd;
    m_lastWarning.clear();
    qDebug().noquote() << "Single instance: put the lock back at" << path();
}
#endif
