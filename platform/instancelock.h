#pragma once
// One running copy per application folder: an exclusive lock on a file of that folder, beside the kept
// lists and macros two copies would fight over, held by the running copy for as long as its process
// lives and released by the system however it ends. Neither the start's environment nor a clean-up of
// the runtime folder has a say in it.
#include <QString>
#include <QtGlobal>
#include <memory>

class HeldFolder;
class QThread;

class InstanceLock {
public:
    enum class State {
        Taken,         // no other copy of this folder lives
        HeldElsewhere, // another process holds it: a copy of this folder lives
        Unusable,      // nothing can be locked at its name: whether a copy lives cannot be told
    };

    explicit InstanceLock(const QString& folder);
    // Stops keeping the name. The lock stays held until the process ends: its last steps are covered too.
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Tries once, without waiting for a holder. A file that came to the name only moments ago (at the
    // first start in the folder, or in place of a lock removed from under a running copy) is taken only
    // once a running copy has had the time to put its own back there, which this start then finds held.
    State take();
    // Once taken: a file removed or replaced at the name is put back, held, while this copy runs, so a
    // later start still finds the lock held. A file another copy took the name with and holds past
    // that time is left to it, said once, and taken back once that copy has ended. Only ever in the
    // folder it was taken in, wherever that is renamed or moved to: a folder made at the old path is
    // not this copy's.
    void keep();

    // Where the lock stands now.
    QString path() const;
    // Why it is Unusable, in words for the user.
    QString whyUnusable() const { return m_why; }

private:
    State unusable(const QString& why);
    void closeHandle();
    bool stillNamed() const;
    void keepOnce();
    void warnOnce(const QString& text);

    // The folder as opened at the start: the lock's name is looked up in it, not by its path.
    std::unique_ptr<HeldFolder> m_folder;
    QString m_path; // as at the start
    QString m_why;
    // The file this copy opened at the name: the one it locks. Never closed once taken: the system
    // releases it when the process ends.
    qintptr m_handle = -1;
    QThread* m_keeper = nullptr;
    QString m_lastWarning;
};
