#pragma once
// Conversions between the editor's key events and the keyboard's macro frames (a delay and the whole
// 8-byte keyboard report that holds from then on). Pure functions: no widget, no device.
#include "datakey.h"
#include "device/records.h"

#include <QVector>
#include <cstdint>

namespace macrocodec {

// Frames one macro may have: the keyboard's frame area and the encoder's buffer.
constexpr int MaxFrames = 512;

// Applies one event to the report of frame (modifier bit, or a key slot taken or freed). Events of
// other types than keyboard keys are still applied: the caller filters with DataKey::changesReport().
void updateKeyboardReport(const DataKey* event, mframe_t* frame);

// Encodes events (null entries are skipped) into frames: a non-zero delay opens a frame that starts
// from the previous report. Writes at most `capacity` frames, every byte of each, and never past it;
// returns the number written and, in *needed (may be null), the number the whole macro takes. A
// caller that must not send a cut macro refuses when *needed exceeds capacity. Logs every step.
uint32_t encodeFrames(const QVector<const DataKey*>& events, mframe_t* frames, int capacity, uint32_t* needed);

// Decodes count frames read from the keyboard and appends the new events (the caller owns them) to
// *out. The previous report starts at zero; only the first event of a frame carries its time stamp.
// At most MaxFrames frames are decoded; a larger count is logged.
void decodeFrames(int count, const mframe_t* frames, QVector<DataKey*>* out);

// Decodes the 10-byte frame of one recording notification against previous (8 bytes: the report of
// the last one, updated here) and appends the events (the caller owns them) to *out, in the order
// the page turns them into chips. Modifier events all carry the time stamp, key events only the first.
void decodeLiveFrame(const uint8_t* frame10, uint8_t previous[8], QVector<DataKey*>* out);

} // namespace macrocodec
