#pragma once
// A plain-text label that reports a left-button press (clickable link texts, macro key chips).
#include <QLabel>

class Label : public QLabel {
    Q_OBJECT
public:
    explicit Label(QWidget* parent = nullptr);

signals:
    void emitPressed();

protected:
    // No base handling for any button: no text selection, no drag of the window below.
    void mousePressEvent(QMouseEvent* event) override;
};
