#include "widget/data.h"

#include "widget/fileguard.h"
#include "widget/inputnotice.h"
#include "widget/keybtn.h"
#include "widget/kffunc.h"
#include "widget/qss.h"
#include "widget/regularfile.h"
#include "widget/shortcutsnumbers.h"
#include "widget/stcts.h"

#include <QDebug>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLineEdit>
#include <QPushButton>
#include <QXmlStreamReader>
#include <cmath>
#include <functional>
#include <memory>

namespace {

// The file fileName in the folder below the application directory; empty (logged) when the name is not a
// plain file name, so that no name reaches a file outside that folder.
QString configPath(const QString& fileName, const QString& folder = QStringLiteral("/config/"))
{
    if (fileName.isEmpty())
        return QString(); // absent: nothing to read, nothing to say
    if (!FileGuard::isPlainFileName(fileName)) {
        qDebug() << "Not a plain file name, not read:" << fileName;
        return QString();
    }
    return appDirPath() + folder + fileName;
}

// Key function slot ids have 6 bits.
constexpr int SlotIds = 64;

// A file name as config.xml gives it: empty (absent) or plain; anything else is logged.
bool plainOrAbsent(const QString& name, const char* element, const char* attribute)
{
    if (name.isEmpty() || FileGuard::isPlainFileName(name))
        return true;
    qDebug() << "config.xml:" << element << attribute << "is not a plain file name in config/, skipped:" << name;
    return false;
}

// A config.xml number kept within [low, high]; a value outside is logged with what it became.
int clamped(int value, int low, int high, const char* element, const char* attribute)
{
    const int kept = qBound(low, value, high);
    if (kept != value)
        qDebug() << "config.xml:" << element << attribute << value << "out of range, clamped to" << kept;
    return kept;
}

// Hexadecimal, kept to the low 16 bits; unparsable reads as 0.
uint16_t hex16(const QString& text)
{
    bool ok = false;
    const qulonglong v = text.toULongLong(&ok, 16);
    return ok ? uint16_t(v) : 0;
}

// Decimal, kept to the low 16 bits; unparsable reads as 0.
uint16_t dec16(const QString& text)
{
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 10);
    return ok ? uint16_t(v) : 0;
}

bool flag(const QString& text)
{
    return text.toInt() != 0;
}

// A layout number as the pixel conversions can take it: not finite or beyond the limit reads as 0.
double layoutNumber(double v, const char* what)
{
    if (std::isfinite(v) && std::fabs(v) <= Data::MaxLayoutUnits)
        return v;
    qDebug() << "Layout value out of range, read as 0:" << what << v;
    return 0;
}

double jsonNumber(const QJsonValue& v, const char* what)
{
    double d = 0;
    if (v.isDouble()) {
        d = v.toDouble();
    } else if (v.isString()) {
        bool ok = false;
        d = v.toString().toDouble(&ok);
        if (!ok)
            d = 0;
    }
    return layoutNumber(d, what);
}

// Reads a static key or colour file through the file guard and steps past the first token after the
// document start. The shared part of the token loop; false when the file can't be read. A file that is
// not well-formed is still read: the elements before the error apply.
bool openTokenStream(const QString& path, QXmlStreamReader& reader)
{
    if (path.isEmpty())
        return false; // not a plain name, logged
    QByteArray content;
    const FileGuard::Result read = FileGuard::readXml(path, &content);
    if (read != FileGuard::Result::Read && read != FileGuard::Result::Malformed) {
        qDebug() << "Open static XML file failed:" << path;
        return false;
    }
    reader.addData(content);
    while (!reader.atEnd() && !reader.hasError()) {
        if (reader.readNext() != QXmlStreamReader::StartDocument)
            break;
    }
    return true;
}

void endTokenStream(QXmlStreamReader& reader)
{
    if (reader.hasError()) {
        qDebug() << reader.errorString();
        reader.clear();
    }
}

bool moreTokens(const QXmlStreamReader& reader)
{
    return !reader.atEnd() && !reader.hasError();
}

// Walks the stream and hands every `element` whose `required` attribute is not empty to take, with
// that attribute's value.
void forEachElement(QXmlStreamReader& reader, const char* element, const char* required,
                    const std::function<void(const QXmlStreamAttributes&, const QString&)>& take)
{
    while (moreTokens(reader)) {
        reader.readNext();
        if (reader.name() != QLatin1String(element))
            continue;
        const QXmlStreamAttributes a = reader.attributes();
        const QString value = a.value(QLatin1String(required)).toString();
        if (!value.isEmpty())
            take(a, value);
    }
}

void logSkipped(int skipped, const QString& what, const QString& fileName)
{
    if (skipped > 0)
        qDebug() << "Static XML file has more" << what << "than the list, skipped:" << skipped << fileName;
}

} // namespace

Data::Data() = default;

Data::~Data()
{
    qDeleteAll(boards);
    boards.clear();
}

QDomDocument* Data::openXMLDomDocument(const QString& path)
{
    auto doc = std::make_unique<QDomDocument>();
    FileGuard::XmlError error;
    const FileGuard::Result read = FileGuard::loadDom(path, doc.get(), &error);
    if (read == FileGuard::Result::Malformed)
        qDebug() << "Open XML file failed:" << path << error.line << "---" << error.column << ":" << error.text;
    return read == FileGuard::Result::Read ? doc.release() : nullptr;
}

bool Data::parseConfigXML(QVector<BoardInfo*>* boards, const QString& fileName)
{
    const QString path = configPath(fileName);
    if (path.isEmpty())
        return false;
    std::unique_ptr<QDomDocument> doc(openXMLDomDocument(path));
    if (!doc) {
        // Without it no keyboard is ever found: the user hears why the window stays disconnected.
        inputnotice::descriptionUnreadable(path);
        return false;
    }

    for (QDomNode n = doc->documentElement().firstChildElement(); !n.isNull(); n = n.nextSibling()) {
        const QDomElement e = n.toElement();
        if (e.isNull())
            continue;
        if (e.tagName() == QLatin1String("tools_info")) {
            for (QDomNode c = e.firstChild(); !c.isNull(); c = c.nextSibling()) {
                const QDomElement ce = c.toElement();
                if (ce.tagName() == QLatin1String("usb")) {
                    vid = hex16(ce.attribute(QStringLiteral("vid")));
                    pid = hex16(ce.attribute(QStringLiteral("pid")));
                    iface = dec16(ce.attribute(QStringLiteral("iface")));
                } else if (ce.tagName() == QLatin1String("static")) {
                    // A name that is not plain is dropped: its reader then has nothing to read.
                    const auto name = [&ce](const char* attribute) {
                        const QString value = ce.attribute(QLatin1String(attribute));
                        return plainOrAbsent(value, "static", attribute) ? value : QString();
                    };
                    xmlWin = name("xmlWin");
                    xmlMac = name("xmlMac");
                    json = name("json");
                    x = clamped(ce.attribute(QStringLiteral("x")).toInt(), 0, WindowWidth, "static", "x");
                    y = clamped(ce.attribute(QStringLiteral("y")).toInt(), 0, WindowHeight, "static", "y");
                    w = clamped(ce.attribute(QStringLiteral("w")).toInt(), MinUnitPixels, MaxUnitPixels, "static", "w");
                    h = clamped(ce.attribute(QStringLiteral("h")).toInt(), MinUnitPixels, MaxUnitPixels, "static", "h");
                }
            }
        } else if (e.tagName() == QLatin1String("board_type")) {
            for (QDomNode c = e.firstChild(); !c.isNull(); c = c.nextSibling()) {
                const QDomElement b = c.toElement();
                if (b.tagName() != QLatin1String("board"))
                    continue;
                const QString file = b.attribute(QStringLiteral("file"));
                const QString kf = b.attribute(QStringLiteral("kf"));
                if (!plainOrAbsent(file, "board", "file") || !plainOrAbsent(kf, "board", "kf"))
                    continue;
                auto* info = new BoardInfo;
                info->name = b.attribute(QStringLiteral("name"));
                info->file = file;
                info->kf = kf;
                info->fw = b.attribute(QStringLiteral("fw")).toDouble();
                info->x = clamped(b.attribute(QStringLiteral("x")).toInt(), 0, WindowWidth, "board", "x");
                info->y = clamped(b.attribute(QStringLiteral("y")).toInt(), 0, WindowHeight, "board", "y");
                info->w = clamped(b.attribute(QStringLiteral("w")).toInt(), MinUnitPixels, MaxUnitPixels, "board", "w");
                info->h = clamped(b.attribute(QStringLiteral("h")).toInt(), MinUnitPixels, MaxUnitPixels, "board", "h");
                info->key = flag(b.attribute(QStringLiteral("key")));
                info->color = flag(b.attribute(QStringLiteral("color")));
                info->shortcuts = flag(b.attribute(QStringLiteral("shortcuts")));
                info->macro = flag(b.attribute(QStringLiteral("macro")));
                info->setting = flag(b.attribute(QStringLiteral("setting")));
                info->KLE = flag(b.attribute(QStringLiteral("KLE")));
                info->KLEH = b.attribute(QStringLiteral("KLEH")).toInt();
                info->KLEW = b.attribute(QStringLiteral("KLEW")).toInt();
                info->KLER = b.attribute(QStringLiteral("KLER")).toInt();
                info->KLEC = b.attribute(QStringLiteral("KLEC")).toInt();
                if (boards)
                    boards->append(info);
                else
                    delete info;
            }
        }
    }
    return true;
}

bool Data::parseJsonFileForFix(QVector<KeyBtn*>* keys, const QString& file, const QString& path)
{
    const QString name = file.isEmpty() ? path : configPath(file);
    if (!file.isEmpty() && name.isEmpty())
        return false; // not a plain name, logged
    if (name.isEmpty()) {
        // config.xml did not read, or names no layout: there is no file to open.
        qDebug() << "Open JSON failed: no layout file named";
        return false;
    }
    // A layout of config/ that is there and does not read leaves its keyboard undrawn: the user hears
    // which file it is. A file the user picked is the picker's to report.
    const auto tellUnread = [&file, &name] {
        if (!file.isEmpty())
            inputnotice::descriptionUnreadable(name);
    };
    QByteArray text;
    if (FileGuard::readFile(name, &text) != FileGuard::Result::Read) {
        qDebug().noquote() << QStringLiteral("Open JSON failed: \"%1\": %2")
                                  .arg(name, QFileInfo::exists(name) ? QStringLiteral("not read")
                                                                     : QStringLiteral("no such file"));
        tellUnread();
        return false;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (doc.isNull() || error.error != QJsonParseError::NoError) {
        qDebug().noquote() << QStringLiteral("Parse JSON failed: \"%1\": %2 at offset %3")
                                  .arg(name, error.errorString(), QString::number(error.offset));
        tellUnread();
        return false;
    }
    if (!doc.isArray())
        return true;

    double y = 0;
    int made = 0;
    const QJsonArray rows = doc.array();
    for (const QJsonValue& rowValue : rows) {
        if (rowValue.isArray()) {
            double x = 0, w = 1, h = 1, x2 = 0, y2 = 0, w2 = 0, h2 = 0;
            const QJsonArray row = rowValue.toArray();
            for (const QJsonValue& item : row) {
                if (item.isObject()) {
                    const QJsonObject o = item.toObject();
                    // Sums are checked too: many in-range offsets can still add up beyond the limit.
                    if (o.contains(QLatin1String("x")))
                        x = layoutNumber(x + jsonNumber(o.value(QLatin1String("x")), "x"), "x");
                    if (o.contains(QLatin1String("y")))
                        y = layoutNumber(y + jsonNumber(o.value(QLatin1String("y")), "y"), "y");
                    if (o.contains(QLatin1String("x2")))
                        x2 = layoutNumber(x2 + jsonNumber(o.value(QLatin1String("x2")), "x2"), "x2");
                    if (o.contains(QLatin1String("y2")))
                        y2 = layoutNumber(y2 + jsonNumber(o.value(QLatin1String("y2")), "y2"), "y2");
                    if (o.contains(QLatin1String("w")))
                        w = jsonNumber(o.value(QLatin1String("w")), "w");
                    if (o.contains(QLatin1String("h")))
                        h = jsonNumber(o.value(QLatin1String("h")), "h");
                    if (o.contains(QLatin1String("h2")))
                        h2 = jsonNumber(o.value(QLatin1String("h2")), "h2");
                    if (o.contains(QLatin1String("w2")))
                        w2 = jsonNumber(o.value(QLatin1String("w2")), "w2");
                } else if (item.isString()) {
                    if (made == MaxLayoutKeys) {
                        // Every key is a widget: a huge layout would take the window down.
                        qDebug() << "Layout has more than" << MaxLayoutKeys << "keys, the rest skipped:" << name;
                        return true;
                    }
                    ++made;
                    auto* key = new KeyBtn(nullptr);
                    key->label = item.toString();
                    key->setKeyGeometry(x, y, w, h, x2, y2, w2, h2);
                    if (keys)
                        keys->append(key);
                    else
                        delete key;
                    x = layoutNumber(x + w, "x");
                    w = h = 1;
                    x2 = y2 = w2 = h2 = 0;
                }
            }
        }
        y = layoutNumber(y + 1, "y");
    }
    return true;
}

bool Data::parseStaticXML(QVector<KeyBtn*>* keys, const QString& fileName)
{
    qDebug() << "parse static XML file:" << fileName;
    QXmlStreamReader reader;
    if (!openTokenStream(configPath(fileName), reader))
        return false;

    const int count = keys ? keys->size() : 0;
    int n = 0;
    int skipped = 0;
    forEachElement(reader, "key", "code", [&](const QXmlStreamAttributes& a, const QString& code) {
        if (n++ >= count) {
            // The file doesn't fit its palette layout: the extra elements have no key cap.
            ++skipped;
            return;
        }
        KeyBtn* key = keys->at(n - 1);
        key->code = hex16(code);
        key->type = dec16(a.value(QLatin1String("type")).toString());
        key->stype = dec16(a.value(QLatin1String("stype")).toString());
        key->setName(a.value(QLatin1String("name")).toString());
        key->setImage(a.value(QLatin1String("image")).toString());
        key->setAlias(a.value(QLatin1String("alias")).toString());
    });
    endTokenStream(reader);
    logSkipped(skipped, QStringLiteral("keys"), fileName);
    return true;
}

bool Data::parseStaticXML(StaticKeyTarget* chip, const QString& fileName)
{
    QXmlStreamReader reader;
    if (!openTokenStream(configPath(fileName), reader))
        return false;

    forEachElement(reader, "key", "code", [&](const QXmlStreamAttributes& a, const QString& code) {
        if (chip && hex16(code) == chip->code() && dec16(a.value(QLatin1String("type")).toString()) == chip->type()
            && dec16(a.value(QLatin1String("stype")).toString()) == chip->stype()) {
            chip->setKeyInfo(a.value(QLatin1String("name")).toString(), a.value(QLatin1String("alias")).toString(),
                             a.value(QLatin1String("image")).toString());
        }
    });
    endTokenStream(reader);
    return true;
}

bool Data::parseStaticColorXML(QVector<QPushButton*>* buttons, const QString& fileName)
{
    runTime.mark(1);
    qDebug() << "parse static XML file:" << fileName;
    QXmlStreamReader reader;
    if (!openTokenStream(configPath(fileName, QStringLiteral("/config/customcolor/")), reader))
        return false;

    const int count = buttons ? buttons->size() : 0;
    int n = 0;
    int skipped = 0;
    forEachElement(reader, "color", "name", [&](const QXmlStreamAttributes&, const QString& name) {
        if (n++ >= count) {
            ++skipped;
            return;
        }
        QPushButton* button = buttons->at(n - 1);
        button->setObjectName(name);
        qDebug() << "color=" << button->objectName() << "id=" << n - 1;
    });
    endTokenStream(reader);
    logSkipped(skipped, QStringLiteral("colours"), fileName);
    runTime.stop(QStringLiteral("parseStaticColorXML "), 1);
    return true;
}

QString Data::chosenStaticFile()
{
    MenuTreeData menu;
    parseMenutreeXML(QStringLiteral("menutree.xml"), &menu);
    if (menu.MacOS)
        return xmlMac;
    if (menu.Windows || menu.Automatic)
        return xmlWin;
    return QString();
}

void Data::loadKeyBtns(QVector<KeyBtn*>* keys)
{
    parseConfigXML(&boards, QStringLiteral("config.xml"));
    parseJsonFileForFix(keys, json, QString());
    const QString file = chosenStaticFile();
    if (!file.isEmpty())
        parseStaticXML(keys, file);
}

void Data::loadKeys(StaticKeyTarget* chip)
{
    parseConfigXML(&boards, QStringLiteral("config.xml"));
    const QString file = chosenStaticFile();
    if (!file.isEmpty())
        parseStaticXML(chip, file);
}

KeyBtn* Data::selectStaticBtn(KeyBtn* out, const kc_t* kc, QVector<KeyBtn*>* statics)
{
    if (!statics) {
        qDebug() << "Select static btn failed, static key tab is NULL.";
        return out;
    }
    if (!out || !kc)
        return out;
    for (KeyBtn* entry : *statics) {
        if (entry && entry->type == kc->type && entry->stype == kc->stype && entry->code == kc->code) {
            out->setImage(entry->image());
            out->label = entry->label;
            out->code = entry->code;
            out->stype = entry->stype;
            out->type = entry->type;
            out->setAlias(entry->alias());
            out->setName(entry->name());
            out->setKeyIndex(entry->keyIndex());
            return out;
        }
    }
    out->type = 0;
    out->stype = 0;
    out->code = 0;
    out->setName(QStringLiteral(" "));
    out->setAlias(QStringLiteral(" "));
    out->setKeyIndex(-1);
    qDebug() << "error ! btn select not static key: "
             << "ty=" << kc->type << "sty=" << kc->stype << "co=" << kc->code;
    return out;
}

namespace {

// A flag of menutree.xml: set when an unsigned decimal other than 0. Absent reads as clear; present and
// not such a number reads as clear too, and clears *read.
bool menutreeFlag(const QDomElement& e, const QString& name, bool* read)
{
    bool ok = false;
    const uint value = e.attribute(name).toUInt(&ok, 10);
    if (!ok && e.hasAttribute(name))
        *read = false;
    return ok && value != 0;
}

} // namespace

bool Data::parseMenutreeXML(const QString& fileName, MenuTreeData* out, bool* flagsRead)
{
    bool read = true;
    if (!flagsRead)
        flagsRead = &read;
    *flagsRead = true;
    const QString path = configPath(fileName);
    std::unique_ptr<QDomDocument> doc(path.isEmpty() ? nullptr : openXMLDomDocument(path));
    if (!doc) {
        qDebug() << "Parse menutree XML error, DomDocument is NULL.";
        return false;
    }
    if (!out)
        return true;
    for (QDomNode n = doc->documentElement().firstChild(); !n.isNull(); n = n.nextSibling()) {
        const QDomElement e = n.toElement();
        const QString tag = e.tagName();
        if (tag == QLatin1String("setting")) {
            out->autoStart = menutreeFlag(e, QStringLiteral("auto_start"), flagsRead);
        } else if (tag == QLatin1String("webDownload")) {
            out->webDownload = e.attribute(QStringLiteral("web"));
        } else if (tag == QLatin1String("webHelp")) {
            out->webHelp = e.attribute(QStringLiteral("web"));
        } else if (tag == QLatin1String("layout_version")) {
            out->MacOS = menutreeFlag(e, QStringLiteral("MacOS"), flagsRead);
            out->Windows = menutreeFlag(e, QStringLiteral("Windows"), flagsRead);
            out->Automatic = menutreeFlag(e, QStringLiteral("Automatic"), flagsRead);
        }
    }
    return true;
}

void Data::buildShortcutList(const std::vector<kf_t>& table, int count, QVector<STCTS*>* list,
                             QVector<kffunc_t*>* catalogue)
{
    if (!list)
        return;
    // A count beyond the table read is the keyboard's claim, not slots we hold.
    const int total = qMin(count, int(table.size()));
    // A slot id has 6 bits, and the keyboard keeps one record per id: a used record repeating an id
    // makes no record of its own. Each such id is logged once, with how often it came.
    int uses[SlotIds] = {};
    for (int i = 0; i < total; ++i) {
        const kf_t& kf = table[size_t(i)];
        if (!kf.used() || uses[kf.id()]++ > 0)
            continue;
        auto* record = new STCTS;
        record->id = uint32_t(kf.id());
        record->hi = uint32_t(kf.hi());
        record->type = E_SCT_NONE;
        if (catalogue) {
            for (const kffunc_t* f : *catalogue) {
                if (f && uint32_t(f->hi) == record->hi) {
                    record->type = uint32_t(f->control_type);
                    break;
                }
            }
        }
        list->append(record);
    }
    for (int id = 0; id < SlotIds; ++id) {
        if (uses[id] > 1)
            qWarning("key function slot id %d is in %d used records: the first is taken, the others skipped", id,
                     uses[id]);
    }
}

bool Data::parseShortcutsXML(const QString& path, QVector<STCTS*>* list)
{
    std::unique_ptr<QDomDocument> doc(openXMLDomDocument(path));
    if (!doc)
        return false;
    const QDomElement root = doc->documentElement();
    if (root.firstChildElement().isNull())
        return true;

    int k = 0;
    for (QDomNode n = root.firstChild(); !n.isNull(); n = n.nextSibling()) {
        const QDomElement item = n.toElement();
        if (item.isNull() || item.tagName() != QStringLiteral("item") + QString::number(k))
            continue;
        ++k;
        // Taken as the damage check takes them: a file it let through gives every text its row.
        qint64 id = -1;
        qint64 hi = -1;
        if (!shortcutsnumbers::read(item.attribute(QStringLiteral("id")), shortcutsnumbers::Slot, &id)
            || !shortcutsnumbers::read(item.attribute(QStringLiteral("hi")), shortcutsnumbers::Function, &hi)
            || !shortcutsnumbers::namesRecord(id, hi))
            continue;

        QString text;
        for (QDomNode c = item.firstChild(); !c.isNull(); c = c.nextSibling()) {
            const QDomElement ce = c.toElement();
            if (ce.tagName() == QLatin1String("Website"))
                text = ce.attribute(QStringLiteral("web"));
            else if (ce.tagName() == QLatin1String("DocApp") || ce.tagName() == QLatin1String("FileFolder"))
                text = ce.attribute(QStringLiteral("dir"));
        }
        if (!list || text.isEmpty())
            continue;
        for (STCTS* record : *list) {
            if (record && qint64(record->id) == id && qint64(record->hi) == hi) {
                record->str = text;
                qDebug() << "id=" << id << "stcts.str=" << text;
                break;
            }
        }
    }
    return true;
}

bool Data::makeDir(const QString& path)
{
    if (QDir(path).exists())
        return false;
    // One level, in a folder that stands: the tool's own folder, or one above its data, renamed or removed
    // while it runs is not made again at the old path; the write that follows fails and is told.
    if (!QDir().mkdir(path))
        qWarning() << "Make dir failed:" << path;
    return true;
}

void Data::renameFile(const QString& dir, const QString& oldName, const QString& newName)
{
    QFile::rename(dir + oldName, dir + newName);
}

void Data::clipLineEdit(QLineEdit* edit, const QString& text, int max)
{
    if (!edit || max < 0 || text.size() <= max)
        return;
    edit->setText(text.left(max));
    edit->setCursorPosition(max);
}

bool Data::dirExists(const QString& path)
{
    return QFileInfo::exists(path);
}

QString Data::columnName(int index)
{
    // Letters as a spreadsheet numbers its columns: 0 A, 25 Z, 26 AA, 701 ZZ, 702 AAA.
    QString name;
    for (long long n = index; n >= 0; n = n / 26 - 1)
        name.prepend(QChar('A' + int(n % 26)));
    return name;
}

bool Data::removeFileInDir(const QString& dir, const QString& fileName, const QString& nameFilter)
{
    const QFileInfoList entries =
        QDir(dir).entryInfoList(QStringList(nameFilter), QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName() != fileName)
            continue;
        const bool removed =
            entry.isDir() ? QDir().rmdir(entry.absoluteFilePath()) : QFile::remove(entry.absoluteFilePath());
        if (!removed)
            qWarning() << "Remove file failed:" << entry.absoluteFilePath();
        break;
    }
    return true;
}

bool Data::isFileExist(const QString& path)
{
    // A FIFO or device picked in a file dialog would block a plain open for good.
    QFile file;
    return RegularFile::openForReading(&file, path);
}
