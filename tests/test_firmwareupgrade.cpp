// The main window's firmware upgrade against emulated keyboards and bootloaders: which images go,
// in which order and how, how errors end it, and that every end leaves the window usable.
#include "logrecorder.h"
#include "messageboxrecorder.h"
#include "tempappdir.h"
#include "wire.h"

#include "Update/overallvariate.h"
#include "device/device.h"
#include "device/updatedfubtthread.h"
#include "device/usb.h"
#include "main/tessark.h"
#include "widget/menutree.h"
#include "setting/Language.h"
#include "setting/firmware.h"
#include "setting/schedule.h"
#include "setting/setting.h"
#include "widget/tablabel.h"
#include "timescale.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/stat.h>

namespace {

// Every message from here on (the window installs its own handler when it is made).
void recordMessages()
{
    logrecorder::start();
}

// Lines starting with text, or equal to it.
int logged(const QString& text, bool whole = false)
{
    int n = 0;
    for (const QString& line : logrecorder::lines())
        n += whole ? line == text : line.startsWith(text);
    return n;
}

QByteArray imageBytes(int size, int seed)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((uint32_t(i) * 7u + uint32_t(i) / 253u + uint32_t(seed) * 41u) & 0xFFu);
    return b;
}

const QString Blanks(10, QLatin1Char(' '));
// The box of an upgrade that failed under way.
const QString UpgradeFailed = QStringLiteral("Firmware Update: The firmware upgrade failed.\nPlug the keyboard in "
                                             "again: the tool opens its bootloader again, and you can repeat the "
                                             "upgrade.");
const QString Succeeded = QStringLiteral("Update firmware succeeded!");
const QString Failed = QStringLiteral("Update firmware error, recovery interface!");

// A line logged with the settings page's line number in front of the text.
int loggedEnd(const QString& text)
{
    int n = 0;
    for (const QString& line : logrecorder::lines())
        n += line.endsWith(text);
    return n;
}

// Each run of equal items once.
QStringList folded(const QStringList& items)
{
    QStringList out;
    for (const QString& item : items)
        if (out.isEmpty() || out.last() != item)
            out << item;
    return out;
}

// The Bluetooth frames by sub-command and the restart into the bootloader ("10"), in order.
QStringList wire(const sim::KeyboardPtr& kb)
{
    QStringList items;
    for (const sim::LogEntry& e : kb->log()) {
        const auto* r = reinterpret_cast<const uint8_t*>(e.report.constData());
        if (e.direction == sim::LogEntry::ToDevice && r[0] == 0xB0 && r[1] == 0xDF)
            items << QString::asprintf("%02x", r[8]);
        else if (e.direction == sim::LogEntry::ToDevice && r[0] == 0x10 && r[1] == 0x00)
            items << QStringLiteral("10");
    }
    return items;
}

// The ISP commands the bootloader received, in order.
QStringList isp(const sim::BootloaderPtr& bl)
{
    QStringList items;
    for (const QByteArray& p : bl->packets())
        items << QString::asprintf("%02x", unsigned(uint8_t(p[0])));
    return items;
}

sim::BootloaderConfig returning(bool back)
{
    sim::BootloaderConfig c;
    c.keyboardReturns = back;
    c.keyboard = sim::fullSizeDual();
    c.fwVersion = 300;
    return c;
}

// Every box as "title: text".
QStringList boxes(const MessageBoxRecorder& r)
{
    QStringList out;
    for (const MessageBoxRequest& b : r.boxes())
        out << b.title + QStringLiteral(": ") + b.text;
    return out;
}

// What keeps the window from being back in normal use; empty when it is.
QString endProblem(Tessark& w)
{
    if (w.upgradePhase() != Tessark::UpgradePhase::Idle)
        return QStringLiteral("upgrade still running");
    updateDFUBtThread* bt = w.upgradeThreads().btThread();
    if (w.upgradeThreads().firmwareThread().isRunning() || (bt && bt->isRunning()))
        return QStringLiteral("a thread runs");
    if (w.settingPage() && !w.settingPage()->isNormalLayout())
        return QStringLiteral("page in upgrade mode");
    for (TabLabel* tab : w.tabList())
        if (!tab->isEnabled())
            return QStringLiteral("a tab is disabled");
    if (!w.multiScanTimer().isActive() || (!w.scanTimer().isActive() && !w.usb()))
        return QStringLiteral("scans stopped");
    return QString();
}

} // namespace

class FirmwareUpgrade : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    std::unique_ptr<TempDir> m_folder;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    std::unique_ptr<Tessark> w;
    sim::KeyboardPtr kb;

    // Writes name (size bytes) into the image folder, secondsAgo old; the bytes written.
    QByteArray image(const QString& name, int size, int secondsAgo = 60)
    {
        QFile f(m_folder->filePath(name));
        const QByteArray bytes = imageBytes(size, int(qHash(name)));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != size)
            return QByteArray();
        f.close();
        if (f.open(QIODevice::Append))
            f.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo), QFileDevice::FileModificationTime);
        return bytes;
    }
    // A window with the sample keyboard loaded (or none); messages recorded from then on.
    bool start(bool keyboard, const std::function<void(sim::FirmwareState&)>& change = {})
    {
        if (keyboard)
            kb = sim::plug(sim::fullSizeDual());
        if (change)
            kb->edit(change);
        w.reset(new Tessark(nullptr, QStringLiteral("None")));
        w->setDfuWaitIntervalForTest(50);
        recordMessages();
        if (keyboard && !QTest::qWaitFor([&] { return w->deviceLoaded(); }, 20000))
            return false;
        if (kb)
            kb->clearLog();
        return true;
    }

private slots:
    void initTestCase() { QVERIFY(m_app.setUpForWindow(QFINDTESTDATA("../appdir"))); }
    void init()
    {
        m_folder.reset(new TempDir);
        m_boxes.reset(new MessageBoxRecorder);
    }
    void cleanup()
    {
        FullWait::setTimerEarlyForTest(0);
        w.reset();
        kb.reset();
        sim::reset();
        m_boxes.reset();
    }

    void newestImageOfEachKindIsChosen_data()
    {
        QTest::addColumn<QStringList>("files"); // name@seconds ago
        QTest::addColumn<QStringList>("chosen"); // by kind
        QTest::addRow("newest of a kind, suffix in any case")
            << QStringList{"qv_bt_app_1.bin@90", "qv_bt_app_2.bin@30", "qv_usb_app_3.BIN@60"}
            << QStringList{"qv_bt_app_2.bin", "qv_usb_app_3.BIN"};
        QTest::addRow("older name, newer file") << QStringList{"qv_bt_app_2.bin@90", "qv_bt_app_1.bin@30"}
                                                << QStringList{"qv_bt_app_1.bin"};
        QTest::addRow("three parts, other suffix, other case")
            << QStringList{"qv_bt_app.bin@10", "qv_bt_app_1.hex@10", "QV_bt_app_1.bin@10", "qv_bt_App_1.bin@10"}
            << QStringList{};
        QTest::addRow("all three kinds")
            << QStringList{"qv_usb_app_x.bin@10", "qv_bt_sd_1.bin@10", "qv_bt_app_v1.2.bin@10"}
                                         << QStringList{"qv_bt_app_v1.2.bin", "qv_bt_sd_1.bin", "qv_usb_app_x.bin"};
    }
    void newestImageOfEachKindIsChosen()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, chosen);
        for (const QString& f : files)
            QVERIFY(!image(f.section('@', 0, 0), 10, f.section('@', 1).toInt()).isEmpty());
        QStringList names;
        for (const QString& path : Tessark::chooseFirmwareImages(m_folder->path()))
            names << QFileInfo(path).fileName();
        QCOMPARE(names, chosen);
    }

    // Application, SoftDevice, then the USB image through the bootloader the keyboard restarts into,
    // each byte for byte; the ring ends at 100 and the window is back in use.
    void threeImagesGoOutInOrder()
    {
        QVERIFY(start(true));
        const QByteArray app = image("qv_bt_app_1.bin", 4800);
        const QByteArray sd = image("qv_bt_sd_1.bin", 4096 + 480);
        const QByteArray usb = image("qv_usb_app_1.bin", 3000);
        sim::BootloaderPtr bl = kb->restartIntoBootloader(200, returning(true));
        QSignalSpy wait(w.get(), &Tessark::emitWaitDfuOpen);
        w->updateSlot(m_folder->path());
        QTRY_VERIFY_WITH_TIMEOUT(bl->ran(), timescale::ms(20000));
        // The page goes once the keyboard is back: its ring is read while the keyboard restarts.
        QTRY_COMPARE_WITH_TIMEOUT(w->upgradePhase(), Tessark::UpgradePhase::Restarting, timescale::ms(10000));
        QCOMPARE(w->settingPage()->firmware()->schedule()->progress(), 100);
        QTRY_VERIFY_WITH_TIMEOUT(w->deviceLoaded(), timescale::ms(20000));
        QTRY_COMPARE_WITH_TIMEOUT(endProblem(*w), QString(), timescale::ms(10000));

        QCOMPARE(folded(wire(kb)), QStringList({"08", "81", "83", "82", "84", "85", "10"}));
        QCOMPARE(QList<int>({wire(kb).count("83"), wire(kb).count("84")}), QList<int>({100, 10}));
        QCOMPARE(folded(isp(bl)), QStringList({"a4", "a0", "00", "ab"}));
        QCOMPARE(kb->btModule().application.left(app.size()), app);
        QCOMPARE(kb->btModule().softDevice.left(sd.size() - 4096), sd.mid(4096));
        QCOMPARE(bl->image(), usb);
        QCOMPARE(QList<QVariantList>(wait), QList<QVariantList>({{true}, {false}, {true}, {false}}));
        QVERIFY(m_boxes->boxes().isEmpty());
        QVERIFY(!w->dfuUsb());
    }

    // Yes to the version prompt: upgrade mode, the keyboard kept open. 100 000 and 50 000 bytes: 66 %
    // when the USB image starts; the keyboard returns with its new version.
    void progressAcrossImagesAndTheReturningKeyboard()
    {
        QVERIFY(start(true, [](sim::FirmwareState& s) { s.fwVersion = 95; }));
        QVERIFY(boxes(*m_boxes).value(0).startsWith("Firmware Update: ")); // answered with its default, Yes
        Setting* page = w->settingPage();
        QVERIFY(page && !page->isNormalLayout() && page->checkUSB());
        QVERIFY(!w->tabList().at(0)->isEnabled() && w->usb());
        image("qv_bt_app_1.bin", 100000);
        image("qv_usb_app_1.bin", 50000);
        kb->restartIntoBootloader(200, returning(true));
        page->updateSureSlot(m_folder->path());
        QTRY_VERIFY_WITH_TIMEOUT(w->dfuWaitTimer().isActive(), timescale::ms(20000));
        QCOMPARE(w->settingPage()->firmware()->schedule()->progress(), 66);
        QTRY_VERIFY_WITH_TIMEOUT(w->deviceLoaded() && w->device()->m_fw_version == 300, timescale::ms(20000));
        QTRY_COMPARE_WITH_TIMEOUT(endProblem(*w), QString(), timescale::ms(10000));
    }

    void errorsEndTheUpgradeAndDropTheRest_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("files"); // a: application, u: USB image
        QTest::addColumn<QString>("box");
        QTest::addRow("rejected erase") << 0 << "au" << "ErrorCode: eraseAppFlashErr: 3" + Blanks;
        QTest::addRow("silent switch to the bootloader") << 1 << "au" << "ErrorCode: unknown Err: -2" + Blanks;
        QTest::addRow("rejected start, USB image left") << 2 << "au" << "ErrorCode: BootloadeToAppErr: 2" + Blanks;
        QTest::addRow("rejected start at the end") << 2 << "a" << "ErrorCode: BootloadeToAppErr: 2" + Blanks;
        QTest::addRow("unplugged, Bluetooth upload") << 3 << "au" << "ErrorCode: WriteAppFlashErr: -3" + Blanks;
        QTest::addRow("disconnect reported before the thread") << 4 << "au" << UpgradeFailed;
        QTest::addRow("unplugged, USB upload") << 5 << "u" << UpgradeFailed;
        QTest::addRow("acknowledgement doubled after the next frame, last block rejected")
            << 6 << "a" << "ErrorCode: WriteAppFlashErr: 3" + Blanks;
        QTest::addRow("last block's rejection while the switch to the application waits")
            << 7 << "a" << "ErrorCode: WriteAppFlashErr: 3" + Blanks;
    }
    void errorsEndTheUpgradeAndDropTheRest()
    {
        QFETCH(int, fault);
        QFETCH(QString, files);
        QFETCH(QString, box);
        QVERIFY(start(true));
        const QByteArray app = image("qv_bt_app_1.bin", 960);
        if (files.contains('u'))
            image("qv_usb_app_1.bin", 3000);
        if (!files.contains('a'))
            QFile::remove(m_folder->filePath("qv_bt_app_1.bin"));
        sim::BootloaderPtr bl = kb->restartIntoBootloader(200, returning(false));
        switch (fault) {
        case 0: kb->rejectBtFrame(0x81, 1, 3); break;
        case 1: kb->ignoreBtFrame(0x08, 1); break;
        case 2: kb->rejectBtFrame(0x85, 1, 2); break;
        case 3: kb->unplugAtWrite(10); break;
        case 4: kb->setBtEraseDelay(3000); break;
        case 5: bl->unplugAtWrite(5); break;
        case 6: // 960 bytes: 20 blocks; the copy is taken for block 3's
            kb->doubleBtAckLate(0x83, 2);
            kb->rejectBtFrame(0x83, 20, 3);
            kb->setBtAckDelay(100);
            break;
        case 7: {
            QByteArray rejection = report(0xB0, 0xDF, 0x83);
            rejection[9] = 1;
            rejection[12] = 3;
            kb->injectBeforeBtAck(0x85, 1, rejection);
            break;
        }
        }
        w->updateSlot(m_folder->path());
        if (fault == 4) {
            QTRY_VERIFY_WITH_TIMEOUT(wire(kb).contains("81") && w->upgradeThreads().btThread(), timescale::ms(10000));
            w->usbDisconnectSLot(); // as the transport would, before the thread saw anything
        }
        QTRY_COMPARE_WITH_TIMEOUT(endProblem(*w), QString(), timescale::ms(15000));
        QCOMPARE(boxes(*m_boxes), box.isEmpty() ? QStringList() : QStringList{box});
        QVERIFY(box.isEmpty() || m_boxes->boxes()[0].kind == MessageBoxRequest::Critical);
        // An error is never logged as a success.
        QVERIFY(loggedEnd(Succeeded) == 0 && loggedEnd(Failed) == 1);
        QCOMPARE(sentReports(kb, 0x10, 0x00).size(), fault == 5 ? 1 : 0);
        QVERIFY(bl->packets().size() < 5 && !bl->ran());
        if (fault == 0) {
            // The keyboard stayed open: the next upgrade runs on the same, stopped thread object.
            const updateDFUBtThread* thread = w->upgradeThreads().btThread();
            QVERIFY(QFile::remove(m_folder->filePath("qv_usb_app_1.bin")));
            w->updateSlot(m_folder->path());
            QTRY_COMPARE_WITH_TIMEOUT(endProblem(*w), QString(), timescale::ms(10000));
            QCOMPARE(w->upgradeThreads().btThread(), thread);
            QCOMPARE(kb->btModule().application.left(app.size()), app);
            QCOMPARE(m_boxes->boxes().size(), 1);
        }
    }

    // A scan restarted while the keyboard stays open stops again and keeps the tabs usable.
    void scanWithTheKeyboardOpenKeepsTheTabs()
    {
        QVERIFY(start(true));
        w->labelPageClickSlot(QStringLiteral("Setting"));
        emit w->settingPage()->emitStartScanDevice();
        QVERIFY(w->scanTimer().isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!w->scanTimer().isActive(), timescale::ms(10000));
        for (TabLabel* tab : w->tabList())
            QVERIFY(tab->isEnabled());
    }

    // Firmware mode, one USB image: 18 failed attempts; a second folder meanwhile is refused; the
    // 19th attempt opens a bootloader present by then, or after it nothing is tried again.
    void bootloaderIsTriedNineteenTimes_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addRow("present at the 19th attempt") << true;
        QTest::addRow("never present") << false;
    }
    void bootloaderIsTriedNineteenTimes()
    {
        QFETCH(bool, present);
        QVERIFY(start(false));
        w->setDfuWaitIntervalForTest(3600 * 1000); // the attempts below are the only ones
        const QByteArray usb = image("qv_usb_app_1.bin", 2000);
        w->updateSlot(m_folder->path());
        QCOMPARE(w->upgradePhase(), Tessark::UpgradePhase::UsbWait);
        const QString attempt = QStringLiteral("Open DFU Device USB wait overtime = ");
        for (int i = 0; i < 18; ++i)
            w->waitOpenDfuDeviceSolt();
        QCOMPARE(logged(attempt), 18);

        image("qv_usb_app_2.bin", 500);
        w->updateDFUSlot(m_folder->path());
        QCOMPARE(logged(QStringLiteral("A firmware upgrade is running: the folder is refused.")), 1);
        QCOMPARE(w->upgradePhase(), Tessark::UpgradePhase::UsbWait);

        sim::BootloaderPtr bl = present ? sim::plugBootloader(returning(true)) : nullptr;
        w->waitOpenDfuDeviceSolt();
        if (present) {
            QTRY_VERIFY_WITH_TIMEOUT(bl->ran(), timescale::ms(10000));
            QCOMPARE(bl->image(), usb);
            QTRY_VERIFY_WITH_TIMEOUT(w->deviceLoaded(), timescale::ms(20000));
        } else {
            QCOMPARE(logged(attempt), 19);
            QCOMPARE(logged(QStringLiteral("Stop update firmware.")), 1);
            QVERIFY(!w->dfuWaitTimer().isActive());
            w->waitOpenDfuDeviceSolt();
            QCOMPARE(logged(attempt), 19);
        }
        QTRY_COMPARE_WITH_TIMEOUT(endProblem(*w), QString(), timescale::ms(10000));
    }

    void refusedFolderSendsNothing_data()
    {
        QTest::addColumn<QStringList>("files"); // name:size
        QTest::addColumn<bool>("keyboard");
        QTest::addColumn<QString>("reason"); // what the box says
        QTest::addRow("empty USB image") << QStringList{"qv_bt_app_1.bin:960", "qv_usb_app_1.bin:0"} << true
                                         << "qv_usb_app_1.bin: is empty";
        QTest::addRow("USB image over 16 MiB") << QStringList{"qv_usb_app_1.bin:16777217"} << true
                                               << "qv_usb_app_1.bin: is larger than 16 MiB";
        QTest::addRow("SoftDevice under 4096 bytes") << QStringList{"qv_bt_sd_1.bin:4095"} << true
                                                     << "qv_bt_sd_1.bin: is shorter than 4096 bytes";
        QTest::addRow("Bluetooth image, no keyboard") << QStringList{"qv_bt_app_1.bin:960"} << false
                                                      << "qv_bt_app_1.bin: no keyboard is open";
        QTest::addRow("no qualifying image") << QStringList{"qv_bt_app.bin:960"} << true
                                             << "No firmware image was found in that folder";
    }
    void refusedFolderSendsNothing()
    {
        QFETCH(QStringList, files);
        QFETCH(bool, keyboard);
        QFETCH(QString, reason);
        QVERIFY(start(keyboard));
        for (const QString& f : files) {
            QFile file(m_folder->filePath(f.section(':', 0, 0)));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(f.section(':', 1).toLongLong()));
        }
        w->updateSlot(m_folder->path());
        QCOMPARE(w->upgradePhase(), Tessark::UpgradePhase::Idle);
        const QStringList shown = boxes(*m_boxes);
        QVERIFY2(shown.size() == 1 && shown[0].contains(reason), qPrintable(shown.join('|')));
        QVERIFY(shown[0].startsWith(reason.startsWith("No") ? "Firmware Update: " : "ErrorCode: "));
        QVERIFY(!kb || sentCount(kb) == 0);
        QVERIFY(loggedEnd(Succeeded) == 0 && loggedEnd(Failed) == 1);
        QCOMPARE(endProblem(*w), QString());
    }

    // A folder without a qualifying image (or with only a directory or FIFO named like one), or a file
    // path typed in its place: nothing is sent, the user is told in the chosen language that no image
    // was found there, and the log says it failed, never that it succeeded.
    void folderWithoutImageIsReportedNotFinished_data()
    {
        QTest::addColumn<QString>("content"); // what the folder holds
        QTest::addColumn<bool>("keyboard");
        QTest::addColumn<int>("language");
        QTest::addRow("image names not qualifying") << "files" << true << 1;
        QTest::addRow("image names not qualifying, Chinese") << "files" << true << 0;
        QTest::addRow("directory named like an image") << "directory" << true << 1;
        QTest::addRow("FIFO named like an image") << "fifo" << true << 1;
        QTest::addRow("an image's path typed as the folder") << "file path" << true << 1;
        QTest::addRow("empty folder, no keyboard") << "" << false << 1;
    }
    void folderWithoutImageIsReportedNotFinished()
    {
        QFETCH(QString, content);
        QFETCH(bool, keyboard);
        QFETCH(int, language);
        QVERIFY(start(keyboard));
        g_language->setLanguageType(language);
        QString path = m_folder->path();
        if (content == "files") {
            image("qv_bt_app.bin", 960);
            image("qv_usb_app_1.hex", 960);
        } else if (content == "directory") {
            QVERIFY(QDir(path).mkdir("qv_usb_app_1.bin"));
        } else if (content == "fifo") {
            QCOMPARE(mkfifo(QFile::encodeName(m_folder->filePath("qv_usb_app_1.bin")).constData(), 0600), 0);
        } else if (content == "file path") {
            image("qv_usb_app_1.bin", 960);
            path = m_folder->filePath("qv_usb_app_1.bin");
        }
        // The page is made first: the limit is on looking through the folder, not on building the page.
        w->labelPageClickSlot(QStringLiteral("Setting"));
        QElapsedTimer clock;
        clock.start();
        w->updateSlot(path);
        g_language->setLanguageType(1);
        QVERIFY2(clock.elapsed() < timescale::ms(20000), qPrintable(QString::number(clock.elapsed())));
        // What is named like an image but is no regular file is passed over by its kind, never opened.
        const QString kind = content == "fifo" ? "a FIFO" : content == "directory" ? "a directory" : QString();
        if (!kind.isEmpty())
            QCOMPARE(logged(QStringLiteral("Firmware image skipped: \"%1\": not a regular file (%2)")
                                .arg(m_folder->filePath("qv_usb_app_1.bin"), kind)),
                     1);
        QCOMPARE(w->upgradePhase(), Tessark::UpgradePhase::Idle);
        const QString where = QDir::toNativeSeparators(path);
        const QString box = language == 0 ? "固件升级: 该文件夹中没有找到固件镜像：\n" + where
                                          : "Firmware Update: No firmware image was found in that folder:\n" + where;
        QCOMPARE(boxes(*m_boxes).size(), 1);
        QVERIFY2(boxes(*m_boxes)[0].startsWith(box), qPrintable(boxes(*m_boxes)[0]));
        QCOMPARE(m_boxes->boxes()[0].kind, MessageBoxRequest::Critical);
        QVERIFY(!kb || sentCount(kb) == 0);
        QCOMPARE(logged(QStringLiteral("Firmware upgrade refused, nothing sent:")), 1);
        QVERIFY(loggedEnd(Succeeded) == 0 && loggedEnd(Failed) == 1);
        QCOMPARE(endProblem(*w), QString());
    }

    // An upgrade that fails under way tells the user so, in the chosen language, and what to do next;
    // the log says it failed, never that it succeeded.
    void failedUpgradeTellsTheUserWhatToDo_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("language");
        QTest::addRow("USB upload cut") << "usb unplug" << 1;
        QTest::addRow("USB upload cut, Chinese") << "usb unplug" << 0;
        QTest::addRow("bootloader never opens") << "no bootloader" << 1;
        QTest::addRow("Bluetooth upload ends with the keyboard") << "bt disconnect" << 1;
    }
    void failedUpgradeTellsTheUserWhatToDo()
    {
        QFETCH(QString, fault);
        QFETCH(int, language);
        QVERIFY(start(true));
        g_language->setLanguageType(language);
        image(fault.startsWith("bt") ? "qv_bt_app_1.bin" : "qv_usb_app_1.bin", 3000);
        if (fault == "usb unplug")
            kb->restartIntoBootloader(200, returning(false))->unplugAtWrite(5);
        else if (fault == "bt disconnect")
            kb->setBtEraseDelay(3000);
        w->updateSlot(m_folder->path());
        if (fault == "bt disconnect") {
            QTRY_VERIFY_WITH_TIMEOUT(wire(kb).contains("81") && w->upgradeThreads().btThread(), timescale::ms(10000));
            w->usbDisconnectSLot();
        }
        QTRY_COMPARE_WITH_TIMEOUT(endProblem(*w), QString(), timescale::ms(15000));
        g_language->setLanguageType(1);
        const QString box = language == 0
            ? QStringLiteral("固件升级: 固件升级失败。\n请重新插入键盘：工具会重新打开其引导程序，然后可以再次升级。")
            : UpgradeFailed;
        QCOMPARE(boxes(*m_boxes), QStringList{box});
        QCOMPARE(m_boxes->boxes()[0].kind, MessageBoxRequest::Critical);
        QVERIFY(loggedEnd(Succeeded) == 0 && loggedEnd(Failed) == 1);
    }

    // The USB image is done only when the keyboard is back and loaded with what was sent; until then
    // the ring says it restarts. What the user is told for each way it comes back, or does not.
    void usbUpgradeEndsWithTheKeyboardBack_data()
    {
        QTest::addColumn<QString>("after");  // what the run command leads to
        QTest::addColumn<QString>("offered"); // the online road's version of the image; empty: a manual image
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("box");    // the boxes in order, '|' between two; empty: none
        QTest::addColumn<QString>("log");    // the line that says how it ended
        const QString same = QStringLiteral("Firmware Update: The keyboard reports the same version as before the "
                                            "upgrade (V%1).\nIf the image was to bring a new version, it did not "
                                            "take: you can repeat the upgrade.");
        QTest::addRow("keyboard back with a new version") << "new" << QString() << 1 << QString() << Succeeded;
        QTest::addRow("keyboard back with its old version") << "old" << QString() << 1 << same
                                                            << "Firmware upgrade not confirmed";
        QTest::addRow("keyboard back with its old version, Chinese")
            << "old" << QString() << 0
            << QStringLiteral("固件升级: 键盘报告的固件版本与升级前相同（V%1）。\n如果该固件应带来新版本，"
                              "则升级没有生效，可以再次升级。")
            << "Firmware upgrade not confirmed";
        QTest::addRow("keyboard back with its old version, a download refused before")
            << "old, download refused" << QString() << 1 << same << "Firmware upgrade not confirmed";
        QTest::addRow("bootloader stays on the bus") << "stays" << QString() << 1 << UpgradeFailed
                                                     << "Firmware upgrade failed: the bootloader is still on the bus";
        QTest::addRow("keyboard back beside another one") << "new beside another" << QString() << 1 << QString()
                                                          << Succeeded;
        QTest::addRow("bootloader stays, another keyboard plugged meanwhile")
            << "stays, another plugged" << QString() << 1 << UpgradeFailed
            << "Firmware upgrade failed: the bootloader is still on the bus";
        QTest::addRow("nothing comes back") << "nothing" << QString() << 1 << UpgradeFailed
                                            << "Firmware upgrade failed: neither the keyboard nor its bootloader";
        // Its timer fires a quarter of the wait early, as a coarse one may: armed again for the rest, the
        // wait ends by the clock, and the failure is told.
        QTest::addRow("nothing comes back, the wait's timer firing early")
            << "nothing, timer firing early" << QString() << 1 << UpgradeFailed
            << "Firmware upgrade failed: neither the keyboard nor its bootloader";
        QTest::addRow("nothing comes back, the shipped wait")
            << "nothing, shipped wait" << QString() << 1 << UpgradeFailed
            << "Firmware upgrade failed: neither the keyboard nor its bootloader came back within 20000 ms";
        QTest::addRow("image's version known, keyboard back with another")
            << "new" << "3.0.1" << 1
            << QStringLiteral("Firmware Update: The firmware upgrade failed: the keyboard came back with version "
                              "V3.0.0, not the new firmware's V3.0.1.\nYou can repeat the upgrade.")
            << "Firmware upgrade failed: the keyboard is back with version";
        QTest::addRow("image's version known and reported") << "new" << "3.0.0" << 1 << QString() << Succeeded;
        // Back in the last quarter of the wait, its load running on past the wait's end.
        QTest::addRow("keyboard back near the end of the wait, loading past it")
            << "near the end" << QString() << 1 << QString() << Succeeded;
        const QString late = QStringLiteral("The upgraded keyboard is back after the wait for it failed");
        QTest::addRow("keyboard back after the failure box with a new version")
            << "late new" << QString() << 1
            << UpgradeFailed + "|Firmware Update: The keyboard is back after all and reports version V3.0.0. It "
                               "had V%1 before the upgrade."
            << late;
        QTest::addRow("keyboard back after the failure box with a new version, Chinese")
            << "late new" << QString() << 0
            << QStringLiteral("固件升级: 固件升级失败。\n请重新插入键盘：工具会重新打开其引导程序，然后可以再次升级。|"
                              "固件升级: 键盘最终已重新连接，报告的固件版本是 V3.0.0。升级前是 V%1。")
            << late;
        QTest::addRow("keyboard back after the failure box with its old version")
            << "late old" << QString() << 1 << UpgradeFailed + "|" + same << late;
        QTest::addRow("keyboard back after the failure box, image's version known, another reported")
            << "late new" << "3.0.1" << 1
            << UpgradeFailed + QStringLiteral("|Firmware Update: The firmware upgrade failed: the keyboard came back "
                                              "with version V3.0.0, not the new firmware's V3.0.1.\nYou can repeat "
                                              "the upgrade.")
            << late;
        // Opened first while the upgraded keyboard restarts; the older one would ask for an upgrade itself.
        QTest::addRow("another keyboard, older, plugged and opened during the wait")
            << "another plugged, older" << QString() << 1 << QString() << Succeeded;
        QTest::addRow("another keyboard, newer, plugged and opened during the wait")
            << "another plugged, newer" << QString() << 1 << QString() << Succeeded;
        // Opened as the wait runs out and found to be another: nothing is left that could be the upgraded
        // one, and the box comes without waiting out the time a load may take. (On a slow machine the wait
        // may run out before the other keyboard is even seen: the failure's reason is then another.)
        QTest::addRow("another keyboard back near the end of the wait, the upgraded one never")
            << "another near the end" << QString() << 1 << UpgradeFailed
            << "Firmware upgrade failed: a keyboard came back within";
        // Back within the wait, it never answers: its load may take only so long after the wait.
        QTest::addRow("keyboard back within the wait that never loads")
            << "never loads" << QString() << 1 << UpgradeFailed
            << "Firmware upgrade failed: a keyboard came back within";
        // Back within the wait, it leaves during its load after the wait ran out and is back again within
        // the extra time: that time is its own until it runs out.
        QTest::addRow("keyboard back within the wait, gone during its load, back within the extra time")
            << "bounces" << QString() << 1 << QString() << Succeeded;
        QTest::addRow("keyboard back within the wait, gone during its load, not back within the extra time")
            << "gone during its load" << QString() << 1 << UpgradeFailed
            << "Firmware upgrade failed: a keyboard came back within";
        // The wait's timer fires a quarter of the wait early, as a coarse one may: the wait still runs
        // its whole length by the clock, and a keyboard back 50 ms before its end is back in time.
        QTest::addRow("keyboard back 50 ms before the end of the wait, its timer firing early")
            << "just before the end" << QString() << 1 << QString() << Succeeded;
        // Listed, but not yet opened by the scan as the wait runs out: the extra time is its own too.
        QTest::addRow("keyboard back within the wait, not yet opened as it ends, gone and back within the extra time")
            << "unopened bounces" << QString() << 1 << QString() << Succeeded;
        // Back again within the extra time, it never loads: the failure tells it came back, not that it left.
        QTest::addRow("keyboard back within the wait, gone during its load, back within the extra time, never loads")
            << "bounces, never loads" << QString() << 1 << UpgradeFailed
            << "Firmware upgrade failed: a keyboard came back within";
    }
    void usbUpgradeEndsWithTheKeyboardBack()
    {
        QFETCH(QString, after);
        QFETCH(QString, offered);
        QFETCH(int, language);
        QFETCH(QString, box);
        QFETCH(QString, log);
        QVERIFY(start(true));
        g_language->setLanguageType(language);
        const int before = kb->state().fwVersion;
        QVERIFY(before != 300);
        image("qv_usb_app_1.bin", 3000);
        sim::BootloaderConfig config = returning(after.startsWith("new") || after.startsWith("old"));
        config.staysAfterRun = after.startsWith("stays");
        sim::KeyboardConfig otherConfig = sim::fullSizeDual();
        otherConfig.seed = 9; // a device id of its own
        sim::KeyboardPtr other;
        // Rows whose upgraded keyboard comes back when the row plugs it, the bootloader gone meanwhile.
        const bool bounces = after == "bounces" || after == "unopened bounces" || after == "bounces, never loads";
        const bool neverLoads = after == "never loads" || after == "gone during its load" || after == "bounces, never loads";
        const bool plugged = after == "near the end" || after.startsWith("late") || after.startsWith("another plugged")
                          || after == "never loads" || bounces || after == "gone during its load"
                          || after == "just before the end";
        sim::KeyboardPtr returned;
        bool bounced = false; // the keyboard left during its load and comes back again
        const auto comeBack = [&] {
            returned = sim::plug(config.keyboard); // the same keyboard: its device id is the upgraded one's
            const uint16_t version = config.fwVersion;
            returned->edit([version](sim::FirmwareState& s) { s.fwVersion = version; });
            if (after == "near the end")
                returned->setReportDelay(3); // a slow load
            if (after == "never loads" || after == "gone during its load" || after == "bounces, never loads"
                || (after == "bounces" && !bounced))
                returned->silence(0x10, 0x10);
        };
        if (after == "new beside another") { // listed, not open, as the upgrade starts
            other = sim::plug(otherConfig);
            QTRY_COMPARE_WITH_TIMEOUT(w->menuTree()->devices().size(), 2, timescale::ms(10000));
        }
        config.fwVersion = uint16_t(after.startsWith("old") || after == "late old" ? before : 300);
        sim::BootloaderPtr bl = kb->restartIntoBootloader(200, config);
        const bool back = (config.keyboardReturns && !config.staysAfterRun)
                          || (plugged && !neverLoads);
        // Long enough for a keyboard to load; a wait that must run out runs out soon, unless another
        // keyboard must load within it. The shipped wait is 20 s: the box comes after it, long before 40 s.
        const bool shipped = after.endsWith("shipped wait");
        const int restartWait = timescale::ms(after.endsWith("near the end") ? 4000
                                              : after.startsWith("late") || after == "never loads" || bounces
                                                    || after == "gone during its load" || after == "just before the end"
                                                  ? 2000
                                              : back || after == "stays, another plugged" ? 20000
                                                                                          : 2000);
        if (!shipped)
            w->setRestartWaitForTest(restartWait);
        if (after == "just before the end" || after.endsWith("timer firing early"))
            FullWait::setTimerEarlyForTest(restartWait / 4);
        w->setRestartLoadGraceForTest(after == "bounces, never loads" ? timescale::ms(6000)
                                      : neverLoads                    ? timescale::ms(2000)
                                      : after == "another near the end" ? 3600 * 1000 // never runs out here
                                                                         : timescale::ms(20000));
        if (after.startsWith("late"))
            m_boxes->whileOpen([&](const MessageBoxRequest&) { // the failure box is up
                if (!returned)
                    comeBack();
            });
        bool openUnderBox = false;
        if (after == "never loads") // the box covers no keyboard still loading
            m_boxes->whileOpen([&](const MessageBoxRequest&) { openUnderBox = openUnderBox || w->usb(); });
        if (after == "old, download refused") { // handed over while a Bluetooth image goes: its version stays out
            TempDir bt;
            QFile app(bt.filePath("qv_bt_app_1.bin"));
            QVERIFY(app.open(QIODevice::WriteOnly) && app.write(imageBytes(960, 1)) == 960);
            app.close();
            kb->setBtEraseDelay(500);
            w->updateSlot(bt.path());
            g_overallVariate->setOfferedUsbVersion("3.0.1");
            w->updateSlot(m_folder->path());
            QCOMPARE(logged("A firmware upgrade is running: the folder is refused."), 1);
            QTRY_COMPARE_WITH_TIMEOUT(endProblem(*w), QString(), timescale::ms(10000));
            recordMessages(); // the Bluetooth image's own end is not this row's
        }
        if (!offered.isEmpty())
            g_overallVariate->setOfferedUsbVersion(offered); // as the version file's check leaves it
        if (after == "old, download refused")
            w->settingPage()->updateSureSlot(m_folder->path()); // the manual road: the page's update button
        else
            w->updateSlot(m_folder->path());
        QTRY_VERIFY_WITH_TIMEOUT(bl->ran(), timescale::ms(20000));
        if (after == "stays, another plugged") { // it comes while the upgraded one restarts
            QTRY_COMPARE_WITH_TIMEOUT(w->upgradePhase(), Tessark::UpgradePhase::Restarting, timescale::ms(10000));
            other = sim::plug(otherConfig);
        }
        const bool leaves = after == "bounces" || after == "gone during its load" || after == "bounces, never loads";
        if (after == "just before the end") { // plugged 50 ms before the wait's end by its clock
            QTRY_COMPARE_WITH_TIMEOUT(w->upgradePhase(), Tessark::UpgradePhase::Restarting, timescale::ms(10000));
            const int left = w->restartWaitTimer().remainingTime();
            QVERIFY2(left > restartWait / 2, qPrintable(QString::number(left)));
            int leftAtPlug = -2;
            QTimer::singleShot(left - 50, Qt::PreciseTimer, this, [&] {
                leftAtPlug = w->restartWaitTimer().remainingTime();
                comeBack();
            });
            QTRY_VERIFY_WITH_TIMEOUT(leftAtPlug != -2, restartWait);
            QVERIFY2(leftAtPlug > 0 && leftAtPlug <= 50, qPrintable(QString::number(leftAtPlug))); // still waiting
        }
        if (after == "unopened bounces") { // the scan's turn has not come before the wait ends
            QTRY_COMPARE_WITH_TIMEOUT(w->upgradePhase(), Tessark::UpgradePhase::Restarting, timescale::ms(10000));
            QTRY_VERIFY_WITH_TIMEOUT(w->restartWaitTimer().remainingTime() <= restartWait / 2, restartWait);
            auto& scan = const_cast<QTimer&>(w->scanTimer());
            scan.stop();
            QVERIFY(w->restartWaitTimer().isActive() && !w->usb());
            comeBack();
            QTRY_VERIFY_WITH_TIMEOUT(!w->restartWaitTimer().isActive(), restartWait);
            QCOMPARE(w->upgradePhase(), Tessark::UpgradePhase::Restarting);
            QVERIFY(!w->usb());
            sim::unplug(returned);
            bounced = true;
            scan.start(Tessark::ScanIntervalMs);
            const QString left = QStringLiteral("The keyboard that came back within the wait left during its load");
            QTRY_VERIFY_WITH_TIMEOUT(logged(left) == 1 || !m_boxes->boxes().isEmpty(), timescale::ms(10000));
            QCOMPARE(boxes(*m_boxes), QStringList());
            QCOMPARE(w->upgradePhase(), Tessark::UpgradePhase::Restarting);
            comeBack();
        }
        if (after.endsWith("near the end") || after == "never loads" || leaves) {
            QTRY_COMPARE_WITH_TIMEOUT(w->upgradePhase(), Tessark::UpgradePhase::Restarting, timescale::ms(10000));
            const int by = after == "never loads" || leaves ? restartWait / 2 : restartWait / 4; // left
            QTRY_VERIFY_WITH_TIMEOUT(w->restartWaitTimer().remainingTime() <= by, restartWait);
            QVERIFY(w->restartWaitTimer().isActive());
            if (after == "another near the end") {
                other = sim::plug(otherConfig);
                other->setReportDelay(3); // still loading as the wait runs out
            } else {
                comeBack();
            }
        }
        if (leaves) { // still loading as the wait runs out; then gone (and back for good, or not)
            QTRY_VERIFY_WITH_TIMEOUT(!w->restartWaitTimer().isActive() && w->usb()
                                         && w->usb()->path() == returned->commandPath(),
                                     timescale::ms(10000));
            QCOMPARE(w->upgradePhase(), Tessark::UpgradePhase::Restarting);
            sim::unplug(returned);
            const QString left = QStringLiteral("The keyboard that came back within the wait left during its load");
            QTRY_VERIFY_WITH_TIMEOUT(logged(left) == 1 || !m_boxes->boxes().isEmpty(), timescale::ms(10000));
            QCOMPARE(boxes(*m_boxes), QStringList());
            QCOMPARE(logged(left), 1);
            QCOMPARE(w->upgradePhase(), Tessark::UpgradePhase::Restarting);
            bounced = true;
            if (after == "bounces" || after == "bounces, never loads")
                comeBack();
        }
        if (after.startsWith("another plugged")) {
            QTRY_COMPARE_WITH_TIMEOUT(w->upgradePhase(), Tessark::UpgradePhase::Restarting, timescale::ms(10000));
            other = sim::plug(otherConfig);
            const uint16_t version = after.endsWith("older") ? 95 : 400; // 95: under the board's 1.0.0
            other->edit([version](sim::FirmwareState& s) { s.fwVersion = version; });
            QTRY_VERIFY_WITH_TIMEOUT(w->usb() && w->usb()->path() == other->commandPath(), timescale::ms(10000));
            comeBack();
        }
        if (after == "stays" || after.startsWith("nothing")) {
            QTRY_COMPARE_WITH_TIMEOUT(w->upgradePhase(), Tessark::UpgradePhase::Restarting, timescale::ms(10000));
            QCOMPARE(w->settingPage()->firmware()->schedule()->label()->text(),
                     language == 0 ? QStringLiteral("重启中") : QStringLiteral("RESTART"));
            QVERIFY(!w->settingPage()->isNormalLayout());
        }
        int leftSeen = -1; // what the wait had left when the row saw it start, and the time since
        QElapsedTimer sinceSeen;
        if (after.endsWith("timer firing early")) {
            QTRY_COMPARE_WITH_TIMEOUT(w->upgradePhase(), Tessark::UpgradePhase::Restarting, timescale::ms(10000));
            leftSeen = w->restartWaitTimer().remainingTime();
            sinceSeen.start();
        }
        QTRY_VERIFY_WITH_TIMEOUT(back ? w->deviceLoaded() : !w->restartWaitTimer().isActive(),
                                 timescale::ms(shipped ? 40000 : 30000));
        QVERIFY2(leftSeen < 0 || sinceSeen.elapsed() >= leftSeen - 1,
                 qPrintable(QStringLiteral("ended %1 ms after the row saw %2 ms left").arg(sinceSeen.elapsed()).arg(leftSeen)));
        const QStringList shown = box.isEmpty() ? QStringList() : box.split('|');
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes->boxes().size(), shown.size(), timescale::ms(10000));
        if (after == "never loads" || after == "bounces, never loads") { // taken away again: what follows the box is not this row's
            QVERIFY(w->upgradePhase() == Tessark::UpgradePhase::Idle && returned->plugged() && !openUnderBox);
            sim::unplug(returned);
        }
        if (after == "stays") // the way back: the scans find the bootloader, and firmware mode takes it
            QTRY_VERIFY_WITH_TIMEOUT(w->upgradePhase() == Tessark::UpgradePhase::Idle && bl->plugged()
                                         && !w->settingPage()->isNormalLayout() && w->settingPage()->checkUSB(),
                                     timescale::ms(10000));
        else
            QTRY_COMPARE_WITH_TIMEOUT(endProblem(*w), QString(), timescale::ms(10000));
        g_language->setLanguageType(1);
        const QString v = QStringLiteral("%1.%2.%3").arg(before / 100).arg(before % 100 / 10).arg(before % 10);
        QStringList expected;
        for (const QString& b : shown)
            expected << (b.contains("%1") ? b.arg(v) : b);
        QCOMPARE(boxes(*m_boxes), expected);
        if (!box.isEmpty())
            QCOMPARE(m_boxes->boxes()[0].kind, after.startsWith("old") ? MessageBoxRequest::Warning : MessageBoxRequest::Critical);
        if (after.startsWith("late")) // what the keyboard reports is news, a warning, or a failure
            QCOMPARE(m_boxes->boxes()[1].kind, !offered.isEmpty() ? MessageBoxRequest::Critical
                                               : after == "late old" ? MessageBoxRequest::Warning
                                                                     : MessageBoxRequest::Information);
        if (after == "gone during its load") // the failure says the keyboard left
            QCOMPARE(logrecorder::lines().filter("left again during its load; the upgraded one was not back").size(), 1);
        if (after == "bounces, never loads") { // it came back: neither the failure nor a line after it says it left
            const QStringList all = logrecorder::lines();
            QCOMPARE(all.filter("left again").size(), 0);
            const int verdict = all.indexOf(QRegularExpression("Firmware upgrade failed: .*"));
            QVERIFY(verdict >= 0);
            for (int i = verdict; i < all.size(); ++i)
                QVERIFY2(!all[i].contains("left during its load"), qPrintable(all[i]));
        }
        const int reasons = loggedEnd(log) + logged(log)
                            + (after == "another near the end"
                                   ? logged("Firmware upgrade failed: neither the keyboard nor its bootloader")
                                   : 0);
        QCOMPARE(reasons, 1);
        // Success is told only once the keyboard is open again, never at the run command.
        const QStringList lines = logrecorder::lines();
        int opened = -1, told = -1;
        for (int i = 0; i < lines.size(); ++i) {
            opened = lines[i] == QLatin1String("Create USB thread.") ? i : opened;
            told = lines[i].endsWith(Succeeded) ? i : told;
        }
        QVERIFY2(told < 0 || (opened >= 0 && told > opened), qPrintable(QString("%1 %2").arg(told).arg(opened)));
        QCOMPARE(told >= 0, box.isEmpty());
        // A bootloader seen during the wait is the wait's to judge: no firmware mode over the ring meanwhile.
        const int waitFrom = lines.indexOf(QRegularExpression("The image is in: waiting up to.*"));
        const int waitTo = lines.indexOf(QRegularExpression("Firmware upgrade failed: .*"), waitFrom);
        QVERIFY(waitFrom >= 0 && (waitTo > waitFrom || back));
        for (int i = waitFrom; after.startsWith("stays") && i < waitTo; ++i)
            QVERIFY2(!lines[i].startsWith("enter firmware mode"), qPrintable(lines[i]));
        if (back) { // the upgraded keyboard is open
            QCOMPARE(int(w->device()->m_fw_version), int(config.fwVersion));
            QCOMPARE(w->usb()->path(), returned ? returned->commandPath() : bl->keyboardAfterRun()->commandPath());
        }
        if (other && after.startsWith("another plugged")) // listed, for the user to choose
            QTRY_COMPARE_WITH_TIMEOUT(w->menuTree()->devices().size(), 2, timescale::ms(10000));
    }

    // After a Bluetooth-only upgrade, an error or a refusal the settings page shows the keyboard's own
    // sleep time again (a time of 0 keeps the box clear and the slider locked); without a keyboard the
    // name and the sleep controls stay locked.
    void deviceControlsAfterAnUpgradeFollowTheKeyboard_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<bool>("keyboard");
        QTest::addColumn<int>("sleepMinutes");
        QTest::addRow("Bluetooth-only upgrade, sleep off") << "done" << true << 0;
        QTest::addRow("Bluetooth-only upgrade, sleep on") << "done" << true << 10;
        QTest::addRow("rejected erase, sleep off") << "error" << true << 0;
        QTest::addRow("refused image, sleep off") << "refused" << true << 0;
        QTest::addRow("refused image, sleep on") << "refused" << true << 20;
        QTest::addRow("refused, no keyboard") << "refused" << false << 0;
    }
    void deviceControlsAfterAnUpgradeFollowTheKeyboard()
    {
        QFETCH(QString, end);
        QFETCH(bool, keyboard);
        QFETCH(int, sleepMinutes);
        std::function<void(sim::FirmwareState&)> sleep;
        if (keyboard)
            sleep = [&](sim::FirmwareState& s) { s.sleepTime = uint32_t(sleepMinutes) * 60000u; };
        QVERIFY(start(keyboard, sleep));
        if (end == "refused")
            image("qv_bt_sd_1.bin", 100); // too short, or no keyboard to take it
        else
            image("qv_bt_app_1.bin", 960);
        if (end == "error")
            kb->rejectBtFrame(0x81, 1, 3);
        w->updateSlot(m_folder->path());
        QTRY_COMPARE_WITH_TIMEOUT(endProblem(*w), QString(), timescale::ms(15000));
        QCOMPARE(m_boxes->boxes().size(), int(end != "done"));
        Setting* page = w->settingPage();
        auto* box = page->findChild<QCheckBox*>("checkBox_Enabled_AutoSleep");
        auto* name = page->findChild<QLineEdit*>("QLineEdit_BluetoothName");
        const bool on = sleepMinutes != 0;
        QCOMPARE(box->isChecked(), on);
        QCOMPARE(box->isEnabled(), keyboard);
        QCOMPARE(page->sleepSlider()->slider()->isEnabled(), on);
        QCOMPARE(name->isEnabled(), keyboard);
        if (on)
            QCOMPARE(page->sleepSlider()->value(), sleepMinutes);
    }

    // The scan finds a bootloader alone: firmware mode; its folder's Bluetooth images are dropped.
    void firmwareModeSendsOnlyTheUsbImage()
    {
        sim::BootloaderPtr bl = sim::plugBootloader(returning(true));
        QVERIFY(start(false));
        QTRY_VERIFY_WITH_TIMEOUT(w->settingPage() && !w->settingPage()->isNormalLayout(), timescale::ms(10000));
        QVERIFY(!w->scanTimer().isActive() && !w->tabList().at(0)->isEnabled());
        image("qv_bt_app_1.bin", 960);
        image("qv_bt_sd_1.bin", 5000);
        const QByteArray usb = image("qv_usb_app_1.bin", 3000);
        w->settingPage()->updateSureSlot(m_folder->path());
        QTRY_VERIFY_WITH_TIMEOUT(bl->ran(), timescale::ms(10000));
        QCOMPARE(bl->image(), usb);
        QCOMPARE(logged(QStringLiteral("No keyboard open: the Bluetooth image is not sent:")), 2);
        QVERIFY(m_boxes->boxes().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(endProblem(*w), QString(), timescale::ms(20000));
        QVERIFY(m_boxes->boxes().isEmpty());
    }

    // After an upgrade whose keyboard never came back, the user plugs it in again and it comes up in its
    // bootloader; the upgrade from there is cut in its upload. Once the keyboard is back, only that upload's
    // failure is told: the keyboard the first upgrade waited for is no longer news.
    void aCutUploadAfterAFailedWaitIsToldAlone()
    {
        QVERIFY(start(true));
        image("qv_usb_app_1.bin", 3000);
        const sim::BootloaderConfig config = returning(false); // after the run command nothing comes back
        w->setRestartWaitForTest(timescale::ms(2000));
        sim::BootloaderPtr first = kb->restartIntoBootloader(200, config);
        w->updateSlot(m_folder->path());
        QTRY_VERIFY_WITH_TIMEOUT(first->ran(), timescale::ms(20000));
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes->boxes().size(), 1, timescale::ms(20000));
        QTRY_COMPARE_WITH_TIMEOUT(endProblem(*w), QString(), timescale::ms(10000));

        sim::BootloaderPtr second = sim::plugBootloader(config);
        second->unplugAtWrite(5);
        QTRY_VERIFY_WITH_TIMEOUT(w->settingPage() && !w->settingPage()->isNormalLayout(), timescale::ms(10000));
        w->settingPage()->updateSureSlot(m_folder->path());
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes->boxes().size(), 2, timescale::ms(20000));
        QVERIFY(!second->plugged() && !second->ran());

        sim::KeyboardPtr back = sim::plug(config.keyboard); // the upgraded keyboard's device id
        QTRY_VERIFY_WITH_TIMEOUT(w->deviceLoaded() && w->usb() && w->usb()->path() == back->commandPath(),
                                 timescale::ms(20000));
        QTRY_COMPARE_WITH_TIMEOUT(endProblem(*w), QString(), timescale::ms(10000));
        QTest::qWait(300); // a box would come through the event loop
        QCOMPARE(boxes(*m_boxes), (QStringList{UpgradeFailed, UpgradeFailed}));
        QCOMPARE(logged(QStringLiteral("The upgraded keyboard is back after the wait for it failed")), 0);
    }

    void exitLeavesNoThreadRunning_data()
    {
        QTest::addColumn<int>("phase");
        QTest::addRow("Bluetooth image") << int(Tessark::UpgradePhase::Bluetooth);
        QTest::addRow("waiting for the bootloader") << int(Tessark::UpgradePhase::UsbWait);
        QTest::addRow("USB upload") << int(Tessark::UpgradePhase::UsbUpload);
        QTest::addRow("keyboard restarting") << int(Tessark::UpgradePhase::Restarting);
    }
    void exitLeavesNoThreadRunning()
    {
        QFETCH(int, phase);
        const auto p = Tessark::UpgradePhase(phase);
        sim::BootloaderPtr bl;
        if (p == Tessark::UpgradePhase::UsbUpload) {
            bl = sim::plugBootloader(returning(false));
            bl->faultAck(3, sim::Bootloader::AckFault::Silent); // the upload waits for it
        }
        QVERIFY(start(p != Tessark::UpgradePhase::UsbUpload));
        if (kb)
            kb->setBtEraseDelay(5000);
        if (p == Tessark::UpgradePhase::Restarting) {
            sim::BootloaderConfig stays = returning(false);
            stays.staysAfterRun = true; // the wait runs its full length
            kb->restartIntoBootloader(200, stays);
        }
        image(p == Tessark::UpgradePhase::Bluetooth ? "qv_bt_app_1.bin" : "qv_usb_app_1.bin", 3000);
        w->updateSlot(m_folder->path());
        QTRY_COMPARE_WITH_TIMEOUT(w->upgradePhase(), p, timescale::ms(10000));
        QTRY_VERIFY_WITH_TIMEOUT(p != Tessark::UpgradePhase::UsbUpload || bl->packets().size() >= 3, timescale::ms(10000));
        // A keyboard switch from the menu would close the keyboard under the upgrade: refused.
        if (w->menuTree() && !w->menuTree()->devices().isEmpty()) {
            w->switchUsbDevice(w->menuTree()->devices().first());
            QCOMPARE(w->upgradePhase(), p);
        }

        w->exitAppActionSlot();
        QVERIFY(!w->dfuWaitTimer().isActive() && !w->restartWaitTimer().isActive());
        QCOMPARE(w->upgradePhase(), Tessark::UpgradePhase::Idle);
        updateDFUBtThread* bt = w->upgradeThreads().btThread();
        QVERIFY(!w->upgradeThreads().firmwareThread().isRunning() && !(bt && bt->isRunning()));
        QVERIFY(!w->dfuUsb());
        w.reset(); // before the quit sequence ends the event loop
    }

    // Operations nothing in the window calls: the bootloader screen, the first entry's start and the
    // request-by-request Bluetooth uploads.
    void operationsKeptForOtherCallers()
    {
        QVERIFY(start(true));
        const QString app = m_folder->filePath("qv_bt_app_1.bin");
        const QString sd = m_folder->filePath("qv_bt_sd_1.bin");
        const QByteArray appBytes = image("qv_bt_app_1.bin", 1000);
        const QByteArray sdBytes = image("qv_bt_sd_1.bin", 4096 + 500);
        Device* dev = w->device();
        QCOMPARE(dev->_bt_app_boot(), DeviceResult::Ok);
        QCOMPARE(w->updateBtAppSync(app), DeviceResult::Ok);
        QCOMPARE(kb->btModule().application.left(appBytes.size()), appBytes);
        QVERIFY(!kb->btModule().inBootloader);
        QCOMPARE(dev->_bt_app_boot(), DeviceResult::Ok);
        QCOMPARE(w->updateBtSdSync(sd), DeviceResult::Ok);
        QCOMPARE(kb->btModule().softDevice.left(500), sdBytes.mid(4096));

        w->setFirmwareImagesForTest({{Tessark::UsbAppImage, m_folder->filePath("qv_usb_app_1.bin")}});
        w->updateBtFile();
        QCOMPARE(logged(QStringLiteral("单模键盘"), true), 1);
        QCOMPARE(w->upgradePhase(), Tessark::UpgradePhase::Idle);
        kb->clearLog();
        w->setFirmwareImagesForTest({{Tessark::BtAppImage, app}});
        w->updateBtFile();
        QCOMPARE(logged(QStringLiteral("双模键盘"), true), 1);
        QTRY_COMPARE_WITH_TIMEOUT(endProblem(*w), QString(), timescale::ms(10000));
        QCOMPARE(folded(wire(kb)), QStringList({"08", "81", "83", "85"}));

        QSignalSpy usbRead(w.get(), &Tessark::emitUsbRead);
        w->createDfuUiSlot();
        QCOMPARE(usbRead.count(), 1);
        QVERIFY(w->settingPage() && !w->settingPage()->isNormalLayout() && w->settingPage()->checkUSB());
        QVERIFY(w->menuButton()->isEnabled());
    }
};

QTEST_MAIN(FirmwareUpgrade)
#include "test_firmwareupgrade.moc"
