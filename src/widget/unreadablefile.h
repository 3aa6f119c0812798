#pragma once
// Keeping a settings file that does not read, before the tool's defaults are saved over it.
#include <QString>

// Copies the file at path to path + ".bad" (replacing an older copy) and logs a warning naming both.
// A missing or empty file holds nothing to keep: nothing is copied or logged and the result is false.
// One of more than 64 MiB is not copied either (logged).
bool keepUnreadableFile(const QString& path);
