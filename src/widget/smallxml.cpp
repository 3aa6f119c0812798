#include "smallxml.h"

#include <QTextStream>

#include <QSaveFile>

#include <QDebug>
#include <QDomDocument>
#include <QFile>

int readSmallXml(const QString& path, QDomDocument* doc)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -2;
    QString error;
    int line = 0;
    int column = 0;
    if (!doc->setContent(&file, false, &error, &line, &column)) {
        qDebug() << "menutree: parse file failed:" << line << "---" << column << ":" << error;
        return -1;
    }
    return 0;
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
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QTextStream out(&file);
    doc.save(out, 4);
    out.flush();
    return file.commit();
}
