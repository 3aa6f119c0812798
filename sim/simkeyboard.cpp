#include "simkeyboard.h"

#include "bus.h"
#include "simbootloader.h"

#include <QtGlobal>
#include <algorithm>

namespace sim {

namespace {

// Every interface reports vendor-defined usages on the command interface, keyboard usages elsewhere.
constexpr uint16_t VendorPage = 0xFF00;
constexpr uint16_t DesktopPage = 0x01;
constexpr uint16_t KeyboardUsage = 0x06;

} // namespace

SimKeyboard::SimKeyboard(const KeyboardConfig& config)
    : EmulatedDevice(config.vid, config.pid), m_config(config), m_pluggedAt(Clock::now()), m_firmware(config)
{
    for (int number : config.interfaces) {
        const bool command = number == config.commandInterface;
        addPort(number, command ? VendorPage : DesktopPage, command ? 0x01 : KeyboardUsage);
    }
}

SimKeyboard::~SimKeyboard()
{
    {
        std::lock_guard<std::mutex> lock(m_playMutex);
        m_stopPlayer = true;
    }
    m_playChanged.notify_all();
    if (m_player.joinable())
        m_player.join();
}

QString SimKeyboard::path(int interfaceNumber) const
{
    const Port* p = port(interfaceNumber);
    return p ? p->path : QString();
}

bool SimKeyboard::plugged() const
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    return m_plugged;
}

FirmwareState SimKeyboard::state() const
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    return m_firmware.state();
}

void SimKeyboard::edit(const std::function<void(FirmwareState&)>& change)
{
    if (!change)
        return;
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    change(m_firmware.state());
}

void SimKeyboard::addBehaviour(const Behaviour& b)
{
    if (b.count == 0)
        return;
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    m_rules.push_back(b);
}

void SimKeyboard::clearBehaviours()
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    m_rules.clear();
    m_heldReplies.clear();
}

void SimKeyboard::failWrite(int nth)
{
    if (nth < 1)
        return;
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    scheduleWriteFaultLocked(nth, WriteFault::Fail);
}

void SimKeyboard::unplugAtWrite(int nth)
{
    if (nth < 1)
        return;
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    scheduleWriteFaultLocked(nth, WriteFault::Unplug);
}

void SimKeyboard::refuseOpen(bool on)
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    setRefuseOpenLocked(on);
}

void SimKeyboard::inject(const QByteArray& report)
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    sendLocked(m_config.commandInterface, report);
}

int SimKeyboard::flood(const QByteArray& report, int count)
{
    Bus& bus = Bus::instance();
    std::unique_lock<std::mutex> lock(bus.mutex);
    // -1: no open handle on the command interface; otherwise whether one has room in its queue.
    const auto room = [this]() -> int {
        int state = -1;
        for (hid_device_* h : handlesLocked()) {
            if (h->interfaceNumber == m_config.commandInterface)
                state = std::max(state, h->queue.size() < size_t(QueueLimit) ? 1 : 0);
        }
        return state;
    };
    int sent = 0;
    int waitedMs = 0;
    while (sent < count) {
        const int state = room();
        if (!m_plugged || waitedMs >= 1000)
            break;
        if (state != 0) { // with nothing open the reports go out at once, read by nobody
            m_logPaused = sent >= FloodLogged;
            sendLocked(m_config.commandInterface, report);
            ++sent;
            waitedMs = 0;
            continue;
        }
        // Reads do not signal: look again shortly.
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lock.lock();
        ++waitedMs;
    }
    m_logPaused = false;
    return sent;
}

void SimKeyboard::pressKeyFunction(int slot)
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    QByteArray report;
    if (m_firmware.keyFunctionPress(slot, &report))
        sendLocked(m_config.commandInterface, report);
}

void SimKeyboard::playKeys(const QList<ReportChange>& changes)
{
    if (changes.isEmpty())
        return;
    {
        std::lock_guard<std::mutex> lock(m_playMutex);
        Clock::time_point at = std::max(Clock::now(), m_lastPlayAt);
        for (const ReportChange& c : changes) {
            const int ms = qBound(0, c.ms, 0xFFFF);
            at += std::chrono::milliseconds(ms);
            m_toPlay.push_back({at, uint16_t(ms), c.report.left(8).leftJustified(8, '\0'), c.paced});
        }
        m_lastPlayAt = at;
        if (!m_player.joinable())
            m_player = std::thread([this] { playLoop(); });
    }
    m_playChanged.notify_all();
}

bool SimKeyboard::playing() const
{
    std::lock_guard<std::mutex> lock(m_playMutex);
    return !m_toPlay.empty() || m_sending;
}

void SimKeyboard::playLoop()
{
    std::unique_lock<std::mutex> lock(m_playMutex);
    for (;;) {
        if (m_stopPlayer)
            return;
        if (m_toPlay.empty()) {
            m_playChanged.wait(lock);
            continue;
        }
        if (Clock::now() < m_toPlay.front().at) {
            m_playChanged.wait_until(lock, m_toPlay.front().at);
            continue;
        }
        const Scheduled change = m_toPlay.front();
        m_toPlay.pop_front();
        m_sending = true;
        lock.unlock();
        // try_lock: the destructor may run under the bus lock and wait for this thread.
        std::unique_lock<std::mutex> bus(Bus::instance().mutex, std::defer_lock);
        bool stop = false;
        for (;;) {
            if (bus.try_lock()) {
                // A paced change also waits while the tool's input queue is full.
                if (!change.paced || !m_firmware.state().recording || !queueFullLocked(m_config.commandInterface))
                    break;
                bus.unlock();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::lock_guard<std::mutex> relock(m_playMutex);
            if ((stop = m_stopPlayer))
                break;
        }
        if (bus.owns_lock() && m_firmware.state().recording) {
            QByteArray r(64, '\0');
            r[0] = char(0xF0);
            r[1] = char(0x50);
            r[2] = char(10);
            r[8] = char(change.ms & 0xFF);
            r[9] = char(change.ms >> 8);
            r.replace(10, 8, change.report);
            r[11] = 0; // reserved
            sendLocked(m_config.commandInterface, r);
        }
        if (bus.owns_lock())
            bus.unlock();
        lock.lock();
        m_sending = false;
        if (stop)
            return;
    }
}

QList<LogEntry> SimKeyboard::log() const
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    return m_log;
}

void SimKeyboard::clearLog()
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    m_log.clear();
}

int SimKeyboard::writes() const
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    return m_writes;
}

std::vector<Behaviour> SimKeyboard::takeRulesLocked(const QByteArray& report)
{
    const uint8_t group = uint8_t(report[0]), command = uint8_t(report[1]);
    const bool closing = group == 0x50 && command == 0x40 && report[2] == 0 && report[3] == 0;
    std::vector<Behaviour> matched;
    for (auto it = m_rules.begin(); it != m_rules.end();) {
        if (it->group != group || it->command != command || (it->closingPacketOnly && !closing)) {
            ++it;
            continue;
        }
        if (it->skip > 0) {
            --it->skip;
            ++it;
            continue;
        }
        matched.push_back(*it);
        if (it->count > 0 && --it->count == 0)
            it = m_rules.erase(it);
        else
            ++it;
    }
    return matched;
}

void SimKeyboard::receiveLocked(int interfaceNumber, const QByteArray& report)
{
    if (interfaceNumber != m_config.commandInterface || !m_plugged)
        return;
    ++m_writes;
    logLocked(LogEntry::ToDevice, report, Clock::now());

    // A late reply was held back until this report; it goes out ahead of this one's own reply.
    std::vector<QByteArray> held;
    held.swap(m_heldReplies);
    for (const QByteArray& r : held)
        sendLocked(interfaceNumber, r);

    const std::vector<Behaviour> rules = takeRulesLocked(report);
    bool refused = false;
    for (const Behaviour& b : rules)
        refused = refused || (b.kind == Behaviour::Status && b.status != 0);

    QByteArray reply;
    const Firmware::Outcome outcome = m_firmware.answer(report, !refused, &reply);
    for (const QByteArray& r : m_firmware.takePrelude())
        sendLocked(interfaceNumber, r);
    int replyDelay = m_firmware.takeReplyDelay();
    if (replyDelay > 0) {
        // The module works on one frame at a time: a frame that comes while it is busy waits its turn.
        const Clock::time_point now = Clock::now();
        m_moduleBusyUntil = std::max(now, m_moduleBusyUntil) + std::chrono::milliseconds(replyDelay);
        replyDelay = int(std::chrono::duration_cast<std::chrono::milliseconds>(m_moduleBusyUntil - now).count());
    }
    const bool doubled = m_firmware.takeDoubled();
    const bool doubledLate = m_firmware.takeDoubledLate();
    if (outcome == Firmware::Outcome::LeaveBus) {
        leaveBusLocked();
        if (m_bootloader)
            Bus::instance().pending.push_back(
                {m_bootloader, Clock::now() + std::chrono::milliseconds(m_bootloaderDelayMs)});
        m_bootloader.reset();
        return;
    }
    if (outcome == Firmware::Outcome::Silent)
        return;

    bool silent = false, late = false;
    const Behaviour* stale = nullptr;
    for (const Behaviour& b : rules) {
        switch (b.kind) {
        case Behaviour::Silent: silent = true; break;
        case Behaviour::Late: late = true; break;
        case Behaviour::Stale: stale = &b; break;
        case Behaviour::NameBefore: {
            const QByteArray range = m_lastRanges.value(uint8_t(report[0]) << 8 | uint8_t(report[1]), report.mid(9, 2));
            reply[9] = range[0];
            reply[10] = range[1];
            break;
        }
        case Behaviour::WrongEcho: reply[1] = char(uint8_t(reply[1]) ^ 0xFF); break;
        case Behaviour::Status:
            for (int i = 0; i < 4; ++i)
                reply[8 + i] = char((b.status >> (8 * i)) & 0xFF);
            break;
        case Behaviour::Patch:
            for (int i = 0; i < b.bytes.size(); ++i)
                if (b.offset + i >= 0 && b.offset + i < reply.size())
                    reply[b.offset + i] = b.bytes[i];
            break;
        }
    }
    // What the keyboard made of this command's request before, whether it went out or not.
    const int key = uint8_t(report[0]) << 8 | uint8_t(report[1]);
    const QByteArray before = m_lastReplies.value(key);
    m_lastReplies.insert(key, reply);
    m_lastRanges.insert(key, report.mid(9, 2));
    if (stale && !before.isEmpty()) {
        for (int i = 0; i < stale->copies; ++i)
            sendLocked(interfaceNumber, before, replyDelay + i * std::max(0, stale->spacingMs));
    }
    if (silent)
        return;
    if (stale) // a keyboard that repeats its reply before and then answers late
        replyDelay += std::max(0, stale->lateMs);
    if (late) {
        m_heldReplies.push_back(reply);
        return;
    }
    sendLocked(interfaceNumber, reply, replyDelay);
    if (doubled)
        sendLocked(interfaceNumber, reply, replyDelay);
    if (doubledLate) // the copy goes out the moment the next report arrives, ahead of its answer
        m_heldReplies.push_back(reply);
}

void SimKeyboard::leaveBusLocked()
{
    m_heldReplies.clear();
    EmulatedDevice::leaveBusLocked();
}

void SimKeyboard::sentLocked(int interfaceNumber, const QByteArray& report, Clock::time_point readyAt)
{
    if (interfaceNumber == m_config.commandInterface && !m_logPaused)
        logLocked(LogEntry::FromDevice, report, readyAt);
}

void SimKeyboard::logLocked(LogEntry::Direction direction, const QByteArray& report, Clock::time_point at)
{
    const qint64 ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - m_pluggedAt).count();
    m_log.append({direction, report, ms});
}

BtModuleState SimKeyboard::btModule() const
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    return m_firmware.btModule();
}

void SimKeyboard::setBtEraseDelay(int ms)
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    m_firmware.setBtEraseDelay(ms);
}

void SimKeyboard::rejectBtFrame(uint8_t subCommand, int nth, uint8_t status)
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    m_firmware.addBtFault(subCommand, nth, Firmware::BtFaultKind::Reject, status, {});
}

void SimKeyboard::ignoreBtFrame(uint8_t subCommand, int nth)
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    m_firmware.addBtFault(subCommand, nth, Firmware::BtFaultKind::Ignore, 0, {});
}

void SimKeyboard::injectBeforeBtAck(uint8_t subCommand, int nth, const QByteArray& report)
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    m_firmware.addBtFault(subCommand, nth, Firmware::BtFaultKind::InjectBefore, 0, report);
}

void SimKeyboard::setBtAckDelay(int ms)
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    m_firmware.setBtAckDelay(ms);
}

void SimKeyboard::doubleBtAck(uint8_t subCommand, int nth)
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    m_firmware.addBtFault(subCommand, nth, Firmware::BtFaultKind::Double, 0, {});
}

void SimKeyboard::doubleBtAckLate(uint8_t subCommand, int nth)
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    m_firmware.addBtFault(subCommand, nth, Firmware::BtFaultKind::DoubleLate, 0, {});
}

void SimKeyboard::renameBtAck(uint8_t subCommand, int nth, uint8_t named)
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    m_firmware.addBtFault(subCommand, nth, Firmware::BtFaultKind::Rename, named, {});
}

BootloaderPtr SimKeyboard::restartIntoBootloader(int delayMs, const BootloaderConfig& config)
{
    auto bootloader = std::make_shared<SimBootloader>(config); // outside the lock: it takes hidraw numbers
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    m_bootloader = delayMs < 0 ? nullptr : bootloader;
    m_bootloaderDelayMs = delayMs;
    return bootloader;
}

// ---- the control functions of simcontrol.h

KeyboardPtr plug(const KeyboardConfig& config)
{
    auto kb = std::make_shared<SimKeyboard>(config);
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    Bus::instance().devices.push_back(kb);
    return kb;
}

void unplug(const KeyboardPtr& kb)
{
    auto device = std::dynamic_pointer_cast<EmulatedDevice>(kb);
    if (!device)
        return;
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    device->leaveBusLocked();
}

void reset()
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    // Unplugging removes the device from the list, so take them out first.
    std::vector<std::shared_ptr<EmulatedDevice>> devices = Bus::instance().devices;
    for (const auto& d : devices)
        d->leaveBusLocked();
    Bus::instance().devices.clear();
    Bus::instance().pending.clear();
    Bus::instance().openAttempts.clear();
    Bus::instance().reads.clear();
    Bus::instance().waitingReadsWithReport.clear();
    Bus::instance().error.store(nullptr);
}

int openAttempts(const QString& path)
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    const auto it = Bus::instance().openAttempts.find(path.toStdString());
    return it == Bus::instance().openAttempts.end() ? 0 : it->second;
}

int reads(const QString& path)
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    const auto it = Bus::instance().reads.find(path.toStdString());
    return it == Bus::instance().reads.end() ? 0 : it->second;
}

int waitingReadsWithReport(const QString& path)
{
    std::lock_guard<std::mutex> lock(Bus::instance().mutex);
    const auto it = Bus::instance().waitingReadsWithReport.find(path.toStdString());
    return it == Bus::instance().waitingReadsWithReport.end() ? 0 : it->second;
}

} // namespace sim
