// The painting cursors: each state's size and hot spot whatever the drawing (the shipped pictures are
// checked with the other shipped pictures in test_seams).
#include "tempappdir.h"
#include "widget/qss.h"

#include <QtTest>

class Cursors : public QObject {
    Q_OBJECT
    TempAppDir m_dir;

private slots:
    void initTestCase()
    {
        // Square drawings, and a small green dot for the colour: sizes come from the code, not from the files.
        for (const char* file : {"down", "up", "del", "mode"})
            QVERIFY(m_dir.write(QStringLiteral("images/Cursor/%1.svg").arg(file),
                                R"(<svg xmlns="http://www.w3.org/2000/svg" width="40" height="40">)"
                                R"(<rect width="40" height="40" fill="#00f"/></svg>)"));
        QVERIFY(m_dir.write(QStringLiteral("images/Cursor/color.svg"), R"(<svg xmlns="http://www.w3.org/2000/svg" )"
                            R"(width="30" height="30"><circle cx="15" cy="15" r="5" fill="#0f0"/></svg>)"));
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
    }
    void statesSetSizeAndHotSpot()
    {
        QFETCH(int, status);
        QFETCH(QString, colour);
        QFETCH(QSize, size);
        QWidget window; // a top-level widget keeps WA_SetCursor when unset: test on a child
        QWidget widget(&window);
        widget.setCursor(Qt::CrossCursor);
        const Qss qss;
        qss.setCursorStatus(&widget, status, colour);
        QCOMPARE(widget.testAttribute(Qt::WA_SetCursor), !size.isEmpty());
        if (size.isEmpty())
            return;
        QCOMPARE(widget.cursor().pixmap().size(), size);
        QTEST(widget.cursor().hotSpot(), "hotSpot");
        if (status == Qss::CursorColor) { // a solid square: the dot and the transparent corners are gone
            const QImage image = widget.cursor().pixmap().toImage();
            for (const QPoint p : {QPoint(0, 0), QPoint(10, 10), QPoint(19, 19)})
                QCOMPARE(image.pixelColor(p), QColor(colour == "#ff0000" ? Qt::red : Qt::black));
        }
        qss.setCursorStatus(&widget, Qss::CursorKeep); // leaves whatever is set
        QCOMPARE(widget.cursor().pixmap().size(), size);
    }
};

QTEST_MAIN(Cursors)
#include "test_cursors.moc"
