#include "cmd.h"

#include "commandreport.h"

#include "records.h"
#include "resultcodes.h"
#include "usb.h"

#include <QDebug>
#include <algorithm>
#include <cstring>

uint32_t Cmd::setBuffer(uint8_t group, uint8_t command, uint16_t length, uint16_t offset, const uint8_t* payload)
{
    buildCommandReport(m_buf, group, command, length, offset, payload);
    return DeviceResult::Ok;
}

uint32_t Cmd::send()
{
    m_buf[6] = 0;
    m_buf[7] = 0;
    if (!m_usb || m_usb->write(m_buf, ReportSize) != 0)
        return DeviceResult::WriteFailed;
    return DeviceResult::Ok;
}

uint32_t Cmd::recv()
{
    if (!m_usb)
        return DeviceResult::Stopped;
    // A short report must not leave request bytes that would read as reply data.
    std::memset(m_buf, 0, sizeof m_buf);
    const int n = m_usb->read_timeout(m_buf, ReportSize, ReplyTimeoutMs);
    if (n < 0)
        return DeviceResult::Stopped;
    if (n == 0)
        return DeviceResult::Timeout;
    return DeviceResult::Ok;
}

void Cmd::printBuffer() const
{
    for (int i = 0; i < ReportSize; i += 8)
        qDebug("%02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x", m_buf[i], m_buf[i + 1], m_buf[i + 2], m_buf[i + 3],
               m_buf[i + 4], m_buf[i + 5], m_buf[i + 6], m_buf[i + 7]);
}

uint32_t Cmd::exchange(uint8_t group, uint8_t command, uint16_t length, const uint8_t* payload, bool readReply)
{
    setBuffer(group, command, length, 0, payload);
    const uint32_t e = send();
    if (e != DeviceResult::Ok || !readReply)
        return e;
    return recv();
}

uint32_t Cmd::cmd0000()
{
    return exchange(0x00, 0x00, 0, nullptr);
}

uint32_t Cmd::enterDfu()
{
    // The keyboard restarts into its bootloader instead of answering.
    return exchange(0x10, 0x00, 0, nullptr, false);
}

uint32_t Cmd::getDevInfo(uint32_t* word0, uint32_t* word1, uint32_t date[4], uint32_t name[4])
{
    const uint32_t e = exchange(0x10, 0x10, 0, nullptr);
    if (e != DeviceResult::Ok)
        return e;
    if (word0)
        *word0 = le::u32(m_buf + 8);
    if (word1)
        *word1 = le::u32(m_buf + 12);
    for (int i = 0; i < 4; ++i) {
        if (date)
            date[i] = le::u32(m_buf + 16 + 4 * i);
        if (name)
            name[i] = le::u32(m_buf + 32 + 4 * i);
    }
    return DeviceResult::Ok;
}

uint32_t Cmd::getDeviceVersion(uint16_t* fw, uint16_t* hw, uint8_t text[16])
{
    const uint32_t e = exchange(0x10, 0x11, 0, nullptr);
    if (e != DeviceResult::Ok)
        return e;
    if (fw)
        *fw = le::u16(m_buf + 8);
    if (hw)
        *hw = le::u16(m_buf + 10);
    if (text) {
        for (int i = 0; i < 16; ++i)
            text[i] = uint8_t(m_buf[12 + i] + 0x30); // digits come as values 0..9
    }
    return DeviceResult::Ok;
}

uint32_t Cmd::getScanSpeed(uint16_t* ms)
{
    const uint32_t e = exchange(0x10, 0x20, 0, nullptr);
    if (e == DeviceResult::Ok && ms)
        *ms = le::u16(m_buf + 8);
    return e;
}

uint32_t Cmd::setScanSpeed(uint16_t ms)
{
    uint8_t payload[2];
    le::put16(payload, ms);
    return exchange(0x10, 0x21, sizeof payload, payload, false);
}

uint32_t Cmd::getUserInfo(uint8_t info[48])
{
    const uint32_t e = exchange(0x10, 0x30, 0, nullptr);
    if (e == DeviceResult::Ok && info)
        std::memcpy(info, m_buf + 8, 48);
    return e;
}

uint32_t Cmd::getNKey(uint8_t* value)
{
    const uint32_t e = exchange(0x10, 0x50, 0, nullptr);
    if (e == DeviceResult::Ok && value)
        *value = m_buf[8];
    return e;
}

uint32_t Cmd::setNKey(uint8_t value)
{
    return exchange(0x10, 0x51, 1, &value);
}

uint32_t Cmd::getKCInfo(uint8_t* maps, uint8_t* keys)
{
    const uint32_t e = exchange(0x20, 0x00, 0, nullptr);
    if (e != DeviceResult::Ok)
        return e;
    if (maps)
        *maps = m_buf[8];
    if (keys)
        *keys = m_buf[9];
    return DeviceResult::Ok;
}

uint32_t Cmd::getCurKCM(uint8_t* map)
{
    const uint32_t e = exchange(0x20, 0x01, 0, nullptr);
    if (e == DeviceResult::Ok && map)
        *map = m_buf[8];
    return e;
}

uint32_t Cmd::setCurKCM(uint8_t map)
{
    const uint32_t e = exchange(0x20, 0x02, 1, &map);
    return e != DeviceResult::Ok ? e : le::u32(m_buf + 8);
}

uint32_t Cmd::getEntries(uint8_t group, uint8_t map, uint8_t first, uint8_t last, uint8_t* dest)
{
    if (last < first || last - first + 1 > MaxKeyEntries || !dest)
        return DeviceResult::BadIndex;
    const uint8_t payload[4] = {map, first, last, 0};
    const uint32_t e = exchange(group, 0x10, sizeof payload, payload);
    if (e != DeviceResult::Ok)
        return e;
    // The reply names its own range; never take more than was asked for or than the report holds.
    const int replyFirst = m_buf[9];
    const int replyLast = m_buf[10];
    if (replyLast < replyFirst)
        return DeviceResult::Ok;
    const int count = std::min({replyLast - replyFirst + 1, last - first + 1, MaxKeyEntries});
    std::memcpy(dest, m_buf + 12, size_t(count) * 4);
    return DeviceResult::Ok;
}

uint32_t Cmd::setEntries(uint8_t group, uint8_t map, uint8_t first, uint8_t last, const uint8_t* entries)
{
    if (last < first || last - first + 1 > MaxKeyEntries || !entries)
        return DeviceResult::BadIndex;
    const int count = last - first + 1;
    uint8_t payload[4 + MaxKeyEntries * 4] = {map, first, last, 0};
    std::memcpy(payload + 4, entries, size_t(count) * 4);
    const uint32_t e = exchange(group, 0x11, uint16_t((last - first) * 4 + 8), payload);
    return e != DeviceResult::Ok ? e : le::u32(m_buf + 8);
}

uint32_t Cmd::getKC(uint8_t map, uint8_t first, uint8_t last, uint8_t* dest)
{
    return getEntries(0x20, map, first, last, dest);
}

uint32_t Cmd::setKC(uint8_t map, uint8_t first, uint8_t last, const uint8_t* entries)
{
    const uint32_t status = setEntries(0x20, map, first, last, entries);
    if (status != DeviceResult::Ok)
        qDebug("setKC failed, status = %x", status);
    return status;
}

uint32_t Cmd::getKRInfo(uint8_t* maps, uint8_t* keys)
{
    const uint32_t e = exchange(0x30, 0x00, 0, nullptr);
    if (e != DeviceResult::Ok)
        return e;
    // Keyboards without colour answer with another group: no colour maps.
    const bool colour = m_buf[0] == 0x30;
    if (!colour)
        qDebug("krm error =%x", m_buf[0]);
    if (maps)
        *maps = colour ? m_buf[8] : 0;
    if (keys)
        *keys = colour ? m_buf[9] : 0;
    return DeviceResult::Ok;
}

uint32_t Cmd::getCurKRM(uint8_t* map)
{
    const uint32_t e = exchange(0x30, 0x01, 0, nullptr);
    if (e == DeviceResult::Ok && map)
        *map = m_buf[8];
    return e;
}

uint32_t Cmd::setCurKRM(uint8_t map)
{
    const uint32_t e = exchange(0x30, 0x02, 1, &map);
    return e != DeviceResult::Ok ? e : le::u32(m_buf + 8);
}

uint32_t Cmd::getKR(uint8_t map, uint8_t first, uint8_t last, uint8_t* dest)
{
    return getEntries(0x30, map, first, last, dest);
}

uint32_t Cmd::setKR(uint8_t map, uint8_t first, uint8_t last, const uint8_t* entries)
{
    const uint32_t status = setEntries(0x30, map, first, last, entries);
    if (status != DeviceResult::Ok)
        qDebug("setKR failed, status = %x", status);
    return status;
}

uint32_t Cmd::getKFInfo(uint8_t* count, uint8_t* other)
{
    const uint32_t e = exchange(0x40, 0x00, 0, nullptr);
    if (e != DeviceResult::Ok)
        return e;
    if (count)
        *count = m_buf[8];
    if (other)
        *other = m_buf[9];
    return DeviceResult::Ok;
}
