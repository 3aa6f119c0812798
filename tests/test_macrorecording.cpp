// Recording a macro on the keyboard through the main window: the confirmation, the locked window, live
// chips from the keyboard's notifications, the end of a recording by REC, Exit, an unplug, the
// system's close or a stop signal; and the macro page's place in the window (its tab, its relays to the key function rows).
// With TESSARK_MACRO_SHOT=<file.png> it also writes a picture of the window while it records.
#include "messageboxrecorder.h"
#include "tempappdir.h"
#include "wire.h"

#include "macro/key.h"
#include "macro/keylayout.h"
#include "macro/macro.h"
#include "macro/macrofile.h"
#include "macro/macroitem.h"
#include "main/systemstop.h"
#include "main/tessark.h"
#include "shortcut/shortcuts.h"
#include "shortcut/shortcutsitem.h"
#include "widget/combobox.h"
#include "widget/tablabel.h"
#include "timescale.h"

#include <QApplication>
#include <QDialog>
#include <QDirIterator>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QtGui/private/qguiapplication_p.h>
#include <array>
#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <utility>
#include <vector>

namespace {

// An entry's chips as (status, code, delay) triples.
QList<int> triples(const MacroItem* entry)
{
    QList<int> out;
    for (const Key* k : entry->keyLayout()->keys)
        out << k->status() << k->code() << int(k->getDelay());
    return out;
}

// The recording switches sent to the keyboard (0x50/0x10), by their byte.
QList<int> recordSwitches(const sim::KeyboardPtr& kb)
{
    QList<int> out;
    for (const QByteArray& r : sentReports(kb, 0x50, 0x10))
        out << int(r[8]);
    return out;
}

// Log lines about frames dropped outside a recording, counted while a Counter lives.
int g_droppedLines = 0;
QtMessageHandler g_previousHandler = nullptr;
void countDropped(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    g_droppedLines += text.contains("macro frame dropped: not recording");
    if (g_previousHandler)
        g_previousHandler(type, context, text);
}

} // namespace

class MacroRecording : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    std::unique_ptr<MessageBoxRecorder> boxes;
    sim::KeyboardPtr kb;
    std::unique_ptr<Tessark> w;
    Macro* page = nullptr;

    // The window finds and loads the sample keyboard and shows its macro page, with a new empty macro
    // selected when `add`. The log starts empty.
    bool openMacroPage(bool add = false)
    {
        kb = sim::plug(sim::fullSizeDual());
        w = std::make_unique<Tessark>(nullptr, QStringLiteral("None"));
        w->show();
        if (!QTest::qWaitFor([this] { return w->deviceLoaded(); }, 20000))
            return false;
        w->labelPageClickSlot(QStringLiteral("Macro"));
        page = w->macroPage();
        if (!page || !page->isVisible() || page->items().size() != 3)
            return false;
        if (add)
            page->addItemSlot();
        kb->clearLog();
        return true;
    }
    bool banned() const { return !w->closeButton()->isEnabled() && w->closeButton()->styleSheet().contains("-ban"); }
    QPushButton* rec() const { return page->form()->recorderButton; }

private slots:
    void initTestCase() { QVERIFY(m_app.setUpForWindow(QFINDTESTDATA("../appdir"))); }
    void init() { boxes = std::make_unique<MessageBoxRecorder>(); }
    void cleanup()
    {
        w.reset();
        // What the closed window kept aside would come back to the next row's keyboard.
        QDirIterator kept(m_app.path(), {"kept-aside*.list"}, QDir::Files, QDirIterator::Subdirectories);
        while (kept.hasNext())
            QFile::remove(kept.next());
        sim::reset();
        kb.reset();
        boxes.reset();
    }

    // REC on an empty macro asks nothing; over one with frames it warns, naming it: No sends nothing
    // and unchecks REC without asking again, Yes clears the macro. Recording locks the window; every
    // change played on the keyboard becomes chips at once, also from a notification declaring less than
    // a frame; REC off stops it, unlocks and drops unpaired chips. A notification outside a recording
    // makes no chip.
    void recordingMakesLiveChips_data()
    {
        QTest::addColumn<QString>("played"); // "ms:report" (8 bytes in hex), as tessark-sim's play takes them
        QTest::addColumn<QList<int>>("live");
        QTest::addColumn<QList<int>>("kept");
        QTest::addColumn<bool>("overCopy"); // the sample's first macro, frames not loaded
        const QString ctrlC = "5:0100000000000000 30:0100060000000000 40:0100000000000000 20:0000000000000000";
        const QList<int> chips{1, 0xE0, 5, 1, 0x06, 30, 0, 0x06, 40, 0, 0xE0, 20};
        QTest::newRow("Ctrl+C") << ctrlC << chips << chips << false;
        QTest::newRow("Ctrl held") << "5:0100000000000000" << QList<int>{1, 0xE0, 5} << QList<int>{} << false;
        QTest::newRow("Ctrl+C over a macro") << ctrlC << chips << chips << true;
    }
    void recordingMakesLiveChips()
    {
        QFETCH(QString, played);
        QFETCH(QList<int>, live);
        QFETCH(QList<int>, kept);
        QFETCH(bool, overCopy);
        QVERIFY(openMacroPage(!overCopy));
        MacroItem* entry = page->items()[overCopy ? 0 : 3];
        QVERIFY(entry->isSelected() && entry->isLoadDataHidden() != overCopy);
        boxes->script(QMessageBox::No);
        rec()->setChecked(true);
        if (overCopy) {
            const MessageBoxRequest box = boxes->boxes().value(0);
            QVERIFY(box.kind == MessageBoxRequest::Warning && box.text.contains("'Copy'"));
            QVERIFY(QFile::exists(box.windowIcon));
            QVERIFY(!rec()->isChecked() && !banned() && sentCount(kb) == 0);
            boxes->script(QMessageBox::Yes);
            rec()->setChecked(true);
            QVERIFY(entry->isLoadDataHidden());
        }
        QVERIFY(boxes->boxes().size() == 2 * overCopy && kb->state().recording && banned());
        QCOMPARE(recordSwitches(kb), QList<int>{1});
        QVERIFY(!page->nameSelector()->isEnabled() && !page->items().first()->isEnabled() && rec()->isEnabled());
        QTest::mouseClick(w->tabList().first(), Qt::LeftButton); // the KEY tab does nothing
        QVERIFY(page->isVisible());
        QList<sim::ReportChange> changes;
        for (const QString& c : played.split(' '))
            changes << sim::ReportChange{c.section(':', 0, 0).toInt(),
                                         QByteArray::fromHex(c.section(':', 1).toLatin1())};
        // A notification of a frame with key A down, the modifiers held as the last change left them.
        const QByteArray held = changes.last().report.left(1).toHex();
        auto inject = [this, held](const char* length) {
            const QByteArray hex = QByteArray("f050") + length + "0000000000" + "0a00" + held + "00040000000000";
            kb->inject(QByteArray::fromHex(hex).leftJustified(64, 0));
            QTest::qWait(200);
        };
        kb->playKeys(changes);
        QTRY_COMPARE_WITH_TIMEOUT(triples(entry), live, timescale::ms(10000));
        inject("04"); // its frame is there all the same: key A down, unpaired
        QTRY_COMPARE_WITH_TIMEOUT(triples(entry), live + QList<int>({1, 0x04, 10}), timescale::ms(10000));
        if (qEnvironmentVariableIsSet("TESSARK_MACRO_SHOT") && live.size() > 3)
            QVERIFY(w->grab().save(qEnvironmentVariable("TESSARK_MACRO_SHOT")));
        rec()->setChecked(false);
        QCOMPARE(recordSwitches(kb), (QList<int>{1, 0}));
        QVERIFY(!kb->state().recording && !banned());
        QTRY_COMPARE_WITH_TIMEOUT(triples(entry), kept, timescale::ms(10000));
        QVERIFY(page->nameSelector()->isEnabled() && page->items().first()->isEnabled());
        QTest::mouseClick(w->tabList().first(), Qt::LeftButton);
        QVERIFY(!page->isVisible());
        inject("0a");
        QCOMPARE(triples(entry), kept);
    }

    // A recording stops where the next frame would pass what one macro can take (512 frames, 512 events
    // in the editor): the keyboard is told to stop, the window is free again, one box says why, and no
    // later frame becomes a chip, also from a keyboard that goes on sending. Frames come 1 ms apart, or as
    // fast as the tool reads them, never more than its input queue holds: that queue (the system's, 64
    // reports) is not the tool's to keep, so how fast this machine runs decides nothing here. Within its
    // room no frame is lost, also while the window's thread is held up.
    void recordingStopsAtWhatAMacroCanTake_data()
    {
        QTest::addColumn<QString>("press"); // the report of every other change, from the first
        QTest::addColumn<QString>("release"); // the report of the others
        QTest::addColumn<int>("changes");
        QTest::addColumn<int>("ms"); // between changes; 0: as fast as the tool reads them
        QTest::addColumn<bool>("stops");
        QTest::addColumn<int>("chips");
        QTest::addColumn<int>("frames"); // what the download makes of them
        QTest::addColumn<int>("heldMs"); // the window's thread is held up this long once the changes start
        const QString none = "0000000000000000";
        QTest::newRow("one key, 600 changes") << "0000040000000000" << none << 600 << 1 << true << 512 << 512 << 0;
        QTest::newRow("Ctrl and a key, 400 changes") << "0100040000000000" << none << 400 << 1 << true << 512 << 512 << 0;
        QTest::newRow("one key, 512 changes: not stopped")
            << "0000040000000000" << none << 512 << 1 << false << 512 << 512 << 0;
        QTest::newRow("one key, 512 changes, the window held up 2 s: not stopped")
            << "0000040000000000" << none << 512 << 1 << false << 512 << 512 << 2000;
        // The 86th change would pass 512 events: the 85th's six presses have no releases and go.
        QTest::newRow("six keys, 200 changes") << "0000040506070809" << none << 200 << 1 << true << 504 << 84 << 0;
        // Ctrl stays held: the 513th event would be a release of A, pairing with the 512th. It is not
        // taken; the unpaired Ctrl and the last A go.
        QTest::newRow("Ctrl held, a key, 600 changes: the 513th event a release")
            << "0100040000000000" << "0100000000000000" << 600 << 1 << true << 510 << 510 << 0;
        QTest::newRow("a flood of 10,000 changes") << "0000040000000000" << none << 10000 << 0 << true << 512 << 1 << 0;
    }
    void recordingStopsAtWhatAMacroCanTake()
    {
        QFETCH(QString, press);
        QFETCH(QString, release);
        QFETCH(int, changes);
        QFETCH(int, ms);
        QFETCH(bool, stops);
        QFETCH(int, chips);
        QFETCH(int, frames);
        QFETCH(int, heldMs);
        QVERIFY(openMacroPage(true));
        MacroItem* entry = page->items()[3];
        rec()->setChecked(true);
        // Each chip is placed alone: the timeline is not laid out again per chip.
        QSignalSpy layouts(entry->keyLayout(), &KeyLayout::eventsChanged);
        QList<sim::ReportChange> played;
        for (int i = 0; i < changes; ++i)
            played << sim::ReportChange{ms, QByteArray::fromHex((i % 2 ? release : press).toLatin1()), true};
        kb->playKeys(played);
        if (heldMs > 0)
            QThread::msleep(ulong(heldMs));
        QTRY_VERIFY_WITH_TIMEOUT(stops ? !rec()->isChecked() : entry->keyLayout()->keys.size() == chips,
                                 timescale::ms(60000));
        QTRY_VERIFY_WITH_TIMEOUT(!kb->playing(), timescale::ms(60000));
        QTest::qWait(100);
        QCOMPARE(rec()->isChecked(), !stops);
        QCOMPARE(recordSwitches(kb), stops ? QList<int>({1, 0}) : QList<int>{1});
        QCOMPARE(boxes->boxes().size(), int(stops));
        if (stops)
            QVERIFY(boxes->boxes().first().text.contains("Recording stopped") && !banned() && !kb->state().recording);
        rec()->setChecked(false);
        QVERIFY2(layouts.count() <= 6, qPrintable(QString::number(layouts.count()))); // only unpaired chips go
        QCOMPARE(entry->keyLayout()->keys.size(), chips);
        std::array<mframe_t, Macro::MaxFrames> buffer{};
        QCOMPARE(int(page->key2mframe(entry, buffer.data())), frames);
        // A keyboard that does not stop sending: its frames make nothing now, and at most one log line.
        g_droppedLines = 0;
        g_previousHandler = qInstallMessageHandler(countDropped);
        for (int i = 0; i < 20; ++i)
            kb->inject(QByteArray::fromHex("f0500a00000000000a0000000400000000000000").leftJustified(64, 0));
        QTest::qWait(300);
        qInstallMessageHandler(g_previousHandler);
        QVERIFY2(g_droppedLines <= 1, qPrintable(QString::number(g_droppedLines)));
        QCOMPARE(entry->keyLayout()->keys.size(), chips);
        QCOMPARE(boxes->boxes().size(), int(stops));
    }

    // A recorded frame is read whole whatever length its notification declares, so each of these makes
    // its chip; only a frame of which fewer than 10 bytes reach the page is dropped.
    void recordedFrameIsReadWhateverLengthItDeclares_data()
    {
        QTest::addColumn<int>("declared");
        QTest::addColumn<int>("arrived"); // bytes handed straight to the page; 0: a whole report, as sent
        QTest::addColumn<bool>("chip");
        QTest::newRow("declares 0") << 0 << 0 << true;
        QTest::newRow("declares 4") << 4 << 0 << true;
        QTest::newRow("declares 9") << 9 << 0 << true;
        QTest::newRow("declares 10") << 10 << 0 << true;
        QTest::newRow("declares 56") << 56 << 0 << true;
        QTest::newRow("declares 65535") << 65535 << 0 << true;
        QTest::newRow("9 bytes reach the page") << 10 << 9 << false;
        QTest::newRow("10 bytes reach the page") << 10 << 10 << true;
    }
    void recordedFrameIsReadWhateverLengthItDeclares()
    {
        QFETCH(int, declared);
        QFETCH(int, arrived);
        QFETCH(bool, chip);
        QVERIFY(openMacroPage(true));
        MacroItem* entry = page->items()[3];
        rec()->setChecked(true);
        QVERIFY(kb->state().recording);
        const QByteArray frame = QByteArray::fromHex("0a000000040000000000"); // key A down after 10 ms
        if (arrived > 0) {
            // Exactly these bytes on the heap: the sanitizer build catches a read past them.
            std::vector<uint8_t> bytes(frame.begin(), frame.begin() + arrived);
            page->getRawData(bytes.data(), uint16_t(bytes.size()));
        } else {
            QByteArray report(8, '\0');
            report[0] = char(0xF0);
            report[1] = char(0x50);
            report[2] = char(declared & 0xFF);
            report[3] = char(declared >> 8);
            kb->inject((report + frame).leftJustified(64, '\0'));
        }
        const QList<int> expected = chip ? QList<int>{1, 0x04, 10} : QList<int>{};
        QTRY_COMPARE_WITH_TIMEOUT(triples(entry), expected, timescale::ms(10000));
        QTest::qWait(50);
        QCOMPARE(triples(entry), expected);
        rec()->setChecked(false);
    }

    // Exit, an unplug, the system's close, the desktop's log-out and a stop signal (as the tool's start
    // sets them up) end a recording: the keyboard stops recording where it can still be reached, the
    // page lets the window go, and what was recorded is remembered in the kept macros' list. A signal
    // runs Exit, also while a box waits for an answer: it is answered as cancelled, and Exit starts once
    // the box's caller has its answer. A SIGHUP inherited as ignored stays ignored.
    void recordingEndsWithTheDevice_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("signal");
        // First: once the system's close has quit the application, no later box waits in a loop of its own.
        QTest::newRow("SIGTERM, a question open") << "box" << int(SIGTERM);
        QTest::newRow("Exit") << "exit" << 0;
        QTest::newRow("unplug") << "unplug" << 0;
        QTest::newRow("system close") << "close" << 0;
        QTest::newRow("SIGTERM") << "signal" << int(SIGTERM);
        QTest::newRow("SIGINT") << "signal" << int(SIGINT);
        QTest::newRow("SIGHUP") << "signal" << int(SIGHUP);
        QTest::newRow("SIGHUP inherited as ignored, then SIGTERM") << "ignored" << int(SIGTERM);
        QTest::newRow("log-out") << "logout" << 0;
        QTest::newRow("no socket for the signals: they keep their default action") << "nofds" << 0;
    }
    void recordingEndsWithTheDevice()
    {
        QFETCH(QString, how);
        QFETCH(int, signal);
        QVERIFY(openMacroPage(true));
        struct sigaction hangUp {};
        ::sigaction(SIGHUP, nullptr, &hangUp);
        const auto restore = qScopeGuard([&] { ::sigaction(SIGHUP, &hangUp, nullptr); });
        ::signal(SIGHUP, how == "ignored" ? SIG_IGN : SIG_DFL);
        if (how == "nofds") { // caught from the start, then nothing can watch: nothing may keep them
            StopSignals::catchFromStart();
            struct rlimit files {};
            ::getrlimit(RLIMIT_NOFILE, &files);
            const rlim_t allowed = std::exchange(files.rlim_cur, 0);
            ::setrlimit(RLIMIT_NOFILE, &files);
            const bool watching = SystemStop().isWatchingSignals();
            files.rlim_cur = allowed;
            QVERIFY(::setrlimit(RLIMIT_NOFILE, &files) == 0 && !watching && ::signal(SIGHUP, SIG_DFL) == SIG_DFL);
            return w->exitAppActionSlot();
        }
        SystemStop stop;
        stop.setWindow(w.get());
        QVERIFY(stop.isWatchingSignals());
        rec()->setChecked(true);
        QVERIFY(kb->state().recording && banned());
        kb->playKeys({{5, QByteArray::fromHex("0100000000000000")}, {30, QByteArray(8, '\0')}});
        QTRY_COMPARE_WITH_TIMEOUT(triples(page->items()[3]).size(), 6, timescale::ms(10000));
        const QString name = page->items()[3]->name();
        const QString list = page->itemFolder() + "kept-aside.list";
        QVERIFY(!QFile::exists(list));
        if (how == "unplug") {
            sim::unplug(kb);
            QTRY_VERIFY_WITH_TIMEOUT(!page->device(), timescale::ms(10000)); // at once, not after the request's 5 s
            QVERIFY(!rec()->isChecked() && !banned() && page->items().isEmpty());
            QVERIFY(readFile(list).contains(name.toUtf8()));
            w->exitAppActionSlot(); // no client left to stop
            return;
        }
        bool answered = false;
        QMessageBox::StandardButton answer = QMessageBox::NoButton;
        if (how == "box") {
            boxes.reset(); // a real box, with its own event loop
            QTimer::singleShot(0, w.get(), [&] {
                answer = messagebox::question(nullptr, "Tessark", "Go on?");
                answered = w->isVisible(); // Exit has not started yet
            });
            QTimer::singleShot(300, [signal] { ::raise(signal); });
            // A box that nothing answers fails the row (no button) rather than hanging the suite.
            QTimer::singleShot(10000, [] {
                if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                    box->done(-2);
            });
        } else if (how == "ignored") {
            ::raise(SIGHUP);
            QTest::qWait(3 * SystemStop::TickMs);
            QVERIFY(::signal(SIGHUP, SIG_IGN) == SIG_IGN && w->isVisible() && !stop.requested());
            ::raise(signal);
        } else if (how == "signal") {
            ::raise(signal);
        } else if (how == "logout") {
            QGuiApplicationPrivate::instance()->commitData(); // as the session manager does at a log-out
        } else {
            how == "exit" ? w->exitAppActionSlot() : void(w->close());
        }
        QTRY_VERIFY_WITH_TIMEOUT(w->isHidden() && !w->usb(), timescale::ms(10000));
        QCOMPARE(recordSwitches(kb), (QList<int>{1, 0}));
        QVERIFY(!kb->state().recording);
        QVERIFY(readFile(list).contains(name.toUtf8()));
        QCOMPARE(stop.requested(), signal != 0 || how == "logout");
        QCOMPARE(answered, how == "box");
        if (answered)
            QCOMPARE(answer, QMessageBox::No);
    }

    // A macro recorded and not downloaded outlives an unplug: kept in its file while the keyboard is
    // away, back on the page with its events and unsaved when it returns as it left or restarted (its
    // head lost), also to a tool closed and started again meanwhile, and told once, then. It stays
    // remembered until the keyboard holds it: a tool ended without Exit once it is back brings it back
    // again, without a word. Remembered only in the spare place, it comes back at the window's load.
    void recordedMacroComesBackAfterAnUnplug_data()
    {
        QTest::addColumn<bool>("restarted");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<QString>("how");
        QTest::newRow("keyboard back as it left") << false << false << "";
        QTest::newRow("keyboard back restarted") << true << false << "";
        QTest::newRow("tool closed while the keyboard was away") << true << true << "";
        QTest::newRow("tool closed while the keyboard was away, killed once back") << true << true << "killed";
        QTest::newRow("tool closed with the list's place blocked, freed meanwhile") << true << true << "spare";
    }
    void recordedMacroComesBackAfterAnUnplug()
    {
        QFETCH(bool, restarted);
        QFETCH(bool, closed);
        QFETCH(QString, how);
        QVERIFY(openMacroPage(true));
        const QString items = page->itemFolder();
        const QString list = items + "kept-aside.list";
        QVERIFY(how != "spare" || QDir().mkpath(list));
        rec()->setChecked(true);
        kb->playKeys({{5, QByteArray::fromHex("0100000000000000")}, {30, QByteArray::fromHex("0100060000000000")},
                      {40, QByteArray::fromHex("0100000000000000")}, {20, QByteArray(8, '\0')}}); // Ctrl+C
        QTRY_COMPARE_WITH_TIMEOUT(triples(page->items()[3]).size(), 12, timescale::ms(10000));
        rec()->setChecked(false);
        const QList<int> recorded = triples(page->items()[3]);
        const QString name = page->items()[3]->name();
        const int slot = page->items()[3]->index();
        const sim::FirmwareState held = kb->state();
        sim::unplug(kb);
        QTRY_VERIFY_WITH_TIMEOUT(!page->device(), timescale::ms(10000));
        QVector<DataKey*> inFile;
        QCOMPARE(macrofile::readMacroFile(page->itemFolder() + name + ".xml", &inFile), int(macrofile::Ok));
        QCOMPARE(inFile.size(), 4);
        qDeleteAll(inFile);
        const QString file = page->itemFolder() + name + ".xml";
        const QByteArray saved = readFile(file);
        if (closed)
            w.reset();
        if (how == "spare") { // told at the unplug; only the spare holds it now
            QVERIFY(QDir(list).removeRecursively() && QFile::exists(items + "kept-aside-spare.list"));
            boxes->clear();
        }
        kb = sim::plug(sim::fullSizeDual());
        if (!restarted)
            kb->edit([&held](sim::FirmwareState& s) { s = held; });
        if (closed) { // the page is there without its tab
            w = std::make_unique<Tessark>(nullptr, QStringLiteral("None"));
            w->show();
            QVERIFY(QTest::qWaitFor([this] { return w->deviceLoaded(); }, timescale::ms(20000)));
            page = w->macroPage();
            QVERIFY(page && !page->isVisible());
        }
        QTRY_VERIFY_WITH_TIMEOUT(page->device() && page->items().size() == 4, timescale::ms(20000));
        const int at = page->nameSelector()->findText(name);
        QVERIFY(at >= 0);
        MacroItem* entry = page->items()[at];
        QVERIFY(entry->index() == slot && !entry->isSaved() && entry->isLoadDataHidden());
        QCOMPARE(triples(entry), recorded);
        QTRY_COMPARE_WITH_TIMEOUT(boxes->boxes().size(), 1, timescale::ms(10000));
        QVERIFY2(boxes->boxes()[0].text.contains('"' + name + "\" had not been downloaded"),
                 qPrintable(boxes->boxes()[0].text));
        QCOMPARE(readFile(file), saved);
        if (how != "killed")
            return;
        w.reset(); // ended without Exit: nothing is written
        w = std::make_unique<Tessark>(nullptr, QStringLiteral("None"));
        w->show();
        QVERIFY(QTest::qWaitFor([this] { return w->deviceLoaded(); }, timescale::ms(20000)));
        page = w->macroPage();
        QVERIFY(page && page->itemFolder() == items);
        QTRY_VERIFY_WITH_TIMEOUT(page->isListReady() && page->items().size() == 4, timescale::ms(20000));
        entry = page->items()[page->nameSelector()->findText(name)];
        QVERIFY(entry->index() == slot && !entry->isSaved() && triples(entry) == recorded);
        QTest::qWait(20);
        QCOMPARE(boxes->boxes().size(), 1);
    }

    // The tab makes the page once and hands it the loaded keyboard, a keyboard loaded later goes to it
    // at once; a rename on the page reaches the macro list of every key function row.
    void pageInTheWindow()
    {
        QVERIFY(openMacroPage());
        QVERIFY(page->device() == w->device() && w->pageList().contains(page));
        w->labelPageClickSlot(QStringLiteral("staticLayout"));
        QVERIFY(!page->isVisible());
        w->labelPageClickSlot(QStringLiteral("Macro"));
        QCOMPARE(w->macroPage(), page);
        Shortcuts* shortcuts = w->shortcutsPage();
        QTRY_VERIFY_WITH_TIMEOUT(shortcuts->initFinished(), timescale::ms(10000));
        shortcuts->itemAddButtonSlot(); // a second row playing a macro
        shortcuts->rows().last()->functionMenu()->setCurrentText(QStringLiteral("Play macro"));
        page->setItemSelect(page->items()[1]);
        page->alterButtonSlot();
        page->renameEdit()->setText(QStringLiteral("Greet"));
        page->alterEditFinishedSlot();
        int reached = 0;
        for (ShortcutsItem* row : shortcuts->rows())
            reached += row->macroList() && row->macroList()->itemText(1) == "Greet";
        QCOMPARE(reached, 2);
        sim::unplug(kb);
        QTRY_VERIFY_WITH_TIMEOUT(!page->device(), timescale::ms(10000));
        kb = sim::plug(sim::fullSizeDual());
        QTRY_VERIFY_WITH_TIMEOUT(w->deviceLoaded(), timescale::ms(20000));
        QVERIFY(page->device() == w->device() && page->items().size() == 3);
    }
};

QTEST_MAIN(MacroRecording)
#include "test_macrorecording.moc"
