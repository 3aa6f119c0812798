#pragma once
// Macro files: a macro's key events as a small XML document,
//   <?xml version = '1.0' encoding = 'UTF-8'?>
//   <MACRO>
//       <ITEM id="3">
//           <KEY0 status="1" code="4" type="1" stype="0" delay="10"/>
//           ...
// one element KEY<n> per event, in timeline order (status and delay decimal; code, type and stype
// lower-case hexadecimal). The page's save, export, import and folder load call these.
#include "datakey.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace macrofile {

// Results of the reader and the writer.
constexpr int Ok = 0;
constexpr int NotWellFormed = -1; // also a file refused for its size or nesting
constexpr int Unreadable = -2;    // reader: cannot be opened; writer: cannot be written (old file kept)

// One ITEM element read: its id attribute (decimal, 0 when missing or unreadable) and its events'
// place in the list the reader appended to.
struct Item {
    int id = 0;
    int first = 0;
    int count = 0;
};

// The exact bytes of a file holding events (null entries skipped) under ITEM id.
QByteArray fileBytes(int id, const QVector<const DataKey*>& events);

// Writes fileBytes(id, events) to path through a save file: the old file stays whole on failure.
int writeMacroFile(const QString& path, int id, const QVector<const DataKey*>& events);

// Reads the events of every ITEM child of the root element (the root's tag is not checked) and
// appends them, the caller owning them, to *events; items (may be null) receives one entry per ITEM.
// KEY<n> elements count when n is below the ITEM's child count and are taken in document order.
// Attributes: missing or unreadable ones give 0; a status other than 0 reads as 1; delay, code,
// type and stype keep their low 16 bits (a delay of 70000 reads as 4464).
// Returns Ok (also for a file without ITEM or KEY elements), NotWellFormed (logged as
// "parse file <path> failed: ...") or Unreadable; on an error nothing is appended.
int readMacroFile(const QString& path, QVector<DataKey*>* events, QVector<Item>* items = nullptr);

// Whether a macro name may become a file name in the item folder: names from the keyboard can hold
// anything. Not empty nor all blanks, no leading "." (a hidden file, or "." and ".."), and no "/", "\",
// ":" or control character.
bool isSafeMacroFileName(const QString& name);

// A file name up to its first "." (the whole name without one): the folder load's macro name.
QString baseName(const QString& fileName);

} // namespace macrofile
