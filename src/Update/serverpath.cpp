#include "serverpath.h"

#include "platform/updaternames.h"
#include "platform/userplaces.h"
#include "widget/fileguard.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace ServerPath {

namespace {
constexpr int BoardNameBytes = 16;

const QString ToolStage = QStringLiteral("UpgradeTessark");
const QString FirmwareStage = QStringLiteral("UpgradeFirmware");
// What the updater installs from, relative to the application directory.
const QString StagedToolFiles = QStringLiteral("UpgradeTessark/Windows/Tessark/Tessark");

// A safe link naming a file below the folder stage (a path of the application directory, no "/" at
// either end).
bool isFileBelow(const QString& link, const QString& stage, const QString& appDir)
{
    const QString prefix = QLatin1Char('/') + stage + QLatin1Char('/');
    return isSafeLink(link, appDir) && link.startsWith(prefix)
           && isSafeRelativePath(link.mid(prefix.size()), appDir + QLatin1Char('/') + stage);
}
// Whether a link below the staged tool folder would land, once installed, in one of the user's places.
// Compared as the file system compares names: a look-alike spelling of the staged folder counts.
bool landsInUserPlace(const QString& link)
{
    const QStringList segments = UserPlaces::comparableSegments(link);
    const QStringList staged = UserPlaces::comparableSegments(StagedToolFiles);
    if (segments.size() <= staged.size())
        return false;
    for (int i = 0; i < staged.size(); ++i) {
        if (segments.at(i) != staged.at(i) && !UserPlaces::mayBeShortName(segments.at(i)))
            return false;
    }
    return UserPlaces::isUserPlace(segments.mid(staged.size()).join(QLatin1Char('/')));
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

QString linkedFolder(const QString& folder, const QString& appDir)
{
    QString path = QDir::cleanPath(appDir);
    const QString clean = QDir::cleanPath(folder);
    if (path.isEmpty() || !isInside(clean, path))
        return QString();
    const QStringList segments = clean.mid(path.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    for (const QString& segment : segments) {
        path += QLatin1Char('/') + segment;
        if (QFileInfo(path).isSymLink())
            return path;
    }
    return QString();
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
    return isFileBelow(link, ToolStage, appDir) && !landsInUserPlace(link) && !UpdaterNames::isReserved(link);
}

bool isFirmwareLink(const QString& link, const QString& modelDir, const QString& appDir)
{
    return isSafeBoardName(modelDir) && isFileBelow(link, FirmwareStage + QLatin1Char('/') + modelDir, appDir);
}

bool isDeletableEntry(const QString& entry, const QString& appDir, const QString& toolFileName)
{
    return isSafeLink(entry, appDir) && !UserPlaces::isUserPlace(entry)
           && !UserPlaces::isToolPlace(entry, toolFileName) && !UpdaterNames::isReserved(entry);
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
