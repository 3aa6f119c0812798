#pragma once
// Text we did not write (names, paths, versions) shown as typed where Qt would guess markup from it.
#include <QString>

class QLabel;

namespace plaintext {

// The label shows its text as typed, never as markup (QLabel guesses by default).
void keep(QLabel* label);
// A tooltip that shows text as typed: Qt reads a tooltip as rich text when it looks like markup, so
// such a text goes out escaped inside a paragraph that keeps its spaces; any other comes back unchanged.
QString toolTip(const QString& text);

} // namespace plaintext
