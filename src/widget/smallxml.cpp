#include "smallxml.h"

#include "fileguard.h"
#include "platform/savefile.h"

#include <QTextStream>


#include <QDebug>
#include <QDomDocument>

int readSmallXml(const QString& path, QDomDocument* doc, const char* failure)
{
    FileGuard::XmlError error;
    switch (FileGuard::loadDom(path, doc, &error)) {
    case FileGuard::Result::Read:
        return 0;
    case FileGuard::Result::Unreadable:
        return -2;
    case FileGuard::Result::Refused:
        return -1; // logged by the guard
    case FileGuard::Result::Malformed:
        break;
    }
    qDebug() << failure << path << error.line << "---" << error.column << ":" << error.text;
    return -1;
}

QDomDocument newCommandDocument(const QString& declaration, QDomElement* root)
{
    QDomDocument doc;
    doc.appendChild(doc.createProcessingInstruction(QStringLiteral("xml"), declaration));
    *root = doc.createElement(QStringLiteral("COMMAND"));
    doc.appendChild(*root);
    return doc;
}

bool saveSmallXml(const QString& path, const QDomDocument& doc)
{
    SaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QTextStream out(&file);
    doc.save(out, 4);
    out.flush();
    // A full disk can fail the buffered flush and still let commit() replace the file.
    return out.status() == QTextStream::Ok && file.flush() && file.commit();
}
