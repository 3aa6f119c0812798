#include "shortcutsinputs.h"

#include "widget/data.h"
#include "widget/fileguard.h"
#include "widget/qss.h"
#include "widget/shortcutsnumbers.h"

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
    // The entries' numbers as the page writes them: on the item elements and on their one child, each
    // within the range the readers take.
    const auto inRange = [](const QXmlStreamAttributes& attributes, const shortcutsnumbers::Number& number) {
        const QString name = QLatin1String(number.name);
        return !attributes.hasAttribute(name)
            || shortcutsnumbers::read(attributes.value(name).toString(), number, nullptr);
    };
    QXmlStreamReader xml(content);
    int depth = 0;
    int expected = 0;      // the item element the texts' reader takes next
    bool namesNone = false; // the element at depth 2 is one it takes, and names no record
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement)
            --depth;
        if (token != QXmlStreamReader::StartElement)
            continue;
        ++depth;
        const QXmlStreamAttributes attributes = xml.attributes();
        if (depth == 2) {
            for (const shortcutsnumbers::Number& number : shortcutsnumbers::ItemNumbers) {
                if (!inRange(attributes, number))
                    return State::Damaged;
            }
            namesNone = false;
            if (xml.name() == QStringLiteral("item") + QString::number(expected)) {
                ++expected;
                qint64 slot = -1;
                qint64 function = -1;
                namesNone = !shortcutsnumbers::read(attributes.value(QStringLiteral("id")).toString(),
                                                    shortcutsnumbers::Slot, &slot)
                    || !shortcutsnumbers::read(attributes.value(QStringLiteral("hi")).toString(),
                                               shortcutsnumbers::Function, &function)
                    || !shortcutsnumbers::namesRecord(slot, function);
            }
        } else if (depth == 3) {
            for (const shortcutsnumbers::Number& number : shortcutsnumbers::ChildNumbers) {
                if (!inRange(attributes, number))
                    return State::Damaged;
            }
            // A text of an entry that names no record goes back to no row: the next save would drop it.
            const QString attribute = xml.name() == QLatin1String("Website") ? QStringLiteral("web")
                : xml.name() == QLatin1String("DocApp") || xml.name() == QLatin1String("FileFolder")
                ? QStringLiteral("dir")
                : QString();
            if (namesNone && !attribute.isEmpty() && !attributes.value(attribute).isEmpty())
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
