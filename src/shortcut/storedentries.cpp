#include "storedentries.h"

#include "widget/fileguard.h"
#include "widget/shortcutsnumbers.h"

#include <QXmlStreamReader>

namespace storedentries {

QVector<Entry> read(const QString& path)
{
    QByteArray content;
    if (FileGuard::readXml(path, &content) != FileGuard::Result::Read)
        return {};
    // Read from the decoded text, so the offsets the stream gives are positions in it.
    const QString text = QString::fromUtf8(content);
    QXmlStreamReader xml(text);
    QVector<Entry> entries;
    Entry current;
    qint64 start = -1;
    int depth = 0;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            if (depth == 2 && start < 0 && xml.name() == QStringLiteral("item") + QString::number(entries.size())) {
                // The stream reads ahead past the next '<'; a start tag holds no other '<' (not even
                // in a value), so the last one before its end is where the element begins.
                start = text.lastIndexOf(QLatin1Char('<'), int(xml.characterOffset()) - 1);
                const QXmlStreamAttributes attributes = xml.attributes();
                // Numbers out of their range name no record: such an entry is found for none.
                if (!shortcutsnumbers::read(attributes.value(QStringLiteral("id")).toString(), shortcutsnumbers::Slot,
                                            &current.id))
                    current.id = -1;
                if (!shortcutsnumbers::read(attributes.value(QStringLiteral("hi")).toString(),
                                            shortcutsnumbers::Function, &current.hi))
                    current.hi = -1;
            }
            break;
        case QXmlStreamReader::EndElement:
            if (depth == 2 && start >= 0) {
                current.text = text.mid(int(start), int(xml.characterOffset() - start));
                entries.append(current);
                current = Entry();
                start = -1;
            }
            --depth;
            break;
        default:
            break;
        }
    }
    // The guard found the file well-formed; anything else here leaves nothing half read.
    return xml.hasError() ? QVector<Entry>() : entries;
}

const Entry* find(const QVector<Entry>& entries, int id, int hi)
{
    for (const Entry& e : entries) {
        if (shortcutsnumbers::namesRecord(e.id, e.hi) && e.id == id && e.hi == hi)
            return &e;
    }
    return nullptr;
}

QString renamed(const Entry& entry, const QString& tag)
{
    QString text = entry.text;
    // The element's name runs from after its '<' to the first blank, '/' or '>'.
    int end = 1;
    while (end < text.size() && !text.at(end).isSpace() && text.at(end) != QLatin1Char('/')
           && text.at(end) != QLatin1Char('>'))
        ++end;
    const QString name = text.mid(1, end - 1);
    if (name == tag)
        return text;
    if (!text.endsWith(QLatin1String("/>"))) {
        const int close = text.lastIndexOf(QLatin1String("</"));
        if (close > 0)
            text = text.left(close) + QLatin1String("</") + tag + QLatin1Char('>');
    }
    return QLatin1Char('<') + tag + text.mid(end);
}

} // namespace storedentries
