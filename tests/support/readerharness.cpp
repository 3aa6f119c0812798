#include "readerharness.h"

#include "Update/downloadfile.h"
#include "Update/overallvariate.h"
#include "Update/safeunzip.h"
#include "Update/updateserverconfig.h"
#include "color/modeparameter.h"
#include "color/palette.h"
#include "macro/key.h"
#include "macro/macrocodec.h"
#include "macro/macrofile.h"
#include "setting/Language.h"
#include "setting/firmware.h"
#include "shortcut/kfcatalogue.h"
#include "shortcut/storedentries.h"
#include "widget/colorchooser.h"
#include "widget/stcts.h"
#include "widget/data.h"
#include "widget/filenotice.h"
#include "widget/keybtn.h"
#include "widget/messagebox.h"

#include <QDir>
#include <QPushButton>

QStringList fuzzReaderNames()
{
    return {QStringLiteral("config"), QStringLiteral("layout"), QStringLiteral("statickeys"),
            QStringLiteral("menutree"), QStringLiteral("shortcuts"), QStringLiteral("language"),
            QStringLiteral("kfcatalogue"), QStringLiteral("macrofile"), QStringLiteral("colorfile"),
            QStringLiteral("tempxml"), QStringLiteral("modeparameter"), QStringLiteral("versionini"),
            QStringLiteral("linkxml"), QStringLiteral("archive"), QStringLiteral("updateserver"),
            QStringLiteral("daytime")};
}

namespace {
// As the update worker reads what it downloaded: the version files of the tool and of a dual-mode
// keyboard, the link files, the archive the tool update brings, the server configuration and one
// daytime answer. Nothing here reaches the network: no server is named.
void runUpdateReader(FuzzReader reader, const QString& appDir, const QByteArray& input)
{
    QDir().mkpath(appDir + QStringLiteral("/config"));
    const QString path = appDir + QStringLiteral("/config/update.fuzz");
    QFile::remove(path);
    {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(input);
    }
    if (reader == FuzzReader::DaytimeAnswer) {
        DownloadFile::parseDaytimeAnswer(input);
        return;
    }
    if (reader == FuzzReader::UpdateServerConfig) {
        const UpdateServerConfig config = UpdateServerConfig::load(path);
        QString host;
        quint16 port = 0;
        for (const QString& entry : config.timeServers)
            UpdateServerConfig::splitHostPort(entry, UpdateServerConfig::DaytimePort, &host, &port);
        return;
    }
    if (reader == FuzzReader::Archive) {
        const QString dest = appDir + QStringLiteral("/unpacked");
        SafeUnzip::unpack(path, dest, false);
        QDir(dest).removeRecursively();
        return;
    }
    overallVariate hub;
    overallVariate* hubBefore = g_overallVariate;
    g_overallVariate = &hub;
    hub.setFirmwareInfo(QStringLiteral("TK104 Dual"), QStringLiteral("1.0.0"), 1, QStringLiteral("1.0.0"),
                        QStringLiteral("1.0.0"), QStringLiteral("1.0"));
    {
        DownloadFile worker;
        worker.setTessarkVersion(QStringLiteral("1.0.2"));
        if (reader == FuzzReader::VersionIni) {
            worker.ReadVersionsFile(path);
            worker.ReadFirmwareVersionsFile(path);
        } else {
            UrlInfo tool, firmware;
            worker.parseTessrakUrlXml(tool, path);
            worker.parseFirmwareUrlXml(firmware, path);
        }
    }
    g_overallVariate = hubBefore;
}
} // namespace

void runFuzzReader(FuzzReader reader, const QString& appDir, const QByteArray& input)
{
    if (reader >= FuzzReader::VersionIni) {
        runUpdateReader(reader, appDir, input);
        return;
    }
    // The input as config/<name> and, for the colour reader, config/customcolor/<name>.
    // The language, colour, folder memory and effect files have fixed names.
    const QString name = reader == FuzzReader::Layout          ? QStringLiteral("fuzz.json")
                         : reader == FuzzReader::Language      ? QStringLiteral("Language.xml")
                         : reader == FuzzReader::ColorFile     ? QStringLiteral("color_btn_32.json")
                         : reader == FuzzReader::TempXml       ? QStringLiteral("temp.xml")
                         : reader == FuzzReader::ModeParameter ? QStringLiteral("modeParameter.xml")
                                                               : QStringLiteral("fuzz.xml");
    for (const QString& dir : {appDir + QStringLiteral("/config/"), appDir + QStringLiteral("/config/customcolor/"),
                               appDir + QStringLiteral("/config/temp/")}) {
        QDir().mkpath(dir);
        QFile f(dir + name);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(input);
        // A copy kept by an earlier input would make the next one's keeping a replacement.
        QFile::remove(dir + name + QStringLiteral(".bad"));
    }
    // A reader tells the user of a file that did not read: here no box ever waits for a user.
    struct Boxes : MessageBoxHandler {
        QMessageBox::StandardButton show(const MessageBoxRequest&) override { return QMessageBox::Ok; }
    } boxes;
    MessageBoxHandler* boxesBefore = messagebox::setHandler(&boxes);
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
        // The entries a row keeps as they stand, each put back under another row's name.
        for (const storedentries::Entry& entry : storedentries::read(appDir + QStringLiteral("/config/") + name))
            storedentries::renamed(entry, QStringLiteral("item31"));
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
    case FuzzReader::ColorFile: {
        // As a user does: a double press on a swatch picks a colour, which writes the file (keeping a
        // copy first when it did not read whole). No dialog ever waits for a user here.
        struct Chooser : ColorChooserHandler {
            QColor choose(const ColorChooserRequest& request) override { return request.initial.lighter(); }
        } chooser;
        ColorChooserHandler* chooserBefore = colorchooser::setHandler(&chooser);
        {
            Palette palette(nullptr);
            const QList<QPushButton*> swatches = palette.findChildren<QPushButton*>();
            if (!swatches.isEmpty()) {
                emit swatches.last()->pressed();
                emit swatches.last()->pressed();
            }
            palette.getCurrentColor();
        }
        colorchooser::setHandler(chooserBefore);
        break;
    }
    case FuzzReader::TempXml: {
        // The firmware panel shows the remembered path and folder; the path's checks run on the text.
        Firmware panel(nullptr, QString());
        panel.lastDir().path();
        break;
    }
    case FuzzReader::ModeParameter: {
        QVector<ModeParameter> effects;
        readModeParameters(appDir + QStringLiteral("/config/") + name, &effects);
        for (const ModeParameter& m : qAsConst(effects))
            (void)m.text.size();
        break;
    }
    case FuzzReader::VersionIni:
    case FuzzReader::LinkXml:
    case FuzzReader::Archive:
    case FuzzReader::UpdateServerConfig:
    case FuzzReader::DaytimeAnswer:
        break; // read above
    }
    qDeleteAll(keys);
    qDeleteAll(list);
    filenotice::flush(); // what was told would otherwise wait for an event loop, and a real box
    messagebox::setHandler(boxesBefore);
}
