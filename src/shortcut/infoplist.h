#pragma once
// One value of an application bundle's Info.plist (macOS), e.g. its display name.
#include <QString>

// The text of the element after the <key> whose text is key (compared without regard to case, as are
// the tag names) in the dict of folder/Contents/Info.plist; "" when the file, its plist root, its dict
// or the key is missing, or the file is not well-formed.
QString readInfoPlistValue(const QString& folder, const QString& key);
