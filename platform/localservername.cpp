#include "localservername.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

QString userLocalServerName(const QString& executableFileName)
{
#ifdef Q_OS_UNIX
    QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtimeDir.isEmpty()) {
        // Not the shared temporary folder itself: anyone could create the name there before us.
        // Qt makes and checks a folder of our own instead.
        runtimeDir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (runtimeDir.isEmpty())
            return QString();
    }
    return QDir(runtimeDir).filePath(executableFileName);
#else
    // Named pipes are per session already; the name alone is what Qt expects.
    return executableFileName;
#endif
}

QString folderServerName(const QString& executableFileName, const QString& folder)
{
    QByteArray identity;
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::stat(QFile::encodeName(folder).constData(), &info) == 0)
        identity = QByteArray::number(qulonglong(::geteuid())) + ':' + QByteArray::number(qulonglong(info.st_dev))
                   + ':' + QByteArray::number(qulonglong(info.st_ino));
#endif
    if (identity.isEmpty()) // no identity to be had: the folder's own path, links resolved
        identity = QFileInfo(folder).canonicalFilePath().toUtf8() + '/' + QDir::cleanPath(folder).toUtf8();
    // Short: the whole path must fit a socket address (108 bytes on Linux), also below a deep TMPDIR.
    const QByteArray digest = QCryptographicHash::hash(identity, QCryptographicHash::Sha256).toHex().left(8);
    return executableFileName + QLatin1Char('-') + QString::fromLatin1(digest);
}

bool peerIsSameUser(qintptr socketDescriptor)
{
#ifdef Q_OS_LINUX
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0
        || size != sizeof credentials)
        return false;
    // Effective ids on both sides: the peer's are what the kernel records, and files are owned by them too.
    return credentials.uid == ::geteuid();
#else
    Q_UNUSED(socketDescriptor)
    return true;
#endif
}

LocalNameOccupant localNameOccupant(const QString& fullServerName)
{
#ifdef Q_OS_UNIX
    struct stat info {};
    // lstat: a link is judged by itself, not by what it points to.
    if (::lstat(QFile::encodeName(fullServerName).constData(), &info) != 0)
        return LocalNameOccupant::Nothing;
    if (info.st_uid != ::geteuid())
        return LocalNameOccupant::OtherUser;
    return S_ISSOCK(info.st_mode) ? LocalNameOccupant::OwnSocket : LocalNameOccupant::OwnOtherFile;
#else
    Q_UNUSED(fullServerName)
    return LocalNameOccupant::Nothing;
#endif
}
