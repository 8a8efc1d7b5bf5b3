// The probe's readers for today's formats: HEIF/AVIF, WebP and TIFF.
#include <libheif/heif.h>

#include <array>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/ByteOrder.h"
#include "common/RunTimeError.h"
#include "common/modImageInfo.h"

namespace kx {

namespace {

// The loader's limits (the engine's DecodeLimits.h): a side of at most
// kMaxProbedSide, the memory HeldOrStreamed allows, and no more than 65,536
// pixels for each byte of the file beyond the first megapixel.
bool LoaderTakes(int64_t width, int64_t height, const detail::ProbeFile& file)
{
    if (width <= 0 || height <= 0 || width > kMaxProbedSide || height > kMaxProbedSide) return false;
    if (!detail::HeldOrStreamed(file, width, height)) return false;
    return width * height <= (int64_t{1} << 20) || width * height / 65536 <= file.Length();
}

constexpr std::array<std::string_view, 6> kHevcBrands = {"heic", "heix", "heim", "heis", "hevc", "hevx"};
constexpr std::array<std::string_view, 3> kGenericBrands = {"mif1", "msf1", "mif2"};
constexpr std::array<std::string_view, 2> kAvifBrands = {"avif", "avis"};

template <size_t N>
bool OneOf(const std::array<std::string_view, N>& list, std::string_view brand)
{
    for (std::string_view b : list)
        if (b == brand) return true;
    return false;
}

// libheif reads the file through the probe's cache.
struct HeifSource {
    detail::ProbeFile& file;
    int64_t position = 0;
};

int64_t HeifPosition(void* user) { return static_cast<HeifSource*>(user)->position; }

int HeifRead(void* data, size_t size, void* user)
{
    auto* source = static_cast<HeifSource*>(user);
    auto* out = static_cast<uint8_t*>(data);
    try {
        while (size > 0) {
            const std::span<const uint8_t> block = source->file.Block(source->position);
            const size_t n = std::min(size, block.size());
            std::memcpy(out, block.data(), n);
            out += n;
            size -= n;
            source->position += static_cast<int64_t>(n);
        }
        return 0;
    } catch (const RunTimeError&) {
        return 1;
    }
}

int HeifSeek(int64_t position, void* user)
{
    auto* source = static_cast<HeifSource*>(user);
    if (position < 0 || position > source->file.Length()) return 1;
    source->position = position;
    return 0;
}

heif_reader_grow_status HeifWait(int64_t size, void* user)
{
    return size <= static_cast<HeifSource*>(user)->file.Length() ? heif_reader_grow_status_size_reached
                                                                 : heif_reader_grow_status_size_beyond_eof;
}

struct HeifContextDeleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HeifHandleDeleter {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};

}  // namespace

bool LooksLikeHeif(std::span<const uint8_t> head, bool* isAvif)
{
    if (head.size() < 16 || std::memcmp(head.data() + 4, "ftyp", 4) != 0) return false;
    const uint32_t boxSize = BigEndian32(head.data());
    if (boxSize < 16 || boxSize > head.size() || boxSize > 4096) return false;
    const auto brandAt = [&](size_t at) {
        return std::string_view(reinterpret_cast<const char*>(head.data() + at), 4);
    };
    // The major brand, then the compatible brands after the minor version.
    bool hevc = false, generic = false, avif = false;
    for (size_t at = 8; at + 4 <= boxSize; at += at == 8 ? 8 : 4) {
        hevc = hevc || OneOf(kHevcBrands, brandAt(at));
        generic = generic || OneOf(kGenericBrands, brandAt(at));
        avif = avif || OneOf(kAvifBrands, brandAt(at));
    }
    // AV1 when the major brand says so, or when only AVIF names a codec.
    if (isAvif) *isAvif = OneOf(kAvifBrands, brandAt(8)) || (avif && !hevc);
    return hevc || generic || avif;
}

bool LooksLikeWebp(std::span<const uint8_t> head)
{
    return head.size() >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0 &&
           std::memcmp(head.data() + 8, "WEBP", 4) == 0;
}

bool LooksLikeTiff(std::span<const uint8_t> head)
{
    return head.size() >= 8 &&
           (std::memcmp(head.data(), "II*\0", 4) == 0 || std::memcmp(head.data(), "MM\0*", 4) == 0);
}

std::span<const uint8_t> LatePngExif(std::span<const uint8_t> tail)
{
    const auto lengthAt = [&](size_t at) {
        return size_t{tail[at]} << 24 | size_t{tail[at + 1]} << 16 | size_t{tail[at + 2]} << 8 | tail[at + 3];
    };
    const auto typeAt = [&](size_t at, const char* type) { return std::memcmp(&tail[at + 4], type, 4) == 0; };
    // Whole chunks from `exif` lead to IEND, none of them IDAT.
    const auto leadsToEnd = [&](size_t exif) {
        size_t chunk = exif;
        for (int count = 0;
             count < detail::kMaxProbedChunks && chunk + 12 <= tail.size() && !typeAt(chunk, "IDAT");
             ++count) {
            const size_t length = lengthAt(chunk);
            if (typeAt(chunk, "IEND")) return length == 0;
            if (length > tail.size() - chunk - 12) return false;
            chunk += 12 + length;
        }
        return false;
    };
    // The candidate nearest the end counts; memchr finds the first letters fast.
    std::span<const uint8_t> found;
    for (size_t from = 4; from + 8 <= tail.size();) {
        const void* hit = std::memchr(tail.data() + from, 'e', tail.size() - from - 7);
        if (hit == nullptr) break;
        const size_t exif = static_cast<size_t>(static_cast<const uint8_t*>(hit) - tail.data()) - 4;
        if (typeAt(exif, "eXIf") && leadsToEnd(exif)) found = tail.subspan(exif + 8, lengthAt(exif));
        from = exif + 5;
    }
    return found;
}

namespace detail {

ImageInfo GetHEIFInfo(ProbeFile& file, bool avif)
{
    ImageInfo info;
    try {
        if (!heif_have_decoder_for_format(avif ? heif_compression_AV1 : heif_compression_HEVC)) return info;
        std::unique_ptr<heif_context, HeifContextDeleter> context(heif_context_alloc());
        if (!context) return info;
        static const heif_reader reader{1, HeifPosition, HeifRead, HeifSeek, HeifWait};
        HeifSource source{file};
        if (heif_context_read_from_reader(context.get(), &reader, &source, nullptr).code != heif_error_Ok)
            return info;
        heif_image_handle* raw = nullptr;
        if (heif_context_get_primary_image_handle(context.get(), &raw).code != heif_error_Ok) return info;
        const std::unique_ptr<heif_image_handle, HeifHandleDeleter> handle(raw);
        // The size after the container's rotation, mirroring and crop.
        const int width = heif_image_handle_get_width(handle.get());
        const int height = heif_image_handle_get_height(handle.get());
        if (!LoaderTakes(width, height, file)) return info;
        const int bits = heif_image_handle_get_luma_bits_per_pixel(handle.get());
        const int channels = heif_image_handle_has_alpha_channel(handle.get()) ? 4 : 3;
        info.ImageType = avif ? ImageTypeAVIF : ImageTypeHEIF;
        info.Width = width;
        info.Height = height;
        info.BitDepth = static_cast<uint8_t>(bits > 0 && bits <= 16 ? bits * channels : 8 * channels);
    } catch (...) {
        info = ImageInfo{};
    }
    return info;
}

ImageInfo GetWEBPInfo(ProbeFile& file)
{
    ImageInfo info;
    try {
        const auto le16 = [&](int64_t at) { return uint32_t{file.At(at)} | uint32_t{file.At(at + 1)} << 8; };
        const auto le24 = [&](int64_t at) { return le16(at) | uint32_t{file.At(at + 2)} << 16; };
        const auto le32 = [&](int64_t at) { return le24(at) | uint32_t{file.At(at + 3)} << 24; };
        const auto tag = [&](const char* fourcc) {
            for (int i = 0; i < 4; ++i)
                if (file.At(12 + i) != static_cast<uint8_t>(fourcc[i])) return false;
            return true;
        };
        // The first chunk after "WEBP" (at 12) has its data at 20.
        int64_t width = 0, height = 0;
        bool alpha = false;
        if (tag("VP8X")) {  // extended: the canvas size, one less, 24 bits each
            alpha = (file.At(20) & 0x10) != 0;
            width = int64_t{le24(24)} + 1;
            height = int64_t{le24(27)} + 1;
        } else if (tag("VP8L")) {  // lossless: signature 0x2F, then 14-bit sizes less one
            if (file.At(20) != 0x2F) return info;
            const uint32_t bits = le32(21);
            width = int64_t{bits & 0x3FFF} + 1;
            height = int64_t{(bits >> 14) & 0x3FFF} + 1;
            alpha = ((bits >> 28) & 1) != 0;
        } else if (tag("VP8 ")) {  // lossy: a key frame's start code, then 14-bit sizes
            if (file.At(23) != 0x9D || file.At(24) != 0x01 || file.At(25) != 0x2A) return info;
            width = le16(26) & 0x3FFF;
            height = le16(28) & 0x3FFF;
        } else {
            return info;
        }
        if (!LoaderTakes(width, height, file)) return info;
        // The EXIF chunk of an extended file may turn the picture; some
        // writers keep the JPEG "Exif\0\0" prefix.
        if (tag("VP8X") && (file.At(20) & 0x08) != 0) {
            int64_t chunk = 12;
            for (int count = 0; count < kMaxProbedChunks && chunk + 8 <= file.Length(); ++count) {
                const int64_t length = le32(chunk + 4);
                if (file.At(chunk) == 'E' && file.At(chunk + 1) == 'X' && file.At(chunk + 2) == 'I' &&
                    file.At(chunk + 3) == 'F') {
                    const bool prefixed =
                        length >= 6 && file.At(chunk + 8) == 'E' && file.At(chunk + 9) == 'x';
                    info.Orientation = prefixed ? ReadExifOrientation(file, chunk + 8, length)
                                                : ReadTiffOrientation(file, chunk + 8, length);
                    break;
                }
                chunk += 8 + length + length % 2;
            }
        }
        if (info.Orientation >= 5) std::swap(width, height);
        info.ImageType = ImageTypeWEBP;
        info.Width = static_cast<int32_t>(width);
        info.Height = static_cast<int32_t>(height);
        info.BitDepth = alpha ? 32 : 24;
    } catch (const RunTimeError&) {
        info = ImageInfo{};
    }
    return info;
}

ImageInfo GetTIFFInfo(ProbeFile& file)
{
    ImageInfo info;
    try {
        const bool little = file.At(0) == 'I';
        const auto u16 = [&](int64_t at) {
            const uint32_t a = file.At(at), b = file.At(at + 1);
            return little ? a | b << 8 : a << 8 | b;
        };
        const auto u32 = [&](int64_t at) {
            return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
        };
        const int64_t ifd = u32(4);
        const uint32_t entries = u16(ifd);
        int64_t width = 0, height = 0, orientation = 1, samples = 1, bits = 1;
        for (uint32_t i = 0; i < entries; ++i) {
            const int64_t entry = ifd + 2 + int64_t{12} * i;
            const uint32_t tag = u16(entry), type = u16(entry + 2), count = u32(entry + 4);
            if (count == 0) continue;
            // A SHORT or LONG held in the entry itself; BitsPerSample with
            // more than two values points at them.
            int64_t value = 0;
            if (type == 3)
                value = count <= 2 ? u16(entry + 8) : u16(u32(entry + 8));
            else if (type == 4)
                value = count == 1 ? u32(entry + 8) : u32(u32(entry + 8));
            else
                continue;
            switch (tag) {
            case 256: width = value; break;
            case 257: height = value; break;
            case 258: bits = value; break;
            case 274: orientation = value; break;
            case 277: samples = value; break;
            default: break;
            }
        }
        if (!LoaderTakes(width, height, file)) return info;
        // Orientations 5 to 8 turn the picture a quarter: the upright one is
        // as wide as the stored one is high.
        if (orientation < 1 || orientation > 8) orientation = 1;
        if (orientation >= 5) std::swap(width, height);
        info.ImageType = ImageTypeTIFF;
        info.Orientation = static_cast<uint8_t>(orientation);
        info.Width = static_cast<int32_t>(width);
        info.Height = static_cast<int32_t>(height);
        info.BitDepth = static_cast<uint8_t>(std::min<int64_t>(bits * samples, 255));
    } catch (const RunTimeError&) {
        info = ImageInfo{};
    }
    return info;
}

}  // namespace detail

}  // namespace kx
