// The updater hand-over: refresh the updater from the download, then start it.
#include "downloadfile.h"

#include "Update/safeunzip.h"
#include "Update/serverpath.h"
#include "setting/Language.h"
#include "widget/qss.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

namespace {

QString updaterSource()
{
    return appDirPath() + QStringLiteral("/UpgradeTessark/") + QStringLiteral("Windows")
        + QStringLiteral("/Tessark/Upgrade/");
}

QString updaterFolder()
{
    return appDirPath() + QStringLiteral("/Upgrade/");
}

QString updaterProgram()
{
#ifdef Q_OS_WIN
    return updaterFolder() + QStringLiteral("Upgrade.exe");
#else
    return updaterFolder() + QStringLiteral("Upgrade");
#endif
}

QString stagedToolFiles()
{
    return appDirPath() + QStringLiteral("/UpgradeTessark/") + QStringLiteral("Windows")
        + QStringLiteral("/Tessark/Tessark/");
}

// 0 Chinese; any other value, and no Language object, English (1).
int languageArgument()
{
    return currentLanguageType() == 0 ? 0 : 1;
}

constexpr unsigned long EntryPauseMs = 50;

// The old updater folder's files, with their permission bits, into a new folder; links are not copied.
bool copyTree(const QString& from, const QString& to)
{
    if (!QDir().mkdir(to))
        return false;
    const QFileInfoList entries =
        QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isSymLink())
            continue;
        if (entry.isDir()) {
            if (!copyTree(entry.filePath(), target))
                return false;
        } else if (entry.isFile()) {
            if (!QFile::copy(entry.filePath(), target) || !QFile::setPermissions(target, entry.permissions()))
                return false;
        }
    }
    return true;
}

// Puts folder's place to next (a whole folder) and leaves the old one under old.
bool swapIn(const QString& next, const QString& folder, const QString& old)
{
    const bool hadOld = QFileInfo(folder).exists() || QFileInfo(folder).isSymLink();
    if (hadOld && !QDir().rename(folder, old))
        return false;
    if (QDir().rename(next, folder))
        return true;
    if (hadOld && !QDir().rename(old, folder))
        qWarning() << __LINE__ << "the old updater could not be put back; it stays at" << old
                   << "until the next refresh puts it back";
    return false;
}

// A refresh whose rename-back failed left the only updater at old: it goes back in its place before
// anything else, so that it starts and is never removed as a leftover. False when it stays at old.
bool putBackLeftUpdater(const QString& folder, const QString& old)
{
    const QFileInfo current(folder), left(old);
    if (current.exists() || current.isSymLink() || !left.exists() || left.isSymLink())
        return true;
    if (QDir().rename(old, folder)) {
        qWarning() << __LINE__ << "the updater folder was put back from" << old;
        return true;
    }
    qWarning() << __LINE__ << "the updater stays at" << old << "it could not be put back to" << folder;
    return false;
}

} // namespace

void DownloadFile::UpdateUpgrradeProgram()
{
    const QString source = updaterSource();
    const QString folder = updaterFolder();
    qDebug() << __LINE__ << "RawDir=" << source << folder;
    const QString target = QDir::cleanPath(folder);
    const QString next = target + QStringLiteral(".new");
    const QString old = target + QStringLiteral(".old");
    if (!putBackLeftUpdater(target, old))
        return;
    // Through a link the copy would bring in, and the clean-up then empty, a folder that is not ours.
    const QString linkedSource = ServerPath::linkedFolder(source, appDirPath());
    if (!linkedSource.isEmpty()) {
        qWarning() << __LINE__ << "the updater folder was not refreshed: its source is reached through the link"
                   << linkedSource;
        return;
    }
    if (!QDir(source).exists()) {
        qDebug() << __LINE__ << "目录不存在";
        return;
    }
    // A linked updater folder is not ours to replace: a new folder of only the downloaded files would
    // take its place, without the updater. The one it holds is started as it is.
    if (QFileInfo(target).isSymLink()) {
        qWarning() << __LINE__ << "the updater folder was not refreshed: it is a link" << target;
        return;
    }
    // The new updater folder is put together beside the old one, from the old files and the
    // downloaded ones, and takes its place only when every file is written: a refresh that fails
    // leaves the old updater whole and startable.
    // Past the put-back, old is never the only updater: what is left there is a refresh's leftover.
    bool refreshed = removeTree(next) && removeTree(old);
    const QFileInfo current(target);
    if (refreshed)
        refreshed = current.isDir() ? copyTree(target, next) : QDir().mkdir(next);
    refreshed = refreshed && copyDirectoryFiles(source, next, true) && swapIn(next, target, old);
    if (!refreshed) {
        qWarning() << __LINE__ << "the updater folder was not refreshed; the old one stays:" << target;
        removeTree(next);
        return;
    }
    removeTree(old);
    m_deletedFileCount = 0;
    deleteDirectory(source, true);
}

bool DownloadFile::StartUpgradeProgram()
{
    const QString appDir = appDirPath();
    const QString program = updaterProgram();
    const QStringList arguments{
        QStringLiteral("upgrade"),
        QString::number(m_linkList.size() - m_deletedFileCount),
        appDir + QLatin1Char('/'),
        QFileInfo(QCoreApplication::applicationFilePath()).fileName(),
        stagedToolFiles(),
        appDir + QLatin1Char('/'),
        QString::number(languageArgument()),
    };
    for (int i = 0; i < arguments.size(); ++i)
        qDebug() << __LINE__ << "arguments" << i << "=" << arguments.at(i);

    // Downloads arrive without the execute bit.
    const QFileInfo info(program);
    if (info.isFile())
        QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner | QFile::ExeUser);
    // Detached: an attached child loses its pipes when the tool exits, and the updater outlives it.
    qint64 pid = 0;
    if (!info.isFile() || !QProcess::startDetached(program, arguments, appDir, &pid)) {
        qWarning() << __LINE__ << "the upgrade program did not start:" << program;
        reportError(QStringLiteral("Upgrade Program Start Failed!"));
        return false;
    }
    qDebug() << __LINE__ << "upgrade program started, pid" << pid;
    return true;
}

bool DownloadFile::copyDirectoryFiles(const QString& fromDir, const QString& toDir, bool coverFileIfExist)
{
    qDebug() << __LINE__ << "copyDirectoryFiles=";
    const QDir sourceDir(fromDir);
    QDir targetDir(toDir);
    if (!targetDir.exists() && !targetDir.mkdir(targetDir.absolutePath()))
        return false;
    const QFileInfoList entries = sourceDir.entryInfoList();
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        // Only what was downloaded is copied: a link would bring in whatever it points at.
        if (entry.isSymLink()) {
            qWarning() << __LINE__ << "copyDirectoryFiles: link skipped" << entry.filePath();
            continue;
        }
        const QString target = targetDir.filePath(name);
        if (entry.isDir()) {
            if (!copyDirectoryFiles(entry.filePath(), target, coverFileIfExist))
                return false;
            continue;
        }
        if (coverFileIfExist && targetDir.exists(name))
            targetDir.remove(name);
        if (!QFile::copy(entry.filePath(), target))
            return false;
        if (entry.suffix() == QLatin1String("tessarkzip")) {
            const bool unpacked = unzipFile(target, targetDir.absolutePath(), true);
            if (QFileInfo::exists(target))
                QFile::remove(target);
            if (!unpacked) {
                qWarning() << __LINE__ << "copyDirectoryFiles: the archive did not unpack" << entry.filePath();
                return false;
            }
        }
        QThread::msleep(EntryPauseMs);
    }
    return true;
}

bool DownloadFile::unzipFile(const QString& zipFilePath, const QString& destDir, bool removeExisting)
{
    return SafeUnzip::unpack(zipFilePath, destDir, removeExisting) == SafeUnzip::Result::Unpacked;
}
