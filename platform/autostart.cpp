#include "autostart.h"
#include "savefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QSettings>

bool setStartWithSystem(bool on)
{
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

namespace {

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

bool setStartWithSystem(bool on)
{
    const QString path = autostartEntryPath();
    if (!on)
        return !QFileInfo::exists(path) || QFile::remove(path);

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
