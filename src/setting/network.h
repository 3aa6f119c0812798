#pragma once
// The keyboard's switch matrix drawn as rows x columns of cells, with column names above and row numbers beside.
#include <QFrame>
#include <QString>
#include <QVector>

class Block;
class QLabel;

class Network : public QFrame {
    Q_OBJECT

public:
    static constexpr int CellSize = 20;
    static constexpr int CellStep = CellSize - 2; // neighbours share their 2 px borders
    static constexpr int Origin = 30;              // the first cell's top left corner

    // Negative counts make no cells. The size is (18 cols + 47) x (18 rows + 47) for any count.
    Network(QWidget* parent, int rows, int cols);
    ~Network() override;

    // A letter from A for columns below 26, two letters from AA on (26 AA, 52 BA, 701 ZZ).
    static QString columnName(int col);
    // The column name followed by the row number: row 3, column 1 is B3.
    static QString cellName(int row, int col);

    int rows() const { return m_blocks.size(); }
    int columns() const { return m_columnLabels.size(); }
    // Null when (row, col) names no cell.
    Block* block(int row, int col) const;

    void clearHighlight();
    void highlightBlock(Block* block);
    // Nothing is highlighted when (row, col) names no cell.
    void highlightPoint(int row, int col);
    // Frees the cell at (row, col); a point outside the grid is ignored.
    void releasePoint(int row, int col);

signals:
    void emitLeftButtonPressed(Block* block);
    void emitRightButtonPressed();

public slots:
    void leftButtonPressedSlot(Block* block);
    void rightButtonPressedSlot();

private:
    // Every cell the style of its flag, except highlighted, which gets the highlighted style.
    void recolour(const Block* highlighted);

    QVector<QVector<Block*>> m_blocks;
    QVector<QLabel*> m_rowLabels;
    QVector<QLabel*> m_columnLabels;
};
