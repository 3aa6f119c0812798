#include "allowedmarkup.h"

#include <QColor>
#include <QHash>

#include <algorithm>
#include <iterator>
#include <limits>

namespace {

enum class Tag {
    Other,   // dropped, its text kept in the line
    Block,   // dropped, but it ends the line as the element did
    Wrapper, // html, body, tbody...: carries nothing, dropped without a word
    RawText, // dropped with its content
    P,
    H,
    Ul,
    Ol,
    Li,
    Table,
    Tr,
    Td,
    Th,
    B,
    I,
    U,
    Font,
    Br,
};

struct TagInfo {
    Tag tag = Tag::Other;
    int level = 0;
};

// Names are at most this long; a longer one is no element we know.
constexpr int MaxNameLength = 12;
// Names listed in the log, each.
constexpr int LoggedNames = 4;
// Attributes of one tag looked at; the rest are only counted.
constexpr int MaxAttributes = 16;

const QHash<QString, TagInfo>& knownTags()
{
    static const QHash<QString, TagInfo> tags = [] {
        QHash<QString, TagInfo> t;
        t.insert(QStringLiteral("p"), {Tag::P, 0});
        for (int level = 1; level <= 6; ++level)
            t.insert(QStringLiteral("h%1").arg(level), {Tag::H, level});
        t.insert(QStringLiteral("ul"), {Tag::Ul, 0});
        t.insert(QStringLiteral("ol"), {Tag::Ol, 0});
        t.insert(QStringLiteral("li"), {Tag::Li, 0});
        t.insert(QStringLiteral("table"), {Tag::Table, 0});
        t.insert(QStringLiteral("tr"), {Tag::Tr, 0});
        t.insert(QStringLiteral("td"), {Tag::Td, 0});
        t.insert(QStringLiteral("th"), {Tag::Th, 0});
        t.insert(QStringLiteral("b"), {Tag::B, 0});
        t.insert(QStringLiteral("strong"), {Tag::B, 0});
        t.insert(QStringLiteral("i"), {Tag::I, 0});
        t.insert(QStringLiteral("em"), {Tag::I, 0});
        t.insert(QStringLiteral("u"), {Tag::U, 0});
        t.insert(QStringLiteral("font"), {Tag::Font, 0});
        t.insert(QStringLiteral("br"), {Tag::Br, 0});
        int raw = 0; // which of MarkupReader's searches for an end tag
        for (const char* name : {"style", "script", "title"})
            t.insert(QLatin1String(name), {Tag::RawText, raw++});
        for (const char* name : {"html", "head", "body", "thead", "tbody", "tfoot"})
            t.insert(QLatin1String(name), {Tag::Wrapper, 0});
        for (const char* name : {"div", "center", "blockquote", "pre", "section", "article", "header", "footer",
                                 "nav", "aside", "address", "hr", "dl", "dt", "dd", "form", "fieldset", "figure",
                                 "figcaption", "main", "caption", "details", "summary", "legend"})
            t.insert(QLatin1String(name), {Tag::Block, 0});
        return t;
    }();
    return tags;
}

struct Entity {
    const char* name;
    ushort code;
};
// Every entity of HTML 4 (as Qt's own reader knows them) and apos, sorted as the names compare.
const Entity Entities[] = {
    {"AElig", 0xC6}, {"Aacute", 0xC1}, {"Acirc", 0xC2}, {"Agrave", 0xC0}, {"Alpha", 0x391}, {"Aring", 0xC5},
    {"Atilde", 0xC3}, {"Auml", 0xC4}, {"Beta", 0x392}, {"Ccedil", 0xC7}, {"Chi", 0x3A7}, {"Dagger", 0x2021},
    {"Delta", 0x394}, {"ETH", 0xD0}, {"Eacute", 0xC9}, {"Ecirc", 0xCA}, {"Egrave", 0xC8}, {"Epsilon", 0x395},
    {"Eta", 0x397}, {"Euml", 0xCB}, {"Gamma", 0x393}, {"Iacute", 0xCD}, {"Icirc", 0xCE}, {"Igrave", 0xCC},
    {"Iota", 0x399}, {"Iuml", 0xCF}, {"Kappa", 0x39A}, {"Lambda", 0x39B}, {"Mu", 0x39C}, {"Ntilde", 0xD1},
    {"Nu", 0x39D}, {"OElig", 0x152}, {"Oacute", 0xD3}, {"Ocirc", 0xD4}, {"Ograve", 0xD2}, {"Omega", 0x3A9},
    {"Omicron", 0x39F}, {"Oslash", 0xD8}, {"Otilde", 0xD5}, {"Ouml", 0xD6}, {"Phi", 0x3A6}, {"Pi", 0x3A0},
    {"Prime", 0x2033}, {"Psi", 0x3A8}, {"Rho", 0x3A1}, {"Scaron", 0x160}, {"Sigma", 0x3A3}, {"THORN", 0xDE},
    {"Tau", 0x3A4}, {"Theta", 0x398}, {"Uacute", 0xDA}, {"Ucirc", 0xDB}, {"Ugrave", 0xD9}, {"Upsilon", 0x3A5},
    {"Uuml", 0xDC}, {"Xi", 0x39E}, {"Yacute", 0xDD}, {"Yuml", 0x178}, {"Zeta", 0x396}, {"aacute", 0xE1},
    {"acirc", 0xE2}, {"acute", 0xB4}, {"aelig", 0xE6}, {"agrave", 0xE0}, {"alefsym", 0x2135}, {"alpha", 0x3B1},
    {"amp", 0x26}, {"and", 0x2227}, {"ang", 0x2220}, {"apos", 0x27}, {"aring", 0xE5}, {"asymp", 0x2248},
    {"atilde", 0xE3}, {"auml", 0xE4}, {"bdquo", 0x201E}, {"beta", 0x3B2}, {"brvbar", 0xA6}, {"bull", 0x2022},
    {"cap", 0x2229}, {"ccedil", 0xE7}, {"cedil", 0xB8}, {"cent", 0xA2}, {"chi", 0x3C7}, {"circ", 0x2C6},
    {"clubs", 0x2663}, {"cong", 0x2245}, {"copy", 0xA9}, {"crarr", 0x21B5}, {"cup", 0x222A}, {"curren", 0xA4},
    {"dArr", 0x21D3}, {"dagger", 0x2020}, {"darr", 0x2193}, {"deg", 0xB0}, {"delta", 0x3B4}, {"diams", 0x2666},
    {"divide", 0xF7}, {"eacute", 0xE9}, {"ecirc", 0xEA}, {"egrave", 0xE8}, {"empty", 0x2205}, {"emsp", 0x2003},
    {"ensp", 0x2002}, {"epsilon", 0x3B5}, {"equiv", 0x2261}, {"eta", 0x3B7}, {"eth", 0xF0}, {"euml", 0xEB},
    {"euro", 0x20AC}, {"exist", 0x2203}, {"fnof", 0x192}, {"forall", 0x2200}, {"frac12", 0xBD}, {"frac14", 0xBC},
    {"frac34", 0xBE}, {"frasl", 0x2044}, {"gamma", 0x3B3}, {"ge", 0x2265}, {"gt", 0x3E}, {"hArr", 0x21D4},
    {"harr", 0x2194}, {"hearts", 0x2665}, {"hellip", 0x2026}, {"iacute", 0xED}, {"icirc", 0xEE}, {"iexcl", 0xA1},
    {"igrave", 0xEC}, {"image", 0x2111}, {"infin", 0x221E}, {"int", 0x222B}, {"iota", 0x3B9}, {"iquest", 0xBF},
    {"isin", 0x2208}, {"iuml", 0xEF}, {"kappa", 0x3BA}, {"lArr", 0x21D0}, {"lambda", 0x3BB}, {"lang", 0x2329},
    {"laquo", 0xAB}, {"larr", 0x2190}, {"lceil", 0x2308}, {"ldquo", 0x201C}, {"le", 0x2264}, {"lfloor", 0x230A},
    {"lowast", 0x2217}, {"loz", 0x25CA}, {"lrm", 0x200E}, {"lsaquo", 0x2039}, {"lsquo", 0x2018}, {"lt", 0x3C},
    {"macr", 0xAF}, {"mdash", 0x2014}, {"micro", 0xB5}, {"middot", 0xB7}, {"minus", 0x2212}, {"mu", 0x3BC},
    {"nabla", 0x2207}, {"nbsp", 0xA0}, {"ndash", 0x2013}, {"ne", 0x2260}, {"ni", 0x220B}, {"not", 0xAC},
    {"notin", 0x2209}, {"nsub", 0x2284}, {"ntilde", 0xF1}, {"nu", 0x3BD}, {"oacute", 0xF3}, {"ocirc", 0xF4},
    {"oelig", 0x153}, {"ograve", 0xF2}, {"oline", 0x203E}, {"omega", 0x3C9}, {"omicron", 0x3BF}, {"oplus", 0x2295},
    {"or", 0x2228}, {"ordf", 0xAA}, {"ordm", 0xBA}, {"oslash", 0xF8}, {"otilde", 0xF5}, {"otimes", 0x2297},
    {"ouml", 0xF6}, {"para", 0xB6}, {"part", 0x2202}, {"permil", 0x2030}, {"perp", 0x22A5}, {"phi", 0x3C6},
    {"pi", 0x3C0}, {"piv", 0x3D6}, {"plusmn", 0xB1}, {"pound", 0xA3}, {"prime", 0x2032}, {"prod", 0x220F},
    {"prop", 0x221D}, {"psi", 0x3C8}, {"quot", 0x22}, {"rArr", 0x21D2}, {"radic", 0x221A}, {"rang", 0x232A},
    {"raquo", 0xBB}, {"rarr", 0x2192}, {"rceil", 0x2309}, {"rdquo", 0x201D}, {"real", 0x211C}, {"reg", 0xAE},
    {"rfloor", 0x230B}, {"rho", 0x3C1}, {"rlm", 0x200F}, {"rsaquo", 0x203A}, {"rsquo", 0x2019}, {"sbquo", 0x201A},
    {"scaron", 0x161}, {"sdot", 0x22C5}, {"sect", 0xA7}, {"shy", 0xAD}, {"sigma", 0x3C3}, {"sigmaf", 0x3C2},
    {"sim", 0x223C}, {"spades", 0x2660}, {"sub", 0x2282}, {"sube", 0x2286}, {"sum", 0x2211}, {"sup", 0x2283},
    {"sup1", 0xB9}, {"sup2", 0xB2}, {"sup3", 0xB3}, {"supe", 0x2287}, {"szlig", 0xDF}, {"tau", 0x3C4},
    {"there4", 0x2234}, {"theta", 0x3B8}, {"thetasym", 0x3D1}, {"thinsp", 0x2009}, {"thorn", 0xFE}, {"tilde", 0x2DC},
    {"times", 0xD7}, {"trade", 0x2122}, {"uArr", 0x21D1}, {"uacute", 0xFA}, {"uarr", 0x2191}, {"ucirc", 0xFB},
    {"ugrave", 0xF9}, {"uml", 0xA8}, {"upsih", 0x3D2}, {"upsilon", 0x3C5}, {"uuml", 0xFC}, {"weierp", 0x2118},
    {"xi", 0x3BE}, {"yacute", 0xFD}, {"yen", 0xA5}, {"yuml", 0xFF}, {"zeta", 0x3B6}, {"zwj", 0x200D},
    {"zwnj", 0x200C},
};
static_assert(sizeof(Entities) / sizeof(Entities[0]) == 253, "the 252 entities of HTML 4 and apos");
constexpr int MaxEntityName = 8; // thetasym

// The character a name stands for; 0 when it is none.
ushort namedEntity(const QStringRef& name)
{
    const Entity* end = std::end(Entities);
    const Entity* e = std::lower_bound(std::begin(Entities), end, name, [](const Entity& entity, const QStringRef& n) {
        return n.compare(QLatin1String(entity.name)) > 0;
    });
    return e != end && name == QLatin1String(e->name) ? e->code : 0;
}

// Where something next occurs in the text from a place on. The reader asks again from later places as it
// goes: the answer found once holds for every place up to it, so the text is looked through once in all,
// not once for each time a construct is left open.
class NextOf {
public:
    // The first place at or past from where found(j) holds; n when there is none.
    template <typename Found> int find(int from, int n, Found found)
    {
        if (from >= m_from && from <= m_at)
            return m_at;
        int j = from;
        while (j < n && !found(j))
            ++j;
        m_from = from;
        m_at = j;
        return j;
    }

private:
    int m_from = std::numeric_limits<int>::max();
    int m_at = -1;
};

bool isSpace(ushort c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == 0x2028 || c == 0x2029;
}

bool isAsciiLetter(ushort c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiLetterOrDigit(ushort c)
{
    return isAsciiLetter(c) || (c >= '0' && c <= '9');
}

// Code points that are no text: a document would take some of them for its own markers.
bool isNonCharacter(uint c)
{
    return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

bool isControl(uint c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

// A name as it is compared: lower case ASCII; empty when it is too long or not ASCII.
QString foldedName(const QChar* s, int length)
{
    if (length > MaxNameLength)
        return QString();
    QString name(length, Qt::Uninitialized);
    for (int k = 0; k < length; ++k) {
        const ushort c = s[k].unicode();
        if (c >= 0x80)
            return QString();
        name[k] = QChar(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    return name;
}

void remember(QStringList& names, const QString& name)
{
    if (!name.isEmpty() && names.size() < LoggedNames && !names.contains(name))
        names.append(name);
}

struct Attribute {
    QString name; // folded; empty when too long
    QStringRef value;
    bool open = false; // its quote was left open: the value is not used
};

} // namespace

class MarkupReader {
public:
    explicit MarkupReader(const QString& text) : m_in(text), m_s(text.constData()), m_n(text.size())
    {
        m_out.m_nodes.reserve(64);
        m_out.m_text.reserve(m_n);
        m_out.m_nodes.append(AllowedMarkup::Node());
        m_stack.reserve(AllowedMarkup::MaxDepth + 1);
        m_stack.append({0, AllowedMarkup::Root});
    }

    AllowedMarkup run()
    {
        while (m_i < m_n) {
            const ushort c = m_s[m_i].unicode();
            if (c == '<')
                markup();
            else if (c == '&')
                entity();
            else
                character();
        }
        return std::move(m_out);
    }

private:
    using Kind = AllowedMarkup::Kind;
    struct Open {
        int node;
        Kind kind;
    };

    const QString& m_in;
    const QChar* m_s;
    const int m_n;
    int m_i = 0;
    AllowedMarkup m_out;
    QVector<Open> m_stack;
    bool m_lineHasText = false; // a space now would separate words
    bool m_pendingSpace = false;
    // Tables and lists dropped for their depth and not yet ended: their rows, cells and items go too.
    int m_droppedTables = 0;
    int m_droppedLists = 0;
    int m_moreAttributes = 0; // on the tag being read, past those kept
    int m_run = 0;            // characters since the last place a line may break
    NextOf m_nextClose;       // '>'
    NextOf m_nextCommentEnd;  // "-->"
    NextOf m_nextRawEnd[3];   // "</style", "</script", "</title"

    AllowedMarkup::Dropped& dropped() { return m_out.m_dropped; }
    Kind top() const { return m_stack.last().kind; }

    static bool isContainer(Kind k)
    {
        return k == AllowedMarkup::Root || k == AllowedMarkup::List || k == AllowedMarkup::Item
               || k == AllowedMarkup::Table || k == AllowedMarkup::Row || k == AllowedMarkup::Cell;
    }
    static bool isInline(Kind k)
    {
        return k == AllowedMarkup::Bold || k == AllowedMarkup::Italic || k == AllowedMarkup::Underline
               || k == AllowedMarkup::Colour;
    }

    int addNode(Kind kind)
    {
        const int parent = m_stack.last().node;
        const int index = m_out.m_nodes.size();
        AllowedMarkup::Node node;
        node.kind = kind;
        m_out.m_nodes.append(node);
        AllowedMarkup::Node& p = m_out.m_nodes[parent];
        if (p.last >= 0)
            m_out.m_nodes[p.last].next = index;
        else
            p.first = index;
        p.last = index;
        return index;
    }

    // -1 when no more elements may be open.
    int push(Kind kind)
    {
        if (m_stack.size() > AllowedMarkup::MaxDepth)
            return -1;
        const int index = addNode(kind);
        m_stack.append({index, kind});
        return index;
    }

    int depthOf(Kind kind) const
    {
        int depth = 0;
        for (const Open& open : m_stack)
            depth += open.kind == kind;
        return depth;
    }

    // The nearest open element of this kind, looking no further down than the first of stops; -1 if none.
    int nearest(Kind kind, std::initializer_list<Kind> stops) const
    {
        for (int k = m_stack.size() - 1; k > 0; --k) {
            if (m_stack[k].kind == kind)
                return k;
            for (Kind stop : stops) {
                if (m_stack[k].kind == stop)
                    return -1;
            }
        }
        return -1;
    }

    void endLine()
    {
        m_lineHasText = m_pendingSpace = false;
        m_run = 0;
    }

    // Text goes into a cell or an item: text straight inside a table, row or list gets one made for it.
    // Where none fits any more, the table or list ends there.
    void ensureFlow()
    {
        for (;;) {
            const Kind k = top();
            const Kind need = k == AllowedMarkup::Table ? AllowedMarkup::Row
                              : k == AllowedMarkup::Row ? AllowedMarkup::Cell
                              : k == AllowedMarkup::List ? AllowedMarkup::Item
                                                         : AllowedMarkup::Root;
            if (need == AllowedMarkup::Root)
                return;
            if (push(need) >= 0)
                continue;
            while (top() == AllowedMarkup::Table || top() == AllowedMarkup::Row || top() == AllowedMarkup::List)
                m_stack.removeLast();
            return;
        }
    }

    // A block starts: an open paragraph or heading of this container ends.
    void closeParagraph()
    {
        for (int k = m_stack.size() - 1; k > 0; --k) {
            const Kind kind = m_stack[k].kind;
            if (kind == AllowedMarkup::Paragraph || kind == AllowedMarkup::Heading) {
                m_stack.resize(k);
                break;
            }
            if (isContainer(kind))
                break;
        }
        endLine();
    }

    // A dropped element that was a block: what follows starts a new line.
    void blockBreak()
    {
        const bool hadText = m_lineHasText;
        closeParagraph();
        const Kind k = top();
        if (hadText && k != AllowedMarkup::Table && k != AllowedMarkup::Row && k != AllowedMarkup::List)
            addNode(AllowedMarkup::BlockEnd);
    }

    void dropElement(const QString& name)
    {
        ++dropped().elements;
        remember(dropped().elementNames, name.isEmpty() ? QStringLiteral("?") : name);
    }

    // --- characters

    // One character into the text node at the end of the open element, made when there is none.
    void append(QChar c)
    {
        ensureFlow();
        QVector<AllowedMarkup::Node>& nodes = m_out.m_nodes;
        int last = nodes[m_stack.last().node].last;
        if (last < 0 || nodes[last].kind != AllowedMarkup::Text
            || nodes[last].textFrom + nodes[last].textLength != m_out.m_text.size()) {
            last = addNode(AllowedMarkup::Text);
            nodes[last].textFrom = m_out.m_text.size();
        }
        m_out.m_text.append(c);
        ++nodes[last].textLength;
    }

    // A space between words goes in before the next word, or before an element that starts one.
    void flushSpace()
    {
        if (!m_pendingSpace)
            return;
        m_pendingSpace = false;
        m_run = 0;
        append(QLatin1Char(' '));
    }

    void putChar(QChar c)
    {
        flushSpace();
        if (c.unicode() == 0x200B) {
            m_run = 0;
        } else if (++m_run > AllowedMarkup::MaxRun && !c.isLowSurrogate()) {
            append(QChar(0x200B));
            m_run = 1;
        }
        append(c);
        m_lineHasText = true;
    }

    void putSpace()
    {
        if (m_lineHasText)
            m_pendingSpace = true;
        m_run = 0;
    }

    void putCodePoint(uint c)
    {
        if (isSpace(c)) {
            putSpace();
        } else if (c > 0xFFFF) {
            putChar(QChar(QChar::highSurrogate(c)));
            putChar(QChar(QChar::lowSurrogate(c)));
        } else {
            putChar(QChar(ushort(c)));
        }
    }

    void character()
    {
        const ushort c = m_s[m_i].unicode();
        ++m_i;
        if (isSpace(c)) {
            putSpace();
        } else if (QChar::isHighSurrogate(c) && m_i < m_n && QChar::isLowSurrogate(m_s[m_i].unicode())) {
            const uint code = QChar::surrogateToUcs4(c, m_s[m_i].unicode());
            ++m_i;
            if (isNonCharacter(code)) {
                ++dropped().characters;
                putChar(QChar::ReplacementCharacter);
            } else {
                putCodePoint(code);
            }
        } else if (QChar::isSurrogate(c) || isNonCharacter(c)) {
            ++dropped().characters;
            putChar(QChar::ReplacementCharacter);
        } else if (isControl(c)) {
            ++dropped().characters;
        } else {
            if (c == QChar::ReplacementCharacter) // what a decoder put for bytes that were no text
                ++dropped().characters;
            putChar(QChar(c));
        }
    }

    // "&...": a known name or a number ending in ';' is decoded; anything else stays as it stands.
    void entity()
    {
        int j = m_i + 1;
        if (j < m_n && m_s[j] == QLatin1Char('#')) {
            ++j;
            const bool hex = j < m_n && (m_s[j] == QLatin1Char('x') || m_s[j] == QLatin1Char('X'));
            if (hex)
                ++j;
            const int from = j;
            uint value = 0;
            while (j < m_n && j - from < 8) {
                const int digit = hex ? hexDigit(m_s[j].unicode()) : decimalDigit(m_s[j].unicode());
                if (digit < 0)
                    break;
                value = value * (hex ? 16 : 10) + uint(digit);
                ++j;
            }
            const bool tooLong = j < m_n && (hex ? hexDigit(m_s[j].unicode()) : decimalDigit(m_s[j].unicode())) >= 0;
            if (j == from || tooLong) {
                ++dropped().entities;
                literal();
                return;
            }
            if (j < m_n && m_s[j] == QLatin1Char(';'))
                ++j;
            m_i = j;
            if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF) || isNonCharacter(value)) {
                ++dropped().entities;
                putChar(QChar::ReplacementCharacter);
            } else if (isControl(value) && !isSpace(value)) {
                ++dropped().entities;
            } else {
                putCodePoint(value);
            }
            return;
        }
        const int from = j;
        if (j < m_n && isAsciiLetter(m_s[j].unicode())) {
            while (j < m_n && j - from <= MaxEntityName && isAsciiLetterOrDigit(m_s[j].unicode()))
                ++j;
        }
        if (j == from || j >= m_n || m_s[j] != QLatin1Char(';')) {
            literal(); // a lone '&' in text is common; a name without its ';' is kept as it stands
            return;
        }
        const ushort code = namedEntity(QStringRef(&m_in, from, j - from));
        if (code == 0) {
            ++dropped().entities;
            literal();
            return;
        }
        m_i = j + 1;
        putChar(QChar(code));
    }

    // The character at m_i, as it stands.
    void literal()
    {
        putChar(m_s[m_i]);
        ++m_i;
    }

    static int decimalDigit(ushort c) { return c >= '0' && c <= '9' ? c - '0' : -1; }
    static int hexDigit(ushort c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    // --- markup

    // A construct opened at from and left open: its '<' is kept as text, and what follows is read as usual.
    void leftOpen(int from)
    {
        ++dropped().unclosed;
        m_i = from;
        literal();
    }

    // Past the next '>'; a declaration the text ends in is kept as text.
    void skipDeclaration()
    {
        const int close = m_nextClose.find(m_i, m_n, [this](int j) { return m_s[j] == QLatin1Char('>'); });
        if (close < m_n)
            m_i = close + 1;
        else
            leftOpen(m_i);
    }

    void markup()
    {
        const int rest = m_n - m_i;
        const ushort next = rest > 1 ? m_s[m_i + 1].unicode() : 0;
        if (next == '!') {
            if (rest >= 4 && m_s[m_i + 2] == QLatin1Char('-') && m_s[m_i + 3] == QLatin1Char('-'))
                comment();
            else
                skipDeclaration(); // such as <!DOCTYPE html>
        } else if (next == '?') {
            skipDeclaration();
        } else if (next == '/' && rest > 2 && isAsciiLetter(m_s[m_i + 2].unicode())) {
            tag(m_i, true);
        } else if (next == '/') {
            skipDeclaration(); // "</>", "</ x>": nothing
        } else if (isAsciiLetter(next)) {
            tag(m_i, false);
        } else {
            literal();
        }
    }

    void comment()
    {
        // "<!-->" and "<!--->" end at once, as browsers read them.
        const int close = m_nextCommentEnd.find(m_i + 2, m_n, [this](int j) {
            return j + 2 < m_n && m_s[j] == QLatin1Char('-') && m_s[j + 1] == QLatin1Char('-')
                   && m_s[j + 2] == QLatin1Char('>');
        });
        if (close < m_n)
            m_i = close + 3;
        else
            leftOpen(m_i);
    }

    bool endsName(int j) const
    {
        const QChar c = m_s[j];
        return isSpace(c.unicode()) || c == QLatin1Char('/') || c == QLatin1Char('>') || c == QLatin1Char('<');
    }

    // from at the tag's '<'. Reads the name and attributes up to '>'. A tag that the text ends in, or that
    // meets another '<' first, was left open and is kept as text.
    void tag(int from, bool end)
    {
        m_moreAttributes = 0;
        m_i = from + (end ? 2 : 1);
        const int nameFrom = m_i;
        while (m_i < m_n && !endsName(m_i))
            ++m_i;
        const QString name = foldedName(m_s + nameFrom, m_i - nameFrom);
        QVector<Attribute> attributes;
        for (;;) {
            while (m_i < m_n && (isSpace(m_s[m_i].unicode()) || m_s[m_i] == QLatin1Char('/')))
                ++m_i;
            if (m_i >= m_n || m_s[m_i] == QLatin1Char('<')) {
                leftOpen(from);
                return;
            }
            if (m_s[m_i] == QLatin1Char('>')) {
                ++m_i;
                break;
            }
            const int attrFrom = m_i;
            ++m_i; // the first character belongs to the name, even '='
            while (m_i < m_n && !endsName(m_i) && m_s[m_i] != QLatin1Char('='))
                ++m_i;
            Attribute attribute{foldedName(m_s + attrFrom, m_i - attrFrom), QStringRef()};
            while (m_i < m_n && isSpace(m_s[m_i].unicode()))
                ++m_i;
            if (m_i < m_n && m_s[m_i] == QLatin1Char('=')) {
                ++m_i;
                while (m_i < m_n && isSpace(m_s[m_i].unicode()))
                    ++m_i;
                if (m_i < m_n && (m_s[m_i] == QLatin1Char('"') || m_s[m_i] == QLatin1Char('\''))) {
                    quoted(&attribute);
                } else {
                    const int valueFrom = m_i;
                    while (m_i < m_n && !isSpace(m_s[m_i].unicode()) && m_s[m_i] != QLatin1Char('>')
                           && m_s[m_i] != QLatin1Char('<'))
                        ++m_i;
                    attribute.value = QStringRef(&m_in, valueFrom, m_i - valueFrom);
                }
            }
            // Only a start tag's attributes are looked at, and a few are plenty for any element kept.
            if (end)
                continue;
            if (attributes.size() < MaxAttributes)
                attributes.append(attribute);
            else
                ++m_moreAttributes;
        }
        const auto known = knownTags().constFind(name);
        const TagInfo info = name.isEmpty() || known == knownTags().constEnd() ? TagInfo() : known.value();
        if (end)
            endTag(info);
        else
            startTag(info, name, attributes);
    }

    // m_i at a value's opening quote. The value ends at its closing quote when a tag could go on from
    // there. A quote left open (the next '<' or the text's end comes first, or what follows the closing
    // quote could not) would swallow what follows: the value ends at the next '>' or '<' instead, unused.
    void quoted(Attribute* attribute)
    {
        const QChar quote = m_s[m_i];
        const int valueFrom = ++m_i;
        int j = valueFrom;
        while (j < m_n && m_s[j] != quote && m_s[j] != QLatin1Char('<'))
            ++j;
        if (j < m_n && m_s[j] == quote && (j + 1 == m_n || endsName(j + 1))) {
            attribute->value = QStringRef(&m_in, valueFrom, j - valueFrom);
            m_i = j + 1;
            return;
        }
        ++dropped().unclosed;
        attribute->open = true;
        while (m_i < m_n && m_s[m_i] != QLatin1Char('>') && m_s[m_i] != QLatin1Char('<'))
            ++m_i;
        attribute->value = QStringRef(&m_in, valueFrom, m_i - valueFrom);
    }

    // --- attributes

    // Marks every attribute but the one allowed (if any) as dropped; returns the allowed one's value.
    QStringRef allowed(const QVector<Attribute>& attributes, const char* allowedName)
    {
        if (m_moreAttributes > 0) {
            dropped().attributes += m_moreAttributes;
            m_moreAttributes = 0;
        }
        QStringRef value;
        for (const Attribute& a : attributes) {
            if (allowedName && a.name == QLatin1String(allowedName) && !a.open && value.isNull()) {
                value = a.value.isNull() ? QStringRef(&m_in, 0, 0) : a.value;
                continue;
            }
            dropAttribute(a.name);
        }
        return value;
    }

    void dropAttribute(const QString& name)
    {
        ++dropped().attributes;
        remember(dropped().attributeNames, name.isEmpty() ? QStringLiteral("?") : name);
    }

    AllowedMarkup::Align alignment(const QVector<Attribute>& attributes)
    {
        const QStringRef value = allowed(attributes, "align");
        if (value.isNull())
            return AllowedMarkup::NoAlign;
        const QString v = foldedName(value.constData(), value.size());
        if (v == QLatin1String("left"))
            return AllowedMarkup::AlignLeft;
        if (v == QLatin1String("right"))
            return AllowedMarkup::AlignRight;
        if (v == QLatin1String("center"))
            return AllowedMarkup::AlignCenter;
        if (v == QLatin1String("justify"))
            return AllowedMarkup::AlignJustify;
        dropAttribute(QStringLiteral("align"));
        return AllowedMarkup::NoAlign;
    }

    // "#rgb", "#rrggbb" or a colour name of letters only; only one that shows, as a colour that cannot be
    // seen would hide its text.
    bool colour(const QVector<Attribute>& attributes, QRgb* rgb)
    {
        const QStringRef value = allowed(attributes, "color");
        if (value.isNull())
            return false;
        const QStringRef v = value.trimmed();
        bool ok = false;
        if (v.startsWith(QLatin1Char('#')) && (v.size() == 4 || v.size() == 7)) {
            ok = true;
            for (int k = 1; k < v.size(); ++k)
                ok = ok && hexDigit(v.at(k).unicode()) >= 0;
        } else if (v.size() >= 3 && v.size() <= 20) {
            ok = true;
            for (QChar c : v)
                ok = ok && isAsciiLetter(c.unicode());
        }
        const QColor c = ok ? QColor(v.toString()) : QColor();
        if (!c.isValid() || c.alpha() == 0) {
            dropAttribute(QStringLiteral("color"));
            return false;
        }
        *rgb = c.rgb();
        return true;
    }

    quint8 border(const QVector<Attribute>& attributes)
    {
        const QStringRef value = allowed(attributes, "border");
        if (value.isNull())
            return 0;
        const QStringRef v = value.trimmed();
        if (v.isEmpty())
            return 1; // <table border>
        if (v.size() == 1 && decimalDigit(v.at(0).unicode()) >= 0)
            return quint8(qMin(decimalDigit(v.at(0).unicode()), 4));
        dropAttribute(QStringLiteral("border"));
        return 0;
    }

    // --- elements

    void nestedTooDeep(int* droppedKind = nullptr)
    {
        ++dropped().nested;
        if (droppedKind)
            ++*droppedKind;
        blockBreak();
    }

    void startTag(const TagInfo& info, const QString& name, const QVector<Attribute>& attributes)
    {
        switch (info.tag) {
        case Tag::P:
        case Tag::H: {
            closeParagraph();
            ensureFlow();
            const int node = push(info.tag == Tag::P ? AllowedMarkup::Paragraph : AllowedMarkup::Heading);
            if (node < 0) {
                ++dropped().nested;
                return;
            }
            const AllowedMarkup::Align align = alignment(attributes);
            m_out.m_nodes[node].align = align;
            m_out.m_nodes[node].level = quint8(info.level);
            return;
        }
        case Tag::Ul:
        case Tag::Ol: {
            closeParagraph();
            if (m_droppedLists > 0 || depthOf(AllowedMarkup::List) >= AllowedMarkup::MaxListDepth) {
                nestedTooDeep(&m_droppedLists);
                return;
            }
            ensureFlow();
            const int node = push(AllowedMarkup::List);
            if (node < 0) {
                nestedTooDeep(&m_droppedLists);
                return;
            }
            allowed(attributes, nullptr);
            m_out.m_nodes[node].level = info.tag == Tag::Ol;
            return;
        }
        case Tag::Li: {
            if (m_droppedLists > 0) {
                nestedTooDeep();
                return;
            }
            for (int k = m_stack.size() - 1; k > 0; --k) {
                const Kind kind = m_stack[k].kind;
                if (kind == AllowedMarkup::Item)
                    m_stack.resize(k); // the item before ends
                if (kind == AllowedMarkup::Item || kind == AllowedMarkup::List || kind == AllowedMarkup::Table
                    || kind == AllowedMarkup::Row || kind == AllowedMarkup::Cell)
                    break;
            }
            if (top() != AllowedMarkup::List) {
                dropElement(name); // an item outside any list
                blockBreak();
                return;
            }
            endLine();
            if (push(AllowedMarkup::Item) < 0)
                nestedTooDeep();
            else
                allowed(attributes, nullptr);
            return;
        }
        case Tag::Table: {
            closeParagraph();
            if (m_droppedTables > 0 || depthOf(AllowedMarkup::Table) >= AllowedMarkup::MaxTableDepth) {
                nestedTooDeep(&m_droppedTables);
                return;
            }
            ensureFlow();
            const int node = push(AllowedMarkup::Table);
            if (node < 0) {
                nestedTooDeep(&m_droppedTables);
                return;
            }
            m_out.m_nodes[node].level = border(attributes);
            return;
        }
        case Tag::Tr: {
            if (m_droppedTables > 0) {
                nestedTooDeep();
                return;
            }
            const int table = nearest(AllowedMarkup::Table, {});
            if (table < 0) {
                dropElement(name);
                blockBreak();
                return;
            }
            m_stack.resize(table + 1);
            endLine();
            if (push(AllowedMarkup::Row) < 0)
                nestedTooDeep();
            else
                allowed(attributes, nullptr);
            return;
        }
        case Tag::Td:
        case Tag::Th: {
            if (m_droppedTables > 0) {
                nestedTooDeep();
                return;
            }
            int k = m_stack.size() - 1;
            while (k > 0 && m_stack[k].kind != AllowedMarkup::Row && m_stack[k].kind != AllowedMarkup::Table)
                --k;
            if (k == 0) {
                dropElement(name);
                blockBreak();
                return;
            }
            m_stack.resize(k + 1);
            endLine();
            if ((top() == AllowedMarkup::Table && push(AllowedMarkup::Row) < 0)) {
                nestedTooDeep();
                return;
            }
            const int node = push(AllowedMarkup::Cell);
            if (node < 0) {
                nestedTooDeep();
                return;
            }
            const AllowedMarkup::Align align = alignment(attributes);
            m_out.m_nodes[node].align = align;
            m_out.m_nodes[node].level = info.tag == Tag::Th;
            return;
        }
        case Tag::B:
        case Tag::I:
        case Tag::U:
        case Tag::Font: {
            flushSpace();
            ensureFlow();
            const int node = push(info.tag == Tag::B   ? AllowedMarkup::Bold
                                  : info.tag == Tag::I ? AllowedMarkup::Italic
                                  : info.tag == Tag::U ? AllowedMarkup::Underline
                                                       : AllowedMarkup::Colour);
            if (node < 0) {
                ++dropped().nested;
                return;
            }
            if (info.tag == Tag::Font) {
                QRgb rgb = 0;
                m_out.m_nodes[node].hasColour = colour(attributes, &rgb);
                m_out.m_nodes[node].colour = rgb;
            } else {
                allowed(attributes, nullptr);
            }
            return;
        }
        case Tag::Br:
            ensureFlow();
            addNode(AllowedMarkup::LineBreak);
            allowed(attributes, nullptr);
            endLine();
            return;
        case Tag::RawText:
            dropElement(name);
            skipRawText(name, info.level);
            return;
        case Tag::Block:
            dropElement(name);
            blockBreak();
            return;
        case Tag::Wrapper:
            return;
        case Tag::Other:
            dropElement(name);
            return;
        }
    }

    void endTag(const TagInfo& info)
    {
        const std::initializer_list<Kind> blockStops{AllowedMarkup::Item, AllowedMarkup::Cell, AllowedMarkup::List,
                                                     AllowedMarkup::Table, AllowedMarkup::Row};
        int k = -1;
        switch (info.tag) {
        case Tag::P:
        case Tag::H:
            k = nearest(info.tag == Tag::P ? AllowedMarkup::Paragraph : AllowedMarkup::Heading, blockStops);
            if (k < 0)
                blockBreak();
            break;
        case Tag::Ul:
        case Tag::Ol:
            if (m_droppedLists > 0) {
                --m_droppedLists;
                blockBreak();
                return;
            }
            k = nearest(AllowedMarkup::List, {AllowedMarkup::Cell, AllowedMarkup::Row, AllowedMarkup::Table});
            break;
        case Tag::Li:
            if (m_droppedLists == 0)
                k = nearest(AllowedMarkup::Item, {AllowedMarkup::List, AllowedMarkup::Cell, AllowedMarkup::Row,
                                                  AllowedMarkup::Table});
            break;
        case Tag::Table:
            if (m_droppedTables > 0) {
                --m_droppedTables;
                blockBreak();
                return;
            }
            k = nearest(AllowedMarkup::Table, {});
            break;
        case Tag::Tr:
            if (m_droppedTables == 0)
                k = nearest(AllowedMarkup::Row, {AllowedMarkup::Table});
            break;
        case Tag::Td:
        case Tag::Th:
            if (m_droppedTables == 0)
                k = nearest(AllowedMarkup::Cell, {AllowedMarkup::Row, AllowedMarkup::Table});
            break;
        case Tag::B:
        case Tag::I:
        case Tag::U:
        case Tag::Font: {
            const Kind kind = info.tag == Tag::B   ? AllowedMarkup::Bold
                              : info.tag == Tag::I ? AllowedMarkup::Italic
                              : info.tag == Tag::U ? AllowedMarkup::Underline
                                                   : AllowedMarkup::Colour;
            // Inline elements end only within their block: a stray end tag changes nothing.
            for (int j = m_stack.size() - 1; j > 0 && isInline(m_stack[j].kind); --j) {
                if (m_stack[j].kind == kind) {
                    m_stack.resize(j);
                    break;
                }
            }
            return;
        }
        case Tag::Block:
            blockBreak();
            return;
        default:
            return;
        }
        if (k > 0) {
            m_stack.resize(k);
            endLine();
        }
    }

    // style, script, title: their content is no text, skipped to their end tag. Without one, nothing is
    // skipped: the content is read as text, so what follows is not lost.
    void skipRawText(const QString& name, int which)
    {
        const int length = name.size();
        const int close = m_nextRawEnd[which].find(m_i, m_n, [this, &name, length](int j) {
            if (m_s[j] != QLatin1Char('<') || j + 2 + length > m_n || m_s[j + 1] != QLatin1Char('/')
                || foldedName(m_s + j + 2, length) != name)
                return false;
            const int after = j + 2 + length;
            return after == m_n || isSpace(m_s[after].unicode()) || m_s[after] == QLatin1Char('/')
                   || m_s[after] == QLatin1Char('>');
        });
        if (close < m_n)
            m_i = close;
        else
            ++dropped().unclosed;
    }
};

AllowedMarkup AllowedMarkup::read(const QString& text)
{
    return MarkupReader(text).run();
}
