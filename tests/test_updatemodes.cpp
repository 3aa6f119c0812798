// The update worker's operations and the end action of each download mode: the busy guard, the version
// checks and their chain, the link files and their refusal, staged firmware handed on, staging folders
// deleted, and the updater refreshed and started detached with its seven arguments.
#include "builtpath.h"
#include "Update/downloadfile.h"
#include "Update/onlineupdate.h"
#include "Update/overallvariate.h"
#include "localupdate.h"
#include "platform/updaternames.h"
#include "messageboxrecorder.h"
#include "setting/Language.h"
#include "widget/qss.h"
#include "timescale.h"

#include <QtGui/private/qzipwriter_p.h>

#include <QScopeGuard>
#include <QSignalSpy>
#include <QtTest>
#include <memory>
#include <unistd.h>

namespace {
const QString ToolVersionFile = "/UpgradeTessark/Windows/VersionFile/TessarkVersion.ini";
const QString ToolLinkFile = "/UpgradeTessark/Windows/URLFile/TessarkFileURL.xml";
const QString FirmwareVersionFile = "/UpgradeFirmware/TK104 Dual/VersionFile/FirmwareVersion.ini";
const QString FirmwareLinkFile = "/UpgradeFirmware/TK104 Dual/URLFile/FirmwareFileURL.xml";
const QString UpdaterSource = "/UpgradeTessark/Windows/Tessark/Upgrade/";
const QString NoTime = QString::fromUtf8("获取时间错误!");
// A keyboard's folder: the hexadecimal form of its 12-byte device id.
const QString Keyboard = "/0123456789abcdef01234567";

QStringList busyValues(const QSignalSpy& spy)
{
    QStringList out;
    for (const QList<QVariant>& args : spy)
        out << args.at(0).toString();
    return out;
}

// Every file below folder, hidden ones too, with its content.
QMap<QString, QByteArray> contents(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        files.insert(QDir(folder).relativeFilePath(file), readFile(file));
    }
    return files;
}

QString toolLinks(const QStringList& links, const QStringList& deleted)
{
    QString xml = "<root><tools_FileURL_1.0.2>";
    for (const QString& l : links)
        xml += "<FileURL url=\"" + l + "\"/>";
    xml += "</tools_FileURL_1.0.2><tools_DeleteFile_1.0.2>";
    for (const QString& d : deleted)
        xml += "<FileURL url=\"" + d + "\"/>";
    return xml + "</tools_DeleteFile_1.0.2></root>";
}
} // namespace

class UpdateModes : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    std::unique_ptr<Language> m_language; // made once the application folder is set: it keeps its file's path
    overallVariate* m_hub = nullptr;
    std::unique_ptr<MessageBoxRecorder> m_boxes;

    QString path(const QString& relative) const { return m_app.filePath(relative); }
    QString record() const { return path("updater-record"); }

    // A worker of tool 1.0.2 about to run mode on links, the hub busy as the operation leaves it.
    std::unique_ptr<DownloadFile> worker(int mode, const QStringList& links)
    {
        auto w = std::make_unique<DownloadFile>();
        w->setTessarkVersion("1.0.2");
        w->setDownloadMode(mode);
        w->setLinkList(links);
        m_hub->setBusy(true);
        return w;
    }

    // The updater stand-in: writes its parent process id and its arguments, one a line. Written
    // without the execute bit, as a download arrives.
    bool writeFakeUpdater()
    {
        return m_app.write("Upgrade/Upgrade",
                           "#!/bin/sh\nrec=\"$(dirname \"$0\")/../updater-record\"\n"
                           "{ echo \"$PPID\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$rec.part\"\n"
                           "mv \"$rec.part\" \"$rec\"\n")
            && QFile::setPermissions(path("Upgrade/Upgrade"), QFile::ReadOwner | QFile::WriteOwner);
    }

    // The user's own files, which no link file may replace or delete.
    static QList<QPair<QString, QByteArray>> userFiles()
    {
        return {{Keyboard.mid(1) + "/shortcuts.xml", "<STCTS url=\"http://typed.example/\"/>"},
                {Keyboard.mid(1) + "/item/Macro1.xml", "<macro/>"},
                {"config/menutree.xml", "<COMMAND/>"},
                {"config/customcolor/color_btn_32.json", "[]"},
                {"config/config.xml", "<config/>"},
                {"tessark-sim", "#!/bin/sh\n"}};
    }

    // What the worker's thread tells the GUI thread, in the order it arrives there.
    QStringList* recordHub()
    {
        auto* events = new QStringList;
        QObject* ctx = new QObject(m_hub);
        connect(ctx, &QObject::destroyed, [events] { delete events; });
        const auto q = Qt::QueuedConnection;
        const auto note = [events](const QString& text) { *events << text; };
        connect(m_hub, &overallVariate::threadBusySignal, ctx, [=](bool b) { note(QString("busy %1").arg(b)); }, q);
        connect(m_hub, &overallVariate::downloadProgressSignal, ctx, [=](int n) { note(QString("progress %1").arg(n)); }, q);
        connect(m_hub, &overallVariate::downloadNumberSignal, ctx, [=](int n) { note(QString("number %1").arg(n)); }, q);
        connect(m_hub, &overallVariate::TessarkUpdateSignal, ctx, [=](bool f) { note(QString("tool %1").arg(f)); }, q);
        connect(m_hub, &overallVariate::FirmwareUpdateSignal, ctx, [=](bool f) { note(QString("firmware %1").arg(f)); }, q);
        connect(m_hub, &overallVariate::emitMainExit, ctx, [=] { note("exit"); }, q);
        connect(m_hub, &overallVariate::ErrorInfoSignal, ctx, [=](const QString& e) { note("error " + e); }, q);
        connect(m_hub, &overallVariate::emitUpdateSignal, ctx, [=](const QString& f) {
            note(QString("update %1 shown %2").arg(f).arg(m_hub->updateWidget()->isVisible()));
        }, q);
        return events;
    }

    // The running tool, 1.0.2, fetches its update from local with the stand-in updater in place (or
    // none at all); the hub's events once busy ended, or null when it did not end in time.
    QStringList* runToolUpdate(LocalUpdate& local, bool updater = true)
    {
        if (!local.start(path("servers.ini"))
            || !m_app.write("config/about.xml", "<COMMAND><firmware firmware=\"Tessark 1.0.2\"/></COMMAND>")
            || (updater && !writeFakeUpdater()))
            return nullptr;
        m_hub->createUpdateWidget();
        QStringList* events = recordHub();
        m_hub->emitDownloadTessarkUpdateFile();
        if (!QTest::qWaitFor([events] { return events->contains("busy 0"); }, timescale::ms(20000)))
            return nullptr;
        QTest::qWait(50);
        return events;
    }

private slots:
    void initTestCase()
    {
        qunsetenv("TESSARK_UPDATE_CONFIG"); // no server unless a test starts one
        setAppDirPathForTest(m_app.path());
        m_language = std::make_unique<Language>();
        g_language = m_language.get();
    }
    void init()
    {
        for (const char* folder : {"UpgradeTessark", "UpgradeFirmware", "Upgrade", "old", "elsewhere"}) {
            if (QFileInfo(path(folder)).isSymLink())
                QFile::remove(path(folder)); // never emptied through
            else
                QDir(path(folder)).removeRecursively();
        }
        QFile::remove(record());
        m_hub = new overallVariate;
        g_overallVariate = m_hub;
        g_language->setLanguageType(1);
        m_boxes = std::make_unique<MessageBoxRecorder>();
    }
    void cleanup()
    {
        DownloadFile::setUpdateBoundForTest(DownloadFile::MaxUpdateBytes);
        m_hub->stopWorker(); // a dialog's worker stops before the hub it reaches goes
        g_overallVariate = nullptr;
        delete m_hub;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_boxes.reset();
    }

    // The one box that tells why nothing was fetched names what to delete.
    bool toldToDelete(const QString& what)
    {
        return QTest::qWaitFor([this] { return !m_boxes->boxes().isEmpty(); }, timescale::ms(10000))
               && m_boxes->boxes().size() == 1 && m_boxes->boxes().first().text.contains("Delete " + what);
    }

    // Without a server every fetch ends at once with the time failure, so busy is set and cleared. The
    // board name is cut at its NUL; an unsafe one is never requested.
    void operationsSetTheirLinkAndModeUnlessBusy_data()
    {
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QString>("board");
        QTest::addColumn<QStringList>("links");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("outcome"); // "time failure", "no new firmware", "refused", or nothing
        const QString sent = QString("TK104 Dual") + QChar(0) + "/../x";
        for (bool busy : {false, true}) {
            const char* b = busy ? ", busy" : "";
            const QString failed = busy ? "" : "time failure";
            QTest::addRow("tool check%s", b) << QByteArray("checkUpdateSlot") << busy << sent << QStringList{ToolVersionFile}
                                             << 0 << failed;
            QTest::addRow("tool download%s", b) << QByteArray("dowmloadTessarkUpdateFileSlot") << busy << sent
                                                << QStringList{ToolLinkFile} << 1 << failed;
            QTest::addRow("firmware check%s", b) << QByteArray("checkFirmwareUpdateSlot") << busy << sent
                                                 << QStringList{FirmwareVersionFile} << 3 << failed;
            QTest::addRow("firmware download%s", b) << QByteArray("dowmloadFirmwareUpdateFileSlot") << busy << sent
                                                    << QStringList{FirmwareLinkFile} << 4 << failed;
        }
        for (const QString& board : {QString(), QString("../x")}) {
            QTest::addRow("firmware check, board \"%s\"", qPrintable(board))
                << QByteArray("checkFirmwareUpdateSlot") << false << board << QStringList() << -1 << "no new firmware";
            QTest::addRow("firmware download, board \"%s\"", qPrintable(board))
                << QByteArray("dowmloadFirmwareUpdateFileSlot") << false << board << QStringList() << -1 << "refused";
        }
    }
    void operationsSetTheirLinkAndModeUnlessBusy()
    {
        QFETCH(QByteArray, slot);
        QFETCH(bool, busy);
        QFETCH(QString, board);
        QFETCH(QStringList, links);
        QFETCH(int, mode);
        QFETCH(QString, outcome);
        m_hub->setFirmwareInfo(board, "1.0.0", 1, "1.0.0", "1.0.0", "1.0");
        auto w = worker(-1, {});
        m_hub->setBusy(busy);
        QSignalSpy busySpy(m_hub, &overallVariate::threadBusySignal);
        QSignalSpy errors(m_hub, &overallVariate::ErrorInfoSignal);
        QSignalSpy found(m_hub, &overallVariate::FirmwareUpdateSignal);
        QVERIFY(QMetaObject::invokeMethod(w.get(), slot.constData(), Qt::DirectConnection));
        QCOMPARE(w->linkList(), busy ? QStringList() : links);
        QCOMPARE(w->getDownloadMode(), busy ? -1 : mode);
        QCOMPARE(busyValues(busySpy), busy ? QStringList() : QStringList({"true", "false"}));
        QCOMPARE(errors.count(), outcome == "time failure" || outcome == "refused" ? 1 : 0);
        QVERIFY(errors.isEmpty() || (errors.at(0).at(0).toString() == NoTime) == (outcome == "time failure"));
        QVERIFY(outcome != "no new firmware" || found == QList<QList<QVariant>>{{false}});
        QVERIFY(!QFileInfo::exists(path("UpgradeFirmware")));
    }

    // A link file that does not read, lists nothing for the running tool, holds one unsafe entry, a link
    // outside its staging folder or a delete entry naming the user's own files is refused whole: nothing
    // deleted, fetched or started, an error shown.
    void refusedLinkFileChangesNothing_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("xml"); // null: no file
        QTest::addColumn<QString>("error"); // null: any but the time failure
        const QString a = "/UpgradeTessark/Windows/Tessark/Tessark/a.dll", xmlError = QString::fromUtf8("读取xml错误");
        const QStringList old{"/old/one.dll"};
        QTest::newRow("tool: not well-formed") << 1 << "<root><tools_FileURL_1.0.2>" << xmlError;
        QTest::newRow("tool: missing") << 1 << QString() << xmlError;
        QTest::newRow("tool: nothing for the running version")
            << 1 << toolLinks({"/a"}, old).replace("FileURL_1.0.2", "FileURL_1.0.3") << xmlError;
        QTest::newRow("dot-dot in a link") << 1 << toolLinks({a, "/UpgradeTessark/../../evil"}, old) << QString();
        QTest::newRow("backslash in a link") << 1 << toolLinks({a, "/UpgradeTessark\\evil"}, old) << QString();
        QTest::newRow("link naming a sibling folder") << 1 << toolLinks({a, "x/evil"}, old) << QString();
        QTest::newRow("dot-dot in a delete entry") << 1 << toolLinks({a}, {"/old/one.dll", "/../outside.dll"}) << QString();
        QTest::newRow("colon in a delete entry") << 1 << toolLinks({a}, {"/old/one.dll", "/c:x"}) << QString();
        QTest::newRow("control character in a delete entry") << 1 << toolLinks({a}, {"/old/one.dll&#10;"}) << QString();
        QTest::newRow("firmware image with dot-dot")
            << 4 << "<root><Firmware_FileURL><FileURL qv_usb_app=\"/u.bin\" qv_bt_app=\"/../../../b.bin\" qv_bt_sd=\"/s.bin\"/>"
                    "</Firmware_FileURL></root>" << QString();
        QTest::newRow("links into a keyboard's folder and the menu file")
            << 1 << toolLinks({a, Keyboard + "/shortcuts.xml", Keyboard + "/item/Macro1.xml", "/config/menutree.xml"}, old)
            << QString();
        QTest::newRow("link over the program") << 1 << toolLinks({a, "/tessark-sim"}, old) << QString();
        QTest::newRow("delete list naming the user's files")
            << 1
            << toolLinks({a}, {"/old/one.dll", Keyboard + "/shortcuts.xml", Keyboard + "/item/Macro1.xml",
                               "/config/customcolor/color_btn_32.json", "/config/config.xml"})
            << QString();
        QTest::newRow("firmware image outside the model's folder")
            << 4 << "<root><Firmware_FileURL><FileURL qv_usb_app=\"/u.bin\" qv_bt_app=\"b.bin\" qv_bt_sd=\"/s.bin\"/>"
                    "</Firmware_FileURL></root>" << QString();
        QTest::newRow("firmware image with a control character")
            << 4 << "<root><Firmware_FileURL><FileURL qv_usb_app=\"/u.bin\" qv_bt_app=\"/b.bin\" qv_bt_sd=\"/s&#9;.bin\"/>"
                    "</Firmware_FileURL></root>" << QString();
    }
    void refusedLinkFileChangesNothing()
    {
        QFETCH(int, mode);
        QFETCH(QString, xml);
        QFETCH(QString, error);
        QVERIFY(m_app.write("old/one.dll", "1"));
        for (const auto& file : userFiles())
            QVERIFY(m_app.write(file.first, file.second));
        QVERIFY(writeFakeUpdater());
        m_hub->setFirmwareInfo("TK104 Dual", "1.0.0", 1, "1.0.0", "1.0.0", "");
        const QString linkFile = mode == 1 ? ToolLinkFile : FirmwareLinkFile;
        QVERIFY(xml.isNull() || m_app.write(linkFile.mid(1), xml.toUtf8()));
        auto w = worker(mode, {linkFile});
        QSignalSpy number(m_hub, &overallVariate::downloadNumberSignal);
        QSignalSpy errors(m_hub, &overallVariate::ErrorInfoSignal);
        QSignalSpy exits(m_hub, &overallVariate::emitMainExit);
        w->Startdownload(1);
        QVERIFY(QFileInfo::exists(path("old/one.dll")));
        for (const auto& file : userFiles())
            QVERIFY2(readFile(path(file.first)) == file.second, qPrintable(file.first));
        QCOMPARE(number.count() + exits.count(), 0);
        QCOMPARE(w->getDownloadMode(), mode);
        QCOMPARE(errors.count(), 1);
        QVERIFY(error.isNull() ? errors.at(0).at(0).toString() != NoTime : errors.at(0).at(0).toString() == error);
        QVERIFY(!m_hub->getBusy());
        QTest::qWait(100);
        QVERIFY(!QFileInfo::exists(record()));
    }

    void updaterThatDoesNotStartKeepsTheToolRunning()
    {
        auto w = worker(2, {"/UpgradeTessark/Windows/Tessark/Tessark/a"});
        QSignalSpy exits(m_hub, &overallVariate::emitMainExit);
        QSignalSpy errors(m_hub, &overallVariate::ErrorInfoSignal);
        w->Startdownload(1);
        QCOMPARE(exits.count(), 0);
        QCOMPARE(errors.count(), 1);
        QVERIFY(!m_hub->getBusy());
    }

    void leavingUpgradeModeDeletesStagedFirmware()
    {
        DownloadFile w;
        const QStringList before = QDir(m_app.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        w.unModeFirmwareSlot(); // no folder: nothing happens
        QCOMPARE(QDir(m_app.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        QVERIFY(m_app.write("UpgradeFirmware/TK104/a.bin", "a") && m_app.write("UpgradeFirmware/TK104/b/c.bin", "c"));
        w.unModeFirmwareSlot();
        QCOMPARE(QDir(m_app.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    }

    void deleteDirectoryCountsOnlyTopLevelFiles()
    {
        for (const char* f : {"stage/x/a", "stage/x/b", "stage/x/.h", "stage/x/sub/c", "stage/x/sub/d", "stage/x/sub/e",
                              "stage/x/sub/.h", "elsewhere/kept"})
            QVERIFY(m_app.write(f, "1"));
        // A link to a folder or a file outside goes itself; what it points at stays. Links are not counted.
        QVERIFY(QFile::link(path("elsewhere"), path("stage/x/sub/link")));
        QVERIFY(QFile::link(path("nowhere"), path("stage/x/dangling")));
        QVERIFY(QFile::link(path("elsewhere/kept"), path("stage/x/file link")));
        DownloadFile w;
        w.setDeletedFileCount(5);
        QVERIFY(w.deleteDirectory(path("stage/x"), true));
        QCOMPARE(w.deletedFileCount(), 8);
        // Emptied parents go too, the application folder never.
        QVERIFY(!QFileInfo::exists(path("stage")));
        QVERIFY(QFileInfo::exists(path("elsewhere/kept")));
        QVERIFY(QFileInfo::exists(m_app.path()));
    }

    // A staging folder that is a link, or lies below one, is never emptied through it, and the hand-over
    // copies nothing out of it; a linked updater folder is kept and the updater in it started.
    void linkedFoldersAreNeitherEmptiedNorCopiedFrom_data()
    {
        QTest::addColumn<QString>("linked"); // made a link to elsewhere/
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("kept"); // the link itself stays
        QTest::newRow("leaving upgrade mode, the firmware folder a link") << "UpgradeFirmware" << "leave" << false;
        QTest::newRow("a staging folder below a link") << "UpgradeFirmware/TK104" << "delete" << true;
        QTest::newRow("hand-over, the updater source a link") << UpdaterSource.mid(1).chopped(1) << "hand over" << true;
        QTest::newRow("hand-over, a folder above the updater source a link")
            << "UpgradeTessark/Windows/Tessark" << "hand over" << true;
        QTest::newRow("hand-over, the updater folder a link") << "Upgrade" << "hand over" << true;
    }
    void linkedFoldersAreNeitherEmptiedNorCopiedFrom()
    {
        QFETCH(QString, linked);
        QFETCH(QString, action);
        QFETCH(bool, kept);
        const bool updaterLinked = linked == "Upgrade";
        QVERIFY(QDir().mkpath(QFileInfo(path(linked)).path()) && QFile::link(path("elsewhere"), path(linked)));
        // Where a folder above the updater source is the link, elsewhere/Upgrade/ is the source.
        const QString sub = linked.endsWith("/Tessark") ? "Upgrade" : "lib";
        QVERIFY(m_app.write("elsewhere/a.cfg", "a") && m_app.write("elsewhere/.hidden", "h")
                && m_app.write("elsewhere/" + sub + "/b.cfg", "b"));
        QVERIFY(m_app.write(UpdaterSource.mid(1) + "new.cfg", "new") && writeFakeUpdater());
        const QMap<QString, QByteArray> before = contents(path("elsewhere"));
        auto w = worker(2, {});
        QSignalSpy exits(m_hub, &overallVariate::emitMainExit);
        if (action == "leave")
            w->unModeFirmwareSlot();
        else if (action == "delete")
            w->deleteDirectory(path("UpgradeFirmware/TK104/lib"), false);
        else
            w->Startdownload(0);
        QCOMPARE(contents(path("elsewhere")), before);
        QCOMPARE(QFileInfo(path(linked)).isSymLink(), kept);
        if (action != "hand over")
            return;
        QCOMPARE(exits.count(), 1);
        QVERIFY(QTest::qWaitFor([this] { return QFileInfo::exists(record()); }, timescale::ms(10000)));
        QCOMPARE(QFileInfo(path("Upgrade")).isSymLink(), updaterLinked);
        for (const char* copied : {"Upgrade/a.cfg", "Upgrade/b.cfg", "Upgrade/lib/b.cfg"})
            QVERIFY2(updaterLinked || !QFileInfo::exists(path(copied)), copied);
    }

    // A failed update keeps what it fetched; the next one hands the updater only its own files, once
    // the staging folder is empty: hidden files and dangling links go too, and while a file stays there
    // nothing is fetched and the failure names the folder.
    void nextUpdateInstallsOnlyItsOwnFiles_data()
    {
        QTest::addColumn<QString>("left");
        QTest::newRow("a failed update's files") << "failed update";
        QTest::newRow("hidden files and a dangling link") << "hidden";
        QTest::newRow("a file in a read-only folder: nothing fetched") << "read-only";
    }
    void nextUpdateInstallsOnlyItsOwnFiles()
    {
        QFETCH(QString, left);
        if (left == "read-only" && ::geteuid() == 0)
            QSKIP("root removes from a read-only folder anyway");
        const QString staged = "/UpgradeTessark/Windows/Tessark/Tessark/";
        const QString readOnly = path(staged.mid(1) + "kept");
        const auto writable =
            qScopeGuard([&] { QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
        LocalUpdate local;
        QStringList* events = nullptr;
        if (left == "failed update") {
            const QStringList first{staged + "a.dll", staged + ".b.dll", UpdaterSource + "first.cfg", staged + "missing.dll"};
            QVERIFY(local.offer(ToolLinkFile, toolLinks(first, {}).toUtf8()));
            for (int i = 0; i < 3; ++i)
                QVERIFY(local.offer(first.at(i), "first"));
            events = runToolUpdate(local);
            QVERIFY(events && !events->contains("exit"));
            QVERIFY(QFileInfo::exists(path(staged.mid(1) + "a.dll")));
        } else {
            QVERIFY(m_app.write(staged.mid(1) + ".b.dll", "b") && m_app.write(UpdaterSource.mid(1) + ".first.cfg", "f")
                    && QFile::link(path("nowhere"), path(staged.mid(1) + "gone.dll")));
            QVERIFY(left != "read-only" || (m_app.write(staged.mid(1) + "kept/a.dll", "a")
                                            && QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner)));
        }

        QVERIFY(local.offer(ToolLinkFile, toolLinks({staged + "c.dll"}, {}).toUtf8()) && local.offer(staged + "c.dll", "c"));
        if (events) {
            events->clear();
            m_hub->emitDownloadTessarkUpdateFile();
            QVERIFY(QTest::qWaitFor([events] { return events->contains("busy 0"); }, timescale::ms(20000)));
        } else {
            QVERIFY(events = runToolUpdate(local));
        }
        const QString folder = path("UpgradeTessark/Windows/Tessark");
        if (left == "read-only") {
            QCOMPARE(*events, (QStringList{"busy 1", "busy 0", "error download UpdateFile Staging Folder Not Emptied! " + folder}));
            QVERIFY(local.servers.requestLines().isEmpty());
            QVERIFY(QFileInfo::exists(readOnly + "/a.dll") && !QFileInfo::exists(path(staged.mid(1) + "c.dll")));
            QVERIFY(toldToDelete(folder));
            return;
        }
        QVERIFY2(events->contains("exit"), qPrintable(events->join(", ")));
        QCOMPARE(QDir(path(staged.mid(1))).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 QStringList{"c.dll"});
        QVERIFY(!QFileInfo::exists(path("Upgrade/first.cfg")) && !QFileInfo::exists(path("Upgrade/.first.cfg")));
        QVERIFY(QTest::qWaitFor([this] { return QFileInfo::exists(record()); }, timescale::ms(10000)));
        QCOMPARE(QString::fromUtf8(readFile(record())).split('\n').value(2), QString("1"));
    }

    // Against local servers from here on, through the dialog's worker on its own thread.
    void toolCheckFetchesTheFirmwareVersionWhenAKeyboardIsOnline_data()
    {
        QTest::addColumn<bool>("online");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("no keyboard") << false << QStringList{"busy 1", "progress 1", "tool 1", "busy 0"};
        QTest::newRow("keyboard online: busy until the firmware answer")
            << true << QStringList{"busy 1", "progress 1", "tool 1", "progress 1", "firmware 1", "busy 0"};
    }
    void toolCheckFetchesTheFirmwareVersionWhenAKeyboardIsOnline()
    {
        QFETCH(bool, online);
        LocalUpdate local;
        QVERIFY(local.offer(ToolVersionFile, "[TessarkVersion]\nVersion=1.0.10\nEnglishUpdateInfo=tool\n"));
        QVERIFY(local.offer("/UpgradeFirmware/TK104/VersionFile/FirmwareVersion.ini",
                            "[FirmwareVersion]\nqv_usb_app_Version=1.2.4\nEnglishUpdateInfo=fw\n"));
        QVERIFY(local.start(path("servers.ini")));
        QVERIFY(m_app.write("config/about.xml", "<COMMAND><firmware firmware=\"Tessark 1.0.9\"/></COMMAND>"));
        m_hub->setAutoCheckUpdate(false);
        m_hub->setOnlinState(online);
        m_hub->setFirmwareInfo("TK104", "1.2.3", 0, "", "", "");
        m_hub->createUpdateWidget();
        QStringList* events = recordHub();
        m_hub->emitCheckUpdateDownload();
        QTRY_VERIFY_WITH_TIMEOUT(events->contains("busy 0"), timescale::ms(20000));
        QTest::qWait(50);
        QTEST(*events, "events");
        QVERIFY(!QFileInfo::exists(path("UpgradeTessark")));
        QVERIFY(!QFileInfo::exists(path("UpgradeFirmware")));
    }

    // Three files, two delete entries, an updater source with an archive and a sub-folder: the updater is
    // refreshed, made executable and started detached with its seven arguments, then the tool exits.
    void toolDownloadEndsInTheUpdaterAndExit_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<bool>("safeArchive");
        QTest::newRow("English") << 1 << true;
        QTest::newRow("Chinese") << 0 << true;
        QTest::newRow("language 2 passes English; a refused archive keeps the old updater") << 2 << false;
    }
    void toolDownloadEndsInTheUpdaterAndExit()
    {
        QFETCH(int, language);
        QFETCH(bool, safeArchive);
        g_language->setLanguageType(language);
        LocalUpdate local;
        QVERIFY(local.offer(ToolLinkFile, toolLinks({"/UpgradeTessark/Windows/Tessark/Tessark/Tessark.exe",
                                                     UpdaterSource + "lib/helper.cfg", UpdaterSource + "Upgrade.tessarkzip"},
                                                    {"/old/one.dll", "/old/two.dll"}).toUtf8()));
        QVERIFY(local.offer("/UpgradeTessark/Windows/Tessark/Tessark/Tessark.exe", "new tool"));
        QVERIFY(local.offer(UpdaterSource + "lib/helper.cfg", "helper"));
        {
            QZipWriter zip(local.root.filePath(UpdaterSource.mid(1) + "Upgrade.tessarkzip"));
            zip.addFile(safeArchive ? "bin/u.so" : "a/../../evil", "unpacked");
        }
        QVERIFY(m_app.write("old/one.dll", "1") && m_app.write("old/two.dll", "2"));
        QStringList* events = runToolUpdate(local);
        QVERIFY(events);
        QCOMPARE(*events, (QStringList{"busy 1", "progress 1", "number 3", "progress 1", "progress 2", "progress 3",
                                       "exit", "busy 0"}));
        QVERIFY(!QFileInfo::exists(path("old/one.dll")) && !QFileInfo::exists(path("old/two.dll")));
        QCOMPARE(readFile(path("UpgradeTessark/Windows/Tessark/Tessark/Tessark.exe.tessark")), QByteArray("new tool"));
        // The updater folder is refreshed whole or not at all; what was not installed stays, uncounted.
        QCOMPARE(readFile(path("Upgrade/lib/helper.cfg")), safeArchive ? QByteArray("helper") : QByteArray());
        QCOMPARE(readFile(path("Upgrade/bin/u.so")), safeArchive ? QByteArray("unpacked") : QByteArray());
        QVERIFY(!QFileInfo::exists(path("Upgrade/Upgrade.tessarkzip")) && !QFileInfo::exists(path("evil")));
        QCOMPARE(QFileInfo::exists(path(UpdaterSource.mid(1))), !safeArchive);
        QVERIFY(QFile::permissions(path("Upgrade/Upgrade")) & QFile::ExeOwner);

        QVERIFY(QTest::qWaitFor([this] { return QFileInfo::exists(record()); }, timescale::ms(10000)));
        const QStringList lines = QString::fromUtf8(readFile(record())).split('\n', Qt::SkipEmptyParts);
        QVERIFY(lines.value(0).toLongLong() != QCoreApplication::applicationPid()); // detached
        const QString appDir = m_app.path() + "/";
        // Three downloads, one of them in the updater source's top level: counted once the refresh is in.
        QCOMPARE(lines.mid(1), (QStringList{"upgrade", safeArchive ? "2" : "3", appDir,
                                            QFileInfo(QCoreApplication::applicationFilePath()).fileName(),
                                            appDir + "UpgradeTessark/Windows/Tessark/Tessark/", appDir,
                                            language == 0 ? "0" : "1"}));
    }

    // The files of one update together, the updater archive counted by what it inflates to, stay within
    // the bound (made small here): the file that passes it fails as a reply error does, naming the bound,
    // and nothing after it is fetched; an update at the bound installs, also right after one that failed.
    void updateHasATotalBound_data()
    {
        QTest::addColumn<int>("failsAt"); // the link that passes the bound by one byte; -1: the bound is the total
        QTest::newRow("at the bound: installs") << -1;
        QTest::newRow("the archive's inflated size passes it") << 2;
        QTest::newRow("the second file passes it") << 1;
        QTest::newRow("the first file passes it") << 0;
    }
    void updateHasATotalBound()
    {
        QFETCH(int, failsAt);
        const QString staged = "/UpgradeTessark/Windows/Tessark/Tessark/";
        const QStringList links{staged + "a.dll", staged + "b.dll", UpdaterSource + "Upgrade.tessarkzip"};
        LocalUpdate local;
        QVERIFY(local.offer(ToolLinkFile, toolLinks(links, {}).toUtf8()));
        QVERIFY(local.offer(links.at(0), QByteArray(1000, 'a')) && local.offer(links.at(1), QByteArray(400, 'b')));
        const QString archive = local.root.filePath(links.at(2).mid(1));
        QVERIFY(QDir().mkpath(QFileInfo(archive).path()));
        {
            QZipWriter zip(archive);
            zip.setCompressionPolicy(QZipWriter::AlwaysCompress);
            zip.addFile("lib/data.bin", QByteArray(3000, '\0'));
        }
        // What each file brings: the archive its own size and what it inflates to.
        const QList<qint64> sizes{1000, 400, QFileInfo(archive).size() + 3000};
        qint64 bound = 0;
        for (int i = 0; i < sizes.size() && (failsAt < 0 || i <= failsAt); ++i)
            bound += sizes.at(i);
        if (failsAt >= 0)
            bound -= 1;
        DownloadFile::setUpdateBoundForTest(bound);
        QStringList errors;
        connect(m_hub, &overallVariate::ErrorInfoSignal, m_hub, [&errors](const QString& e) { errors << e; },
                Qt::QueuedConnection);
        QStringList* events = runToolUpdate(local);
        QVERIFY(events);
        QCOMPARE(events->contains("exit"), failsAt < 0);
        if (failsAt < 0) {
            QVERIFY(errors.isEmpty());
            QCOMPARE(readFile(path("Upgrade/lib/data.bin")), QByteArray(3000, '\0'));
            return;
        }
        QCOMPARE(errors, QStringList{QString("download UpdateFile Update Too Large! Over %1 bytes in all").arg(bound)});
        // The file that passed it is removed, and nothing after it was asked for.
        QVERIFY(!QFileInfo::exists(path(links.at(failsAt).mid(1))));
        const QString requests = local.servers.requestLines().join('\n');
        for (int i = 0; i < links.size(); ++i)
            QCOMPARE(requests.contains(QUrl::toPercentEncoding(links.at(i), "/")), i <= failsAt);
        QVERIFY(!QFileInfo::exists(record()));

        // What the failed update brought counts nothing against the next one.
        DownloadFile::setUpdateBoundForTest(sizes.at(0) + sizes.at(1) + sizes.at(2));
        events->clear();
        m_hub->emitDownloadTessarkUpdateFile();
        QVERIFY(QTest::qWaitFor([events] { return events->contains("busy 0"); }, timescale::ms(20000)));
        QTest::qWait(50);
        QVERIFY(events->contains("exit"));
        QCOMPARE(errors.size(), 1);
    }

    // Three files, two delete entries: the entries go only once all three are in. An entry naming a file
    // that arrived no longer makes room for it, so the new file stays.
    // When the updater then does not start, nothing is deleted: the tool stays whole.
    void deleteListWaitsForEveryFile_data()
    {
        QTest::addColumn<QString>("missing"); // answered 404
        QTest::addColumn<QStringList>("deletes");
        QTest::addColumn<QStringList>("gone");
        QTest::addColumn<bool>("updater");
        const QString b = "/UpgradeTessark/Windows/Tessark/Tessark/b.dll";
        const QStringList both{"/old/one.dll", "/config/config.xml"};
        QTest::newRow("all arrive: both deleted") << QString() << both << both << true;
        QTest::newRow("second file missing: nothing deleted") << b << both << QStringList{} << true;
        QTest::newRow("entry naming an arrived file") << QString() << QStringList{"/old/one.dll", b}
                                                      << QStringList{"/old/one.dll"} << true;
        QTest::newRow("updater does not start: nothing deleted") << QString() << both << QStringList{} << false;
    }
    void deleteListWaitsForEveryFile()
    {
        QFETCH(QString, missing);
        QFETCH(QStringList, deletes);
        QFETCH(QStringList, gone);
        QFETCH(bool, updater);
        const QString staged = "/UpgradeTessark/Windows/Tessark/Tessark/";
        const QStringList links{staged + "a.dll", staged + "b.dll", staged + "c.dll"};
        LocalUpdate local;
        QVERIFY(local.offer(ToolLinkFile, toolLinks(links, deletes).toUtf8()));
        for (const QString& link : links)
            QVERIFY(link == missing || local.offer(link, link.toUtf8()));
        QVERIFY(m_app.write("old/one.dll", "1") && m_app.write("config/config.xml", "<config/>"));
        QStringList* events = runToolUpdate(local, updater);
        QVERIFY(events);
        QCOMPARE(events->contains("exit"), missing.isEmpty() && updater);
        QCOMPARE(events->contains("error Upgrade Program Start Failed!"), missing.isEmpty() && !updater);
        for (const QString& entry : deletes)
            QVERIFY2(QFileInfo::exists(path(entry.mid(1))) != gone.contains(entry), qPrintable(entry));
    }

    // The honest update, handed to the real updater: both delete entries go once it runs, and it
    // installs the three files and starts the program again.
    void honestUpdateIsInstalledByTheUpdater()
    {
        LocalUpdate local;
        const QString staged = "/UpgradeTessark/Windows/Tessark/Tessark/";
        const QStringList names{"a.dll", "b.dll", "lib/c.dll"};
        QStringList links;
        for (const QString& name : names)
            links << staged + name;
        QVERIFY(local.offer(ToolLinkFile, toolLinks(links, {"/old/one.dll", "/config/config.xml"}).toUtf8()));
        for (const QString& name : names)
            QVERIFY(local.offer(staged + name, "new " + name.toUtf8()));
        for (const auto& file : userFiles())
            QVERIFY(m_app.write(file.first, file.second));
        QVERIFY(m_app.write("old/one.dll", "1"));
        // The program the updater waits for and starts again, as this test's file name says.
        const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        QVERIFY(m_app.write(program, "#!/bin/sh\necho restarted > \"$(dirname \"$0\")/restarted\"\n")
                && QFile::setPermissions(path(program), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(QDir().mkpath(path("Upgrade")) && QFile::copy(builtPath(QStringLiteral("Upgrade/Upgrade")), path("Upgrade/Upgrade")));
        QStringList* events = runToolUpdate(local, false);
        QVERIFY(events);
        QVERIFY2(events->contains("exit"), qPrintable(events->join(", ")));
        QVERIFY(!QFileInfo::exists(path("old/one.dll")) && !QFileInfo::exists(path("config/config.xml")));
        QVERIFY(QTest::qWaitFor([this] { return QFileInfo::exists(path("restarted")); }, timescale::ms(10000)));
        for (const QString& name : names)
            QCOMPARE(readFile(path(name)), "new " + name.toUtf8());
        for (const auto& file : userFiles()) {
            if (file.first != program && file.first != "config/config.xml")
                QVERIFY2(readFile(path(file.first)) == file.second, qPrintable(file.first));
        }
        QVERIFY(!QFileInfo::exists(path("UpgradeTessark")));
        QVERIFY(QFile::remove(path(program)) && QFile::remove(path("restarted")));
    }

    // A delete entry whose folder is a link (here to config/) would delete the user's file it points at:
    // that entry is skipped, the rest of the update goes on.
    void deleteThroughALinkedFolderIsSkipped()
    {
        LocalUpdate local;
        const QString a = "/UpgradeTessark/Windows/Tessark/Tessark/a.dll";
        QVERIFY(local.offer(ToolLinkFile, toolLinks({a}, {"/old/one.dll", "/settings/menutree.xml"}).toUtf8()));
        QVERIFY(local.offer(a, "a"));
        QVERIFY(m_app.write("old/one.dll", "1") && m_app.write("config/menutree.xml", "<COMMAND/>"));
        QVERIFY(QFile::link(path("config"), path("settings")));
        QStringList* events = runToolUpdate(local);
        QVERIFY(QFile::remove(path("settings")));
        QVERIFY(events);
        QVERIFY(events->contains("exit"));
        QVERIFY(!QFileInfo::exists(path("old/one.dll")));
        QCOMPARE(readFile(path("config/menutree.xml")), QByteArray("<COMMAND/>"));
    }

    // A link file whose links land, once installed, in the user's places, or whose delete list takes
    // what the tool needs to start or to update again, is refused whole: nothing fetched past it,
    // nothing replaced or deleted, no updater, the tool keeps running.
    void linkFileReachingProtectedPlacesIsRefusedWhole_data()
    {
        QTest::addColumn<QStringList>("links");
        QTest::addColumn<QStringList>("deletes");
        const QString staged = "/UpgradeTessark/Windows/Tessark/Tessark/";
        const QStringList a{staged + "a.dll"}, old{"/old/one.dll"};
        QTest::newRow("links into the custom colours and a keyboard's folder")
            << (a + QStringList{staged + "config/customcolor/color_btn_32.json",
                                staged + Keyboard.mid(1) + "/shortcuts.xml"})
            << old;
        QTest::newRow("link over the menu file") << (a + QStringList{staged + "config/menutree.xml"}) << old;
        QTest::newRow("link into the log") << (a + QStringList{staged + "log/2024-03-15.txt"}) << old;
        QTest::newRow("delete the program") << a << (old + QStringList{"/test_updatemodes"});
        QTest::newRow("delete the updater") << a << (old + QStringList{"/Upgrade/Upgrade"});
        QTest::newRow("delete the updater folder") << a << (old + QStringList{"/Upgrade"});
        QTest::newRow("delete the version file") << a << (old + QStringList{"/config/about.xml"});
        QTest::newRow("delete the server settings") << a << (old + QStringList{"/config/UpdateServer.ini"});
        QTest::newRow("link over the updater's record") << (a + QStringList{staged + ".upgrade-journal"}) << old;
        QTest::newRow("link planting a file the updater keeps aside")
            << (a + QStringList{staged + "config/.menutree.xml.upgrade-9-old-0"}) << old;
        QTest::newRow("delete the updater's record") << a << (old + QStringList{"/.upgrade-journal"});
        QTest::newRow("link over the tool's instance lock") << (a + QStringList{staged + UpdaterNames::instanceLock()}) << old;
        QTest::newRow("delete the tool's instance lock") << a << (old + QStringList{"/" + UpdaterNames::instanceLock()});
    }
    void linkFileReachingProtectedPlacesIsRefusedWhole()
    {
        QFETCH(QStringList, links);
        QFETCH(QStringList, deletes);
        LocalUpdate local;
        QVERIFY(local.offer(ToolLinkFile, toolLinks(links, deletes).toUtf8()));
        for (const QString& link : links)
            QVERIFY(local.offer(link, "from the server"));
        auto files = userFiles();
        files << qMakePair(QString("old/one.dll"), QByteArray("1"))
              << qMakePair(QString("test_updatemodes"), QByteArray("program"))
              << qMakePair(QString("log/2024-03-15.txt"), QByteArray("log"))
              << qMakePair(QString("config/UpdateServer.ini"), QByteArray("[server]\n"))
              << qMakePair(QString(".upgrade-journal"), QByteArray("the updater's"));
        for (const auto& file : files)
            QVERIFY(m_app.write(file.first, file.second));
        QStringList* events = runToolUpdate(local);
        QVERIFY(events);
        QCOMPARE(*events, (QStringList{"busy 1", "progress 1", "busy 0", "error Link file refused: an unsafe path"}));
        for (const auto& file : files)
            QVERIFY2(readFile(path(file.first)) == file.second, qPrintable(file.first));
        QVERIFY(readFile(path("config/about.xml")).contains("Tessark 1.0.2"));
        QVERIFY(QFileInfo(path("Upgrade/Upgrade")).isFile());
        QCOMPARE(local.servers.requestLines().filter("Tessark/Tessark/").size(), 0);
        QVERIFY(!QFileInfo::exists(path("UpgradeTessark")));
        QTest::qWait(100);
        QVERIFY(!QFileInfo::exists(record()));
    }

    // A folder on a download's way that is a link (here to config/) would take the file onto the user's
    // files: the download fails as a refused reply does, and nothing lands there. A link on the way to
    // the staging folder stops the update before anything is fetched and is named with what to delete.
    void downloadThroughALinkedFolderIsRefused_data()
    {
        QTest::addColumn<QString>("linked"); // made a link to config/
        QTest::addColumn<QString>("colours"); // the tool link that would reach the custom colours
        QTest::addColumn<bool>("staging");    // on the way to the staging folder
        QTest::newRow("the tool's staging folder: the link file")
            << "UpgradeTessark/Windows" << "/UpgradeTessark/Windows/customcolor/color_btn_32.json" << true;
        QTest::newRow("a folder below it: a tool file")
            << "UpgradeTessark/Windows/Tessark" << "/UpgradeTessark/Windows/Tessark/customcolor/color_btn_32.json" << true;
        QTest::newRow("the link file's folder")
            << "UpgradeTessark/Windows/URLFile" << "/UpgradeTessark/Windows/Tessark/customcolor/color_btn_32.json" << false;
    }
    void downloadThroughALinkedFolderIsRefused()
    {
        QFETCH(QString, linked);
        QFETCH(QString, colours);
        QFETCH(bool, staging);
        LocalUpdate local;
        const QStringList links{"/UpgradeTessark/Windows/Tessark/Tessark/a.dll", colours};
        QVERIFY(local.offer(ToolLinkFile, toolLinks(links, {}).toUtf8()));
        for (const QString& link : links)
            QVERIFY(local.offer(link, "from the server"));
        for (const auto& file : userFiles())
            QVERIFY(m_app.write(file.first, file.second));
        QVERIFY(QDir().mkpath(QFileInfo(path(linked)).path()) && QFile::link(path("config"), path(linked)));
        const QStringList config = QDir(path("config")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        QStringList* events = runToolUpdate(local);
        QVERIFY(events);
        QVERIFY(!staging || (local.servers.requestLines().isEmpty() && toldToDelete("the link " + path(linked))));
        QVERIFY(QFile::remove(path(linked)));
        for (const auto& file : userFiles())
            QVERIFY2(readFile(path(file.first)) == file.second, qPrintable(file.first));
        QCOMPARE(QDir(path("config")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), config);
        const QString error = staging ? "Staging Folder Reached Through A Link! " + path(linked) : "File Open Failed!";
        QVERIFY2(events->contains("error download UpdateFile " + error), qPrintable(events->join(", ")));
        QVERIFY(!events->contains("exit"));
        QTest::qWait(100);
        QVERIFY(!QFileInfo::exists(record()));
    }

    // What an earlier download left in the staging folder goes first; a folder that cannot be emptied, or
    // is a link, fetches nothing and is named with what to delete.
    void firmwareDownloadHidesTheDialogThenHandsOnTheFolder_data()
    {
        QTest::addColumn<QString>("left");
        QTest::newRow("an earlier download's image") << "stale";
        QTest::newRow("a file in a read-only folder: nothing fetched") << "read-only";
        QTest::newRow("the folder a link: nothing fetched") << "linked";
    }
    void firmwareDownloadHidesTheDialogThenHandsOnTheFolder()
    {
        QFETCH(QString, left);
        if (left == "read-only" && ::geteuid() == 0)
            QSKIP("root removes from a read-only folder anyway");
        const QString folder = path("UpgradeFirmware/TK104 Dual");
        const auto writable = qScopeGuard([&] { QFile::setPermissions(folder + "/kept", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
        LocalUpdate local;
        QVERIFY(local.offer(FirmwareLinkFile, "<root><Firmware_FileURL><FileURL qv_usb_app=\"/usb app.bin\" "
                                              "qv_bt_app=\"/bt+app.bin\" qv_bt_sd=\"/sd.bin\"/></Firmware_FileURL></root>"));
        for (const char* image : {"/usb app.bin", "/bt+app.bin", "/sd.bin"})
            QVERIFY(local.offer(QString("/UpgradeFirmware/TK104 Dual") + image, QByteArray("image ") + image));
        QVERIFY(local.start(path("servers.ini")));
        // Left by an earlier download: the upgrade would take it with the new images.
        QVERIFY(m_app.write("UpgradeFirmware/TK104 Dual/qv_bt_app_0.9.bin", "stale"));
        QVERIFY(left != "read-only" || (m_app.write("UpgradeFirmware/TK104 Dual/kept/a.bin", "a")
                                         && QFile::setPermissions(folder + "/kept", QFile::ReadOwner | QFile::ExeOwner)));
        QVERIFY(left != "linked" || (QDir().rename(path("UpgradeFirmware"), path("elsewhere"))
                                     && QFile::link(path("elsewhere"), path("UpgradeFirmware"))));
        m_hub->setFirmwareInfo("TK104 Dual", "1.0.0", 1, "1.0.0", "1.0.0", "");
        m_hub->createUpdateWidget();
        m_hub->showUpdateWidget();
        QStringList* events = recordHub();
        m_hub->emitDownloadFirmwareUpdateFile();
        QTRY_VERIFY_WITH_TIMEOUT(events->contains("busy 0"), timescale::ms(20000));
        QTest::qWait(50);
        if (left != "stale") {
            const QString named = left == "linked" ? path("UpgradeFirmware") : folder;
            QCOMPARE(*events, (QStringList{"busy 1", "busy 0", QString("error download UpdateFile Staging Folder %1! %2")
                                                                    .arg(left == "linked" ? "Reached Through A Link" : "Not Emptied", named)}));
            QVERIFY(local.servers.requestLines().isEmpty());
            QVERIFY(QFileInfo::exists(folder + (left == "linked" ? "/qv_bt_app_0.9.bin" : "/kept/a.bin")));
            QVERIFY(toldToDelete(left == "linked" ? "the link " + named : named));
            return;
        }
        QCOMPARE(*events, (QStringList{"busy 1", "progress 1", "number 3", "progress 1", "progress 2", "progress 3",
                                       "update " + folder + " shown 0", "busy 0"}));
        for (const char* image : {"/usb app.bin", "/bt+app.bin", "/sd.bin"})
            QCOMPARE(readFile(folder + image), QByteArray("image ") + image);
        QVERIFY(!QFileInfo::exists(folder + "/URLFile"));
        QVERIFY(!QFileInfo::exists(folder + "/qv_bt_app_0.9.bin"));
    }
};

QTEST_MAIN(UpdateModes)
#include "test_updatemodes.moc"
