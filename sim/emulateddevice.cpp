#include "emulateddevice.h"

#include "bus.h"

#include <algorithm>

namespace sim {

EmulatedDevice::EmulatedDevice(uint16_t vid, uint16_t pid) : m_vid(vid), m_pid(pid) {}

const EmulatedDevice::Port* EmulatedDevice::port(int number) const
{
    for (const Port& p : m_ports)
        if (p.number == number)
            return &p;
    return nullptr;
}

const EmulatedDevice::Port* EmulatedDevice::portByPath(const QString& path) const
{
    for (const Port& p : m_ports)
        if (p.path == path)
            return &p;
    return nullptr;
}

void EmulatedDevice::addPort(int number, uint16_t usagePage, uint16_t usage)
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    const int n = Bus::instance().takeHidrawNumber(number);
    m_ports.push_back({number, QStringLiteral("sim/hidraw%1").arg(n), usagePage, usage});
}

void EmulatedDevice::attachLocked(hid_device_* handle) { m_handles.push_back(handle); }

void EmulatedDevice::detachLocked(hid_device_* handle)
{
    m_handles.erase(std::remove(m_handles.begin(), m_handles.end(), handle), m_handles.end());
}

bool EmulatedDevice::queueFullLocked(int interfaceNumber) const
{
    for (const hid_device_* h : m_handles) {
        if (h->interfaceNumber == interfaceNumber && h->queue.size() >= size_t(QueueLimit))
            return true;
    }
    return false;
}

void EmulatedDevice::sendLocked(int interfaceNumber, const QByteArray& report, int extraDelayMs)
{
    if (!m_plugged)
        return;
    QByteArray r = report.left(ReportSize);
    if (r.size() < ReportSize)
        r.append(QByteArray(ReportSize - r.size(), '\0'));
    const Clock::time_point readyAt =
        std::max(Clock::now() + std::chrono::milliseconds(m_reportDelayMs.load() + std::max(0, extraDelayMs)),
                 m_lastReadyAt);
    m_lastReadyAt = readyAt;
    sentLocked(interfaceNumber, r, readyAt);
    for (hid_device_* h : m_handles) {
        if (h->interfaceNumber != interfaceNumber)
            continue;
        if (h->queue.size() >= size_t(QueueLimit))
            h->queue.pop_front();
        h->queue.push_back({r, readyAt});
    }
    Bus::instance().changed.notify_all();
}

void EmulatedDevice::leaveBusLocked()
{
    if (!m_plugged)
        return;
    m_plugged = false;
    // The bus may hold the last reference: keep this device alive until the function ends.
    std::shared_ptr<EmulatedDevice> self;
    auto& devices = Bus::instance().devices;
    for (auto it = devices.begin(); it != devices.end(); ++it) {
        if (it->get() == this) {
            self = *it;
            devices.erase(it);
            break;
        }
    }
    for (hid_device_* h : m_handles)
        h->queue.clear();
    Bus::instance().changed.notify_all();
}


namespace {
bool takeMatch(std::vector<long long>& targets, long long call)
{
    auto it = std::find(targets.begin(), targets.end(), call);
    if (it == targets.end())
        return false;
    targets.erase(it);
    return true;
}
}

EmulatedDevice::WriteFault EmulatedDevice::takeWriteFaultLocked()
{
    const long long call = ++m_writeCalls;
    if (takeMatch(m_unplugWrites, call))
        return WriteFault::Unplug;
    if (takeMatch(m_failingWrites, call))
        return WriteFault::Fail;
    return WriteFault::None;
}

void EmulatedDevice::scheduleWriteFaultLocked(int nth, WriteFault fault)
{
    if (nth < 1 || fault == WriteFault::None)
        return;
    (fault == WriteFault::Unplug ? m_unplugWrites : m_failingWrites).push_back(m_writeCalls + nth);
}

} // namespace sim
