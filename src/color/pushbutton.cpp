#include "color/pushbutton.h"

#include <QMouseEvent>

PushButton::PushButton(QWidget* parent, int index) : QPushButton(parent), m_index(index) {}

void PushButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event && event->button() == Qt::LeftButton)
        emit doubleClicked(this);
}
