#pragma once
// Checks on what the download server and the keyboard give that becomes a local path under the
// application directory: a link of a link file, a board name.
#include <QString>

namespace ServerPath {

// A link ("/..." or empty) holding no ".." segment, "\", ":" or control character, that stays inside
// appDir once appended to it.
bool isSafeLink(const QString& link, const QString& appDir);
// A board name usable as one folder name: not empty, no "/", "\", ":", ".." or control character.
bool isSafeBoardName(const QString& name);

} // namespace ServerPath
