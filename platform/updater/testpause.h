#pragma once
// What the tests ask of the updater through the environment: a pause at a named step of the run (so they
// can kill it or change its folder at a known moment), and a file system that locks no folder. Only the
// updater built for the tests (TESSARK_UPDATER_TEST_HOOKS) reads the variables; the shipped one
// ignores them.
#include "upgradelog.h"

class TestPause {
public:
    // Sleeps TESSARK_UPGRADE_PAUSE_MS (at most a minute) when TESSARK_UPGRADE_PAUSE_AT names step,
    // after logging that it does.
    static void at(const char* step, UpgradeLog& log);
    // Whether TESSARK_UPGRADE_NO_FOLDER_LOCKS asks the updater to take every folder's lock as failed,
    // as on a share that locks no folder.
    static bool foldersLockNot();
};
