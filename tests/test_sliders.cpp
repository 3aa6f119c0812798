// The sliders' press-to-jump and wheel steps, the floating value text, and the combo box's wheel.
#include "widget/combobox.h"
#include "widget/cslider.h"
#include "widget/slider.h"

#include <QBoxLayout>
#include <QLabel>
#include <QtTest>

static QWheelEvent wheel(int delta)
{
    return QWheelEvent(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                       Qt::NoScrollPhase, false);
}
static QMouseEvent press(Qt::MouseButton button, int x)
{
    return QMouseEvent(QEvent::MouseButtonPress, QPointF(x, 5), button, button, Qt::NoModifier);
}

class Sliders : public QObject {
    Q_OBJECT

private slots:
    void cSliderArithmetic()
    {
        int p = -1; // press-to-jump, maximum 100, handle 14 px
        QVERIFY(CSlider::jumpPosition(100, 100, 200, 14, &p) && p == 50); // exact half: the left rule
        QVERIFY(CSlider::jumpPosition(150, 100, 200, 14, &p) && p == 76); // 76.75: leans by the handle
        QVERIFY(CSlider::jumpPosition(200, 100, 200, 14, &p) && p == 103); // overshoots; the slider clamps
        QVERIFY(!CSlider::jumpPosition(10, 100, 0, 14, &p));                // no width: no jump
        QVERIFY(!Slider::pressedValue(0, 100, 10, 0, &p));                  // the same for Slider
        // Floating label, slider 200 px, label 20 px: (v - min - 10) * 200 / (max - min)
        QCOMPARE(CSlider::floatingX(70, 20, 120, 200, 20), 80);
        QCOMPARE(CSlider::floatingX(3, 0, 300, 200, 20), -4); // toward zero
        QCOMPARE(CSlider::floatingX(2000000000, 0, 2000000000, 200, 20), 199);
        QCOMPARE(CSlider::floatingX(5, 5, 5, 200, 20), 0); // empty range
    }

    void cSliderFilterJumpsOnLeftPressAndLocksWheel()
    {
        CSlider c;
        c.setMaximum(100);
        QSlider* s = c.slider();
        s->setFixedWidth(200);
        QMouseEvent right = press(Qt::RightButton, 100), left = press(Qt::LeftButton, 100),
                    far = press(Qt::LeftButton, 20);
        QWheelEvent w = wheel(-120);
        QVERIFY(!c.eventFilter(s, &right) && s->sliderPosition() == 0);
        QVERIFY(!c.eventFilter(s, &left) && s->sliderPosition() == 50); // the slider still sees the press
        QVERIFY(!c.eventFilter(s, &w));
        c.setWheelEnabled(false);
        QVERIFY(c.eventFilter(s, &w));

        c.setSliderEnabled(false); // a disabled slider is left alone, the wheel lock too
        QVERIFY(!c.eventFilter(s, &far) && !c.eventFilter(s, &w) && s->sliderPosition() == 50);
        c.setSliderEnabled(true);
        s->setFixedWidth(0);
        QVERIFY(!c.eventFilter(s, &far) && s->sliderPosition() == 50);
    }

    void cSliderValueText()
    {
        CSlider c;
        QVERIFY(c.maximum() == 99 && c.slider()->maximum() == 99 && c.titleLabel()->text().isEmpty());
        c.setTitle(QStringLiteral("Speed "));
        c.setUnit(QStringLiteral(" ms"));
        c.setValue(42); // refreshes without the show-value flag; a move of the handle does not
        c.slider()->setValue(43);
        QCOMPARE(c.titleLabel()->text(), QStringLiteral("Speed 42 ms"));
        c.setShowValue(true);
        c.slider()->setValue(44);
        QCOMPARE(c.titleLabel()->text(), QStringLiteral("Speed 44 ms"));

        c.setDirection(QBoxLayout::LeftToRight); // the side label grows and never narrows
        const int wide = c.valueLabel()->minimumWidth();
        c.setTitle(QString());
        QCOMPARE(c.valueLabel()->text(), QStringLiteral("44 ms"));
        QVERIFY(c.titleLabel()->text().isEmpty() && c.valueLabel()->minimumWidth() == wide);

        c.setDirection(QBoxLayout::TopToBottom);
        c.setMinimum(5);
        c.setMaximum(5); // an empty range: the label at 0 instead of a division by zero
        QCOMPARE(c.titleLabel()->x(), 0);
    }

    // Slider, 308 px long, range 20..120 from 50: a press jumps there, a wheel notch moves a tenth of the
    // maximum; the wheel event is left to the page either way.
    void sliderPressAndWheel_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QPoint>("pressAt"); // null: a wheel turn of delta instead; 0: the wheel switched off
        QTest::addColumn<int>("delta");
        QTest::addColumn<int>("value");
        QTest::newRow("vertical half") << 1 << QPoint(10, 154) << 0 << 70;
        QTest::newRow("vertical last pixel truncates") << 1 << QPoint(10, 307) << 0 << 119;
        QTest::newRow("horizontal quarter") << 0 << QPoint(77, 10) << 0 << 45;
        QTest::newRow("notch back raises") << 1 << QPoint() << -120 << 62;
        QTest::newRow("notch forward lowers") << 0 << QPoint() << 120 << 38;
        QTest::newRow("high-resolution step ignored") << 1 << QPoint() << 60 << 50;
        QTest::newRow("wheel off") << 1 << QPoint() << 0 << 50;
    }
    void sliderPressAndWheel()
    {
        QFETCH(int, orientation);
        QFETCH(QPoint, pressAt);
        QFETCH(int, delta);
        Slider s(nullptr, orientation, 0, delta != 0);
        s.setRange(20, 120);
        s.setValue(50);
        QWheelEvent w = wheel(delta ? delta : -120);
        if (pressAt.isNull()) {
            QCoreApplication::sendEvent(&s, &w);
            QVERIFY(!w.isAccepted());
        } else {
            QTest::mousePress(&s, Qt::LeftButton, Qt::NoModifier, pressAt);
        }
        QTEST(s.value(), "value");
    }

    // Scrolling over a combo box changes nothing and leaves the event to the page.
    void comboBoxIgnoresWheel()
    {
        ComboBox box(nullptr, 10, true);
        box.addItems({"a", "b", "c"});
        box.setCurrentIndex(1);
        for (int delta : {120, -120}) {
            QWheelEvent w = wheel(delta);
            QCoreApplication::sendEvent(&box, &w);
            QVERIFY(!w.isAccepted());
        }
        QCOMPARE(box.currentIndex(), 1);
    }
};

QTEST_MAIN(Sliders)
#include "test_sliders.moc"
