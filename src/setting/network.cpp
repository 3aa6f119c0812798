#include "network.h"

#include "setting/block.h"
#include "widget/data.h"

#include <QFont>
#include <QLabel>

namespace {

const char* const FreeStyle = "QPushButton{ border: 1px dotted  #585bff; background: transparent; } "
                              "QPushButton::hover{ border: 2px solid #585bff; background: transparent; }";
const char* const InUseStyle = "QPushButton{ border: 1px dotted  #585bff; background: #2eff23; } "
                               "QPushButton::hover{ border: 2px solid #585bff; background: #2eff23; }";
const char* const HighlightStyle = "QPushButton{ border: 1px dotted  #585bff; background: #ff4769; } "
                                   "QPushButton::hover{ border: 2px solid #585bff; background: #ff4769; }";
const char* const LabelStyle = "QLabel{ color: #585bff; }";

void setCellStyle(Block* b, const char* style)
{
    // Re-applying an unchanged sheet would re-polish the cell for nothing; a big grid has thousands.
    const QLatin1String sheet(style);
    if (b->styleSheet() != sheet)
        b->setStyleSheet(sheet);
}

} // namespace

Network::Network(QWidget* parent, int rows, int cols) : QFrame(parent)
{
    rows = qMax(0, rows);
    cols = qMax(0, cols);
    setObjectName(QStringLiteral("network"));
    setStyleSheet(QStringLiteral("QFrame#network{ background: rgb(255, 255, 255); border: 0px solid #ff7070} "));

    m_blocks.reserve(rows);
    for (int r = 0; r < rows; ++r) {
        QVector<Block*> row;
        row.reserve(cols);
        for (int c = 0; c < cols; ++c) {
            auto* b = new Block(this);
            b->resize(CellSize, CellSize);
            setCellStyle(b, FreeStyle);
            b->move(Origin + CellStep * c, Origin + CellStep * r);
            row.append(b);
            b->setToolTipText(r, c);
            connect(b, &Block::leftButtonPressed, this, &Network::leftButtonPressedSlot);
            connect(b, &Block::rightButtonPressed, this, &Network::rightButtonPressedSlot);
        }
        m_blocks.append(row);
    }
    // The size a row's last cell gives, also when there is no row or no cell in a row to measure.
    resize(Origin + CellStep * (cols - 1) + CellSize + 15, Origin + CellStep * (rows - 1) + CellSize + 15);

    QFont font(QStringLiteral("Consolas"));
    font.setPointSize(9);
    for (int r = 0; r < rows; ++r) {
        auto* label = new QLabel(this);
        label->resize(24, 20);
        label->move(0, Origin + CellStep * r);
        label->setFont(font);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setText(QString::number(r));
        label->setStyleSheet(QLatin1String(LabelStyle));
        label->show();
        m_rowLabels.append(label);
    }
    for (int c = 0; c < cols; ++c) {
        auto* label = new QLabel(this);
        label->resize(CellSize, CellSize);
        label->move(Origin + CellStep * c, 6);
        label->setFont(font);
        label->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        label->setStyleSheet(QLatin1String(LabelStyle));
        m_columnLabels.append(label);
    }
    for (int c = 0; c < m_columnLabels.size(); ++c)
        m_columnLabels[c]->setText(columnName(c));
}

Network::~Network() = default; // cells and labels are children

QString Network::columnName(int col)
{
    return col >= 0 && col < 26 ? QString(QChar('A' + col)) : Data::columnName(col);
}

QString Network::cellName(int row, int col)
{
    return columnName(col) + QString::number(row);
}

Block* Network::block(int row, int col) const
{
    if (row < 0 || row >= m_blocks.size())
        return nullptr;
    const QVector<Block*>& cells = m_blocks[row];
    return col >= 0 && col < cells.size() ? cells[col] : nullptr;
}

void Network::recolour(const Block* highlighted)
{
    for (const QVector<Block*>& row : qAsConst(m_blocks))
        for (Block* b : row)
            setCellStyle(b, b == highlighted ? HighlightStyle : b->isInUse() ? InUseStyle : FreeStyle);
}

void Network::clearHighlight()
{
    recolour(nullptr);
}

void Network::highlightBlock(Block* block)
{
    recolour(block);
}

void Network::highlightPoint(int row, int col)
{
    recolour(this->block(row, col));
}

void Network::releasePoint(int row, int col)
{
    Block* b = block(row, col);
    if (!b)
        return;
    b->setInUse(false);
    setCellStyle(b, FreeStyle);
}

void Network::leftButtonPressedSlot(Block* block)
{
    emit emitLeftButtonPressed(block);
}

void Network::rightButtonPressedSlot()
{
    emit emitRightButtonPressed();
}
