#include "simbootloader.h"

#include "bus.h"
#include "simkeyboard.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {
uint32_t get32(const QByteArray& r, int at)
{
    const auto* p = reinterpret_cast<const uint8_t*>(r.constData()) + at;
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void put32(QByteArray& r, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        r[at + i] = char((v >> (8 * i)) & 0xFF);
}
} // namespace

SimBootloader::SimBootloader(const BootloaderConfig& config) : EmulatedDevice(config.vid, config.pid), m_config(config)
{
    addPort(config.interfaceNumber, 0xFF00, 0x01);
    if (config.staysAfterRun)
        m_afterRun = AfterRun::Stays;
    else if (!config.keyboardReturns)
        m_afterRun = AfterRun::NothingReturns;
    if (config.keyboardReturns) {
        auto kb = std::make_shared<SimKeyboard>(config.keyboard);
        const uint16_t version = config.fwVersion;
        kb->edit([version](FirmwareState& s) { s.fwVersion = version; });
        m_returning = kb;
        m_returningKeyboard = kb;
    }
}

bool SimBootloader::plugged() const
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    const auto& d = Bus::instance().devices;
    return m_plugged && std::any_of(d.begin(), d.end(), [this](const auto& p) { return p.get() == this; });
}

QString SimBootloader::path() const { return ports().front().path; }

QByteArray SimBootloader::image() const
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    return m_image;
}

uint32_t SimBootloader::announcedSize() const
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    return m_size;
}

bool SimBootloader::ran() const
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    return m_ran;
}

QList<QByteArray> SimBootloader::packets() const
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    return m_packets;
}

QList<QByteArray> SimBootloader::acks() const
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    return m_acks;
}

KeyboardPtr SimBootloader::keyboardAfterRun() const
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    return m_ran && m_afterRun == AfterRun::KeyboardReturns ? m_returningKeyboard : nullptr;
}

void SimBootloader::setAfterRun(AfterRun what)
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    m_afterRun = what;
}

void SimBootloader::faultAck(int nth, AckFault fault)
{
    if (nth < 1)
        return;
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    m_ackFaults.push_back({m_packets.size() + nth, fault});
}

void SimBootloader::failWrite(int nth)
{
    if (nth < 1)
        return;
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    scheduleWriteFaultLocked(nth, WriteFault::Fail);
}

void SimBootloader::unplugAtWrite(int nth)
{
    if (nth < 1)
        return;
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    scheduleWriteFaultLocked(nth, WriteFault::Unplug);
}

void SimBootloader::receiveLocked(int interfaceNumber, const QByteArray& report)
{
    if (!m_plugged || report.size() < ReportSize)
        return;
    m_packets.append(report);
    logLocked(LogEntry::ToDevice, report, Clock::now());
    const uint32_t command = get32(report, 0);
    const uint32_t number = get32(report, 4);
    switch (command) {
    case 0xA0: // start address, size, then the first 48 image bytes
        m_size = get32(report, 12);
        m_image = report.mid(16, int(std::min<uint32_t>(m_size, 48)));
        break;
    case 0x00: {
        const int room = int(std::min<uint32_t>(m_size, 1u << 30)) - m_image.size();
        if (room > 0)
            m_image.append(report.mid(8, std::min(room, 56)));
        break;
    }
    case 0xAB: // runs the new application: the keyboard takes the bootloader's place
        m_ran = true;
        if (m_afterRun == AfterRun::Stays)
            return; // no acknowledgement either: the application it should start never runs
        leaveBusLocked();
        if (m_returning && m_afterRun == AfterRun::KeyboardReturns)
            Bus::instance().pending.push_back({m_returning, Clock::now()});
        return;
    default: break;
    }
    uint32_t sum = 0;
    for (char c : report)
        sum += uint8_t(c);
    QByteArray ack(ReportSize, '\0');
    ack[0] = char(sum & 0xFF);
    ack[1] = char((sum >> 8) & 0xFF);
    put32(ack, 4, number + 1);
    const long long packet = m_packets.size();
    for (auto it = m_ackFaults.begin(); it != m_ackFaults.end(); ++it) {
        if (it->first != packet)
            continue;
        const AckFault fault = it->second;
        m_ackFaults.erase(it);
        if (fault == AckFault::Silent)
            return;
        if (fault == AckFault::WrongChecksum)
            ack[0] = char(ack[0] ^ 0x5A);
        else
            put32(ack, 4, number); // the packet's own number, not the next
        break;
    }
    m_acks.append(ack);
    sendLocked(interfaceNumber, ack);
}

QList<LogEntry> SimBootloader::log() const
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    return m_log;
}

void SimBootloader::sentLocked(int /*interfaceNumber*/, const QByteArray& report, Clock::time_point readyAt)
{
    logLocked(LogEntry::FromDevice, report, readyAt);
}

void SimBootloader::logLocked(LogEntry::Direction direction, const QByteArray& report, Clock::time_point at)
{
    const qint64 ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - m_appearedAt).count();
    m_log.append({direction, report, ms});
}

// ---- the control functions of simcontrol.h

BootloaderPtr plugBootloader(const BootloaderConfig& config)
{
    auto bootloader = std::make_shared<SimBootloader>(config);
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    Bus::instance().devices.push_back(bootloader);
    return bootloader;
}

void unplug(const BootloaderPtr& bootloader)
{
    auto device = std::dynamic_pointer_cast<EmulatedDevice>(bootloader);
    if (!device)
        return;
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    auto& pending = Bus::instance().pending;
    pending.erase(std::remove_if(pending.begin(), pending.end(), [&](const Bus::Pending& p) { return p.device == device; }),
                  pending.end());
    device->leaveBusLocked();
}

} // namespace sim
