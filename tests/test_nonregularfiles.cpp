// What is not a regular file (a FIFO, a directory, a device, or a link to one) where the tool expects
// a macro file or a firmware image is refused without being read: no check waits on a FIFO or reads a
// device, and each logs a line naming it. A FIFO opened the ordinary way would hold the window until a
// writer came.
#include "keyboardfixture.h"
#include "logrecorder.h"
#include "messageboxrecorder.h"
#include "readerharness.h"
#include "tempappdir.h"
#include "threadclock.h"
#include "timescale.h"
#include "wire.h"

#include "macro/macro.h"
#include "macro/macroitem.h"
#include "main/tessark.h"
#include "widget/data.h"
#include "widget/regularfile.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

bool logged(const QString& path)
{
    for (const QString& line : logrecorder::lines())
        if (line.contains(path))
            return true;
    return false;
}

// Makes what kind names at path: "FIFO", "directory", "device" (a link to zero, the test's stand-in for
// /dev/zero), "link to FIFO", "link to directory"; the link targets go beside path.
bool make(const QString& kind, const QString& path, const QString& zero)
{
    const QByteArray p = QFile::encodeName(path), target = p + ".target";
    if (kind == "FIFO")
        return ::mkfifo(p.constData(), 0600) == 0;
    if (kind == "directory")
        return QDir().mkdir(path);
    if (kind == "device")
        return !zero.isEmpty() && ::symlink(QFile::encodeName(zero).constData(), p.constData()) == 0;
    if (kind == "link to FIFO")
        return ::mkfifo(target.constData(), 0600) == 0 && ::symlink(target.constData(), p.constData()) == 0;
    if (kind == "link to directory")
        return ::mkdir(target.constData(), 0700) == 0 && ::symlink(target.constData(), p.constData()) == 0;
    return false;
}

// While it lives, and after a grace of a second and a half, opens every FIFO in folder for writing
// now and then: a check that blocked in an open comes free instead of hanging the suite. Such an open
// succeeds only while a reader holds the FIFO, so *held tells that a check still did after the grace;
// a check that only looks at a FIFO's descriptor lets go of it long before.
class FifoUnblocker {
public:
    FifoUnblocker(const QString& folder, std::atomic<bool>* held)
        : m_thread([this, folder, held] {
            const int grace = timescale::ms(1500);
            for (int waited = 0; !m_done.load(); waited += 50) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                if (waited < grace)
                    continue;
                for (const QFileInfo& entry : QDir(folder).entryInfoList(QDir::System | QDir::Files)) {
                    const int fd = ::open(QFile::encodeName(entry.absoluteFilePath()).constData(),
                                          O_WRONLY | O_NONBLOCK);
                    if (fd >= 0) {
                        held->store(true);
                        ::close(fd);
                    }
                }
            }
        })
    {
    }
    ~FifoUnblocker()
    {
        m_done.store(true);
        m_thread.join();
    }

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

const QStringList Kinds = {"FIFO", "link to FIFO", "directory", "link to directory", "device"};

const char* const NoDeviceNode = "root cannot make a device node that opens in its temporary folder";

} // namespace

class NonRegularFiles : public QObject {
    Q_OBJECT
    std::unique_ptr<TempDir> m_folder;

private slots:
    void init()
    {
        m_folder = std::make_unique<TempDir>();
        QVERIFY(m_folder->isValid());
    }
    void cleanup()
    {
        logrecorder::stop();
        m_folder.reset();
    }

    // The import check, an image's check, the folder's choice of images and the shared opener each
    // refuse the entry, in time, with its path in the log; a regular file beside it still passes.
    void checksRefuseWhatIsNotARegularFile_data()
    {
        QTest::addColumn<QString>("check");
        QTest::addColumn<QString>("kind");
        for (const char* check : {"import check", "image check", "folder of images", "opener"})
            for (const QString& kind : Kinds)
                QTest::addRow("%s, %s", check, qPrintable(kind)) << QString(check) << kind;
    }
    void checksRefuseWhatIsNotARegularFile()
    {
        QFETCH(QString, check);
        QFETCH(QString, kind);
        const QString path = m_folder->filePath("qv_usb_app_1.bin"), zero = deviceStandIn(m_folder->path(), "/dev/zero");
        if (kind == "device" && zero.isEmpty())
            QSKIP(NoDeviceNode);
        QVERIFY(make(kind, path, zero));
        logrecorder::start();
        bool refused = false;
        std::atomic<bool> held{false};
        ThreadClock work;
        {
            FifoUnblocker unblocker(m_folder->path(), &held);
            work.start();
            if (check == "import check") {
                refused = !Data::isFileExist(path);
            } else if (check == "image check") {
                refused = !Tessark::firmwareImageProblem(Tessark::UsbAppImage, path).isEmpty();
            } else if (check == "folder of images") {
                refused = Tessark::chooseFirmwareImages(m_folder->path()).isEmpty();
            } else {
                QFile file;
                QString why;
                refused = !RegularFile::openForReading(&file, path, &why) && !file.isOpen()
                    && why == RegularFile::kindProblem(path) && why.startsWith("a ");
            }
        }
        // Nothing waited on a FIFO, and nothing read on and on from a device.
        QVERIFY(!held.load());
        QVERIFY2(work.elapsed() < timescale::ms(1000), qPrintable(QString::number(work.elapsed()) + " ms"));
        QVERIFY(refused);
        QVERIFY(logged(path));

        // The same checks take a regular image.
        QFile image(m_folder->filePath("qv_usb_app_2.bin"));
        QVERIFY(image.open(QIODevice::WriteOnly) && image.write(QByteArray(64, 'x')) == 64);
        image.close();
        QVERIFY(Data::isFileExist(image.fileName()));
        QFile opened;
        QVERIFY(RegularFile::openForReading(&opened, image.fileName()) && opened.readAll() == QByteArray(64, 'x'));
        QCOMPARE(Tessark::firmwareImageProblem(Tessark::UsbAppImage, image.fileName()), QString());
        QCOMPARE(Tessark::chooseFirmwareImages(m_folder->path()).value(Tessark::UsbAppImage),
                 QFileInfo(image.fileName()).absoluteFilePath());
    }

    // Import on the macro page with such an entry: nothing is added, no box, the keyboard hears nothing.
    void macroImportOfWhatIsNotARegularFileAddsNothing_data()
    {
        QTest::addColumn<QString>("kind");
        for (const QString& kind : Kinds)
            QTest::newRow(qPrintable(kind)) << kind;
    }
    void macroImportOfWhatIsNotARegularFileAddsNothing()
    {
        QFETCH(QString, kind);
        ReaderAppDir app;
        QVERIFY(app.copyFiles(QFINDTESTDATA("../appdir/config"), QStringLiteral("config")));
        MessageBoxRecorder boxes;
        sim::KeyboardConfig config;
        config.macros = 16;
        config.sampleKeyFunctions = false;
        KeyboardFixture f(config);
        QVERIFY(f.open() && f.loadNow());
        Macro page(nullptr, 0);
        page.show();
        page.setDevice(app.filePath(QStringLiteral("dev/")), f.device);
        QTRY_VERIFY_WITH_TIMEOUT(page.form()->itemImportButton->isEnabled(), timescale::ms(10000));
        const int before = page.items().size();
        f.kb->clearLog();

        const QString path = m_folder->filePath("import.xml"), zero = deviceStandIn(m_folder->path(), "/dev/zero");
        if (kind == "device" && zero.isEmpty())
            QSKIP(NoDeviceNode);
        QVERIFY(make(kind, path, zero));
        logrecorder::start();
        std::atomic<bool> held{false};
        ThreadClock work;
        {
            FifoUnblocker unblocker(m_folder->path(), &held);
            work.start();
            page.importItemSlot(path);
        }
        // Nothing waited on a FIFO, and nothing read on and on from a device.
        QVERIFY(!held.load());
        QVERIFY2(work.elapsed() < timescale::ms(1000), qPrintable(QString::number(work.elapsed()) + " ms"));
        QVERIFY(logged(path));
        QCOMPARE(page.items().size(), before);
        QVERIFY(boxes.boxes().isEmpty());
        QCOMPARE(sentCount(f.kb), 0);
    }
};

QTEST_MAIN(NonRegularFiles)
#include "test_nonregularfiles.moc"
