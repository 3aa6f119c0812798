// The hand-over's refresh of the updater folder from a downloaded archive: the new folder is unpacked
// beside the old one and takes its place only when whole; unpacked files are writable by their owner
// alone; a name with a control character refuses the archive. The one copy of the updater is never lost.
#include "Update/downloadfile.h"
#include "Update/safeunzip.h"
#include "platform/filesizelimit.h"
#include "messageboxrecorder.h"
#include "tempappdir.h"
#include "widget/qss.h"
#include "zipbuilder.h"
#include "timescale.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(QVector<ZipItem>)

namespace {

// The bytes the calling thread has read so far, by its own count of read calls (cached pages too).
qint64 threadReadBytes()
{
    QFile io(QStringLiteral("/proc/thread-self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : io.readAll().split('\n'))
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    return -1;
}

const QString Source = QStringLiteral("UpgradeTessark/Windows/Tessark/Upgrade/");

ZipItem file(const QString& name, const QByteArray& content)
{
    ZipItem item;
    item.name = name;
    item.content = content;
    return item;
}

int modeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Every file below dir with its content, sorted by name.
QStringList filesWithContent(const QString& dir)
{
    QStringList found;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        found << QDir(dir).relativeFilePath(path) + '=' + QString::fromUtf8(readFile(path));
    }
    found.sort();
    return found;
}

// Gives the named entries of a written archive these Unix mode bits in its central directory.
bool setModes(const QString& zip, const QMap<QString, int>& modes)
{
    QFile f(zip);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = f.readAll();
    auto u16 = [&](int at) { return int(uchar(bytes.at(at))) | int(uchar(bytes.at(at + 1))) << 8; };
    auto u32 = [&](int at) { return quint32(u16(at)) | quint32(u16(at + 2)) << 16; };
    const int end = bytes.lastIndexOf(QByteArray("PK\x05\x06", 4));
    if (end < 0)
        return false;
    int pos = int(u32(end + 16));
    for (int n = u16(end + 10); n > 0; --n) {
        const int nameLength = u16(pos + 28);
        const QString name = QString::fromUtf8(bytes.mid(pos + 46, nameLength));
        if (modes.contains(name)) {
            const quint32 attributes = quint32(0100000 | modes.value(name)) << 16;
            for (int i = 0; i < 4; ++i)
                bytes[pos + 38 + i] = char(attributes >> (8 * i));
        }
        pos += 46 + nameLength + u16(pos + 30) + u16(pos + 32);
    }
    return f.seek(0) && f.write(bytes) == bytes.size();
}

} // namespace

class UpdaterArchive : public QObject {
    Q_OBJECT
    std::unique_ptr<TempAppDir> m_app;
    MessageBoxRecorder m_boxes;

    QString path(const QString& relative) const { return m_app->filePath(relative); }
    // What the user is told of an updater program that is not as it was put in place.
    QString damagedUpdaterBox() const
    {
        return QStringLiteral("An update was not installed: the updater %1 is not as it was when it was put in "
                              "place (it is damaged or was changed), so it was not started.\n\n"
                              "Delete the folder %2, install Tessark again, then look for the update again.")
            .arg(path("Upgrade/Upgrade"), path("Upgrade"));
    }
    // The updater folder and whatever the refresh put beside it.
    QStringList updaterFolders() const
    {
        return QDir(m_app->path()).entryList({"Upgrade", "Upgrade.*", ".Upgrade*"}, QDir::AllEntries | QDir::Hidden);
    }

    // An installed updater (its program 0755 and a library) and a downloaded updater archive.
    bool install(const QVector<ZipItem>& archive)
    {
        m_app.reset(new TempAppDir);
        setAppDirPathForTest(m_app->path());
        return m_app->write("Upgrade/Upgrade", "old updater") && m_app->write("Upgrade/lib.so", "old lib")
               && QFile::setPermissions(path("Upgrade/Upgrade"), QFile::permissions(path("Upgrade/Upgrade"))
                                                                   | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther)
               && m_app->write(Source + "helper.cfg", "helper") && m_app->write(Source + ".hidden.cfg", "hidden")
               && writeZip(path(Source + "Upgrade.tessarkzip"), archive);
    }

private slots:
    // The hand-over runs in this process: a write past the size limit fails as in the tool.
    void initTestCase() { FileSizeLimit::failWritesInsteadOfSignal(); }
    void cleanup()
    {
        DownloadFile::setDigestReadHookForTest(nullptr);
        m_app.reset();
        m_boxes.clear();
    }

    void aFailedUnpackLeavesTheOldUpdaterWhole_data()
    {
        QTest::addColumn<QVector<ZipItem>>("entries"); // after the new updater program
        QTest::addColumn<bool>("sizeLimit");           // no file may grow past 64 KiB, as on a full disk
        QTest::addColumn<bool>("program");             // the archive and the updater folder hold the program
        QTest::newRow("a file and a folder of one name")
            << QVector<ZipItem>{file("x", "file"), file("x/y", "in the folder")} << false << true;
        QTest::newRow("a name over the file system's limit")
            << QVector<ZipItem>{file(QString(300, QLatin1Char('n')), "long")} << false << true;
        ZipItem large = file("large.bin", QByteArray(1024 * 1024, '\0'));
        QTest::newRow("disk full under a size limit") << QVector<ZipItem>{large} << true << true;
        ZipItem bomb = large;
        bomb.declaredSize = 100;
        QTest::newRow("an entry that lies about its size") << QVector<ZipItem>{bomb} << false << true;
        QTest::newRow("no updater program in the archive nor in the folder")
            << QVector<ZipItem>{file("plugins/libnew.so", "new plugin")} << false << false;
        QTest::newRow("an empty updater program in the archive") << QVector<ZipItem>{file("Upgrade", "")} << false << true;
    }
    void aFailedUnpackLeavesTheOldUpdaterWhole()
    {
        QFETCH(QVector<ZipItem>, entries);
        QFETCH(bool, sizeLimit);
        QFETCH(bool, program);
        const bool ownProgram = !entries.isEmpty() && entries.first().name == "Upgrade";
        QVERIFY(install(program && !ownProgram ? QVector<ZipItem>{file("Upgrade", "new updater")} + entries : entries));
        QVERIFY(program || QFile::remove(path("Upgrade/Upgrade")));
        const QStringList before = filesWithContent(path("Upgrade"));
        DownloadFile worker;
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const rlimit small{64 * 1024, saved.rlim_max};
        QVERIFY(!sizeLimit || setrlimit(RLIMIT_FSIZE, &small) == 0);
        worker.UpdateUpgrradeProgram();
        setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(filesWithContent(path("Upgrade")), before);
        QCOMPARE(modeOf(path("Upgrade/Upgrade")) & 0111, 0111);
        QCOMPARE(updaterFolders(), QStringList{"Upgrade"});
        // Left for a later try, uncounted.
        QVERIFY(QFileInfo::exists(path(Source + "Upgrade.tessarkzip")));
        QCOMPARE(worker.deletedFileCount(), 0);
    }

    // A whole archive replaces what it holds, the old updater's other files stay, and no unpacked file
    // is writable by group or others, whatever mode the archive gives it. An updater that a failed
    // rename-back left only at Upgrade.old is put back and refreshed, never removed.
    void aWholeArchiveReplacesTheUpdater_data()
    {
        QTest::addColumn<int>("archiveMode");
        QTest::addColumn<int>("landedMode");
        QTest::addColumn<bool>("leftAtOld");
        QTest::addColumn<bool>("digestRecorded"); // an earlier refresh recorded the old program's digest
        QTest::newRow("0777 lands as 0755") << 0777 << 0755 << false << false;
        QTest::newRow("0666 lands as 0644") << 0666 << 0644 << false << false;
        QTest::newRow("0775 lands as 0755") << 0775 << 0755 << false << false;
        QTest::newRow("0700 stays 0700") << 0700 << 0700 << false << false;
        QTest::newRow("0444 is still the owner's to replace") << 0444 << 0644 << false << false;
        QTest::newRow("after a failed rename-back, the updater at Upgrade.old") << 0755 << 0755 << true << false;
        QTest::newRow("after an earlier refresh recorded its digest: the program of other bytes lands, with its own")
            << 0755 << 0755 << false << true;
    }
    void aWholeArchiveReplacesTheUpdater()
    {
        QFETCH(int, archiveMode);
        QFETCH(int, landedMode);
        QFETCH(bool, leftAtOld);
        QFETCH(bool, digestRecorded);
        QVERIFY(install({file("Upgrade", "new updater"), file("plugins/libnew.so", "new plugin")}));
        QVERIFY(!digestRecorded
                || m_app->write("Upgrade/.upgrade-digest",
                                QCryptographicHash::hash("old updater", QCryptographicHash::Sha256).toHex() + '\n'));
        QVERIFY(!leftAtOld || QDir().rename(path("Upgrade"), path("Upgrade.old")));
        QVERIFY(setModes(path(Source + "Upgrade.tessarkzip"), {{"Upgrade", archiveMode}, {"plugins/libnew.so", archiveMode}}));
        DownloadFile worker;
        worker.UpdateUpgrradeProgram();
        const QString digest = QCryptographicHash::hash("new updater", QCryptographicHash::Sha256).toHex() + '\n';
        QCOMPARE(filesWithContent(path("Upgrade")), (QStringList{".hidden.cfg=hidden", ".upgrade-digest=" + digest, "Upgrade=new updater",
                                                              "helper.cfg=helper", "lib.so=old lib", "plugins/libnew.so=new plugin"}));
        QCOMPARE(QString::number(modeOf(path("Upgrade/Upgrade")), 8), QString::number(landedMode, 8));
        QCOMPARE(QString::number(modeOf(path("Upgrade/plugins/libnew.so")), 8), QString::number(landedMode, 8));
        QCOMPARE(updaterFolders(), QStringList{"Upgrade"});
        QVERIFY(!QFileInfo::exists(path("UpgradeTessark")));
        QCOMPARE(worker.deletedFileCount(), 3);
    }

    // After a failed rename-back the only updater is at Upgrade.old, and the archive lacks the updater
    // program. Whatever stands at Upgrade, the one copy of the program stays byte for byte, what stood
    // there is kept, and the next update starts. A link at Upgrade.old or Upgrade.new goes itself. A
    // program at Upgrade is whole only when proven: its bytes match the digest recorded when it was put in
    // place, or those of Upgrade.old's; so one empty, cut short, zeroed or holding junk, or a link, is no
    // whole updater, and Upgrade.old's is put back or, where it cannot be, started. Of two whole ones,
    // Upgrade's stays. A link in the download or in the old updater folder is not followed. A program
    // changed after it was put in place keeps the digest recorded for it and, unless the download brings
    // the program, is not started: a box tells the user what to do.
    void theLastCopyOfTheUpdaterIsNeverLost_data()
    {
        QTest::addColumn<QString>("atUpgrade"); // what stands at Upgrade: "updater" or what is left at Upgrade.old
        QTest::addColumn<QString>("linkAt");    // a link to a folder outside
        QTest::addColumn<bool>("archiveProgram"); // the archive holds the updater program
        QTest::newRow("nothing") << "" << "" << false;
        QTest::newRow("an empty folder") << "empty folder" << "" << false;
        QTest::newRow("a file") << "file" << "" << false;
        QTest::newRow("a dangling link: the old copy starts") << "dangling link" << "" << false;
        QTest::newRow("a partial updater") << "partial" << "" << false;
        QTest::newRow("Upgrade.old a link to a folder outside") << "updater" << "Upgrade.old" << false;
        QTest::newRow("Upgrade.new a link to a folder outside") << "updater" << "Upgrade.new" << false;
        QTest::newRow("an empty program at Upgrade") << "empty program" << "" << false;
        QTest::newRow("a program at Upgrade cut short") << "cut program" << "" << false;
        QTest::newRow("a link at Upgrade's program to a longer file") << "program link" << "" << false;
        QTest::newRow("whole updaters at both: Upgrade's stays") << "updater, older at Upgrade.old" << "" << false;
        QTest::newRow("the same program at both, no digest recorded: Upgrade's stays")
            << "updater, same at Upgrade.old" << "" << false;
        QTest::newRow("a program at Upgrade as long as Upgrade.old's, all zeros") << "zeroed program" << "" << false;
        QTest::newRow("a program at Upgrade longer than Upgrade.old's, junk") << "junk program" << "" << false;
        QTest::newRow("a 1-byte program at Upgrade") << "1-byte program" << "" << false;
        QTest::newRow("an all-zero program at Upgrade, no name free to set it aside: Upgrade.old's starts")
            << "zeroed program, no aside name free" << "" << false;
        QTest::newRow("a file at Upgrade, nothing at Upgrade.old, the archive holds the program")
            << "file, no old" << "" << true;
        QTest::newRow("links in the download and in the old updater folder") << "updater, links" << "" << false;
        QTest::newRow("a link at the program, no other copy: nothing started") << "program link, no old" << "" << false;
        QTest::newRow("a byte of the program flipped, no Upgrade.old: its digest kept, not started")
            << "updater, byte flipped" << "" << false;
        QTest::newRow("the program's last byte cut, no Upgrade.old: its digest kept, not started")
            << "updater, last byte cut" << "" << false;
        QTest::newRow("a byte of the program flipped, the archive holds the program: the download's starts")
            << "updater, byte flipped" << "" << true;
    }
    void theLastCopyOfTheUpdaterIsNeverLost()
    {
        QFETCH(QString, atUpgrade);
        QFETCH(QString, linkAt);
        QFETCH(bool, archiveProgram);
        const QByteArray program = "#!/bin/sh\necho \"$1\" > \"$3/updater-ran\"\n";
        const ZipItem lib = file("plugins/libnew.so", "new plugin");
        QVERIFY(install(archiveProgram ? QVector<ZipItem>{file("Upgrade", program), lib} : QVector<ZipItem>{lib})
                && m_app->write("Upgrade/Upgrade", program));
        QVERIFY(atUpgrade.startsWith("updater") || QDir().rename(path("Upgrade"), path("Upgrade.old")));
        QVERIFY(!atUpgrade.endsWith("no old") || QDir(path("Upgrade.old")).removeRecursively());
        QVERIFY(atUpgrade != "empty folder" || QDir().mkdir(path("Upgrade")));
        QVERIFY(!atUpgrade.startsWith("file") || m_app->write("Upgrade", "a file"));
        QVERIFY(atUpgrade != "dangling link" || QFile::link(path("nowhere"), path("Upgrade")));
        QVERIFY(atUpgrade != "partial" || m_app->write("Upgrade/partial.so", "partial"));
        QVERIFY(atUpgrade != "empty program" || m_app->write("Upgrade/Upgrade", ""));
        QVERIFY(atUpgrade != "cut program" || m_app->write("Upgrade/Upgrade", program.left(12)));
        QVERIFY(atUpgrade != "updater, older at Upgrade.old" || m_app->write("Upgrade.old/Upgrade", "#!/bin/sh\n"));
        // The digest as a refresh recorded it when it put the program in place.
        const QByteArray recorded = QCryptographicHash::hash(program, QCryptographicHash::Sha256).toHex() + '\n';
        const QByteArray zeros(program.size(), '\0'), junk(program.size() + 100, char(0xa5));
        QVERIFY(!(atUpgrade.startsWith("zeroed") || atUpgrade.endsWith("older at Upgrade.old"))
                || m_app->write("Upgrade/.upgrade-digest", recorded));
        QVERIFY(atUpgrade != "updater, same at Upgrade.old" || m_app->write("Upgrade.old/Upgrade", program));
        QVERIFY(!atUpgrade.startsWith("zeroed program") || m_app->write("Upgrade/Upgrade", zeros));
        QVERIFY(atUpgrade != "junk program" || m_app->write("Upgrade/Upgrade", junk));
        QVERIFY(atUpgrade != "1-byte program" || m_app->write("Upgrade/Upgrade", program.left(1)));
        // Changed after a refresh put it in place with its digest.
        const bool damaged = atUpgrade.endsWith("flipped") || atUpgrade.endsWith("cut");
        QByteArray flipped = program;
        flipped[12] = char(flipped.at(12) ^ 0x01);
        const QByteArray changed = atUpgrade.endsWith("flipped") ? flipped : program.chopped(1);
        QVERIFY(!damaged || (m_app->write("Upgrade/.upgrade-digest", recorded) && m_app->write("Upgrade/Upgrade", changed)));
        for (int n = 0; atUpgrade.endsWith("no aside name free") && n < 10; ++n)
            QVERIFY(m_app->write("Upgrade.aside" + (n ? QString::number(n) : QString()), "taken"));
        TempAppDir outside;
        QVERIFY(outside.write("Upgrade", "outside program") && outside.write("sub/lib.so", "outside lib"));
        QVERIFY(outside.write("long/Upgrade", "outside program " + QByteArray(4096, 'x')));
        QVERIFY(linkAt.isEmpty() || QFile::link(outside.path(), path(linkAt)));
        const QString linked = atUpgrade == "program link" ? outside.filePath("long/Upgrade") : outside.filePath("run.sh");
        QVERIFY(outside.write("run.sh", program) && QFile::setPermissions(outside.filePath("run.sh"), QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(!atUpgrade.startsWith("program link")
                || (QDir().mkdir(path("Upgrade")) && QFile::link(linked, path("Upgrade/Upgrade"))));
        QVERIFY(atUpgrade != "updater, links"
                || (QFile::link(outside.path(), path("Upgrade/outside")) && QFile::link(outside.filePath("Upgrade"), path(Source + "linked.cfg"))));
        const QStringList outsideBefore = filesWithContent(outside.path());

        DownloadFile worker;
        worker.UpdateUpgrradeProgram();
        QCOMPARE(filesWithContent(outside.path()), outsideBefore);
        QVERIFY(linkAt.isEmpty() || !QFileInfo(path(linkAt)).isSymLink());
        if (atUpgrade == "program link, no old") { // no whole updater anywhere: the link is not started
            QVERIFY(!worker.StartUpgradeProgram());
            QTest::qWait(300);
            QVERIFY(!QFileInfo::exists(path("updater-ran")));
            return;
        }
        if (damaged && !archiveProgram) {
            QCOMPARE(readFile(path("Upgrade/.upgrade-digest")), recorded);
            QCOMPARE(readFile(path("Upgrade/Upgrade")), changed);
            QVERIFY(!worker.StartUpgradeProgram());
            QTRY_COMPARE_WITH_TIMEOUT(m_boxes.boxes().size(), 1, timescale::ms(10000));
            QCOMPARE(m_boxes.boxes()[0].text, damagedUpdaterBox());
            QCOMPARE(m_boxes.boxes()[0].textFormat, Qt::PlainText);
            QTest::qWait(300);
            QVERIFY(!QFileInfo::exists(path("updater-ran")));
            return;
        }
        QVERIFY(!damaged || readFile(path("Upgrade/.upgrade-digest")) == recorded);
        const QStringList all = filesWithContent(m_app->path());
        const bool leftAtOld = atUpgrade == "dangling link" || atUpgrade.endsWith("no aside name free");
        const QString copy = leftAtOld ? "Upgrade.old/Upgrade=" : "Upgrade/Upgrade=";
        QCOMPARE(all.filter(QRegularExpression("(^|/)Upgrade=" + QRegularExpression::escape(QString::fromUtf8(program)) + "$")),
                 QStringList{copy + program});
        QVERIFY2(filesWithContent(path("Upgrade")).filter("outside").isEmpty(), qPrintable(all.join(", ")));
        const QString keptAs = atUpgrade.startsWith("file")       ? "Upgrade.aside=a file"
                               : atUpgrade == "partial"           ? "Upgrade.aside/partial.so=partial"
                               : atUpgrade == "cut program"       ? "Upgrade.aside/Upgrade=" + program.left(12)
                               : atUpgrade == "empty program"     ? "Upgrade.aside/Upgrade="
                               : atUpgrade == "zeroed program"    ? "Upgrade.aside/Upgrade=" + QString::fromUtf8(zeros)
                               : atUpgrade == "junk program"      ? "Upgrade.aside/Upgrade=" + QString::fromUtf8(junk)
                               : atUpgrade == "1-byte program"    ? "Upgrade.aside/Upgrade=#"
                                                                  : QString();
        QVERIFY2(keptAs.isEmpty() || all.contains(keptAs), qPrintable(all.join(", ")));
        QVERIFY(worker.StartUpgradeProgram());
        QTRY_COMPARE_WITH_TIMEOUT(readFile(path("updater-ran")), QByteArray("upgrade\n"), timescale::ms(10000));
    }

    // Nothing but a regular file of its own at the updater program's place is read: a FIFO would block the
    // hand-over until a writer comes, a link to a device would be read for ever. The update ends told, as
    // for a damaged program, nothing is started and what stands there stays. So is a program larger than a
    // tool file may be, unread, a program that ends before its size while it is read, and one whose digest
    // record is a link. A stop asked for as the program is read ends the check: nothing started, no box.
    // The hand-over runs on a thread of its own, so that a row that hangs fails within its wait instead of
    // holding up the suite; what that thread read is counted.
    void nothingButARegularFileAtTheUpdatersPlaceIsRead_data()
    {
        QTest::addColumn<QString>("atProgram");
        QTest::addColumn<bool>("recorded"); // the folder records the digest of the program put in place
        QTest::newRow("a FIFO, no Upgrade.old") << "fifo" << false;
        QTest::newRow("a FIFO, the program's digest recorded") << "fifo" << true;
        QTest::newRow("a link to /dev/zero, no Upgrade.old") << "zero" << false;
        QTest::newRow("a link to /dev/zero, the program's digest recorded") << "zero" << true;
        QTest::newRow("a link to a FIFO") << "fifo link" << true;
        QTest::newRow("a folder") << "folder" << true;
        QTest::newRow("a link to a file of the program's bytes") << "program link" << true;
        QTest::newRow("a sparse file past a tool file's bound, the program's digest recorded") << "past the bound" << true;
        QTest::newRow("a sparse file past a tool file's bound, nothing recorded") << "past the bound" << false;
        QTest::newRow("the program, its digest record a link to a file of that digest") << "digest link" << false;
        QTest::newRow("a program cut to its recorded bytes while it is read") << "cut while read" << true;
        QTest::newRow("a stop asked for as a program at the bound is read") << "stop while read" << true;
    }
    void nothingButARegularFileAtTheUpdatersPlaceIsRead()
    {
        QFETCH(QString, atProgram);
        QFETCH(bool, recorded);
        const QByteArray program = "#!/bin/sh\necho \"$1\" > \"$3/updater-ran\"\n";
        QVERIFY(install({file("plugins/libnew.so", "new plugin")}) && QFile::remove(path("Upgrade/Upgrade")));
        const QByteArray digest = QCryptographicHash::hash(program, QCryptographicHash::Sha256).toHex() + '\n';
        QVERIFY(!recorded || m_app->write("Upgrade/.upgrade-digest", digest));
        const QByteArray at = QFile::encodeName(path("Upgrade/Upgrade"));
        const QByteArray fifo = QFile::encodeName(path("pipe"));
        QVERIFY(atProgram != "fifo" || ::mkfifo(at.constData(), 0700) == 0);
        QVERIFY(atProgram != "fifo link" || (::mkfifo(fifo.constData(), 0700) == 0 && ::symlink(fifo.constData(), at.constData()) == 0));
        QVERIFY(atProgram != "zero" || (QFileInfo::exists("/dev/zero") && ::symlink("/dev/zero", at.constData()) == 0));
        QVERIFY(atProgram != "folder" || QDir().mkdir(path("Upgrade/Upgrade")));
        QVERIFY(atProgram != "program link"
                || (m_app->write("program", program) && QFile::setPermissions(path("program"), QFile::ReadOwner | QFile::ExeOwner)
                    && QFile::link(path("program"), path("Upgrade/Upgrade"))));
        // Sparse: no disk nor memory is needed, and a read of it would take seconds.
        const qint64 sparse = atProgram == "past the bound"    ? qint64(4) * 1024 * 1024 * 1024
                              : atProgram == "stop while read" ? DownloadFile::MaxToolFileBytes
                                                               : 0;
        if (sparse) {
            QFile big(path("Upgrade/Upgrade"));
            QVERIFY(big.open(QIODevice::WriteOnly) && big.write(program) == program.size() && big.resize(sparse));
            big.close();
            struct stat st {};
            QVERIFY(::stat(at.constData(), &st) == 0 && st.st_size == sparse && st.st_blocks < 2048 * 8);
        }
        if (atProgram == "digest link" || atProgram == "cut while read") {
            QVERIFY(m_app->write("Upgrade/Upgrade", atProgram == "cut while read" ? program + "tail" : program));
            QVERIFY(QFile::setPermissions(path("Upgrade/Upgrade"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        QVERIFY(atProgram != "digest link"
                || (m_app->write("digest", digest) && QFile::link(path("digest"), path("Upgrade/.upgrade-digest"))));
        const QFileInfo before(path("Upgrade/Upgrade"));

        // Leaked where it hangs: its thread may still be reading when the suite ends.
        auto* worker = new DownloadFile;
        const QString program0 = QDir::cleanPath(path("Upgrade/Upgrade"));
        if (atProgram == "cut while read") // the first read of the program finds it cut to what was recorded
            DownloadFile::setDigestReadHookForTest([program0, size = program.size()](const QString& read, qint64) {
                if (QDir::cleanPath(read) == program0)
                    QFile::resize(read, size);
            });
        if (atProgram == "stop while read") // as a stop signal would, while the check holds the program open
            DownloadFile::setDigestReadHookForTest([worker](const QString&, qint64) { worker->requestStop(); });
        const bool refresh = atProgram != "stop while read"; // the check alone: a refresh would copy it
        auto done = std::make_shared<std::atomic<int>>(-1); // -1 running, else whether the updater started
        auto read = std::make_shared<std::atomic<qint64>>(-1);
        std::thread handOver([worker, done, read, refresh] {
            const qint64 from = threadReadBytes();
            if (refresh)
                worker->UpdateUpgrradeProgram();
            const bool started = worker->StartUpgradeProgram();
            read->store(threadReadBytes() - from);
            done->store(started ? 1 : 0);
        });
        QDeadlineTimer wait(timescale::ms(10000));
        while (done->load() < 0 && !wait.hasExpired())
            QTest::qWait(20);
        if (done->load() < 0) {
            // A reader held at a FIFO's open is let go; one reading a device runs on, detached.
            for (const QByteArray& name : {at, fifo}) {
                const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
            }
            handOver.detach();
            QFAIL("the hand-over did not end");
        }
        handOver.join();
        delete worker;
        QCOMPARE(done->load(), 0);
        // The record, the archive and the small files: a program past the bound read whole is 4 GiB.
        QVERIFY2(read->load() >= 0 && read->load() < 16 * 1024 * 1024, qPrintable(QString::number(read->load())));
        if (atProgram == "stop while read") {
            QTest::qWait(300);
            QCOMPARE(m_boxes.boxes().size(), 0);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(m_boxes.boxes().size(), 1, timescale::ms(10000));
            QCOMPARE(m_boxes.boxes()[0].text, damagedUpdaterBox());
            QTest::qWait(300);
        }
        QVERIFY(!QFileInfo::exists(path("updater-ran")));
        const QFileInfo after(path("Upgrade/Upgrade"));
        QCOMPARE(after.isSymLink(), before.isSymLink());
        QCOMPARE(after.isDir(), before.isDir());
        QCOMPARE(readFile(path("Upgrade/.upgrade-digest")), recorded || atProgram == "digest link" ? digest : QByteArray());
        if (sparse)
            QCOMPARE(after.size(), sparse);
    }

    // A stop asked for while the refresh proves the updater in place, a copy of it kept at Upgrade.old,
    // moves nothing: the judgement the stop cut short is no proof the one in place is not whole. It
    // stays where it is, the copy too, nothing is set aside and the download waits for the next update.
    void aStopDuringTheRefreshMovesNoUpdater_data()
    {
        QTest::addColumn<bool>("recorded"); // Upgrade's digest is recorded; else the copy is its twin
        QTest::addColumn<QString>("stopIn"); // the folder whose program is being read when the stop comes
        QTest::newRow("proven by its record, the stop in its read") << true << "Upgrade";
        QTest::newRow("proven by its twin at Upgrade.old, the stop in its own read") << false << "Upgrade";
        QTest::newRow("proven by its twin at Upgrade.old, the stop in the twin's read") << false << "Upgrade.old";
    }
    void aStopDuringTheRefreshMovesNoUpdater()
    {
        QFETCH(bool, recorded);
        QFETCH(QString, stopIn);
        const QByteArray program = "#!/bin/sh\necho \"$1\" > \"$3/updater-ran\"\n";
        QVERIFY(install({file("Upgrade", "new updater")}) && m_app->write("Upgrade/Upgrade", program));
        QVERIFY(m_app->write("Upgrade.old/Upgrade", recorded ? QByteArray("#!/bin/sh\n") : program));
        QVERIFY(!recorded
                || m_app->write("Upgrade/.upgrade-digest",
                                QCryptographicHash::hash(program, QCryptographicHash::Sha256).toHex() + '\n'));
        const QStringList before = filesWithContent(m_app->path());
        DownloadFile worker;
        const QString stopAt = QDir::cleanPath(path(stopIn + "/Upgrade"));
        DownloadFile::setDigestReadHookForTest([&worker, stopAt](const QString& read, qint64) {
            if (QDir::cleanPath(read) == stopAt)
                worker.requestStop();
        });
        worker.UpdateUpgrradeProgram();
        QVERIFY(worker.stopRequested());
        QCOMPARE(filesWithContent(m_app->path()), before);
        QCOMPARE(updaterFolders(), (QStringList{"Upgrade", "Upgrade.old"}));
    }

    // The check reads no more of a program than it had when it was opened: one that grows meanwhile is
    // judged by those bytes, and where they match its recorded digest it is no damaged program: it starts.
    void aProgramThatGrowsAfterItIsOpenedIsNotDamaged_data()
    {
        QTest::addColumn<int>("grownBy");
        QTest::newRow("by a line") << 8;
        QTest::newRow("by more than it is read at a time") << 200 * 1024;
    }
    void aProgramThatGrowsAfterItIsOpenedIsNotDamaged()
    {
        QFETCH(int, grownBy);
        const QByteArray program = "#!/bin/sh\necho \"$1\" > \"$3/updater-ran\"\nexit 0\n";
        QVERIFY(install({file("plugins/libnew.so", "new plugin")}) && m_app->write("Upgrade/Upgrade", program));
        QVERIFY(m_app->write("Upgrade/.upgrade-digest",
                             QCryptographicHash::hash(program, QCryptographicHash::Sha256).toHex() + '\n'));
        const QString at = QDir::cleanPath(path("Upgrade/Upgrade"));
        DownloadFile::setDigestReadHookForTest([at, grownBy, size = program.size()](const QString& read, qint64) {
            QFile grown(read); // once, as the read begins
            if (QDir::cleanPath(read) == at && grown.size() == size && grown.open(QIODevice::Append))
                grown.write(QByteArray(grownBy, '#'));
        });
        DownloadFile worker;
        QVERIFY(worker.StartUpgradeProgram());
        QTRY_COMPARE_WITH_TIMEOUT(readFile(path("updater-ran")), QByteArray("upgrade\n"), timescale::ms(10000));
        QCOMPARE(QFileInfo(at).size(), program.size() + grownBy);
        QCOMPARE(m_boxes.boxes().size(), 0);
    }

    // A control character anywhere in a name refuses the archive; a NUL does not cut the name short.
    void aControlCharacterInANameRefusesTheArchive_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("NUL") << QStringLiteral("Upgrade") + QChar(0) + QStringLiteral(".bak");
        QTest::newRow("NUL in a folder's name") << QStringLiteral("lib") + QChar(0) + QStringLiteral("x/a.so");
        QTest::newRow("line feed") << QStringLiteral("a\nb.txt");
        QTest::newRow("escape") << QStringLiteral("a\x1b[31m.txt");
        QTest::newRow("delete") << QStringLiteral("a\x7f.txt");
    }
    void aControlCharacterInANameRefusesTheArchive()
    {
        QFETCH(QString, name);
        m_app.reset(new TempAppDir);
        QVERIFY(m_app->write("dest/keep.txt", "old"));
        const QString zip = path("a.tessarkzip");
        QVERIFY(writeZip(zip, {file("keep.txt", "new"), file(name, "bad")}));
        QCOMPARE(SafeUnzip::unpack(zip, path("dest"), true), SafeUnzip::Result::Refused);
        QCOMPARE(filesWithContent(path("dest")), QStringList{"keep.txt=old"});
    }
};

QTEST_GUILESS_MAIN(UpdaterArchive)
#include "test_updaterarchive.moc"
