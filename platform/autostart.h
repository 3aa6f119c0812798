#pragma once
// Start with the system: whether the user's session starts the tool (in the background) at log-in.
#include <QString>

// Turns the entry on (rewritten with the current executable path) or off (removed). An entry that is
// already as asked is not written again. False when the change could not be made; the caller keeps its
// own state either way. A link the user put at the entry (symbolic, or a file with another name too) is
// neither removed nor replaced, nor written through: false, and *linkLeftAlone is set, so the caller can
// tell the user. Any other failure sets *error to the system's reason.
bool setStartWithSystem(bool on, bool* linkLeftAlone = nullptr, QString* error = nullptr);
// Whether the entry is there, whatever executable it names.
bool isStartWithSystem();
// Where the entry lives, as the user would look for it (a file, or the registry key on Windows).
QString startWithSystemPlace();

#if !defined(Q_OS_WIN)
// The XDG autostart entry: $XDG_CONFIG_HOME/autostart/<application name>.desktop, with
// XDG_CONFIG_HOME taken only when it is absolute, else ~/.config.
QString autostartEntryPath();
// One argument of an Exec line: quoted, with the characters the quoting and the string value
// rules reserve escaped, and "%" doubled so no field code is read into it.
QString desktopExecArgument(const QString& argument);
#endif
