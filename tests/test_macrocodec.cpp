// Key events to keyboard frames and back: the encoder, the two decoders and the 512-frame bound.
#include "macro/macrocodec.h"

#include <QtTest>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Events as "+e1/0 -4/50:t2": down (+) or up (-), hex code, delay, optional other type.
QVector<DataKey*> parseEvents(const QString& text)
{
    QVector<DataKey*> out;
    for (const QString& word : text.split(' ', Qt::SkipEmptyParts)) {
        const QStringList parts = word.mid(1).split(QRegularExpression("[/:]"));
        out << new DataKey(word.startsWith('+') ? 1 : 0);
        out.last()->code = uint16_t(parts.value(0).toUInt(nullptr, 16));
        out.last()->delay = uint16_t(parts.value(1).toUInt());
        out.last()->type = parts.size() > 2 ? uint16_t(parts[2].mid(1).toUInt()) : 1;
    }
    return out;
}

// Writes the events as parseEvents reads them, and deletes them.
QString eventText(const QVector<DataKey*>& events)
{
    QStringList out;
    for (const DataKey* e : events)
        out << QString("%1%2/%3").arg(e->status ? '+' : '-').arg(e->code, 0, 16).arg(e->delay)
                   + (e->type == 1 && e->stype == 0 ? QString() : QString(":t%1").arg(e->type));
    qDeleteAll(events);
    return out.join(' ');
}

// Frames as "ts:report" with the 8-byte report in hex, as the emulator's play command takes them.
std::vector<mframe_t> parseFrames(const QString& text)
{
    std::vector<mframe_t> out;
    for (const QString& word : text.split(' ', Qt::SkipEmptyParts)) {
        out.emplace_back();
        out.back().setTimestamp(uint16_t(word.section(':', 0, 0).toUInt()));
        std::memcpy(out.back().report(), QByteArray::fromHex(word.section(':', 1).toLatin1()).leftJustified(8, 0, true), 8);
    }
    return out;
}

// Encodes into a buffer of exactly 512 frames (a sanitizer build catches any write past it), or none.
QString encoded(const QString& text, uint32_t* needed = nullptr, bool buffer = true)
{
    const QVector<DataKey*> events = parseEvents(text);
    const auto frames = std::make_unique<mframe_t[]>(macrocodec::MaxFrames);
    const uint32_t n = macrocodec::encodeFrames({events.begin(), events.end()}, buffer ? frames.get() : nullptr,
                                                macrocodec::MaxFrames, needed);
    qDeleteAll(events);
    QStringList out;
    for (uint32_t i = 0; i < n; ++i)
        out << QString::number(frames[i].timestamp()) + ':'
                   + QByteArray(reinterpret_cast<const char*>(frames[i].report()), 8).toHex();
    return out.join(' ');
}

QString decoded(const QString& frameList)
{
    const std::vector<mframe_t> frames = parseFrames(frameList);
    QVector<DataKey*> events;
    macrocodec::decodeFrames(int(frames.size()), frames.data(), &events);
    return eventText(events);
}

} // namespace

class MacroCodecTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); } // the codec logs every step

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
        uint32_t needed = 99;
        QCOMPARE(encoded(events, &needed), frames);
        QCOMPARE(int(needed), frames.isEmpty() ? 0 : frames.count(' ') + 1);
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
        QTest::newRow("modifiers, then releases, then presses") << "0:0200040500000000 30:0000050600000000"
            << "+e1/0 +4/0 +5/0 -e1/30 -4/0 +6/0" << "+e1/0 +4/0 +5/0 -e1/30 -4/30 +6/0";
        QTest::newRow("the reserved byte is ignored") << "7:00ff000000000000" << "" << "";
    }
    void decodersPlaceTheTimeStamp()
    {
        QFETCH(QString, frames);
        QTEST(decoded(frames), "fromKeyboard");
        uint8_t previous[8] = {};
        QVector<DataKey*> events;
        for (const mframe_t& f : parseFrames(frames))
            macrocodec::decodeLiveFrame(f.bytes, previous, &events);
        QTEST(eventText(events), "live");
        QCOMPARE(QByteArray(reinterpret_cast<char*>(previous), 8).toHex(), frames.section(':', -1).toLatin1());
    }

    void decodingUndoesEncoding_data()
    {
        QTest::addColumn<QString>("events"); // as the frame decoder writes them
        QTest::newRow("Ctrl+C") << "+e0/0 +6/0 -6/80 -e0/40";
        QTest::newRow("one event per frame") << "+4/1 +e1/2 -4/3 +5/65535 -e1/9 -5/1";
        QTest::newRow("chords: modifiers, releases, presses") << "+e0/5 +e2/0 +4/0 +5/0 -e2/20 -4/0 +6/0 -e0/7 -6/0 -5/0"; // slot order: 6 took the slot 4 left
        QTest::newRow("six keys held") << "+4/0 +5/0 +6/0 +7/0 +8/0 +9/0 -4/10 -5/0 -6/0 -7/0 -8/0 -9/0";
    }
    void decodingUndoesEncoding()
    {
        QFETCH(QString, events);
        QCOMPARE(decoded(encoded(events)), events);
    }

    // 600 frames: the encoder fills its 512 and tells the whole count, or only counts without a buffer;
    // a head may claim up to 1023 frames, of which the first 512 are decoded, logged.
    void longMacrosStayInsideTheFrameArea()
    {
        const QString events = QString("+4/1 -4/1 ").repeated(300);
        uint32_t needed = 0;
        const QString frames = encoded(events, &needed);
        QCOMPARE(frames.count(' ') + 1, macrocodec::MaxFrames);
        QVERIFY(frames.endsWith("1:0000040000000000 1:0000000000000000"));
        QCOMPARE(needed, uint32_t(600));
        QCOMPARE(encoded(events, &needed, false), QString());
        QCOMPARE(needed, uint32_t(600));
        QTest::ignoreMessage(QtWarningMsg, "macro of 1023 frames: decoding the first 512");
        const QString claimed = frames + QString(" 1:ffffffffffffffff").repeated(1023 - macrocodec::MaxFrames);
        QCOMPARE(decoded(claimed), decoded(frames)); // the frames past 512 would show
    }
};

QTEST_GUILESS_MAIN(MacroCodecTest)
#include "test_macrocodec.moc"
