// The tab head: what a click reports, and the icon and text colour of each state.
#include "widget/qss.h"
#include "widget/tablabel.h"

#include <QTest>

namespace {
bool hasPixel(const QImage& image, const QRect& area, bool accent)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (accent ? qAbs(c.red() - 0x6f) < 30 && c.green() > 230 && qAbs(c.blue() - 0xe0) < 30 // #6fffe0
                       : c.red() > 235 && c.green() > 235 && c.blue() > 235)
                return true;
        }
    return false;
}
QImage grabOnBlack(TabLabel& label)
{
    label.resize(160, 40);
    QPalette dark;
    dark.setColor(QPalette::Window, Qt::black);
    label.setPalette(dark);
    label.setAutoFillBackground(true);
    return label.grab().toImage();
}
const QRect Icon(0, 0, 40, 40);
} // namespace

class TabHead : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setAppDirPathForTest(QFINDTESTDATA("../appdir")); } // only read
    void cleanupTestCase() { setAppDirPathForTest(QString()); }

    void leftPressReportsKeyThenText()
    {
        TabLabel label(nullptr, QStringLiteral("color"), QStringLiteral("COLOR"), QStringLiteral("Color"), -3,
                       QColor(QStringLiteral("#000000")));
        QStringList log;
        connect(&label, &TabLabel::emitClicked, [&](const QString& key) { log << "clicked " + key; });
        connect(&label, &TabLabel::emitPressed, [&](const QString& text) { log << "pressed " + text; });
        connect(&label, &TabLabel::emitDoubleClick, [&] { log << "double"; });
        const auto doubleClick = [&](Qt::MouseButton button) {
            QTest::mousePress(&label, button);
            QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(2, 2), button, button, Qt::NoModifier);
            QCoreApplication::sendEvent(&label, &dbl);
        };
        doubleClick(Qt::RightButton);
        QCOMPARE(log, QStringList());
        label.setText3(QStringLiteral("灯光")); // another language: the key stays
        doubleClick(Qt::LeftButton);
        QCOMPARE(log, (QStringList{"clicked Color", "pressed 灯光", "double"}));
    }

    void checkedStateSwitchesIconAndColour_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* name : {"key", "color", "shortcuts", "macro", "setting"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void checkedStateSwitchesIconAndColour()
    {
        QFETCH(QString, name);
        TabLabel label(nullptr, name, QStringLiteral("30"), name, 0, QColor(QStringLiteral("#000000")));
        label.setChecked(false);
        QImage image = grabOnBlack(label);
        QVERIFY(hasPixel(image, Icon, false) && !hasPixel(image, Icon, true));
        QCOMPARE(label.textColor(), QColor(Qt::black)); // painting "30" turned it black until the next state

        label.setChecked(true);
        label.setText3(QStringLiteral("LIGHT"));
        image = grabOnBlack(label);
        QVERIFY(hasPixel(image, Icon, true) && !hasPixel(image, Icon, false));
        QVERIFY(hasPixel(image, QRect(55, 0, 105, 40), true)); // the text, 15 px after the icon
    }
};

QTEST_MAIN(TabHead)
#include "test_tablabel.moc"
