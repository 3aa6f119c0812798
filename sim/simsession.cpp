#include "simsession.h"

#include "bus.h"
#include "firmware.h"
#include "simbootloader.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <cstdio>

namespace sim {

namespace {

SimBootloader* concrete(const BootloaderPtr& bootloader) { return dynamic_cast<SimBootloader*>(bootloader.get()); }

KeyboardPtr returningKeyboard(const BootloaderPtr& bootloader)
{
    const SimBootloader* b = concrete(bootloader);
    return b ? b->returningKeyboard() : nullptr;
}

// Whether the bootloader is on the bus, or (withPending) due to appear there.
bool onBus(const BootloaderPtr& bootloader, bool withPending)
{
    const auto device = std::dynamic_pointer_cast<EmulatedDevice>(bootloader);
    if (!device)
        return false;
    Bus& bus = Bus::instance();
    std::lock_guard<std::mutex> lock(bus.mutex);
    bus.plugDueLocked();
    if (!device->pluggedLocked())
        return false;
    return std::any_of(bus.devices.begin(), bus.devices.end(), [&](const auto& d) { return d == device; }) ||
           (withPending && std::any_of(bus.pending.begin(), bus.pending.end(),
                                       [&](const Bus::Pending& p) { return p.device == device; }));
}

void setFirmwareVersion(const KeyboardPtr& kb, int version)
{
    if (kb)
        kb->edit([version](FirmwareState& s) { s.fwVersion = uint16_t(version); });
}

void appendEntries(QTextStream& out, int index, const QList<LogEntry>& entries, int* logged)
{
    if (*logged > entries.size()) // the log was cleared meanwhile
        *logged = 0;
    for (int i = *logged; i < entries.size(); ++i) {
        const LogEntry& e = entries.at(i);
        out << (index + 1) << (e.direction == LogEntry::ToDevice ? " out " : " in ") << e.msSincePlug << ' '
            << e.report.toHex() << '\n';
    }
    *logged = entries.size();
}

// "late-acks N MS", "double-ack N S K", "late-double-ack N S K" and "other-ack N S K T" on the keyboard's
// module: why the line is refused, or null.
const char* ackControl(const KeyboardPtr& kb, const QList<QByteArray>& words)
{
    const QByteArray& command = words.at(0);
    bool ok = false;
    if (command == "late-acks") {
        // Every acknowledgement of the module's erase and data frames comes ms late.
        const int ms = words.at(2).toInt(&ok);
        if (!ok || ms < 0 || ms > 60000)
            return "the time is a number of milliseconds from 0 to 60000";
        if (kb)
            kb->setBtAckDelay(ms);
        return nullptr;
    }
    // Sub-commands in hex (83 or 0x83), the frame counted from now: 1 is the next of its sub-command.
    bool subOk = false, namedOk = true;
    const int sub = words.at(2).toInt(&subOk, 16);
    const int nth = words.at(3).toInt(&ok);
    const int named = command == "other-ack" ? words.at(4).toInt(&namedOk, 16) : 0;
    if (!subOk || !namedOk || !ok || sub < 0 || sub > 0xFF || named < 0 || named > 0xFF || nth < 1)
        return "the sub-commands are hex bytes, the frame a count from 1";
    if (kb && command == "double-ack")
        kb->doubleBtAck(uint8_t(sub), nth);
    else if (kb && command == "late-double-ack")
        kb->doubleBtAckLate(uint8_t(sub), nth);
    else if (kb)
        kb->renameBtAck(uint8_t(sub), nth, uint8_t(named));
    return nullptr;
}

} // namespace

SimSession::SimSession(QObject* parent) : QObject(parent) {}

SimSession::~SimSession()
{
    // The last reports before the end belong in the log too.
    for (int i = 0; i < m_slots.size(); ++i)
        writeLog(i);
}

void SimSession::plugAll(const QList<KeyboardConfig>& configs)
{
    for (const KeyboardConfig& config : configs) {
        Slot slot;
        slot.config = config;
        m_slots.append(slot);
        plugSlot(m_slots.size() - 1);
    }
}

void SimSession::plugSlot(int index)
{
    if (index < 0 || index >= m_slots.size())
        return;
    const Slot& slot = m_slots[index];
    // While its bootloader is there, or about to appear, the keyboard is not.
    if ((slot.keyboard && slot.keyboard->plugged()) || onBus(slot.bootloader, true))
        return;
    adopt(index, plug(slot.config));
}

void SimSession::adopt(int index, const KeyboardPtr& kb)
{
    writeLog(index); // what the slot's devices logged before
    Slot& slot = m_slots[index];
    slot.keyboard = kb;
    slot.logged = 0;
    if (slot.version < 0)
        slot.version = kb->state().fwVersion;
    else
        setFirmwareVersion(kb, slot.version);
    BootloaderConfig config;
    config.keyboard = slot.config;
    config.fwVersion = uint16_t(nextVersionOf(slot));
    slot.bootloader = kb->restartIntoBootloader(RestartDelayMs, config);
    slot.bootloaderLogged = 0;
    applyReportDelay(slot);
}

void SimSession::plugLoneBootloader()
{
    Slot slot;
    slot.config = fullSizeDual();
    slot.config.seed = uint32_t(m_slots.size() + 1); // a device id of its own
    slot.version = Firmware(slot.config).state().fwVersion;
    BootloaderConfig config;
    config.keyboard = slot.config;
    config.fwVersion = uint16_t(nextVersionOf(slot));
    slot.bootloader = plugBootloader(config);
    applyReportDelay(slot);
    m_slots.append(slot);
}

void SimSession::takeBackRun(int index)
{
    const Slot& slot = m_slots[index];
    const KeyboardPtr kb = slot.bootloader ? slot.bootloader->keyboardAfterRun() : nullptr;
    if (!kb || kb == slot.keyboard)
        return;
    m_slots[index].version = nextVersionOf(slot);
    m_slots[index].nextVersion = -1;
    adopt(index, kb);
}

void SimSession::setVersion(int index, bool next, int version)
{
    Slot& slot = m_slots[index];
    if (next) {
        slot.nextVersion = version;
    } else {
        slot.version = version;
        if (slot.keyboard && slot.keyboard->plugged())
            setFirmwareVersion(slot.keyboard, version);
    }
    // The keyboard that comes back from the bootloader is made in advance: it learns its version now.
    setFirmwareVersion(returningKeyboard(slot.bootloader), nextVersionOf(slot));
}

int SimSession::nextVersionOf(const Slot& slot)
{
    return slot.nextVersion >= 0 ? slot.nextVersion : std::min(slot.version + 1, 0xFFFF);
}

bool SimSession::setLogFile(const QString& path)
{
    if (m_log.isOpen())
        m_log.close();
    m_log.setFileName(path);
    return m_log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

void SimSession::setReportDelay(int ms)
{
    m_reportDelay = ms;
    for (const Slot& slot : m_slots)
        applyReportDelay(slot);
}

void SimSession::applyReportDelay(const Slot& slot) const
{
    if (m_reportDelay <= 0)
        return;
    for (const KeyboardPtr& kb : {slot.keyboard, returningKeyboard(slot.bootloader)}) {
        if (kb)
            kb->setReportDelay(m_reportDelay);
    }
    if (slot.bootloader)
        slot.bootloader->setReportDelay(m_reportDelay);
}

void SimSession::start(int intervalMs)
{
    if (!m_timer) {
        m_timer = new QTimer(this);
        connect(m_timer, &QTimer::timeout, this, &SimSession::poll);
    }
    m_timer->start(intervalMs);
}

void SimSession::poll()
{
    for (int i = 0; i < m_slots.size(); ++i) {
        takeBackRun(i);
        writeLog(i);
    }
    runControl();
}

KeyboardPtr SimSession::keyboard(int number) const
{
    if (number < 1 || number > m_slots.size())
        return nullptr;
    const KeyboardPtr& kb = m_slots[number - 1].keyboard;
    return kb && kb->plugged() ? kb : nullptr;
}

BootloaderPtr SimSession::bootloader(int number) const
{
    if (number < 1 || number > m_slots.size())
        return nullptr;
    const BootloaderPtr& bootloader = m_slots[number - 1].bootloader;
    return onBus(bootloader, false) ? bootloader : nullptr;
}

void SimSession::writeLog(int index)
{
    if (index < 0 || index >= m_slots.size() || !m_log.isOpen())
        return;
    Slot& slot = m_slots[index];
    QTextStream out(&m_log);
    // A keyboard's reports all come before its bootloader's, which come before the returned keyboard's.
    if (slot.keyboard)
        appendEntries(out, index, slot.keyboard->log(), &slot.logged);
    if (const SimBootloader* b = concrete(slot.bootloader))
        appendEntries(out, index, b->log(), &slot.bootloaderLogged);
    out.flush();
    m_log.flush();
}

void SimSession::runControl()
{
    if (m_controlPath.isEmpty())
        return;
    QFile file(m_controlPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    const QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    file.remove();
    for (const QByteArray& raw : lines) {
        const QList<QByteArray> words = raw.simplified().split(' ');
        const QByteArray& command = words.at(0);
        if (command == "bootloader") {
            if (words.size() == 1)
                plugLoneBootloader();
            continue;
        }
        const bool threeWords = command == "press" || command == "version" || command == "next-version"
                                || command == "modes" || command == "fail-write" || command == "unplug-at-write"
                                || command == "frames" || command == "full-macro" || command == "slow"
                                || command == "late-acks" || command == "after-run";
        const bool fourWords = command == "flood" || command == "double-ack" || command == "late-double-ack";
        const int expected = command == "other-ack" || command == "stale" ? 5 : fourWords ? 4 : threeWords ? 3 : 2;
        // `stale` takes an optional sixth word: how late the request's own reply comes.
        const bool optionalWord = command == "stale" && words.size() == expected + 1;
        if (command == "play" ? words.size() < 3 : words.size() != expected && !optionalWord)
            continue;
        bool ok = false;
        const int index = words.at(1).toInt(&ok) - 1;
        if (!ok || index < 0 || index >= m_slots.size())
            continue;
        Slot& slot = m_slots[index];
        if (command == "unplug") {
            writeLog(index);
            if (slot.keyboard)
                unplug(slot.keyboard);
            if (slot.bootloader)
                unplug(slot.bootloader); // one on the bus leaves, one pending never appears
        } else if (command == "plug") {
            plugSlot(index);
        } else if (command == "press") {
            const int keySlot = words.at(2).toInt(&ok);
            if (ok && slot.keyboard)
                slot.keyboard->pressKeyFunction(keySlot);
        } else if (command == "play") {
            QList<ReportChange> changes;
            if (parseChanges(words.mid(2), &changes) && slot.keyboard)
                slot.keyboard->playKeys(changes);
        } else if (command == "flood") {
            // Sent from here, as fast as the tool reads: the control file waits meanwhile.
            const int count = words.at(2).toInt(&ok);
            const QByteArray report = QByteArray::fromHex(words.at(3));
            if (ok && count >= 1 && !report.isEmpty() && report.size() <= 64 && slot.keyboard)
                slot.keyboard->flood(report, count);
        } else if (command == "frames") {
            // Key A pressed and released in turn, sent as fast as the bus takes them.
            const int count = words.at(2).toInt(&ok);
            QList<ReportChange> changes;
            for (int i = 0; ok && i < qMin(count, 1000000); ++i)
                changes << ReportChange{0, QByteArray::fromHex(i % 2 ? "0000000000000000" : "0000040000000000"), true};
            if (slot.keyboard && !changes.isEmpty())
                slot.keyboard->playKeys(changes);
        } else if (command == "full-macro") {
            const int macroSlot = words.at(2).toInt(&ok);
            if (ok && slot.keyboard)
                slot.keyboard->edit([macroSlot](FirmwareState& state) {
                    setMacro(state, macroSlot, fullReportMacroFrames(), "Full");
                });
        } else if (command == "slow") {
            // Each report to and from this keyboard takes ms: a reply comes some 2 * ms after its request.
            const int ms = words.at(2).toInt(&ok);
            if (ok && ms >= 0 && ms <= 60000 && slot.keyboard) {
                slot.keyboard->setReportDelay(ms);
                // And the bootloader that stands in for it (on the bus or to come), and the keyboard back from it.
                if (slot.bootloader)
                    slot.bootloader->setReportDelay(ms);
                if (const KeyboardPtr back = returningKeyboard(slot.bootloader))
                    back->setReportDelay(ms);
            } else if (!ok || ms < 0 || ms > 60000) {
                refuse(raw.simplified(), "the time is a number of milliseconds from 0 to 60000");
            }
        } else if (command == "late-acks" || command == "double-ack" || command == "late-double-ack"
                   || command == "other-ack") {
            if (const char* why = ackControl(slot.keyboard, words))
                refuse(raw.simplified(), why);
        } else if (command == "stale") {
            // The next K requests of group G, command C (hex bytes) first get the reply to the one before,
            // then their own, MS late when given.
            bool groupOk = false, commandOk = false, lateOk = true;
            const int group = words.at(2).toInt(&groupOk, 16);
            const int cmd = words.at(3).toInt(&commandOk, 16);
            const int count = words.at(4).toInt(&ok);
            const int lateMs = words.size() > 5 ? words.at(5).toInt(&lateOk) : 0;
            if (!groupOk || !commandOk || !ok || group < 0 || group > 0xFF || cmd < 0 || cmd > 0xFF || count < 1)
                refuse(raw.simplified(), "the group and command are hex bytes, the count a number from 1");
            else if (!lateOk || lateMs < 0 || lateMs > 60000)
                refuse(raw.simplified(), "the time is a number of milliseconds from 0 to 60000");
            else if (slot.keyboard)
                slot.keyboard->answerStaleFirst(uint8_t(group), uint8_t(cmd), count, 0, 1, 0, lateMs);
        } else if (command == "modes") {
            // Counted from the keyboard's next plug, as a keyboard reports its tables when it starts.
            const int modes = words.at(2).toInt(&ok);
            if (ok && modes >= 1 && modes <= 0xFE)
                slot.config.lightingModes = uint8_t(modes);
        } else if (command == "version" || command == "next-version") {
            const int version = words.at(2).toInt(&ok);
            if (ok && version >= 0 && version <= 0xFFFF)
                setVersion(index, command == "next-version", version);
            else // a keyboard reports its version in 16 bits: 655.3.5 at most
                refuse(raw.simplified(), "the version is a number from 0 to 65535 (655.3.5)");
        } else if (command == "after-run") {
            // For the bootloader the keyboard restarts into (or the lone one): what its run command does.
            const QByteArray& what = words.at(2);
            const auto after = what == "stays"     ? Bootloader::AfterRun::Stays
                               : what == "nothing" ? Bootloader::AfterRun::NothingReturns
                                                   : Bootloader::AfterRun::KeyboardReturns;
            if (what != "keyboard" && what != "stays" && what != "nothing")
                refuse(raw.simplified(), "after the run command comes keyboard, stays or nothing");
            else if (slot.bootloader)
                slot.bootloader->setAfterRun(after);
        } else if (command == "fail-write" || command == "unplug-at-write") {
            const int nth = words.at(2).toInt(&ok);
            if (ok && nth >= 1)
                scheduleWriteFault(slot, nth, command == "unplug-at-write");
        }
    }
}

void SimSession::refuse(const QByteArray& line, const char* why)
{
    std::fprintf(stderr, "tessark-sim: control line \"%s\" refused: %s\n", line.constData(), why);
    std::fflush(stderr);
}

void SimSession::scheduleWriteFault(const Slot& slot, int nth, bool unplug)
{
    // Whatever of the slot is on the bus takes it: the keyboard, or the bootloader it restarted into.
    if (slot.keyboard && slot.keyboard->plugged()) {
        unplug ? slot.keyboard->unplugAtWrite(nth) : slot.keyboard->failWrite(nth);
    } else if (slot.bootloader && slot.bootloader->plugged()) {
        unplug ? slot.bootloader->unplugAtWrite(nth) : slot.bootloader->failWrite(nth);
    }
}

bool SimSession::parseChanges(const QList<QByteArray>& words, QList<ReportChange>* changes)
{
    for (const QByteArray& word : words) {
        const QList<QByteArray> parts = word.split(':');
        bool ok = false;
        const int ms = parts.value(0).toInt(&ok);
        const QByteArray hex = parts.value(1);
        const bool isHex = std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(uchar(c)); });
        if (parts.size() != 2 || !ok || ms < 0 || ms > 0xFFFF || hex.size() != 16 || !isHex)
            return false; // a line is played whole or not at all
        changes->append({ms, QByteArray::fromHex(hex)});
    }
    return true;
}

void SimSession::configureFromEnvironment()
{
    const QString log = qEnvironmentVariable("TESSARK_SIM_LOG");
    if (!log.isEmpty())
        setLogFile(log);
    const QString control = qEnvironmentVariable("TESSARK_SIM_CONTROL");
    if (!control.isEmpty())
        setControlFile(control);
    bool ok = false;
    const int delay = qEnvironmentVariableIntValue("TESSARK_SIM_REPORT_DELAY_MS", &ok);
    if (ok && delay > 0)
        setReportDelay(delay);
}

} // namespace sim
