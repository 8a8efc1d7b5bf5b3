// Memory for pixel buffers. Fresh pages cost a page fault each the first time
// they are touched, which for a 12-megapixel surface (36 MB) costs more than
// decoding the picture; buffers given back are therefore kept for the next
// surface of a similar size instead of going back to the system.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

// A zero-filled buffer of at least `bytes` bytes, or nullptr when memory is
// exhausted. `capacity` receives the buffer's real size, which Release needs.
uint8_t* AcquireZeroedBuffer(size_t bytes, size_t& capacity);

// Gives a buffer back; it is kept for reuse while the keep is under its
// limit, else freed.
void ReleaseBuffer(uint8_t* buffer, size_t capacity);

// Frees every kept buffer.
void TrimBufferKeep();

// Buffers below this size come from malloc directly: they are cheap.
inline constexpr size_t kKeptBufferMinimum = size_t{1} << 20;
// At most this many bytes are kept, in at most this many buffers.
inline constexpr size_t kKeptBytesLimit = size_t{256} << 20;
inline constexpr size_t kKeptBuffersLimit = 8;

}  // namespace kx
