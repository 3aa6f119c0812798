#include "combobox.h"

#include "qss.h"

#include <QListView>
#include <QWheelEvent>

ComboBox::ComboBox(QWidget* parent, int pointSize, bool framed)
    : QComboBox(parent)
{
    Qss().setComboBoxStyle(this, pointSize, framed);
    resize(90, 30);
    // A list view popup takes the item rules of the style sheet; the combo box owns it.
    setView(new QListView());
}

void ComboBox::wheelEvent(QWheelEvent* event)
{
    // Scrolling a page past a combo box must not change its choice; the page may scroll instead.
    event->ignore();
}
