#include "plaintext.h"

#include <QLabel>
#include <QTextDocument>

namespace plaintext {

void keep(QLabel* label)
{
    if (label)
        label->setTextFormat(Qt::PlainText);
}

QString toolTip(const QString& text)
{
    if (!Qt::mightBeRichText(text))
        return text;
    return Qt::convertFromPlainText(text, Qt::WhiteSpacePre);
}

} // namespace plaintext
