#include "treecopy.h"

#include "platform/updaternames.h"
#include "platform/userplaces.h"
#include "testpause.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
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

QString joined(const QString& folder, const QString& name)
{
    return folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
}

bool isBelow(const QString& path, const QString& folder)
{
    return path.size() > folder.size() + 1 && path.startsWith(folder + QLatin1Char('/'));
}

// Gives the open file these bits, on the file itself rather than whatever its name leads to now.
bool setMode(QFile& file, QFileDevice::Permissions permissions)
{
#ifdef Q_OS_WIN
    return file.setPermissions(permissions);
#else
    mode_t mode = 0;
    const std::pair<QFileDevice::Permission, mode_t> bits[] = {
        {QFileDevice::ReadOwner, S_IRUSR}, {QFileDevice::WriteOwner, S_IWUSR}, {QFileDevice::ExeOwner, S_IXUSR},
        {QFileDevice::ReadGroup, S_IRGRP}, {QFileDevice::WriteGroup, S_IWGRP}, {QFileDevice::ExeGroup, S_IXGRP},
        {QFileDevice::ReadOther, S_IROTH}, {QFileDevice::WriteOther, S_IWOTH}, {QFileDevice::ExeOther, S_IXOTH}};
    for (const auto& bit : bits) {
        if (permissions & bit.first)
            mode |= bit.second;
    }
    return ::fchmod(file.handle(), mode) == 0;
#endif
}

} // namespace

bool TreeCopy::putBack(LockedFolder& folder, const QString& aside, const QString& target, QString* why)
{
#ifdef Q_OS_WIN
    SetLastError(ERROR_SUCCESS);
#else
    errno = 0;
#endif
    const bool done = folder.sameFile(aside, target) ? folder.removeFile(aside) : folder.renameOver(aside, target);
    // Read at once, before anything else can change it. A step that failed without a code of the
    // system's (a folder on the way no longer reachable) is still named.
    if (!done && why) {
        const QString error = qt_error_string();
        *why = error.isEmpty() ? QStringLiteral("the old file or its place can no longer be reached") : error;
    }
    return done;
}

TreeCopy::TreeCopy(LockedFolder& folder, const QString& stagedDir, UpgradeLog& log, UpgradeJournal& journal)
    : m_folder(folder), m_stagedDir(stagedDir), m_log(log), m_journal(journal)
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
    return planFolder(m_stagedDir, QString(), 0);
}

bool TreeCopy::planFolder(const QString& source, const QString& target, int depth)
{
    const QString shownSource = m_folder.shown(source);
    if (depth > MaxDepth)
        return refuse(QStringLiteral("目录层次过深：%1").arg(shownSource), QStringLiteral("folders nested too deep: %1").arg(shownSource));
    QVector<LockedFolder::Entry> entries;
    if (!m_folder.list(source, &entries))
        return refuse(QStringLiteral("无法读取目录：%1").arg(shownSource), QStringLiteral("cannot read the folder %1").arg(shownSource));
    for (const LockedFolder::Entry& entry : qAsConst(entries)) {
        const QString name = entry.name;
        const QString from = joined(source, name);
        const bool folder = entry.kind == LockedFolder::Kind::Folder;
        if (entry.kind == LockedFolder::Kind::Link) { // a link could lead anywhere: its target is not ours to copy
            m_log.step({QStringLiteral("跳过符号链接：%1").arg(m_folder.shown(from)),
                        QStringLiteral("skipped symbolic link: %1").arg(m_folder.shown(from))});
            continue;
        }
        const QString to = joined(target, folder ? name : targetName(name));
        if (name.contains(QLatin1Char('\\')) || to == m_stagedDir || isBelow(to, m_stagedDir)) {
            return refuse(QStringLiteral("目标路径不在应用程序目录内：%1").arg(m_folder.shown(to)),
                          QStringLiteral("target path outside the application folder: %1").arg(m_folder.shown(to)));
        }
        // The updater's record, lock and kept-aside files are its own: one staged over them would be
        // taken for what this or a later run did.
        if (UpdaterNames::isReserved(to)) {
            m_log.step({QStringLiteral("跳过升级程序自用的文件名：%1").arg(m_folder.shown(to)),
                        QStringLiteral("skipped, a name of the updater's own files: %1").arg(m_folder.shown(to))});
            continue;
        }
        // The user's keyboards, logs, colours and settings are theirs, whatever was staged.
        if (UserPlaces::isUserPlace(to)) {
            m_log.step({QStringLiteral("跳过用户文件位置：%1").arg(m_folder.shown(to)),
                        QStringLiteral("skipped, a place of the user's own files: %1").arg(m_folder.shown(to))});
            continue;
        }
        if (folder) {
            const LockedFolder::Kind existing = m_folder.entry(to).kind;
            if (existing != LockedFolder::Kind::None && existing != LockedFolder::Kind::Folder) {
                return refuse(QStringLiteral("目标不是目录：%1").arg(m_folder.shown(to)),
                              QStringLiteral("target is not a folder: %1").arg(m_folder.shown(to)));
            }
            m_items.append({from, to, true});
            if (!planFolder(from, to, depth + 1))
                return false;
        } else if (entry.kind == LockedFolder::Kind::File) {
            if (!planFile(from, to))
                return false;
        } else {
            m_log.step({QStringLiteral("跳过非普通文件：%1").arg(m_folder.shown(from)),
                        QStringLiteral("skipped, not a regular file: %1").arg(m_folder.shown(from))});
        }
    }
    return true;
}

bool TreeCopy::planFile(const QString& source, const QString& target)
{
    const LockedFolder::Kind existing = m_folder.entry(target).kind;
    // A link in the target's place is replaced itself, never written through.
    if (existing == LockedFolder::Kind::Folder || existing == LockedFolder::Kind::Other) {
        return refuse(QStringLiteral("目标不是普通文件：%1").arg(m_folder.shown(target)),
                      QStringLiteral("target is not a regular file: %1").arg(m_folder.shown(target)));
    }
    if (m_targets.contains(target)) {
        return refuse(QStringLiteral("多个暂存文件对应同一目标：%1").arg(m_folder.shown(target)),
                      QStringLiteral("more than one staged file for %1").arg(m_folder.shown(target)));
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
    // before: as the log shows it (the record's path already is).
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
            return stop(m_folder.shown(item.target));
        // Planned, but a folder on the way may have become a link since.
        if (linkOnTheWay(item.target)) {
            refuse(QStringLiteral("目标路径经过符号链接：%1").arg(m_folder.shown(item.target)),
                   QStringLiteral("the target's path passes a link: %1").arg(m_folder.shown(item.target)));
            return fail();
        }
        if (item.folder) {
            if (m_folder.entry(item.target).kind == LockedFolder::Kind::Folder)
                continue;
            if (!m_journal.folderToMake(item.target) || !m_folder.makeFolder(item.target)) {
                refuse(QStringLiteral("无法创建目录：%1").arg(m_folder.shown(item.target)),
                       QStringLiteral("cannot create the folder %1").arg(m_folder.shown(item.target)));
                return fail();
            }
            m_createdFolders.append(item.target);
            continue;
        }
        const QString source = m_folder.shown(item.source), target = m_folder.shown(item.target);
        m_log.step({QStringLiteral("复制 %1 到 %2").arg(source, target), QStringLiteral("copying %1 to %2").arg(source, target)});
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
    return !m_folder.reachable(target);
}

bool TreeCopy::keepOld(const QString& target, QString* aside)
{
    const QString base = UpgradeJournal::ownFileBase(target) + QStringLiteral("-old-");
    for (int i = 0; i < 100; ++i) {
        const QString candidate = base + QString::number(i);
        if (m_folder.occupied(candidate))
            continue;
        if (!m_journal.keptAside(target, candidate))
            return false;
        if (m_folder.keepAside(target, candidate)) {
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
            QString error;
            if (putBack(m_folder, w.aside, w.target, &error)) {
                ++putBackCount;
            } else {
                m_restored = false;
                const QString target = m_folder.shown(w.target), aside = m_folder.shown(w.aside);
                m_log.failure({QStringLiteral("无法恢复 %1（原文件保留为 %2）：%3").arg(target, aside, error),
                               QStringLiteral("cannot put back %1 (the old file is kept as %2): %3")
                                   .arg(target, aside, error)});
            }
        } else if (w.placed && !m_folder.removeFile(w.target)) {
            m_restored = false;
            m_log.failure({QStringLiteral("无法删除新增的文件 %1").arg(m_folder.shown(w.target)),
                           QStringLiteral("cannot remove the added file %1").arg(m_folder.shown(w.target))});
        }
    }
    for (int i = m_createdFolders.size() - 1; i >= 0; --i) {
        if (!m_folder.removeFolder(m_createdFolders.at(i))) {
            m_restored = false;
            m_log.failure({QStringLiteral("无法删除新增的目录 %1").arg(m_folder.shown(m_createdFolders.at(i))),
                           QStringLiteral("cannot remove the added folder %1").arg(m_folder.shown(m_createdFolders.at(i)))});
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
        if (!m_folder.removeFile(w.aside)) {
            m_log.failure({QStringLiteral("无法删除旧文件 %1").arg(m_folder.shown(w.aside)),
                           QStringLiteral("cannot remove the old file kept as %1").arg(m_folder.shown(w.aside))});
        }
        TestPause::at("old-dropped", m_log);
    }
    m_written.clear();
    m_createdFolders.clear();
}

bool TreeCopy::replaceFile(const Item& item)
{
    const QString shownSource = m_folder.shown(item.source), shownTarget = m_folder.shown(item.target);
    QFile source;
    if (!m_folder.openRegular(item.source, &source)) {
        const QString error = qt_error_string();
        return refuse(QStringLiteral("无法读取 %1：%2").arg(shownSource, error),
                      QStringLiteral("cannot read %1: %2").arg(shownSource, error));
    }
    // An executable replaced keeps its bits (downloads arrive without the execute bits); a new file
    // keeps the staged one's.
    const LockedFolder::Entry existing = m_folder.entry(item.target);
    const QFileDevice::Permissions mode =
        (existing.kind == LockedFolder::Kind::File ? existing.permissions : m_folder.entry(item.source).permissions) & ModeBits;

    // Beside the target, so the rename stays on one file system; never under the target's name, so a
    // failure leaves the old file whole.
    const QString base = UpgradeJournal::ownFileBase(item.target);
    QFile temp;
    QString tempName;
    for (int i = 0; i < 100 && !temp.isOpen(); ++i) {
        tempName = base + QLatin1Char('-') + QString::number(i);
        if (m_folder.occupied(tempName))
            continue;
        if (!m_journal.temporaryFile(tempName)) {
            return refuse(QStringLiteral("无法写入升级记录"), QStringLiteral("cannot write the upgrade's record"));
        }
        m_folder.openNew(tempName, &temp); // never an existing file or link
    }
    if (!temp.isOpen()) {
        const QString error = qt_error_string();
        return refuse(QStringLiteral("无法创建临时文件 %1：%2").arg(m_folder.shown(tempName), error),
                      QStringLiteral("cannot create the temporary file %1: %2").arg(m_folder.shown(tempName), error));
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
                        : QStringLiteral("%1 of %2 bytes written").arg(QString::number(qMax<qint64>(written, 0)), QString::number(chunk.size()));
        }
    }
    if (error.isEmpty() && !temp.flush())
        error = temp.errorString();
#ifndef Q_OS_WIN
    if (error.isEmpty() && ::fsync(temp.handle()) != 0)
        error = QStringLiteral("fsync failed");
#endif
    if (error.isEmpty() && !setMode(temp, mode))
        error = QStringLiteral("cannot set the permission bits: ") + qt_error_string();
    temp.close();
    if (error.isEmpty() && temp.error() != QFileDevice::NoError)
        error = temp.errorString();
    if (error.isEmpty())
        TestPause::at("temporary-written", m_log);
    // The old file stays whole under a second name until the whole copy is in.
    Written entry{item.target, QString(), false};
    if (error.isEmpty() && m_folder.occupied(item.target) && !keepOld(item.target, &entry.aside))
        error = QStringLiteral("cannot keep the old file aside: ") + qt_error_string();
    else if (error.isEmpty() && entry.aside.isEmpty() && !m_journal.fileToAdd(item.target))
        error = QStringLiteral("cannot write the upgrade's record");
    if (error.isEmpty()) {
        m_written.append(entry);
        if (m_folder.renameOver(tempName, item.target))
            m_written.last().placed = true;
        else
            error = qt_error_string();
    }
    if (!error.isEmpty()) {
        m_folder.removeFile(tempName);
        return refuse(QStringLiteral("无法替换 %1：%2").arg(shownTarget, error),
                      QStringLiteral("cannot replace %1: %2").arg(shownTarget, error));
    }
    return true;
}
