// What the whole-picture and the streaming TIFF decoders share: libtiff's
// messages silenced, and its objects given back when they go out of scope.
#pragma once

#include <tiffio.h>

#include <cstdarg>

namespace kx {

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
