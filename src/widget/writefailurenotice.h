#pragma once
// Tells the user which of their changes the keyboard did not take: one box per action.
#include <QString>

namespace writefailurenotice {

// A macro the keyboard did not take; savedToFile: its item file holds it now.
void macroNotTaken(const QString& name, bool savedToFile);
// The settings of a lighting mode slot (the mode parameter dialog's Apply).
void lightingSlotNotTaken(int slot);
// A colour or a lighting mode painted on a key of the keyboard picture.
void keyColourNotTaken();
void keyModeNotTaken();

// Shows what is queued as one box and empties the queue. Runs by itself from the event loop right
// after the action that queued the first notice, so an action whose writes fail several times makes
// one box, and the box never opens inside the code that failed (which may hold a device or a record).
void flush();
// Notices queued and not yet shown.
int pending();

} // namespace writefailurenotice
