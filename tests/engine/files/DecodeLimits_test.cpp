// Decompression bombs: small files that claim, or expand to, far more than
// they hold. Each is refused before the large allocation, or decodes within
// the memory its real picture needs; the peak of malloc is measured where
// the build allows it (not under AddressSanitizer).
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "CountingMalloc.h"
#include "DecodeLimits.h"
#include "PictureDecoders.h"
#include "TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Decoder = bool (*)(std::span<const uint8_t>, kx::cDIBSection&);

constexpr int64_t kMiB = int64_t{1} << 20;

void Put16LE(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void Put32LE(Bytes& b, uint32_t v)
{
    Put16LE(b, v & 0xFFFF);
    Put16LE(b, v >> 16);
}
void Put32BE(Bytes& b, uint32_t v)
{
    b.insert(b.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

Bytes Deflate(const Bytes& raw)
{
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 1), Z_OK);
    out.resize(size);
    return out;
}

void PutChunk(Bytes& png, const char* type, const Bytes& data)
{
    Put32BE(png, static_cast<uint32_t>(data.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    Put32BE(png, static_cast<uint32_t>(crc32(0, png.data() + start, static_cast<uInt>(png.size() - start))));
}

// An 8-bit greyscale PNG with the given IDAT payload (raw, deflated here) and
// extra chunks before it.
Bytes Png(uint32_t width, uint32_t height, const Bytes& raw,
          const std::vector<std::pair<const char*, Bytes>>& before = {})
{
    Bytes png{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes ihdr;
    Put32BE(ihdr, width);
    Put32BE(ihdr, height);
    ihdr.insert(ihdr.end(), {8, 0, 0, 0, 0});
    PutChunk(png, "IHDR", ihdr);
    for (const auto& [type, data] : before) PutChunk(png, type, data);
    PutChunk(png, "IDAT", Deflate(raw));
    PutChunk(png, "IEND", {});
    return png;
}

// keyword, 0, method 0, then the deflated text (zTXt) or profile (iCCP).
Bytes CompressedChunk(const std::string& keyword, const Bytes& inflated)
{
    Bytes data(keyword.begin(), keyword.end());
    data.insert(data.end(), {0, 0});
    const Bytes z = Deflate(inflated);
    data.insert(data.end(), z.begin(), z.end());
    return data;
}

Bytes Bmp(int32_t width, int32_t height, uint16_t bits, uint32_t compression)
{
    Bytes b{'B', 'M'};
    Put32LE(b, 0);  // file size, unchecked by readers
    Put32LE(b, 0);
    Put32LE(b, 14 + 40 + (bits <= 8 ? 4u << bits : 0));
    Put32LE(b, 40);
    Put32LE(b, static_cast<uint32_t>(width));
    Put32LE(b, static_cast<uint32_t>(height));
    Put16LE(b, 1);
    Put16LE(b, bits);
    Put32LE(b, compression);
    for (int i = 0; i < 5; ++i) Put32LE(b, 0);
    if (bits <= 8) b.resize(b.size() + (4u << bits), 0x80);
    b.resize(b.size() + 64, 0);  // a little pixel data
    return b;
}

// A GIF with a logical screen and one image of the given sizes, 2 colours,
// and `lzw` as its data sub-blocks (2-bit minimum code size).
Bytes Gif(uint16_t screenW, uint16_t screenH, uint16_t imageW, uint16_t imageH, const Bytes& lzw)
{
    Bytes g{'G', 'I', 'F', '8', '9', 'a'};
    Put16LE(g, screenW);
    Put16LE(g, screenH);
    g.insert(g.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255});
    g.push_back(0x2C);
    Put16LE(g, 0);
    Put16LE(g, 0);
    Put16LE(g, imageW);
    Put16LE(g, imageH);
    g.insert(g.end(), {0, 2});
    for (size_t at = 0; at < lzw.size(); at += 255) {
        const size_t n = std::min<size_t>(255, lzw.size() - at);
        g.push_back(static_cast<uint8_t>(n));
        g.insert(g.end(), lzw.begin() + at, lzw.begin() + at + n);
    }
    g.insert(g.end(), {0, 0x3B});
    return g;
}

// A baseline JPEG header claiming width x height, with no scan.
Bytes Jpeg(uint16_t width, uint16_t height)
{
    Bytes j{0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0};
    j.resize(j.size() + 64, 1);
    j.insert(j.end(), {0xFF, 0xC0, 0, 11, 8, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8),
                       uint8_t(width), 1, 1, 0x11, 0});
    j.insert(j.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0});
    j.resize(j.size() + 200, 0);
    j.insert(j.end(), {0xFF, 0xD9});
    return j;
}

struct Case {
    const char* name;
    Decoder decode;
    Bytes file;
    bool loads;            // the real picture behind the claim is fine
    int64_t allowedBytes;  // peak malloc allowed while decoding
};

void Check(const Case& c)
{
    SCOPED_TRACE(c.name);
    kx::cDIBSection surface;
#if KX_COUNTING_MALLOC
    const int64_t before = kxtest::LiveBytes();
    kxtest::ResetPeak();
#endif
    EXPECT_EQ(c.decode(c.file, surface), c.loads);
#if KX_COUNTING_MALLOC
    EXPECT_LE(kxtest::PeakBytes() - before, c.allowedBytes);
#endif
}

TEST(DecodeLimits, HeadersClaimingHugePicturesAreRefusedBeforeAllocating)
{
    // Each claim is within the surface limit (about 2 GiB) but far beyond
    // what a file this small can describe.
    const Case cases[]{
        {"bmp_24bit_20000x20000", kx::DecodeBmp, Bmp(20000, 20000, 24, 0), false, kMiB},
        {"bmp_rle8_20000x20000", kx::DecodeBmp, Bmp(20000, 20000, 8, 1), false, kMiB},
        {"bmp_topdown_20000x-20000", kx::DecodeBmp, Bmp(20000, -20000, 24, 0), false, kMiB},
        {"bmp_over_surface_limit", kx::DecodeBmp, Bmp(65535, 65535, 1, 0), false, kMiB},
        {"gif_screen_20000x20000", kx::DecodeGif, Gif(20000, 20000, 1, 1, {0x44, 0x01}), false, kMiB},
        {"gif_image_beyond_screen_0", kx::DecodeGif, Gif(0, 0, 20000, 20000, {0x44, 0x01}), false, kMiB},
        {"jpeg_20000x20000", kx::DecodeJpeg, Jpeg(20000, 20000), false, 2 * kMiB},
        {"jpeg_65535x65535", kx::DecodeJpeg, Jpeg(65535, 65535), false, 2 * kMiB},
        {"png_20000x20000", kx::DecodePng, Png(20000, 20000, Bytes(20001, 0)), false, 2 * kMiB},
        {"png_over_side_limit", kx::DecodePng, Png(70000, 1, Bytes(70001, 0)), false, 2 * kMiB},
    };
    for (const Case& c : cases) Check(c);
}

TEST(DecodeLimits, ExpandingStreamsStopAtThePicturesSize)
{
    // 100 x 100 grey: 10100 bytes of filtered rows, surface 30 KB.
    const Bytes rows(100 * 101, 0);
    const Bytes textBomb = CompressedChunk("Comment", Bytes(size_t{24} * kMiB, 'a'));
    const Bytes profileBomb = CompressedChunk("icc", Bytes(size_t{24} * kMiB, 0));
    Bytes idatBomb = rows;
    idatBomb.resize(size_t{24} * kMiB, 0);

    // Ancillary chunks over the chunk limit are dropped; image data beyond
    // the last row is never inflated.
    const Case cases[]{
        {"png_ztxt_24MiB", kx::DecodePng, Png(100, 100, rows, {{"zTXt", textBomb}}), true, 12 * kMiB},
        {"png_iccp_24MiB", kx::DecodePng, Png(100, 100, rows, {{"iCCP", profileBomb}}), true, 12 * kMiB},
        {"png_idat_24MiB_for_10KB", kx::DecodePng, Png(100, 100, idatBomb), true, 2 * kMiB},
    };
    for (const Case& c : cases) Check(c);
}

TEST(DecodeLimits, GifDataBeyondTheFrameIsNotDecoded)
{
    // With 2-bit pixels the codes start 3 bits wide; "clear, 0, 0" repeated
    // keeps them there: 8 repeats are 16 black pixels in 9 bytes. A 4 x 4
    // frame with a megabyte of such data and no end code: its 16 pixels are
    // read and the rest is left alone.
    const Bytes sixteenPixels{0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x00, 0x01, 0x02};
    Bytes lzw;
    while (lzw.size() < kMiB) lzw.insert(lzw.end(), sixteenPixels.begin(), sixteenPixels.end());
    const Bytes file = Gif(4, 4, 4, 4, lzw);
    kx::cDIBSection surface;
#if KX_COUNTING_MALLOC
    const int64_t before = kxtest::LiveBytes();
    kxtest::ResetPeak();
#endif
    ASSERT_TRUE(kx::DecodeGif(file, surface));
    EXPECT_EQ(surface.Width(), 4);
    EXPECT_EQ(surface.Height(), 4);
    for (const kxtest::Bgr& p : kxtest::AllPixels(surface)) EXPECT_EQ(p, (kxtest::Bgr{0, 0, 0}));
#if KX_COUNTING_MALLOC
    EXPECT_LE(kxtest::PeakBytes() - before, kMiB);
#endif
}

}  // namespace
