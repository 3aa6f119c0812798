// The online update's files: version files and the rule for a newer version, link files, the checks on
// server paths and board names, and the unpacking of updater archives.
#include "Update/downloadfile.h"
#include "Update/overallvariate.h"
#include "Update/serverpath.h"
#include "platform/updaternames.h"
#include "setting/Language.h"
#include "tempappdir.h"

#include <QtGui/private/qzipwriter_p.h>

#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include <sys/stat.h>

// Sets the Unix mode every central directory entry of the archive at path carries.
static bool setStoredMode(const QString& path, quint32 mode)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray zip = f.readAll();
    const QByteArray signature("PK\x01\x02", 4);
    for (int at = zip.indexOf(signature); at >= 0 && at + 46 <= zip.size(); at = zip.indexOf(signature, at + 4)) {
        zip[at + 40] = char(mode & 0xff);
        zip[at + 41] = char((mode >> 8) & 0xff);
    }
    return f.seek(0) && f.write(zip) == zip.size();
}

class UpdateFiles : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    std::unique_ptr<Language> m_language; // made once the application folder is set: it keeps its file's path
    overallVariate* m_hub = nullptr;

    QString path(const QString& relative) const { return m_app.filePath(relative); }

private slots:
    void initTestCase()
    {
        qunsetenv("TESSARK_UPDATE_CONFIG");
        setAppDirPathForTest(m_app.path());
        m_language = std::make_unique<Language>();
        g_language = m_language.get();
    }
    void init()
    {
        m_hub = new overallVariate;
        g_overallVariate = m_hub;
        g_language->setLanguageType(1);
    }
    void cleanup()
    {
        g_overallVariate = nullptr;
        delete m_hub;
    }

    void versionsCompareNumericallyWhenAllPartsAreDecimal_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("installed");
        QTest::addColumn<bool>("newer");
        QTest::newRow("next patch") << "1.0.3" << "1.0.2" << true;
        QTest::newRow("equal") << "1.0.3" << "1.0.3" << false;
        QTest::newRow("two digits after one") << "1.0.10" << "1.0.9" << true;
        QTest::newRow("one digit after two") << "1.0.9" << "1.0.10" << false;
        QTest::newRow("installed 10.0.5, server 9.9.9") << "9.9.9" << "10.0.5" << false;
        QTest::newRow("missing part counts 0") << "1.0" << "1.0.0" << false;
        QTest::newRow("beyond 64 bits") << "99999999999999999999999.1" << "99999999999999999999998.9" << true;
        QTest::newRow("text part: plain comparison") << "1.0.10-b" << "1.0.9-a" << false;
        QTest::newRow("empty server version") << "" << "1.0.0" << false;
    }
    void versionsCompareNumericallyWhenAllPartsAreDecimal()
    {
        QFETCH(QString, server);
        QFETCH(QString, installed);
        QTEST(DownloadFile::isNewerVersion(server, installed), "newer");
    }

    void toolVersionFileOffersANewerVersion_data()
    {
        QTest::addColumn<QString>("installed");
        QTest::addColumn<QByteArray>("ini"); // null: no file; "FIFO": a named pipe
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("text"); // null: not newer
        const QByteArray v103 = "[TessarkVersion]\nVersion=1.0.3\nChineseUpdateInfo=修复问题\nEnglishUpdateInfo=Fixed things\n";
        QTest::newRow("newer, English") << "1.0.2" << v103 << 1 << "Fixed things";
        QTest::newRow("newer, Chinese") << "1.0.2" << v103 << 0 << QString::fromUtf8("修复问题");
        QTest::newRow("language 2 reads English") << "1.0.2" << v103 << 2 << "Fixed things";
        QTest::newRow("equal") << "1.0.3" << v103 << 1 << QString();
        QTest::newRow("1.0.9 installed, 1.0.10 offered")
            << "1.0.9" << QByteArray("[TessarkVersion]\nVersion=1.0.10\nEnglishUpdateInfo=ten\n") << 1 << "ten";
        QTest::newRow("missing file") << "1.0.2" << QByteArray() << 1 << QString();
        QTest::newRow("named pipe") << "1.0.2" << QByteArray("FIFO") << 1 << QString();
    }
    void toolVersionFileOffersANewerVersion()
    {
        QFETCH(QString, installed);
        QFETCH(QByteArray, ini);
        QFETCH(int, language);
        QFETCH(QString, text);
        g_language->setLanguageType(language);
        const QString file = path("stage/TessarkVersion.ini");
        QFile::remove(file);
        if (ini == "FIFO")
            QVERIFY(mkfifo(QFile::encodeName(file).constData(), 0600) == 0); // would block if opened
        else if (!ini.isNull())
            QVERIFY(m_app.write("stage/TessarkVersion.ini", ini));
        DownloadFile worker;
        worker.setTessarkVersion(installed);
        QSignalSpy found(m_hub, &overallVariate::TessarkUpdateSignal);
        QSignalSpy info(m_hub, &overallVariate::setTessarkUpdateInfoSignal);
        worker.ReadVersionsFile(file);
        QCOMPARE(found, QList<QList<QVariant>>{{!text.isNull()}});
        QCOMPARE(info, text.isNull() ? QList<QList<QVariant>>{} : QList<QList<QVariant>>{{text}});
    }

    void firmwareVersionFileComparesByModelType_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("installed"); // USB app, BT app, SoftDevice
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("newer");
        QTest::newRow("USB only, newer") << 0 << "1.2.3,," << "1.2.4,," << true;
        QTest::newRow("USB only, equal") << 0 << "1.2.3,," << "1.2.3,9,9" << false;
        QTest::newRow("USB only, 10.0.5 installed") << 0 << "10.0.5,," << "9.9.9,," << false;
        QTest::newRow("dual, SoftDevice newer") << 1 << "1.0.0,2.0.0,3.0.0" << "1.0.0,2.0.0,3.0.1" << true;
        QTest::newRow("dual, Bluetooth app newer") << 1 << "1.0.0,2.0.0,3.0.0" << "1.0.0,2.0.10,3.0.0" << true;
        QTest::newRow("dual, all current") << 1 << "1.0.0,2.0.0,3.0.0" << "1.0.0,2.0.0,3.0.0" << false;
    }
    void firmwareVersionFileComparesByModelType()
    {
        QFETCH(int, type);
        QFETCH(QString, installed);
        QFETCH(QString, server);
        QFETCH(bool, newer);
        const QStringList have = installed.split(','), offered = server.split(',');
        m_hub->setFirmwareInfo("TK104", have.at(0), type, have.at(1), have.at(2), "1.0");
        QVERIFY(m_app.write("stage/FirmwareVersion.ini",
                            QString("[FirmwareVersion]\nqv_usb_app_Version=%1\nqv_bt_app_Version=%2\nqv_bt_sd_Version=%3\n"
                                    "ChineseUpdateInfo=新固件\nEnglishUpdateInfo=new firmware\n")
                                .arg(offered.at(0), offered.at(1), offered.at(2)).toUtf8()));
        DownloadFile worker;
        QSignalSpy found(m_hub, &overallVariate::FirmwareUpdateSignal);
        QSignalSpy info(m_hub, &overallVariate::setFirmwareUpdateInfoSignal);
        worker.ReadFirmwareVersionsFile(path("stage/FirmwareVersion.ini"));
        QCOMPARE(found, QList<QList<QVariant>>{{newer}});
        QCOMPARE(info, newer ? QList<QList<QVariant>>{{"new firmware"}} : QList<QList<QVariant>>{});
    }

    void toolLinkFileListsTheRunningVersionsEntries()
    {
        QVERIFY(m_app.write("stage/TessarkFileURL.xml",
                            "<root>"
                            "<tools_FileURL_1.0.2><FileURL url=\"/a/one.exe\"/><Other url=\"/skip\"/>"
                            "<FileURL url=\"/a/two.dll\"/></tools_FileURL_1.0.2>"
                            "<tools_FileURL_1.0.3><FileURL url=\"/b/three\"/></tools_FileURL_1.0.3>"
                            "<tools_DeleteFile_1.0.2><FileURL url=\"/old.dll\"/></tools_DeleteFile_1.0.2>"
                            "<tools_DeleteFile_1.0.3><FileURL url=\"/keep.dll\"/></tools_DeleteFile_1.0.3>"
                            "<tools_info><English synopsis=\"english\"/><Chinese synopsis=\"中文\"/></tools_info>"
                            "</root>"));
        DownloadFile worker;
        worker.setTessarkVersion("1.0.2");
        UrlInfo info;
        QVERIFY(worker.parseTessrakUrlXml(info, path("stage/TessarkFileURL.xml")));
        QCOMPARE(info.linkList, (QStringList{"/a/one.exe", "/a/two.dll"}));
        QCOMPARE(info.deleteList, QStringList{"/old.dll"});
        QCOMPARE(info.synopsis, QString::fromUtf8("中文"));
    }

    void firmwareLinkFileGivesImagesByModelType_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QStringList>("links");
        const QString f = "/UpgradeFirmware/TK104 Dual";
        QTest::newRow("dual mode: six in order")
            << 1 << QStringList{f + "/u1.bin", f + "/b1.bin", f + "/s1.bin", f + "/u2.bin", f + "/b2.bin", f + "/s2.bin"};
        QTest::newRow("USB only") << 0 << QStringList{f + "/u1.bin", f + "/u2.bin"};
        QTest::newRow("other type: none") << 3 << QStringList{};
    }
    void firmwareLinkFileGivesImagesByModelType()
    {
        QFETCH(int, type);
        m_hub->setFirmwareInfo("TK104 Dual", "1.0.0", type, "", "", "");
        QVERIFY(m_app.write("stage/FirmwareFileURL.xml",
                            "<root><Firmware_FileURL>"
                            "<FileURL qv_usb_app=\"/u1.bin\" qv_bt_app=\"/b1.bin\" qv_bt_sd=\"/s1.bin\"/><Note/>"
                            "<FileURL qv_usb_app=\"/u2.bin\" qv_bt_app=\"/b2.bin\" qv_bt_sd=\"/s2.bin\"/>"
                            "</Firmware_FileURL></root>"));
        DownloadFile worker;
        UrlInfo info;
        QVERIFY(worker.parseFirmwareUrlXml(info, path("stage/FirmwareFileURL.xml")));
        QTEST(info.linkList, "links");
    }

    void boardNamesAreCutAndChecked_data()
    {
        QTest::addColumn<QString>("reported");
        QTest::addColumn<QString>("cut");
        QTest::addColumn<bool>("safe");
        QTest::newRow("plain") << "TK104 Dual" << "TK104 Dual" << true;
        QTest::newRow("NUL ends it") << QString("TK104") + QChar(0) + "junk" << "TK104" << true;
        QTest::newRow("16 bytes at most") << "ABCDEFGHIJKLMNOPQRST" << "ABCDEFGHIJKLMNOP" << true;
        QTest::newRow("no half character") << QString::fromUtf8("ABCDEFGHIJKLMNO键") << "ABCDEFGHIJKLMNO" << true;
        QTest::newRow("empty") << "" << "" << false;
        QTest::newRow("slash") << "a/b" << "a/b" << false;
        QTest::newRow("backslash") << "a\\b" << "a\\b" << false;
        QTest::newRow("colon") << "a:b" << "a:b" << false;
        QTest::newRow("dot-dot inside") << "a..b" << "a..b" << false;
        QTest::newRow("control character") << "a\tb" << "a\tb" << false;
    }
    void boardNamesAreCutAndChecked()
    {
        QFETCH(QString, reported);
        QFETCH(QString, cut);
        QCOMPARE(ServerPath::cutBoardName(reported), cut);
        QTEST(ServerPath::isSafeBoardName(cut), "safe");
    }

    // Tool files only below UpgradeTessark/, images only below their model's folder, and no delete entry
    // naming the user's own files, however the path is spelt.
    void serverPathsKeepToTheirRole_data()
    {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("accepted");
        const QString keyboard = "/0123456789abcdef01234567";
        QTest::newRow("tool program") << "tool" << "/UpgradeTessark/Windows/Tessark/Tessark/Tessark.exe" << true;
        QTest::newRow("tool: the staging folder itself") << "tool" << "/UpgradeTessark/" << false;
        QTest::newRow("tool: a look-alike folder") << "tool" << "/UpgradeTessarkX/a.dll" << false;
        QTest::newRow("tool: empty segment") << "tool" << "/UpgradeTessark//a.dll" << false;
        QTest::newRow("tool: empty") << "tool" << "" << false;
        QTest::newRow("image of the model") << "firmware" << "/UpgradeFirmware/TK104 Dual/usb app.bin" << true;
        QTest::newRow("image of another model") << "firmware" << "/UpgradeFirmware/TK87/u.bin" << false;
        QTest::newRow("the model folder itself") << "firmware" << "/UpgradeFirmware/TK104 Dual" << false;
        QTest::newRow("delete an old library") << "delete" << "/old/one.dll" << true;
        QTest::newRow("delete a description file") << "delete" << "/config/config.xml" << true;
        QTest::newRow("delete in a folder one digit short of a keyboard's")
            << "delete" << "/0123456789abcdef0123456/x" << true;
        QTest::newRow("delete a keyboard's folder") << "delete" << keyboard << false;
        QTest::newRow("delete in a keyboard's folder, capitals") << "delete" << keyboard.toUpper() + "/shortcuts.xml" << false;
        QTest::newRow("delete a log file") << "delete" << "/log/2024-03-15.txt" << false;
        QTest::newRow("delete the custom colours") << "delete" << "/config/customcolor/color_btn_32.json" << false;
        QTest::newRow("delete the update setting") << "delete" << "/config/AutoUpdate.xml" << false;
        QTest::newRow("delete the language") << "delete" << "/config/Language.xml" << false;
        QTest::newRow("delete the remembered firmware folder") << "delete" << "/config/temp/temp.xml" << false;
        QTest::newRow("delete a kept unreadable copy") << "delete" << "/config/menutree.xml.bad" << false;
        QTest::newRow("delete a later kept copy") << "delete" << "/config/Language.xml.bad.2" << false;
        QTest::newRow("delete the menu, dot and capitals") << "delete" << "/config/./MENUTREE.XML" << false;
        QTest::newRow("delete the menu, trailing dot and space") << "delete" << "/config//menutree.xml. " << false;
        QTest::newRow("delete a possible short name") << "delete" << "/config/MENUTR~1.XML" << false;
        // Installed from the staged tool folder, a tool file lands where the delete list may not reach.
        const QString staged = "/UpgradeTessark/Windows/Tessark/Tessark";
        QTest::newRow("tool: the version file") << "tool" << staged + "/config/about.xml" << true;
        QTest::newRow("tool: a description file") << "tool" << staged + "/config/config.xml" << true;
        QTest::newRow("tool: a folder named like the log") << "tool" << staged + "/logs/a.txt" << true;
        QTest::newRow("tool: the updater's own log folder")
            << "tool" << "/UpgradeTessark/Windows/Tessark/Upgrade/log/a" << true;
        QTest::newRow("tool: a staged look-alike folder")
            << "tool" << "/UpgradeTessark/Windows/Tessark/Tessark2/log/a" << true;
        QTest::newRow("tool: into the custom colours") << "tool" << staged + "/config/customcolor/color_btn_32.json" << false;
        QTest::newRow("tool: into a keyboard's folder") << "tool" << staged + keyboard + "/shortcuts.xml" << false;
        QTest::newRow("tool: into the log") << "tool" << staged + "/log/2024-03-15.txt" << false;
        QTest::newRow("tool: over the menu") << "tool" << staged + "/config/menutree.xml" << false;
        QTest::newRow("tool: an executable into the log") << "tool" << staged + "/log/x.exe" << false;
        QTest::newRow("tool: staged folder in capitals, trailing dot")
            << "tool" << "/UpgradeTessark/WINDOWS/Tessark/TESSARK./config/AutoUpdate.xml" << false;
        QTest::newRow("tool: staged folder by a short name")
            << "tool" << "/UpgradeTessark/Windows/TESSAR~1/Tessark/log/a" << false;
        // What the tool needs to start and to update itself again.
        QTest::newRow("delete the program") << "delete" << "/Tessark.exe" << false;
        QTest::newRow("delete the program, capitals") << "delete" << "/TESSARK.EXE" << false;
        QTest::newRow("delete the updater folder") << "delete" << "/Upgrade" << false;
        QTest::newRow("delete the updater") << "delete" << "/Upgrade/Upgrade.exe" << false;
        QTest::newRow("delete the version file") << "delete" << "/config/about.xml" << false;
        QTest::newRow("delete the server settings") << "delete" << "/config/UpdateServer.ini" << false;
        QTest::newRow("delete the old program") << "delete" << "/Tessark.exe.old" << true;
        QTest::newRow("delete a look-alike updater folder") << "delete" << "/Upgrades/x.dll" << true;
        QTest::newRow("delete beside the version file") << "delete" << "/config/about.xml.old" << true;
        // The lock the tool's running copy holds in the application folder.
        QTest::newRow("tool: over the tool's instance lock") << "tool" << staged + "/" + UpdaterNames::instanceLock() << false;
        QTest::newRow("tool: over the instance lock, capitals") << "tool" << staged + "/" + UpdaterNames::instanceLock().toUpper() << false;
        QTest::newRow("delete the tool's instance lock") << "delete" << "/" + UpdaterNames::instanceLock() << false;
    }
    void serverPathsKeepToTheirRole()
    {
        QFETCH(QString, role);
        QFETCH(QString, path);
        const bool accepted = role == "tool"       ? ServerPath::isToolLink(path, m_app.path())
                              : role == "firmware" ? ServerPath::isFirmwareLink(path, "TK104 Dual", m_app.path())
                                                   : ServerPath::isDeletableEntry(path, m_app.path(), "Tessark.exe");
        QTEST(accepted, "accepted");
    }

    // A write below the application folder goes through no linked folder; above it, links are the
    // system's own.
    void linkedFoldersOnTheWayAreFound_data()
    {
        QTest::addColumn<QString>("folder"); // relative to the application folder
        QTest::addColumn<QString>("linked"); // relative; empty: none
        QTest::newRow("plain folders") << "plain/a/b" << QString();
        QTest::newRow("folders not made yet") << "plain/new/newer" << QString();
        QTest::newRow("the folder itself") << "plain/link" << "plain/link";
        QTest::newRow("a folder on the way") << "plain/link/c/d" << "plain/link";
        QTest::newRow("the application folder") << "." << QString();
        QTest::newRow("outside the application folder") << ".." << QString();
    }
    void linkedFoldersOnTheWayAreFound()
    {
        QFETCH(QString, folder);
        QFETCH(QString, linked);
        QVERIFY(QDir().mkpath(path("plain/a/b")) && QDir().mkpath(path("elsewhere/c/d")));
        QVERIFY(QFileInfo(path("plain/link")).isSymLink() || QFile::link(path("elsewhere"), path("plain/link")));
        QCOMPARE(ServerPath::linkedFolder(path(folder), m_app.path()), linked.isEmpty() ? QString() : path(linked));
    }

    // An archive unpacked into a folder reached through a link would land wherever the link points.
    void archivesUnpackThroughNoLinkedFolder_data()
    {
        QTest::addColumn<QString>("link"); // made a link to outside/
        QTest::addColumn<QString>("dest");
        QTest::newRow("the destination itself") << "dest" << "dest";
        QTest::newRow("a folder above the destination") << "up" << "up/dest";
    }
    void archivesUnpackThroughNoLinkedFolder()
    {
        QFETCH(QString, link);
        QFETCH(QString, dest);
        for (const char* folder : {"dest", "up", "outside", "zips"}) {
            QFile::remove(path(folder));
            QDir(path(folder)).removeRecursively();
        }
        QVERIFY(QDir().mkpath(path("outside/dest")) && QDir().mkpath(path("zips")));
        QVERIFY(QFile::link(path("outside"), path(link)));
        const QString zip = path("zips/a.tessarkzip");
        {
            QZipWriter w(zip);
            w.addFile("Upgrade", "updater");
        }
        DownloadFile worker;
        QVERIFY(!worker.unzipFile(zip, path(dest), true));
        QCOMPARE(QDir(path("outside")).entryList(QDir::Files), QStringList{});
        QCOMPARE(QDir(path("outside/dest")).entryList(QDir::Files), QStringList{});
    }

    // Every entry is checked before anything is written; files keep their rwx bits only. Entries are
    // "name=content", "folder/" or "link@" (a link to the application folder).
    void archivesUnpackOnlyInsideTheirFolder_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<bool>("unpacks");
        QTest::addColumn<QStringList>("present"); // below the app dir, after the call
        QTest::addColumn<QStringList>("absent");
        QTest::newRow("files and folders") << QStringList{"a.txt=A", "d/", "d/b.txt=B", "e/"} << true
                                           << QStringList{"dest/a.txt", "dest/d/b.txt", "dest/e"} << QStringList{};
        QTest::newRow("file whose folder has no entry") << QStringList{"x/y/z.txt=Z"} << true
                                                        << QStringList{"dest/x/y/z.txt"} << QStringList{};
        QTest::newRow("setuid bits dropped, existing file replaced") << QStringList{"tool.bin=new"} << true
                                                                     << QStringList{"dest/tool.bin"} << QStringList{};
        QTest::newRow("a/../../x") << QStringList{"a/../../x=out"} << false << QStringList{} << QStringList{"x", "dest/a"};
        QTest::newRow("absolute entry") << QStringList{"ok.txt=fine", "/abs/x=abs"} << false << QStringList{}
                                        << QStringList{"dest/abs", "dest/ok.txt"};
        QTest::newRow("leading ../") << QStringList{"../y=up"} << false << QStringList{} << QStringList{"dest/y", "y"};
        QTest::newRow("link entry") << QStringList{"lnk@", "f.txt=F"} << false << QStringList{}
                                    << QStringList{"dest/lnk", "dest/f.txt"};
        QTest::newRow("backslash entry") << QStringList{"a\\b=B"} << false << QStringList{} << QStringList{"dest/a\\b"};
        QTest::newRow("existing link on the way") << QStringList{"p/p.txt=x"} << false << QStringList{}
                                                  << QStringList{"outside/p.txt"};
        QTest::newRow("not an archive") << QStringList{} << false << QStringList{} << QStringList{};
    }
    void archivesUnpackOnlyInsideTheirFolder()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        const QByteArray tag = QTest::currentDataTag();
        for (const char* folder : {"dest", "outside", "zips"})
            QDir(path(folder)).removeRecursively();
        QFile::remove(path("x"));
        QFile::remove(path("y"));
        QVERIFY(QDir().mkpath(path("dest")) && QDir().mkpath(path("zips")) && QDir().mkpath(path("outside")));
        const QString zip = path("zips/a.tessarkzip");
        {
            QZipWriter w(zip);
            for (const QString& e : entries) {
                if (e.endsWith('/'))
                    w.addDirectory(e);
                else if (e.endsWith('@'))
                    w.addSymLink(e.chopped(1), m_app.path());
                else
                    w.addFile(e.section('=', 0, 0), e.section('=', 1).toUtf8());
            }
        }
        if (tag == "not an archive")
            QVERIFY(m_app.write("zips/a.tessarkzip", "PK not really"));
        if (tag == "existing link on the way")
            QVERIFY(QFile::link(path("outside"), path("dest/p")));
        if (tag.startsWith("setuid")) {
            QVERIFY(m_app.write("dest/tool.bin", "old") && QFile::setPermissions(path("dest/tool.bin"), QFile::ReadOwner));
            QVERIFY(setStoredMode(zip, 0107750)); // setuid, setgid and sticky on top of rwxr-x---
        }
        DownloadFile worker;
        QTEST(worker.unzipFile(zip, path("dest"), true), "unpacks");
        for (const QString& p : present)
            QVERIFY2(QFileInfo::exists(path(p)), qPrintable(p));
        for (const QString& p : absent)
            QVERIFY2(!QFileInfo::exists(path(p)), qPrintable(p));
        if (tag == "files and folders")
            QCOMPARE(readFile(path("dest/d/b.txt")), QByteArray("B"));
        if (tag == "link entry")
            QCOMPARE(QDir(path("dest")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System), QStringList{});
        if (tag.startsWith("setuid")) {
            QCOMPARE(readFile(path("dest/tool.bin")), QByteArray("new"));
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(path("dest/tool.bin")).constData(), &st), 0);
            QCOMPARE(st.st_mode & 07777, mode_t(0750));
        }
    }
};

QTEST_MAIN(UpdateFiles)
#include "test_updatefiles.moc"
