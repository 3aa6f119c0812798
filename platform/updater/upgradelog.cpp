#include "upgradelog.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>

bool UpgradeLog::openFile(const QString& path)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        qWarning().noquote() << "cannot create the log folder" << info.absolutePath();
        return false;
    }
    if (info.isSymLink() || (info.exists() && !info.isFile())) {
        qWarning().noquote() << "the log is not a regular file, not written:" << path;
        return false;
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qWarning().noquote() << "cannot open the log" << path << m_file.errorString();
        return false;
    }
    return true;
}

void UpgradeLog::step(const UpgradeText& text)
{
    write(m_chinese ? text.chinese : text.english, false);
}

void UpgradeLog::failure(const UpgradeText& text)
{
    write(m_chinese ? text.chinese : text.english, true);
}

void UpgradeLog::write(const QString& line, bool failed)
{
    if (failed)
        qWarning().noquote() << line;
    else
        qInfo().noquote() << line;
    if (!m_file.isOpen())
        return;
    const QString stamped =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz ")) + line + QLatin1Char('\n');
    // Flushed per line: the log must show how far the updater got even if it is killed.
    m_file.write(stamped.toUtf8());
    m_file.flush();
}
