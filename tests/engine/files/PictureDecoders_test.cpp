// The BMP, GIF, PNG and JPEG decoders on small files laid out byte by byte,
// and every decoder against malformed files and decompression bombs.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "CountingMalloc.h"
#include "PhotoFixtures.h"
#include "PictureBytes.h"
#include "PictureDecoders.h"
#include "PictureLoader.h"
#include "TestSupport.h"
#include "modImageInfo.h"

namespace {

using kxtest::Bgr;
using kxtest::Bmp;
using kxtest::BmpLayout;
using kxtest::Bytes;
using kxtest::Concat;
using kxtest::Hex;
using kxtest::PixelAt;

constexpr Bgr kWhite{255, 255, 255}, kBlack{0, 0, 0};

// Palette of the 4- and 8-bit fixtures: index 0 K, 1 R, 2 G, 3 B, 4 W, 5 Y.
const std::vector<uint32_t> kPal{0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0xFFFF00};

// A 3x2 picture of palette indices.
BmpLayout Indexed(uint16_t bits, uint32_t compression, const char* pixels)
{
    return {.bits = bits, .compression = compression, .palette = kPal, .pixels = Hex(pixels)};
}

TEST(BmpDecoder, DecodesEachVariantExactly)
{
    const Bytes pal8 = Hex("04000500 01020300");
    const auto fields = [](uint16_t bits, uint32_t header, std::vector<uint32_t> masks, const char* pixels) {
        return BmpLayout{
            .bits = bits, .compression = 3, .headerSize = header, .masks = masks, .pixels = Hex(pixels)};
    };
    const struct {
        const char* name;
        BmpLayout layout;  // pixels bottom row first, rows padded to 4 bytes
        const char* expected = "RGB/WKY/";
    } cases[]{
        {"1 bit", Indexed(1, 0, "a0000000 40000000"), "KRK/RKR/"},
        {"4 bits", Indexed(4, 0, "40500000 12300000")},
        {"core header", {.bits = 8, .headerSize = 12, .palette = kPal, .pixels = pal8}},
        {"OS/2 2.x header", {.bits = 8, .headerSize = 16, .palette = kPal, .pixels = pal8}},
        // Runs, an end of line, a literal padded to 16 bits, the end.
        {"RLE8", Indexed(8, 1, "0104 0100 0105 0000 000301020300 0001")},
        // A delta one row up leaves the skipped pixels black.
        {"RLE8 delta", Indexed(8, 1, "0204 00020001 0103 0001"), "KKB/WWK/"},
        // A run, a delta one pixel right, an end of line, a literal.
        {"RLE4", Indexed(4, 2, "0140 00020100 0150 0000 00031230 0001")},
        {"16 bits 5-5-5", {.bits = 16, .pixels = Hex("ff7f0000e07f0000 007ce0031f000000")}},
        {"5-6-5 bit fields", fields(16, 40, {0xF800, 0x7E0, 0x1F}, "ffff0000e0ff0000 00f8e0071f000000")},
        {"24 bits", {.pixels = Hex("ffffff00000000ffff000000 0000ff00ff00ff0000000000")}},
        {"top-down", {.height = -2, .pixels = Hex("0000ff00ff00ff0000000000 ffffff00000000ffff000000")}},
        // The fourth byte is unused, not alpha.
        {"32 bits", {.bits = 32, .pixels = Hex("ffffff090000000900ffff09 0000ff0900ff0009ff000009")}},
        {"V5 header, red in the low byte",
         fields(32, 124, {0xFF, 0xFF00, 0xFF0000}, "ffffff0000000000ffff0000 ff00000000ff00000000ff00")},
        // Damaged but readable: clipped at the row's end, the rest black.
        {"rle8_run_past_row", Indexed(8, 1, "0504 0101 0000 0102 0001"), "GKK/WWW/"},
        {"rle8_delta_past_row", Indexed(8, 1, "0002c800 0104 0000 000301020300 0001"), "RGB/KKK/"},
        {"rle8_truncated_literal", Indexed(8, 1, "0104 0100 0105 0000 000301"), "RKK/WKY/"},
        {"beyond palette",
         {.bits = 8, .palette = {0, 0xFF0000}, .pixels = Hex("0109c800 0001ff00")},
         "KRK/RKK/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kx::cDIBSection surface;
        ASSERT_TRUE(kx::DecodeBmp(Bmp(c.layout), surface));
        EXPECT_EQ(kxtest::Sketch(surface), c.expected);
    }
}

TEST(BmpDecoder, ScalesBitFieldsToFullRange)
{
    // 3-bit red 4 -> round(4 * 255 / 7) = 146, 3-bit green 1 -> 36, no blue mask -> 0.
    // Red 0x80000003 * 255 / 0xFFFFFFFF = 127.5000002 -> 128; 1-bit green 1 -> 255; 2-bit blue 1 -> 85.
    const struct {
        uint16_t bits;
        std::vector<uint32_t> masks;  // red, green, blue
        const char* pixel;
        Bgr expected;
    } cases[]{{16, {7, 0x38, 0}, "0c00", {0, 36, 146}}, {32, {0xFFFFFFFF, 1, 6}, "03000080", {85, 255, 128}}};
    for (const auto& c : cases) {
        const BmpLayout layout{.width = 1, .height = 1, .bits = c.bits, .compression = 3, .masks = c.masks};
        kx::cDIBSection surface;
        ASSERT_TRUE(kx::DecodeBmp(kxtest::Concat({Bmp(layout), Hex(c.pixel), {0, 0}}), surface));
        EXPECT_EQ(kxtest::PixelAt(surface, 0, 0), c.expected) << c.bits << " bits";
    }
}

// The loader reads an uncompressed 24-bit BMP's rows straight into the surface: the decoder's
// bytes, padding included; a file one byte short is refused by both.
TEST(BmpLoader, ReadsPlainRowsInPlaceExactlyAsTheDecoder)
{
    // 5 pixels a row: 15 bytes and one byte of padding, set in the file.
    auto rows = [](size_t junk) {
        Bytes bytes(junk, 0xEE);
        for (int i = 0; i < 3 * 16; ++i) bytes.push_back(uint8_t(i * 37 + 11));
        return bytes;
    };
    const BmpLayout cases[]{
        {.width = 5, .height = -3, .pixels = rows(0)},
        {.width = 5, .height = 3, .headerSize = 12, .pixels = rows(0)},
        {.width = 5, .height = 3, .pixels = rows(7), .offset = 14 + 40 + 7},  // a gap before the rows
        {.width = 5, .height = -3, .pixels = rows(70000), .offset = 14 + 40 + 70000},  // rows beyond 64 KiB
    };
    kxtest::TempDir dir;
    const std::string path = dir / "plain.bmp";
    for (const BmpLayout& layout : cases) {
        SCOPED_TRACE(layout.pixels.size() + layout.headerSize);
        Bytes file = Bmp(layout);
        kxtest::WriteFileBytes(path, file);
        kx::cDIBSection decoded, loaded;
        ASSERT_TRUE(kx::DecodeBmp(file, decoded));
        ASSERT_TRUE(kx::LoadPicture(path, loaded));
        ASSERT_EQ(std::pair(loaded.Width(), loaded.Height()), std::pair(5, 3));
        EXPECT_TRUE(
            std::equal(decoded.Row(0), decoded.Row(0) + 3 * 16, loaded.Row(0)));  // rows are contiguous

        file.pop_back();
        kxtest::WriteFileBytes(path, file);
        EXPECT_FALSE(kx::DecodeBmp(file, decoded));
        EXPECT_FALSE(kx::LoadPicture(path, loaded));
        EXPECT_FALSE(loaded.IsLive());
    }
}

TEST(DecodeGif, PlacesFrameOnScreenWithTransparencyAndClipping)
{
    // The default colour table is red, green, blue, black.
    const struct {
        const char* name;
        kxtest::GifLayout layout;
        const char* expected;
    } cases[] = {
        {"offset, 2 transparent", {4, 3, 1, 1, 3, 2, {{0, 1, 2}, {3, 0, 1}}, 2}, "WWWW/WRGW/WKRG/"},
        {"clipped at the screen's right and bottom", {3, 2, 2, 1, 2, 2, {{1, 2}, {3, 3}}}, "WWW/WWG/"},
        {"screen of zero size takes the frame's extent", {0, 0, 1, 0, 1, 2, {{2}, {1}}}, "WB/WG/"},
        {"beyond the table", {4, 1, 0, 0, 4, 1, {{0, 1, 2, 3}}, -1, false, {0xFF0000, 0x00FF00}}, "RGKK/"},
        // Stored rows 0, 4 | 2 | 1, 3, 5 hold the picture rows' own numbers.
        {"interlaced", {1, 6, 0, 0, 1, 6, {{0}, {0}, {2}, {1}, {3}, {1}}, -1, true}, "R/G/B/K/R/G/"},
    };
    for (const auto& c : cases) {
        kx::cDIBSection surface;
        ASSERT_TRUE(kx::DecodeGif(kxtest::Gif(c.layout), surface)) << c.name;
        EXPECT_EQ(kxtest::Sketch(surface), c.expected) << c.name;
    }
}

TEST(DecodeGif, TruncatedDataKeepsDecodedRowsAndLeavesTheRestWhite)
{
    // 64 x 64 blue, so that the data spans many sub-blocks.
    Bytes file = kxtest::Gif({64, 64, 0, 0, 64, 64, std::vector<Bytes>(64, Bytes(64, 2))});
    file.resize(file.size() / 2);
    kx::cDIBSection surface;
    ASSERT_TRUE(kx::DecodeGif(file, surface));
    EXPECT_EQ(PixelAt(surface, 5, 0), (Bgr{255, 0, 0}));
    EXPECT_EQ(PixelAt(surface, 5, 63), kWhite);
}

// The probe and giflib take any file starting "GIF" whatever its version says; so must the
// loader, or a folder run would size such a picture and then fail to read it.
TEST(LoadPicture, TakesAGifWhateverItsVersionSays)
{
    Bytes gif = kxtest::Gif({2, 1, 0, 0, 2, 1, {{0, 1}}});
    gif[3] = '6';
    kxtest::TempDir dir;
    const std::string path = dir / "odd-version.gif";
    kxtest::WriteFileBytes(path, gif);
    EXPECT_EQ(kx::GetImageInfo(path).ImageType, kx::ImageTypeGIF);
    kx::cDIBSection surface;
    ASSERT_TRUE(kx::LoadPicture(path, surface));
    EXPECT_EQ(kxtest::Sketch(surface), "RG/");
}

TEST(DecodePng, EveryColourTypeAndDepthDecodesExactly)
{
    // Half alpha (128) over white: (c * 128 + 255 * 127 + 127) / 255, so
    // 0 gives 127, 100 gives 177, 200 gives 227 and 255 stays 255.
    const struct {
        const char* name;
        kxtest::PngLayout layout;  // colour types: 0 grey, 2 RGB, 3 palette, 4 grey-alpha, 6 RGBA
        std::vector<Bgr> expected;
    } cases[] = {
        {"1-bit", {3, 2, 1, 0, {{0xA0}, {0x40}}}, {kWhite, kBlack, kWhite, kBlack, kWhite, kBlack}},
        {"grey, tRNS key 16", {2, 1, 8, 0, {{16, 17}}, {}, {0, 16}}, {kWhite, {17, 17, 17}}},
        {"palette 2-bit, tRNS",
         {3, 1, 2, 3, {{0x18}}, {255, 0, 0, 0, 255, 0, 0, 0, 255}, {255, 128}},
         {{0, 0, 255}, {127, 255, 127}, {255, 0, 0}}},
        {"RGBA",
         {3, 1, 8, 6, {{200, 100, 0, 128, 10, 20, 30, 0, 10, 20, 30, 255}}},
         {{127, 177, 227}, kWhite, {30, 20, 10}}},
        {"grey-alpha", {2, 1, 8, 4, {{0, 128, 200, 255}}}, {{127, 127, 127}, {200, 200, 200}}},
        {"RGB 16-bit, high bytes",
         {1, 1, 16, 2, {{0x12, 0x34, 0xAB, 0xCD, 0xFF, 0x00}}},
         {{0xFF, 0xAB, 0x12}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kx::cDIBSection surface;
        ASSERT_TRUE(kx::DecodePng(kxtest::Png(c.layout), surface));
        ASSERT_EQ(std::pair(surface.Width(), surface.Height()),
                  std::pair(int(c.layout.width), int(c.layout.height)));
        EXPECT_EQ(kxtest::AllPixels(surface), c.expected);
    }
}

// One kind stands for all: every colour JPEG takes the same library call. The
// surface's rows are bottom-up, the bare decode's top-down.
TEST(DecodeJpeg, MatchesBareDecodeUpright)
{
    const kxtest::Image picture = kxtest::AsymmetricPicture(37, 23);  // odd width: rows carry padding
    kxtest::TempDir dir;
    kxtest::EncodeJpegFile(dir / "p.jpg", picture, 90, TJSAMP_420, false);
    kx::cDIBSection surface;
    ASSERT_TRUE(kx::DecodeJpeg(kxtest::ReadFileBytes(dir / "p.jpg"), surface));
    const kxtest::Image bare = kxtest::DecodeJpegFile(dir / "p.jpg");  // top-down
    ASSERT_EQ(std::pair(surface.Width(), surface.Height()), std::pair(bare.width, bare.height));
    int differing = 0;
    for (int y = 0; y < bare.height; ++y)
        for (int x = 0; x < bare.width; ++x) differing += PixelAt(surface, x, y) != bare.At(x, y);
    EXPECT_EQ(differing, 0);
}

// The offset of the first marker FF <code> after the start of the file.
size_t FindMarker(const Bytes& file, uint8_t code)
{
    for (size_t i = 2; i + 9 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == code) return i;
    return 0;
}

TEST(DecodeJpeg, TruncatedFileKeepsTheDecodedPart)
{
    const auto file = kxtest::JpegOf(kxtest::AsymmetricPicture(64, 128));
    const size_t scan = FindMarker(file, 0xDA);
    ASSERT_NE(scan, 0u);
    // Half of the entropy-coded data: the upper MCU rows are complete.
    const Bytes cut(file.begin(), file.begin() + scan + (file.size() - scan) / 2);
    kx::cDIBSection full, partial;
    ASSERT_TRUE(kx::DecodeJpeg(file, full));
    ASSERT_TRUE(kx::DecodeJpeg(cut, partial));
    for (int x = 0; x < 64; ++x) EXPECT_EQ(PixelAt(partial, x, 0), PixelAt(full, x, 0));
}

using Decoder = bool (*)(std::span<const uint8_t>, kx::cDIBSection&);

constexpr int64_t kMiB = int64_t{1} << 20;

// Headers claiming a size, with a palette and 64 bytes of pixels.
Bytes BmpClaim(int32_t width, int32_t height, uint16_t bits, uint32_t compression)
{
    const std::vector<uint32_t> palette(bits <= 8 ? 1u << bits : 0, 0x808080);
    return kxtest::Bmp({width, height, bits, compression, 40, palette, {}, Bytes(64)});
}

// Black and white, `lzw` as the data of the image (2-bit minimum code size).
Bytes GifData(uint16_t screenW, uint16_t screenH, uint16_t imageW, uint16_t imageH, const Bytes& lzw)
{
    return kxtest::Gif({screenW, screenH, 0, 0, imageW, imageH, {}, -1, false, {0, 0xFFFFFF}, lzw});
}

// 8-bit grey, `raw` as the inflated image data, `chunks` before it.
Bytes GreyPng(uint32_t width, uint32_t height, const Bytes& raw,
              std::vector<std::pair<std::string, Bytes>> chunks = {})
{
    return kxtest::Png({width, height, 8, 0, {}, {}, {}, chunks, raw});
}

// keyword, 0, method 0, then the deflated text (zTXt) or profile (iCCP).
Bytes CompressedChunk(const std::string& keyword, const Bytes& inflated)
{
    return Concat({Bytes(keyword.begin(), keyword.end()), {0, 0}, kxtest::Deflate(inflated)});
}

Bytes Patched(Bytes file, size_t offset, const Bytes& bytes)
{
    std::copy(bytes.begin(), bytes.end(), file.begin() + offset);
    return file;
}

// Malformed files are refused. Bombs (claims within the surface limit of about 2 GiB but far beyond
// what so small a file holds; streams expanding far beyond the picture) are refused before the large
// allocation or decode within the real picture's memory (malloc's peak, where the build counts it):
// oversized ancillary chunks are dropped, data beyond the last row or the GIF frame is left alone.
TEST(PictureDecoders, HostileFilesAndBombs)
{
    const Bytes px(24, 0x55), bmp = Bmp({.pixels = px});
    Bytes badSignature = bmp;
    badSignature[1] = 'A';
    // A 2 x 2 GIF: 6 + 7 bytes of header, 12 of colour table, 10 of image
    // descriptor, then the data and the trailer.
    const Bytes gif = kxtest::Gif({2, 2, 0, 0, 2, 2, {{0, 1}, {1, 0}}});
    const Bytes head(gif.begin(), gif.begin() + 25), desc(gif.begin() + 25, gif.begin() + 35);
    const Bytes data(gif.begin() + 35, gif.end());
    ASSERT_EQ(desc[0], 0x2C);
    Bytes noise(16 * 49);  // 16 rows of a filter byte (0) and 48 grey samples
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = i % 49 == 0 ? 0 : uint8_t(i * 7919);
    const Bytes goodPng = GreyPng(48, 16, noise);
    const Bytes jpeg = kxtest::JpegOf(kxtest::AsymmetricPicture(16, 16));
    const size_t sof = FindMarker(jpeg, 0xC0);  // FF C0, length, precision, height, width
    ASSERT_NE(sof, 0u);

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

    const struct {
        const char* name;
        Decoder decode;
        Bytes file;
        bool loads = false;            // the real picture behind the claim is fine
        int64_t allowedBytes = kMiB;   // peak malloc allowed while decoding
        const char* sketch = nullptr;  // of what loads, when given
    } cases[]{
        {"bmp_bad_signature", kx::DecodeBmp, badSignature},
        {"bmp_header_size_unknown", kx::DecodeBmp, Bmp({.headerSize = 100, .pixels = px})},
        {"bmp_header_cut_short", kx::DecodeBmp, Bytes(bmp.begin(), bmp.begin() + 30)},
        {"bmp_zero_width", kx::DecodeBmp, Bmp({.width = 0, .pixels = px})},
        {"bmp_height_int32_min", kx::DecodeBmp, Bmp({.height = INT32_MIN, .pixels = px})},
        {"bmp_bad_planes", kx::DecodeBmp, Bmp({.pixels = px, .planes = 2})},
        {"bmp_bad_bit_count", kx::DecodeBmp, Bmp({.bits = 12, .pixels = px})},
        {"bmp_rle8_with_4_bits", kx::DecodeBmp,
         Bmp({.bits = 4, .compression = 1, .palette = kPal, .pixels = {0, 1}})},
        {"bmp_rle4_with_8_bits", kx::DecodeBmp,
         Bmp({.bits = 8, .compression = 2, .palette = kPal, .pixels = {0, 1}})},
        {"bmp_bit_fields_with_24_bits", kx::DecodeBmp,
         Bmp({.compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}, .pixels = px})},
        {"bmp_jpeg_inside", kx::DecodeBmp, Bmp({.compression = 4, .pixels = px})},
        {"bmp_os2_huffman", kx::DecodeBmp,
         Bmp({.bits = 16, .compression = 3, .headerSize = 64, .pixels = px})},
        {"bmp_rle8_top_down", kx::DecodeBmp,
         Bmp({.height = -2, .bits = 8, .compression = 1, .palette = kPal, .pixels = {0, 1}})},
        {"bmp_rle8_no_data", kx::DecodeBmp, Bmp({.bits = 8, .compression = 1, .palette = kPal})},
        {"bmp_pixel_offset_inside_header", kx::DecodeBmp, Bmp({.pixels = px, .offset = 30})},
        {"bmp_truncated_rows", kx::DecodeBmp, Bytes(bmp.begin(), bmp.end() - 1)},
        {"bmp_palette_missing", kx::DecodeBmp, Bmp({.bits = 8, .pixels = px})},
        {"gif_base", kx::DecodeGif, gif, true, kMiB, "RG/GR/"},
        {"gif_lzw_garbage", kx::DecodeGif, Concat({head, desc, {2, 3, 0xFF, 0xFF, 0xFF, 0, 0x3B}})},
        {"gif_no_colour_table", kx::DecodeGif,
         kxtest::Gif({2, 2, 0, 0, 2, 2, {{0, 1}, {1, 0}}, -1, false, {}})},
        {"gif_no_image", kx::DecodeGif, Concat({head, {0x3B}})},
        {"gif_truncated_before_image_data", kx::DecodeGif, Concat({head, desc})},
        {"gif_unknown_record", kx::DecodeGif, Concat({head, {0x99}, desc, data})},
        {"not_a_gif", kx::DecodeGif, {'G', 'I', 'X', '8', '9', 'a', 2, 0, 2, 0, 0, 0, 0}},
        {"png_ihdr_zero_width", kx::DecodePng, GreyPng(0, 16, noise)},
        {"png_truncated_idat", kx::DecodePng, Bytes(goodPng.begin(), goodPng.begin() + goodPng.size() / 2)},
        {"not_a_png", kx::DecodePng, Bytes(40, 'P')},
        {"jpeg_header_zero_width", kx::DecodeJpeg, Patched(jpeg, sof + 7, {0, 0})},
        {"jpeg_lossless_frame", kx::DecodeJpeg, Patched(jpeg, sof + 1, {0xC3})},
        {"jpeg_precision_12", kx::DecodeJpeg, Patched(jpeg, sof + 4, {12})},
        {"jpeg_truncated_in_header", kx::DecodeJpeg, Bytes(jpeg.begin(), jpeg.begin() + sof + 6)},
        {"not_a_jpeg", kx::DecodeJpeg, Bytes(64, 0xFF)},
        {"bmp_24bit_20000x20000", kx::DecodeBmp, BmpClaim(20000, 20000, 24, 0)},
        {"bmp_rle8_20000x20000", kx::DecodeBmp, BmpClaim(20000, 20000, 8, 1)},
        {"bmp_topdown_20000x-20000", kx::DecodeBmp, BmpClaim(20000, -20000, 24, 0)},
        {"bmp_over_surface_limit", kx::DecodeBmp, BmpClaim(65535, 65535, 1, 0)},
        {"bmp_width_beyond_side_limit", kx::DecodeBmp, BmpClaim(70000, 1, 24, 0)},
        {"gif_screen_20000x20000", kx::DecodeGif, GifData(20000, 20000, 1, 1, {0x44, 0x01})},
        {"gif_image_beyond_screen_0", kx::DecodeGif, GifData(0, 0, 20000, 20000, {0x44, 0x01})},
        {"jpeg_20000x20000", kx::DecodeJpeg, kxtest::Jpeg(0xC0, 20000, 20000, 1), false, 2 * kMiB},
        {"jpeg_65535x65535", kx::DecodeJpeg, kxtest::Jpeg(0xC0, 65535, 65535, 1), false, 2 * kMiB},
        {"png_20000x20000", kx::DecodePng, GreyPng(20000, 20000, Bytes(20001, 0)), false, 2 * kMiB},
        {"png_over_side_limit", kx::DecodePng, GreyPng(70000, 1, Bytes(70001, 0)), false, 2 * kMiB},
        {"png_ztxt_24MiB", kx::DecodePng, GreyPng(100, 100, rows, {{"zTXt", textBomb}}), true, 12 * kMiB},
        {"png_iccp_24MiB", kx::DecodePng, GreyPng(100, 100, rows, {{"iCCP", profileBomb}}), true, 12 * kMiB},
        {"png_idat_24MiB_for_10KB", kx::DecodePng, GreyPng(100, 100, idatBomb), true, 2 * kMiB},
        {"gif_1MiB_for_16_pixels", kx::DecodeGif, GifData(4, 4, 4, 4, lzw), true, kMiB,
         "KKKK/KKKK/KKKK/KKKK/"},
    };
    for (const auto& c : cases) {
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
