#include "upgrader.h"

#include "lockedfolder.h"
#include "platform/updaternames.h"
#include "processwait.h"
#include "testpause.h"
#include "toolrestart.h"
#include "treecopy.h"
#include "upgradearguments.h"
#include "upgradejournal.h"
#include "upgradelock.h"
#include "upgradelog.h"
#include "upgradenotice.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace {

// How long a second updater waits for the first, past the first one's wait for the tool: its copy.
// TESSARK_UPGRADE_COPY_WAIT_MS shortens it for tests.
constexpr int CopyWaitMs = 5 * 60 * 1000;
int copyWaitMs() { return ProcessWait::timeoutFromEnvironment("TESSARK_UPGRADE_COPY_WAIT_MS", CopyWaitMs); }
constexpr unsigned long RecordPollMs = 100;

// What stops this run will stop every later one until the user mends it: the tool tells the user at
// its next start (the notice names only why; this log says the rest).
void leaveNoticeForTheTool(const LockedFolder& folder, UpdaterNames::GiveUp why, UpgradeLog& log)
{
    const QString notice = UpgradeNotice::leave(folder, why, log);
    if (!notice.isEmpty()) {
        log.step({QStringLiteral("已留下通知 %1：程序下次启动时会告知用户").arg(notice),
                  QStringLiteral("left the notice %1: the tool tells the user at its next start").arg(notice)});
    }
}

bool restartTool(const QString& program, const QString& folder, UpgradeLog& log)
{
    qint64 pid = 0;
    if (!ToolRestart::start(program, folder, &pid)) {
        log.failure({QStringLiteral("无法重新启动 %1").arg(program), QStringLiteral("cannot restart %1").arg(program)});
        return false;
    }
    log.step({QStringLiteral("已重新启动 %1（进程 %2）").arg(program, QString::number(pid)),
              QStringLiteral("restarted %1 (process %2)").arg(program, QString::number(pid))});
    return true;
}

// The tool of a folder moved away while this run worked on it is started where the folder is now: it
// is the one that quit for this run, and it shows the notice left in its folder.
bool restartMovedTool(const LockedFolder& folder, const UpgradeArguments& a, UpgradeLog& log)
{
    const QString now = folder.currentPath();
    if (now.isEmpty()) {
        log.failure({QStringLiteral("应用程序目录已被移走且无法确定其新位置：未重新启动程序"),
                     QStringLiteral("the application folder was moved and where it is now cannot be told: the tool "
                                    "is not restarted")});
        return false;
    }
    log.step({QStringLiteral("应用程序目录 %1 已被移至 %2：原位置的内容未被更改").arg(a.appDir, now),
              QStringLiteral("the application folder %1 was moved to %2: nothing at its old place was changed")
                  .arg(a.appDir, now)});
    const QString tool = now + QLatin1Char('/') + a.toolName;
    // A run that gave up while waiting for the lock has not yet seen the tool end.
    if (!ProcessWait(tool).waitUntilGone(ProcessWait::timeoutFromEnvironment())) {
        log.failure({QStringLiteral("%1 仍在运行：未重新启动").arg(tool), QStringLiteral("%1 is still running: not restarted").arg(tool)});
        return false;
    }
    return restartTool(tool, now, log);
}

// Whether an updater of this folder other than this run still runs: it starts the tool when it ends,
// and a tool started now would run amid its copy.
bool anotherUpdaterAtWork(const QStringList& arguments)
{
    return ProcessWait(QCoreApplication::applicationFilePath()).isRunning(arguments.at(3));
}

// A run that changes nothing: the tool comes back once it has ended, unless another updater of this
// folder holds what this run waited for and is at work.
UpgradeExit giveUpUntouched(bool heldByAnother, const QStringList& arguments, const UpgradeArguments& a, int waitMs,
                            UpgradeLog& log)
{
    if (heldByAnother && anotherUpdaterAtWork(arguments)) {
        log.step({QStringLiteral("另一个升级程序仍在运行，由它重新启动 %1").arg(a.toolPath),
                  QStringLiteral("another updater of this folder still runs and restarts %1").arg(a.toolPath)});
    } else if (ProcessWait(a.toolPath).waitUntilGone(waitMs)) {
        restartTool(a.toolPath, a.appDir, log);
    }
    return UpgradeExit::Busy;
}

// Removes the staged folder, then the parents it leaves empty (up to the application folder).
bool removeStaged(LockedFolder& folder, const QString& staged)
{
    if (!folder.removeTree(staged)) // links inside are removed, never followed
        return false;
    QString parent = staged;
    for (int slash = parent.lastIndexOf(QLatin1Char('/')); slash > 0; slash = parent.lastIndexOf(QLatin1Char('/'))) {
        parent.truncate(slash);
        if (!folder.removeFolder(parent))
            break;
    }
    return true;
}

} // namespace

UpgradeExit Upgrader::run(const QStringList& arguments)
{
    UpgradeLog log;
    log.setChinese(UpgradeArgumentCheck::isChinese(arguments));
    UpgradeArguments a;
    UpgradeText why;
    // Refused arguments are only printed: a folder we were not told properly is not written to.
    if (!UpgradeArgumentCheck::check(arguments, &a, &why)) {
        log.failure(why);
        log.failure({QStringLiteral("升级未进行"), QStringLiteral("upgrade not done")});
        return UpgradeExit::BadArguments;
    }
    log.openFile(a.appDir, QStringLiteral("log"), QStringLiteral("Upgrade.log"));
    log.step({QStringLiteral("升级开始：程序 %1，暂存目录 %2，下载文件 %3 个").arg(a.toolPath, a.stagedDir, QString::number(a.expectedFiles)),
              QStringLiteral("upgrade started: tool %1, staged files %2, %3 files downloaded")
                  .arg(a.toolPath, a.stagedDir, QString::number(a.expectedFiles))});

    const int waitMs = ProcessWait::timeoutFromEnvironment();
    using UpdaterNames::GiveUp;
    // Held to the end: a second updater would take this one's live record for a killed run's.
    UpgradeLock lock(a.appDir);
    const bool locked = lock.acquire(waitMs + copyWaitMs(), log);
    // From here on every look and change goes through the folder the lock opened, wherever it is moved.
    LockedFolder folder(lock.folderFd(), a.appDir);
    if (!locked) {
        log.failure({QStringLiteral("升级未进行"), QStringLiteral("upgrade not done")});
        if (lock.folderMoved()) {
            leaveNoticeForTheTool(folder, GiveUp::FolderMoved, log);
            // An updater of this folder that kept the lock past the wait restarts the tool where it is.
            if (lock.heldByAnother() && anotherUpdaterAtWork(arguments))
                log.step({QStringLiteral("另一个升级程序仍在运行，由它重新启动 %1").arg(a.toolName),
                          QStringLiteral("another updater of this folder still runs and restarts %1").arg(a.toolName)});
            else
                restartMovedTool(folder, a, log);
            return UpgradeExit::Busy;
        }
        leaveNoticeForTheTool(folder, lock.heldByAnother() ? GiveUp::LockHeld : GiveUp::Lock, log);
        return giveUpUntouched(lock.heldByAnother(), arguments, a, waitMs, log);
    }
    TestPause::at("lock-taken", log);

    const ProcessWait wait(a.toolPath);
    log.step({QStringLiteral("等待 %1 退出（最多 %2 毫秒）").arg(wait.executable(), QString::number(waitMs)),
              QStringLiteral("waiting for %1 to exit (at most %2 ms)").arg(wait.executable(), QString::number(waitMs))});
    if (!wait.waitUntilGone(waitMs)) {
        log.failure({QStringLiteral("%1 仍在运行，未复制任何文件，升级失败").arg(wait.executable()),
                     QStringLiteral("%1 is still running: nothing copied, upgrade failed").arg(wait.executable())});
        return UpgradeExit::ToolRunning;
    }
    log.step({QStringLiteral("%1 已退出").arg(wait.executable()), QStringLiteral("%1 has exited").arg(wait.executable())});

    UpgradeExit result = UpgradeExit::Done;
    // A run that was killed left a mixed version: whole again before anything else is copied. A record
    // still being written is another updater's, at work where the lock could be replaced: it is waited
    // for, never replayed.
    UpgradeJournal journal(folder, a.toolName);
    UpgradeJournal::Recovery recovery = journal.recover(log);
    const QDeadlineTimer recordDeadline(copyWaitMs());
    if (recovery == UpgradeJournal::Recovery::WriterRuns) {
        log.step({QStringLiteral("记录 %1 仍由正在运行的升级程序写入：等待其结束（最多 %2 毫秒），不予执行")
                      .arg(journal.path(), QString::number(recordDeadline.remainingTime())),
                  QStringLiteral("the record %1 is still being written by a running updater: waiting for it to end "
                                 "(at most %2 ms), never following it meanwhile")
                      .arg(journal.path(), QString::number(recordDeadline.remainingTime()))});
    }
    while (recovery == UpgradeJournal::Recovery::WriterRuns && !recordDeadline.hasExpired()) {
        QThread::msleep(RecordPollMs);
        recovery = journal.recover(log);
    }
    bool stopped = false;
    if (recovery == UpgradeJournal::Recovery::WriterRuns) {
        log.failure({QStringLiteral("另一个升级程序的记录仍在使用中，未更改任何文件"),
                     QStringLiteral("another updater's record is still in use; nothing changed")});
        log.failure({QStringLiteral("升级未进行"), QStringLiteral("upgrade not done")});
        leaveNoticeForTheTool(folder, GiveUp::LockHeld, log);
        return giveUpUntouched(true, arguments, a, waitMs, log);
    } else if (recovery == UpgradeJournal::Recovery::Failed) {
        log.failure({QStringLiteral("升级记录 %1 无法执行，以后的升级都将停止").arg(journal.path()),
                     QStringLiteral("the record %1 cannot be followed and stops every later upgrade")
                         .arg(journal.path())});
        leaveNoticeForTheTool(folder, GiveUp::Record, log);
        log.failure({QStringLiteral("未复制任何文件，暂存目录保留"), QStringLiteral("nothing copied; the staged folder is kept")});
        result = UpgradeExit::CopyFailed;
    } else if (folder.entry(a.stagedRelative).kind != LockedFolder::Kind::Folder) {
        if (a.expectedFiles > 0) {
            log.failure({QStringLiteral("暂存目录不存在：%1").arg(a.stagedDir),
                         QStringLiteral("the staged folder does not exist: %1").arg(a.stagedDir)});
            result = UpgradeExit::CopyFailed;
        } else {
            log.step({QStringLiteral("没有要复制的文件"), QStringLiteral("no files to copy")});
        }
    } else {
        TreeCopy copy(folder, a.stagedRelative, log, journal);
        if (!copy.plan()) {
            log.failure({QStringLiteral("复制未开始：未更改任何文件，暂存目录保留"),
                         QStringLiteral("copy not started: no file changed; the staged folder is kept")});
            result = UpgradeExit::CopyFailed;
        } else if (!copy.copy([&lock] { return lock.stillHeld(); })) {
            stopped = copy.stopped();
            // Whoever took the lock's place, or the folder's, may be at work now: the tool tells the user.
            if (stopped)
                leaveNoticeForTheTool(folder, lock.folderMoved() ? GiveUp::FolderMoved : GiveUp::LockLost, log);
            // The staged folder stays so that a later upgrade can try again.
            if (copy.restored()) {
                log.failure({QStringLiteral("复制失败：已复制的 %1 个文件均已恢复为原版本，暂存目录保留").arg(copy.copiedCount()),
                             QStringLiteral("copy failed after %1 files; all of them were put back to the old version; "
                                            "the staged folder is kept")
                                 .arg(copy.copiedCount())});
            } else {
                log.failure({QStringLiteral("复制失败：已复制的 %1 个文件未能全部恢复（见上文），暂存目录保留").arg(copy.copiedCount()),
                             QStringLiteral("copy failed after %1 files; not all of them could be put back (see above); "
                                            "the staged folder is kept")
                                 .arg(copy.copiedCount())});
            }
            result = UpgradeExit::CopyFailed;
        } else {
            log.step({QStringLiteral("已复制 %1 个文件").arg(copy.copiedCount()),
                      QStringLiteral("%1 files copied").arg(copy.copiedCount())});
            if (removeStaged(folder, a.stagedRelative)) {
                log.step({QStringLiteral("已删除暂存目录 %1").arg(a.stagedDir),
                          QStringLiteral("removed the staged folder %1").arg(a.stagedDir)});
            } else {
                log.failure({QStringLiteral("无法删除暂存目录 %1").arg(a.stagedDir),
                             QStringLiteral("cannot remove the staged folder %1").arg(a.stagedDir)});
                result = UpgradeExit::StagedKept;
            }
        }
    }

    // Restarted after a failed copy too, as the old version: the tool quit for this upgrade and the user
    // gets it back. A folder moved away gets its own tool back where it is now; a run whose lock was
    // taken leaves the restart to the updater at work, if one is.
    bool restarted = false;
    if (lock.folderMoved()) {
        restarted = restartMovedTool(folder, a, log);
    } else if (stopped && anotherUpdaterAtWork(arguments)) {
        log.step({QStringLiteral("另一个升级程序仍在运行，由它重新启动 %1").arg(a.toolPath),
                  QStringLiteral("another updater of this folder still runs and restarts %1").arg(a.toolPath)});
        restarted = true;
    } else {
        restarted = restartTool(a.toolPath, a.appDir, log);
    }
    if (!restarted && result == UpgradeExit::Done)
        result = UpgradeExit::RestartFailed;
    if (result == UpgradeExit::Done)
        log.step({QStringLiteral("升级完成"), QStringLiteral("upgrade finished")});
    else
        log.failure({QStringLiteral("升级失败（代码 %1）").arg(int(result)),
                     QStringLiteral("upgrade failed (code %1)").arg(int(result))});
    return result;
}
