// Device information and settings: command group 0x10, and the Bluetooth name and sleep time (0xB0).
#include "device.h"

#include <QDebug>
#include <cstring>

namespace {
constexpr uint8_t GroupInfo = 0x10;
constexpr uint8_t GroupBt = 0xB0;
constexpr int UserInfoSize = 48;
constexpr int BtNameSize = 12;

// A text's UTF-8 bytes cut to size, zero padded: the fixed text fields of the keyboard. The cut falls
// on a character boundary, so the keyboard never gets half a character.
QByteArray fixedUtf8(const QString& text, int size)
{
    const QByteArray utf8 = text.toUtf8();
    int n = qMin(size, utf8.size());
    // A continuation byte (10xxxxxx) at the cut means the character before it is cut in two.
    while (n > 0 && n < utf8.size() && (uint8_t(utf8[n]) & 0xC0) == 0x80)
        --n;
    QByteArray bytes = utf8.left(n);
    bytes.append(QByteArray(size - bytes.size(), '\0'));
    return bytes;
}

// The settings' confirmation replies go to the log whole.
QString hexDump(const uint8_t* reply)
{
    QString text;
    for (int i = 0; i < 64; ++i)
        text += QString::asprintf("%02x", reply[i]);
    return text;
}

const uint8_t* bytesOf(const QByteArray& a)
{
    return reinterpret_cast<const uint8_t*>(a.constData());
}

// A plain 0x10 get: the reply's fields are stored only when it came.
template <typename Store>
uint32_t getInfo(Device* d, uint8_t command, Store store)
{
    uint8_t r[64];
    const uint32_t e = d->request(GroupInfo, command, 0, 0, nullptr, DeviceTimeout::Get, r);
    if (e == DeviceResult::Ok)
        store(r);
    return e;
}
}

uint32_t Device::enterDfu()
{
    // The keyboard restarts into its bootloader at once: no reply will come, so no lock and no wait.
    return sendPacket(GroupInfo, 0x00, 0, 0, nullptr);
}

uint32_t Device::getDevInfo()
{
    uint8_t r[64];
    const uint32_t e = request(GroupInfo, 0x10, 0, 0, nullptr, DeviceTimeout::Info, r);
    if (e != DeviceResult::Ok)
        return e;
    m_devInfo.word0 = le::u32(r + 8);
    m_devInfo.word1 = le::u32(r + 12);
    std::memcpy(m_devInfo.date, r + 16, sizeof m_devInfo.date);
    std::memcpy(m_devInfo.boardName, r + 32, sizeof m_devInfo.boardName);
    return DeviceResult::Ok;
}

uint32_t Device::getDeviceVersion()
{
    uint8_t r[64];
    const uint32_t e = request(GroupInfo, 0x11, 0, 0, nullptr, DeviceTimeout::Get, r);
    if (e != DeviceResult::Ok)
        return e;
    m_fw_version = le::u16(r + 8);
    m_hw_version = le::u16(r + 10);
    // The keyboard sends digits as values 0..9.
    for (int i = 0; i < int(sizeof m_versionText); ++i)
        m_versionText[i] = char(uint8_t(r[12 + i] + 0x30));
    qDebug() << "m_fw_version=" << m_fw_version;
    qDebug() << "m_hw_version=" << m_hw_version;
    return DeviceResult::Ok;
}

uint32_t Device::getScanSpeed()
{
    return getInfo(this, 0x20, [this](const uint8_t* r) { m_scanSpeed = le::u16(r + 8); });
}

uint32_t Device::getUserInfo()
{
    return getInfo(this, 0x30, [this](const uint8_t* r) { std::memcpy(m_userInfo, r + 8, sizeof m_userInfo); });
}

uint32_t Device::getInfo40()
{
    return getInfo(this, 0x40, [this](const uint8_t* r) { std::memcpy(m_deviceId, r + 8, sizeof m_deviceId); });
}

uint32_t Device::getNKey()
{
    return getInfo(this, 0x50, [this](const uint8_t* r) { m_nKey = r[8]; });
}

uint32_t Device::setScanSpeed(uint16_t ms)
{
    uint8_t payload[2];
    le::put16(payload, ms);
    const uint32_t status = statusRequest(GroupInfo, 0x21, sizeof payload, payload);
    if (status == DeviceResult::Ok)
        m_scanSpeed = ms;
    return status;
}

uint32_t Device::setUserInfo(const QString& text)
{
    const QByteArray payload = fixedUtf8(text, UserInfoSize);
    const uint32_t status = statusRequest(GroupInfo, 0x31, UserInfoSize, bytesOf(payload));
    if (status == DeviceResult::Ok)
        std::memcpy(m_userInfo, payload.constData(), UserInfoSize);
    return status;
}

uint32_t Device::setNKey(uint8_t value)
{
    const uint32_t status = statusRequest(GroupInfo, 0x51, 1, &value);
    if (status == DeviceResult::Ok)
        m_nKey = value;
    return status;
}

uint32_t Device::getBtName()
{
    uint8_t r[64];
    // A keyboard without a Bluetooth module never answers 0xB0, so a failed write just runs into the time-out.
    const uint32_t e = request(GroupBt, 0x10, 0, 0, nullptr, DeviceTimeout::Get, r, ReplyFilter(), true);
    if (e == DeviceResult::Timeout)
        qDebug("getBtName WK_ERROR_TIMEOUT=%x", e);
    if (e != DeviceResult::Ok)
        return e;
    std::memcpy(m_btName, r + 8, sizeof m_btName);
    return DeviceResult::Ok;
}

uint32_t Device::setBtName(const QString& name)
{
    const QByteArray payload = fixedUtf8(name, BtNameSize);
    uint8_t r[64];
    const uint32_t e = request(GroupBt, 0x11, BtNameSize, 0, bytesOf(payload), DeviceTimeout::Get, r,
                               ReplyFilter(), true);
    if (e == DeviceResult::Timeout)
        qDebug("setBtName WK_ERROR_TIMEOUT=%x", e);
    if (e != DeviceResult::Ok)
        return e;
    qDebug() << "setBtName:" << hexDump(r);
    const uint32_t status = le::u32(r + 8);
    if (status != 0)
        qDebug("error:  setBtName failed , error code = %x", status);
    emit emitState(1, int(status));
    // A refused name leaves the keyboard as it was, and so the copy kept here.
    if (status == 0)
        std::memcpy(m_btName, payload.constData(), BtNameSize);
    return status;
}

uint32_t Device::getSleepTime()
{
    uint8_t r[64];
    const uint32_t e = request(GroupBt, 0x20, 0, 0, nullptr, DeviceTimeout::Get, r, ReplyFilter(), true);
    if (e == DeviceResult::Timeout)
        qDebug("getSleepTime WK_ERROR_TIMEOUT=%x", e);
    if (e != DeviceResult::Ok)
        return e;
    m_sleepTime = le::u32(r + 8);
    return DeviceResult::Ok;
}

uint32_t Device::setSleepTime(uint32_t ms)
{
    uint8_t payload[4];
    le::put32(payload, ms);
    uint8_t r[64];
    const uint32_t e = request(GroupBt, 0x21, sizeof payload, 0, payload, DeviceTimeout::Bounded, r);
    if (e == DeviceResult::WriteFailed)
        return e;
    if (e != DeviceResult::Ok) {
        // The page still learns that the setting did not take.
        if (e == DeviceResult::Timeout)
            qDebug("setSleepTime WK_ERROR_TIMEOUT=%x", e);
        emit emitState(1, int(e));
        return e;
    }
    qDebug() << "setSleepTime:" << hexDump(r);
    const uint32_t status = le::u32(r + 8);
    if (status != 0)
        qDebug("error:  setSleepTime failed , error code = %x", status);
    emit emitState(1, int(status));
    // A refused time leaves the keyboard as it was, and so the copy kept here.
    if (status != 0)
        return status;
    m_sleepTime = ms;
    // 0 switches sleeping off; the last real value is what the page offers to switch it on again.
    if (ms != 0)
        m_lastSleepTime = ms;
    return status;
}

uint32_t Device::factoryReset()
{
    return getSleepTime();
}

QString Device::boardName() const
{
    const char* name = reinterpret_cast<const char*>(m_devInfo.boardName);
    return QString::fromLocal8Bit(name, int(strnlen(name, sizeof m_devInfo.boardName)));
}

QString Device::versionText() const
{
    return QString::fromLatin1(m_versionText, int(strnlen(m_versionText, sizeof m_versionText)));
}
