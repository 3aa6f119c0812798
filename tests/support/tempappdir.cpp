#include "tempappdir.h"

#include "widget/qss.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Stops the test process: the helpers run where a test cannot return (constructors), and nothing may
// go on with an empty path. Written to stderr first, as a test's own message handler may swallow it.
[[noreturn]] void stop(const QString& message)
{
    std::fprintf(stderr, "%s\n", qUtf8Printable(message));
    std::fflush(stderr);
    qFatal("%s", qUtf8Printable(message));
    std::abort();
}

// Qt keeps its own settings (a file dialog's last folder and size) below the user's config folder,
// which the test command shares between the suites: every suite's go to a folder of its own from the
// start, removed with the application. Qt makes the folder when it first writes there, so a process
// that stops on purpose before (a suite's own child ending in qFatal) leaves nothing behind.
QString g_qtSettings;

void removeQtSettingsFolder()
{
    // Only the folder Qt made: never through a link someone put at the name.
    const QFileInfo folder(g_qtSettings);
    if (folder.isDir() && !folder.isSymLink())
        QDir(g_qtSettings).removeRecursively();
}

void pointQtSettingsAtOwnFolder()
{
    g_qtSettings = QDir::tempPath() + QLatin1Char('/') + QCoreApplication::applicationName()
                   + QStringLiteral("-qtsettings-") + QString::number(QCoreApplication::applicationPid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, g_qtSettings);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, g_qtSettings);
    qAddPostRoutine(removeQtSettingsFolder);
}
} // namespace
Q_COREAPP_STARTUP_FUNCTION(pointQtSettingsAtOwnFolder)

TempDir::TempDir()
{
    if (!isValid() || path().isEmpty() || !QDir::isAbsolutePath(path()))
        stop(QStringLiteral("Cannot make a temporary folder in %1: %2").arg(QDir::tempPath(), errorString()));
}

QString TempDir::filePath(const QString& relative) const
{
    const QString path = QTemporaryDir::filePath(relative);
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        stop(QStringLiteral("Not a path below the temporary folder %1: %2").arg(this->path(), relative));
    return path;
}

TempAppDir::TempAppDir()
{
    for (const QString& folder : {QStringLiteral("config"), QStringLiteral("log")}) {
        if (!QDir(m_dir.path()).mkpath(folder))
            stop(QStringLiteral("Cannot make the folder %1 in %2").arg(folder, m_dir.path()));
    }
}

bool TempAppDir::write(const QString& relative, const QByteArray& content) const
{
    const QString path = m_dir.filePath(relative);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString deviceStandIn(const QString& folder, const QString& device)
{
    if (::geteuid() != 0)
        return device;
    struct stat machine {};
    const QString node = folder + QStringLiteral("/device-") + QFileInfo(device).fileName();
    const QByteArray path = QFile::encodeName(node);
    if (!QDir::isAbsolutePath(folder) || ::stat(QFile::encodeName(device).constData(), &machine) != 0
        || !S_ISCHR(machine.st_mode))
        return QString();
    struct stat made {};
    if (::lstat(path.constData(), &made) != 0
        && ::mknod(path.constData(), S_IFCHR | (machine.st_mode & 0777), machine.st_rdev) != 0)
        return QString();
    // A node of another device, or one a nodev mount will not open, stands for nothing.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
    const bool same = fd >= 0 && ::fstat(fd, &made) == 0 && S_ISCHR(made.st_mode) && made.st_rdev == machine.st_rdev;
    if (fd >= 0)
        ::close(fd);
    return same ? node : QString();
}

bool TempAppDir::copyFiles(const QString& from, const QString& relative) const
{
    for (const QFileInfo& entry : QDir(from).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString target = relative + QLatin1Char('/') + entry.fileName();
        if (entry.isDir() ? !copyFiles(entry.filePath(), target) : !write(target, readFile(entry.filePath())))
            return false;
    }
    return true;
}

bool TempAppDir::setUpForWindow(const QString& sampleRoot) const
{
    const QString runtime = filePath(QStringLiteral("xdg-run"));
    if (!QDir().mkpath(runtime) || !QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return false;
    const QString config = filePath(QStringLiteral("xdg-config"));
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    // Qt keeps the config folder it saw first for its own settings (a file dialog's): this one from now on.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config);
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    if (!copyFiles(sampleRoot + QStringLiteral("/config"), QStringLiteral("config"))
        || !copyFiles(sampleRoot + QStringLiteral("/images"), QStringLiteral("images")))
        return false;
    setAppDirPathForTest(path());
    return true;
}
