// Changes the keyboard does not take because a write to it fails, or it leaves at that write: a macro
// download, a lighting slot's Apply and a key painted on the lighting page. Each action tells the user
// once, from the event loop after it; a macro the keyboard did not take stays on the page with its
// events and in its file, comes back with the keyboard and downloads again.
#include "messageboxrecorder.h"
#include "readerharness.h"
#include "tempappdir.h"
#include "wire.h"

#include "color/color.h"
#include "color/mode.h"
#include "color/palette.h"
#include "color/parameter.h"
#include "color/pushbutton.h"
#include "device/device.h"
#include "macro/key.h"
#include "macro/keylayout.h"
#include "macro/macro.h"
#include "macro/macrofile.h"
#include "macro/macroitem.h"
#include "main/tessark.h"
#include "setting/Language.h"
#include "widget/combobox.h"
#include "widget/keybtn.h"
#include "widget/writefailurenotice.h"
#include "timescale.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <memory>

namespace {

// A wait for the window on a quiet machine; every use scales it.
constexpr int LoadMs = 30000;

// An entry's events as (status, code, delay) triples.
QList<int> triples(const MacroItem* entry)
{
    QList<int> out;
    for (const Key* k : entry->keyLayout()->keys)
        out << k->status() << k->code() << int(k->getDelay());
    return out;
}

QList<int> fileTriples(const QString& path)
{
    QVector<DataKey*> events;
    QList<int> out;
    if (macrofile::readMacroFile(path, &events) != macrofile::Ok)
        return {-1};
    for (const DataKey* e : qAsConst(events))
        out << e->status << e->code << int(e->delay);
    qDeleteAll(events);
    return out;
}

// The main window with the full-size sample keyboard, found and loaded through the emulated bus.
struct Session {
    TempAppDir app;
    sim::KeyboardPtr kb;
    std::unique_ptr<Tessark> w;

    bool begin(const sim::KeyboardConfig& config = sim::fullSizeDual())
    {
        if (!app.setUpForWindow(QFINDTESTDATA("../appdir")))
            return false;
        kb = sim::plug(config);
        w = std::make_unique<Tessark>(nullptr, QStringLiteral("None"));
        w->show();
        return waitLoaded();
    }
    bool waitLoaded()
    {
        return QTest::qWaitFor([this] { return w->deviceLoaded() && w->device() && w->usb(); }, timescale::ms(LoadMs));
    }
    bool waitClosed()
    {
        return QTest::qWaitFor([this] { return !w->device() && !w->usb(); }, timescale::ms(LoadMs));
    }
    // The same keyboard back on the bus, holding what it held when it left.
    bool replug()
    {
        const sim::FirmwareState held = kb->state();
        kb = sim::plug(sim::fullSizeDual());
        kb->edit([&held](sim::FirmwareState& s) { s = held; });
        return waitLoaded();
    }
    // The same keyboard back after a restart: it holds its own macros again, and change(state) on top.
    bool replugRestarted(const std::function<void(sim::FirmwareState&)>& change = {})
    {
        kb = sim::plug(sim::fullSizeDual());
        if (change)
            kb->edit(change);
        return waitLoaded();
    }
    // The colour page shown, its palette or mode slot armed.
    Color* colourPage()
    {
        w->labelPageClickSlot(QStringLiteral("Color"));
        return w->colorPage();
    }
    void failAt(bool unplug, int nth) { unplug ? kb->unplugAtWrite(nth) : kb->failWrite(nth); }
};

// Records three key taps (each pressed for 20 ms, released for 30 ms) into entry; false when the
// keyboard did not start recording or the six events did not arrive.
bool record(Session& s, Macro* page, MacroItem* entry, std::initializer_list<const char*> usages)
{
    page->form()->recorderButton->setChecked(true);
    if (!s.kb->state().recording)
        return false;
    QList<sim::ReportChange> typed;
    for (const char* usage : usages)
        typed << sim::ReportChange{20, QByteArray::fromHex(QByteArray("0000") + usage + "0000000000")}
              << sim::ReportChange{30, QByteArray(8, '\0')};
    s.kb->playKeys(typed);
    const bool arrived = QTest::qWaitFor([&] { return triples(entry).size() == 6 * int(usages.size()); }, timescale::ms(10000));
    page->form()->recorderButton->setChecked(false);
    return arrived;
}

} // namespace

class WriteFailures : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        // What a failed row left queued goes to a recorder: a real box would wait for a user.
        MessageBoxRecorder leftOver;
        writefailurenotice::flush();
        sim::reset();
    }

    // A recorded macro (six events: two frame packets) downloads in five writes: the slot selected twice,
    // the packets, the closing packet. Failing at any of them, or the keyboard leaving there, the
    // keyboard keeps its old frame count; the macro stays selected on the page with its events, its file
    // holds them, one box says so; after the replug the entry is listed with the events again, and
    // downloads.
    void macroDownloadNotTakenIsKeptAndTold_data()
    {
        QTest::addColumn<int>("at"); // 0: nothing fails
        QTest::addColumn<bool>("unplug");
        QTest::newRow("taken") << 0 << false;
        const QList<QPair<const char*, int>> writes{{"first", 1}, {"middle", 3}, {"last", 5}};
        for (const auto& w : writes) {
            QTest::newRow(qPrintable(QString("fail-write at the %1 write").arg(w.first))) << w.second << false;
            QTest::newRow(qPrintable(QString("unplug-at-write at the %1 write").arg(w.first))) << w.second << true;
        }
    }
    void macroDownloadNotTakenIsKeptAndTold()
    {
        QFETCH(int, at);
        QFETCH(bool, unplug);
        Session s;
        QVERIFY(s.begin());
        s.w->labelPageClickSlot(QStringLiteral("Macro"));
        Macro* page = s.w->macroPage();
        QVERIFY(page && QTest::qWaitFor([&] { return page->items().size() == 3 && page->isListReady(); }, timescale::ms(LoadMs)));
        page->addItemSlot();
        MacroItem* entry = page->items().last();
        const QString name = entry->name();
        const int slot = entry->index();
        QVERIFY(record(s, page, entry, {"04", "05", "06"})); // a, b, c
        const QList<int> recorded = triples(entry);
        const QString file = page->itemFolder() + name + QStringLiteral(".xml");
        const QByteArray headBefore = s.kb->state().macroHeads[size_t(slot)];

        MessageBoxRecorder boxes;
        s.kb->clearLog();
        if (at)
            s.failAt(unplug, at);
        page->downloadItemDataSlot();
        QCOMPARE(boxes.boxes().size(), 0); // not inside the download
        QTest::qWait(50);
        if (!at) {
            QCOMPARE(sentCount(s.kb), 5);
            QVERIFY(boxes.boxes().isEmpty() && entry->isSaved());
            QCOMPARE(fileTriples(file), recorded);
            return;
        }
        QCOMPARE(boxes.boxes().size(), 1);
        const MessageBoxRequest box = boxes.boxes().first();
        QCOMPARE(box.kind, MessageBoxRequest::Critical);
        QVERIFY2(box.text.contains('"' + name + '"') && box.text.contains("saved in its file"), qPrintable(box.text));
        QCOMPARE(fileTriples(file), recorded);
        QCOMPARE(s.kb->state().macroHeads[size_t(slot)], headBefore); // the old frame count

        if (unplug) {
            QVERIFY(s.waitClosed());
            QVERIFY(page->items().isEmpty());
            QVERIFY(s.replug());
            QVERIFY(QTest::qWaitFor([&] { return page->items().size() == 4 && page->isListReady(); }, timescale::ms(LoadMs)));
            entry = nullptr;
            for (MacroItem* i : page->items())
                if (i->name() == name)
                    entry = i;
            QVERIFY(entry && entry->index() == slot);
            QVERIFY(entry->isLoadDataHidden());
        }
        QCOMPARE(triples(entry), recorded);
        QVERIFY(entry->hasSavedMark() && !entry->isSaved());
        QCOMPARE(boxes.boxes().size(), 1);

        // Downloaded again, the keyboard takes it.
        page->setItemSelect(entry);
        page->downloadItemDataSlot();
        QTest::qWait(50);
        QCOMPARE(boxes.boxes().size(), 1);
        QVERIFY(entry->isSaved());
        QCOMPARE(s.w->device()->m_pKMs[size_t(slot)].frameCount(), 6);
        QCOMPARE(s.kb->state().macroFrames[size_t(slot)].size(), 60);
        // Taken once, it is no longer set aside when the keyboard leaves.
        sim::unplug(s.kb);
        QVERIFY(s.waitClosed());
        QVERIFY(s.replug());
        QVERIFY(QTest::qWaitFor([&] { return page->items().size() == 4 && page->isListReady(); }, timescale::ms(LoadMs)));
        for (MacroItem* i : page->items())
            QVERIFY(i->keyLayout()->keys.isEmpty());
    }

    // A macro cut by the keyboard leaving during its download comes back with the keyboard: listed with
    // all its events, not downloaded, whether the keyboard returns holding what it held, restarted
    // (holding only its own macros again), or with another macro in the macro's slot, which it keeps.
    // Downloaded then, the keyboard takes it as any new macro.
    void cutMacroComesBackWithItsKeyboard_data()
    {
        QTest::addColumn<bool>("edited"); // a listed macro recorded anew; else one added with "+"
        QTest::addColumn<int>("at");
        QTest::addColumn<QString>("returns");
        const QList<QPair<const char*, int>> writes{{"first", 1}, {"middle", 3}};
        for (bool edited : {false, true}) {
            for (const auto& w : writes) {
                for (const char* returns : {"as it left", "restarted"})
                    QTest::addRow("%s macro cut at the %s write, keyboard back %s", edited ? "edited" : "new",
                                  w.first, returns)
                        << edited << w.second << QString(returns);
            }
        }
        QTest::addRow("new macro cut at the first write, keyboard back with another macro in its slot")
            << false << 1 << "slot taken";
    }
    void cutMacroComesBackWithItsKeyboard()
    {
        QFETCH(bool, edited);
        QFETCH(int, at);
        QFETCH(QString, returns);
        Session s;
        QVERIFY(s.begin());
        s.w->labelPageClickSlot(QStringLiteral("Macro"));
        Macro* page = s.w->macroPage();
        QVERIFY(page && QTest::qWaitFor([&] { return page->items().size() == 3 && page->isListReady(); }, timescale::ms(LoadMs)));
        MessageBoxRecorder boxes;
        MacroItem* entry = nullptr;
        if (edited) {
            entry = page->items().at(1);
            page->loadDataSlot(entry);
            QTRY_VERIFY_WITH_TIMEOUT(!page->deviceDrawTimer().isActive(), timescale::ms(10000));
            QVERIFY(!entry->keyLayout()->keys.isEmpty());
            boxes.script(QMessageBox::Yes); // its events recorded over
        } else {
            page->addItemSlot();
            entry = page->items().last();
        }
        const QString name = entry->name();
        const int slot = entry->index();
        page->setItemSelect(entry);
        QVERIFY(record(s, page, entry, {"1d", "1b", "06"})); // z, x, c
        const QList<int> recorded = triples(entry);
        boxes.clear();

        s.failAt(true, at);
        page->downloadItemDataSlot();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes().size(), 1, timescale::ms(10000));
        QVERIFY(s.waitClosed());
        QVERIFY(page->items().isEmpty());
        const int otherSlot = slot;
        if (returns == "as it left") {
            QVERIFY(s.replug());
        } else if (returns == "restarted") {
            QVERIFY(s.replugRestarted());
        } else {
            QVERIFY(s.replugRestarted([otherSlot](sim::FirmwareState& st) {
                QByteArray& head = st.macroHeads[size_t(otherSlot)];
                QByteArray word(4, '\0');
                word[0] = char(otherSlot | 0x40); // used, no frames
                head.replace(0, 4, word);
                head.replace(8, 16, QByteArray("Other").leftJustified(16, '\0'));
            }));
        }
        const int expected = 3 + (edited ? 0 : 1) + (returns == "slot taken" ? 1 : 0);
        QVERIFY(QTest::qWaitFor([&] { return page->items().size() == expected && page->isListReady(); }, timescale::ms(LoadMs)));
        entry = nullptr;
        for (MacroItem* i : page->items())
            if (i->name() == name)
                entry = i;
        QVERIFY2(entry, qPrintable(name + " not listed"));
        QCOMPARE(triples(entry), recorded);
        QVERIFY(entry->isLoadDataHidden() && !entry->isSaved());
        QVERIFY(page->nameSelector()->findText(name) >= 0);
        const int target = entry->index();
        if (returns == "slot taken")
            QVERIFY(target != slot && s.kb->state().macroHeads[size_t(slot)].mid(8, 5) == "Other");
        else
            QCOMPARE(target, slot);
        QCOMPARE(boxes.boxes().size(), 1);

        // Downloaded now, its frames go out and the keyboard holds the macro under its name.
        page->setItemSelect(entry);
        s.kb->clearLog();
        page->downloadItemDataSlot();
        QTest::qWait(50);
        QCOMPARE(boxes.boxes().size(), 1);
        QVERIFY(entry->isSaved());
        QCOMPARE(sentReports(s.kb, 0x50, 0x40).size(), 3); // two frame packets and the closing one
        const QByteArray head = s.kb->state().macroHeads[size_t(target)];
        QVERIFY(uint8_t(head[0]) & 0x40);
        QCOMPARE(s.w->device()->m_pKMs[size_t(target)].frameCount(), 6);
        QCOMPARE(head.mid(8, name.size()), name.toLatin1());
        QCOMPARE(s.kb->state().macroFrames[size_t(target)].size(), 60);
        QCOMPARE(fileTriples(page->itemFolder() + name + QStringLiteral(".xml")), recorded);
        if (returns == "slot taken")
            QVERIFY(s.kb->state().macroHeads[size_t(slot)].mid(8, 5) == "Other");
    }

    // Apply on the mode parameter dialog writes one record: when that write fails, or the keyboard leaves
    // at it, the keyboard keeps its record, and one box names the slot.
    void lightingSlotApplyNotTakenIsTold_data()
    {
        QTest::addColumn<bool>("unplug");
        QTest::newRow("fail-write at its only write") << false;
        QTest::newRow("unplug-at-write at its only write") << true;
    }
    void lightingSlotApplyNotTakenIsTold()
    {
        QFETCH(bool, unplug);
        Session s;
        QVERIFY(s.begin());
        Color* page = s.colourPage();
        QVERIFY(page);
        QTest::mouseDClick(page->modeWidget()->buttons()[3], Qt::LeftButton);
        Parameter* dialog = page->modeWidget()->parameter();
        QVERIFY(dialog);
        const QByteArray before = s.kb->state().lightingActions[3];
        const QByteArray copy = bytes(&s.w->device()->m_pLAs[3], sizeof(la_t));
        dialog->findChild<QCheckBox*>(QStringLiteral("colorRandom"))->toggle();

        MessageBoxRecorder boxes;
        s.failAt(unplug, 1);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("apply")), Qt::LeftButton);
        QCOMPARE(boxes.boxes().size(), 0);
        QTest::qWait(50);
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes().first().kind, MessageBoxRequest::Critical);
        QVERIFY2(boxes.boxes().first().text.contains("LED Mode 3;"), qPrintable(boxes.boxes().first().text));
        QCOMPARE(s.kb->state().lightingActions[3], before);
        if (unplug) {
            QVERIFY(s.waitClosed());
            QVERIFY(!s.w->colorPage());
        } else {
            QCOMPARE(bytes(&s.w->device()->m_pLAs[3], sizeof(la_t)), copy);
        }
        QCOMPARE(boxes.boxes().size(), 1);
    }

    // A colour or lighting mode painted on a key is one write: failing, or the keyboard leaving at it,
    // the key keeps what it had, and one box says the keyboard did not take it.
    void keyPaintNotTakenIsTold_data()
    {
        QTest::addColumn<bool>("mode");
        QTest::addColumn<bool>("unplug");
        QTest::addColumn<QString>("told");
        QTest::newRow("colour, fail-write at its only write") << false << false << "new colour";
        QTest::newRow("colour, unplug-at-write at its only write") << false << true << "new colour";
        QTest::newRow("mode, fail-write at its only write") << true << false << "new lighting mode";
        QTest::newRow("mode, unplug-at-write at its only write") << true << true << "new lighting mode";
    }
    void keyPaintNotTakenIsTold()
    {
        QFETCH(bool, mode);
        QFETCH(bool, unplug);
        QFETCH(QString, told);
        Session s;
        QVERIFY(s.begin());
        Color* page = s.colourPage();
        QVERIFY(page);
        KeyBtn* key = s.w->dynamicKeyBtns().value(4);
        QVERIFY(key);
        const QColor colour = key->color;
        const int slot = key->macroIndex;
        const sim::FirmwareState before = s.kb->state();
        if (mode)
            emit page->modeWidget()->buttons()[(slot + 1) % 8]->pressed();
        else
            emit page->paletteWidget()->findChild<QPushButton*>(QStringLiteral("customColor_1"))->pressed();

        MessageBoxRecorder boxes;
        s.failAt(unplug, 1);
        emit key->emitRequestColorSignal(4);
        QCOMPARE(boxes.boxes().size(), 0);
        QVERIFY(key->color == colour && key->macroIndex == slot);
        QTest::qWait(50);
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes().first().kind, MessageBoxRequest::Critical);
        QVERIFY2(boxes.boxes().first().text.contains(told), qPrintable(boxes.boxes().first().text));
        QVERIFY(s.kb->state().colourMaps == before.colourMaps && s.kb->state().lightingModes == before.lightingModes);
        if (unplug)
            QVERIFY(s.waitClosed());
        QCOMPARE(boxes.boxes().size(), 1);
    }

    // A key beyond the keyboard's colour table has no colour entry: painting it sends nothing, so
    // nothing failed and no box comes; a key with an entry is painted as ever.
    void keyWithoutColourEntrySendsNothing_data()
    {
        QTest::addColumn<int>("keyIndex");
        QTest::addColumn<int>("sent");
        QTest::newRow("last key, past the colour table") << 103 << 0;
        QTest::newRow("first key past the colour table") << 100 << 0;
        QTest::newRow("last key with a colour entry") << 99 << 1;
    }
    void keyWithoutColourEntrySendsNothing()
    {
        QFETCH(int, keyIndex);
        QFETCH(int, sent);
        sim::KeyboardConfig config = sim::fullSizeDual();
        config.colourKeys = 100;
        Session s;
        QVERIFY(s.begin(config));
        Color* page = s.colourPage();
        QVERIFY(page);
        KeyBtn* key = nullptr;
        for (KeyBtn* k : s.w->dynamicKeyBtns())
            if (k->keyIndex() == keyIndex)
                key = k;
        QVERIFY(key);
        const QColor colour = key->color;
        const sim::FirmwareState before = s.kb->state();
        emit page->paletteWidget()->findChild<QPushButton*>(QStringLiteral("customColor_1"))->pressed();

        MessageBoxRecorder boxes;
        s.kb->clearLog();
        emit key->emitRequestColorSignal(keyIndex);
        QTest::qWait(50);
        QCOMPARE(sentCount(s.kb), sent);
        QCOMPARE(boxes.boxes().size(), 0);
        QCOMPARE(key->color == colour, sent == 0);
        QCOMPARE(s.kb->state().colourMaps == before.colourMaps, sent == 0);
    }

    // Notices of one action are told once each, but every macro and every lighting slot that was not
    // taken is named.
    void noticesOfOneActionNameEachSubject_data()
    {
        QTest::addColumn<QStringList>("macros");
        QTest::addColumn<QList<int>>("lightingSlots");
        QTest::addColumn<QStringList>("named"); // what each line of the box names, in order
        QTest::newRow("two macros") << QStringList{"Copy", "Hello1"} << QList<int>{}
                                    << QStringList{"\"Copy\"", "\"Hello1\""};
        QTest::newRow("one macro twice, another between")
            << QStringList{"Copy", "Sig2", "Copy"} << QList<int>{} << QStringList{"\"Copy\"", "\"Sig2\""};
        QTest::newRow("two lighting slots") << QStringList{} << QList<int>{3, 5}
                                            << QStringList{"LED Mode 3;", "LED Mode 5;"};
        QTest::newRow("two macros and two slots, repeated")
            << QStringList{"Copy", "Hello1", "Hello1"} << QList<int>{5, 3, 5}
            << QStringList{"\"Copy\"", "\"Hello1\"", "LED Mode 5;", "LED Mode 3;"};
    }
    void noticesOfOneActionNameEachSubject()
    {
        QFETCH(QStringList, macros);
        QFETCH(QList<int>, lightingSlots);
        QFETCH(QStringList, named);
        ReaderAppDir app;
        MessageBoxRecorder boxes;
        for (const QString& m : macros)
            writefailurenotice::macroNotTaken(m, true);
        for (int slot : lightingSlots)
            writefailurenotice::lightingSlotNotTaken(slot);
        QCOMPARE(writefailurenotice::pending(), named.size());
        QTest::qWait(20);
        QCOMPARE(boxes.boxes().size(), 1);
        const QStringList lines = boxes.boxes()[0].text.split('\n');
        QCOMPARE(lines.size(), named.size());
        for (int i = 0; i < named.size(); ++i)
            QVERIFY2(lines[i].contains(named[i]), qPrintable(lines[i]));
    }

    // What one action queued is one critical box, each change once, in the language the user chose.
    void noticesOfOneActionShareOneBox_data()
    {
        QTest::addColumn<int>("languageType");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("English") << 1 << "Not written to the keyboard"
                                 << QStringList{"The keyboard did not take the macro \"Macro1\". It is kept with all "
                                                "its events and is saved in its file. It stays on the page, or, if "
                                                "the keyboard left, comes back to the page when the keyboard does; "
                                                "check the keyboard's connection and download it again.",
                                                "The keyboard did not take the settings of LED Mode 3; it keeps the "
                                                "ones it had. Check the keyboard's connection and apply them again."};
        QTest::newRow("Chinese") << 0 << QString::fromUtf8("未写入键盘")
                                 << QStringList{QString::fromUtf8("键盘未接收宏“Macro1”。该宏及其全部按键事件已保留，"
                                                                  "并已保存到其文件中。它仍在页面上；如果键盘已断开，"
                                                                  "它会在键盘重新连接后回到页面上。请检查键盘连接后重新下载。"),
                                                QString::fromUtf8("键盘未接收 LED 模式 3 的设置，仍保留原来的设置。"
                                                                  "请检查键盘连接后重新应用。")};
    }
    void noticesOfOneActionShareOneBox()
    {
        QFETCH(int, languageType);
        QFETCH(QString, title);
        QFETCH(QStringList, lines);
        ReaderAppDir app;
        MessageBoxRecorder boxes;
        std::unique_ptr<Language> language(g_language = new Language);
        g_language->setLanguageType(languageType);
        QTest::qWait(20);
        boxes.clear(); // the language file's own notice, if any
        writefailurenotice::macroNotTaken("Macro1", true);
        writefailurenotice::macroNotTaken("Macro1", true);
        writefailurenotice::lightingSlotNotTaken(3);
        QCOMPARE(writefailurenotice::pending(), 2);
        QVERIFY(boxes.boxes().isEmpty());
        QTest::qWait(20);
        QCOMPARE(writefailurenotice::pending(), 0);
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes()[0].title, title);
        QCOMPARE(boxes.boxes()[0].text.split('\n'), lines);
        g_language = nullptr;
        QTest::qWait(20);
        QCOMPARE(boxes.boxes().size(), 1); // nothing queued, nothing shown
    }
};

QTEST_MAIN(WriteFailures)
#include "test_writefailures.moc"
