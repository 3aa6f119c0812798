#include "upgradejournal.h"

#include "plainfolders.h"
#include "platform/updaternames.h"
#include "platform/userplaces.h"
#include "treecopy.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QVector>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
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

// Whether anything, a dangling link included, has this name.
bool occupied(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

struct Line {
    QByteArray kind;
    QString path;
    QString second;
};

} // namespace

QString UpgradeJournal::ownFileBase(const QString& target)
{
    const QFileInfo info(target);
    return info.absolutePath() + QLatin1Char('/')
           + UpdaterNames::ownFileBase(info.fileName(), QCoreApplication::applicationPid());
}

UpgradeJournal::UpgradeJournal(const QString& appDir, const QString& toolFileName)
    : m_appDir(QDir::cleanPath(appDir)), m_toolFileName(toolFileName),
      m_path(m_appDir + QLatin1Char('/') + UpdaterNames::record())
{
}

QString UpgradeJournal::relative(const QString& path) const
{
    return QDir::cleanPath(path).mid(m_appDir.size() + 1);
}

QString UpgradeJournal::absolute(const QString& relativePath) const
{
    return m_appDir + QLatin1Char('/') + relativePath;
}

// Below the application folder, and no folder on the way there a link: the journal is a file anybody
// able to write the folder could have written.
bool UpgradeJournal::safePath(const QString& relativePath) const
{
    if (relativePath.isEmpty() || relativePath.startsWith(QLatin1Char('/')) || relativePath.contains(QLatin1Char('\\')))
        return false;
    const QStringList segments = relativePath.split(QLatin1Char('/'));
    for (const QString& segment : segments) {
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String(".."))
            return false;
    }
    return foldersOnTheWayArePlain(m_appDir, relativePath);
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
#ifdef Q_OS_WIN
    m_file.setFileName(m_path);
    return m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
#else
    // Never through a link, never over an existing file.
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0600);
    if (fd < 0)
        return false;
    if (!m_file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#endif
}

bool UpgradeJournal::append(const QByteArray& kind, const QString& path, const QString& second)
{
    if (!m_file.isOpen())
        return false;
    QByteArray line = kind + ' ' + QFile::encodeName(relative(path)).toPercentEncoding();
    if (!second.isEmpty())
        line += ' ' + QFile::encodeName(relative(second)).toPercentEncoding();
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
    return !mayName(FolderKind, relative(path)) || append(FolderKind, path);
}
bool UpgradeJournal::temporaryFile(const QString& path) { return append(TemporaryKind, path); }
bool UpgradeJournal::keptAside(const QString& target, const QString& aside) { return append(AsideKind, target, aside); }
bool UpgradeJournal::fileToAdd(const QString& target)
{
    return !mayName(AddKind, relative(target)) || append(AddKind, target);
}

bool UpgradeJournal::complete() { return writeLine(CompleteKind + '\n'); }

bool UpgradeJournal::end()
{
    m_file.close();
    return QFile::remove(m_path) || !occupied(m_path);
}

bool UpgradeJournal::recover(UpgradeLog& log)
{
    if (!occupied(m_path))
        return true;
    QByteArray content;
    QFile file;
#ifdef Q_OS_WIN
    const QFileInfo info(m_path);
    file.setFileName(m_path);
    const bool opened = !info.isSymLink() && info.isFile() && info.size() <= MaxJournalBytes
                        && file.open(QIODevice::ReadOnly);
#else
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    const bool opened = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= MaxJournalBytes
                        && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    if (!opened && fd >= 0)
        ::close(fd);
#endif
    if (opened)
        content = file.read(MaxJournalBytes + 1);
    if (!opened || content.size() > MaxJournalBytes) {
        log.failure({QStringLiteral("无法读取上次升级的记录 %1，未复制任何文件").arg(m_path),
                     QStringLiteral("cannot read the record of an earlier upgrade %1; nothing copied").arg(m_path)});
        return false;
    }
    file.close();

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
            const QFileInfo target(absolute(line.path));
            const QFileInfo aside(absolute(line.second));
            valid = safePath(line.second) && mayName(AsideKind, line.second)
                    && aside.absolutePath() == target.absolutePath() && UpdaterNames::isOwnFileName(aside.fileName())
                    && aside.fileName().startsWith(QLatin1Char('.') + target.fileName() + QStringLiteral(".upgrade-"));
        }
        if (valid && line.kind == TemporaryKind)
            valid = UpdaterNames::isOwnFileName(QFileInfo(line.path).fileName());
        if (!valid) {
            log.failure({QStringLiteral("上次升级的记录有误（第 %1 行），未复制任何文件").arg(i + 1),
                         QStringLiteral("the record of an earlier upgrade is damaged (line %1); nothing copied").arg(i + 1)});
            return false;
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
        const QString path = absolute(line.path);
        bool done = true;
        if (line.kind == TemporaryKind) {
            done = !occupied(path) || QFile::remove(path);
        } else if (line.kind == AsideKind) {
            const QString aside = absolute(line.second);
            if (occupied(aside)) {
                done = complete ? QFile::remove(aside) : TreeCopy::putBack(aside, path);
                putBackCount += (!complete && done) ? 1 : 0;
            }
        } else if (complete) {
            continue; // what the run added belongs to the new version
        } else if (line.kind == AddKind) {
            const QFileInfo added(path);
            done = (!added.exists() && !added.isSymLink()) || (!added.isDir() && QFile::remove(path));
        } else if (line.kind == FolderKind) {
            const QFileInfo folder(path);
            const bool plain = folder.isDir() && !folder.isSymLink();
            if (!folder.exists() && !folder.isSymLink()) {
                done = true;
            } else if (!plain || !QDir(path).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
                // Someone put something there since: theirs now, and no part of the old version.
                log.step({QStringLiteral("上次升级创建的目录现有其他内容，保留原样：%1").arg(path),
                          QStringLiteral("left in place, a folder the earlier upgrade made that now holds something "
                                         "else: %1")
                              .arg(path)});
            } else {
                done = QDir().rmdir(path);
            }
        }
        if (!done) {
            whole = false;
            log.failure({QStringLiteral("无法撤销上次升级的更改：%1").arg(path),
                         QStringLiteral("cannot undo the earlier upgrade's change of %1").arg(path)});
        }
    }
    if (!whole) {
        log.failure({QStringLiteral("上次升级未能完全撤销，记录保留在 %1").arg(m_path),
                     QStringLiteral("the earlier upgrade could not be undone completely; its record is kept in %1").arg(m_path)});
        return false;
    }
    if (!QFile::remove(m_path)) {
        log.failure({QStringLiteral("无法删除上次升级的记录 %1").arg(m_path),
                     QStringLiteral("cannot remove the record of an earlier upgrade %1").arg(m_path)});
        return false;
    }
    if (complete) {
        log.step({QStringLiteral("上次升级已完成"), QStringLiteral("the earlier upgrade is finished")});
    } else {
        log.step({QStringLiteral("已恢复原版本（放回 %1 个原文件）").arg(putBackCount),
                  QStringLiteral("the old version is back (%1 old files put back)").arg(putBackCount)});
    }
    return true;
}
