// Reading the big-endian integers of file formats (PNG chunks, HEIF boxes)
// from bytes already known to be there.
#pragma once

#include <cstdint>

namespace kx {

inline uint32_t BigEndian32(const uint8_t* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

}  // namespace kx
