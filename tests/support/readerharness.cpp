#include "readerharness.h"

#include "Update/downloadfile.h"
#include "Update/inerttextdocument.h"
#include "Update/overallvariate.h"
#include "Update/safeunzip.h"
#include "Update/servertext.h"
#include "Update/updateserverconfig.h"
#include "Update/zipdirectory.h"
#include "color/modeparameter.h"
#include "color/palette.h"
#include "macro/key.h"
#include "macro/macrocodec.h"
#include "macro/macrofile.h"
#include "platform/updaternames.h"
#include "platform/userplaces.h"
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

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QPushButton>

#include <zlib.h>

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

const QString ToolStage = QStringLiteral("UpgradeTessark");
const QString FirmwareModel = QStringLiteral("TK104 Dual");

// Where the worker stores a link below the application directory, cleaned as a path.
QString storedPath(const QString& appDir, const QString& link)
{
    return QDir::cleanPath(appDir + link);
}

// path lies below folder (both cleaned), not at it.
bool isBelow(const QString& path, const QString& folder)
{
    return path.startsWith(QDir::cleanPath(folder) + QLatin1Char('/'));
}

QString programName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

// What an accepted tool link breaks: it must name a file below UpgradeTessark/, and what lands below
// the staged tool folder, which the updater copies into the application folder, must not land in the
// user's places. The tool's own places are what an update replaces.
QString toolLinkFault(const QString& appDir, const QString& link)
{
    const QString stored = storedPath(appDir, link);
    if (!isBelow(stored, appDir + QLatin1Char('/') + ToolStage))
        return QStringLiteral("accepted tool link outside /UpgradeTessark/: ") + link;
    // Compared as the updater's file system may compare them: "windows/tessark." is the same folder.
    const QStringList segments = UserPlaces::comparableSegments(QDir(appDir).relativeFilePath(stored));
    const QStringList staged{QStringLiteral("upgradetessark"), QStringLiteral("windows"), QStringLiteral("tessark"),
                             QStringLiteral("tessark")};
    if (segments.mid(0, staged.size()) == staged
        && UserPlaces::isUserPlace(segments.mid(staged.size()).join(QLatin1Char('/'))))
        return QStringLiteral("accepted tool link lands in the user's places: ") + link;
    if (UpdaterNames::isReserved(link))
        return QStringLiteral("accepted tool link takes a name of the updater's own files: ") + link;
    return QString();
}

QString deleteEntryFault(const QString& appDir, const QString& entry)
{
    const QString stored = storedPath(appDir, entry);
    if (stored != QDir::cleanPath(appDir) && !isBelow(stored, appDir))
        return QStringLiteral("accepted delete entry outside the application folder: ") + entry;
    const QString relative = QDir(appDir).relativeFilePath(stored);
    if (UserPlaces::isUserPlace(relative) || UserPlaces::isToolPlace(relative, programName()))
        return QStringLiteral("accepted delete entry names a protected place: ") + entry;
    if (UpdaterNames::isReserved(relative))
        return QStringLiteral("accepted delete entry names one of the updater's own files: ") + entry;
    return QString();
}

QString firmwareLinkFault(const QString& appDir, const QString& link)
{
    // The staging folder is none of the protected places: below it is outside them.
    if (!isBelow(storedPath(appDir, link), appDir + QStringLiteral("/UpgradeFirmware/") + FirmwareModel))
        return QStringLiteral("accepted firmware link outside /UpgradeFirmware/<model>/: ") + link;
    return QString();
}

// Runs the worker's end action for a fetched link file, as when its download is done: the link file is
// read, checked and either refused or taken as the list to fetch. The worker is stopping, so nothing is
// fetched. Returns what an accepted list breaks.
QString runLinkFileEnd(DownloadFile& worker, const QString& appDir, const QString& linkFile, int mode,
                       const QByteArray& input)
{
    const QString local = appDir + linkFile;
    QDir().mkpath(QFileInfo(local).path());
    {
        QFile f(local);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(input) != input.size())
            return QStringLiteral("cannot write the link file");
    }
    worker.setLinkList({linkFile});
    worker.setDownloadMode(mode);
    worker.Startdownload(1);
    const int next = mode == DownloadFile::ToolLinkFile ? DownloadFile::ToolFiles : DownloadFile::FirmwareFiles;
    const QStringList deletes = worker.takePendingDeletes();
    QString fault;
    if (worker.getDownloadMode() == next) {
        for (const QString& link : worker.linkList()) {
            fault = mode == DownloadFile::ToolLinkFile ? toolLinkFault(appDir, link) : firmwareLinkFault(appDir, link);
            if (!fault.isEmpty())
                return fault;
        }
        for (const QString& entry : deletes) {
            fault = deleteEntryFault(appDir, entry);
            if (!fault.isEmpty())
                return fault;
        }
    } else if (worker.getDownloadMode() != mode) {
        return QStringLiteral("the link file's end action left mode %1").arg(worker.getDownloadMode());
    }
    return QString();
}

// Every file, folder and link below dir, relative to it.
QStringList everythingBelow(const QString& dir)
{
    QStringList found;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(dir).relativeFilePath(it.next());
    found.sort();
    return found;
}

quint32 fileCrc(const QString& path)
{
    QFile f(path);
    uLong crc = crc32(0L, Z_NULL, 0);
    if (!f.open(QIODevice::ReadOnly))
        return quint32(crc);
    while (!f.atEnd()) {
        const QByteArray chunk = f.read(64 * 1024);
        if (chunk.isEmpty())
            break;
        crc = crc32(crc, reinterpret_cast<const Bytef*>(chunk.constData()), uInt(chunk.size()));
    }
    return quint32(crc);
}

// What an unpack of archive into dest broke: every entry stays inside dest, and an unpacked archive
// holds its file entries, each as large as declared and with the declared CRC, and nothing else.
// Nothing of a refused archive is written, nor anything beside dest.
QString archiveFault(const QString& archive, const QString& dest, SafeUnzip::Result result,
                     const QStringList& besideBefore)
{
    const QString parent = QFileInfo(dest).path();
    QStringList beside = QDir(parent).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    beside.removeAll(QFileInfo(dest).fileName());
    for (const QString& name : beside) {
        if (!besideBefore.contains(name))
            return QStringLiteral("the unpack left something beside its folder: ") + name;
    }
    if (result == SafeUnzip::Result::Refused) {
        return QFileInfo::exists(dest) ? QStringLiteral("a refused archive wrote ") + everythingBelow(dest).join(QLatin1Char(' '))
                                       : QString();
    }
    const QString inside = QFileInfo(dest).canonicalFilePath() + QLatin1Char('/');
    QStringList files;
    for (const QString& relative : everythingBelow(dest)) {
        const QFileInfo info(dest + QLatin1Char('/') + relative);
        if (info.isSymLink() || !info.canonicalFilePath().startsWith(inside))
            return QStringLiteral("unpacked outside its folder: ") + relative;
        if (info.isFile())
            files << relative;
        else if (!info.isDir())
            return QStringLiteral("unpacked neither file nor folder: ") + relative;
    }
    if (result != SafeUnzip::Result::Unpacked)
        return QString();
    QFile file(archive);
    ZipDirectory::Directory directory;
    QString why;
    if (!file.open(QIODevice::ReadOnly) || !ZipDirectory::read(file, &directory, &why))
        return QStringLiteral("unpacked an archive whose directory does not read: ") + why;
    QMap<QString, ZipDirectory::Entry> declared; // the last of a name is the one that stays
    for (const ZipDirectory::Entry& entry : qAsConst(directory.entries)) {
        if (entry.kind == ZipDirectory::Kind::File)
            declared.insert(entry.name, entry);
    }
    if (QStringList(declared.keys()) != files)
        return QStringLiteral("unpacked [%1], declared [%2]").arg(files.join(QLatin1Char(' ')),
                                                                  QStringList(declared.keys()).join(QLatin1Char(' ')));
    for (const ZipDirectory::Entry& entry : qAsConst(declared)) {
        const QString path = dest + QLatin1Char('/') + entry.name;
        if (QFileInfo(path).size() != entry.size || fileCrc(path) != entry.crc)
            return QStringLiteral("unpacked other than declared: ") + entry.name;
    }
    return QString();
}

// As the update worker reads what it downloaded: the version files of the tool and of a dual-mode
// keyboard, the link files, the archive the tool update brings, the server configuration and one
// daytime answer. Nothing here reaches the network: no server is named.
QString runUpdateReader(FuzzReader reader, const QString& appDir, const QByteArray& input)
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
        return QString();
    }
    if (reader == FuzzReader::UpdateServerConfig) {
        const UpdateServerConfig config = UpdateServerConfig::load(path);
        QString host;
        quint16 port = 0;
        for (const QString& entry : config.timeServers)
            UpdateServerConfig::splitHostPort(entry, UpdateServerConfig::DaytimePort, &host, &port);
        return QString();
    }
    if (reader == FuzzReader::Archive) {
        const QString dest = appDir + QStringLiteral("/unpacked");
        QDir(dest).removeRecursively();
        QStringList beside = QDir(appDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        beside.removeAll(QStringLiteral("unpacked"));
        const SafeUnzip::Result result = SafeUnzip::unpack(path, dest, false);
        const QString fault = archiveFault(path, dest, result, beside);
        QDir(dest).removeRecursively();
        return fault;
    }
    overallVariate hub;
    overallVariate* hubBefore = g_overallVariate;
    g_overallVariate = &hub;
    hub.setFirmwareInfo(FirmwareModel, QStringLiteral("1.0.0"), 1, QStringLiteral("1.0.0"),
                        QStringLiteral("1.0.0"), QStringLiteral("1.0"));
    // The texts a version file brings go where the dialog puts them, and are laid out as it would.
    InertTextDocument shown;
    const auto render = [&shown](const QString& text) {
        ServerText::show(&shown, text, "fuzz");
        shown.setTextWidth(420);
        (void)shown.size();
    };
    QObject::connect(&hub, &overallVariate::setTessarkUpdateInfoSignal, &shown, render);
    QObject::connect(&hub, &overallVariate::setFirmwareUpdateInfoSignal, &shown, render);
    QString fault;
    {
        DownloadFile worker;
        worker.setTessarkVersion(QStringLiteral("1.0.2"));
        if (reader == FuzzReader::VersionIni) {
            worker.ReadVersionsFile(path);
            worker.ReadFirmwareVersionsFile(path);
        } else {
            worker.requestStop();
            fault = runLinkFileEnd(worker, appDir, QStringLiteral("/UpgradeTessark/Windows/URLFile/TessarkFileURL.xml"),
                                   DownloadFile::ToolLinkFile, input);
            if (fault.isEmpty())
                fault = runLinkFileEnd(worker, appDir,
                                       QStringLiteral("/UpgradeFirmware/") + FirmwareModel
                                           + QStringLiteral("/URLFile/FirmwareFileURL.xml"),
                                       DownloadFile::FirmwareLinkFile, input);
        }
    }
    for (const char* stage : {"UpgradeTessark", "UpgradeFirmware"})
        QDir(appDir + QLatin1Char('/') + QLatin1String(stage)).removeRecursively();
    g_overallVariate = hubBefore;
    return fault;
}
} // namespace

QString runFuzzReader(FuzzReader reader, const QString& appDir, const QByteArray& input)
{
    if (reader >= FuzzReader::VersionIni)
        return runUpdateReader(reader, appDir, input);
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
    return QString();
}
