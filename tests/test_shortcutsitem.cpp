// One key function row without its page: keys, menu and undo, key maps, editors, key picker, macro relays.
#include "device/device.h"
#include "messageboxrecorder.h"
#include "shortcut/globulelayout.h"
#include "shortcut/shortcutsitem.h"
#include "tempappdir.h"
#include "widget/combobox.h"
#include "widget/keybtn.h"
#include "widget/lineedit.h"
#include "widget/qss.h"
#include "widget/staticdialog.h"
#include "timescale.h"

#include <QtTest>
#include <memory>

using Codes = QVector<uint16_t>; // key codes

// A used slot; trigger keys by code, 0 for an empty slot.
static kf_t slotRecord(int id, int hi, const Codes& keys = {})
{
    kf_t r{};
    r.bytes[0] = uint8_t(id);
    r.setUsed(true);
    r.setHi(hi);
    for (int j = 0; j < keys.size(); ++j)
        r.setKey(j, keys[j] ? kc_t{0, 1, 0, keys[j]} : kc_t());
    return r;
}

// The visible keys, "_" for a blank one, each after the row's separator (trigger keys) or a comma.
static QString shown(const QVector<KeyBtn*>& keys, const ShortcutsItem* row = nullptr)
{
    QString s;
    for (int j = 0; j < keys.size(); ++j) {
        if (!keys[j]->isHidden())
            s += (j == 0 ? "" : row ? row->separator(j - 1)->text() : ",") + keys[j]->alias().replace(' ', '_');
    }
    return s;
}

// The editors the row holds, with their values.
static QString editors(ShortcutsItem& row)
{
    QStringList s{row.getWebsite() + row.getDocumentPath() + row.getFolderPath()};
    for (const ComboBox* list : row.ledLists())
        s << QString("led%1%2 %3").arg(list->objectName(), list->isHidden() ? "-hidden" : "").arg(list->currentIndex());
    s << shown(row.replKeyList() + row.lockKeyList());
    if (row.macroList())
        s << QString("macro %1 %2").arg(row.macroList()->currentIndex()).arg(row.macroRepeatEdit()->text());
    if (row.swapOneEdit())
        s << QString("swap %1 %2").arg(row.getSwapOne()).arg(row.getSwapTwo());
    s.removeAll(QString());
    return s.join(", ");
}

class KeyFunctionRow : public QObject {
    Q_OBJECT

    TempAppDir m_dir;
    MessageBoxRecorder m_boxes;
    QVector<KeyBtn*> m_statics; // the sample palette (Esc, F1, F2, F3 ... "None"), also the picture keys
    QVector<kffunc_t*> m_catalogue;
    STCTS m_stored; // a stored text record with an empty text

    std::unique_ptr<ShortcutsItem> makeRow(kf_t* record, int type, STCTS* stored, Device* device = nullptr)
    {
        std::unique_ptr<ShortcutsItem> row(new ShortcutsItem(nullptr, record, &m_statics, &m_catalogue, &m_statics,
                                                             m_dir.filePath("kb/shortcuts.xml"), device));
        row->createGlobuleLayout(4, {true, false, true, false});
        row->showFunctionEditor(type, stored);
        row->connectSignals();
        row->setInitialized();
        return row;
    }

private slots:
    void initTestCase()
    {
        setAppDirPathForTest(QFINDTESTDATA("../appdir")); // read only
        Data().loadKeyBtns(&m_statics);
        const auto f = [](const char* n, int hi, int t, bool on = true) { return new kffunc_t{n, hi, on, t, {}, {}}; };
        m_catalogue << f("Web", 1, E_SCT_WEB) << f("Document", 2, E_SCT_EDIT) << f("Folder", 3, E_SCT_FOLDER)
                    << f("LED", 4, E_SCT_LED) << f("Replace", 5, E_SCT_REPKEY) << f("Lock", 6, E_SCT_LOCKKEY)
                    << f("Macro", 8, E_SCT_MACRO) << f("Swap", 9, E_SCT_SWAP) << f("Keyboard", 10, E_SCT_VKB)
                    << f("Hidden", 11, E_SCT_FOLDER, false) << f("LED2", 12, E_SCT_LED);
        m_catalogue[3]->options = {{"Low", 1}, {"Mid", 2}, {"High", 3}};
        m_catalogue[10]->options = {{"A", 1}, {"B", 2}};
    }
    void cleanupTestCase()
    {
        qDeleteAll(m_statics);
        qDeleteAll(m_catalogue);
    }
    void cleanup()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // closed pickers
        QCOMPARE(m_boxes.boxes().size(), 0);
    }

    // Empty key slots give blank keys (never the palette's "None"): a row shows its keys, then one blank
    // slot at most after "+"; "-" puts the selected key, blank, behind the others, but one key stays.
    void triggerKeysShowAddAndDelete_data()
    {
        QTest::addColumn<Codes>("keys");
        QTest::addColumn<QString>("shown"); // as loaded > after "+" > after "-" on the first key
        QTest::newRow("new slot") << Codes{} << "_ > _ > _";
        QTest::newRow("three keys") << Codes{0x29, 0x3a, 0x3b} << "Esc|F1|F2 > Esc|F1|F2|_ > F1|F2";
        QTest::newRow("four keys") << Codes{0x29, 0x3a, 0x3b, 0x3c} << "Esc|F1|F2|F3 > Esc|F1|F2|F3 > F1|F2|F3";
        QTest::newRow("one key and a code the palette lacks") << Codes{0x29, 0x99} << "Esc > Esc|_ > Esc|_";
    }
    void triggerKeysShowAddAndDelete()
    {
        QFETCH(Codes, keys);
        kf_t record = slotRecord(0, 1, keys);
        auto row = makeRow(&record, E_SCT_WEB, nullptr);
        QStringList seen{shown(row->keyList(), row.get())};
        row->addBtnSlot();
        seen << shown(row->keyList(), row.get());
        row->setBtnSlot(row->keyList()[0]);
        row->deleteBtnSlot();
        seen << shown(row->keyList(), row.get());
        QTEST(seen.join(" > "), "shown");
        QCOMPARE(row->isChecked(), seen[2] != seen[1]);
    }

    // A picture key goes into the clicked slot once per row (a copy gets the forbidden cursor a moment).
    // Unticking undoes the edits from the record and shortcuts.xml, but not while the row downloads.
    void pictureKeyEditsUndoneByUnticking()
    {
        QVERIFY(m_dir.write("kb/shortcuts.xml",
                            R"(<shortcuts><item0 id="3" hi="1"><Website web="stored"/></item0></shortcuts>)"));
        kf_t record = slotRecord(3, 1, {0x29});
        auto row = makeRow(&record, E_SCT_WEB, nullptr);
        QTest::mouseClick(m_statics[3], Qt::LeftButton); // F3; the row is hidden: ignored
        row->show();
        row->addBtnSlot();
        KeyBtn* slot = row->keyList()[1];
        QTest::mouseClick(slot, Qt::LeftButton); // no picture key yet: only selected
        QVERIFY(row->selectedKey() == slot && !slot->isNormalState() && !row->isChecked());
        QTest::mouseClick(m_statics[3], Qt::LeftButton);
        QTest::mouseClick(slot, Qt::LeftButton);
        QVERIFY(row->isChecked() && slot->cursor().shape() == Qt::ArrowCursor);
        row->addBtnSlot();
        QTest::mouseClick(row->keyList()[2], Qt::LeftButton);
        QCOMPARE(slot->cursor().shape(), Qt::ForbiddenCursor);
        QTRY_COMPARE_WITH_TIMEOUT(slot->cursor().shape(), Qt::ArrowCursor, timescale::ms(10000));
        row->functionMenu()->setCurrentText("Folder");
        const auto state = [&] { return shown(row->keyList(), row.get()) + ", " + editors(*row); };
        row->downloading = true;
        row->markChanged(false);
        QCOMPARE(state(), QString("Esc|F3|_, C:/Users/"));
        row->downloading = false;
        row->markChanged(true);
        row->markChanged(false);
        QCOMPARE(state() + ", " + row->functionMenu()->currentText(), QString("Esc, stored, Web"));
        QVERIFY(!row->isChecked() && row->isInitialized());
    }

    // A catalogue that offers nothing gives no number and no type, without a message box. The row's
    // button shows its key-map selector, whose choice marks the row even before the page has filled it.
    void rowBeforeItIsFilled()
    {
        QVector<kffunc_t*> none;
        ShortcutsItem row(nullptr, nullptr, &m_statics, &none, &m_statics, QString(), nullptr);
        QCOMPARE(QString("%1 %2").arg(row.getMenuIndex()).arg(row.getFunctionType()), QString("-1 -1"));
        row.createGlobuleLayout(4, {true, false, true, false});
        row.connectSignals();
        QVERIFY(row.globuleLayout()->isHidden());
        QTest::mouseClick(row.globuleButton(), Qt::LeftButton);
        QVERIFY(!row.globuleLayout()->isHidden());
        QTest::mouseClick(row.globuleLayout()->buttons()[1], Qt::LeftButton);
        QCOMPARE(row.globuleStates() + (row.isChecked() ? " ticked" : ""), QByteArray("1110 ticked"));
    }

    // One editor at a time (a type above 9 keeps it): the defaults when picked in the menu, the record's
    // values when loaded, where an empty stored text keeps the field. A function not enabled isn't offered.
    void editorsByType_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("shown"); // picked in the menu (a change ticks the row) > loaded
        QTest::newRow("website") << "Web" << "https://www. > https://www.";
        QTest::newRow("document") << "Document" << "C:/Windows/system32/calc.exe ticked > C:/Windows/system32/calc.exe";
        QTest::newRow("folder") << "Folder" << "C:/Users/ ticked > C:/Users/";
        QTest::newRow("LED, first list") << "LED" << "led3 0, led10-hidden 0 ticked > led3 1, led10-hidden 0";
        QTest::newRow("LED, second list") << "LED2" << "led3-hidden 0, led10 0 ticked > led3-hidden 0, led10 1";
        QTest::newRow("replacement keys") << "Replace" << "_ ticked > ";
        QTest::newRow("lock keys") << "Lock" << "_ ticked > ";
        QTest::newRow("macro") << "Macro" << "macro -1 1 ticked > macro -1 5";
        QTest::newRow("swap") << "Swap" << "swap 1 2 ticked > swap 1 5";
        QTest::newRow("virtual keyboard") << "Keyboard" << " ticked > ";
        QTest::newRow("not offered") << "Hidden" << "https://www. > https://www.";
    }
    void editorsByType()
    {
        QFETCH(QString, menu);
        kf_t record = slotRecord(0, 11); // a function the menu doesn't offer: its first entry shows
        record.setOption(1);              // also the macro and the first swap number
        record.setRepeat(5);              // also the second swap number
        auto row = makeRow(&record, E_SCT_WEB, nullptr);
        row->functionMenu()->setCurrentText(menu);
        row->showFunctionEditor(10, nullptr);
        const QString picked = editors(*row) + (row->isChecked() ? " ticked" : "");
        row->showFunctionEditor(row->getFunctionType(), &m_stored);
        QTEST(picked + " > " + editors(*row), "shown");
        for (ComboBox* list : row->ledLists()) // the user's choice is the brightness
            list->setCurrentIndex(0);
        QCOMPARE(row->getLedBrightness(), 0);
    }

    // "+" opens a blank key after the open ones, while none is blank; "-" needs two open keys and takes
    // the selected one (or the first) behind the others. The picker fills the selected key but for "None",
    // keys already listed and while the row is off screen.
    void listKeysOpenCloseAndPick_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<Codes>("stored"); // empty: a new function
        QTest::addColumn<QString>("shown"); // keys, "+" and "-" enabled; after "+"
        QTest::newRow("new replacement") << 5 << Codes{} << "_ + > _,_ -";
        QTest::newRow("stored lock key") << 6 << Codes{0x29} << "Esc + > Esc,_ -";
        QTest::newRow("stored with a gap") << 5 << Codes{0, 0x3a, 0, 0x3b} << "F1,F2 +- > F1,F2,_ -";
        QTest::newRow("nine keys") << 5 << Codes{0x3a, 0x3b, 0x3c, 0x3d, 0x3e, 0x3f, 0x40, 0x41, 0x42}
                                   << "F1,F2,F3,F4,F5,F6,F7,F8,F9 - > F1,F2,F3,F4,F5,F6,F7,F8,F9 -";
    }
    void listKeysOpenCloseAndPick()
    {
        QFETCH(int, type);
        QFETCH(Codes, stored);
        kf_t record = slotRecord(0, type);
        for (int i = 0; i < stored.size(); ++i)
            record.setParamKey(i, stored[i] ? kc_t{0, 1, 0, stored[i]} : kc_t());
        auto row = makeRow(&record, type, stored.isEmpty() ? nullptr : &m_stored);
        const QVector<KeyBtn*>& keys = type == E_SCT_REPKEY ? row->replKeyList() : row->lockKeyList();
        QPushButton* add = type == E_SCT_REPKEY ? row->replAddButton() : row->lockAddButton();
        QPushButton* del = type == E_SCT_REPKEY ? row->replDelButton() : row->lockDelButton();
        const auto state = [&] {
            return shown(keys) + ' ' + (add->isEnabled() ? "+" : "") + (del->isEnabled() ? "-" : "")
                   + (row->isChecked() ? " ticked" : "") + (row->staticDialog() ? " picker" : "");
        };
        const QString loaded = state();
        QTest::mouseClick(add, Qt::LeftButton);
        QTEST(loaded + " > " + state(), "shown");
        if (stored.size() == 9) {
            QTest::mouseClick(del, Qt::LeftButton);
            QTest::mouseClick(keys[2], Qt::LeftButton);
            QTest::mouseClick(del, Qt::LeftButton);
            QCOMPARE(state(), QString("F2,F3,F5,F6,F7,F8,F9 +- ticked"));
        }
        if (stored.size() != 1)
            return;
        QTest::mouseClick(keys[1], Qt::LeftButton);
        QTest::mouseDClick(keys[1], Qt::LeftButton);
        const QVector<KeyBtn*>& picker = row->staticDialog()->keyBtns;
        QVERIFY(!picker.last()->isNormalState() && !picker[0]->isNormalState()); // "None" and the listed Esc
        row->staticDoubleClickSlot(picker[1]); // the row isn't shown
        row->show();
        row->staticDoubleClickSlot(picker.last());
        row->staticDoubleClickSlot(picker[0]);
        QCOMPARE(state(), QString("Esc,_ - picker"));
        QTest::mouseDClick(picker[1], Qt::LeftButton);
        QCOMPARE(state(), QString("Esc,F1 +- ticked"));
    }

    // The list holds the macros in use; the stored macro is found by its slot among all heads, free ones
    // too. The macro page's changes reach the list without marking the row.
    void macroListFollowsTheMacroPage()
    {
        Device device(nullptr, nullptr, nullptr, nullptr);
        device.m_nKMTotalNum = 3;
        device.m_pKMs.resize(3);
        const char* names[] = {"alpha", "ghost", "gamma"};
        for (int i = 0; i < 3; ++i) {
            device.m_pKMs[size_t(i)].bytes[0] = uint8_t(i | (i == 1 ? 0 : 0x40)); // head 1 is free
            qstrcpy(reinterpret_cast<char*>(device.m_pKMs[size_t(i)].bytes + 8), names[i]);
        }
        kf_t record = slotRecord(0, 8);
        record.setMacroId(2);
        record.setRepeat(5);
        auto row = makeRow(&record, E_SCT_MACRO, &m_stored, &device);
        QCOMPARE(row->getMacroName() + ' ' + QString::number(row->getMacroRepeat()), QString("gamma 5"));
        row->updateMacroCBAddItem("delta");
        row->updateMacroCBSetItemText(1, "GAMMA");
        row->updateMacroCBRemoveItem(0);
        QCOMPARE(row->getMacroName(), QString("GAMMA"));
        row->updateMacroCBRemoveItem(0); // the chosen one: no choice is left
        QCOMPARE(row->getMacroName() + row->macroList()->itemText(0), QString("delta"));
        QVERIFY(!row->isChecked());
        row->updateMacroCBRemoveItem(0);
        row->updateMacroCBAddItem("first"); // into an empty list: the choice, which marks the row
        QVERIFY(row->getMacroName() == "first" && row->isChecked());
        record.setMacroId(1); // a free head isn't listed: the choice stays as it was
        auto unused = makeRow(&record, E_SCT_MACRO, &m_stored, &device);
        QCOMPARE(unused->getMacroName(), QString());
        unused->macroRepeatEdit()->clear();
        QTest::keyClicks(unused->macroRepeatEdit(), "12345x");
        QVERIFY(unused->getMacroRepeat() == 1234 && unused->isChecked());
    }

    // A swap number is one digit 0-7; an edit that empties a field or equals the other is undone at once
    // and shows the error border until editing finishes.
    void swapFieldsStayDifferent()
    {
        kf_t record = slotRecord(0, 9);
        auto row = makeRow(&record, E_SCT_SWAP, nullptr);
        LineEdit* one = row->swapOneEdit();
        const auto state = [&] {
            const bool red = one->styleSheet().contains("rgb(255, 0, 0)");
            return one->text() + (red ? " red" : "") + (row->isChecked() ? " ticked" : "");
        };
        const auto type = [&](Qt::Key key) { emit one->emitPressed(); QTest::keyClick(one, key); return state(); };
        QCOMPARE(type(Qt::Key_8), QString("1"));
        QCOMPARE(type(Qt::Key_2), QString("1 red"));
        emit one->editingFinished();
        QCOMPARE(state(), QString("1"));
        QCOMPARE(type(Qt::Key_Backspace), QString("1 red"));
        QCOMPARE(type(Qt::Key_7), QString("7 ticked"));
    }
};

QTEST_MAIN(KeyFunctionRow)
#include "test_shortcutsitem.moc"
