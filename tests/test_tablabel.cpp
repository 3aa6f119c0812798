// The tab head: what a click reports, and the icon and text colour of each state.
#include "widget/qss.h"
#include "widget/tablabel.h"

#include <QTest>

// Whether the area holds a white pixel, or with accent one of the checked colour #6fffe0.
static bool hasPixel(const QImage& image, const QRect& area, bool accent)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (accent ? qAbs(c.red() - 0x6f) < 30 && c.green() > 230 && qAbs(c.blue() - 0xe0) < 30
                       : c.red() > 235 && c.green() > 235 && c.blue() > 235)
                return true;
        }
    return false;
}

class TabHead : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setAppDirPathForTest(QFINDTESTDATA("../appdir")); } // only read
    void cleanupTestCase() { setAppDirPathForTest(QString()); }

    // Only the left button reports: the key, then the shown text (even in another language), then a double click.
    void leftPressReportsKeyThenText()
    {
        TabLabel label(nullptr, "color", "COLOR", "Color", -3, QColor("#000000"));
        QStringList log;
        connect(&label, &TabLabel::emitClicked, [&](const QString& key) { log << "clicked " + key; });
        connect(&label, &TabLabel::emitPressed, [&](const QString& text) { log << "pressed " + text; });
        connect(&label, &TabLabel::emitDoubleClick, [&] { log << "double"; });
        for (Qt::MouseButton button : {Qt::RightButton, Qt::LeftButton}) {
            label.setText3("灯光");
            QTest::mousePress(&label, button);
            QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(2, 2), button, button, Qt::NoModifier);
            QCoreApplication::sendEvent(&label, &dbl);
        }
        QCOMPARE(log, (QStringList{"clicked Color", "pressed 灯光", "double"}));
    }

    // Every shipped tab icon: white when unchecked, accent when checked, and so is the text beside it.
    void checkedStateSwitchesIconAndColour()
    {
        const QRect icon(0, 0, 40, 40);
        for (const char* name : {"key", "color", "shortcuts", "macro", "setting"}) {
            TabLabel label(nullptr, name, "30", name, 0, QColor("#000000"));
            label.resize(160, 40);
            QPalette dark;
            dark.setColor(QPalette::Window, Qt::black);
            label.setPalette(dark);
            label.setAutoFillBackground(true);
            label.setChecked(false);
            QImage image = label.grab().toImage();
            QVERIFY2(hasPixel(image, icon, false) && !hasPixel(image, icon, true), name);
            QCOMPARE(label.textColor(), QColor(Qt::black)); // painting "30" turned it black until the next state

            label.setChecked(true);
            label.setText3("LIGHT");
            image = label.grab().toImage();
            QVERIFY2(hasPixel(image, icon, true) && !hasPixel(image, icon, false), name);
            QVERIFY2(hasPixel(image, QRect(55, 0, 105, 40), true), name); // the text, 15 px after the icon
        }
    }
};

QTEST_MAIN(TabHead)
#include "test_tablabel.moc"
