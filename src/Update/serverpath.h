#pragma once
// Checks on what the download server and the keyboard give that becomes a local path under the
// application directory: a link of a link file, a delete entry, a board name.
#include <QString>

namespace ServerPath {

// A link ("/..." or empty) holding no ".." segment, "\", ":" or control character, that stays inside
// appDir once appended to it.
bool isSafeLink(const QString& link, const QString& appDir);
// A tool update's link: a safe link naming a file below "/UpgradeTessark/" that, once installed from
// the staged tool folder, lands in none of the user's places (UserPlaces::isUserPlace) and takes no
// name of the updater's own files (UpdaterNames::isReserved).
bool isToolLink(const QString& link, const QString& appDir);
// A firmware image's link: a safe link naming a file below "/UpgradeFirmware/<modelDir>/".
bool isFirmwareLink(const QString& link, const QString& modelDir, const QString& appDir);
// A tool link file's delete entry: a safe link that names none of the user's own files or folders
// (a keyboard's folder, the custom colours, the log, the settings the tool writes) nor lies in one,
// nor what the tool needs to start and update (toolFileName is the running program's file name), nor
// one of the updater's own files.
bool isDeletableEntry(const QString& entry, const QString& appDir, const QString& toolFileName);
// A board name usable as one folder name: not empty, no "/", "\", ":", ".." or control character.
bool isSafeBoardName(const QString& name);
// The board name as the keyboard's 16-byte field holds it: up to the first NUL, at most 16 bytes of
// UTF-8 (a character that would not fit whole is dropped).
QString cutBoardName(const QString& name);
// A relative path of "/"-separated segments, none empty, "." or "..", that stays inside base.
bool isSafeRelativePath(const QString& path, const QString& base);
// True when text holds "\", ":" or a control character.
bool hasForbiddenCharacter(const QString& text);
// Whether path, once cleaned, is base itself or lies below it.
bool isInside(const QString& path, const QString& base);
// The first folder from below appDir down to folder itself that is a symbolic link, which a write
// there would go through; empty when there is none or folder does not lie below appDir.
QString linkedFolder(const QString& folder, const QString& appDir);

} // namespace ServerPath
