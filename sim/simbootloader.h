#pragma once
// An emulated USB bootloader on the bus: takes ISP packets, keeps the image, runs it on request.
#include "emulateddevice.h"
#include "simcontrol.h"

#include <QList>
#include <utility>
#include <vector>

namespace sim {

class SimBootloader : public Bootloader, public EmulatedDevice {
public:
    explicit SimBootloader(const BootloaderConfig& config);

    bool plugged() const override;
    QString path() const override;
    QByteArray image() const override;
    uint32_t announcedSize() const override;
    bool ran() const override;
    QList<QByteArray> packets() const override;
    QList<QByteArray> acks() const override;
    KeyboardPtr keyboardAfterRun() const override;

    void faultAck(int nth, AckFault fault) override;
    void failWrite(int nth) override;
    void unplugAtWrite(int nth) override;
    void setReportDelay(int ms) override { setReportDelayMs(ms); }
    void setAfterRun(AfterRun what) override;

    // Packets and acknowledgements as a keyboard logs its reports, the time counted from its appearance.
    QList<LogEntry> log() const;
    // The keyboard that comes back after the run command, to set up before it does; null when none.
    KeyboardPtr returningKeyboard() const { return m_returningKeyboard; }

    int primaryInterface() const override { return m_config.interfaceNumber; }
    void receiveLocked(int interfaceNumber, const QByteArray& report) override;
    void appearedLocked(Clock::time_point at) override { m_appearedAt = at; }

protected:
    void sentLocked(int interfaceNumber, const QByteArray& report, Clock::time_point readyAt) override;

private:
    void logLocked(LogEntry::Direction direction, const QByteArray& report, Clock::time_point at);

    const BootloaderConfig m_config;
    std::shared_ptr<EmulatedDevice> m_returning; // the keyboard that comes back after the run command
    KeyboardPtr m_returningKeyboard;
    // Under the bus lock:
    QByteArray m_image;
    uint32_t m_size = 0;
    bool m_ran = false;
    QList<QByteArray> m_packets;
    QList<QByteArray> m_acks;
    Clock::time_point m_appearedAt = Clock::now();
    QList<LogEntry> m_log;
    std::vector<std::pair<long long, AckFault>> m_ackFaults; // by packet count
    AfterRun m_afterRun = AfterRun::KeyboardReturns;
};

} // namespace sim
