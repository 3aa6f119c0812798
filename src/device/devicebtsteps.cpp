// The Bluetooth module's upgrade steps as requests of the keyboard's Device, and number-to-text helpers.
#include "device.h"

#include "usb.h"

#include <QDebug>
#include <QElapsedTimer>
#include <cstring>

namespace {
constexpr uint8_t GroupBt = 0xB0;
constexpr uint8_t CmdUpgrade = 0xDF;
constexpr uint16_t FrameSize = 56;
constexpr uint16_t ShortFrame = 16; // the switch to the bootloader goes out with this payload length
constexpr uint32_t BlockBytes = 48;
constexpr uint32_t SoftDeviceSkip = 4096; // the SoftDevice image's first bytes stay on the host

// A control frame: [sub, 0, sum, 0, ...]; the sum of a frame that is otherwise zero is the sub-command.
void controlFrame(uint8_t frame[FrameSize], uint8_t sub)
{
    std::memset(frame, 0, FrameSize);
    frame[0] = sub;
    frame[2] = sub;
}

// A data frame of block `block` with n image bytes and 0xFF fill; the sum covers all 56 bytes.
void dataFrame(uint8_t frame[FrameSize], uint8_t sub, uint32_t block, const uint8_t* bytes, uint32_t n)
{
    std::memset(frame, 0xFF, FrameSize);
    frame[0] = sub;
    frame[1] = 0x34;
    frame[2] = 0;
    frame[3] = 0xFF;
    le::put32(frame + 4, block);
    std::memcpy(frame + 8, bytes, qMin(n, BlockBytes));
    frame[2] = uint8_t(byteSum(frame, FrameSize));
}

bool accepts(const uint8_t* r, uint8_t sub)
{
    return r[0] == GroupBt && r[8] == sub && r[9] == 1 && r[12] == 0;
}
}

char hexDigit(uint32_t value)
{
    if (value < 10)
        return char('0' + value);
    if (value < 16)
        return char('A' + value - 10);
    return '0';
}

QString toHexString(uint32_t value)
{
    QString text = QStringLiteral("0x");
    for (int shift = 28; shift >= 0; shift -= 4)
        text += QLatin1Char(hexDigit((value >> shift) & 0xF));
    return text;
}

uint32_t parseDecimal(const QString& text)
{
    int start = text.size();
    while (start > 0 && text.at(start - 1).isDigit() && text.at(start - 1).unicode() < 128)
        --start;
    uint32_t value = 0;
    for (int i = start; i < text.size(); ++i)
        value = value * 10 + uint32_t(text.at(i).unicode() - '0');
    return value;
}

uint32_t hexAsDecimal(uint32_t value) { return parseDecimal(toHexString(value)); }

uint32_t Device::appBoot() { return _bt_app_boot(); }

uint32_t Device::btStep(uint8_t sub, uint16_t length, const char* label, uint8_t reply[64])
{
    uint8_t frame[FrameSize];
    controlFrame(frame, sub);
    // Only a reply naming this step answers it: an upload frame's acknowledgement left over (a doubled
    // one) is dropped by the core, logged, and the wait goes on. A rejection of an image frame that
    // comes while the switch to the application waits answers it, though: the image failed, and the
    // step's caller tells that frame's error.
    const bool afterImage = sub == 0x85;
    const ReplyFilter answers = [sub, afterImage](const uint8_t* r) {
        const bool imageFrame = r[8] >= 0x81 && r[8] <= 0x84;
        return r[8] == sub || (afterImage && imageFrame && !(r[9] == 1 && r[12] == 0));
    };
    const uint32_t e = request(GroupBt, CmdUpgrade, length, 0, frame, UpgradeTimeout::BtStep, reply, answers);
    if (e != DeviceResult::Ok)
        return e;
    // Through the log, so it is bounded as the log is.
    qDebug() << label << QByteArray(reinterpret_cast<const char*>(reply), 64).toHex().constData();
    return DeviceResult::Ok;
}

uint32_t Device::_bt_app_boot()
{
    uint8_t r[64];
    const uint32_t e = btStep(0x08, ShortFrame, "app_boot:", r);
    if (e == DeviceResult::Timeout) {
        emit UpdateError(-1, BtUpgradeError::NoReply);
        qDebug("WK_ERROR_TIMEOUT= %x _bt_app_boot", e);
        return e;
    }
    if (e == DeviceResult::WriteFailed)
        emit UpdateError(0x08, BtUpgradeError::WriteFailed);
    if (e != DeviceResult::Ok)
        return e;
    if (!accepts(r, 0x08)) {
        emit UpdateError(r[8], r[12]);
        return DeviceResult::WriteFailed;
    }
    return DeviceResult::Ok;
}

uint32_t Device::_bt_boot_app()
{
    qDebug() << "_bt_boot_app";
    uint8_t r[64];
    const uint32_t e = btStep(0x85, FrameSize, "App_boot:", r);
    if (e == DeviceResult::Timeout) {
        qDebug("WK_ERROR_TIMEOUT= %x _bt_boot_app", e);
        emit UpdateError(-1, BtUpgradeError::NoReply);
        return e;
    }
    if (e == DeviceResult::WriteFailed)
        emit UpdateError(0x85, BtUpgradeError::WriteFailed);
    if (e != DeviceResult::Ok)
        return e;
    if (!accepts(r, 0x85)) {
        emit UpdateError(r[8], r[12]);
        return DeviceResult::WriteFailed;
    }
    return DeviceResult::Ok;
}

uint32_t Device::_bt_erase_app()
{
    uint8_t r[64];
    const uint32_t e = btStep(0x81, FrameSize, "erase_app:", r);
    if (e == DeviceResult::Timeout)
        qDebug() << "WK_ERROR_TIMEOUT=" << Qt::hex << e << "_bt_erase_app";
    if (e != DeviceResult::Ok)
        return e;
    return accepts(r, 0x81) ? DeviceResult::Ok : DeviceResult::BtEraseRejected;
}

uint32_t Device::_bt_erase_sd_boot()
{
    uint8_t r[64];
    const uint32_t e = btStep(0x82, ShortFrame, "erase_sd:", r);
    if (e != DeviceResult::Ok)
        return e;
    return r[8] == 0x82 && r[9] == 1 && r[12] == 0 ? DeviceResult::Ok : DeviceResult::WriteFailed;
}

uint32_t Device::bt_erase_app_nowait()
{
    uint8_t frame[FrameSize];
    controlFrame(frame, 0x81);
    return sendPacket(GroupBt, CmdUpgrade, FrameSize, 0, frame);
}

uint32_t Device::bt_erase_sd_nowait()
{
    uint8_t frame[FrameSize];
    controlFrame(frame, 0x82);
    return sendPacket(GroupBt, CmdUpgrade, FrameSize, 0, frame);
}

uint32_t Device::dfuStartBtUpdateFW(uint8_t* image, int size)
{
    m_btImage = image;
    m_btFileSize = image && size > 0 ? uint32_t(size) : 0;
    m_btSendByte = 0;
    m_btBlock = 1;
    qDebug() << "bt file size" << m_btFileSize;
    return DeviceResult::Ok;
}

// One data frame as a request. count receives the image bytes it carried.
uint32_t Device::btBlock(uint8_t sub, const uint8_t* image, uint32_t size, uint32_t pos, uint32_t block,
                         uint8_t reply[64], uint32_t* count)
{
    const uint32_t n = qMin(size - pos, BlockBytes);
    *count = n;
    uint8_t frame[FrameSize];
    dataFrame(frame, sub, block, image + pos, n);
    const uint32_t e = request(GroupBt, CmdUpgrade, FrameSize, 0, frame, UpgradeTimeout::BtStep, reply, ReplyFilter(),
                               true);
    if (e == DeviceResult::Timeout)
        qDebug() << "WK_ERROR_TIMEOUT=" << Qt::hex << e << "_bt_bin_data";
    return e;
}

uint32_t Device::_bt_app_bin_data()
{
    QElapsedTimer clock;
    clock.start();
    qDebug() << "app_bin=" << m_btFileSize << m_btSendByte << m_btFileSize;
    int rejections = 0;
    while (m_btSendByte < m_btFileSize) {
        uint8_t r[64];
        uint32_t n = 0;
        const uint32_t e = btBlock(0x83, m_btImage, m_btFileSize, m_btSendByte, m_btBlock, r, &n);
        if (e != DeviceResult::Ok)
            return e;
        // Blocks are counted, not logged one by one: the line at the end says how many went.
        if (!accepts(r, 0x83)) {
            // The module expects the same block again: resend it under its own number, a few times.
            if (++rejections > BtUpgradeError::BlockRetries)
                return DeviceResult::WriteFailed;
            continue;
        }
        rejections = 0;
        m_btSendByte += n;
        m_btBlock += 1;
    }
    if (m_btSendByte > m_btFileSize)
        return DeviceResult::WriteFailed;
    qDebug() << "dfu success....";
    // The module's application did not start (or a block was rejected after all): no success.
    const uint32_t booted = _bt_boot_app();
    if (booted != DeviceResult::Ok)
        return booted;
    const qint64 s = clock.elapsed() / 1000;
    qInfo() << "升级完成=" << m_btBlock;
    qDebug() << "发送总耗时：" << s / 60 << "分" << s % 60 << "秒";
    emit emitUpdateDfuFinished();
    return DeviceResult::Ok;
}

uint32_t Device::_bt_sd_bin_data()
{
    if (m_btFileSize < SoftDeviceSkip)
        return DeviceResult::WriteFailed;
    while (m_btSendByte + SoftDeviceSkip < m_btFileSize) {
        uint8_t r[64];
        uint32_t n = 0;
        const uint32_t e = btBlock(0x84, m_btImage, m_btFileSize, m_btSendByte + SoftDeviceSkip, m_btBlock, r, &n);
        if (e != DeviceResult::Ok)
            return e;
        if (!accepts(r, 0x84))
            return DeviceResult::WriteFailed;
        m_btSendByte += n;
        m_btBlock += 1;
    }
    qDebug() << "dfu success....";
    qInfo() << "升级完成=" << m_btBlock;
    emit emitUpdateDfuFinished();
    return DeviceResult::Ok;
}

uint32_t Device::bt_app_bin_data()
{
    if (m_dfuSendByte > m_dfuFileSize)
        return DeviceResult::WriteFailed;
    if (m_dfuSendByte == m_dfuFileSize) {
        qDebug() << "dfu success....";
        qDebug() << "升级完成=" << m_btBlock;
        emit emitUpdateDfuFinished();
        return DeviceResult::Ok;
    }
    const uint32_t n = qMin(m_dfuFileSize - m_dfuSendByte, BlockBytes);
    uint8_t frame[FrameSize];
    dataFrame(frame, 0x83, m_btBlock, m_dfuImage + m_dfuSendByte, n);
    m_dfuSendByte += n;
    m_btBlock += 1;
    return sendPacket(GroupBt, CmdUpgrade, FrameSize, 0, frame);
}
