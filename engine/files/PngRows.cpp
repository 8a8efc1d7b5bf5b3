// PNG rows for the streaming path: libpng reads the header and the chunks
// before the image data, through a small buffer. The image data of 8-bit RGB
// and RGBA pictures is then read here (IdatRows: zlib inflates it, and
// UnfilterPngRow undoes the filters a whole pixel at a time, where libpng
// goes a byte at a time, on the reducing thread when there is one); other
// pictures' rows come from libpng one at a time. Interlaced pictures take the whole-picture path. Text chunks are
// skipped unread but for the XMP packet, so a file full of compressed text
// costs nothing. libpng
// reports errors by longjmp, so its calls run in the Guarded* functions,
// which hold no object with a destructor.
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/ByteOrder.h"
#include "common/modImageInfo.h"
#include "engine/files/DecodeLimits.h"
#include "engine/files/FailureReason.h"
#include "engine/files/ModernDecoders.h"
#include "engine/files/PictureFile.h"
#include "engine/files/PngFilters.h"
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

// Some unread bytes in the buffer; false when the file has no more.
bool Refill(FileReader& file)
{
    if (file.at < file.held) return true;
    file.offset += static_cast<int64_t>(file.held);
    const int64_t got = ReadAt(file.fd, file.buffer.data(), file.buffer.size(), file.offset);
    if (got <= 0) return false;
    file.at = 0;
    file.held = static_cast<size_t>(got);
    return true;
}

bool ReadBytes(FileReader& file, uint8_t* out, size_t count)
{
    while (count > 0) {
        if (!Refill(file)) return false;
        const size_t n = std::min(count, file.held - file.at);
        std::memcpy(out, file.buffer.data() + file.at, n);
        file.at += n;
        out += n;
        count -= n;
    }
    return true;
}

void ReadFromFile(png_structp png, png_bytep out, size_t count)
{
    if (!ReadBytes(*static_cast<FileReader*>(png_get_io_ptr(png)), out, count))
        png_error(png, "file truncated");
}

// The image data read past libpng, once png_read_info has stopped after the
// first IDAT chunk's length and type: the IDAT chunks, their CRCs checked,
// inflated into rows as stored (filter byte first). Every check libpng makes
// on the way is made, with libpng's message: the CRCs, a chunk longer than
// the image could need, zlib's errors (the checksum among them), too little
// data and unknown filters. After the last row, the stream is inflated on
// to its end and checksum; extra data, an error there or a chunk other than
// IDAT first only warn in libpng, and pass here too.
class IdatRows {
public:
    IdatRows(FileReader& file, int64_t height, size_t rawRowBytes)
        : file_(file)
        , row_(rawRowBytes + 1)
    {
        // libpng's bound: the filtered rows and deflate's overhead.
        const int64_t data = height * static_cast<int64_t>(rawRowBytes + 1);
        const int64_t overhead =
            6 + 5 * (data / std::min<int64_t>(static_cast<int64_t>(rawRowBytes + 1), 32566) + 1);
        chunkLimit_ = std::min<int64_t>(data + overhead, 0x7FFFFFFF);
    }
    ~IdatRows()
    {
        if (started_) inflateEnd(&z_);
    }
    IdatRows(const IdatRows&) = delete;
    IdatRows& operator=(const IdatRows&) = delete;

    // False when the file does not show the first chunk's length and type
    // just before where libpng stopped reading (libpng then reads the rows).
    bool Start()
    {
        const int64_t at = file_.offset + static_cast<int64_t>(file_.at);
        uint8_t header[8];
        if (at < 8 || ReadAt(file_.fd, header, 8, at - 8) != 8 || std::memcmp(header + 4, "IDAT", 4) != 0)
            return false;
        left_ = BigEndian32(header);
        crc_ = crc32(0, header + 4, 4);
        started_ = inflateInit2(&z_, 0) == Z_OK;  // the window the stream's header gives, as libpng
        return started_;
    }

    // The next row as stored: its filter byte (0 to 4), then its filtered
    // bytes; nullptr with the failure reason set.
    const uint8_t* Next()
    {
        z_.next_out = row_.data();
        z_.avail_out = static_cast<uInt>(row_.size());
        while (z_.avail_out > 0) {
            if (ended_ || (z_.avail_in == 0 && !Input()))
                return failed_ ? nullptr : Fail("Not enough image data");
            const int result = inflate(&z_, Z_NO_FLUSH);
            if (result == Z_STREAM_END)
                ended_ = true;
            else if (result != Z_OK)
                return Fail(std::string("IDAT: ") + (z_.msg                  ? z_.msg
                                                     : result == Z_NEED_DICT ? "missing LZ dictionary"
                                                     : result == Z_MEM_ERROR ? "insufficient memory"
                                                                             : "damaged LZ stream"));
        }
        return row_[0] <= 4 ? row_.data() : Fail("bad adaptive filter value");
    }

    // After the last row: the rest of the stream is inflated, to its end
    // and checksum; what does not fit, an error in it or a chunk other than
    // IDAT before its end stops that, as a warning stops libpng. Then the
    // CRC of the chunk the data ends in.
    bool Finish()
    {
        uint8_t spare[1024];
        while (!ended_ && (z_.avail_in > 0 || Input())) {
            z_.next_out = spare;
            z_.avail_out = sizeof spare;
            const int result = inflate(&z_, Z_NO_FLUSH);
            if (result != Z_OK || z_.avail_out == 0) break;
        }
        if (failed_) return false;
        if (afterData_) return true;
        while (left_ > 0) {
            if (!Refill(file_)) return Fail("file truncated"), false;
            const size_t n = std::min<size_t>(left_, file_.held - file_.at);
            crc_ = crc32(crc_, file_.buffer.data() + file_.at, static_cast<uInt>(n));
            file_.at += n;
            left_ -= static_cast<uint32_t>(n);
        }
        return CheckCrc();
    }

private:
    const uint8_t* Fail(const std::string& message)
    {
        failed_ = true;
        SetFailureReason("the PNG decoder says: " + message);
        return nullptr;
    }

    bool CheckCrc()
    {
        uint8_t stored[4];
        if (!ReadBytes(file_, stored, 4)) return Fail("file truncated"), false;
        if (BigEndian32(stored) != crc_) return Fail("IDAT: CRC error"), false;
        return true;
    }

    // Gives zlib the next bytes of image data. False on an error (failed_)
    // or when the next chunk is not IDAT (afterData_).
    bool Input()
    {
        while (left_ == 0) {
            uint8_t header[8];
            if (afterData_ || !CheckCrc()) return false;
            if (!ReadBytes(file_, header, 8)) return Fail("file truncated"), false;
            if (std::memcmp(header + 4, "IDAT", 4) != 0) return afterData_ = true, false;
            const uint32_t length = BigEndian32(header);
            if (length > 0x7FFFFFFF) return Fail("PNG unsigned integer out of range"), false;
            if (length > chunkLimit_) return Fail("IDAT: chunk data is too large"), false;
            left_ = length;
            crc_ = crc32(0, header + 4, 4);
        }
        if (!Refill(file_)) return Fail("file truncated"), false;
        const size_t n = std::min<size_t>(left_, file_.held - file_.at);
        z_.next_in = file_.buffer.data() + file_.at;
        z_.avail_in = static_cast<uInt>(n);
        crc_ = crc32(crc_, z_.next_in, static_cast<uInt>(n));
        file_.at += n;
        left_ -= static_cast<uint32_t>(n);
        return true;
    }

    FileReader& file_;
    std::vector<uint8_t> row_;
    z_stream z_{};
    bool started_ = false, ended_ = false, afterData_ = false, failed_ = false;
    uint32_t left_ = 0;  // bytes of the chunk not yet given to zlib
    uint32_t crc_ = 0;
    int64_t chunkLimit_ = 0;
};

bool GuardedReadInfo(png_structp png, png_infop info, std::vector<uint8_t>* xmp)
{
    if (setjmp(png_jmpbuf(png))) return false;
    SkipPngText(png, xmp);
    png_read_info(png, info);
    return true;
}

// Hands a row of BGR, or of BGRA or grey and alpha (`channels` 4 or 2),
// over: blended onto white, or with its alpha beside the colour given
// `alpha`. Every colour channel is treated alike, so RGB rows go the same way.
void HandOver(const uint8_t* row, int channels, Long width, uint8_t* bgr, uint8_t* alpha, RowReducer& reducer)
{
    if (channels == 3) {
        reducer.Push(row);
    } else if (alpha) {
        PngRowSplit(row, channels, width, bgr, alpha);
        reducer.Push(bgr, alpha);
    } else {
        PngRowOverWhite(row, channels, width, bgr);
        reducer.Push(bgr);
    }
}

bool GuardedRows(png_structp png, png_uint_32 height, int channels, uint8_t* row, uint8_t* bgr,
                 uint8_t* alpha, Long width, RowReducer* reducer)
{
    if (setjmp(png_jmpbuf(png))) return false;
    for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(png, row, nullptr);
        HandOver(row, channels, width, bgr, alpha, *reducer);
    }
    return true;
}

// Undoes the filters of IdatRows' rows (RGB or RGBA, `channels` 3 or 4)
// and hands them over as GuardedRows hands libpng's over, but red first
// (the reducer turns the result): the reducer's Prepare step, on its thread
// when it has one.
class Unfiltering {
public:
    Unfiltering(Long width, int channels, bool keepAlpha, RowReducer& reducer)
        : width_(width)
        , channels_(channels)
        , bytes_(static_cast<size_t>(width) * channels)
        , rows_{std::vector<uint8_t>(bytes_), std::vector<uint8_t>(bytes_)}
        , rgb_(channels == 4 ? static_cast<size_t>(width) * 3 : 0)
        , alpha_(keepAlpha ? static_cast<size_t>(width) : 0)
        , reducer_(reducer)
    {
        reducer.RedFirst();
    }

    void operator()(const uint8_t* raw)
    {
        uint8_t* row = rows_[current_].data();
        current_ ^= 1;
        UnfilterPngRow(raw[0], raw + 1, row, rows_[current_].data(), bytes_, channels_);
        HandOver(row, channels_, width_, rgb_.data(), alpha_.empty() ? nullptr : alpha_.data(), reducer_);
    }

private:
    Long width_;
    int channels_;
    size_t bytes_;
    std::vector<uint8_t> rows_[2];  // this row and the one above, unfiltered
    int current_ = 0;
    std::vector<uint8_t> rgb_, alpha_;
    RowReducer& reducer_;
};

bool OwnRows(IdatRows& rows, Long height, RowReducer& reducer)
{
    for (Long y = 0; y < height; ++y) {
        const uint8_t* raw = rows.Next();
        if (!raw) return false;
        reducer.PushRaw(raw);
    }
    return rows.Finish();
}

struct ReadStructs {
    png_structp png;
    png_infop info;
    ~ReadStructs() { png_destroy_read_struct(&png, &info, nullptr); }
};

// The file's end may hold the eXIf (older writers put it after the pixels):
// its orientation is taken where the reduction allows it, else the picture is
// read again whole.
StreamOutcome TakeLateOrientation(const PictureSource& file, PictureMetadata& metadata, RowReducer& reducer)
{
    if (!metadata.Exif.empty()) return StreamOutcome::Done;
    std::vector<uint8_t> tail(static_cast<size_t>(std::min<int64_t>(file.Size, kPngTailBytes)));
    if (ReadAt(file.Fd, tail.data(), tail.size(), file.Size - static_cast<int64_t>(tail.size())) ==
        static_cast<int64_t>(tail.size()))
        TakeLatePngExif(tail, metadata);
    return reducer.LateOrientation(metadata.Orientation) ? StreamOutcome::Done : StreamOutcome::WholePicture;
}

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
    if (!StreamedSizeAllowed(width, height, file.Size)) return StreamOutcome::WholePicture;
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
    // 8-bit RGB and RGBA rows are read here, the others by libpng.
    const bool own =
        depth == 8 && (colourType == PNG_COLOR_TYPE_RGB_ALPHA ||
                       (colourType == PNG_COLOR_TYPE_RGB && !png_get_valid(s.png, s.info, PNG_INFO_tRNS)));
    // libpng's rows (this one and the one before, unfiltered) and its
    // inflater, and as many rows again for IdatRows and Unfiltering. The
    // metadata read with the header is held beside them.
    const int64_t libraryBytes =
        2 * (rawRowBytes + 1) * (own ? 2 : 1) + static_cast<int64_t>(rowBytes) + (int64_t{1} << 20) +
        static_cast<int64_t>(metadata.IccProfile.size() + metadata.Exif.size() + metadata.Xmp.size());
    if (!reducer.Start(libraryBytes + static_cast<int64_t>(rowBytes) + int64_t{width} * (keepAlpha ? 4 : 3),
                       own ? static_cast<size_t>(rawRowBytes) + 1 : 0))
        return StreamOutcome::Failed;
    if (own) {
        IdatRows rows(reader, height, static_cast<size_t>(rawRowBytes));
        if (rows.Start()) {
            auto unfiltering = std::make_shared<Unfiltering>(width, channels, keepAlpha, reducer);
            reducer.PrepareWith([unfiltering](const uint8_t* raw) { (*unfiltering)(raw); });
            if (!OwnRows(rows, height, reducer)) return StreamOutcome::Failed;
            return TakeLateOrientation(file, metadata, reducer);
        }
    }
    std::vector<uint8_t> row(rowBytes), bgr(hasAlpha ? static_cast<size_t>(width) * 3 : 0);
    std::vector<uint8_t> alpha(keepAlpha ? static_cast<size_t>(width) : 0);
    if (!GuardedRows(s.png, height, channels, row.data(), bgr.data(), keepAlpha ? alpha.data() : nullptr,
                     static_cast<Long>(width), &reducer))
        return StreamOutcome::Failed;
    return TakeLateOrientation(file, metadata, reducer);
}

}  // namespace kx
