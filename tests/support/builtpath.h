#pragma once
// Where a suite finds what the build laid out (the tool, its updater, fonts, the model's files): the
// folder above the suite's own, so a copy of the build serves any user who can run it.
#include <QString>

// The absolute path of `place` below that folder when tests/beside.txt (beside the suite) lists it or a
// folder it lies in; empty, with a warning, otherwise.
QString builtPath(const QString& place);
