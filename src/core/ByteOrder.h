// Numbers stored in bytes in either byte order: the loads the file readers and the bitmap
// code use on headers, and the stores of the bitmap headers they write. Byte by byte, so
// they work at any alignment and on any host.
#pragma once
#include <cstdint>

namespace tilvorn {

/// Least significant byte first.
constexpr uint16_t LE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
constexpr uint32_t LE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
/// Most significant byte first.
constexpr uint16_t BE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
constexpr uint32_t BE32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

constexpr void PutLE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
constexpr void PutLE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

}  // namespace tilvorn
