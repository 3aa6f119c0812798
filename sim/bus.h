#pragma once
// The emulated USB bus: the plugged devices and the one lock over all emulated state.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class EmulatedDevice;

class Bus {
public:
    static Bus& instance();

    // Guards every emulated device, handle and queue; `changed` wakes readers.
    std::mutex mutex;
    std::condition_variable changed;

    // Plugged devices in plug order (under mutex).
    std::vector<std::shared_ptr<EmulatedDevice>> devices;

    // Devices that appear later (a bootloader after a restart), and when (under mutex).
    struct Pending {
        std::shared_ptr<EmulatedDevice> device;
        std::chrono::steady_clock::time_point at;
    };
    std::vector<Pending> pending;
    // Puts the pending devices that are due on the bus; every hidapi look-up calls it first.
    void plugDueLocked();

    // Next hidraw number whose last digit differs from the interface number, so that code
    // deriving the interface from the path's last character is caught (under mutex).
    int takeHidrawNumber(int interfaceNumber);

    // hid_open_path calls per path since the last reset (under mutex).
    std::map<std::string, int> openAttempts;
    // hid_read and hid_read_timeout calls per path since the last reset (under mutex).
    std::map<std::string, int> reads;
    // Of those, the ones that could wait (a time-out other than 0) and returned a report (under mutex).
    std::map<std::string, int> waitingReadsWithReport;

    // Error text of the calls that have no handle (hid_open, hid_open_path).
    std::atomic<const wchar_t*> error{nullptr};

private:
    Bus() = default;
    int m_nextHidraw = 0;
};

} // namespace sim
