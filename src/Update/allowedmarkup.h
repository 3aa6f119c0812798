#pragma once
// Reads markup from the update server into the few elements release notes use, as a small tree; all
// other markup is dropped (its text kept) and counted, so no reader of Qt's ever sees the server's text.
//
// Cost: one pass over the text. At each tag the open elements are looked through, and there are at most
// MaxDepth of them; every entity, tag name and attribute is read once, and a construct left open once
// more as text. The end of a comment, declaration, style, script or title is looked for once from each
// place it is still ahead of. So reading costs O(n) in the length of the text, and the tree holds at most
// a few nodes per tag plus one character per character read.
//
// Kept: p, br, b/strong, i/em, u, h1-h6, ul/ol/li, font with a checked, visible colour, and table/tr/td/th
// nested at most MaxTableDepth deep; attributes: align (p, h1-h6, td, th), color (font) and border
// (table), each with a checked value. style, script and title lose their content too. Every HTML 4 entity
// is decoded. A construct left open never swallows what follows: a tag or comment that the text ends in,
// or a tag that meets the next '<', is kept as text; a quoted value left open ends at the next '>' or '<'
// and is not used; a style, script or title without its end tag loses nothing, its content read as text.
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGui/qrgb.h>

class AllowedMarkup {
public:
    // Elements open at once, the root among them; deeper ones are dropped, their text kept.
    static constexpr int MaxDepth = 32;
    // Qt lays out a table inside a table cell more than once per level, so its cost doubles with every
    // level of nesting. Release notes need few.
    static constexpr int MaxTableDepth = 4;
    // Every level of a list indents it further: past a few the text has no room left.
    static constexpr int MaxListDepth = 6;
    // A word longer than this gets an invisible place to break (U+200B): laying out a line looks ahead
    // to the word's end, so one long word would cost the square of its length.
    static constexpr int MaxRun = 64;

    enum Kind : quint8 {
        Root,
        Paragraph,
        Heading,   // level 1-6
        List,      // level 1: ordered
        Item,      // child of a List only
        Table,     // level: border width; only Rows as children
        Row,       // only Cells as children
        Cell,      // level 1: header cell
        Bold,
        Italic,
        Underline,
        Colour,    // hasColour false: a font element without a usable colour
        LineBreak,
        BlockEnd,  // where a dropped block element ended a line: what follows starts a new block
        Text,
    };
    enum Align : quint8 { NoAlign, AlignLeft, AlignRight, AlignCenter, AlignJustify };

    struct Node {
        Kind kind = Root;
        quint8 level = 0;
        Align align = NoAlign;
        bool hasColour = false;
        QRgb colour = 0;
        int first = -1; // first child, -1 for none
        int last = -1;
        int next = -1;  // next sibling
        int textFrom = 0; // Text: its characters in text()
        int textLength = 0;
    };

    // What was left out, for the log.
    struct Dropped {
        int elements = 0;   // not on the allow-list (their text kept unless named above)
        int attributes = 0; // on a kept element, not allowed or with a value that did not check
        int nested = 0;     // kept kinds nested past a bound
        int entities = 0;   // malformed or unknown: kept as they stand, or replaced
        int characters = 0; // not valid text: lone surrogates, noncharacters, control characters
        int unclosed = 0;   // tags, comments, quoted values and style/script/title left open
        QStringList elementNames;   // the first few distinct ones
        QStringList attributeNames;
    };

    static AllowedMarkup read(const QString& text);

    // Node 0 is the root.
    const QVector<Node>& nodes() const { return m_nodes; }
    const QString& text() const { return m_text; }
    const Dropped& dropped() const { return m_dropped; }

private:
    friend class MarkupReader;
    QVector<Node> m_nodes;
    QString m_text;
    Dropped m_dropped;
};
