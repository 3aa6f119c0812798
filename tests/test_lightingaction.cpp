// The lighting action record's fields as bits of its 12 bytes, and the reader of the effect defaults file.
#include "readerharness.h"

#include "color/modeparameter.h"
#include "device/records.h"

#include <QRandomGenerator>
#include <QtTest>
#include <cstring>
#include <functional>

namespace {

struct Field {
    std::function<int(const la_t&)> get;
    void (la_t::*set)(int);
    int bits;
};

// In bit order.
const QVector<Field> fields{
    {&la_t::slot, &la_t::setSlot, 6}, {&la_t::effect, &la_t::setEffect, 4}, {&la_t::cycle, &la_t::setCycle, 1},
    {&la_t::colorRandom, &la_t::setColorRandom, 1}, {&la_t::keypressRandom, &la_t::setKeypressRandom, 1},
    {&la_t::direction, &la_t::setDirection, 1}, {&la_t::highestLevel, &la_t::setHighestLevel, 6},
    {&la_t::lowestLevel, &la_t::setLowestLevel, 6}, {&la_t::levelStep, &la_t::setLevelStep, 6},
    {&la_t::totalPeriod, &la_t::setTotalPeriod, 10}, {&la_t::stepDelay, &la_t::setStepDelay, 10},
    {&la_t::highestDelay, &la_t::setHighestDelay, 16}, {&la_t::periodDelay, &la_t::setPeriodDelay, 16}};

QByteArray raw(const la_t& r)
{
    return QByteArray(reinterpret_cast<const char*>(r.bytes), 12);
}

} // namespace

class LightingAction : public QObject {
    Q_OBJECT
    ReaderAppDir m_app;

private slots:
    // A random record rebuilt field by field over its bits 52-63 is itself; a set changes its own field only,
    // however often, and never bits 52-63. Setters keep the low bits: no effect list selection (-1) stores
    // 15, entry 17 stores 1.
    void fieldsOwnTheirBitsOnly()
    {
        QRandomGenerator random(7);
        for (int round = 0; round < 200; ++round) {
            quint32 words[3];
            random.fillRange(words);
            la_t r, rebuilt{};
            std::memcpy(r.bytes, words, sizeof r.bytes);
            rebuilt.bytes[6] = r.bytes[6] & 0xF0;
            rebuilt.bytes[7] = r.bytes[7];
            for (const Field& f : fields)
                (rebuilt.*f.set)(f.get(r));
            QCOMPARE(raw(rebuilt), raw(r));
            for (const Field& f : fields) {
                const la_t before = r;
                const int v = int(random.generate() & ((1u << f.bits) - 1));
                (r.*f.set)(v);
                QCOMPARE(f.get(r), v);
                for (const Field& other : fields)
                    QVERIFY(&other == &f || other.get(r) == other.get(before));
                QCOMPARE(r.bytes[6] >> 4 | r.bytes[7] << 4, before.bytes[6] >> 4 | before.bytes[7] << 4);
            }
        }
        la_t r{};
        r.bytes[6] = 0xC0, r.bytes[7] = 0xAB;
        const int values[] = {5, 9, 1, 0, 1, 1, 45, 18, 7, 1000, 517, 0x1234, 0xBEEF};
        for (int i = 0; i < fields.size(); ++i)
            (r.*fields[i].set)(values[i]);
        QCOMPARE(raw(r).toHex(' '), QByteArray("45 76 2b 1d e8 17 c8 ab 34 12 ef be"));
        r.setEffect(-1);
        QCOMPARE(r.effect(), 15);
        r.setEffect(17);
        QCOMPARE(r.effect(), 1);
    }

    // Inside each LEDMODE, item<i> is read only at position i; "fails" when the reader fails.
    void readsItemsByPosition_data()
    {
        QTest::addColumn<QByteArray>("xml"); // null: no file
        QTest::addColumn<QString>("read");
        const QByteArray a = "<item0 text=\"A\" mode=\"0\"/>", b = "<item1 text=\"B\" mode=\"1\"/>";
        QTest::newRow("by position") << "<R>\n <LEDMODE>\n  " + a + "\n  " + b + "\n </LEDMODE>\n</R>" << "A:0 B:1";
        QTest::newRow("comment first") << "<R><LEDMODE><!-- first -->" + a + b + "</LEDMODE></R>" << "";
        QTest::newRow("text first") << "<R><LEDMODE>x" + a + b + "</LEDMODE></R>" << "";
        QTest::newRow("out of step") << "<R><LEDMODE><item5 text=\"C\"/>" + b + "</LEDMODE></R>" << "B:1";
        QTest::newRow("two LEDMODE") << "<R><LEDMODE>" + a + "</LEDMODE><OTHER>" + a + "</OTHER><LEDMODE>" + a + b
                                            + "</LEDMODE></R>"
                                     << "A:0 A:0 B:1";
        QTest::newRow("missing or non-numeric mode")
            << QByteArray("<R><LEDMODE><item0 text=\"M\"/><item1 text=\"N\" mode=\"2x\"/></LEDMODE></R>") << "M:0 N:0";
        QTest::newRow("malformed") << QByteArray("<R><LEDMODE>") << "fails";
        QTest::newRow("missing file") << QByteArray() << "fails";
    }
    void readsItemsByPosition()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, read);
        QVERIFY(m_app.put("config/modeParameter.xml", xml));
        if (QByteArray(QTest::currentDataTag()) == "malformed")
            QTest::ignoreMessage(QtDebugMsg,
                                 QRegularExpression("^init combo box data, parse file failed: \".*/config/modeParameter\\.xml\" Ln:1, Col:\\d+:."));
        QVector<ModeParameter> list;
        const int result = readModeParameters(m_app.filePath("config/modeParameter.xml"), &list);
        QStringList got;
        for (const ModeParameter& m : list)
            got << m.text + ':' + QString::number(m.mode);
        QCOMPARE(result == -1 && list.isEmpty() ? QStringLiteral("fails") : got.join(' '), read);
    }
};

QTEST_MAIN(LightingAction)
#include "test_lightingaction.moc"
