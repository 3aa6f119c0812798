#include "keptaside.h"

#include "macro/macrofile.h"
#include "platform/savefile.h"
#include "widget/fileguard.h"

#include <QDateTime>
#include <QDebug>
#include <QDomDocument>
#include <QDomElement>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <QDir>
#include <algorithm>
#include <QRegularExpression>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace keptaside {

namespace {

std::function<bool()> g_gate;
bool g_stopped = false;

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

// One MACRO element cut out of a list that is not well-formed: parsed on its own, and only when it is
// well-formed and nested no deeper than a whole list may be.
bool readCutEntry(const QByteArray& cut, Entry* entry)
{
    QXmlStreamReader check(cut);
    int depth = 0;
    while (!check.atEnd()) {
        const QXmlStreamReader::TokenType t = check.readNext();
        if (t == QXmlStreamReader::StartElement && ++depth > FileGuard::MaxXmlDepth)
            return false;
        if (t == QXmlStreamReader::EndElement)
            --depth;
    }
    QDomDocument doc;
    if (check.hasError() || !doc.setContent(cut))
        return false;
    return readEntry(doc.documentElement(), entry);
}

// The entries of a list that is not well-formed, each from its "<MACRO" to the next one or the list's
// end; unread counts those that do not read. False when nothing there looks like an entry.
bool readEntryByEntry(const QByteArray& content, QList<Entry>* entries, int* unread)
{
    const QByteArray open("<MACRO");
    QList<int> starts;
    for (int at = content.indexOf(open); at >= 0; at = content.indexOf(open, at + open.size())) {
        const char next = at + open.size() < content.size() ? content[at + open.size()] : '\0';
        if (next == ' ' || next == '\t' || next == '\n' || next == '\r' || next == '/' || next == '>')
            starts << at;
    }
    if (starts.isEmpty())
        return false;
    for (int i = 0; i < starts.size(); ++i) {
        int end = i + 1 < starts.size() ? starts[i + 1] : content.size();
        const int close = content.indexOf("</KEPT>", starts[i]);
        if (close >= 0 && close < end)
            end = close;
        Entry entry;
        if (readCutEntry(content.mid(starts[i], end - starts[i]), &entry))
            entries->append(entry);
        else
            ++*unread;
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

Result read(const QString& path, QList<Entry>* entries, int* unread)
{
    int notRead = 0;
    int* const counted = unread ? unread : &notRead;
    *counted = 0;
    if (SaveFile::isLinkAtName(path)) {
        qWarning().noquote() << "kept macros: a link stands at" << path << "- it is left alone";
        return Result::Link;
    }
    const QFileInfo info(path);
    if (!info.exists())
        return Result::Absent;
    QByteArray content;
    FileGuard::XmlError error;
    const FileGuard::Result r = FileGuard::readXml(path, &content, &error);
    if (r == FileGuard::Result::Malformed) {
        qWarning().noquote() << "kept macros:" << path << "is not well-formed:" << error.line << ":" << error.column
                             << error.text << "- read entry by entry";
        const int before = entries->size();
        if (!readEntryByEntry(content, entries, counted))
            *counted = -1;
        else
            qWarning().noquote() << "kept macros:" << path << "-" << entries->size() - before << "entries read,"
                                 << *counted << "did not";
        return Result::Damaged;
    }
    QDomDocument doc;
    if (r != FileGuard::Result::Read || !doc.setContent(content)) {
        *counted = -1;
        return Result::Damaged; // the guard logged why
    }
    const QDomElement root = doc.documentElement();
    if (root.tagName() != QLatin1String("KEPT")) {
        qWarning().noquote() << "kept macros:" << path << "is not a list of kept macros";
        *counted = -1;
        return Result::Damaged;
    }
    int at = 0;
    for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement(), ++at) {
        Entry entry;
        if (!readEntry(e, &entry)) {
            qWarning().noquote() << "kept macros:" << path << "- entry" << at << "does not read";
            ++*counted;
            continue;
        }
        entries->append(entry);
    }
    return *counted ? Result::Damaged : Result::Read;
}

bool sameEvents(const QVector<DataKey>& a, const QVector<DataKey>& b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].status != b[i].status || a[i].delay != b[i].delay || !a[i].sameKey(b[i]))
            return false;
    }
    return true;
}

bool sameEntry(const Entry& a, const Entry& b)
{
    return a.slot == b.slot && a.name == b.name && sameEvents(a.events, b.events);
}

namespace {

// What one place holds when it holds a list that reads; nothing for a link or anything else. whole:
// whether that is all it holds (every entry read, or nothing stands there).
QList<Entry> heldAt(const QString& path, bool* whole)
{
    QList<Entry> there;
    const bool link = SaveFile::isLinkAtName(path);
    *whole = !link && !QFileInfo::exists(path);
    if (!QFileInfo(path).isFile() || link)
        return {};
    const Result r = read(path, &there);
    *whole = r == Result::Read;
    return r == Result::Read || r == Result::Damaged ? there : QList<Entry>();
}

bool holds(const QList<Entry>& list, const Entry& e)
{
    return std::any_of(list.begin(), list.end(), [&e](const Entry& o) { return sameEntry(o, e); });
}

} // namespace

QList<Entry> standing(const QString& first, const QString& spare, bool readFirst, bool readSpare, bool* whole,
                      QList<Entry>* held)
{
    bool wholeAt[2] = {true, true};
    QList<Entry> entries = readFirst ? heldAt(first, &wholeAt[0]) : QList<Entry>();
    const QList<Entry> second = readSpare ? heldAt(spare, &wholeAt[1]) : QList<Entry>();
    if (held)
        *held = entries + second;
    // A folder gone, or a place not read (a link there may stand for the list), says nothing of what
    // another copy removed.
    if (whole)
        *whole = readFirst && readSpare && wholeAt[0] && wholeAt[1] && QFileInfo(QFileInfo(first).absolutePath()).isDir();
    const bool spareNewer = readFirst && readSpare && QFileInfo(spare).lastModified() > QFileInfo(first).lastModified();
    for (const Entry& e : second) {
        const auto it = std::find_if(entries.begin(), entries.end(),
                                     [&e](const Entry& o) { return o.slot == e.slot && o.name == e.name; });
        if (it == entries.end())
            entries.append(e);
        else if (spareNewer)
            *it = e;
    }
    return entries;
}

QList<Entry> addedSince(const QList<Entry>& there, const QList<Entry>& seen, const QList<Entry>& ours)
{
    QList<Entry> added;
    for (const Entry& e : there) {
        if (!holds(seen, e) && !holds(ours, e) && !holds(added, e))
            added.append(e);
    }
    return added;
}

QList<Entry> addedSince(const QString& path, const QList<Entry>& seen, const QList<Entry>& ours)
{
    bool whole = false;
    return addedSince(heldAt(path, &whole), seen, ours);
}

Merge merge(const QList<Entry>& there, const QList<Entry>& held, bool thereWhole, const QList<Entry>& seen,
            const QList<Entry>& ours)
{
    Merge m;
    m.added = addedSince(there, seen, ours);
    // Alike in every event: a macro another copy changed is its removal and its addition, so neither
    // state is lost. One either place still holds, if only in an older state of the list, is not removed.
    for (const Entry& e : ours) {
        if (thereWhole && holds(seen, e) && !holds(held, e) && !holds(m.removed, e))
            m.removed.append(e);
    }
    return m;
}

bool write(const QString& path, const QList<Entry>& entries, bool keepEmpty)
{
    if (SaveFile::isLinkAtName(path))
        return false;
    if (entries.isEmpty() && !keepEmpty)
        return !QFileInfo::exists(path) || (mayStep() && QFile::remove(path));
    SaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray content = bytes(entries);
    if (file.write(content) != content.size() || !file.flush() || !mayStep() || !file.commit()) {
        file.cancelWriting();
        return false;
    }
    return true;
}

int removeTemporaries(const QString& folder)
{
    // QSaveFile's temporary: the final name, a dot and six letters or digits.
    static const QRegularExpression temporary(QStringLiteral("^kept-aside(-spare)?\\.list\\.[A-Za-z0-9]{6}$"));
    const QStringList names = QDir(folder).entryList({QStringLiteral("kept-aside*.list.*")},
                                                     QDir::Files | QDir::System | QDir::Hidden);
    int removed = 0;
    int dir = -1;
    for (const QString& name : names) {
        if (!temporary.match(name).hasMatch())
            continue;
        if (dir < 0)
            dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dir < 0)
            break;
        // Looked at and removed within the folder opened: a link of that name is neither followed nor removed.
        const QByteArray leaf = QFile::encodeName(name);
        struct stat st {};
        if (::fstatat(dir, leaf.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (::unlinkat(dir, leaf.constData(), 0) == 0) {
            qDebug().noquote() << "kept macros: a killed save's temporary removed:" << folder + name;
            ++removed;
        }
    }
    if (dir >= 0)
        ::close(dir);
    return removed;
}

void setStepGate(std::function<bool()> gate)
{
    g_gate = std::move(gate);
    g_stopped = false;
}

bool mayStep()
{
    if (!g_stopped && g_gate && !g_gate())
        g_stopped = true;
    return !g_stopped;
}

} // namespace keptaside
