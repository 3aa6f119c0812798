// One key function row without its page: trigger keys, the function menu and its undo, the parameter
// editors, the list key picker, the macro list relays and performing a function on the computer.
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

#include <QCheckBox>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <algorithm>
#include <cstring>
#include <memory>

class UrlSink : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

static kc_t kc(uint16_t code, uint8_t type = 1)
{
    kc_t k;
    k.type = type;
    k.code = code;
    return k;
}

// A used slot; keys by code, 0 for an empty slot.
static kf_t slotRecord(int id, int hi, const QVector<uint16_t>& keys = {})
{
    kf_t r{};
    r.bytes[0] = uint8_t(id);
    r.setUsed(true);
    r.setHi(hi);
    r.setMapMask(0xFF);
    for (int j = 0; j < keys.size(); ++j)
        r.setKey(j, keys[j] ? kc(keys[j]) : kc_t());
    return r;
}

// The visible trigger keys in slot order, each after the separator before it; "_" for a blank key.
static QString shownKeys(const ShortcutsItem& row)
{
    QString s;
    for (int j = 0; j < 4; ++j) {
        const KeyBtn* key = row.keyList()[j];
        if (key->isHidden())
            continue;
        if (j > 0)
            s += row.separator(j - 1)->text();
        s += key->alias() == " " ? QStringLiteral("_") : key->alias();
    }
    return s;
}

static QString shownListKeys(const QVector<KeyBtn*>& keys)
{
    QStringList s;
    for (const KeyBtn* key : keys) {
        if (!key->isHidden())
            s << (key->alias() == " " ? QStringLiteral("_") : key->alias());
    }
    return s.join(',');
}

static QString geometry(const QWidget* w)
{
    const QRect r = w->geometry();
    return QStringLiteral("(%1,%2 %3x%4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// Every editor widget the row holds, with its place and value.
static QString editors(ShortcutsItem& row)
{
    QStringList s;
    if (row.websiteEdit())
        s << "web" + geometry(row.websiteEdit()) + row.websiteEdit()->text();
    if (row.documentEdit())
        s << "doc" + geometry(row.documentEdit()) + row.documentEdit()->text();
    if (row.folderEdit())
        s << "folder" + geometry(row.folderEdit()) + row.folderEdit()->text();
    for (const ComboBox* list : row.ledLists())
        s << "led" + list->objectName() + (list->isHidden() ? "-hidden" : geometry(list)) + QString::number(list->currentIndex());
    if (!row.replKeyList().isEmpty())
        s << "repl" + geometry(row.replAddButton());
    if (!row.lockKeyList().isEmpty())
        s << "lock" + geometry(row.lockAddButton());
    if (row.macroList())
        s << "macro" + geometry(row.macroList()) + QString::number(row.macroList()->currentIndex())
                 + geometry(row.macroRepeatEdit()) + row.macroRepeatEdit()->text();
    if (row.swapOneEdit())
        s << "swap" + geometry(row.swapOneEdit()) + row.swapOneEdit()->text() + geometry(row.swapTwoEdit())
                 + row.swapTwoEdit()->text();
    return s.join(' ');
}

class KeyFunctionRow : public QObject {
    Q_OBJECT

    TempAppDir m_dir;
    MessageBoxRecorder m_boxes;
    UrlSink m_urls;
    QVector<KeyBtn*> m_statics; // Esc, F1..F10 and the palette's "None"
    QVector<kffunc_t*> m_catalogue;
    QVector<KeyBtn*> m_picture;

    std::unique_ptr<ShortcutsItem> makeRow(kf_t* record, int type, STCTS* stored, Device* device = nullptr)
    {
        std::unique_ptr<ShortcutsItem> row(new ShortcutsItem(nullptr, record, &m_statics, &m_catalogue, &m_picture,
                                                             m_dir.filePath("kb/shortcuts.xml"), device));
        row->createGlobuleLayout(4, {true, false, true, false});
        row->showFunctionEditor(type, stored);
        row->connectSignals();
        row->restoreSelectedKey();
        row->setKeyBorder(true);
        row->setInitialized();
        return row;
    }
    static KeyBtn* staticKey(uint16_t code, uint16_t type, const QString& alias)
    {
        auto* key = new KeyBtn;
        key->code = code;
        key->type = type;
        key->setName(alias);
        key->setAlias(alias);
        return key;
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<KeyBtn*>();
        // Read only: the palette and pictures of the sample application folder.
        setAppDirPathForTest(QFINDTESTDATA("../appdir"));
        m_statics << staticKey(0x29, 1, "Esc");
        for (int i = 1; i <= 10; ++i)
            m_statics << staticKey(uint16_t(0x39 + i), 1, QStringLiteral("F%1").arg(i));
        m_statics << staticKey(0, 0, "None");
        m_picture << staticKey(0x3c, 1, "F3");
        const QList<std::tuple<QString, int, bool, int>> functions{
            {"Web", 1, true, E_SCT_WEB},      {"Document", 2, true, E_SCT_EDIT}, {"Folder", 3, true, E_SCT_FOLDER},
            {"LED", 4, true, E_SCT_LED},      {"Replace", 5, true, E_SCT_REPKEY}, {"Lock", 6, true, E_SCT_LOCKKEY},
            {"Macro", 8, true, E_SCT_MACRO},  {"Swap", 9, true, E_SCT_SWAP},     {"Keyboard", 10, true, E_SCT_VKB},
            {"Hidden", 11, false, E_SCT_WEB}, {"LED2", 12, true, E_SCT_LED}};
        for (const auto& f : functions)
            m_catalogue << new kffunc_t{std::get<0>(f), std::get<1>(f), std::get<2>(f), std::get<3>(f), {}, {}};
        m_catalogue[3]->options = {{"Low", 1}, {"Mid", 2}, {"High", 3}};
        m_catalogue[10]->options = {{"A", 1}, {"B", 2}};
        for (const QString scheme : {"https", "file"})
            QDesktopServices::setUrlHandler(scheme, &m_urls, "open");
    }
    void cleanupTestCase()
    {
        for (const QString scheme : {"https", "file"})
            QDesktopServices::unsetUrlHandler(scheme);
        qDeleteAll(m_statics);
        qDeleteAll(m_picture);
        qDeleteAll(m_catalogue);
        setAppDirPathForTest(QString());
    }
    void cleanup()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // closed pickers
        QCOMPARE(m_boxes.boxes().size(), 0);
    }

    // Empty key slots give blank keys (never the palette's "None"): a row shows its keys plus one
    // blank slot at most, opened by "+".
    void triggerKeysFromTheRecord_data()
    {
        QTest::addColumn<QVector<uint16_t>>("keys");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("afterAdd");
        QTest::newRow("new slot") << QVector<uint16_t>{0, 0, 0, 0} << "_" << "_";
        QTest::newRow("one key") << QVector<uint16_t>{0x29, 0, 0, 0} << "Esc" << "Esc|_";
        QTest::newRow("four keys") << QVector<uint16_t>{0x29, 0x3a, 0x3b, 0x3c} << "Esc|F1|F2|F3" << "Esc|F1|F2|F3";
        QTest::newRow("a code the palette lacks") << QVector<uint16_t>{0x29, 0x99, 0, 0} << "Esc" << "Esc|_";
    }
    void triggerKeysFromTheRecord()
    {
        QFETCH(QVector<uint16_t>, keys);
        kf_t record = slotRecord(0, 1, keys);
        auto row = makeRow(&record, E_SCT_WEB, nullptr);
        QTEST(shownKeys(*row), "shown");
        row->addBtnSlot();
        QTEST(shownKeys(*row), "afterAdd");
        QVERIFY(!row->isChecked());
    }

    void deletingTriggerKeys()
    {
        kf_t one = slotRecord(0, 1, {0x29});
        auto lone = makeRow(&one, E_SCT_WEB, nullptr);
        lone->setBtnSlot(lone->keyList()[0]);
        lone->deleteBtnSlot();
        QCOMPARE(shownKeys(*lone), QString("Esc"));
        QVERIFY(!lone->isChecked());

        kf_t three = slotRecord(1, 1, {0x29, 0x3a, 0x3b});
        auto row = makeRow(&three, E_SCT_WEB, nullptr);
        KeyBtn* first = row->keyList()[0];
        row->setBtnSlot(first);
        QVERIFY(!first->isNormalState());
        row->deleteBtnSlot();
        QCOMPARE(shownKeys(*row), QString("F1|F2"));
        QCOMPARE(row->keyList()[3], first);
        QCOMPARE(first->alias() + QString::number(first->code), QString(" 0"));
        QVERIFY(row->isChecked());
    }

    // A picture key goes into the clicked slot once per row; a second copy is refused with the
    // forbidden cursor for a moment.
    void pictureKeyGoesIntoTheClickedSlot()
    {
        kf_t record = slotRecord(0, 1, {0x29});
        auto row = makeRow(&record, E_SCT_WEB, nullptr);
        KeyBtn* picked = m_picture[0];
        QTest::mouseClick(picked, Qt::LeftButton); // the row is hidden: ignored
        QVERIFY(!row->pictureKey());
        row->show();
        row->addBtnSlot();
        QTest::mouseClick(row->keyList()[1], Qt::LeftButton); // no picture key yet: selected, unchanged
        QCOMPARE(row->selectedKey(), row->keyList()[1]);
        QVERIFY(!row->isChecked());

        QTest::mouseClick(picked, Qt::LeftButton);
        QCOMPARE(row->pictureKey(), picked);
        QCOMPARE(row->keyFrame(0)->cursor().shape(), Qt::ArrowCursor);
        QTest::mouseClick(row->keyList()[1], Qt::LeftButton);
        QCOMPARE(shownKeys(*row), QString("Esc|F3"));
        QVERIFY(row->isChecked());

        row->addBtnSlot();
        QTest::mouseClick(row->keyList()[2], Qt::LeftButton);
        QCOMPARE(shownKeys(*row), QString("Esc|F3|_"));
        QVERIFY(row->cursorTimer()->isActive());
        QCOMPARE(row->keyFrame(3)->cursor().shape(), Qt::ForbiddenCursor);
        QTRY_COMPARE_WITH_TIMEOUT(row->keyFrame(3)->cursor().shape(), Qt::ArrowCursor, 2000);
        row->clearSelectedKey();
        QVERIFY(!row->pictureKey());
    }

    void functionMenuOffersEnabledFunctions()
    {
        kf_t hidden = slotRecord(0, 11); // its function isn't offered: the first entry stays
        auto row = makeRow(&hidden, E_SCT_WEB, nullptr);
        QCOMPARE(row->functionMenu()->count(), 10);
        QCOMPARE(row->functionMenu()->findText("Hidden"), -1);
        QCOMPARE(row->functionMenu()->currentText(), QString("Web"));
        QCOMPARE(row->getMenuIndex(), 1);

        kf_t swap = slotRecord(1, 9);
        auto swapRow = makeRow(&swap, E_SCT_SWAP, nullptr);
        QCOMPARE(swapRow->getMenuIndex() * 100 + swapRow->getFunctionType(), 908);

        // A catalogue that offers nothing: no number, no type, only a log line.
        QVector<kffunc_t*> none;
        ShortcutsItem empty(nullptr, &hidden, &m_statics, &none, &m_picture, QString(), nullptr);
        QCOMPARE(empty.getMenuIndex(), -1);
        QCOMPARE(empty.getFunctionType(), -1);
    }

    // Unticking undoes the unsent edits from the record and shortcuts.xml, and stays unticked;
    // while the row downloads, nothing is undone.
    void untickingUndoesTheEdits()
    {
        QVERIFY(m_dir.write("kb/shortcuts.xml", R"(<shortcuts><item0 id="3" hi="1"><Website web="https://stored.example"/>)"
                                                R"(</item0></shortcuts>)"));
        kf_t record = slotRecord(3, 1, {0x29});
        STCTS stored{3, E_SCT_WEB, 1, "https://stored.example"};
        auto row = makeRow(&record, E_SCT_WEB, &stored);
        row->show();
        QTest::mouseClick(m_picture[0], Qt::LeftButton);
        row->addBtnSlot();
        row->setBtnSlot(row->keyList()[1]);
        row->functionMenu()->setCurrentText("Folder");
        QCOMPARE(editors(*row), QString("folder(2,6 269x28)C:/Users/"));
        QVERIFY(row->isChecked());

        row->downloading = true;
        row->markChanged(false);
        QCOMPARE(shownKeys(*row) + ' ' + editors(*row), QString("Esc|F3 folder(2,6 269x28)C:/Users/"));
        row->downloading = false;

        row->markChanged(true);
        row->checkBox()->setChecked(false);
        QCOMPARE(shownKeys(*row), QString("Esc"));
        QCOMPARE(row->functionMenu()->currentText(), QString("Web"));
        QCOMPARE(editors(*row), QString("web(2,6 269x28)https://stored.example"));
        QVERIFY(!row->isChecked());
        QVERIFY(row->isInitialized());
    }

    void editorsByType_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("menu"); // chosen before the editor is shown
        QTest::addColumn<QString>("shown");
        QTest::newRow("website") << 1 << "Web" << "web(2,6 269x28)https://www.";
        QTest::newRow("document") << 2 << "Document" << "doc(2,6 269x28)C:/Windows/system32/calc.exe";
        QTest::newRow("folder") << 3 << "Folder" << "folder(2,6 269x28)C:/Users/";
        QTest::newRow("LED, first list") << 4 << "LED" << "led3(2,6 269x28)0 led10-hidden0";
        QTest::newRow("LED, second list") << 4 << "LED2" << "led3-hidden0 led10(2,6 269x28)0";
        QTest::newRow("replacement keys") << 5 << "Replace" << "repl(44,2 18x18)";
        QTest::newRow("lock keys") << 6 << "Lock" << "lock(44,2 18x18)";
        QTest::newRow("macro") << 7 << "Macro" << "macro(2,6 269x28)-1(276,8 50x25)1";
        QTest::newRow("swap") << 8 << "Swap" << "swap(2,5 30x30)1(62,5 30x30)2";
        QTest::newRow("virtual keyboard") << 9 << "Keyboard" << "";
    }
    void editorsByType()
    {
        QFETCH(int, type);
        QFETCH(QString, menu);
        kf_t record = slotRecord(0, 1);
        auto row = makeRow(&record, E_SCT_WEB, nullptr);
        row->functionMenu()->setCurrentText(menu);
        QCOMPARE(row->getFunctionType(), type);
        QTEST(editors(*row), "shown");
        const QString shown = editors(*row);
        row->showFunctionEditor(10, nullptr); // no such type: the editor stays
        QCOMPARE(editors(*row), shown);
        QCOMPARE(row->getSwapOne(), type == 8 ? 1 : -1);
        QCOMPARE(row->getMacroRepeat(), type == 7 ? 1 : -1);
        if (type == 2)
            QCOMPARE(geometry(row->parameterFrame()->findChild<QPushButton*>()), QString("(279,1 35x35)"));
    }

    void editorsLoadTheRecord()
    {
        kf_t led = slotRecord(0, 12);
        led.setOption(1);
        STCTS stored{0, E_SCT_LED, 12, {}};
        auto ledRow = makeRow(&led, E_SCT_LED, &stored);
        QCOMPARE(editors(*ledRow) + ' ' + QString::number(ledRow->getLedBrightness()),
                 QString("led3-hidden0 led10(2,6 269x28)1 1"));
        ledRow->ledLists()[1]->setCurrentIndex(0);
        QCOMPARE(ledRow->getLedBrightness(), 0);
        QVERIFY(ledRow->isChecked());

        STCTS emptyText{2, E_SCT_WEB, 1, {}}; // an empty stored text leaves the field as it is
        kf_t web = slotRecord(2, 1);
        auto webRow = makeRow(&web, E_SCT_WEB, nullptr);
        webRow->showFunctionEditor(E_SCT_WEB, &emptyText);
        QCOMPARE(webRow->getWebsite(), QString("https://www."));
    }

    // "+" opens a blank key only when none is open; "-" needs two open keys and takes the selected
    // one (or the first) behind the others.
    void listKeysOpenAndClose_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QVector<uint16_t>>("stored"); // empty: a new function
        QTest::addColumn<QString>("shown");            // keys, then "+" and "-" enabled
        QTest::newRow("new replacement") << 5 << QVector<uint16_t>{} << "_ +";
        QTest::newRow("new lock") << 6 << QVector<uint16_t>{} << "_ +";
        QTest::newRow("stored without keys") << 5 << QVector<uint16_t>{0} << " +";
        QTest::newRow("stored with a gap") << 6 << QVector<uint16_t>{0, 0x3a, 0, 0x3b} << "F1,F2 +-";
        QTest::newRow("nine keys") << 5 << QVector<uint16_t>{0x3a, 0x3b, 0x3c, 0x3d, 0x3e, 0x3f, 0x40, 0x41, 0x42}
                                   << "F1,F2,F3,F4,F5,F6,F7,F8,F9 -";
    }
    void listKeysOpenAndClose()
    {
        QFETCH(int, type);
        QFETCH(QVector<uint16_t>, stored);
        kf_t record = slotRecord(0, type);
        for (int i = 0; i < stored.size(); ++i)
            record.setParamKey(i, stored[i] ? kc(stored[i]) : kc_t());
        STCTS text{0, uint32_t(type), uint32_t(type), {}};
        auto row = makeRow(&record, type, stored.isEmpty() ? nullptr : &text);
        const QVector<KeyBtn*>& keys = type == 5 ? row->replKeyList() : row->lockKeyList();
        QPushButton* add = type == 5 ? row->replAddButton() : row->lockAddButton();
        QPushButton* del = type == 5 ? row->replDelButton() : row->lockDelButton();
        const auto state = [&] {
            return shownListKeys(keys) + ' ' + (add->isEnabled() ? "+" : "") + (del->isEnabled() ? "-" : "");
        };
        QTEST(state(), "shown");
        QCOMPARE(keys.size(), 9);
        if (stored.size() == 1)
            QCOMPARE(add->pos(), QPoint(2, 2));

        if (stored.isEmpty()) {
            QTest::mouseClick(add, Qt::LeftButton);
            QCOMPARE(state(), QString("_,_ -"));
            QCOMPARE(add->pos(), QPoint(84, 2));
        } else if (stored.size() == 9) {
            KeyBtn* first = keys[0];
            QTest::mouseClick(del, Qt::LeftButton);
            QCOMPARE(state(), QString("F2,F3,F4,F5,F6,F7,F8,F9 +-"));
            QCOMPARE(keys.last(), first);
            row->saveSelectBtnSlot(keys[2]);
            QTest::mouseClick(del, Qt::LeftButton);
            QCOMPARE(state(), QString("F2,F3,F5,F6,F7,F8,F9 +-"));
            QVERIFY(row->isChecked());
        }
    }

    // The picker fills the selected list key; blank and already listed keys can't be taken.
    void pickerFillsTheSelectedListKey()
    {
        kf_t record = slotRecord(0, 6);
        auto row = makeRow(&record, E_SCT_LOCKKEY, nullptr);
        row->show();
        KeyBtn* first = row->lockKeyList()[0];
        QTest::mouseClick(first, Qt::LeftButton);
        QCOMPARE(row->selectedListKey(), first);
        row->doubleClickSlot(first);
        StaticDialog* picker = row->staticDialog();
        QVERIFY(picker);
        KeyBtn* esc = picker->keyBtns.value(0);
        QVERIFY(esc && esc->code == 0x29);
        const auto none = std::find_if(picker->keyBtns.begin(), picker->keyBtns.end(),
                                       [](KeyBtn* k) { return k->code == 0 && k->type == 0; });
        QVERIFY(none != picker->keyBtns.end() && !(*none)->isNormalState());
        row->staticDoubleClickSlot(*none);
        QVERIFY(row->staticDialog());

        QTest::mouseDClick(esc, Qt::LeftButton);
        QVERIFY(!row->staticDialog());
        QCOMPARE(shownListKeys(row->lockKeyList()) + QString::number(first->isMarked()), QString("Esc1"));
        QVERIFY(row->lockAddButton()->isEnabled() && row->isChecked());

        QTest::mouseClick(row->lockAddButton(), Qt::LeftButton);
        QTest::mouseClick(row->lockKeyList()[1], Qt::LeftButton);
        row->doubleClickSlot(row->lockKeyList()[1]);
        QVERIFY(!row->staticDialog()->keyBtns.value(0)->isNormalState()); // Esc is listed
        row->staticDoubleClickSlot(row->staticDialog()->keyBtns.value(0));
        QCOMPARE(shownListKeys(row->lockKeyList()), QString("Esc,_"));
        row->hide(); // not on screen: no key is taken
        row->staticDoubleClickSlot(row->staticDialog()->keyBtns.value(1));
        QCOMPARE(shownListKeys(row->lockKeyList()), QString("Esc,_"));
        row->staticDialog()->hideSlot();
        QVERIFY(!row->staticDialog());
    }

    // The macro page's changes reach the list without marking the row; the stored macro is found
    // by its slot among all heads.
    void macroListFollowsTheMacroPage()
    {
        Device device(nullptr, nullptr, nullptr, nullptr);
        device.m_nKMTotalNum = 3;
        device.m_pKMs.resize(3);
        const char* names[] = {"alpha", "ghost", "gamma"};
        for (int i = 0; i < 3; ++i) {
            km_t& head = device.m_pKMs[size_t(i)];
            memset(head.bytes, 0, sizeof head.bytes);
            head.bytes[0] = uint8_t(i | (i == 1 ? 0 : 0x40));
            memcpy(head.bytes + 8, names[i], strlen(names[i]));
        }
        kf_t record = slotRecord(0, 8);
        record.setMacroId(2);
        record.setRepeat(5);
        STCTS text{0, E_SCT_MACRO, 8, {}};
        auto row = makeRow(&record, E_SCT_MACRO, &text, &device);
        QCOMPARE(row->macroList()->count(), 2);
        QCOMPARE(row->getMacroName() + ' ' + QString::number(row->getMacroRepeat()), QString("gamma 5"));

        row->updateMacroCBAddItem("delta");
        row->updateMacroCBSetItemText(1, "GAMMA");
        row->updateMacroCBRemoveItem(0);
        QCOMPARE(row->getMacroName(), QString("GAMMA"));
        row->updateMacroCBRemoveItem(0);
        QCOMPARE(row->macroList()->currentIndex(), -1);
        QCOMPARE(row->macroList()->itemText(0), QString("delta"));
        QVERIFY(!row->isChecked());

        record.setMacroId(1); // an unused head isn't listed: the choice stays as it was
        auto unused = makeRow(&record, E_SCT_MACRO, &text, &device);
        QCOMPARE(unused->getMacroName() + QString::number(unused->macroList()->count()), QString("2"));

        QLineEdit* repeat = unused->macroRepeatEdit();
        repeat->clear();
        QCOMPARE(unused->getMacroRepeat(), 0);
        QTest::keyClicks(repeat, "12345x");
        QCOMPARE(repeat->text(), QString("1234"));
        QVERIFY(unused->isChecked());

        device.m_nKMTotalNum = 0; // no macros: a name added later becomes the choice
        kf_t web = slotRecord(1, 1);
        auto empty = makeRow(&web, E_SCT_WEB, nullptr, &device);
        empty->functionMenu()->setCurrentText("Macro");
        empty->downloading = true; // unticks without an undo
        empty->markChanged(false);
        empty->downloading = false;
        empty->updateMacroCBAddItem("first");
        QCOMPARE(empty->getMacroName(), QString("first"));
        QVERIFY(empty->isChecked());
    }

    // A swap number is one digit 0-7; an edit that empties a field or equals the other is undone
    // at once and shows the error border until editing finishes.
    void swapFieldsStayDifferent()
    {
        kf_t record = slotRecord(0, 9);
        auto row = makeRow(&record, E_SCT_SWAP, nullptr);
        LineEdit* one = row->swapOneEdit();
        const auto red = [](QLineEdit* e) { return e->styleSheet().contains("rgb(255, 0, 0)"); };
        emit one->emitPressed();
        QTest::keyClick(one, Qt::Key_8);
        QCOMPARE(one->text(), QString("1"));
        emit one->emitPressed();
        QTest::keyClick(one, Qt::Key_2);
        QCOMPARE(one->text(), QString("1"));
        QVERIFY(red(one) && !row->isChecked());
        emit one->editingFinished();
        QVERIFY(!red(one));
        emit one->emitPressed();
        QTest::keyClick(one, Qt::Key_Backspace);
        QCOMPARE(one->text() + QString::number(red(one)), QString("11"));
        emit one->emitPressed();
        QTest::keyClick(one, Qt::Key_7);
        QCOMPARE(row->getSwapOne() * 10 + row->getSwapTwo(), 72);
        QVERIFY(!red(one) && row->isChecked());
    }

    void keyMapSelector()
    {
        kf_t record = slotRecord(0, 1);
        ShortcutsItem row(nullptr, &record, &m_statics, &m_catalogue, &m_picture, QString(), nullptr);
        row.createGlobuleLayout(4, {true, false, true, false});
        row.connectSignals();
        GlobuleLayout* selector = row.globuleLayout();
        QCOMPARE(geometry(selector), QString("(52,1 290x56)"));
        QVERIFY(selector->isHidden());
        QTest::mouseClick(row.globuleButton(), Qt::LeftButton);
        QVERIFY(!selector->isHidden());
        QCOMPARE(row.globuleStates(), QByteArray("1010"));
        QTest::mouseClick(selector->buttons()[1], Qt::LeftButton);
        QCOMPARE(row.globuleStates(), QByteArray("1110"));
        QVERIFY(row.isChecked()); // even before the page has filled the row
        QTest::mouseClick(row.globuleButton(), Qt::LeftButton);
        QVERIFY(selector->isHidden());
    }

    void performingAFunction_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("opened");
        QTest::newRow("website") << "Web" << "https://www.";
        QTest::newRow("document") << "Document" << "file:///C:/Windows/system32/calc.exe";
        QTest::newRow("folder") << "Folder" << "file:///C:/Users/";
        QTest::newRow("other") << "Swap" << "";
    }
    void performingAFunction()
    {
        QFETCH(QString, menu);
        kf_t record = slotRecord(0, 1);
        auto row = makeRow(&record, E_SCT_WEB, nullptr);
        row->functionMenu()->setCurrentText(menu);
        m_urls.opened.clear();
        row->executeCommandSlot();
        QStringList opened;
        for (const QUrl& url : m_urls.opened)
            opened << url.toString();
        QTEST(opened.join('|'), "opened");
    }
};

QTEST_MAIN(KeyFunctionRow)
#include "test_shortcutsitem.moc"
