#pragma once
// Tells the user, once, why an update gave up where only they can mend it (the updater's record or lock,
// a staging folder that cannot be used): every later update stops there until the user deals with it.
#include <QString>

class QWidget;

namespace updaternotice {

// When the updater left its notice in appDir (at its place or its spare place): removes it and shows
// one box naming each reason, what to delete and, when a folder blocks the notice's place, that folder.
// Nothing when there is none. Only a regular file of one link within the notice's bound is read; an
// empty one is an older updater's notice, which gave up only on its record.
void tellIfAny(QWidget* parent, const QString& appDir);

// Tells, in a box on the GUI thread (safe from any thread), that an update fetched nothing because the
// folder it stages its files in cannot be used: reached through link, or, link empty, holding what
// cannot be removed. Names what to delete.
void stagingUnusable(const QString& folder, const QString& link);

// Tells, in a box on the GUI thread (safe from any thread), that an update was not installed because the
// updater program does not match the digest recorded when it was put in place, so it was not started.
void updaterDamaged(const QString& program);

} // namespace updaternotice
