#pragma once
// Unpacks a zip archive only when every entry stays inside the destination folder: nothing absolute,
// no "..", "\", ":" or control character, no link entry, no existing link on the way (from the
// application folder down), and every file inflates, chunk by chunk, to exactly the size and CRC it
// declares; each file is written through a save file with its permission bits, never writable by group
// or others, and never through a link that stands at its name.
#include <QString>

namespace SafeUnzip {

enum class Result {
    Unpacked,
    Refused, // an entry failed the checks or its data, or the archive could not be read: nothing was
             // written or removed
    Failed,  // checked, but a folder or file could not be written: part of it may be unpacked
};

// Largest archive, entry and total of entries unpacked.
constexpr qint64 MaxArchiveBytes = 256 * 1024 * 1024;
constexpr qint64 MaxEntryBytes = 256 * 1024 * 1024;
constexpr qint64 MaxTotalBytes = 1024 * 1024 * 1024;

// removeExisting: files the archive holds are removed from destDir first.
Result unpack(const QString& archivePath, const QString& destDir, bool removeExisting);

} // namespace SafeUnzip
