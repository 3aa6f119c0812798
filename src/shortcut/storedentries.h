#pragma once
// The item entries of shortcuts.xml as they stand in the file, so a row the page cannot rebuild is
// written back as it was read.
#include <QString>
#include <QVector>

namespace storedentries {

struct Entry {
    qint64 id = -1; // the slot, as the reader of the texts takes it; -1 for none
    qint64 hi = -1; // the function number the entry was written for; -1 for none
    QString text;      // the element as it stands in the file, from its '<' to the end of its end tag
};

// The entries item0, item1, ... of the file at path, taken as the reader of the texts takes them
// (elements that do not carry the next expected name are skipped). Empty when the file does not read.
QVector<Entry> read(const QString& path);

// The first entry written for slot id with function number hi; null when there is none.
const Entry* find(const QVector<Entry>& entries, int id, int hi);

// The entry's text under the element name tag: the reader expects item0, item1, ... in row order.
QString renamed(const Entry& entry, const QString& tag);

} // namespace storedentries
