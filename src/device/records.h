#pragma once
// Plain little-endian byte records the keyboard stores, and the packed key code.
#include <cstdint>
#include <cstring>

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

// Key function record (56 bytes). Word 0: bits 0-5 slot, bit 6 used, bits 7-12 function number.
struct kf_t {
    uint8_t bytes[56];

    int id() const { return bytes[0] & 0x3F; }
    bool used() const { return (bytes[0] & 0x40) != 0; }
    int hi() const { return (le::u16(bytes) >> 7) & 0x3F; }
};
static_assert(sizeof(kf_t) == 56, "kf_t is 56 bytes on the wire");

// Macro head (24 bytes). Word 0: bits 0-5 slot, bit 6 used, bits 7-16 frame count; 8..23 name.
struct km_t {
    uint8_t bytes[24];

    uint32_t word0() const { return le::u32(bytes); }
    void setWord0(uint32_t v) { le::put32(bytes, v); }
    int frameCount() const { return int((word0() >> 7) & 0x3FF); }
    void setFrameCount(int n) { setWord0((word0() & ~(0x3FFu << 7)) | ((uint32_t(n) & 0x3FF) << 7)); }
    int slotIndex() const { return int(word0() & 0x3F); }
};
static_assert(sizeof(km_t) == 24, "km_t is 24 bytes on the wire");

// Macro frame (10 bytes): delay plus an 8-byte keyboard report.
struct mframe_t {
    uint8_t bytes[10];
};
static_assert(sizeof(mframe_t) == 10, "mframe_t is 10 bytes on the wire");

// Lighting action record of one mode slot (12 bytes).
struct la_t {
    uint8_t bytes[12];
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
};
