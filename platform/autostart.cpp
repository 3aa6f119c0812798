#include "autostart.h"
#include "savefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QSettings>

bool setStartWithSystem(bool on, bool* linkLeftAlone)
{
    if (linkLeftAlone)
        *linkLeftAlone = false;
    QSettings run(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
                  QSettings::NativeFormat);
    const QString name = QCoreApplication::applicationName();
    if (on)
        run.setValue(name, QLatin1Char('"')
                               + QCoreApplication::applicationFilePath().replace(QLatin1Char('/'), QLatin1Char('\\'))
                               + QStringLiteral("\" /background"));
    else
        run.remove(name);
    run.sync();
    return run.status() == QSettings::NoError;
}

bool isStartWithSystem()
{
    const QSettings run(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
                        QSettings::NativeFormat);
    return run.contains(QCoreApplication::applicationName());
}

QString startWithSystemPlace()
{
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\")
           + QCoreApplication::applicationName();
}

#else

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A name that is a link (a dangling one too), or a file that has another name as well: removing or
// replacing it would change what the user arranged there.
bool isLink(const struct stat& st)
{
    return S_ISLNK(st.st_mode) || (S_ISREG(st.st_mode) && st.st_nlink > 1);
}

enum class Removal { Removed, Link, Failed };

// Removes the entry only when it is a file of its own. The file is judged by a descriptor opened on it,
// and the name is unlinked only while it still names that file.
Removal removeEntry(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat atName {};
    if (::lstat(name.constData(), &atName) != 0)
        return errno == ENOENT || errno == ENOTDIR ? Removal::Removed : Removal::Failed;
    if (isLink(atName))
        return Removal::Link;
    if (!S_ISREG(atName.st_mode))
        return QFile::remove(path) ? Removal::Removed : Removal::Failed;
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ELOOP ? Removal::Link : Removal::Failed;
    struct stat opened {};
    const bool statted = ::fstat(fd, &opened) == 0;
    ::close(fd);
    if (!statted)
        return Removal::Failed;
    if (isLink(opened))
        return Removal::Link;
    struct stat again {};
    if (::lstat(name.constData(), &again) != 0 || again.st_dev != opened.st_dev || again.st_ino != opened.st_ino)
        return Removal::Failed; // replaced meanwhile: what stands there now was not looked at
    if (isLink(again))
        return Removal::Link;
    return ::unlink(name.constData()) == 0 ? Removal::Removed : Removal::Failed;
}

// The escapes of a desktop entry string value; backslashes were already doubled by the caller when needed.
QString escapeStringValue(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\': out += QStringLiteral("\\\\"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '\t': out += QStringLiteral("\\t"); break;
        case '\r': out += QStringLiteral("\\r"); break;
        default: out += c;
        }
    }
    return out;
}

} // namespace

QString autostartEntryPath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    QString name = QCoreApplication::applicationName();
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return config + QStringLiteral("/autostart/") + name + QStringLiteral(".desktop");
}

QString desktopExecArgument(const QString& argument)
{
    // Inside double quotes, '"', '`', '$' and '\' take a backslash; the string value rules then
    // double every backslash again, so a literal backslash ends up as four.
    QString quoted;
    quoted.reserve(argument.size() + 2);
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    return escapeStringValue(QLatin1Char('"') + quoted + QLatin1Char('"'));
}

bool setStartWithSystem(bool on, bool* linkLeftAlone)
{
    bool link = false;
    if (!linkLeftAlone)
        linkLeftAlone = &link;
    *linkLeftAlone = false;
    const QString path = autostartEntryPath();
    if (!on) {
        const Removal removal = removeEntry(path);
        *linkLeftAlone = removal == Removal::Link;
        return removal == Removal::Removed;
    }
    // Turned on over a link, the link stays too: the save would otherwise put a file of ours in its place.
    struct stat atName {};
    if (::lstat(QFile::encodeName(path).constData(), &atName) == 0 && isLink(atName)) {
        *linkLeftAlone = true;
        return false;
    }

    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    SaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nName=")
                          + escapeStringValue(QCoreApplication::applicationName()) + QStringLiteral("\nExec=")
                          + desktopExecArgument(QCoreApplication::applicationFilePath())
                          + QStringLiteral(" /background\n");
    const QByteArray bytes = entry.toUtf8();
    // A full disk can fail the buffered flush and still let commit() put a cut entry in place.
    return file.write(bytes) == bytes.size() && file.flush() && file.commit();
}

bool isStartWithSystem()
{
    return QFileInfo::exists(autostartEntryPath());
}

QString startWithSystemPlace()
{
    return autostartEntryPath();
}

#endif
