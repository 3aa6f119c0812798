#include "fileguard.h"

#include "widget/regularfile.h"

#include <QDebug>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

namespace FileGuard {

namespace {

void refuse(const QString& path, const QString& reason)
{
    qDebug().noquote() << QStringLiteral("File refused: \"%1\": %2").arg(path, reason);
}

QString tooLarge()
{
    return QStringLiteral("larger than %1 bytes").arg(MaxFileBytes);
}

} // namespace

Result readFile(const QString& path, QByteArray* content)
{
    content->clear();
    const QFileInfo info(path);
    if (!info.exists())
        return Result::Unreadable;
    // Checked before opening: a pipe would block the open, a device would never end.
    if (!info.isFile()) {
        refuse(path, QStringLiteral("not a regular file"));
        return Result::Unreadable;
    }
    if (info.size() > MaxFileBytes) {
        refuse(path, tooLarge());
        return Result::Refused;
    }
    // Checked again on what was opened: a file swapped for a pipe since the check above is refused too.
    QFile file;
    QString why;
    if (!RegularFile::openForReading(&file, path, &why)) {
        // A file without read permission, for one: it exists, so its absence is no explanation.
        refuse(path, why.isEmpty() ? file.errorString() : why);
        return Result::Unreadable;
    }
    // One byte past the limit: a file that grew, or reports no size, is still caught.
    *content = file.read(MaxFileBytes + 1);
    if (content->size() > MaxFileBytes) {
        content->clear();
        refuse(path, tooLarge());
        return Result::Refused;
    }
    return Result::Read;
}

Result readXml(const QString& path, QByteArray* content, XmlError* error)
{
    const Result read = readFile(path, content);
    if (read != Result::Read)
        return read;
    QXmlStreamReader reader(*content);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > MaxXmlDepth) {
            content->clear();
            refuse(path, QStringLiteral("elements nested deeper than %1 levels").arg(MaxXmlDepth));
            return Result::Refused;
        }
        if (token == QXmlStreamReader::EndElement)
            --depth;
    }
    if (!reader.hasError())
        return Result::Read;
    if (error)
        *error = {reader.errorString(), reader.lineNumber(), reader.columnNumber()};
    return Result::Malformed;
}

Result loadDom(const QString& path, QDomDocument* doc, XmlError* error)
{
    QByteArray content;
    const Result read = readXml(path, &content, error);
    if (read != Result::Read)
        return read;
    QString text;
    int line = 0;
    int column = 0;
    if (!doc->setContent(content, false, &text, &line, &column)) {
        if (error)
            *error = {text, line, column};
        return Result::Malformed;
    }
    return Result::Read;
}

bool isPlainFileName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name.contains(QLatin1String("..")))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

} // namespace FileGuard
