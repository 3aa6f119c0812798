// The update worker's operations and the end action of each download mode: the version checks and
// their chain, the link files and their refusal, staged firmware handed on, staging folders deleted,
// and the updater refreshed and started detached with its seven arguments.
#include "Update/downloadfile.h"
#include "Update/onlineupdate.h"
#include "Update/overallvariate.h"
#include "setting/Language.h"
#include "tempappdir.h"
#include "updateserver.h"

#include <QtGui/private/qzipwriter_p.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

const QString ToolVersionFile = "/UpgradeTessark/Windows/VersionFile/TessarkVersion.ini";
const QString ToolLinkFile = "/UpgradeTessark/Windows/URLFile/TessarkFileURL.xml";
const QString UpdaterSource = "UpgradeTessark/Windows/Tessark/Upgrade/";
const QString NoTime = QString::fromUtf8("获取时间错误!");
const QString XmlError = QString::fromUtf8("读取xml错误");
const QByteArray Key = "modekey0123456789abcdef0123456789abcdef0"; // 40 characters

// A folder the local download server serves.
struct ServerRoot {
    QTemporaryDir dir;
    bool put(const QString& relative, const QByteArray& data) const
    {
        const QString file = dir.filePath(relative);
        QDir().mkpath(QFileInfo(file).path());
        QFile f(file);
        return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
    }
};

QString firmwarePath(const QString& model, const QString& rest)
{
    return "/UpgradeFirmware/" + model + rest;
}

QStringList busyValues(const QSignalSpy& spy)
{
    QStringList out;
    for (const QList<QVariant>& args : spy)
        out << (args.at(0).toBool() ? "true" : "false");
    return out;
}

} // namespace

class UpdateModes : public QObject {
    Q_OBJECT

    TempAppDir m_app;
    overallVariate* m_hub = nullptr;

    QString path(const QString& relative) const { return m_app.filePath(relative); }
    QString record() const { return path("updater-record"); }

    std::unique_ptr<DownloadFile> newWorker(const QString& version = "1.0.2")
    {
        auto worker = std::make_unique<DownloadFile>();
        worker->setTessarkVersion(version);
        return worker;
    }

    // The updater stand-in: writes its parent process id and its arguments, one a line. Written
    // without the execute bit, as a download arrives.
    bool writeFakeUpdater()
    {
        QFile::remove(record());
        return m_app.write("Upgrade/Upgrade",
                           "#!/bin/sh\n"
                           "rec=\"$(dirname \"$0\")/../updater-record\"\n"
                           "{ echo \"$PPID\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$rec.part\"\n"
                           "mv \"$rec.part\" \"$rec\"\n")
            && QFile::setPermissions(path("Upgrade/Upgrade"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                                                  | QFile::ReadOther);
    }

    // Parent process id first, then the arguments.
    QStringList recorded()
    {
        if (!QTest::qWaitFor([this] { return QFileInfo::exists(record()); }, 5000))
            return {};
        QStringList lines = QString::fromUtf8(readFile(record())).split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

private slots:
    void initTestCase()
    {
        // No server: any fetch a test reaches ends as a network-time failure, before any file.
        qunsetenv("TESSARK_UPDATE_CONFIG");
        setAppDirPathForTest(m_app.path());
        g_language = new Language;
    }
    void init()
    {
        for (const char* folder : {"UpgradeTessark", "UpgradeFirmware", "Upgrade", "stage"})
            QDir(path(folder)).removeRecursively();
        m_hub = new overallVariate;
        g_overallVariate = m_hub;
        g_language->setLanguageType(1);
    }
    void cleanup()
    {
        qunsetenv("TESSARK_UPDATE_CONFIG");
        QFile::remove(path("config/about.xml"));
        // A dialog's worker stops before the hub it reaches goes.
        m_hub->stopWorker();
        g_overallVariate = nullptr;
        delete m_hub;
        m_hub = nullptr;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void cleanupTestCase()
    {
        delete g_language;
        g_language = nullptr;
        setAppDirPathForTest(QString());
    }

    void operationsSetTheirLinkAndModeUnlessBusy_data()
    {
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QStringList>("links");
        QTest::addColumn<int>("mode");
        const QString model = "TK104 Dual";
        QTest::newRow("tool check") << QByteArray("checkUpdateSlot") << false << QStringList{ToolVersionFile} << 0;
        QTest::newRow("tool download") << QByteArray("dowmloadTessarkUpdateFileSlot") << false
                                       << QStringList{ToolLinkFile} << 1;
        QTest::newRow("firmware check")
            << QByteArray("checkFirmwareUpdateSlot") << false
            << QStringList{firmwarePath(model, "/VersionFile/FirmwareVersion.ini")} << 3;
        QTest::newRow("firmware download")
            << QByteArray("dowmloadFirmwareUpdateFileSlot") << false
            << QStringList{firmwarePath(model, "/URLFile/FirmwareFileURL.xml")} << 4;
        QTest::newRow("tool check while busy") << QByteArray("checkUpdateSlot") << true << QStringList{} << -1;
        QTest::newRow("tool download while busy") << QByteArray("dowmloadTessarkUpdateFileSlot") << true
                                                  << QStringList{} << -1;
        QTest::newRow("firmware check while busy") << QByteArray("checkFirmwareUpdateSlot") << true << QStringList{}
                                                   << -1;
        QTest::newRow("firmware download while busy") << QByteArray("dowmloadFirmwareUpdateFileSlot") << true
                                                      << QStringList{} << -1;
    }
    void operationsSetTheirLinkAndModeUnlessBusy()
    {
        QFETCH(QByteArray, slot);
        QFETCH(bool, busy);
        QFETCH(QStringList, links);
        QFETCH(int, mode);
        // The board name as the keyboard sends it: cut at its NUL.
        m_hub->setFirmwareInfo(QString("TK104 Dual") + QChar(0) + "/../x", "1.0.0", 1, "1.0.0", "1.0.0", "1.0");
        auto worker = newWorker();
        worker->setDownloadMode(-1);
        m_hub->setBusy(busy);
        QSignalSpy busySpy(m_hub, &overallVariate::threadBusySignal);
        QSignalSpy errors(m_hub, &overallVariate::ErrorInfoSignal);
        QVERIFY(QMetaObject::invokeMethod(worker.get(), slot.constData(), Qt::DirectConnection));
        QCOMPARE(worker->linkList(), links);
        QCOMPARE(worker->getDownloadMode(), mode);
        if (busy) {
            // Dropped: the running job keeps its flag, nothing is reported.
            QCOMPARE(busySpy.count(), 0);
            QCOMPARE(errors.count(), 0);
            QVERIFY(m_hub->getBusy());
        } else {
            // Set, then cleared by the fetch that has no server to ask.
            QCOMPARE(busyValues(busySpy), (QStringList{"true", "false"}));
            QCOMPARE(errors.count(), 1);
            QCOMPARE(errors.at(0).at(0).toString(), NoTime);
        }
    }

    void toolCheckWithoutKeyboardClearsBusy()
    {
        QVERIFY(m_app.write(ToolVersionFile.mid(1), "[TessarkVersion]\nVersion=1.0.3\nEnglishUpdateInfo=new\n"));
        auto worker = newWorker("1.0.2");
        m_hub->setBusy(true);
        worker->setLinkList({ToolVersionFile});
        worker->setDownloadMode(0);
        QSignalSpy found(m_hub, &overallVariate::TessarkUpdateSignal);
        QSignalSpy busySpy(m_hub, &overallVariate::threadBusySignal);
        worker->Startdownload(1);
        QCOMPARE(found.count(), 1);
        QCOMPARE(found.at(0).at(0).toBool(), true);
        QCOMPARE(busyValues(busySpy), QStringList{"false"});
        // The version file's staging folders go, the application folder stays.
        QVERIFY(!QFileInfo::exists(path("UpgradeTessark")));
        QVERIFY(QFileInfo::exists(m_app.path()));
    }

    void unsafeBoardNamesAreNeverRequested_data()
    {
        QTest::addColumn<QString>("board");
        QTest::newRow("empty") << "";
        QTest::newRow("slash") << "../x";
        QTest::newRow("backslash") << "a\\b";
        QTest::newRow("colon") << "C:";
        QTest::newRow("dot-dot") << "..";
        QTest::newRow("control character") << "TK\n104";
        QTest::newRow("NUL first") << QString(QChar(0)) + "TK104";
    }
    void unsafeBoardNamesAreNeverRequested()
    {
        QFETCH(QString, board);
        m_hub->setFirmwareInfo(board, "1.0.0", 0, "", "", "");
        auto worker = newWorker();
        QSignalSpy found(m_hub, &overallVariate::FirmwareUpdateSignal);
        QSignalSpy errors(m_hub, &overallVariate::ErrorInfoSignal);

        // The check answers "nothing new" without a request.
        worker->checkFirmwareUpdateSlot();
        QCOMPARE(worker->linkList(), QStringList{});
        QCOMPARE(found.count(), 1);
        QCOMPARE(found.at(0).at(0).toBool(), false);
        QCOMPARE(errors.count(), 0);
        QVERIFY(!m_hub->getBusy());

        // The download reports an error.
        worker->dowmloadFirmwareUpdateFileSlot();
        QCOMPARE(worker->linkList(), QStringList{});
        QCOMPARE(errors.count(), 1);
        QVERIFY(errors.at(0).at(0).toString() != NoTime);
        QVERIFY(!m_hub->getBusy());
        QVERIFY(!QFileInfo::exists(path("UpgradeFirmware")));
    }

    void toolLinkFileDeletesThenFetchesItsLinks()
    {
        QVERIFY(m_app.write("old/one.dll", "1"));
        QVERIFY(m_app.write("old/two.dll", "2"));
        QVERIFY(m_app.write("keep.dll", "k"));
        QVERIFY(m_app.write(ToolLinkFile.mid(1),
                            "<root><tools_FileURL_1.0.2>"
                            "<FileURL url=\"/UpgradeTessark/Windows/Tessark/Tessark/Tessark.exe\"/>"
                            "<FileURL url=\"/UpgradeTessark/Windows/Tessark/Tessark/a.dll\"/>"
                            "<FileURL url=\"/UpgradeTessark/Windows/Tessark/Upgrade/Upgrade\"/>"
                            "</tools_FileURL_1.0.2><tools_DeleteFile_1.0.2>"
                            "<FileURL url=\"/old/one.dll\"/><FileURL url=\"/old/two.dll\"/>"
                            "</tools_DeleteFile_1.0.2></root>"));
        auto worker = newWorker("1.0.2");
        m_hub->setBusy(true);
        worker->setLinkList({ToolLinkFile});
        worker->setDownloadMode(1);
        QSignalSpy number(m_hub, &overallVariate::downloadNumberSignal);
        QSignalSpy errors(m_hub, &overallVariate::ErrorInfoSignal);
        worker->Startdownload(1);
        QVERIFY(!QFileInfo::exists(path("old/one.dll")));
        QVERIFY(!QFileInfo::exists(path("old/two.dll")));
        QVERIFY(QFileInfo::exists(path("keep.dll")));
        QVERIFY(!QFileInfo::exists(path("UpgradeTessark/Windows/URLFile")));
        QCOMPARE(number.count(), 1);
        QCOMPARE(number.at(0).at(0).toInt(), 3);
        QCOMPARE(worker->linkList().size(), 3);
        QCOMPARE(worker->getDownloadMode(), 2);
        // The first of them is fetched next; without a server that fails, before any file.
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), NoTime);
    }

    void unsafeToolLinkFileIsRefusedWhole_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("deleted");
        QTest::newRow("dot-dot in a link") << "/UpgradeTessark/../../evil" << "/old/one.dll";
        QTest::newRow("backslash in a link") << "/UpgradeTessark\\evil" << "/old/one.dll";
        QTest::newRow("colon in a link") << "/C:/evil" << "/old/one.dll";
        QTest::newRow("control character in a link") << "/Upgrade\tTessark/x" << "/old/one.dll";
        QTest::newRow("link naming a sibling folder") << "x/evil" << "/old/one.dll";
        QTest::newRow("dot-dot in a delete entry") << "/UpgradeTessark/a" << "/../outside.dll";
        QTest::newRow("colon in a delete entry") << "/UpgradeTessark/a" << "/c:x";
        QTest::newRow("control character in a delete entry") << "/UpgradeTessark/a" << "/old/one.dll\n";
    }
    void unsafeToolLinkFileIsRefusedWhole()
    {
        QFETCH(QString, link);
        QFETCH(QString, deleted);
        QVERIFY(m_app.write("old/one.dll", "1"));
        QVERIFY(m_app.write("old/two.dll", "2"));
        QDomDocument doc;
        QDomElement root = doc.createElement("root");
        doc.appendChild(root);
        QDomElement links = doc.createElement("tools_FileURL_1.0.2");
        root.appendChild(links);
        for (const QString& l : {QString("/UpgradeTessark/Windows/Tessark/Tessark/a.dll"), link}) {
            QDomElement e = doc.createElement("FileURL");
            e.setAttribute("url", l);
            links.appendChild(e);
        }
        QDomElement deletes = doc.createElement("tools_DeleteFile_1.0.2");
        root.appendChild(deletes);
        for (const QString& d : {QString("/old/two.dll"), deleted}) {
            QDomElement e = doc.createElement("FileURL");
            e.setAttribute("url", d);
            deletes.appendChild(e);
        }
        QVERIFY(m_app.write(ToolLinkFile.mid(1), doc.toByteArray()));
        auto worker = newWorker("1.0.2");
        m_hub->setBusy(true);
        worker->setLinkList({ToolLinkFile});
        worker->setDownloadMode(1);
        QSignalSpy number(m_hub, &overallVariate::downloadNumberSignal);
        QSignalSpy errors(m_hub, &overallVariate::ErrorInfoSignal);
        worker->Startdownload(1);
        // Nothing deleted, nothing fetched, reported.
        QVERIFY(QFileInfo::exists(path("old/one.dll")));
        QVERIFY(QFileInfo::exists(path("old/two.dll")));
        QCOMPARE(number.count(), 0);
        QCOMPARE(worker->getDownloadMode(), 1);
        QCOMPARE(errors.count(), 1);
        QVERIFY(errors.at(0).at(0).toString() != NoTime);
        QVERIFY(!m_hub->getBusy());
    }

    void toolLinkFileWithoutLinksStartsNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not well-formed") << QByteArray("<root><tools_FileURL_1.0.2>");
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("no entry for the running version")
            << QByteArray("<root><tools_FileURL_1.0.3><FileURL url=\"/a\"/></tools_FileURL_1.0.3>"
                          "<tools_DeleteFile_1.0.2><FileURL url=\"/old/one.dll\"/></tools_DeleteFile_1.0.2></root>");
    }
    void toolLinkFileWithoutLinksStartsNothing()
    {
        QFETCH(QByteArray, content);
        QVERIFY(m_app.write("old/one.dll", "1"));
        QVERIFY(writeFakeUpdater());
        if (!content.isNull())
            QVERIFY(m_app.write(ToolLinkFile.mid(1), content));
        auto worker = newWorker("1.0.2");
        m_hub->setBusy(true);
        worker->setLinkList({ToolLinkFile});
        worker->setDownloadMode(1);
        QSignalSpy errors(m_hub, &overallVariate::ErrorInfoSignal);
        QSignalSpy exits(m_hub, &overallVariate::emitMainExit);
        worker->Startdownload(1);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), XmlError);
        QVERIFY(!m_hub->getBusy());
        QVERIFY(QFileInfo::exists(path("old/one.dll")));
        QCOMPARE(exits.count(), 0);
        QTest::qWait(200);
        QVERIFY(!QFileInfo::exists(record()));
    }

    void firmwareLinkFileFetchesItsImages_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<bool>("refused");
        QTest::newRow("plain names") << "/s.bin" << false;
        QTest::newRow("dot-dot") << "/../../../s.bin" << true;
        QTest::newRow("backslash") << "/..\\s.bin" << true;
        QTest::newRow("colon") << "/c:s.bin" << true;
        QTest::newRow("control character") << "/s\t.bin" << true;
    }
    void firmwareLinkFileFetchesItsImages()
    {
        QFETCH(QString, image);
        QFETCH(bool, refused);
        const QString model = "TK104 Dual";
        m_hub->setFirmwareInfo(model, "1.0.0", 1, "1.0.0", "1.0.0", "");
        const QString link = firmwarePath(model, "/URLFile/FirmwareFileURL.xml");
        QDomDocument doc;
        QDomElement root = doc.createElement("root");
        doc.appendChild(root);
        QDomElement list = doc.createElement("Firmware_FileURL");
        root.appendChild(list);
        for (const QString& n : {QString("1"), QString("2")}) {
            QDomElement e = doc.createElement("FileURL");
            e.setAttribute("qv_usb_app", "/u" + n + ".bin");
            e.setAttribute("qv_bt_app", "/b" + n + ".bin");
            e.setAttribute("qv_bt_sd", n == "2" ? image : "/s1.bin");
            list.appendChild(e);
        }
        QVERIFY(m_app.write(link.mid(1), doc.toByteArray()));
        auto worker = newWorker();
        m_hub->setBusy(true);
        worker->setLinkList({link});
        worker->setDownloadMode(4);
        QSignalSpy number(m_hub, &overallVariate::downloadNumberSignal);
        QSignalSpy errors(m_hub, &overallVariate::ErrorInfoSignal);
        worker->Startdownload(1);
        QVERIFY(!QFileInfo::exists(path("UpgradeFirmware/" + model + "/URLFile")));
        QCOMPARE(errors.count(), 1);
        QVERIFY(!m_hub->getBusy());
        if (refused) {
            QCOMPARE(number.count(), 0);
            QCOMPARE(worker->getDownloadMode(), 4);
            QVERIFY(errors.at(0).at(0).toString() != NoTime);
        } else {
            const QString f = "/UpgradeFirmware/" + model;
            QCOMPARE(worker->linkList(), (QStringList{f + "/u1.bin", f + "/b1.bin", f + "/s1.bin", f + "/u2.bin",
                                                      f + "/b2.bin", f + "/s.bin"}));
            QCOMPARE(number.at(0).at(0).toInt(), 6);
            QCOMPARE(worker->getDownloadMode(), 5);
            QCOMPARE(errors.at(0).at(0).toString(), NoTime); // the first image's fetch, without a server
        }
    }

    void stagedFirmwareFolderIsHandedOn_data()
    {
        QTest::addColumn<int>("images");
        QTest::newRow("three images") << 3;
        QTest::newRow("none") << 0;
    }
    void stagedFirmwareFolderIsHandedOn()
    {
        QFETCH(int, images);
        QStringList links;
        for (int i = 0; i < images; ++i)
            links << firmwarePath("TK104 Dual", QString("/img%1.bin").arg(i));
        auto worker = newWorker();
        m_hub->setBusy(true);
        worker->setLinkList(links);
        worker->setDownloadMode(5);
        QStringList order;
        connect(m_hub, &overallVariate::emitUpdateSignal, this, [&](const QString& f) { order << "update " + f; });
        connect(m_hub, &overallVariate::threadBusySignal, this, [&](bool b) { order << QString("busy %1").arg(b); });
        worker->Startdownload(images);
        if (images == 0)
            QCOMPARE(order, QStringList{"busy 0"});
        else
            QCOMPARE(order, (QStringList{"update " + path("UpgradeFirmware/TK104 Dual"), "busy 0"}));
    }

    void leavingUpgradeModeDeletesStagedFirmware()
    {
        auto worker = newWorker();
        const QStringList before = QDir(m_app.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        worker->unModeFirmwareSlot(); // no folder: nothing happens
        QCOMPARE(QDir(m_app.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        QVERIFY(m_app.write("UpgradeFirmware/TK104/a.bin", "a"));
        QVERIFY(m_app.write("UpgradeFirmware/TK104/b/c.bin", "c"));
        worker->unModeFirmwareSlot();
        QVERIFY(!QFileInfo::exists(path("UpgradeFirmware")));
        QCOMPARE(QDir(m_app.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    }

    void deleteDirectoryCountsOnlyTopLevelFiles()
    {
        for (const char* f : {"stage/x/a", "stage/x/b", "stage/x/sub/c", "stage/x/sub/d", "stage/x/sub/e"})
            QVERIFY(m_app.write(f, "1"));
        // A link to a folder outside goes itself; what it points at stays.
        QVERIFY(m_app.write("elsewhere/kept", "1"));
        QVERIFY(QFile::link(path("elsewhere"), path("stage/x/sub/link")));
        auto worker = newWorker();
        worker->setDeletedFileCount(5);
        QVERIFY(worker->deleteDirectory(path("stage/x"), true));
        QCOMPARE(worker->deletedFileCount(), 7);
        // Emptied parents go too, the application folder never.
        QVERIFY(!QFileInfo::exists(path("stage")));
        QVERIFY(QFileInfo::exists(path("elsewhere/kept")));
        QVERIFY(QFileInfo::exists(m_app.path()));
        QVERIFY(worker->deleteDirectory(path("stage/none"), true));
        QVERIFY(!worker->deleteDirectory(QString(), true));
    }

    void handOverStartsTheUpdaterDetached_data()
    {
        QTest::addColumn<QStringList>("sourceFiles");  // below the updater source
        QTest::addColumn<int>("links");
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("countArgument");
        QTest::addColumn<QStringList>("present");      // below Upgrade/ afterwards
        QTest::addColumn<QStringList>("absent");       // below the app dir afterwards
        QTest::newRow("two top-level files of five") << QStringList{"a.dll", "b.cfg"} << 5 << 1 << "3"
                                                     << QStringList{"a.dll", "b.cfg"} << QStringList{};
        QTest::newRow("sub-folder copied, not counted")
            << QStringList{"a.dll", "lib/x.so", "lib/y.so"} << 5 << 1 << "4" << QStringList{"a.dll", "lib/x.so"}
            << QStringList{};
        QTest::newRow("archive unpacked over existing files")
            << QStringList{"Upgrade.tessarkzip"} << 2 << 1 << "1" << QStringList{"b.cfg", "lib/z.so"}
            << QStringList{"Upgrade/Upgrade.tessarkzip"};
        QTest::newRow("refused archive: copy goes on")
            << QStringList{"Bad.tessarkzip", "c.cfg"} << 3 << 1 << "1" << QStringList{"c.cfg"}
            << QStringList{"Upgrade/Bad.tessarkzip", "evil"};
        QTest::newRow("Chinese") << QStringList{"a.dll"} << 1 << 0 << "0" << QStringList{"a.dll"} << QStringList{};
        QTest::newRow("language 2 passes English") << QStringList{} << 1 << 2 << "1" << QStringList{}
                                                   << QStringList{};
    }
    void handOverStartsTheUpdaterDetached()
    {
        QFETCH(QStringList, sourceFiles);
        QFETCH(int, links);
        QFETCH(int, language);
        QFETCH(QString, countArgument);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        g_language->setLanguageType(language);
        QVERIFY(writeFakeUpdater());
        QVERIFY(m_app.write("Upgrade/b.cfg", "old"));
        for (const QString& f : sourceFiles) {
            if (f == "Upgrade.tessarkzip" || f == "Bad.tessarkzip") {
                QDir().mkpath(path(UpdaterSource));
                QZipWriter w(path(UpdaterSource + f));
                if (f == "Bad.tessarkzip") {
                    w.addFile("a/../../evil", "x");
                } else {
                    w.addFile("b.cfg", "new");
                    w.addFile("lib/z.so", "z");
                }
                w.close();
            } else {
                QVERIFY(m_app.write(UpdaterSource + f, f.toUtf8()));
            }
        }
        QStringList linkList;
        for (int i = 0; i < links; ++i)
            linkList << QString("/UpgradeTessark/Windows/Tessark/Tessark/f%1").arg(i);
        auto worker = newWorker();
        m_hub->setBusy(true);
        worker->setLinkList(linkList);
        worker->setDownloadMode(2);
        QStringList order;
        connect(m_hub, &overallVariate::emitMainExit, this, [&] { order << "exit"; });
        connect(m_hub, &overallVariate::threadBusySignal, this, [&](bool b) { order << QString("busy %1").arg(b); });
        worker->Startdownload(links);

        const QStringList lines = recorded();
        QCOMPARE(lines.size(), 8);
        QVERIFY(lines.at(0).toLongLong() != QCoreApplication::applicationPid()); // detached
        const QString appDir = m_app.path() + "/";
        QCOMPARE(lines.mid(1), (QStringList{"upgrade", countArgument, appDir,
                                            QFileInfo(QCoreApplication::applicationFilePath()).fileName(),
                                            appDir + "UpgradeTessark/Windows/Tessark/Tessark/", appDir,
                                            QString::number(language == 0 ? 0 : 1)}));
        QVERIFY(QFile::permissions(path("Upgrade/Upgrade")) & QFile::ExeOwner);
        QCOMPARE(order, (QStringList{"exit", "busy 0"}));
        QVERIFY(!QFileInfo::exists(path(UpdaterSource)));
        for (const QString& p : present)
            QVERIFY2(QFileInfo::exists(path("Upgrade/" + p)), qPrintable(p));
        for (const QString& p : absent)
            QVERIFY2(!QFileInfo::exists(path(p)), qPrintable(p));
        if (sourceFiles.contains("Upgrade.tessarkzip"))
            QCOMPARE(readFile(path("Upgrade/b.cfg")), QByteArray("new"));
    }

    void updaterThatDoesNotStartKeepsTheToolRunning()
    {
        auto worker = newWorker();
        m_hub->setBusy(true);
        worker->setLinkList({"/UpgradeTessark/Windows/Tessark/Tessark/a"});
        worker->setDownloadMode(2);
        QSignalSpy exits(m_hub, &overallVariate::emitMainExit);
        QSignalSpy errors(m_hub, &overallVariate::ErrorInfoSignal);
        worker->Startdownload(1);
        QCOMPARE(exits.count(), 0);
        QCOMPARE(errors.count(), 1);
        QVERIFY(!m_hub->getBusy());
    }

private:
    // What the worker's thread tells the GUI thread, in the order it arrives there.
    QStringList* recordHub()
    {
        auto* events = new QStringList;
        QObject* ctx = new QObject(m_hub);
        connect(ctx, &QObject::destroyed, [events] { delete events; });
        const auto q = Qt::QueuedConnection;
        connect(m_hub, &overallVariate::threadBusySignal, ctx, [events](bool b) { *events << QString("busy %1").arg(b); }, q);
        connect(m_hub, &overallVariate::downloadProgressSignal, ctx, [events](int n) { *events << QString("progress %1").arg(n); }, q);
        connect(m_hub, &overallVariate::downloadNumberSignal, ctx, [events](int n) { *events << QString("number %1").arg(n); }, q);
        connect(m_hub, &overallVariate::TessarkUpdateSignal, ctx, [events](bool f) { *events << QString("tool %1").arg(f); }, q);
        connect(m_hub, &overallVariate::FirmwareUpdateSignal, ctx, [events](bool f) { *events << QString("firmware %1").arg(f); }, q);
        connect(m_hub, &overallVariate::ErrorInfoSignal, ctx, [events](const QString& e) { *events << "error " + e; }, q);
        connect(m_hub, &overallVariate::emitMainExit, ctx, [events] { *events << "exit"; }, q);
        connect(m_hub, &overallVariate::emitUpdateSignal, ctx, [this, events](const QString& f) {
            *events << QString("update %1 shown %2").arg(f).arg(m_hub->updateWidget()->isVisible());
        }, q);
        return events;
    }

    // Local servers serving root, named to the worker the dialog creates next.
    bool startServers(sim::UpdateServers& servers)
    {
        if (!servers.start() || !servers.writeConfig(path("servers.ini")))
            return false;
        qputenv("TESSARK_UPDATE_CONFIG", QFile::encodeName(path("servers.ini")));
        return true;
    }

private slots:
    void toolCheckWithKeyboardFetchesBothVersionFiles()
    {
        ServerRoot root;
        QVERIFY(root.put(ToolVersionFile.mid(1), "[TessarkVersion]\nVersion=1.0.10\nEnglishUpdateInfo=tool\n"));
        QVERIFY(root.put(firmwarePath("TK104", "/VersionFile/FirmwareVersion.ini").mid(1),
                         "[FirmwareVersion]\nqv_usb_app_Version=1.2.4\nEnglishUpdateInfo=fw\n"));
        sim::UpdateServers servers(root.dir.path(), Key);
        QVERIFY(startServers(servers));
        QVERIFY(m_app.write("config/about.xml", "<COMMAND><firmware firmware=\"Tessark 1.0.9\"/></COMMAND>"));
        m_hub->setAutoCheckUpdate(false);
        m_hub->setOnlinState(true);
        m_hub->setFirmwareInfo("TK104", "1.2.3", 0, "", "", "");
        m_hub->createUpdateWidget();
        QStringList* events = recordHub();
        m_hub->emitCheckUpdateDownload();
        QTRY_VERIFY_WITH_TIMEOUT(events->contains("busy 0"), 20000);
        QTest::qWait(50);
        // Busy is cleared only after the firmware answer.
        QCOMPARE(*events, (QStringList{"busy 1", "progress 1", "tool 1", "progress 1", "firmware 1", "busy 0"}));
        QVERIFY(!QFileInfo::exists(path("UpgradeTessark")));
        QVERIFY(!QFileInfo::exists(path("UpgradeFirmware")));
    }

    void toolDownloadEndsInTheUpdaterAndExit()
    {
        ServerRoot root;
        QVERIFY(root.put(ToolLinkFile.mid(1),
                         "<root><tools_FileURL_1.0.2>"
                         "<FileURL url=\"/UpgradeTessark/Windows/Tessark/Tessark/Tessark.exe\"/>"
                         "<FileURL url=\"/UpgradeTessark/Windows/Tessark/Upgrade/helper.cfg\"/>"
                         "<FileURL url=\"/UpgradeTessark/Windows/Tessark/Upgrade/Upgrade.tessarkzip\"/>"
                         "</tools_FileURL_1.0.2><tools_DeleteFile_1.0.2>"
                         "<FileURL url=\"/old/one.dll\"/><FileURL url=\"/old/two.dll\"/>"
                         "</tools_DeleteFile_1.0.2></root>"));
        QVERIFY(root.put("UpgradeTessark/Windows/Tessark/Tessark/Tessark.exe", "new tool"));
        QVERIFY(root.put("UpgradeTessark/Windows/Tessark/Upgrade/helper.cfg", "helper"));
        {
            QDir().mkpath(root.dir.filePath("UpgradeTessark/Windows/Tessark/Upgrade"));
            QZipWriter zip(root.dir.filePath("UpgradeTessark/Windows/Tessark/Upgrade/Upgrade.tessarkzip"));
            zip.addFile("lib/u.so", "unpacked");
            zip.close();
        }
        sim::UpdateServers servers(root.dir.path(), Key);
        QVERIFY(startServers(servers));
        QVERIFY(m_app.write("config/about.xml", "<COMMAND><firmware firmware=\"Tessark 1.0.2\"/></COMMAND>"));
        QVERIFY(m_app.write("old/one.dll", "1"));
        QVERIFY(m_app.write("old/two.dll", "2"));
        QVERIFY(writeFakeUpdater());
        m_hub->createUpdateWidget();
        QStringList* events = recordHub();
        m_hub->emitDownloadTessarkUpdateFile();
        QTRY_VERIFY_WITH_TIMEOUT(events->contains("busy 0"), 20000);
        QTest::qWait(50);
        QCOMPARE(*events, (QStringList{"busy 1", "progress 1", "number 3", "progress 1", "progress 2", "progress 3",
                                       "exit", "busy 0"}));
        QVERIFY(!QFileInfo::exists(path("old/one.dll")));
        QVERIFY(!QFileInfo::exists(path("old/two.dll")));
        QCOMPARE(readFile(path("UpgradeTessark/Windows/Tessark/Tessark/Tessark.exe.tessark")), QByteArray("new tool"));
        QCOMPARE(readFile(path("Upgrade/helper.cfg")), QByteArray("helper"));
        QCOMPARE(readFile(path("Upgrade/lib/u.so")), QByteArray("unpacked"));
        QVERIFY(!QFileInfo::exists(path("Upgrade/Upgrade.tessarkzip")));
        QVERIFY(!QFileInfo::exists(path(UpdaterSource)));

        const QStringList lines = recorded();
        QCOMPARE(lines.size(), 8);
        QVERIFY(lines.at(0).toLongLong() != QCoreApplication::applicationPid());
        const QString appDir = m_app.path() + "/";
        // Three downloads, two of them the updater's own.
        QCOMPARE(lines.mid(1), (QStringList{"upgrade", "1", appDir,
                                            QFileInfo(QCoreApplication::applicationFilePath()).fileName(),
                                            appDir + "UpgradeTessark/Windows/Tessark/Tessark/", appDir, "1"}));
    }

    void firmwareDownloadHidesTheDialogThenHandsOnTheFolder()
    {
        const QString model = "TK104 Dual";
        ServerRoot root;
        QVERIFY(root.put(firmwarePath(model, "/URLFile/FirmwareFileURL.xml").mid(1),
                         "<root><Firmware_FileURL>"
                         "<FileURL qv_usb_app=\"/usb app.bin\" qv_bt_app=\"/bt+app.bin\" qv_bt_sd=\"/sd.bin\"/>"
                         "</Firmware_FileURL></root>"));
        for (const char* image : {"/usb app.bin", "/bt+app.bin", "/sd.bin"})
            QVERIFY(root.put(firmwarePath(model, image).mid(1), QByteArray("image ") + image));
        sim::UpdateServers servers(root.dir.path(), Key);
        QVERIFY(startServers(servers));
        m_hub->setFirmwareInfo(model, "1.0.0", 1, "1.0.0", "1.0.0", "");
        m_hub->createUpdateWidget();
        m_hub->showUpdateWidget();
        QVERIFY(m_hub->updateWidget()->isVisible());
        QStringList* events = recordHub();
        m_hub->emitDownloadFirmwareUpdateFile();
        QTRY_VERIFY_WITH_TIMEOUT(events->contains("busy 0"), 20000);
        QTest::qWait(50);
        const QString folder = path("UpgradeFirmware/" + model);
        QCOMPARE(*events, (QStringList{"busy 1", "progress 1", "number 3", "progress 1", "progress 2", "progress 3",
                                       "update " + folder + " shown 0", "busy 0"}));
        QCOMPARE(readFile(folder + "/usb app.bin"), QByteArray("image /usb app.bin"));
        QCOMPARE(readFile(folder + "/bt+app.bin"), QByteArray("image /bt+app.bin"));
        QCOMPARE(readFile(folder + "/sd.bin"), QByteArray("image /sd.bin"));
        QVERIFY(!QFileInfo::exists(folder + "/URLFile"));
    }
};

QTEST_MAIN(UpdateModes)
#include "test_updatemodes.moc"
