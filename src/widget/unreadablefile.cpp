#include "unreadablefile.h"

#include "widget/filenotice.h"
#include "platform/savefile.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr qint64 MaxKeptBytes = 64 * 1024 * 1024;
// Copies beyond .bad.1 ... .bad.<this>; past them, nothing more is kept.
constexpr int MaxKeptCopies = 999;
constexpr qint64 PieceBytes = 64 * 1024;

QString copyName(const QString& path, int n)
{
    return path + QStringLiteral(".bad") + (n == 0 ? QString() : QLatin1Char('.') + QString::number(n));
}

// Whether the regular file at other holds the same bytes as the one at path (of size bytes).
bool sameBytes(const QString& path, const QString& other, qint64 size)
{
    const QFileInfo info(other);
    // A link there is no copy: what it names may be the file itself, or change after.
    if (info.isSymLink() || !info.isFile() || info.size() != size)
        return false;
    QFile a(path), b(other);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly))
        return false;
    while (!a.atEnd()) {
        const QByteArray piece = a.read(PieceBytes);
        if (piece.isEmpty() || piece != b.read(PieceBytes))
            return false;
    }
    return b.atEnd();
}

bool copyTo(const QString& path, const QString& kept)
{
    QFile from(path);
    SaveFile to(kept);
    bool ok = from.open(QIODevice::ReadOnly) && to.open(QIODevice::WriteOnly);
    // In pieces: the file may be far larger than anything the tool wrote.
    while (ok && !from.atEnd()) {
        const QByteArray piece = from.read(PieceBytes);
        ok = !piece.isEmpty() && to.write(piece) == piece.size();
    }
    return ok && to.commit();
}

} // namespace

bool keepUnreadableFile(const QString& path, QString* keptAs)
{
    if (keptAs)
        keptAs->clear();
    const QFileInfo info(path);
    // Also skips what is not a plain file (a FIFO, a device) that a copy could block on.
    if (!info.isFile() || info.size() == 0)
        return false;

    // The tool writes a few hundred bytes; a copy of something this large would only double it on disk.
    if (info.size() > MaxKeptBytes) {
        qWarning() << "Settings file does not read:" << path << "- too large to keep a copy of";
        return false;
    }
    // An earlier copy may hold what the user lost since: it stays, and the new one goes beside it.
    QString kept;
    for (int n = 0; n <= MaxKeptCopies && kept.isEmpty(); ++n) {
        const QString name = copyName(path, n);
        const QFileInfo taken(name);
        if (sameBytes(path, name, info.size())) {
            qWarning() << "Settings file does not read:" << path << "- already kept as" << name;
            if (keptAs)
                *keptAs = name;
            return true;
        }
        // A link to nowhere is a name taken too.
        if (!taken.exists() && !taken.isSymLink())
            kept = name;
    }
    if (kept.isEmpty()) {
        qWarning() << "Settings file does not read:" << path << "- no free name left to keep a copy as";
        return false;
    }
    if (!copyTo(path, kept)) {
        qWarning() << "Settings file does not read:" << path << "- could not be kept as" << kept;
        return false;
    }
    qWarning() << "Settings file does not read:" << path << "- kept as" << kept;
    if (keptAs)
        *keptAs = kept;
    return true;
}

void keepAndTellUnreadable(const QString& path, const std::function<bool()>& writeInPlace)
{
    const QFileInfo info(path);
    // A link that names nothing holds nothing to lose, as an empty file; it is left alone and a save
    // refuses it, so it is not told at every start.
    const bool heldSomething = !(info.isSymLink() && !info.exists()) && (!info.isFile() || info.size() > 0);
    QString kept;
    const bool copied = keepUnreadableFile(path, &kept);
    if (!heldSomething)
        return;
    if (copied && writeInPlace && writeInPlace())
        filenotice::unreadableReplaced(path, kept);
    else
        filenotice::unreadable(path, kept);
}
