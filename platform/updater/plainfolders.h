#pragma once
// Whether every folder between a base folder and a path below it is a real folder: a link there, or
// something else standing where a folder goes, would send a write elsewhere.
#include <QFileInfo>
#include <QString>
#include <QStringList>

// relativePath: "/"-separated below base; its last segment (the file itself) is not looked at.
inline bool foldersOnTheWayArePlain(const QString& base, const QString& relativePath)
{
    const QStringList segments = relativePath.split(QLatin1Char('/'));
    QString folder = base;
    for (int i = 0; i + 1 < segments.size(); ++i) {
        folder += QLatin1Char('/') + segments.at(i);
        const QFileInfo info(folder);
        if (info.isSymLink() || !info.isDir())
            return false;
    }
    return true;
}
