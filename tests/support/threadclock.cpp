#include "threadclock.h"

#include <time.h>

qint64 ThreadClock::nowNs()
{
    timespec ts{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0)
        return 0;
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
