#pragma once
// The places below the application folder that belong to the user or keep the tool running, which no
// server path may replace, add to or delete: shared by the tool and the updater (Qt Core only).
#include <QString>
#include <QStringList>

namespace UserPlaces {

// A path relative to the application folder ("a/b", no leading "/") split as the file system compares
// it: lower case, without the trailing dots and spaces Windows drops; empty and "." segments go.
QStringList comparableSegments(const QString& relativePath);

// A segment holding "~<digit>": on Windows it may be the short name of any file or folder there.
bool mayBeShortName(const QString& segment);

// The user's own files and folders: a keyboard's folder, log/, the custom colours, config/temp/, the
// settings the tool writes (AutoUpdate.xml, Language.xml, menutree.xml) and their ".bad" copies, and
// anything inside them. A "~<digit>" segment may be a Windows short name for any of them, so it counts.
bool isUserPlace(const QString& relativePath);

// What the tool needs to start and to update itself: the program (toolFileName, as the tool's file
// name), the updater folder Upgrade/ and anything in it, config/about.xml and config/UpdateServer.ini.
bool isToolPlace(const QString& relativePath, const QString& toolFileName);

} // namespace UserPlaces
