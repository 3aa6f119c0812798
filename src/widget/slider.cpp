#include "slider.h"

#include "qss.h"

#include <QMouseEvent>
#include <QWheelEvent>

#include <climits>

Slider::Slider(QWidget* parent, int orientation, int styleVariant, bool wheelEnabled)
    : QSlider(parent)
    , m_orientation(orientation)
    , m_wheelEnabled(wheelEnabled)
{
    const Qss qss;
    if (orientation == 1) {
        setOrientation(Qt::Vertical);
        setFixedSize(20, 308);
        setInvertedControls(true);
        setInvertedAppearance(true); // the minimum at the top, like the list it scrolls
        qss.setVerticalSliderStyle(this, styleVariant);
    } else {
        setOrientation(Qt::Horizontal);
        setFixedSize(308, 20);
        setInvertedControls(true);
        setInvertedAppearance(false);
        qss.setHorizontalSliderStyle(this, styleVariant);
    }
}

bool Slider::pressedValue(int minimum, int maximum, int p, int extent, int* value)
{
    if (extent <= 0 || !value)
        return false;
    const qint64 range = qint64(maximum) - minimum;
    *value = int(qBound<qint64>(INT_MIN, minimum + range * p / extent, INT_MAX));
    return true;
}

void Slider::mousePressEvent(QMouseEvent* event)
{
    QSlider::mousePressEvent(event);
    const bool vertical = m_orientation == 1;
    const int p = qRound(vertical ? event->localPos().y() : event->localPos().x());
    int v = 0;
    if (pressedValue(minimum(), maximum(), p, vertical ? height() : width(), &v))
        setValue(v);
}

void Slider::wheelEvent(QWheelEvent* event)
{
    event->ignore(); // never taken: the list beside may scroll as well
    if (!m_wheelEnabled)
        return;
    // The single delta of the dominant direction; a high-resolution wheel's smaller steps do nothing.
    const QPoint angle = event->angleDelta();
    const int delta = qAbs(angle.x()) > qAbs(angle.y()) ? angle.x() : angle.y();
    const qint64 step = maximum() / 10;
    if (delta == -120)
        setValue(int(qBound<qint64>(INT_MIN, value() + step, INT_MAX)));
    else if (delta == 120)
        setValue(int(qBound<qint64>(INT_MIN, value() - step, INT_MAX)));
}
