#pragma once
// Whether the files the shortcuts page builds its rows from read whole. Rows built from a damaged
// input lose what shortcuts.xml holds for them (texts, key names), so the page must not save them
// over the file as if nothing happened.
#include <QString>

namespace shortcutsinputs {

enum class State {
    Read,    // read whole
    Absent,  // missing or empty: holds nothing that a save could lose
    Damaged, // there, but not a regular file, unreadable, refused or not well-formed
};

// An XML input of the page.
State xmlState(const QString& path);

// shortcuts.xml: as xmlState, and damaged too when a value the page takes as a number (a slot, a
// function, its type, a brightness or a repeat count) is not one within its range, or an entry's text
// names no record: the rows would lose its entry.
State shortcutsState(const QString& path);

// The static key file the window's palette is read from, as config.xml and menutree.xml choose it;
// empty when none is chosen.
QString staticKeysPath();

} // namespace shortcutsinputs
