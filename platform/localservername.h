#pragma once
// Where the single-instance socket of one executable lives for the current user.
#include <QString>

// The full local server name for an executable's file name: in $XDG_RUNTIME_DIR when set,
// otherwise in the temporary directory with the user id added, so users never share a socket.
QString userLocalServerName(const QString& executableFileName);
