#include "autostart.h"
#include "savefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QSettings>

bool setStartWithSystem(bool on, bool* linkLeftAlone, QString* error)
{
    if (linkLeftAlone)
        *linkLeftAlone = false;
    QSettings run(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
                  QSettings::NativeFormat);
    const QString name = QCoreApplication::applicationName();
    const QString value = QLatin1Char('"')
                          + QCoreApplication::applicationFilePath().replace(QLatin1Char('/'), QLatin1Char('\\'))
                          + QStringLiteral("\" /background");
    if (on ? run.value(name).toString() == value : !run.contains(name))
        return true;
    if (on)
        run.setValue(name, value);
    else
        run.remove(name);
    run.sync();
    if (run.status() == QSettings::NoError)
        return true;
    if (error)
        *error = run.status() == QSettings::AccessError ? QStringLiteral("access denied")
                                                        : QStringLiteral("the registry could not be written");
    return false;
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
// and the name is unlinked only while it still names that file. *error says why it Failed.
Removal removeEntry(const QString& path, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat atName {};
    if (::lstat(name.constData(), &atName) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return Removal::Removed;
        *error = qt_error_string(errno);
        return Removal::Failed;
    }
    if (isLink(atName))
        return Removal::Link;
    if (!S_ISREG(atName.st_mode)) {
        QFile other(path);
        if (other.remove())
            return Removal::Removed;
        *error = other.errorString();
        return Removal::Failed;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP)
            return Removal::Link;
        *error = qt_error_string(errno);
        return Removal::Failed;
    }
    struct stat opened {};
    const bool statted = ::fstat(fd, &opened) == 0;
    const int statError = errno;
    ::close(fd);
    if (!statted) {
        *error = qt_error_string(statError);
        return Removal::Failed;
    }
    if (isLink(opened))
        return Removal::Link;
    struct stat again {};
    if (::lstat(name.constData(), &again) != 0 || again.st_dev != opened.st_dev || again.st_ino != opened.st_ino) {
        *error = QStringLiteral("it was replaced while it was being removed"); // what stands there now was not looked at
        return Removal::Failed;
    }
    if (isLink(again))
        return Removal::Link;
    if (::unlink(name.constData()) == 0)
        return Removal::Removed;
    *error = qt_error_string(errno);
    return Removal::Failed;
}

// Whether the entry at path is a file of its own (no link) holding exactly bytes: then nothing is written.
bool holdsAlready(const QString& path, const QByteArray& bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat opened {};
    QByteArray held(bytes.size() + 1, '\0');
    qint64 got = 0;
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && !isLink(opened)) {
        while (got < held.size()) {
            const ssize_t n = ::read(fd, held.data() + got, size_t(held.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
    }
    ::close(fd);
    return got == bytes.size() && held.left(int(got)) == bytes;
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

bool setStartWithSystem(bool on, bool* linkLeftAlone, QString* error)
{
    bool link = false;
    if (!linkLeftAlone)
        linkLeftAlone = &link;
    *linkLeftAlone = false;
    QString why;
    if (!error)
        error = &why;
    const QString path = autostartEntryPath();
    if (!on) {
        const Removal removal = removeEntry(path, error);
        *linkLeftAlone = removal == Removal::Link;
        return removal == Removal::Removed;
    }
    // Turned on over a link, the link stays too: the save would otherwise put a file of ours in its place.
    struct stat atName {};
    if (::lstat(QFile::encodeName(path).constData(), &atName) == 0 && isLink(atName)) {
        *linkLeftAlone = true;
        return false;
    }

    const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nName=")
                          + escapeStringValue(QCoreApplication::applicationName()) + QStringLiteral("\nExec=")
                          + desktopExecArgument(QCoreApplication::applicationFilePath())
                          + QStringLiteral(" /background\n");
    const QByteArray bytes = entry.toUtf8();
    if (holdsAlready(path, bytes))
        return true;
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("its folder %1 cannot be made").arg(folder);
        return false;
    }
    SaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    // A full disk can fail the buffered flush and still let commit() put a cut entry in place. Qt keeps
    // no reason for a failed flush: the system's is taken as it fails.
    errno = 0;
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const int why = errno;
        *error = why ? qt_error_string(why) : file.errorString();
        return false;
    }
    if (file.commit())
        return true;
    *error = file.errorString();
    return false;
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
