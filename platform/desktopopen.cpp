#include "desktopopen.h"

#include <QDebug>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace desktopopen {

bool openWebText(const QString& text)
{
    const QUrl url(text, QUrl::TolerantMode);
    if (!url.isValid() || !QDesktopServices::openUrl(url)) {
        qWarning() << "could not open the web address" << text;
        return false;
    }
    return true;
}

bool openLocalPath(const QString& path)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // A desktop's handler opens an executable as a document (or not at all): a key that names a
    // program starts it, directly, so no shell ever reads the path.
    const QFileInfo info(path);
    if (info.isFile() && info.isExecutable()) {
        if (!QProcess::startDetached(info.absoluteFilePath(), {})) {
            qWarning() << "could not start the program" << path;
            return false;
        }
        return true;
    }
#endif
    // fromLocalFile keeps '#' and '?' in the name and gives a proper file URL for any absolute path.
    if (path.isEmpty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        qWarning() << "could not open" << path;
        return false;
    }
    return true;
}

} // namespace desktopopen
