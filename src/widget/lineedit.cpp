#include "lineedit.h"

#include <QMouseEvent>

LineEdit::LineEdit(QWidget* parent) : QLineEdit(parent) {}

void LineEdit::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit emitPressed();
}
