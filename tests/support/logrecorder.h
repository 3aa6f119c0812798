#pragma once
// Keeps every message of every thread for a test to look through.
#include <QStringList>

namespace logrecorder {

// Clears what was kept and installs the recorder (after a window has installed its own handler).
void start();
// Puts back the handler start replaced (the test log's own).
void stop();
QStringList lines();

} // namespace logrecorder
