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
