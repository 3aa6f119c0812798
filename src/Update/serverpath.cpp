#include "serverpath.h"

#include "device/device.h"
#include "widget/fileguard.h"

#include <QDir>
#include <QStringList>

namespace ServerPath {

namespace {
constexpr int BoardNameBytes = 16;

const QString ToolStage = QStringLiteral("UpgradeTessark");
const QString FirmwareStage = QStringLiteral("UpgradeFirmware");

// The user's own files below the application directory, in lower case: the log, the custom colours,
// the firmware panel's remembered folder, and the update, language and menu settings.
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

// A keyboard's folder: the hexadecimal form of its device id.
bool isKeyboardFolderName(const QString& name)
{
    if (name.size() != int(2 * sizeof(Device::m_deviceId)))
        return false;
    for (const QChar c : name) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return true;
}

// The segments of a safe link as the file system compares them: lower case, without the trailing dots
// and spaces Windows drops. Empty and "." segments go; the link holds no "..".
QStringList comparableSegments(const QString& link)
{
    QStringList segments;
    for (QString segment : link.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        while (segment.endsWith(QLatin1Char('.')) || segment.endsWith(QLatin1Char(' ')))
            segment.chop(1);
        if (!segment.isEmpty())
            segments << segment.toLower();
    }
    return segments;
}

// A "~<digit>" may be a Windows short name, which could stand for any of the user's files.
bool mayBeShortName(const QString& segment)
{
    const int tilde = segment.indexOf(QLatin1Char('~'));
    return tilde >= 0 && tilde + 1 < segment.size() && segment.at(tilde + 1).isDigit();
}

// A safe link naming a file below the folder stage (a path of the application directory, no "/" at
// either end).
bool isFileBelow(const QString& link, const QString& stage, const QString& appDir)
{
    const QString prefix = QLatin1Char('/') + stage + QLatin1Char('/');
    return isSafeLink(link, appDir) && link.startsWith(prefix)
           && isSafeRelativePath(link.mid(prefix.size()), appDir + QLatin1Char('/') + stage);
}
} // namespace

bool hasForbiddenCharacter(const QString& text)
{
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char(':') || c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

bool isInside(const QString& path, const QString& base)
{
    const QString cleanBase = QDir::cleanPath(base);
    const QString cleanPath = QDir::cleanPath(path);
    if (cleanPath == cleanBase)
        return true;
    const QString prefix = cleanBase.endsWith(QLatin1Char('/')) ? cleanBase : cleanBase + QLatin1Char('/');
    return cleanPath.startsWith(prefix);
}

bool isSafeLink(const QString& link, const QString& appDir)
{
    // An empty link is not a path outside: fetching it fails on its own ("File Open Failed").
    if (link.isEmpty())
        return true;
    if (hasForbiddenCharacter(link))
        return false;
    if (link.split(QLatin1Char('/')).contains(QStringLiteral("..")))
        return false;
    // "x" without its "/" would name a sibling of the application directory.
    return isInside(appDir + link, appDir);
}

bool isToolLink(const QString& link, const QString& appDir)
{
    return isFileBelow(link, ToolStage, appDir);
}

bool isFirmwareLink(const QString& link, const QString& modelDir, const QString& appDir)
{
    return isSafeBoardName(modelDir) && isFileBelow(link, FirmwareStage + QLatin1Char('/') + modelDir, appDir);
}

bool isDeletableEntry(const QString& entry, const QString& appDir)
{
    if (!isSafeLink(entry, appDir))
        return false;
    const QStringList segments = comparableSegments(entry);
    for (const QString& segment : segments) {
        if (mayBeShortName(segment))
            return false;
    }
    if (!segments.isEmpty() && isKeyboardFolderName(segments.first()))
        return false;
    const QString path = segments.join(QLatin1Char('/'));
    for (const QString& location : UserLocations) {
        if (path == location || path.startsWith(location + KeptCopySuffix) || path.startsWith(location + QLatin1Char('/')))
            return false;
    }
    return true;
}

bool isSafeBoardName(const QString& name)
{
    // A plain file name as the description files' names must be, and no drive letter either.
    return FileGuard::isPlainFileName(name) && !name.contains(QLatin1Char(':'));
}

QString cutBoardName(const QString& name)
{
    const int nul = name.indexOf(QChar(0));
    const QString text = nul < 0 ? name : name.left(nul);
    QString cut;
    int bytes = 0;
    for (int i = 0; i < text.size(); ++i) {
        int len = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            len = 2;
        const int size = text.mid(i, len).toUtf8().size();
        if (bytes + size > BoardNameBytes)
            break;
        bytes += size;
        cut += text.mid(i, len);
        i += len - 1;
    }
    return cut;
}

bool isSafeRelativePath(const QString& path, const QString& base)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || hasForbiddenCharacter(path))
        return false;
    for (const QString& segment : path.split(QLatin1Char('/'))) {
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String(".."))
            return false;
    }
    return isInside(base + QLatin1Char('/') + path, base) && QDir::cleanPath(base + QLatin1Char('/') + path) != QDir::cleanPath(base);
}

} // namespace ServerPath
