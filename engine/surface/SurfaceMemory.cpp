#include "engine/surface/SurfaceMemory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace kx {

namespace {

struct KeptBuffer {
    uint8_t* buffer;
    size_t capacity;
};

struct Keep {
    std::mutex mutex;
    std::vector<KeptBuffer> buffers;
    size_t bytes = 0;

    ~Keep()
    {
        for (const KeptBuffer& kept : buffers) std::free(kept.buffer);
    }
};

Keep& TheKeep()
{
    static Keep keep;
    return keep;
}

// Takes the smallest kept buffer that holds `bytes` without wasting more than
// half of itself, or nothing.
KeptBuffer TakeKept(size_t bytes)
{
    Keep& keep = TheKeep();
    std::lock_guard lock(keep.mutex);
    size_t best = keep.buffers.size();
    for (size_t i = 0; i < keep.buffers.size(); ++i) {
        const size_t capacity = keep.buffers[i].capacity;
        if (capacity >= bytes && capacity / 2 <= bytes &&
            (best == keep.buffers.size() || capacity < keep.buffers[best].capacity))
            best = i;
    }
    if (best == keep.buffers.size()) return {nullptr, 0};
    const KeptBuffer taken = keep.buffers[best];
    keep.buffers.erase(keep.buffers.begin() + static_cast<std::ptrdiff_t>(best));
    keep.bytes -= taken.capacity;
    return taken;
}

}  // namespace

uint8_t* AcquireZeroedBuffer(size_t bytes, size_t& capacity)
{
    if (bytes >= kKeptBufferMinimum) {
        const KeptBuffer kept = TakeKept(bytes);
        if (kept.buffer != nullptr) {
            std::memset(kept.buffer, 0, bytes);
            capacity = kept.capacity;
            return kept.buffer;
        }
    }
    capacity = bytes;
    return static_cast<uint8_t*>(std::calloc(bytes == 0 ? 1 : bytes, 1));
}

void ReleaseBuffer(uint8_t* buffer, size_t capacity)
{
    if (buffer == nullptr) return;
    if (capacity >= kKeptBufferMinimum && capacity <= kKeptBytesLimit) {
        Keep& keep = TheKeep();
        std::lock_guard lock(keep.mutex);
        // Make room by dropping the oldest buffers.
        while (!keep.buffers.empty() &&
               (keep.buffers.size() >= kKeptBuffersLimit || keep.bytes + capacity > kKeptBytesLimit)) {
            std::free(keep.buffers.front().buffer);
            keep.bytes -= keep.buffers.front().capacity;
            keep.buffers.erase(keep.buffers.begin());
        }
        keep.buffers.push_back({buffer, capacity});
        keep.bytes += capacity;
        return;
    }
    std::free(buffer);
}

void TrimBufferKeep()
{
    Keep& keep = TheKeep();
    std::lock_guard lock(keep.mutex);
    for (const KeptBuffer& kept : keep.buffers) std::free(kept.buffer);
    keep.buffers.clear();
    keep.bytes = 0;
}

}  // namespace kx
