#pragma once
// Result codes of every keyboard operation: 0 is success, anything else an error.
#include <cstdint>

namespace DeviceResult {
constexpr uint32_t Ok = 0;
constexpr uint32_t SetKCRejected = 0xEE000003;   // setKC: status not 0 or echo mismatch
constexpr uint32_t AllocFailed = 0xEE000004;     // a table could not be allocated
constexpr uint32_t Handled = 0xEE000006;         // recvCmdSlot's value for every report
constexpr uint32_t BadIndex = 0xEE000007;        // index or range outside the table
constexpr uint32_t Timeout = 0xEE00000D;         // WK_ERROR_TIMEOUT: no reply in time
constexpr uint32_t BtEraseRejected = 0xEE000012; // the Bluetooth module refused the erase
constexpr uint32_t WriteFailed = 0xEE000016;     // writing the report failed / step rejected
constexpr uint32_t Stopped = 0xEE000017;         // load failed, read failed, stop or disconnect
}

#define WK_ERROR_TIMEOUT DeviceResult::Timeout
