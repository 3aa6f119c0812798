#pragma once
// A line edit that reports a left-button press instead of placing the cursor (the owner decides).
#include <QLineEdit>

class LineEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit LineEdit(QWidget* parent = nullptr);

signals:
    void emitPressed();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
