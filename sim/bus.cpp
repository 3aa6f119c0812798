#include "bus.h"
#include "emulateddevice.h"

namespace sim {

Bus& Bus::instance()
{
    // Never destroyed: reader threads may still be inside the sim while the program exits.
    static Bus* bus = new Bus;
    return *bus;
}

void Bus::plugDueLocked()
{
    const auto now = std::chrono::steady_clock::now();
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->at <= now) {
            it->device->appearedLocked(it->at);
            devices.push_back(it->device);
            it = pending.erase(it);
        } else {
            ++it;
        }
    }
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
