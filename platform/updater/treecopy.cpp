#include "treecopy.h"

#include "plainfolders.h"
#include "platform/updaternames.h"
#include "platform/userplaces.h"
#include "testpause.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr int MaxDepth = 64;
constexpr qint64 ChunkBytes = 256 * 1024;

// Read, write and execute bits for owner, group and others; Qt's "user" bits say what this process may
// do and would otherwise be mapped onto the owner's.
constexpr QFileDevice::Permissions ModeBits =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
    | QFileDevice::WriteGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther
    | QFileDevice::ExeOther;

bool isBelow(const QString& path, const QString& folder)
{
    return path.size() > folder.size() + 1 && path.startsWith(folder + QLatin1Char('/'));
}

} // namespace

bool TreeCopy::renameOver(const QString& source, const QString& target)
{
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(source).utf16()),
                       reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(target).utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    return ::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0;
#endif
}

bool TreeCopy::putBack(const QString& aside, const QString& target)
{
#ifndef Q_OS_WIN
    struct stat kept {};
    struct stat named {};
    if (::lstat(QFile::encodeName(aside).constData(), &kept) == 0
        && ::lstat(QFile::encodeName(target).constData(), &named) == 0 && kept.st_dev == named.st_dev
        && kept.st_ino == named.st_ino)
        return ::unlink(QFile::encodeName(aside).constData()) == 0;
#endif
    return renameOver(aside, target);
}

namespace {

// Gives the file or link at target the second name aside, which must not exist yet. Where the file
// system allows, both names stay, so target is never missing; else target is moved to aside.
bool keepAside(const QString& target, const QString& aside)
{
#ifdef Q_OS_WIN
    // Without MOVEFILE_REPLACE_EXISTING nothing at aside is replaced; a running program may be moved.
    return MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(target).utf16()),
                       reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(aside).utf16()),
                       MOVEFILE_WRITE_THROUGH);
#else
    const QByteArray from = QFile::encodeName(target);
    const QByteArray to = QFile::encodeName(aside);
    if (::linkat(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), 0) == 0) // 0: a link is kept itself
        return true;
    if (errno == EEXIST)
        return false;
    // No second names on this file system (FAT, some network shares): move it, never over anything.
    struct stat st {};
    return ::lstat(to.constData(), &st) != 0 && errno == ENOENT
           && ::rename(from.constData(), to.constData()) == 0;
#endif
}

// Whether anything, a dangling link included, has this name.
bool occupied(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

TreeCopy::TreeCopy(const QString& stagedDir, const QString& targetDir, UpgradeLog& log, UpgradeJournal& journal)
    : m_stagedDir(QDir::cleanPath(stagedDir)), m_targetDir(QDir::cleanPath(targetDir)), m_log(log), m_journal(journal)
{
}

QString TreeCopy::targetName(const QString& stagedName)
{
    static const QString added = QStringLiteral(".tessark");
    if (!stagedName.endsWith(added))
        return stagedName;
    const QString cut = stagedName.left(stagedName.size() - added.size());
    return cut.size() > 4 && cut.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive) ? cut : stagedName;
}

int TreeCopy::fileCount() const
{
    int n = 0;
    for (const Item& item : m_items)
        n += item.folder ? 0 : 1;
    return n;
}

bool TreeCopy::refuse(const QString& chinese, const QString& english)
{
    m_log.failure({chinese, english});
    return false;
}

bool TreeCopy::plan()
{
    m_items.clear();
    m_targets.clear();
    return planFolder(m_stagedDir, m_targetDir, 0);
}

bool TreeCopy::planFolder(const QString& source, const QString& target, int depth)
{
    if (depth > MaxDepth)
        return refuse(QStringLiteral("目录层次过深：%1").arg(source), QStringLiteral("folders nested too deep: %1").arg(source));
    const QFileInfoList entries = QDir(source).entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        if (entry.isSymLink()) { // a link could lead anywhere: its target is not ours to copy
            m_log.step({QStringLiteral("跳过符号链接：%1").arg(entry.filePath()),
                        QStringLiteral("skipped symbolic link: %1").arg(entry.filePath())});
            continue;
        }
        const QString to = QDir::cleanPath(target + QLatin1Char('/') + (entry.isDir() ? name : targetName(name)));
        if (name.contains(QLatin1Char('\\')) || !isBelow(to, m_targetDir) || to == m_stagedDir
            || isBelow(to, m_stagedDir)) {
            return refuse(QStringLiteral("目标路径不在应用程序目录内：%1").arg(to),
                          QStringLiteral("target path outside the application folder: %1").arg(to));
        }
        // The updater's record, lock and kept-aside files are its own: one staged over them would be
        // taken for what this or a later run did.
        if (UpdaterNames::isReserved(to.mid(m_targetDir.size() + 1))) {
            m_log.step({QStringLiteral("跳过升级程序自用的文件名：%1").arg(to),
                        QStringLiteral("skipped, a name of the updater's own files: %1").arg(to)});
            continue;
        }
        // The user's keyboards, logs, colours and settings are theirs, whatever was staged.
        if (UserPlaces::isUserPlace(to.mid(m_targetDir.size() + 1))) {
            m_log.step({QStringLiteral("跳过用户文件位置：%1").arg(to),
                        QStringLiteral("skipped, a place of the user's own files: %1").arg(to)});
            continue;
        }
        if (entry.isDir()) {
            const QFileInfo existing(to);
            if (existing.isSymLink() || (existing.exists() && !existing.isDir())) {
                return refuse(QStringLiteral("目标不是目录：%1").arg(to),
                              QStringLiteral("target is not a folder: %1").arg(to));
            }
            m_items.append({entry.filePath(), to, true});
            if (!planFolder(entry.filePath(), to, depth + 1))
                return false;
        } else if (entry.isFile()) {
            if (!planFile(entry.filePath(), to))
                return false;
        } else {
            m_log.step({QStringLiteral("跳过非普通文件：%1").arg(entry.filePath()),
                        QStringLiteral("skipped, not a regular file: %1").arg(entry.filePath())});
        }
    }
    return true;
}

bool TreeCopy::planFile(const QString& source, const QString& target)
{
    const QFileInfo existing(target);
    // A link in the target's place is replaced itself, never written through.
    if (!existing.isSymLink() && existing.exists() && !existing.isFile()) {
        return refuse(QStringLiteral("目标不是普通文件：%1").arg(target),
                      QStringLiteral("target is not a regular file: %1").arg(target));
    }
    if (m_targets.contains(target)) {
        return refuse(QStringLiteral("多个暂存文件对应同一目标：%1").arg(target),
                      QStringLiteral("more than one staged file for %1").arg(target));
    }
    m_targets.insert(target);
    m_items.append({source, target, false});
    return true;
}

bool TreeCopy::copy(const std::function<bool()>& mayGoOn)
{
    m_copied = 0;
    m_written.clear();
    m_createdFolders.clear();
    m_restored = true;
    m_stopped = false;
    if (!m_journal.begin()) {
        return refuse(QStringLiteral("无法创建升级记录，未复制任何文件"),
                      QStringLiteral("cannot create the upgrade's record; nothing copied"));
    }
    TestPause::at("record-begun", m_log);
    const auto stop = [&](const QString& before) {
        m_stopped = true;
        refuse(QStringLiteral("升级程序的锁已不属于它（其文件被替换，或应用程序目录被移走）：在 %1 之前停止").arg(before),
               QStringLiteral("the updater's lock is no longer its own (its file was replaced, or the application "
                              "folder moved): stopped before %1")
                   .arg(before));
        return fail();
    };
    for (const Item& item : m_items) {
        if (mayGoOn && !mayGoOn())
            return stop(item.target);
        // Planned, but a folder on the way may have become a link since.
        if (linkOnTheWay(item.target)) {
            refuse(QStringLiteral("目标路径经过符号链接：%1").arg(item.target),
                   QStringLiteral("the target's path passes a link: %1").arg(item.target));
            return fail();
        }
        if (item.folder) {
            const QFileInfo existing(item.target);
            if (existing.isDir() && !existing.isSymLink())
                continue;
            if (!m_journal.folderToMake(item.target) || !QDir().mkdir(item.target)) {
                refuse(QStringLiteral("无法创建目录：%1").arg(item.target),
                       QStringLiteral("cannot create the folder %1").arg(item.target));
                return fail();
            }
            m_createdFolders.append(item.target);
            continue;
        }
        m_log.step({QStringLiteral("复制 %1 到 %2").arg(item.source, item.target),
                    QStringLiteral("copying %1 to %2").arg(item.source, item.target)});
        if (!replaceFile(item))
            return fail();
        ++m_copied;
        TestPause::at("file-placed", m_log);
    }
    if (mayGoOn && !mayGoOn())
        return stop(m_journal.path());
    if (!m_journal.complete()) {
        refuse(QStringLiteral("无法写入升级记录"), QStringLiteral("cannot write the upgrade's record"));
        return fail();
    }
    TestPause::at("record-complete", m_log);
    dropKeptFiles();
    if (!m_journal.end())
        refuse(QStringLiteral("无法删除升级记录"), QStringLiteral("cannot remove the upgrade's record"));
    return true;
}

bool TreeCopy::fail()
{
    rollBack();
    // What could not be put back stays journalled for the next run.
    if (m_restored && !m_journal.end())
        refuse(QStringLiteral("无法删除升级记录"), QStringLiteral("cannot remove the upgrade's record"));
    return false;
}

// Whether a folder between the target folder and target is (now) a link or no folder.
bool TreeCopy::linkOnTheWay(const QString& target) const
{
    return !foldersOnTheWayArePlain(m_targetDir, target.mid(m_targetDir.size() + 1));
}

bool TreeCopy::keepOld(const QString& target, QString* aside)
{
    const QString base = UpgradeJournal::ownFileBase(target) + QStringLiteral("-old-");
    for (int i = 0; i < 100; ++i) {
        const QString candidate = base + QString::number(i);
        if (occupied(candidate))
            continue;
        if (!m_journal.keptAside(target, candidate))
            return false;
        if (keepAside(target, candidate)) {
            *aside = candidate;
            TestPause::at("old-kept-aside", m_log);
            return true;
        }
    }
    return false;
}

// Newest first, so each folder this copy made is empty again by the time it is removed.
void TreeCopy::rollBack()
{
    int putBackCount = 0;
    for (int i = m_written.size() - 1; i >= 0; --i) {
        const Written& w = m_written.at(i);
        if (!w.aside.isEmpty()) {
            if (putBack(w.aside, w.target)) {
                ++putBackCount;
            } else {
                m_restored = false;
                const QString error = qt_error_string();
                m_log.failure({QStringLiteral("无法恢复 %1（原文件保留为 %2）：%3").arg(w.target, w.aside, error),
                               QStringLiteral("cannot put back %1 (the old file is kept as %2): %3")
                                   .arg(w.target, w.aside, error)});
            }
        } else if (w.placed && !QFile::remove(w.target)) {
            m_restored = false;
            m_log.failure({QStringLiteral("无法删除新增的文件 %1").arg(w.target),
                           QStringLiteral("cannot remove the added file %1").arg(w.target)});
        }
    }
    for (int i = m_createdFolders.size() - 1; i >= 0; --i) {
        if (!QDir().rmdir(m_createdFolders.at(i))) {
            m_restored = false;
            m_log.failure({QStringLiteral("无法删除新增的目录 %1").arg(m_createdFolders.at(i)),
                           QStringLiteral("cannot remove the added folder %1").arg(m_createdFolders.at(i))});
        }
    }
    m_written.clear();
    m_createdFolders.clear();
    m_log.step({QStringLiteral("已恢复 %1 个原文件").arg(putBackCount), QStringLiteral("put back %1 old files").arg(putBackCount)});
}

void TreeCopy::dropKeptFiles()
{
    for (const Written& w : qAsConst(m_written)) {
        if (w.aside.isEmpty())
            continue;
        if (!QFile::remove(w.aside)) {
            m_log.failure({QStringLiteral("无法删除旧文件 %1").arg(w.aside),
                           QStringLiteral("cannot remove the old file kept as %1").arg(w.aside)});
        }
        TestPause::at("old-dropped", m_log);
    }
    m_written.clear();
    m_createdFolders.clear();
}

bool TreeCopy::replaceFile(const Item& item)
{
    QFile source(item.source);
    if (!source.open(QIODevice::ReadOnly)) {
        return refuse(QStringLiteral("无法读取 %1：%2").arg(item.source, source.errorString()),
                      QStringLiteral("cannot read %1: %2").arg(item.source, source.errorString()));
    }
    // An executable replaced keeps its bits (downloads arrive without the execute bits); a new file
    // keeps the staged one's.
    const QFileInfo existing(item.target);
    const QFileDevice::Permissions mode =
        (existing.isFile() && !existing.isSymLink() ? existing.permissions() : source.permissions()) & ModeBits;

    // Beside the target, so the rename stays on one file system; never under the target's name, so a
    // failure leaves the old file whole.
    const QString base = UpgradeJournal::ownFileBase(item.target);
    QFile temp;
    for (int i = 0; i < 100 && !temp.isOpen(); ++i) {
        temp.setFileName(base + QLatin1Char('-') + QString::number(i));
        if (occupied(temp.fileName()))
            continue;
        if (!m_journal.temporaryFile(temp.fileName())) {
            return refuse(QStringLiteral("无法写入升级记录"), QStringLiteral("cannot write the upgrade's record"));
        }
        temp.open(QIODevice::WriteOnly | QIODevice::NewOnly); // NewOnly: never an existing file or link
    }
    if (!temp.isOpen()) {
        return refuse(QStringLiteral("无法创建临时文件 %1：%2").arg(temp.fileName(), temp.errorString()),
                      QStringLiteral("cannot create the temporary file %1: %2").arg(temp.fileName(), temp.errorString()));
    }

    QString error;
    QByteArray chunk;
    while (error.isEmpty()) {
        chunk = source.read(ChunkBytes);
        if (chunk.isEmpty()) {
            if (source.error() != QFileDevice::NoError || !source.atEnd())
                error = source.errorString();
            break;
        }
        const qint64 written = temp.write(chunk);
        if (written != chunk.size()) { // a short write sets no error of its own: a full disk, a size limit
            error = temp.error() != QFileDevice::NoError
                        ? temp.errorString()
                        : QStringLiteral("%1 of %2 bytes written").arg(qMax<qint64>(written, 0)).arg(chunk.size());
        }
    }
    if (error.isEmpty() && !temp.flush())
        error = temp.errorString();
#ifndef Q_OS_WIN
    if (error.isEmpty() && ::fsync(temp.handle()) != 0)
        error = QStringLiteral("fsync failed");
#endif
    if (error.isEmpty() && !temp.setPermissions(mode))
        error = temp.errorString();
    temp.close();
    if (error.isEmpty() && temp.error() != QFileDevice::NoError)
        error = temp.errorString();
    if (error.isEmpty())
        TestPause::at("temporary-written", m_log);
    // The old file stays whole under a second name until the whole copy is in.
    Written entry{item.target, QString(), false};
    if (error.isEmpty() && occupied(item.target) && !keepOld(item.target, &entry.aside))
        error = QStringLiteral("cannot keep the old file aside: ") + qt_error_string();
    else if (error.isEmpty() && entry.aside.isEmpty() && !m_journal.fileToAdd(item.target))
        error = QStringLiteral("cannot write the upgrade's record");
    if (error.isEmpty()) {
        m_written.append(entry);
        if (renameOver(temp.fileName(), item.target))
            m_written.last().placed = true;
        else
            error = qt_error_string();
    }
    if (!error.isEmpty()) {
        QFile::remove(temp.fileName());
        return refuse(QStringLiteral("无法替换 %1：%2").arg(item.target, error),
                      QStringLiteral("cannot replace %1: %2").arg(item.target, error));
    }
    return true;
}
