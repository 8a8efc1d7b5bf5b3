// JPEG input through the TurboJPEG API of libjpeg-turbo. Colour, greyscale,
// progressive and arithmetic-coded pictures decode in one library call
// straight into the surface's buffer (BGR, the surface's stride, bottom-up),
// so no copy of the pixels is made; only CMYK pictures go through a
// temporary buffer for the colour conversion.
//
// A picture whose EXIF orientation asks for it is turned upright while it is
// decoded: libjpeg hands over strips of rows, which go straight to their
// upright places in the surface.
#include <turbojpeg.h>
// jpeglib.h needs FILE and size_t declared first.
#include <cstdio>
#include <jpeglib.h>

#include <bit>
#include <climits>
#include <csetjmp>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "DecodeLimits.h"
#include "FailureReason.h"
#include "JpegSegments.h"
#include "MetadataTransfer.h"
#include "Orientation.h"
#include "PictureDecoders.h"
#include "PictureLoader.h"
#include "RowSources.h"
#include "ShrinkOnLoad.h"
#include "SurfaceMemory.h"

namespace kx {

// CMYK and YCCK pictures come out as Adobe-style inverted CMYK (255 is no
// ink), so each colour channel is scaled by the key channel: R = C * K / 255,
// truncated, as browsers render such files.
void CmykRowToBgr(const uint8_t* in, uint8_t* out, int width)
{
    for (int x = 0; x < width; ++x, in += 4, out += 3) {
        // One load per pixel: C, M, Y and K in memory order.
        uint32_t pixel;
        std::memcpy(&pixel, in, 4);
        if constexpr (std::endian::native == std::endian::big) pixel = __builtin_bswap32(pixel);
        const uint32_t k = pixel >> 24;
        out[0] = static_cast<uint8_t>(((pixel >> 16) & 0xFF) * k / 255);
        out[1] = static_cast<uint8_t>(((pixel >> 8) & 0xFF) * k / 255);
        out[2] = static_cast<uint8_t>((pixel & 0xFF) * k / 255);
    }
}

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

bool DecodeCmyk(tjhandle handle, std::span<const uint8_t> file, int width, int height, cDIBSection& surface)
{
    const size_t pitch = static_cast<size_t>(width) * 4;
    // The buffer comes from the surfaces' keep: a fresh one of a photo's
    // size would cost more in page faults than the decode.
    size_t capacity = 0;
    const std::unique_ptr<uint8_t, SurfaceBufferRelease> cmyk(
        AcquireZeroedBuffer(pitch * static_cast<size_t>(height), capacity), SurfaceBufferRelease{capacity});
    if (!cmyk) return false;
    const int result = tjDecompress2(handle, file.data(), file.size(), cmyk.get(), width,
                                     static_cast<int>(pitch), height, TJPF_CMYK, TJFLAG_LIMITSCANS);
    if (!CallSucceeded(result, handle)) return false;
    for (int y = 0; y < height; ++y)
        CmykRowToBgr(cmyk.get() + static_cast<size_t>(y) * pitch, surface.PictureRow(y), width);
    return true;
}

// The header as TurboJPEG reads it, with the engine's limits applied.
struct JpegHeader {
    int width = 0;
    int height = 0;
    int colorspace = 0;
};

bool ReadCheckedHeader(tjhandle handle, std::span<const uint8_t> file, JpegHeader& header)
{
    int subsamp = 0;
    const int result = tjDecompressHeader3(handle, file.data(), file.size(), &header.width, &header.height,
                                           &subsamp, &header.colorspace);
    // The header call also refuses sampling factors that TurboJPEG has no
    // name for (subsamp -1 after a complete header); those still decode.
    const bool unnamedSampling = subsamp < 0 && header.colorspace >= 0;
    if (!unnamedSampling && !CallSucceeded(result, handle)) return false;
    if (!SurfaceSizeAllowed(header.width, header.height)) {
        SetFailureReason(TooLargeReason(header.width, header.height));
        return false;
    }
    if (!SizePlausible(header.width, header.height, static_cast<int64_t>(file.size()),
                       kJpegMaxPixelsPerByte)) {
        SetFailureReason("truncated JPEG data: too few bytes for its size");
        return false;
    }
    return true;
}

// libjpeg's errors jump back to the guarded call; its warnings (a truncated
// or slightly damaged stream) are ignored, so the part that decoded is kept.
struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

[[noreturn]] void JumpOnError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

void IgnoreMessage(j_common_ptr, int) {}

// A hostile progressive file with thousands of tiny scans must not take
// minutes: more than 500 scans is an error, as for the straight decode.
void LimitScans(j_common_ptr info)
{
    if (info->is_decompressor && reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > 500)
        JumpOnError(info);
}

constexpr int kStripRows = 64;

// The strips' memory, made before decoding starts.
struct StripBuffers {
    std::vector<uint8_t> decoded;  // kStripRows rows as libjpeg writes them
    size_t decodedPitch = 0;
    std::vector<uint8_t> bgr;  // the same rows as BGR, for CMYK pictures
};

// Decodes `file` strip by strip and hands each strip to `placer`. libjpeg's
// errors jump out of this function, so it holds nothing that needs
// destroying: everything it uses is owned by its caller.
bool GuardedDecodeStrips(jpeg_decompress_struct* info, JpegError* error, jpeg_progress_mgr* progress,
                         std::span<const uint8_t> file, bool cmyk, int denominator, int width, int height,
                         StripBuffers* strips, UprightPlacer* placer)
{
    if (setjmp(error->jump)) return false;
    jpeg_create_decompress(info);
    jpeg_mem_src(info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(info, TRUE);
    info->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    info->scale_num = 1;
    info->scale_denom = static_cast<unsigned>(denominator);
    progress->progress_monitor = LimitScans;
    info->progress = progress;
    jpeg_start_decompress(info);
    if (static_cast<int>(info->output_width) != width || static_cast<int>(info->output_height) != height)
        return false;
    JSAMPROW rows[kStripRows];
    const uint8_t* placed[kStripRows];
    while (info->output_scanline < info->output_height) {
        const Long first = static_cast<Long>(info->output_scanline);
        int count = 0;
        while (count < kStripRows && info->output_scanline < info->output_height) {
            for (int i = count; i < kStripRows; ++i)
                rows[i] = strips->decoded.data() + static_cast<size_t>(i) * strips->decodedPitch;
            count += static_cast<int>(
                jpeg_read_scanlines(info, rows + count, static_cast<JDIMENSION>(kStripRows - count)));
        }
        for (int i = 0; i < count; ++i) {
            const uint8_t* row = strips->decoded.data() + static_cast<size_t>(i) * strips->decodedPitch;
            if (cmyk) {
                uint8_t* bgr = strips->bgr.data() + static_cast<size_t>(i) * width * 3;
                CmykRowToBgr(row, bgr, width);
                row = bgr;
            }
            placed[i] = row;
        }
        placer->Place(placed, first, count);
    }
    jpeg_finish_decompress(info);
    return true;
}

// Decodes a picture stored in `orientation` (2 to 8) into an upright surface,
// at 1/denominator of its stored size.
bool DecodeTurned(std::span<const uint8_t> file, const JpegHeader& header, int orientation, int denominator,
                  cDIBSection& surface)
{
    const int width = ScaledSide(header.width, denominator);
    const int height = ScaledSide(header.height, denominator);
    const bool swapped = SwapsSides(orientation);
    if (!surface.Create(swapped ? height : width, swapped ? width : height)) return false;
    const bool cmyk = header.colorspace == TJCS_CMYK || header.colorspace == TJCS_YCCK;
    StripBuffers strips;
    strips.decodedPitch = static_cast<size_t>(width) * (cmyk ? 4 : 3);
    strips.decoded.resize(strips.decodedPitch * kStripRows);
    if (cmyk) strips.bgr.resize(static_cast<size_t>(width) * 3 * kStripRows);
    UprightPlacer placer(surface, orientation, width, height);

    jpeg_decompress_struct info{};
    JpegError error{};
    jpeg_progress_mgr progress{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = JumpOnError;
    error.manager.emit_message = IgnoreMessage;
    const bool ok = GuardedDecodeStrips(&info, &error, &progress, file, cmyk, denominator, width, height,
                                        &strips, &placer);
    jpeg_destroy_decompress(&info);
    return ok;
}

}  // namespace

bool DecodeJpeg(std::span<const uint8_t> file, cDIBSection& surface)
{
    return DecodeJpeg(file, surface, ShrinkTarget{});
}

bool DecodeJpeg(std::span<const uint8_t> file, cDIBSection& surface, const ShrinkTarget& shrink)
{
    try {
        if (file.size() < 3 || file[0] != 0xFF || file[1] != 0xD8 || file[2] != 0xFF) return false;
        TjHandle handle(tjInitDecompress());
        if (!handle) return false;

        JpegHeader header;
        if (!ReadCheckedHeader(handle.get(), file, header)) return false;
        // A scaled decode: the library scales by the output size it is given.
        const Long denominator = ShrinkOnLoadDenominator(header.width, header.height, shrink);
        const int width = ScaledSide(header.width, denominator);
        const int height = ScaledSide(header.height, denominator);
        const int colorspace = header.colorspace;
        if (!surface.Create(width, height)) return false;

        if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK)
            return DecodeCmyk(handle.get(), file, width, height, surface);

        // The scan limit keeps a hostile progressive file with thousands of
        // tiny scans from taking minutes.
        const int result =
            tjDecompress2(handle.get(), file.data(), file.size(), surface.DIBSectionBitsPtr(), width,
                          surface.BytesPerScanLine(), height, TJPF_BGR, TJFLAG_BOTTOMUP | TJFLAG_LIMITSCANS);
        return CallSucceeded(result, handle.get());
    } catch (...) {
        return false;
    }
}

bool DecodeJpeg(std::span<const uint8_t> file, cDIBSection& surface, PictureMetadata& metadata,
                bool autoOrient, const ShrinkTarget& shrink)
{
    try {
        metadata = PictureMetadata{};
        if (file.size() < 3 || file[0] != 0xFF || file[1] != 0xD8 || file[2] != 0xFF) return false;
        metadata = ReadJpegSegments(file);
        metadata.Orientation = ExifOrientation(metadata.Exif);
        if (!autoOrient || metadata.Orientation == 1) return DecodeJpeg(file, surface, shrink);

        TjHandle handle(tjInitDecompress());
        if (!handle) return false;
        JpegHeader header;
        if (!ReadCheckedHeader(handle.get(), file, header)) return false;
        // The target speaks of the upright picture; the decoder scales the stored one.
        const ShrinkTarget stored =
            SwapsSides(metadata.Orientation) ? ShrinkTarget{shrink.Height, shrink.Width} : shrink;
        const Long denominator = ShrinkOnLoadDenominator(header.width, header.height, stored);
        if (!DecodeTurned(file, header, metadata.Orientation, denominator, surface)) return false;
        metadata.Orientation = 1;  // the pixels are upright now
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace kx
