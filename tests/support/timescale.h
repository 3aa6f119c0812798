#pragma once
// How much longer than on a quiet machine a row may wait for what must happen without hanging.
#include <QByteArray>

namespace timescale {

// The environment variable that raises every such wait, for a slow or busy machine.
constexpr const char* EnvName = "TESSARK_TEST_TIME_SCALE";
// This build's own factor: 1, or more where the sanitizers slow everything down.
double buildFactor();
// The factor for a value of the variable: the build's own times the value, where that is a number of at
// least 1; a value that is not, or is empty, leaves the build's own.
double factorFor(const QByteArray& value);
// The factor of this run (the variable as it stands).
double factor();
// A wait of `baseMs` on a quiet machine, scaled by factor().
int ms(int baseMs);

} // namespace timescale
