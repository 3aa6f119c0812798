#include "tempappdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TempAppDir::TempAppDir()
{
    if (m_dir.isValid()) {
        QDir(m_dir.path()).mkpath(QStringLiteral("config"));
        QDir(m_dir.path()).mkpath(QStringLiteral("log"));
    }
}

bool TempAppDir::write(const QString& relative, const QByteArray& content) const
{
    const QString path = m_dir.filePath(relative);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}
