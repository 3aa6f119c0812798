#pragma once
// Tells the user what became of the macros set aside while their keyboard was away, once each: one box
// per replug.
#include <QString>

namespace macronotice {

// A macro recorded or edited and not downloaded when the keyboard left (or the tool closed) is back on
// the page.
void backNotDownloaded(const QString& name);
// A macro back on the page under another name, as its own is taken.
void backRenamed(const QString& name, const QString& newName);
// A macro that cannot come back: the keyboard has no free macro slot. file: the file holding its events
// as they are, empty when none does (it could not be saved).
void noFreeSlot(const QString& name, const QString& file);

// Shows what is queued as one box and empties the queue; runs by itself from the event loop after the
// action that queued the first notice.
void flush();
int pending();

} // namespace macronotice
