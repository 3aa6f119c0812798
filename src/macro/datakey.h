#pragma once
// One key event of the macro editor: a key going down or up, after a delay. The timeline shows one
// chip per event; the keyboard stores frames instead (see macrocodec.h for the conversions).
#include <cstdint>

struct DataKey {
    explicit DataKey(int status = 0) : status(status) {}

    uint16_t delay = 0;  // ms before this event; 0: at the same moment as the one before
    int32_t status = 0;  // 1 key down, 0 key up
    uint16_t code = 0;   // keyboard keys: the HID usage (0xE0..0xE7 the modifiers)
    uint16_t stype = 0;
    uint16_t type = 0;   // 1 keyboard key

    // Pairs a down with its up: status and delay do not count.
    bool sameKey(const DataKey& other) const
    {
        return code == other.code && type == other.type && stype == other.stype;
    }
    // Only keyboard keys change the report the keyboard sends.
    bool changesReport() const { return type == 1 && stype == 0; }
};
