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

    // Waits up to timeoutMs while another process holds the lock. False (logged) when it is still
    // held then, or when the lock's name holds anything that cannot be locked (a link, a pipe, a
    // folder, a file this user cannot open).
    bool acquire(int timeoutMs, UpgradeLog& log);
    // After a failed acquire(): whether another process held the lock (else it could not be taken).
    bool heldByAnother() const { return m_heldByAnother; }
    QString path() const { return m_path; }

private:
    bool tryOnce(bool* held);
    void release();

    QString m_path;
    bool m_heldByAnother = false;
#ifdef Q_OS_WIN
    void* m_handle = nullptr;
#else
    bool stillNamed() const;
    void close();

    int m_fd = -1;        // the file at the lock's name, opened while waiting for it, then held
    bool m_locked = false;
#endif
};
