#include "safeunzip.h"

#include "Update/serverpath.h"

#include <QtGui/private/qzipreader_p.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QVector>

namespace SafeUnzip {

namespace {

constexpr quint32 EndOfDirectorySignature = 0x06054b50;
constexpr quint32 DirectoryEntrySignature = 0x02014b50;
constexpr int EndOfDirectoryBytes = 22;
constexpr int DirectoryEntryBytes = 46;
constexpr int MaxCommentBytes = 65535;
constexpr qint64 MaxDirectoryBytes = 16 * 1024 * 1024;
constexpr quint16 Utf8NameFlag = 0x0800;

quint16 u16(const QByteArray& b, int at)
{
    return quint16(uchar(b.at(at)) | uchar(b.at(at + 1)) << 8);
}

quint32 u32(const QByteArray& b, int at)
{
    return quint32(u16(b, at)) | quint32(u16(b, at + 2)) << 16;
}

// The entry names as the archive's central directory stores them. QZipReader's own list drops
// leading "/" and "." (so "/etc/x" and "../x" look harmless) while its fileData looks names up as
// stored; the checks need what is stored.
bool storedNames(const QString& archivePath, QStringList* names)
{
    QFile file(archivePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    if (size < EndOfDirectoryBytes)
        return false;
    const qint64 tailSize = qMin<qint64>(size, EndOfDirectoryBytes + MaxCommentBytes);
    if (!file.seek(size - tailSize))
        return false;
    const QByteArray tail = file.read(tailSize);
    if (tail.size() != tailSize)
        return false;
    // The same record QZipReader takes: the last one, searched from the end.
    int end = -1;
    for (int i = tail.size() - EndOfDirectoryBytes; i >= 0; --i) {
        if (u32(tail, i) == EndOfDirectorySignature) {
            end = i;
            break;
        }
    }
    if (end < 0)
        return false;
    const int entries = u16(tail, end + 10);
    const qint64 directorySize = u32(tail, end + 12);
    const qint64 directoryOffset = u32(tail, end + 16);
    if (directorySize > MaxDirectoryBytes || directoryOffset + directorySize > size || !file.seek(directoryOffset))
        return false;
    const QByteArray dir = file.read(directorySize);
    if (dir.size() != directorySize)
        return false;
    int pos = 0;
    for (int n = 0; n < entries; ++n) {
        if (pos + DirectoryEntryBytes > dir.size() || u32(dir, pos) != DirectoryEntrySignature)
            return false;
        const quint16 flags = u16(dir, pos + 8);
        const int nameLength = u16(dir, pos + 28);
        const int next = pos + DirectoryEntryBytes + nameLength + u16(dir, pos + 30) + u16(dir, pos + 32);
        if (next > dir.size())
            return false;
        const QByteArray name = dir.mid(pos + DirectoryEntryBytes, nameLength);
        *names << ((flags & Utf8NameFlag) ? QString::fromUtf8(name) : QString::fromLocal8Bit(name));
        pos = next;
    }
    return true;
}

// An existing link anywhere on the way from base to base/relative would be written through.
bool passesLink(const QString& base, const QString& relative)
{
    QString path = base;
    for (const QString& segment : relative.split(QLatin1Char('/'))) {
        path += QLatin1Char('/') + segment;
        if (QFileInfo(path).isSymLink())
            return true;
    }
    return false;
}

// Why an entry is refused, or empty when it may be unpacked.
QString refusal(const QZipReader::FileInfo& info, const QString& stored, const QString& base)
{
    if (info.isSymLink)
        return QStringLiteral("link entry");
    if (!info.isFile && !info.isDir)
        return QStringLiteral("unknown entry type");
    if (stored.startsWith(QLatin1Char('/')))
        return QStringLiteral("absolute path");
    QString name = stored;
    while (name.endsWith(QLatin1Char('/')))
        name.chop(1);
    if (!ServerPath::isSafeRelativePath(name, base))
        return QStringLiteral("path leaves the folder or holds \"..\", \"\\\", \":\" or a control character");
    // The reader would unpack it under another name than the one stored.
    if (name != info.filePath)
        return QStringLiteral("name rewritten by the reader");
    if (info.size < 0 || info.size > MaxEntryBytes)
        return QStringLiteral("entry too large");
    if (passesLink(base, name))
        return QStringLiteral("existing link on its path");
    return QString();
}

QFile::Permissions rwxOnly(QFile::Permissions permissions)
{
    const QFile::Permissions rwx = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser
        | QFile::WriteUser | QFile::ExeUser | QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
        | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    // The updater replaces these files later: the owner keeps reading and writing them.
    return (permissions & rwx) | QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
}

bool writeEntry(const QZipReader& reader, const QZipReader::FileInfo& info, const QString& target)
{
    if (!QDir().mkpath(QFileInfo(target).path()))
        return false;
    const QByteArray data = reader.fileData(info.filePath);
    // fileData answers empty for an entry it cannot read: a size that differs is a failure.
    if (data.size() != info.size)
        return false;
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(data) != data.size() || !file.commit())
        return false;
    return QFile::setPermissions(target, rwxOnly(info.permissions));
}

} // namespace

Result unpack(const QString& archivePath, const QString& destDir, bool removeExisting)
{
    const QFileInfo archive(archivePath);
    if (!archive.isFile() || archive.isSymLink() || archive.size() > MaxArchiveBytes) {
        qWarning() << __LINE__ << "unzip: not a regular archive of bounded size:" << archivePath;
        return Result::Refused;
    }
    QStringList stored;
    if (!storedNames(archivePath, &stored)) {
        qWarning() << __LINE__ << "unzip: the archive's directory does not read:" << archivePath;
        return Result::Refused;
    }
    QZipReader reader(archivePath);
    const QVector<QZipReader::FileInfo> entries = reader.fileInfoList();
    if (!reader.isReadable() || reader.status() != QZipReader::NoError || entries.size() != stored.size()) {
        qWarning() << __LINE__ << "unzip: the archive does not read:" << archivePath;
        return Result::Refused;
    }
    const QString base = QDir::cleanPath(QDir(destDir).absolutePath());
    qint64 total = 0;
    for (int i = 0; i < entries.size(); ++i) {
        const QString why = refusal(entries.at(i), stored.at(i), base);
        total += entries.at(i).size;
        if (!why.isEmpty() || total > MaxTotalBytes) {
            qWarning() << __LINE__ << "unzip: archive refused:" << archivePath << "entry" << stored.at(i)
                       << (why.isEmpty() ? QStringLiteral("archive too large") : why);
            return Result::Refused;
        }
    }

    if (removeExisting) {
        for (const QZipReader::FileInfo& info : entries) {
            const QString existing = destDir + QDir::separator() + info.filePath;
            if (info.isFile && QFileInfo(existing).isFile())
                QFile::remove(existing);
        }
    }
    // Folders first, as entries of their own or as the folders of files that have none.
    for (const QZipReader::FileInfo& info : entries) {
        if (info.isDir && !QDir().mkpath(base + QLatin1Char('/') + info.filePath)) {
            qWarning() << __LINE__ << "unzip: cannot make the folder" << info.filePath;
            return Result::Failed;
        }
    }
    for (const QZipReader::FileInfo& info : entries) {
        if (info.isFile && !writeEntry(reader, info, base + QLatin1Char('/') + info.filePath)) {
            qWarning() << __LINE__ << "unzip: cannot write" << info.filePath;
            return Result::Failed;
        }
    }
    return Result::Unpacked;
}

} // namespace SafeUnzip
