// Undoing the filters of PNG rows (None, Sub, Up, Average, Paeth), a whole
// pixel at a time where the processor has SSE2: the same bytes as the plain
// loops, which every other processor takes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

// Undoes `filter` (0 to 4) on `row` in place: `bytes` bytes without the
// filter byte, `prior` the row above unfiltered (zeros above the first
// row), `pixelBytes` bytes a pixel (1 to 8). False for another filter value.
bool UnfilterPngRow(int filter, uint8_t* row, const uint8_t* prior, size_t bytes, int pixelBytes);

}  // namespace kx
