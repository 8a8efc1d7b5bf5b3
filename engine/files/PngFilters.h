// Undoing the filters of PNG rows (None, Sub, Up, Average, Paeth), a whole
// pixel at a time where the processor has SSE2: the same bytes as the plain
// loops, which every other processor takes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

// Undoes `filter` (0 to 4) on the `bytes` bytes at `in` (after the filter
// byte) into `out`, which may be `in`: `prior` is the row above unfiltered
// (zeros above the first row), `pixelBytes` the bytes a pixel (1 to 8).
// False for another filter value.
bool UnfilterPngRow(int filter, const uint8_t* in, uint8_t* out, const uint8_t* prior, size_t bytes,
                    int pixelBytes);

}  // namespace kx
