#pragma once
// The keyboard's firmware model: its stored state and the answer to each command report.
#include "simcontrol.h"

#include <QByteArray>
#include <vector>

namespace sim {

// Table sizes in the info replies come from the KeyboardConfig; Keyboard::edit() changes table
// contents, and every access is checked against the tables as they are.
//
// Slots of the record writes (0x40/0x20, 0x50/0x02, 0x60/0x22) come from the record itself:
// bits 0-5 of its first byte. An index, slot or range outside the tables makes a set answer
// status 1 and a record read answer with length byte 0 and no data.
class Firmware {
public:
    enum class Outcome { Silent, Reply, LeaveBus };

    explicit Firmware(const KeyboardConfig& config);

    FirmwareState& state() { return m_state; }
    const FirmwareState& state() const { return m_state; }

    // Answers one 64-byte command report. With apply false the keyboard refuses: the reply is
    // built but nothing is stored (the caller puts its status into the reply).
    Outcome answer(const QByteArray& request, bool apply, QByteArray* reply);

    static constexpr uint32_t Refused = 1;
    static constexpr int MaxFrames = 512;
    static constexpr int FrameSize = 10;

    // The notification a press of key function slot's trigger sends (0xF0, 0xAA, length 2, [id, hi]
    // at byte 8); false when the slot is out of range, unused or not active in the current key map.
    bool keyFunctionPress(int slot, QByteArray* report) const;

    static int frameCount(const QByteArray& head);
    static void setFrameCount(QByteArray& head, int count);

    // The Bluetooth module behind 0xB0/0xDF: one acknowledgement per frame.
    BtModuleState& btModule() { return m_bt; }
    const BtModuleState& btModule() const { return m_bt; }
    void setBtEraseDelay(int ms) { m_btEraseDelayMs = ms; }
    void setBtAckDelay(int ms) { m_btAckDelayMs = ms < 0 ? 0 : ms; }
    // Double: the reply goes out twice; DoubleLate: its copy goes out with the next report's answer;
    // Rename: it names `status` as its sub-command.
    enum class BtFaultKind { Reject, Ignore, InjectBefore, Double, DoubleLate, Rename };
    void addBtFault(uint8_t sub, int nth, BtFaultKind kind, uint8_t status, const QByteArray& report);
    // After answer(): reports that go out ahead of the reply, and how much later the reply comes.
    std::vector<QByteArray> takePrelude();
    int takeReplyDelay();
    bool takeDoubled();
    bool takeDoubledLate();

private:
    struct BtFault {
        uint8_t sub;
        int nth;
        BtFaultKind kind;
        uint8_t status;
        QByteArray report;
    };
    Outcome btUpgrade(const uint8_t* frame, bool apply, QByteArray& r);
    uint8_t btApply(const uint8_t* frame);

    void fill(uint32_t seed);
    void fillSampleKeyFunctions();
    void fillSampleLightingActions();
    void fillSampleMacros();
    Outcome deviceInfo(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r);
    Outcome keyCodes(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r);
    Outcome colours(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r);
    Outcome keyFunctions(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r);
    Outcome macros(uint8_t cmd, const QByteArray& request, bool apply, QByteArray& r);
    Outcome lighting(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r);
    Outcome bluetooth(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r);

    KeyboardConfig m_config;
    FirmwareState m_state;
    BtModuleState m_bt;
    uint8_t m_btArea = 0;       // erase sub-command of the area being written, 0 none
    uint32_t m_btNextBlock = 1;
    int m_btEraseDelayMs = 0;
    int m_btAckDelayMs = 0;
    bool m_doubled = false;
    bool m_doubledLate = false;
    std::vector<BtFault> m_btFaults;
    std::vector<QByteArray> m_prelude;
    int m_replyDelayMs = 0;
};

} // namespace sim
