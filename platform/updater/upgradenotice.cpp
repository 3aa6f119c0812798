#include "upgradenotice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Appends line to the regular file at path, made when missing; false when anything else stands there
// (a file with a second name too: that name may lie outside the application folder) or the tool would
// not read that far.
bool append(const LockedFolder& folder, const QString& name, const QByteArray& line)
{
#ifdef Q_OS_WIN
    const QString path = folder.shown(name);
    const QFileInfo info(path);
    if (info.isSymLink() || (info.exists() && !info.isFile())
        || info.size() + line.size() > UpdaterNames::MaxNoticeBytes)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    BY_HANDLE_FILE_INFORMATION opened {};
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    return GetFileInformationByHandle(handle, &opened) && opened.nNumberOfLinks == 1
           && file.write(line) == line.size();
#else
    if (folder.fd() < 0)
        return false;
    const int fd = ::openat(folder.fd(), QFile::encodeName(name).constData(),
                            O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool fits = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1
                      && st.st_size + line.size() <= UpdaterNames::MaxNoticeBytes;
    const bool written = fits && ::write(fd, line.constData(), size_t(line.size())) == line.size();
    ::close(fd);
    return written;
#endif
}

} // namespace

QString UpgradeNotice::leave(const LockedFolder& folder, UpdaterNames::GiveUp why, UpgradeLog& log)
{
    const QString first = folder.shown(UpdaterNames::notice());
    const QString spare = folder.shown(UpdaterNames::spareNotice());
    const QByteArray line = UpdaterNames::giveUpWord(why) + '\n';
    for (const QString& name : {UpdaterNames::notice(), UpdaterNames::spareNotice()}) {
        if (append(folder, name, line))
            return folder.shown(name);
    }
    log.failure({QStringLiteral("无法留下给程序的通知（%1 与 %2 均不可用）").arg(first, spare),
                 QStringLiteral("cannot leave the notice for the tool (neither %1 nor %2 can take it)")
                     .arg(first, spare)});
    return QString();
}
