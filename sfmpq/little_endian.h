// Little-endian fields of archive headers and wave files, read byte by byte
// so that neither alignment nor the machine's byte order matters.
#pragma once

#include <cstdint>

namespace sfmpq {

inline uint32_t Le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint16_t Le16(const unsigned char* p) {
    return uint16_t(p[0] | p[1] << 8);
}

} // namespace sfmpq
