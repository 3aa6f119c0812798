#include "block.h"

#include "setting/network.h"

#include <QMouseEvent>

Block::Block(QWidget* parent) : QPushButton(parent)
{
    setCheckable(true);
}

void Block::setToolTipText(int row, int col)
{
    m_row = row;
    m_column = col;
    setToolTip(Network::cellName(row, col));
}

void Block::mousePressEvent(QMouseEvent* e)
{
    // The button's own press handling is skipped: a cell never looks pressed, toggles or clicks.
    if (e->button() == Qt::LeftButton)
        emit leftButtonPressed(this);
    else if (e->button() == Qt::RightButton)
        emit rightButtonPressed();
}
