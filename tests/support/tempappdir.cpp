#include "tempappdir.h"

#include "widget/qss.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TempDir::TempDir()
{
    // qFatal, not a failed check: the constructor runs where a test cannot return, and nothing may
    // run on with an empty path.
    if (!isValid() || path().isEmpty() || !QDir::isAbsolutePath(path()))
        qFatal("Cannot make a temporary folder in %s: %s", qUtf8Printable(QDir::tempPath()),
               qUtf8Printable(errorString()));
}

QString TempDir::filePath(const QString& relative) const
{
    const QString path = QTemporaryDir::filePath(relative);
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        qFatal("Not a path below the temporary folder %s: %s", qUtf8Printable(this->path()), qUtf8Printable(relative));
    return path;
}

TempAppDir::TempAppDir()
{
    for (const char* folder : {"config", "log"}) {
        if (!QDir(m_dir.path()).mkpath(QLatin1String(folder)))
            qFatal("Cannot make the folder %s in %s", folder, qUtf8Printable(m_dir.path()));
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
    qputenv("XDG_CONFIG_HOME", filePath(QStringLiteral("xdg-config")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    if (!copyFiles(sampleRoot + QStringLiteral("/config"), QStringLiteral("config"))
        || !copyFiles(sampleRoot + QStringLiteral("/images"), QStringLiteral("images")))
        return false;
    setAppDirPathForTest(path());
    return true;
}
