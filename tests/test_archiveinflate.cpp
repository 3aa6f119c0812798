// Unpacking downloaded archives entry by entry in small chunks: an entry must inflate to exactly the size
// and CRC it declares, memory stays small whatever it claims, and a refused archive leaves the folder
// as it was.
#include "sanitizer.h"
#include "Update/downloadfile.h"
#include "Update/safeunzip.h"
#include "logrecorder.h"
#include "tempappdir.h"
#include "widget/qss.h"
#include "zipbuilder.h"

#include <QDirIterator>
#include <QtTest>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>


Q_DECLARE_METATYPE(QVector<ZipItem>)

namespace {

constexpr qint64 MiB = 1024 * 1024;

ZipItem file(const QString& name, const QByteArray& content, bool deflate = true)
{
    ZipItem item;
    item.name = name;
    item.content = content;
    item.deflate = deflate;
    return item;
}

// mib MiB of zeros that say they are `declared` bytes.
ZipItem zeros(const QString& name, qint64 mib, qint64 declared)
{
    ZipItem item = file(name, QByteArray(int(MiB), '\0'));
    item.repeat = mib;
    item.declaredSize = declared;
    return item;
}

ZipItem folder(const QString& name)
{
    ZipItem item;
    item.name = name;
    item.folder = true;
    return item;
}

// Bytes that do not compress.
QByteArray noise(int length, quint32 seed)
{
    QVector<quint32> words((length + 3) / 4);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.constData()), length);
}

ZipItem with(ZipItem item, void (*change)(ZipItem&))
{
    change(item);
    return item;
}

// Every file below dir, relative to it, sorted.
QStringList filesBelow(const QString& dir)
{
    QStringList found;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(dir).relativeFilePath(it.next());
    found.sort();
    return found;
}

// A field of /proc/self/status in KiB, -1 when missing.
qint64 statusKiB(const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

struct ChildReport {
    int result = -1;
    qint64 growthKiB = -1;
};

// Unpacks in a child process and reports how far its resident memory rose above where it stood. The
// child's address space is capped as well: an unpacker that holds an entry whole dies there instead of
// growing. Under the address sanitizer the cap stays on, with room for its quarantine of freed blocks
// (256 MiB by default): its shadow memory is reserved at start and counts in VmSize already. Measured
// there, refusing the 3 GiB bomb raised the peak by about 4 MiB (1.5 MiB without the sanitizer).
bool unpackInChild(const QString& zip, const QString& dest, ChildReport* report, QString* failure)
{
    int fds[2];
    const pid_t pid = ::pipe(fds) == 0 ? ::fork() : -1;
    if (pid < 0) {
        *failure = QStringLiteral("no child process");
        return false;
    }
    if (pid == 0) {
        ::close(fds[0]);
        // Peak resident size starts again from here.
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
            ::_exit(3);
        clear.close();
        const qint64 before = statusKiB("VmHWM");
#ifdef TESSARK_ASAN
        const qint64 room = 512 * MiB;
#else
        const qint64 room = 256 * MiB;
#endif
        const rlim_t cap = rlim_t(statusKiB("VmSize") * 1024 + room);
        const rlimit limit{cap, cap};
        if (::setrlimit(RLIMIT_AS, &limit) != 0)
            ::_exit(4);
        ChildReport r;
        r.result = int(SafeUnzip::unpack(zip, dest, true));
        r.growthKiB = statusKiB("VmHWM") - before;
        const bool sent = ::write(fds[1], &r, sizeof r) == ssize_t(sizeof r);
        ::_exit(sent ? 0 : 5);
    }
    ::close(fds[1]);
    ChildReport r;
    const bool got = ::read(fds[0], &r, sizeof r) == ssize_t(sizeof r);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    *failure = QStringLiteral("child ended with status %1").arg(status);
    *report = r;
    return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

class ArchiveInflate : public QObject {
    Q_OBJECT
    TempAppDir m_app;

    QString path(const QString& relative) const { return m_app.filePath(relative); }

    // Empty dest and zips folders.
    bool freshFolders()
    {
        for (const char* name : {"dest", "zips"})
            QDir(path(name)).removeRecursively();
        return QDir().mkpath(path("dest")) && QDir().mkpath(path("zips"));
    }

private slots:
    void initTestCase()
    {
        qunsetenv("TESSARK_UPDATE_CONFIG");
        setAppDirPathForTest(m_app.path());
    }
    void cleanup() { logrecorder::stop(); }

    void archivesInflatingAsDeclaredUnpackByteExact_data()
    {
        QTest::addColumn<QVector<ZipItem>>("items");
        QTest::newRow("one deflated file") << QVector<ZipItem>{file("a.txt", "hello")};
        QTest::newRow("deflated and stored, each over several chunks")
            << QVector<ZipItem>{file("bin/noise.bin", noise(int(MiB) + 17, 1)),
                                file("bin/raw.dat", noise(200 * 1024 + 3, 2), false),
                                file("empty.txt", ""), file("empty-stored.txt", "", false)};
        ZipItem lines = file("d/e/lines.txt", "a line of the log\n");
        lines.repeat = 300000;
        QTest::newRow("folders and a file that inflates far beyond its packed size")
            << QVector<ZipItem>{folder("d/"), folder("d/e/"), lines, file("d/top.cfg", "x=1\n", false)};
    }
    void archivesInflatingAsDeclaredUnpackByteExact()
    {
        QFETCH(QVector<ZipItem>, items);
        QVERIFY(freshFolders());
        const QString zip = path("zips/a.tessarkzip");
        QVERIFY(writeZip(zip, items));
        QCOMPARE(SafeUnzip::unpack(zip, path("dest"), true), SafeUnzip::Result::Unpacked);
        QStringList expected;
        for (const ZipItem& item : items) {
            if (item.folder)
                continue;
            expected << item.name;
            QCOMPARE(readFile(path("dest/" + item.name)), item.content.repeated(int(item.repeat)));
        }
        expected.sort();
        QCOMPARE(filesBelow(path("dest")), expected);
    }

    // The bad entry stands between two good ones; the folder already holds one of them.
    void entriesThatDoNotInflateAsDeclaredRefuseTheArchiveUntouched_data()
    {
        QTest::addColumn<QVector<ZipItem>>("bad");
        QTest::addColumn<QString>("reason");
        const QString more = "inflates to more than it declares";
        QTest::newRow("declares 100 bytes, inflates to 300 MiB") << QVector<ZipItem>{zeros("bomb.bin", 300, 100)} << more;
        QTest::newRow("declares 100 bytes, inflates to 3 GiB") << QVector<ZipItem>{zeros("bomb.bin", 3072, 100)} << more;
        const ZipItem ten = file("lie.txt", "0123456789");
        QTest::newRow("one byte more than declared")
            << QVector<ZipItem>{with(ten, [](ZipItem& i) { i.declaredSize = 9; })} << more;
        QTest::newRow("one byte fewer than declared")
            << QVector<ZipItem>{with(ten, [](ZipItem& i) { i.declaredSize = 11; })}
            << "inflates to fewer bytes than it declares";
        QTest::newRow("stored, one byte more than declared")
            << QVector<ZipItem>{with(ten, [](ZipItem& i) { i.deflate = false; i.declaredSize = 9; })}
            << "stored entry whose sizes differ";
        QTest::newRow("deflated, CRC one bit off")
            << QVector<ZipItem>{with(ten, [](ZipItem& i) { i.crcFlip = 1; })} << "CRC does not match";
        QTest::newRow("deflate data cut short")
            << QVector<ZipItem>{with(file("cut.bin", noise(100000, 3)), [](ZipItem& i) { i.cutData = 4; })}
            << "deflate data ends early";
        QTest::newRow("compression method not read")
            << QVector<ZipItem>{with(ten, [](ZipItem& i) { i.method = 12; })} << "compression method 12 is not read";
    }
    void entriesThatDoNotInflateAsDeclaredRefuseTheArchiveUntouched()
    {
        QFETCH(QVector<ZipItem>, bad);
        QFETCH(QString, reason);
        QVERIFY(freshFolders());
        QVERIFY(m_app.write("dest/keep.txt", "old"));
        const QString zip = path("zips/a.tessarkzip");
        QVERIFY(writeZip(zip, QVector<ZipItem>{file("keep.txt", "new")} + bad + QVector<ZipItem>{file("z.txt", "z")}));
        logrecorder::start();
        QCOMPARE(SafeUnzip::unpack(zip, path("dest"), true), SafeUnzip::Result::Refused);
        QCOMPARE(filesBelow(path("dest")), QStringList{"keep.txt"});
        QCOMPARE(readFile(path("dest/keep.txt")), QByteArray("old"));
        const QString named = "\"" + bad.last().name + "\"";
        bool logged = false;
        for (const QString& line : logrecorder::lines())
            logged = logged || (line.contains("archive refused") && line.contains(named) && line.contains(reason));
        QVERIFY2(logged, qPrintable(logrecorder::lines().join('\n')));
    }

    // What is unpacked is read through the local header: it must say what the directory's checks saw,
    // and the data it starts must end before the directory does.
    void entriesWhoseLocalHeaderDisagreesRefuseTheArchiveUntouched_data()
    {
        QTest::addColumn<QVector<ZipItem>>("items");
        QTest::addColumn<QString>("bad");
        QTest::addColumn<QString>("reason");
        const ZipItem keep = file("keep.txt", "new");
        const ZipItem z = file("z.txt", "z");
        const ZipItem ten = file("lie.txt", "0123456789");
        const QString differs = "the local header differs from the directory";
        QTest::newRow("local header names another file")
            << QVector<ZipItem>{keep, with(ten, [](ZipItem& i) { i.localName = "other.txt"; }), z} << "lie.txt" << differs;
        QTest::newRow("local header names a path outside the folder")
            << QVector<ZipItem>{keep, with(ten, [](ZipItem& i) { i.localName = "../lie.txt"; }), z} << "lie.txt" << differs;
        QTest::newRow("local header names the file in another case")
            << QVector<ZipItem>{keep, with(ten, [](ZipItem& i) { i.localName = "LIE.txt"; }), z} << "lie.txt" << differs;
        QTest::newRow("local header says stored, the directory deflated")
            << QVector<ZipItem>{keep, with(ten, [](ZipItem& i) { i.localMethod = 0; }), z} << "lie.txt" << differs;
        // The deflate stream ends where it should, so only the packed size betrays the overrun.
        QTest::newRow("last entry's data runs into the central directory")
            << QVector<ZipItem>{keep, z, with(ten, [](ZipItem& i) { i.compressedExtra = 8; })} << "lie.txt"
            << "the entry's data runs into the central directory";
        QTest::newRow("only entry's data runs into the central directory by one byte")
            << QVector<ZipItem>{with(file("keep.txt", noise(70000, 4)), [](ZipItem& i) { i.compressedExtra = 1; })}
            << "keep.txt" << "the entry's data runs into the central directory";
    }
    void entriesWhoseLocalHeaderDisagreesRefuseTheArchiveUntouched()
    {
        QFETCH(QVector<ZipItem>, items);
        QFETCH(QString, bad);
        QFETCH(QString, reason);
        QVERIFY(freshFolders());
        QVERIFY(m_app.write("dest/keep.txt", "old"));
        const QString zip = path("zips/a.tessarkzip");
        QVERIFY(writeZip(zip, items));
        logrecorder::start();
        QCOMPARE(SafeUnzip::unpack(zip, path("dest"), true), SafeUnzip::Result::Refused);
        QCOMPARE(filesBelow(path("dest")), QStringList{"keep.txt"});
        QCOMPARE(readFile(path("dest/keep.txt")), QByteArray("old"));
        bool logged = false;
        for (const QString& line : logrecorder::lines())
            logged = logged || (line.contains("archive refused") && line.contains("\"" + bad + "\"") && line.contains(reason));
        QVERIFY2(logged, qPrintable(logrecorder::lines().join('\n')));
    }

    void refusingAnInflationBombKeepsMemorySmall_data()
    {
        QTest::addColumn<qint64>("mib");
        QTest::newRow("300 MiB declared as 100 bytes") << qint64(300);
        QTest::newRow("3 GiB declared as 100 bytes") << qint64(3072);
    }
    void refusingAnInflationBombKeepsMemorySmall()
    {
        QFETCH(qint64, mib);
        QVERIFY(freshFolders());
        const QString zip = path("zips/bomb.tessarkzip");
        QVERIFY(writeZip(zip, {zeros("bomb.bin", mib, 100)}));
        ChildReport report;
        QString failure;
        QVERIFY2(unpackInChild(zip, path("dest"), &report, &failure), qPrintable(failure));
        qInfo("archive of %lld bytes: peak resident memory rose by %lld KiB", QFileInfo(zip).size(), report.growthKiB);
        QCOMPARE(report.result, int(SafeUnzip::Result::Refused));
        QVERIFY(report.growthKiB >= 0);
        QVERIFY2(report.growthKiB < 16 * 1024, qPrintable(QString::number(report.growthKiB)));
        QCOMPARE(filesBelow(path("dest")), QStringList{});
    }

    // The hand-over refreshes nothing from a download whose archive is refused: the old updater stays
    // whole and the download is left uncounted.
    void aRefusedUpdaterArchiveLeavesTheOldUpdaterWhole()
    {
        const QString source = "UpgradeTessark/Windows/Tessark/Upgrade/";
        QDir(path("UpgradeTessark")).removeRecursively();
        QDir(path("Upgrade")).removeRecursively();
        QVERIFY(m_app.write(source + "helper.cfg", "helper"));
        QVERIFY(m_app.write("Upgrade/Upgrade", "old updater"));
        QVERIFY(writeZip(path(source + "Upgrade.tessarkzip"), {file("Upgrade", "new updater"), zeros("bomb.bin", 3072, 100)}));
        DownloadFile worker;
        worker.UpdateUpgrradeProgram();
        QCOMPARE(filesBelow(path("Upgrade")), QStringList{"Upgrade"});
        QCOMPARE(readFile(path("Upgrade/Upgrade")), QByteArray("old updater"));
        QVERIFY(QFileInfo::exists(path(source + "Upgrade.tessarkzip")));
        QCOMPARE(worker.deletedFileCount(), 0);
    }
};

QTEST_GUILESS_MAIN(ArchiveInflate)
#include "test_archiveinflate.moc"
