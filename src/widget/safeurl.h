#pragma once
// The one gate between addresses read from the tool's files and the desktop's URL handler.
#include <QString>

class QUrl;

// Web pages and mail only: about.xml, help.xml and menutree.xml may come with an online update, and
// other schemes can open local files or start programs.
bool isOpenableUrl(const QUrl& url);

// Parses text tolerantly and hands it to the desktop when it is openable; otherwise logs a warning
// and opens nothing. True when it was handed over (the desktop's own result is not known).
bool openSafeUrl(const QString& text);
