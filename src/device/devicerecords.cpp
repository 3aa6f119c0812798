// Key function records (0x40), macros (0x50) and lighting action records (0x60/0x20..0x22).
#include "device.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <algorithm>
#include <cstring>

namespace {
constexpr int ReportSize = 64;
constexpr int ReplyDataAt = 8;
constexpr int MaxReplyData = ReportSize - ReplyDataAt;
constexpr int FramesPerPacket = 5;
constexpr int FrameSize = int(sizeof(mframe_t));
constexpr int ReadPassPauseMs = 50;
constexpr int WritePassPauseMs = 100;
constexpr int ClosingPauseMs = 50;
constexpr uint8_t FrameAckLength = 4;

using FrameArea = std::array<mframe_t, Device::MaxMacroFrames>;
static_assert(sizeof(FrameArea) == Device::MaxMacroFrames * sizeof(mframe_t), "frames lie back to back");

// The frame area as the bytes that go over the wire.
uint8_t* areaBytes(FrameArea& area) { return reinterpret_cast<uint8_t*>(area.data()); }

bool isByteIndex(int index) { return index >= 0 && index <= 0xFF; }

// The bound in all of a transfer of many reports. Each report has its own wait, but a keyboard that
// answers every one just inside it would hold the caller (often the window's thread) for minutes. A
// keyboard at its normal pace answers a report within a few milliseconds; NormalReportMs allows far more
// (a busy machine, the emulator under the sanitizer), the pause after each report is added, and the
// margin comes on top once.
class TransferBound {
public:
    static constexpr int NormalReportMs = 100;
    static constexpr int MarginMs = 5000;

    TransferBound(int reports, int pauseMs, const char* what)
        : m_ms(std::max(0, reports) * (NormalReportMs + pauseMs) + MarginMs), m_deadline(m_ms),
          m_stops(Device::outsideStops()), m_what(what)
    {
    }
    // Ok while the transfer may go on; Stopped once a stop signal came since it began (the signal is
    // served when the caller's thread is back in its event loop), Timeout once the bound has passed.
    uint32_t check() const
    {
        if (Device::outsideStops() != m_stops) {
            qWarning("%s: a stop signal came, not going on", m_what);
            return DeviceResult::Stopped;
        }
        if (m_deadline.hasExpired()) {
            qWarning("%s: not done within %d ms, given up", m_what, m_ms);
            return DeviceResult::Timeout;
        }
        return DeviceResult::Ok;
    }
    // The wait for one report: its own, but never past the bound.
    int wait(int reportMs) const
    {
        return int(std::min<qint64>(reportMs, std::max<qint64>(1, m_deadline.remainingTime())));
    }

private:
    int m_ms;
    QDeadlineTimer m_deadline;
    int m_stops;
    const char* m_what;
};

// Reads records 0..count-1 into the table; the first failure stops the reading and is returned.
template <typename Rec, typename Read>
uint32_t readAll(std::vector<Rec>& table, uint8_t count, Read read, const char* failFormat)
{
    const int n = std::min<int>(count, int(table.size()));
    const TransferBound bound(n, 0, "reading records");
    for (int i = 0; i < n; ++i) {
        uint32_t e = bound.check();
        if (e == DeviceResult::Ok)
            e = read(i, &table[size_t(i)]);
        if (e != DeviceResult::Ok) {
            qWarning(failFormat, i);
            return e;
        }
    }
    return DeviceResult::Ok;
}

// Frames a head announces, never more than the frame area holds.
int framesOf(const km_t& head)
{
    const int n = head.frameCount();
    if (n > Device::MaxMacroFrames) {
        qWarning() << "macro head claims" << n << "frames, using" << Device::MaxMacroFrames;
        return Device::MaxMacroFrames;
    }
    return n;
}
}

uint32_t Device::readRecord(uint8_t group, uint8_t command, int index, uint8_t* dest, int size)
{
    if (!dest || !isByteIndex(index) || size > MaxReplyData)
        return DeviceResult::BadIndex;
    const uint8_t payload = uint8_t(index);
    uint8_t reply[ReportSize] = {};
    const uint32_t e = request(group, command, 1, 0, &payload, DeviceTimeout::Get, reply);
    if (e != DeviceResult::Ok)
        return e;
    // Byte 2 tells a whole record from a reply that carries none.
    if (reply[2] == size)
        std::memcpy(dest, reply + ReplyDataAt, size_t(size));
    return DeviceResult::Ok;
}

// --- key functions ----------------------------------------------------------------------------

uint32_t Device::getKFInfo()
{
    uint8_t reply[ReportSize] = {};
    const uint32_t e = request(0x40, 0x00, 0, 0, nullptr, DeviceTimeout::Get, reply);
    if (e != DeviceResult::Ok)
        return e;
    m_nKFTotalNum = reply[8];
    m_nKFOther = reply[9];
    m_pKFs.assign(m_nKFTotalNum, kf_t{});
    return DeviceResult::Ok;
}

uint32_t Device::getKFItem(int index, kf_t* dest)
{
    return readRecord(0x40, 0x10, index, dest ? dest->bytes : nullptr, sizeof(kf_t));
}

uint32_t Device::getAllKF()
{
    return readAll(m_pKFs, m_nKFTotalNum, [this](int i, kf_t* r) { return getKFItem(i, r); },
                   "get KF item=%d failed");
}

uint32_t Device::setKFItem(const kf_t* record)
{
    if (!record)
        return DeviceResult::BadIndex;
    uint8_t reply[ReportSize] = {};
    const uint32_t e = request(0x40, 0x20, sizeof(kf_t), 0, record->bytes, DeviceTimeout::Bounded, reply);
    if (e == DeviceResult::WriteFailed) {
        qWarning("set KF item: the report could not be written (0x%08x)", e);
        // The notifier may show a box, in whose event loop an unplug deletes this client: it runs from
        // a copy, and nothing of this object is touched after it.
        if (const WriteFailureNotifier notify = m_writeFailureNotifier)
            notify(e);
        return e;
    }
    if (e != DeviceResult::Ok)
        return e;
    const uint32_t status = le::u32(reply + 8);
    if (status != 0)
        qWarning("error:  setKFItem failed , error code = %x", status);
    return status;
}

// --- macro heads and commands -----------------------------------------------------------------

uint32_t Device::getKMInfo()
{
    uint8_t reply[ReportSize] = {};
    const uint32_t e = request(0x50, 0x00, 0, 0, nullptr, DeviceTimeout::Get, reply);
    if (e != DeviceResult::Ok)
        return e;
    m_nKMTotalNum = reply[8];
    m_pKMs.assign(m_nKMTotalNum, km_t{});
    return DeviceResult::Ok;
}

uint32_t Device::getMacroHead(int index, km_t* dest)
{
    return readRecord(0x50, 0x01, index, dest ? dest->bytes : nullptr, sizeof(km_t));
}

uint32_t Device::getAllMacroHead()
{
    return readAll(m_pKMs, m_nKMTotalNum, [this](int i, km_t* r) { return getMacroHead(i, r); },
                   "get KM head=%d failed");
}

uint32_t Device::setMacroHead(const km_t* head)
{
    if (!head)
        return DeviceResult::BadIndex;
    const uint32_t e = statusRequest(0x50, 0x02, sizeof(km_t), head->bytes);
    if (e != DeviceResult::Ok)
        qWarning("error:  setKM Head failed , error code = %x", e);
    return e;
}

uint32_t Device::selectMacro(uint8_t index)
{
    uint8_t reply[ReportSize] = {};
    const uint32_t e = request(0x50, 0x03, 1, 0, &index, DeviceTimeout::Bounded, reply);
    if (e != DeviceResult::Ok)
        return e;
    const uint32_t status = le::u32(reply + 8);
    if (status != 0)
        qWarning("error:  setKM Head failed , error code = %x", status);
    // The keyboard answered, so it knows which macro is meant, whatever its status.
    m_curkm = index;
    return status;
}

uint32_t Device::setRecordMacro(bool on)
{
    qDebug() << "func" << "setRecordMacro";
    const uint8_t payload = on ? 1 : 0;
    return statusRequest(0x50, 0x10, 1, &payload);
}

uint32_t Device::macroCmd20(uint8_t value)
{
    return statusRequest(0x50, 0x20, 1, &value);
}

bool Device::isMacroIndex(int index) const
{
    return index >= 0 && index < m_nKMTotalNum && index < int(m_pKMs.size());
}

uint32_t Device::deleteMacro(int index)
{
    if (!isMacroIndex(index))
        return DeviceResult::BadIndex;
    km_t head{};
    head.setWord0(uint32_t(index) & 0x3F);
    uint32_t status = 0;
    const uint32_t e = sendMacroHead(head, &status);
    // Only an answered request changes the local head.
    if (e == DeviceResult::Ok)
        m_pKMs[size_t(index)] = head;
    return e != DeviceResult::Ok ? e : status;
}

uint32_t Device::setMacroHeadData(int index, const uint8_t name[16])
{
    if (!name || !isMacroIndex(index))
        return DeviceResult::BadIndex;
    km_t head = m_pKMs[size_t(index)];
    std::memcpy(head.bytes + 8, name, 16);
    uint32_t status = 0;
    const uint32_t e = sendMacroHead(head, &status);
    if (e == DeviceResult::Ok)
        m_pKMs[size_t(index)] = head;
    return e != DeviceResult::Ok ? e : status;
}

uint32_t Device::sendMacroHead(const km_t& head, uint32_t* status)
{
    uint8_t reply[ReportSize] = {};
    const uint32_t e = request(0x50, 0x02, sizeof(km_t), 0, head.bytes, DeviceTimeout::Bounded, reply);
    *status = e == DeviceResult::Ok ? le::u32(reply + 8) : 0;
    const uint32_t result = e != DeviceResult::Ok ? e : *status;
    if (result != 0)
        qWarning("error:  setKM Head failed , error code = %x", result);
    return e;
}

// --- macro frames -----------------------------------------------------------------------------

uint32_t Device::readMacroData(int index)
{
    if (!isMacroIndex(index))
        return DeviceResult::BadIndex;
    const uint32_t e = selectMacro(uint8_t(index));
    if (e != DeviceResult::Ok)
        return e; // frames of another macro would be read
    return _readMacro();
}

uint32_t Device::writeMacroData(int index, int count, const mframe_t* frames)
{
    if (!isMacroIndex(index) || count < 0 || count > MaxMacroFrames || (count > 0 && !frames))
        return DeviceResult::BadIndex;
    const uint32_t e = selectMacro(uint8_t(index));
    if (e != DeviceResult::Ok)
        return e;
    const km_t previous = m_pKMs[size_t(index)];
    m_pKMs[size_t(index)].setFrameCount(count);
    m_frames.fill(mframe_t{});
    if (count > 0)
        std::memcpy(m_frames.data(), frames, size_t(count) * sizeof(mframe_t));
    const uint32_t r = _writeMacro();
    // Without the closing packet's acceptance the keyboard keeps its count, and so does the head here.
    if (r != DeviceResult::Ok)
        m_pKMs[size_t(index)] = previous;
    return r;
}

uint32_t Device::_readMacro()
{
    if (m_curkm >= m_pKMs.size())
        return DeviceResult::BadIndex;
    const int n = framesOf(m_pKMs[m_curkm]);
    const int rounds = n / FramesPerPacket;
    const int rest = n % FramesPerPacket;
    m_frames.fill(mframe_t{});
    qDebug() << "read_rounds=" << rounds << "lefts=" << rest;
    const TransferBound bound(rounds + (rest > 0 ? 1 : 0), ReadPassPauseMs, "reading macro frames");

    int f = 0;
    // Asks for `count` frames at f until the reply carries them; pauseMs follows every pass.
    auto readGroup = [&](int count, int pauseMs) -> uint32_t {
        for (int attempt = 0; attempt <= MacroPassRetries; ++attempt) {
            if (const uint32_t past = bound.check())
                return past;
            uint8_t reply[ReportSize] = {};
            const uint32_t e =
                request(0x50, 0x30, 0, uint16_t(f), nullptr, bound.wait(DeviceTimeout::Bounded), reply);
            if (e != DeviceResult::Ok)
                return e;
            const int index = le::u16(reply + 4);
            // A reply for other frames (a late one of an earlier pass) is not copied; the group is asked again.
            const bool match = index == f;
            if (match) {
                const int len = std::min({int(reply[2]), MaxReplyData, count * FrameSize,
                                          (MaxMacroFrames - index) * FrameSize});
                std::memcpy(areaBytes(m_frames) + index * FrameSize, reply + ReplyDataAt, size_t(len));
                qDebug() << "reserve=" << index << "len=" << reply[2];
                for (int i = 0; i < count; ++i) {
                    const uint8_t* fr = m_frames[size_t(index + i)].bytes;
                    qDebug("ts=%d %02x %02x %02x %02x %02x %02x %02x %02x", le::u16(fr), fr[2], fr[3], fr[4],
                           fr[5], fr[6], fr[7], fr[8], fr[9]);
                }
                f = index + count;
            } else {
                qDebug("%x %x %x %x", reply[0], reply[1], reply[2], index);
            }
            if (pauseMs > 0 && !pauseInterruptibly(pauseMs))
                return DeviceResult::Stopped;
            if (match)
                return DeviceResult::Ok;
        }
        qWarning() << "macro frames at" << f << "not delivered";
        return DeviceResult::Timeout;
    };

    for (int round = 0; round < rounds; ++round) {
        const uint32_t e = readGroup(FramesPerPacket, ReadPassPauseMs);
        if (e != DeviceResult::Ok)
            return e;
    }
    if (rest > 0)
        return readGroup(rest, 0);
    return DeviceResult::Ok;
}

uint32_t Device::_writeMacro()
{
    if (m_curkm >= m_pKMs.size())
        return DeviceResult::BadIndex;
    const int n = framesOf(m_pKMs[m_curkm]);
    const int rounds = n / FramesPerPacket;
    const int rest = n % FramesPerPacket;
    qDebug() << "write_rounds=" << rounds << "lefts" << rest;
    // The closing packet counts as one more report.
    const TransferBound bound(rounds + (rest > 0 ? 1 : 0) + 1, WritePassPauseMs, "writing macro frames");

    int e = 0; // first frame the keyboard has not acknowledged
    int f = 0; // first frame of the next packet
    // Sends `count` frames at f until acknowledged; round < 0 marks the last, shorter packet.
    auto writeGroup = [&](int count, int round, int pauseMs) -> uint32_t {
        for (int attempt = 0; attempt <= MacroPassRetries; ++attempt) {
            if (const uint32_t past = bound.check())
                return past;
            uint8_t reply[ReportSize] = {};
            const uint32_t r = request(0x50, 0x40, uint16_t(count * FrameSize), uint16_t(f),
                                       areaBytes(m_frames) + f * FrameSize, bound.wait(DeviceTimeout::Bounded), reply);
            if (r != DeviceResult::Ok) {
                if (r == DeviceResult::WriteFailed && round >= 0)
                    qWarning() << "eeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee";
                return r;
            }
            const int index = le::u16(reply + 4);
            const bool match = reply[2] == FrameAckLength && index == e;
            if (match) {
                e = index + count;
                f = e;
                if (round >= 0)
                    qDebug() << "i=" << round << "reserve=" << f;
            } else {
                qDebug("%x %x %x %x", reply[0], reply[1], reply[2], index);
            }
            if (pauseMs > 0 && !pauseInterruptibly(pauseMs))
                return DeviceResult::Stopped;
            if (match)
                return DeviceResult::Ok;
        }
        qWarning() << "macro frames at" << f << "not acknowledged";
        return DeviceResult::Timeout;
    };

    for (int round = 0; round < rounds; ++round) {
        const uint32_t r = writeGroup(FramesPerPacket, round, WritePassPauseMs);
        if (r != DeviceResult::Ok)
            return r;
    }
    qDebug("reserve1=%d lefts=%d", f, rest);
    if (rest > 0) {
        const uint32_t r = writeGroup(rest, -1, 0);
        if (r != DeviceResult::Ok)
            return r;
    }

    if (!pauseInterruptibly(ClosingPauseMs))
        return DeviceResult::Stopped;
    if (const uint32_t past = bound.check())
        return past;
    uint8_t reply[ReportSize] = {};
    const uint32_t r = request(0x50, 0x40, 0, uint16_t(f), nullptr, bound.wait(DeviceTimeout::Bounded), reply);
    qDebug("reserve=%d", f);
    if (r != DeviceResult::Ok)
        return r;
    // Only an acknowledgement of this very packet (its length and frame count) says the keyboard took
    // the macro; any other reply leaves the count it had, so the write failed.
    const int confirmed = le::u16(reply + 4);
    if (reply[2] != FrameAckLength || confirmed != f) {
        qWarning("macro closing packet not confirmed: length %d, frame %d, %d expected", reply[2], confirmed, f);
        return DeviceResult::WriteFailed;
    }
    return le::u32(reply + 8);
}

// --- lighting actions -------------------------------------------------------------------------

uint32_t Device::getLAInfo()
{
    uint8_t reply[ReportSize] = {};
    const uint32_t e = request(0x60, 0x20, 0, 0, nullptr, DeviceTimeout::Get, reply);
    if (e == DeviceResult::Timeout) {
        // A keyboard without lighting does not answer: no lighting actions and no lighting modes.
        m_nLATotalNum = 0;
        m_pLAs.clear();
        m_nlm = 0;
        m_pLMMs.clear();
        m_nlmm = 0;
        m_curlm = 0;
        return DeviceResult::Ok;
    }
    if (e != DeviceResult::Ok)
        return e;
    m_nLATotalNum = reply[8];
    m_pLAs.assign(m_nLATotalNum, la_t{});
    return DeviceResult::Ok;
}

uint32_t Device::getLAItem(int index, la_t* dest)
{
    return readRecord(0x60, 0x21, index, dest ? dest->bytes : nullptr, sizeof(la_t));
}

uint32_t Device::getAllLA()
{
    return readAll(m_pLAs, m_nLATotalNum, [this](int i, la_t* r) { return getLAItem(i, r); },
                   "get LA item=%d failed");
}

uint32_t Device::setLAItem(const la_t* record)
{
    if (!record)
        return DeviceResult::BadIndex;
    const uint32_t e = statusRequest(0x60, 0x22, sizeof(la_t), record->bytes);
    if (e != DeviceResult::Ok)
        qWarning("error:  setLAItem failed , error code = %x", e);
    return e;
}
