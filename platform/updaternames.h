#pragma once
// The names of the updater's own files below the application folder, which no server path may take:
// shared by the tool's checks of what the server names and by the updater (Qt Core only).
#include <QByteArray>
#include <QString>
#include <QVector>

namespace UpdaterNames {

// In the application folder: the record of a run's changes, written before each change; the lock the
// one running updater holds; the notice left for the tool when a run gives up for a reason the user can
// mend, and the spare place of that notice, used while something other than a file stands at the first.
QString record();
QString lock();
QString notice();
QString spareNotice();
// In the updater's folder: the digest of its program (SHA-256, hex), recorded when a refresh put the
// folder in place.
QString programDigest();
// In the application folder, the tool's own: the lock its running copy holds, and the start of the
// names it puts it back under. Named as the updater's files are, so that no server path may take them
// and the updater copies nothing staged over them.
QString instanceLock();

// Why a run gave up, as a notice names it: one word a line.
enum class GiveUp {
    Record,     // the record of an earlier run cannot be followed
    Lock,       // the lock's name holds something that cannot be locked (a link, a pipe, a folder...)
    LockHeld,   // another process kept the lock past the wait
    LockLost,   // the lock was taken from a run while it copied
    FolderMoved, // the application folder was moved away from its path while a run worked on it
};
QByteArray giveUpWord(GiveUp why);
// The tool reads no more of a notice than this; the updater adds nothing past it.
constexpr int MaxNoticeBytes = 1024;
// The reasons a notice's text names, each once, in the order of the enum. An empty notice (an older
// updater's) reads as Record, the one reason there was; text without a word we know is not ours and
// names none.
QVector<GiveUp> giveUpsIn(const QByteArray& text);

// The start of the names of fileName's temporary and kept-aside files beside it: "." + fileName +
// ".upgrade-" + pid; "-" + n follows for a temporary file, "-old-" + n for the old file.
QString ownFileBase(const QString& fileName, qint64 pid);
// Whether name is one that ownFileBase() starts, with its "-n" or "-old-n".
bool isOwnFileName(const QString& name);

// Whether a segment of relativePath ("/"-separated) is, as the file system compares names, one the
// updater may use: every name that begins with "." and holds ".upgrade-" (all of the above do).
bool isReserved(const QString& relativePath);

} // namespace UpdaterNames
