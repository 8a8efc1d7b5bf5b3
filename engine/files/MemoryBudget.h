// One memory budget for the whole process. Before a picture is decoded, the
// loader adds up every buffer the decode will make (the surface, the rows a
// streaming reduction keeps, and the decoding library's own buffers) and
// reserves that many bytes here. Threads that work on pictures at the same
// time share the budget: a picture waits until the others have given back
// enough for it, and only a picture that alone needs more than the limit is
// refused, with a reason that names both numbers.
//
// A thread holds at most one reservation, for the picture it is working on:
// reserving again first gives back what it held, so no thread waits while it
// holds memory, and threads cannot wait for each other in a circle.
#pragma once

#include <cstdint>
#include <string>

namespace kx {

// The default limit: 1 GiB, or a quarter of the machine's memory where that
// is less.
int64_t DefaultMemoryLimit();

// The limit in force, in bytes.
int64_t MemoryLimit();

// Sets the limit for the whole process; 0 or less restores the default.
void SetMemoryLimit(int64_t bytes);

// Reserves `bytes` for the picture this thread is about to decode, after
// giving back what the thread held. Waits while other threads hold too much
// for it to fit. False, with the failure reason set (OverLimitReason), when
// `bytes` alone is more than the limit; the thread then holds nothing.
bool ReservePictureMemory(int64_t bytes);

// Makes this thread's reservation at least `bytes`, for buffers made after
// the picture was decoded (a resampled surface, an encoder's tables): true
// at once when it holds that much already, else ReservePictureMemory(bytes),
// during whose wait what the thread held is not counted.
bool EnsurePictureMemory(int64_t bytes);

// Makes this thread's reservation `bytes` larger, for a buffer a decoder
// makes beside what it counted (a metadata block found as it reads); false,
// the reservation left as it was, when that would pass the limit.
bool CountMorePictureMemory(int64_t bytes);

// Gives back what this thread holds. Every operation does so when it ends.
void ReleasePictureMemory();

// What this thread holds now, in bytes.
int64_t HeldPictureMemory();

// Gives back this thread's reservation when it goes out of scope.
struct PictureMemoryScope {
    PictureMemoryScope() = default;
    PictureMemoryScope(const PictureMemoryScope&) = delete;
    PictureMemoryScope& operator=(const PictureMemoryScope&) = delete;
    ~PictureMemoryScope() { ReleasePictureMemory(); }
};

// What a decode will hold at its peak, added up before anything is allocated:
// the file's bytes, the surface and every buffer of the decoding library.
// Products and sums saturate, so a hostile header's sizes never wrap.
class PictureNeeds {
public:
    // width x height x bytesPerPixel bytes.
    PictureNeeds& Pixels(int64_t width, int64_t height, int64_t bytesPerPixel);
    // A surface of width x height: 24-bit rows padded to 4 bytes.
    PictureNeeds& Surface(int64_t width, int64_t height);
    PictureNeeds& Bytes(int64_t bytes);
    int64_t Total() const { return total_; }
    // ReservePictureMemory(Total()).
    bool Reserve() const;

private:
    int64_t total_ = 0;
};

// A decoding library's tables, state and the rows it works on beside those
// counted by width: the same small allowance for every decoder.
inline constexpr int64_t kLibraryStateBytes = int64_t{1} << 20;

// "this picture needs 4.1 GB, more than the 1 GB memory limit"
std::string OverLimitReason(int64_t bytes, int64_t limit);

// A byte count for a person: "512 KB", "96 MB", "4.1 GB" (powers of 1024,
// one decimal below 10, none from 10 on).
std::string ReadableBytes(int64_t bytes);

}  // namespace kx
