// The online update's files: version files and the rule for a newer version, link files, the checks on
// server paths and board names, and the unpacking of updater archives.
#include "Update/downloadfile.h"
#include "Update/overallvariate.h"
#include "Update/serverpath.h"
#include "setting/Language.h"
#include "tempappdir.h"

#include <QtGui/private/qzipwriter_p.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QtTest>

#include <sys/stat.h>

// Sets the Unix mode every central directory entry of the archive at path carries.
static bool setStoredMode(const QString& path, quint32 mode)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray zip = f.readAll();
    const QByteArray signature("PK\x01\x02", 4);
    int changed = 0;
    for (int at = zip.indexOf(signature); at >= 0 && at + 46 <= zip.size(); at = zip.indexOf(signature, at + 4)) {
        zip[at + 40] = char(mode & 0xff);
        zip[at + 41] = char((mode >> 8) & 0xff);
        ++changed;
    }
    return changed > 0 && f.seek(0) && f.write(zip) == zip.size();
}

class UpdateFiles : public QObject {
    Q_OBJECT

    TempAppDir m_app;
    overallVariate* m_hub = nullptr;

    QString path(const QString& relative) const { return m_app.filePath(relative); }

    // A fresh archive at relative, built by fill.
    template <typename Fill>
    QString makeZip(const QString& relative, Fill fill)
    {
        const QString file = path(relative);
        QDir().mkpath(QFileInfo(file).path());
        QFile::remove(file);
        QZipWriter writer(file);
        fill(writer);
        writer.close();
        return file;
    }

private slots:
    void initTestCase()
    {
        qunsetenv("TESSARK_UPDATE_CONFIG");
        setAppDirPathForTest(m_app.path());
        g_language = new Language;
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
        m_hub = nullptr;
    }
    void cleanupTestCase()
    {
        delete g_language;
        g_language = nullptr;
        setAppDirPathForTest(QString());
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
        QTest::newRow("extra part") << "1.0.1" << "1.0" << true;
        QTest::newRow("leading zeros") << "1.010" << "1.9" << true;
        QTest::newRow("beyond 64 bits") << "99999999999999999999999.1" << "99999999999999999999998.9" << true;
        QTest::newRow("text part: plain comparison") << "1.0.10-b" << "1.0.9-a" << false;
        QTest::newRow("letters: plain comparison") << "1.0.b" << "1.0.a" << true;
        QTest::newRow("empty server version") << "" << "1.0.0" << false;
        QTest::newRow("nothing installed") << "1.0.0" << "" << true;
    }
    void versionsCompareNumericallyWhenAllPartsAreDecimal()
    {
        QFETCH(QString, server);
        QFETCH(QString, installed);
        QFETCH(bool, newer);
        QCOMPARE(DownloadFile::isNewerVersion(server, installed), newer);
    }

    void toolVersionFileOffersANewerVersion_data()
    {
        QTest::addColumn<QString>("installed");
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<int>("language");
        QTest::addColumn<bool>("newer");
        QTest::addColumn<QString>("text");
        const QByteArray texts = "ChineseUpdateInfo=修复问题\nEnglishUpdateInfo=Fixed things\n";
        QTest::newRow("newer, English") << "1.0.2" << "[TessarkVersion]\nVersion=1.0.3\n" + texts << 1 << true
                                        << "Fixed things";
        QTest::newRow("newer, Chinese") << "1.0.2" << "[TessarkVersion]\nVersion=1.0.3\n" + texts << 0 << true
                                        << QString::fromUtf8("修复问题");
        QTest::newRow("language 2 reads English") << "1.0.2" << "[TessarkVersion]\nVersion=1.0.3\n" + texts << 2
                                                  << true << "Fixed things";
        QTest::newRow("equal") << "1.0.3" << "[TessarkVersion]\nVersion=1.0.3\n" + texts << 1 << false << "";
        QTest::newRow("1.0.9 installed, 1.0.10 offered") << "1.0.9" << "[TessarkVersion]\nVersion=1.0.10\n" + texts
                                                         << 1 << true << "Fixed things";
        QTest::newRow("a comma in the text") << "1.0.2"
                                             << QByteArray("[TessarkVersion]\nVersion=1.0.3\nEnglishUpdateInfo=a, b\n")
                                             << 1 << true << "a, b";
        QTest::newRow("missing file") << "1.0.2" << QByteArray() << 1 << false << "";
    }
    void toolVersionFileOffersANewerVersion()
    {
        QFETCH(QString, installed);
        QFETCH(QByteArray, ini);
        QFETCH(int, language);
        QFETCH(bool, newer);
        QFETCH(QString, text);
        g_language->setLanguageType(language);
        const QString file = path("stage/TessarkVersion.ini");
        QFile::remove(file);
        if (!ini.isNull())
            QVERIFY(m_app.write("stage/TessarkVersion.ini", ini));
        DownloadFile worker;
        worker.setTessarkVersion(installed);
        QSignalSpy found(m_hub, &overallVariate::TessarkUpdateSignal);
        QSignalSpy info(m_hub, &overallVariate::setTessarkUpdateInfoSignal);
        worker.ReadVersionsFile(file);
        QCOMPARE(found.count(), 1);
        QCOMPARE(found.at(0).at(0).toBool(), newer);
        QCOMPARE(info.count(), newer ? 1 : 0);
        if (newer)
            QCOMPARE(info.at(0).at(0).toString(), text);
    }

    void versionFileThatIsNotARegularFileReadsAsMissing()
    {
        const QString fifo = path("stage/fifo.ini");
        QDir().mkpath(path("stage"));
        QVERIFY(QProcess::execute("mkfifo", {fifo}) == 0);
        DownloadFile worker;
        worker.setTessarkVersion("1.0.0");
        QSignalSpy found(m_hub, &overallVariate::TessarkUpdateSignal);
        worker.ReadVersionsFile(fifo); // would block forever if opened
        QCOMPARE(found.count(), 1);
        QCOMPARE(found.at(0).at(0).toBool(), false);
        QFile::remove(fifo);
    }

    void firmwareVersionFileComparesByModelType_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QStringList>("installed"); // USB app, BT app, SoftDevice
        QTest::addColumn<QStringList>("server");
        QTest::addColumn<bool>("newer");
        QTest::addColumn<QString>("text");
        QTest::newRow("USB only, newer") << 0 << QStringList{"1.2.3", "", ""} << QStringList{"1.2.4", "", ""}
                                         << true << "new firmware";
        QTest::newRow("USB only, equal") << 0 << QStringList{"1.2.3", "", ""} << QStringList{"1.2.3", "9", "9"}
                                         << false << "";
        QTest::newRow("USB only, 10.0.5 installed") << 0 << QStringList{"10.0.5", "", ""}
                                                    << QStringList{"9.9.9", "", ""} << false << "";
        QTest::newRow("dual, SoftDevice newer") << 1 << QStringList{"1.0.0", "2.0.0", "3.0.0"}
                                                << QStringList{"1.0.0", "2.0.0", "3.0.1"} << true << "new firmware";
        QTest::newRow("dual, Bluetooth app newer") << 1 << QStringList{"1.0.0", "2.0.0", "3.0.0"}
                                                   << QStringList{"1.0.0", "2.0.10", "3.0.0"} << true
                                                   << "new firmware";
        QTest::newRow("dual, all current") << 1 << QStringList{"1.0.0", "2.0.0", "3.0.0"}
                                           << QStringList{"1.0.0", "2.0.0", "3.0.0"} << false << "";
        QTest::newRow("unknown type") << 2 << QStringList{"1.0.0", "", ""} << QStringList{"2.0.0", "", ""} << false
                                      << "";
    }
    void firmwareVersionFileComparesByModelType()
    {
        QFETCH(int, type);
        QFETCH(QStringList, installed);
        QFETCH(QStringList, server);
        QFETCH(bool, newer);
        QFETCH(QString, text);
        m_hub->setFirmwareInfo("TK104", installed.at(0), type, installed.at(1), installed.at(2), "1.0");
        QVERIFY(m_app.write("stage/FirmwareVersion.ini",
                            "[FirmwareVersion]\nqv_usb_app_Version=" + server.at(0).toUtf8() + "\nqv_bt_app_Version="
                                + server.at(1).toUtf8() + "\nqv_bt_sd_Version=" + server.at(2).toUtf8()
                                + "\nChineseUpdateInfo=新固件\nEnglishUpdateInfo=new firmware\n"));
        DownloadFile worker;
        QSignalSpy found(m_hub, &overallVariate::FirmwareUpdateSignal);
        QSignalSpy info(m_hub, &overallVariate::setFirmwareUpdateInfoSignal);
        QSignalSpy errors(m_hub, &overallVariate::ErrorInfoSignal);
        worker.ReadFirmwareVersionsFile(path("stage/FirmwareVersion.ini"));
        QCOMPARE(errors.count(), 0);
        QCOMPARE(found.count(), 1);
        QCOMPARE(found.at(0).at(0).toBool(), newer);
        QCOMPARE(info.count(), newer ? 1 : 0);
        if (newer)
            QCOMPARE(info.at(0).at(0).toString(), text);
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
        QTest::newRow("dual mode: six in order") << 1
                                                 << QStringList{f + "/u1.bin", f + "/b1.bin", f + "/s1.bin",
                                                                f + "/u2.bin", f + "/b2.bin", f + "/s2.bin"};
        QTest::newRow("USB only") << 0 << QStringList{f + "/u1.bin", f + "/u2.bin"};
        QTest::newRow("other type: none") << 3 << QStringList{};
    }
    void firmwareLinkFileGivesImagesByModelType()
    {
        QFETCH(int, type);
        QFETCH(QStringList, links);
        m_hub->setFirmwareInfo("TK104 Dual", "1.0.0", type, "", "", "");
        QVERIFY(m_app.write("stage/FirmwareFileURL.xml",
                            "<root><Firmware_FileURL>"
                            "<FileURL qv_usb_app=\"/u1.bin\" qv_bt_app=\"/b1.bin\" qv_bt_sd=\"/s1.bin\"/>"
                            "<Note/>"
                            "<FileURL qv_usb_app=\"/u2.bin\" qv_bt_app=\"/b2.bin\" qv_bt_sd=\"/s2.bin\"/>"
                            "</Firmware_FileURL></root>"));
        DownloadFile worker;
        UrlInfo info;
        QVERIFY(worker.parseFirmwareUrlXml(info, path("stage/FirmwareFileURL.xml")));
        QCOMPARE(info.linkList, links);
    }

    void unreadableFirmwareLinkFileIsReported()
    {
        DownloadFile worker;
        QSignalSpy errors(m_hub, &overallVariate::ErrorInfoSignal);
        QSignalSpy busy(m_hub, &overallVariate::threadBusySignal);
        UrlInfo info;
        QVERIFY(!worker.parseFirmwareUrlXml(info, path("stage/none.xml")));
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QString::fromUtf8("读取xml错误"));
        QCOMPARE(busy.count(), 1);
        QCOMPARE(busy.at(0).at(0).toBool(), false);
    }

    void linksOutsideTheApplicationFolderAreUnsafe_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("safe");
        QTest::newRow("plain") << "/UpgradeTessark/Windows/Tessark/Tessark/Tessark.exe" << true;
        QTest::newRow("space and plus") << "/UpgradeFirmware/model a/x+y.bin" << true;
        QTest::newRow("empty (fails when fetched)") << "" << true;
        QTest::newRow("dots inside a name") << "/a/b..c/d" << true;
        QTest::newRow("dot segment") << "/a/./b" << true;
        QTest::newRow("dot-dot segment") << "/a/../b" << false;
        QTest::newRow("dot-dot leaving") << "/../../etc/x" << false;
        QTest::newRow("trailing dot-dot") << "/a/.." << false;
        QTest::newRow("backslash") << "/a\\b" << false;
        QTest::newRow("colon") << "/C:/x" << false;
        QTest::newRow("newline") << "/a\nb" << false;
        QTest::newRow("NUL") << QString("/a") + QChar(0) + "b" << false;
        QTest::newRow("DEL") << "/a\x7f" << false;
        QTest::newRow("no leading slash: a sibling folder") << "x/y" << false;
    }
    void linksOutsideTheApplicationFolderAreUnsafe()
    {
        QFETCH(QString, link);
        QFETCH(bool, safe);
        QCOMPARE(ServerPath::isSafeLink(link, m_app.path()), safe);
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
        QTest::newRow("NUL first") << QString(QChar(0)) + "TK" << "" << false;
        QTest::newRow("slash") << "a/b" << "a/b" << false;
        QTest::newRow("backslash") << "a\\b" << "a\\b" << false;
        QTest::newRow("colon") << "a:b" << "a:b" << false;
        QTest::newRow("dot-dot") << ".." << ".." << false;
        QTest::newRow("dot-dot inside") << "a..b" << "a..b" << false;
        QTest::newRow("control character") << "a\tb" << "a\tb" << false;
    }
    void boardNamesAreCutAndChecked()
    {
        QFETCH(QString, reported);
        QFETCH(QString, cut);
        QFETCH(bool, safe);
        QCOMPARE(ServerPath::cutBoardName(reported), cut);
        QCOMPARE(ServerPath::isSafeBoardName(ServerPath::cutBoardName(reported)), safe);
    }

    void archivesUnpackOnlyInsideTheirFolder_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("unpacks");
        QTest::addColumn<QStringList>("present"); // below the destination, after the call
        QTest::addColumn<QStringList>("absent");  // below the app dir, after the call
        QTest::newRow("files and folders") << "plain" << true << QStringList{"dest/a.txt", "dest/d/b.txt", "dest/e"}
                                           << QStringList{};
        QTest::newRow("file whose folder has no entry") << "nofolder" << true << QStringList{"dest/x/y/z.txt"}
                                                        << QStringList{};
        QTest::newRow("a/../../x") << "dotdot" << false << QStringList{} << QStringList{"x", "dest/a"};
        QTest::newRow("absolute entry") << "absolute" << false << QStringList{}
                                        << QStringList{"dest/abs", "dest/ok.txt"};
        QTest::newRow("leading ../") << "leading" << false << QStringList{} << QStringList{"dest/y", "y"};
        QTest::newRow("link entry") << "symlink" << false << QStringList{} << QStringList{"dest/lnk", "dest/f.txt"};
        QTest::newRow("backslash entry") << "backslash" << false << QStringList{} << QStringList{"dest/a\\b"};
        QTest::newRow("existing link on the way") << "existinglink" << false << QStringList{}
                                                  << QStringList{"outside/p.txt"};
        QTest::newRow("not an archive") << "garbage" << false << QStringList{} << QStringList{};
    }
    void archivesUnpackOnlyInsideTheirFolder()
    {
        QFETCH(QString, kind);
        QFETCH(bool, unpacks);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        QDir(path("dest")).removeRecursively();
        QDir(path("outside")).removeRecursively();
        QFile::remove(path("x"));
        QFile::remove(path("y"));
        QDir().mkpath(path("dest"));
        QString zip;
        if (kind == "garbage") {
            QVERIFY(m_app.write("zips/garbage.tessarkzip", "PK not really"));
            zip = path("zips/garbage.tessarkzip");
        } else {
            zip = makeZip("zips/" + kind + ".tessarkzip", [&](QZipWriter& w) {
                if (kind == "plain") {
                    w.addFile("a.txt", "A");
                    w.addDirectory("d");
                    w.addFile("d/b.txt", "B");
                    w.addDirectory("e");
                } else if (kind == "nofolder") {
                    w.addFile("x/y/z.txt", "Z");
                } else if (kind == "dotdot") {
                    w.addFile("a/../../x", "out");
                } else if (kind == "absolute") {
                    w.addFile("ok.txt", "fine");
                    w.addFile("/abs/x", "abs");
                } else if (kind == "leading") {
                    w.addFile("../y", "up");
                } else if (kind == "symlink") {
                    w.addSymLink("lnk", m_app.path());
                    w.addFile("f.txt", "F");
                } else if (kind == "backslash") {
                    w.addFile("a\\b", "B");
                } else if (kind == "existinglink") {
                    w.addFile("p/p.txt", "through the link");
                }
            });
        }
        if (kind == "existinglink") {
            QDir().mkpath(path("outside"));
            QVERIFY(QFile::link(path("outside"), path("dest/p")));
        }
        DownloadFile worker;
        QCOMPARE(worker.unzipFile(zip, path("dest"), true), unpacks);
        for (const QString& p : present)
            QVERIFY2(QFileInfo::exists(path(p)), qPrintable(p));
        for (const QString& p : absent)
            QVERIFY2(!QFileInfo::exists(path(p)), qPrintable(p));
        if (kind == "plain")
            QCOMPARE(readFile(path("dest/d/b.txt")), QByteArray("B"));
        if (kind == "symlink")
            QCOMPARE(QDir(path("dest")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                     QStringList{});
    }

    void archiveReplacesExistingFilesKeepingRwxBitsOnly()
    {
        QDir(path("dest")).removeRecursively();
        QVERIFY(m_app.write("dest/tool.bin", "old"));
        QFile::setPermissions(path("dest/tool.bin"), QFile::ReadOwner);
        const QString zip = makeZip("zips/perm.tessarkzip", [](QZipWriter& w) { w.addFile("tool.bin", "new"); });
        // setuid, setgid and sticky on top of rwxr-x---.
        QVERIFY(setStoredMode(zip, 0107750));
        DownloadFile worker;
        QVERIFY(worker.unzipFile(zip, path("dest"), true));
        QCOMPARE(readFile(path("dest/tool.bin")), QByteArray("new"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path("dest/tool.bin")).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0750));
    }
};

QTEST_MAIN(UpdateFiles)
#include "test_updatefiles.moc"
