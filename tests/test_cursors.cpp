// The painting cursors: each state's size and hot spot whatever the drawing, and the shipped pictures.
#include "tempappdir.h"
#include "widget/qss.h"

#include <QSvgRenderer>
#include <QTest>
#include <QWidget>

namespace {
// Square drawings, and a small green dot for the colour: sizes come from the code, not from the files.
const QByteArray Square = R"(<svg xmlns="http://www.w3.org/2000/svg" width="40" height="40"><rect width="40" height="40" fill="#00f"/></svg>)";
const QByteArray GreenDot = R"(<svg xmlns="http://www.w3.org/2000/svg" width="30" height="30"><circle cx="15" cy="15" r="5" fill="#0f0"/></svg>)";
} // namespace

class Cursors : public QObject {
    Q_OBJECT
    TempAppDir m_dir;

private slots:
    void initTestCase()
    {
        for (const char* file : {"down.svg", "up.svg", "del.svg", "mode.svg"})
            QVERIFY(m_dir.write(QStringLiteral("images/Cursor/") + QLatin1String(file), Square));
        QVERIFY(m_dir.write(QStringLiteral("images/Cursor/color.svg"), GreenDot));
        setAppDirPathForTest(m_dir.path());
    }
    void cleanupTestCase() { setAppDirPathForTest(QString()); }

    void statesSetSizeAndHotSpot_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<QSize>("size"); // empty: the cursor is unset
        QTest::addColumn<QPoint>("hotSpot");
        QTest::newRow("down") << 1 << "" << QSize(26, 33) << QPoint(13, 16);
        QTest::newRow("up") << 2 << "" << QSize(26, 33) << QPoint(13, 16);
        QTest::newRow("delete") << 3 << "" << QSize(26, 33) << QPoint(13, 16);
        QTest::newRow("colour red") << 5 << "#ff0000" << QSize(20, 20) << QPoint(10, 10);
        QTest::newRow("colour not valid: black") << 5 << "#zz" << QSize(20, 20) << QPoint(10, 10);
        QTest::newRow("mode") << 6 << "" << QSize(26, 26) << QPoint(13, 13);
        QTest::newRow("0 unsets") << 0 << "" << QSize() << QPoint();
        QTest::newRow("7 unsets") << 7 << "" << QSize() << QPoint();
        QTest::newRow("-1 unsets") << -1 << "" << QSize() << QPoint();
    }
    void statesSetSizeAndHotSpot()
    {
        QFETCH(int, status);
        QFETCH(QString, colour);
        QFETCH(QSize, size);
        QFETCH(QPoint, hotSpot);
        QWidget window; // a top-level widget keeps WA_SetCursor when unset: test on a child
        QWidget widget(&window);
        widget.setCursor(Qt::CrossCursor);
        const Qss qss;
        qss.setCursorStatus(&widget, status, colour);
        if (size.isEmpty()) {
            QVERIFY(!widget.testAttribute(Qt::WA_SetCursor));
            return;
        }
        QCOMPARE(widget.cursor().pixmap().size(), size);
        QCOMPARE(widget.cursor().hotSpot(), hotSpot);
        if (status == Qss::CursorColor) { // a solid square: the dot and the transparent corners are gone
            const QImage image = widget.cursor().pixmap().toImage();
            const QColor expected = colour == "#ff0000" ? QColor(Qt::red) : QColor(Qt::black);
            for (const QPoint p : {QPoint(0, 0), QPoint(10, 10), QPoint(19, 19)})
                QCOMPARE(image.pixelColor(p), expected);
        }
        qss.setCursorStatus(&widget, Qss::CursorKeep); // leaves whatever is set
        QCOMPARE(widget.cursor().pixmap().size(), size);
    }

    void shippedPicturesAreValidSvg()
    {
        const QString images = QFINDTESTDATA("../appdir/images");
        QStringList files{"Cursor/down.svg", "Cursor/up.svg", "Cursor/del.svg", "Cursor/color.svg", "Cursor/mode.svg"};
        for (const char* tab : {"key", "color", "shortcuts", "macro", "setting"})
            files << QLatin1String(tab) + QStringLiteral(".svg") << QLatin1String(tab) + QStringLiteral("-1.svg");
        for (const QString& file : files)
            QVERIFY2(QSvgRenderer(images + QLatin1Char('/') + file).isValid(), qPrintable(file));
    }
};

QTEST_MAIN(Cursors)
#include "test_cursors.moc"
