#pragma once
// One updater at a time in an application folder: an exclusive lock on a file of the updater's own,
// held from before the record is read until the run ends.
#include "upgradelog.h"

#include <QString>

class UpgradeLock {
public:
    explicit UpgradeLock(const QString& appDir);
    ~UpgradeLock(); // releases the lock and removes its file
    UpgradeLock(const UpgradeLock&) = delete;
    UpgradeLock& operator=(const UpgradeLock&) = delete;

    // Waits up to timeoutMs while another updater holds the lock. False (logged) when it is still
    // held then, or when the lock's name holds anything but a regular file (a link, a pipe).
    bool acquire(int timeoutMs, UpgradeLog& log);
    // After a failed acquire(): whether another updater held the lock (else it could not be taken).
    bool heldByAnother() const { return m_heldByAnother; }

private:
    bool tryOnce(bool* held);
    void release();

    QString m_path;
    bool m_heldByAnother = false;
#ifdef Q_OS_WIN
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};
