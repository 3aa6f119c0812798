#pragma once
// The keyboard's firmware model: its stored state and the answer to each command report.
#include "simcontrol.h"

#include <QByteArray>

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

    static int frameCount(const QByteArray& head);
    static void setFrameCount(QByteArray& head, int count);

private:
    void fill(uint32_t seed);
    Outcome deviceInfo(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r);
    Outcome keyCodes(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r);
    Outcome colours(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r);
    Outcome keyFunctions(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r);
    Outcome macros(uint8_t cmd, const QByteArray& request, bool apply, QByteArray& r);
    Outcome lighting(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r);
    Outcome bluetooth(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r);

    KeyboardConfig m_config;
    FirmwareState m_state;
};

} // namespace sim
