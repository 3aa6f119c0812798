// The macro page against an emulated keyboard: the list built from the macro heads, add, delete and
// rename on the keyboard, a macro read and drawn, the download on the wire, the default delay, the
// files (save, export, import, the folder load) and releasing the keyboard mid-draw.
#include "keyboardfixture.h"
#include "fulldisk.h"
#include "messageboxrecorder.h"
#include "readerharness.h"
#include "wire.h"

#include "macro/key.h"
#include "macro/keptaside.h"
#include "macro/keylayout.h"
#include "macro/macro.h"
#include "macro/macroitem.h"
#include "platform/filesizelimit.h"
#include "setting/Language.h"
#include "widget/combobox.h"
#include "timescale.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray head(int slot, bool used, int frames, const QByteArray& name)
{
    const uint32_t word = uint32_t(slot & 0x3F) | (used ? 0x40u : 0u) | (uint32_t(frames) << 7);
    QByteArray h(24, '\0');
    for (int i = 0; i < 4; ++i)
        h[i] = char(word >> (8 * i));
    return h.replace(8, qMin(name.size(), 16), name.left(16));
}

QByteArray frame(uint16_t ms, uint8_t modifiers, uint8_t key = 0)
{
    const char f[10] = {char(ms & 0xFF), char(ms >> 8), char(modifiers), 0, char(key)};
    return QByteArray(f, 10);
}

QString headName(const QByteArray& record) // a macro head's name field
{
    return QString::fromLatin1(record.mid(8, 16)).section(QChar('\0'), 0, 0);
}

// An entry's events as (status, code, delay) triples.
QList<int> triples(const MacroItem* entry)
{
    QList<int> out;
    for (const Key* k : entry->keyLayout()->keys)
        out << k->status() << k->code() << int(k->getDelay());
    return out;
}

// A macro file of one ITEM: n events, key A down and up in turn, each `delay` ms after the one before.
QByteArray macroFile(int id, int n, int delay = 1)
{
    QString keys;
    for (int i = 0; i < n; ++i)
        keys += QString("<KEY%1 status=\"%2\" code=\"4\" type=\"1\" stype=\"0\" delay=\"%3\"/>")
                    .arg(i).arg(1 - i % 2).arg(delay);
    return QString("<MACRO><ITEM id=\"%1\">%2</ITEM></MACRO>").arg(id).arg(keys).toLatin1();
}

// A kept macro named for its slot ("Kept5": slot 5): key code down, and up upMs later ("~" after the name:
// 1 ms more).
keptaside::Entry keptEntry(const QString& word, uint8_t code = 4, int upMs = 30)
{
    QString name = word;
    const bool other = name.endsWith('~');
    name.remove('~');
    QVector<DataKey> events(2);
    for (int i = 0; i < 2; ++i) {
        events[i].status = 1 - i;
        events[i].code = code;
        events[i].type = 1;
        events[i].delay = uint16_t(i ? upMs + (other ? 1 : 0) : 0);
    }
    return keptaside::Entry{name.right(1).toInt(), name, events, true, false};
}

// The list's text at path with one more entry that does not read.
QByteArray withUnreadableEntry(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().replace("</KEPT>", "<MACRO slot=\"64\"/></KEPT>") : QByteArray();
}

// Counts the style changes a widget is sent: a sheet set on a frame reaches every widget inside it.
struct StyleChanges : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        count += e->type() == QEvent::StyleChange;
        return false;
    }
};

} // namespace

class MacroPage : public QObject {
    Q_OBJECT
    ReaderAppDir m_app;
    std::unique_ptr<KeyboardFixture> f;
    std::unique_ptr<Macro> page;
    std::unique_ptr<MessageBoxRecorder> boxes;
    QStringList boxTexts() const
    {
        QStringList out;
        for (const MessageBoxRequest& b : boxes->boxes())
            out << b.text;
        return out;
    }
    std::unique_ptr<QSignalSpy> renamed; // the page's rename relays since start()

    QString folder() const { return m_app.filePath(QStringLiteral("dev/")); }
    QString itemFile(const QString& name) const { return folder() + QStringLiteral("item/") + name + ".xml"; }
    MacroItem* item(int i) const { return page->items().value(i); }

    // The tool closed and started again: the page goes with what it held, and a new one is made.
    void reopen()
    {
        page = std::make_unique<Macro>(nullptr, 0);
        page->show();
        renamed = std::make_unique<QSignalSpy>(page.get(), &Macro::updateShortcutsComboboxSetItemText);
    }
    // Heads as "slot:name" (used; "*" after it: it holds `frames`) or "slot=name" (free, carrying a
    // name), the rest free and nameless; the page then lists the keyboard. The log starts empty.
    bool start(const QString& heads, int count = 16, const QByteArray& frames = {})
    {
        sim::KeyboardConfig config;
        config.macros = uint8_t(count);
        config.sampleKeyFunctions = false;
        f = std::make_unique<KeyboardFixture>(config);
        setHeads(heads, frames);
        if (!f->open() || !f->loadNow())
            return false;
        f->kb->clearLog();
        // The keyboard's folder, as the main window makes it when the keyboard comes: the page makes only
        // its macros' folder below it.
        if (!QDir().mkpath(folder()))
            return false;
        page = std::make_unique<Macro>(nullptr, 0);
        page->show();
        renamed = std::make_unique<QSignalSpy>(page.get(), &Macro::updateShortcutsComboboxSetItemText);
        page->setDevice(folder(), f->device);
        return true;
    }
    void setHeads(const QString& heads, const QByteArray& frames = {})
    {
        f->kb->edit([&](sim::FirmwareState& s) {
            for (size_t i = 0; i < s.macroHeads.size(); ++i)
                s.macroHeads[i] = head(int(i), false, 0, {});
            for (const QString& h : heads.split(' ', Qt::SkipEmptyParts)) {
                const int at = h.indexOf(QRegExp("[:=]")), slot = h.left(at).toInt();
                const QByteArray data = h.endsWith('*') ? frames : QByteArray();
                const QByteArray name = h.mid(at + 1).remove('*').toLatin1();
                s.macroHeads[size_t(slot)] = head(slot, h[at] == ':', data.size() / 10, name);
                s.macroFrames[size_t(slot)] = data;
            }
        });
    }
    // The keyboard leaves and comes back holding these heads (meanwhile runs while it is away); the page
    // lists it again.
    bool replug(const QString& heads, const std::function<void()>& meanwhile = {})
    {
        page->releaseDevice();
        if (meanwhile)
            meanwhile();
        setHeads(heads);
        if (!f->loadNow())
            return false;
        page->setDevice(folder(), f->device);
        return page->isListReady();
    }
    // The entries' names, and the selector's texts after "|" where they differ from them.
    QString listing() const
    {
        QStringList entries, selector;
        for (const MacroItem* i : page->items())
            entries << i->name();
        for (int i = 0; i < page->nameSelector()->count(); ++i)
            selector << page->nameSelector()->itemText(i);
        return entries.join(' ') + (selector == entries ? QString() : " | " + selector.join(' '));
    }
    QString enabled() const // the enabled controls
    {
        const Macro::Form* u = page->form();
        QStringList on;
        for (const QPushButton* b : {u->recorderButton, u->downloadButton, u->itemAddButton, u->itemPenButton,
                                     u->itemDelButton, u->itemOtherButton, u->itemExportButton, u->itemImportButton})
            if (b->isEnabled())
                on << b->objectName().remove("item").remove("Button").toLower();
        return on.join(' ');
    }
    void rename(int entry, const QString& name)
    {
        page->setItemSelect(item(entry));
        page->alterButtonSlot();
        page->renameEdit()->setText(name);
        page->alterEditFinishedSlot();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_app.copyFiles(QFINDTESTDATA("../appdir/config"), QStringLiteral("config")));
        QVERIFY(m_app.copyFiles(QFINDTESTDATA("../appdir/images"), QStringLiteral("images")));
        FileSizeLimit::failWritesInsteadOfSignal();
    }
    void init() { boxes = std::make_unique<MessageBoxRecorder>(); }
    void cleanup()
    {
        Device::watchOutsideStops(nullptr);
        QCoreApplication::processEvents(); // a box a test left queued goes to its own recorder
        page.reset();
        f.reset();
        sim::reset();
        boxes.reset();
        QDir(folder()).removeRecursively();
    }

    // One entry per used head, the first selected; an empty or repeated name is replaced as add names
    // (in the list only, relayed: listing writes nothing to the keyboard). Add takes the first free head
    // as "Macro<slot>", or Macro0, Macro1... when a head or an entry carries that; 16 entries disable add
    // and import; an empty list enables only these.
    void listAndAdd_data()
    {
        QTest::addColumn<QString>("heads");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("entries");
        QTest::addColumn<QString>("relays"); // index:name
        QTest::addColumn<QString>("added");  // slot:name
        QString fifteen;
        for (int i = 0; i < 15; ++i)
            fifteen += QString(" %1:u%1").arg(i);
        const QString names = QString(fifteen).remove(QRegExp("\\d+:")).trimmed();
        QTest::newRow("slots 0, 3, 7") << "0:a 3:b* 7:c" << 16 << "a b c" << "" << "1:Macro1";
        QTest::newRow("empty name") << "1:x 2:" << 16 << "x Macro2" << "1:Macro2" << "0:Macro0";
        QTest::newRow("repeated name") << "1:abc 4:abc" << 16 << "abc Macro4" << "1:Macro4" << "0:Macro0";
        QTest::newRow("name taken") << "1:abc 4:abc 6:Macro4" << 16 << "abc Macro0 Macro4" << "1:Macro0" << "0:Macro1";
        QTest::newRow("free heads' names") << "0:u0 2:u2 3=Macro1 4=Macro0" << 16 << "u0 u2" << "" << "1:Macro2";
        QTest::newRow("16th entry") << fifteen << 32 << names << "" << "15:Macro15";
        QTest::newRow("every head used") << "0:u0 1:u1 2:u2" << 3 << "u0 u1 u2" << "" << "";
        QTest::newRow("no used head") << "" << 16 << "" << "" << "0:Macro0";
        QTest::newRow("no heads") << "" << 0 << "" << "" << "";
    }
    void listAndAdd()
    {
        QFETCH(QString, heads);
        QFETCH(int, count);
        QFETCH(QString, entries);
        QFETCH(QString, relays);
        QFETCH(QString, added);
        QVERIFY(start(heads, count, QByteArray(20, '\0')));
        QCOMPARE(listing(), entries);
        QStringList relayed;
        for (const QList<QVariant>& r : *renamed)
            relayed << r[0].toString() + ':' + r[1].toString();
        QCOMPARE(relayed.join(' '), relays);
        QCOMPARE(sentCount(f->kb), 0);
        const QStringList used = heads.split(' ', Qt::SkipEmptyParts).filter(":");
        for (int i = 0; i < used.size(); ++i) { // slot, selection, load button, the keyboard's own name
            const int slot = used[i].section(':', 0, 0).toInt();
            QVERIFY(item(i)->index() == slot && item(i)->isSelected() == (i == 0));
            QCOMPARE(item(i)->isLoadDataHidden(), !used[i].endsWith('*'));
            QCOMPARE(headName(f->kb->state().macroHeads[size_t(slot)]), used[i].section(':', 1).remove('*'));
        }
        if (used.isEmpty())
            QCOMPARE(enabled(), QStringLiteral("add other import"));
        f->kb->clearLog();
        QSignalSpy addRelay(page.get(), &Macro::updateShortcutsComboboxAddItem);
        page->addItemSlot();
        if (added.isEmpty()) {
            QVERIFY(listing() == entries && sentCount(f->kb) == 0 && !enabled().contains(QRegExp("add|import")));
            return;
        }
        const int slot = added.section(':', 0, 0).toInt();
        const QString name = added.section(':', 1);
        MacroItem* entry = page->items().last();
        QVERIFY(entry->index() == slot && entry->name() == name && page->nameSelector()->currentText() == name);
        QVERIFY(entry->isSelected() && entry->hasSavedMark() && !entry->isSaved());
        QCOMPARE(addRelay, QList<QVariantList>{{name}});
        QCOMPARE(f->kb->state().macroHeads[size_t(slot)], head(slot, true, 0, name.toLatin1()));
        QCOMPARE(sentReports(f->kb, 0x50, 0x03).value(0).mid(8, 1), QByteArray(1, char(slot)));
        QCOMPARE(enabled().count(QRegExp("add|import")), page->items().size() < Macro::MaxItems ? 2 : 0);
        while (!page->items().isEmpty()) // the first delete of 16 enables add and import
            page->deleteItemSlot();
        QCOMPARE(enabled(), QStringLiteral("add other import"));
    }

    // Listing writes no name to the keyboard: a name the list gave reaches the keyboard only when the
    // user downloads or renames that macro. A download whose name write is refused sends no frame and
    // saves nothing.
    void listedNameReachesTheKeyboardOnlyByTheUser_data()
    {
        QTest::addColumn<QString>("heads");
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("action"); // download, rename, refused download
        QTest::addColumn<QString>("names");  // the keyboard's names afterwards, slot:name
        QTest::addColumn<int>("nameWrites");
        QTest::newRow("download, name given for an empty one") << "1:x 2:" << 1 << "download" << "1:x 2:Macro2" << 1;
        QTest::newRow("download, name given for a repeated one")
            << "1:abc 4:abc" << 1 << "download" << "1:abc 4:Macro4" << 1;
        QTest::newRow("download, the keyboard's own name") << "1:x 2:" << 0 << "download" << "1:x 2:" << 0;
        QTest::newRow("rename") << "1:abc 4:abc" << 1 << "rename" << "1:abc 4:New" << 1;
        QTest::newRow("name write refused") << "1:x 2:" << 1 << "refused download" << "1:x 2:" << 1;
    }
    void listedNameReachesTheKeyboardOnlyByTheUser()
    {
        QFETCH(QString, heads);
        QFETCH(int, entry);
        QFETCH(QString, action);
        QFETCH(QString, names);
        QFETCH(int, nameWrites);
        QVERIFY(start(heads));
        QCOMPARE(sentCount(f->kb), 0);
        if (action == "rename") {
            rename(entry, "New");
        } else {
            page->setItemSelect(item(entry));
            page->createKey(1, 0, 1, 0, 0x04);
            page->createKey(0, 50, 1, 0, 0x04);
            page->setItemSelect(item(entry));
            if (action.startsWith("refused"))
                f->kb->answerStatus(0x50, 0x02, 3, 1);
            page->downloadItemDataSlot();
        }
        QStringList now;
        for (const QString& h : names.split(' ')) {
            const int slot = h.section(':', 0, 0).toInt();
            now << QString::number(slot) + ':' + headName(f->kb->state().macroHeads[size_t(slot)]);
        }
        QCOMPARE(now.join(' '), names);
        QCOMPARE(sentReports(f->kb, 0x50, 0x02).size(), nameWrites);
        const bool framesSent = action == "download";
        QCOMPARE(sentReports(f->kb, 0x50, 0x40).isEmpty(), !framesSent);
        // Taken or not, the macro is kept in its file; what the keyboard did not take is told once.
        if (action != "rename")
            QVERIFY(QFile::exists(itemFile(item(entry)->name())));
        QTest::qWait(20);
        QCOMPARE(boxes->boxes().size(), int(action.startsWith("refused")));
    }

    // A rename or a delete touches only its own entry, selector text, head and file and relays its own
    // index, also where names differ by case only. Keyboard names holding "/", "\" or ":" never become
    // file names: the save fails (entry unsaved), rename and delete leave the files alone.
    void renameAndDeleteKeepToTheirOwnFiles()
    {
        QVERIFY(start("0:../shortcuts 1:abc 4:ABC 6:Abc 7:a:b 8:c\\d") && m_app.write("dev/shortcuts.xml", "keep"));
        for (const QString n : {"abc", "ABC", "Abc", "a:b", "c\\d"})
            QVERIFY(m_app.write("dev/item/" + n + ".xml", n.toLatin1()));
        rename(2, "XYZ");
        QCOMPARE(listing(), QStringLiteral("../shortcuts abc XYZ Abc a:b c\\d"));
        QCOMPARE(*renamed, (QList<QVariantList>{{2, "XYZ"}}));
        QCOMPARE(headName(f->kb->state().macroHeads[4]), QStringLiteral("XYZ"));
        const QByteArray files = readFile(itemFile("XYZ")) + readFile(itemFile("abc")) + readFile(itemFile("ABC"));
        QCOMPARE(files, QByteArray("ABCabc"));
        f->kb->clearLog();
        rename(2, "Abc"); // in use
        QVERIFY(listing() == "../shortcuts abc XYZ Abc a:b c\\d" && sentCount(f->kb) == 0);
        QSignalSpy removed(page.get(), &Macro::updateShortcutsComboboxRemoveItem);
        page->setItemSelect(item(3));
        page->deleteItemSlot();
        QCOMPARE(listing(), QStringLiteral("../shortcuts abc XYZ a:b c\\d"));
        QCOMPARE(removed, QList<QVariantList>{{3}});
        QCOMPARE(f->kb->state().macroHeads[6], head(6, false, 0, {}));
        QVERIFY(!QFile::exists(itemFile("Abc")) && QFile::exists(itemFile("abc")));
        page->setItemSelect(item(0)); // "../shortcuts"
        page->createKey(1, 0, 1, 0, 0x04);
        page->createKey(0, 20, 1, 0, 0x04);
        page->downloadItemDataSlot();
        QVERIFY(!sentReports(f->kb, 0x50, 0x40).isEmpty() && item(0)->isSaved()); // held by the keyboard, in no file
        rename(3, "safe"); // "a:b"
        page->setItemSelect(item(4)); // "c\\d"
        page->deleteItemSlot();
        const QByteArray kept = readFile(itemFile("a:b")) + readFile(itemFile("c\\d")) + readFile(itemFile("safe"));
        QCOMPARE(readFile(folder() + "shortcuts.xml") + kept, QByteArray("keepa:bc\\d"));
        page->itemEditingFinishedTextSlot("ABC", "no");
        page->itemEditingFinishedTextSlot("abc", "def");
        QCOMPARE(listing(), QStringLiteral("../shortcuts abc XYZ safe | ../shortcuts def XYZ safe"));
    }

    // Load reads the macro's frames and draws one chip per 50 ms tick; the tick after the last chip
    // unlocks the page. A head without frames draws nothing and unlocks at the first tick. A default
    // delay up to 4 is kept but not applied; above, it replaces every non-zero delay; above 65535 it
    // is refused; an emptied edit shows "0", selected.
    void loadDrawsChipsThenDefaultDelay_data()
    {
        QTest::addColumn<QByteArray>("frames");
        QTest::addColumn<QList<int>>("events");
        QTest::addColumn<QString>("ticks"); // after each tick: the chips drawn, "L" while the page is locked
        QTest::newRow("Ctrl+C") << frame(10, 0x01) + frame(40, 0x01, 0x06) + frame(40, 0x00)
                                << QList<int>{1, 0xE0, 10, 1, 0x06, 40, 0, 0xE0, 40, 0, 0x06, 0} << "1L 2L 3L 4L 4";
        QTest::newRow("no frames") << QByteArray() << QList<int>{} << "0";
    }
    void loadDrawsChipsThenDefaultDelay()
    {
        QFETCH(QByteArray, frames);
        QFETCH(QList<int>, events);
        QFETCH(QString, ticks);
        QVERIFY(start("0:other 2:load*", 16, frames));
        MacroItem* entry = item(1);
        QStringList drawn;
        int unsaved = 0; // ticks after which the entry is marked unsaved: the keyboard holds what it shows
        connect(&page->deviceDrawTimer(), &QTimer::timeout, page.get(), [&] {
            const bool locked = !item(0)->isEnabled() && !page->nameSelector()->isEnabled() && enabled().isEmpty();
            drawn << QString::number(entry->keyLayout()->keys.size()) + (locked ? "L" : "");
            unsaved += entry->hasSavedMark() && !entry->isSaved();
        });
        page->loadDataSlot(entry);
        QVERIFY(entry->isSelected() && entry->isLoadDataHidden());
        QCOMPARE(page->deviceDrawTimer().interval(), 50);
        QTRY_VERIFY_WITH_TIMEOUT(!page->deviceDrawTimer().isActive(), timescale::ms(10000));
        QCOMPARE(drawn.join(' '), ticks);
        QVERIFY(unsaved == 0 && (!entry->hasSavedMark() || entry->isSaved()));
        QCOMPARE(triples(entry), events);
        QVERIFY(entry->isEnabled() && item(0)->isEnabled() && page->nameSelector()->isEnabled());
        QCOMPARE(enabled().contains("download"), !events.isEmpty());
        QVERIFY(enabled().contains("recorder") && page->pendingEvents().isEmpty() && !page->drawTarget());
        if (events.isEmpty())
            return;
        QLineEdit* edit = page->form()->msecLineEdit;
        edit->setText("4");
        QCOMPARE(triples(entry), events);
        edit->setText("30");
        QCOMPARE(triples(entry), (QList<int>{1, 0xE0, 30, 1, 0x06, 30, 0, 0xE0, 30, 0, 0x06, 0}));
        edit->setText("70000");
        QVERIFY(edit->text() == "30" && page->defaultDelay() == 30);
        edit->clear();
        QCOMPARE(edit->selectedText(), QStringLiteral("0"));
    }

    // The download sends the slot, the frames and a closing packet with their count, then saves. Over
    // 512 frames it is refused before anything is sent, with a warning, and the file stays as it was; a
    // closing packet refused, or answered by anything but its own acknowledgement (length 4, its frame
    // count), fails it: the head's frame count stays as it was, the entry stays selected and marked
    // unsaved, its file holds the macro and one box says the keyboard did not take it. Only a download
    // marks an entry saved: recorded over, a delay edited or frames deleted after it, it is unsaved.
    void download_data()
    {
        QTest::addColumn<int>("events");
        QTest::addColumn<QString>("closing"); // what the keyboard does to the closing packet's reply
        QTest::addColumn<QString>("after");   // done to the downloaded macro
        QTest::newRow("two frames") << 2 << "" << "";
        QTest::newRow("two frames, recorded over") << 2 << "" << "record";
        QTest::newRow("two frames, a delay edited") << 2 << "" << "delay";
        QTest::newRow("two frames, a delay edited and set back") << 2 << "" << "delay set back";
        QTest::newRow("two frames, deleted") << 2 << "" << "delete";
        QTest::newRow("513 frames") << 513 << "" << "";
        QTest::newRow("closing packet refused") << 2 << "refused" << "";
        QTest::newRow("closing reply without length") << 2 << "length 0" << "";
        QTest::newRow("closing reply of a frame packet") << 2 << "length 20" << "";
        QTest::newRow("closing reply for other frames") << 2 << "frame 1" << "";
    }
    void download()
    {
        QFETCH(int, events);
        QFETCH(QString, closing);
        QFETCH(QString, after);
        QVERIFY(start("3:dl") && m_app.write("dev/item/dl.xml", "old"));
        for (int i = 0; i < events; ++i)
            page->createKey(1 - i % 2, i ? 50 : 0, 1, 0, 0x04);
        page->setItemSelect(item(0)); // enables download
        const int value = closing.section(' ', 1).toInt();
        if (closing == "refused")
            f->kb->answerClosingStatus(5, 1);
        else if (!closing.isEmpty()) // the status stays 0: only the acknowledgement itself is spoilt
            f->kb->addBehaviour({sim::Behaviour::Patch, 0x50, 0x40, 1, 0, closing.startsWith("length") ? 2 : 4,
                                 QByteArray(1, char(value)), true});
        StyleChanges chip; // the entry's saved mark is drawn on its frame alone, not on every chip in it
        item(0)->keyLayout()->keys.first()->installEventFilter(&chip);
        page->downloadItemDataSlot();
        QCOMPARE(chip.count, 0);
        const bool saved = events <= 512 && closing.isEmpty();
        QCOMPARE(f->device->m_pKMs[3].frameCount(), saved ? 2 : 0); // a failed write keeps the old count
        QVERIFY(item(0)->hasSavedMark() && item(0)->isSaved() == saved); // made unsaved by the chips added
        QVERIFY(item(0)->isSelected() != saved);
        QCOMPARE(page->nameSelector()->currentIndex(), saved ? -1 : 0);
        QCOMPARE(enabled().contains("download"), !saved);
        QCOMPARE(Macro::writeItemXml(item(0), m_app.filePath("now.xml")), 0); // what a save would write
        QCOMPARE(readFile(itemFile("dl")), events <= 512 ? readFile(m_app.filePath("now.xml")) : QByteArray("old"));
        QCOMPARE(boxes->boxes().size(), int(events > 512));
        QTest::qWait(20);
        QCOMPARE(boxes->boxes().size(), int(events > 512 || !saved));
        if (events > 512) {
            const MessageBoxRequest box = boxes->boxes()[0];
            QVERIFY(box.kind == MessageBoxRequest::Warning && box.text.contains("513") && box.text.contains("512"));
            QCOMPARE(sentCount(f->kb), 0);
            return;
        }
        QCOMPARE(sentReports(f->kb, 0x50, 0x03).value(0).mid(2, 7), QByteArray::fromHex("01000000000003"));
        const QList<QByteArray> packets = sentReports(f->kb, 0x50, 0x40); // 20 bytes of frames, then the count
        QCOMPARE(packets.size(), 2);
        QCOMPARE(packets[0].mid(2, 26), QByteArray::fromHex("140000000000") + frame(0, 0, 4) + frame(50, 0));
        QCOMPARE(packets[1].mid(2, 4), QByteArray::fromHex("00000200"));
        if (after.isEmpty())
            return;
        page->setItemSelect(item(0));
        KeyLayout* timeline = item(0)->keyLayout();
        if (after == "record") {
            boxes->script(QMessageBox::Yes); // its frames recorded over
            page->setRecording(true);
            page->createKey(1, 0, 1, 0, 0x05);
            page->createKey(0, 20, 1, 0, 0x05);
            page->setRecording(false);
        } else if (after.startsWith("delay")) {
            if (after == "delay set back") { // a zero put before it and taken away: the keyboard's delay throughout
                timeline->keys[1]->delayEdit()->setText("050");
                timeline->keys[1]->delayEdit()->setText("50");
            } else {
                timeline->keys[1]->delayEdit()->setText("60");
            }
        } else {
            timeline->deleteDoubleKey(timeline->keys[0]);
        }
        QVERIFY(item(0)->hasSavedMark() && item(0)->isSaved() == (after == "delay set back"));
    }

    // Import reads and checks the file first: a good one becomes a new macro, drawn, downloaded and
    // saved; one that does not parse, cannot be read or needs more than 512 frames adds nothing.
    void import_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<int>("chips");          // -1: nothing added
        QTest::newRow("two events") << macroFile(-1, 2, 10) << 2;
        QTest::newRow("empty item") << macroFile(3, 0) << 0;
        QTest::newRow("not well-formed") << QByteArray("<MACRO><ITEM>") << -1;
        QTest::newRow("no file") << QByteArray() << -1;
        QTest::newRow("513 frames") << macroFile(0, 513) << -1;
    }
    void import()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, chips);
        QVERIFY(start("0:first") && m_app.put("import.xml", content));
        page->importItemSlot(m_app.filePath("import.xml"));
        QCOMPARE(boxes->boxes().size(), int(QTest::currentDataTag() == QByteArray("513 frames")));
        if (chips < 0) {
            QVERIFY(listing() == "first" && sentCount(f->kb) == 0);
            return;
        }
        QCOMPARE(listing(), QStringLiteral("first Macro1"));
        QTRY_VERIFY_WITH_TIMEOUT(item(1)->isSaved() && QFile::exists(itemFile("Macro1")), timescale::ms(10000));
        QCOMPARE(item(1)->keyLayout()->keys.size(), chips);
        QCOMPARE(sentReports(f->kb, 0x50, 0x40).last().mid(2, 4), QByteArray::fromHex("0000") + char(chips) + char(0));
        QVERIFY(item(1)->isEnabled() && page->nameSelector()->isEnabled());
    }

    // The folder load makes one entry per file, named by the file up to its first dot, with the file's
    // id and events. Export writes the selected macro with id -1 and keeps its slot; without a selection
    // nothing is written; a path that cannot be written is logged and leaves nothing behind.
    void folderLoadAndExport()
    {
        QVERIFY(start(""));
        QVERIFY(m_app.write("dev/item/a.xml", macroFile(1, 1, 5)) && m_app.write("dev/item/b.xml", macroFile(2, 0))
                && m_app.write("dev/item/c.v2.xml", macroFile(3, 2, 5)));
        page->readFileInfoData();
        QTRY_VERIFY_WITH_TIMEOUT(page->isListReady(), timescale::ms(10000));
        QCOMPARE(listing(), QStringLiteral("a b c"));
        QList<int> found; // id and chips of each entry
        for (const MacroItem* i : page->items())
            found << i->index() << i->keyLayout()->keys.size();
        QCOMPARE(found, (QList<int>{1, 1, 2, 0, 3, 2}));
        QVERIFY(item(0)->isSelected());

        page->exportItemSlot(m_app.filePath("out.xml"));
        QVERIFY(readFile(m_app.filePath("out.xml")).contains("<ITEM id=\"-1\">") && item(0)->index() == 1);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("export failed"));
        page->exportItemSlot(m_app.filePath("no/such/folder/out.xml"));
        QVERIFY(!QFile::exists(m_app.filePath("no/such/folder/out.xml")));
        item(0)->setSelected(false);
        page->exportItemSlot(m_app.filePath("none.xml"));
        QVERIFY(!QFile::exists(m_app.filePath("none.xml")));
    }

    // A macro recorded and not downloaded is kept aside when the keyboard leaves and comes back with
    // it: to its own slot when free, else to the first free head, also past 16 entries; under its name
    // unless a listed macro or another head has it, in which case it takes a new name and a file of
    // its own, and the other macro's file stays as it is. Without a free head it stays aside until one
    // is free. Each is told once, naming it.
    void keptMacroComesBackToAFreeHead_data()
    {
        QTest::addColumn<QString>("heads");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("name"); // the added macro renamed to this before it is recorded
        QTest::addColumn<QString>("back"); // the heads when the keyboard returns
        QTest::addColumn<QString>("returned"); // slot:name; empty: kept aside
        QTest::addColumn<QString>("told");
        QString sixteen;
        for (int i = 0; i < 16; ++i)
            sixteen += QString(" %1:u%1").arg(i);
        QTest::newRow("own slot free") << "0:a 2:b" << 16 << "" << "2:b" << "1:Macro1" << "\"Macro1\" had not been";
        QTest::newRow("own slot taken") << "0:a 2:b" << 16 << "" << "0:a 1:Other 2:b" << "3:Macro1"
                                        << "\"Macro1\" had not been";
        QTest::newRow("name of a listed macro") << "0:a 2:b" << 16 << "" << "2:b 5:Macro1" << "1:Macro0"
                                                << "\"Macro1\" is back on the page as \"Macro0\"";
        QTest::newRow("name of a free head") << "0:a 2:b" << 16 << "" << "2:b 5=Macro1" << "1:Macro0"
                                             << "\"Macro1\" is back on the page as \"Macro0\"";
        QTest::newRow("name a listed macro has on the list only") << "0:a 2:b" << 16 << "Macro5" << "2:b 5:"
                                                                  << "1:Macro0" << "as \"Macro0\"";
        QTest::newRow("no free head") << "0:a 1:b" << 3 << "" << "0:a 1:b 2:c" << "" << "no free macro slot";
        QTest::newRow("16 entries, free heads") << QString(sixteen).remove(" 15:u15") << 32 << "" << sixteen
                                                << "16:Macro15" << "\"Macro15\" had not been";
    }
    void keptMacroComesBackToAFreeHead()
    {
        QFETCH(QString, heads);
        QFETCH(int, count);
        QFETCH(QString, name);
        QFETCH(QString, back);
        QFETCH(QString, returned);
        QFETCH(QString, told);
        QVERIFY(start(heads, count));
        page->addItemSlot();
        if (!name.isEmpty())
            rename(page->items().size() - 1, name);
        name = page->items().last()->name();
        page->createKey(1, 0, 1, 0, 0x04);
        page->createKey(0, 30, 1, 0, 0x04);
        const QList<int> recorded = triples(page->items().last());
        // While the keyboard is away, Macro1.xml becomes the file of another macro of that name.
        QVERIFY(replug(back, [this] { QVERIFY(m_app.write("dev/item/Macro1.xml", "other's")); }));
        QTest::qWait(20);
        const QStringList texts = boxTexts();
        QVERIFY2(texts.size() == 1 && texts[0].contains(told), qPrintable(texts.join('\n')));
        MacroItem* entry = page->items().last();
        if (returned.isEmpty()) {
            QVERIFY(entry->keyLayout()->keys.isEmpty() && QFile::exists(itemFile(name)));
            QVERIFY(replug(back.section(' ', 0, -2))); // a head freed
            QTest::qWait(20);
            QCOMPARE(boxes->boxes().size(), 2);
            returned = QString::number(count - 1) + ':' + name;
            entry = page->items().last();
        }
        QCOMPARE(QString::number(entry->index()) + ':' + entry->name(), returned);
        QVERIFY(triples(entry) == recorded && !entry->isSaved() && page->nameSelector()->findText(entry->name()) >= 0);
        QVERIFY(QFile::exists(itemFile(entry->name()))); // under a new name, a file of its own
        page->setItemSelect(entry);
        page->downloadItemDataSlot();
        QVERIFY(entry->isSaved() && f->device->m_pKMs[size_t(entry->index())].frameCount() == 2);
        if (entry->name() != "Macro1")
            QCOMPARE(readFile(itemFile("Macro1")), QByteArray("other's"));
    }

    // A kept macro outlives the tool: with the page closed and made again while the keyboard is away, it
    // comes back as at a replug, told once, its file as it was; the list remembering it leaves only what
    // did not read, kept as .bad (if a copy can be made) and told. A box names the macro's file only
    // while that holds the macro as it is: an edit whose save failed at the unplug is said to be unsaved
    // and stays listed through a kill. Whatever stands at the list's place, the macro is remembered. A kill
    // after any file step of the unplug brings it back, and what killed saves left beside the list goes; a
    // close with the disk full tells only what no list standing holds as it is.
    void keptMacroOutlivesTheTool_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("back");
        QTest::addColumn<QString>("how");      // closed, damaged list, failed save
        QTest::addColumn<QString>("returned"); // slot:name; empty: kept aside
        QTest::addColumn<QString>("told");
        QTest::newRow("closed") << 16 << "0:a 2:b" << "closed" << "1:Macro1" << "\"Macro1\" had not been";
        QTest::newRow("closed, name taken meanwhile") << 16 << "2:b 5:Macro1" << "closed" << "1:Macro0"
                                                      << "\"Macro1\" is back on the page as \"Macro0\"";
        QTest::newRow("closed, remembered list damaged") << 16 << "0:a 2:b" << "damaged list" << "1:Macro1"
                                                         << "\"Macro1\" had not been";
        QTest::newRow("failed save, then unplug") << 3 << "0:a 1:c 2:b" << "failed save" << ""
                                                  << "It could not be saved to a file";
        const auto row = [](const char* name, const char* how, const char* returned = "1:Macro1") {
            QTest::newRow(name) << 16 << "0:a 2:b" << how << returned << "\"Macro1\" had not been";
        };
        row("closed, folder at the list's place", "folder");
        row("closed, FIFO at the list's place", "FIFO");
        row("closed, list of mode 000", "mode 000");
        row("failed save at the unplug, killed once back", "failed save, killed");
        row("failed save at the unplug, deleted once back, killed", "failed save, deleted", "");
        row("closed, a name with a slash in the list", "slash");
        row("closed, damaged list that cannot be copied", "no copy");
        row("closed, a control character in a name in the list", "control character");
        row("closed, the name \"..\" in the list", "hidden name");
        row("closed, killed once back", "killed");
        row("closed, downloaded once back, killed", "downloaded, killed");
        row("closed, edited once back, refused and its file unwritable, killed", "refused, killed");
        row("closed, renamed once back, killed", "renamed, killed");
        row("closed, its file saved after the list", "newer file");
        row("closed, both places hold it, the spare newer", "newer spare");
        row("closed, a link at the list's place", "link");
        row("closed, a link at the spare's place", "spare link");
        row("a link put at the list's place while the keyboard is away", "link put meanwhile");
        // Killed after step n of m of the unplug (each commit and removal, the macro's file's too).
        row("killed at the unplug, after the list's commit", "killed at 1 of 2");
        row("killed at the unplug, after its last step", "killed at 2 of 2");
        row("folder at the list's place, killed at the unplug after the spare's commit", "folder, killed at 1 of 2");
        row("folder at the list's place, killed at the unplug after its last step", "folder, killed at 2 of 2");
        row("an older spare list, killed at the unplug after the list's commit", "older spare, killed at 1 of 3");
        row("an older spare list, killed at the unplug after the spare's removal", "older spare, killed at 2 of 3");
        row("an older spare list, killed at the unplug after its last step", "older spare, killed at 3 of 3");
        row("killed at the unplug after the list's commit, a killed save's temporaries left", "temporaries, killed at 1 of 2");
        row("downloaded and edited, killed at the unplug after the list's commit: its file older", "edited, killed at 1 of 2");
        row("closed, back, then closed again with the disk full", "full disk at the close");
        row("closed, back and edited, then closed again with the disk full", "full disk at the close, edited");
        row("closed, back, then closed again with the disk full, both places holding it, the spare written last "
            "without its latest changes", "full disk at the close, both places, the spare older");
        row("closed, back, then closed again with the disk full, both places holding it, the spare written last "
            "as it is", "full disk at the close, both places, the list older");
        row("a link at the list's place, written to directly", "direct write");
    }
    void keptMacroOutlivesTheTool()
    {
        QFETCH(int, count);
        QFETCH(QString, back);
        QFETCH(QString, how);
        QFETCH(QString, returned);
        QFETCH(QString, told);
        if (how == "mode 000" && ::geteuid() == 0)
            QSKIP("root reads a file of mode 000 anyway");
        const QString list = folder() + "item/kept-aside.list";
        const QString spare = folder() + "item/kept-aside-spare.list";
        const bool failedSave = how.startsWith("failed save");
        const bool killed = how.endsWith("killed");
        const bool linked = how.contains("link");
        const bool linkedFirst = how == "link" || how == "spare link";
        const int stopAt = how.section("killed at ", 1).section(' ', 0, 0).toInt(); // 0: not killed at the unplug
        const int steps = how.section(" of ", 1).toInt();
        // What a link names: the user's, not ours.
        const QString target = m_app.filePath(how == "link put meanwhile" ? "other.xml" : "shortcuts.xml");
        // The places holding the list as regular files: a link's target is not the list.
        const auto remembered = [&] {
            QByteArray held;
            for (const QString& place : {list, spare})
                held += QFileInfo(place).isFile() && !QFileInfo(place).isSymLink() ? readFile(place) : QByteArray();
            return held;
        };
        QVERIFY(QDir().mkpath(folder() + "item"));
        if (how == "direct write") { // what no caller passes: the link and its target stay
            QVERIFY(m_app.write("other.xml", "keep-me") && QFile::link(m_app.filePath("other.xml"), list));
            QVERIFY(!keptaside::write(list, {}) && !keptaside::write(list, {{1, "Macro1", {}, false, false}}));
            QVERIFY(QFileInfo(list).isSymLink() && readFile(m_app.filePath("other.xml")) == "keep-me");
            return;
        }
        const struct timeval longAgo[2] = {{1000, 0}, {1000, 0}};
        QVERIFY(!how.startsWith("older spare") || (m_app.write("dev/item/kept-aside-spare.list", "<KEPT/>")
                                                   && ::utimes(QFile::encodeName(spare).constData(), longAgo) == 0));
        QVERIFY(!linked || m_app.write(QFileInfo(target).fileName(), "keep-me"));
        QVERIFY(!linkedFirst || QFile::link(target, how == "link" ? list : spare));
        QVERIFY(!how.startsWith("folder") || QDir().mkpath(list));
        QVERIFY(how != "FIFO" || ::mkfifo(QFile::encodeName(list).constData(), 0600) == 0);
        QVERIFY(how != "mode 000" || (m_app.write("dev/item/kept-aside.list", "<KEPT/>") && QFile::setPermissions(list, {})));
        QVERIFY(start("0:a 2:b", count));
        page->addItemSlot(); // Macro1, slot 1
        MacroItem* entry = item(2);
        page->createKey(1, 0, 1, 0, 0x04);
        page->createKey(0, 30, 1, 0, 0x04);
        if (failedSave || how.startsWith("edited")) { // downloaded and saved, then edited
            page->downloadItemDataSlot();
            page->setItemSelect(entry);
            page->createKey(1, 10, 1, 0, 0x05);
        }
        QList<int> recorded = triples(entry);
        {
            std::unique_ptr<FullDisk> disk(failedSave ? new FullDisk : nullptr);
            int asked = 0;
            if (stopAt)
                keptaside::setStepGate([&asked, stopAt] { return ++asked <= stopAt; });
            page->releaseDevice(); // the keyboard leaves
            keptaside::setStepGate(nullptr);
            QCOMPARE(asked, qMin(stopAt + 1, steps)); // each step reached, and no other
        }
        QTest::qWait(20);
        // Nothing could remember it: told so at once. A link is told once, at the first use of the list.
        QVERIFY(!failedSave || (boxes->boxes().size() == 2 && boxes->boxes()[1].text.contains("not after Tessark starts again")));
        QVERIFY(!linkedFirst || (boxes->boxes().size() == 1 && boxes->boxes()[0].text.contains("A link stands at")));
        boxes->clear();
        QByteArray file = readFile(itemFile("Macro1"));
        QByteArray damaged;
        QList<int> newer; // events saved elsewhere after the list: key B, down and up, 7 ms apart
        for (int i = 0; i < 4; ++i)
            newer << 1 - i % 2 << 5 << 7;
        QVERIFY(replug(back, [&] {
            if (how == "link put meanwhile") // the list already read in this run
                QVERIFY(QFile::remove(list) && QFile::link(target, list));
            else if (!failedSave)
                reopen();
            if (how.startsWith("temporaries")) { // left by saves killed before their commits
                for (const char* name : {"kept-aside.list.Ab12Cd", "kept-aside-spare.list.zZ9yY8", "kept-aside.list.Ab12Cd7",
                                         "kept-aside.list.Ab-2Cd"})
                    QVERIFY(m_app.write(QString("dev/item/") + name, "<KEPT><MACRO"));
                QVERIFY(m_app.write("other.xml", "keep-me")
                        && QFile::link(m_app.filePath("other.xml"), list + ".Lk12Mn"));
            }
            const struct timeval past[2] = {{1000, 0}, {1000, 0}};
            if (how == "newer file") { // its file saved with an edit, then killed before the list was
                QVERIFY(m_app.write("dev/item/Macro1.xml", macroFile(1, 4, 7).replace("\"4\"", "\"5\"")));
                QVERIFY(::utimes(QFile::encodeName(list).constData(), past) == 0);
                file = readFile(itemFile("Macro1"));
            }
            if (how == "newer spare") { // the spare written last, before the list was emptied
                QByteArray edited = readFile(list);
                edited.replace("code=\"4\"", "code=\"5\"").replace("delay=\"30\"", "delay=\"7\"");
                QVERIFY(m_app.write("dev/item/kept-aside-spare.list", edited.replace("delay=\"0\"", "delay=\"7\"")));
                QVERIFY(::utimes(QFile::encodeName(list).constData(), past) == 0);
                newer = newer.mid(0, 6);
            }
            if (!QStringList{"damaged list", "slash", "no copy", "control character", "hidden name"}.contains(how))
                return; // nothing there to damage
            QByteArray entry = "<MACRO slot=\"64\" name=\"x\" told=\"0\" noroom=\"0\"/>";
            if (how == "slash" || how == "control character" || how == "hidden name")
                entry = "<MACRO slot=\"5\" name=\"" + QByteArray(how == "slash" ? "../x" : how == "hidden name" ? ".." : "a\x01x")
                        + "\" told=\"0\" noroom=\"0\"/>";
            damaged = readFile(list).replace("</KEPT>", entry + "</KEPT>");
            QVERIFY(m_app.write("dev/item/kept-aside.list", damaged));
            for (int n = 0; how == "no copy" && n <= 999; ++n)
                QVERIFY(QDir().mkpath(list + ".bad" + (n ? "." + QString::number(n) : QString())));
        }));
        QTest::qWait(20);
        const QStringList texts = boxTexts();
        QVERIFY2(texts.filter(told).size() == 1 && !texts.join(' ').contains("Macro1.xml"), qPrintable(texts.join('\n')));
        QVERIFY2(how != "link put meanwhile" || texts[0].contains("A link stands at"), qPrintable(texts[0]));
        QCOMPARE(readFile(itemFile("Macro1")), file);
        QVERIFY(page->nameSelector()->findText("../x") < 0 && page->nameSelector()->findText("..") < 0);
        QVERIFY(!QFileInfo::exists(folder() + "item/...xml"));
        QCOMPARE(texts.size(), 1); // the list's notice goes in the same box
        if (how.startsWith("temporaries")) { // only our temporaries, matched exactly, and no link
            QVERIFY(!QFileInfo::exists(list + ".Ab12Cd") && !QFileInfo::exists(spare + ".zZ9yY8"));
            QVERIFY(QFileInfo::exists(list + ".Ab12Cd7") && QFileInfo::exists(list + ".Ab-2Cd"));
            QVERIFY(QFileInfo(list + ".Lk12Mn").isSymLink() && readFile(m_app.filePath("other.xml")) == "keep-me");
        }
        if (!damaged.isEmpty() && how != "no copy") {
            QVERIFY2(texts.filter(QDir::toNativeSeparators(list + ".bad")).size() == 1, qPrintable(texts.join('\n')));
            QVERIFY2(texts[0].contains("1 read and are kept; 1 did not read"), qPrintable(texts[0]));
            QCOMPARE(readFile(list + ".bad"), damaged);
        }
        if (how == "newer file" || how == "newer spare")
            recorded = newer;
        QVERIFY2(how != "no copy" || texts[0].contains("nor keep a copy of it"), qPrintable(texts[0]));
        if (how.startsWith("full disk at the close")) { // the list written at the replug holds it: not told lost
            const bool edited = how.endsWith("edited");
            if (edited) { // the list holds it as it was
                page->setItemSelect(page->items().last());
                page->createKey(1, 10, 1, 0, 0x05);
            }
            // The spare written last comes back at the next start, as it is or as it was; the macro's file is
            // older than both.
            const bool spareOlder = how.endsWith("the spare older");
            if (how.contains("both places")) {
                const QByteArray held = readFile(list);
                QByteArray other = held;
                other.replace("code=\"4\"", "code=\"5\"").replace("delay=\"30\"", "delay=\"7\"");
                other.replace("delay=\"0\"", "delay=\"7\"");
                const struct timeval fileTime[2] = {{1000, 0}, {1000, 0}}, listTime[2] = {{2000, 0}, {2000, 0}};
                QVERIFY(m_app.write("dev/item/kept-aside.list", spareOlder ? held : other)
                        && m_app.write("dev/item/kept-aside-spare.list", spareOlder ? other : held)
                        && ::utimes(QFile::encodeName(list).constData(), listTime) == 0
                        && ::utimes(QFile::encodeName(itemFile("Macro1")).constData(), fileTime) == 0);
                if (spareOlder)
                    recorded = newer.mid(0, 6);
            }
            {
                FullDisk disk;
                page->releaseDevice();
            }
            QTest::qWait(20);
            QVERIFY2(boxTexts().filter("not after Tessark starts again").isEmpty(), qPrintable(boxTexts().join('\n')));
            QCOMPARE(boxTexts().filter("as it was before its latest changes").size(), int(edited || spareOlder));
            const int before = boxes->boxes().size();
            reopen();
            page->setDevice(folder(), f->device);
            QTest::qWait(20);
            QCOMPARE(listing(), QStringLiteral("a Macro1 b"));
            QVERIFY(triples(item(1)) == recorded && !item(1)->isSaved() && boxes->boxes().size() == before);
            return;
        }
        if (how == "refused, killed" || how == "renamed, killed") { // the list follows the page's macro
            entry = page->items().last();
            page->setItemSelect(entry);
            if (how == "renamed, killed") {
                rename(page->items().size() - 1, "Renamed");
            } else {
                page->createKey(1, 5, 1, 0, 0x06);
                page->createKey(0, 5, 1, 0, 0x06);
                recorded = triples(entry);
                QVERIFY(QFile::remove(itemFile("Macro1")) && QDir().mkpath(itemFile("Macro1")));
                f->kb->answerClosingStatus(5, 1);
                page->downloadItemDataSlot();
            }
            reopen();
            page->setDevice(folder(), f->device);
            QTest::qWait(20);
            QCOMPARE(listing(), how == "renamed, killed" ? QStringLiteral("a Renamed b") : QStringLiteral("a Macro1 b"));
            for (MacroItem* i : page->items())
                entry = i->name() == "Renamed" || i->name() == "Macro1" ? i : entry;
            QVERIFY(triples(entry) == recorded && !entry->isSaved());
            return;
        }
        if (how == "downloaded, killed") { // the keyboard holds it: a kill does not bring it back unsent
            entry = page->items().last();
            QVERIFY(entry->name() == "Macro1");
            page->setItemSelect(entry);
            page->downloadItemDataSlot();
            QVERIFY(entry->isSaved() && !remembered().contains("Macro1"));
            reopen();
            page->setDevice(folder(), f->device);
            QTest::qWait(20);
            QVERIFY(listing() == "a Macro1 b" && !item(1)->isLoadDataHidden() && item(1)->keyLayout()->keys.isEmpty());
            QCOMPARE(boxes->boxes().size(), 1);
            return;
        }
        if (how == "failed save, deleted") { // the user's delete holds through a kill
            page->setItemSelect(page->items().last());
            page->deleteItemSlot();
            reopen();
            page->setDevice(folder(), f->device);
            QTest::qWait(20);
            QVERIFY(listing() == "a b" && boxes->boxes().size() == 1);
            return;
        }
        // Back on the page it stays in the list until the keyboard holds it; once told, it comes back at
        // the next start without a word; a kill brings back what the list holds.
        for (int start = 0; start < 2; ++start) {
            entry = page->items().last();
            for (MacroItem* i : page->items()) // listed in slot order after a kill
                entry = i->name() == returned.section(':', 1) ? i : entry;
            if (!returned.isEmpty()) {
                QCOMPARE(QString::number(entry->index()) + ':' + entry->name(), returned);
                QVERIFY(triples(entry) == recorded && !entry->isSaved());
                QVERIFY2(remembered().contains("name=\"" + entry->name().toLatin1() + '"'), remembered().constData());
            } else {
                QVERIFY(entry->keyLayout()->keys.isEmpty() && QFile::exists(list));
            }
            if (killed) {
                reopen();
                page->setDevice(folder(), f->device);
            } else {
                // A new run remembers nothing it told: the folder's new time stands for one.
                const struct timeval past[2] = {{1000, 0}, {1000 + start, 0}};
                QVERIFY(how != "folder" || ::utimes(QFile::encodeName(list).constData(), past) == 0);
                QVERIFY(replug(back, [this] { reopen(); }));
            }
            QTest::qWait(20);
            QCOMPARE(boxes->boxes().size(), texts.size());
        }
        QVERIFY(how != "no copy" || readFile(list) == damaged);
        QVERIFY(!linked || (QFileInfo(how == "spare link" ? spare : list).isSymLink() && readFile(target) == "keep-me"));
    }

    // What an earlier run kept aside is told in one box, naming a few of each kind and counting the rest
    // (the box's fit to the screen is the message box's own); a macro too long for the keyboard is not told to be downloaded. Those back take
    // the free heads first at the next start, and those without one are not told again.
    void aListWriteKeepsWhatAnotherCopyPutThere_data()
    {
        QTest::addColumn<QString>("seen");  // what this copy last read or wrote
        QTest::addColumn<QString>("ours");  // what it writes now
        QTest::addColumn<QString>("there"); // what the list holds now
        QTest::addColumn<QString>("added"); // what the write must keep besides ours
        QTest::newRow("another copy kept one aside since: kept") << "1a" << "1a 2c" << "1a 3b" << "3b";
        QTest::newRow("this copy removed one since: stays removed") << "1a 3b" << "" << "1a 3b" << "";
        QTest::newRow("never read here: all that stands is kept") << "" << "2c" << "1a 3b" << "1a 3b";
        QTest::newRow("same slot and name, other events: kept beside ours") << "1a" << "1a" << "1a 1a*" << "1a*";
        QTest::newRow("no list there: nothing") << "1a" << "2c" << "-" << "";
        QTest::newRow("never read here, held here and there: not doubled") << "" << "1a 2c" << "1a 3b" << "3b";
    }
    // Two copies of the tool keep macros aside in one folder: a write of the list keeps what the other
    // put there since this copy last read it, and leaves out what this copy removed meanwhile.
    void aListWriteKeepsWhatAnotherCopyPutThere()
    {
        QFETCH(QString, seen);
        QFETCH(QString, ours);
        QFETCH(QString, there);
        QFETCH(QString, added);
        // "1a": slot 1, name "a", one key press; a trailing "*": another key.
        const auto entries = [](const QString& text) {
            QList<keptaside::Entry> list;
            for (const QString& word : text.split(' ', Qt::SkipEmptyParts)) {
                keptaside::Entry e;
                e.slot = word.left(1).toInt();
                e.name = word.mid(1, 1);
                DataKey key;
                key.status = 1;
                key.code = word.endsWith('*') ? 5 : 4;
                key.type = 1;
                e.events.append(key);
                list.append(e);
            }
            return list;
        };
        const QString path = folder() + "item/kept-aside.list";
        QVERIFY(QDir().mkpath(folder() + "item"));
        QFile::remove(path);
        if (there != "-")
            QVERIFY(keptaside::write(path, entries(there), true));
        const QList<keptaside::Entry> got = keptaside::addedSince(path, entries(seen), entries(ours));
        const QList<keptaside::Entry> want = entries(added);
        QCOMPARE(got.size(), want.size());
        for (int i = 0; i < got.size(); ++i)
            QVERIFY2(keptaside::sameEntry(got[i], want[i]), qPrintable(got[i].name));
    }

    // Another copy of the tool, running from the same folder, keeps a macro aside while this page holds
    // its keyboard: the list this page writes as its keyboard leaves holds both.
    void aWriteAtTheUnplugKeepsAnotherCopysMacro()
    {
        const QString list = folder() + "item/kept-aside.list";
        QVERIFY(start("0:a 2:b", 16));
        page->addItemSlot(); // Macro1, slot 1
        page->createKey(1, 0, 1, 0, 0x04);
        page->createKey(0, 30, 1, 0, 0x04);
        DataKey key;
        key.status = 1;
        key.code = 5;
        key.type = 1;
        QVERIFY(QDir().mkpath(folder() + "item"));
        QVERIFY(keptaside::write(list, {{7, "theirs", {key}, false, false}}, true));
        page->releaseDevice(); // the keyboard leaves
        QList<keptaside::Entry> held;
        QCOMPARE(keptaside::read(list, &held), keptaside::Result::Read);
        QStringList names;
        for (const keptaside::Entry& e : qAsConst(held))
            names << QString::number(e.slot) + ':' + e.name;
        names.sort();
        QCOMPARE(names.join(' '), QStringLiteral("1:Macro1 7:theirs"));
    }

    // The tool's folder renamed while its keyboard is on the page: the macro the unplug keeps aside makes
    // nothing at the old path, neither the tool's folder nor one below it, and the user is told it is not
    // remembered.
    void aFolderRenamedUnderThePageIsNotMadeAgain()
    {
        const QString old = m_app.path(), moved = m_app.path() + "-moved";
        // Back at its place whatever the row found: the later rows use the folder.
        const auto putBack = qScopeGuard([&] {
            QDir(old).removeRecursively(); // what a failing keep made there
            QDir().rename(moved, old);
        });
        QVERIFY(start("0:a 2:b", 16));
        QVERIFY(QDir().mkpath(folder() + "item")); // as the tool has it once a keyboard was there
        page->addItemSlot(); // Macro1, slot 1
        page->createKey(1, 0, 1, 0, 0x04);
        page->createKey(0, 30, 1, 0, 0x04);
        QVERIFY(QDir().rename(old, moved));
        page->releaseDevice(); // the keyboard leaves
        QTest::qWait(20);
        QVERIFY2(!QFileInfo::exists(old), qPrintable(QDir(old).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(' ')));
        QVERIFY2(boxTexts().filter("\"Macro1\"").size() == 1, qPrintable(boxTexts().join('\n')));
        QVERIFY(QFileInfo(moved + "/dev/item").isDir() && !QFileInfo::exists(moved + "/dev/item/kept-aside.list"));
    }

    // Two copies of the tool run from one folder, the list's macros back on this copy's page. What either
    // removes from the list stays removed, what either adds comes back at the next start (the second of a
    // name and slot as a new macro), and alone this copy keeps what it did not delete. An entry that does
    // not read says nothing of what the other removed. Steps: "del:NAME" deleted on this page, "send:NAME"
    // its download refused by the keyboard; "other:A,B"
    // the other copy's write leaves these in the list ("-": none, "!": an entry that does not read, "~"
    // after a name: other delays); then the keyboard leaves and the tool starts again.
    void keptListFollowsWhatEitherCopyChanged_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("back"); // the entries at the next start ("~": holding the other delays)
        QTest::newRow("one copy deletes one: it stays deleted") << "del:Kept5" << "a b Kept7";
        QTest::newRow("one copy deletes none: both come back") << "" << "a b Kept5 Kept7";
        QTest::newRow("each deletes one, this copy first: neither comes back") << "del:Kept5 other:-" << "a b";
        QTest::newRow("each deletes one, the other first: neither comes back") << "other:Kept5 del:Kept5" << "a b";
        QTest::newRow("the other deletes one: it stays deleted") << "other:Kept5" << "a b Kept5";
        QTest::newRow("the other deletes one, this copy's download of it refused: it comes back")
            << "other:Kept5 send:Kept7" << "a b Kept5 Kept7";
        QTest::newRow("the other adds one: it comes back") << "other:Kept5,Kept7,Extra9" << "a b Kept5 Kept7 Extra9";
        QTest::newRow("the other adds one, kept through this copy's second write")
            << "other:Kept5,Kept7,Extra9 del:Kept7" << "a b Kept5 Extra9";
        QTest::newRow("the other holds a macro with other delays only: both come back")
            << "other:Kept5,Kept7,Kept7~" << "a b Kept5 Kept7 Macro1~";
        QTest::newRow("the other changed a macro's delays: its state comes back") << "other:Kept5,Kept7~"
                                                                                  << "a b Kept5 Kept7~";
        QTest::newRow("the other deletes one beside an entry that does not read: nothing of ours dropped")
            << "other:Kept7,!" << "a b Kept5 Kept7";
        QTest::newRow("the other adds one beside an entry that does not read: it comes back")
            << "other:Kept5,Kept7,Extra9,!" << "a b Kept5 Kept7 Extra9";
    }
    void keptListFollowsWhatEitherCopyChanged()
    {
        QFETCH(QString, steps);
        QFETCH(QString, back);
        const QString list = folder() + "item/kept-aside.list";
        QVERIFY(QDir().mkpath(folder() + "item"));
        QVERIFY(keptaside::write(list, {keptEntry("Kept5"), keptEntry("Kept7")}));
        QVERIFY(start("0:a 2:b", 16));
        QTest::qWait(20);
        QCOMPARE(listing(), QStringLiteral("a b Kept5 Kept7"));
        for (const QString& step : steps.split(' ', Qt::SkipEmptyParts)) {
            const QString what = step.section(':', 1);
            if (step.startsWith("del:") || step.startsWith("send:")) {
                for (MacroItem* i : page->items())
                    if (i->name() == what)
                        page->setItemSelect(i);
                if (step.startsWith("del:")) {
                    page->deleteItemSlot();
                } else { // the keyboard refuses it
                    f->kb->answerClosingStatus(5, 1);
                    page->downloadItemDataSlot();
                }
                continue;
            }
            QList<keptaside::Entry> held;
            for (const QString& word : what.split(',', Qt::SkipEmptyParts))
                if (word != "-" && word != "!")
                    held << keptEntry(word);
            QVERIFY(held.isEmpty() ? QFile::remove(list) : keptaside::write(list, held));
            if (what.endsWith('!'))
                QVERIFY(m_app.write("dev/item/kept-aside.list", withUnreadableEntry(list)));
        }
        QVERIFY(replug("0:a 2:b", [this] { reopen(); }));
        QTest::qWait(20);
        QStringList got;
        for (const MacroItem* i : page->items()) {
            const QList<int> t = triples(i);
            got << i->name() + (t.size() == 6 && t[5] == 31 ? "~" : "");
        }
        got.sort();
        QStringList want = back.split(' ');
        want.sort();
        QCOMPARE(got.join(' '), want.join(' '));
    }

    // The list changes under the page while this copy holds the keyboard; as the keyboard leaves, nothing
    // kept is lost. An entry that stops reading (another copy's write, the disk): the list as it stood is
    // kept beside it before the write replaces it, and the user is told where. The list's folder gone:
    // that says nothing of what another copy removed, so each kept macro is still listed or told unremembered.
    void aListChangedUnderThePageLosesNoKeptMacro_data()
    {
        QTest::addColumn<bool>("folderGone"); // else an entry stops reading
        QTest::newRow("an entry stops reading") << false;
        QTest::newRow("its folder goes") << true;
    }
    void aListChangedUnderThePageLosesNoKeptMacro()
    {
        QFETCH(bool, folderGone);
        const QString list = folder() + "item/kept-aside.list";
        QVERIFY(QDir().mkpath(folder() + "item"));
        QVERIFY(keptaside::write(list, {keptEntry("Kept5"), keptEntry("Kept7")}));
        QVERIFY(start("0:a 2:b", 16));
        QTest::qWait(20);
        QCOMPARE(listing(), QStringLiteral("a b Kept5 Kept7"));
        boxes->clear();
        const QByteArray damaged = withUnreadableEntry(list);
        QVERIFY(folderGone ? QDir(folder() + "item").removeRecursively() : m_app.write("dev/item/kept-aside.list", damaged));
        page->releaseDevice();
        QTest::qWait(20);
        QList<keptaside::Entry> held;
        const keptaside::Result read = keptaside::read(list, &held);
        const QString told = boxTexts().join('\n');
        if (!folderGone) {
            QCOMPARE(readFile(list + ".bad"), damaged);
            QCOMPARE(read, keptaside::Result::Read);
            QVERIFY2(told.contains("kept-aside.list.bad"), qPrintable(told));
        }
        for (const QString name : {"Kept5", "Kept7"}) {
            const bool listed = std::any_of(held.begin(), held.end(), [&](const keptaside::Entry& e) { return e.name == name; });
            QVERIFY2(listed || told.contains('"' + name + '"'), qPrintable(name + ": " + told));
        }
    }

    // Two copies of the tool each record a macro under the name and slot the page gives a new one, with
    // other keys, and keep it aside as the keyboard leaves, this copy's file written last: both come back
    // at the next start, the second as a new macro (a free slot, a name of its own, told), and both
    // again after the next unplug.
    void twoCopiesRecordingUnderOneNameBothComeBack()
    {
        const QString list = folder() + "item/kept-aside.list";
        QVERIFY(start("0:a 2:b", 16));
        page->addItemSlot(); // Macro1, slot 1
        page->createKey(1, 0, 1, 0, 0x04);
        page->createKey(0, 30, 1, 0, 0x04);
        const QList<int> ours = triples(page->items().last());
        const QList<int> theirs{1, 5, 0, 0, 5, 20}; // the other copy's: key B down, and up 20 ms later
        QVERIFY(QDir().mkpath(folder() + "item"));
        QVERIFY(keptaside::write(list, {keptEntry("Macro1", 5, 20)}));
        const struct timeval past[2] = {{1000, 0}, {1000, 0}};
        for (int round = 0; round < 2; ++round) {
            boxes->clear();
            QVERIFY(replug("0:a 2:b", [&] {
                reopen();
                QVERIFY(::utimes(QFile::encodeName(list).constData(), past) == 0); // the file newer
            }));
            QTest::qWait(20);
            QStringList got;
            QList<int> events[2];
            for (const MacroItem* i : page->items()) {
                got << QString::number(i->index()) + ':' + i->name();
                if (i->name().startsWith("Macro"))
                    events[i->name() == "Macro3"] = triples(i);
            }
            QCOMPARE(got.join(' '), QStringLiteral("0:a 2:b 1:Macro1 3:Macro3"));
            QVERIFY(events[0] == ours && events[1] == theirs);
            QVERIFY2(round || boxTexts().join(' ').contains("\"Macro1\" is back on the page as \"Macro3\""),
                     qPrintable(boxTexts().join('\n')));
        }
    }

    void keptMacrosAreToldInOneBox_data()
    {
        QTest::addColumn<int>("kept");   // entries in the list an earlier run left
        QTest::addColumn<int>("events"); // each, every one 10 ms after the one before: a frame each
        QTest::addColumn<int>("heads");
        QTest::addColumn<int>("language");
        QTest::addColumn<QStringList>("told"); // in the one box; none: no box
        QTest::addColumn<QString>("name");     // the macros' names: this and their slot
        QTest::newRow("60, free heads") << 60 << 2 << 64 << 1
                                        << QStringList{"60 macros had not been downloaded", "\"M7\" and 52 more"} << "M";
        QTest::newRow("60, free heads, Chinese") << 60 << 2 << 64 << 0 << QStringList{"60 个宏尚未下载", "另有 52 个"} << "M";
        QTest::newRow("60, four free heads, then again")
            << 60 << 2 << 4 << 1 << QStringList{"4 macros had not been", "56 macros cannot come back", "\"M11\" and 48 more"} << "M";
        QTest::newRow("nine, one counted") << 9 << 2 << 16 << 1
                                           << QStringList{"9 macros had not been downloaded", "\"M7\" and 1 more."} << "M";
        QTest::newRow("520 frames") << 1 << 520 << 16 << 1 << QStringList{"needs 520 frames", "at most 512"} << "M";
        QTest::newRow("520 frames, \"%1\" and \"%2\" in its name")
            << 1 << 520 << 16 << 1 << QStringList{"\"a%2b%10\" is back on the page", "needs 520 frames", "at most 512"}
            << "a%2b%1";
        QTest::newRow("10000, over the size bound") << 10000 << 2 << 16 << 1
                                                    << QStringList{"None of the macros in it could be read"} << "M";
        QTest::newRow("empty list") << 0 << 0 << 16 << 1 << QStringList() << "M";
        QTest::newRow("well-formed, its only entry damaged")
            << 1 << 2 << 16 << 1 << QStringList{"None of the macros in it could be read"} << "../M";
    }
    void keptMacrosAreToldInOneBox()
    {
        QFETCH(int, kept);
        QFETCH(int, events);
        QFETCH(int, heads);
        QFETCH(int, language);
        QFETCH(QStringList, told);
        QFETCH(QString, name);
        QByteArray list = kept ? "<KEPT>" : "";
        for (int m = 0; m < kept; ++m) {
            list += QString("<MACRO slot=\"%1\" name=\"%2%1\" told=\"0\" noroom=\"0\">").arg(QString::number(m), name).toLatin1();
            for (int i = 0; i < events; ++i)
                list += QString("<KEY%1 status=\"%2\" code=\"4\" type=\"1\" stype=\"0\" delay=\"10\"/>").arg(i).arg(1 - i % 2).toLatin1();
            list += "</MACRO>";
        }
        QVERIFY(m_app.write("dev/item/kept-aside.list", kept ? list + "</KEPT>" : list));
        Language lang;
        g_language = &lang;
        lang.setLanguageType(language);
        const bool started = start("", heads);
        QTest::qWait(20);
        g_language = nullptr;
        QVERIFY(started);
        const QStringList texts = boxTexts();
        QCOMPARE(texts.size(), told.isEmpty() ? 0 : 1);
        for (const QString& part : told)
            QVERIFY2(texts[0].contains(part) && !texts[0].contains("download it to keep it"), qPrintable(texts[0]));
        QVERIFY(!told.isEmpty() || !QFile::exists(folder() + "item/kept-aside.list"));
        if (told.isEmpty() || told.first().startsWith("None of the macros")) {
            QVERIFY(page->items().isEmpty() && !texts.join(' ').contains("did read"));
            return;
        }
        QCOMPARE(page->items().size(), qMin(kept, heads));
        QVERIFY(triples(page->items().last()).size() == 3 * events);
        // The next start: those back on the page take the free heads again, and nothing is told.
        QVERIFY(replug("", [this] { reopen(); }));
        QTest::qWait(20);
        QCOMPARE(boxes->boxes().size(), 1);
        QCOMPARE(page->items().first()->name(), name + '0');
    }

    // Releasing the keyboard while a macro (read or imported) is drawn stops the draw: nothing is left
    // pending, and no tick reaches the next keyboard's entries or downloads to it.
    void releaseStopsDraw_data()
    {
        QTest::addColumn<bool>("imported");
        QTest::newRow("keyboard's macro") << false;
        QTest::newRow("imported file") << true;
    }
    void releaseStopsDraw()
    {
        QFETCH(bool, imported);
        QVERIFY(start("2:load*", 16, frame(10, 0, 0x04) + frame(10, 0) + frame(10, 0, 0x05) + frame(10, 0)));
        const QTimer* timer = imported ? &page->fileDrawTimer() : &page->deviceDrawTimer();
        connect(timer, &QTimer::timeout, page.get(), [this] { page->releaseDevice(); }); // after the first chip
        if (imported && m_app.write("import.xml", macroFile(-1, 4)))
            page->importItemSlot(m_app.filePath("import.xml"));
        else
            page->loadDataSlot(item(0));
        QTRY_VERIFY_WITH_TIMEOUT(!page->device(), timescale::ms(10000));
        QVERIFY(!timer->isActive() && page->pendingEvents().isEmpty() && !page->drawTarget());
        page->setDevice(folder(), f->device);
        QTest::qWait(150);
        QCOMPARE(listing(), imported ? QStringLiteral("Macro0 load") : QStringLiteral("load"));
        QVERIFY(page->isListReady() && sentReports(f->kb, 0x50, 0x40).isEmpty());
        QVERIFY(page->items().last()->keyLayout()->keys.isEmpty());
    }

    // Any macro the keyboard can hold opens in bounded time: up to 512 events it is drawn whole, one
    // chip a tick; one that decodes into more (512 full reports: 10,234 events) is not drawn at all, nor
    // is one the keyboard does not give: replies too slow for the read's bound in all, the keyboard gone
    // or a write failing in the middle, replies that answer another command. One box says which and
    // why, the name as the keyboard holds it; nothing is written, the entry stays unloaded with nothing
    // to download, and the keyboard's frames are as they were. The box of a read the keyboard left comes
    // once the page has gone with it. A read cut short by a stop signal says nothing: the tool is ending.
    void loadDrawsTheMacroOrTellsWhyNot_data()
    {
        QTest::addColumn<QByteArray>("frames");
        QTest::addColumn<QString>("fault"); // what the keyboard does while it is read
        QTest::addColumn<int>("chips");     // -1: not drawn
        QTest::addColumn<QString>("told");  // in the one box; empty: none
        QByteArray single, over, some;
        for (int i = 0; i < Macro::MaxFrames; ++i) {
            single += frame(1, 0, uint8_t(i % 2 ? 0 : 0x04));
            over += frame(1, uint8_t(i % 2 ? 0x00 : 0x01), uint8_t(i == 0 ? 0x04 : 0));
        }
        const QString shows = "The keyboard's macro \"l<b>&\" has %1 key events; the editor shows at most 512.";
        const QString notRead = "The macro \"l<b>&\" could not be read from the keyboard: %1. It is not loaded";
        some = single.left(25 * 10); // five frame requests
        QTest::newRow("512 full reports") << sim::fullReportMacroFrames() << "" << -1 << shows.arg(10234);
        QTest::newRow("514 events in 512 frames") << over << "" << -1 << shows.arg(514);
        QTest::newRow("512 events") << single << "" << 512 << "";
        QTest::newRow("replies too slow for the read's bound")
            << some << "slow" << -1 << notRead.arg("the keyboard did not answer in time");
        QTest::newRow("keyboard unplugged mid-read")
            << some << "unplug" << -1 << notRead.arg("the connection to the keyboard failed");
        QTest::newRow("keyboard unplugged while a reply is awaited")
            << some << "unplug while waiting" << -1 << notRead.arg("the connection to the keyboard failed");
        QTest::newRow("frame request not written")
            << some << "write fails" << -1 << notRead.arg("the connection to the keyboard failed");
        QTest::newRow("replies naming another command")
            << some << "wrong command" << -1 << notRead.arg("the keyboard did not answer in time");
        QTest::newRow("stop signal mid-read") << some << "stop signal" << -1 << "";
        // The second failure comes before the box: the macro is named once in it.
        QTest::newRow("read failing twice before the box")
            << some << "write fails, again unanswered" << -1 << notRead.arg("the connection to the keyboard failed");
    }
    void loadDrawsTheMacroOrTellsWhyNot()
    {
        QFETCH(QByteArray, frames);
        QFETCH(QString, fault);
        QFETCH(int, chips);
        QFETCH(QString, told);
        QVERIFY(start("2:l<b>&*", 16, frames));
        MacroItem* entry = item(0);
        f->kb->clearLog();
        std::atomic<int> stops{0};
        std::thread during;
        if (fault == "slow") {
            f->kb->setReportDelay(1000); // each reply 2 s late: within its own wait, not the read's
        } else if (fault == "unplug") {
            f->kb->unplugAtWrite(3); // the selection, the first frames, then the second request
        } else if (fault == "write fails" || fault == "write fails, again unanswered") {
            f->kb->failWrite(3);
        } else if (fault == "wrong command") {
            f->kb->wrongEcho(0x50, 0x30);
        } else if (fault == "stop signal" || fault == "unplug while waiting") {
            Device::watchOutsideStops(&stops);
            f->kb->setReportDelay(1000); // the read lasts until its bound: time enough for a busy machine
            // From another thread, once the first frames are asked for: this one is held by the read.
            during = std::thread([this, &stops, fault] {
                for (int i = 0; i < 6000 && sentReports(f->kb, 0x50, 0x30).isEmpty(); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                if (fault == "stop signal")
                    ++stops;
                else
                    sim::unplug(f->kb);
            });
        }
        // Each chip is placed alone: the timeline is not laid out again per chip.
        QSignalSpy layouts(entry->keyLayout(), &KeyLayout::eventsChanged);
        page->loadDataSlot(entry); // holds this thread until the read ends
        if (during.joinable())
            during.join();
        if (fault == "write fails, again unanswered") {
            f->kb->clearLog();
            f->kb->wrongEcho(0x50, 0x30);
            page->loadDataSlot(entry);
        }
        QVERIFY(fault.isEmpty() || sentReports(f->kb, 0x50, 0x30).size() < 5);
        if (fault.startsWith("unplug")) { // the page goes with the keyboard before the box
            page->releaseDevice();
            page.reset();
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!page->deviceDrawTimer().isActive(), timescale::ms(60000));
            QCOMPARE(layouts.count(), 0);
            QVERIFY(page->pendingEvents().isEmpty() && !page->drawTarget());
            QCOMPARE(entry->keyLayout()->keys.size(), qMax(chips, 0));
        }
        // Told once the event loop runs again, and once.
        QTRY_COMPARE_WITH_TIMEOUT(boxes->boxes().size(), told.isEmpty() ? 0 : 1, timescale::ms(5000));
        QTest::qWait(20);
        QCOMPARE(boxes->boxes().size(), told.isEmpty() ? 0 : 1);
        if (chips >= 0)
            return;
        if (!told.isEmpty()) {
            const MessageBoxRequest box = boxes->boxes().first();
            QVERIFY2(box.text.startsWith(told), qPrintable(box.text));
            QCOMPARE(box.text.count(QStringLiteral("\"l<b>&\"")), 1);
            QVERIFY(box.textFormat == Qt::PlainText && (fault.isEmpty() || !box.parent));
        }
        if (page)
            QVERIFY(!entry->isLoadDataHidden() && !enabled().contains("download"));
        QVERIFY(sentReports(f->kb, 0x50, 0x40).isEmpty());
        QCOMPARE(f->kb->state().macroFrames.at(2).left(frames.size()), frames);
    }
};

QTEST_MAIN(MacroPage)
#include "test_macropage.moc"
