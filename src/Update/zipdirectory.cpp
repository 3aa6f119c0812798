#include "zipdirectory.h"

namespace ZipDirectory {

namespace {

constexpr quint32 EndOfDirectorySignature = 0x06054b50;
constexpr quint32 DirectoryEntrySignature = 0x02014b50;
constexpr quint32 LocalHeaderSignature = 0x04034b50;
constexpr int EndOfDirectoryBytes = 22;
constexpr int DirectoryEntryBytes = 46;
constexpr int LocalHeaderBytes = 30;
constexpr int MaxCommentBytes = 65535;
constexpr qint64 MaxDirectoryBytes = 16 * 1024 * 1024;
constexpr quint16 Utf8NameFlag = 0x0800;
// Counts and offsets of this value say the real ones are in a zip64 record.
constexpr quint16 Zip64Count = 0xffff;
constexpr quint32 Zip64Value = 0xffffffff;

// The system that made an entry, in the high byte of "version made by": it says how to read the
// entry's external attributes.
enum Host : quint8 { Fat = 0, Unix = 3, Hpfs = 6, Ntfs = 11, Vfat = 14 };

constexpr quint32 UnixTypeMask = 0170000;
constexpr quint32 UnixFolder = 0040000;
constexpr quint32 UnixFile = 0100000;
constexpr quint32 UnixLink = 0120000;
constexpr quint32 DosFolder = 0x10;
constexpr quint32 DosReadOnly = 0x01;

// Callers check at + width <= b.size() first.
quint16 u16(const QByteArray& b, qint64 at)
{
    return quint16(uchar(b.at(int(at))) | uchar(b.at(int(at + 1))) << 8);
}

quint32 u32(const QByteArray& b, qint64 at)
{
    return quint32(u16(b, at)) | quint32(u16(b, at + 2)) << 16;
}

QFile::Permissions unixPermissions(quint32 mode)
{
    // Owner, group, other from the high bit down; the owner's also count as the user's.
    static const QFile::Permissions bits[9] = {
        QFile::ReadOwner | QFile::ReadUser, QFile::WriteOwner | QFile::WriteUser, QFile::ExeOwner | QFile::ExeUser,
        QFile::ReadGroup, QFile::WriteGroup, QFile::ExeGroup,
        QFile::ReadOther, QFile::WriteOther, QFile::ExeOther};
    QFile::Permissions p;
    for (int i = 0; i < 9; ++i) {
        if (mode & (0400u >> i))
            p |= bits[i];
    }
    return p;
}

// Kind and permissions from the external attributes, the way the system that made the entry wrote them.
void readAttributes(quint8 host, quint32 attributes, Entry* entry)
{
    switch (host) {
    case Unix: {
        const quint32 mode = attributes >> 16;
        switch (mode & UnixTypeMask) {
        case UnixLink: entry->kind = Kind::Link; break;
        case UnixFolder: entry->kind = Kind::Folder; break;
        // Some archivers store the permission bits alone.
        case UnixFile:
        case 0: entry->kind = Kind::File; break;
        default: entry->kind = Kind::Other; break;
        }
        entry->permissions = unixPermissions(mode);
        break;
    }
    case Fat:
    case Hpfs:
    case Ntfs:
    case Vfat:
        entry->kind = (attributes & DosFolder) ? Kind::Folder : Kind::File;
        entry->permissions = QFile::ReadOwner | QFile::ReadUser | QFile::ReadGroup | QFile::ReadOther;
        if (!(attributes & DosReadOnly))
            entry->permissions |= QFile::WriteOwner | QFile::WriteUser | QFile::WriteGroup | QFile::WriteOther;
        if (entry->kind == Kind::Folder)
            entry->permissions |= QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther;
        break;
    default:
        entry->kind = Kind::Other;
        break;
    }
    // A name ending in "/" can only be a folder.
    if (entry->kind == Kind::File && entry->name.endsWith(QLatin1Char('/')))
        entry->kind = Kind::Folder;
}

// Every stored byte, a NUL too (the QByteArray overloads stop there): a name with one is then refused.
QString decodedName(const QByteArray& stored, quint16 flags)
{
    return (flags & Utf8NameFlag) ? QString::fromUtf8(stored.constData(), stored.size())
                                  : QString::fromLocal8Bit(stored.constData(), stored.size());
}

bool readAt(QFile& file, qint64 at, qint64 length, QByteArray* out)
{
    if (at < 0 || length < 0 || at + length > file.size() || !file.seek(at))
        return false;
    *out = file.read(length);
    return out->size() == length;
}

bool fail(QString* why, const char* text)
{
    *why = QString::fromLatin1(text);
    return false;
}

} // namespace

bool read(QFile& archive, Directory* directory, QString* why)
{
    const qint64 size = archive.size();
    if (size < EndOfDirectoryBytes)
        return fail(why, "too short for a zip archive");
    const qint64 tailSize = qMin<qint64>(size, EndOfDirectoryBytes + MaxCommentBytes);
    QByteArray tail;
    if (!readAt(archive, size - tailSize, tailSize, &tail))
        return fail(why, "its end does not read");
    // The last end record, searched from the end: a comment may hold the signature too.
    int end = -1;
    for (int i = tail.size() - EndOfDirectoryBytes; i >= 0; --i) {
        if (u32(tail, i) == EndOfDirectorySignature) {
            end = i;
            break;
        }
    }
    if (end < 0)
        return fail(why, "no end of the central directory");
    const quint16 thisDisk = u16(tail, end + 4);
    const quint16 directoryDisk = u16(tail, end + 6);
    const quint16 entriesHere = u16(tail, end + 8);
    const quint16 entries = u16(tail, end + 10);
    const quint32 directorySize = u32(tail, end + 12);
    const quint32 directoryOffset = u32(tail, end + 16);
    if (entries == Zip64Count || directorySize == Zip64Value || directoryOffset == Zip64Value)
        return fail(why, "a zip64 archive");
    if (thisDisk != 0 || directoryDisk != 0 || entriesHere != entries)
        return fail(why, "an archive split over several parts");
    const qint64 endOffset = size - tailSize + end;
    if (directorySize > MaxDirectoryBytes || qint64(directoryOffset) + directorySize > endOffset)
        return fail(why, "the central directory lies outside the archive");
    QByteArray dir;
    if (!readAt(archive, directoryOffset, directorySize, &dir))
        return fail(why, "the central directory does not read");

    directory->entries.clear();
    directory->entries.reserve(entries);
    directory->offset = directoryOffset;
    qint64 pos = 0;
    for (int n = 0; n < entries; ++n) {
        if (pos + DirectoryEntryBytes > dir.size() || u32(dir, pos) != DirectoryEntrySignature)
            return fail(why, "a directory record is cut short or damaged");
        const qint64 nameLength = u16(dir, pos + 28);
        const qint64 next = pos + DirectoryEntryBytes + nameLength + u16(dir, pos + 30) + u16(dir, pos + 32);
        if (next > dir.size())
            return fail(why, "a directory record runs past the directory");
        Entry entry;
        entry.flags = u16(dir, pos + 8);
        entry.method = u16(dir, pos + 10);
        entry.crc = u32(dir, pos + 16);
        const quint32 compressedSize = u32(dir, pos + 20);
        const quint32 entrySize = u32(dir, pos + 24);
        const quint16 startDisk = u16(dir, pos + 34);
        const quint32 localHeader = u32(dir, pos + 42);
        if (compressedSize == Zip64Value || entrySize == Zip64Value || localHeader == Zip64Value)
            return fail(why, "a zip64 entry");
        if (startDisk != 0)
            return fail(why, "an entry on another part of a split archive");
        entry.compressedSize = compressedSize;
        entry.size = entrySize;
        entry.localHeaderOffset = localHeader;
        entry.name = decodedName(dir.mid(int(pos + DirectoryEntryBytes), int(nameLength)), entry.flags);
        readAttributes(quint8(u16(dir, pos + 4) >> 8), u32(dir, pos + 38), &entry);
        directory->entries << entry;
        pos = next;
    }
    return true;
}

bool dataOffset(QFile& archive, const Directory& directory, const Entry& entry, qint64* offset, QString* why)
{
    QByteArray header;
    if (entry.localHeaderOffset + LocalHeaderBytes > directory.offset
        || !readAt(archive, entry.localHeaderOffset, LocalHeaderBytes, &header)
        || u32(header, 0) != LocalHeaderSignature)
        return fail(why, "no local header where the directory says");
    const quint16 flags = u16(header, 6);
    const quint16 method = u16(header, 8);
    const qint64 nameLength = u16(header, 26);
    const qint64 start = entry.localHeaderOffset + LocalHeaderBytes + nameLength + u16(header, 28);
    if (start + entry.compressedSize > directory.offset)
        return fail(why, "the entry's data runs into the central directory");
    QByteArray name;
    if (!readAt(archive, entry.localHeaderOffset + LocalHeaderBytes, nameLength, &name))
        return fail(why, "the local header's name does not read");
    // What is unpacked must be what the directory's checks saw.
    if (method != entry.method || decodedName(name, flags) != entry.name)
        return fail(why, "the local header differs from the directory");
    *offset = start;
    return true;
}

} // namespace ZipDirectory
