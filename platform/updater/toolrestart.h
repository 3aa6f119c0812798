#pragma once
// Starts the updated tool as a process of its own, so it outlives the updater.
#include <QString>

class ToolRestart {
public:
    // program started without arguments in workingDir, detached; false when it did not start.
    static bool start(const QString& program, const QString& workingDir, qint64* pid);
};
