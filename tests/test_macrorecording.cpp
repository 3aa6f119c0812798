// Recording a macro on the keyboard through the main window: the confirmation, the locked window, live
// chips from the keyboard's notifications, the end of a recording by REC, Exit, an unplug or the
// system's close; and the macro page's place in the window (its tab, its relays to the key function rows).
// With TESSARK_MACRO_SHOT=<file.png> it also writes a picture of the window while it records.
#include "messageboxrecorder.h"
#include "tempappdir.h"
#include "wire.h"

#include "device/device.h"
#include "macro/key.h"
#include "macro/keylayout.h"
#include "macro/macro.h"
#include "macro/macroitem.h"
#include "main/tessark.h"
#include "shortcut/shortcuts.h"
#include "shortcut/shortcutsitem.h"
#include "widget/combobox.h"
#include "widget/tablabel.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <memory>

Q_DECLARE_METATYPE(QList<sim::ReportChange>)

namespace {

sim::ReportChange change(int ms, const char* hex)
{
    return {ms, QByteArray::fromHex(hex)};
}

QByteArray notification(int length, const QByteArray& payload)
{
    QByteArray r(64, '\0');
    r[0] = char(0xF0);
    r[1] = char(0x50);
    r[2] = char(length);
    r.replace(8, payload.size(), payload);
    return r;
}

QList<int> triples(const QList<Key*>& chips)
{
    QList<int> out;
    for (const Key* k : chips)
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

} // namespace

class MacroRecording : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    std::unique_ptr<MessageBoxRecorder> boxes;
    sim::KeyboardPtr kb;
    std::unique_ptr<Tessark> w;
    Macro* page = nullptr;

    // The window finds and loads the sample keyboard; its macro page is shown. The log starts empty.
    bool openMacroPage()
    {
        kb = sim::plug(sim::fullSizeDual());
        w = std::make_unique<Tessark>(nullptr, QStringLiteral("None"));
        w->show();
        if (!QTest::qWaitFor([this] { return w->deviceLoaded(); }, 20000))
            return false;
        w->labelPageClickSlot(QStringLiteral("Macro"));
        page = w->macroPage();
        kb->clearLog();
        return page && page->isVisible() && page->items().size() == 3;
    }
    bool banned() const { return !w->closeButton()->isEnabled() && w->closeButton()->styleSheet().contains("-ban"); }
    QPushButton* rec() const { return page->form()->recorderButton; }
    // A new empty macro, selected.
    MacroItem* addEmpty()
    {
        page->addItemSlot();
        kb->clearLog();
        return page->items().last();
    }

private slots:
    void initTestCase() { QVERIFY(m_app.setUpForWindow(QFINDTESTDATA("../appdir"))); }
    void init() { boxes = std::make_unique<MessageBoxRecorder>(); }
    void cleanup()
    {
        w.reset();
        page = nullptr;
        sim::reset();
        kb.reset();
        boxes.reset();
    }

    // REC on an empty macro asks nothing, starts recording and locks the window; every change played
    // on the keyboard becomes chips at once; REC off stops it, unlocks and drops unpaired chips.
    void recordingMakesLiveChips_data()
    {
        QTest::addColumn<QList<sim::ReportChange>>("typed");
        QTest::addColumn<QList<int>>("live");
        QTest::addColumn<QList<int>>("kept");
        const QList<int> ctrlC{1, 0xE0, 5, 1, 0x06, 30, 0, 0x06, 40, 0, 0xE0, 20};
        QTest::newRow("Ctrl+C") << QList<sim::ReportChange>{change(5, "0100000000000000"),
                                                            change(30, "0100060000000000"),
                                                            change(40, "0100000000000000"),
                                                            change(20, "0000000000000000")}
                                << ctrlC << ctrlC;
        QTest::newRow("Ctrl held") << QList<sim::ReportChange>{change(5, "0100000000000000")}
                                   << QList<int>{1, 0xE0, 5} << QList<int>{};
    }
    void recordingMakesLiveChips()
    {
        QFETCH(QList<sim::ReportChange>, typed);
        QFETCH(QList<int>, live);
        QFETCH(QList<int>, kept);
        QVERIFY(openMacroPage());
        MacroItem* entry = addEmpty();
        rec()->setChecked(true);
        QVERIFY(boxes->boxes().isEmpty());
        QCOMPARE(recordSwitches(kb), QList<int>{1});
        QVERIFY(kb->state().recording);
        QVERIFY(banned());
        QVERIFY(!page->nameSelector()->isEnabled() && !page->items().first()->isEnabled());
        QVERIFY(rec()->isEnabled() && rec()->styleSheet().contains("rec-on.svg"));
        QTest::mouseClick(w->tabList().first(), Qt::LeftButton); // the KEY tab does nothing
        QVERIFY(page->isVisible());

        kb->playKeys(typed);
        QTRY_COMPARE(entry->keyLayout()->keys.size(), live.size() / 3);
        QCOMPARE(triples(entry->keyLayout()->keys), live);
        if (qEnvironmentVariableIsSet("TESSARK_MACRO_SHOT") && live.size() > 3)
            QVERIFY(w->grab().save(qEnvironmentVariable("TESSARK_MACRO_SHOT")));

        rec()->setChecked(false);
        QCOMPARE(recordSwitches(kb), (QList<int>{1, 0}));
        QVERIFY(!kb->state().recording && !banned());
        QTRY_COMPARE(triples(entry->keyLayout()->keys), kept);
        QVERIFY(page->nameSelector()->isEnabled() && page->items().first()->isEnabled());
        QTest::mouseClick(w->tabList().first(), Qt::LeftButton);
        QVERIFY(!page->isVisible());
    }

    // A macro with chips or with frames on the keyboard asks first: No sends nothing and unchecks REC
    // (without asking again), Yes clears the macro and records.
    void recordingOverAMacroAsksFirst()
    {
        QVERIFY(openMacroPage());
        MacroItem* entry = page->items().first(); // "Copy", its frames not loaded
        QVERIFY(entry->isSelected() && !entry->isLoadDataHidden());
        boxes->script(QMessageBox::No);
        rec()->setChecked(true);
        QCOMPARE(boxes->boxes().size(), 1);
        const MessageBoxRequest box = boxes->boxes()[0];
        QCOMPARE(box.kind, MessageBoxRequest::Warning);
        QCOMPARE(box.title, QStringLiteral("About recording message boxes"));
        QCOMPARE(box.text, QStringLiteral("Yes: 'Copy' recordings of data;\nNo: canceling recording;"));
        QVERIFY(box.windowIcon.endsWith("/images/Tessark-icon-tray-win.svg"));
        QVERIFY(!rec()->isChecked() && !banned());
        QCOMPARE(sentCount(kb), 0);

        boxes->script(QMessageBox::Yes);
        rec()->setChecked(true);
        QCOMPARE(boxes->boxes().size(), 2);
        QVERIFY(entry->isLoadDataHidden() && banned());
        QCOMPARE(recordSwitches(kb), QList<int>{1});
    }

    // A 0x50 notification becomes chips only while recording and only when it carries a whole frame.
    void framesOutsideARecordingAreDropped_data()
    {
        QTest::addColumn<bool>("recording");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("chips");
        QTest::newRow("recording") << true << 10 << 1;
        QTest::newRow("recording, 4 bytes") << true << 4 << 0;
        QTest::newRow("not recording") << false << 10 << 0;
    }
    void framesOutsideARecordingAreDropped()
    {
        QFETCH(bool, recording);
        QFETCH(int, length);
        QFETCH(int, chips);
        QVERIFY(openMacroPage());
        MacroItem* entry = addEmpty();
        rec()->setChecked(recording);
        kb->inject(notification(length, QByteArray::fromHex("0a000000040000000000")));
        QTest::qWait(200);
        QCOMPARE(entry->keyLayout()->keys.size(), chips);
    }

    // Exit, an unplug and the system's close end a recording: the keyboard stops recording where it
    // can still be reached, and the page lets the window go.
    void recordingEndsWithTheDevice_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Exit") << "exit";
        QTest::newRow("unplug") << "unplug";
        QTest::newRow("system close") << "close";
    }
    void recordingEndsWithTheDevice()
    {
        QFETCH(QString, how);
        QVERIFY(openMacroPage());
        addEmpty();
        rec()->setChecked(true);
        QVERIFY(kb->state().recording && banned());
        QElapsedTimer t;
        t.start();
        if (how == "exit") {
            w->exitAppActionSlot();
        } else if (how == "close") {
            w->close();
        } else {
            sim::unplug(kb);
            QTRY_VERIFY(!page->device());
            QVERIFY(t.elapsed() < 3000);
            QVERIFY(!rec()->isChecked() && !banned() && page->items().isEmpty());
            w->exitAppActionSlot(); // no client left to stop
            return;
        }
        QCOMPARE(recordSwitches(kb), (QList<int>{1, 0}));
        QVERIFY(!kb->state().recording);
    }

    // The tab makes the page once and hands it the loaded keyboard; a keyboard loaded later goes to
    // the page at once.
    void tabMakesThePageOnce()
    {
        QVERIFY(openMacroPage());
        QCOMPARE(page->device(), w->device());
        QVERIFY(w->pageList().contains(page));
        w->labelPageClickSlot(QStringLiteral("staticLayout"));
        QVERIFY(!page->isVisible());
        w->labelPageClickSlot(QStringLiteral("Macro"));
        QCOMPARE(w->macroPage(), page);
        sim::unplug(kb);
        QTRY_VERIFY(!page->device());
        kb = sim::plug(sim::fullSizeDual());
        QTRY_VERIFY_WITH_TIMEOUT(w->deviceLoaded(), 20000);
        QCOMPARE(page->device(), w->device());
        QCOMPARE(page->items().size(), 3);
    }

    // A rename on the macro page reaches the macro list of every key function row.
    void renameReachesEveryKeyFunctionRow()
    {
        QVERIFY(openMacroPage());
        Shortcuts* shortcuts = w->shortcutsPage();
        QTRY_VERIFY_WITH_TIMEOUT(shortcuts->initFinished(), 10000);
        for (int i = 0; i < 2; ++i) {
            shortcuts->itemAddButtonSlot();
            shortcuts->rows().last()->functionMenu()->setCurrentText(QStringLiteral("Play macro"));
        }
        QList<ComboBox*> lists;
        for (ShortcutsItem* row : shortcuts->rows())
            if (row->macroList())
                lists << row->macroList();
        QCOMPARE(lists.size(), 3);
        page->setItemSelect(page->items()[1]);
        page->alterButtonSlot();
        page->renameEdit()->setText(QStringLiteral("Greet"));
        page->alterEditFinishedSlot();
        for (ComboBox* list : lists)
            QCOMPARE(list->itemText(1), QStringLiteral("Greet"));
    }
};

QTEST_MAIN(MacroRecording)
#include "test_macrorecording.moc"
