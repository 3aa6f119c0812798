#pragma once
// The tool's combo box: fixed look, a list view popup, and a wheel that never changes the selection.
#include <QComboBox>

class ComboBox : public QComboBox {
    Q_OBJECT
public:
    ComboBox(QWidget* parent, int pointSize, bool framed);

signals:
    void clicked(bool checked); // kept for the pages' connections; nothing emits it

protected:
    void wheelEvent(QWheelEvent* event) override;
};
