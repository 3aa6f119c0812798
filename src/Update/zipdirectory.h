#pragma once
// Reads a zip archive's central directory and its entries' local headers, every field checked against
// the file's bounds, so that an entry's data can be streamed without trusting the archive.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>

namespace ZipDirectory {

enum class Kind {
    File,
    Folder,
    Link,
    Other, // a device, pipe or socket, or an entry from a system whose attributes are not understood
};

constexpr quint16 StoredMethod = 0;
constexpr quint16 DeflatedMethod = 8;

struct Entry {
    QString name; // as stored; decoded as UTF-8 when the archive says so
    Kind kind = Kind::File;
    QFile::Permissions permissions;
    quint16 flags = 0;
    quint16 method = 0;
    quint32 crc = 0;
    qint64 compressedSize = 0;
    qint64 size = 0; // what the directory declares the entry inflates to
    qint64 localHeaderOffset = 0;
};

struct Directory {
    QVector<Entry> entries; // in the directory's order
    qint64 offset = 0;      // where the directory begins: every entry's data lies before it
};

// The archive's central directory. False, with why, when it cannot be found or any record of it runs
// past its bounds; split and zip64 archives are not read.
bool read(QFile& archive, Directory* directory, QString* why);

// Where the entry's data begins, after its local header. False, with why, when the local header is
// missing, disagrees with the directory on name or method, or the data runs into the directory.
bool dataOffset(QFile& archive, const Directory& directory, const Entry& entry, qint64* offset, QString* why);

} // namespace ZipDirectory
