#pragma once
// One cell of the matrix grid: a button that knows its row, column and whether a key is bound to it.
#include <QPushButton>

class QMouseEvent;

class Block : public QPushButton {
    Q_OBJECT

public:
    explicit Block(QWidget* parent = nullptr);

    int row() const { return m_row; }
    int column() const { return m_column; }
    bool isInUse() const { return m_inUse; }
    // The flag only: the look follows at the grid's next colouring.
    void setInUse(bool inUse) { m_inUse = inUse; }
    // Stores the cell's place and names it in the tooltip (column name, then row: B3).
    void setToolTipText(int row, int col);

signals:
    void leftButtonPressed(Block* block);
    void rightButtonPressed();

protected:
    void mousePressEvent(QMouseEvent* e) override;

private:
    int m_row = -1;
    int m_column = -1;
    bool m_inUse = false;
};
