#pragma once
// Puts a text from the update server into a text document, as rich text only while what its layout may
// cost stays within bounds: past them it shows as plain text and the log says why.
#include <QString>

class QTextDocument;

class ServerText {
public:
    // Qt lays out a table inside a table cell more than once per level, so the cost doubles with every
    // level of nesting (20 levels took seconds, 4,000 overflowed the stack). Release notes need few.
    static constexpr int MaxTableDepth = 4;
    // A longer text is cut here and shown as plain text: this bounds the layout of one long unbroken
    // word, whose cost grows with the square of its length.
    static constexpr int MaxChars = 16 * 1024;
    // Tags, counted as '<' characters so that none is missed. Parsing deeply nested elements of any
    // kind also costs the square of their number: within these bounds a text is parsed in some 50 ms.
    static constexpr int MaxTags = 2000;

    // Empty when text may be shown as rich text; otherwise why not.
    static QString whyNotRich(const QString& text);

    // As QTextEdit::setText: text that looks like rich text (Qt::mightBeRichText) is set as HTML when
    // within the bounds; any other text as plain text, cut at MaxChars. document should be an
    // InertTextDocument. Returns true when the text went in as rich text.
    static bool show(QTextDocument* document, const QString& text, const char* what);
};
