// TIFF input through libtiff's RGBA interface, which turns every photometric
// interpretation it knows (RGB, grey, palette, CMYK, YCbCr; 1 to 16 bits a
// sample) into 8-bit ABGR. The file is read from memory; libtiff's messages
// are silenced and its single allocations capped.
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "engine/files/DecodeLimits.h"
#include "engine/files/FailureReason.h"
#include "engine/files/MemoryBudget.h"
#include "engine/files/ModernDecoders.h"
#include "engine/files/RowSources.h"
#include "engine/files/TiffColour.h"
#include "engine/files/TiffHandles.h"
#include "engine/surface/AlphaPlane.h"
#include "engine/surface/SurfaceMemory.h"

namespace kx {

namespace {

struct MemoryFile {
    std::span<const uint8_t> bytes;
    uint64_t position = 0;
};

tmsize_t ReadProc(thandle_t handle, void* into, tmsize_t count)
{
    auto* file = static_cast<MemoryFile*>(handle);
    if (count <= 0 || file->position >= file->bytes.size()) return 0;
    const size_t n = std::min<uint64_t>(static_cast<uint64_t>(count), file->bytes.size() - file->position);
    std::memcpy(into, file->bytes.data() + file->position, n);
    file->position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekProc(thandle_t handle, toff_t offset, int whence)
{
    auto* file = static_cast<MemoryFile*>(handle);
    return SeekWithin(file->position, file->bytes.size(), offset, whence);
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<MemoryFile*>(handle)->bytes.size(); }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

// libtiff's first error message, for the reason of a refusal.
int KeepFirstError(TIFF*, void* user, const char*, const char* format, va_list arguments)
{
    auto* kept = static_cast<std::string*>(user);
    if (kept->empty()) {
        char text[256] = {};
        std::vsnprintf(text, sizeof text, format, arguments);
        try {
            *kept = text;
        } catch (...) {}  // nothing may be thrown through libtiff
    }
    return 1;
}

// A refusal that passes libtiff's words on when it gave some.
bool RefuseWith(const std::string& libraryError, const char* otherwise)
{
    return Refuse(libraryError.empty() ? std::string(otherwise) : "the TIFF decoder says: " + libraryError);
}

// What libtiff holds while it fills the raster: the buffer of one strip or
// tile (one a sample for separate planes) and the coded bytes of one, at
// most the file's.
int64_t StripBytes(TIFF* tif, int64_t fileBytes)
{
    uint16_t planar = PLANARCONFIG_CONTIG, samples = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const uint64_t one = TIFFIsTiled(tif) ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
    const int64_t decoded = static_cast<int64_t>(std::min<uint64_t>(one, INT32_MAX));
    return decoded * (planar == PLANARCONFIG_SEPARATE ? samples : 1) + fileBytes;
}

struct BufferRelease {
    size_t capacity;
    void operator()(uint8_t* buffer) const { ReleaseBuffer(buffer, capacity); }
};

// libtiff's largest single allocation (a strip, a tile, a table): the
// surface limit, so that no legitimate picture is refused by it.
constexpr tmsize_t kMaxSingleAllocation = kMaxSurfaceBytes;

// One ABGR pixel, alpha premultiplied, over white as BGR.
inline void PutOverWhite(uint32_t p, uint8_t* out)
{
    const unsigned through = 255 - TIFFGetA(p);
    out[0] = static_cast<uint8_t>(std::min(255u, TIFFGetB(p) + through));
    out[1] = static_cast<uint8_t>(std::min(255u, TIFFGetG(p) + through));
    out[2] = static_cast<uint8_t>(std::min(255u, TIFFGetR(p) + through));
}

// One ABGR pixel, alpha premultiplied, as BGR divided by its alpha again
// (black where transparent) and its alpha.
inline void PutSplit(uint32_t p, uint8_t* out, uint8_t& alpha)
{
    const unsigned a = TIFFGetA(p);
    alpha = static_cast<uint8_t>(a);
    const auto divided = [a](unsigned c) {
        return static_cast<uint8_t>(a == 0 ? 0 : std::min(255u, (c * 255 + a / 2) / a));
    };
    out[0] = divided(TIFFGetB(p));
    out[1] = divided(TIFFGetG(p));
    out[2] = divided(TIFFGetR(p));
}

// Copies the stored picture (raster rows bottom-up, width x height) into a
// new surface turned upright for the orientation tag (1 to 8): the mirror
// or quarter turn costs nothing beside the copy itself.
// With `alpha`, the colour is divided by alpha again and the alpha goes to
// the plane.
bool CopyUpright(const uint32_t* raster, uint32_t width, uint32_t height, int orientation,
                 cDIBSection& surface, AlphaPlane* alpha)
{
    const bool quarter = orientation >= 5;
    const int64_t outWidth = quarter ? height : width;
    const int64_t outHeight = quarter ? width : height;
    if (!surface.Create(static_cast<Long>(outWidth), static_cast<Long>(outHeight))) return false;
    if (alpha && !alpha->Create(surface.Width(), surface.Height())) return false;
    const int64_t w = width, h = height;
    // Where the upright pixel (ux, uy) is stored, counted top-down (sx, sy).
    const auto index = [&](int64_t ux, int64_t uy) {
        int64_t sx = ux, sy = uy;
        switch (orientation) {
        case 2: sx = w - 1 - ux; break;
        case 3:
            sx = w - 1 - ux;
            sy = h - 1 - uy;
            break;
        case 4: sy = h - 1 - uy; break;
        case 5:
            sx = uy;
            sy = ux;
            break;
        case 6:
            sx = uy;
            sy = h - 1 - ux;
            break;
        case 7:
            sx = w - 1 - uy;
            sy = h - 1 - ux;
            break;
        case 8:
            sx = w - 1 - uy;
            sy = ux;
            break;
        default: break;
        }
        return (h - 1 - sy) * w + sx;
    };
    for (int64_t uy = 0; uy < outHeight; ++uy) {
        uint8_t* out = surface.PictureRow(static_cast<Long>(uy));
        const int64_t first = index(0, uy);
        const int64_t step = outWidth > 1 ? index(1, uy) - first : 0;
        if (!alpha) {
            for (int64_t ux = 0, at = first; ux < outWidth; ++ux, at += step, out += 3)
                PutOverWhite(raster[at], out);
            continue;
        }
        uint8_t* a = alpha->PictureRow(static_cast<Long>(uy));
        for (int64_t ux = 0, at = first; ux < outWidth; ++ux, at += step, out += 3)
            PutSplit(raster[at], out, a[ux]);
    }
    return true;
}

}  // namespace

void AbgrRowOverWhite(const uint32_t* abgr, Long width, uint8_t* out)
{
    for (Long x = 0; x < width; ++x, out += 3) PutOverWhite(abgr[x], out);
}

void AbgrRowSplit(const uint32_t* abgr, Long width, uint8_t* bgr, uint8_t* alpha)
{
    for (Long x = 0; x < width; ++x, bgr += 3) PutSplit(abgr[x], bgr, alpha[x]);
}

bool DecodeTiff(std::span<const uint8_t> file, cDIBSection& surface, PictureMetadata* metadata,
                bool autoOrient, AlphaPlane* alpha)
{
    try {
        if (!LooksLikeTiff(file)) return false;
        const std::unique_ptr<TIFFOpenOptions, TiffOptionsDeleter> options(TIFFOpenOptionsAlloc());
        if (!options) return false;
        TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxSingleAllocation);
        std::string libraryError;
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), KeepFirstError, &libraryError);
        TIFFOpenOptionsSetWarningHandlerExtR(options.get(), QuietTiff, nullptr);
        MemoryFile memory{file};
        // "m": no memory mapping. Only the first directory (page) is read.
        const std::unique_ptr<TIFF, TiffDeleter> tif(
            TIFFClientOpenExt("picture", "rm", &memory, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                              MapProc, UnmapProc, options.get()));
        if (!tif) return RefuseWith(libraryError, "corrupt TIFF data: the header does not parse");

        uint32_t width = 0, height = 0;
        if (TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
            TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height) != 1)
            return Refuse("corrupt TIFF data: the picture's size is missing");
        if (!SurfaceSizeAllowed(width, height)) return Refuse(TooLargeReason(width, height));
        if (!SizePlausible(width, height, static_cast<int64_t>(file.size()), kModernMaxPixelsPerByte))
            return Refuse("truncated TIFF data: too few bytes for its size");

        // CMYK and Lab samples go through their profile in the modern mode;
        // 16-bit CMYK, which libtiff's RGBA interface refuses, is read there
        // in the classic mode too.
        TiffProfileRows managed;
        const bool ownRows = managed.Open(tif.get(), PixelOut::RgbaWords);
        char message[1024] = {};
        if (!ownRows && TIFFRGBAImageOK(tif.get(), message) != 1)
            return Refuse(std::string("a kind of TIFF picture Kestrix does not read: ") + message);
        // The raster of 4 bytes a pixel, the surface, libtiff's strips and
        // the profile conversion's buffer and tables.
        if (!PictureNeeds()
                 .Bytes(static_cast<int64_t>(file.size()) + kLibraryStateBytes)
                 .Pixels(width, height, 4)
                 .Surface(width, height)
                 .Pixels(alpha ? width : 0, height, 1)
                 .Bytes(StripBytes(tif.get(), static_cast<int64_t>(file.size())))
                 .Bytes(ownRows ? managed.Bytes() : 0)
                 .Reserve())
            return false;
        const size_t pixels = static_cast<size_t>(width) * height;
        size_t capacity = 0;
        const std::unique_ptr<uint8_t, BufferRelease> raster(AcquireZeroedBuffer(pixels * 4, capacity),
                                                             BufferRelease{capacity});
        if (!raster) return Refuse("out of memory");
        auto* abgr = reinterpret_cast<uint32_t*>(raster.get());
        // The pixels as stored, rows bottom-up; the orientation is applied
        // while they are copied to the surface.
        uint16_t stored = ORIENTATION_TOPLEFT;
        bool withAlpha = false;
        if (ownRows) {
            TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &stored);
            if (!managed.Start()) return Refuse("out of memory");
            for (uint32_t y = 0; y < height; ++y)
                if (!managed.NextRow(raster.get() + static_cast<size_t>(height - 1 - y) * width * 4))
                    return RefuseWith(libraryError, "corrupt or truncated TIFF data");
        } else {
            TIFFRGBAImage image;
            if (TIFFRGBAImageBegin(&image, tif.get(), 1, message) != 1)
                return Refuse(std::string("a kind of TIFF picture Kestrix does not read: ") + message);
            const RgbaImageEnd end{&image};
            stored = image.orientation;
            withAlpha = image.alpha != 0;
            image.orientation = ORIENTATION_TOPLEFT;
            image.req_orientation = ORIENTATION_BOTLEFT;
            if (TIFFRGBAImageGet(&image, abgr, width, height) != 1)
                return RefuseWith(libraryError, "corrupt or truncated TIFF data");
        }

        const int orientation = stored >= 1 && stored <= 8 ? stored : 1;
        if (!CopyUpright(abgr, width, height, autoOrient ? orientation : 1, surface,
                         withAlpha ? alpha : nullptr))
            return false;
        if (metadata != nullptr) {
            metadata->Orientation = autoOrient ? 1 : orientation;  // that of the pixels handed over
            ReadTiffMetadata(tif.get(), *metadata);
        }
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace kx
