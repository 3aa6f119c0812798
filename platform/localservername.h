#pragma once
// Where the single-instance socket of one executable lives for the current user, and who may use it.
#include <QString>
#include <QtGlobal>

// The full local server name for an executable's file name: in $XDG_RUNTIME_DIR when set, otherwise
// in Qt's private runtime folder (0700, owned by the user), so no other user can take the name first.
// Empty when there is no such folder (Qt logs why): the caller runs without the guard.
QString userLocalServerName(const QString& executableFileName);

// The server name of the copy of executableFileName that runs from the application folder folder: the
// file name and a digest of the user and of the folder's identity (its device and node, as its lock is
// found by), so that two unpacked copies in two folders never meet, while a link to the folder or a bind
// mount of it gives the same name.
QString folderServerName(const QString& executableFileName, const QString& folder);

// Whether the process at the other end of a connected local socket runs as the current user.
// Linux reads the peer's credentials; other systems cannot tell and answer true.
bool peerIsSameUser(qintptr socketDescriptor);

// What occupies the path of a local server name before this copy listens there.
enum class LocalNameOccupant {
    Nothing,      // free, or a system whose names are no files (named pipes)
    OwnSocket,    // ours: a copy that ended without removing it, or one that did not answer
    OwnOtherFile, // ours, but no socket: a plain file, a link or the like
    OtherUser,    // another user's: never ours to replace
};
LocalNameOccupant localNameOccupant(const QString& fullServerName);
