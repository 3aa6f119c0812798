#pragma once
// Opening one of the small XML files (about.xml, help.xml) the way their readers share.
#include <QString>

class QDomDocument;

// 0 parsed into doc, -1 not well-formed (logged with line, column and text), -2 cannot be opened (silent).
int readSmallXml(const QString& path, QDomDocument* doc);
