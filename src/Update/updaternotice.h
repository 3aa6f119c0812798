#pragma once
// Tells the user, once, why the updater gave up (a record it could not follow, a lock it could not
// take): every later update stops there until the user deals with it.
#include <QString>

class QWidget;

namespace updaternotice {

// When the updater left its notice in appDir (at its place or its spare place): removes it and shows
// one box naming each reason, what to delete and, when a folder blocks the notice's place, that folder.
// Nothing when there is none. Only a regular file is read, and only its first bytes.
void tellIfAny(QWidget* parent, const QString& appDir);

} // namespace updaternotice
