// Key function, macro and lighting action records against the emulated keyboard, macro frames included.
#include "wire.h"
#include "keyboardfixture.h"

#include <QTest>
#include <QVector>
#include <cstring>
#include <memory>
#include <numeric>

namespace {
QByteArray joined(const std::vector<QByteArray>& records)
{
    return std::accumulate(records.begin(), records.end(), QByteArray());
}

// Length and offset of every macro frame packet written, in order.
QVector<int> framePackets(const sim::KeyboardPtr& kb)
{
    QVector<int> out;
    for (const QByteArray& r : sentReports(kb, 0x50, 0x40))
        out << (uint8_t(r[2]) | uint8_t(r[3]) << 8) << (uint8_t(r[4]) | uint8_t(r[5]) << 8);
    return out;
}

// n frames of counting bytes, and a spare one so that data() is never null.
std::vector<mframe_t> someFrames(int n)
{
    std::vector<mframe_t> frames(size_t(n) + 1);
    uint8_t* p = reinterpret_cast<uint8_t*>(frames.data());
    std::iota(p, p + n * 10, uint8_t(1));
    return frames;
}
}

class KeyRecords : public QObject {
    Q_OBJECT
    std::unique_ptr<KeyboardFixture> f;
    Device* d = nullptr;

private slots:
    // Opens a keyboard of 8 records of each kind and reads its macro heads.
    void init()
    {
        sim::KeyboardConfig board;
        board.keyFunctions = board.macros = board.lightingActions = 8;
        f = std::make_unique<KeyboardFixture>(board);
        d = f->device;
        QVERIFY(f->open() && d->getKMInfo() == DeviceResult::Ok && d->getAllMacroHead() == DeviceResult::Ok);
    }
    void cleanup() { f.reset(), sim::reset(); }

    // Tables are read whole; a key function count of 0, or no lighting answer, leaves them empty and unread.
    void recordTablesFollowTheReportedCount()
    {
        for (uint32_t e : {d->getKFInfo(), d->getAllKF(), d->getLMInfo(), d->getLAInfo(), d->getAllLA()})
            QCOMPARE(e, DeviceResult::Ok);
        QVERIFY(!d->m_pKFs.empty() && !d->m_pLAs.empty() && !d->m_pLMMs.empty()); // Loading checks their bytes
        f->kb->patchReply(0x40, 0x00, 8, QByteArray(1, '\0'), 1);
        f->kb->patchReply(0x60, 0x20, 0, QByteArray(1, '\x61'), 1); // answered by group 0x61, not 0x60
        QCOMPARE(d->getKFInfo(), DeviceResult::Ok);
        QCOMPARE(d->getLAInfo(), DeviceResult::Ok);
        QVERIFY(d->m_pKFs.empty() && d->m_pLAs.empty() && d->m_pLMMs.empty());
        QCOMPARE(QList<int>({d->m_nLATotalNum, d->m_nlm}), QList<int>({0, 0}));
        const int writes = f->kb->writes();
        QCOMPARE(d->getAllKF(), DeviceResult::Ok);
        QCOMPARE(d->getAllLA(), DeviceResult::Ok);
        QCOMPARE(f->kb->writes(), writes);
    }

    void keyFunctionWriteFailureIsReportedOnlyForAFailedWrite()
    {
        const kf_t record{{2}};
        f->kb->answerStatus(0x40, 0x20, 3, 1);
        QCOMPARE(d->setKFItem(&record), uint32_t(3));
        QVERIFY(f->writeFailures.isEmpty());
        f->kb->failWrite(1);
        QCOMPARE(d->setKFItem(&record), DeviceResult::WriteFailed);
        QCOMPARE(d->setKFItem(&record), DeviceResult::Ok); // the failed write left the request lock free
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
        const std::vector<mframe_t> frames = someFrames(count);
        QCOMPARE(d->writeMacroData(1, count, frames.data()), DeviceResult::Ok);
        QCOMPARE(framePackets(f->kb), packets);
        const QByteArray written = bytes(frames.data(), size_t(count) * 10);
        QCOMPARE(f->kb->state().macroFrames[1], written);
        std::memset(d->m_frames.data(), 0xFF, sizeof d->m_frames);
        QCOMPARE(d->readMacroData(1), DeviceResult::Ok);
        QCOMPARE(bytes(d->m_frames.data(), sizeof d->m_frames), written + QByteArray((512 - count) * 10, '\0'));
    }

    void unacknowledgedFramesAreSentAgainAtMostThreeTimes_data()
    {
        QTest::addColumn<int>("wrongAcks"); // -1: never acknowledged, a time-out
        QTest::addColumn<QVector<int>>("packets");
        QTest::newRow("two wrong acknowledgements") << 2 << QVector<int>{50, 0, 50, 0, 50, 0, 0, 5};
        QTest::newRow("never acknowledged") << -1 << QVector<int>{50, 0, 50, 0, 50, 0, 50, 0};
    }

    void unacknowledgedFramesAreSentAgainAtMostThreeTimes()
    {
        QFETCH(int, wrongAcks);
        QFETCH(QVector<int>, packets);
        f->kb->patchReply(0x50, 0x40, 4, QByteArray("\x09\x00", 2), wrongAcks);
        const std::vector<mframe_t> frames = someFrames(5);
        QCOMPARE(d->writeMacroData(1, 5, frames.data()), wrongAcks < 0 ? DeviceResult::Timeout : DeviceResult::Ok);
        QCOMPARE(framePackets(f->kb), packets); // no closing packet after a failed transfer
    }

    // A keyboard answering each report inside its wait but slowly (some 2 s) is given up on at the
    // transfer's bound in all: a time-out, and no more reports asked for.
    void slowTransfersEndAtTheirBoundInAll_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("reports"); // the transfer's reports; fewer are sent
        QTest::newRow("macro frames read") << "read" << 5;
        QTest::newRow("macro frames written") << "write" << 6;
        QTest::newRow("key function records read") << "records" << 8;
    }
    void slowTransfersEndAtTheirBoundInAll()
    {
        QFETCH(QString, what);
        QFETCH(int, reports);
        const std::vector<mframe_t> frames = someFrames(25);
        QVERIFY(d->writeMacroData(1, 25, frames.data()) == DeviceResult::Ok && d->getKFInfo() == DeviceResult::Ok);
        const int writes = f->kb->writes();
        f->kb->setReportDelay(1000);
        const uint32_t e = what == "read"    ? d->readMacroData(1)
                           : what == "write" ? d->writeMacroData(1, 25, frames.data())
                                             : d->getAllKF();
        const int sent = f->kb->writes() - writes;
        QVERIFY2(e == DeviceResult::Timeout && sent > 0 && sent < reports, qPrintable(QString::number(sent)));
        QCOMPARE(d->m_pKMs[1].frameCount(), 25);
    }

    void macroRequestsOutsideTheTableOrFrameAreaSendNothing()
    {
        const int writes = f->kb->writes();
        const std::vector<mframe_t> many = someFrames(513);
        QCOMPARE(d->writeMacroData(0, 513, many.data()), DeviceResult::BadIndex);
        QCOMPARE(d->readMacroData(8), DeviceResult::BadIndex);
        QCOMPARE(d->deleteMacro(-1), DeviceResult::BadIndex);
        QCOMPARE(f->kb->writes(), writes);
    }

    void deletedMacroHeadKeepsOnlyItsSlot()
    {
        QCOMPARE(d->deleteMacro(7), DeviceResult::Ok);
        const QByteArray emptied = QByteArray(1, 7) + QByteArray(23, '\0');
        QCOMPARE(sentReports(f->kb, 0x50, 0x02).value(0).mid(8, 24), emptied);
        QCOMPARE(bytes(d->m_pKMs), joined(f->kb->state().macroHeads));
    }

    void refusedSelectionStillSelectsButStopsTheTransfer()
    {
        f->kb->answerStatus(0x50, 0x03, 1, 2);
        QCOMPARE(d->readMacroData(4), uint32_t(1));
        QCOMPARE(d->m_curkm, uint8_t(4));
        const std::vector<mframe_t> frames = someFrames(3);
        QCOMPARE(d->writeMacroData(5, 3, frames.data()), uint32_t(1));
        QCOMPARE(d->m_curkm, uint8_t(5));
        QVERIFY(sentReports(f->kb, 0x50, 0x30).isEmpty() && sentReports(f->kb, 0x50, 0x40).isEmpty());
    }

    // The closing packet's status is the write's result; refused, the keyboard keeps its frame count.
    void refusedClosingPacketFailsTheWrite()
    {
        f->kb->answerClosingStatus(7, 1);
        const QByteArray before = f->kb->state().macroHeads[2];
        const std::vector<mframe_t> frames = someFrames(3);
        QCOMPARE(d->writeMacroData(2, 3, frames.data()), uint32_t(7));
        QCOMPARE(framePackets(f->kb), QVector<int>({30, 0, 0, 3}));
        QCOMPARE(f->kb->state().macroHeads[2], before);
        QCOMPARE(bytes(&d->m_pKMs[2], sizeof(km_t)), before);
    }
};

QTEST_GUILESS_MAIN(KeyRecords)
#include "test_keyrecords.moc"
