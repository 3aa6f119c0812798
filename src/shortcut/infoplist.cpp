#include "infoplist.h"

#include "widget/fileguard.h"

#include <QDomDocument>
#include <QDomElement>

namespace {

bool sameText(const QString& a, const QLatin1String& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

} // namespace

QString readInfoPlistValue(const QString& folder, const QString& key)
{
    QByteArray content;
    if (FileGuard::readXml(folder + QStringLiteral("/Contents/Info.plist"), &content) != FileGuard::Result::Read)
        return QString();
    // The file is UTF-8 whatever its declaration says; a byte order mark is no content.
    QString text = QString::fromUtf8(content);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QDomDocument doc;
    if (!doc.setContent(text, false))
        return QString();
    const QDomElement root = doc.documentElement();
    if (!sameText(root.tagName(), QLatin1String("plist")))
        return QString();
    QDomElement dict = root.firstChildElement();
    while (!dict.isNull() && !sameText(dict.tagName(), QLatin1String("dict")))
        dict = dict.nextSiblingElement();
    for (QDomElement e = dict.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (sameText(e.tagName(), QLatin1String("key")) && e.text().compare(key, Qt::CaseInsensitive) == 0)
            return e.nextSiblingElement().text();
    }
    return QString();
}
