#include "label.h"

#include <QMouseEvent>

Label::Label(QWidget* parent) : QLabel(parent)
{
    // Links and names from files and keyboards: shown as typed, never read as markup.
    setTextFormat(Qt::PlainText);
}

void Label::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit emitPressed();
}
