// The update worker's operations and the end action of each download mode: the busy guard, the version
// checks and their chain, the link files and their refusal, staged firmware handed on, staging folders
// deleted, and the updater refreshed and started detached with its seven arguments.
#include "Update/downloadfile.h"
#include "Update/onlineupdate.h"
#include "Update/overallvariate.h"
#include "localupdate.h"
#include "setting/Language.h"
#include "widget/qss.h"

#include <QtGui/private/qzipwriter_p.h>

#include <QSignalSpy>
#include <QtTest>
#include <memory>

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
        connect(m_hub, &overallVariate::emitUpdateSignal, ctx, [=](const QString& f) {
            note(QString("update %1 shown %2").arg(f).arg(m_hub->updateWidget()->isVisible()));
        }, q);
        return events;
    }

    // The running tool, 1.0.2, fetches its update from local with the stand-in updater in place; the
    // hub's events once busy ended, or null when it did not end in time.
    QStringList* runToolUpdate(LocalUpdate& local)
    {
        if (!local.start(path("servers.ini"))
            || !m_app.write("config/about.xml", "<COMMAND><firmware firmware=\"Tessark 1.0.2\"/></COMMAND>")
            || !writeFakeUpdater())
            return nullptr;
        m_hub->createUpdateWidget();
        QStringList* events = recordHub();
        m_hub->emitDownloadTessarkUpdateFile();
        if (!QTest::qWaitFor([events] { return events->contains("busy 0"); }, 20000))
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
        for (const char* folder : {"UpgradeTessark", "UpgradeFirmware", "Upgrade", "old"})
            QDir(path(folder)).removeRecursively();
        QFile::remove(record());
        m_hub = new overallVariate;
        g_overallVariate = m_hub;
        g_language->setLanguageType(1);
    }
    void cleanup()
    {
        m_hub->stopWorker(); // a dialog's worker stops before the hub it reaches goes
        g_overallVariate = nullptr;
        delete m_hub;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
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
        for (const char* f : {"stage/x/a", "stage/x/b", "stage/x/sub/c", "stage/x/sub/d", "stage/x/sub/e", "elsewhere/kept"})
            QVERIFY(m_app.write(f, "1"));
        // A link to a folder outside goes itself; what it points at stays.
        QVERIFY(QFile::link(path("elsewhere"), path("stage/x/sub/link")));
        DownloadFile w;
        w.setDeletedFileCount(5);
        QVERIFY(w.deleteDirectory(path("stage/x"), true));
        QCOMPARE(w.deletedFileCount(), 7);
        // Emptied parents go too, the application folder never.
        QVERIFY(!QFileInfo::exists(path("stage")));
        QVERIFY(QFileInfo::exists(path("elsewhere/kept")));
        QVERIFY(QFileInfo::exists(m_app.path()));
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
        QTRY_VERIFY_WITH_TIMEOUT(events->contains("busy 0"), 20000);
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
        QTest::newRow("language 2 passes English; a refused archive is skipped") << 2 << false;
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
        QCOMPARE(readFile(path("Upgrade/lib/helper.cfg")), QByteArray("helper"));
        QCOMPARE(readFile(path("Upgrade/bin/u.so")), safeArchive ? QByteArray("unpacked") : QByteArray());
        QVERIFY(!QFileInfo::exists(path("Upgrade/Upgrade.tessarkzip")) && !QFileInfo::exists(path("evil")));
        QVERIFY(!QFileInfo::exists(path(UpdaterSource.mid(1))));
        QVERIFY(QFile::permissions(path("Upgrade/Upgrade")) & QFile::ExeOwner);

        QVERIFY(QTest::qWaitFor([this] { return QFileInfo::exists(record()); }, 5000));
        const QStringList lines = QString::fromUtf8(readFile(record())).split('\n', Qt::SkipEmptyParts);
        QVERIFY(lines.value(0).toLongLong() != QCoreApplication::applicationPid()); // detached
        const QString appDir = m_app.path() + "/";
        // Three downloads, one of them in the updater source's top level.
        QCOMPARE(lines.mid(1), (QStringList{"upgrade", "2", appDir,
                                            QFileInfo(QCoreApplication::applicationFilePath()).fileName(),
                                            appDir + "UpgradeTessark/Windows/Tessark/Tessark/", appDir,
                                            language == 0 ? "0" : "1"}));
    }

    // Three files, two delete entries: the entries go only once all three are in. An entry naming a file
    // that arrived no longer makes room for it, so the new file stays.
    void deleteListWaitsForEveryFile_data()
    {
        QTest::addColumn<QString>("missing"); // answered 404
        QTest::addColumn<QStringList>("deletes");
        QTest::addColumn<QStringList>("gone");
        const QString b = "/UpgradeTessark/Windows/Tessark/Tessark/b.dll";
        const QStringList both{"/old/one.dll", "/config/config.xml"};
        QTest::newRow("all arrive: both deleted") << QString() << both << both;
        QTest::newRow("second file missing: nothing deleted") << b << both << QStringList{};
        QTest::newRow("entry naming an arrived file") << QString() << QStringList{"/old/one.dll", b}
                                                      << QStringList{"/old/one.dll"};
    }
    void deleteListWaitsForEveryFile()
    {
        QFETCH(QString, missing);
        QFETCH(QStringList, deletes);
        QFETCH(QStringList, gone);
        const QString staged = "/UpgradeTessark/Windows/Tessark/Tessark/";
        const QStringList links{staged + "a.dll", staged + "b.dll", staged + "c.dll"};
        LocalUpdate local;
        QVERIFY(local.offer(ToolLinkFile, toolLinks(links, deletes).toUtf8()));
        for (const QString& link : links)
            QVERIFY(link == missing || local.offer(link, link.toUtf8()));
        QVERIFY(m_app.write("old/one.dll", "1") && m_app.write("config/config.xml", "<config/>"));
        QStringList* events = runToolUpdate(local);
        QVERIFY(events);
        QCOMPARE(events->contains("exit"), missing.isEmpty());
        for (const QString& entry : deletes)
            QVERIFY2(QFileInfo::exists(path(entry.mid(1))) != gone.contains(entry), qPrintable(entry));
    }

    void firmwareDownloadHidesTheDialogThenHandsOnTheFolder()
    {
        LocalUpdate local;
        QVERIFY(local.offer(FirmwareLinkFile, "<root><Firmware_FileURL><FileURL qv_usb_app=\"/usb app.bin\" "
                                              "qv_bt_app=\"/bt+app.bin\" qv_bt_sd=\"/sd.bin\"/></Firmware_FileURL></root>"));
        for (const char* image : {"/usb app.bin", "/bt+app.bin", "/sd.bin"})
            QVERIFY(local.offer(QString("/UpgradeFirmware/TK104 Dual") + image, QByteArray("image ") + image));
        QVERIFY(local.start(path("servers.ini")));
        m_hub->setFirmwareInfo("TK104 Dual", "1.0.0", 1, "1.0.0", "1.0.0", "");
        m_hub->createUpdateWidget();
        m_hub->showUpdateWidget();
        QStringList* events = recordHub();
        m_hub->emitDownloadFirmwareUpdateFile();
        QTRY_VERIFY_WITH_TIMEOUT(events->contains("busy 0"), 20000);
        QTest::qWait(50);
        const QString folder = path("UpgradeFirmware/TK104 Dual");
        QCOMPARE(*events, (QStringList{"busy 1", "progress 1", "number 3", "progress 1", "progress 2", "progress 3",
                                       "update " + folder + " shown 0", "busy 0"}));
        for (const char* image : {"/usb app.bin", "/bt+app.bin", "/sd.bin"})
            QCOMPARE(readFile(folder + image), QByteArray("image ") + image);
        QVERIFY(!QFileInfo::exists(folder + "/URLFile"));
    }
};

QTEST_MAIN(UpdateModes)
#include "test_updatemodes.moc"
