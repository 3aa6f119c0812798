#include "hidaccess.h"

#include <QDebug>
#include <QFileInfo>
#include <QSet>
#include <cerrno>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

QSet<QString> g_reported;

const char* const InstallCommand =
    "sudo cp platform/linux/70-tessark.rules /etc/udev/rules.d/ && sudo udevadm control --reload && "
    "sudo udevadm trigger";

} // namespace

HidNodeAccess hidNodeAccess(const QString& path)
{
    // Only absolute file paths can be checked; other systems' paths are opaque to us.
    if (!path.startsWith(QLatin1Char('/')))
        return HidNodeAccess::Usable;
#ifdef Q_OS_UNIX
    const QByteArray local = QFile::encodeName(path);
    if (::access(local.constData(), R_OK | W_OK) == 0)
        return HidNodeAccess::Usable;
    const int error = errno;
    if (error == EACCES || error == EPERM || error == EROFS)
        return HidNodeAccess::PermissionDenied;
    if (error == ENOENT || error == ENOTDIR)
        return HidNodeAccess::Missing;
    return HidNodeAccess::Usable;
#else
    return QFileInfo::exists(path) ? HidNodeAccess::Usable : HidNodeAccess::Missing;
#endif
}

QString hidPermissionLogLine(const QString& path)
{
    return QStringLiteral("ERROR: no permission to open %1; install the udev rule: %2")
        .arg(path, QLatin1String(InstallCommand));
}

QString hidPermissionUserText()
{
    return QStringLiteral("The keyboard was found but this user may not open it.\n"
                          "Install the udev rule from the Tessark folder, then plug the keyboard in again:\n\n")
           + QLatin1String(InstallCommand);
}

HidPermissionReport reportHidPermissionOnce(const QString& path)
{
    return reportHidPermissionOnce(path, hidNodeAccess(path));
}

HidPermissionReport reportHidPermissionOnce(const QString& path, HidNodeAccess access)
{
    if (access != HidNodeAccess::PermissionDenied)
        return HidPermissionReport::NotRefused;
    if (g_reported.contains(path))
        return HidPermissionReport::AlreadyTold;
    g_reported.insert(path);
    qWarning().noquote() << hidPermissionLogLine(path);
    return HidPermissionReport::TellUser;
}

void forgetHidPermissionReports() { g_reported.clear(); }
