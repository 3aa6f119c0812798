#pragma once
// The one check every description and settings file passes before a parser sees it: a regular file of
// bounded size and, for XML, bounded element nesting. A file that never ends (a device), a huge one or
// a deeply nested one would otherwise freeze the window or overflow the DOM parser's stack.
#include <QByteArray>
#include <QString>

class QDomDocument;

namespace FileGuard {

// Largest file read; the shipped ones are a few kilobytes.
constexpr qint64 MaxFileBytes = 1024 * 1024;
// Deepest element nesting an XML file may have; the DOM parser recurses once per level.
constexpr int MaxXmlDepth = 64;

enum class Result {
    Read,       // content holds the whole file
    Unreadable, // missing (silent), can't be opened or not a regular file (these two logged)
    Refused,    // too large or nested too deep; logged with the file and the reason
    Malformed,  // XML only: not well-formed; error says where
};

struct XmlError {
    QString text;
    qint64 line = 0;
    qint64 column = 0;
};

// The whole file at path, when it is a regular file of at most MaxFileBytes.
Result readFile(const QString& path, QByteArray* content);

// readFile, then a stream pass over the elements: nesting beyond MaxXmlDepth is refused. On Malformed
// content still holds the file, for the token readers that apply what precedes the error.
Result readXml(const QString& path, QByteArray* content, XmlError* error = nullptr);

// readXml, then the DOM document: it never sees a file the stream pass did not find well-formed and
// shallow enough.
Result loadDom(const QString& path, QDomDocument* doc, XmlError* error = nullptr);

// A plain file name: no folder separator, no "..", no control character. Names that description files
// give are taken inside config/ and must not reach anything else.
bool isPlainFileName(const QString& name);

} // namespace FileGuard
