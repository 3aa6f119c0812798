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
