#pragma once
// Leaves the tool a notice of why a run gave up, which the tool shows the user at its next start.
#include "platform/updaternames.h"
#include "upgradelog.h"

#include <QString>

class UpgradeNotice {
public:
    // Adds why to the notice in appDir, at its first place or, while something other than a regular
    // file with one name stands there, at its spare place. Never through a link (symbolic or hard),
    // never into a pipe or a folder. The path written, or empty (logged) when neither place takes it.
    static QString leave(const QString& appDir, UpdaterNames::GiveUp why, UpgradeLog& log);
};
