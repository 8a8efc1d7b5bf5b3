// What the whole-picture and the streaming TIFF decoders share: libtiff's
// messages silenced, its objects given back when they go out of scope, and
// the metadata read from the tags.
#pragma once

#include <tiffio.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/files/MemoryBudget.h"
#include "engine/files/PictureMetadata.h"

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

// The bytes of a tag of type UNDEFINED or BYTE with a count (the ICC
// profile, the XMP packet); empty when the tag is missing.
inline std::vector<uint8_t> TiffTagBytes(TIFF* tif, uint32_t tag)
{
    uint32_t count = 0;
    void* data = nullptr;
    if (TIFFGetField(tif, tag, &count, &data) != 1 || data == nullptr || count == 0) return {};
    return {static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + count};
}

// The directory's ICC profile and XMP packet, the packet counted in the
// memory budget (left out when it would pass the limit).
inline void ReadTiffMetadata(TIFF* tif, PictureMetadata& metadata)
{
    metadata.IccProfile = TiffTagBytes(tif, TIFFTAG_ICCPROFILE);
    metadata.Xmp = TiffTagBytes(tif, TIFFTAG_XMLPACKET);
    if (!CountMorePictureMemory(static_cast<int64_t>(metadata.Xmp.size()))) metadata.Xmp.clear();
}

}  // namespace kx
