#pragma once
// Plain little-endian byte records the keyboard stores, and the packed key code.
#include <cstdint>
#include <cstring>

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Reads and writes little-endian fields at a byte offset.
namespace le {
inline uint16_t u16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t u32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
}


// Macro head (24 bytes). Word 0: bits 0-5 slot, bit 6 used, bits 7-16 frame count; 8..23 name.
struct km_t {
    uint8_t bytes[24];

    uint32_t word0() const { return le::u32(bytes); }
    void setWord0(uint32_t v) { le::put32(bytes, v); }
    int frameCount() const { return int((word0() >> 7) & 0x3FF); }
    void setFrameCount(int n) { setWord0((word0() & ~(0x3FFu << 7)) | ((uint32_t(n) & 0x3FF) << 7)); }
    int slotIndex() const { return int(word0() & 0x3F); }
    bool used() const { return (bytes[0] & 0x40) != 0; }
    void setUsed(bool on) { bytes[0] = uint8_t(on ? bytes[0] | 0x40 : bytes[0] & ~0x40); }
    // The 16 name bytes as they go to the keyboard.
    const uint8_t* nameBytes() const { return bytes + 8; }
    // Stores the first 16 bytes of name, zero padded.
    void setName(const QByteArray& name)
    {
        std::memset(bytes + 8, 0, 16);
        std::memcpy(bytes + 8, name.constData(), size_t(qMin(name.size(), 16)));
    }
    // The 16-byte name at byte 8, up to the first zero byte, in the system's 8-bit encoding.
    QString name() const
    {
        int n = 0;
        while (n < 16 && bytes[8 + n] != 0)
            ++n;
        return QString::fromLocal8Bit(reinterpret_cast<const char*>(bytes + 8), n);
    }
};
static_assert(sizeof(km_t) == 24, "km_t is 24 bytes on the wire");

// Macro frame (10 bytes): delay plus an 8-byte keyboard report.
struct mframe_t {
    uint8_t bytes[10];

    static constexpr int ReportSize = 8;
    static constexpr int KeySlots = 6;

    uint16_t timestamp() const { return le::u16(bytes); }
    void setTimestamp(uint16_t ms) { le::put16(bytes, ms); }
    uint8_t modifiers() const { return bytes[2]; }
    void setModifiers(uint8_t bits) { bytes[2] = bits; }
    // The boot keyboard report, bytes 2..9: modifiers, reserved, six key slots.
    uint8_t* report() { return bytes + 2; }
    const uint8_t* report() const { return bytes + 2; }
    // Key slot i (0..5); out of range reads 0.
    uint8_t keySlot(int i) const { return i >= 0 && i < KeySlots ? bytes[4 + i] : 0; }
};
static_assert(sizeof(mframe_t) == 10, "mframe_t is 10 bytes on the wire");

// Lighting action record of one mode slot (12 bytes). Bits 0-63 are bytes 0-7 as one little-endian
// word: 0-5 slot, 6-9 effect, 10 cycle, 11 colour random, 12 random colour on key press, 13 direction
// (1: high to low), 14-19 highest level, 20-25 lowest level, 26-31 level step, 32-41 total period
// count, 42-51 step delay, 52-63 kept. Bytes 8-9 highest delay, 10-11 period delay (ms). Setters store
// the low bits of their argument and change only their own bits.
struct la_t {
    uint8_t bytes[12];

    int slot() const { return field(0, 6); }
    void setSlot(int v) { setField(0, 6, v); }
    int effect() const { return field(6, 4); }
    void setEffect(int v) { setField(6, 4, v); }
    bool cycle() const { return field(10, 1) != 0; }
    void setCycle(int v) { setField(10, 1, v); }
    bool colorRandom() const { return field(11, 1) != 0; }
    void setColorRandom(int v) { setField(11, 1, v); }
    bool keypressRandom() const { return field(12, 1) != 0; }
    void setKeypressRandom(int v) { setField(12, 1, v); }
    int direction() const { return field(13, 1); }
    void setDirection(int v) { setField(13, 1, v); }
    int highestLevel() const { return field(14, 6); }
    void setHighestLevel(int v) { setField(14, 6, v); }
    int lowestLevel() const { return field(20, 6); }
    void setLowestLevel(int v) { setField(20, 6, v); }
    int levelStep() const { return field(26, 6); }
    void setLevelStep(int v) { setField(26, 6, v); }
    int totalPeriod() const { return field(32, 10); }
    void setTotalPeriod(int v) { setField(32, 10, v); }
    int stepDelay() const { return field(42, 10); }
    void setStepDelay(int v) { setField(42, 10, v); }
    int highestDelay() const { return le::u16(bytes + 8); }
    void setHighestDelay(int v) { le::put16(bytes + 8, uint16_t(v)); }
    int periodDelay() const { return le::u16(bytes + 10); }
    void setPeriodDelay(int v) { le::put16(bytes + 10, uint16_t(v)); }

private:
    uint64_t bits() const { return le::u32(bytes) | (uint64_t(le::u32(bytes + 4)) << 32); }
    int field(int shift, int width) const { return int((bits() >> shift) & ((1u << width) - 1)); }
    void setField(int shift, int width, int v)
    {
        const uint64_t mask = uint64_t((1u << width) - 1) << shift;
        const uint64_t word = (bits() & ~mask) | ((uint64_t(uint32_t(v)) << shift) & mask);
        le::put32(bytes, uint32_t(word));
        le::put32(bytes + 4, uint32_t(word >> 32));
    }
};
static_assert(sizeof(la_t) == 12, "la_t is 12 bytes on the wire");

// Key code: byte 0 bit 0 state, bits 1-3 type, bits 4-7 stype; bytes 1-2 code.
struct kc_t {
    uint8_t state = 0;
    uint8_t type = 0;
    uint8_t stype = 0;
    uint16_t code = 0;

    static kc_t unpack(const uint8_t* p)
    {
        kc_t k;
        k.state = p[0] & 1;
        k.type = (p[0] >> 1) & 7;
        k.stype = (p[0] >> 4) & 15;
        k.code = le::u16(p + 1);
        return k;
    }
    // Writes the 4-byte table form (fourth byte 0).
    void pack(uint8_t* p) const
    {
        p[0] = uint8_t((state & 1) | ((type & 7) << 1) | ((stype & 15) << 4));
        le::put16(p + 1, code);
        p[3] = 0;
    }
    bool sameKey(const kc_t& o) const { return type == o.type && stype == o.stype && code == o.code; }
    bool isEmpty() const { return type == 0 && stype == 0 && code == 0; }
    // Writes type, stype and code of a 4-byte key slot; its state bit and fourth byte stay as they are.
    void packKeepingState(uint8_t* p) const
    {
        p[0] = uint8_t((p[0] & 1) | ((type & 7) << 1) | ((stype & 15) << 4));
        le::put16(p + 1, code);
    }
};

// Key function record (56 bytes). Word 0: bits 0-5 slot, bit 6 used, bits 7-12 function number,
// bits 13-15 kept. Word 1: bits 0-2 trigger key count, bit 3 flag, bits 4-11 key-map mask, 12-15 kept.
// Then four trigger key slots at 4 + 4j and a 36-byte parameter area at 20. Setters change only
// their own bits: whatever the keyboard put in the others goes back as it came.
struct kf_t {
    uint8_t bytes[56];

    static constexpr int TriggerKeys = 4;
    static constexpr int ParamKeys = 9; // replacement and lock keys
    static constexpr int ParamOffset = 20;
    static constexpr int SecondParamOffset = 24;

    int id() const { return bytes[0] & 0x3F; }
    bool used() const { return (bytes[0] & 0x40) != 0; }
    void setUsed(bool on) { bytes[0] = uint8_t(on ? bytes[0] | 0x40 : bytes[0] & ~0x40); }
    int hi() const { return (le::u16(bytes) >> 7) & 0x3F; }
    void setHi(int hi) { setBits(0, 7, 0x3F, uint16_t(hi)); }

    int keyCount() const { return le::u16(bytes + 2) & 0x7; }
    void setKeyCount(int n) { setBits(2, 0, 0x7, uint16_t(n)); }
    bool flag() const { return (le::u16(bytes + 2) >> 3) & 1; }
    void setFlag(bool on) { setBits(2, 3, 0x1, on ? 1 : 0); }
    uint8_t mapMask() const { return uint8_t(le::u16(bytes + 2) >> 4); }
    void setMapMask(uint8_t mask) { setBits(2, 4, 0xFF, mask); }

    // Trigger key j (0-3) and parameter key i (0-8); out of range reads an empty key and writes nothing.
    kc_t key(int j) const { return j >= 0 && j < TriggerKeys ? kc_t::unpack(bytes + 4 + 4 * j) : kc_t(); }
    void setKey(int j, const kc_t& k)
    {
        if (j >= 0 && j < TriggerKeys)
            k.packKeepingState(bytes + 4 + 4 * j);
    }
    kc_t paramKey(int i) const
    {
        return i >= 0 && i < ParamKeys ? kc_t::unpack(bytes + ParamOffset + 4 * i) : kc_t();
    }
    void setParamKey(int i, const kc_t& k)
    {
        if (i >= 0 && i < ParamKeys)
            k.packKeepingState(bytes + ParamOffset + 4 * i);
    }

    // The u32 parameters: LED option, macro id and repeat, the two swap numbers.
    uint32_t option() const { return le::u32(bytes + ParamOffset); }
    void setOption(uint32_t v) { le::put32(bytes + ParamOffset, v); }
    uint32_t macroId() const { return le::u32(bytes + ParamOffset); }
    void setMacroId(uint32_t v) { le::put32(bytes + ParamOffset, v); }
    uint32_t repeat() const { return le::u32(bytes + SecondParamOffset); }
    void setRepeat(uint32_t v) { le::put32(bytes + SecondParamOffset, v); }
    uint32_t swap1() const { return le::u32(bytes + ParamOffset); }
    void setSwap1(uint32_t v) { le::put32(bytes + ParamOffset, v); }
    uint32_t swap2() const { return le::u32(bytes + SecondParamOffset); }
    void setSwap2(uint32_t v) { le::put32(bytes + SecondParamOffset, v); }

private:
    void setBits(int offset, int shift, uint16_t mask, uint16_t value)
    {
        const uint16_t word = le::u16(bytes + offset);
        le::put16(bytes + offset, uint16_t((word & ~(mask << shift)) | ((value & mask) << shift)));
    }
};
static_assert(sizeof(kf_t) == 56, "kf_t is 56 bytes on the wire");

