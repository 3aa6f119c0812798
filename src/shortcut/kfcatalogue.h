#pragma once
// Reader of a key function catalogue file, and the lookups between a function's name, number and type.
#include "widget/kffunc.h"

#include <QString>
#include <QVector>

class QWidget;

namespace kfcatalogue {
// Appends the functions of the catalogue file at path (the list is not cleared first): 0 read,
// -1 unreadable or not well-formed XML (logged).
int parse(const QString& path, QVector<kffunc_t*>* catalogue);
// Whether the function menu offers anything: at least one enabled function.
bool offersFunctions(const QVector<kffunc_t*>* catalogue);
// Name of the first function whose number is hi; "none" when no function has it.
QString nameOfHi(const QVector<kffunc_t*>* catalogue, int hi);
// Number of the first function named name; -1 when none is, with the critical box (none while the
// menu offers nothing: an empty menu gives -1 with a log line only).
int hiOfName(const QVector<kffunc_t*>* catalogue, const QString& name, QWidget* boxParent = nullptr);
// Type of the function named name (through its number); -1 when there is none, boxed as above.
int typeOfName(const QVector<kffunc_t*>* catalogue, const QString& name, QWidget* boxParent = nullptr);
// Type of the first function whose number is hi; 0 when none has it.
int typeOfHi(const QVector<kffunc_t*>* catalogue, int hi);
// The first function whose number is hi, or null.
const kffunc_t* functionOfHi(const QVector<kffunc_t*>* catalogue, int hi);
// Deletes every function and empties the list.
void clear(QVector<kffunc_t*>* catalogue);
} // namespace kfcatalogue
