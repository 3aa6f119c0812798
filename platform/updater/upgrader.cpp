#include "upgrader.h"

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
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// How long a second updater waits for the first, past the first one's wait for the tool: its copy.
// TESSARK_UPGRADE_COPY_WAIT_MS shortens it for tests.
constexpr int CopyWaitMs = 5 * 60 * 1000;
int copyWaitMs() { return ProcessWait::timeoutFromEnvironment("TESSARK_UPGRADE_COPY_WAIT_MS", CopyWaitMs); }

// What stops this run will stop every later one until the user mends it: the tool tells the user at
// its next start (the notice names only why; this log says the rest).
void leaveNoticeForTheTool(const QString& appDir, UpdaterNames::GiveUp why, UpgradeLog& log)
{
    const QString notice = UpgradeNotice::leave(appDir, why, log);
    if (!notice.isEmpty()) {
        log.step({QStringLiteral("已留下通知 %1：程序下次启动时会告知用户").arg(notice),
                  QStringLiteral("left the notice %1: the tool tells the user at its next start").arg(notice)});
    }
}

bool restartTool(const UpgradeArguments& a, UpgradeLog& log)
{
    qint64 pid = 0;
    if (!ToolRestart::start(a.toolPath, a.appDir, &pid)) {
        log.failure({QStringLiteral("无法重新启动 %1").arg(a.toolPath), QStringLiteral("cannot restart %1").arg(a.toolPath)});
        return false;
    }
    log.step({QStringLiteral("已重新启动 %1（进程 %2）").arg(a.toolPath).arg(pid),
              QStringLiteral("restarted %1 (process %2)").arg(a.toolPath).arg(pid)});
    return true;
}

// Removes the staged folder, then the parents it leaves empty (up to the application folder).
bool removeStaged(const UpgradeArguments& a)
{
    if (!QDir(a.stagedDir).removeRecursively()) // links inside are removed, never followed
        return false;
    QString parent = QFileInfo(a.stagedDir).absolutePath();
    while (parent.size() > a.appDir.size() + 1 && parent.startsWith(a.appDir + QLatin1Char('/'))
           && QDir().rmdir(parent)) {
        parent = QFileInfo(parent).absolutePath();
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
    log.step({QStringLiteral("升级开始：程序 %1，暂存目录 %2，下载文件 %3 个").arg(a.toolPath, a.stagedDir).arg(a.expectedFiles),
              QStringLiteral("upgrade started: tool %1, staged files %2, %3 files downloaded")
                  .arg(a.toolPath, a.stagedDir)
                  .arg(a.expectedFiles)});

    const int waitMs = ProcessWait::timeoutFromEnvironment();
    // Held to the end: a second updater would take this one's live record for a killed run's.
    UpgradeLock lock(a.appDir);
    if (!lock.acquire(waitMs + copyWaitMs(), log)) {
        log.failure({QStringLiteral("升级未进行"), QStringLiteral("upgrade not done")});
        using UpdaterNames::GiveUp;
        leaveNoticeForTheTool(a.appDir, lock.heldByAnother() ? GiveUp::LockHeld : GiveUp::Lock, log);
        // An updater of this folder that holds the lock starts the tool when it ends, and a tool started
        // now would run amid its copy; with none, the user gets the tool back.
        const bool updaterAtWork = lock.heldByAnother()
                                   && ProcessWait(QCoreApplication::applicationFilePath()).isRunning(arguments.at(3));
        if (updaterAtWork) {
            log.step({QStringLiteral("另一个升级程序仍在运行，由它重新启动 %1").arg(a.toolPath),
                      QStringLiteral("another updater of this folder still runs and restarts %1").arg(a.toolPath)});
        } else if (ProcessWait(a.toolPath).waitUntilGone(waitMs)) {
            restartTool(a, log);
        }
        return UpgradeExit::Busy;
    }
    TestPause::at("lock-taken", log);

    const ProcessWait wait(a.toolPath);
    log.step({QStringLiteral("等待 %1 退出（最多 %2 毫秒）").arg(wait.executable()).arg(waitMs),
              QStringLiteral("waiting for %1 to exit (at most %2 ms)").arg(wait.executable()).arg(waitMs)});
    if (!wait.waitUntilGone(waitMs)) {
        log.failure({QStringLiteral("%1 仍在运行，未复制任何文件，升级失败").arg(wait.executable()),
                     QStringLiteral("%1 is still running: nothing copied, upgrade failed").arg(wait.executable())});
        return UpgradeExit::ToolRunning;
    }
    log.step({QStringLiteral("%1 已退出").arg(wait.executable()), QStringLiteral("%1 has exited").arg(wait.executable())});

    UpgradeExit result = UpgradeExit::Done;
    // A run that was killed left a mixed version: whole again before anything else is copied.
    UpgradeJournal journal(a.appDir, a.toolName);
    if (!journal.recover(log)) {
        log.failure({QStringLiteral("升级记录 %1 无法执行，以后的升级都将停止").arg(journal.path()),
                     QStringLiteral("the record %1 cannot be followed and stops every later upgrade")
                         .arg(journal.path())});
        leaveNoticeForTheTool(a.appDir, UpdaterNames::GiveUp::Record, log);
        log.failure({QStringLiteral("未复制任何文件，暂存目录保留"), QStringLiteral("nothing copied; the staged folder is kept")});
        result = UpgradeExit::CopyFailed;
    } else if (!QFileInfo(a.stagedDir).isDir()) {
        if (a.expectedFiles > 0) {
            log.failure({QStringLiteral("暂存目录不存在：%1").arg(a.stagedDir),
                         QStringLiteral("the staged folder does not exist: %1").arg(a.stagedDir)});
            result = UpgradeExit::CopyFailed;
        } else {
            log.step({QStringLiteral("没有要复制的文件"), QStringLiteral("no files to copy")});
        }
    } else {
        TreeCopy copy(a.stagedDir, a.appDir, log, journal);
        if (!copy.plan()) {
            log.failure({QStringLiteral("复制未开始：未更改任何文件，暂存目录保留"),
                         QStringLiteral("copy not started: no file changed; the staged folder is kept")});
            result = UpgradeExit::CopyFailed;
        } else if (!copy.copy([&lock] { return lock.stillHeld(); })) {
            // Whoever took the lock's place may be at work now: the tool tells the user.
            if (copy.stopped())
                leaveNoticeForTheTool(a.appDir, UpdaterNames::GiveUp::LockLost, log);
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
            if (removeStaged(a)) {
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
    // gets it back.
    if (!restartTool(a, log) && result == UpgradeExit::Done)
        result = UpgradeExit::RestartFailed;
    if (result == UpgradeExit::Done)
        log.step({QStringLiteral("升级完成"), QStringLiteral("upgrade finished")});
    else
        log.failure({QStringLiteral("升级失败（代码 %1）").arg(int(result)),
                     QStringLiteral("upgrade failed (code %1)").arg(int(result))});
    return result;
}
