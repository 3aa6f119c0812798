#include "zipentry.h"

#include <QIODevice>

#include <zlib.h>

namespace ZipEntry {

namespace {

// Bytes read from the archive, and inflated, per step: what one entry holds in memory at a time.
constexpr qint64 ChunkBytes = 64 * 1024;
constexpr quint16 EncryptedFlags = 0x0001 | 0x0040;

Report refused(const QString& why)
{
    return Report{Outcome::Refused, why};
}

// Counts, checks and passes on what an entry yields.
class Output {
public:
    Output(const ZipDirectory::Entry& entry, QIODevice* sink, qint64 limit)
        : m_declared(entry.size), m_limit(qMin(entry.size, limit)), m_sink(sink)
    {
    }

    // Inflated while the entry stays within its bounds; nothing beyond them reaches the sink.
    Report take(const char* data, qint64 length)
    {
        if (length > m_limit - m_total) {
            return refused(m_limit < m_declared ? QStringLiteral("inflates beyond the entry limit")
                                                : QStringLiteral("inflates to more than it declares"));
        }
        m_crc = crc32(m_crc, reinterpret_cast<const Bytef*>(data), uInt(length));
        m_total += length;
        if (m_sink && m_sink->write(data, length) != length)
            return Report{Outcome::NotWritten, m_sink->errorString()};
        return Report{Outcome::Inflated, QString()};
    }

    Report finish(quint32 declaredCrc) const
    {
        if (m_total != m_declared)
            return refused(QStringLiteral("inflates to fewer bytes than it declares"));
        if (m_crc != declaredCrc)
            return refused(QStringLiteral("CRC does not match"));
        return Report{Outcome::Inflated, QString()};
    }

private:
    const qint64 m_declared;
    const qint64 m_limit;
    QIODevice* const m_sink;
    qint64 m_total = 0;
    uLong m_crc = crc32(0L, Z_NULL, 0);
};

Report copyStored(QFile& archive, const ZipDirectory::Entry& entry, Output& output)
{
    if (entry.compressedSize != entry.size)
        return refused(QStringLiteral("stored entry whose sizes differ"));
    QByteArray buffer(int(ChunkBytes), Qt::Uninitialized);
    for (qint64 left = entry.compressedSize; left > 0;) {
        const qint64 got = archive.read(buffer.data(), qMin(left, ChunkBytes));
        if (got <= 0)
            return refused(QStringLiteral("data cut short"));
        left -= got;
        const Report step = output.take(buffer.constData(), got);
        if (step.outcome != Outcome::Inflated)
            return step;
    }
    return output.finish(entry.crc);
}

// zlib's state, ended on every way out.
class Inflater {
public:
    Inflater() { m_ok = inflateInit2(&m_stream, -MAX_WBITS) == Z_OK; }
    ~Inflater()
    {
        if (m_ok)
            inflateEnd(&m_stream);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    bool ok() const { return m_ok; }
    z_stream& stream() { return m_stream; }

private:
    z_stream m_stream{};
    bool m_ok = false;
};

Report inflateDeflated(QFile& archive, const ZipDirectory::Entry& entry, Output& output)
{
    Inflater inflater;
    if (!inflater.ok())
        return refused(QStringLiteral("inflater does not start"));
    z_stream& zs = inflater.stream();
    QByteArray in(int(ChunkBytes), Qt::Uninitialized);
    QByteArray out(int(ChunkBytes), Qt::Uninitialized);
    qint64 left = entry.compressedSize;
    for (;;) {
        if (zs.avail_in == 0 && left > 0) {
            const qint64 got = archive.read(in.data(), qMin(left, ChunkBytes));
            if (got <= 0)
                return refused(QStringLiteral("data cut short"));
            left -= got;
            zs.next_in = reinterpret_cast<Bytef*>(in.data());
            zs.avail_in = uInt(got);
        }
        const uInt inBefore = zs.avail_in;
        zs.next_out = reinterpret_cast<Bytef*>(out.data());
        zs.avail_out = uInt(ChunkBytes);
        const int status = inflate(&zs, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            return refused(QStringLiteral("damaged deflate data"));
        const qint64 produced = ChunkBytes - zs.avail_out;
        if (produced > 0) {
            const Report step = output.take(out.constData(), produced);
            if (step.outcome != Outcome::Inflated)
                return step;
        }
        if (status == Z_STREAM_END)
            return output.finish(entry.crc);
        // Nothing taken and nothing given: the data ended before the deflate stream did.
        if (produced == 0 && zs.avail_in == inBefore && (zs.avail_in > 0 || left == 0))
            return refused(QStringLiteral("deflate data ends early"));
    }
}

} // namespace

Report inflate(QFile& archive, qint64 dataOffset, const ZipDirectory::Entry& entry, QIODevice* sink, qint64 limit)
{
    if (entry.flags & EncryptedFlags)
        return refused(QStringLiteral("encrypted entry"));
    if (entry.method != ZipDirectory::StoredMethod && entry.method != ZipDirectory::DeflatedMethod)
        return refused(QStringLiteral("compression method %1 is not read").arg(entry.method));
    if (dataOffset < 0 || dataOffset + entry.compressedSize > archive.size() || !archive.seek(dataOffset))
        return refused(QStringLiteral("data lies outside the archive"));
    Output output(entry, sink, limit);
    return entry.method == ZipDirectory::StoredMethod ? copyStored(archive, entry, output)
                                                      : inflateDeflated(archive, entry, output);
}

} // namespace ZipEntry
