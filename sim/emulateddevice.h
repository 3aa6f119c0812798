#pragma once
// One device on the emulated bus: its HID interfaces, their open handles and their input queues.
#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace sim {

using Clock = std::chrono::steady_clock;

struct QueuedReport {
    QByteArray report; // 64 bytes
    Clock::time_point readyAt;
};

class EmulatedDevice;

} // namespace sim

// hidapi's opaque handle: one open interface with its own input queue, as a hidraw file.
struct hid_device_ {
    std::shared_ptr<sim::EmulatedDevice> device;
    int interfaceNumber = -1;
    std::deque<sim::QueuedReport> queue; // under the bus lock
    std::atomic<bool> nonblocking{false};
    std::atomic<const wchar_t*> error{nullptr};
};

namespace sim {

class EmulatedDevice {
public:
    static constexpr int ReportSize = 64;
    static constexpr int QueueLimit = 64; // as hidraw: the oldest report is dropped beyond this

    struct Port {
        int number;
        QString path;
        uint16_t usagePage;
        uint16_t usage;
    };

    enum class WriteFault { None, Fail, Unplug };

    EmulatedDevice(uint16_t vid, uint16_t pid);
    virtual ~EmulatedDevice() = default;
    EmulatedDevice(const EmulatedDevice&) = delete;
    EmulatedDevice& operator=(const EmulatedDevice&) = delete;

    uint16_t vendorId() const { return m_vid; }
    uint16_t productId() const { return m_pid; }
    // Fixed after construction; safe without the lock.
    const std::vector<Port>& ports() const { return m_ports; }
    const Port* port(int number) const;
    const Port* portByPath(const QString& path) const;
    // The interface hid_open picks.
    virtual int primaryInterface() const = 0;

    int reportDelayMs() const { return m_reportDelayMs.load(); }
    void setReportDelayMs(int ms) { m_reportDelayMs.store(ms < 0 ? 0 : ms); }

    // Everything below runs with the bus lock held.
    bool pluggedLocked() const { return m_plugged; }
    bool refusesOpenLocked() const { return m_refuseOpen; }
    void setRefuseOpenLocked(bool on) { m_refuseOpen = on; }
    void attachLocked(hid_device_* handle);
    void detachLocked(hid_device_* handle);
    // Asked once per hid_write call (any interface), before the report travels.
    WriteFault takeWriteFaultLocked();
    // The nth hid_write call from now fails, or unplugs the device (that write fails too).
    void scheduleWriteFaultLocked(int nth, WriteFault fault);
    // A report written to one interface arrives (after the report delay).
    virtual void receiveLocked(int interfaceNumber, const QByteArray& report) = 0;
    // Queues a report to every open handle of the interface; readable after the report delay
    // (and extraDelayMs more: the time the device takes to answer).
    void sendLocked(int interfaceNumber, const QByteArray& report, int extraDelayMs = 0);
    // Whether an open handle of interfaceNumber holds as many reports as it keeps. Under the bus lock.
    bool queueFullLocked(int interfaceNumber) const;
    // Leaves the bus: handles fail from now on, further reports are lost.
    virtual void leaveBusLocked();
    // A pending device came onto the bus; at is when it was due.
    virtual void appearedLocked(Clock::time_point /*at*/) {}

protected:
    void addPort(int number, uint16_t usagePage, uint16_t usage); // before plugging only
    // Told about every report the device sends, with the time it becomes readable.
    virtual void sentLocked(int /*interfaceNumber*/, const QByteArray& /*report*/, Clock::time_point /*readyAt*/) {}

    const std::vector<hid_device_*>& handlesLocked() const { return m_handles; }

    bool m_plugged = true;
    bool m_refuseOpen = false;

private:
    long long m_writeCalls = 0;
    std::vector<long long> m_failingWrites;
    std::vector<long long> m_unplugWrites;
    uint16_t m_vid;
    uint16_t m_pid;
    std::vector<Port> m_ports;
    std::vector<hid_device_*> m_handles;
    std::atomic<int> m_reportDelayMs{0};
    Clock::time_point m_lastReadyAt; // keeps each device's reports in order when the delay shrinks
};

} // namespace sim
