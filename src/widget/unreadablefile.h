#pragma once
// Keeping a settings file that does not read, before the tool's defaults are saved over it.
#include <QString>
#include <functional>

// Copies the file at path beside itself, as path + ".bad", or ".bad.1", ".bad.2", ... when that name is
// taken: a copy kept earlier is never replaced. When one of them already holds the same bytes, nothing
// is copied and that one counts as kept. Logs a warning naming both files; keptAs (if given) gets the
// name of the copy, empty when none was kept. A missing or empty file holds nothing to keep: nothing is
// copied or logged and the result is false. One of more than 64 MiB is not copied either (logged).
bool keepUnreadableFile(const QString& path, QString* keptAs = nullptr);
// Keeps path as keepUnreadableFile does and queues the damaged-file box naming the copy, unless path is
// an empty file: that held no choice to lose. Once a copy holds its bytes, writeInPlace (if given) writes
// what the tool now uses over path, so the next start reads that and does not tell again; the box says
// so. Without a copy, or when that write fails, path stays as it is.
void keepAndTellUnreadable(const QString& path, const std::function<bool()>& writeInPlace = {});
