#pragma once
// The numbers of shortcuts.xml and the values each may take: the damage check and the readers take
// them through this one definition, so no value passes the check and then reads as another.
#include <QString>
#include <climits>

namespace shortcutsnumbers {

struct Number {
    const char* name; // the attribute
    qint64 min;
    qint64 max;
};

// On an item element. A key function record holds its slot in 6 bits; the function is the catalogue's
// number, which a record keeps only the low 6 bits of, so any the catalogue may hold is taken. The page
// writes -1 for a row without a slot and for a function its menu does not name.
constexpr Number Slot{"id", -1, 63};
constexpr Number Function{"hi", -1, INT_MAX};
constexpr Number FunctionType{"hitype", -1, INT_MAX};
// On the item's child: a brightness option's position (no child without one) and a macro's repeat
// count (-1 without a repeat field).
constexpr Number Brightness{"index", 0, INT_MAX};
constexpr Number Repeat{"number", -1, INT_MAX};

constexpr Number ItemNumbers[] = {Slot, Function, FunctionType};
constexpr Number ChildNumbers[] = {Brightness, Repeat};

// text as a decimal within number's range; false, *value untouched, for anything else.
bool read(const QString& text, const Number& number, qint64* value);

// Whether an item written for slot and function (as read) names a key function record, so its text
// can go back to a row: -1 names none.
bool namesRecord(qint64 slot, qint64 function);

} // namespace shortcutsnumbers
