// What the whole-picture and the streaming TIFF decoders share: libtiff's
// messages silenced, and its objects given back when they go out of scope.
#pragma once

#include <tiffio.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace kx {

// libtiff's seek over `size` bytes: moves `position` (past the end reads
// nothing) and gives it, or -1 for an unknown `whence` or an overflow.
inline toff_t SeekWithin(uint64_t& position, uint64_t size, toff_t offset, int whence)
{
    uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = position;
    else if (whence == SEEK_END)
        base = size;
    else if (whence != SEEK_SET)
        return static_cast<toff_t>(-1);
    if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
    position = base + offset;
    return position;
}

inline int QuietTiff(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffOptionsDeleter {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};
struct TiffDeleter {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
struct RgbaImageEnd {
    TIFFRGBAImage* image;
    ~RgbaImageEnd() { TIFFRGBAImageEnd(image); }
};

}  // namespace kx
