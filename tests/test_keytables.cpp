// Key code, colour and lighting mode tables against the emulated keyboard: paging, bounds, what is stored.
#include "keyboardfixture.h"

#include <QTest>
#include <QVector>
#include <initializer_list>

namespace {
QByteArray bytes(const std::vector<uint8_t>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size()));
}

QList<QByteArray> sent(const sim::KeyboardPtr& kb, uint8_t group, uint8_t command)
{
    QList<QByteArray> out;
    for (const sim::LogEntry& e : kb->log()) {
        const QByteArray& r = e.report;
        if (e.direction == sim::LogEntry::ToDevice && uint8_t(r[0]) == group && uint8_t(r[1]) == command)
            out << r;
    }
    return out;
}

// Map, first and last of every range request written.
QVector<int> requestedRanges(const sim::KeyboardPtr& kb, uint8_t group, uint8_t command)
{
    QVector<int> out;
    for (const QByteArray& r : sent(kb, group, command))
        out << uint8_t(r[8]) << uint8_t(r[9]) << uint8_t(r[10]);
    return out;
}

QVector<int> withMap(int map, const QVector<int>& pairs)
{
    QVector<int> out;
    for (int i = 0; i + 1 < pairs.size(); i += 2)
        out << map << pairs[i] << pairs[i + 1];
    return out;
}

// The first error of requests made in order (a braced list is evaluated left to right).
uint32_t firstError(std::initializer_list<uint32_t> results)
{
    for (uint32_t e : results)
        if (e != DeviceResult::Ok)
            return e;
    return DeviceResult::Ok;
}

sim::KeyboardSpec sized(int keys)
{
    sim::KeyboardSpec spec;
    spec.keys = spec.colourKeys = spec.lightingBytes = uint8_t(keys);
    return spec;
}
}

class KeyTables : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void pagedReadsCoverTheWholeTable_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("count");
        QTest::addColumn<QVector<int>>("ranges");
        QVector<int> hundred;
        for (int p = 0; p < 7; ++p)
            hundred << p * 13 << p * 13 + 12;
        hundred << 91 << 99;
        QTest::newRow("100 key codes") << "keys" << 100 << hundred;
        QTest::newRow("10 key codes") << "keys" << 10 << QVector<int>{0, 9};
        QTest::newRow("26 colours") << "colours" << 26 << QVector<int>{0, 12, 13, 25};
        QTest::newRow("120 lighting bytes") << "lighting" << 120 << QVector<int>{0, 47, 48, 95, 96, 119};
    }

    void pagedReadsCoverTheWholeTable()
    {
        QFETCH(QString, kind);
        QFETCH(int, count);
        QFETCH(QVector<int>, ranges);
        KeyboardFixture f(sized(count));
        QVERIFY(f.open());
        Device& d = *f.device;
        const sim::FirmwareState s = f.kb->state();
        if (kind == "keys") {
            QCOMPARE(firstError({d.getKCInfo(), d.getCurKCMID(), d.getAllKC()}), DeviceResult::Ok);
            QCOMPARE(requestedRanges(f.kb, 0x20, 0x10), withMap(s.curKeyMap, ranges));
            QCOMPARE(bytes(d.m_pKCs), s.keyMaps[s.curKeyMap]);
        } else if (kind == "colours") {
            QCOMPARE(firstError({d.getKRInfo(), d.getCurKRMID(), d.getAllKR()}), DeviceResult::Ok);
            QCOMPARE(requestedRanges(f.kb, 0x30, 0x10), withMap(s.curColourMap, ranges));
            QCOMPARE(bytes(d.m_pKRs), s.colourMaps[s.curColourMap]);
        } else {
            QCOMPARE(firstError({d.getLMInfo(), d.getCurLM(), d.getCurLMM()}), DeviceResult::Ok);
            QCOMPARE(requestedRanges(f.kb, 0x60, 0x03), withMap(s.curLightingMode, ranges));
            QCOMPARE(bytes(d.m_pLMMs), s.lightingModes[s.curLightingMode]);
        }
    }

    void tableFollowsTheReportedCount()
    {
        KeyboardFixture f(sized(20));
        QVERIFY(f.open());
        Device& d = *f.device;
        const QByteArray map = f.kb->state().keyMaps[f.kb->state().curKeyMap];
        f.kb->patchReply(0x20, 0x00, 9, QByteArray(1, 10), 1);
        QCOMPARE(firstError({d.getKCInfo(), d.getCurKCMID(), d.getAllKC()}), DeviceResult::Ok);
        QCOMPARE(bytes(d.m_pKCs), map.left(40));

        QCOMPARE(d.getKCInfo(), DeviceResult::Ok); // now 20: a new table, from zeros
        QCOMPARE(d.m_nkc, uint8_t(20));
        QCOMPARE(bytes(d.m_pKCs), QByteArray(80, '\0'));
        QCOMPARE(d.getAllKC(), DeviceResult::Ok);
        QCOMPARE(bytes(d.m_pKCs), map);
        QCOMPARE(d.getKCInfo(), DeviceResult::Ok); // same count: the table is kept
        QCOMPARE(bytes(d.m_pKCs), map);
        f.kb->patchReply(0x20, 0x00, 9, QByteArray(1, 10), 1);
        QCOMPARE(d.getKCInfo(), DeviceResult::Ok);
        QCOMPARE(bytes(d.m_pKCs), QByteArray(40, '\0'));
    }

    void lateReplyOfThePreviousPageIsNotTakenForTheNext()
    {
        KeyboardFixture f(sized(26));
        QVERIFY(f.open());
        Device& d = *f.device;
        QCOMPARE(firstError({d.getKCInfo(), d.getCurKCMID()}), DeviceResult::Ok);
        const QByteArray map = f.kb->state().keyMaps[d.m_curkcm];
        f.kb->answerLate(0x20, 0x10, 1);
        // Every page is read; the first failure is the result, and the unanswered page stays as it was.
        QCOMPARE(d.getAllKC(), DeviceResult::Timeout);
        QCOMPARE(bytes(d.m_pKCs), QByteArray(52, '\0') + map.mid(52));
    }

    void oneKeyCodeWriteChangesOnlyThatEntry()
    {
        KeyboardFixture f(sized(20));
        QVERIFY(f.open());
        Device& d = *f.device;
        QCOMPARE(firstError({d.getKCInfo(), d.getCurKCMID(), d.getAllKC()}), DeviceResult::Ok);
        QByteArray expected = bytes(d.m_pKCs);
        const uint8_t entry[4] = {0x15, 0x04, 0x01, 0};
        QCOMPARE(d.setKC(5, 5, entry), DeviceResult::Ok);

        const QByteArray r = sent(f.kb, 0x20, 0x11).value(0);
        QCOMPARE(uint8_t(r[2]), uint8_t(8));
        QCOMPARE(r.mid(8, 9), QByteArray(1, char(d.m_curkcm)) + QByteArray("\x05\x05\x00\x15\x04\x01\x00\x00", 8));
        expected.replace(20, 4, reinterpret_cast<const char*>(entry), 4);
        QCOMPARE(bytes(d.m_pKCs), expected);
        QCOMPARE(f.kb->state().keyMaps[d.m_curkcm], expected);
    }

    void refusedKeyCodeWriteLeavesTheTable_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("value");
        QTest::newRow("status not 0") << 8 << 1;
        QTest::newRow("other map echoed") << 12 << 3;
        QTest::newRow("other first key echoed") << 13 << 6;
        QTest::newRow("other last key echoed") << 14 << 6;
    }

    void refusedKeyCodeWriteLeavesTheTable()
    {
        QFETCH(int, offset);
        QFETCH(int, value);
        KeyboardFixture f(sized(20));
        QVERIFY(f.open());
        Device& d = *f.device;
        QCOMPARE(d.getKCInfo(), DeviceResult::Ok);
        d.m_curkcm = 0;
        QCOMPARE(d.getAllKC(), DeviceResult::Ok);
        const QByteArray before = bytes(d.m_pKCs);
        f.kb->patchReply(0x20, 0x11, offset, QByteArray(1, char(value)), 1);
        const uint8_t entry[4] = {0x15, 0x04, 0x01, 0};
        QCOMPARE(d.setKC(5, 5, entry), DeviceResult::SetKCRejected);
        QCOMPARE(bytes(d.m_pKCs), before);
    }

    void writesOutsideTheTableSendNothing_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<bool>("loaded");
        QTest::newRow("key code past the end") << "keys" << 9 << 10 << true;
        QTest::newRow("key codes ending below the start") << "keys" << 5 << 4 << true;
        QTest::newRow("key codes before the table is read") << "keys" << 0 << 0 << false;
        QTest::newRow("colour past the end") << "colours" << 10 << 10 << true;
        QTest::newRow("lighting byte before the start") << "lighting" << -1 << 0 << true;
        QTest::newRow("lighting byte past the end") << "lighting" << 300 << 300 << true;
    }

    void writesOutsideTheTableSendNothing()
    {
        QFETCH(QString, kind);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(bool, loaded);
        KeyboardFixture f(sized(10));
        QVERIFY(f.open());
        Device& d = *f.device;
        if (loaded)
            QCOMPARE(firstError({d.getKCInfo(), d.getKRInfo(), d.getLMInfo()}), DeviceResult::Ok);
        const QByteArray before = bytes(d.m_pKCs) + bytes(d.m_pKRs) + bytes(d.m_pLMMs);
        const int writes = f.kb->writes();
        const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        uint32_t e = 0;
        if (kind == "keys")
            e = d.setKC(uint8_t(first), uint8_t(last), data);
        else if (kind == "colours")
            e = d.setKR(uint8_t(first), uint8_t(last), data);
        else
            e = d.setLMM(first, last, data);
        QCOMPARE(e, DeviceResult::BadIndex);
        QCOMPARE(f.kb->writes(), writes);
        QCOMPARE(bytes(d.m_pKCs) + bytes(d.m_pKRs) + bytes(d.m_pLMMs), before);
    }

    void keyColourIsStoredBlueGreenRed()
    {
        KeyboardFixture f(sized(10));
        QVERIFY(f.open());
        Device& d = *f.device;
        QCOMPARE(firstError({d.getKRInfo(), d.getCurKRMID(), d.getAllKR()}), DeviceResult::Ok);
        d.setKeyColor(3, QColor(0x30, 0x20, 0x10));
        const QByteArray r = sent(f.kb, 0x30, 0x11).value(0);
        QCOMPARE(uint8_t(r[2]), uint8_t(8));
        QCOMPARE(r.mid(9, 7), QByteArray("\x03\x03\x00\x10\x20\x30\x00", 7));
        QCOMPARE(bytes(d.m_pKRs).mid(12, 4), QByteArray("\x10\x20\x30\x00", 4));
        QCOMPARE(d.keyColor(3), QColor(0x30, 0x20, 0x10));
        QCOMPARE(d.keyColor(3).alpha(), 255);
        QVERIFY(!d.keyColor(10).isValid());
    }

    void localColourAndLightingFollowOnlyAnsweredWrites()
    {
        KeyboardFixture f(sized(10));
        QVERIFY(f.open());
        Device& d = *f.device;
        QCOMPARE(firstError({d.getKRInfo(), d.getLMInfo()}), DeviceResult::Ok);
        const uint8_t entry[4] = {9, 9, 9, 0};
        f.kb->answerStatus(0x30, 0x11, 5, 1);
        QCOMPARE(d.setKR(2, 2, entry), DeviceResult::Ok); // a refusal still shows on the keys
        QCOMPARE(bytes(d.m_pKRs).mid(8, 4), QByteArray("\x09\x09\x09\x00", 4));
        f.kb->silence(0x60, 0x04, 1);
        QCOMPARE(d.setLMM(2, 2, entry), DeviceResult::Timeout);
        QCOMPARE(bytes(d.m_pLMMs), QByteArray(10, '\0'));
    }

    void rangeReplyIsCutToTheRequest_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<QByteArray>("namedRange");
        QTest::addColumn<int>("copied");
        QTest::newRow("colours: more than asked") << 0x30 << QByteArray("\x00\x0c", 2) << 8;
        QTest::newRow("colours: end below start") << 0x30 << QByteArray("\x05\x02", 2) << 0;
        QTest::newRow("lighting: more than asked") << 0x60 << QByteArray("\x00\x30", 2) << 2;
    }

    void rangeReplyIsCutToTheRequest()
    {
        QFETCH(int, group);
        QFETCH(QByteArray, namedRange);
        QFETCH(int, copied);
        KeyboardFixture f(sized(20));
        QVERIFY(f.open());
        Device& d = *f.device;
        d.m_curkrm = d.m_curlm = 0;
        f.kb->patchReply(uint8_t(group), group == 0x30 ? 0x10 : 0x03, 9, namedRange, 1);
        QByteArray dest(64, '\xEE');
        auto* p = reinterpret_cast<uint8_t*>(dest.data());
        QCOMPARE(group == 0x30 ? d.getKR(0, 1, p) : d.getLMM(0, 1, p), DeviceResult::Ok);
        const sim::FirmwareState s = f.kb->state();
        const QByteArray table = group == 0x30 ? s.colourMaps[0] : s.lightingModes[0];
        QCOMPARE(dest, table.left(copied) + QByteArray(64 - copied, '\xEE'));
    }

    void keyboardWithoutColourMapsHasNoColourTable()
    {
        sim::KeyboardSpec spec;
        spec.model = sim::Model::NoLighting;
        KeyboardFixture f(spec);
        QVERIFY(f.open());
        Device& d = *f.device;
        QCOMPARE(d.getKRInfo(), DeviceResult::Ok);
        QCOMPARE(d.getCurKRMID(), DeviceResult::Ok);
        const int writes = f.kb->writes();
        QCOMPARE(d.getAllKR(), DeviceResult::Ok);
        QCOMPARE(f.kb->writes(), writes);
        QCOMPARE(d.m_nkr, uint8_t(0));
        QCOMPARE(d.m_nkrm, uint8_t(0));
        QCOMPARE(d.m_curkrm, uint8_t(0xFF));
        QVERIFY(d.m_pKRs.empty());
        QVERIFY(!d.keyColor(0).isValid());
    }
};

QTEST_GUILESS_MAIN(KeyTables)
#include "test_keytables.moc"
