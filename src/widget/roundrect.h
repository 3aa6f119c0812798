#pragma once
// Qt's old rounded rectangle with one roundness for both sides, without the deprecated call.
#include <QPainterPath>
#include <QRectF>

// Roundness as a relative radius, scaled down along the longer side so the corners stay round.
inline void addRoundRect(QPainterPath& path, const QRectF& r, int roundness)
{
    double xRnd = roundness, yRnd = roundness;
    if (r.width() > r.height())
        xRnd = int(roundness * r.height() / r.width());
    else if (r.height() > 0)
        yRnd = int(roundness * r.width() / r.height());
    path.addRoundedRect(r, xRnd, yRnd, Qt::RelativeSize);
}
