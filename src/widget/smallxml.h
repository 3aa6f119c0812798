#pragma once
// Reading and writing the tool's small XML files (about.xml, help.xml, menutree.xml, Language.xml).
#include <QDomDocument>
#include <QString>

// Through the file guard: 0 parsed into doc, -1 not well-formed (logged after `failure` with line, column
// and text), too large or nested too deep (logged by the guard), -2 missing (silent), cannot be opened or
// not a regular file (logged by the guard).
int readSmallXml(const QString& path, QDomDocument* doc, const char* failure = "menutree: parse file failed:");

// A new document with the given XML declaration and the COMMAND root those files share.
QDomDocument newCommandDocument(const QString& declaration, QDomElement* root);
// Writes doc (indent 4) atomically: when anything fails the old file stays and the result is false.
bool saveSmallXml(const QString& path, const QDomDocument& doc);
