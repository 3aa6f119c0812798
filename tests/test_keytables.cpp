// Key code, colour and lighting mode tables against the emulated keyboard: paging, reallocation, what is stored.
#include "wire.h"
#include "keyboardfixture.h"

#include <QTest>
#include <QVector>
#include <initializer_list>
#include <memory>

namespace {
// The first error of requests made in order (a braced list is evaluated left to right).
uint32_t firstError(std::initializer_list<uint32_t> results)
{
    for (uint32_t e : results)
        if (e != DeviceResult::Ok)
            return e;
    return DeviceResult::Ok;
}
}

class KeyTables : public QObject {
    Q_OBJECT
    std::unique_ptr<KeyboardFixture> f;
    Device* d = nullptr;

    // Opens a keyboard whose key code, colour and lighting tables hold `entries` entries each.
    bool open(int entries)
    {
        sim::KeyboardConfig board;
        board.keys = board.colourKeys = board.lightingBytes = uint8_t(entries);
        f.reset(new KeyboardFixture(board));
        d = f->device;
        return f->open();
    }
    uint32_t loadKeys() { return firstError({d->getKCInfo(), d->getCurKCMID(), d->getAllKC()}); }
    QByteArray keyMap() const { return f->kb->state().keyMaps[f->kb->state().curKeyMap]; }

private slots:
    void cleanup() { f.reset(), sim::reset(); }

    void pagedReadsCoverTheWholeTable_data()
    {
        QTest::addColumn<bool>("lighting");
        QTest::addColumn<int>("count");
        QTest::addColumn<QVector<int>>("ranges"); // first and last entry of every page asked for
        QTest::newRow("100 key codes") << false << 100
                                       << QVector<int>{0, 12, 13, 25, 26, 38, 39, 51, 52, 64, 65, 77, 78, 90, 91, 99};
        QTest::newRow("10 key codes") << false << 10 << QVector<int>{0, 9};
        QTest::newRow("120 lighting bytes") << true << 120 << QVector<int>{0, 47, 48, 95, 96, 119};
    }

    void pagedReadsCoverTheWholeTable()
    {
        QFETCH(bool, lighting);
        QFETCH(int, count);
        QFETCH(QVector<int>, ranges);
        QVERIFY(open(count));
        QCOMPARE(lighting ? firstError({d->getLMInfo(), d->getCurLM(), d->getCurLMM()}) : loadKeys(),
                 DeviceResult::Ok);
        const sim::FirmwareState s = f->kb->state();
        const int map = lighting ? s.curLightingMode : s.curKeyMap;
        QVector<int> asked;
        for (const QByteArray& r : sentReports(f->kb, lighting ? 0x60 : 0x20, lighting ? 0x03 : 0x10)) {
            QCOMPARE(int(uint8_t(r[8])), map);
            asked << uint8_t(r[9]) << uint8_t(r[10]);
        }
        QCOMPARE(asked, ranges);
        QCOMPARE(lighting ? bytes(d->m_pLMMs) : bytes(d->m_pKCs), lighting ? s.lightingModes[map] : s.keyMaps[map]);
    }

    void tableIsReallocatedWhenTheCountChanges()
    {
        QVERIFY(open(20));
        f->kb->patchReply(0x20, 0x00, 9, QByteArray(1, 10), 1);
        QCOMPARE(loadKeys(), DeviceResult::Ok);
        QCOMPARE(bytes(d->m_pKCs), keyMap().left(40));
        QCOMPARE(d->getKCInfo(), DeviceResult::Ok); // now 20: a new table, from zeros
        QCOMPARE(bytes(d->m_pKCs), QByteArray(80, '\0'));
        QCOMPARE(d->getAllKC(), DeviceResult::Ok);
        QCOMPARE(d->getKCInfo(), DeviceResult::Ok); // the same count: the table is kept
        QCOMPARE(bytes(d->m_pKCs), keyMap());
    }

    void lateReplyOfThePreviousPageIsNotTakenForTheNext()
    {
        QVERIFY(open(26));
        QCOMPARE(firstError({d->getKCInfo(), d->getCurKCMID()}), DeviceResult::Ok);
        f->kb->answerLate(0x20, 0x10, 1);
        // Both pages are read; the unanswered first one stays as it was and is the result.
        QCOMPARE(d->getAllKC(), DeviceResult::Timeout);
        QCOMPARE(bytes(d->m_pKCs), QByteArray(52, '\0') + keyMap().mid(52));
    }

    // A colour or lighting page reply is taken for the range it names, cut to the page asked for: a keyboard
    // naming a wider range, a shorter last page, a zero range, a fixed page or the page before still loads,
    // with what its replies carry.
    void colourAndLightingPagesTakeTheRangeTheReplyNames_data()
    {
        QTest::addColumn<bool>("lighting");
        QTest::addColumn<int>("page");  // whose reply names another range; -1: every page's
        QTest::addColumn<int>("first"); // the range it names
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("taken"); // entries that page stores; -1: all it asked for
        // 30 colour entries: 0..12, 13..25, 26..29; 100 lighting bytes: 0..47, 48..95, 96..99.
        QTest::newRow("colour page naming 0-255") << false << 1 << 0 << 255 << -1;
        QTest::newRow("every colour page naming 0-255") << false << -1 << 0 << 255 << -1;
        QTest::newRow("lighting page naming 0-255") << true << 1 << 0 << 255 << -1;
        QTest::newRow("colour last page naming two entries") << false << 2 << 26 << 27 << 2;
        QTest::newRow("lighting last page naming two bytes") << true << 2 << 96 << 97 << 2;
        QTest::newRow("colour page naming 0-0") << false << 1 << 0 << 0 << 1;
        QTest::newRow("every lighting page naming 0-0") << true << -1 << 0 << 0 << 1;
        QTest::newRow("colour page naming an empty range") << false << 1 << 5 << 4 << 0;
        // Replies naming a page asked before, with no other answer behind them (first -1: the page before).
        QTest::newRow("every colour page naming 0-12") << false << -1 << 0 << 12 << -1;
        QTest::newRow("every lighting page naming 0-47") << true << -1 << 0 << 47 << -1;
        QTest::newRow("every colour page naming the page before") << false << -1 << -1 << -1 << -1;
        QTest::newRow("every lighting page naming the page before") << true << -1 << -1 << -1 << -1;
        // Each request answered first with the reply to the one before, then with its own (first -2), the
        // table read twice: the second read's first page is answered first with the first read's last.
        QTest::newRow("colour pages read twice, each answered late first") << false << -1 << -2 << -2 << -1;
        QTest::newRow("lighting pages read twice, each answered late first") << true << -1 << -2 << -2 << -1;
        // Each page naming the page before, the table read twice (first -3): the second read's first page
        // names the first read's short last page, and still carries a whole page.
        QTest::newRow("colour pages read twice, each naming the page before") << false << -1 << -3 << -3 << -1;
        QTest::newRow("lighting pages read twice, each naming the page before") << true << -1 << -3 << -3 << -1;
    }
    void colourAndLightingPagesTakeTheRangeTheReplyNames()
    {
        QFETCH(bool, lighting);
        QFETCH(int, page);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(int, taken);
        sim::KeyboardConfig board;
        board.keys = board.colourKeys = 30;
        board.lightingBytes = 100;
        f.reset(new KeyboardFixture(board));
        d = f->device;
        QVERIFY(f->open());
        const uint8_t group = lighting ? 0x60 : 0x30, command = lighting ? 0x03 : 0x10;
        const QByteArray named = QByteArray(1, char(first)) + char(last);
        const int reads = first <= -2 ? 2 : 1;
        if (first == -2)
            f->kb->answerStaleFirst(group, command);
        else if (first < 0)
            f->kb->nameRangeBefore(group, command);
        else
            f->kb->addBehaviour({sim::Behaviour::Patch, group, command, page < 0 ? -1 : 1, 0, 9, named, false,
                                 qMax(page, 0)});
        QCOMPARE(lighting ? firstError({d->getLMInfo(), d->getCurLM(), d->getCurLMM()})
                          : firstError({d->getKRInfo(), d->getCurKRMID(), d->getAllKR()}),
                 DeviceResult::Ok);
        if (reads == 2) { // what the second read leaves out shows as zeros
            std::vector<uint8_t>& table = lighting ? d->m_pLMMs : d->m_pKRs;
            std::fill(table.begin(), table.end(), 0);
            QCOMPARE(lighting ? d->getCurLMM() : d->getAllKR(), DeviceResult::Ok);
        }
        const sim::FirmwareState s = f->kb->state();
        const QByteArray keyboard = lighting ? s.lightingModes[s.curLightingMode] : s.colourMaps[s.curColourMap];
        const int entrySize = lighting ? 1 : 4, pageSize = lighting ? 48 : 13;
        QByteArray expected = keyboard;
        if (taken >= 0) {
            for (int p = 0; p * pageSize < keyboard.size() / entrySize; ++p) {
                if (page >= 0 && p != page)
                    continue;
                const int from = (p * pageSize + taken) * entrySize;
                const int to = qMin((p + 1) * pageSize * entrySize, int(keyboard.size()));
                expected.replace(from, to - from, QByteArray(to - from, '\0')); // as a new table has it
            }
        }
        QCOMPARE(lighting ? bytes(d->m_pLMMs) : bytes(d->m_pKRs), expected);
        QCOMPARE(sentReports(f->kb, group, command).size(), 3 * reads); // one request a page
    }

    void keyCodeWriteChangesOnlyAnAcknowledgedEntry_data()
    {
        QTest::addColumn<int>("offset"); // of the reply byte replaced, 0 for none
        QTest::addColumn<int>("value");
        QTest::newRow("acknowledged") << 0 << 0;
        QTest::newRow("status not 0") << 8 << 1;
        QTest::newRow("other map echoed") << 12 << 0xFF;
        QTest::newRow("other first key echoed") << 13 << 6;
        QTest::newRow("other last key echoed") << 14 << 6;
    }

    void keyCodeWriteChangesOnlyAnAcknowledgedEntry()
    {
        QFETCH(int, offset);
        QFETCH(int, value);
        QVERIFY(open(20));
        QCOMPARE(loadKeys(), DeviceResult::Ok);
        const uint8_t entry[4] = {0x15, 0x04, 0x01, 0};
        QByteArray expected = keyMap();
        if (offset)
            f->kb->patchReply(0x20, 0x11, offset, QByteArray(1, char(value)), 1);
        else
            expected.replace(20, 4, bytes(entry, 4));
        QCOMPARE(d->setKC(5, 5, entry), offset ? DeviceResult::SetKCRejected : DeviceResult::Ok);
        QCOMPARE(sentReports(f->kb, 0x20, 0x11).value(0).left(16),
                 QByteArray::fromHex("2011080000000000") + char(d->m_curkcm) + QByteArray::fromHex("05050015040100"));
        QCOMPARE(bytes(d->m_pKCs), expected);
    }

    void keyColourIsStoredBlueGreenRed()
    {
        QVERIFY(open(10));
        QCOMPARE(firstError({d->getKRInfo(), d->getCurKRMID(), d->getAllKR()}), DeviceResult::Ok);
        d->setKeyColor(3, QColor(0x30, 0x20, 0x10));
        QCOMPARE(sentReports(f->kb, 0x30, 0x11).value(0).mid(9, 7), QByteArray("\x03\x03\x00\x10\x20\x30\x00", 7));
        const sim::FirmwareState s = f->kb->state();
        QCOMPARE(bytes(d->m_pKRs), s.colourMaps[s.curColourMap]); // as read, and entry 3 as written
        QCOMPARE(d->keyColor(3), QColor(0x30, 0x20, 0x10));
        QVERIFY(!d->keyColor(10).isValid());
    }
};

QTEST_GUILESS_MAIN(KeyTables)
#include "test_keytables.moc"
