#include "heldfolder.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef Q_OS_UNIX
namespace {
// Same device and node: the same folder, by whatever path it is reached.
bool isFolder(const QByteArray& path, const struct stat& held)
{
    struct stat named {};
    return ::stat(path.constData(), &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}
} // namespace

HeldFolder::HeldFolder(const QString& path) : m_path(path)
{
#ifdef O_PATH
    const int how = O_PATH | O_DIRECTORY | O_CLOEXEC; // only looked up in: no read permission needed
#else
    const int how = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
    int fd;
    do
        fd = ::open(QFile::encodeName(path).constData(), how);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        m_error = QString::fromLocal8Bit(std::strerror(errno));
    m_handle = fd;
}

HeldFolder::~HeldFolder()
{
    if (m_handle >= 0)
        ::close(m_handle);
}

QString HeldFolder::path() const
{
    struct stat held {};
    if (m_handle < 0 || ::fstat(m_handle, &held) != 0 || isFolder(QFile::encodeName(m_path), held))
        return m_path;
    // Linux names the folder an open handle stands for; checked, as a removed one is named with a mark.
    char now[PATH_MAX];
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(m_handle);
    const ssize_t size = ::readlink(link.constData(), now, sizeof now - 1);
    if (size <= 0)
        return m_path;
    const QByteArray found(now, int(size));
    return found.startsWith('/') && isFolder(found, held) ? QFile::decodeName(found) : m_path;
}
#else
HeldFolder::HeldFolder(const QString& path) : m_path(path) {}
HeldFolder::~HeldFolder() = default;
QString HeldFolder::path() const { return m_path; }
#endif
