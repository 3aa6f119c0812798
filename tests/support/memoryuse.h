#pragma once
// This process's resident memory as the kernel counts it (/proc/self/status), for tests that bound it.
#include <QtGlobal>

namespace memoryuse {

// Resident set size now, in bytes; -1 when it cannot be read.
qint64 residentBytes();
// The largest resident set size since the last resetPeak() (or since the start), in bytes; -1 when it
// cannot be read.
qint64 peakResidentBytes();
// Starts the peak anew from the present size; false when the kernel does not allow it.
bool resetPeak();

} // namespace memoryuse
