#pragma once
// Widget set-up in one call, shared by the macro page and the lighting dialog.
#include <QColor>
#include <QString>

class QLabel;
class QLineEdit;
class QWidget;
class Qss;

// Lets the edit take only digits, at most 9, 5 or 2 of them (shorter input stays as intermediate
// input). Nothing happens when enable is false or for any other count. The last argument is unused.
void setLineEditDigits(QLineEdit* edit, int digits, bool enable, int = 0);

// Gives the label the parent, the size width x height, the place (x, y) and the text, styles it in
// Consolas of that point size, normal weight, in colour, and shows it. style may be null.
void placeTextLabel(const Qss* style, QWidget* parent, QLabel* label, int width, int height, int x, int y,
                    const QString& text, int size, const QColor& colour);
void placeTextLabel(QWidget* parent, QLabel* label, int width, int height, int x, int y, const QString& text,
                    int size, const QColor& colour);
