// The two-byte codes of code page 932 as one table, the same on every
// system: leads 81-9F and E0-FC, trails 40-FC.
#pragma once

#include <cstdint>

namespace tarlo::cp932 {

constexpr int kLeadCount = 60;
constexpr int kTrailCount = 0xFD - 0x40;

// The character of lead, trail (as indexes below), 0 where there is none.
extern const char16_t kPairs[kLeadCount][kTrailCount];

// A lead byte's row, -1 for a byte that leads no pair.
constexpr int leadIndex(uint8_t b) {
    if (b >= 0x81 && b <= 0x9F) return b - 0x81;
    if (b >= 0xE0 && b <= 0xFC) return b - 0xE0 + 31;
    return -1;
}

// A second byte's column, -1 for a byte that ends no pair.
constexpr int trailIndex(uint8_t b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F ? b - 0x40 : -1;
}

constexpr uint8_t leadByte(int index) {
    return uint8_t(index < 31 ? 0x81 + index : 0xE0 + index - 31);
}

}  // namespace tarlo::cp932
