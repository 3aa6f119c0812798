#pragma once
// Writes zip archives for the unpacking tests with zlib, including ones whose directory lies about
// what an entry inflates to: gigabytes of repeated content cost a few megabytes of archive.
#include <QByteArray>
#include <QString>
#include <QVector>

struct ZipItem {
    QString name;
    QByteArray content; // written `repeat` times over
    qint64 repeat = 1;
    bool deflate = true;
    bool folder = false;
    quint16 method = 0xffff;  // stored in the headers; 0xffff: 0 or 8 as `deflate` says
    qint64 declaredSize = -1; // -1: the real size
    quint32 crcFlip = 0;      // xor-ed into the real CRC
    int cutData = 0;          // bytes cut off the end of the entry's data; the headers give what is left
    qint64 compressedExtra = 0; // added to the packed size the headers give: the data runs into what follows
    QString localName;          // the local header's name when not empty; the directory keeps `name`
    quint16 localMethod = 0xffff; // the local header's method when not 0xffff; the directory keeps `method`

    qint64 realSize() const { return content.size() * repeat; }
};

// False when the file cannot be written.
bool writeZip(const QString& path, const QVector<ZipItem>& items);
