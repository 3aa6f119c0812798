#include "servertext.h"

#include <QDebug>
#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>
#include <QTextTable>
#include <QVector>
#include <cmath>

namespace {

using Markup = AllowedMarkup;

// WCAG 2's relative luminance of an sRGB colour.
double luminance(const QColor& c)
{
    const auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a), lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

// Builds the document from what the reader kept, with a cursor: no markup is written or read again.
class DocumentBuilder {
public:
    DocumentBuilder(QTextDocument* document, const Markup& markup, const QColor& background)
        : m_cursor(document), m_nodes(markup.nodes()), m_text(markup.text()), m_background(background)
    {
    }

    void build()
    {
        m_cursor.beginEditBlock(); // laid out once, at the end
        children(0, Context());
        m_cursor.endEditBlock();
    }

    // Table cells and list items past their bounds, which went in as lines.
    int linesCut() const { return m_linesCut; }
    // Font colours not used as too close to the background.
    int coloursUnseen() const { return m_coloursUnseen; }

private:
    struct Context {
        QTextCharFormat chars;
        Qt::Alignment align;
        int indent = 0;    // of blocks in a list item
        int listDepth = 0;
        int tableDepth = 0;
    };

    QTextCursor m_cursor;
    const QVector<Markup::Node>& m_nodes;
    const QString& m_text;
    // The cursor's block has nothing in it yet and may take the next block's format.
    bool m_fresh = true;
    // Text that comes next starts a new block.
    bool m_needBlock = false;
    int m_cellsLeft = ServerText::MaxTableCells;
    int m_linesCut = 0;
    const QColor m_background;
    int m_coloursUnseen = 0;

    static Qt::Alignment alignment(Markup::Align align)
    {
        switch (align) {
        case Markup::AlignLeft:
            return Qt::AlignLeft;
        case Markup::AlignRight:
            return Qt::AlignRight;
        case Markup::AlignCenter:
            return Qt::AlignHCenter;
        case Markup::AlignJustify:
            return Qt::AlignJustify;
        case Markup::NoAlign:
            break;
        }
        return Qt::Alignment();
    }

    static QTextBlockFormat blockFormat(const Context& context)
    {
        QTextBlockFormat format;
        if (context.indent > 0)
            format.setIndent(context.indent);
        if (context.align)
            format.setAlignment(context.align);
        return format;
    }

    void startBlock(const QTextBlockFormat& format, const Context& context)
    {
        if (m_fresh) {
            QTextBlockFormat same = format;
            if (const QTextList* list = m_cursor.block().textList())
                same.setObjectIndex(list->objectIndex()); // a list item stays in its list
            m_cursor.setBlockFormat(same);
            m_cursor.setBlockCharFormat(context.chars);
        } else {
            m_cursor.insertBlock(format, context.chars);
        }
        m_fresh = true;
        m_needBlock = false;
    }

    void children(int node, const Context& context)
    {
        for (int child = m_nodes[node].first; child >= 0; child = m_nodes[child].next)
            element(child, context);
    }

    void insertText(const QString& text, const Context& context)
    {
        if (m_needBlock)
            startBlock(blockFormat(context), context);
        m_cursor.insertText(text, context.chars);
        m_fresh = false;
    }

    void element(int index, const Context& context)
    {
        const Markup::Node& node = m_nodes[index];
        Context inner = context;
        switch (node.kind) {
        case Markup::Text:
            insertText(m_text.mid(node.textFrom, node.textLength), context);
            return;
        case Markup::LineBreak:
            insertText(QString(QChar::LineSeparator), context);
            return;
        case Markup::BlockEnd:
            m_needBlock = m_needBlock || !m_fresh;
            return;
        case Markup::Paragraph:
        case Markup::Heading:
            block(node, context);
            return;
        case Markup::List:
            list(node, context);
            return;
        case Markup::Table:
            table(node, context);
            return;
        case Markup::Bold:
            inner.chars.setFontWeight(QFont::Bold);
            break;
        case Markup::Italic:
            inner.chars.setFontItalic(true);
            break;
        case Markup::Underline:
            inner.chars.setFontUnderline(true);
            break;
        case Markup::Colour:
            if (node.hasColour && contrast(QColor(node.colour), m_background) >= ServerText::MinContrast)
                inner.chars.setForeground(QColor(node.colour));
            else if (node.hasColour)
                ++m_coloursUnseen;
            break;
        case Markup::Root:
        case Markup::Item: // these three only under their list, table or row
        case Markup::Row:
        case Markup::Cell:
            break;
        }
        children(index, inner);
    }

    // The margins and sizes Qt gives headings and paragraphs, so a note looks as it always did.
    void block(const Markup::Node& node, const Context& context)
    {
        struct Heading {
            int top, bottom, sizeAdjustment;
        };
        static const Heading headings[6] = {{18, 12, 3}, {16, 12, 2}, {14, 12, 1},
                                            {12, 12, 0}, {12, 4, -1}, {12, 4, -2}};
        Context inner = context;
        QTextBlockFormat format = blockFormat(context);
        if (node.align != Markup::NoAlign)
            format.setAlignment(alignment(node.align));
        if (node.kind == Markup::Heading) {
            const Heading& h = headings[qBound(1, int(node.level), 6) - 1];
            format.setHeadingLevel(qBound(1, int(node.level), 6));
            format.setTopMargin(h.top);
            format.setBottomMargin(h.bottom);
            inner.chars.setFontWeight(QFont::Bold);
            inner.chars.setProperty(QTextFormat::FontSizeAdjustment, h.sizeAdjustment);
        } else {
            format.setTopMargin(12);
            format.setBottomMargin(12);
        }
        startBlock(format, inner);
        for (int child = node.first; child >= 0; child = m_nodes[child].next)
            element(child, inner);
        m_needBlock = true;
    }

    void list(const Markup::Node& node, const Context& context)
    {
        Context inner = context;
        inner.listDepth = context.listDepth + 1;
        inner.indent = context.indent + 1;
        QTextListFormat format;
        format.setIndent(inner.indent);
        format.setStyle(node.level ? QTextListFormat::ListDecimal
                        : inner.listDepth == 1 ? QTextListFormat::ListDisc
                        : inner.listDepth == 2 ? QTextListFormat::ListCircle
                                               : QTextListFormat::ListSquare);
        QTextList* list = nullptr;
        int items = 0;
        for (int item = node.first; item >= 0; item = m_nodes[item].next) {
            QTextBlockFormat itemFormat;
            if (context.align)
                itemFormat.setAlignment(context.align);
            if (m_fresh && !m_cursor.block().textList()) {
                m_cursor.setBlockFormat(itemFormat);
                m_cursor.setBlockCharFormat(context.chars);
            } else {
                m_cursor.insertBlock(itemFormat, context.chars);
            }
            m_fresh = true;
            m_needBlock = false;
            if (items++ >= ServerText::MaxListItems) {
                ++m_linesCut;
                QTextBlockFormat line = m_cursor.blockFormat();
                line.setIndent(inner.indent);
                m_cursor.setBlockFormat(line);
            } else if (list) {
                list->add(m_cursor.block());
            } else {
                list = m_cursor.createList(format);
            }
            children(item, inner);
            m_needBlock = true;
        }
    }

    void table(const Markup::Node& node, const Context& context)
    {
        QVector<int> rows;
        int columns = 0;
        for (int row = node.first; row >= 0; row = m_nodes[row].next) {
            int cells = 0;
            for (int cell = m_nodes[row].first; cell >= 0; cell = m_nodes[cell].next)
                ++cells;
            if (cells > 0) {
                rows.append(row);
                columns = qMax(columns, cells);
            }
        }
        if (rows.isEmpty())
            return;
        columns = qMin(columns, int(ServerText::MaxTableColumns));
        Context cellContext = context;
        cellContext.indent = 0;
        cellContext.listDepth = 0;
        cellContext.tableDepth = context.tableDepth + 1;
        // A table inside a cell is laid out about twice for each layout of the cell.
        const int weight = 1 << (cellContext.tableDepth - 1);
        const int content = contentSize(node) / ServerText::CellContent;
        const int kept =
            m_cellsLeft >= content * weight ? qMin(rows.size(), (m_cellsLeft / weight - content) / columns) : 0;
        QVector<int> after; // cells that go in as lines after the table
        if (kept > 0) {
            m_cellsLeft -= (kept * columns + content) * weight;
            QTextTableFormat format;
            format.setBorder(node.level);
            format.setBorderStyle(QTextFrameFormat::BorderStyle_Outset);
            format.setCellSpacing(2);
            format.setCellPadding(2);
            QTextTable* table = m_cursor.insertTable(kept, columns, format);
            // Where each cell starts, taken before any is filled; filled from the last, so none moves.
            QVector<int> starts(kept * columns);
            QVector<int> cells(kept * columns, -1);
            for (int k = 0; k < starts.size(); ++k)
                starts[k] = table->cellAt(k / columns, k % columns).firstPosition();
            for (int row = 0; row < kept; ++row) {
                int column = 0;
                for (int cell = m_nodes[rows[row]].first; cell >= 0; cell = m_nodes[cell].next, ++column) {
                    if (column < columns)
                        cells[row * columns + column] = cell;
                    else
                        after.append(cell);
                }
            }
            for (int k = starts.size() - 1; k >= 0; --k) {
                if (cells[k] < 0)
                    continue;
                m_cursor.setPosition(starts[k]);
                m_fresh = true;
                m_needBlock = false;
                cell(cells[k], cellContext, true);
            }
            m_cursor.setPosition(table->lastPosition() + 1);
            m_fresh = true;
            m_needBlock = false;
        }
        for (int row = kept; row < rows.size(); ++row) {
            for (int cell = m_nodes[rows[row]].first; cell >= 0; cell = m_nodes[cell].next)
                after.append(cell);
        }
        cellContext.tableDepth = context.tableDepth;
        for (int c : after) {
            ++m_linesCut;
            m_needBlock = m_needBlock || !m_fresh;
            cell(c, cellContext, false);
        }
    }

    // What laying out an element's content costs, about: its characters, and some for each element.
    int contentSize(const Markup::Node& node) const
    {
        int size = node.textLength;
        for (int child = node.first; child >= 0; child = m_nodes[child].next)
            size += 10 + contentSize(m_nodes[child]);
        return size;
    }

    void cell(int index, const Context& context, bool ownCell)
    {
        const Markup::Node& node = m_nodes[index];
        Context inner = context;
        if (node.level) { // a header cell
            inner.chars.setFontWeight(QFont::Bold);
            inner.align = Qt::AlignHCenter;
        }
        if (node.align != Markup::NoAlign)
            inner.align = alignment(node.align);
        if (ownCell) {
            m_fresh = true;
            m_needBlock = false;
            m_cursor.setBlockFormat(blockFormat(inner));
        }
        children(index, inner);
    }
};

// Plain text as it may go into a document: lone surrogates and noncharacters (which a document takes for
// its own markers) become U+FFFD, and a long run without a space gets a place to break (see
// AllowedMarkup::MaxRun).
QString validText(const QString& text)
{
    const int n = text.size();
    const QChar* s = text.constData();
    QString out;
    out.reserve(n + n / AllowedMarkup::MaxRun);
    int run = 0;
    for (int i = 0; i < n; ++i) {
        const ushort c = s[i].unicode();
        if (QChar::isSpace(c) || c == 0x200B) {
            run = 0;
        } else if (++run > AllowedMarkup::MaxRun) {
            out.append(QChar(0x200B));
            run = 1;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(s[i + 1].unicode())) {
            const bool valid = (QChar::surrogateToUcs4(c, s[i + 1].unicode()) & 0xFFFE) != 0xFFFE;
            out.append(valid ? s[i] : QChar(QChar::ReplacementCharacter));
            out.append(valid ? s[i + 1] : QChar(QChar::ReplacementCharacter));
            ++i;
        } else if (QChar::isSurrogate(c) || (c >= 0xFDD0 && c <= 0xFDEF) || c >= 0xFFFE) {
            out.append(QChar(QChar::ReplacementCharacter));
        } else {
            out.append(s[i]);
        }
    }
    return out;
}

QString droppedSummary(const AllowedMarkup::Dropped& dropped, int linesCut, int coloursUnseen)
{
    const auto named = [](int count, const char* what, const QStringList& names) {
        QString part = QStringLiteral("%1 %2").arg(count).arg(QLatin1String(what));
        if (!names.isEmpty())
            part += QStringLiteral(" (%1)").arg(names.join(QLatin1String(", ")));
        return part;
    };
    QStringList gone;
    if (dropped.elements > 0)
        gone << named(dropped.elements, "elements not on the allow-list", dropped.elementNames);
    if (dropped.attributes > 0)
        gone << named(dropped.attributes, "attributes", dropped.attributeNames);
    if (dropped.nested > 0)
        gone << QStringLiteral("%1 elements nested past the bounds (tables %2, lists %3, all %4 deep)")
                    .arg(dropped.nested)
                    .arg(AllowedMarkup::MaxTableDepth)
                    .arg(AllowedMarkup::MaxListDepth)
                    .arg(AllowedMarkup::MaxDepth);
    QStringList parts;
    if (!gone.isEmpty())
        parts << QStringLiteral("dropped ") + gone.join(QLatin1String(", "));
    if (coloursUnseen > 0)
        parts << QStringLiteral("%1 font colours too close to the background dropped").arg(coloursUnseen);
    if (linesCut > 0)
        parts << QStringLiteral("%1 table cells or list items past the bounds shown as lines").arg(linesCut);
    if (dropped.entities > 0)
        parts << QStringLiteral("%1 entities not understood, kept as text or replaced").arg(dropped.entities);
    if (dropped.unclosed > 0)
        parts << QStringLiteral("%1 tags, comments, quotes or style sheets, scripts and titles left open, what follows "
                                "kept as text").arg(dropped.unclosed);
    if (dropped.characters > 0)
        parts << QStringLiteral("%1 characters that are not valid text, replaced or left out").arg(dropped.characters);
    return parts.join(QLatin1String("; "));
}

} // namespace

bool ServerText::show(QTextDocument* document, const QString& text, const char* what, const QColor& background)
{
    const bool markup = Qt::mightBeRichText(text);
    if (markup && text.size() <= MaxChars) {
        const AllowedMarkup read = AllowedMarkup::read(text);
        const bool undo = document->isUndoRedoEnabled();
        document->setUndoRedoEnabled(false);
        document->clear();
        DocumentBuilder builder(document, read,
                                background.isValid() ? background : QGuiApplication::palette().color(QPalette::Window));
        builder.build();
        document->setUndoRedoEnabled(undo);
        document->setModified(false);
        const QString summary = droppedSummary(read.dropped(), builder.linesCut(), builder.coloursUnseen());
        if (!summary.isEmpty())
            qWarning().noquote() << __LINE__ << what << "update text:" << summary;
        return true;
    }
    if (text.size() > MaxChars) {
        qWarning().noquote() << __LINE__ << what << "update text shown as plain text:"
                             << QStringLiteral("%1 characters, more than %2").arg(text.size()).arg(MaxChars);
    }
    int shown = qMin(text.size(), int(MaxChars));
    if (shown < text.size() && text.at(shown - 1).isHighSurrogate())
        --shown; // never half a character
    document->setPlainText(validText(text.left(shown)));
    return false;
}
