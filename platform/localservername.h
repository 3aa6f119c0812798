#pragma once
// Where the single-instance socket of one executable lives for the current user, and who may use it.
#include <QString>
#include <QtGlobal>

// The full local server name for an executable's file name: in $XDG_RUNTIME_DIR when set, otherwise
// in Qt's private runtime folder (0700, owned by the user), so no other user can take the name first.
// Empty when there is no such folder (Qt logs why): the caller runs without the guard.
QString userLocalServerName(const QString& executableFileName);

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
