#pragma once
// An emulated keyboard on the bus: firmware model plus the test controls of sim::Keyboard.
#include "emulateddevice.h"
#include "firmware.h"
#include "simcontrol.h"

#include <QHash>
#include <QList>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace sim {

class SimKeyboard : public Keyboard, public EmulatedDevice {
public:
    explicit SimKeyboard(const KeyboardConfig& config);
    ~SimKeyboard() override;

    KeyboardConfig config() const override { return m_config; }
    QString path(int interfaceNumber) const override;
    bool plugged() const override;

    FirmwareState state() const override;
    void edit(const std::function<void(FirmwareState&)>& change) override; // runs under the bus lock

    void addBehaviour(const Behaviour& b) override;
    void clearBehaviours() override;

    void failWrite(int nth) override;
    void unplugAtWrite(int nth) override;
    void setReportDelay(int ms) override { setReportDelayMs(ms); }
    void refuseOpen(bool on) override;
    void inject(const QByteArray& report) override;
    int flood(const QByteArray& report, int count) override;
    void pressKeyFunction(int slot) override;
    void playKeys(const QList<ReportChange>& changes) override;
    bool playing() const override;

    QList<LogEntry> log() const override;
    void clearLog() override;
    int writes() const override;

    BtModuleState btModule() const override;
    void setBtEraseDelay(int ms) override;
    void rejectBtFrame(uint8_t subCommand, int nth, uint8_t status) override;
    void ignoreBtFrame(uint8_t subCommand, int nth) override;
    void injectBeforeBtAck(uint8_t subCommand, int nth, const QByteArray& report) override;
    void setBtAckDelay(int ms) override;
    void doubleBtAck(uint8_t subCommand, int nth) override;
    void doubleBtAckLate(uint8_t subCommand, int nth) override;
    void renameBtAck(uint8_t subCommand, int nth, uint8_t named) override;
    BootloaderPtr restartIntoBootloader(int delayMs, const BootloaderConfig& config) override;

    int primaryInterface() const override { return m_config.commandInterface; }
    void receiveLocked(int interfaceNumber, const QByteArray& report) override;
    void leaveBusLocked() override;
    void appearedLocked(Clock::time_point at) override { m_pluggedAt = at; } // a keyboard back from its bootloader

protected:
    void sentLocked(int interfaceNumber, const QByteArray& report, Clock::time_point readyAt) override;

private:
    void logLocked(LogEntry::Direction direction, const QByteArray& report, Clock::time_point at);
    std::vector<Behaviour> takeRulesLocked(const QByteArray& report);
    void playLoop();

    const KeyboardConfig m_config;
    Clock::time_point m_pluggedAt; // under the bus lock once on the bus
    Firmware m_firmware;                  // under the bus lock, as everything below
    std::vector<Behaviour> m_rules;
    std::vector<QByteArray> m_heldReplies; // late replies, sent when the next report arrives
    QHash<int, QByteArray> m_lastReplies;  // by group << 8 | command: the latest reply made, for stale ones
    QHash<int, QByteArray> m_lastRanges;   // by group << 8 | command: bytes 9, 10 of the latest request
    Clock::time_point m_moduleBusyUntil;   // the Bluetooth module's work on the frames it took
    QList<LogEntry> m_log;
    bool m_logPaused = false; // under the bus mutex
    int m_writes = 0;
    std::shared_ptr<EmulatedDevice> m_bootloader; // appears after 0x10/0x00
    int m_bootloaderDelayMs = 0;

    // Typed changes waiting for their time, played by their own thread. It never waits for the bus
    // lock while this keyboard is being destroyed (which may happen under that lock).
    struct Scheduled {
        Clock::time_point at;
        uint16_t ms;
        QByteArray report;
        bool paced = false;
    };
    mutable std::mutex m_playMutex;
    std::condition_variable m_playChanged;
    std::deque<Scheduled> m_toPlay;
    Clock::time_point m_lastPlayAt{};
    bool m_stopPlayer = false;
    bool m_sending = false; // a change taken from m_toPlay is on its way
    std::thread m_player;
};

} // namespace sim
