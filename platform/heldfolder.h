#pragma once
// A folder held open from the moment it is opened: what is done below it is done in the folder opened, not
// in whatever its path names later. Renamed or moved while the tool runs, it is still the same folder, and
// a folder made at its old path is never taken for it.
#include <QString>

class HeldFolder {
public:
    explicit HeldFolder(const QString& path);
    ~HeldFolder();
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;

    bool isOpen() const { return m_handle >= 0; }
    // Why it did not open, in words for the user.
    QString error() const { return m_error; }
    // For the *at system calls: a name is looked up in the folder opened. -1 when not open (and on
    // systems without such calls).
    int handle() const { return m_handle; }
    // Where it stands now: the path it was opened at while that still names it, else where the system
    // finds it; the path it was opened at when neither tells (removed, or moved out of sight).
    QString path() const;

private:
    QString m_path;
    QString m_error;
    int m_handle = -1;
};
