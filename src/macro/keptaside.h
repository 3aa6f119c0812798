#pragma once
// The file that remembers, beside a keyboard's macro files, the macros kept aside while it is away:
//   <?xml version="1.0" encoding="UTF-8"?>
//   <KEPT>
//       <MACRO slot="1" name="Macro1" told="0" noroom="0">
//           <KEY0 status="1" code="4" type="1" stype="0" delay="10"/>
//           ...
// one MACRO per kept macro: its keyboard slot (0..63), its name, whether the user was told the keyboard
// does not hold it and that no free slot was found for it (0 or 1), and its events as a macro file
// writes them. The names end in no ".xml", so no macro's file can take them.
#include "datakey.h"

#include <QList>
#include <QString>
#include <QVector>
#include <functional>

namespace keptaside {

constexpr const char* FileName = "kept-aside.list";
// The same list's place while something that cannot be read or written over stands at FileName.
constexpr const char* SpareFileName = "kept-aside-spare.list";

// Whether name may be a kept macro's: what a head holds and what the save takes as a file name.
bool isEntryName(const QString& name);

struct Entry {
    int slot = 0;
    QString name;
    QVector<DataKey> events;
    bool told = false;
    bool toldNoRoom = false;
};

enum class Result {
    Absent,  // nothing stands there
    Read,    // every entry read
    Damaged, // the file, or some of its entries, did not read; those that did are returned
    Link,    // a link stands there: neither it nor its target is read
};

// Reads the file at path as untrusted: a regular file within the description files' bounds, each entry
// checked whole. Appends what reads to *entries. A file that is not well-formed as a whole is read
// entry by entry, so one bad entry does not take the others with it. unread (may be null): how many
// entries did not read; -1 when the file did not read at all and none could be counted.
Result read(const QString& path, QList<Entry>* entries, int* unread = nullptr);

// Writes entries to path through a save file (the old one stays whole on failure); none: removes the
// file, unless keepEmpty (an empty list is written). False when that did not happen. A link at path is
// never written through nor removed: false.
bool write(const QString& path, const QList<Entry>& entries, bool keepEmpty = false);

// Whether two macros' events are alike: each one's state, key and delay.
bool sameEvents(const QVector<DataKey>& a, const QVector<DataKey>& b);
// Whether a and b are the same kept macro: slot, name and events alike.
bool sameEntry(const Entry& a, const Entry& b);

// The entries another copy of the folder put at path since this copy last read or wrote it (seen):
// those there that are neither in seen nor in ours. What this copy removed since (in seen) stays removed.
// Nothing when path holds no list that reads, or a link.
QList<Entry> addedSince(const QString& path, const QList<Entry>& seen, const QList<Entry>& ours);
QList<Entry> addedSince(const QList<Entry>& there, const QList<Entry>& seen, const QList<Entry>& ours);

// What the two places hold together, as a start reads them: a macro both hold (slot and name) is the
// one of the place written last, the other's being an older state of the list. Only the places asked.
// whole (may be null): whether that is all they hold: both places asked, each read in full or empty of
// anything, in a folder that stands. held (may be null): every entry either place holds, older states too.
QList<Entry> standing(const QString& first, const QString& spare, bool readFirst, bool readSpare,
                      bool* whole = nullptr, QList<Entry>* held = nullptr);

// A list write merges three states: what this copy last read or wrote (seen), what stands there now
// (there, held and thereWhole as standing says) and what this copy holds (ours). What either copy
// removed since seen stays removed; what either added is kept.
struct Merge {
    QList<Entry> added;   // there only, put there by another copy: kept
    QList<Entry> removed; // of ours, in seen but there no longer: another copy removed them
};
// Nothing counts as removed unless there is whole: what did not read may be any macro.
Merge merge(const QList<Entry>& there, const QList<Entry>& held, bool thereWhole, const QList<Entry>& seen,
            const QList<Entry>& ours);

// Removes, in folder, the save files' temporaries a killed save of either place left beside the list
// ("kept-aside.list.XXXXXX"): regular files of exactly such names only; links are left alone.
// How many were removed.
int removeTemporaries(const QString& folder);

// For the tests: asked before each file step of keeping macros (a list's commit or removal, a macro
// file's commit); once it answers false, that step and every later one do not happen, as when the tool
// was killed there. Unset (the tool's own case), every step happens.
void setStepGate(std::function<bool()> gate);
// Whether the next file step is to happen.
bool mayStep();

} // namespace keptaside
