// The updater hand-over: refresh the updater from the download, then start it.
#include "downloadfile.h"

#include "Update/safeunzip.h"
#include "Update/serverpath.h"
#include "Update/updaternotice.h"
#include "platform/updaternames.h"
#include "setting/Language.h"
#include "widget/qss.h"
#include "widget/regularfile.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QThread>

#include <atomic>
#include <functional>

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

QString programName()
{
    return QFileInfo(updaterProgram()).fileName();
}

// Whether an updater program may be this long: not empty, and no longer than any tool file a download
// may bring. The look at a folder and the reader of a program's digest both go by it alone.
bool updaterSizeAllowed(qint64 size)
{
    return size > 0 && size <= DownloadFile::MaxToolFileBytes;
}

// The size of the updater program in folder when folder is a folder of ours (no link) holding it as a
// regular file of an allowed size; else -1. Only such a copy may stand in for another, or be started.
qint64 updaterSize(const QString& folder)
{
    const QFileInfo dir(folder), program(folder + QLatin1Char('/') + programName());
    const bool whole = dir.isDir() && !dir.isSymLink() && program.isFile() && !program.isSymLink()
                       && updaterSizeAllowed(program.size());
    return whole ? program.size() : -1;
}

bool holdsUpdater(const QString& folder) { return updaterSize(folder) >= 0; }

// Whether path names a regular file of its own (no link), judged without opening it.
bool ownRegularFile(const QString& path)
{
    const QFileInfo info(path);
    return !info.isSymLink() && info.isFile();
}

// Opens path for reading only when it is a regular file of its own: a FIFO would block the open until a
// writer comes, a device or a link to one never ends. The opened descriptor is checked again, so one
// swapped in after the look is refused too.
bool openOwnRegular(QFile* file, const QString& path)
{
    return ownRegularFile(path) && RegularFile::openForReading(file, path);
}

std::function<void(const QString&, qint64)>& digestReadHook()
{
    static std::function<void(const QString&, qint64)> hook;
    return hook;
}

// A program's digest, or why there is none.
struct ProgramDigest {
    enum Result { Whole, NotRegular, SizeRefused, Short, Stopped };
    Result result = NotRegular;
    QByteArray hex;   // the SHA-256 in hex, only when Whole
    qint64 size = -1; // as the opened descriptor had it
};

// The digest of the updater program at path. Nothing is read unless it is a regular file of its own of an
// allowed size, judged on the opened descriptor; no more is read than that size, and a file that ends
// sooner (cut while it is read) gives none. A stop asked for meanwhile ends the read at the next chunk.
ProgramDigest readDigest(const QString& path, const WorkerStop& stop)
{
    ProgramDigest d;
    QFile file;
    if (!openOwnRegular(&file, path))
        return d;
    d.size = file.size();
    if (!updaterSizeAllowed(d.size)) {
        d.result = ProgramDigest::SizeRefused;
        return d;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 left = d.size;
    QByteArray chunk;
    while (left > 0) {
        if (digestReadHook())
            digestReadHook()(path, left);
        if (stop) {
            d.result = ProgramDigest::Stopped;
            return d;
        }
        chunk = file.read(qMin<qint64>(left, 64 * 1024));
        if (chunk.isEmpty()) {
            d.result = ProgramDigest::Short;
            return d;
        }
        hash.addData(chunk);
        left -= chunk.size();
    }
    if (digestReadHook())
        digestReadHook()(path, 0);
    d.result = ProgramDigest::Whole;
    d.hex = hash.result().toHex();
    return d;
}

QByteArray digestOf(const QString& path, const WorkerStop& stop)
{
    return readDigest(path, stop).hex;
}

bool standsAt(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString digestPath(const QString& folder) { return folder + QLatin1Char('/') + UpdaterNames::programDigest(); }

// What folder's record says of the program whose digest is given: nothing stands at the record's name
// (an updater folder as it was installed: no refresh put it in place), or the record names that digest,
// or anything else (another digest, a record that does not read, a link or a folder at its name).
enum class Recorded { None, Matches, Differs };
Recorded recordedFor(const QString& folder, const QByteArray& digest)
{
    const QFileInfo recordedInfo(digestPath(folder));
    if (!standsAt(recordedInfo.filePath()))
        return Recorded::None;
    QFile recorded;
    if (!digest.isEmpty() && openOwnRegular(&recorded, recordedInfo.filePath())
        && recorded.read(2 * digest.size()).trimmed() == digest)
        return Recorded::Matches;
    return Recorded::Differs;
}

// Whether folder's updater program is proven whole: its bytes match the digest recorded when the folder
// was put in place, or they are those of the program at old, the copy it was made from. Length proves
// nothing: a crash can leave a copy as long as the program, or longer, that does not hold its bytes.
bool provenUpdater(const QString& folder, const QString& old, const WorkerStop& stop)
{
    if (!holdsUpdater(folder))
        return false;
    const QByteArray digest = digestOf(folder + QLatin1Char('/') + programName(), stop);
    if (digest.isEmpty())
        return false;
    if (recordedFor(folder, digest) == Recorded::Matches)
        return true;
    return holdsUpdater(old) && digestOf(old + QLatin1Char('/') + programName(), stop) == digest;
}

// A program whose folder records another digest than its bytes have was changed after it was put in
// place (a byte flipped, its end cut): it is never started, and no refresh records its digest. So is
// anything but a regular file of its own at the program's name (a FIFO, a device, a link, a folder), and
// a program larger than any tool file may be: each is judged without being read. A stop asked for during
// the read leaves the question open (false): the caller looks at the stop.
bool damagedUpdater(const QString& folder, const WorkerStop& stop)
{
    const QString program = folder + QLatin1Char('/') + programName();
    if (standsAt(program) && !ownRegularFile(program)) {
        qWarning() << __LINE__ << "no regular file of its own stands at the upgrade program's place; not read:"
                   << program;
        return true;
    }
    const ProgramDigest read = readDigest(program, stop);
    if (read.result == ProgramDigest::Stopped)
        return false;
    if (read.result == ProgramDigest::SizeRefused && read.size > DownloadFile::MaxToolFileBytes) {
        qWarning() << __LINE__ << "the upgrade program is larger than a tool file may be (" << read.size << "bytes, at most"
                   << DownloadFile::MaxToolFileBytes << "); not read:" << program;
        return true;
    }
    if (read.result == ProgramDigest::Short)
        qWarning() << __LINE__ << "the upgrade program ended before its size while it was read:" << program;
    if (recordedFor(folder, read.hex) != Recorded::Differs)
        return false;
    qWarning() << __LINE__ << "the upgrade program does not match the digest recorded in" << digestPath(folder);
    return true;
}

// Records in folder digest, that of its updater program, saved whole, before the folder takes its place.
bool recordDigest(const QString& folder, const QByteArray& digest)
{
    QSaveFile file(digestPath(folder));
    return !digest.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(digest + '\n') == digest.size() + 1
           && file.commit();
}

// Frees path, where no whole updater stands: an empty folder goes, anything else is renamed beside it
// (a link too: what it points at is untouched), as the user may want what it holds. False when it stays.
bool clearPlace(const QString& path)
{
    const QFileInfo info(path);
    if (!standsAt(path))
        return true;
    if (info.isDir() && !info.isSymLink() && QDir().rmdir(path))
        return true;
    for (int n = 0; n < 10; ++n) {
        const QString aside = path + QStringLiteral(".aside") + (n ? QString::number(n) : QString());
        if (!standsAt(aside) && QDir().rename(path, aside)) {
            qWarning() << __LINE__ << "what stood at the updater's place is kept as" << aside;
            return true;
        }
    }
    qWarning() << __LINE__ << "what stands at the updater's place could not be set aside:" << path;
    return false;
}

// The hand-over's one copier: every regular file below from, hidden ones too (the removal of the
// download counts those), into to with its permission bits. Links are not copied: they would bring in
// what they point at; nor is anything else that is no file or folder. A download replaces what is at
// the target and its updater archive is unpacked in place of being copied; the old updater's files go
// into a new folder.
// An old updater's program past the bound is not copied: it is no program a refresh may keep, and the
// download must bring one.
enum class Copied { OldUpdater, Download };
bool copyFiles(const QString& from, const QString& to, Copied what, bool top = true)
{
    const bool download = what == Copied::Download;
    QDir targetDir(to);
    if (!targetDir.exists() && !QDir().mkdir(to))
        return false;
    const QFileInfoList entries =
        QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries) {
        const QString target = targetDir.filePath(entry.fileName());
        if (entry.isSymLink()) {
            qWarning() << __LINE__ << "copy: link skipped" << entry.filePath();
            continue;
        }
        if (entry.isDir()) {
            if (!copyFiles(entry.filePath(), target, what, false))
                return false;
            continue;
        }
        if (!entry.isFile())
            continue;
        if (!download && top && entry.fileName() == programName() && entry.size() > DownloadFile::MaxToolFileBytes) {
            qWarning() << __LINE__ << "copy: an updater program larger than a tool file may be is not copied"
                       << entry.filePath();
            continue;
        }
        if (download && standsAt(target))
            QFile::remove(target);
        if (!QFile::copy(entry.filePath(), target) || !QFile::setPermissions(target, entry.permissions()))
            return false;
        if (download && entry.suffix() == QLatin1String("tessarkzip")) {
            const bool unpacked =
                SafeUnzip::unpack(target, targetDir.absolutePath(), true) == SafeUnzip::Result::Unpacked;
            if (QFileInfo::exists(target))
                QFile::remove(target);
            if (!unpacked) {
                qWarning() << __LINE__ << "copy: the archive did not unpack" << entry.filePath();
                return false;
            }
        }
        if (download)
            QThread::msleep(EntryPauseMs);
    }
    return true;
}

// Puts folder's place to next (a whole folder) and leaves the old one under old.
bool swapIn(const QString& next, const QString& folder, const QString& old)
{
    const bool hadOld = standsAt(folder);
    if (hadOld && !QDir().rename(folder, old))
        return false;
    if (QDir().rename(next, folder))
        return true;
    if (hadOld && !QDir().rename(old, folder))
        qWarning() << __LINE__ << "the old updater could not be put back; it stays at" << old
                   << "until the next refresh puts it back";
    return false;
}

// A refresh whose rename-back failed, or that ended before the old copy went, left an updater at old:
// unless folder's program is proven whole, old's goes back in its place before anything else, whatever
// else stands there set aside, so that it starts and is never removed as a leftover. False when it
// stays at old, which is then the one started. A link at folder is not ours to move.
bool putBackLeftUpdater(const QString& folder, const QString& old, const WorkerStop& stop)
{
    if (!holdsUpdater(old) || provenUpdater(folder, old, stop))
        return true;
    if (stop) // nothing is moved on a judgement the stop cut short
        return false;
    if (!QFileInfo(folder).isSymLink() && clearPlace(folder) && QDir().rename(old, folder)) {
        qWarning() << __LINE__ << "the updater folder was put back from" << old;
        return true;
    }
    qWarning() << __LINE__ << "the updater stays at" << old << "it could not be put back to" << folder;
    return false;
}

} // namespace

void DownloadFile::setDigestReadHookForTest(std::function<void(const QString& path, qint64 left)> hook)
{
    digestReadHook() = std::move(hook);
}

void DownloadFile::UpdateUpgrradeProgram()
{
    const QString source = updaterSource();
    const QString folder = updaterFolder();
    qDebug() << __LINE__ << "RawDir=" << source << folder;
    const QString target = QDir::cleanPath(folder);
    const QString next = target + QStringLiteral(".new");
    const QString old = target + QStringLiteral(".old");
    if (m_stop || !putBackLeftUpdater(target, old, m_stop))
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
    // downloaded ones, and takes its place only when every file is written and the updater program is
    // among them: a refresh that fails leaves the old updater whole and startable.
    // Past the put-back, target's updater is proven or old holds none: what is left there is a refresh's
    // leftover; a link there or at next goes itself.
    bool refreshed = removeTree(next) && removeTree(old);
    if (refreshed)
        refreshed = QFileInfo(target).isDir() ? copyFiles(target, next, Copied::OldUpdater) : QDir().mkdir(next);
    const QString nextProgram = next + QLatin1Char('/') + programName();
    const QByteArray copied = refreshed ? digestOf(nextProgram, m_stop) : QByteArray();
    refreshed = refreshed && !m_stop && copyDirectoryFiles(source, next);
    if (refreshed && !holdsUpdater(next)) {
        qWarning() << __LINE__ << "the updater folder was not refreshed: it would lack the updater program"
                   << programName();
        refreshed = false;
    }
    // What proves the program whole at the next refresh and start, in the folder it goes in with. It is
    // recorded only for a program this refresh can vouch for: one the download brought (other bytes than
    // those copied from the folder in place), or the one in place where its folder records these bytes,
    // or records nothing (as installed). A program changed since it was put in place keeps the digest
    // recorded for it, and the folder stays as it is: such a program is never started.
    const QByteArray landed = refreshed ? digestOf(nextProgram, m_stop) : QByteArray();
    if (refreshed && landed == copied && recordedFor(target, landed) == Recorded::Differs) {
        qWarning() << __LINE__ << "the updater folder was not refreshed: its program does not match the digest"
                   << "recorded for it in" << digestPath(target);
        refreshed = false;
    }
    refreshed = refreshed && !landed.isEmpty() && recordDigest(next, landed);
    // A file in the updater's place is no part of an updater: it is kept beside it, never removed.
    refreshed = refreshed && (QFileInfo(target).isDir() || clearPlace(target)) && swapIn(next, target, old);
    if (!refreshed) {
        qWarning() << __LINE__ << "the updater folder was not refreshed; the old one stays:" << target;
        removeTree(next);
        return;
    }
    // Only now that a whole updater stands in its place does the old copy go.
    removeTree(old);
    m_deletedFileCount = 0;
    deleteDirectory(source, true);
}

bool DownloadFile::StartUpgradeProgram()
{
    const QString appDir = appDirPath();
    // Where a refresh could not put the old updater back in its place, it is started where it stays,
    // unless the one in its place is proven whole.
    const QString left = QDir::cleanPath(updaterFolder()) + QStringLiteral(".old");
    // A link at the program, or an empty one, is never started; a linked updater folder is started as
    // it is.
    const auto startable = [](const QString& path) {
        const QFileInfo info(path);
        return info.isFile() && !info.isSymLink() && updaterSizeAllowed(info.size());
    };
    QString folder = QDir::cleanPath(updaterFolder());
    if (holdsUpdater(left) && !provenUpdater(folder, left, m_stop))
        folder = left;
    const QString program = folder + QLatin1Char('/') + programName();
    // The tool ends once a stop is asked: nothing is started, and no box holds up its end.
    const auto stopped = [this, &program] {
        if (!m_stop)
            return false;
        qWarning() << __LINE__ << "stop asked for during the check: the upgrade program is not started:" << program;
        return true;
    };
    // A program that no longer has the bytes its folder records for it is not the updater that was put
    // there: only the user can mend it, by installing the tool again.
    if (damagedUpdater(folder, m_stop)) {
        if (stopped())
            return false;
        qWarning() << __LINE__ << "the upgrade program is not started:" << program;
        reportError(QStringLiteral("Upgrade Program Start Failed!"));
        updaternotice::updaterDamaged(program);
        return false;
    }
    const bool whole = startable(program);
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
    if (whole)
        QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner | QFile::ExeUser);
    // Looked at last, right before the start: a stop asked as the check ended still starts nothing.
    if (stopped())
        return false;
    // Detached: an attached child loses its pipes when the tool exits, and the updater outlives it.
    qint64 pid = 0;
    if (!whole || !QProcess::startDetached(program, arguments, appDir, &pid)) {
        qWarning() << __LINE__ << "the upgrade program did not start:" << program;
        reportError(QStringLiteral("Upgrade Program Start Failed!"));
        return false;
    }
    qDebug() << __LINE__ << "upgrade program started, pid" << pid;
    return true;
}

bool DownloadFile::copyDirectoryFiles(const QString& fromDir, const QString& toDir)
{
    qDebug() << __LINE__ << "copyDirectoryFiles=";
    return copyFiles(fromDir, toDir, Copied::Download);
}

bool DownloadFile::unzipFile(const QString& zipFilePath, const QString& destDir, bool removeExisting)
{
    return SafeUnzip::unpack(zipFilePath, destDir, removeExisting) == SafeUnzip::Result::Unpacked;
}
