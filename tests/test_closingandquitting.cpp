// The main window closing its keyboard (unplugged, failed load, upgrade threads running) and quitting
// (Exit's timed sequence, the system's close request), against emulated keyboards.
// With TESSARK_UNPLUG_SHOT=<file.png> it also writes a picture of the window after an unplug.
#include "messageboxrecorder.h"
#include "tempappdir.h"

#include "Update/downloadfile.h"
#include "Update/onlineupdate.h"
#include "Update/overallvariate.h"
#include "device/device.h"
#include "device/updatedfubtthread.h"
#include "device/usb.h"
#include "macro/macro.h"
#include "macro/macroitem.h"
#include "main/systemstop.h"
#include "main/tessark.h"
#include "setting/Language.h"
#include "shortcut/shortcuts.h"
#include "shortcut/shortcutsitem.h"
#include "simcontrol.h"
#include "timescale.h"
#include "wire.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QLineEdit>
#include <QMutex>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

// Every message from every thread, with the time it arrived, passed on to the handler before.
struct Line {
    qint64 ms;
    QString text;
};
QMutex g_mutex;
QList<Line> g_lines;
QElapsedTimer g_clock;
QtMessageHandler g_next = nullptr;

void recordLine(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    {
        QMutexLocker lock(&g_mutex);
        g_lines.append({g_clock.elapsed(), text});
    }
    if (g_next)
        g_next(type, context, text);
}

// Starts recording (after the window installed its own log handler); clears what came before.
void recordMessages()
{
    QMutexLocker lock(&g_mutex);
    g_lines.clear();
    g_clock.start();
    g_next = qInstallMessageHandler(recordLine);
    if (g_next == recordLine)
        g_next = nullptr;
}

QList<Line> lines()
{
    QMutexLocker lock(&g_mutex);
    return g_lines;
}

// When the first line starting with text arrived; -1 when none did.
qint64 arrival(const QString& text)
{
    for (const Line& l : lines())
        if (l.text.startsWith(text))
            return l.ms;
    return -1;
}

// Runs the event loop until the window quits the application, at most ms; the time it took, or -1.
qint64 runUntilQuit(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, [&loop] { loop.exit(1); });
    QElapsedTimer t;
    t.start();
    return loop.exec() == 0 ? t.elapsed() : -1;
}

const QString CloseEnd = QStringLiteral("0000000000000000000-closeDevice-0000000000000000000");

} // namespace

class ClosingAndQuitting : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    QStringList m_opened;
    Q_INVOKABLE void open(const QUrl& url) { m_opened << url.toString(); } // the URL handler

    // A keyboard with every record in use takes a while to read; on a starved machine the tool may give a
    // load up at its bound in all and load again at the next scan, so the wait allows for a second load.
    static bool waitLoaded(Tessark& w) { return QTest::qWaitFor([&] { return w.deviceLoaded(); }, timescale::ms(60000)); }
    // A shown window with the plugged keyboard loaded, messages recorded from here on; null if it did not load.
    static std::unique_ptr<Tessark> shownAndLoaded()
    {
        auto w = std::make_unique<Tessark>(nullptr, QStringLiteral("None"));
        w->show();
        if (!waitLoaded(*w))
            return nullptr;
        recordMessages();
        return w;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_app.setUpForWindow(QFINDTESTDATA("../appdir")));
    }
    void cleanup() { sim::reset(); }

    // An unplug closes in order: the picture of a disconnected keyboard, then the client and the
    // transport, and the scan runs again.
    void unplugClosesInOrderAndScanningResumes()
    {
        auto kb = sim::plug(sim::fullSizeDual());
        Tessark w(nullptr, QStringLiteral("None"));
        QVERIFY(waitLoaded(w));
        recordMessages();
        sim::unplug(kb);
        QTRY_VERIFY_WITH_TIMEOUT(arrival(CloseEnd) >= 0, timescale::ms(10000));
        QStringList order;
        const QStringList steps = {"start scan usb open mode.", "close device.....", "start delete dynmic keybtn all.",
                                   "create discon pixmap.", "quit device finished.", "quit usb finish.", CloseEnd};
        for (const Line& l : lines())
            if (steps.contains(l.text))
                order << l.text;
        QCOMPARE(order, steps);
        QVERIFY(w.disconnectedPicture() && !w.disconnectedPicture()->isHidden());
        if (qEnvironmentVariableIsSet("TESSARK_UNPLUG_SHOT"))
            QVERIFY(w.grab().save(qEnvironmentVariable("TESSARK_UNPLUG_SHOT")));
        QVERIFY(w.scanTimer().isActive());
        QVERIFY(!w.usb() && !w.device());
    }

    // The window's own end of the client: logged once, the client gone, the transport still open.
    void deviceQuitThreadSlotEndsOnlyTheClient()
    {
        auto kb = sim::plug(sim::fullSizeDual());
        Tessark w(nullptr, QStringLiteral("None"));
        QVERIFY(waitLoaded(w));
        // The key function rows point into the client's tables: they are there when the client goes.
        QTRY_VERIFY_WITH_TIMEOUT(w.shortcutsPage() && !w.shortcutsPage()->rows().isEmpty(), timescale::ms(10000));
        w.stopScanning();
        recordMessages();
        w.deviceQuitThreadSlot();
        QVERIFY(!w.device());
        QVERIFY(w.usb());
        w.deviceQuitThreadSlot(); // no client: nothing to do, nothing logged
        int said = 0;
        for (const Line& l : lines())
            said += l.text == QStringLiteral("quit device finished.");
        QCOMPARE(said, 1);
        w.closeDevice();
        QVERIFY(!w.usb());
    }

    // A keyboard whose load fails is closed and opened again by a later scan.
    void loadErrorClosesAndReconnects()
    {
        auto kb = sim::plug(sim::fullSizeDual());
        kb->failWrite(2);
        Tessark w(nullptr, QStringLiteral("None"));
        recordMessages();
        QTRY_VERIFY_WITH_TIMEOUT(arrival(QStringLiteral("Device Load Info Error.")) >= 0, timescale::ms(10000));
        QVERIFY(arrival(CloseEnd) > arrival(QStringLiteral("Device Load Info Error.")));
        QVERIFY(waitLoaded(w));
        QVERIFY(!w.disconnectedPicture());
    }

    // A close while an upgrade thread reads the transport stops and joins it first.
    void closeJoinsUpgradeThreadsBeforeTheTransportCloses()
    {
        auto kb = sim::plug(sim::fullSizeDual());
        Tessark w(nullptr, QStringLiteral("None"));
        QVERIFY(waitLoaded(w));
        w.stopScanning();
        Usb* usb = w.usb();
        usb->setReadingEnabled(false);

        updateDFUBtThread bt;
        const QByteArray image(4096, '\x5A');
        bt.setUsb(usb);
        bt.setImage(reinterpret_cast<const uint8_t*>(image.constData()), uint32_t(image.size()));
        bt.setRunning(true);
        bt.start();
        auto* firmware = new Device(usb, nullptr, nullptr, nullptr);
        QThread& thread = w.upgradeThreads().firmwareThread();
        firmware->moveToThread(&thread);
        connect(&thread, &QThread::started, firmware, &Device::readDFUUsbSlot);
        thread.start();
        w.upgradeThreads().setFirmwareDevice(firmware);
        w.upgradeThreads().setBtThread(&bt);
        QTest::qWait(100);
        QVERIFY(bt.isRunning() && thread.isRunning());

        recordMessages();
        w.closeDevice();
        // Joined because they stopped when asked, not let go when a wait for them gave up.
        for (const Line& l : lines())
            QVERIFY2(!l.text.contains(QLatin1String("still runs")) && !l.text.contains(QLatin1String("did not stop")),
                     qPrintable(l.text));
        QVERIFY(!bt.isRunning() && !thread.isRunning());
        QVERIFY(!w.usb());
        delete firmware;
    }

    // The system's close request while connected tears down at once, without the timed sequence,
    // and ends the event loop. (Qt ends no later event loop of the process once one was quit.)
    void systemCloseTearsDownAtOnce()
    {
        auto kb = sim::plug(sim::fullSizeDual());
        auto w = shownAndLoaded();
        QVERIFY(w);
        QTimer::singleShot(0, w.get(), [&w] { w->close(); });
        QVERIFY(runUntilQuit(timescale::ms(20000)) >= 0);
        QCOMPARE(arrival(QStringLiteral("quit tick")), -1); // the timed sequence never ran
        QVERIFY(arrival(QStringLiteral("0000000000000000000-unmormal quit")) >= 0);
        QVERIFY(arrival(QStringLiteral("Tessark quit. ")) >= 0);
        QVERIFY(!w->usb() && !w->menuTree() && !g_language);
        QVERIFY(w->isHidden());
        w.reset();
    }
    // Exit hides at once and closes the keyboard; a second later the window tears down, logs
    // "Tessark quit." and ends the event loop; no keyboard thread is left.
    void exitQuitsASecondLater()
    {
        auto kb = sim::plug(sim::fullSizeDual());
        auto w = shownAndLoaded();
        QVERIFY(w);
        w->exitAppActionSlot();
        QVERIFY(w->isHidden());
        QVERIFY(!w->usb() && !w->device());
        QVERIFY(w->quitPending());
        w->exitAppActionSlot(); // a second Exit changes nothing

        // The event loop's end was seen by the test before (one per process); the end of the close
        // event is waited for instead.
        QTRY_VERIFY_WITH_TIMEOUT(arrival(QStringLiteral("0000000000000000000-closeEvent")) >= 0, timescale::ms(10000));
        const qint64 quitAt = arrival(QStringLiteral("Tessark quit. "));
        QVERIFY2(quitAt >= 900, qPrintable(QString::number(quitAt)));
        // On the quit timer's second tick, not a later one.
        QStringList ticks;
        for (const Line& l : lines()) {
            if (l.text.startsWith(QLatin1String("Tessark quit. ")))
                break;
            if (l.text.startsWith(QLatin1String("quit tick")))
                ticks << l.text;
        }
        QCOMPARE(ticks, QStringList({"quit tick 1", "quit tick 0"}));
        QVERIFY(arrival(QStringLiteral("0000000000000000000-normal quit")) > quitAt);
        QVERIFY(!w->menuTree() && !w->trayIcon() && w->staticKeyBtns().isEmpty());
        QVERIFY(!g_language && !g_overallVariate);
        QVERIFY(!w->scanTimer().isActive() && !w->multiScanTimer().isActive());
        w.reset();
    }

    // Once a stop has come, the key function presses the keyboard sent ahead of it start nothing: they
    // are dropped and counted in one line, and the tool ends while the keyboard goes on sending.
    void stopStartsNothingTheKeyboardSentAhead_data()
    {
        QTest::addColumn<int>("signal"); // 0: Exit; -1: the desktop's log-out, no signal, while a box is open
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("Exit") << 0;
        QTest::newRow("log-out while a box is open") << -1;
    }
    void stopStartsNothingTheKeyboardSentAhead()
    {
        QFETCH(int, signal);
        auto kb = sim::plug(sim::fullSizeDual());
        kb->edit([](sim::FirmwareState& f) { // every slot active in every key map
            for (QByteArray& r : f.keyFunctions)
                r[2] = char(r[2] | 0xF0), r[3] = char(0xFF);
        });
        auto w = shownAndLoaded();
        QVERIFY(w);
        Shortcuts* page = w->shortcutsPage();
        QVERIFY(QTest::qWaitFor([&] { return page->initFinished() && !page->rows().isEmpty(); }, timescale::ms(20000)));
        ShortcutsItem* website = nullptr;
        for (ShortcutsItem* row : page->rows())
            if (row->getFunctionType() == E_SCT_WEB && row->record() && row->record()->id() == 0)
                website = row;
        QVERIFY(website);
        website->websiteEdit()->setText(QStringLiteral("https://tessark.example.org/stop"));
        m_opened.clear();
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
        const auto unset = qScopeGuard([] { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); });
        kb->pressKeyFunction(0);
        QTRY_COMPARE_WITH_TIMEOUT(m_opened.size(), 1, timescale::ms(10000));
        QTest::qWait(2 * Shortcuts::NotifyOpenGapMs); // the row's gate is open again
        SystemStop stop;
        stop.setWindow(w.get());
        QVERIFY(stop.isWatchingSignals());

        // The window's thread is held while presses queue up behind it, as a busy one is.
        const auto pressAhead = [&kb] {
            for (int i = 0; i < 100; ++i) {
                kb->pressKeyFunction(0);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        };
        bool boxWasOpen = signal >= 0;
        QMessageBox box(QMessageBox::Information, QStringLiteral("Tessark"), QStringLiteral("open at the log-out"),
                        QMessageBox::Ok);
        if (signal < 0) {
            // Exit waits a turn for the box to close: the presses queued ahead of the log-out are
            // handled before it runs.
            box.setWindowModality(Qt::ApplicationModal);
            box.show();
            boxWasOpen = QApplication::activeModalWidget() == &box;
            pressAhead();
            stop.request();
        } else {
            pressAhead();
            if (signal != 0)
                ::kill(::getpid(), signal);
            else
                w->exitAppActionSlot();
        }
        std::atomic<bool> ended{false};
        std::thread stream([&] { // and the keyboard goes on while the tool ends
            while (!ended)
                kb->pressKeyFunction(0), std::this_thread::sleep_for(std::chrono::milliseconds(2));
        });
        const auto join = qScopeGuard([&] { ended = true, stream.join(); });
        QTRY_VERIFY_WITH_TIMEOUT(arrival(QStringLiteral("Tessark quit. ")) >= 0, timescale::ms(10000));
        QVERIFY(boxWasOpen);
        QCOMPARE(m_opened.size(), 1);
        QStringList dropped;
        for (const Line& l : lines())
            if (l.text.contains(QLatin1String("came after the stop: dropped, nothing started")))
                dropped << l.text;
        QCOMPARE(dropped.size(), 1);
        QVERIFY2(dropped.first().section(' ', 0, 0).toInt() > 0, qPrintable(dropped.first()));
        w.reset();
    }

    // A map switch the keyboard named just ahead of the stop, still waiting for its turn, selects
    // nothing: it is dropped with the notifications that came after the stop.
    void stopSelectsNoMapSwitchStillWaiting()
    {
        auto kb = sim::plug(sim::fullSizeDual());
        auto w = shownAndLoaded();
        QVERIFY(w);
        QTRY_VERIFY_WITH_TIMEOUT(!w->globuleKeys().isEmpty(), timescale::ms(10000));
        kb->clearLog();
        QByteArray r = report(0xF0, 0x20);
        r[2] = 2; // the payload's length
        r[9] = char((kb->state().curKeyMap + 1) % 4);
        w->onRecvNotifySlot(r);
        w->stopRequested(); // before the switch's turn came
        QTest::qWait(300);
        QVERIFY(sentReports(kb, 0x20, 0x02).isEmpty());
        w->exitAppActionSlot();
        QTRY_VERIFY_WITH_TIMEOUT(arrival(QStringLiteral("Tessark quit. ")) >= 0, timescale::ms(10000));
        QVERIFY(arrival(QStringLiteral("1 notifications from the keyboard came after the stop: dropped")) >= 0);
        QVERIFY(sentReports(kb, 0x20, 0x02).isEmpty());
        w.reset();
    }

    // A stop signal ends the tool within seconds while the window's thread reads a macro of 512 frames
    // (103 packets) from a slow or a prompt keyboard: the wait in flight ends and no more is asked for.
    void stopSignalEndsTheToolWhileTheWindowWaits_data()
    {
        QTest::addColumn<int>("replyMs"); // each report to and from the keyboard; a reply takes twice that
        QTest::newRow("macro load, replies just inside their wait") << 2450;
        QTest::newRow("macro load, prompt replies") << 0;
    }
    void stopSignalEndsTheToolWhileTheWindowWaits()
    {
        QFETCH(int, replyMs);
        MessageBoxRecorder boxes;
        auto kb = sim::plug(sim::fullSizeDual());
        kb->edit([](sim::FirmwareState& state) { sim::setMacro(state, 0, sim::fullReportMacroFrames(), "Full"); });
        auto w = shownAndLoaded();
        SystemStop stop;
        stop.setWindow(w.get());
        QVERIFY(w && stop.isWatchingSignals());
        w->labelPageClickSlot(QStringLiteral("Macro"));
        Macro* page = w->macroPage();
        QVERIFY(page && !page->items().isEmpty());
        kb->clearLog();
        kb->setReportDelay(replyMs);
        std::thread signal([kb, replyMs] { // from another thread: this one is held by the read
            for (int i = 0; i < 6000 && sentReports(kb, 0x50, 0x30).size() < (replyMs > 0 ? 1 : 3); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::kill(::getpid(), SIGTERM);
        });
        page->loadDataSlot(page->items().first()); // holds this thread until the read ends
        signal.join();
        QVERIFY(sentReports(kb, 0x50, 0x30).size() < 103);
        // A slow reply had not come when the wait in flight ended.
        const bool waitEnded = arrival(QStringLiteral("request 50/30: a stop signal came")) >= 0;
        QVERIFY(waitEnded || (replyMs == 0 && arrival(QStringLiteral("reading macro frames: a stop signal came")) >= 0));
        QTRY_VERIFY_WITH_TIMEOUT(w->isHidden() && !w->usb() && stop.requested(), timescale::ms(10000));
        QVERIFY(boxes.boxes().isEmpty()); // a read stopped draws nothing and says nothing
        w.reset();
    }

    // A stop that comes while the update worker checks the updater before starting it, in the last part
    // of the program's read or just as the read ends, starts nothing and shows no box. A stop signal is
    // seen on the worker's thread while the window's thread is held; Exit, and a stop the window is told
    // of while a box may still hold Exit up, reach the worker at once, not when the window tears down.
    void aStopDuringTheUpdatersCheckStartsNoUpdater_data()
    {
        QTest::addColumn<QString>("stop");  // "SIGTERM", "Exit", or "window told"
        QTest::addColumn<bool>("atTheEnd"); // as the read ends; else before its last 64 KiB
        for (const char* stop : {"SIGTERM", "Exit", "window told"}) {
            QTest::addRow("%s in the last part of the read", stop) << QString::fromLatin1(stop) << false;
            QTest::addRow("%s just as the read ends", stop) << QString::fromLatin1(stop) << true;
        }
    }
    void aStopDuringTheUpdatersCheckStartsNoUpdater()
    {
        QFETCH(QString, stop);
        QFETCH(bool, atTheEnd);
        MessageBoxRecorder boxes;
        // An updater of some 64 KiB reads whose digest is recorded, as a refresh leaves it; it tells when it runs.
        const QByteArray program = "#!/bin/sh\necho \"$1\" > \"$3/updater-ran\"\nexit 0\n" + QByteArray(512 * 1024, '#');
        QVERIFY(m_app.write("Upgrade/Upgrade", program));
        QVERIFY(QFile::setPermissions(m_app.filePath("Upgrade/Upgrade"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(m_app.write("Upgrade/.upgrade-digest", QCryptographicHash::hash(program, QCryptographicHash::Sha256).toHex() + '\n'));
        auto w = std::make_unique<Tessark>(nullptr, QStringLiteral("None"));
        w->show();
        recordMessages();
        SystemStop systemStop;
        systemStop.setWindow(w.get());
        QVERIFY(systemStop.isWatchingSignals());
        QVERIFY(g_overallVariate && g_overallVariate->updateWidget());
        DownloadFile* worker = g_overallVariate->updateWidget()->worker();
        QVERIFY(worker);

        Tessark* window = w.get();
        std::atomic<bool> asked{false};
        const auto clear = qScopeGuard([this] {
            DownloadFile::setDigestReadHookForTest(nullptr);
            QDir(m_app.filePath("Upgrade")).removeRecursively();
            QFile::remove(m_app.filePath("updater-ran"));
        });
        // On the worker's thread, as the program is read.
        DownloadFile::setDigestReadHookForTest([&asked, window, stop, atTheEnd](const QString&, qint64 left) {
            if (asked || (atTheEnd ? left != 0 : left == 0 || left > 64 * 1024))
                return;
            asked = true;
            if (stop == QLatin1String("SIGTERM")) {
                ::raise(SIGTERM); // on this thread: the handler has counted it when raise returns
                return;
            }
            QMetaObject::invokeMethod(
                window, [window, stop] { stop == QLatin1String("Exit") ? window->exitAppActionSlot() : window->stopRequested(); },
                Qt::BlockingQueuedConnection);
        });
        auto started = std::make_shared<std::atomic<int>>(-1); // -1 running, else whether it started
        QMetaObject::invokeMethod(worker, [worker, started] { started->store(worker->StartUpgradeProgram() ? 1 : 0); },
                                  Qt::QueuedConnection);
        if (stop == QLatin1String("SIGTERM")) { // the window's thread held, as a keyboard's slow reply holds it
            const QDeadlineTimer held(timescale::ms(10000));
            while (started->load() < 0 && !held.hasExpired())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        QTRY_VERIFY_WITH_TIMEOUT(started->load() >= 0, timescale::ms(10000));
        QVERIFY(asked);
        QCOMPARE(started->load(), 0);
        const auto told = [](const QString& text) {
            const QList<Line> all = lines();
            return std::any_of(all.begin(), all.end(), [&text](const Line& l) { return l.text.contains(text); });
        };
        QVERIFY(told(QStringLiteral("stop asked for during the check: the upgrade program is not started")));
        QVERIFY(!told(QStringLiteral("upgrade program started")));
        if (stop == QLatin1String("window told"))
            w->exitAppActionSlot();
        QTRY_VERIFY_WITH_TIMEOUT(arrival(QStringLiteral("Tessark quit. ")) >= 0, timescale::ms(10000));
        QTest::qWait(300);
        QVERIFY(!QFileInfo::exists(m_app.filePath("updater-ran")));
        QVERIFY(boxes.boxes().isEmpty());
        w.reset();
    }
};

QTEST_MAIN(ClosingAndQuitting)
#include "test_closingandquitting.moc"
