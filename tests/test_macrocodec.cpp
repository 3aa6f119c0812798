// Key events to keyboard frames and back: the encoder, the two decoders and the 512-frame bound.
#include "macro/macrocodec.h"

#include <QtTest>
#include <memory>
#include <vector>

namespace {

// Events as "+e1/0 -4/50:t2": down (+) or up (-), hex code, delay, optional other type.
QVector<DataKey*> parseEvents(const QString& text)
{
    QVector<DataKey*> out;
    for (const QString& word : text.split(' ', Qt::SkipEmptyParts)) {
        auto* e = new DataKey(word.startsWith('+') ? 1 : 0);
        const QStringList parts = word.mid(1).split(QRegularExpression("[/:]"));
        e->code = uint16_t(parts.value(0).toUInt(nullptr, 16));
        e->delay = uint16_t(parts.value(1).toUInt());
        e->type = parts.size() > 2 ? uint16_t(parts[2].mid(1).toUInt()) : 1;
        out << e;
    }
    return out;
}

QString eventText(const QVector<DataKey*>& events)
{
    QStringList out;
    for (const DataKey* e : events)
        out << QString("%1%2/%3%4")
                   .arg(e->status ? '+' : '-')
                   .arg(e->code, 0, 16)
                   .arg(e->delay)
                   .arg(e->type == 1 && e->stype == 0 ? QString() : QString(":t%1").arg(e->type));
    return out.join(' ');
}

// Frames as "ts:report" with the 8-byte report in hex, as the emulator's play command takes them.
std::vector<mframe_t> parseFrames(const QString& text)
{
    std::vector<mframe_t> out;
    for (const QString& word : text.split(' ', Qt::SkipEmptyParts)) {
        mframe_t f{};
        f.setTimestamp(uint16_t(word.section(':', 0, 0).toUInt()));
        const QByteArray report = QByteArray::fromHex(word.section(':', 1).toLatin1());
        std::memcpy(f.report(), report.constData(), size_t(qMin(report.size(), 8)));
        out.push_back(f);
    }
    return out;
}

QString frameText(const mframe_t* frames, int count)
{
    QStringList out;
    for (int i = 0; i < count; ++i)
        out << QString::number(frames[i].timestamp()) + ':'
                   + QByteArray(reinterpret_cast<const char*>(frames[i].report()), 8).toHex();
    return out.join(' ');
}

QString encoded(const QVector<DataKey*>& events, uint32_t* needed = nullptr)
{
    std::vector<mframe_t> frames(macrocodec::MaxFrames);
    const uint32_t n = macrocodec::encodeFrames({events.begin(), events.end()}, frames.data(), int(frames.size()), needed);
    return frameText(frames.data(), int(n));
}

QString decoded(const QString& frameList)
{
    const std::vector<mframe_t> frames = parseFrames(frameList);
    QVector<DataKey*> events;
    macrocodec::decodeFrames(int(frames.size()), frames.data(), &events);
    const QString text = eventText(events);
    qDeleteAll(events);
    return text;
}

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

class MacroCodecTest : public QObject {
    Q_OBJECT
    QtMessageHandler m_testHandler = nullptr;

private slots:
    void initTestCase() { m_testHandler = qInstallMessageHandler(quiet); }

    void encoderFramesEvents_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("frames");
        QTest::newRow("Shift+A: a frame per delay") << "+e1/0 +4/0 -4/50 -e1/0" << "0:0200040000000000 50:0000000000000000";
        QTest::newRow("the opening event's delay stamps the frame") << "+4/30 +5/0" << "30:0000040500000000";
        QTest::newRow("a seventh key is dropped") << "+4/0 +5/0 +6/0 +7/0 +8/0 +9/0 +a/0" << "0:0000040506070809";
        QTest::newRow("a freed slot is the first taken") << "+4/0 +5/0 +6/0 +7/0 -6/0 +8/0" << "0:0000040508070000";
        QTest::newRow("a repeated press still opens a frame") << "+4/0 +4/20" << "0:0000040000000000 20:0000040000000000";
        QTest::newRow("other types frame by delay only") << "+4/0 +5/10:t2" << "0:0000040000000000 10:0000040000000000";
        QTest::newRow("modifier codes past bit 7 change nothing") << "+e7/0 +e8/0 +ff/0" << "0:8000000000000000";
        QTest::newRow("code 0 and unheld releases change nothing") << "+0/5 -0/0 -4/0" << "5:0000000000000000";
        QTest::newRow("no events") << "" << "";
    }
    void encoderFramesEvents()
    {
        QFETCH(QString, events);
        QFETCH(QString, frames);
        const QVector<DataKey*> list = parseEvents(events);
        uint32_t needed = 99;
        QCOMPARE(encoded(list, &needed), frames);
        QCOMPARE(int(needed), frames.isEmpty() ? 0 : frames.count(' ') + 1);
        qDeleteAll(list);
    }

    void decodersPlaceTheTimeStamp_data()
    {
        QTest::addColumn<QString>("frames");
        QTest::addColumn<QString>("fromKeyboard"); // the frame decoder
        QTest::addColumn<QString>("live");         // the live decoder, one frame after another
        QTest::newRow("Ctrl and A at once") << "100:0100040000000000" << "+e0/100 +4/0" << "+e0/100 +4/100";
        QTest::newRow("Ctrl and Shift at once") << "20:0300000000000000" << "+e0/20 +e1/0" << "+e0/20 +e1/20";
        QTest::newRow("an unchanged frame is lost with its time stamp")
            << "10:0000040000000000 20:0000040000000000 5:0000000000000000" << "+4/10 -4/5" << "+4/10 -4/5";
        QTest::newRow("modifiers, then releases, then presses")
            << "0:0200040500000000 30:0000050600000000" << "+e1/0 +4/0 +5/0 -e1/30 -4/0 +6/0"
            << "+e1/0 +4/0 +5/0 -e1/30 -4/30 +6/0";
        QTest::newRow("the reserved byte is ignored") << "7:00ff000000000000" << "" << "";
    }
    void decodersPlaceTheTimeStamp()
    {
        QFETCH(QString, frames);
        QFETCH(QString, fromKeyboard);
        QFETCH(QString, live);
        QCOMPARE(decoded(frames), fromKeyboard);
        uint8_t previous[8] = {};
        QVector<DataKey*> events;
        for (const mframe_t& f : parseFrames(frames))
            macrocodec::decodeLiveFrame(f.bytes, previous, &events);
        QCOMPARE(eventText(events), live);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(previous), 8).toHex(), frames.section(':', -1).toLatin1());
        qDeleteAll(events);
    }

    // Lists as the frame decoder writes them come back unchanged from an encoding.
    void decodingUndoesEncoding_data()
    {
        QTest::addColumn<QString>("events");
        QTest::newRow("Ctrl+C") << "+e0/0 +6/0 -6/80 -e0/40";
        QTest::newRow("one event per frame") << "+4/1 +e1/2 -4/3 +5/65535 -e1/9 -5/1";
        QTest::newRow("chords: modifiers, releases, presses") << "+e0/5 +e2/0 +4/0 +5/0 -e2/20 -4/0 +6/0 -e0/7 -6/0 -5/0"; // slot order: 6 took the slot 4 left
        QTest::newRow("six keys held") << "+4/0 +5/0 +6/0 +7/0 +8/0 +9/0 -4/10 -5/0 -6/0 -7/0 -8/0 -9/0";
    }
    void decodingUndoesEncoding()
    {
        QFETCH(QString, events);
        const QVector<DataKey*> list = parseEvents(events);
        QCOMPARE(decoded(encoded(list)), events);
        qDeleteAll(list);
    }

    // Buffers are exactly 512 frames long, so a sanitizer build catches any access past them.
    void longMacrosStayInsideTheFrameArea()
    {
        QVector<DataKey*> list;
        for (int i = 0; i < 600; ++i) {
            list << new DataKey(i % 2 == 0 ? 1 : 0);
            list.last()->code = 0x04;
            list.last()->type = 1;
            list.last()->delay = 1;
        }
        auto frames = std::make_unique<mframe_t[]>(macrocodec::MaxFrames);
        uint32_t needed = 0;
        QCOMPARE(macrocodec::encodeFrames({list.begin(), list.end()}, frames.get(), macrocodec::MaxFrames, &needed),
                 uint32_t(macrocodec::MaxFrames));
        QCOMPARE(needed, uint32_t(600));
        QCOMPARE(frameText(frames.get() + 510, 2), QString("1:0000040000000000 1:0000000000000000"));
        QCOMPARE(macrocodec::encodeFrames({list.begin(), list.end()}, nullptr, 512, &needed), uint32_t(0));
        QCOMPARE(needed, uint32_t(600));

        QVector<DataKey*> events;
        macrocodec::decodeFrames(1023, frames.get(), &events); // a head may claim up to 1023
        QCOMPARE(events.size(), macrocodec::MaxFrames);
        qDeleteAll(events);
        qDeleteAll(list);
    }

    void stepsAreLogged()
    {
        qInstallMessageHandler(m_testHandler);
        const QVector<DataKey*> list = parseEvents("+e1/0 +4/0");
        QTest::ignoreMessage(QtDebugMsg, "indey=0000 ts=00000000 [02-00-00-00-00-00-00-00]");
        QTest::ignoreMessage(QtDebugMsg, "indey=0000 ts=00000000 [02-00-04-00-00-00-00-00]");
        QTest::ignoreMessage(QtDebugMsg, "fi=0");
        encoded(list);
        QTest::ignoreMessage(QtDebugMsg, "index=0000 ts=00000300 [01-00-05-00-00-00-00-00]");
        decoded("300:0100050000000000");
        QTest::ignoreMessage(QtDebugMsg, "RECV ts=00000300 [01-00-05-00-00-00-00-00]");
        uint8_t previous[8] = {};
        QVector<DataKey*> events;
        macrocodec::decodeLiveFrame(parseFrames("300:0100050000000000").front().bytes, previous, &events);
        qDeleteAll(events);
        qDeleteAll(list);
        qInstallMessageHandler(quiet);
    }
};

QTEST_GUILESS_MAIN(MacroCodecTest)
#include "test_macrocodec.moc"
