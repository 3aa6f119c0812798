#include "keptaside.h"

#include "macro/macrofile.h"
#include "widget/fileguard.h"

#include <QDebug>
#include <QDomDocument>
#include <QDomElement>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QXmlStreamWriter>

namespace keptaside {

namespace {

constexpr int MaxSlot = 63;
// A keyboard's head holds 16 name bytes.
constexpr int MaxNameLength = 16;

// value as the writer writes it: an unsigned number in base, no sign, no spaces, up to max.
bool number(const QString& text, int base, uint max, uint* value)
{
    bool ok = false;
    const uint v = text.toUInt(&ok, base);
    if (!ok || v > max || text != QString::number(v, base))
        return false;
    *value = v;
    return true;
}

bool flag(const QDomElement& e, const char* name, bool* value)
{
    uint v = 0;
    if (!number(e.attribute(QLatin1String(name)), 10, 1, &v))
        return false;
    *value = v == 1;
    return true;
}

bool readKey(const QDomElement& e, DataKey* key)
{
    uint status = 0, delay = 0, code = 0, type = 0, stype = 0;
    if (!number(e.attribute(QStringLiteral("status")), 10, 1, &status)
        || !number(e.attribute(QStringLiteral("delay")), 10, 0xFFFF, &delay)
        || !number(e.attribute(QStringLiteral("code")), 16, 0xFFFF, &code)
        || !number(e.attribute(QStringLiteral("type")), 16, 0xFFFF, &type)
        || !number(e.attribute(QStringLiteral("stype")), 16, 0xFFFF, &stype))
        return false;
    key->status = int32_t(status);
    key->delay = uint16_t(delay);
    key->code = uint16_t(code);
    key->type = uint16_t(type);
    key->stype = uint16_t(stype);
    return true;
}

// One MACRO element, read whole or not at all.
bool readEntry(const QDomElement& e, Entry* entry)
{
    uint slot = 0;
    if (e.tagName() != QLatin1String("MACRO") || !number(e.attribute(QStringLiteral("slot")), 10, MaxSlot, &slot)
        || !flag(e, "told", &entry->told) || !flag(e, "noroom", &entry->toldNoRoom))
        return false;
    entry->slot = int(slot);
    entry->name = e.attribute(QStringLiteral("name"));
    if (!isEntryName(entry->name))
        return false;
    int n = 0;
    for (QDomElement k = e.firstChildElement(); !k.isNull(); k = k.nextSiblingElement(), ++n) {
        DataKey key;
        if (k.tagName() != QStringLiteral("KEY") + QString::number(n) || !readKey(k, &key))
            return false;
        entry->events.append(key);
    }
    return true;
}

QByteArray bytes(const QList<Entry>& entries)
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(4);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("KEPT"));
    for (const Entry& entry : entries) {
        xml.writeStartElement(QStringLiteral("MACRO"));
        xml.writeAttribute(QStringLiteral("slot"), QString::number(entry.slot));
        xml.writeAttribute(QStringLiteral("name"), entry.name);
        xml.writeAttribute(QStringLiteral("told"), QString::number(int(entry.told)));
        xml.writeAttribute(QStringLiteral("noroom"), QString::number(int(entry.toldNoRoom)));
        for (int i = 0; i < entry.events.size(); ++i) {
            const DataKey& e = entry.events[i];
            xml.writeEmptyElement(QStringLiteral("KEY") + QString::number(i));
            xml.writeAttribute(QStringLiteral("status"), QString::number(e.status != 0 ? 1 : 0));
            xml.writeAttribute(QStringLiteral("code"), QString::number(e.code, 16));
            xml.writeAttribute(QStringLiteral("type"), QString::number(e.type, 16));
            xml.writeAttribute(QStringLiteral("stype"), QString::number(e.stype, 16));
            xml.writeAttribute(QStringLiteral("delay"), QString::number(e.delay));
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

} // namespace

bool isEntryName(const QString& name)
{
    return name.size() <= MaxNameLength && macrofile::isSafeMacroFileName(name);
}

Result read(const QString& path, QList<Entry>* entries)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return Result::Absent;
    QDomDocument doc;
    FileGuard::XmlError error;
    const FileGuard::Result r = FileGuard::loadDom(path, &doc, &error);
    if (r == FileGuard::Result::Malformed)
        qWarning().noquote() << "kept macros:" << path << "is not well-formed:" << error.line << ":" << error.column
                             << error.text;
    if (r != FileGuard::Result::Read)
        return Result::Damaged; // the guard logged why
    const QDomElement root = doc.documentElement();
    if (root.tagName() != QLatin1String("KEPT")) {
        qWarning().noquote() << "kept macros:" << path << "is not a list of kept macros";
        return Result::Damaged;
    }
    Result result = Result::Read;
    int at = 0;
    for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement(), ++at) {
        Entry entry;
        if (!readEntry(e, &entry)) {
            qWarning().noquote() << "kept macros:" << path << "- entry" << at << "does not read";
            result = Result::Damaged;
            continue;
        }
        entries->append(entry);
    }
    return result;
}

bool write(const QString& path, const QList<Entry>& entries, bool keepEmpty)
{
    if (entries.isEmpty() && !keepEmpty) {
        const QFileInfo info(path);
        return (!info.exists() && !info.isSymLink()) || QFile::remove(path);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray content = bytes(entries);
    if (file.write(content) != content.size() || !file.flush() || !file.commit()) {
        file.cancelWriting();
        return false;
    }
    return true;
}

} // namespace keptaside
