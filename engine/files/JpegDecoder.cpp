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

#include <bit>
#include <climits>
#include <csetjmp>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/files/ColourManagement.h"
#include "engine/files/DecodeLimits.h"
#include "engine/files/FailureReason.h"
#include "engine/files/JpegErrors.h"
#include "engine/files/JpegSegments.h"
#include "engine/files/MemoryBudget.h"
#include "engine/files/MetadataTransfer.h"
#include "engine/files/Orientation.h"
#include "engine/files/PictureDecoders.h"
#include "engine/files/PictureLoader.h"
#include "engine/files/RowSources.h"
#include "engine/files/ShrinkOnLoad.h"
#include "engine/surface/SurfaceMemory.h"

namespace kx {

// CMYK and YCCK pictures come out as Adobe-style inverted CMYK (255 is no
// ink), so each colour channel is scaled by the key channel: R = C * K / 255,
// truncated, as browsers render such files.
void CmykRowToBgr(const uint8_t* in, uint8_t* out, int width)
{
    if (CmykRowThroughProfile(in, out, width)) return;
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
    return Refuse(std::string("the JPEG decoder says: ") + tjGetErrorStr2(handle));
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
    if (!SurfaceSizeAllowed(header.width, header.height))
        return Refuse(TooLargeReason(header.width, header.height));
    if (!SizePlausible(header.width, header.height, static_cast<int64_t>(file.size()), kJpegMaxPixelsPerByte))
        return Refuse("truncated JPEG data: too few bytes for its size");
    return true;
}

// libjpeg's first warning of a decode (level -1: a truncated or damaged
// stream; what follows from it adds nothing) is noted as the one-call decode
// notes it; its trace messages are not.
void NoteWarning(j_common_ptr info, int level)
{
    if (level >= 0 || info->err->num_warnings++ > 0) return;
    try {
        NoteDecodeWarning(JpegMessage(info));
    } catch (...) {}  // nothing may be thrown through libjpeg
}

// A hostile progressive file with thousands of tiny scans must not take
// minutes: more than 500 scans is an error, as for the straight decode.
void LimitScans(j_common_ptr info)
{
    if (info->is_decompressor && reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > 500)
        JumpOnError(info);
}

constexpr int kStripRows = 64;

// Reads the headers up to the first scan, for what libjpeg will hold.
bool GuardedReadHeader(jpeg_decompress_struct* info, JpegError* error, std::span<const uint8_t> file)
{
    if (setjmp(error->jump)) return false;
    jpeg_create_decompress(info);
    jpeg_mem_src(info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(info, TRUE);
    return true;
}

// A picture coded in more than one scan (progressive, or one component a
// scan) keeps every DCT coefficient of the whole picture while it decodes,
// 2 bytes each at the full size whatever the scale: its bytes, or 0 for a
// picture decoded in one pass.
int64_t CoefficientBytes(std::span<const uint8_t> file)
{
    jpeg_decompress_struct info{};
    JpegError error{};
    info.err = JumpingErrors(error);
    error.manager.emit_message = [](j_common_ptr, int) {};
    int64_t bytes = 0;
    if (GuardedReadHeader(&info, &error, file) &&
        (info.progressive_mode || info.comps_in_scan < info.num_components))
        for (int c = 0; c < info.num_components; ++c) {
            const jpeg_component_info& component = info.comp_info[c];
            const auto roundUp = [](int64_t n, int64_t step) {
                return step > 0 ? (n + step - 1) / step * step : n;
            };
            bytes += roundUp(component.width_in_blocks, component.h_samp_factor) *
                     roundUp(component.height_in_blocks, component.v_samp_factor) * DCTSIZE2 * 2;
        }
    jpeg_destroy_decompress(&info);
    return bytes;
}

// Reserves what decoding `file` to width x height takes: the surface, the
// coefficients, the rows libjpeg works on and `extra` bytes of the caller's.
bool ReserveDecode(std::span<const uint8_t> file, const JpegHeader& header, int width, int height,
                   int64_t extra)
{
    return PictureNeeds()
        .Bytes(static_cast<int64_t>(file.size()) + kLibraryStateBytes + extra)
        .Surface(width, height)
        .Bytes(CoefficientBytes(file))
        .Pixels(header.width, 2 * DCTSIZE, 4)  // an MCU row in and out, per component
        .Reserve();
}

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
    const bool cmyk = header.colorspace == TJCS_CMYK || header.colorspace == TJCS_YCCK;
    if (!ReserveDecode(file, header, width, height,
                       int64_t{width} * (cmyk ? 7 : 3) * kStripRows + ScopeTransformBytes(cmyk)))
        return false;
    if (!surface.Create(swapped ? height : width, swapped ? width : height)) return false;
    StripBuffers strips;
    strips.decodedPitch = static_cast<size_t>(width) * (cmyk ? 4 : 3);
    strips.decoded.resize(strips.decodedPitch * kStripRows);
    if (cmyk) strips.bgr.resize(static_cast<size_t>(width) * 3 * kStripRows);
    UprightPlacer placer(surface, orientation, width, height);

    jpeg_decompress_struct info{};
    JpegError error{};
    jpeg_progress_mgr progress{};
    info.err = JumpingErrors(error);
    error.manager.emit_message = NoteWarning;
    const bool ok = GuardedDecodeStrips(&info, &error, &progress, file, cmyk, denominator, width, height,
                                        &strips, &placer);
    if (!ok && error.manager.msg_code != 0) {
        Refuse("the JPEG decoder says: " + JpegMessage(reinterpret_cast<j_common_ptr>(&info)));
    }
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
        const bool cmyk = colorspace == TJCS_CMYK || colorspace == TJCS_YCCK;
        if (!ReserveDecode(file, header, width, height,
                           (cmyk ? int64_t{width} * 4 * height : 0) + ScopeTransformBytes(cmyk)))
            return false;
        if (!surface.Create(width, height)) return false;

        if (cmyk) return DecodeCmyk(handle.get(), file, width, height, surface);

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

namespace {

// Three samples with a Lab profile are Lab, decoded as if they were BGR; in
// the modern mode they go to sRGB through the profile. True.
bool LabToSrgb(std::span<const uint8_t> file, std::span<const uint8_t> profile, cDIBSection& surface)
{
    if (!CmykThroughProfile() || !IsLabProfile(profile)) return true;
    TjHandle handle(tjInitDecompress());
    JpegHeader header;
    if (!handle || !ReadCheckedHeader(handle.get(), file, header) || header.colorspace == TJCS_GRAY ||
        header.colorspace == TJCS_CMYK || header.colorspace == TJCS_YCCK)
        return true;
    for (Long y = 0; y < surface.Height(); ++y)
        if (!LabRowThroughProfile(surface.PictureRow(y), static_cast<int>(surface.Width()))) break;
    return true;
}

}  // namespace

bool DecodeJpeg(std::span<const uint8_t> file, cDIBSection& surface, PictureMetadata& metadata,
                bool autoOrient, const ShrinkTarget& shrink)
{
    try {
        metadata = PictureMetadata{};
        if (file.size() < 3 || file[0] != 0xFF || file[1] != 0xD8 || file[2] != 0xFF) return false;
        metadata = ReadJpegSegments(file);
        metadata.Orientation = ExifOrientation(metadata.Exif);
        const CmykProfileScope colour(metadata.IccProfile);
        if (!autoOrient || metadata.Orientation == 1)
            return DecodeJpeg(file, surface, shrink) && LabToSrgb(file, metadata.IccProfile, surface);

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
        return LabToSrgb(file, metadata.IccProfile, surface);
    } catch (...) {
        return false;
    }
}

}  // namespace kx
