// The host's byte order and little-endian loads, for the code loop and the
// raster stage, which both take pixels and codes eight bytes at a time.
#ifndef GIFIMPORT_GIF_BYTE_ORDER_H
#define GIFIMPORT_GIF_BYTE_ORDER_H

#include <cstdint>

namespace gifin {

constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Written out byte by byte so that compilers make it one 8-byte load.
inline uint64_t LoadLittle64(const uint8_t* p) {
  return static_cast<uint64_t>(p[0]) | static_cast<uint64_t>(p[1]) << 8 |
         static_cast<uint64_t>(p[2]) << 16 | static_cast<uint64_t>(p[3]) << 24 |
         static_cast<uint64_t>(p[4]) << 32 | static_cast<uint64_t>(p[5]) << 40 |
         static_cast<uint64_t>(p[6]) << 48 | static_cast<uint64_t>(p[7]) << 56;
}

}  // namespace gifin

#endif
