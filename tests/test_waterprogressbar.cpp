// The wave indicator: percentage, fill level, the drifting phase, and empty ranges that must not divide.
// With TESSARK_WATER_SHOT=<file.png> it also writes a picture of an indicator at 62%.
#include "widget/waterprogressbar.h"

#include <QTest>

class WaveIndicator : public QObject {
    Q_OBJECT

private slots:
    void percentLevelAndPaint_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("percent");
        QTest::addColumn<double>("level"); // from the top of a widget 60 high
        QTest::addColumn<QString>("water"); // inner circle at y = 47 and y = 13: W water, . none
        QTest::newRow("62 of 100") << 62 << 0 << 100 << 62 << 22.8 << "W.";
        QTest::newRow("2 of 3 truncates") << 2 << 0 << 3 << 66 << 20.0 << "W.";
        QTest::newRow("empty") << 0 << 0 << 100 << 0 << 60.0 << "..";
        QTest::newRow("full") << 100 << 0 << 100 << 100 << 0.0 << "WW";
        QTest::newRow("above the maximum fills") << 150 << 0 << 100 << 150 << -30.0 << "WW";
        QTest::newRow("the minimum plays no part in the percentage") << 60 << 20 << 100 << 60 << 30.0 << "W.";
        QTest::newRow("empty range shows empty") << 7 << 7 << 7 << 100 << 60.0 << "..";
        QTest::newRow("maximum 0 shows 0%") << 5 << -10 << 0 << 0 << -30.0 << "WW";
    }
    void percentLevelAndPaint()
    {
        WaterProgressbar bar;
        QFETCH(int, value);
        bar.value = value;
        QFETCH(int, minimum);
        bar.minimum = minimum;
        QFETCH(int, maximum);
        bar.maximum = maximum;
        QTEST(bar.percent(), "percent");
        QTEST(bar.waterLevel(60), "level");
        bar.resize(80, 60); // a circle of diameter 60, 10 px from each side; the inner circle 10 px inside it
        const QImage image = bar.grab().toImage();
        QString seen;
        for (int y : {47, 13})
            seen += image.pixelColor(40, y) == QColor(Qt::gray) ? '.' : 'W';
        QTEST(seen, "water");
        if (value == 62 && qEnvironmentVariableIsSet("TESSARK_WATER_SHOT")) {
            bar.resize(200, 200);
            QVERIFY(bar.grab().save(qEnvironmentVariable("TESSARK_WATER_SHOT"), "PNG"));
        }
    }

    // Each paint steps the phase by 0.6, back to 0 once above half the width.
    void everyPaintMovesThePhase()
    {
        WaterProgressbar bar;
        bar.resize(80, 60);
        QList<double> phases;
        for (int i = 0; i < 3; ++i) {
            bar.grab();
            phases << bar.phase;
        }
        QCOMPARE(phases, (QList<double>{0.0, 0.6, 1.2})); // from 50, above half the width, back to 0
    }
};

QTEST_MAIN(WaveIndicator)
#include "test_waterprogressbar.moc"
