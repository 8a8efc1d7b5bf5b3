// Decompression bombs, refused before the large allocation or decoded within
// the memory the real picture needs (malloc's peak where the build counts it).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CountingMalloc.h"
#include "PictureBytes.h"
#include "PictureDecoders.h"
#include "TestSupport.h"

namespace {

using kxtest::Bytes;
using Decoder = bool (*)(std::span<const uint8_t>, kx::cDIBSection&);

constexpr int64_t kMiB = int64_t{1} << 20;

// Headers claiming a size, with a palette and 64 bytes of pixels.
Bytes Bmp(int32_t width, int32_t height, uint16_t bits, uint32_t compression)
{
    const std::vector<uint32_t> palette(bits <= 8 ? 1u << bits : 0, 0x808080);
    return kxtest::Bmp({width, height, bits, compression, 40, palette, {}, Bytes(64)});
}

// Black and white, `lzw` as the data of the image (2-bit minimum code size).
Bytes Gif(uint16_t screenW, uint16_t screenH, uint16_t imageW, uint16_t imageH, const Bytes& lzw)
{
    return kxtest::Gif({screenW, screenH, 0, 0, imageW, imageH, {}, -1, false, {0, 0xFFFFFF}, lzw});
}

// 8-bit grey, `raw` as the inflated image data, `chunks` before it.
Bytes Png(uint32_t width, uint32_t height, const Bytes& raw,
          std::vector<std::pair<std::string, Bytes>> chunks = {})
{
    return kxtest::Png({width, height, 8, 0, {}, {}, {}, chunks, raw});
}

// keyword, 0, method 0, then the deflated text (zTXt) or profile (iCCP).
Bytes CompressedChunk(const std::string& keyword, const Bytes& inflated)
{
    return kxtest::Concat({Bytes(keyword.begin(), keyword.end()), {0, 0}, kxtest::Deflate(inflated)});
}

Bytes Jpeg(uint16_t width, uint16_t height) { return kxtest::Jpeg(0xC0, width, height, 1); }

struct Case {
    const char* name;
    Decoder decode;
    Bytes file;
    bool loads;                    // the real picture behind the claim is fine
    int64_t allowedBytes;          // peak malloc allowed while decoding
    const char* sketch = nullptr;  // of what loads, when given
};

// Headers whose claim is within the surface limit (about 2 GiB) but far beyond
// what a file this small can describe, and streams that expand far beyond
// the picture: ancillary chunks over the chunk limit are dropped, image data
// beyond the last row is never inflated, GIF data beyond the frame is left alone.
TEST(DecodeLimits, BombsAreRefusedOrDecodeWithinThePicturesMemory)
{
    // 100 x 100 grey: 10100 bytes of filtered rows, surface 30 KB.
    const Bytes rows(100 * 101, 0);
    const Bytes textBomb = CompressedChunk("Comment", Bytes(size_t{24} * kMiB, 'a'));
    const Bytes profileBomb = CompressedChunk("icc", Bytes(size_t{24} * kMiB, 0));
    Bytes idatBomb = rows;
    idatBomb.resize(size_t{24} * kMiB, 0);
    // With 2-bit pixels the codes start 3 bits wide; "clear, 0, 0" repeated
    // keeps them there: 8 repeats are 16 black pixels in 9 bytes. A 4 x 4
    // frame with a megabyte of such data and no end code.
    const Bytes sixteenPixels{0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x00, 0x01, 0x02};
    Bytes lzw;
    while (lzw.size() < kMiB) lzw.insert(lzw.end(), sixteenPixels.begin(), sixteenPixels.end());
    const Case cases[]{
        {"bmp_24bit_20000x20000", kx::DecodeBmp, Bmp(20000, 20000, 24, 0), false, kMiB},
        {"bmp_rle8_20000x20000", kx::DecodeBmp, Bmp(20000, 20000, 8, 1), false, kMiB},
        {"bmp_topdown_20000x-20000", kx::DecodeBmp, Bmp(20000, -20000, 24, 0), false, kMiB},
        {"bmp_over_surface_limit", kx::DecodeBmp, Bmp(65535, 65535, 1, 0), false, kMiB},
        {"bmp_width_beyond_side_limit", kx::DecodeBmp, Bmp(70000, 1, 24, 0), false, kMiB},
        {"gif_screen_20000x20000", kx::DecodeGif, Gif(20000, 20000, 1, 1, {0x44, 0x01}), false, kMiB},
        {"gif_image_beyond_screen_0", kx::DecodeGif, Gif(0, 0, 20000, 20000, {0x44, 0x01}), false, kMiB},
        {"jpeg_20000x20000", kx::DecodeJpeg, Jpeg(20000, 20000), false, 2 * kMiB},
        {"jpeg_65535x65535", kx::DecodeJpeg, Jpeg(65535, 65535), false, 2 * kMiB},
        {"png_20000x20000", kx::DecodePng, Png(20000, 20000, Bytes(20001, 0)), false, 2 * kMiB},
        {"png_over_side_limit", kx::DecodePng, Png(70000, 1, Bytes(70001, 0)), false, 2 * kMiB},
        {"png_ztxt_24MiB", kx::DecodePng, Png(100, 100, rows, {{"zTXt", textBomb}}), true, 12 * kMiB},
        {"png_iccp_24MiB", kx::DecodePng, Png(100, 100, rows, {{"iCCP", profileBomb}}), true, 12 * kMiB},
        {"png_idat_24MiB_for_10KB", kx::DecodePng, Png(100, 100, idatBomb), true, 2 * kMiB},
        {"gif_1MiB_for_16_pixels", kx::DecodeGif, Gif(4, 4, 4, 4, lzw), true, kMiB, "KKKK/KKKK/KKKK/KKKK/"},
    };
    for (const Case& c : cases) {
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
        if (c.sketch != nullptr) {
            EXPECT_EQ(kxtest::Sketch(surface), c.sketch);
        }
    }
}

}  // namespace
