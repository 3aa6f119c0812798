#include "updaternames.h"

#include "userplaces.h"

#include <QRegularExpression>

namespace UpdaterNames {

namespace {
const QString Marker = QStringLiteral(".upgrade-");
} // namespace

QString record() { return QStringLiteral(".upgrade-journal"); }
QString lock() { return QStringLiteral(".upgrade-lock"); }
QString notice() { return QStringLiteral(".upgrade-notice"); }
QString spareNotice() { return QStringLiteral(".upgrade-notice-spare"); }
QString programDigest() { return QStringLiteral(".upgrade-digest"); }
QString instanceLock() { return QStringLiteral(".upgrade-instance-lock"); }

QByteArray giveUpWord(GiveUp why)
{
    switch (why) {
    case GiveUp::Record:
        return QByteArrayLiteral("record");
    case GiveUp::Lock:
        return QByteArrayLiteral("lock");
    case GiveUp::LockHeld:
        return QByteArrayLiteral("lock-held");
    case GiveUp::LockLost:
        return QByteArrayLiteral("lock-lost");
    case GiveUp::FolderMoved:
        return QByteArrayLiteral("folder-moved");
    }
    return QByteArray();
}

QVector<GiveUp> giveUpsIn(const QByteArray& text)
{
    // An older updater wrote an empty notice, and gave up only on its record.
    if (text.isEmpty())
        return {GiveUp::Record};
    const QList<QByteArray> lines = text.split('\n');
    QVector<GiveUp> found;
    for (const GiveUp why : {GiveUp::Record, GiveUp::Lock, GiveUp::LockHeld, GiveUp::LockLost, GiveUp::FolderMoved}) {
        if (lines.contains(giveUpWord(why)))
            found << why;
    }
    return found;
}

QString ownFileBase(const QString& fileName, qint64 pid)
{
    return QLatin1Char('.') + fileName + Marker + QString::number(pid);
}

bool isOwnFileName(const QString& name)
{
    static const QRegularExpression own(QStringLiteral("^\\..+\\.upgrade-[0-9]+-(old-)?[0-9]+$"),
                                        QRegularExpression::DotMatchesEverythingOption);
    return own.match(name).hasMatch();
}

bool isReserved(const QString& relativePath)
{
    for (const QString& segment : UserPlaces::comparableSegments(relativePath)) {
        if (segment.startsWith(QLatin1Char('.')) && segment.contains(Marker))
            return true;
    }
    return false;
}

} // namespace UpdaterNames
