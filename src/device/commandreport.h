#pragma once
// Lays out the 64-byte command report: group, command, payload length, offset, then the payload.
#include "records.h"

#include <algorithm>
#include <cstring>

constexpr int CommandReportSize = 64;
constexpr int CommandPayloadMax = 56;

inline void buildCommandReport(uint8_t* report, uint8_t group, uint8_t command, uint16_t length, uint16_t offset,
                               const uint8_t* payload)
{
    std::memset(report, 0, CommandReportSize);
    report[0] = group;
    report[1] = command;
    le::put16(report + 2, length);
    le::put16(report + 4, offset);
    if (payload)
        std::memcpy(report + 8, payload, std::min<size_t>(length, CommandPayloadMax));
}

// Notifications that name the key map (0x20), colour map (0x30) or lighting mode (0x60) the keyboard
// switched to. Bounds on waiting notifications keep the latest of each kind instead of dropping it: the
// keyboard's last switch is what the window must end on. -1 for any other report.
constexpr int SwitchKinds = 3;
inline int switchKind(const uint8_t* report, int size)
{
    if (size < 2 || report[0] != 0xF0)
        return -1;
    return report[1] == 0x20 ? 0 : report[1] == 0x30 ? 1 : report[1] == 0x60 ? 2 : -1;
}
