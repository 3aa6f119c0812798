#include "timescale.h"

#include "sanitizer.h"

#include <QtGlobal>
#include <cmath>
#include <limits>

namespace timescale {

double buildFactor()
{
#ifdef TESSARK_ASAN
    return 4.0; // the sanitizer build runs whole sessions about 3.5 times slower
#else
    return 1.0;
#endif
}

double factorFor(const QByteArray& value)
{
    bool ok = false;
    const double extra = value.trimmed().toDouble(&ok);
    // A huge value would overflow the waits: 1000 times is already beyond any machine worth testing on.
    if (!ok || !std::isfinite(extra) || extra < 1.0)
        return buildFactor();
    return buildFactor() * qMin(extra, 1000.0);
}

double factor() { return factorFor(qgetenv(EnvName)); }

int ms(int baseMs)
{
    const double scaled = std::ceil(double(baseMs) * factor());
    return scaled >= double(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max() : int(scaled);
}

} // namespace timescale
