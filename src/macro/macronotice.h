#pragma once
// Tells the user what became of the macros set aside while their keyboard was away, once each: one box
// per replug, naming many macros in one sentence each kind. Also tells of a macro the keyboard did not
// give when it was loaded.
#include <QString>

#include <cstdint>

namespace macronotice {

// A macro recorded or edited and not downloaded when the keyboard left (or the tool closed) is back on
// the page.
void backNotDownloaded(const QString& name);
// The same for a macro the keyboard cannot hold: it needs frames, more than the keyboard's most.
void backTooLong(const QString& name, int frames, int most);
// A macro back on the page under another name, as its own is taken.
void backRenamed(const QString& name, const QString& newName);
// A macro that cannot come back: the keyboard has no free macro slot. file: the file holding its events
// as they are, empty when none does (it could not be saved).
void noFreeSlot(const QString& name, const QString& file);
// A macro set aside that no list could remember: it comes back only while the tool runs. file as above.
void notRemembered(const QString& name, const QString& file);
// The same for a macro a list written earlier holds as it was before its latest changes: that comes back
// after a restart.
void rememberedOlder(const QString& name);
// The list of kept macros at path did not read; keptAs: its copy, empty when none could be made (it is
// then left as it is); spare: where the macros kept aside are remembered instead, empty when that is
// path itself or nowhere; read: its entries that did read; unread: those that did not, -1 when none of
// it read and nothing could be counted. Told once a run for what stands there.
void listUnreadable(const QString& path, const QString& keptAs, const QString& spare, int read, int unread);
// A link stands at path, a place of the list of kept macros: it and its target are left alone; other:
// the place used instead, empty when there is none. Told once a run.
void listLinked(const QString& path, const QString& other);

// A macro that could not be read from the keyboard when it was loaded; result: the read's result code,
// which says why. Told in a box of its own once the event loop runs again, as a download the keyboard
// did not take is, one line a macro however often its read failed meanwhile.
void notRead(const QString& name, uint32_t result);

// Shows what is queued as one box and empties the queue; runs by itself from the event loop after the
// action that queued the first notice.
void flush();
int pending();

// Names one sentence lists at most; the rest are counted.
constexpr int MaxNamed = 8;

} // namespace macronotice
