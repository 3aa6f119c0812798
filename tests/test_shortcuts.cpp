// The shortcuts page on an emulated keyboard: rows made from its slots, adding, deleting and
// downloading rows, the key notification, the hot key and the per-device shortcuts.xml.
#include "keyboardfixture.h"
#include "logrecorder.h"
#include "main/loghandler.h"
#include "messageboxrecorder.h"
#include "readerharness.h"
#include "platform/globalshortcut.h"
#include "shortcut/globulelayout.h"
#include "shortcut/shortcuts.h"
#include "shortcut/shortcutsitem.h"
#include "shortcut/shortcutskb.h"
#include "widget/combobox.h"
#include "widget/keybtn.h"
#include "widget/lineedit.h"
#include "wire.h"
#include "timescale.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QDomDocument>
#include <QPushButton>
#include <QtTest>
#include <cstring>
#include <memory>

namespace {

// Every function type once; the virtual keyboard's number is not the 7 its records carry.
const QByteArray TestCatalogue = R"(<kf><key_func><func name="Website" hi="1" enable="1" control_type="1"/>
<func name="Document" hi="2" enable="1" control_type="2"/><func name="Folder" hi="3" enable="1" control_type="3"/>
<func name="LED" hi="4" enable="1" control_type="4"/><func name="Replace" hi="5" enable="1" control_type="5"/>
<func name="Lock" hi="6" enable="1" control_type="6"/><func name="Macro" hi="8" enable="1" control_type="7"/>
<func name="Swap" hi="9" enable="1" control_type="8"/><func name="Keyboard" hi="10" enable="1" control_type="9"/>
</key_func><hi3><item name="dim" value="1"/><item name="bright" value="2"/></hi3></kf>)";

// An element as name{its attributes, sorted}, then its child elements.
QString describe(const QDomElement& e)
{
    QStringList attributes;
    for (int i = 0; i < e.attributes().count(); ++i)
        attributes << e.attributes().item(i).nodeName() + '=' + e.attributes().item(i).nodeValue();
    attributes.sort();
    QString out = e.tagName() + '{' + attributes.join(',') + '}';
    for (QDomElement child = e.firstChildElement(); !child.isNull(); child = child.nextSiblingElement())
        out += ' ' + describe(child);
    return out;
}

// A loaded keyboard of 48 slots and a shortcuts page on it.
struct Session {
    ReaderAppDir app;
    std::unique_ptr<KeyboardFixture> kb;
    QVector<KeyBtn*> pictureKeys;
    std::unique_ptr<Shortcuts> page;
    QString path = app.filePath("kb/shortcuts.xml");

    // used: the function number of each slot from 0, 0 or none for a free one. Macro head 2 is free
    // but keeps a name. Returns once the rows are made, or at once with wait false. A table of 48
    // records, or as many as used gives; record i holds slot id ids[i], or its own number's 6 bits.
    bool start(const QString& used, int keyMaps = 4, bool wait = true, const QList<int>& ids = {})
    {
        sim::KeyboardConfig config;
        config.keyFunctions = uint8_t(qBound(48, used.size(), 255));
        config.keyMaps = uint8_t(keyMaps);
        config.sampleKeyFunctions = false;
        kb = std::make_unique<KeyboardFixture>(config);
        kb->kb->edit([&](sim::FirmwareState& s) {
            for (int i = 0; i < int(s.keyFunctions.size()); ++i) {
                const int hi = used.mid(i, 1).toInt(), word = (ids.value(i, i) & 0x3F) | (hi ? 0x40 | hi << 7 : 0);
                s.keyFunctions[size_t(i)][0] = char(word & 0xFF);
                s.keyFunctions[size_t(i)][1] = char(word >> 8);
            }
            s.macroHeads[2].replace(8, 5, "Spare");
        });
        // The rows' and buttons' pictures, so a missing one would show as a warning.
        if (!app.copyFiles(QFINDTESTDATA("../appdir/images"), QStringLiteral("images"))
            || !app.put("config/kf_test.xml", TestCatalogue) || !app.put("kb/shortcuts.xml", "") || !kb->open()
            || !kb->loadNow())
            return false;
        kb->kb->clearLog();
        page = std::make_unique<Shortcuts>(nullptr, nullptr);
        page->load("kf_test.xml", path, &pictureKeys, kb->device);
        // Forty rows, one per tick, take a while in a sanitizer build on a busy machine.
        return !wait || QTest::qWaitFor([this] { return page->initFinished(); }, timescale::ms(60000));
    }
    ShortcutsItem* row(int i) const { return page->rows().value(i); }
    QList<int> rowIds() const
    {
        QList<int> ids;
        for (const ShortcutsItem* r : page->rows())
            ids << r->record()->id();
        return ids;
    }
    // A new row with the function chosen in its menu.
    ShortcutsItem* addRow(const QString& function)
    {
        page->itemAddButtonSlot();
        page->rows().last()->functionMenu()->setCurrentText(function);
        return page->rows().last();
    }
    // The records written with the key function write command, in order.
    QList<kf_t> written() const
    {
        QList<kf_t> out;
        for (const QByteArray& r : sentReports(kb->kb, 0x40, 0x20))
            memcpy((out << kf_t{}).last().bytes, r.constData() + 8, sizeof(kf_t));
        return out;
    }
    kf_t table(int slot) const { return kb->device->m_pKFs[size_t(slot)]; }
    static QByteArray bytes(const kf_t& r) { return QByteArray(reinterpret_cast<const char*>(r.bytes), 56); }
};

} // namespace

class ShortcutsPageTest : public QObject {
    Q_OBJECT
    MessageBoxRecorder m_boxes;
    QStringList m_opened;
    Q_INVOKABLE void open(const QUrl& url) { m_opened << url.toString(); } // the URL handler

private slots:
    void cleanup()
    {
        logrecorder::stop();
        sim::reset();
    }

    // One row per used slot id, made on timer ticks, then the file: a record repeating an id makes
    // no row, and the id is logged once. Past 31 rows adding is refused, however many the keyboard
    // gave; adding takes the first free record whose id no used record holds. Ctrl+D shows the panel
    // only while it has buttons, and hides it.
    void rowsFollowTheUsedSlots_data()
    {
        QTest::addColumn<QString>("used");
        QTest::addColumn<QList<int>>("recordIds"); // of the first records; the others their number's
        QTest::addColumn<int>("added");            // the slot id of the row added; -1: none
        QTest::newRow("slots 0, 5 and 9") << "1000010001" << QList<int>{} << 1;
        QTest::newRow("none used") << "" << QList<int>{} << 0;
        QTest::newRow("forty used") << QString(40, '1') << QList<int>{} << -1;
        QTest::newRow("200 used records, all id 5")
            << QString(200, '1') + QString(55, '0') << QVector<int>(200, 5).toList() << 8; // record 200
        QTest::newRow("ids 0 1 0 2 1, a free one repeats 1")
            << "111110" << QList<int>{0, 1, 0, 2, 1, 1} << 6;
    }
    void rowsFollowTheUsedSlots()
    {
        QFETCH(QString, used);
        QFETCH(QList<int>, recordIds);
        QFETCH(int, added);
        logrecorder::start();
        Session s;
        QVERIFY(s.start(used, 4, false, recordIds));
        QVERIFY(s.page->rows().isEmpty() && s.page->save({}, s.path) == -1); // refused until the last row
        QTRY_VERIFY_WITH_TIMEOUT(s.page->initFinished(), timescale::ms(60000));
        QList<int> ids;
        QMap<int, int> uses;
        for (int i = used.indexOf('1'); i >= 0; i = used.indexOf('1', i + 1)) {
            const int id = recordIds.value(i, i);
            if (uses[id]++ == 0)
                ids << id;
        }
        QCOMPARE(s.rowIds(), ids);
        const QStringList log = logrecorder::lines();
        for (auto it = uses.cbegin(); it != uses.cend(); ++it) {
            const QString line = QString("slot id %1 is in %2 used records").arg(it.key()).arg(it.value());
            QCOMPARE(log.filter(line).size(), it.value() > 1 ? 1 : 0);
        }
        QVERIFY(readFile(s.path).startsWith("<?xml version = '1.0' encoding = 'UTF-8'?>\n<shortcuts"));
        QCOMPARE(readFile(s.path).count("<Website "), ids.size());
        QVERIFY(s.page->addButton()->isEnabled());
        s.page->itemAddButtonSlot();
        QCOMPARE(s.page->rows().size(), ids.size() + (ids.size() < 32));
        QCOMPARE(ids.size() < 32 ? s.rowIds().last() : -1, added);
        for (const bool shown : {ids.size() > 0, false}) {
            s.page->hotKey()->triggerForTest();
            QCOMPARE(s.page->panel()->isVisible(), shown);
        }
        s.page->clearVirtualKeyboard(); // the device closed
        s.page->hotKey()->triggerForTest();
        QVERIFY(!s.page->panel()->isVisible());
    }

    // Ticked rows go once the keyboard has taken their slot as free; a refused write keeps its row
    // ticked, a stopped device ends the deletion at once. Adding takes the first free slot.
    void deleteFreesTheTickedSlots_data()
    {
        QTest::addColumn<QList<int>>("ticked"); // rows, which hold slots 0..3
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QList<int>>("remaining");
        QTest::addColumn<int>("added");
        QTest::newRow("slot 2, then add reuses it") << QList<int>{2} << "" << QList<int>{0, 1, 3} << 2;
        QTest::newRow("three rows") << QList<int>{0, 1, 3} << "" << QList<int>{2} << 0;
        QTest::newRow("refused write keeps its row") << QList<int>{1, 2} << "refused" << QList<int>{0, 1, 3} << 2;
        QTest::newRow("stopped device keeps them all") << QList<int>{1, 2} << "stopped" << QList<int>{0, 1, 2, 3} << 4;
    }
    void deleteFreesTheTickedSlots()
    {
        QFETCH(QList<int>, ticked);
        QFETCH(QString, fault);
        QFETCH(QList<int>, remaining);
        QFETCH(int, added);
        Session s;
        QVERIFY(s.start("1111"));
        for (int i : ticked)
            s.row(i)->markChanged(true);
        if (fault == "refused")
            s.kb->kb->answerStatus(0x40, 0x20, 3, 1);
        else if (fault == "stopped")
            s.kb->device->requestStop();

        s.page->itemDeleteButtonSlot();
        QCOMPARE(s.rowIds(), remaining);
        QList<int> sent; // slots sent free
        for (const kf_t& r : s.written())
            sent << (r.used() ? -1 : r.id());
        QCOMPARE(sent, fault == "stopped" ? QList<int>{} : ticked);
        for (int id = 0; id < 4; ++id)
            QCOMPARE(s.table(id).used(), remaining.contains(id));
        for (ShortcutsItem* row : s.page->rows()) // a ticked row that stayed is still ticked
            QCOMPARE(row->isChecked(), !fault.isEmpty() && ticked.contains(row->record()->id()));
        s.page->itemAddButtonSlot();
        QCOMPARE(s.rowIds().last(), added);
    }

    // Closed, the page's buttons wait for a keyboard; every language but 0 is English. The web,
    // document and folder texts come back with the next load, but not for a function chosen and not
    // downloaded (it no longer matches the keyboard's record); a notification runs its row's text.
    // Each type's child and the four key attributes always; a failed write leaves what was there.
    void fileHoldsTheRowsAndGivesBackTheirTexts()
    {
        Session s;
        QVERIFY(s.start("1231"));
        s.row(0)->websiteEdit()->setText("https://tessark.example.org");
        s.row(1)->documentEdit()->setText("/usr/bin/true");
        s.row(2)->folderEdit()->setText("/tmp");
        s.row(3)->functionMenu()->setCurrentText("Folder");
        s.row(3)->folderEdit()->setText("/var");
        s.page->requestSaveSlot();
        s.page->deleteKF();
        for (QPushButton* b : {s.page->addButton(), s.page->downloadButton(), s.page->deleteButton()})
            QVERIFY(!b->isEnabled());
        s.page->setLanguage(2);
        QCOMPARE(s.page->deleteButton()->toolTip(), QString("Delete"));
        s.page->setLanguage(0);
        QCOMPARE(s.page->deleteButton()->toolTip(), QString::fromUtf8("删除"));
        s.page->load("kf_test.xml", s.path, &s.pictureKeys, s.kb->device);
        QTRY_VERIFY_WITH_TIMEOUT(s.page->initFinished(), timescale::ms(60000));
        for (const char* scheme : {"https", "file"})
            QDesktopServices::setUrlHandler(scheme, this, "open");
        for (const QPoint& n : {QPoint(0, 1), QPoint(0, 3), QPoint(2, 3), QPoint(5, 1)}) // slot, function
            s.page->onNotify(n.x(), n.y());
        QCOMPARE(m_opened, QStringList({"https://tessark.example.org", "file:///tmp"}));
        for (const char* f : {"LED", "Replace", "Lock", "Macro", "Swap", "Keyboard"})
            s.addRow(f);
        s.row(4)->setLedBrightness(1);
        s.row(5)->replKeyList()[0]->setName("A");
        QCOMPARE(s.page->save(s.page->rows(), s.path), 0);
        QDomDocument doc;
        QVERIFY(doc.setContent(readFile(s.path)));
        QString items = describe(doc.documentElement());
        QCOMPARE(items.count("btn0= ,btn1= ,btn2= ,btn3= ,"), 10); // empty key caps too
        QCOMPARE(items.remove("btn0= ,btn1= ,btn2= ,btn3= ,"),
                 QStringList({"shortcuts{}", "item0{hi=1,hitype=1,id=0} Website{web=https://tessark.example.org}",
                              "item1{hi=2,hitype=2,id=1} DocApp{dir=/usr/bin/true}",
                              "item2{hi=3,hitype=3,id=2} FileFolder{dir=/tmp}", "item3{hi=1,hitype=1,id=3} Website{web=}",
                              "item4{hi=4,hitype=4,id=4} LEDBrightness{index=1}",
                              "item5{hi=5,hitype=5,id=5} ReplaceKey{b0=A}", "item6{hi=6,hitype=6,id=6} LockKey{}",
                              "item7{hi=8,hitype=7,id=7} Macro{menuid=,number=1}", "item8{hi=9,hitype=8,id=8}",
                              "item9{hi=10,hitype=9,id=9}"})
                     .join(' '));
        QVERIFY(s.app.put("kb/taken/old", "old"));
        QCOMPARE(s.page->save(s.page->rows(), s.app.filePath("missing/shortcuts.xml")), -2);
        QCOMPARE(s.page->save(s.page->rows(), s.app.filePath("kb/taken")), -2);
        QCOMPARE(readFile(s.app.filePath("kb/taken/old")), QByteArray("old"));
    }

    // A burst of a row's notifications from the keyboard opens what the row names at most once a
    // quarter second; the rest are logged, a line per burst with its count. Each row has its own gate,
    // and all rows together open at most a few times a second, however many the keyboard names.
    void notificationBurstOpensARowAFewTimes_data()
    {
        QTest::addColumn<QString>("used"); // function numbers of slots from 0: a website, a folder
        QTest::addColumn<int>("presses");  // of each used slot, in turn
        QTest::addColumn<int>("gapMs");    // between rounds; 0: a flood
        QTest::newRow("website, 500 presses") << "1" << 500 << 0;
        QTest::newRow("website and folder, 300 each") << "13" << 300 << 0;
        QTest::newRow("website, 130 presses 10 ms apart") << "1" << 130 << 10;
        QTest::newRow("three presses a second apart") << "1" << 3 << 1000;
        QTest::newRow("30 websites, each just past its own gate") << QString(30, '1') << 12 << 260;
        // Within the all-rows gate's five a second: only the row's own gate holds the second back.
        QTest::newRow("website, two presses 100 ms apart") << "1" << 2 << 100;
    }
    void notificationBurstOpensARowAFewTimes()
    {
        QFETCH(QString, used);
        QFETCH(int, presses);
        QFETCH(int, gapMs);
        Session s;
        QVERIFY(s.start(used));
        m_opened.clear();
        for (const char* scheme : {"https", "file"})
            QDesktopServices::setUrlHandler(scheme, this, "open");
        for (int i = 0; i < used.size(); ++i) {
            if (used[i] == '1')
                s.row(i)->websiteEdit()->setText(QString("https://tessark.example.org/%1").arg(i));
            else
                s.row(i)->folderEdit()->setText(s.app.filePath(QString::number(i)));
        }
        s.kb->kb->edit([](sim::FirmwareState& f) { // every slot active in every key map
            for (QByteArray& r : f.keyFunctions)
                r[2] = char(r[2] | 0xF0), r[3] = char(0xFF);
        });
        QMap<int, int> came; // handed on as the window does
        QObject::connect(s.kb->device, &Device::emitNotify, s.page.get(), [&](const QByteArray& r) {
            if (uint8_t(r[1]) == 0xAA)
                ++came[r[8]], s.page->onNotify(r[8], r[9]);
        });
        logrecorder::start();
        QElapsedTimer clock;
        clock.start();
        for (int n = 0; n < presses; ++n) {
            for (int i = 0; i < used.size(); ++i)
                s.kb->kb->pressKeyFunction(i);
            // A gap within the row's gate stays so on a slow build; longer ones may grow with it.
            const int gap = gapMs >= Shortcuts::NotifyOpenGapMs ? timescale::ms(gapMs) : gapMs;
            if (gapMs > 0 || n % 16 == 15)
                QTest::qWait(gapMs > 0 ? gap : 1); // lets the tool read as the keyboard sends
        }
        const int rows = used.size();
        QVector<int> opened(rows), skipped(rows), lines(rows);
        int openedInAll = 0;
        const auto accounted = [&] { // every notification that came opened or counted in a line
            int told = 0, cameInAll = 0;
            openedInAll = 0;
            for (int i = 0; i < rows; ++i) {
                opened[i] = m_opened.filter(QRegularExpression(QString("/%1$").arg(i))).size();
                skipped[i] = lines[i] = 0;
                for (const QString& l : logrecorder::lines().filter(QString("slot %1: ").arg(i)))
                    skipped[i] += l.section(' ', 4, 4).toInt(), ++lines[i];
                if (came.value(i) == 0)
                    return false;
                told += opened[i] + skipped[i], openedInAll += opened[i], cameInAll += came.value(i);
            }
            for (const QString& l : logrecorder::lines().filter("key functions: "))
                told += l.section(' ', 2, 2).toInt();
            return told == cameInAll;
        };
        QVERIFY2(QTest::qWaitFor(accounted, timescale::ms(10000)), qPrintable(logrecorder::lines().join('\n')));
        const qint64 seconds = clock.elapsed() / 1000 + 1;
        QVERIFY2(openedInAll <= Shortcuts::NotifyOpensPerSecond * seconds,
                 qPrintable(QString("%1 in %2 s").arg(openedInAll).arg(seconds)));
        for (int i = 0; i < rows; ++i) {
            QVERIFY2(opened[i] <= 2 + clock.elapsed() / 250, qPrintable(QString::number(opened[i]))); // generous
            QVERIFY(lines[i] <= opened[i]); // each burst follows an opening
            QCOMPARE(opened[i] == presses, gapMs > 2 * Shortcuts::NotifyOpenGapMs);
        }
    }

    // The gates' lines are ordinary ones: once the day's log is at its bound a stream of presses adds
    // none of them, and the room kept past the bound is left to the warnings and outcomes after it.
    void gateLinesStopAtTheLogBound()
    {
        Session s;
        QVERIFY(s.start("1"));
        m_opened.clear();
        QDesktopServices::setUrlHandler("https", this, "open");
        s.row(0)->websiteEdit()->setText("https://tessark.example.org/0");
        s.kb->kb->edit([](sim::FirmwareState& f) { // every slot active in every key map
            for (QByteArray& r : f.keyFunctions)
                r[2] = char(r[2] | 0xF0), r[3] = char(0xFF);
        });
        QObject::connect(s.kb->device, &Device::emitNotify, s.page.get(), [&](const QByteArray& r) {
            if (uint8_t(r[1]) == 0xAA)
                s.page->onNotify(r[8], r[9]);
        });
        const QDateTime morning(QDate(2024, 3, 9), QTime(9, 15, 2));
        LogHandler::setClock([morning] { return morning; });
        LogHandler::setDayFileBound(4096, 4096);
        const auto restore = qScopeGuard([] {
            LogHandler::instance()->release();
            LogHandler::setClock({});
            LogHandler::setDayFileBound(0);
        });
        LogHandler::instance()->installMessageHandler();
        for (int i = 0; i < 100; ++i)
            qDebug("line %d %s", i, QByteArray(60, 'x').constData());
        for (int n = 0; n < 200; ++n) {
            s.kb->kb->pressKeyFunction(0);
            if (n % 16 == 15)
                QTest::qWait(1); // lets the tool read as the keyboard sends
        }
        QTRY_VERIFY_WITH_TIMEOUT(!m_opened.isEmpty(), timescale::ms(10000));
        // The presses held back are told once the row's gate opens again.
        QTest::qWait(timescale::ms(4 * Shortcuts::NotifyOpenGapMs));
        qInfo("the outcome after the stream");
        LogHandler::instance()->release();
        const QString text = QString::fromUtf8(readFile(s.app.filePath("log/2024-03-09.txt")));
        QVERIFY2(!text.contains("not opened again") && !text.contains("openings a second"), qPrintable(text.right(600)));
        QVERIFY(text.contains("the outcome after the stream"));
    }

    // Trigger keys in caps 0 and 2 of every row. A macro binds only by the name of a macro in use,
    // never by the name a free head keeps; otherwise the parameter goes out as it was.
    void downloadedRowBecomesItsRecord_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("maps");     // one selector per key map
        QTest::addColumn<QString>("macro");    // the macro name chosen
        QTest::addColumn<QString>("fields");   // hi, key_count, flag, map_mask
        QTest::addColumn<QByteArray>("param"); // hex from byte 20; empty: not compared
        QTest::newRow("four maps") << "Website" << "1111" << "" << "1 2 1 f" << QByteArray();
        QTest::newRow("maps 0 and 2 of eight") << "Website" << "10100000" << "" << "1 2 1 5" << QByteArray();
        QTest::newRow("replacement keys clear the flag") << "Replace" << "1" << "" << "5 2 0 1" << QByteArray();
        QTest::newRow("lock keys keep it") << "Lock" << "1" << "" << "6 2 1 1" << QByteArray();
        QTest::newRow("LED option") << "LED" << "01" << "" << "4 2 1 2" << QByteArray("01000000");
        QTest::newRow("swap numbers") << "Swap" << "1" << "" << "9 2 1 1" << QByteArray("0100000002000000");
        QTest::newRow("virtual keyboard is always 7") << "Keyboard" << "1" << "" << "7 2 1 1" << QByteArray();
        QTest::newRow("macro in use") << "Macro" << "1" << "Macro 4" << "8 2 1 1" << QByteArray("0400000003000000");
        for (const char* name : {"Nothing", "Spare", ""})
            QTest::newRow(name[0] ? name : "no name") << "Macro" << "1" << name << "8 2 1 1" << QByteArray("same");
    }
    void downloadedRowBecomesItsRecord()
    {
        QFETCH(QString, function);
        QFETCH(QString, maps);
        QFETCH(QString, macro);
        QFETCH(QString, fields);
        QFETCH(QByteArray, param);
        Session s;
        QVERIFY(s.start("", maps.size()));
        ShortcutsItem* row = s.addRow(function);
        for (int j : {0, 2}) {
            row->keyList()[j]->type = 1;
            row->keyList()[j]->code = uint16_t(4 + j);
        }
        for (int i = 0; i < maps.size(); ++i)
            row->globuleLayout()->buttons()[i]->setChecked(maps.at(i) == '1');
        if (function == "LED")
            row->setLedBrightness(1);
        if (function == "Macro") {
            s.page->updateMacroCBAddItem("Nothing");
            s.page->updateMacroCBAddItem("Spare");
            row->macroList()->setCurrentIndex(row->macroList()->findText(macro)); // -1: none chosen
            row->macroRepeatEdit()->setText("3");
        }
        row->markChanged(true);
        if (param == "same")
            param = s.bytes(s.table(0)).mid(20, 8).toHex();

        s.page->itemDownloadButtonSlot();
        const kf_t r = s.table(0); // the table takes what went out
        QCOMPARE(s.written().size(), 1);
        QCOMPARE(s.bytes(s.written()[0]), s.bytes(r));
        QVERIFY(r.id() == 0 && r.used() && !row->isChecked());
        QCOMPARE(QString("%1 %2 %3 %4").arg(r.hi()).arg(r.keyCount()).arg(r.flag()).arg(r.mapMask(), 0, 16), fields);
        QCOMPARE(QList<int>({r.key(0).code, r.key(1).code, r.key(2).code, r.key(3).code}), QList<int>({4, 0, 6, 0}));
        if (!param.isEmpty())
            QCOMPARE(s.bytes(r).mid(20, param.size() / 2).toHex(), param);
    }

    // A row the keyboard did not take keeps its tick and its record and the download goes on; a
    // silent keyboard ends it after one wait. Equal swap numbers end it at once, before that row's
    // record changes and without writing the file; with no row ticked the file is still written.
    void rowNotTakenKeepsTickAndRecord_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("ticks"); // after the download, row by row
        QTest::addColumn<int>("writes");
        QTest::addColumn<bool>("saved");
        QTest::newRow("nothing ticked") << "unticked" << "000" << 0 << true;
        QTest::newRow("no function for the menu text") << "no function" << "100" << 2 << true;
        QTest::newRow("refused write") << "refused" << "100" << 3 << true;
        QTest::newRow("timed out write") << "timed out" << "111" << 1 << true;
        QTest::newRow("equal swap numbers") << "equal swaps" << "011" << 1 << false;
    }
    void rowNotTakenKeepsTickAndRecord()
    {
        QFETCH(QString, fault);
        QFETCH(QString, ticks);
        QFETCH(int, writes);
        QFETCH(bool, saved);
        Session s;
        QVERIFY(s.start(""));
        for (const char* f : {"Folder", "Swap", "Website"})
            s.addRow(f);
        s.row(1)->swapOneEdit()->setText("3");
        s.row(1)->swapTwoEdit()->setText(fault == "equal swaps" ? "3" : "4");
        for (int i = 0; i < 3; ++i)
            s.row(i)->markChanged(fault != "unticked");
        const std::vector<kf_t> before = s.kb->device->m_pKFs;
        QVERIFY(s.app.put("kb/shortcuts.xml", "old"));
        if (fault == "no function")
            (*s.page->catalogue())[2]->name = "Gone"; // the first row's menu still shows "Folder"
        else if (fault == "refused")
            s.kb->kb->answerStatus(0x40, 0x20, 3, 1);
        else if (fault == "timed out")
            s.kb->kb->silence(0x40, 0x20, 1);

        s.page->itemDownloadButtonSlot();
        QCOMPARE(s.written().size(), writes);
        QString seen;
        for (int i = 0; i < 3; ++i) {
            const bool ticked = s.row(i)->isChecked();
            seen += ticked ? '1' : '0';
            // Only a written row's record changes.
            QCOMPARE(s.bytes(s.table(i)) == s.bytes(before[size_t(i)]), ticked || fault == "unticked");
            QVERIFY(!s.row(i)->downloading);
        }
        QCOMPARE(seen, ticks);
        QCOMPARE(readFile(s.path).contains("<item2 "), saved);
    }
};

QTEST_MAIN(ShortcutsPageTest)
#include "test_shortcuts.moc"
