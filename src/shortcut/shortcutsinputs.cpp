#include "shortcutsinputs.h"

#include "widget/data.h"
#include "widget/fileguard.h"
#include "widget/qss.h"

#include <QFileInfo>

namespace shortcutsinputs {

State xmlState(const QString& path)
{
    // Links are followed: one to nowhere is absent, one to a FIFO is not a regular file.
    const QFileInfo info(path);
    if (!info.exists())
        return State::Absent;
    if (info.isFile() && info.size() == 0)
        return State::Absent;
    QByteArray content;
    return FileGuard::readXml(path, &content) == FileGuard::Result::Read ? State::Read : State::Damaged;
}

QString staticKeysPath()
{
    Data data;
    if (!data.parseConfigXML(nullptr, QStringLiteral("config.xml")))
        return QString();
    const QString name = data.chosenStaticFile();
    if (name.isEmpty() || !FileGuard::isPlainFileName(name))
        return QString();
    return appDirPath() + QStringLiteral("/config/") + name;
}

} // namespace shortcutsinputs
