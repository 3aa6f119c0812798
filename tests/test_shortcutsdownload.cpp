// Downloading the ticked rows of the shortcuts page to the keyboard, and the keyboard's key
// function notification performing a row's function.
#include "messageboxrecorder.h"
#include "shortcutssession.h"
#include "shortcut/globulelayout.h"
#include "widget/lineedit.h"

#include <QDesktopServices>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QStringList opened;
public slots:
    void open(const QUrl& url) { opened << url.toString(); }
};

namespace {

QByteArray recordBytes(const kf_t& r)
{
    return QByteArray(reinterpret_cast<const char*>(r.bytes), int(sizeof r.bytes));
}

// Trigger key caps by code (type 1), 0 for an empty cap.
void setCaps(ShortcutsItem* row, const QList<int>& codes)
{
    for (int j = 0; j < codes.size(); ++j) {
        KeyBtn* cap = row->keyList()[j];
        cap->type = codes[j] ? 1 : 0;
        cap->stype = 0;
        cap->code = uint16_t(codes[j]);
    }
}

void setMaps(ShortcutsItem* row, const QString& states)
{
    const QVector<QPushButton*>& buttons = row->globuleLayout()->buttons();
    for (int i = 0; i < buttons.size(); ++i)
        buttons[i]->setChecked(states.at(i) == '1');
}

} // namespace

class ShortcutsDownloadTest : public QObject {
    Q_OBJECT
    MessageBoxRecorder m_boxes;
    UrlCatcher m_urls;

private slots:
    void initTestCase()
    {
        for (const char* scheme : {"https", "file"})
            QDesktopServices::setUrlHandler(scheme, &m_urls, "open");
    }
    void cleanupTestCase()
    {
        for (const char* scheme : {"https", "file"})
            QDesktopServices::unsetUrlHandler(scheme);
    }
    void cleanup() { sim::reset(); }

    void tickedRowBecomesItsRecord_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QList<int>>("caps");
        QTest::addColumn<QString>("maps");   // one selector per key map
        QTest::addColumn<QString>("fields"); // hi, key_count, flag, map_mask
        QTest::addColumn<QByteArray>("param"); // hex from byte 20; empty: not compared
        QTest::newRow("keys in caps 0 and 2")
            << "Website" << QList<int>{4, 0, 5, 0} << "1111" << "1 2 1 f" << QByteArray();
        QTest::newRow("maps 0 and 2 of eight") << "Website" << QList<int>{4} << "10100000" << "1 1 1 5" << QByteArray();
        QTest::newRow("replacement keys clear the flag")
            << "Replace" << QList<int>{} << "1" << "5 0 0 1" << QByteArray();
        QTest::newRow("lock keys keep it") << "Lock" << QList<int>{} << "1" << "6 0 1 1" << QByteArray();
        QTest::newRow("LED option") << "LED" << QList<int>{} << "01" << "4 0 1 2" << QByteArray("01000000");
        QTest::newRow("swap numbers") << "Swap" << QList<int>{} << "1" << "9 0 1 1" << QByteArray("0100000002000000");
        QTest::newRow("virtual keyboard is always 7") << "Keyboard" << QList<int>{} << "1" << "7 0 1 1" << QByteArray();
    }
    void tickedRowBecomesItsRecord()
    {
        QFETCH(QString, function);
        QFETCH(QList<int>, caps);
        QFETCH(QString, maps);
        QFETCH(QString, fields);
        QFETCH(QByteArray, param);
        ShortcutsSession s;
        QVERIFY(s.start({}, 16, maps.size()));
        ShortcutsItem* row = s.addRow(function);
        setCaps(row, caps);
        setMaps(row, maps);
        if (function == "LED")
            row->setLedBrightness(1);
        row->markChanged(true);

        s.page->itemDownloadButtonSlot();
        QCOMPARE(s.written().size(), 1);
        const kf_t r = s.written().first();
        QVERIFY(r.id() == 0 && r.used());
        QCOMPARE(QString("%1 %2 %3 %4").arg(r.hi()).arg(r.keyCount()).arg(r.flag()).arg(r.mapMask(), 0, 16), fields);
        for (int j = 0; j < 4; ++j)
            QCOMPARE(int(r.key(j).code), caps.value(j));
        if (!param.isEmpty())
            QCOMPARE(recordBytes(r).mid(20, param.size() / 2).toHex(), param);
        QCOMPARE(recordBytes(s.table(0)), recordBytes(r));
        QVERIFY(!row->isChecked());
    }

    // Only a macro in use with that name binds; otherwise the parameter goes out as it was.
    void macroBindsByNameOfAMacroInUse_data()
    {
        QTest::addColumn<QString>("choice"); // empty: no entry chosen
        QTest::addColumn<int>("bound");      // macro id, -1: parameter unchanged
        QTest::newRow("a macro in use") << "Macro 4" << 4;
        QTest::newRow("a name no macro has") << "Nothing" << -1;
        QTest::newRow("the name of a free slot") << "Spare" << -1;
        QTest::newRow("no name") << "" << -1;
    }
    void macroBindsByNameOfAMacroInUse()
    {
        QFETCH(QString, choice);
        QFETCH(int, bound);
        ShortcutsSession s;
        // The emulated keyboard leaves every third head free and nameless; this one keeps a name.
        QVERIFY(s.start({}, 16, 4, [](sim::FirmwareState& st) { st.macroHeads[2].replace(8, 5, "Spare"); }));
        QVERIFY(!s.kb->device->m_pKMs[2].used());
        ShortcutsItem* row = s.addRow("Macro");
        s.page->updateMacroCBAddItem("Nothing");
        s.page->updateMacroCBAddItem("Spare");
        if (choice.isEmpty())
            row->macroList()->setCurrentIndex(-1);
        else
            row->macroList()->setCurrentText(choice);
        row->macroRepeatEdit()->setText("3");
        row->markChanged(true);
        const QByteArray before = recordBytes(s.table(0)).mid(20, 8);

        s.page->itemDownloadButtonSlot();
        QCOMPARE(s.written().size(), 1);
        const QByteArray param = recordBytes(s.written().first()).mid(20, 8);
        QCOMPARE(param, bound < 0 ? before : QByteArray::fromHex("0400000003000000"));
    }

    // Equal swap numbers end the download at that row, before its record changes.
    void equalSwapNumbersEndTheDownload()
    {
        ShortcutsSession s;
        QVERIFY(s.start({}));
        for (const char* f : {"Website", "Swap", "Website"})
            s.addRow(f)->markChanged(true);
        s.row(1)->swapOneEdit()->setText("3");
        s.row(1)->swapTwoEdit()->setText("3");
        const QByteArray swapBefore = recordBytes(s.table(1));
        QVERIFY(s.app.put("kb/shortcuts.xml", "kept"));

        QTest::ignoreMessage(QtDebugMsg, "Error: swap1 == swap2");
        s.page->itemDownloadButtonSlot();
        QCOMPARE(s.written().size(), 1);
        QCOMPARE(s.written().first().id(), 0);
        QCOMPARE(s.ticks(), QList<bool>({false, true, true}));
        QVERIFY(!s.row(1)->downloading);
        QCOMPARE(recordBytes(s.table(1)), swapBefore);
        QCOMPARE(readFile(s.path), QByteArray("kept"));
    }

    void noTickedRowStillWritesTheFile()
    {
        ShortcutsSession s;
        QVERIFY(s.start({{0, 1}}));
        QVERIFY(s.app.put("kb/shortcuts.xml", "old"));
        s.page->itemDownloadButtonSlot();
        QVERIFY(s.written().isEmpty());
        const QByteArray file = readFile(s.path);
        QVERIFY(file.contains("<item0 ") && file.contains("<Website "));
    }

    // A row the keyboard did not take keeps its tick and its record; a silent keyboard ends the
    // download after one wait.
    void rowNotTakenKeepsTickAndRecord_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("ticks"); // after the download, row by row
        QTest::addColumn<int>("writes");
        QTest::newRow("no function for the menu text") << "no function" << "100" << 2;
        QTest::newRow("refused write") << "refused" << "100" << 3;
        QTest::newRow("timed out write") << "timed out" << "111" << 1;
    }
    void rowNotTakenKeepsTickAndRecord()
    {
        QFETCH(QString, fault);
        QFETCH(QString, ticks);
        QFETCH(int, writes);
        ShortcutsSession s;
        QVERIFY(s.start({}));
        QList<QByteArray> before;
        for (const char* f : {"Folder", "Website", "Website"}) {
            s.addRow(f)->markChanged(true);
            before << recordBytes(s.table(s.page->rows().size() - 1));
        }
        if (fault == "no function")
            (*s.page->catalogue())[2]->name = "Gone"; // the first row's menu still shows "Folder"
        else if (fault == "refused")
            s.kb->kb->answerStatus(0x40, 0x20, 3, 1);
        else
            s.kb->kb->silence(0x40, 0x20, 1);

        s.page->itemDownloadButtonSlot();
        QCOMPARE(s.written().size(), writes);
        QMap<int, QByteArray> sent;
        for (const kf_t& r : s.written())
            sent[r.id()] = recordBytes(r);
        QString seen;
        for (int i = 0; i < 3; ++i) {
            const bool ticked = s.row(i)->isChecked();
            seen += ticked ? '1' : '0';
            // A kept row's record is as before; a written one's is what went out.
            QCOMPARE(recordBytes(s.table(i)), ticked ? before[i] : sent.value(i));
            QVERIFY(!s.row(i)->downloading);
        }
        QCOMPARE(seen, ticks);
    }

    // The row of the notified slot and function performs it; anything else is ignored.
    void notificationRunsTheRowOfItsSlot_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("hi");
        QTest::addColumn<QString>("opened");
        QTest::newRow("website") << 0 << 1 << "https://tessark.example.org/a";
        QTest::newRow("folder") << 1 << 3 << "file:///tmp";
        QTest::newRow("slot of a row, other function") << 0 << 3 << "";
        QTest::newRow("slot without a row") << 5 << 1 << "";
    }
    void notificationRunsTheRowOfItsSlot()
    {
        QFETCH(int, id);
        QFETCH(int, hi);
        QFETCH(QString, opened);
        ShortcutsSession s;
        QVERIFY(s.start({{0, 1}, {1, 3}}));
        s.row(0)->websiteEdit()->setText("https://tessark.example.org/a");
        s.row(1)->folderEdit()->setText("/tmp");
        m_urls.opened.clear();
        s.page->onNotify(id, hi);
        QCOMPARE(m_urls.opened.join(' '), opened);
    }
};

QTEST_MAIN(ShortcutsDownloadTest)
#include "test_shortcutsdownload.moc"
