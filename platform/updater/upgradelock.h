#pragma once
// One updater at a time in an application folder: an exclusive lock held from before the record is
// read until the run ends, on the folder itself where the system allows, and on a file of the
// updater's own.
#include "upgradelog.h"

#include <QString>

class UpgradeLock {
public:
    explicit UpgradeLock(const QString& appDir);
    ~UpgradeLock(); // releases the lock and removes its file, when the file at its name is still its own
    UpgradeLock(const UpgradeLock&) = delete;
    UpgradeLock& operator=(const UpgradeLock&) = delete;

    // Waits up to timeoutMs while another process holds the lock. False (logged) when it is still
    // held then, or when the lock's name holds anything that cannot be locked (a link, a pipe, a
    // folder, a file this user cannot open).
    bool acquire(int timeoutMs, UpgradeLog& log);
    // After a failed acquire(): whether another process held the lock (else it could not be taken).
    bool heldByAnother() const { return m_heldByAnother; }
    // After a failed acquire() or stillHeld(): whether the application folder was moved away from its
    // path meanwhile (what took the path is no folder of this run's).
    bool folderMoved() const;
    // The locked application folder (held open to the end, also once moved); -1 on Windows, where the
    // lock's open file keeps the folder at its path.
    int folderFd() const;
    // After acquire(): whether the lock is still this run's, its file still under its name and the
    // application folder still under its path. A run that lost it stops before its next change.
    bool stillHeld() const;
    QString path() const { return m_path; }

private:
    bool tryOnce(bool* held);
    // Whether the folder opened while waiting has left its path meanwhile (then folderMoved() says so).
    bool movedWhileHeld();
    void release();

    QString m_appDir;
    QString m_path;
    bool m_heldByAnother = false;
#ifdef Q_OS_WIN
    void* m_handle = nullptr; // opened without sharing: no other process can rename over it meanwhile
    bool m_ours = false;      // the handle is on a plain file of one name, this run's to remove
#else
    bool stillNamed() const;
    bool folderStillNamed() const;
    void close();

    // The application folder, locked first: no rename can take its place, as it can the lock file's.
    int m_dirFd = -1;
    bool m_dirLocked = false;
    bool m_fileOnly = false; // the folder's file system locks no folder
    int m_fd = -1;        // the file at the lock's name, opened while waiting for it, then held
    bool m_locked = false;
    bool m_moved = false; // the folder was found moved while waiting for its lock
#endif
};
