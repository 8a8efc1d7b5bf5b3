// BMP decoding straight into a cDIBSection. Every header field is checked
// before the surface is allocated; pixel data is read through ByteReader, so a
// damaged file can at worst give a partly black picture or a refusal.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/files/ByteReader.h"
#include "engine/files/DecodeLimits.h"
#include "engine/files/FailureReason.h"
#include "engine/files/MemoryBudget.h"
#include "engine/files/PictureDecoders.h"

namespace kx {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;  // OS/2 1.x: 16-bit sizes, BGR palette
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kV4HeaderSize = 108;
constexpr uint32_t kV5HeaderSize = 124;
// OS/2 2.x headers may stop at any field between 16 and 64 bytes.
constexpr uint32_t kOs2MinHeaderSize = 16;
constexpr uint32_t kOs2MaxHeaderSize = 64;

enum Compression : uint32_t {
    kRgb = 0,
    kRle8 = 1,
    kRle4 = 2,
    kBitFields = 3,  // OS/2 2.x: Huffman 1D, which we do not read
    kJpeg = 4,       // OS/2 2.x: RLE24, which we do not read either
    kPng = 5,
    kAlphaBitFields = 6,
};

// An RLE stream can skip pixels with end-of-line, delta and end-of-bitmap
// escapes, so it has no real upper bound of pixels per byte. 8192 still lets
// a file that spends a 2-byte end-of-line on each row of up to 16384 pixels
// through, while a few bytes can no longer claim a giant picture.
constexpr int64_t kRleMaxPixelsPerByte = 8192;

struct Rgb {
    uint8_t b = 0, g = 0, r = 0;
};

// One colour channel of a 16- or 32-bit pixel: the bits under the mask,
// shifted down, scaled so that the mask's largest value becomes 255.
class Channel {
public:
    Channel() = default;
    explicit Channel(uint32_t mask)
        : mask_(mask)
        , shift_(mask ? std::countr_zero(mask) : 0)
        , max_(mask >> shift_)
    {}

    uint8_t operator()(uint32_t pixel) const
    {
        if (max_ == 0) return 0;
        const uint64_t v = (pixel & mask_) >> shift_;
        if (max_ == 255) return static_cast<uint8_t>(v);
        return static_cast<uint8_t>((v * 255 + max_ / 2) / max_);
    }

private:
    uint32_t mask_ = 0;
    int shift_ = 0;
    uint64_t max_ = 0;
};

struct BmpLayout {
    int64_t width = 0;
    int64_t height = 0;  // always positive; topDown tells the row order
    bool topDown = false;
    uint16_t bitCount = 0;
    uint32_t compression = kRgb;
    size_t dataOffset = 0;
    // Entries beyond the file's palette stay black.
    std::array<Rgb, 256> palette{};
    Channel red, green, blue;
};

bool IsInfoLikeHeader(uint32_t size)
{
    return (size >= kOs2MinHeaderSize && size <= kOs2MaxHeaderSize) || size == kV4HeaderSize ||
           size == kV5HeaderSize;
}

// Windows headers (40, 52, 56, V4, V5) against OS/2 2.x ones, whose
// compression numbers 3 and 4 mean other coders. A 40-byte OS/2 2.x header
// cannot be told apart and is read as a Windows one.
bool IsWindowsHeader(uint32_t size)
{
    return size == kInfoHeaderSize || size == 52 || size == 56 || size == kV4HeaderSize ||
           size == kV5HeaderSize;
}

bool CompressionFits(uint32_t compression, uint16_t bits, bool windows)
{
    switch (compression) {
    case kRgb: return true;
    case kRle8: return bits == 8;
    case kRle4: return bits == 4;
    case kBitFields:
    case kAlphaBitFields: return windows && (bits == 16 || bits == 32);
    default: return false;  // JPEG, PNG, Huffman, RLE24, CMYK variants
    }
}

// Reads and checks both headers, the masks and the palette from `head`, the
// file's first bytes (all of it for the decoder), against the file's real
// size. Nothing is allocated here; a false result means the file is refused.
bool ParseLayout(std::span<const uint8_t> head, int64_t fileSize, BmpLayout& layout)
{
    ByteReader in(head);
    const auto b = in.U8();
    const auto m = in.U8();
    if (!b || !m || *b != 'B' || *m != 'M') return false;
    // The file size field is unreliable in the wild; the real size counts.
    if (!in.Skip(8)) return false;
    const auto dataOffset = in.U32LE();
    const auto headerSize = in.U32LE();
    if (!dataOffset || !headerSize) return false;
    if (*headerSize != kCoreHeaderSize && !IsInfoLikeHeader(*headerSize)) return false;
    const auto headerBytes = ByteReader(head, kFileHeaderSize).Bytes(*headerSize);
    if (!headerBytes) return false;

    // Read from the header's own bytes, so that the fields a short OS/2 2.x
    // header leaves out come back empty and default to 0.
    ByteReader h(*headerBytes, 4);
    const bool core = *headerSize == kCoreHeaderSize;
    const bool windows = IsWindowsHeader(*headerSize);
    uint16_t planes = 0;
    uint32_t colorsUsed = 0;
    std::array<uint32_t, 3> masks{};  // red, green, blue
    size_t masksAfterHeader = 0;
    if (core) {
        layout.width = *h.U16LE();
        layout.height = *h.U16LE();
        planes = *h.U16LE();
        layout.bitCount = *h.U16LE();
    } else {
        layout.width = *h.I32LE();
        layout.height = *h.I32LE();
        planes = *h.U16LE();
        layout.bitCount = *h.U16LE();
        layout.compression = h.U32LE().value_or(kRgb);
        // Image size and resolution (20..35) are not needed.
        colorsUsed = ByteReader(*headerBytes, 32).U32LE().value_or(0);
        const bool bitFields = layout.compression == kBitFields || layout.compression == kAlphaBitFields;
        if (windows && *headerSize >= 52) {
            // 52-byte and longer headers carry the masks themselves.
            ByteReader inHeader(*headerBytes, 40);
            for (auto& mask : masks) mask = *inHeader.U32LE();
        } else if (*headerSize == kInfoHeaderSize && bitFields) {
            // A 40-byte header is followed by the masks (and alpha's, ignored).
            masksAfterHeader = layout.compression == kBitFields ? 12 : 16;
            ByteReader after(head, kFileHeaderSize + *headerSize);
            for (auto& mask : masks) {
                const auto v = after.U32LE();
                if (!v) return false;
                mask = *v;
            }
        }
    }

    if (layout.height < 0) {
        layout.topDown = true;
        layout.height = -layout.height;  // int64: INT32_MIN negates safely
    }
    const uint16_t bits = layout.bitCount;
    if (planes != 1) return false;
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return false;
    if (!CompressionFits(layout.compression, bits, windows))
        return Refuse("BMP compression " + std::to_string(layout.compression) + " with " +
                      std::to_string(bits) + " bits a pixel is not read");
    const bool rle = layout.compression == kRle8 || layout.compression == kRle4;
    if (rle && layout.topDown) return false;
    if (!SurfaceSizeAllowed(layout.width, layout.height))
        return Refuse(TooLargeReason(layout.width, layout.height));

    const size_t paletteStart = kFileHeaderSize + *headerSize + masksAfterHeader;
    layout.dataOffset = *dataOffset;
    if (layout.dataOffset < paletteStart || static_cast<int64_t>(layout.dataOffset) > fileSize) return false;

    if (rle) {
        if (!SizePlausible(layout.width, layout.height, fileSize, kRleMaxPixelsPerByte))
            return Refuse("truncated BMP data: too few bytes for its size");
    } else {
        const int64_t stride = (layout.width * bits + 31) / 32 * 4;
        if (stride * layout.height > fileSize - static_cast<int64_t>(layout.dataOffset))
            return Refuse("truncated BMP data: the file ends before its last row");
    }

    if (bits <= 8) {
        // The palette sits between the headers and the pixels; a count of 0
        // means all 2^bits colours, and it may be shorter than that.
        const size_t entrySize = core ? 3 : 4;
        size_t count = colorsUsed == 0 ? size_t{1} << bits : colorsUsed;
        count = std::min({count, layout.palette.size(), (layout.dataOffset - paletteStart) / entrySize});
        if (count == 0) return false;
        ByteReader pal(head, paletteStart);
        for (size_t i = 0; i < count; ++i) {
            const auto entry = pal.Bytes(entrySize);
            if (!entry) return false;
            layout.palette[i] = {(*entry)[0], (*entry)[1], (*entry)[2]};
        }
    } else if (layout.compression == kRgb) {
        // 16 bits are 5-5-5; 32 bits are blue, green, red and an unused byte.
        masks = bits == 16 ? std::array<uint32_t, 3>{0x7C00, 0x03E0, 0x001F}
                           : std::array<uint32_t, 3>{0xFF0000, 0x00FF00, 0x0000FF};
    }
    layout.red = Channel(masks[0]);
    layout.green = Channel(masks[1]);
    layout.blue = Channel(masks[2]);
    return true;
}

void PutPixel(uint8_t* out, int64_t x, const Rgb& c)
{
    out[3 * x] = c.b;
    out[3 * x + 1] = c.g;
    out[3 * x + 2] = c.r;
}

// One stored row of 1 to 32 bits a pixel as BGR.
void ConvertRow(std::span<const uint8_t> src, const BmpLayout& layout, uint8_t* out)
{
    const int64_t width = layout.width;
    const int bits = layout.bitCount;
    const unsigned indexMask = (1u << (bits < 8 ? bits : 8)) - 1;
    switch (bits) {
    case 1:
    case 2:
    case 4:
        for (int64_t x = 0; x < width; ++x) {
            const int64_t bit = x * bits;
            const int shift = 8 - bits - static_cast<int>(bit % 8);
            PutPixel(out, x, layout.palette[(src[bit / 8] >> shift) & indexMask]);
        }
        break;
    case 8:
        for (int64_t x = 0; x < width; ++x) PutPixel(out, x, layout.palette[src[x]]);
        break;
    case 24: std::copy_n(src.begin(), width * 3, out); break;
    case 16:
        for (int64_t x = 0; x < width; ++x) {
            const uint32_t p = src[2 * x] | src[2 * x + 1] << 8;
            PutPixel(out, x, {layout.blue(p), layout.green(p), layout.red(p)});
        }
        break;
    case 32:
        for (int64_t x = 0; x < width; ++x) {
            const uint32_t p = src[4 * x] | src[4 * x + 1] << 8 | src[4 * x + 2] << 16 |
                               static_cast<uint32_t>(src[4 * x + 3]) << 24;
            PutPixel(out, x, {layout.blue(p), layout.green(p), layout.red(p)});
        }
        break;
    }
}

size_t StoredRowBytes(const BmpLayout& layout)
{
    return static_cast<size_t>((layout.width * layout.bitCount + 31) / 32 * 4);
}

// Rows of 1 to 32 bits a pixel, each padded to 4 bytes; ParseLayout has made
// sure the file holds every row.
bool DecodeUncompressed(std::span<const uint8_t> file, const BmpLayout& layout, cDIBSection& surface)
{
    const size_t stride = StoredRowBytes(layout);
    ByteReader in(file, layout.dataOffset);
    for (int64_t i = 0; i < layout.height; ++i) {
        const auto row = in.Bytes(stride);
        if (!row) return false;
        const int64_t memoryRow = layout.topDown ? layout.height - 1 - i : i;
        ConvertRow(*row, layout, surface.Row(static_cast<Long>(memoryRow)));
    }
    return true;
}

// RLE8 and RLE4, always bottom-up. Runs and literals that pass the row's end
// are clipped and the position keeps counting, so the rest of that row is
// dropped until the next end-of-line; skipped pixels stay black. A stream that
// runs out keeps what it has decoded; only one without a single complete
// command is refused.
bool DecodeRle(std::span<const uint8_t> file, const BmpLayout& layout, cDIBSection& surface)
{
    const bool rle4 = layout.compression == kRle4;
    const int64_t width = layout.width;
    ByteReader in(file, layout.dataOffset);
    int64_t x = 0;
    int64_t y = 0;  // memory row: the stream starts at the bottom
    bool decodedAny = false;
    // Writes count pixels from the position on, pixel i taken from index(i).
    auto emit = [&](int64_t count, auto index) {
        const int64_t visible = std::clamp<int64_t>(width - x, 0, count);
        uint8_t* out = surface.Row(static_cast<Long>(y));
        for (int64_t i = 0; i < visible; ++i) PutPixel(out, x + i, layout.palette[index(i)]);
        x += count;
    };
    while (y < layout.height) {
        const auto first = in.U8();
        const auto second = in.U8();
        if (!first || !second) break;
        decodedAny = true;
        if (*first > 0) {
            // A run: one byte repeated (RLE4: its two nibbles alternate).
            const uint8_t v = *second;
            emit(*first, [&](int64_t i) { return rle4 ? (i % 2 ? v & 0x0F : v >> 4) : v; });
            continue;
        }
        switch (*second) {
        case 0:  // end of line
            x = 0;
            ++y;
            break;
        case 1:  // end of bitmap
            return true;
        case 2: {  // delta: move right and up
            const auto dx = in.U8();
            const auto dy = in.U8();
            if (!dx || !dy) return true;
            x += *dx;
            y += *dy;
            break;
        }
        default: {  // literal pixels, padded to a 16-bit boundary
            const int64_t count = *second;
            const size_t bytes = static_cast<size_t>(rle4 ? (count + 1) / 2 : count);
            const auto lit = in.Bytes(std::min(bytes, in.Remaining()));
            const std::span<const uint8_t> src = *lit;
            const int64_t present =
                rle4 ? static_cast<int64_t>(src.size()) * 2 : static_cast<int64_t>(src.size());
            emit(std::min(count, present),
                 [&](int64_t i) { return rle4 ? (i % 2 ? src[i / 2] & 0x0F : src[i / 2] >> 4) : src[i]; });
            if (src.size() < bytes) return true;
            if (bytes % 2 != 0 && !in.Skip(1)) return true;
            break;
        }
        }
    }
    return decodedAny;
}

}  // namespace

bool DecodeBmp(std::span<const uint8_t> file, cDIBSection& surface)
{
    // Nothing may escape to the loader: a refusal is a false result.
    try {
        BmpLayout layout;
        if (!ParseLayout(file, static_cast<int64_t>(file.size()), layout)) return false;
        if (!PictureNeeds()
                 .Bytes(static_cast<int64_t>(file.size()))
                 .Surface(layout.width, layout.height)
                 .Reserve())
            return false;
        if (!surface.Create(static_cast<Long>(layout.width), static_cast<Long>(layout.height))) return false;
        if (layout.compression == kRle8 || layout.compression == kRle4)
            return DecodeRle(file, layout, surface);
        return DecodeUncompressed(file, layout, surface);
    } catch (const std::exception&) {  // RunTimeError, bad_alloc
        return false;
    }
}

std::optional<BmpPixelRows> LocateBmpPixelRows(std::span<const uint8_t> head, int64_t fileSize)
{
    try {
        BmpLayout layout;
        if (!ParseLayout(head, fileSize, layout)) return std::nullopt;
        if (layout.bitCount != 24 || layout.compression != kRgb) return std::nullopt;
        return BmpPixelRows{static_cast<Long>(layout.width), static_cast<Long>(layout.height),
                            static_cast<int64_t>(layout.dataOffset), layout.topDown};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool ReadBmpRows(std::span<const uint8_t> head, int64_t fileSize, const BmpRowCalls& calls)
{
    BmpLayout layout;
    if (!ParseLayout(head, fileSize, layout) || layout.compression == kRle8 || layout.compression == kRle4)
        return false;
    if (!calls.start(static_cast<Long>(layout.width), static_cast<Long>(layout.height))) return true;
    const size_t stride = StoredRowBytes(layout);
    std::vector<uint8_t> stored(stride), bgr(static_cast<size_t>(layout.width) * 3);
    for (int64_t y = 0; y < layout.height; ++y) {
        const int64_t storedRow = layout.topDown ? y : layout.height - 1 - y;
        if (!calls.read(static_cast<int64_t>(layout.dataOffset) + storedRow * static_cast<int64_t>(stride),
                        stored))
            return true;
        ConvertRow(stored, layout, bgr.data());
        calls.push(bgr.data());
    }
    return true;
}

}  // namespace kx
