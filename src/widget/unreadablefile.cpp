#include "unreadablefile.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {
constexpr qint64 MaxKeptBytes = 64 * 1024 * 1024;
}

bool keepUnreadableFile(const QString& path)
{
    const QFileInfo info(path);
    // Also skips what is not a plain file (a FIFO, a device) that a copy could block on.
    if (!info.isFile() || info.size() == 0)
        return false;

    const QString kept = path + QStringLiteral(".bad");
    // The tool writes a few hundred bytes; a copy of something this large would only double it on disk.
    if (info.size() > MaxKeptBytes) {
        qWarning() << "Settings file does not read:" << path << "- too large to keep a copy of";
        return false;
    }
    QFile from(path);
    QSaveFile to(kept);
    bool ok = from.open(QIODevice::ReadOnly) && to.open(QIODevice::WriteOnly);
    // In pieces: the file may be far larger than anything the tool wrote.
    while (ok && !from.atEnd()) {
        const QByteArray piece = from.read(64 * 1024);
        ok = !piece.isEmpty() && to.write(piece) == piece.size();
    }
    ok = ok && to.commit();
    if (ok)
        qWarning() << "Settings file does not read:" << path << "- kept as" << kept;
    else
        qWarning() << "Settings file does not read:" << path << "- could not be kept as" << kept;
    return ok;
}
