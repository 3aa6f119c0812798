#pragma once
// The window frame of the static key picker and the About and Help dialogs: frameless, translucent and
// modal, painting a shadow, a dark title band and a white body, with a close button and a title, moved
// by dragging any spot that no child takes for itself.
#include <QDialog>
#include <QLabel>
#include <QPoint>
#include <QPushButton>
#include <QRectF>

class QMouseEvent;
class QPaintEvent;

class FramedDialog : public QDialog {
    Q_OBJECT

public:
    explicit FramedDialog(QWidget* parent = nullptr);

protected:
    // Close button at the top right of the current size; the dialog connects it to its own closing slot.
    void createCloseButton();
    void createTitle(const QString& text);

    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

    QPoint dragOffset;
    bool dragging = false;
    QRectF titleRect; // the title band, stored at each paint
    QPushButton closeButton;
    QLabel titleLabel;
};
