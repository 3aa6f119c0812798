#pragma once
// A lighting slot button that knows its slot and reports a left double click.
#include <QPushButton>

class QMouseEvent;

class PushButton : public QPushButton {
    Q_OBJECT

public:
    PushButton(QWidget* parent, int index);
    int index() const { return m_index; }

signals:
    void doubleClicked(PushButton* button);

protected:
    // The event is not passed on: the second press of a double click must not press again.
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    int m_index;
};
