#pragma once
// The names of the updater's own files below the application folder, which no server path may take:
// shared by the tool's checks of what the server names and by the updater (Qt Core only).
#include <QString>

namespace UpdaterNames {

// In the application folder: the record of a run's changes, written before each change; the lock the
// one running updater holds; the notice left for the tool when a record cannot be followed.
QString record();
QString lock();
QString notice();

// The start of the names of fileName's temporary and kept-aside files beside it: "." + fileName +
// ".upgrade-" + pid; "-" + n follows for a temporary file, "-old-" + n for the old file.
QString ownFileBase(const QString& fileName, qint64 pid);
// Whether name is one that ownFileBase() starts, with its "-n" or "-old-n".
bool isOwnFileName(const QString& name);

// Whether a segment of relativePath ("/"-separated) is, as the file system compares names, one the
// updater may use: every name that begins with "." and holds ".upgrade-" (all of the above do).
bool isReserved(const QString& relativePath);

} // namespace UpdaterNames
