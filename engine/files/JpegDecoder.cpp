// JPEG input through the TurboJPEG API of libjpeg-turbo. Colour, greyscale,
// progressive and arithmetic-coded pictures decode in one library call
// straight into the surface's buffer (BGR, the surface's stride, bottom-up),
// so no copy of the pixels is made; only CMYK pictures go through a
// temporary buffer for the colour conversion.
#include <turbojpeg.h>

#include <bit>
#include <climits>
#include <cstddef>
#include <cstring>
#include <memory>

#include "DecodeLimits.h"
#include "FailureReason.h"
#include "PictureDecoders.h"
#include "PictureLoader.h"
#include "SurfaceMemory.h"

namespace kx {

namespace {

// A baseline Huffman stream spends at least one bit on each 8x8 block, and a
// greyscale picture has one block per 64 pixels: about 512 pixels per byte.
// Progressive files go further: one EOB run code covers up to 32767 blocks of
// an AC scan, so a flat picture costs little more than its DC scan, and
// arithmetic coding can spend well under a bit on a flat block. 2048 pixels
// per byte is generous for every real picture and still stops a tiny file
// from claiming gigapixels.
constexpr int64_t kJpegMaxPixelsPerByte = 2048;

struct TjDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

// A library call either succeeded or only warned (a truncated or slightly
// damaged stream: the part that decoded is kept; the warning is noted for
// the caller of the engine's method). A failure leaves the decoder's reason.
bool CallSucceeded(int result, tjhandle handle)
{
    if (result == 0) return true;
    if (tjGetErrorCode(handle) == TJERR_WARNING) {
        NoteDecodeWarning(tjGetErrorStr2(handle));
        return true;
    }
    SetFailureReason(std::string("the JPEG decoder says: ") + tjGetErrorStr2(handle));
    return false;
}

// CMYK and YCCK pictures come out as Adobe-style inverted CMYK (255 is no
// ink), so each colour channel is scaled by the key channel: R = C * K / 255,
// truncated, as browsers render such files.
bool DecodeCmyk(tjhandle handle, std::span<const uint8_t> file, int width, int height,
                cDIBSection& surface)
{
    const size_t pitch = static_cast<size_t>(width) * 4;
    // The buffer comes from the surfaces' keep: a fresh one of a photo's
    // size would cost more in page faults than the decode.
    size_t capacity = 0;
    const std::unique_ptr<uint8_t, SurfaceBufferRelease> cmyk(
        AcquireZeroedBuffer(pitch * static_cast<size_t>(height), capacity),
        SurfaceBufferRelease{capacity});
    if (!cmyk) return false;
    const int result = tjDecompress2(handle, file.data(), file.size(), cmyk.get(), width,
                                     static_cast<int>(pitch), height, TJPF_CMYK, TJFLAG_LIMITSCANS);
    if (!CallSucceeded(result, handle)) return false;
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = cmyk.get() + static_cast<size_t>(y) * pitch;
        uint8_t* out = surface.PictureRow(y);
        for (int x = 0; x < width; ++x, in += 4, out += 3) {
            // One load per pixel: C, M, Y and K in memory order.
            uint32_t pixel;
            std::memcpy(&pixel, in, 4);
            if constexpr (std::endian::native == std::endian::big)
                pixel = __builtin_bswap32(pixel);
            const uint32_t k = pixel >> 24;
            out[0] = static_cast<uint8_t>(((pixel >> 16) & 0xFF) * k / 255);
            out[1] = static_cast<uint8_t>(((pixel >> 8) & 0xFF) * k / 255);
            out[2] = static_cast<uint8_t>((pixel & 0xFF) * k / 255);
        }
    }
    return true;
}

}  // namespace

bool DecodeJpeg(std::span<const uint8_t> file, cDIBSection& surface) { return DecodeJpeg(file, surface, {}); }

bool DecodeJpeg(std::span<const uint8_t> file, cDIBSection& surface, const ShrinkTarget& shrink)
{
    try {
        if (file.size() < 3 || file[0] != 0xFF || file[1] != 0xD8 || file[2] != 0xFF) return false;
        TjHandle handle(tjInitDecompress());
        if (!handle) return false;

        int width = 0, height = 0, subsamp = 0, colorspace = 0;
        const int header = tjDecompressHeader3(handle.get(), file.data(), file.size(), &width,
                                               &height, &subsamp, &colorspace);
        // The header call also refuses sampling factors that TurboJPEG has no
        // name for (subsamp -1 after a complete header); those still decode.
        const bool unnamedSampling = subsamp < 0 && colorspace >= 0;
        if (!unnamedSampling && !CallSucceeded(header, handle.get())) return false;
        if (!SurfaceSizeAllowed(width, height)) {
            SetFailureReason(TooLargeReason(width, height));
            return false;
        }
        if (!SizePlausible(width, height, static_cast<int64_t>(file.size()), kJpegMaxPixelsPerByte)) {
            SetFailureReason("truncated JPEG data: too few bytes for its size");
            return false;
        }
        // A scaled decode: the library scales by the output size it is given.
        const Long denominator = ShrinkOnLoadDenominator(width, height, shrink);
        width = ScaledSide(width, denominator);
        height = ScaledSide(height, denominator);
        if (!surface.Create(width, height)) return false;

        if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK)
            return DecodeCmyk(handle.get(), file, width, height, surface);

        // The scan limit keeps a hostile progressive file with thousands of
        // tiny scans from taking minutes.
        const int result = tjDecompress2(handle.get(), file.data(), file.size(),
                                         surface.DIBSectionBitsPtr(), width,
                                         surface.BytesPerScanLine(), height, TJPF_BGR,
                                         TJFLAG_BOTTOMUP | TJFLAG_LIMITSCANS);
        return CallSucceeded(result, handle.get());
    } catch (...) {
        return false;
    }
}

}  // namespace kx
