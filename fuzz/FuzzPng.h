// The png fuzz target puts every chunk's checksum right before decoding:
// libpng refuses a chunk whose checksum is wrong, so nearly every mutation
// would stop there. Shared with the tests that replay the target's inputs.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kx::fuzz {

inline void FixPngChunkChecksums(std::vector<uint8_t>& png)
{
    size_t at = 8;
    while (at + 12 <= png.size()) {
        const size_t length =
            size_t{png[at]} << 24 | size_t{png[at + 1]} << 16 | size_t{png[at + 2]} << 8 | png[at + 3];
        if (length > png.size() - at - 12) return;
        const uLong crc = crc32(0, png.data() + at + 4, static_cast<uInt>(length + 4));
        uint8_t* out = png.data() + at + 8 + length;
        out[0] = static_cast<uint8_t>(crc >> 24);
        out[1] = static_cast<uint8_t>(crc >> 16);
        out[2] = static_cast<uint8_t>(crc >> 8);
        out[3] = static_cast<uint8_t>(crc);
        at += 12 + length;
    }
}

}  // namespace kx::fuzz
