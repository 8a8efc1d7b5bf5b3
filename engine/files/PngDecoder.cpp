// PNG input through libpng's classic API. libpng reports errors by longjmp,
// so every call that can fail runs inside one of the small Guarded* functions
// below: each sets the jump target itself and works on raw pointers only, so
// no C++ object with a destructor lives in a frame that a longjmp skips.
//
// libpng expands palettes, low-bit grey and tRNS, strips 16-bit samples to 8,
// turns grey into RGB and swaps to BGR. Pictures without alpha are read
// straight into the surface's rows; pictures with alpha are read into a
// temporary buffer and blended onto white. No gamma correction is applied.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "common/modImageInfo.h"
#include "engine/files/DecodeLimits.h"
#include "engine/files/FailureReason.h"
#include "engine/files/MemoryBudget.h"
#include "engine/files/MetadataTransfer.h"
#include "engine/files/ModernDecoders.h"
#include "engine/files/PictureDecoders.h"
#include "engine/files/PngTransforms.h"
#include "engine/surface/AlphaPlane.h"

namespace kx {

void OnPngError(png_structp png, png_const_charp message)
{
    SetFailureReasonInCallback("the PNG decoder says: ", message);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void PngRowOverWhite(const uint8_t* in, int channels, Long width, uint8_t* out)
{
    for (Long x = 0; x < width; ++x, in += channels, out += 3) {
        if (channels == 2) {  // grey, alpha
            out[0] = out[1] = out[2] = OverWhite(in[0], in[1]);
        } else {  // blue, green, red, alpha
            out[0] = OverWhite(in[0], in[3]);
            out[1] = OverWhite(in[1], in[3]);
            out[2] = OverWhite(in[2], in[3]);
        }
    }
}

void PngRowSplit(const uint8_t* in, int channels, Long width, uint8_t* bgr, uint8_t* alpha)
{
    for (Long x = 0; x < width; ++x, in += channels, bgr += 3) {
        bgr[0] = in[0];
        bgr[1] = channels == 2 ? in[0] : in[1];
        bgr[2] = channels == 2 ? in[0] : in[2];
        alpha[x] = in[channels - 1];
    }
}

namespace {

// The keyword of the iTXt chunk that holds an XMP packet, with its ending zero.
constexpr std::string_view kXmpKeyword{"XML:com.adobe.xmp", 18};

// Inflates a zlib stream into `out`; false when it is damaged or would pass `limit` bytes.
bool InflateAtMost(std::span<const uint8_t> in, size_t limit, std::vector<uint8_t>& out)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    out.resize(std::min(limit + 1, in.size() * 4 + 256));
    stream.next_in = const_cast<Bytef*>(in.data());
    stream.avail_in = static_cast<uInt>(in.size());
    int status = Z_OK;
    while (status == Z_OK) {
        if (stream.total_out == out.size()) {
            if (out.size() > limit) break;
            out.resize(std::min(limit + 1, out.size() * 2));
        }
        stream.next_out = out.data() + stream.total_out;
        stream.avail_out = static_cast<uInt>(out.size() - stream.total_out);
        status = inflate(&stream, Z_NO_FLUSH);
    }
    inflateEnd(&stream);
    out.resize(stream.total_out);
    return status == Z_STREAM_END && out.size() <= limit;
}

// The packet of an iTXt chunk (keyword, compression flag and method,
// language tag, translated keyword, text) when its keyword is XMP's; the text
// stored or zlib-compressed, counted in the memory budget before it is made.
bool XmpOfItxt(std::span<const uint8_t> data, std::vector<uint8_t>& xmp)
{
    if (data.size() < kXmpKeyword.size() + 2 ||
        !std::equal(kXmpKeyword.begin(), kXmpKeyword.end(), data.begin()))
        return false;
    const uint8_t compressed = data[kXmpKeyword.size()], method = data[kXmpKeyword.size() + 1];
    auto text = data.begin() + static_cast<std::ptrdiff_t>(kXmpKeyword.size()) + 2;
    for (int field = 0; field < 2; ++field) {  // the language tag and the translated keyword
        text = std::find(text, data.end(), uint8_t{0});
        if (text == data.end()) return false;
        ++text;
    }
    const std::span<const uint8_t> packet(text, data.end());
    if (compressed == 0) {
        if (packet.size() > kMaxPngXmpBytes || !CountMorePictureMemory(static_cast<int64_t>(packet.size())))
            return false;
        xmp.assign(packet.begin(), packet.end());
        return true;
    }
    if (compressed != 1 || method != 0 || !CountMorePictureMemory(kMaxPngXmpBytes + 1)) return false;
    if (InflateAtMost(packet, kMaxPngXmpBytes, xmp)) return true;
    xmp.clear();
    return false;
}

// libpng hands over the text chunks here, unread. The first XMP packet is
// taken; every other text chunk, and any other ancillary chunk libpng does
// not know, is dropped. An unknown critical chunk is left to libpng, which
// refuses the file. Nothing is thrown back into libpng.
int OnPngChunk(png_structp png, png_unknown_chunkp chunk)
{
    if ((chunk->name[0] & 0x20) == 0) return 0;
    auto* xmp = static_cast<std::vector<uint8_t>*>(png_get_user_chunk_ptr(png));
    if (!xmp || !xmp->empty() || std::memcmp(chunk->name, "iTXt", 4) != 0) return 1;
    try {
        if (!XmpOfItxt({chunk->data, chunk->size}, *xmp)) xmp->clear();
    } catch (...) {
        xmp->clear();
    }
    return 1;
}

}  // namespace

void SkipPngText(png_structp png, std::vector<uint8_t>* xmp)
{
    static constexpr png_byte kTextChunks[] = "tEXt\0zTXt\0iTXt";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kTextChunks, 3);
    if (xmp) png_set_read_user_chunk_fn(png, xmp, OnPngChunk);
}

void ReadPngMetadata(png_structp png, png_infop info, PictureMetadata& metadata)
{
    png_charp profileName = nullptr;
    png_bytep profile = nullptr;
    png_uint_32 profileBytes = 0;
    int compression = 0;
    if (png_get_iCCP(png, info, &profileName, &compression, &profile, &profileBytes) != 0 && profile)
        metadata.IccProfile.assign(profile, profile + profileBytes);
    png_bytep exif = nullptr;
    png_uint_32 exifBytes = 0;
    if (png_get_eXIf_1(png, info, &exifBytes, &exif) != 0 && exif) {
        metadata.Exif.assign(exif, exif + exifBytes);
        metadata.Orientation = ExifOrientation(metadata.Exif);
    }
}

void TakeLatePngExif(std::span<const uint8_t> tail, PictureMetadata& metadata)
{
    if (!metadata.Exif.empty()) return;
    const std::span<const uint8_t> exif = LatePngExif(tail);
    if (exif.empty() || !CountMorePictureMemory(static_cast<int64_t>(exif.size()))) return;
    metadata.Exif.assign(exif.begin(), exif.end());
    metadata.Orientation = ExifOrientation(metadata.Exif);
}

bool GuardedSetPngTransforms(png_structp png, png_infop info, bool* hasAlpha, size_t* rowBytes)
{
    if (setjmp(png_jmpbuf(png))) return false;
    const int colourType = png_get_color_type(png, info);
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    png_set_strip_16(png);
    *hasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS);
    // Grey with alpha stays two bytes a pixel until it is blended.
    if (!*hasAlpha) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    *rowBytes = png_get_rowbytes(png, info);
    return true;
}

namespace {

// Deflate expands at most 1032:1, so the filtered image data (a filter byte
// and the packed samples of every row) cannot exceed 1032 bytes per byte of
// file.
constexpr int64_t kDeflateMaxExpansion = 1032;

// Ancillary chunks (text, ICC profiles) beyond this are dropped, whatever
// they claim to decompress to.
constexpr png_alloc_size_t kMaxChunkBytes = 8 * 1024 * 1024;
// Ancillary chunks kept beyond this many (sPLT, unknown ones) are dropped.
constexpr png_uint_32 kMaxKeptChunks = 128;

struct MemorySource {
    const uint8_t* data;
    size_t size;
    size_t position;
};

void ReadFromMemory(png_structp png, png_bytep out, size_t count)
{
    auto* source = static_cast<MemorySource*>(png_get_io_ptr(png));
    if (count > source->size - source->position) png_error(png, "file truncated");
    std::memcpy(out, source->data + source->position, count);
    source->position += count;
}

struct ReadStructDeleter {
    void operator()(png_structp png) const { png_destroy_read_struct(&png, nullptr, nullptr); }
};
struct InfoStructDeleter {
    png_structp png;
    void operator()(png_infop info) const { png_destroy_info_struct(png, &info); }
};

struct PngHeader {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colourType = 0;
    size_t rawRowBytes = 0;  // packed samples of one row, before transforms
};

bool GuardedReadHeader(png_structp png, png_infop info, PngHeader* header)
{
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    png_get_IHDR(png, info, &header->width, &header->height, &header->bitDepth, &header->colourType, nullptr,
                 nullptr, nullptr);
    header->rawRowBytes = png_get_rowbytes(png, info);
    return true;
}

bool GuardedReadImage(png_structp png, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    return true;
}

void BlendOntoWhite(const std::vector<uint8_t>& pixels, size_t rowBytes, int channels, cDIBSection& surface)
{
    for (int y = 0; y < surface.Height(); ++y)
        PngRowOverWhite(pixels.data() + static_cast<size_t>(y) * rowBytes, channels, surface.Width(),
                        surface.PictureRow(y));
}

// The colour as stored into the surface and the alpha into its plane.
void SplitAlpha(const std::vector<uint8_t>& pixels, size_t rowBytes, int channels, cDIBSection& surface,
                AlphaPlane& alpha)
{
    for (Long y = 0; y < surface.Height(); ++y)
        PngRowSplit(pixels.data() + static_cast<size_t>(y) * rowBytes, channels, surface.Width(),
                    surface.PictureRow(y), alpha.PictureRow(y));
}

}  // namespace

namespace {

bool DecodePngInto(std::span<const uint8_t> file, cDIBSection& surface, PictureMetadata* metadata,
                   AlphaPlane* alpha)
{
    try {
        if (file.size() < 8 || png_sig_cmp(file.data(), 0, 8) != 0) return false;

        std::unique_ptr<png_struct, ReadStructDeleter> png(
            png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning));
        if (!png) return false;
        std::unique_ptr<png_info, InfoStructDeleter> info(png_create_info_struct(png.get()),
                                                          InfoStructDeleter{png.get()});
        if (!info) return false;

        MemorySource source{file.data(), file.size(), 0};
        png_set_read_fn(png.get(), &source, ReadFromMemory);
        png_set_user_limits(png.get(), static_cast<png_uint_32>(kMaxPictureSide),
                            static_cast<png_uint_32>(kMaxPictureSide));
        png_set_chunk_malloc_max(png.get(), kMaxChunkBytes);
        // Text is not read, however much it claims to inflate to, but for
        // the XMP packet with the metadata; at most so many other chunks are kept.
        SkipPngText(png.get(), metadata ? &metadata->Xmp : nullptr);
        png_set_chunk_cache_max(png.get(), kMaxKeptChunks);

        PngHeader header;
        if (!GuardedReadHeader(png.get(), info.get(), &header)) return false;
        if (metadata) ReadPngMetadata(png.get(), info.get(), *metadata);
        const int64_t width = header.width;
        const int64_t height = header.height;
        if (!SurfaceSizeAllowed(width, height)) return Refuse(TooLargeReason(width, height));
        const int64_t rawBytes = height * (1 + static_cast<int64_t>(header.rawRowBytes));
        if (width * height > kAlwaysPlausiblePixels &&
            rawBytes / kDeflateMaxExpansion > static_cast<int64_t>(file.size()))
            return Refuse("truncated PNG data: too few bytes for its size");

        bool hasAlpha = false;
        size_t rowBytes = 0;
        if (!GuardedSetPngTransforms(png.get(), info.get(), &hasAlpha, &rowBytes)) return false;
        const int channels = !hasAlpha ? 3 : (header.colourType & PNG_COLOR_MASK_COLOR) ? 4 : 2;
        if (rowBytes != static_cast<size_t>(width) * channels) return false;

        // libpng works on two rows (this and the previous one) of up to 8
        // bytes a pixel; a picture with alpha is read whole before blending.
        if (!PictureNeeds()
                 .Bytes(static_cast<int64_t>(file.size()) + kLibraryStateBytes)
                 .Surface(width, height)
                 .Pixels(height, 1, sizeof(png_bytep))
                 .Pixels(width, 2, 8)
                 .Pixels(hasAlpha ? width : 0, height, channels)
                 .Pixels(hasAlpha && alpha ? width : 0, height, 1)
                 .Bytes(metadata ? static_cast<int64_t>(metadata->IccProfile.size() + metadata->Exif.size() +
                                                        metadata->Xmp.size())
                                 : 0)
                 .Reserve())
            return false;
        if (!surface.Create(static_cast<Long>(width), static_cast<Long>(height))) return false;
        std::vector<png_bytep> rows(static_cast<size_t>(height));
        if (!hasAlpha) {
            for (Long y = 0; y < height; ++y) rows[y] = surface.PictureRow(y);
            if (!GuardedReadImage(png.get(), rows.data())) return false;
        } else {
            std::vector<uint8_t> pixels(rowBytes * static_cast<size_t>(height));
            for (Long y = 0; y < height; ++y) rows[y] = pixels.data() + static_cast<size_t>(y) * rowBytes;
            if (!GuardedReadImage(png.get(), rows.data())) return false;
            if (alpha && alpha->Create(surface.Width(), surface.Height()))
                SplitAlpha(pixels, rowBytes, channels, surface, *alpha);
            else
                BlendOntoWhite(pixels, rowBytes, channels, surface);
        }
        // The loader turns the picture for an eXIf found after the pixels too.
        if (metadata)
            TakeLatePngExif(file.subspan(file.size() - std::min<size_t>(file.size(), kPngTailBytes)),
                            *metadata);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

bool DecodePng(std::span<const uint8_t> file, cDIBSection& surface)
{
    return DecodePngInto(file, surface, nullptr, nullptr);
}

bool DecodePng(std::span<const uint8_t> file, cDIBSection& surface, PictureMetadata& metadata,
               AlphaPlane* alpha)
{
    metadata = PictureMetadata{};
    return DecodePngInto(file, surface, &metadata, alpha);
}

}  // namespace kx
