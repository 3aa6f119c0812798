#include "smallxml.h"

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
