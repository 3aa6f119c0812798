#pragma once
// Tells the user, once, that the updater left a record it could not follow: every later update stops
// there until the user deals with it.
#include <QString>

class QWidget;

namespace updaternotice {

// When the updater left its notice in appDir: removes it and shows one box naming the record and what
// to do. Nothing when there is none. The notice is never opened, only its name looked at.
void tellIfAny(QWidget* parent, const QString& appDir);

} // namespace updaternotice
