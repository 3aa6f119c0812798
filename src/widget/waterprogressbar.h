#pragma once
// A progress indicator drawn as a vessel filling with drifting waves, the percentage in the middle.
#include <QColor>
#include <QFont>
#include <QWidget>

class WaterProgressbar : public QWidget {
    Q_OBJECT
public:
    explicit WaterProgressbar(QWidget* parent = nullptr);

    // The water's mean level in pixels from the top for a widget this high; the height (empty) when
    // value is the minimum or the range is empty, 0 (full) when value is the maximum.
    double waterLevel(int height) const;
    // value × 100 / maximum truncated toward zero; 0 when maximum is 0.
    int percent() const;

    // The owner writes these directly; the next timer tick shows them.
    int shape = 1; // 0 rectangle, 1 circle, 2 ellipse; anything else draws nothing
    QColor waterColor = QColor(91, 209, 183);
    QColor textColor = Qt::white;
    QColor ringColor = Qt::gray;
    QColor innerColor = Qt::gray;
    QFont textFont;
    int value = 80;
    int minimum = 0;
    int maximum = 100;
    int waveCount = 10;      // half periods across the width
    double amplitude = 0.03; // of the height
    double phase = 50.0;     // radians; every paint moves it on
    int border = 10;         // ring between the outer and the inner shape, in pixels

protected:
    void timerEvent(QTimerEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};
