#include "lockedfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr int MaxDepth = 128;

bool plainSegments(const QStringList& segments)
{
    for (const QString& segment : segments) {
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String("..")
            || segment.contains(QLatin1Char('\\')))
            return false;
    }
    return !segments.isEmpty();
}

#ifndef Q_OS_WIN
// A descriptor closed when it goes.
struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

QFileDevice::Permissions permissionsOf(mode_t mode)
{
    QFileDevice::Permissions p;
    const std::pair<mode_t, QFileDevice::Permission> bits[] = {
        {S_IRUSR, QFileDevice::ReadOwner}, {S_IWUSR, QFileDevice::WriteOwner}, {S_IXUSR, QFileDevice::ExeOwner},
        {S_IRGRP, QFileDevice::ReadGroup}, {S_IWGRP, QFileDevice::WriteGroup}, {S_IXGRP, QFileDevice::ExeGroup},
        {S_IROTH, QFileDevice::ReadOther}, {S_IWOTH, QFileDevice::WriteOther}, {S_IXOTH, QFileDevice::ExeOther}};
    for (const auto& bit : bits) {
        if (mode & bit.first)
            p |= bit.second;
    }
    return p;
}

LockedFolder::Entry entryOf(const QString& name, const struct stat& st)
{
    LockedFolder::Entry e;
    e.name = name;
    e.kind = S_ISREG(st.st_mode)   ? LockedFolder::Kind::File
             : S_ISDIR(st.st_mode) ? LockedFolder::Kind::Folder
             : S_ISLNK(st.st_mode) ? LockedFolder::Kind::Link
                                   : LockedFolder::Kind::Other;
    e.size = qint64(st.st_size);
    e.permissions = permissionsOf(st.st_mode);
    return e;
}

// The folder open at fd, to read its entries; takes fd, which is closed when that fails.
DIR* takeAsFolder(int fd)
{
    if (fd < 0)
        return nullptr;
    DIR* d = ::fdopendir(fd);
    if (!d)
        ::close(fd);
    return d;
}
#endif

} // namespace

QString LockedFolder::shown(const QString& relativePath) const
{
    return relativePath.isEmpty() ? m_path : m_path + QLatin1Char('/') + relativePath;
}

QString LockedFolder::absolute(const QString& relativePath) const { return shown(relativePath); }

#ifndef Q_OS_WIN

LockedFolder::LockedFolder(int folderFd, const QString& path)
    : m_fd(folderFd >= 0 ? ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0) : -1), m_path(QDir::cleanPath(path))
{
}

LockedFolder::~LockedFolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool LockedFolder::isOpen() const { return m_fd >= 0; }

bool LockedFolder::stillNamed() const
{
    struct stat opened {};
    struct stat named {};
    return m_fd >= 0 && ::fstat(m_fd, &opened) == 0 && ::lstat(QFile::encodeName(m_path).constData(), &named) == 0
           && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

QString LockedFolder::currentPath() const
{
#ifdef Q_OS_LINUX
    const QString link = QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(m_fd));
    if (m_fd < 0 || link.isEmpty() || link.endsWith(QLatin1String(" (deleted)")))
        return QString();
    return link;
#else
    return stillNamed() ? m_path : QString();
#endif
}

int LockedFolder::openParent(const QString& relativePath, QByteArray* leaf) const
{
    const QStringList segments = relativePath.split(QLatin1Char('/'));
    if (m_fd < 0 || !plainSegments(segments) || segments.size() > MaxDepth) {
        errno = EINVAL;
        return -1;
    }
    int dir = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    for (int i = 0; dir >= 0 && i + 1 < segments.size(); ++i) {
        const int next = ::openat(dir, QFile::encodeName(segments.at(i)).constData(),
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int saved = errno;
        ::close(dir);
        errno = saved;
        dir = next;
    }
    *leaf = QFile::encodeName(segments.last());
    return dir;
}

LockedFolder::Entry LockedFolder::entry(const QString& relativePath) const
{
    struct stat st {};
    if (relativePath.isEmpty())
        return m_fd >= 0 && ::fstat(m_fd, &st) == 0 ? entryOf(QString(), st) : Entry();
    QByteArray leaf;
    const Fd parent(openParent(relativePath, &leaf));
    if (parent.fd < 0 || ::fstatat(parent.fd, leaf.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Entry();
    return entryOf(QFile::decodeName(leaf), st);
}

bool LockedFolder::reachable(const QString& relativePath) const
{
    QByteArray leaf;
    const Fd parent(openParent(relativePath, &leaf));
    return parent.fd >= 0;
}

bool LockedFolder::list(const QString& relativePath, QVector<Entry>* entries) const
{
    entries->clear();
    int folder = -1;
    if (relativePath.isEmpty()) {
        folder = m_fd >= 0 ? ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0) : -1;
    } else {
        QByteArray leaf;
        const Fd parent(openParent(relativePath, &leaf));
        if (parent.fd >= 0)
            folder = ::openat(parent.fd, leaf.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    DIR* d = takeAsFolder(folder);
    if (!d)
        return false;
    bool ok = true;
    errno = 0;
    while (const dirent* e = ::readdir(d)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = false;
            break;
        }
        entries->append(entryOf(QFile::decodeName(name), st));
        errno = 0;
    }
    ok = ok && errno == 0;
    ::closedir(d);
    std::sort(entries->begin(), entries->end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return ok;
}

bool LockedFolder::sameFile(const QString& a, const QString& b) const
{
    QByteArray leafA, leafB;
    const Fd parentA(openParent(a, &leafA)), parentB(openParent(b, &leafB));
    struct stat sa {};
    struct stat sb {};
    return parentA.fd >= 0 && parentB.fd >= 0 && ::fstatat(parentA.fd, leafA.constData(), &sa, AT_SYMLINK_NOFOLLOW) == 0
           && ::fstatat(parentB.fd, leafB.constData(), &sb, AT_SYMLINK_NOFOLLOW) == 0 && sa.st_dev == sb.st_dev
           && sa.st_ino == sb.st_ino;
}

bool LockedFolder::makeFolder(const QString& relativePath)
{
    QByteArray leaf;
    const Fd parent(openParent(relativePath, &leaf));
    return parent.fd >= 0 && ::mkdirat(parent.fd, leaf.constData(), 0777) == 0;
}

bool LockedFolder::removeFile(const QString& relativePath)
{
    QByteArray leaf;
    const Fd parent(openParent(relativePath, &leaf));
    return parent.fd >= 0 && ::unlinkat(parent.fd, leaf.constData(), 0) == 0;
}

bool LockedFolder::removeFolder(const QString& relativePath)
{
    QByteArray leaf;
    const Fd parent(openParent(relativePath, &leaf));
    return parent.fd >= 0 && ::unlinkat(parent.fd, leaf.constData(), AT_REMOVEDIR) == 0;
}

bool LockedFolder::removeTreeAt(int parent, const QByteArray& name, int depth)
{
    struct stat st {};
    if (::fstatat(parent, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlinkat(parent, name.constData(), 0) == 0 || errno == ENOENT;
    if (depth > MaxDepth)
        return false;
    DIR* d = takeAsFolder(::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!d)
        return false;
    QVector<QByteArray> names;
    while (const dirent* e = ::readdir(d)) {
        const QByteArray n(e->d_name);
        if (n != "." && n != "..")
            names.append(n);
    }
    bool ok = true;
    for (const QByteArray& n : qAsConst(names))
        ok = removeTreeAt(::dirfd(d), n, depth + 1) && ok;
    ::closedir(d);
    return ok && ::unlinkat(parent, name.constData(), AT_REMOVEDIR) == 0;
}

bool LockedFolder::removeTree(const QString& relativePath)
{
    QByteArray leaf;
    const Fd parent(openParent(relativePath, &leaf));
    return parent.fd >= 0 && removeTreeAt(parent.fd, leaf, 0);
}

bool LockedFolder::renameOver(const QString& from, const QString& to)
{
    QByteArray leafFrom, leafTo;
    const Fd parentFrom(openParent(from, &leafFrom)), parentTo(openParent(to, &leafTo));
    return parentFrom.fd >= 0 && parentTo.fd >= 0
           && ::renameat(parentFrom.fd, leafFrom.constData(), parentTo.fd, leafTo.constData()) == 0;
}

bool LockedFolder::keepAside(const QString& target, const QString& aside)
{
    QByteArray leafTarget, leafAside;
    const Fd parentTarget(openParent(target, &leafTarget)), parentAside(openParent(aside, &leafAside));
    if (parentTarget.fd < 0 || parentAside.fd < 0)
        return false;
    // Flags 0: a link is given the second name itself, never what it points at.
    if (::linkat(parentTarget.fd, leafTarget.constData(), parentAside.fd, leafAside.constData(), 0) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    // No second names on this file system (FAT, some network shares): move it, never over anything.
    struct stat st {};
    return ::fstatat(parentAside.fd, leafAside.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT
           && ::renameat(parentTarget.fd, leafTarget.constData(), parentAside.fd, leafAside.constData()) == 0;
}

bool LockedFolder::openNew(const QString& relativePath, QFile* file, int mode)
{
    QByteArray leaf;
    const Fd parent(openParent(relativePath, &leaf));
    if (parent.fd < 0)
        return false;
    const int fd = ::openat(parent.fd, leaf.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            mode_t(mode));
    if (fd < 0)
        return false;
    if (!file->open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

bool LockedFolder::openRegular(const QString& relativePath, QFile* file) const
{
    QByteArray leaf;
    const Fd parent(openParent(relativePath, &leaf));
    if (parent.fd < 0)
        return false;
    const int fd = ::openat(parent.fd, leaf.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    return true;
}

bool LockedFolder::names(const QString& relativePath, const QFile& file) const
{
    QByteArray leaf;
    const Fd parent(openParent(relativePath, &leaf));
    struct stat opened {};
    struct stat named {};
    return parent.fd >= 0 && file.handle() >= 0 && ::fstat(file.handle(), &opened) == 0
           && ::fstatat(parent.fd, leaf.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 && opened.st_dev == named.st_dev
           && opened.st_ino == named.st_ino;
}

#else // Q_OS_WIN: by path (see the constructor), never through a link.

namespace {
std::wstring native(const QString& path) { return QDir::toNativeSeparators(path).toStdWString(); }

LockedFolder::Entry entryOf(const QFileInfo& info)
{
    LockedFolder::Entry e;
    e.name = info.fileName();
    e.kind = info.isSymLink() ? LockedFolder::Kind::Link
             : info.isDir()   ? LockedFolder::Kind::Folder
             : info.isFile()  ? LockedFolder::Kind::File
             : info.exists()  ? LockedFolder::Kind::Other
                              : LockedFolder::Kind::None;
    e.size = info.size();
    e.permissions = info.permissions();
    return e;
}
} // namespace

LockedFolder::LockedFolder(int, const QString& path) : m_path(QDir::cleanPath(path)) {}
LockedFolder::~LockedFolder() = default;
bool LockedFolder::isOpen() const { return QFileInfo(m_path).isDir(); }
bool LockedFolder::stillNamed() const { return isOpen(); }
QString LockedFolder::currentPath() const { return m_path; }

bool LockedFolder::reachable(const QString& relativePath) const
{
    const QStringList segments = relativePath.split(QLatin1Char('/'));
    if (!plainSegments(segments))
        return false;
    QString folder = m_path;
    for (int i = 0; i + 1 < segments.size(); ++i) {
        folder += QLatin1Char('/') + segments.at(i);
        const QFileInfo info(folder);
        if (info.isSymLink() || !info.isDir())
            return false;
    }
    return true;
}

LockedFolder::Entry LockedFolder::entry(const QString& relativePath) const
{
    if (!relativePath.isEmpty() && !reachable(relativePath))
        return Entry();
    const QFileInfo info(absolute(relativePath));
    return entryOf(info);
}

bool LockedFolder::list(const QString& relativePath, QVector<Entry>* entries) const
{
    entries->clear();
    if (entry(relativePath).kind != Kind::Folder)
        return false;
    const QFileInfoList infos = QDir(absolute(relativePath))
                                    .entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                                                   QDir::Name);
    for (const QFileInfo& info : infos)
        entries->append(entryOf(info));
    return true;
}

bool LockedFolder::sameFile(const QString&, const QString&) const { return false; } // keepAside moves there

bool LockedFolder::makeFolder(const QString& relativePath)
{
    return reachable(relativePath) && QDir().mkdir(absolute(relativePath));
}

bool LockedFolder::removeFile(const QString& relativePath)
{
    return reachable(relativePath) && QFile::remove(absolute(relativePath));
}

bool LockedFolder::removeFolder(const QString& relativePath)
{
    return reachable(relativePath) && QDir().rmdir(absolute(relativePath));
}

bool LockedFolder::removeTree(const QString& relativePath)
{
    return reachable(relativePath) && QDir(absolute(relativePath)).removeRecursively();
}

bool LockedFolder::renameOver(const QString& from, const QString& to)
{
    return reachable(from) && reachable(to)
           && MoveFileExW(native(absolute(from)).c_str(), native(absolute(to)).c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool LockedFolder::keepAside(const QString& target, const QString& aside)
{
    // Without MOVEFILE_REPLACE_EXISTING nothing at aside is replaced; a running program may be moved.
    return reachable(target) && reachable(aside)
           && MoveFileExW(native(absolute(target)).c_str(), native(absolute(aside)).c_str(), MOVEFILE_WRITE_THROUGH);
}

bool LockedFolder::openNew(const QString& relativePath, QFile* file, int)
{
    if (!reachable(relativePath))
        return false;
    file->setFileName(absolute(relativePath));
    return file->open(QIODevice::WriteOnly | QIODevice::NewOnly);
}

bool LockedFolder::openRegular(const QString& relativePath, QFile* file) const
{
    if (entry(relativePath).kind != Kind::File)
        return false;
    file->setFileName(absolute(relativePath));
    return file->open(QIODevice::ReadOnly);
}

// A file Qt holds open cannot be renamed over or removed there.
bool LockedFolder::names(const QString& relativePath, const QFile& file) const
{
    return file.isOpen() && entry(relativePath).kind == Kind::File;
}

#endif
