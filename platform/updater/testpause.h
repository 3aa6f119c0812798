#pragma once
// A pause at a named step of the run, asked for through the environment by the tests alone, so they can
// kill the updater or change its folder at a known moment; unset, a step costs one look-up.
#include "upgradelog.h"

class TestPause {
public:
    // Sleeps TESSARK_UPGRADE_PAUSE_MS (at most a minute) when TESSARK_UPGRADE_PAUSE_AT names step,
    // after logging that it does.
    static void at(const char* step, UpgradeLog& log);
};
