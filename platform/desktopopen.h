#pragma once
// Opening what a key function names on this computer: a web address, a document or program, a folder.
#include <QString>

namespace desktopopen {
// The text as a URL in tolerant mode, through the desktop's URL handler. False (logged) when refused.
bool openWebText(const QString& text);
// A local file or folder; on Linux an executable regular file is started directly (never through a
// shell), anything else goes to the desktop's handler as a file URL. False (logged) when refused.
bool openLocalPath(const QString& path);
} // namespace desktopopen
