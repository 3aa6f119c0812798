#pragma once
// The frame the tool's frameless windows paint for themselves: a soft shadow, a dark title band rounded
// at the top and a white body rounded at the bottom. One painter, so every window looks the same.
#include <QColor>
#include <QRectF>
#include <QSize>

class QPainter;

// The defaults are the dialogs' frame; the main window changes the band, the rings and the outline.
struct FrameStyle {
    int margin = 5;               // band and body inset from the window's edges
    int bandHeight = 40;          // the title band; the body fills the rest down to the bottom margin
    int shadowRoundness = 3;      // Qt's percentage roundness of the ten shadow rings
    int overhang = 0;             // added to the rings' size and to the band's and body's width
    double outlineWidth = 0.3;    // band and body outlined in their own colour, clipped; 0: only filled
    bool curveEveryCorner = true; // the dialogs' path form; false: curves only at the rounded corners
    QColor band{0x27, 0x29, 0x39};
    QColor body{0xff, 0xff, 0xff};
};

// Paints the frame of a window of that size, antialiased; returns the title band's rectangle.
QRectF paintFrame(QPainter& painter, const QSize& size, const FrameStyle& style = FrameStyle());
