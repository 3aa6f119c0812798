#include "bus.h"

namespace sim {

Bus& Bus::instance()
{
    // Never destroyed: reader threads may still be inside the sim while the program exits.
    static Bus* bus = new Bus;
    return *bus;
}

int Bus::takeHidrawNumber(int interfaceNumber)
{
    const int avoid = ((interfaceNumber % 10) + 10) % 10;
    int n = m_nextHidraw++;
    while (n % 10 == avoid)
        n = m_nextHidraw++;
    return n;
}

} // namespace sim
