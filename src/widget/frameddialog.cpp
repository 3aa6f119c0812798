#include "frameddialog.h"

#include "widget/qss.h"
#include "widget/roundrect.h"

#include <QColor>
#include <QCursor>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <cmath>

namespace {

const int TitleHeight = 50;
const int Margin = 5;
const double PenWidth = 0.3;
const int Radius = 9;

// Opens a painter on the dialog and fills path clipped to r, which is also where the gradient runs.
void fillPanel(QWidget* w, const QColor& color, double penWidth, const QRectF& r, const QPainterPath& path)
{
    QColor opaque = color;
    opaque.setAlpha(255);
    QPainter p(w);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QBrush(opaque), penWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setClipRect(r);
    p.save();
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0.0, opaque);
    p.setBrush(g);
    p.drawPath(path);
    p.restore();
}

} // namespace

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
    titleLabel.setText(text);
    titleLabel.show();
}

void FramedDialog::drawShadow(const QColor&, double)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 10; ++i) {
        const int k = 10 - i;
        const QRectF r(k, k, width() - 2 * k, height() - 2 * k);
        QPainterPath path;
        path.setFillRule(Qt::WindingFill);
        addRoundRect(path, r, 3);
        p.setPen(QColor(0, 0, 0, int(155 - 50 * std::sqrt(double(i)))));
        p.drawPath(path);
    }
}

void FramedDialog::drawTitleBar(const QColor& color, int height, int margin, double penWidth)
{
    const double x = margin, y = margin, w = width() - 2 * margin, h = height - 2 * margin;
    titleRect = QRectF(x, y, w, h);
    // Top corners rounded, bottom corners square so that the body joins without a seam.
    QPainterPath path;
    path.moveTo(x + w - Radius, y);
    path.lineTo(x + Radius, y);
    path.quadTo(x, y, x, y + Radius);
    path.lineTo(x, y + h);
    path.quadTo(x, y + h, x + Radius, y + h);
    path.lineTo(x + w, y + h);
    path.quadTo(x + w, y + h, x + w, y + h - Radius);
    path.lineTo(x + w, y + Radius);
    path.quadTo(x + w, y, x + w - Radius, y);
    fillPanel(this, color, penWidth, titleRect, path);
}

void FramedDialog::drawBody(const QColor& color, int height, int margin, double penWidth)
{
    const double x = margin, y = titleRect.height() + margin, w = width() - 2 * margin, h = height;
    QPainterPath path;
    path.moveTo(x + w - Radius, y);
    path.lineTo(x, y);
    path.quadTo(x, y, x, y + Radius);
    path.lineTo(x, y + h - Radius);
    path.quadTo(x, y + h, x + Radius, y + h);
    path.lineTo(x + w - Radius, y + h);
    path.quadTo(x + w, y + h, x + w, y + h - Radius);
    path.lineTo(x + w, y);
    path.quadTo(x + w, y, x + w - Radius, y);
    fillPanel(this, color, penWidth, QRectF(x, y, w, h), path);
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
    drawShadow(QColor(), 0);
    drawTitleBar(QColor(QStringLiteral("#272939")), TitleHeight, Margin, PenWidth);
    drawBody(QColor(QStringLiteral("#ffffff")), height() - TitleHeight, Margin, PenWidth);
}
