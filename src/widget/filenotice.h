#pragma once
// Tells the user which of the files they keep did not read or could not be saved: one box per action.
#include <QString>

namespace filenotice {

// Logs that path could not be saved (reason: why, for the log) and queues it for the box.
void saveFailed(const QString& path, const QString& reason);
// As saveFailed, and the box names reason, written for the user (the system's words, or the tool's in
// the interface's language).
void saveFailedBecause(const QString& path, const QString& reason);
// Logs that path did not read and queues it for the box; keptAs names the copy kept of it, if any.
void unreadable(const QString& path, const QString& keptAs = QString());
// Logs that path did not read, was kept as keptAs and now holds what the tool uses in its place, and
// queues it for the box.
void unreadableReplaced(const QString& path, const QString& keptAs);
// Logs that path, a file describing the keyboards (their list or a layout), did not read, and queues it
// for the box: what it describes cannot be shown.
void descriptionUnreadable(const QString& path);
// Logs that path, the lighting effects' descriptions, did not read, and queues it for the box: the
// effect list stays empty (partly: their values read as 0) until it is restored.
void effectsUnreadable(const QString& path, bool partly);
// Logs that path, about to be saved over, was first kept as keptAs, and queues it for the box.
void keptBeforeSave(const QString& path, const QString& keptAs);
// Logs that the key function catalogue at path lacks functions the keyboard holds, whose saved
// settings are therefore kept as they are, and queues it for the box.
void catalogueUnmatched(const QString& path);

// Shows what is queued as one box and empties the queue. Runs by itself from the event loop right
// after the action that queued the first notice, so several files failing in one action make one box,
// and the box never opens inside the code that failed (which may hold rows or a device).
void flush();
// Notices queued and not yet shown.
int pending();

} // namespace filenotice
