#include "firmware.h"

#include <QString>
#include <algorithm>
#include <cstring>

namespace sim {

namespace {

uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void put16(QByteArray& r, int at, uint16_t v)
{
    r[at] = char(v & 0xFF);
    r[at + 1] = char(v >> 8);
}
void put32(QByteArray& r, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        r[at + i] = char((v >> (8 * i)) & 0xFF);
}
// Copies up to n bytes of src to r at `at`; what src lacks stays zero.
void putBytes(QByteArray& r, int at, const QByteArray& src, int n)
{
    const int len = std::min({n, int(src.size()), int(r.size()) - at});
    if (len > 0)
        std::memcpy(r.data() + at, src.constData(), size_t(len));
}
QByteArray padded(const QByteArray& text, int size)
{
    QByteArray b = text.left(size);
    b.append(QByteArray(size - b.size(), '\0'));
    return b;
}

// Deterministic bytes for the initial state.
class Lcg {
public:
    explicit Lcg(uint32_t seed) : m_s(seed * 2654435761u ^ 0x5EEDu) {}
    uint32_t next()
    {
        m_s = m_s * 1664525u + 1013904223u;
        return m_s;
    }
    uint8_t byte() { return uint8_t(next() >> 24); }
    int below(int n) { return n > 0 ? int((next() >> 8) % uint32_t(n)) : 0; }
    QByteArray bytes(int n)
    {
        QByteArray b(n, '\0');
        for (int i = 0; i < n; ++i)
            b[i] = char(byte());
        return b;
    }
    QByteArray letters(int n)
    {
        QByteArray b(n, '\0');
        for (int i = 0; i < n; ++i)
            b[i] = char('a' + below(26));
        return b;
    }

private:
    uint32_t m_s;
};

// HID keyboard usages of the sample key functions' keys (type 1, stype 0, as the static key files list them).
namespace usage {
constexpr uint16_t C = 0x06, D = 0x07, E = 0x08, F = 0x09, G = 0x0A, H = 0x0B, I = 0x0C, K = 0x0E, L = 0x0F,
                   M = 0x10, O = 0x12, S = 0x16, V = 0x19, W = 0x1A, One = 0x1E, Two = 0x1F;
constexpr uint16_t LeftCtrl = 0xE0, LeftShift = 0xE1, LeftAlt = 0xE2, LeftWin = 0xE3, RightWin = 0xE7;
}

// A keyboard key (type 1, stype 0) in the 4-byte key slot at `at`.
void putKey(QByteArray& r, int at, uint16_t code)
{
    r[at] = char(0x02);
    put16(r, at + 1, code);
}

// A key function record as a download writes it on a fresh slot: used, the function number, the
// trigger Ctrl+Alt+letter, flag, every key map; everything else zero until the caller adds parameters.
QByteArray keyFunctionRecord(int slot, int hi, uint16_t letter, bool flag = true)
{
    QByteArray r(56, '\0');
    put16(r, 0, uint16_t((slot & 0x3F) | 0x40 | ((hi & 0x3F) << 7)));
    put16(r, 2, uint16_t(3 | (flag ? 0x08 : 0) | (0xFF << 4)));
    putKey(r, 4, usage::LeftCtrl);
    putKey(r, 8, usage::LeftAlt);
    putKey(r, 12, letter);
    return r;
}

// Reads entries [first, last] of one map into reply bytes 12.. (at most maxEntries).
void readRange(const std::vector<QByteArray>& maps, const uint8_t* p, int entrySize, int maxEntries, QByteArray& r)
{
    const uint8_t map = p[0], first = p[1], last = p[2];
    r[8] = char(map);
    r[9] = char(first);
    r[10] = char(last);
    if (map >= maps.size() || last < first)
        return;
    const QByteArray& table = maps[map];
    const int n = std::min(last - first + 1, maxEntries);
    for (int i = 0; i < n; ++i) {
        const int at = (first + i) * entrySize;
        if (at + entrySize > table.size())
            break;
        std::memcpy(r.data() + 12 + i * entrySize, table.constData() + at, size_t(entrySize));
    }
}

// Stores entries [first, last] of one map from payload byte 4; the reply echoes the range at 12..14.
void writeRange(std::vector<QByteArray>& maps, const uint8_t* p, int entrySize, int maxEntries, bool apply,
                QByteArray& r)
{
    const uint8_t map = p[0], first = p[1], last = p[2];
    r[12] = char(map);
    r[13] = char(first);
    r[14] = char(last);
    const int n = last - first + 1;
    if (map >= maps.size() || last < first || n > maxEntries || (last + 1) * entrySize > maps[map].size()) {
        put32(r, 8, Firmware::Refused);
        return;
    }
    if (apply)
        std::memcpy(maps[map].data() + first * entrySize, p + 4, size_t(n * entrySize));
    put32(r, 8, 0);
}

// Record tables addressed by index on reads and by the record's own slot bits on writes.
void readRecord(const std::vector<QByteArray>& table, uint8_t index, int size, QByteArray& r)
{
    if (index >= table.size())
        return; // length byte stays 0: no record
    r[2] = char(size);
    putBytes(r, 8, table[index], size);
}

void writeRecord(std::vector<QByteArray>& table, const uint8_t* p, int size, bool apply, QByteArray& r)
{
    const size_t slot = p[0] & 0x3F;
    if (slot >= table.size()) {
        put32(r, 8, Firmware::Refused);
        return;
    }
    if (apply)
        table[slot] = QByteArray(reinterpret_cast<const char*>(p), size);
    put32(r, 8, 0);
}

void setCurrent(uint8_t& current, size_t count, uint8_t value, bool apply, QByteArray& r)
{
    if (value >= count) {
        put32(r, 8, Firmware::Refused);
        return;
    }
    if (apply)
        current = value;
    put32(r, 8, 0);
}

} // namespace

Firmware::Firmware(const KeyboardConfig& config) : m_config(config) { fill(config.seed); }

int Firmware::frameCount(const QByteArray& head)
{
    if (head.size() < 4)
        return 0;
    return int((get32(reinterpret_cast<const uint8_t*>(head.constData())) >> 7) & 0x3FF);
}

void Firmware::setFrameCount(QByteArray& head, int count)
{
    if (head.size() < 4)
        head = padded(head, 24);
    uint32_t w = get32(reinterpret_cast<const uint8_t*>(head.constData()));
    w = (w & ~(0x3FFu << 7)) | ((uint32_t(count) & 0x3FF) << 7);
    put32(head, 0, w);
}

void Firmware::fill(uint32_t seed)
{
    Lcg rnd(seed);
    FirmwareState& s = m_state;
    s.infoWord0 = rnd.next();
    s.infoWord1 = rnd.next();
    s.date = QString::asprintf("%04d-%02d-%02d %02d:%02d", 2020 + rnd.below(10), 1 + rnd.below(12),
                               1 + rnd.below(28), rnd.below(24), rnd.below(60))
                 .toLatin1();
    s.boardName = padded(m_config.boardName, 16);
    s.deviceId = rnd.bytes(12);
    s.fwVersion = uint16_t(0x100 + rnd.below(0xF00));
    s.hwVersion = uint16_t(1 + rnd.below(0xFF));
    s.versionBytes = QByteArray(16, '\0');
    for (int i = 0; i < 16; ++i)
        s.versionBytes[i] = char(rnd.below(10));
    s.scanSpeed = uint16_t(1 + rnd.below(16));
    s.userInfo = padded(rnd.letters(10 + rnd.below(30)), 48);
    s.nKey = uint8_t(rnd.below(2));

    auto tables = [&rnd](int count, int size) {
        std::vector<QByteArray> t;
        for (int i = 0; i < count; ++i)
            t.push_back(rnd.bytes(size));
        return t;
    };
    s.keyMaps = tables(m_config.keyMaps, m_config.keys * 4);
    for (QByteArray& map : s.keyMaps)
        for (int i = 3; i < map.size(); i += 4)
            map[i] = 0; // a key code entry's fourth byte is 0
    if (m_config.keyCodes.size() == m_config.keys) {
        for (QByteArray& map : s.keyMaps) {
            for (int k = 0; k < m_config.keys; ++k) {
                const uint16_t code = m_config.keyCodes[k];
                map[k * 4] = char(0x02); // type 1, stype 0
                map[k * 4 + 1] = char(code & 0xFF);
                map[k * 4 + 2] = char(code >> 8);
            }
        }
    }
    s.curKeyMap = uint8_t(rnd.below(m_config.keyMaps));
    s.colourMaps = tables(m_config.colourMaps, m_config.colourKeys * 4);
    for (QByteArray& map : s.colourMaps)
        for (int i = 3; i < map.size(); i += 4)
            map[i] = 0;
    s.curColourMap = uint8_t(rnd.below(m_config.colourMaps));
    s.lightingModes = tables(m_config.lightingModes, m_config.lightingBytes);
    s.curLightingMode = uint8_t(rnd.below(m_config.lightingModes));

    // Records carry their own slot in bits 0-5, so writing back what was read lands in place.
    s.kfOther = rnd.byte();
    s.keyFunctions = tables(m_config.keyFunctions, 56);
    for (size_t i = 0; i < s.keyFunctions.size(); ++i)
        s.keyFunctions[i][0] = char((uint8_t(s.keyFunctions[i][0]) & 0xC0) | (i & 0x3F));

    for (int i = 0; i < m_config.macros; ++i) {
        QByteArray head = rnd.bytes(24);
        const bool used = i % 3 != 2;
        // Counts around the 5-frame packet size: multiples of 5, remainders, one packet or less.
        const int frames = used ? 1 + rnd.below(23) : 0;
        put32(head, 0, uint32_t(i & 0x3F) | (used ? 0x40u : 0u) | (uint32_t(frames) << 7));
        // A free slot has no name, as a macro the keyboard deleted.
        const QByteArray name = used ? padded(QByteArray("Macro ") + QByteArray::number(i), 16) : QByteArray(16, '\0');
        head.replace(8, 16, name);
        s.macroHeads.push_back(head);
        s.macroFrames.push_back(rnd.bytes(frames * FrameSize));
    }
    if (m_config.sampleMacros)
        fillSampleMacros();
    if (m_config.sampleKeyFunctions)
        fillSampleKeyFunctions(); // after the macro heads: the macro function names one of them
    s.selectedMacro = 0;
    s.recording = false;

    s.lightingActions = tables(m_config.lightingActions, 12);
    for (size_t i = 0; i < s.lightingActions.size(); ++i)
        s.lightingActions[i][0] = char((uint8_t(s.lightingActions[i][0]) & 0xC0) | (i & 0x3F));
    if (m_config.sampleLightingActions)
        fillSampleLightingActions();

    s.btName = padded(QByteArray("BT-") + rnd.letters(4 + rnd.below(6)), 12);
    s.sleepTime = uint32_t(1 + rnd.below(30)) * 60000u;
}

void Firmware::fillSampleLightingActions()
{
    std::vector<QByteArray>& table = m_state.lightingActions;
    for (uint32_t i = 0; i < 3 && i < table.size(); ++i) {
        const uint32_t highest = 63, lowest = 0, step = 1;
        const uint32_t word0 = i | (i << 6) | (highest << 14) | (lowest << 20) | (step << 26);
        const uint32_t word1 = 0u | (1023u << 10) | (0xFFFu << 20);
        QByteArray r(12, '\0');
        put32(r, 0, word0);
        put32(r, 4, word1);
        r[8] = char(100);  // highest delay 100 ms
        r[10] = char(200); // period delay 200 ms
        table[i] = r;
    }
}

void Firmware::fillSampleKeyFunctions()
{
    std::vector<QByteArray>& table = m_state.keyFunctions;
    // Only the sample slots are used; the others keep their random bytes behind a free word 0.
    for (size_t i = 0; i < table.size(); ++i) {
        table[i][0] = char(i & 0x3F);
        table[i][1] = char(0);
    }
    // Function numbers as the shipped catalogues give them: website 1, document 2, folder 3, LED 4,
    // replacement keys 5, lock keys 6, macro 8, key swap 9; the virtual keyboard is always 7.
    std::vector<QByteArray> samples{keyFunctionRecord(0, 1, usage::W), keyFunctionRecord(1, 2, usage::D),
                                    keyFunctionRecord(2, 3, usage::F)};
    if (m_config.model == Model::Full) {
        QByteArray led = keyFunctionRecord(3, 4, usage::L);
        put32(led, 20, 1); // the second brightness option
        QByteArray replacement = keyFunctionRecord(4, 5, usage::C, false); // the one type without flag
        putKey(replacement, 20, usage::LeftCtrl);
        putKey(replacement, 24, usage::C);
        QByteArray lock = keyFunctionRecord(5, 6, usage::K);
        putKey(lock, 20, usage::LeftWin);
        putKey(lock, 24, usage::RightWin);
        // The first used macro after slot 0, so that its id is not the zero of an empty parameter.
        uint32_t macroId = 0;
        for (size_t i = 1; i < m_state.macroHeads.size(); ++i) {
            const QByteArray& head = m_state.macroHeads[i];
            if ((uint8_t(head[0]) & 0x40) && head[8] != '\0') {
                macroId = uint8_t(head[0]) & 0x3F;
                break;
            }
        }
        QByteArray macro = keyFunctionRecord(6, 8, usage::M);
        put32(macro, 20, macroId);
        put32(macro, 24, 2); // repeat
        QByteArray swap = keyFunctionRecord(7, 9, usage::S);
        put32(swap, 20, 1);
        put32(swap, 24, 3);
        samples.insert(samples.end(), {led, replacement, lock, macro, swap, keyFunctionRecord(8, 7, usage::V)});
    }
    for (size_t i = 0; i < samples.size() && i < table.size(); ++i)
        table[i] = samples[i];
}

void Firmware::fillSampleMacros()
{
    FirmwareState& s = m_state;
    for (size_t i = 0; i < s.macroHeads.size(); ++i) {
        put32(s.macroHeads[i], 0, uint32_t(i & 0x3F)); // free, no frames
        s.macroHeads[i].replace(8, 16, QByteArray(16, '\0'));
        s.macroFrames[i].clear();
    }
    // Key changes typed one at a time (true: down); a frame holds the whole report after each.
    using Typed = std::vector<std::pair<uint16_t, bool>>;
    auto pairs = [](std::initializer_list<uint16_t> keys) {
        Typed t;
        for (uint16_t k : keys)
            t.insert(t.end(), {{k, true}, {k, false}});
        return t;
    };
    using namespace usage;
    const Typed copy{{LeftCtrl, true}, {C, true}, {C, false}, {LeftCtrl, false}};
    Typed signature{{LeftShift, true}, {S, true}, {S, false}, {LeftShift, false}};
    const Typed rest = pairs({I, G, Two});
    signature.insert(signature.end(), rest.begin(), rest.end());
    const struct {
        size_t slot;
        const char* name;
        Typed typed;
    } samples[] = {{0, "Copy", copy}, {2, "Hello1", pairs({H, E, L, L, O, One})}, {5, "Sig2", signature}};

    for (const auto& sample : samples) {
        if (sample.slot >= s.macroHeads.size())
            continue;
        QByteArray frames;
        uint8_t report[8] = {};
        for (const auto& change : sample.typed) {
            const uint16_t code = change.first;
            if (code >= 0xE0) {
                const uint8_t bit = uint8_t(1u << (code - 0xE0));
                report[0] = change.second ? report[0] | bit : report[0] & ~bit;
            } else {
                uint8_t* keys = report + 2;
                uint8_t* slot = std::find(keys, keys + 6, change.second ? 0 : code);
                if (slot != keys + 6)
                    *slot = change.second ? uint8_t(code) : 0;
            }
            QByteArray frame(FrameSize, '\0');
            put16(frame, 0, uint16_t(frames.isEmpty() ? 0 : change.second ? 40 : 60));
            frame.replace(2, 8, QByteArray(reinterpret_cast<const char*>(report), 8));
            frames += frame;
        }
        const int count = frames.size() / FrameSize;
        put32(s.macroHeads[sample.slot], 0, uint32_t(sample.slot) | 0x40u | (uint32_t(count) << 7));
        s.macroHeads[sample.slot].replace(8, 16, padded(sample.name, 16));
        s.macroFrames[sample.slot] = frames;
    }
}

bool Firmware::keyFunctionPress(int slot, QByteArray* report) const
{
    if (!report || slot < 0 || size_t(slot) >= m_state.keyFunctions.size())
        return false;
    const QByteArray& record = m_state.keyFunctions[size_t(slot)];
    if (record.size() < 4)
        return false;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(record.constData());
    const uint16_t word0 = get16(p);
    const unsigned maps = (get16(p + 2) >> 4) & 0xFF;
    const bool active = m_state.curKeyMap < 8 && ((maps >> m_state.curKeyMap) & 1);
    if (!(word0 & 0x40) || !active)
        return false;
    QByteArray r(64, '\0');
    r[0] = char(0xF0);
    r[1] = char(0xAA);
    put16(r, 2, 2);
    r[8] = char(word0 & 0x3F);
    r[9] = char((word0 >> 7) & 0x3F);
    *report = r;
    return true;
}

Firmware::Outcome Firmware::answer(const QByteArray& request, bool apply, QByteArray* reply)
{
    if (request.size() < 64 || !reply)
        return Outcome::Silent;
    const uint8_t group = uint8_t(request[0]);
    const uint8_t cmd = uint8_t(request[1]);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(request.constData()) + 8;
    QByteArray r(64, '\0');
    r[0] = char(group);
    r[1] = char(cmd);

    const bool lighting = m_config.model != Model::NoLighting;
    Outcome o = Outcome::Silent;
    switch (group) {
    case 0x10: o = deviceInfo(cmd, p, apply, r); break;
    case 0x20: o = keyCodes(cmd, p, apply, r); break;
    case 0x30: o = lighting ? colours(cmd, p, apply, r) : Outcome::Silent; break;
    case 0x40: o = keyFunctions(cmd, p, apply, r); break;
    case 0x50: o = macros(cmd, request, apply, r); break;
    case 0x60: o = lighting ? this->lighting(cmd, p, apply, r) : Outcome::Silent; break;
    case 0xB0: o = m_config.model != Model::Wired ? bluetooth(cmd, p, apply, r) : Outcome::Silent; break;
    default: break;
    }
    if (o == Outcome::Reply)
        *reply = r;
    return o;
}

Firmware::Outcome Firmware::deviceInfo(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r)
{
    FirmwareState& s = m_state;
    switch (cmd) {
    case 0x00:
        return apply ? Outcome::LeaveBus : Outcome::Silent; // restarts into its bootloader
    case 0x10:
        put32(r, 8, s.infoWord0);
        put32(r, 12, s.infoWord1);
        putBytes(r, 16, s.date, 16);
        putBytes(r, 32, s.boardName, 16);
        break;
    case 0x11:
        put16(r, 8, s.fwVersion);
        put16(r, 10, s.hwVersion);
        putBytes(r, 12, s.versionBytes, 16);
        break;
    case 0x20: put16(r, 8, s.scanSpeed); break;
    case 0x21:
        if (apply)
            s.scanSpeed = get16(p);
        put32(r, 8, 0);
        break;
    case 0x30: putBytes(r, 8, s.userInfo, 48); break;
    case 0x31:
        if (apply)
            s.userInfo = QByteArray(reinterpret_cast<const char*>(p), 48);
        put32(r, 8, 0);
        break;
    case 0x40: putBytes(r, 8, s.deviceId, 12); break;
    case 0x50: r[8] = char(s.nKey); break;
    case 0x51:
        if (apply)
            s.nKey = p[0];
        put32(r, 8, 0);
        break;
    default: return Outcome::Silent;
    }
    return Outcome::Reply;
}

Firmware::Outcome Firmware::keyCodes(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r)
{
    FirmwareState& s = m_state;
    switch (cmd) {
    case 0x00:
        r[8] = char(m_config.keyMaps);
        r[9] = char(m_config.keys);
        break;
    case 0x01: r[8] = char(s.curKeyMap); break;
    case 0x02: setCurrent(s.curKeyMap, s.keyMaps.size(), p[0], apply, r); break;
    case 0x10: readRange(s.keyMaps, p, 4, 13, r); break;
    case 0x11: writeRange(s.keyMaps, p, 4, 13, apply, r); break;
    default: return Outcome::Silent;
    }
    return Outcome::Reply;
}

Firmware::Outcome Firmware::colours(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r)
{
    FirmwareState& s = m_state;
    switch (cmd) {
    case 0x00:
        // Without colour maps the keyboard still answers, with counts 0.
        r[8] = char(m_config.colourMaps);
        r[9] = char(m_config.colourMaps ? m_config.colourKeys : 0);
        break;
    case 0x01: r[8] = char(s.curColourMap); break;
    case 0x02: setCurrent(s.curColourMap, s.colourMaps.size(), p[0], apply, r); break;
    case 0x10: readRange(s.colourMaps, p, 4, 13, r); break;
    case 0x11: writeRange(s.colourMaps, p, 4, 13, apply, r); break;
    default: return Outcome::Silent;
    }
    return Outcome::Reply;
}

Firmware::Outcome Firmware::keyFunctions(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r)
{
    FirmwareState& s = m_state;
    switch (cmd) {
    case 0x00:
        r[8] = char(m_config.keyFunctions);
        r[9] = char(s.kfOther);
        break;
    case 0x10: readRecord(s.keyFunctions, p[0], 56, r); break;
    case 0x20: writeRecord(s.keyFunctions, p, 56, apply, r); break;
    default: return Outcome::Silent;
    }
    return Outcome::Reply;
}

Firmware::Outcome Firmware::macros(uint8_t cmd, const QByteArray& request, bool apply, QByteArray& r)
{
    FirmwareState& s = m_state;
    const uint8_t* req = reinterpret_cast<const uint8_t*>(request.constData());
    const uint8_t* p = req + 8;
    const size_t sel = s.selectedMacro;
    switch (cmd) {
    case 0x00: r[8] = char(m_config.macros); break;
    case 0x01: readRecord(s.macroHeads, p[0], 24, r); break;
    case 0x02: writeRecord(s.macroHeads, p, 24, apply, r); break;
    case 0x03: setCurrent(s.selectedMacro, s.macroHeads.size(), p[0], apply, r); break;
    case 0x10:
        if (apply)
            s.recording = p[0] != 0;
        put32(r, 8, 0);
        break;
    case 0x20: put32(r, 8, 0); break;
    case 0x30: {
        // Up to five frames of the selected macro from frame f, fewer at its end.
        const int f = get16(req + 4);
        put16(r, 4, uint16_t(f));
        if (sel >= s.macroHeads.size() || sel >= s.macroFrames.size())
            break;
        const int end = std::min(frameCount(s.macroHeads[sel]), MaxFrames);
        const int n = std::max(0, std::min(5, end - f));
        r[2] = char(n * FrameSize);
        putBytes(r, 8, s.macroFrames[sel].mid(f * FrameSize), n * FrameSize);
        break;
    }
    case 0x40: {
        const int len = get16(req + 2);
        const int f = get16(req + 4);
        r[2] = 4;
        put16(r, 4, uint16_t(f));
        put32(r, 8, 0);
        if (sel >= s.macroHeads.size() || sel >= s.macroFrames.size()) {
            put32(r, 8, Refused);
            break;
        }
        QByteArray& frames = s.macroFrames[sel];
        if (len == 0) {
            // The closing packet: its offset is the macro's frame count.
            if (f > 0x3FF) {
                put32(r, 8, Refused);
            } else if (apply) {
                setFrameCount(s.macroHeads[sel], f);
                const int size = std::min(f, MaxFrames) * FrameSize;
                if (frames.size() > size)
                    frames.truncate(size);
                else
                    frames.append(QByteArray(size - frames.size(), '\0'));
            }
            break;
        }
        const int at = f * FrameSize;
        if (len > 56 || at + len > MaxFrames * FrameSize) {
            put32(r, 8, Refused);
            break;
        }
        if (apply) {
            if (frames.size() < at + len)
                frames.append(QByteArray(at + len - frames.size(), '\0'));
            std::memcpy(frames.data() + at, p, size_t(len));
        }
        break;
    }
    default: return Outcome::Silent;
    }
    return Outcome::Reply;
}

Firmware::Outcome Firmware::lighting(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r)
{
    FirmwareState& s = m_state;
    switch (cmd) {
    case 0x00:
        r[8] = char(m_config.lightingModes);
        r[9] = char(m_config.lightingBytes);
        break;
    case 0x01: r[8] = char(s.curLightingMode); break;
    case 0x02: setCurrent(s.curLightingMode, s.lightingModes.size(), p[0], apply, r); break;
    case 0x03: readRange(s.lightingModes, p, 1, 52, r); break; // bytes 12..63
    case 0x04: writeRange(s.lightingModes, p, 1, 52, apply, r); break;
    case 0x20: r[8] = char(m_config.lightingActions); break;
    case 0x21: readRecord(s.lightingActions, p[0], 12, r); break;
    case 0x22: writeRecord(s.lightingActions, p, 12, apply, r); break;
    default: return Outcome::Silent;
    }
    return Outcome::Reply;
}

Firmware::Outcome Firmware::bluetooth(uint8_t cmd, const uint8_t* p, bool apply, QByteArray& r)
{
    FirmwareState& s = m_state;
    switch (cmd) {
    case 0x10: putBytes(r, 8, s.btName, 12); break;
    case 0x11:
        if (apply)
            s.btName = QByteArray(reinterpret_cast<const char*>(p), 12);
        put32(r, 8, 0);
        break;
    case 0x20: put32(r, 8, s.sleepTime); break;
    case 0x21:
        if (apply)
            s.sleepTime = get32(p);
        put32(r, 8, 0);
        break;
    case 0xDF: return btUpgrade(p, apply, r);
    default: return Outcome::Silent;
    }
    return Outcome::Reply;
}

void Firmware::addBtFault(uint8_t sub, int nth, BtFaultKind kind, uint8_t status, const QByteArray& report)
{
    if (nth >= 1)
        m_btFaults.push_back({sub, nth, kind, status, report});
}

std::vector<QByteArray> Firmware::takePrelude()
{
    std::vector<QByteArray> out;
    out.swap(m_prelude);
    return out;
}

int Firmware::takeReplyDelay()
{
    const int ms = m_replyDelayMs;
    m_replyDelayMs = 0;
    return ms;
}

bool Firmware::takeDoubled()
{
    const bool doubled = m_doubled;
    m_doubled = false;
    return doubled;
}

bool Firmware::takeDoubledLate()
{
    const bool doubled = m_doubledLate;
    m_doubledLate = false;
    return doubled;
}

Firmware::Outcome Firmware::btUpgrade(const uint8_t* frame, bool apply, QByteArray& r)
{
    const uint8_t sub = frame[0];
    bool ignore = false;
    int forced = -1;
    int named = -1;
    for (auto it = m_btFaults.begin(); it != m_btFaults.end();) {
        if (it->sub != sub || --it->nth > 0) {
            ++it;
            continue;
        }
        switch (it->kind) {
        case BtFaultKind::Reject: forced = it->status; break;
        case BtFaultKind::Ignore: ignore = true; break;
        case BtFaultKind::InjectBefore: m_prelude.push_back(it->report); break;
        case BtFaultKind::Double: m_doubled = true; break;
        case BtFaultKind::DoubleLate: m_doubledLate = true; break;
        case BtFaultKind::Rename: named = it->status; break;
        }
        it = m_btFaults.erase(it);
    }
    if (ignore)
        return Outcome::Silent;
    r[8] = char(sub);
    r[9] = 1;
    if (forced >= 0)
        r[12] = char(forced);
    else
        r[12] = char(apply ? btApply(frame) : uint8_t(Refused));
    if (named >= 0)
        r[8] = char(named);
    if (sub >= 0x81 && sub <= 0x84)
        m_replyDelayMs += m_btAckDelayMs;
    return Outcome::Reply;
}

uint8_t Firmware::btApply(const uint8_t* f)
{
    uint8_t sum = 0;
    for (int i = 0; i < 56; ++i)
        sum = uint8_t(sum + (i == 2 ? 0 : f[i]));
    if (sum != f[2])
        return BtStatus::BadSum;
    const bool boot = m_bt.inBootloader;
    switch (f[0]) {
    case 0x08: m_bt.inBootloader = true; return 0;
    case 0x85:
        if (!boot)
            return BtStatus::WrongState;
        m_bt.inBootloader = false;
        m_btArea = 0;
        return 0;
    case 0x81:
    case 0x82: {
        if (!boot)
            return BtStatus::WrongState;
        const bool app = f[0] == 0x81;
        (app ? m_bt.application : m_bt.softDevice).clear();
        ++(app ? m_bt.applicationErases : m_bt.softDeviceErases);
        m_btArea = f[0];
        m_btNextBlock = 1;
        m_replyDelayMs = m_btEraseDelayMs;
        return 0;
    }
    case 0x83:
    case 0x84: {
        // Data frames go only to the area erased last, in block order.
        if (!boot || m_btArea != f[0] - 2 || f[1] != 0x34 || f[3] != 0xFF)
            return BtStatus::WrongState;
        if (get32(f + 4) != m_btNextBlock)
            return BtStatus::BadSequence;
        (f[0] == 0x83 ? m_bt.application : m_bt.softDevice).append(reinterpret_cast<const char*>(f + 8), 48);
        ++m_btNextBlock;
        return 0;
    }
    default: return BtStatus::WrongState;
    }
}

} // namespace sim

namespace sim {

QList<uint16_t> KeyboardConfig::fullSizeKeyCodes()
{
    return {0x29, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
            0x35, 0x1E, 0x1F, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x2D, 0x2E, 0x2A, 0x49, 0x4A,
            0x4B, 0x53, 0x54, 0x55, 0x56,
            0x2B, 0x14, 0x1A, 0x08, 0x15, 0x17, 0x1C, 0x18, 0x0C, 0x12, 0x13, 0x2F, 0x30, 0x31, 0x4C, 0x4D,
            0x4E, 0x5F, 0x60, 0x61, 0x57,
            0x39, 0x04, 0x16, 0x07, 0x09, 0x0A, 0x0B, 0x0D, 0x0E, 0x0F, 0x33, 0x34, 0x28, 0x5C, 0x5D, 0x5E,
            0xE1, 0x1D, 0x1B, 0x06, 0x19, 0x05, 0x11, 0x10, 0x36, 0x37, 0x38, 0xE5, 0x52, 0x59, 0x5A, 0x5B,
            0x58,
            0xE0, 0xE3, 0xE2, 0x2C, 0xE6, 0xE7, 0x65, 0xE4, 0x50, 0x51, 0x4F, 0x62, 0x63};
}

QList<uint16_t> KeyboardConfig::tenkeylessKeyCodes()
{
    return {0x29, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
            0x35, 0x1E, 0x1F, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x2D, 0x2E, 0x2A, 0x49, 0x4A,
            0x4B,
            0x2B, 0x14, 0x1A, 0x08, 0x15, 0x17, 0x1C, 0x18, 0x0C, 0x12, 0x13, 0x2F, 0x30, 0x31, 0x4C, 0x4D,
            0x4E,
            0x39, 0x04, 0x16, 0x07, 0x09, 0x0A, 0x0B, 0x0D, 0x0E, 0x0F, 0x33, 0x34, 0x28,
            0xE1, 0x1D, 0x1B, 0x06, 0x19, 0x05, 0x11, 0x10, 0x36, 0x37, 0x38, 0xE5, 0x52,
            0xE0, 0xE3, 0xE2, 0x2C, 0xE6, 0xE7, 0x65, 0xE4, 0x50, 0x51, 0x4F};
}

KeyboardConfig fullSizeDual()
{
    KeyboardConfig c;
    c.sampleMacros = true;
    c.sampleLightingActions = true;
    return c;
}

KeyboardConfig tenkeylessWired()
{
    KeyboardConfig c;
    c.sampleMacros = true;
    c.model = Model::Wired;
    c.boardName = "TK87 Wired Board";
    c.keys = 87;
    c.keyCodes = KeyboardConfig::tenkeylessKeyCodes();
    c.colourMaps = 0;
    c.colourKeys = 87;
    c.lightingBytes = 87;
    c.seed = 2; // its own device id, so it gets its own per-keyboard folder beside the full-size one
    return c;
}

QList<KeyboardConfig> sampleFamily()
{
    return {fullSizeDual(), tenkeylessWired()};
}

QByteArray fullReportMacroFrames()
{
    QByteArray frames;
    for (int i = 0; i < 512; ++i) {
        QByteArray frame(Firmware::FrameSize, '\0');
        put16(frame, 0, 1);
        frame[2] = char(i % 2 ? 0x00 : 0xFF);
        for (int k = 0; k < 6; ++k) // six keys, none of them the frame before's
            frame[4 + k] = char(0x04 + (i % 2) * 6 + k);
        frames += frame;
    }
    return frames;
}

bool setMacro(FirmwareState& state, int slot, const QByteArray& frames, const QByteArray& name)
{
    if (slot < 0 || size_t(slot) >= state.macroHeads.size() || size_t(slot) >= state.macroFrames.size())
        return false;
    const int count = frames.size() / Firmware::FrameSize;
    put32(state.macroHeads[size_t(slot)], 0, uint32_t(slot & 0x3F) | 0x40u | (uint32_t(count) << 7));
    state.macroHeads[size_t(slot)].replace(8, 16, padded(name, 16));
    state.macroFrames[size_t(slot)] = frames.left(count * Firmware::FrameSize);
    return true;
}

} // namespace sim
