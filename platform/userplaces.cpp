#include "userplaces.h"

namespace UserPlaces {

namespace {

// In lower case, relative to the application folder.
const QStringList UserLocations{
    QStringLiteral("log"),
    QStringLiteral("config/customcolor"),
    QStringLiteral("config/temp"),
    QStringLiteral("config/autoupdate.xml"),
    QStringLiteral("config/language.xml"),
    QStringLiteral("config/menutree.xml"),
};
// A settings file that did not read is kept beside it as ".bad", ".bad.1", ...
const QString KeptCopySuffix = QStringLiteral(".bad");

// A keyboard's folder: the 24 lower-case hexadecimal digits of its 12-byte device id.
constexpr int KeyboardFolderNameSize = 24;

bool isKeyboardFolderName(const QString& name)
{
    if (name.size() != KeyboardFolderNameSize)
        return false;
    for (const QChar c : name) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return true;
}

// path is location, one of its kept copies, or lies inside it.
bool isAtOrBelow(const QString& path, const QString& location, bool keptCopies)
{
    return path == location || path.startsWith(location + QLatin1Char('/'))
           || (keptCopies && path.startsWith(location + KeptCopySuffix));
}

} // namespace

QStringList comparableSegments(const QString& relativePath)
{
    QStringList segments;
    for (QString segment : relativePath.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        while (segment.endsWith(QLatin1Char('.')) || segment.endsWith(QLatin1Char(' ')))
            segment.chop(1);
        if (!segment.isEmpty())
            segments << segment.toLower();
    }
    return segments;
}

bool mayBeShortName(const QString& segment)
{
    const int tilde = segment.indexOf(QLatin1Char('~'));
    return tilde >= 0 && tilde + 1 < segment.size() && segment.at(tilde + 1).isDigit();
}

bool isUserPlace(const QString& relativePath)
{
    const QStringList segments = comparableSegments(relativePath);
    for (const QString& segment : segments) {
        if (mayBeShortName(segment))
            return true;
    }
    if (!segments.isEmpty() && isKeyboardFolderName(segments.first()))
        return true;
    const QString path = segments.join(QLatin1Char('/'));
    for (const QString& location : UserLocations) {
        if (isAtOrBelow(path, location, true))
            return true;
    }
    return false;
}

bool isToolPlace(const QString& relativePath, const QString& toolFileName)
{
    const QString path = comparableSegments(relativePath).join(QLatin1Char('/'));
    const QString program = comparableSegments(toolFileName).join(QLatin1Char('/'));
    if (!program.isEmpty() && path == program)
        return true;
    for (const QString& location :
         {QStringLiteral("upgrade"), QStringLiteral("config/about.xml"), QStringLiteral("config/updateserver.ini")}) {
        if (isAtOrBelow(path, location, false))
            return true;
    }
    return false;
}

} // namespace UserPlaces
