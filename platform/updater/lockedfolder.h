#pragma once
// The application folder as the updater locked it: every look, change and undo below it goes through
// the folder's descriptor, so a folder moved away meanwhile is changed where it now is, and whatever
// took its path is never touched.
#include <QFile>
#include <QString>
#include <QVector>

class LockedFolder {
public:
    enum class Kind { None, File, Folder, Link, Other };
    struct Entry {
        QString name;
        Kind kind = Kind::None;
        qint64 size = 0;
        QFileDevice::Permissions permissions;
    };

    // folderFd: a descriptor of the locked folder (duplicated; the caller keeps its own). path: where
    // it was when locked, for messages. On Windows folderFd is unused: a folder holding an open file
    // cannot be renamed there, and the lock keeps one open, so the path stays the folder's.
    LockedFolder(int folderFd, const QString& path);
    ~LockedFolder();
    LockedFolder(const LockedFolder&) = delete;
    LockedFolder& operator=(const LockedFolder&) = delete;

    bool isOpen() const;
    // Where the folder was when locked: for messages only, never for a change.
    const QString& path() const { return m_path; }
    // relativePath ("/"-separated) under path(), for messages.
    QString shown(const QString& relativePath) const;
    // Whether path() still names this folder.
    bool stillNamed() const;
    // Where the folder is now, when the system says (Linux); empty when it cannot be told or it is gone.
    QString currentPath() const;

    // Each relativePath is "/"-separated below the folder; a link or anything but a folder on the way
    // fails the call (nothing followed). The last segment is never followed either.
    Entry entry(const QString& relativePath) const;
    bool occupied(const QString& relativePath) const { return entry(relativePath).kind != Kind::None; }
    // Whether every folder on the way to relativePath's last segment is a plain folder.
    bool reachable(const QString& relativePath) const;
    // What a folder holds, sorted by name; false when it is no plain folder or cannot be read.
    bool list(const QString& relativePath, QVector<Entry>* entries) const;
    // Whether the two names lead to one file (one of them kept aside under a second name).
    bool sameFile(const QString& a, const QString& b) const;

    bool makeFolder(const QString& relativePath);
    bool removeFile(const QString& relativePath);   // a file or a link itself
    bool removeFolder(const QString& relativePath); // an empty folder
    // Removes a folder and all it holds; links are removed, never followed.
    bool removeTree(const QString& relativePath);
    // Replaces to by from in one step (also a running program).
    bool renameOver(const QString& from, const QString& to);
    // Gives the file or link at target the second name aside, which must not exist: both names stay
    // where the file system allows, else target moves to aside, never over anything.
    bool keepAside(const QString& target, const QString& aside);
    // Opens a file made new here (never an existing one, never through a link) for writing.
    bool openNew(const QString& relativePath, QFile* file, int mode = 0600);
    // Opens a regular file for reading (not a link, not a pipe).
    bool openRegular(const QString& relativePath, QFile* file) const;
    // Whether relativePath still names the file open in file.
    bool names(const QString& relativePath, const QFile& file) const;
    // The descriptor, for calls of its own (POSIX); -1 on Windows.
    int fd() const { return m_fd; }

private:
    QString absolute(const QString& relativePath) const;
#ifndef Q_OS_WIN
    int openParent(const QString& relativePath, QByteArray* leaf) const; // -1: not reachable
    bool removeTreeAt(int parent, const QByteArray& name, int depth);
#endif

    int m_fd = -1;
    QString m_path;
};
