#include "safeurl.h"

#include <QDebug>
#include <QDesktopServices>
#include <QUrl>

bool isOpenableUrl(const QUrl& url)
{
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme();
    if (scheme.compare(QLatin1String("mailto"), Qt::CaseInsensitive) == 0)
        return !url.path().isEmpty();
    // A web address without a host ("https:///etc/passwd") is left to no browser's guesswork.
    return (scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0
            || scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0)
           && !url.host().isEmpty();
}

bool openSafeUrl(const QString& text)
{
    const QUrl url(text, QUrl::TolerantMode);
    if (!isOpenableUrl(url)) {
        qWarning() << "Not opened, only http, https and mailto links are:" << text;
        return false;
    }
    QDesktopServices::openUrl(url);
    return true;
}
