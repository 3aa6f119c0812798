#include "modeparameter.h"

#include "widget/fileguard.h"

#include <QDebug>
#include <QDomDocument>
#include <QDomElement>
#include <QDomNode>
#include <QDomNodeList>

namespace {

// A missing or non-numeric attribute counts as 0; one that is there and not a number marks the item
// as of the wrong type.
int32_t attributeNumber(const QDomElement& e, const QString& name, bool* wrongType)
{
    if (!e.hasAttribute(name))
        return 0;
    bool ok = false;
    const int32_t v = e.attribute(name).toInt(&ok, 10);
    if (!ok)
        *wrongType = true;
    return ok ? v : 0;
}

ModeParameter fromItem(const QDomElement& e, bool* wrongType)
{
    const auto number = [&e, wrongType](const QString& name) { return attributeNumber(e, name, wrongType); };
    ModeParameter m;
    m.text = e.attribute(QStringLiteral("text"));
    m.mode = number(QStringLiteral("mode"));
    m.CF = number(QStringLiteral("CF")) != 0;
    m.TPT = number(QStringLiteral("TPT"));
    m.CR = number(QStringLiteral("CR")) != 0;
    m.RCWK = number(QStringLiteral("RCWK")) != 0;
    m.HL = number(QStringLiteral("HL"));
    m.LL = number(QStringLiteral("LL"));
    m.LS = number(QStringLiteral("LS"));
    m.LD = number(QStringLiteral("LD"));
    m.BD = number(QStringLiteral("BD"));
    m.SDY = number(QStringLiteral("SDY"));
    m.HDY = number(QStringLiteral("HDY"));
    m.PDY = number(QStringLiteral("PDY"));
    m.LDY = number(QStringLiteral("LDY"));
    return m;
}

} // namespace

int readModeParameters(const QString& path, QVector<ModeParameter>* out)
{
    QDomDocument doc;
    FileGuard::XmlError error;
    switch (FileGuard::loadDom(path, &doc, &error)) {
    case FileGuard::Result::Read:
        break;
    case FileGuard::Result::Malformed:
        qDebug().noquote().nospace() << "init combo box data, parse file failed: \"" << path << "\" Ln:" << error.line
                                     << ", Col:" << error.column << ":" << error.text;
        return -1;
    default: // unreadable is silent; a refused file was logged by the guard
        return -1;
    }
    bool wrongType = false;
    // The DOM drops text that is only white space, so every node left takes a position.
    for (QDomElement group = doc.documentElement().firstChildElement(); !group.isNull();
         group = group.nextSiblingElement()) {
        if (group.tagName() != QLatin1String("LEDMODE"))
            continue;
        const QDomNodeList nodes = group.childNodes();
        for (int i = 0; i < nodes.count(); ++i) {
            const QDomElement item = nodes.at(i).toElement();
            if (!item.isNull() && item.tagName() == QStringLiteral("item") + QString::number(i))
                out->append(fromItem(item, &wrongType));
        }
    }
    if (wrongType) {
        qDebug().noquote() << "init combo box data, values that are not numbers read as 0: \"" << path << "\"";
        return 1;
    }
    return 0;
}
