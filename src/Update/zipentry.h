#pragma once
// Streams one zip entry's data, stored or deflated, in small chunks into a device, and refuses it as
// soon as it yields more than it declares or than a limit: what an entry claims is never trusted.
#include "Update/zipdirectory.h"

#include <QString>

class QIODevice;

namespace ZipEntry {

enum class Outcome {
    Inflated,   // exactly the declared bytes, with the declared CRC
    Refused,    // the data does not match what the directory declares, or cannot be read: why says
    NotWritten, // the sink did not take a chunk
};

struct Report {
    Outcome outcome = Outcome::Refused;
    QString why;
};

// Reads the entry's data from archive at dataOffset (ZipDirectory::dataOffset) and writes what it
// inflates to sink; a null sink only checks. Stops at the first chunk beyond entry.size or limit.
Report inflate(QFile& archive, qint64 dataOffset, const ZipDirectory::Entry& entry, QIODevice* sink, qint64 limit);

} // namespace ZipEntry
