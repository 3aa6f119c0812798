#include "builtpath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QtDebug>

QString builtPath(const QString& place)
{
    const QString suiteDir = QCoreApplication::applicationDirPath();
    QFile list(suiteDir + QStringLiteral("/beside.txt"));
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning() << "builtPath: cannot read" << list.fileName();
        return QString();
    }
    const QString wanted = QDir::cleanPath(place);
    // The list is ours and a few lines long; the bound only keeps a stray file from being read whole.
    for (int n = 0; n < 1000 && !list.atEnd(); ++n) {
        const QString listed = QString::fromUtf8(list.readLine(4096)).trimmed();
        if (listed.isEmpty() || listed.startsWith(QLatin1Char('#')))
            continue;
        if (wanted == listed || wanted.startsWith(listed + QLatin1Char('/')))
            return QDir::cleanPath(suiteDir + QStringLiteral("/../") + wanted);
    }
    qWarning() << "builtPath:" << place << "is not listed in" << list.fileName();
    return QString();
}
