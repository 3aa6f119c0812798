#include "framepainter.h"

#include "widget/roundrect.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <cmath>

namespace {

const double CornerLeg = 9; // both legs of a rounded corner's quadratic curve

struct Corner {
    QPointF at;
    QPointF in;  // a leg along the side that reaches the corner
    QPointF out; // a leg along the side that leaves it
    bool rounded;
};

// A panel with its top or its bottom corners rounded by quadratic curves whose control point is the
// corner. The two forms trace the same outline, but their curves run in opposite directions and so
// antialias a shade differently: each window keeps the form it has always painted.
QPainterPath panelPath(const QRectF& r, bool roundTop, bool curveEveryCorner)
{
    const QPointF left(-CornerLeg, 0), right(CornerLeg, 0), up(0, -CornerLeg), down(0, CornerLeg);
    QPainterPath path;
    if (curveEveryCorner) {
        // Anticlockwise from the top right, a curve at each corner (a square corner's is straight), open.
        const Corner corners[] = {{r.topLeft(), left, down, roundTop},
                                  {r.bottomLeft(), down, right, !roundTop},
                                  {r.bottomRight(), right, up, !roundTop},
                                  {r.topRight(), up, left, roundTop}};
        path.moveTo(r.topRight() + left);
        for (const Corner& c : corners) {
            path.lineTo(c.rounded ? c.at - c.in : c.at);
            path.quadTo(c.at, c.at + c.out);
        }
        return path;
    }
    // Clockwise from the square corner before the rounded ones, curves only where rounded, closed.
    const Corner corners[] = {{r.topLeft(), up, right, roundTop},
                              {r.topRight(), right, down, roundTop},
                              {r.bottomRight(), down, left, !roundTop},
                              {r.bottomLeft(), left, up, !roundTop}};
    const int first = roundTop ? 3 : 0;
    path.moveTo(corners[first].at);
    for (int k = 1; k < 4; ++k) {
        const Corner& c = corners[(first + k) % 4];
        if (c.rounded) {
            path.lineTo(c.at - c.in);
            path.quadTo(c.at, c.at + c.out);
        } else {
            path.lineTo(c.at);
        }
    }
    path.closeSubpath();
    return path;
}

// Fills the panel and, when asked, outlines it in its own colour clipped to r.
void paintPanel(QPainter& p, const QRectF& r, const QPainterPath& path, const QColor& colour, double outline)
{
    p.save();
    if (outline > 0) {
        p.setClipRect(r);
        p.setPen(QPen(QBrush(colour), outline, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(colour);
        p.drawPath(path);
    } else {
        p.fillPath(path, colour);
    }
    p.restore();
}

} // namespace

QRectF paintFrame(QPainter& p, const QSize& size, const FrameStyle& style)
{
    const double w = size.width() + style.overhang;
    const double h = size.height() + style.overhang;
    const double m = style.margin;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);

    // Ten 1-px rings, darkest on the inside.
    p.setBrush(Qt::NoBrush);
    for (int i = 10; i >= 1; --i) {
        QPainterPath ring;
        ring.setFillRule(Qt::WindingFill);
        addRoundRect(ring, QRectF(i, i, w - 2 * i, h - 2 * i), style.shadowRoundness);
        p.setPen(QColor(0, 0, 0, int(155 - 50 * std::sqrt(10.0 - i))));
        p.drawPath(ring);
    }

    // The band rounded on top; its square bottom meets the body's square top without a seam.
    const QRectF band(m, m, w - 2 * m, style.bandHeight);
    paintPanel(p, band, panelPath(band, true, style.curveEveryCorner), style.band, style.outlineWidth);
    const QRectF body(m, m + style.bandHeight, w - 2 * m, size.height() - style.bandHeight - 2 * m);
    paintPanel(p, body, panelPath(body, false, style.curveEveryCorner), style.body, style.outlineWidth);

    p.restore();
    return band;
}
