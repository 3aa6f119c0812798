// The matrix grid: its size and labels, cell names, the three cell looks and the presses it passes on.
#include "setting/block.h"
#include "setting/network.h"

#include <QLabel>
#include <QtTest>

namespace {

// The looks of every cell by background, row by row, rows separated by |: free, used or high.
QString looks(const Network& n)
{
    QStringList rows;
    for (int r = 0; r < n.rows(); ++r) {
        QStringList cells;
        for (int c = 0; c < n.columns(); ++c) {
            const QString s = n.block(r, c)->styleSheet();
            cells << (s.contains("#ff4769") ? "high" : s.contains("#2eff23") ? "used" : "free");
        }
        rows << cells.join(' ');
    }
    return rows.join('|');
}

} // namespace

class MatrixGrid : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<Block*>(); }

    void sizeLabelsAndNames_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("cols");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("rowLabels");
        QTest::addColumn<QString>("columnLabels");
        QTest::addColumn<QString>("lastCell"); // tooltip, row, column and place of the bottom right cell
        QTest::newRow("6 x 21") << 6 << 21 << QSize(425, 155) << "0 1 2 3 4 5"
                                << "A B C D E F G H I J K L M N O P Q R S T U" << "U5 5 20 390,120";
        QTest::newRow("past Z") << 1 << 30 << QSize(587, 65) << "0"
                                << "A B C D E F G H I J K L M N O P Q R S T U V W X Y Z AA AB AC AD"
                                << "AD0 0 29 552,30";
        QTest::newRow("no rows") << 0 << 3 << QSize(101, 47) << "" << "A B C" << "";
        QTest::newRow("no columns") << 2 << 0 << QSize(47, 83) << "0 1" << "" << "";
    }
    void sizeLabelsAndNames()
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
        const Block* last = grid.block(rows - 1, cols - 1);
        QTEST(last ? QString("%1 %2 %3 %4,%5").arg(last->toolTip()).arg(last->row()).arg(last->column())
                         .arg(last->x()).arg(last->y()) : QString(), "lastCell");
        QVERIFY(!grid.block(rows, 0) && !grid.block(0, cols) && !grid.block(-1, 0));
    }

    // The look follows the flag only at a colouring; a highlight lasts until the next one. A point outside
    // the grid, (-1, -1) too, highlights and frees nothing.
    void colouring()
    {
        Network grid(nullptr, 2, 3);
        grid.block(0, 1)->setInUse(true);
        QCOMPARE(looks(grid), QStringLiteral("free free free|free free free"));
        grid.clearHighlight();
        QCOMPARE(looks(grid), QStringLiteral("free used free|free free free"));
        grid.highlightPoint(1, 2);
        QCOMPARE(looks(grid), QStringLiteral("free used free|free free high"));
        grid.highlightBlock(grid.block(0, 1));
        QCOMPARE(looks(grid), QStringLiteral("free high free|free free free"));
        for (const QPoint& outside : {QPoint(-1, -1), QPoint(2, 0), QPoint(0, 3)}) {
            grid.highlightPoint(outside.x(), outside.y());
            grid.releasePoint(outside.x(), outside.y());
        }
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
        QSignalSpy left(&grid, &Network::emitLeftButtonPressed);
        QSignalSpy right(&grid, &Network::emitRightButtonPressed);
        Block* cell = grid.block(1, 0);
        QSignalSpy clicked(cell, &QPushButton::clicked);
        QTest::mouseClick(cell, Qt::LeftButton);
        QTest::mouseClick(cell, Qt::MiddleButton);
        QTest::mouseClick(grid.block(0, 1), Qt::RightButton);
        QCOMPARE(left.size(), 1);
        QCOMPARE(left[0][0].value<Block*>(), cell);
        QCOMPARE(right.size(), 1);
        QVERIFY(clicked.isEmpty() && !cell->isChecked());
    }
};

QTEST_MAIN(MatrixGrid)
#include "test_matrixgrid.moc"
