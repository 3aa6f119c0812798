// The matrix grid: its size and labels, cell names, the three cell looks and the presses it passes on.
#include "setting/block.h"
#include "setting/network.h"

#include <QLabel>
#include <QtTest>

namespace {

// A cell's look by its whole style sheet: free, used, high, or ? for anything else.
QString look(const Block* b)
{
    const QString sheet = "QPushButton{ border: 1px dotted  #585bff; background: %1; } "
                          "QPushButton::hover{ border: 2px solid #585bff; background: %1; }";
    for (const char* bg : {"transparent", "#2eff23", "#ff4769"})
        if (b->styleSheet() == sheet.arg(bg))
            return bg[0] == 't' ? "free" : bg[1] == '2' ? "used" : "high";
    return "?";
}

// The looks of every cell, row by row, rows separated by |.
QString looks(const Network& n)
{
    QStringList rows;
    for (int r = 0; r < n.rows(); ++r) {
        QStringList cells;
        for (int c = 0; c < n.columns(); ++c)
            cells << look(n.block(r, c));
        rows << cells.join(' ');
    }
    return rows.join('|');
}

} // namespace

class MatrixGrid : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<Block*>(); }

    void sizeAndLabels_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("cols");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("rowLabels");
        QTest::addColumn<QString>("columnLabels");
        QTest::newRow("6 x 21") << 6 << 21 << QSize(425, 155) << "0 1 2 3 4 5" << "A B C D E F G H I J K L M N O P Q R S T U";
        QTest::newRow("past Z") << 1 << 30 << QSize(587, 65) << "0"
                                << "A B C D E F G H I J K L M N O P Q R S T U V W X Y Z AA AB AC AD";
        QTest::newRow("no rows") << 0 << 3 << QSize(101, 47) << "" << "A B C";
        QTest::newRow("no columns") << 2 << 0 << QSize(47, 83) << "0 1" << "";
    }
    void sizeAndLabels()
    {
        QFETCH(int, rows);
        QFETCH(int, cols);
        Network grid(nullptr, rows, cols);
        QTEST(grid.size(), "size");
        QCOMPARE(grid.findChildren<Block*>().size(), rows * cols);
        QStringList rowLabels, columnLabels;
        for (const QLabel* label : grid.findChildren<QLabel*>())
            (label->x() == 0 ? rowLabels : columnLabels) << label->text();
        QTEST(rowLabels.join(' '), "rowLabels");
        QTEST(columnLabels.join(' '), "columnLabels");
    }

    void cellsArePlacedAndNamed()
    {
        Network grid(nullptr, 4, 30);
        QCOMPARE(grid.block(3, 1)->geometry(), QRect(48, 84, 20, 20));
        QCOMPARE(grid.block(3, 1)->toolTip(), QStringLiteral("B3"));
        QCOMPARE(grid.block(0, 27)->toolTip(), QStringLiteral("AB0"));
        QCOMPARE(grid.block(0, 27)->row(), 0);
        QCOMPARE(grid.block(0, 27)->column(), 27);
        QVERIFY(!grid.block(4, 0) && !grid.block(0, 30) && !grid.block(-1, 0));
    }

    // The look follows the flag only at a colouring; a highlight lasts until the next one.
    void colouring()
    {
        Network grid(nullptr, 2, 3);
        QCOMPARE(looks(grid), QStringLiteral("free free free|free free free"));
        grid.block(0, 1)->setInUse(true);
        QCOMPARE(looks(grid), QStringLiteral("free free free|free free free"));
        grid.clearHighlight();
        QCOMPARE(looks(grid), QStringLiteral("free used free|free free free"));
        grid.highlightPoint(1, 2);
        QCOMPARE(looks(grid), QStringLiteral("free used free|free free high"));
        grid.highlightBlock(grid.block(0, 1));
        QCOMPARE(looks(grid), QStringLiteral("free high free|free free free"));
        QVERIFY(grid.block(0, 1)->isInUse());
        grid.highlightPoint(-1, -1);
        QCOMPARE(looks(grid), QStringLiteral("free used free|free free free"));
        grid.highlightPoint(0, 3);
        QCOMPARE(looks(grid), QStringLiteral("free used free|free free free"));
        for (const QPoint& outside : {QPoint(-1, -1), QPoint(2, 0), QPoint(0, 3)})
            grid.releasePoint(outside.x(), outside.y());
        QCOMPARE(looks(grid), QStringLiteral("free used free|free free free"));
        grid.highlightPoint(0, 1);
        grid.releasePoint(0, 1);
        QVERIFY(!grid.block(0, 1)->isInUse());
        QCOMPARE(looks(grid), QStringLiteral("free free free|free free free"));
    }

    // Left presses name the cell, right presses don't, a middle press is nothing; a cell never toggles.
    void pressesArePassedOn()
    {
        Network grid(nullptr, 2, 2);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QSignalSpy left(&grid, &Network::emitLeftButtonPressed);
        QSignalSpy right(&grid, &Network::emitRightButtonPressed);
        Block* cell = grid.block(1, 0);
        QSignalSpy clicked(cell, &QPushButton::clicked);
        QSignalSpy pressed(cell, &QPushButton::pressed);
        QTest::mouseClick(cell, Qt::LeftButton);
        QTest::mouseClick(cell, Qt::MiddleButton);
        QTest::mouseClick(grid.block(0, 1), Qt::RightButton);
        QCOMPARE(left.size(), 1);
        QCOMPARE(left[0][0].value<Block*>(), cell);
        QCOMPARE(right.size(), 1);
        QVERIFY(right[0].isEmpty());
        QVERIFY(clicked.isEmpty() && pressed.isEmpty() && !cell->isChecked() && !cell->isDown());
    }
};

QTEST_MAIN(MatrixGrid)
#include "test_matrixgrid.moc"
