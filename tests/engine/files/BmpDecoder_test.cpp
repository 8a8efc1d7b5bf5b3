#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "PictureBytes.h"
#include "PictureDecoders.h"
#include "PictureLoader.h"
#include "TestSupport.h"

using namespace kx;
using kxtest::Bgr;
using kxtest::Bmp;
using kxtest::BmpLayout;
using kxtest::Bytes;
using kxtest::Hex;

namespace {

bool Decode(const Bytes& file, cDIBSection& surface)
{
    return DecodeBmp(std::span<const uint8_t>(file), surface);
}

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
    const struct {
        const char* name;
        const char* expected;
        BmpLayout layout;  // pixels bottom row first, rows padded to 4 bytes
    } cases[]{
        {"1 bit", "KRK/RKR/", Indexed(1, 0, "a0000000 40000000")},
        {"4 bits", "RGB/WKY/", Indexed(4, 0, "40500000 12300000")},
        {"8 bits", "RGB/WKY/", Indexed(8, 0, "04000500 01020300")},
        {"core header", "RGB/WKY/", {.bits = 8, .headerSize = 12, .palette = kPal, .pixels = pal8}},
        {"OS/2 2.x header", "RGB/WKY/", {.bits = 8, .headerSize = 16, .palette = kPal, .pixels = pal8}},
        // Runs, an end of line, a literal padded to 16 bits, the end.
        {"RLE8", "RGB/WKY/", Indexed(8, 1, "0104 0100 0105 0000 000301020300 0001")},
        // A delta one row up leaves the skipped pixels black.
        {"RLE8 delta", "KKB/WWK/", Indexed(8, 1, "0204 00020001 0103 0001")},
        // A run, a delta one pixel right, an end of line, a literal.
        {"RLE4", "RGB/WKY/", Indexed(4, 2, "0140 00020100 0150 0000 00031230 0001")},
        {"16 bits 5-5-5", "RGB/WKY/", {.bits = 16, .pixels = Hex("ff7f0000e07f0000 007ce0031f000000")}},
        {"16 bits 5-6-5 bit fields",
         "RGB/WKY/",
         {.bits = 16,
          .compression = 3,
          .masks = {0xF800, 0x07E0, 0x1F},
          .pixels = Hex("ffff0000e0ff0000 00f8e0071f000000")}},
        {"24 bits", "RGB/WKY/", {.pixels = Hex("ffffff00000000ffff000000 0000ff00ff00ff0000000000")}},
        {"24 bits top-down",
         "RGB/WKY/",
         {.height = -2, .pixels = Hex("0000ff00ff00ff0000000000 ffffff00000000ffff000000")}},
        // The fourth byte is unused, not alpha.
        {"32 bits",
         "RGB/WKY/",
         {.bits = 32, .pixels = Hex("ffffff090000000900ffff09 0000ff0900ff0009ff000009")}},
        {"32 bits V5 header, red in the low byte",
         "RGB/WKY/",
         {.bits = 32,
          .compression = 3,
          .headerSize = 124,
          .masks = {0xFF, 0xFF00, 0xFF0000},
          .pixels = Hex("ffffff0000000000ffff0000 ff00000000ff00000000ff00")}},
        // Damaged but readable: clipped at the row's end, the rest black.
        {"rle8_run_past_row", "GKK/WWW/", Indexed(8, 1, "0504 0101 0000 0102 0001")},
        {"rle8_delta_past_row", "RGB/KKK/", Indexed(8, 1, "0002c800 0104 0000 000301020300 0001")},
        {"rle8_truncated_literal", "RKK/WKY/", Indexed(8, 1, "0104 0100 0105 0000 000301")},
        {"palette_index_beyond_palette",
         "KRK/RKK/",
         {.bits = 8, .palette = {0, 0xFF0000}, .pixels = Hex("0109c800 0001ff00")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cDIBSection surface;
        ASSERT_TRUE(Decode(Bmp(c.layout), surface));
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
        cDIBSection surface;
        ASSERT_TRUE(Decode(kxtest::Concat({Bmp(layout), Hex(c.pixel), {0, 0}}), surface));
        EXPECT_EQ(kxtest::PixelAt(surface, 0, 0), c.expected) << c.bits << " bits";
    }
}

TEST(BmpDecoder, RefusesMalformedFiles)
{
    const Bytes px(24, 0x55), good = Bmp({.pixels = px});
    Bytes badSignature = good;
    badSignature[1] = 'A';
    const struct {
        const char* name;
        Bytes file;
    } cases[]{
        {"bad_signature", badSignature},
        {"header_size_unknown", Bmp({.headerSize = 100, .pixels = px})},
        {"header_cut_short", Bytes(good.begin(), good.begin() + 30)},
        {"zero_width", Bmp({.width = 0, .pixels = px})},
        {"height_int32_min", Bmp({.height = INT32_MIN, .pixels = px})},
        {"bad_planes", Bmp({.pixels = px, .planes = 2})},
        {"bad_bit_count", Bmp({.bits = 12, .pixels = px})},
        {"rle8_with_4_bits", Bmp({.bits = 4, .compression = 1, .palette = kPal, .pixels = {0, 1}})},
        {"rle4_with_8_bits", Bmp({.bits = 8, .compression = 2, .palette = kPal, .pixels = {0, 1}})},
        {"bit_fields_with_24_bits", Bmp({.compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}, .pixels = px})},
        {"jpeg_inside", Bmp({.compression = 4, .pixels = px})},
        {"os2_huffman", Bmp({.bits = 16, .compression = 3, .headerSize = 64, .pixels = px})},
        {"rle8_top_down",
         Bmp({.height = -2, .bits = 8, .compression = 1, .palette = kPal, .pixels = {0, 1}})},
        {"rle8_no_data", Bmp({.bits = 8, .compression = 1, .palette = kPal})},
        {"pixel_offset_past_end", Bmp({.pixels = px, .offset = 14 + 40 + 24 + 1})},
        {"pixel_offset_inside_header", Bmp({.pixels = px, .offset = 30})},
        {"truncated_rows", Bytes(good.begin(), good.end() - 1)},
        {"palette_missing", Bmp({.bits = 8, .pixels = px})},
    };
    for (const auto& c : cases) {
        cDIBSection surface;
        EXPECT_FALSE(Decode(c.file, surface)) << c.name;
    }
}

}  // namespace

// The loader reads the rows of an uncompressed 24-bit BMP straight from the
// file into the surface; the result must be the decoder's, byte for byte,
// padding included, and a file one byte short must be refused by both.
TEST(BmpLoader, ReadsPlainRowsInPlaceExactlyAsTheDecoder)
{
    // 5 pixels a row: 15 bytes and one byte of padding, set in the file.
    auto rows = [](size_t junk) {
        Bytes bytes(junk, 0xEE);
        for (int i = 0; i < 3 * 16; ++i) bytes.push_back(uint8_t(i * 37 + 11));
        return bytes;
    };
    const BmpLayout cases[]{
        {.width = 5, .height = 3, .pixels = rows(0)},
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
        cDIBSection decoded, loaded;
        ASSERT_TRUE(Decode(file, decoded));
        ASSERT_TRUE(LoadPicture(path, loaded));
        ASSERT_EQ(loaded.Width(), 5);
        ASSERT_EQ(loaded.Height(), 3);
        for (Long y = 0; y < 3; ++y)
            EXPECT_TRUE(std::equal(decoded.Row(y), decoded.Row(y) + 16, loaded.Row(y))) << "row " << y;

        file.pop_back();
        kxtest::WriteFileBytes(path, file);
        EXPECT_FALSE(Decode(file, decoded));
        EXPECT_FALSE(LoadPicture(path, loaded));
        EXPECT_FALSE(loaded.IsLive());
    }
}
