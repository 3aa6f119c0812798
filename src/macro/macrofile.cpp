#include "macrofile.h"

#include "widget/fileguard.h"

#include <QDebug>
#include <QDomDocument>
#include <QDomElement>
#include "platform/savefile.h"

namespace macrofile {

namespace {

const char* const Indent = "    ";

// An attribute as an unsigned number in base, 0 when missing or unreadable, kept to 16 bits.
uint16_t field(const QDomElement& e, const char* name, int base)
{
    bool ok = false;
    const uint value = e.attribute(QLatin1String(name)).toUInt(&ok, base);
    return ok ? uint16_t(value) : uint16_t(0);
}

DataKey* readKey(const QDomElement& e)
{
    bool ok = false;
    const int status = e.attribute(QStringLiteral("status")).toInt(&ok);
    auto* key = new DataKey(ok && status != 0 ? 1 : 0);
    key->delay = field(e, "delay", 10);
    key->code = field(e, "code", 16);
    key->stype = field(e, "stype", 16);
    key->type = field(e, "type", 16);
    return key;
}

// Whether tag is "KEY" and a number below count written as the writer writes it.
bool isKeyTag(const QString& tag, int count)
{
    if (!tag.startsWith(QLatin1String("KEY")))
        return false;
    bool ok = false;
    const int k = tag.midRef(3).toInt(&ok);
    return ok && k >= 0 && k < count && tag.midRef(3) == QString::number(k);
}

} // namespace

QByteArray fileBytes(int id, const QVector<const DataKey*>& events)
{
    QByteArray out("<?xml version = '1.0' encoding = 'UTF-8'?>\n<MACRO>\n");
    out += QByteArray(Indent) + "<ITEM id=\"" + QByteArray::number(id) + '"';
    int n = 0;
    for (const DataKey* e : events) {
        if (!e)
            continue;
        if (n == 0)
            out += ">\n";
        out += QByteArray(Indent) + Indent + "<KEY" + QByteArray::number(n++) + " status=\""
               + QByteArray::number(e->status) + "\" code=\"" + QByteArray::number(e->code, 16) + "\" type=\""
               + QByteArray::number(e->type, 16) + "\" stype=\"" + QByteArray::number(e->stype, 16)
               + "\" delay=\"" + QByteArray::number(e->delay) + "\"/>\n";
    }
    out += n == 0 ? QByteArray("/>\n") : QByteArray(Indent) + "</ITEM>\n";
    out += "</MACRO>\n";
    return out;
}

int writeMacroFile(const QString& path, int id, const QVector<const DataKey*>& events)
{
    SaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Unreadable;
    const QByteArray bytes = fileBytes(id, events);
    if (file.write(bytes) != bytes.size() || !file.flush() || !file.commit()) {
        file.cancelWriting();
        return Unreadable;
    }
    return Ok;
}

int readMacroFile(const QString& path, QVector<DataKey*>* events, QVector<Item>* items)
{
    QDomDocument doc;
    FileGuard::XmlError error;
    switch (FileGuard::loadDom(path, &doc, &error)) {
    case FileGuard::Result::Read: break;
    case FileGuard::Result::Unreadable: return Unreadable;
    case FileGuard::Result::Refused: return NotWellFormed; // the guard logged why
    case FileGuard::Result::Malformed:
        qDebug().noquote() << "parse file" << path << "failed:" << error.line << "---" << error.column << ":"
                           << error.text;
        return NotWellFormed;
    }
    QVector<DataKey*> read;
    QVector<Item> found;
    for (QDomElement item = doc.documentElement().firstChildElement(); !item.isNull();
         item = item.nextSiblingElement()) {
        if (item.tagName() != QLatin1String("ITEM"))
            continue;
        bool ok = false;
        const int id = item.attribute(QStringLiteral("id")).toInt(&ok);
        Item entry{ok ? id : 0, read.size(), 0};
        const int children = item.childNodes().count();
        for (QDomElement key = item.firstChildElement(); !key.isNull(); key = key.nextSiblingElement()) {
            if (isKeyTag(key.tagName(), children))
                read.append(readKey(key));
        }
        entry.count = read.size() - entry.first;
        found.append(entry);
    }
    if (events) {
        for (Item& item : found)
            item.first += events->size();
        *events += read;
    } else {
        qDeleteAll(read);
    }
    if (items)
        *items += found;
    return Ok;
}

bool isSafeMacroFileName(const QString& name)
{
    if (name.trimmed().isEmpty() || name.startsWith(QLatin1Char('.')))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

QString baseName(const QString& fileName)
{
    const int dot = fileName.indexOf(QLatin1Char('.'));
    return dot < 0 ? fileName : fileName.left(dot);
}

} // namespace macrofile
