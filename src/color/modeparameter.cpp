#include "modeparameter.h"

#include "widget/fileguard.h"

#include <QDebug>
#include <QDomDocument>
#include <QDomElement>
#include <QDomNode>
#include <QDomNodeList>

namespace {

// A missing or non-numeric attribute counts as 0.
int32_t number(const QDomElement& e, const QString& name)
{
    bool ok = false;
    const int32_t v = e.attribute(name).toInt(&ok, 10);
    return ok ? v : 0;
}

ModeParameter fromItem(const QDomElement& e)
{
    ModeParameter m;
    m.text = e.attribute(QStringLiteral("text"));
    m.mode = number(e, QStringLiteral("mode"));
    m.CF = number(e, QStringLiteral("CF")) != 0;
    m.TPT = number(e, QStringLiteral("TPT"));
    m.CR = number(e, QStringLiteral("CR")) != 0;
    m.RCWK = number(e, QStringLiteral("RCWK")) != 0;
    m.HL = number(e, QStringLiteral("HL"));
    m.LL = number(e, QStringLiteral("LL"));
    m.LS = number(e, QStringLiteral("LS"));
    m.LD = number(e, QStringLiteral("LD"));
    m.BD = number(e, QStringLiteral("BD"));
    m.SDY = number(e, QStringLiteral("SDY"));
    m.HDY = number(e, QStringLiteral("HDY"));
    m.PDY = number(e, QStringLiteral("PDY"));
    m.LDY = number(e, QStringLiteral("LDY"));
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
    // The DOM drops text that is only white space, so every node left takes a position.
    for (QDomElement group = doc.documentElement().firstChildElement(); !group.isNull();
         group = group.nextSiblingElement()) {
        if (group.tagName() != QLatin1String("LEDMODE"))
            continue;
        const QDomNodeList nodes = group.childNodes();
        for (int i = 0; i < nodes.count(); ++i) {
            const QDomElement item = nodes.at(i).toElement();
            if (!item.isNull() && item.tagName() == QStringLiteral("item") + QString::number(i))
                out->append(fromItem(item));
        }
    }
    return 0;
}
