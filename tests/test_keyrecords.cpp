// Key function, macro and lighting action records against the emulated keyboard, macro frames included.
#include "wire.h"
#include "keyboardfixture.h"

#include <QTest>
#include <QVector>
#include <algorithm>
#include <cstring>
#include <memory>

namespace {
template <typename T>
QByteArray bytes(const T& record)
{
    return QByteArray(reinterpret_cast<const char*>(record.bytes), int(sizeof record.bytes));
}

template <typename T>
std::vector<QByteArray> records(const std::vector<T>& table)
{
    std::vector<QByteArray> out;
    for (const T& r : table)
        out.push_back(bytes(r));
    return out;
}


// Length and offset of every frame packet written, in order.
QVector<int> framePackets(const sim::KeyboardPtr& kb, uint8_t command)
{
    QVector<int> out;
    for (const QByteArray& r : sentReports(kb, 0x50, command))
        out << le::u16(reinterpret_cast<const uint8_t*>(r.constData()) + 2)
            << le::u16(reinterpret_cast<const uint8_t*>(r.constData()) + 4);
    return out;
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
}

class KeyRecords : public QObject {
    Q_OBJECT
    std::unique_ptr<KeyboardFixture> f;
    Device* d = nullptr;

    // Opens a keyboard of 8 records of each kind and reads its macro heads.
    bool open()
    {
        sim::KeyboardConfig board;
        board.keyFunctions = board.macros = board.lightingActions = 8;
        f.reset(new KeyboardFixture(board));
        d = f->device;
        return f->open() && d->getKMInfo() == DeviceResult::Ok && d->getAllMacroHead() == DeviceResult::Ok;
    }

private slots:
    void cleanup()
    {
        f.reset();
        sim::reset();
    }

    void keyFunctionTableFollowsTheReportedCount()
    {
        QVERIFY(open());
        QCOMPARE(d->getKFInfo(), DeviceResult::Ok);
        QCOMPARE(d->getAllKF(), DeviceResult::Ok);
        QVERIFY(records(d->m_pKFs) == f->kb->state().keyFunctions);
        f->kb->patchReply(0x40, 0x00, 8, QByteArray(1, '\0'), 1);
        QCOMPARE(d->getKFInfo(), DeviceResult::Ok);
        QVERIFY(d->m_pKFs.empty());
        const int writes = f->kb->writes();
        QCOMPARE(d->getAllKF(), DeviceResult::Ok);
        QCOMPARE(f->kb->writes(), writes);
    }

    void keyFunctionWriteFailureIsReportedOnlyForAFailedWrite()
    {
        QVERIFY(open());
        kf_t record{};
        record.bytes[0] = 2;
        f->kb->answerStatus(0x40, 0x20, 3, 1);
        QCOMPARE(d->setKFItem(&record), uint32_t(3));
        QVERIFY(f->writeFailures.isEmpty());
        f->kb->failWrite(1);
        QCOMPARE(d->setKFItem(&record), DeviceResult::WriteFailed);
        QCOMPARE(f->writeFailures, QList<uint32_t>{DeviceResult::WriteFailed});
    }

    void macroFramesAreWrittenInPacketsOfFiveAndReadBack_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QVector<int>>("packets"); // length, offset
        QTest::newRow("12 frames") << 12 << QVector<int>{50, 0, 50, 5, 20, 10, 0, 12};
        QTest::newRow("3 frames") << 3 << QVector<int>{30, 0, 0, 3};
        QTest::newRow("no frames") << 0 << QVector<int>{0, 0};
    }

    void macroFramesAreWrittenInPacketsOfFiveAndReadBack()
    {
        QFETCH(int, count);
        QFETCH(QVector<int>, packets);
        QVERIFY(open());
        const std::vector<mframe_t> frames = someFrames(count);
        QCOMPARE(d->writeMacroData(1, count, frames.data()), DeviceResult::Ok);
        QCOMPARE(framePackets(f->kb, 0x40), packets);
        const QByteArray written = frameBytes(frames.data(), count);
        QCOMPARE(f->kb->state().macroFrames[1], written);
        std::memset(d->m_frames.data(), 0xFF, sizeof d->m_frames);
        QCOMPARE(d->readMacroData(1), DeviceResult::Ok);
        QCOMPARE(frameBytes(d->m_frames.data(), 512), written + QByteArray((512 - count) * 10, '\0'));
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
        QVERIFY(open());
        f->kb->patchReply(0x50, 0x40, 4, QByteArray("\x09\x00", 2), wrongAcks);
        const std::vector<mframe_t> frames = someFrames(5);
        QCOMPARE(d->writeMacroData(1, 5, frames.data()), uint32_t(result));
        QCOMPARE(framePackets(f->kb, 0x40), packets); // no closing packet after a failed transfer
    }

    void macroRequestsOutsideTheTableOrFrameAreaSendNothing()
    {
        QVERIFY(open());
        const int writes = f->kb->writes();
        const std::vector<mframe_t> many = someFrames(513);
        QCOMPARE(d->writeMacroData(0, 513, many.data()), DeviceResult::BadIndex);
        QCOMPARE(d->readMacroData(8), DeviceResult::BadIndex);
        QCOMPARE(d->deleteMacro(-1), DeviceResult::BadIndex);
        QCOMPARE(f->kb->writes(), writes);
    }

    void deletedMacroHeadKeepsOnlyItsSlot()
    {
        QVERIFY(open());
        QCOMPARE(d->deleteMacro(7), DeviceResult::Ok);
        const QByteArray emptied = QByteArray(1, 7) + QByteArray(23, '\0');
        QCOMPARE(sentReports(f->kb, 0x50, 0x02).value(0).mid(8, 24), emptied);
        QCOMPARE(bytes(d->m_pKMs[7]), emptied);
        QVERIFY(records(d->m_pKMs) == f->kb->state().macroHeads);
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
        QVERIFY(open());
        f->kb->answerStatus(0x50, 0x03, 1, 1);
        const std::vector<mframe_t> frames = someFrames(3);
        QCOMPARE(write ? d->writeMacroData(4, 3, frames.data()) : d->readMacroData(4), uint32_t(1));
        QCOMPARE(d->m_curkm, uint8_t(4));
        QVERIFY(sentReports(f->kb, 0x50, write ? 0x40 : 0x30).isEmpty());
    }

    void lightingActionInfoWithoutAnswerLeavesNoLightingTables()
    {
        QVERIFY(open());
        QCOMPARE(d->getLMInfo(), DeviceResult::Ok);
        QCOMPARE(d->getLAInfo(), DeviceResult::Ok);
        QCOMPARE(d->getAllLA(), DeviceResult::Ok);
        QVERIFY(records(d->m_pLAs) == f->kb->state().lightingActions);
        QVERIFY(!d->m_pLMMs.empty());
        f->kb->patchReply(0x60, 0x20, 0, QByteArray(1, '\x61'), 1); // answered by group 0x61, not 0x60
        QCOMPARE(d->getLAInfo(), DeviceResult::Ok);
        QVERIFY(d->m_pLAs.empty() && d->m_pLMMs.empty());
        QCOMPARE(d->m_nLATotalNum, uint8_t(0));
        QCOMPARE(d->m_nlm, uint8_t(0));
    }
};

QTEST_GUILESS_MAIN(KeyRecords)
#include "test_keyrecords.moc"
