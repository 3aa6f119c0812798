// Upload of the USB controller's application to its bootloader, in acknowledged 64-byte ISP packets.
#include "device.h"

#include "usb.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QThread>
#include <cstring>

namespace {
constexpr uint32_t CmdSyncPackno = 0xA4;
constexpr uint32_t CmdUpdateAprom = 0xA0;
constexpr uint32_t CmdWriteFlash = 0x00;
constexpr uint32_t CmdRunAprom = 0xAB;
constexpr uint32_t FirstDataBytes = 48; // image bytes in the update packet
constexpr uint32_t DataBytes = 56;      // image bytes in a write packet

qint64 nowMs() { return QDeadlineTimer::current().deadline(); }
}

uint32_t byteSum(const uint8_t* buffer, uint16_t length)
{
    uint32_t sum = 0;
    for (uint16_t i = 0; buffer && i < length; ++i)
        sum += buffer[i];
    return sum;
}

bool Device::dfuOpen(Usb* usb)
{
    if (!usb)
        return false;
    return usb->open() >= 0;
}

void Device::setDfuAckTimeouts(int ackMs, int eraseAckMs)
{
    m_dfuAckMs = qMax(1, ackMs);
    m_dfuEraseAckMs = qMax(1, eraseAckMs);
}

uint32_t Device::dfuStartUpdateFW(uint8_t* image, int size)
{
    m_dfuChecksum = 0;
    m_dfuPackNo = 1;
    m_dfuSendByte = 0;
    m_dfuStartAddr = 0;
    m_dfuImage = image;
    m_dfuFileSize = image && size > 0 ? uint32_t(size) : 0;
    m_dfuOutcome = DfuRunning;
    m_dfuPackets = 0;
    m_dfuPace.stop();
    qDebug() << __LINE__ << "dfu Send Sync Packno";
    dfuSyncPackno();
    return DeviceResult::Ok;
}

uint32_t Device::dfuUSBWrite(uint8_t* packet, int length)
{
    if (!m_usb || !packet || length < 0 || m_usb->write(packet, uint16_t(qMin(length, 64))) != 0) {
        qDebug() << __LINE__ << "USB write error.";
        return DeviceResult::WriteFailed;
    }
    return DeviceResult::Ok;
}

// Numbers, sums and writes one packet. The acknowledgement's deadline is set before the write:
// the reply may be read before the write call has returned.
uint32_t Device::dfuWritePacket(uint8_t packet[64], uint32_t command, int ackMs)
{
    le::put32(packet, command);
    le::put32(packet + 4, m_dfuPackNo);
    m_dfuPackNo += 1;
    m_dfuChecksum = uint16_t(byteSum(packet, 64));
    m_dfuLastCmd = command;
    m_dfuDeadline = command == CmdRunAprom ? 0 : nowMs() + ackMs;
    const uint32_t e = dfuUSBWrite(packet, 64);
    if (e == DeviceResult::Ok)
        ++m_dfuPackets;
    if (e != DeviceResult::Ok)
        m_dfuDeadline = 0;
    return e;
}

void Device::dfuEnd(DfuOutcome outcome)
{
    int running = DfuRunning;
    if (!m_dfuOutcome.compare_exchange_strong(running, outcome))
        return; // the upload already ended: one signal only
    m_dfuDeadline = 0;
    m_dfuPace.stop();
    // The packets are counted, not logged one by one: this is the upload's one line.
    qInfo("USB upload %s: %u packets written, %u of %u image bytes sent",
          outcome == DfuFinished ? "finished" : "failed", m_dfuPackets.load(), m_dfuSendByte, m_dfuFileSize);
    if (outcome == DfuFinished)
        emit emitUpdateDfuFinished();
    else
        emit emitStopDfu();
}

uint32_t Device::dfuSyncPackno()
{
    uint8_t packet[64] = {};
    le::put32(packet + 8, m_dfuPackNo);
    const uint32_t e = dfuWritePacket(packet, CmdSyncPackno, m_dfuAckMs);
    if (e != DeviceResult::Ok)
        dfuEnd(DfuFailed); // written from the GUI thread: the read loop sees the end and returns
    return e;
}

uint32_t Device::dfuSendUpdateAPROM()
{
    uint8_t packet[64] = {};
    le::put32(packet + 8, m_dfuStartAddr);
    le::put32(packet + 12, m_dfuFileSize);
    const uint32_t n = qMin(m_dfuFileSize, FirstDataBytes);
    if (n > 0)
        std::memcpy(packet + 16, m_dfuImage, n);
    m_dfuSendByte = n;
    const uint32_t e = dfuWritePacket(packet, CmdUpdateAprom, m_dfuEraseAckMs);
    if (e != DeviceResult::Ok) {
        qDebug() << "sendUpdateAPROM write usb failed.....";
        dfuEnd(DfuFailed);
    }
    return e;
}

uint32_t Device::dfuSendFWData()
{
    if (m_dfuSendByte > m_dfuFileSize)
        return DeviceResult::Ok;
    if (m_dfuSendByte == m_dfuFileSize) {
        qDebug() << __LINE__ << "dfu success....";
        if (dfuRunAPROM() != DeviceResult::Ok) {
            // The bootloader did not take the run command: it stays in place, so this is no success.
            dfuEnd(DfuFailed);
            return DeviceResult::WriteFailed;
        }
        dfuEnd(DfuFinished);
        return DeviceResult::Ok;
    }
    uint8_t packet[64] = {};
    const uint32_t n = qMin(m_dfuFileSize - m_dfuSendByte, DataBytes);
    std::memcpy(packet + 8, m_dfuImage + m_dfuSendByte, n);
    m_dfuSendByte += n;
    const uint32_t e = dfuWritePacket(packet, CmdWriteFlash, m_dfuAckMs);
    if (e != DeviceResult::Ok)
        qDebug() << "sendUpdateAPROM write usb failed, and m_dfuSendByte=" << m_dfuSendByte
                 << "m_dfuFileSize=" << m_dfuFileSize;
    emit SendByteUpdateProgress(int(m_dfuSendByte));
    if (e != DeviceResult::Ok)
        dfuEnd(DfuFailed);
    return e;
}

uint32_t Device::dfuRunAPROM()
{
    uint8_t packet[64] = {};
    return dfuWritePacket(packet, CmdRunAprom, 0);
}

uint32_t Device::onDfuReceiveCmd(uint8_t* reply, int length)
{
    if (!reply || length < 8 || m_dfuOutcome != DfuRunning)
        return DeviceResult::Ok;
    const uint32_t last = m_dfuLastCmd;
    if (last != CmdSyncPackno && last != CmdUpdateAprom && last != CmdWriteFlash)
        return DeviceResult::Ok;
    if (le::u16(reply) != m_dfuChecksum || le::u32(reply + 4) != m_dfuPackNo)
        return DeviceResult::Ok; // not this packet's acknowledgement: the deadline keeps running
    m_dfuPackNo += 1;
    if (last == CmdSyncPackno) {
        qDebug() << "CMD_SYNC_PACKNO";
        dfuSendUpdateAPROM();
    } else {
        if (last == CmdUpdateAprom)
            qDebug() << "CMD_UPDATE_APROM";
        // The data packets are paced from the first one on; the erase before it has its own wait.
        if (last == CmdUpdateAprom)
            m_dfuPace.start(nowMs());
        else
            m_dfuPace.acknowledged(nowMs());
        dfuSendFWData();
    }
    return DeviceResult::Ok;
}

bool Device::dfuStopRequested() const
{
    return m_stop || QThread::currentThread()->isInterruptionRequested();
}

void Device::readDFUUsbSlot()
{
    qDebug() << "device thread ID: " << reinterpret_cast<quintptr>(QThread::currentThreadId());
    uint8_t buffer[65];
    while (m_dfuOutcome == DfuRunning && !dfuStopRequested()) {
        // Before the sync packet there is no deadline; reads still come in slices to see a stop.
        const qint64 ackDeadline = m_dfuDeadline;
        const qint64 paceDeadline = m_dfuPace.deadline();
        const qint64 deadline = ackDeadline == 0 || paceDeadline == 0 ? qMax(ackDeadline, paceDeadline)
                                                                      : qMin(ackDeadline, paceDeadline);
        int slice = UpgradeTimeout::ReadSlice;
        if (deadline != 0) {
            const qint64 now = nowMs();
            const qint64 left = deadline - now;
            if (left <= 0) {
                if (paceDeadline != 0 && paceDeadline <= now)
                    qWarning().noquote() << "DFU upload too slow, given up:" << m_dfuPace.describe(now);
                else
                    qDebug() << "DFU acknowledgement timed out, last command" << m_dfuLastCmd.load();
                dfuEnd(DfuFailed);
                break;
            }
            slice = int(qMin<qint64>(slice, left));
        }
        std::memset(buffer, 0, sizeof buffer);
        const int n = m_usb ? m_usb->read_timeout(buffer, sizeof buffer, slice) : -1;
        if (n < 0) {
            qDebug() << __LINE__ << "Read DFU USB error.";
            dfuEnd(DfuFailed);
            break;
        }
        if (n > 0)
            onDfuReceiveCmd(buffer, n);
    }
}
