#include "engine/files/mIntelJPEGLibrary.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "common/modErrorReport.h"
#include "engine/files/FailureReason.h"
#include "engine/files/FileReplacement.h"
#include "engine/files/JpegErrors.h"
#include "engine/files/JpegSegments.h"
#include "engine/files/MemoryBudget.h"
#include "engine/files/PictureLoader.h"

namespace kx {

namespace {

struct TjDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

// The encoder's output buffer, kept between calls on a thread and grown to
// the worst case of the largest picture so far: fresh pages for every file
// cost more than encoding it.
class EncodeBuffer {
public:
    ~EncodeBuffer() { tjFree(buffer_); }
    // A buffer of at least `bytes`, or nullptr.
    unsigned char* Reserve(unsigned long bytes)
    {
        if (bytes > capacity_) {
            tjFree(buffer_);
            capacity_ = 0;
            buffer_ = tjAlloc(static_cast<int>(bytes));
            if (buffer_ != nullptr) capacity_ = bytes;
        }
        return buffer_;
    }
    unsigned long Capacity() const { return capacity_; }

private:
    unsigned char* buffer_ = nullptr;
    unsigned long capacity_ = 0;
};

// One compressor per thread, kept between calls: making one costs more than
// encoding a small picture.
tjhandle ThreadCompressor()
{
    thread_local TjHandle handle(tjInitCompress());
    return handle.get();
}

[[noreturn]] void RaiseWriterError(const std::string& description)
{
    throw RunTimeError(errJpegWriter, kJpegWriterSource, description);
}

// Where metadata segments go in an encoded file: after the JFIF segment
// that the encoder writes first, or right after the start of image.
size_t MetadataInsertionPoint(const unsigned char* encoded, size_t size)
{
    if (size >= 6 && encoded[2] == 0xFF && encoded[3] == 0xE0) {
        const size_t end = 4 + (size_t{encoded[4]} << 8 | encoded[5]);
        if (end <= size) return end;
    }
    return 2;
}

// Writes an encoded picture with the metadata segments after its JFIF
// segment; raises the writer's error when the file cannot be written.
bool WriteWithSegments(const OutputTarget& target, const unsigned char* encoded, size_t encodedSize,
                       std::span<const uint8_t> segments)
{
    EncodedPieces pieces{{{encoded, encodedSize}, {}, {}}};
    if (!segments.empty()) {
        const size_t at = MetadataInsertionPoint(encoded, encodedSize);
        pieces = {{{encoded, at}, segments, {encoded + at, encodedSize - at}}};
    }
    if (!ReplaceFileContents(target, pieces, target.Existing)) RaiseWriterError("Failed to save to JPG -1");
    return true;
}

// The modern coding through libjpeg: the accurate DCT, no chroma subsampling
// from quality 90 up, and Huffman tables optimised for the picture. libjpeg's
// errors jump back here, so only plain C objects live in this frame; the
// output is malloc'd by libjpeg and freed by the caller.
bool GuardedCompressModern(jpeg_compress_struct* info, JpegError* error, cDIBSection* surface, int quality,
                           unsigned char** out, unsigned long* size)
{
    if (setjmp(error->jump)) return false;
    jpeg_create_compress(info);
    jpeg_mem_dest(info, out, size);
    info->image_width = static_cast<JDIMENSION>(surface->Width());
    info->image_height = static_cast<JDIMENSION>(surface->Height());
    info->input_components = 3;
    info->in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(info);
    jpeg_set_quality(info, quality, TRUE);
    info->dct_method = JDCT_ISLOW;
    info->optimize_coding = TRUE;
    const int luma = quality >= kFullChromaQuality ? 1 : 2;
    info->comp_info[0].h_samp_factor = info->comp_info[0].v_samp_factor = luma;
    jpeg_start_compress(info, TRUE);
    while (info->next_scanline < info->image_height) {
        JSAMPROW row = surface->PictureRow(static_cast<Long>(info->next_scanline));
        jpeg_write_scanlines(info, &row, 1);
    }
    jpeg_finish_compress(info);
    return true;
}

// Encodes with the modern coding into `encoded` (freed with free()). The
// optimised tables need every coefficient of the picture at once, 2 bytes a
// sample: that much more is reserved for the thread first.
bool CompressModern(cDIBSection& surface, int quality, unsigned char*& encoded, unsigned long& size)
{
    const int64_t samples = quality >= kFullChromaQuality ? 6 : 3;
    if (!ReservePictureMemory(
            HeldPictureMemory() +
            PictureNeeds().Pixels(surface.Width() + 16, surface.Height() + 16, samples).Total()))
        return false;
    jpeg_compress_struct info{};
    JpegError error{};
    info.err = JumpingErrors(error);
    const bool ok = GuardedCompressModern(&info, &error, &surface, quality, &encoded, &size);
    if (!ok) Refuse("the JPEG encoder failed: " + JpegMessage(reinterpret_cast<j_common_ptr>(&info)));
    jpeg_destroy_compress(&info);
    return ok;
}

bool WriteJpegReplacing(cDIBSection& surface, const std::string& path, Long quality, bool carryOverAttributes,
                        std::span<const uint8_t> segments = {}, bool modernCoding = false)
{
    tjhandle compressor = ThreadCompressor();
    if (compressor == nullptr) RaiseWriterError("Failed to initialise the IJL library: -1");

    OutputTarget target = InspectTarget(path);
    if (!carryOverAttributes) target.Existing.reset();

    // The encoder accepts 1..100 only; anything else is its failure code.
    if (quality < 1 || quality > 100) {
        Refuse("the JPEG quality must be from 1 to 100, not " + std::to_string(quality));
        RaiseWriterError("Failed to save to JPG -1");
    }

    const int width = surface.Width(), height = surface.Height();
    if (!SidesWithin("JPEG", width, height, JPEG_MAX_DIMENSION)) RaiseWriterError("Failed to save to JPG -1");
    if (modernCoding && surface.IsLive() && width > 0 && height > 0) {
        unsigned char* encoded = nullptr;
        unsigned long encodedSize = 0;
        const std::unique_ptr<unsigned char*, void (*)(unsigned char**)> release(
            &encoded, [](unsigned char** buffer) { std::free(*buffer); });
        if (!CompressModern(surface, static_cast<int>(quality), encoded, encodedSize))
            RaiseWriterError("Failed to save to JPG -1");
        return WriteWithSegments(target, encoded, encodedSize, segments);
    }
    // The worst case for the picture; an empty picture has none and fails below.
    const unsigned long worstCase = width > 0 && height > 0 ? tjBufSize(width, height, TJSAMP_420) : 0;
    thread_local EncodeBuffer output;
    unsigned char* encoded = worstCase != static_cast<unsigned long>(-1) && worstCase < INT32_MAX
                                 ? output.Reserve(worstCase)
                                 : nullptr;
    unsigned long encodedSize = output.Capacity();
    // Straight from the surface: its row length includes the row-end bytes,
    // and the bottom-up flag handles the row order, so nothing is copied.
    const int r = tjCompress2(compressor, surface.DIBSectionBitsPtr(), width,
                              surface.IsLive() ? surface.BytesPerScanLine() : 0, height, TJPF_BGR, &encoded,
                              &encodedSize, TJSAMP_420, quality, TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
    if (r != 0) {
        Refuse(std::string("the JPEG encoder failed: ") + tjGetErrorStr2(compressor));
        RaiseWriterError("Failed to save to JPG " + std::to_string(r));
    }
    return WriteWithSegments(target, encoded, encodedSize, segments);
}

}  // namespace

bool LoadPictureFile(cDIBSection& surface, const std::string& path)
{
    try {
        return LoadPicture(path, surface);
    } catch (...) {
        return false;
    }
}

bool LoadPictureFile(cDIBSection& surface, const std::string& path, PictureMetadata& metadata,
                     bool autoOrient, const ShrinkTarget& target, AlphaPlane* alpha)
{
    try {
        return LoadPicture(path, surface, metadata, autoOrient, target, alpha);
    } catch (...) {
        return false;
    }
}

bool ResampleSurface(cDIBSection& surface, Long lNewWidth, Long lNewHeight)
{
    try {
        std::unique_ptr<cDIBSection> resampled = surface.Resample(lNewHeight, lNewWidth);
        surface = resampled ? std::move(*resampled) : cDIBSection();
        return true;
    } catch (...) {
        return false;
    }
}

bool SaveSurfaceAsJpeg(cDIBSection& surface, const std::string& path, Long lngQuality)
{
    try {
        // An ordinary file there is replaced as if it had been deleted first:
        // the new file does not inherit its permissions or times.
        const bool replaceAsNew = FileExists(path);
        return WriteJpegReplacing(surface, path, lngQuality, !replaceAsNew);
    } catch (...) {
        return false;
    }
}

bool SaveSurfaceAsJpeg(cDIBSection& surface, const std::string& path, Long lngQuality,
                       const PictureMetadata& metadata, bool modernCoding)
{
    try {
        const std::vector<uint8_t> segments = JpegMetadataSegments(metadata);
        const bool replaceAsNew = FileExists(path);
        return WriteJpegReplacing(surface, path, lngQuality, !replaceAsNew, segments, modernCoding);
    } catch (...) {
        return false;
    }
}

bool WriteJpeg(cDIBSection& surface, std::string path, Long quality)
{
    return WriteJpegReplacing(surface, path, quality, true);
}

bool SaveEncodedFile(const std::string& path, std::span<const uint8_t> bytes)
{
    try {
        const bool replaceAsNew = FileExists(path);
        OutputTarget target = InspectTarget(path);
        if (replaceAsNew) target.Existing.reset();
        return ReplaceFileContents(target, EncodedPieces{{bytes, {}, {}}}, target.Existing);
    } catch (...) {
        return false;
    }
}

}  // namespace kx
