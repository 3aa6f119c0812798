#pragma once
// Waits, bounded, until no process runs a given executable file.
#include <QString>

class ProcessWait {
public:
    static constexpr int DefaultTimeoutMs = 30000;
    static constexpr int PollMs = 100;

    explicit ProcessWait(const QString& executablePath);

    // Whether a process (other than this one) runs the executable, or ran it before it was replaced;
    // with withArgument, only a process with that argument on its command line counts.
    bool isRunning(const QString& withArgument = QString()) const;
    // Polls until no process runs it; false when one still does after timeoutMs.
    bool waitUntilGone(int timeoutMs) const;
    // The variable's value when it holds a number of milliseconds (at most ten minutes), else defaultMs.
    // TESSARK_UPGRADE_WAIT_MS bounds the wait for the tool.
    static int timeoutFromEnvironment(const char* variable = "TESSARK_UPGRADE_WAIT_MS",
                                      int defaultMs = DefaultTimeoutMs);

    const QString& executable() const { return m_executable; }

private:
    QString m_executable; // as the system names a process's executable: no links, no "." or ".."
};
