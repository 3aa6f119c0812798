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
    Busy = 6,          // another updater kept the application folder past the wait; nothing touched
};

class Upgrader {
public:
    // arguments as QCoreApplication::arguments() gives them.
    static UpgradeExit run(const QStringList& arguments);
};
