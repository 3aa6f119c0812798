// The macro page against an emulated keyboard: the list built from the macro heads, add, delete and
// rename on the keyboard, a macro read and drawn, the download on the wire, the default delay, the
// files (save, export, import, the folder load) and releasing the keyboard mid-draw.
#include "keyboardfixture.h"
#include "messageboxrecorder.h"
#include "readerharness.h"
#include "wire.h"

#include "macro/key.h"
#include "macro/keylayout.h"
#include "macro/macro.h"
#include "macro/macrofile.h"
#include "macro/macroitem.h"
#include "widget/combobox.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <memory>

namespace {

QByteArray head(int slot, bool used, int frames, const QByteArray& name)
{
    QByteArray h(24, '\0');
    const uint32_t word = uint32_t(slot & 0x3F) | (used ? 0x40u : 0u) | (uint32_t(frames) << 7);
    for (int i = 0; i < 4; ++i)
        h[i] = char(word >> (8 * i));
    h.replace(8, qMin(name.size(), 16), name.left(16));
    return h;
}

QByteArray frame(uint16_t ms, uint8_t modifiers, uint8_t key = 0)
{
    QByteArray f(10, '\0');
    f[0] = char(ms & 0xFF);
    f[1] = char(ms >> 8);
    f[2] = char(modifiers);
    f[4] = char(key);
    return f;
}

QString headName(const QByteArray& report) // a 0x50/0x02 report's name field
{
    return QString::fromLatin1(report.mid(16, 16)).section(QChar('\0'), 0, 0);
}

// Events as (status, code, delay) triples, for comparisons.
QList<int> triples(const QList<Key*>& chips)
{
    QList<int> out;
    for (const Key* k : chips)
        out << k->status() << k->code() << int(k->getDelay());
    return out;
}

QStringList names(const Macro& page)
{
    QStringList out;
    for (const MacroItem* i : page.items())
        out << i->name();
    return out;
}

QStringList selectorTexts(const Macro& page)
{
    QStringList out;
    for (int i = 0; i < page.nameSelector()->count(); ++i)
        out << page.nameSelector()->itemText(i);
    return out;
}

// A file of n events, each one frame (A down and up, 1 ms apart).
QByteArray longMacroFile(int n)
{
    QByteArray keys;
    for (int i = 0; i < n; ++i)
        keys += "<KEY" + QByteArray::number(i) + " status=\"" + QByteArray::number(1 - i % 2)
                + "\" code=\"4\" type=\"1\" stype=\"0\" delay=\"1\"/>";
    return "<MACRO><ITEM id=\"0\">" + keys + "</ITEM></MACRO>";
}

struct Used {
    int slot;
    QByteArray name;
    QByteArray frames; // concatenated 10-byte frames
};

} // namespace

class MacroPage : public QObject {
    Q_OBJECT
    ReaderAppDir m_app;
    std::unique_ptr<KeyboardFixture> f;
    std::unique_ptr<Macro> page;
    std::unique_ptr<MessageBoxRecorder> boxes;
    std::unique_ptr<QSignalSpy> renamed; // the page's rename relays since start()

    QString folder() const { return m_app.filePath(QStringLiteral("dev/")); }
    QString itemFile(const QString& name) const { return folder() + QStringLiteral("item/") + name + ".xml"; }
    MacroItem* item(int i) const { return page->items().value(i); }
    QPushButton* button(QPushButton* Macro::Form::*which) const { return page->form()->*which; }

    // A keyboard of `count` macro heads, only `used` in use, and the page on it; the log starts empty.
    bool start(const QList<Used>& used, int count = 16, const QList<QPair<int, QByteArray>>& freeNames = {})
    {
        sim::KeyboardConfig config;
        config.macros = uint8_t(count);
        config.sampleKeyFunctions = false;
        f = std::make_unique<KeyboardFixture>(config);
        f->kb->edit([&](sim::FirmwareState& s) {
            for (int i = 0; i < int(s.macroHeads.size()); ++i) {
                s.macroHeads[size_t(i)] = head(i, false, 0, {});
                s.macroFrames[size_t(i)].clear();
            }
            for (const Used& u : used) {
                s.macroHeads[size_t(u.slot)] = head(u.slot, true, u.frames.size() / 10, u.name);
                s.macroFrames[size_t(u.slot)] = u.frames;
            }
            for (const auto& n : freeNames)
                s.macroHeads[size_t(n.first)] = head(n.first, false, 0, n.second);
        });
        if (!f->open() || !f->loadNow())
            return false;
        f->kb->clearLog();
        page = std::make_unique<Macro>(nullptr, 0);
        page->show();
        renamed = std::make_unique<QSignalSpy>(page.get(), &Macro::updateShortcutsComboboxSetItemText);
        page->setDevice(folder(), f->device);
        return true;
    }
    // The selected entry gets chips (status, code, delay).
    void addChips(const QList<int>& events)
    {
        for (int i = 0; i + 2 < events.size(); i += 3)
            page->createKey(events[i], uint(events[i + 2]), 1, 0, uint16_t(events[i + 1]));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_app.copyFiles(QFINDTESTDATA("../appdir/config"), QStringLiteral("config")));
        QVERIFY(m_app.copyFiles(QFINDTESTDATA("../appdir/images"), QStringLiteral("images")));
    }
    void init() { boxes = std::make_unique<MessageBoxRecorder>(); }
    void cleanup()
    {
        renamed.reset();
        page.reset();
        f.reset();
        sim::reset();
        boxes.reset();
        QDir(folder()).removeRecursively();
    }

    // One entry per used head in table order, the first selected; a head whose name is empty or
    // repeats a listed one is renamed as an added macro would be, on the keyboard and in the relays.
    void listsUsedHeads_data()
    {
        QTest::addColumn<QList<int>>("positions");
        QTest::addColumn<QStringList>("heads");
        QTest::addColumn<QList<int>>("frames");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("rewritten");
        QTest::newRow("slots 0, 3, 7") << QList<int>{0, 3, 7} << QStringList{"a", "b", "c"} << QList<int>{0, 2, 0}
                                       << QStringList{"a", "b", "c"} << QStringList{};
        QTest::newRow("empty name") << QList<int>{1, 2} << QStringList{"x", ""} << QList<int>{0, 0}
                                    << QStringList{"x", "Macro2"} << QStringList{"Macro2"};
        QTest::newRow("repeated name") << QList<int>{1, 4} << QStringList{"abc", "abc"} << QList<int>{0, 0}
                                       << QStringList{"abc", "Macro4"} << QStringList{"Macro4"};
        QTest::newRow("generated name taken") << QList<int>{1, 4, 6} << QStringList{"abc", "abc", "Macro4"}
                                              << QList<int>{0, 0, 0} << QStringList{"abc", "Macro0", "Macro4"}
                                              << QStringList{"Macro0"};
        QTest::newRow("no used head") << QList<int>{} << QStringList{} << QList<int>{} << QStringList{}
                                      << QStringList{};
    }
    void listsUsedHeads()
    {
        QFETCH(QList<int>, positions);
        QFETCH(QStringList, heads);
        QFETCH(QList<int>, frames);
        QFETCH(QStringList, entries);
        QFETCH(QStringList, rewritten);
        QList<Used> used;
        for (int i = 0; i < positions.size(); ++i)
            used << Used{positions[i], heads[i].toLatin1(), QByteArray(frames[i] * 10, '\0')};
        QVERIFY(start(used));
        QCOMPARE(names(*page), entries);
        QCOMPARE(selectorTexts(*page), entries);
        QVERIFY(page->isListReady());
        QStringList written, relayed;
        for (const QByteArray& r : sentReports(f->kb, 0x50, 0x02))
            written << headName(r);
        QCOMPARE(written, rewritten);
        for (const QList<QVariant>& relay : *renamed) {
            QCOMPARE(relay[1].toString(), entries.value(relay[0].toInt()));
            relayed << relay[1].toString();
        }
        QCOMPARE(relayed, rewritten);
        for (int i = 0; i < entries.size(); ++i) {
            QCOMPARE(item(i)->index(), positions[i]);
            QCOMPARE(item(i)->isSelected(), i == 0);
            QCOMPARE(item(i)->isLoadDataHidden(), frames[i] == 0);
            QCOMPARE(QString(f->device->m_pKMs[size_t(positions[i])].name()), entries[i]);
        }
        if (entries.isEmpty()) {
            QVERIFY(!button(&Macro::Form::recorderButton)->isEnabled());
            QVERIFY(!button(&Macro::Form::downloadButton)->isEnabled());
            QVERIFY(button(&Macro::Form::itemAddButton)->isEnabled());
            QVERIFY(button(&Macro::Form::itemOtherButton)->isEnabled());
            QVERIFY(button(&Macro::Form::itemImportButton)->isEnabled());
        }
    }

    // Add takes the first free head and names it "Macro<slot>", or Macro0, Macro1... when another head
    // carries that name; a keyboard without a free head adds nothing.
    void addTakesFirstFreeHead_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("freeNames"); // heads 3, 4, ... named, not used
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("name");
        QTest::newRow("first free") << 16 << QStringList{} << 1 << QString("Macro1");
        QTest::newRow("Macro1 taken") << 16 << QStringList{"Macro1"} << 1 << QString("Macro0");
        QTest::newRow("Macro1 and Macro0 taken") << 16 << QStringList{"Macro1", "Macro0"} << 1 << QString("Macro2");
        QTest::newRow("every head used") << 3 << QStringList{} << -1 << QString();
        QTest::newRow("no heads") << 0 << QStringList{} << -1 << QString();
    }
    void addTakesFirstFreeHead()
    {
        QFETCH(int, count);
        QFETCH(QStringList, freeNames);
        QFETCH(int, slot);
        QFETCH(QString, name);
        QList<Used> used;
        for (int s : {0, 2})
            if (s < count)
                used << Used{s, "u" + QByteArray::number(s), {}};
        if (count == 3)
            used << Used{1, "u1", {}};
        QList<QPair<int, QByteArray>> named;
        for (int i = 0; i < freeNames.size(); ++i)
            named << qMakePair(3 + i, freeNames[i].toLatin1());
        QVERIFY(start(used, count, named));
        QSignalSpy added(page.get(), &Macro::updateShortcutsComboboxAddItem);
        const int before = page->items().size();
        page->addItemSlot();
        if (slot < 0) {
            QCOMPARE(page->items().size(), before);
            QCOMPARE(sentCount(f->kb), 0);
            QVERIFY(!button(&Macro::Form::itemAddButton)->isEnabled());
            QVERIFY(!button(&Macro::Form::itemImportButton)->isEnabled());
            return;
        }
        MacroItem* added0 = page->items().last();
        QCOMPARE(added0->index(), slot);
        QCOMPARE(added0->name(), name);
        QVERIFY(added0->isSelected() && added0->hasSavedMark() && !added0->isSaved());
        QCOMPARE(page->nameSelector()->currentText(), name);
        QCOMPARE(added.size(), 1);
        QCOMPARE(added[0][0].toString(), name);
        const QList<QByteArray> heads = sentReports(f->kb, 0x50, 0x02);
        QCOMPARE(heads.size(), 2);
        QCOMPARE(heads[0].mid(8, 4), head(slot, true, 0, {}).left(4));
        QCOMPARE(headName(heads[1]), name);
        const QList<QByteArray> selects = sentReports(f->kb, 0x50, 0x03);
        QCOMPARE(selects.size(), 1);
        QCOMPARE(int(selects[0][8]), slot);
        QVERIFY(f->kb->state().macroHeads[size_t(slot)][0] & 0x40);
    }

    // The 16th entry disables add and import; deleting one of 16 enables them again; deleting the only
    // entry leaves download, REC, export, delete and rename disabled.
    void sixteenEntryCap()
    {
        QVERIFY(start({}, 32));
        for (int i = 1; i <= Macro::MaxItems; ++i) {
            page->addItemSlot();
            QCOMPARE(page->items().size(), i);
            QCOMPARE(button(&Macro::Form::itemAddButton)->isEnabled(), i < Macro::MaxItems);
            QCOMPARE(button(&Macro::Form::itemImportButton)->isEnabled(), i < Macro::MaxItems);
        }
        QVERIFY(button(&Macro::Form::itemAddButton)->styleSheet().contains("item-add-ban.svg"));
        page->deleteItemSlot();
        QCOMPARE(page->items().size(), Macro::MaxItems - 1);
        QVERIFY(button(&Macro::Form::itemAddButton)->isEnabled());
        while (!page->items().isEmpty())
            page->deleteItemSlot();
        QCOMPARE(page->nameSelector()->count(), 0);
        for (auto which : {&Macro::Form::downloadButton, &Macro::Form::recorderButton, &Macro::Form::itemExportButton,
                           &Macro::Form::itemDelButton, &Macro::Form::itemPenButton})
            QVERIFY(!button(which)->isEnabled());
    }

    // Deleting the selector's current macro clears its head, removes its file (only its own: names
    // differ by case) and relays its index; the next entry becomes current.
    void deleteClearsHeadAndFile()
    {
        QVERIFY(start({{1, "abc", {}}, {4, "ABC", {}}}));
        QVERIFY(m_app.write("dev/item/abc.xml", "a") && m_app.write("dev/item/ABC.xml", "b"));
        QSignalSpy removed(page.get(), &Macro::updateShortcutsComboboxRemoveItem);
        page->setItemSelect(item(1));
        page->deleteItemSlot();
        QCOMPARE(names(*page), QStringList{"abc"});
        QCOMPARE(removed.size(), 1);
        QCOMPARE(removed[0][0].toInt(), 1);
        const QList<QByteArray> heads = sentReports(f->kb, 0x50, 0x02);
        QCOMPARE(heads.size(), 1);
        QCOMPARE(heads[0].mid(8, 24), head(4, false, 0, {}));
        QVERIFY(!QFile::exists(itemFile("ABC")));
        QVERIFY(QFile::exists(itemFile("abc")));
        QVERIFY(item(0)->isSelected());
    }

    // Load reads the macro's frames and draws one chip per 50 ms tick; the tick after the last chip
    // unlocks the page. A head without frames draws nothing and unlocks at the first tick.
    void loadDrawsOneChipPerTick_data()
    {
        QTest::addColumn<QByteArray>("frames");
        QTest::addColumn<QList<int>>("events");
        QTest::newRow("Ctrl+C") << frame(10, 0x01) + frame(40, 0x01, 0x06) + frame(40, 0x00)
                                << QList<int>{1, 0xE0, 10, 1, 0x06, 40, 0, 0xE0, 40, 0, 0x06, 0};
        QTest::newRow("no frames") << QByteArray() << QList<int>{};
    }
    void loadDrawsOneChipPerTick()
    {
        QFETCH(QByteArray, frames);
        QFETCH(QList<int>, events);
        QVERIFY(start({{0, "other", {}}, {2, "load", frames}}));
        MacroItem* entry = item(1);
        QCOMPARE(entry->isLoadDataHidden(), frames.isEmpty());
        // After each tick: the chips drawn so far and whether the page is still locked.
        QList<int> drawn;
        QList<bool> locked;
        connect(const_cast<QTimer*>(&page->deviceDrawTimer()), &QTimer::timeout, page.get(), [&] {
            drawn << entry->keyLayout()->keys.size();
            locked << (!item(0)->isEnabled() && !page->nameSelector()->isEnabled()
                       && !button(&Macro::Form::recorderButton)->isEnabled());
        });
        page->loadDataSlot(entry);
        QVERIFY(entry->isSelected() && entry->isLoadDataHidden());
        QCOMPARE(sentReports(f->kb, 0x50, 0x03).value(0).at(8), char(2));
        QCOMPARE(sentReports(f->kb, 0x50, 0x30).isEmpty(), frames.isEmpty());
        QCOMPARE(page->deviceDrawTimer().interval(), Macro::DrawIntervalMs);
        const int n = events.size() / 3;
        QTRY_VERIFY(!page->deviceDrawTimer().isActive());
        QList<int> oneByOne;
        for (int t = 1; t <= n; ++t)
            oneByOne << t;
        QCOMPARE(drawn, oneByOne << n);
        QCOMPARE(locked, QVector<bool>(n, true).toList() << false);
        QCOMPARE(triples(entry->keyLayout()->keys), events);
        QVERIFY(entry->isEnabled() && item(0)->isEnabled() && page->nameSelector()->isEnabled());
        QVERIFY(button(&Macro::Form::recorderButton)->isEnabled());
        QCOMPARE(button(&Macro::Form::downloadButton)->isEnabled(), n > 0);
        QVERIFY(page->pendingEvents().isEmpty() && !page->drawTarget());
    }

    // The download selects the slot and sends the frames, five per packet, and a closing packet with
    // the count; the file is saved and the entry marked saved.
    void downloadSendsFramesAndSaves()
    {
        QVERIFY(start({{3, "dl", {}}}));
        addChips({1, 0x04, 0, 0, 0x04, 50});
        page->downloadItemDataSlot();
        const QByteArray frames = frame(0, 0, 0x04) + frame(50, 0);
        for (const QByteArray& r : sentReports(f->kb, 0x50, 0x03))
            QCOMPARE(r.mid(2, 7), QByteArray::fromHex("01000000000003"));
        const QList<QByteArray> packets = sentReports(f->kb, 0x50, 0x40);
        QCOMPARE(packets.size(), 2);
        QCOMPARE(packets[0].mid(2, 4), QByteArray::fromHex("14000000"));
        QCOMPARE(packets[0].mid(8, 20), frames);
        QCOMPARE(packets[1].mid(2, 4), QByteArray::fromHex("00000200"));
        QCOMPARE(f->kb->state().macroFrames[3], frames);
        QCOMPARE((uint8_t(f->kb->state().macroHeads[3][0]) >> 7) | (uint8_t(f->kb->state().macroHeads[3][1]) << 1), 2);
        QVector<const DataKey*> events;
        for (const Key* k : item(0)->keyLayout()->keys)
            events << k->record();
        QCOMPARE(readFile(itemFile("dl")), macrofile::fileBytes(3, events));
        QVERIFY(item(0)->isSaved() && !item(0)->isSelected());
        QCOMPARE(page->nameSelector()->currentIndex(), -1);
        QVERIFY(!button(&Macro::Form::downloadButton)->isEnabled());
    }

    // A macro of more than 512 frames is refused before anything is sent, with a warning naming the
    // count and the limit; a closing packet the keyboard refuses fails the download. Either way the
    // file stays as it was and the entry selected.
    void failedDownloadKeepsFile_data()
    {
        QTest::addColumn<int>("events");
        QTest::addColumn<bool>("closingRefused");
        QTest::newRow("513 frames") << 513 << false;
        QTest::newRow("closing packet refused") << 2 << true;
    }
    void failedDownloadKeepsFile()
    {
        QFETCH(int, events);
        QFETCH(bool, closingRefused);
        QVERIFY(start({{3, "dl", {}}}));
        QVERIFY(m_app.write("dev/item/dl.xml", "old"));
        for (int i = 0; i < events; ++i)
            page->createKey(1 - i % 2, 1, 1, 0, 0x04);
        if (closingRefused)
            f->kb->answerClosingStatus(5, 1);
        page->downloadItemDataSlot();
        QCOMPARE(readFile(itemFile("dl")), QByteArray("old"));
        QVERIFY(item(0)->isSelected() && !item(0)->hasSavedMark());
        if (closingRefused) {
            QVERIFY(boxes->boxes().isEmpty());
            QCOMPARE(sentReports(f->kb, 0x50, 0x40).size(), 2);
            return;
        }
        QCOMPARE(sentCount(f->kb), 0);
        QCOMPARE(boxes->boxes().size(), 1);
        QCOMPARE(boxes->boxes()[0].kind, MessageBoxRequest::Warning);
        QVERIFY(boxes->boxes()[0].text.contains("513") && boxes->boxes()[0].text.contains("512"));
    }

    // Names differ by case only: renaming "ABC" listed after "abc" renames that entry, its selector
    // entry, its head and its file, and relays its own index; a name in use is refused.
    void renameMatchesExactly()
    {
        QVERIFY(start({{1, "abc", {}}, {4, "ABC", {}}}));
        QVERIFY(m_app.write("dev/item/abc.xml", "a") && m_app.write("dev/item/ABC.xml", "b"));
        QLineEdit* edit = page->renameEdit();
        page->setItemSelect(item(1));
        page->alterButtonSlot();
        QVERIFY(edit->isVisible() && !page->nameSelector()->isVisible());
        edit->clear();
        QTest::keyClicks(edit, "X-YZ"); // "-" cannot be typed
        QCOMPARE(edit->text(), QStringLiteral("XYZ"));
        page->alterEditFinishedSlot();
        QCOMPARE(names(*page), (QStringList{"abc", "XYZ"}));
        QCOMPARE(selectorTexts(*page), (QStringList{"abc", "XYZ"}));
        QCOMPARE(renamed->size(), 1);
        QCOMPARE(renamed->at(0).at(0).toInt(), 1);
        QCOMPARE(headName(sentReports(f->kb, 0x50, 0x02).value(0)), QStringLiteral("XYZ"));
        QCOMPARE(readFile(itemFile("XYZ")), QByteArray("b"));
        QCOMPARE(readFile(itemFile("abc")), QByteArray("a"));
        QVERIFY(!edit->isVisible());

        f->kb->clearLog();
        page->alterButtonSlot();
        edit->setText("abcdefghijklm");
        QCOMPARE(edit->text(), QStringLiteral("abcdefghijkl"));
        edit->setText("abc");
        page->alterEditFinishedSlot();
        QCOMPARE(names(*page), (QStringList{"abc", "XYZ"}));
        QCOMPARE(sentCount(f->kb), 0);

        page->itemEditingFinishedTextSlot("ABC", "no");
        page->itemEditingFinishedTextSlot("abc", "def");
        QCOMPARE(selectorTexts(*page), (QStringList{"def", "XYZ"}));
    }

    // A keyboard name that is no file name ("../shortcuts") never reaches the file system: the save
    // fails and the entry stays unsaved, the rename leaves the per-device files alone.
    void unsafeNamesNeverBecomeFiles()
    {
        QVERIFY(start({{0, "../shortcuts", {}}}));
        QVERIFY(m_app.write("dev/shortcuts.xml", "keep"));
        addChips({1, 0x04, 0, 0, 0x04, 20});
        page->downloadItemDataSlot();
        QVERIFY(!sentReports(f->kb, 0x50, 0x40).isEmpty());
        QVERIFY(!item(0)->isSaved());
        page->setItemSelect(item(0));
        page->alterButtonSlot();
        page->renameEdit()->setText("safe");
        page->alterEditFinishedSlot();
        QCOMPARE(item(0)->name(), QStringLiteral("safe"));
        QCOMPARE(readFile(folder() + "shortcuts.xml"), QByteArray("keep"));
        QVERIFY(!QFile::exists(itemFile("safe")));
    }

    // The default delay: up to 4 is kept but not applied; above, it replaces every non-zero delay;
    // above 65535 is refused; an empty edit shows "0", selected.
    void defaultDelay()
    {
        QVERIFY(start({{0, "d", {}}}));
        page->setItemSelect(item(0));
        QVERIFY(!page->form()->msecDelaysCheckBox->isEnabled() && !page->form()->msecDelaysCheckBox->isChecked());
        addChips({1, 0x04, 0, 1, 0x05, 30, 0, 0x04, 0, 0, 0x05, 50});
        page->setItemSelect(item(0));
        QVERIFY(page->form()->msecDelaysCheckBox->isEnabled());
        QLineEdit* edit = page->form()->msecLineEdit;
        edit->setText("4");
        QCOMPARE(page->defaultDelay(), 4u);
        QCOMPARE(triples(item(0)->keyLayout()->keys), (QList<int>{1, 4, 0, 1, 5, 30, 0, 4, 0, 0, 5, 50}));
        edit->setText("40");
        QCOMPARE(triples(item(0)->keyLayout()->keys), (QList<int>{1, 4, 0, 1, 5, 40, 0, 4, 0, 0, 5, 40}));
        edit->setText("70000");
        QCOMPARE(edit->text(), QStringLiteral("40"));
        QCOMPARE(page->defaultDelay(), 40u);
        edit->clear();
        QCOMPARE(edit->text(), QStringLiteral("0"));
        QCOMPARE(edit->selectedText(), QStringLiteral("0"));
    }

    // Import reads and checks the file first: a good one becomes a new macro, drawn, downloaded and
    // saved; one that does not parse, cannot be read or needs more than 512 frames adds nothing.
    void import_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<int>("chips");          // -1: nothing added
        QTest::addColumn<int>("frames");
        QTest::addColumn<bool>("box");
        QTest::newRow("two events") << QByteArray("<MACRO><ITEM id=\"-1\"><KEY0 status=\"1\" code=\"4\" type=\"1\" "
                                                  "stype=\"0\" delay=\"10\"/><KEY1 status=\"0\" code=\"4\" type=\"1\" "
                                                  "stype=\"0\" delay=\"10\"/></ITEM></MACRO>")
                                    << 2 << 2 << false;
        QTest::newRow("empty item") << QByteArray("<MACRO><ITEM id=\"3\"/></MACRO>") << 0 << 0 << false;
        QTest::newRow("not well-formed") << QByteArray("<MACRO><ITEM>") << -1 << 0 << false;
        QTest::newRow("no file") << QByteArray() << -1 << 0 << false;
        QTest::newRow("513 frames") << longMacroFile(513) << -1 << 0 << true;
    }
    void import()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, chips);
        QFETCH(int, frames);
        QFETCH(bool, box);
        QVERIFY(start({{0, "first", {}}}));
        const QString path = m_app.filePath("import.xml");
        QVERIFY(content.isNull() ? !QFile::exists(path) || QFile::remove(path) : m_app.write("import.xml", content));
        page->importItemSlot(path);
        QCOMPARE(boxes->boxes().size(), box ? 1 : 0);
        if (chips < 0) {
            QCOMPARE(page->items().size(), 1);
            QCOMPARE(sentCount(f->kb), 0);
            return;
        }
        QCOMPARE(page->items().size(), 2);
        MacroItem* entry = item(1);
        QCOMPARE(entry->name(), QStringLiteral("Macro1"));
        QTRY_VERIFY(!page->fileDrawTimer().isActive());
        QCOMPARE(entry->keyLayout()->keys.size(), chips);
        QTRY_VERIFY(entry->isSaved());
        QCOMPARE(sentReports(f->kb, 0x50, 0x40).last().mid(2, 4),
                 QByteArray::fromHex("0000") + char(frames) + char(0));
        QVERIFY(readFile(itemFile("Macro1")).contains("<ITEM id=\"1\""));
        QVERIFY(entry->isEnabled() && page->nameSelector()->isEnabled());
    }

    // Export writes the selected macro with id -1; without a selection nothing is written, and a
    // path that cannot be written leaves nothing behind.
    void exportWritesIdMinusOne()
    {
        QVERIFY(start({{5, "ex", {}}}));
        addChips({1, 0x04, 10});
        page->exportItemSlot(m_app.filePath("out.xml"));
        QVERIFY(readFile(m_app.filePath("out.xml")).contains("<ITEM id=\"-1\">"));
        QCOMPARE(item(0)->index(), 5);
        page->exportItemSlot(m_app.filePath("no/such/folder/out.xml"));
        QVERIFY(!QFile::exists(m_app.filePath("no/such/folder/out.xml")));
        item(0)->setSelected(false);
        page->exportItemSlot(m_app.filePath("none.xml"));
        QVERIFY(!QFile::exists(m_app.filePath("none.xml")));
    }

    // The folder load makes one entry per file, named by the file, and draws each file's events.
    void folderLoadOverThreeFiles()
    {
        QVERIFY(start({}));
        const QByteArray key = "<KEY0 status=\"1\" code=\"4\" type=\"1\" stype=\"0\" delay=\"5\"/>";
        const QByteArray up = "<KEY1 status=\"0\" code=\"4\" type=\"1\" stype=\"0\" delay=\"5\"/>";
        QVERIFY(m_app.write("dev/item/a.xml", "<MACRO><ITEM id=\"1\">" + key + "</ITEM></MACRO>"));
        QVERIFY(m_app.write("dev/item/b.xml", "<MACRO><ITEM id=\"2\"/></MACRO>"));
        QVERIFY(m_app.write("dev/item/c.v2.xml", "<MACRO><ITEM id=\"3\">" + key + up + "</ITEM></MACRO>"));
        page->readFileInfoData();
        QTRY_VERIFY_WITH_TIMEOUT(page->isListReady(), 5000);
        QCOMPARE(names(*page), (QStringList{"a", "b", "c"}));
        QCOMPARE(selectorTexts(*page), (QStringList{"a", "b", "c"}));
        QList<int> counts, ids;
        for (const MacroItem* i : page->items()) {
            counts << i->keyLayout()->keys.size();
            ids << i->index();
        }
        QCOMPARE(counts, (QList<int>{1, 0, 2}));
        QCOMPARE(ids, (QList<int>{1, 2, 3}));
        QVERIFY(item(0)->isSelected());
    }

    // Releasing the keyboard while a macro is drawn stops the draw: no tick reaches a freed entry,
    // nothing is left pending, and the next keyboard is listed afresh.
    void releaseStopsDraw()
    {
        QVERIFY(start({{2, "load", frame(10, 0, 0x04) + frame(10, 0) + frame(10, 0, 0x05) + frame(10, 0)}}));
        // Released by the first tick, right after it drew its chip.
        connect(const_cast<QTimer*>(&page->deviceDrawTimer()), &QTimer::timeout, page.get(), [this] {
            if (page->device())
                page->releaseDevice();
        });
        page->loadDataSlot(item(0));
        QTRY_VERIFY(!page->device());
        QVERIFY(!page->deviceDrawTimer().isActive() && page->pendingEvents().isEmpty() && !page->drawTarget());
        QVERIFY(page->items().isEmpty() && !page->device());
        QTest::qWait(150);
        page->setDevice(folder(), f->device);
        QCOMPARE(names(*page), QStringList{"load"});
        QVERIFY(page->isListReady());
    }
};

QTEST_MAIN(MacroPage)
#include "test_macropage.moc"
