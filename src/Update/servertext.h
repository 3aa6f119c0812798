#pragma once
// Puts a text from the update server into a text document: markup is read by our own reader, which keeps
// only the formatting release notes use, and the document is built from that alone, so Qt's HTML reader
// and style sheets never see the server's text. What was dropped is logged.
//
// Cost: reading is linear in the text's length (see AllowedMarkup); the document gets at most one block,
// fragment or list item per tag read and at most MaxTableCells table cells, tables at most
// MaxTableDepth deep, so building it and laying it out stay bounded too.
#include "Update/allowedmarkup.h"

#include <QColor>
#include <QString>

class QTextDocument;

class ServerText {
public:
    static constexpr int MaxTableDepth = AllowedMarkup::MaxTableDepth;
    // A longer text is cut here and shown as plain text: this bounds the layout of one long unbroken
    // word, whose cost grows with the square of its length.
    static constexpr int MaxChars = 16 * 1024;
    // A table is as wide as its widest row; cells past these go in after the table, as lines of their own.
    // Each cell is laid out several times, and a table in a cell twice for each layout of that cell. So a
    // cell counts 1, and its content 1 for every CellContent characters, doubled in a table inside a
    // table and so on, against MaxTableCells for all tables of a text; a table past that goes in as lines.
    static constexpr int MaxTableColumns = 16;
    static constexpr int MaxTableCells = 400;
    static constexpr int CellContent = 80;
    // Each item of a list looks for its place in the list, which costs the square of the list's length.
    // Items past this go in as lines.
    static constexpr int MaxListItems = 100;

    // As QTextEdit::setText: text that looks like rich text (Qt::mightBeRichText) and is within MaxChars
    // is read through AllowedMarkup and built into the document; any other text goes in as plain text,
    // cut at MaxChars. document should be an InertTextDocument. what names the text in the log ("tool").
    // background is what the text shows on (invalid: the application's window colour); a font colour
    // too close to it is dropped. Returns true when the text went in as rich text.
    static bool show(QTextDocument* document, const QString& text, const char* what,
                     const QColor& background = QColor());
    // Below this contrast ratio (as WCAG 2 measures it: 1 for the same colour, 21 for black on white) a
    // font colour is taken as too close to its background to be read.
    static constexpr double MinContrast = 2.0;
};
