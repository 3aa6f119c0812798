#include "readerharness.h"

#include "macro/key.h"
#include "macro/macrocodec.h"
#include "macro/macrofile.h"
#include "setting/Language.h"
#include "shortcut/kfcatalogue.h"
#include "widget/stcts.h"
#include "widget/data.h"
#include "widget/keybtn.h"

#include <QDir>
#include <QPushButton>

QStringList fuzzReaderNames()
{
    return {QStringLiteral("config"), QStringLiteral("layout"), QStringLiteral("statickeys"),
            QStringLiteral("menutree"), QStringLiteral("shortcuts"), QStringLiteral("language"),
            QStringLiteral("kfcatalogue"), QStringLiteral("macrofile")};
}

void runFuzzReader(FuzzReader reader, const QString& appDir, const QByteArray& input)
{
    // The input as config/<name> and, for the colour reader, config/customcolor/<name>.
    // The language file has one fixed name.
    const QString name = reader == FuzzReader::Layout     ? QStringLiteral("fuzz.json")
                         : reader == FuzzReader::Language ? QStringLiteral("Language.xml")
                                                          : QStringLiteral("fuzz.xml");
    for (const QString& dir : {appDir + QStringLiteral("/config/"), appDir + QStringLiteral("/config/customcolor/")}) {
        QDir().mkpath(dir);
        QFile f(dir + name);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(input);
    }
    Data data;
    QVector<KeyBtn*> keys;
    MenuTreeData menu;
    QVector<STCTS*> list;
    switch (reader) {
    case FuzzReader::Config: {
        data.parseConfigXML(&data.boards, name);
        // As the window places a picture's and the palette's keys, here an L-shaped one a row down, at
        // each unit size read.
        QVector<QPointF> units{QPointF(data.w, data.h)};
        for (const BoardInfo* board : qAsConst(data.boards))
            units << QPointF(board->w, board->h);
        for (const QPointF& unit : units) {
            KeyBtn key(nullptr);
            key.setKeyGeometry(0, 1, 1.25, 2, -0.25, 0, 1.5, 1);
            key.resize(int(key.w * unit.x() - 2 - key.x2 * unit.x()), int(key.h * unit.y() - 2));
            key.move(int(key.x * unit.x() + key.x2 * unit.x()), int(key.y * unit.y()));
            key.layoutShape(int(unit.x()));
        }
        break;
    }
    case FuzzReader::Layout:
        Data::parseJsonFileForFix(&keys, name, QString());
        // As an owner does: pixels from key units, then the outline of an L-shaped key.
        for (KeyBtn* key : keys) {
            key->setGeometry(int(key->x * 40), int(key->y * 40), int(key->w * 40), int(key->h * 40));
            key->layoutShape(40);
        }
        break;
    case FuzzReader::StaticKeys: {
        for (int i = 0; i < 4; ++i)
            keys.append(new KeyBtn(nullptr));
        Data::parseStaticXML(&keys, name);
        Key chip(nullptr, 1);
        chip.setKeyCode(1, 0, 0x04);
        Data::parseStaticXML(&chip, name);
        QPushButton first, second;
        QVector<QPushButton*> buttons{&first, &second};
        data.parseStaticColorXML(&buttons, name);
        break;
    }
    case FuzzReader::MenuTree:
        Data::parseMenutreeXML(name, &menu);
        break;
    case FuzzReader::Shortcuts:
        for (uint32_t i = 0; i < 4; ++i)
            list.append(new STCTS{i, 1, i, QString()});
        Data::parseShortcutsXML(appDir + QStringLiteral("/config/") + name, &list);
        break;
    case FuzzReader::Language: {
        Language language; // reads config/Language.xml
        language.reload();
        break;
    }
    case FuzzReader::KFCatalogue: {
        // Read twice, as the page appends without clearing; then the lookups of names it holds (an
        // unknown name would show a box) over the first functions only: a large file holds many.
        QVector<kffunc_t*> catalogue;
        const QString path = appDir + QStringLiteral("/config/") + name;
        kfcatalogue::parse(path, &catalogue);
        kfcatalogue::parse(path, &catalogue);
        kfcatalogue::offersFunctions(&catalogue);
        for (int i = 0; i < qMin(catalogue.size(), 64); ++i) {
            const kffunc_t* f = catalogue.at(i);
            kfcatalogue::nameOfHi(&catalogue, f->hi);
            kfcatalogue::typeOfHi(&catalogue, f->hi);
            kfcatalogue::hiOfName(&catalogue, f->name);
            kfcatalogue::typeOfName(&catalogue, f->name);
        }
        kfcatalogue::clear(&catalogue);
        break;
    }
    case FuzzReader::MacroFile: {
        // As an import does: read, encode for the keyboard (refused beyond its frame area, so only the
        // count matters), decode what the keyboard would hold, save the events again.
        QVector<DataKey*> events;
        QVector<macrofile::Item> items;
        macrofile::readMacroFile(appDir + QStringLiteral("/config/") + name, &events, &items);
        std::vector<mframe_t> frames(macrocodec::MaxFrames);
        uint32_t needed = 0;
        const uint32_t n = macrocodec::encodeFrames({events.begin(), events.end()}, frames.data(),
                                                    int(frames.size()), &needed);
        QVector<DataKey*> decoded;
        macrocodec::decodeFrames(int(n), frames.data(), &decoded);
        macrofile::writeMacroFile(appDir + QStringLiteral("/config/written.xml"), items.value(0).id,
                                  {events.begin(), events.end()});
        qDeleteAll(decoded);
        qDeleteAll(events);
        break;
    }
    }
    qDeleteAll(keys);
    qDeleteAll(list);
}
