// The download modes: the five operations, what each mode does when its list is done, staging folders.
#include "downloadfile.h"

#include "Update/overallvariate.h"
#include "Update/serverpath.h"
#include "Update/updaternotice.h"
#include "widget/qss.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const char* const LinkFileRefused = "Link file refused: an unsafe path";
const char* const BoardNameRefused = "Firmware download refused: the keyboard's model name is not a folder name";

// The first entry that fails accept; empty when all pass.
template <typename Accept>
QString firstRefused(const QStringList& entries, Accept accept)
{
    for (const QString& entry : entries) {
        if (!accept(entry))
            return entry.isEmpty() ? QStringLiteral("(empty)") : entry;
    }
    return QString();
}

// Where a link is stored below the application directory: an executable gets its ".tessark".
QString storedPath(const QString& link)
{
    const bool executable = QFileInfo(link).suffix().toLower() == QLatin1String("exe");
    return QDir::cleanPath(executable ? link + QStringLiteral(".tessark") : link);
}

// Deletes what the tool link file listed, once every file of the update is in and the updater runs.
void applyPendingDeletes(DownloadFile& worker)
{
    const QStringList entries = worker.takePendingDeletes();
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity names = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity names = Qt::CaseSensitive;
#endif
    QStringList arrived;
    for (const QString& link : worker.linkList())
        arrived << storedPath(link);
    const QString appDir = appDirPath();
    for (const QString& entry : entries) {
        qDebug() << __LINE__ << "DeleteFileList=" << entry;
        // Such an entry made room for the file; the file has arrived, and deleting it would lose it.
        if (arrived.contains(QDir::cleanPath(entry), names))
            continue;
        // The entry was checked as a path below the application directory; a linked folder would take
        // the delete elsewhere.
        const QString linked = ServerPath::linkedFolder(QFileInfo(appDir + entry).path(), appDir);
        if (!linked.isEmpty()) {
            qWarning() << __LINE__ << "delete entry skipped, its folder is reached through the link" << linked
                       << entry;
            continue;
        }
        worker.deleteFile(appDir + entry);
    }
}

QString stagingNotEmptiedText(const QString& folder)
{
    return QStringLiteral("download UpdateFile Staging Folder Not Emptied! %1").arg(QDir::toNativeSeparators(folder));
}

QString stagingLinkedText(const QString& link)
{
    return QStringLiteral("download UpdateFile Staging Folder Reached Through A Link! %1").arg(QDir::toNativeSeparators(link));
}

// Empties what an earlier attempt left in a staging folder, hidden files and links too, so that only
// what the running operation fetches is handed on. False, reported and told to the user with what to
// delete, when the folder cannot be used: a link at it or on its way below the application directory
// stays where it is, as its target is not ours to empty and no download goes through it; or something
// of it cannot be removed. Nothing is fetched then.
bool clearStagingFolder(DownloadFile& worker, const QString& folder)
{
    const QString linked = ServerPath::linkedFolder(folder, appDirPath());
    if (!linked.isEmpty()) {
        qWarning() << __LINE__ << "staging folder reached through the link" << linked << "- nothing is fetched into"
                   << folder;
        worker.reportError(stagingLinkedText(linked));
        updaternotice::stagingUnusable(folder, linked);
        return false;
    }
    if (DownloadFile::removeTree(folder))
        return true;
    qWarning() << __LINE__ << "staging folder not cleared whole, nothing is fetched into it:" << folder;
    worker.reportError(stagingNotEmptiedText(folder));
    updaternotice::stagingUnusable(folder, QString());
    return false;
}

} // namespace

bool DownloadFile::takeBusy()
{
    if (!g_overallVariate || g_overallVariate->getBusy() || m_stop)
        return false;
    g_overallVariate->setBusy(true);
    return true;
}

void DownloadFile::startOperation(const QString& link, int mode)
{
    m_linkList = QStringList{link};
    m_pendingDeletes.clear();
    m_updateBytes = 0;
    m_downloadMode = mode;
    Startdownload(0);
}

void DownloadFile::checkUpdateSlot()
{
    if (!takeBusy())
        return;
    startOperation(QStringLiteral("/UpgradeTessark/Windows/VersionFile/TessarkVersion.ini"), ToolVersionFile);
    qDebug() << __LINE__ << "getBusy==" << g_overallVariate->getBusy();
}

void DownloadFile::dowmloadTessarkUpdateFileSlot()
{
    if (!takeBusy())
        return;
    // A failed update keeps what it fetched; the updater must install only what this one lists, so
    // nothing is fetched while any of it stays.
    if (!clearStagingFolder(*this, appDirPath() + QStringLiteral("/UpgradeTessark/Windows/Tessark")))
        return;
    startOperation(QStringLiteral("/UpgradeTessark/Windows/URLFile/TessarkFileURL.xml"), ToolLinkFile);
    qDebug() << __LINE__ << "getBusy==" << g_overallVariate->getBusy();
}

void DownloadFile::checkFirmwareUpdateSlot()
{
    // Two checks at once would take over each other's transfer.
    if (takeBusy())
        startFirmwareCheck();
}

void DownloadFile::startFirmwareCheck()
{
    if (!g_overallVariate)
        return;
    loadFirmwareInfo();
    // The board name becomes a folder on the server and under the application directory.
    m_modelDir = ServerPath::cutBoardName(m_modelDir);
    if (!ServerPath::isSafeBoardName(m_modelDir)) {
        qWarning() << __LINE__ << "firmware check: no request for the model name" << m_modelDir;
        g_overallVariate->setBusy(false);
        g_overallVariate->emitFirmwareUpdate(false);
        return;
    }
    startOperation(QStringLiteral("/UpgradeFirmware/") + m_modelDir + QStringLiteral("/VersionFile/FirmwareVersion.ini"),
                   FirmwareVersionFile);
}

void DownloadFile::dowmloadFirmwareUpdateFileSlot()
{
    if (!takeBusy())
        return;
    m_modelDir = ServerPath::cutBoardName(m_modelDir);
    if (!ServerPath::isSafeBoardName(m_modelDir)) {
        qWarning() << __LINE__ << "firmware download: no request for the model name" << m_modelDir;
        reportError(QLatin1String(BoardNameRefused));
        return;
    }
    // The upgrade takes every image in the folder: none may be left from an earlier attempt. The link
    // file is fetched into it too, so a folder that cannot be used is named before anything is fetched.
    if (!clearStagingFolder(*this, appDirPath() + QStringLiteral("/UpgradeFirmware/") + m_modelDir))
        return;
    startOperation(QStringLiteral("/UpgradeFirmware/") + m_modelDir + QStringLiteral("/URLFile/FirmwareFileURL.xml"),
                   FirmwareLinkFile);
}

void DownloadFile::unModeFirmwareSlot()
{
    deleteDirectory(appDirPath() + QStringLiteral("/UpgradeFirmware/"), false);
}

void DownloadFile::finishLinkList()
{
    m_linkIndex = 0;
    const int mode = m_downloadMode;
    qInfo() << __LINE__ << "所有文件下载完成" << "DownloadMode:" << mode;
    if (unsigned(mode) > unsigned(FirmwareFiles) || !g_overallVariate)
        return;
    overallVariate* hub = g_overallVariate;
    const QString appDir = appDirPath();
    const QString first = m_linkList.value(0);
    const QString localPath = appDir + first;
    const QString localFolder = QFileInfo(localPath).path();

    switch (mode) {
    case ToolVersionFile:
        qDebug() << __LINE__ << "wqxVF";
        if (!m_linkList.isEmpty()) {
            ReadVersionsFile(localPath);
            deleteDirectory(localFolder, false);
        }
        if (hub->getOnlinState())
            startFirmwareCheck(); // busy stays set until the firmware answer
        else
            hub->setBusy(false);
        break;

    case ToolLinkFile: {
        qDebug() << __LINE__ << "wqxVUF" << "解析XML文件" << first;
        if (m_linkList.isEmpty())
            break;
        qDebug() << __LINE__ << "UrlXmlFile=" << localPath;
        UrlInfo info;
        const bool parsed = parseTessrakUrlXml(info, localPath);
        // Nothing to install: the updater is not started and the tool keeps running.
        if (!parsed || info.linkList.isEmpty()) {
            qWarning() << __LINE__ << "tool link file gives no link for version" << m_tessarkVersion;
            deleteDirectory(localFolder, false);
            reportError(QStringLiteral("读取xml错误"));
            break;
        }
        // Tool files are staged only, and land in none of the user's places; the delete list names none
        // of them either, nor what the tool needs to start or to update itself again.
        const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        QString offending = firstRefused(info.linkList, [&](const QString& l) { return ServerPath::isToolLink(l, appDir); });
        if (offending.isEmpty()) {
            offending = firstRefused(
                info.deleteList, [&](const QString& e) { return ServerPath::isDeletableEntry(e, appDir, program); });
        }
        if (!offending.isEmpty()) {
            qWarning() << __LINE__ << "tool link file refused, unsafe entry" << offending;
            deleteDirectory(localFolder, false);
            reportError(QLatin1String(LinkFileRefused));
            break;
        }
        // Deleted only once every file has arrived: a failed download keeps them.
        m_pendingDeletes = info.deleteList;
        m_linkList = info.linkList;
        qDebug() << __LINE__ << "解析XML文件 LinkList=" << m_linkList.size() << localFolder;
        deleteDirectory(localFolder, false);
        m_downloadMode = ToolFiles;
        hub->emitDownloadNumber(m_linkList.size());
        Startdownload(0);
        break;
    }

    case ToolFiles:
        qDebug() << __LINE__ << "wqx" << "启动安装程序";
        UpdateUpgrradeProgram();
        // A failed start is reported (busy cleared there); the tool keeps running, whole: the delete
        // list waits for an updater that runs (it waits in turn for the tool to exit).
        if (StartUpgradeProgram()) {
            applyPendingDeletes(*this);
            hub->emitMainExitSignal();
            hub->setBusy(false);
        } else {
            takePendingDeletes();
        }
        break;

    case FirmwareVersionFile:
        qDebug() << __LINE__ << "FVF";
        if (m_linkList.isEmpty())
            break;
        ReadFirmwareVersionsFile(localPath);
        deleteDirectory(localFolder, false);
        hub->setBusy(false);
        break;

    case FirmwareLinkFile: {
        qDebug() << __LINE__ << "FUF" << "解析XML文件" << first;
        if (m_linkList.isEmpty())
            break;
        qDebug() << __LINE__ << "UrlXmlFile=" << localPath;
        UrlInfo info;
        parseFirmwareUrlXml(info, localPath); // reports its own failure; mode 5 then only clears busy
        const QString offending =
            firstRefused(info.linkList, [&](const QString& l) { return ServerPath::isFirmwareLink(l, m_modelDir, appDir); });
        if (!offending.isEmpty()) {
            qWarning() << __LINE__ << "firmware link file refused, unsafe entry" << offending;
            deleteDirectory(localFolder, false);
            reportError(QLatin1String(LinkFileRefused));
            break;
        }
        qDebug() << __LINE__ << "LinkList=" << info.linkList.size();
        deleteDirectory(localFolder, false);
        m_linkList = info.linkList;
        m_downloadMode = FirmwareFiles;
        hub->emitDownloadNumber(m_linkList.size());
        Startdownload(0);
        break;
    }

    case FirmwareFiles: {
        qDebug() << __LINE__ << "Firmware" << "开始升级固件";
        if (m_linkList.isEmpty()) {
            hub->setBusy(false);
            break;
        }
        hub->hideUpdateWidget();
        qDebug() << __LINE__ << "StrFile=" << localPath;
        const QString folder = createFilePath(localFolder);
        qDebug() << __LINE__ << "Path==" << folder;
        hub->emitUpdate(folder);
        hub->setBusy(false);
        break;
    }
    }
}

bool DownloadFile::deleteDirectory(const QString& path, bool count)
{
    if (path.isEmpty())
        return false;
    const QString appDir = QDir::cleanPath(QDir(appDirPath()).absolutePath());
    const QString folder = QDir::cleanPath(QDir(path).absolutePath());
    // Emptying a folder that is a link, or lies below one, would empty what the link points at: a
    // linked folder goes itself, one below a link stays.
    if (QFileInfo(folder).isSymLink()) {
        qWarning() << __LINE__ << "deleteDirectory: a link, removed itself, what it points at stays:" << folder;
        if (!QFile::remove(folder))
            return false;
    } else {
        const QString linked = ServerPath::linkedFolder(folder, appDir);
        if (!linked.isEmpty()) {
            qWarning() << __LINE__ << "deleteDirectory: left in place, it is reached through the link" << linked
                       << folder;
            return false;
        }
        if (!QDir(folder).exists())
            return true;
        const bool removed = removeTree(folder, count ? &m_deletedFileCount : nullptr);
        qDebug() << __LINE__ << "absolutePath=" << folder << m_deletedFileCount;
        if (!removed) {
            qWarning() << __LINE__ << "deleteDirectory: not removed whole, what is left stays:" << folder;
            return false;
        }
    }
    // Then each parent left empty, up to but never including the application directory.
    QString parent = QFileInfo(folder).path();
    while (parent != appDir && ServerPath::isInside(parent, appDir) && QDir().rmdir(parent))
        parent = QFileInfo(parent).path();
    return true;
}

bool DownloadFile::removeTree(const QString& path, int* topLevelFiles)
{
    const QFileInfo top(path);
    if (top.isSymLink() || (top.exists() && !top.isDir()))
        return QFile::remove(path);
    if (!top.exists())
        return true;
    QDir dir(path);
    // Hidden entries, and links whose target is gone, are listed only when asked for.
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    bool whole = true;
    for (const QFileInfo& entry : entries) {
        if (entry.isDir() && !entry.isSymLink()) {
            whole = removeTree(entry.absoluteFilePath()) && whole;
            qDebug() << __LINE__ << "absoluteFilePath=" << entry.absoluteFilePath();
            continue;
        }
        // Only what was downloaded counts: a regular file, never a link.
        if (topLevelFiles && entry.isFile() && !entry.isSymLink())
            ++*topLevelFiles;
        // A link is removed itself: what it points at is not ours.
        if (!dir.remove(entry.fileName())) {
            qWarning() << __LINE__ << "cannot remove" << entry.absoluteFilePath();
            whole = false;
        }
    }
    return whole && QDir().rmdir(QDir::cleanPath(dir.absolutePath()));
}

bool DownloadFile::deleteFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return false;
    return QFile::remove(path);
}
