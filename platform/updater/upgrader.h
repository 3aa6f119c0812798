#pragma once
// The updater's run: check the arguments, wait for the tool to end, copy the staged files, restart it.
#include <QStringList>

enum class UpgradeExit {
    Done = 0,
    BadArguments = 1,  // nothing touched
    ToolRunning = 2,   // the tool did not end in time; nothing copied
    CopyFailed = 3,    // the old files put back, staged files kept; the old tool is restarted
    StagedKept = 4,    // copied, but the staged folder could not be removed
    RestartFailed = 5, // copied, but the tool did not start again
    Busy = 6,          // the lock could not be taken (held past the wait, or not a file that locks); nothing copied
};

class Upgrader {
public:
    // arguments as QCoreApplication::arguments() gives them.
    static UpgradeExit run(const QStringList& arguments);
};
