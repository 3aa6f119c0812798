// The upgrade's progress ring: label text and colour, and which colour the ring shows around the clock,
// after a sequence of calls.
#include "setting/schedule.h"

#include <QLabel>
#include <QtTest>

class ProgressRing : public QObject {
    Q_OBJECT

private slots:
    void looks_data()
    {
        QTest::addColumn<QString>("steps"); // pN setProgress(N), wN setWait(N), aN setAngle(N)
        QTest::addColumn<QString>("label"); // text, style sheet colour, point size
        QTest::addColumn<QString>("ring");  // at 10, 80, 100, 170, 190, 230, 260, 350 degrees clockwise
                                            // from 12: T teal, B wait blue, C the label's colour, K black
        QTest::newRow("fresh: unset colour paints black") << "" << "" << "KKKKKKKK";
        QTest::newRow("0%") << "p0" << "0% rgb(255,0,0) 23" << "CCCCCCCC";
        QTest::newRow("25%") << "p25" << "25% rgb(214,52,45) 23" << "TTCCCCCC";
        QTest::newRow("33%: sweep 118") << "p33" << "33% rgb(201,68,60) 23" << "TTTCCCCC";
        QTest::newRow("66%: sweep 237") << "p66" << "66% rgb(147,137,120) 23" << "TTTTTTCC";
        QTest::newRow("100%") << "p100" << "100% rgb(91,209,183) 23" << "TTTTTTTT";
        QTest::newRow("out of range is clamped") << "p2147483647" << "100% rgb(91,209,183) 23" << "TTTTTTTT";
        QTest::newRow("wait at 0") << "p80 w1" << "WAIT rgb(0,80,255) 18" << "BBBBBBBB";
        QTest::newRow("wait at 25") << "w1 a25" << "WAIT rgb(0,80,255) 18" << "TTBBBBBB";
        QTest::newRow("wait at 150: blue over teal") << "w1 a150" << "WAIT rgb(0,80,255) 18" << "BBBBTTTT";
        QTest::newRow("angle 385 is 25") << "w1 a385" << "WAIT rgb(0,80,255) 18" << "TTBBBBBB";
        QTest::newRow("progress in a wait: arcs follow the angle") << "w1 a25 p90" << "90% rgb(108,188,164) 23"
                                                                    << "TTBBBBBB";
        QTest::newRow("ready after progress") << "p50 w0" << "UPDATE rgb(255,0,0) 14" << "CCCCCCCC";
    }
    void looks()
    {
        QFETCH(QString, steps);
        Schedule ring;
        for (const QString& step : steps.split(' ', Qt::SkipEmptyParts)) {
            const int v = step.mid(1).toInt();
            step[0] == 'p' ? ring.setProgress(v) : step[0] == 'w' ? ring.setWait(v) : ring.setAngle(v);
        }
        const QRegularExpressionMatch rgb = QRegularExpression("rgb\\([^)]*\\)").match(ring.label()->styleSheet());
        const QLabel* label = ring.label();
        QTEST(rgb.hasMatch() ? QString("%1 %2 %3").arg(label->text(), rgb.captured()).arg(label->font().pointSize())
                             : label->text(), "label");

        const QImage image = ring.grab().toImage();
        QString seen;
        for (double d : {10, 80, 100, 170, 190, 230, 260, 350}) {
            const double a = qDegreesToRadians(d);
            const QColor c = image.pixelColor(int(45 + 42 * std::sin(a)), int(45 - 42 * std::cos(a)));
            const auto near = [&c](const QColor& w) {
                return qAbs(c.red() - w.red()) + qAbs(c.green() - w.green()) + qAbs(c.blue() - w.blue()) < 60
                    && c.alpha() > 200;
            };
            seen += near(Schedule::Teal) ? 'T' : near(Schedule::WaitBlue) ? 'B' : near(Qt::black) ? 'K'
                  : near(ring.color()) ? 'C' : '?';
        }
        QTEST(seen, "ring");
        QCOMPARE(image.pixelColor(45, 20), ring.palette().color(QPalette::Window)); // nothing is filled
    }

    // A percentage already shown neither restyles the label nor repaints; a new one, or the first after
    // "WAIT" or "UPDATE", does both once. A repaint alone never touches the style sheet.
    void onlyANewPercentageRestylesAndRepaints_data()
    {
        QTest::addColumn<QString>("steps"); // as in looks
        QTest::addColumn<int>("restyles");
        QTest::addColumn<int>("paints");
        QTest::newRow("same percentage 1000 times") << QString("p7 ").repeated(1000) << 1 << 1;
        QTest::newRow("0 to 100 by the packet") << "ramp" << 101 << 101;
        QTest::newRow("clamped values repeat 100") << "p100 p101 p2147483647" << 1 << 1;
        QTest::newRow("the same after a wait") << "p40 w1 p40 p40" << 3 << 2;
        QTest::newRow("the same after ready") << "p0 w0 p0" << 3 << 2;
    }
    void onlyANewPercentageRestylesAndRepaints()
    {
        QFETCH(QString, steps);
        Schedule ring;
        ring.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ring));
        int restyles = 0, paints = 0;
        struct Counter : QObject {
            int* count;
            QEvent::Type type;
            Counter(int* c, QEvent::Type t) : count(c), type(t) {}
            bool eventFilter(QObject*, QEvent* e) override
            {
                *count += e->type() == type;
                return false;
            }
        } restyleCounter(&restyles, QEvent::StyleChange), paintCounter(&paints, QEvent::Paint);
        ring.label()->installEventFilter(&restyleCounter);
        ring.installEventFilter(&paintCounter);
        if (steps == "ramp") {
            // A 10,000,000-byte image in 56-byte packets.
            for (qint64 sent = 48; sent < 10000000 + 56; sent += 56)
                ring.setProgress(int(qMin<qint64>(sent, 10000000) * 100 / 10000000));
        }
        for (const QString& step : steps.split(' ', Qt::SkipEmptyParts)) {
            if (step == "ramp")
                continue;
            const int v = step.mid(1).toInt();
            step[0] == 'p' ? ring.setProgress(v) : step[0] == 'w' ? ring.setWait(v) : ring.setAngle(v);
        }
        QTEST(restyles, "restyles");
        QTEST(paints, "paints");

        const QString sheet = ring.label()->styleSheet();
        const int restyled = restyles;
        for (int i = 0; i < 20; ++i)
            ring.repaint();
        QCOMPARE(restyles, restyled);
        QCOMPARE(ring.label()->styleSheet(), sheet);
    }
};

QTEST_MAIN(ProgressRing)
#include "test_progressring.moc"
