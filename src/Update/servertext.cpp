#include "servertext.h"

#include "Update/inerttextdocument.h"

#include <QDebug>
#include <QTextFrame>
#include <QTextTable>
#include <QVector>

namespace {

// The deepest nesting of tables in the document, walked without recursion: the tree may be deep.
int tableDepth(QTextFrame* root)
{
    struct Step {
        QTextFrame* frame;
        int depth;
    };
    QVector<Step> pending{{root, 0}};
    int deepest = 0;
    while (!pending.isEmpty()) {
        const Step step = pending.takeLast();
        const int depth = step.depth + (qobject_cast<QTextTable*>(step.frame) ? 1 : 0);
        deepest = qMax(deepest, depth);
        for (QTextFrame* child : step.frame->childFrames())
            pending.append({child, depth});
    }
    return deepest;
}

} // namespace

QString ServerText::whyNotRich(const QString& text)
{
    if (text.size() > MaxChars)
        return QStringLiteral("%1 characters, more than %2").arg(text.size()).arg(MaxChars);
    const int tags = text.count(QLatin1Char('<'));
    if (tags > MaxTags)
        return QStringLiteral("%1 tags, more than %2").arg(tags).arg(MaxTags);
    // Measured on Qt's own reading of the text, never laid out: the HTML reader makes tables of stray
    // cells and rows too, which a count of our own would miss. Inert, as the shown document is.
    InertTextDocument parsed;
    parsed.setHtml(text);
    const int depth = tableDepth(parsed.rootFrame());
    if (depth > MaxTableDepth)
        return QStringLiteral("tables nested %1 deep, more than %2").arg(depth).arg(MaxTableDepth);
    return QString();
}

bool ServerText::show(QTextDocument* document, const QString& text, const char* what)
{
    const bool markup = Qt::mightBeRichText(text);
    const QString why = markup || text.size() > MaxChars ? whyNotRich(text) : QString();
    if (why.isEmpty() && markup) {
        document->setHtml(text);
        return true;
    }
    if (!why.isEmpty())
        qWarning().noquote() << __LINE__ << what << "update text shown as plain text:" << why;
    int shown = qMin(text.size(), int(MaxChars));
    if (shown < text.size() && text.at(shown - 1).isHighSurrogate())
        --shown; // never half a character
    document->setPlainText(text.left(shown));
    return false;
}
