#include "inputnotice.h"

#include "widget/filenotice.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {
QSet<QString> g_told; // GUI thread only, as every reader that tells

// Whether path is to be told: something stands there (an absent file, or a link to nowhere, is not
// damage), and it was not told earlier in this run (then it is marked told).
bool firstTime(const QString& path)
{
    const QString key = QDir::cleanPath(path);
    if (key.isEmpty() || !QFileInfo::exists(path) || g_told.contains(key))
        return false;
    g_told.insert(key);
    return true;
}
} // namespace

namespace inputnotice {

bool unreadable(const QString& path, const QString& keptAs)
{
    if (!firstTime(path))
        return false;
    filenotice::unreadable(path, keptAs);
    return true;
}

bool descriptionUnreadable(const QString& path)
{
    if (!firstTime(path))
        return false;
    filenotice::descriptionUnreadable(path);
    return true;
}

bool effectsUnreadable(const QString& path, bool partly)
{
    if (!firstTime(path))
        return false;
    filenotice::effectsUnreadable(path, partly);
    return true;
}

} // namespace inputnotice
