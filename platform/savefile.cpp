#include "savefile.h"

#include <QFileInfo>

SaveFile::SaveFile(const QString& name)
    : QSaveFile(name)
{
}

bool SaveFile::isLinkAtName(const QString& path)
{
    // isSymLink also answers for a dangling link, which exists() does not see.
    return QFileInfo(path).isSymLink();
}

bool SaveFile::open(OpenMode mode)
{
    if (isLinkAtName(fileName())) {
        setErrorString(QStringLiteral("a link stands at %1; it is left alone").arg(fileName()));
        return false;
    }
    return QSaveFile::open(mode);
}
