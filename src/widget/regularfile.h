#pragma once
// Opens a file for reading only when it is a regular file: a FIFO blocks the open (or the first read)
// until a writer comes, a device never ends, so neither may reach a reader on the window's thread.
#include <QString>

class QFile;

namespace RegularFile {

// Empty when path names a regular file (links followed); otherwise why not, e.g. "a FIFO",
// "a directory", "a device", "missing". Never opens the path.
QString kindProblem(const QString& path);

// Opens file at path read-only when it is a regular file, checked on the opened descriptor so a file
// swapped for a FIFO after a check is refused too. Refusals of anything that exists but is not a
// regular file are logged with the path; *why (optional) receives the reason. On POSIX systems the
// file is opened from that descriptor, so file->fileName() stays empty: callers name path themselves.
bool openForReading(QFile* file, const QString& path, QString* why = nullptr);

} // namespace RegularFile
