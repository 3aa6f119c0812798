#include "waterprogressbar.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

WaterProgressbar::WaterProgressbar(QWidget* parent)
    : QWidget(parent)
{
    // Never stopped: the waves drift for as long as the widget lives.
    startTimer(80, Qt::CoarseTimer);
}

double WaterProgressbar::waterLevel(int height) const
{
    // An empty range would divide by zero: show it empty.
    if (maximum == minimum || value == minimum)
        return height;
    if (value == maximum)
        return 0.0;
    return height * (1.0 - (double(value) - minimum) / (double(maximum) - minimum));
}

int WaterProgressbar::percent() const
{
    if (maximum == 0)
        return 0;
    return int(qint64(value) * 100 / maximum);
}

void WaterProgressbar::timerEvent(QTimerEvent*)
{
    update();
}

void WaterProgressbar::paintEvent(QPaintEvent*)
{
    const int w = width();
    const int h = height();
    if (w <= 0 || h <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);

    const double k = waveCount * M_PI / w;
    const double a = amplitude * h;
    const double level = waterLevel(h);
    const bool flat = maximum == minimum || value == minimum || value == maximum;

    QPainterPath back;
    QPainterPath front;
    back.moveTo(0, h);
    front.moveTo(0, h);

    const double next = phase + 0.6;
    phase = next > w / 2 ? 0.0 : next;

    for (int x = 0; x <= w; ++x) {
        const double angle = k * x + phase;
        double y1 = a * std::sin(angle) + level;
        double y2 = a * std::sin(angle + (w / 2) * k) + level;
        if (flat)
            y1 = y2 = level;
        back.lineTo(x, y1);
        front.lineTo(x, y2);
    }
    back.lineTo(w, h);
    front.lineTo(w, h);

    // The outer shape, the inner one the water is clipped to; the default pen outlines both.
    const int b = border;
    QPainterPath clip;
    switch (shape) {
    case 0:
        clip.addRect(QRectF(b, b, w - 2 * b, h - 2 * b));
        painter.setBrush(ringColor);
        painter.drawRect(QRect(0, 0, w, h));
        painter.setBrush(innerColor);
        painter.drawRect(QRect(b, b, w - 2 * b, h - 2 * b));
        break;
    case 1: {
        const int d = qMin(w, h);
        painter.setBrush(ringColor);
        painter.drawEllipse(QRect((w - d) / 2, (h - d) / 2, d, d));
        const int inner = d - 2 * b;
        clip.addEllipse(QRectF((w - inner) / 2, (h - inner) / 2, inner, inner));
        painter.setBrush(innerColor);
        painter.drawEllipse(QRect((w - inner) / 2, (h - inner) / 2, inner, inner));
        break;
    }
    case 2:
        clip.addEllipse(QRectF(b, b, w - 2 * b, h - 2 * b));
        painter.setBrush(ringColor);
        painter.drawEllipse(QRect(0, 0, w, h));
        painter.setBrush(innerColor);
        painter.drawEllipse(QRect(b, b, w - 2 * b, h - 2 * b));
        break;
    default:
        break;
    }

    painter.save();
    painter.setPen(Qt::NoPen);
    QColor backColor = waterColor;
    backColor.setAlpha(100);
    QColor frontColor = waterColor;
    frontColor.setAlpha(180);
    painter.setBrush(backColor);
    painter.drawPath(back.intersected(clip));
    painter.setBrush(frontColor);
    painter.drawPath(front.intersected(clip));
    painter.restore();

    QFont f = textFont;
    f.setPixelSize(qMax(1, w / 4));
    painter.setFont(f);
    painter.setPen(textColor);
    painter.drawText(QRect(0, 0, w, h), Qt::AlignCenter, QStringLiteral("%0%").arg(percent()));
}
