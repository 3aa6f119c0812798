#include "macrocodec.h"

#include <QDebug>
#include <algorithm>
#include <cstring>

namespace macrocodec {

namespace {

constexpr uint16_t FirstModifier = 0xE0;
constexpr int ModifierBits = 8;
constexpr int SlotsAt = 2; // key slots within the 8-byte report

bool holds(const uint8_t report[8], uint8_t code)
{
    const uint8_t* keySlots = report + SlotsAt;
    return std::find(keySlots, keySlots + mframe_t::KeySlots, code) != keySlots + mframe_t::KeySlots;
}

DataKey* keyEvent(int status, uint16_t code, uint16_t delay)
{
    auto* e = new DataKey(status);
    e->delay = delay;
    e->code = code;
    e->type = 1;
    e->stype = 0;
    return e;
}

// Keys of `report` missing from `previous` (presses) or the reverse (releases), in slot order.
template <typename Add>
void keyChanges(const uint8_t previous[8], const uint8_t report[8], Add add)
{
    for (int i = 0; i < mframe_t::KeySlots; ++i) {
        const uint8_t code = previous[SlotsAt + i];
        if (code != 0 && !holds(report, code))
            add(0, code);
    }
    for (int i = 0; i < mframe_t::KeySlots; ++i) {
        const uint8_t code = report[SlotsAt + i];
        if (code != 0 && !holds(previous, code))
            add(1, code);
    }
}

void logFrame(const char* format, int index, const mframe_t& f)
{
    const uint8_t* r = f.report();
    qDebug(format, index, f.timestamp(), r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
}

} // namespace

void updateKeyboardReport(const DataKey* event, mframe_t* frame)
{
    if (!event || !frame)
        return;
    uint8_t* keySlots = frame->report() + SlotsAt;
    if (event->code >= FirstModifier) {
        // Codes whose bit lies above 7 have no place in the modifier byte.
        const unsigned bit = event->code % 32;
        if (bit < ModifierBits) {
            const uint8_t mask = uint8_t(1u << bit);
            frame->setModifiers(event->status != 0 ? frame->modifiers() | mask : frame->modifiers() & ~mask);
        }
        return;
    }
    const uint8_t code = uint8_t(event->code);
    if (event->status == 0) {
        if (code != 0)
            std::replace(keySlots, keySlots + mframe_t::KeySlots, code, uint8_t(0));
        return;
    }
    if (code == 0 || holds(frame->report(), code))
        return;
    uint8_t* empty = std::find(keySlots, keySlots + mframe_t::KeySlots, uint8_t(0));
    if (empty != keySlots + mframe_t::KeySlots) // a seventh key is dropped
        *empty = code;
}

uint32_t encodeFrames(const QVector<const DataKey*>& events, mframe_t* frames, int capacity, uint32_t* needed)
{
    capacity = frames ? std::max(capacity, 0) : 0;
    mframe_t current{};
    int index = -1;
    for (const DataKey* e : events) {
        if (!e)
            continue;
        if (index < 0) {
            index = 0;
            current.setTimestamp(e->delay);
        } else if (e->delay != 0) {
            ++index; // the new frame starts from the report so far
            current.setTimestamp(e->delay);
        }
        if (e->changesReport())
            updateKeyboardReport(e, &current);
        if (index < capacity)
            frames[index] = current;
        logFrame("indey=%04d ts=%08d [%02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x]", index, current);
    }
    const int count = index + 1;
    if (needed)
        *needed = uint32_t(count);
    if (count == 0)
        return 0;
    qDebug("fi=%d", index);
    return uint32_t(std::min(count, capacity));
}

void decodeFrames(int count, const mframe_t* frames, QVector<DataKey*>* out)
{
    if (count < 1 || !frames || !out)
        return;
    if (count > MaxFrames) {
        qWarning("macro of %d frames: decoding the first %d", count, MaxFrames);
        count = MaxFrames;
    }
    uint8_t previous[mframe_t::ReportSize] = {};
    for (int k = 0; k < count; ++k) {
        const mframe_t& frame = frames[k];
        const uint8_t* report = frame.report();
        logFrame("index=%04d ts=%08d [%02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x]", k, frame);
        uint16_t delay = frame.timestamp(); // only the frame's first event waits
        auto add = [&](int status, uint16_t code) {
            out->append(keyEvent(status, code, delay));
            delay = 0;
        };
        if (report[0] != previous[0]) {
            for (int bit = 0; bit < ModifierBits; ++bit) {
                const bool now = (report[0] >> bit) & 1, before = (previous[0] >> bit) & 1;
                if (now != before)
                    add(now ? 1 : 0, uint16_t(FirstModifier + bit));
            }
        }
        keyChanges(previous, report, add);
        std::memcpy(previous, report, sizeof previous);
    }
}

void decodeLiveFrame(const uint8_t* frame10, uint8_t previous[8], QVector<DataKey*>* out)
{
    if (!frame10 || !previous || !out)
        return;
    mframe_t frame;
    std::memcpy(frame.bytes, frame10, sizeof frame.bytes);
    const uint8_t* report = frame.report();
    const uint16_t ts = frame.timestamp();
    qDebug("RECV ts=%08d [%02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x]", ts, report[0], report[1], report[2], report[3],
           report[4], report[5], report[6], report[7]);
    if (report[0] != previous[0]) {
        // Every modifier event carries the frame's time stamp.
        for (int bit = 0; bit < ModifierBits; ++bit) {
            const bool now = (report[0] >> bit) & 1, before = (previous[0] >> bit) & 1;
            if (now != before)
                out->append(keyEvent(now ? 1 : 0, uint16_t(FirstModifier + bit), ts));
        }
    }
    uint16_t delay = ts;
    keyChanges(previous, report, [&](int status, uint16_t code) {
        out->append(keyEvent(status, code, delay));
        delay = 0;
    });
    std::memcpy(previous, report, mframe_t::ReportSize);
}

} // namespace macrocodec
