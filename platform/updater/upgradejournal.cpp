#include "upgradejournal.h"

#include "platform/updaternames.h"
#include "platform/userplaces.h"
#include "treecopy.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QVector>

#ifndef Q_OS_WIN
#include <cerrno>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

// A journal lists a few lines per staged file; anything far larger is not ours.
constexpr qint64 MaxJournalBytes = 16 * 1024 * 1024;

const QByteArray FolderKind = "folder";
const QByteArray TemporaryKind = "temp";
const QByteArray AsideKind = "aside";
const QByteArray AddKind = "add";
const QByteArray CompleteKind = "complete";

struct Line {
    QByteArray kind;
    QString path;
    QString second;
};

QString parentOf(const QString& relativePath)
{
    const int slash = relativePath.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : relativePath.left(slash);
}

QString fileNameOf(const QString& relativePath) { return relativePath.mid(relativePath.lastIndexOf(QLatin1Char('/')) + 1); }

#ifndef Q_OS_WIN
// An exclusive lock on the open journal: its writer holds one from the start, the kernel lets it go
// with the process. Where the lock's file can be replaced, a second run could otherwise take a live
// journal for a killed run's.
bool lockJournal(const QFile& file)
{
    return ::flock(file.handle(), LOCK_EX | LOCK_NB) == 0;
}
#endif

} // namespace

QString UpgradeJournal::ownFileBase(const QString& target)
{
    const QString parent = parentOf(target);
    const QString own = UpdaterNames::ownFileBase(fileNameOf(target), QCoreApplication::applicationPid());
    return parent.isEmpty() ? own : parent + QLatin1Char('/') + own;
}

UpgradeJournal::UpgradeJournal(LockedFolder& folder, const QString& toolFileName)
    : m_folder(folder), m_toolFileName(toolFileName), m_name(UpdaterNames::record())
{
}

// Below the folder, and no folder on the way there a link: the journal is a file anybody able to write
// the folder could have written.
bool UpgradeJournal::safePath(const QString& relativePath) const
{
    if (relativePath.isEmpty() || relativePath.startsWith(QLatin1Char('/')) || relativePath.contains(QLatin1Char('\\')))
        return false;
    const QStringList segments = relativePath.split(QLatin1Char('/'));
    for (const QString& segment : segments) {
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String(".."))
            return false;
    }
    return m_folder.reachable(relativePath);
}

// What a run of the updater writes down: never a place of the user's (it copies nothing there), nor a
// file or folder it added where the tool needs it, which a replay would delete.
bool UpgradeJournal::mayName(const QByteArray& kind, const QString& relativePath) const
{
    if (UserPlaces::isUserPlace(relativePath))
        return false;
    return (kind != AddKind && kind != FolderKind) || !UserPlaces::isToolPlace(relativePath, m_toolFileName);
}

bool UpgradeJournal::begin()
{
    // Never through a link, never over an existing file.
    if (!m_folder.openNew(m_name, &m_file))
        return false;
#ifndef Q_OS_WIN
    // On Windows no other process can replace the updater's lock while it runs, so none reads this.
    if (!lockJournal(m_file)) {
        m_file.close();
        m_folder.removeFile(m_name);
        return false;
    }
#endif
    return true;
}

bool UpgradeJournal::append(const QByteArray& kind, const QString& path, const QString& second)
{
    if (!m_file.isOpen())
        return false;
    QByteArray line = kind + ' ' + QFile::encodeName(path).toPercentEncoding();
    if (!second.isEmpty())
        line += ' ' + QFile::encodeName(second).toPercentEncoding();
    return writeLine(line + '\n');
}

bool UpgradeJournal::writeLine(const QByteArray& line)
{
    if (!m_file.isOpen() || m_file.write(line) != line.size() || !m_file.flush())
        return false;
#ifndef Q_OS_WIN
    // On disk before the change it announces.
    if (::fsync(m_file.handle()) != 0)
        return false;
#endif
    return true;
}

bool UpgradeJournal::folderToMake(const QString& path)
{
    return !mayName(FolderKind, path) || append(FolderKind, path);
}
bool UpgradeJournal::temporaryFile(const QString& path) { return append(TemporaryKind, path); }
bool UpgradeJournal::keptAside(const QString& target, const QString& aside) { return append(AsideKind, target, aside); }
bool UpgradeJournal::fileToAdd(const QString& target)
{
    return !mayName(AddKind, target) || append(AddKind, target);
}

bool UpgradeJournal::complete() { return writeLine(CompleteKind + '\n'); }

bool UpgradeJournal::end()
{
    if (!m_file.isOpen())
        return !m_folder.occupied(m_name);
    // Removed while still locked; a file that took its name meanwhile is another's, and stays.
    const bool ours = m_folder.names(m_name, m_file);
    const bool removed = ours && m_folder.removeFile(m_name);
    m_file.close();
    return removed || !ours;
}

UpgradeJournal::Recovery UpgradeJournal::recover(UpgradeLog& log)
{
    const QString shownPath = path();
    if (!m_folder.occupied(m_name))
        return Recovery::Done;
    QByteArray content;
    QFile file;
    const bool opened = m_folder.openRegular(m_name, &file) && file.size() <= MaxJournalBytes;
#ifndef Q_OS_WIN
    if (opened && !lockJournal(file))
        return Recovery::WriterRuns;
#endif
    if (opened)
        content = file.read(MaxJournalBytes + 1);
    if (!opened || content.size() > MaxJournalBytes) {
        log.failure({QStringLiteral("无法读取上次升级的记录 %1，未复制任何文件").arg(shownPath),
                     QStringLiteral("cannot read the record of an earlier upgrade %1; nothing copied").arg(shownPath)});
        return Recovery::Failed;
    }
    // Held locked (file stays open) until the replay is done.
    // A line cut short was being written when the run ended: its change was not made.
    QVector<Line> lines;
    bool complete = false;
    const QList<QByteArray> rawLines = content.split('\n');
    for (int i = 0; i + 1 < rawLines.size(); ++i) {
        const QList<QByteArray> fields = rawLines.at(i).split(' ');
        if (fields.size() == 1 && fields.first() == CompleteKind) {
            complete = true;
            continue;
        }
        Line line;
        line.kind = fields.first();
        if (fields.size() >= 2)
            line.path = QFile::decodeName(QByteArray::fromPercentEncoding(fields.at(1)));
        if (fields.size() >= 3)
            line.second = QFile::decodeName(QByteArray::fromPercentEncoding(fields.at(2)));
        const bool paired = line.kind == TemporaryKind || line.kind == AsideKind;
        const bool known = paired || line.kind == FolderKind || line.kind == AddKind;
        bool valid = known && fields.size() == (line.kind == AsideKind ? 3 : 2) && safePath(line.path)
                     && mayName(line.kind, line.path);
        if (valid && line.kind == AsideKind) {
            // What is kept aside lies beside its file, under a name of the updater's own.
            valid = safePath(line.second) && mayName(AsideKind, line.second)
                    && parentOf(line.second) == parentOf(line.path) && UpdaterNames::isOwnFileName(fileNameOf(line.second))
                    && fileNameOf(line.second).startsWith(QLatin1Char('.') + fileNameOf(line.path) + QStringLiteral(".upgrade-"));
        }
        if (valid && line.kind == TemporaryKind)
            valid = UpdaterNames::isOwnFileName(fileNameOf(line.path));
        if (!valid) {
            log.failure({QStringLiteral("上次升级的记录有误（第 %1 行），未复制任何文件").arg(i + 1),
                         QStringLiteral("the record of an earlier upgrade is damaged (line %1); nothing copied").arg(i + 1)});
            return Recovery::Failed;
        }
        lines.append(line);
    }
    if (complete) {
        log.step({QStringLiteral("上次升级在结束前中断，所有新文件已就位：完成其余步骤"),
                  QStringLiteral("an earlier upgrade was interrupted after every new file was in: finishing it")});
    } else {
        log.step({QStringLiteral("上次升级在复制中途中断：恢复原版本"),
                  QStringLiteral("an earlier upgrade was interrupted while copying: putting the old version back")});
    }

    bool whole = true;
    int putBackCount = 0;
    // Newest first, as a rollback: each folder the run made is empty again when it is removed.
    for (int i = lines.size() - 1; i >= 0; --i) {
        const Line& line = lines.at(i);
        const QString path = m_folder.shown(line.path);
        const LockedFolder::Entry at = m_folder.entry(line.path);
        bool done = true;
        if (line.kind == TemporaryKind) {
            done = at.kind == LockedFolder::Kind::None || m_folder.removeFile(line.path);
        } else if (line.kind == AsideKind) {
            if (m_folder.occupied(line.second)) {
                done = complete ? m_folder.removeFile(line.second) : TreeCopy::putBack(m_folder, line.second, line.path);
                putBackCount += (!complete && done) ? 1 : 0;
            }
        } else if (complete) {
            continue; // what the run added belongs to the new version
        } else if (line.kind == AddKind) {
            done = at.kind == LockedFolder::Kind::None || (at.kind != LockedFolder::Kind::Folder && m_folder.removeFile(line.path));
        } else if (line.kind == FolderKind) {
            QVector<LockedFolder::Entry> held;
            if (at.kind == LockedFolder::Kind::None) {
                done = true;
            } else if (at.kind != LockedFolder::Kind::Folder || !m_folder.list(line.path, &held) || !held.isEmpty()) {
                // Someone put something there since: theirs now, and no part of the old version.
                log.step({QStringLiteral("上次升级创建的目录现有其他内容，保留原样：%1").arg(path),
                          QStringLiteral("left in place, a folder the earlier upgrade made that now holds something "
                                         "else: %1")
                              .arg(path)});
            } else {
                done = m_folder.removeFolder(line.path);
            }
        }
        if (!done) {
            whole = false;
            log.failure({QStringLiteral("无法撤销上次升级的更改：%1").arg(path),
                         QStringLiteral("cannot undo the earlier upgrade's change of %1").arg(path)});
        }
    }
    if (!whole) {
        log.failure({QStringLiteral("上次升级未能完全撤销，记录保留在 %1").arg(shownPath),
                     QStringLiteral("the earlier upgrade could not be undone completely; its record is kept in %1").arg(shownPath)});
        return Recovery::Failed;
    }
    if (!m_folder.names(m_name, file) || !m_folder.removeFile(m_name)) {
        log.failure({QStringLiteral("无法删除上次升级的记录 %1").arg(shownPath),
                     QStringLiteral("cannot remove the record of an earlier upgrade %1").arg(shownPath)});
        return Recovery::Failed;
    }
    if (complete) {
        log.step({QStringLiteral("上次升级已完成"), QStringLiteral("the earlier upgrade is finished")});
    } else {
        log.step({QStringLiteral("已恢复原版本（放回 %1 个原文件）").arg(putBackCount),
                  QStringLiteral("the old version is back (%1 old files put back)").arg(putBackCount)});
    }
    return Recovery::Done;
}
