#include "frameddialog.h"

#include "widget/framepainter.h"
#include "widget/qss.h"

#include <QColor>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>

FramedDialog::FramedDialog(QWidget* parent) : QDialog(parent)
{
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setModal(true);
}

void FramedDialog::createCloseButton()
{
    closeButton.setParent(this);
    closeButton.resize(25, 25);
    closeButton.move(width() - 25 - 12, 12);
    Qss qss;
    qss.setImageButtonStyle(&closeButton, QStringLiteral("close.svg"), QStringLiteral("close-hover.svg"), QString(),
                            QString(), false);
    closeButton.show();
}

void FramedDialog::createTitle(const QString& text)
{
    titleLabel.setParent(this);
    Qss qss;
    qss.setLabelStyle(&titleLabel, QColor(QStringLiteral("#fff")), 11, 50);
    titleLabel.move(20, 15);
    titleLabel.setTextFormat(Qt::PlainText);
    titleLabel.setText(text);
    titleLabel.show();
}

void FramedDialog::mousePressEvent(QMouseEvent*)
{
    dragOffset = QCursor::pos() - pos();
    dragging = true;
}

void FramedDialog::mouseReleaseEvent(QMouseEvent*)
{
    dragging = false;
}

void FramedDialog::mouseMoveEvent(QMouseEvent* e)
{
    if (!dragging)
        return;
    move(e->globalPos() - dragOffset);
}

void FramedDialog::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    titleRect = paintFrame(p, size()); // the default style is the dialogs' frame
}
