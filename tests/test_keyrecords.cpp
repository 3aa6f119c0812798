// Key function, macro and lighting action records against the emulated keyboard, macro frames included.
#include "keyboardfixture.h"

#include <QTest>
#include <QVector>
#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace {
template <typename T>
QByteArray bytes(const T& record)
{
    return QByteArray(reinterpret_cast<const char*>(record.bytes), int(sizeof record.bytes));
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

// Length and offset of every frame packet written, in order.
QVector<int> framePackets(const sim::KeyboardPtr& kb, uint8_t command)
{
    QVector<int> out;
    for (const QByteArray& r : sent(kb, 0x50, command))
        out << le::u16(reinterpret_cast<const uint8_t*>(r.constData()) + 2)
            << le::u16(reinterpret_cast<const uint8_t*>(r.constData()) + 4);
    return out;
}

uint32_t firstError(std::initializer_list<uint32_t> results)
{
    for (uint32_t e : results)
        if (e != DeviceResult::Ok)
            return e;
    return DeviceResult::Ok;
}

std::vector<mframe_t> someFrames(int n)
{
    std::vector<mframe_t> frames(size_t(std::max(n, 1)));
    for (int i = 0; i < n * 10; ++i)
        frames[size_t(i / 10)].bytes[i % 10] = uint8_t(i * 7 + 1);
    return frames;
}

QByteArray frameBytes(const mframe_t* frames, int n)
{
    return QByteArray(reinterpret_cast<const char*>(frames), n * 10);
}

// Sets the frame count of a head as the keyboard holds it.
void setFrameCount(QByteArray& head, int count)
{
    km_t h{};
    std::memcpy(h.bytes, head.constData(), sizeof h.bytes);
    h.setFrameCount(count);
    head = bytes(h);
}

int frameCount(const QByteArray& head)
{
    km_t h{};
    std::memcpy(h.bytes, head.constData(), sizeof h.bytes);
    return h.frameCount();
}

sim::KeyboardSpec small()
{
    sim::KeyboardSpec spec;
    spec.keyFunctions = 4;
    spec.macros = 8;
    spec.lightingActions = 3;
    return spec;
}
}

class KeyRecords : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void recordTablesHoldTheKeyboardsRecords()
    {
        KeyboardFixture f(small());
        QVERIFY(f.open());
        Device& d = *f.device;
        QCOMPARE(firstError({d.getKFInfo(), d.getAllKF(), d.getKMInfo(), d.getAllMacroHead(), d.getLAInfo(),
                             d.getAllLA()}),
                 DeviceResult::Ok);
        const sim::FirmwareState s = f.kb->state();
        QCOMPARE(d.m_nKFOther, s.kfOther);
        QCOMPARE(int(d.m_pKFs.size()), 4);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(bytes(d.m_pKFs[size_t(i)]), s.keyFunctions[size_t(i)]);
        QCOMPARE(int(d.m_pKMs.size()), 8);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(bytes(d.m_pKMs[size_t(i)]), s.macroHeads[size_t(i)]);
        QCOMPARE(int(d.m_pLAs.size()), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(bytes(d.m_pLAs[size_t(i)]), s.lightingActions[size_t(i)]);
    }

    void recordReadsStopAtTheFirstFailureAndNoRecordsMeansNoRequests()
    {
        KeyboardFixture f(small());
        QVERIFY(f.open());
        Device& d = *f.device;
        QCOMPARE(d.getKFInfo(), DeviceResult::Ok);
        f.kb->failWrite(3);
        QCOMPARE(d.getAllKF(), DeviceResult::WriteFailed);
        QCOMPARE(sent(f.kb, 0x40, 0x10).size(), 2); // the failed write is not on the bus

        f.kb->patchReply(0x40, 0x00, 8, QByteArray(1, '\0'), 1);
        QCOMPARE(d.getKFInfo(), DeviceResult::Ok);
        QVERIFY(d.m_pKFs.empty());
        const int writes = f.kb->writes();
        QCOMPARE(d.getAllKF(), DeviceResult::Ok);
        QCOMPARE(f.kb->writes(), writes);
    }

    void keyFunctionWriteFailureIsReportedOnlyForAFailedWrite()
    {
        KeyboardFixture f(small());
        QVERIFY(f.open());
        Device& d = *f.device;
        kf_t record{};
        record.bytes[0] = 2;
        f.kb->answerStatus(0x40, 0x20, 3, 1);
        QCOMPARE(d.setKFItem(&record), uint32_t(3));
        QVERIFY(f.writeFailures.isEmpty());
        f.kb->failWrite(1);
        QCOMPARE(d.setKFItem(&record), DeviceResult::WriteFailed);
        QCOMPARE(f.writeFailures, QList<uint32_t>{DeviceResult::WriteFailed});
    }

    void macroFramesAreWrittenInPacketsOfFive_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QVector<int>>("packets"); // length, offset
        QTest::newRow("12 frames") << 12 << QVector<int>{50, 0, 50, 5, 20, 10, 0, 12};
        QTest::newRow("3 frames") << 3 << QVector<int>{30, 0, 0, 3};
        QTest::newRow("no frames") << 0 << QVector<int>{0, 0};
    }

    void macroFramesAreWrittenInPacketsOfFive()
    {
        QFETCH(int, count);
        QFETCH(QVector<int>, packets);
        KeyboardFixture f(small());
        QVERIFY(f.open());
        Device& d = *f.device;
        QCOMPARE(firstError({d.getKMInfo(), d.getAllMacroHead()}), DeviceResult::Ok);
        const std::vector<mframe_t> frames = someFrames(count);
        QCOMPARE(d.writeMacroData(1, count, frames.data()), DeviceResult::Ok);
        QCOMPARE(framePackets(f.kb, 0x40), packets);
        QCOMPARE(d.m_pKMs[1].frameCount(), count);
        const sim::FirmwareState s = f.kb->state();
        QCOMPARE(frameCount(s.macroHeads[1]), count);
        QCOMPARE(s.macroFrames[1], frameBytes(frames.data(), count));
    }

    void unacknowledgedFramesAreSentAgainAtMostThreeTimes_data()
    {
        QTest::addColumn<int>("wrongAcks");
        QTest::addColumn<uint>("result");
        QTest::addColumn<QVector<int>>("packets");
        QTest::newRow("two wrong acknowledgements") << 2 << uint(DeviceResult::Ok)
                                                    << QVector<int>{50, 0, 50, 0, 50, 0, 0, 5};
        QTest::newRow("never acknowledged") << -1 << uint(DeviceResult::Timeout)
                                            << QVector<int>{50, 0, 50, 0, 50, 0, 50, 0};
    }

    void unacknowledgedFramesAreSentAgainAtMostThreeTimes()
    {
        QFETCH(int, wrongAcks);
        QFETCH(uint, result);
        QFETCH(QVector<int>, packets);
        KeyboardFixture f(small());
        QVERIFY(f.open());
        Device& d = *f.device;
        QCOMPARE(firstError({d.getKMInfo(), d.getAllMacroHead()}), DeviceResult::Ok);
        f.kb->patchReply(0x50, 0x40, 4, QByteArray("\x09\x00", 2), wrongAcks);
        const std::vector<mframe_t> frames = someFrames(5);
        QCOMPARE(d.writeMacroData(1, 5, frames.data()), uint32_t(result));
        QCOMPARE(framePackets(f.kb, 0x40), packets); // no closing packet after a failed transfer
    }

    void macroFramesAreReadIntoTheFrameArea()
    {
        KeyboardFixture f(small());
        QVERIFY(f.open());
        Device& d = *f.device;
        const QByteArray frames = frameBytes(someFrames(12).data(), 12);
        f.kb->edit([&](sim::FirmwareState& s) {
            setFrameCount(s.macroHeads[2], 12);
            s.macroFrames[2] = frames;
        });
        QCOMPARE(firstError({d.getKMInfo(), d.getAllMacroHead()}), DeviceResult::Ok);
        std::memset(d.m_frames.data(), 0xFF, sizeof d.m_frames);
        QCOMPARE(d.readMacroData(2), DeviceResult::Ok);
        QCOMPARE(framePackets(f.kb, 0x30), (QVector<int>{0, 0, 0, 5, 0, 10}));
        QCOMPARE(frameBytes(d.m_frames.data(), 512), frames + QByteArray(5000, '\0'));
    }

    void frameGroupWithOtherFramesIsAskedAgainAtMostThreeTimes()
    {
        KeyboardFixture f(small());
        QVERIFY(f.open());
        Device& d = *f.device;
        f.kb->edit([](sim::FirmwareState& s) { setFrameCount(s.macroHeads[2], 5); });
        QCOMPARE(firstError({d.getKMInfo(), d.getAllMacroHead()}), DeviceResult::Ok);
        f.kb->patchReply(0x50, 0x30, 4, QByteArray("\x07\x00", 2));
        QCOMPARE(d.readMacroData(2), DeviceResult::Timeout);
        QCOMPARE(framePackets(f.kb, 0x30), (QVector<int>{0, 0, 0, 0, 0, 0, 0, 0}));
        QCOMPARE(frameBytes(d.m_frames.data(), 512), QByteArray(5120, '\0'));
    }

    void frameAreaHoldsAtMost512Frames()
    {
        KeyboardFixture f(small());
        QVERIFY(f.open());
        Device& d = *f.device;
        const QByteArray frames = frameBytes(someFrames(512).data(), 512);
        f.kb->edit([&](sim::FirmwareState& s) {
            setFrameCount(s.macroHeads[0], 1023);
            s.macroFrames[0] = frames;
        });
        QCOMPARE(firstError({d.getKMInfo(), d.getAllMacroHead()}), DeviceResult::Ok);
        const std::vector<mframe_t> many = someFrames(513);
        const int writes = f.kb->writes();
        QCOMPARE(d.writeMacroData(0, 513, many.data()), DeviceResult::BadIndex);
        QCOMPARE(f.kb->writes(), writes);

        QCOMPARE(d.readMacroData(0), DeviceResult::Ok);
        const QVector<int> asked = framePackets(f.kb, 0x30);
        QCOMPARE(asked.size(), 2 * 103); // 102 groups of five and the last two frames
        QCOMPARE(asked.last(), 510);
        QCOMPARE(frameBytes(d.m_frames.data(), 512), frames);
    }

    void macroHeadEditsSendTheWholeHead()
    {
        KeyboardFixture f(small());
        QVERIFY(f.open());
        Device& d = *f.device;
        QCOMPARE(firstError({d.getKMInfo(), d.getAllMacroHead()}), DeviceResult::Ok);
        QCOMPARE(d.deleteMacro(7), DeviceResult::Ok);
        const QByteArray emptied = QByteArray(1, 7) + QByteArray(23, '\0');
        QCOMPARE(sent(f.kb, 0x50, 0x02).value(0).mid(8, 24), emptied);
        QCOMPARE(bytes(d.m_pKMs[7]), emptied);

        const QByteArray head = bytes(d.m_pKMs[3]);
        const uint8_t name[16] = {'R', 'e', 'n', 'a', 'm', 'e', 'd'};
        QCOMPARE(d.setMacroHeadData(3, name), DeviceResult::Ok);
        const QByteArray renamed = head.left(8) + QByteArray(reinterpret_cast<const char*>(name), 16);
        QCOMPARE(bytes(d.m_pKMs[3]), renamed);
        QCOMPARE(f.kb->state().macroHeads[3], renamed);
    }

    void refusedSelectionStillSelectsButStopsTheTransfer_data()
    {
        QTest::addColumn<bool>("write");
        QTest::newRow("read") << false;
        QTest::newRow("write") << true;
    }

    void refusedSelectionStillSelectsButStopsTheTransfer()
    {
        QFETCH(bool, write);
        KeyboardFixture f(small());
        QVERIFY(f.open());
        Device& d = *f.device;
        QCOMPARE(firstError({d.getKMInfo(), d.getAllMacroHead()}), DeviceResult::Ok);
        f.kb->answerStatus(0x50, 0x03, 1, 1);
        const std::vector<mframe_t> frames = someFrames(3);
        QCOMPARE(write ? d.writeMacroData(4, 3, frames.data()) : d.readMacroData(4), uint32_t(1));
        QCOMPARE(d.m_curkm, uint8_t(4));
        QVERIFY(sent(f.kb, 0x50, write ? 0x40 : 0x30).isEmpty());
    }

    void macroIndexOutsideTheTableSendsNothing()
    {
        KeyboardFixture f(small());
        QVERIFY(f.open());
        Device& d = *f.device;
        QCOMPARE(d.getKMInfo(), DeviceResult::Ok);
        const int writes = f.kb->writes();
        const std::vector<mframe_t> frames = someFrames(1);
        const uint8_t name[16] = {};
        QCOMPARE(d.readMacroData(8), DeviceResult::BadIndex);
        QCOMPARE(d.writeMacroData(-1, 1, frames.data()), DeviceResult::BadIndex);
        QCOMPARE(d.deleteMacro(8), DeviceResult::BadIndex);
        QCOMPARE(d.setMacroHeadData(-1, name), DeviceResult::BadIndex);
        QCOMPARE(f.kb->writes(), writes);
    }

    void lightingActionInfoWithoutAnswerLeavesNoLightingTables()
    {
        KeyboardFixture f(small());
        QVERIFY(f.open());
        Device& d = *f.device;
        QCOMPARE(firstError({d.getLMInfo(), d.getCurLM(), d.getLAInfo()}), DeviceResult::Ok);
        QVERIFY(!d.m_pLMMs.empty() && !d.m_pLAs.empty());
        f.kb->wrongEcho(0x60, 0x20, 1);
        QCOMPARE(d.getLAInfo(), DeviceResult::Ok);
        QVERIFY(d.m_pLAs.empty());
        QVERIFY(d.m_pLMMs.empty());
        QCOMPARE(d.m_nLATotalNum, uint8_t(0));
        QCOMPARE(d.m_nlm, uint8_t(0));
        QCOMPARE(d.m_nlmm, uint8_t(0));
        QCOMPARE(d.m_curlm, uint8_t(0));
    }
};

QTEST_GUILESS_MAIN(KeyRecords)
#include "test_keyrecords.moc"
