#include "safeunzip.h"

#include "Update/serverpath.h"
#include "Update/zipdirectory.h"
#include "Update/zipentry.h"
#include "widget/qss.h"
#include "platform/savefile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace SafeUnzip {

namespace {

using ZipDirectory::Entry;
using ZipDirectory::Kind;

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

// The entry's name without the "/" a folder entry ends in.
QString relativePath(const Entry& entry)
{
    QString name = entry.name;
    while (name.endsWith(QLatin1Char('/')))
        name.chop(1);
    return name;
}

// Why an entry is refused, or empty when it may be unpacked.
QString refusal(const Entry& entry, const QString& base)
{
    if (entry.kind == Kind::Link)
        return QStringLiteral("link entry");
    if (entry.kind == Kind::Other)
        return QStringLiteral("unknown entry type");
    if (entry.name.startsWith(QLatin1Char('/')))
        return QStringLiteral("absolute path");
    const QString name = relativePath(entry);
    if (!ServerPath::isSafeRelativePath(name, base))
        return QStringLiteral("path leaves the folder or holds \"..\", \"\\\", \":\" or a control character");
    if (entry.size > MaxEntryBytes)
        return QStringLiteral("entry too large");
    if (passesLink(base, name))
        return QStringLiteral("existing link on its path");
    return QString();
}

QFile::Permissions rwxOnly(QFile::Permissions permissions)
{
    // Nobody but the owner may change what was unpacked: it is run (the updater) or read as trusted.
    const QFile::Permissions rwx = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser
        | QFile::WriteUser | QFile::ExeUser | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    // The updater replaces these files later: the owner keeps reading and writing them.
    return (permissions & rwx) | QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
}

// Finds a file entry's data and inflates it into sink (null: only checked).
ZipEntry::Report inflateEntry(QFile& archive, const ZipDirectory::Directory& directory, const Entry& entry,
                              QIODevice* sink)
{
    qint64 offset = 0;
    QString why;
    if (!ZipDirectory::dataOffset(archive, directory, entry, &offset, &why))
        return ZipEntry::Report{ZipEntry::Outcome::Refused, why};
    return ZipEntry::inflate(archive, offset, entry, sink, MaxEntryBytes);
}

bool writeEntry(QFile& archive, const ZipDirectory::Directory& directory, const Entry& entry,
                const QString& target, QString* why)
{
    if (!QDir().mkpath(QFileInfo(target).path())) {
        *why = QStringLiteral("its folder cannot be made");
        return false;
    }
    SaveFile file(target);
    if (!file.open(QIODevice::WriteOnly)) {
        *why = file.errorString();
        return false;
    }
    // The archive may have changed since it was checked: what does not inflate as declared now is
    // not committed either.
    const ZipEntry::Report report = inflateEntry(archive, directory, entry, &file);
    if (report.outcome != ZipEntry::Outcome::Inflated) {
        *why = report.why;
        return false;
    }
    // Set on the new file before it takes the name: a change by path would follow whatever stands there.
    if (!file.setPermissions(rwxOnly(entry.permissions))) {
        *why = QStringLiteral("its permissions cannot be set");
        return false;
    }
    if (!file.commit()) {
        *why = file.errorString();
        return false;
    }
    return true;
}

} // namespace

Result unpack(const QString& archivePath, const QString& destDir, bool removeExisting)
{
    const QFileInfo info(archivePath);
    if (!info.isFile() || info.isSymLink() || info.size() > MaxArchiveBytes) {
        qWarning() << __LINE__ << "unzip: not a regular archive of bounded size:" << archivePath;
        return Result::Refused;
    }
    QFile archive(archivePath);
    ZipDirectory::Directory directory;
    QString why;
    if (!archive.open(QIODevice::ReadOnly)) {
        qWarning() << __LINE__ << "unzip: the archive does not open:" << archivePath << archive.errorString();
        return Result::Refused;
    }
    if (!ZipDirectory::read(archive, &directory, &why)) {
        qWarning() << __LINE__ << "unzip: the archive's directory does not read:" << archivePath << why;
        return Result::Refused;
    }
    const QVector<Entry>& entries = directory.entries;
    const QString base = QDir::cleanPath(QDir(destDir).absolutePath());
    // Nor through a linked folder on the way from the application folder to the destination.
    const QString linked = ServerPath::linkedFolder(base, appDirPath());
    if (!linked.isEmpty()) {
        qWarning() << __LINE__ << "unzip: archive refused:" << archivePath
                   << "the destination is reached through the link" << linked;
        return Result::Refused;
    }
    qint64 total = 0;
    for (const Entry& entry : entries) {
        why = refusal(entry, base);
        if (entry.kind == Kind::File)
            total += entry.size;
        if (why.isEmpty() && total > MaxTotalBytes)
            why = QStringLiteral("archive too large");
        if (!why.isEmpty()) {
            qWarning() << __LINE__ << "unzip: archive refused:" << archivePath << "entry" << entry.name << why;
            return Result::Refused;
        }
    }
    // Every file is inflated once to nowhere before anything is removed or written: an entry that
    // yields other than it declares refuses the archive while the folder is still untouched.
    for (const Entry& entry : entries) {
        if (entry.kind != Kind::File)
            continue;
        const ZipEntry::Report report = inflateEntry(archive, directory, entry, nullptr);
        if (report.outcome != ZipEntry::Outcome::Inflated) {
            qWarning() << __LINE__ << "unzip: archive refused:" << archivePath << "entry" << entry.name
                       << report.why;
            return Result::Refused;
        }
    }

    if (removeExisting) {
        for (const Entry& entry : entries) {
            const QString existing = destDir + QDir::separator() + relativePath(entry);
            if (entry.kind == Kind::File && QFileInfo(existing).isFile())
                QFile::remove(existing);
        }
    }
    // Folders first, as entries of their own or as the folders of files that have none.
    for (const Entry& entry : entries) {
        if (entry.kind == Kind::Folder && !QDir().mkpath(base + QLatin1Char('/') + relativePath(entry))) {
            qWarning() << __LINE__ << "unzip: cannot make the folder" << entry.name;
            return Result::Failed;
        }
    }
    for (const Entry& entry : entries) {
        if (entry.kind == Kind::File
            && !writeEntry(archive, directory, entry, base + QLatin1Char('/') + relativePath(entry), &why)) {
            qWarning() << __LINE__ << "unzip: cannot write" << entry.name << why;
            return Result::Failed;
        }
    }
    return Result::Unpacked;
}

} // namespace SafeUnzip
