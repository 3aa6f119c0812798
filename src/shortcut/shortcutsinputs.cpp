#include "shortcutsinputs.h"

#include "widget/data.h"
#include "widget/fileguard.h"
#include "widget/qss.h"

#include <QFileInfo>
#include <QStringList>
#include <QXmlStreamReader>

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

State shortcutsState(const QString& path)
{
    const State state = xmlState(path);
    QByteArray content;
    if (state != State::Read || FileGuard::readXml(path, &content) != FileGuard::Result::Read)
        return state;
    // The entries' numbers as the page writes them: on the item elements and on their one child.
    static const QStringList itemNumbers = {QStringLiteral("id"), QStringLiteral("hi"), QStringLiteral("hitype")};
    static const QStringList childNumbers = {QStringLiteral("index"), QStringLiteral("number")};
    QXmlStreamReader xml(content);
    int depth = 0;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement)
            --depth;
        if (token != QXmlStreamReader::StartElement)
            continue;
        ++depth;
        if (depth != 2 && depth != 3)
            continue;
        for (const QString& name : depth == 2 ? itemNumbers : childNumbers) {
            const QXmlStreamAttributes attributes = xml.attributes();
            if (!attributes.hasAttribute(name))
                continue;
            bool ok = false;
            attributes.value(name).toLongLong(&ok);
            if (!ok)
                return State::Damaged;
        }
    }
    return xml.hasError() ? State::Damaged : State::Read;
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
