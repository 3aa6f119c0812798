#include "zipbuilder.h"

#include <QFile>

#include <zlib.h>

namespace {

void put16(QByteArray& b, quint32 v)
{
    b.append(char(v & 0xff)).append(char((v >> 8) & 0xff));
}

void put32(QByteArray& b, quint32 v)
{
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}

// The CRC of `times` copies of a block whose own CRC is blockCrc, without running over them all.
uLong repeatedCrc(uLong blockCrc, qint64 blockLength, qint64 times)
{
    uLong result = crc32(0L, Z_NULL, 0);
    uLong power = blockCrc;
    qint64 powerLength = blockLength;
    while (times > 0) {
        if (times & 1)
            result = crc32_combine(result, power, z_off_t(powerLength));
        power = crc32_combine(power, power, z_off_t(powerLength));
        powerLength *= 2;
        times >>= 1;
    }
    return result;
}

// One content block deflated and flushed so that the decoder needs nothing before it: copies of it in
// a row form one valid stream once `tail` ends it.
bool deflatePieces(const QByteArray& content, QByteArray* piece, QByteArray* tail)
{
    z_stream zs{};
    if (deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    auto run = [&zs](const QByteArray& in, int flush, QByteArray* out) {
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
        zs.avail_in = uInt(in.size());
        QByteArray buffer(64 * 1024, Qt::Uninitialized);
        int status = Z_OK;
        do {
            zs.next_out = reinterpret_cast<Bytef*>(buffer.data());
            zs.avail_out = uInt(buffer.size());
            status = deflate(&zs, flush);
            out->append(buffer.constData(), buffer.size() - int(zs.avail_out));
        } while (zs.avail_out == 0 && status == Z_OK);
        return status == Z_OK || status == Z_STREAM_END;
    };
    const bool ok = run(content, Z_FULL_FLUSH, piece) && run(QByteArray(), Z_FINISH, tail);
    deflateEnd(&zs);
    return ok;
}

} // namespace

bool writeZip(const QString& path, const QVector<ZipItem>& items)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray directory;
    for (const ZipItem& item : items) {
        const QByteArray name = item.name.toUtf8();
        const bool hasData = !item.folder;
        const bool deflated = hasData && item.deflate;
        QByteArray piece;
        QByteArray tail;
        if (!deflated)
            piece = item.content;
        else if (!deflatePieces(item.content, &piece, &tail))
            return false;
        const qint64 repeat = hasData ? item.repeat : 0;
        const qint64 stored = repeat > 0 ? piece.size() * repeat + tail.size() - item.cutData : 0;
        const quint32 crc = quint32(repeatedCrc(crc32(0L, reinterpret_cast<const Bytef*>(item.content.constData()),
                                                      uInt(item.content.size())),
                                                item.content.size(), repeat))
            ^ item.crcFlip;
        const quint16 method = item.method != 0xffff ? item.method : (deflated ? 8 : 0);
        const qint64 size = item.declaredSize >= 0 ? item.declaredSize : (hasData ? item.realSize() : 0);
        const quint32 mode = item.folder ? 0040755 : 0100644;

        const qint64 offset = file.pos();
        // The fields the local header and the directory record share, from "version needed" on.
        auto common = [&](quint16 method, const QByteArray& name) {
            QByteArray fields;
            put16(fields, 20);
            put16(fields, 0x0800);
            put16(fields, method);
            put32(fields, 0);
            put32(fields, crc);
            put32(fields, quint32(stored + item.compressedExtra));
            put32(fields, quint32(size));
            put16(fields, quint32(name.size()));
            put16(fields, 0);
            return fields;
        };
        const QByteArray localName = item.localName.isEmpty() ? name : item.localName.toUtf8();
        QByteArray local;
        put32(local, 0x04034b50);
        local += common(item.localMethod != 0xffff ? item.localMethod : method, localName);
        local += localName;
        if (file.write(local) != local.size())
            return false;
        for (qint64 n = 0; n < repeat; ++n) {
            QByteArray chunk = piece;
            if (n == repeat - 1)
                chunk = (chunk + tail).chopped(item.cutData);
            if (file.write(chunk) != chunk.size())
                return false;
        }

        put32(directory, 0x02014b50);
        put16(directory, (3 << 8) | 20); // made on Unix
        directory += common(method, name);
        put16(directory, 0); // comment length
        put16(directory, 0); // disk
        put16(directory, 0); // internal attributes
        put32(directory, mode << 16);
        put32(directory, quint32(offset));
        directory += name;
    }
    const qint64 directoryOffset = file.pos();
    QByteArray end;
    put32(end, 0x06054b50);
    put16(end, 0);
    put16(end, 0);
    put16(end, quint32(items.size()));
    put16(end, quint32(items.size()));
    put32(end, quint32(directory.size()));
    put32(end, quint32(directoryOffset));
    put16(end, 0);
    return file.write(directory) == directory.size() && file.write(end) == end.size() && file.flush();
}
