#pragma once
// Leaves the tool a notice of why a run gave up, which the tool shows the user at its next start.
#include "lockedfolder.h"
#include "platform/updaternames.h"
#include "upgradelog.h"

#include <QString>

class UpgradeNotice {
public:
    // Adds why to the notice in folder (through its descriptor: where the folder is now), at its first
    // place or, while something other than a regular file with one name stands there, at its spare
    // place. Never through a link (symbolic or hard), never into a pipe or a folder. The path written
    // (as the folder was named when locked), or empty (logged) when neither place takes it.
    static QString leave(const LockedFolder& folder, UpdaterNames::GiveUp why, UpgradeLog& log);
};
