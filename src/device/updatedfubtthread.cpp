#include "updatedfubtthread.h"

#include "commandreport.h"
#include "device.h"
#include "usb.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <cstring>

namespace {
constexpr uint8_t GroupBt = 0xB0;
constexpr uint8_t CmdUpgrade = 0xDF;
constexpr uint16_t FrameSize = 56;
constexpr uint32_t BlockBytes = 48;
constexpr uint32_t SoftDeviceSkip = 0x1000; // the SoftDevice image's first 4096 bytes stay on the host
constexpr int IdlePauseMs = 10;
constexpr int MaxDropped = 64; // the most reports a HID queue holds

qint64 nowMs() { return QDeadlineTimer::current().deadline(); }
}

updateDFUBtThread::updateDFUBtThread(QObject* parent)
    : QThread(parent), m_ackMs(UpgradeTimeout::Ack), m_eraseAckMs(UpgradeTimeout::EraseAck)
{
    connect(this, &updateDFUBtThread::app_bin, this, &updateDFUBtThread::bt_app_bin_data,
            Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection));
    connect(this, &updateDFUBtThread::sd_bin, this, &updateDFUBtThread::bt_sd_bin_data,
            Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection));
}

updateDFUBtThread::~updateDFUBtThread()
{
    stop();
    wait();
}

void updateDFUBtThread::setImage(const uint8_t* image, uint32_t size)
{
    m_deadline = 0;
    m_outstanding = 0;
    m_settling = false;
    m_pace.stop();
    m_image = image;
    m_size = image ? size : 0;
    m_sent = 0;
    m_block = 1;
    m_acks = 0;
    m_extraAcks = 0;
    m_framesWritten = 0;
    m_ignoredReports = 0;
}

void updateDFUBtThread::setRunning(bool on)
{
    if (!on && m_running && (m_framesWritten > 0 || m_ignoredReports > 0))
        qInfo("Bluetooth upload of an image ended: %d frames written for %u bytes, %d reports ignored",
              m_framesWritten.load(), m_size, m_ignoredReports.load());
    if (!on) {
        m_settling = false;
        m_deadline = 0;
        m_outstanding = 0;
        m_pace.stop();
    }
    m_running = on;
}

void updateDFUBtThread::setAckTimeouts(int ackMs, int eraseAckMs)
{
    m_ackMs = qMax(1, ackMs);
    m_eraseAckMs = qMax(1, eraseAckMs);
}

void updateDFUBtThread::stop()
{
    requestInterruption();
    setRunning(false);
}

int updateDFUBtThread::sendPacket(uint8_t group, uint8_t command, uint16_t length, uint16_t offset,
                                  const uint8_t* payload)
{
    uint8_t report[CommandReportSize];
    buildCommandReport(report, group, command, length, offset, payload);
    return m_usb && m_usb->write(report, sizeof report) == 0 ? 0 : -1;
}

void updateDFUBtThread::fail(int step, int code)
{
    setRunning(false);
    emit UpdateError(step, code);
}

int updateDFUBtThread::writeFrame(const uint8_t* frame, int ackMs)
{
    // The deadline first: the acknowledgement may be read before the write call returns.
    m_outstanding = frame[0];
    m_deadline = nowMs() + ackMs;
    ++m_framesWritten;
    return sendPacket(GroupBt, CmdUpgrade, FrameSize, 0, frame);
}

uint32_t updateDFUBtThread::bt_erase_app_com()
{
    if (m_size == 0) {
        qDebug() << "bt_erase_app_com: empty application image, nothing sent";
        fail(0x81, BtUpgradeError::BadImage);
        return DeviceResult::WriteFailed;
    }
    qDebug() << "emit bt_erase_app_com()" << (m_running ? "true" : "false");
    m_dataSub = 0x83;
    uint8_t frame[FrameSize] = {0x81, 0, 0x81};
    const int e = writeFrame(frame, m_eraseAckMs);
    if (e != 0)
        fail(0x81, BtUpgradeError::WriteFailed);
    return uint32_t(e);
}

uint32_t updateDFUBtThread::bt_erase_sd_com()
{
    if (m_size < SoftDeviceSkip) {
        qDebug() << "bt_erase_sd_com: SoftDevice image of" << m_size << "bytes is shorter than"
                 << SoftDeviceSkip << ", nothing sent";
        fail(0x82, BtUpgradeError::BadImage);
        return DeviceResult::WriteFailed;
    }
    qDebug() << "bt_erase_sd_com";
    m_dataSub = 0x84;
    uint8_t frame[FrameSize] = {0x82, 0, 0x82};
    const int e = writeFrame(frame, m_eraseAckMs);
    if (e != 0)
        fail(0x82, BtUpgradeError::WriteFailed);
    return uint32_t(e);
}

uint32_t updateDFUBtThread::bt_boot_app()
{
    qDebug() << "bt_boot_app";
    uint8_t frame[FrameSize] = {0x85, 0, 0x85};
    const int e = writeFrame(frame, m_ackMs);
    if (e != 0)
        fail(0x85, BtUpgradeError::WriteFailed);
    return uint32_t(e);
}

int updateDFUBtThread::sendBlock(uint8_t sub, uint32_t pos)
{
    const uint32_t n = qMin(m_size - pos, BlockBytes);
    uint8_t frame[FrameSize];
    std::memset(frame, 0xFF, sizeof frame);
    frame[0] = sub;
    frame[1] = 0x34; // a full block's size, also on the last one
    frame[2] = 0;
    frame[3] = 0xFF;
    le::put32(frame + 4, m_block);
    std::memcpy(frame + 8, m_image + pos, n);
    frame[2] = uint8_t(byteSum(frame, FrameSize));
    m_sent += n;
    const int e = writeFrame(frame, m_ackMs);
    const bool sd = sub == 0x84;
    if (e != 0)
        qDebug() << (sd ? "bt_sd_bin_data write usb failed, and BtSendByte=" : "bt_app_bin_data write usb failed, and BtSendByte=")
                 << (sd ? m_sent + SoftDeviceSkip : m_sent) << "BtFileSize=" << m_size;
    emit SendByteUpdateProgress(int(sd ? m_sent + SoftDeviceSkip : m_sent));
    m_block += 1;
    if (e != 0)
        fail(sub, BtUpgradeError::WriteFailed);
    return e;
}

void updateDFUBtThread::bt_app_bin_data()
{
    if (m_sent == m_size) {
        qDebug() << __LINE__ << "dfu success....";
        endImage();
    } else if (m_sent > m_size) {
        qDebug() << "dfu err app==" << m_sent;
    } else {
        sendBlock(0x83, m_sent);
    }
}

uint32_t updateDFUBtThread::bt_sd_bin_data()
{
    const uint64_t pos = uint64_t(m_sent) + SoftDeviceSkip;
    if (pos == m_size) {
        qDebug() << __LINE__ << "dfu sd success....";
        endImage();
    } else if (pos > m_size) {
        qDebug() << "dfu err sd==" << m_sent;
    } else {
        return uint32_t(sendBlock(0x84, uint32_t(pos)));
    }
    return 0;
}

void updateDFUBtThread::endImage()
{
    // The reply names no block: an acknowledgement the module doubled, and that came after the next
    // frame went out, counts for that frame, and the last frame's own (a rejection, perhaps) is then
    // still on its way when the count is complete. It can only be taken for another data frame's, so
    // with two of them or more the image ends once the last frame's deadline has passed.
    const uint32_t dataFrames = m_block - 1;
    if (dataFrames < 2 || m_lastFrameDeadline == 0) {
        finishImage();
        return;
    }
    m_pace.stop();
    m_settling = true;
    m_outstanding = m_dataSub.load();
    m_deadline = m_lastFrameDeadline;
}

void updateDFUBtThread::finishImage()
{
    qDebug("image of %u frames ended: %u acknowledgements taken, %u more ignored", unsigned(m_block),
           unsigned(m_acks), unsigned(m_extraAcks));
    setRunning(false);
    emit emitUpdateDfuFinished();
}

void updateDFUBtThread::ErrorMessage(uint8_t* report, int length)
{
    if (report && length >= 13 && report[0] == GroupBt) {
        qDebug("ErrorMessage %02x", report[12]);
        emit UpdateError(report[8], report[12]);
    } else {
        qDebug() << "unknown error";
        emit UpdateError(-1, BtUpgradeError::ForeignReport);
    }
}

bool updateDFUBtThread::dropWaitingReports()
{
    uint8_t buffer[65];
    for (int i = 0; i < MaxDropped && m_usb; ++i) {
        std::memset(buffer, 0, sizeof buffer);
        const int n = m_usb->read_timeout(buffer, sizeof buffer, 0);
        if (n <= 0)
            return true; // a failed read fails again in the loop, which tells it
        if (n >= 13 && buffer[0] == GroupBt) {
            // Whichever frame a rejection answers, the image failed: it is never dropped.
            if (buffer[9] != 1 || buffer[12] != 0) {
                setRunning(false);
                ErrorMessage(buffer, n);
                return false;
            }
            ++m_extraAcks;
        }
        if (logIgnored())
            qDebug("report %02x %02x %02x, status %02x, came before the next frame went out: ignored", buffer[0],
                   buffer[8], buffer[9], buffer[12]);
    }
    return true;
}

bool updateDFUBtThread::acknowledges(const uint8_t* report, int length, uint8_t frame)
{
    const bool upgradeReply = length >= 13 && report[0] == GroupBt;
    const bool success = upgradeReply && report[9] == 1 && report[12] == 0;
    if (upgradeReply && report[8] == frame && success)
        return true;
    if (upgradeReply && report[8] != frame && success) {
        if (report[8] == m_lastAccepted) { // the frame before, acknowledged once more
            ++m_extraAcks;
            if (logIgnored())
                qDebug("acknowledgement of frame %02x again while %02x is in flight: ignored", report[8], frame);
            return false;
        }
        // The module says it took another frame than the one sent: nothing after it can be trusted.
        qWarning("acknowledgement of frame %02x names %02x: rejected", frame, report[8]);
        fail(frame, BtUpgradeError::OtherFrame);
        return false;
    }
    setRunning(false);
    ErrorMessage(const_cast<uint8_t*>(report), length);
    qDebug() << "CMD_UPDATE_BT_APP00000000000000000";
    return false;
}

uint32_t updateDFUBtThread::DfuReceiveCmd(uint8_t* report, int length)
{
    if (!report || length < 1)
        return 0;
    // A key press or lock state is no answer to the frame: the wait goes on, its deadline unchanged.
    if (report[0] == 0xF0)
        return 0;
    const uint8_t frame = m_outstanding;
    if (frame == 0) {
        if (logIgnored())
            qDebug("report %02x %02x while no frame is in flight: ignored", report[0], length >= 9 ? report[8] : 0);
        return 0;
    }
    if (m_settling) {
        // The image is complete by the count; one more acknowledgement is a doubled one, a rejection
        // still fails it (acknowledges tells that).
        if (acknowledges(report, length, frame))
            ++m_extraAcks; // counted, and told once as the image ends
        return 0;
    }
    if (!acknowledges(report, length, frame))
        return 0;
    m_lastFrameDeadline = m_deadline;
    m_deadline = 0;
    m_outstanding = 0;
    m_lastAccepted = frame;
    ++m_acks;
    if (!dropWaitingReports())
        return 0;
    if (frame == 0x85) {
        setRunning(false);
        return 0;
    }
    // The data frames are paced from the first one on; the erase before them has its own wait.
    if (frame == 0x81 || frame == 0x82)
        m_pace.start(nowMs());
    else
        m_pace.acknowledged(nowMs());
    // The next frame follows the image being sent, whatever the acknowledgement named.
    if (m_dataSub == 0x84)
        emit sd_bin();
    else
        emit app_bin();
    return 0;
}

void updateDFUBtThread::run()
{
    qDebug() << "updateDFUBtThread thread ID: " << reinterpret_cast<quintptr>(QThread::currentThreadId());
    uint8_t buffer[65];
    while (!isInterruptionRequested()) {
        if (!m_running) {
            QThread::msleep(IdlePauseMs);
            continue;
        }
        // Before the erase frame of an image there is no deadline; reads still come in slices.
        const qint64 frameDeadline = m_deadline;
        const qint64 paceDeadline = m_pace.deadline();
        const qint64 deadline = frameDeadline == 0 || paceDeadline == 0 ? qMax(frameDeadline, paceDeadline)
                                                                        : qMin(frameDeadline, paceDeadline);
        int slice = UpgradeTimeout::ReadSlice;
        if (deadline != 0) {
            const qint64 now = nowMs();
            const qint64 left = deadline - now;
            if (left <= 0) {
                if (m_settling) { // no frame's acknowledgement is owed any more
                    finishImage();
                    continue;
                }
                if (paceDeadline != 0 && paceDeadline <= now)
                    qWarning().noquote() << "Bluetooth upload too slow, given up:" << m_pace.describe(now);
                else
                    qDebug("no acknowledgement of frame %02x in time", unsigned(m_outstanding.load()));
                fail(-1, BtUpgradeError::NoReply);
                continue;
            }
            slice = int(qMin<qint64>(slice, left));
        }
        std::memset(buffer, 0, sizeof buffer);
        const int n = m_usb ? m_usb->read_timeout(buffer, sizeof buffer, slice) : -1;
        if (n < 0) {
            qDebug() << __LINE__ << "Read DFU USB error.";
            setRunning(false);
            emit emitStopDfu();
            return;
        }
        if (n > 0 && m_running)
            DfuReceiveCmd(buffer, n);
    }
}
