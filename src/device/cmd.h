#pragma once
// Direct command exchange with the keyboard: one blocking write and one bounded read, without the request lock.
#include <cstdint>

class Usb;

class Cmd {
public:
    static constexpr int ReportSize = 64;
    static constexpr int ReplyTimeoutMs = 2000; // a silent keyboard must not block the caller for good
    static constexpr int MaxKeyEntries = 13;    // 4-byte key entries that fit one report

    explicit Cmd(Usb* usb) : m_usb(usb) {}

    // Clears the buffer and fills it as a command report; sends nothing.
    uint32_t setBuffer(uint8_t group, uint8_t command, uint16_t length, uint16_t offset, const uint8_t* payload);
    uint32_t send();
    // Reads one report into the buffer: 0, Timeout when none came in time, Stopped when the read failed.
    uint32_t recv();
    void printBuffer() const;
    const uint8_t* buffer() const { return m_buf; }

    uint32_t cmd0000();
    uint32_t enterDfu();
    uint32_t getDevInfo(uint32_t* word0, uint32_t* word1, uint32_t date[4], uint32_t name[4]);
    uint32_t getDeviceVersion(uint16_t* fw, uint16_t* hw, uint8_t text[16]);
    uint32_t getScanSpeed(uint16_t* ms);
    uint32_t setScanSpeed(uint16_t ms);
    uint32_t getUserInfo(uint8_t info[48]);
    uint32_t getNKey(uint8_t* value);
    uint32_t setNKey(uint8_t value);

    uint32_t getKCInfo(uint8_t* maps, uint8_t* keys);
    uint32_t getCurKCM(uint8_t* map);
    uint32_t setCurKCM(uint8_t map);
    // dest receives the entries of the range the reply names, at most last - first + 1 of them.
    uint32_t getKC(uint8_t map, uint8_t first, uint8_t last, uint8_t* dest);
    uint32_t setKC(uint8_t map, uint8_t first, uint8_t last, const uint8_t* entries);

    uint32_t getKRInfo(uint8_t* maps, uint8_t* keys);
    uint32_t getCurKRM(uint8_t* map);
    uint32_t setCurKRM(uint8_t map);
    uint32_t getKR(uint8_t map, uint8_t first, uint8_t last, uint8_t* dest);
    uint32_t setKR(uint8_t map, uint8_t first, uint8_t last, const uint8_t* entries);

    uint32_t getKFInfo(uint8_t* count, uint8_t* other);

private:
    // Writes the report in the buffer and, when a reply is expected, reads it into the same buffer.
    uint32_t exchange(uint8_t group, uint8_t command, uint16_t length, const uint8_t* payload, bool readReply = true);
    uint32_t getEntries(uint8_t group, uint8_t map, uint8_t first, uint8_t last, uint8_t* dest);
    uint32_t setEntries(uint8_t group, uint8_t map, uint8_t first, uint8_t last, const uint8_t* entries);

    Usb* m_usb;
    uint8_t m_buf[ReportSize] = {};
};
