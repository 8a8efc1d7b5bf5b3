// PNG rows for the streaming path: libpng inflates the file, read through a
// small buffer, one row at a time. Interlaced pictures take the whole-picture
// path. Text chunks are skipped unread but for the XMP packet, so a file
// full of compressed text costs nothing. libpng reports errors by longjmp,
// so its calls run in the Guarded* functions, which hold no object with a
// destructor.
#include <csetjmp>
#include <cstring>
#include <memory>
#include <vector>

#include "common/modImageInfo.h"
#include "engine/files/DecodeLimits.h"
#include "engine/files/FailureReason.h"
#include "engine/files/ModernDecoders.h"
#include "engine/files/PictureFile.h"
#include "engine/files/PngTransforms.h"
#include "engine/files/RowSources.h"

namespace kx {

namespace {

constexpr int64_t kDeflateMaxExpansion = 1032;  // as the whole-picture decoder
constexpr png_alloc_size_t kMaxChunkBytes = 8 * 1024 * 1024;
constexpr size_t kReadBufferBytes = size_t{64} << 10;

struct FileReader {
    int fd;
    int64_t offset;  // of the buffer's first byte in the file
    std::vector<uint8_t> buffer;
    size_t at = 0, held = 0;
};

void ReadFromFile(png_structp png, png_bytep out, size_t count)
{
    auto* file = static_cast<FileReader*>(png_get_io_ptr(png));
    while (count > 0) {
        if (file->at == file->held) {
            file->offset += static_cast<int64_t>(file->held);
            const int64_t got = ReadAt(file->fd, file->buffer.data(), file->buffer.size(), file->offset);
            if (got <= 0) png_error(png, "file truncated");
            file->at = 0;
            file->held = static_cast<size_t>(got);
        }
        const size_t n = std::min(count, file->held - file->at);
        std::memcpy(out, file->buffer.data() + file->at, n);
        file->at += n;
        out += n;
        count -= n;
    }
}

bool GuardedReadInfo(png_structp png, png_infop info, std::vector<uint8_t>* xmp)
{
    if (setjmp(png_jmpbuf(png))) return false;
    SkipPngText(png, xmp);
    png_read_info(png, info);
    return true;
}

// Reads every row, blends it onto white when it has alpha (or hands the
// alpha over beside the colour, given `alpha`), and hands it over.
bool GuardedRows(png_structp png, png_uint_32 height, int channels, uint8_t* row, uint8_t* bgr,
                 uint8_t* alpha, Long width, RowReducer* reducer)
{
    if (setjmp(png_jmpbuf(png))) return false;
    for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(png, row, nullptr);
        if (channels == 3) {
            reducer->Push(row);
            continue;
        }
        if (alpha) {
            PngRowSplit(row, channels, width, bgr, alpha);
            reducer->Push(bgr, alpha);
            continue;
        }
        PngRowOverWhite(row, channels, width, bgr);
        reducer->Push(bgr);
    }
    return true;
}

struct ReadStructs {
    png_structp png;
    png_infop info;
    ~ReadStructs() { png_destroy_read_struct(&png, &info, nullptr); }
};

}  // namespace

StreamOutcome StreamPng(const PictureSource& file, RowReducer& reducer, PictureMetadata& metadata)
{
    ReadStructs s{png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning), nullptr};
    if (!s.png) return StreamOutcome::WholePicture;
    s.info = png_create_info_struct(s.png);
    if (!s.info) return StreamOutcome::WholePicture;
    FileReader reader{file.Fd, 0, std::vector<uint8_t>(kReadBufferBytes)};
    png_set_read_fn(s.png, &reader, ReadFromFile);
    png_set_user_limits(s.png, static_cast<png_uint_32>(kMaxPictureSide),
                        static_cast<png_uint_32>(kMaxPictureSide));
    png_set_chunk_malloc_max(s.png, kMaxChunkBytes);
    if (!GuardedReadInfo(s.png, s.info, &metadata.Xmp)) return StreamOutcome::WholePicture;

    png_uint_32 width = 0, height = 0;
    int depth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(s.png, s.info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);
    if (!SurfaceSizeAllowed(width, height)) return StreamOutcome::WholePicture;
    const int64_t rawRowBytes = static_cast<int64_t>(png_get_rowbytes(s.png, s.info));
    if (int64_t{width} * height > kAlwaysPlausiblePixels &&
        int64_t{height} * (1 + rawRowBytes) / kDeflateMaxExpansion > file.Size)
        return StreamOutcome::WholePicture;
    ReadPngMetadata(s.png, s.info, metadata);
    if (interlace != PNG_INTERLACE_NONE ||
        !reducer.Reduces(static_cast<Long>(width), static_cast<Long>(height), metadata.Orientation))
        return StreamOutcome::WholePicture;

    bool hasAlpha = false;
    size_t rowBytes = 0;
    if (!GuardedSetPngTransforms(s.png, s.info, &hasAlpha, &rowBytes)) return StreamOutcome::WholePicture;
    const int channels = !hasAlpha ? 3 : (colourType & PNG_COLOR_MASK_COLOR) ? 4 : 2;
    if (rowBytes != static_cast<size_t>(width) * channels) return StreamOutcome::WholePicture;
    const bool keepAlpha = hasAlpha && reducer.KeepsAlpha();
    if (keepAlpha) reducer.WithAlpha();
    // libpng's rows (this one and the one before, unfiltered) and its inflater.
    // The metadata read with the header is held beside them.
    const int64_t libraryBytes =
        2 * (rawRowBytes + 1) + static_cast<int64_t>(rowBytes) + (int64_t{1} << 20) +
        static_cast<int64_t>(metadata.IccProfile.size() + metadata.Exif.size() + metadata.Xmp.size());
    if (!reducer.Start(libraryBytes + static_cast<int64_t>(rowBytes) + int64_t{width} * (keepAlpha ? 4 : 3)))
        return StreamOutcome::Failed;
    std::vector<uint8_t> row(rowBytes), bgr(hasAlpha ? static_cast<size_t>(width) * 3 : 0);
    std::vector<uint8_t> alpha(keepAlpha ? static_cast<size_t>(width) : 0);
    if (!GuardedRows(s.png, height, channels, row.data(), bgr.data(), keepAlpha ? alpha.data() : nullptr,
                     static_cast<Long>(width), &reducer))
        return StreamOutcome::Failed;
    // The file's end may hold the eXIf (older writers put it after the
    // pixels): its orientation is taken where the reduction allows it.
    if (metadata.Exif.empty()) {
        std::vector<uint8_t> tail(static_cast<size_t>(std::min<int64_t>(file.Size, kPngTailBytes)));
        if (ReadAt(file.Fd, tail.data(), tail.size(), file.Size - static_cast<int64_t>(tail.size())) ==
            static_cast<int64_t>(tail.size()))
            TakeLatePngExif(tail, metadata);
        if (!reducer.LateOrientation(metadata.Orientation)) return StreamOutcome::WholePicture;
    }
    return StreamOutcome::Done;
}

}  // namespace kx
