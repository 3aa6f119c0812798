#pragma once
// A fixed-size companion scroll bar: a press jumps straight to the pressed value, a wheel notch moves a tenth.
#include <QSlider>

class Slider : public QSlider {
    Q_OBJECT
public:
    // orientation 1 is vertical (minimum at the top), any other value horizontal (minimum at the left).
    Slider(QWidget* parent, int orientation, int styleVariant, bool wheelEnabled);

    // The value a press at p along a slider of the given extent selects; false for no extent (no jump).
    static bool pressedValue(int minimum, int maximum, int p, int extent, int* value);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    int m_orientation;
    bool m_wheelEnabled;
};
