#include "shortcutsnumbers.h"

namespace shortcutsnumbers {

bool read(const QString& text, const Number& number, qint64* value)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 10);
    if (!ok || v < number.min || v > number.max)
        return false;
    if (value)
        *value = v;
    return true;
}

bool namesRecord(qint64 slot, qint64 function)
{
    return slot >= 0 && function >= 0;
}

} // namespace shortcutsnumbers
