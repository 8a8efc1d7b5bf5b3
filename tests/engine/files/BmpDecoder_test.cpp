#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "PictureDecoders.h"
#include "PictureLoader.h"
#include "TestSupport.h"

using namespace kx;
using kxtest::Bgr;

namespace {

// The colours of the 3x2 test picture, blue-green-red.
constexpr Bgr K{0, 0, 0}, R{0, 0, 255}, G{0, 255, 0}, B{255, 0, 0}, W{255, 255, 255}, Y{0, 255, 255};

struct BmpLayout {
    int32_t width = 3;
    int32_t height = 2;  // negative: top-down
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t headerSize = 40;       // 12 core, 16..64 info/OS/2 2.x, 124 V5
    std::vector<uint32_t> palette;  // 0xRRGGBB
    std::vector<uint32_t> masks;    // red, green, blue
    std::vector<uint8_t> pixels;    // exactly as stored, bottom row first
    uint16_t planes = 1;
    std::optional<uint32_t> dataOffset;  // default: right after the palette

    BmpLayout& Size(int32_t w, int32_t h)
    {
        width = w;
        height = h;
        return *this;
    }
    BmpLayout& Bits(uint16_t v)
    {
        bits = v;
        return *this;
    }
    BmpLayout& Compression(uint32_t v)
    {
        compression = v;
        return *this;
    }
    BmpLayout& Header(uint32_t v)
    {
        headerSize = v;
        return *this;
    }
    BmpLayout& Palette(std::vector<uint32_t> v)
    {
        palette = std::move(v);
        return *this;
    }
    BmpLayout& Masks(std::vector<uint32_t> v)
    {
        masks = std::move(v);
        return *this;
    }
    BmpLayout& Pixels(std::vector<uint8_t> v)
    {
        pixels = std::move(v);
        return *this;
    }
    BmpLayout& Planes(uint16_t v)
    {
        planes = v;
        return *this;
    }
    BmpLayout& Offset(uint32_t v)
    {
        dataOffset = v;
        return *this;
    }
};

// Lays a BMP file out field by field.
std::vector<uint8_t> Build(const BmpLayout& s)
{
    std::vector<uint8_t> f;
    auto u16 = [&](uint32_t v) { f.insert(f.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    const bool core = s.headerSize == 12;
    const bool masksInHeader = s.headerSize >= 52;
    const uint32_t start = 14 + s.headerSize + (masksInHeader ? 0 : 4 * uint32_t(s.masks.size())) +
                           uint32_t(s.palette.size()) * (core ? 3 : 4);
    f.insert(f.end(), {'B', 'M'});           // signature
    u32(start + uint32_t(s.pixels.size()));  // file size
    u32(0);                                  // reserved
    u32(s.dataOffset.value_or(start));       // offset of the pixel data
    u32(s.headerSize);                       // header size
    if (core) {
        u16(uint32_t(s.width));   // width, 16 bits
        u16(uint32_t(s.height));  // height, 16 bits
    } else {
        u32(uint32_t(s.width));   // width
        u32(uint32_t(s.height));  // height, negative: top-down
    }
    u16(s.planes);  // planes
    u16(s.bits);    // bits a pixel
    if (!core) {
        u32(s.compression);               // 0 RGB, 1 RLE8, 2 RLE4, 3 bit fields
        u32(uint32_t(s.pixels.size()));   // image size
        u32(2835);                        // horizontal pixels a metre
        u32(2835);                        // vertical pixels a metre
        u32(uint32_t(s.palette.size()));  // colours used
        u32(0);                           // important colours
        if (masksInHeader)
            for (size_t i = 0; i < 3; ++i) u32(i < s.masks.size() ? s.masks[i] : 0);
        f.resize(14 + s.headerSize);  // V4/V5 colour space fields: zero
        if (!masksInHeader)
            for (uint32_t m : s.masks) u32(m);  // masks after a short header
    }
    for (uint32_t c : s.palette) {
        f.insert(f.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});  // blue, green, red
        if (!core) f.push_back(0);                                           // reserved
    }
    f.insert(f.end(), s.pixels.begin(), s.pixels.end());
    return f;
}

bool Decode(const std::vector<uint8_t>& file, cDIBSection& surface)
{
    return DecodeBmp(std::span<const uint8_t>(file), surface);
}

// Palette of the 4- and 8-bit fixtures: index 0 K, 1 R, 2 G, 3 B, 4 W, 5 Y.
const std::vector<uint32_t> kPalette6{0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0xFFFF00};
const std::vector<Bgr> kRgbWky{R, G, B, W, K, Y};

BmpLayout Pal8() { return BmpLayout().Bits(8).Palette(kPalette6); }
BmpLayout Rle8() { return Pal8().Compression(1); }

TEST(BmpDecoder, DecodesEachVariantExactly)
{
    struct Case {
        const char* name;
        BmpLayout layout;
        std::vector<Bgr> expected;  // top row, then bottom row
    };
    const std::vector<Case> cases{
        {"1 bit",
         BmpLayout().Bits(1).Palette({0x000000, 0xFFFFFF}).Pixels({0xA0, 0, 0, 0, 0x40, 0, 0, 0}),
         {K, W, K, W, K, W}},
        {"2 bits",
         BmpLayout()
             .Bits(2)
             .Palette({0, 0xFF0000, 0x00FF00, 0x0000FF})
             .Pixels({0x04, 0, 0, 0, 0x6C, 0, 0, 0}),
         {R, G, B, K, K, R}},
        {"4 bits", BmpLayout().Bits(4).Palette(kPalette6).Pixels({0x40, 0x50, 0, 0, 0x12, 0x30, 0, 0}),
         kRgbWky},
        {"8 bits", Pal8().Pixels({4, 0, 5, 0, 1, 2, 3, 0}), kRgbWky},
        {"8 bits core header", Pal8().Header(12).Pixels({4, 0, 5, 0, 1, 2, 3, 0}), kRgbWky},
        {"8 bits OS/2 2.x 16-byte header", Pal8().Header(16).Pixels({4, 0, 5, 0, 1, 2, 3, 0}), kRgbWky},
        // Runs, an end of line, a literal padded to 16 bits, the end.
        {"RLE8", Rle8().Pixels({1, 4, 1, 0, 1, 5, 0, 0, 0, 3, 1, 2, 3, 0, 0, 1}), kRgbWky},
        // A delta one row up leaves the skipped pixels black.
        {"RLE8 delta", Rle8().Pixels({2, 4, 0, 2, 0, 1, 1, 3, 0, 1}), {K, K, B, W, W, K}},
        // A run, a delta one pixel right, an end of line, a literal.
        {"RLE4",
         BmpLayout().Bits(4).Compression(2).Palette(kPalette6).Pixels(
             {1, 0x40, 0, 2, 1, 0, 1, 0x50, 0, 0, 0, 3, 0x12, 0x30, 0, 1}),
         kRgbWky},
        {"16 bits 5-5-5",
         BmpLayout().Bits(16).Pixels(
             {0xFF, 0x7F, 0, 0, 0xE0, 0x7F, 0, 0, 0x00, 0x7C, 0xE0, 0x03, 0x1F, 0, 0, 0}),
         kRgbWky},
        {"16 bits 5-6-5 bit fields",
         BmpLayout()
             .Bits(16)
             .Compression(3)
             .Masks({0xF800, 0x07E0, 0x001F})
             .Pixels({0xFF, 0xFF, 0, 0, 0xE0, 0xFF, 0, 0, 0x00, 0xF8, 0xE0, 0x07, 0x1F, 0, 0, 0}),
         kRgbWky},
        {"24 bits", BmpLayout().Pixels({255, 255, 255, 0, 0,   0, 0,   255, 255, 0, 0, 0,
                                        0,   0,   255, 0, 255, 0, 255, 0,   0,   0, 0, 0}),
         kRgbWky},
        {"24 bits top-down",
         BmpLayout().Size(3, -2).Pixels(
             {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 0, 0, 0, 0, 255, 255, 0, 0, 0}),
         kRgbWky},
        // The fourth byte is unused, not alpha.
        {"32 bits", BmpLayout().Bits(32).Pixels({255, 255, 255, 9, 0, 0,   0, 9, 0,   255, 255, 9,
                                                 0,   0,   255, 9, 0, 255, 0, 9, 255, 0,   0,   9}),
         kRgbWky},
        {"32 bits V5 header, red in the low byte",
         BmpLayout()
             .Bits(32)
             .Compression(3)
             .Header(124)
             .Masks({0x0000FF, 0x00FF00, 0xFF0000})
             .Pixels(
                 {255, 255, 255, 0, 0, 0, 0, 0, 255, 255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0}),
         kRgbWky},
        // Damaged but readable: clipped at the row's end, the rest black.
        {"rle8_run_past_row", Rle8().Pixels({5, 4, 1, 1, 0, 0, 1, 2, 0, 1}), {G, K, K, W, W, W}},
        {"rle8_delta_past_row",
         Rle8().Pixels({0, 2, 200, 0, 1, 4, 0, 0, 0, 3, 1, 2, 3, 0, 0, 1}),
         {R, G, B, K, K, K}},
        {"rle8_truncated_literal", Rle8().Pixels({1, 4, 1, 0, 1, 5, 0, 0, 0, 3, 1}), {R, K, K, W, K, Y}},
        {"palette_index_beyond_palette",
         Pal8().Palette({0x000000, 0xFF0000}).Pixels({1, 9, 200, 0, 0, 1, 255, 0}),
         {K, R, K, R, K, K}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cDIBSection surface;
        ASSERT_TRUE(Decode(Build(c.layout), surface));
        ASSERT_EQ(surface.Width(), 3);
        ASSERT_EQ(surface.Height(), 2);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(kxtest::PixelAt(surface, i % 3, i / 3), c.expected[i]) << "pixel " << i;
    }
}

TEST(BmpDecoder, ScalesBitFieldsToFullRange)
{
    struct Case {
        uint16_t bits;
        std::vector<uint32_t> masks;
        uint32_t pixel;
        Bgr expected;
    } const cases[]{
        // 3-bit red 4 -> round(4 * 255 / 7) = 146, 3-bit green 1 -> 36, no blue mask -> 0.
        {16, {0x0007, 0x0038, 0}, 0x000C, {0, 36, 146}},
        // Red 0x80000003 * 255 / 0xFFFFFFFF = 127.5000002 -> 128; 1-bit green 1 -> 255; 2-bit blue 1 -> 85.
        {32, {0xFFFFFFFF, 0x1, 0x6}, 0x80000003, {85, 255, 128}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pixel);
        const uint32_t p = c.pixel;
        cDIBSection surface;
        ASSERT_TRUE(Decode(Build(BmpLayout().Size(1, 1).Bits(c.bits).Compression(3).Masks(c.masks).Pixels(
                               {uint8_t(p), uint8_t(p >> 8), uint8_t(p >> 16), uint8_t(p >> 24)})),
                           surface));
        EXPECT_EQ(kxtest::PixelAt(surface, 0, 0), c.expected);
    }
}

TEST(BmpDecoder, RefusesMalformedFiles)
{
    KX_SKIP_WITHOUT_CORPORA();
    const BmpLayout good = BmpLayout().Pixels(std::vector<uint8_t>(24, 0x55));
    const BmpLayout rle = Rle8().Pixels({0, 1});
    struct Case {
        const char* name;
        BmpLayout layout;
        std::function<void(std::vector<uint8_t>&)> damage;
    };
    const std::vector<Case> cases{
        {"bad_signature", good, [](auto& f) { f[1] = 'A'; }},
        {"header_size_unknown", BmpLayout(good).Header(100), {}},
        {"header_cut_short", good, [](auto& f) { f.resize(30); }},
        {"zero_width", BmpLayout(good).Size(0, 2), {}},
        {"negative_width", BmpLayout(good).Size(-3, 2), {}},
        {"zero_height", BmpLayout(good).Size(3, 0), {}},
        {"height_int32_min", BmpLayout(good).Size(3, INT32_MIN), {}},
        {"width_beyond_limit", BmpLayout(good).Size(70000, 1), {}},
        {"header_claims_huge_size", BmpLayout(good).Size(60000, 60000), {}},
        {"rle_claims_huge_size", BmpLayout(rle).Size(40000, 40000), {}},
        {"bad_planes", BmpLayout(good).Planes(2), {}},
        {"bad_bit_count", BmpLayout(good).Bits(12), {}},
        {"bit_count_64", BmpLayout(good).Bits(64), {}},
        {"rle8_with_4_bits", BmpLayout(rle).Bits(4), {}},
        {"rle4_with_8_bits", BmpLayout(rle).Compression(2), {}},
        {"bit_fields_with_24_bits", BmpLayout(good).Compression(3).Masks({0xFF0000, 0xFF00, 0xFF}), {}},
        {"jpeg_inside", BmpLayout(good).Compression(4), {}},
        {"png_inside", BmpLayout(good).Compression(5), {}},
        {"os2_huffman", BmpLayout(good).Header(64).Bits(16).Compression(3), {}},
        {"rle8_top_down", BmpLayout(rle).Size(3, -2), {}},
        {"rle8_no_data", BmpLayout(rle).Pixels({}), {}},
        {"pixel_offset_past_end", BmpLayout(good).Offset(14 + 40 + 24 + 1), {}},
        {"pixel_offset_inside_header", BmpLayout(good).Offset(30), {}},
        {"truncated_rows", good, [](auto& f) { f.pop_back(); }},
        {"palette_missing", BmpLayout(good).Bits(8), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto file = Build(c.layout);
        if (c.damage) c.damage(file);
        cDIBSection surface;
        EXPECT_FALSE(Decode(file, surface));
    }
}

bool DecodeSuite(const std::string& name, cDIBSection& surface)
{
    return Decode(kxtest::ReadFileBytes(kxtest::CorpusPath("bmpsuite/" + name)), surface);
}

int MaxDifference(const cDIBSection& a, const cDIBSection& b)
{
    int worst = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) {
            const Bgr p = kxtest::PixelAt(a, x, y), q = kxtest::PixelAt(b, x, y);
            worst = std::max({worst, std::abs(p.b - q.b), std::abs(p.g - q.g), std::abs(p.r - q.r)});
        }
    return worst;
}

// The suite renders one picture in every variant. Not compared: pal1* (two
// colours), pal4 and pal4gs (12 colours), pal8gs (grey) and the files of
// other sizes (pal8nonsquare, pal8w124..126). Alpha files (rgba*) and
// rgb24prof2 (a profile that swaps channels) legitimately show other colours.
TEST(BmpDecoder, SuiteVariantsMatchTheirReference)
{
    KX_SKIP_WITHOUT_CORPORA();
    cDIBSection rgb24;
    ASSERT_TRUE(DecodeSuite("g/rgb24.bmp", rgb24));
    // Known pixels of the reference: the red, green and blue bars, black, grey.
    const std::pair<std::pair<int, int>, Bgr> known[]{{{0, 0}, R},
                                                      {{32, 0}, G},
                                                      {{64, 0}, B},
                                                      {{0, 63}, K},
                                                      {{96, 63}, {96, 96, 96}},
                                                      {{126, 0}, {189, 159, 159}}};
    for (const auto& [at, colour] : known) EXPECT_EQ(kxtest::PixelAt(rgb24, at.first, at.second), colour);

    const struct {
        const char* name;
        const char* reference;
        int tolerance;
    } cases[]{
        {"g/rgb24pal.bmp", "g/rgb24.bmp", 0},
        {"g/rgb32.bmp", "g/rgb24.bmp", 0},
        {"g/rgb32bf.bmp", "g/rgb24.bmp", 0},
        {"g/rgb32bfdef.bmp", "g/rgb24.bmp", 0},
        {"q/rgb24largepal.bmp", "g/rgb24.bmp", 0},
        {"q/rgb24prof.bmp", "g/rgb24.bmp", 0},
        {"q/rgb24lprof.bmp", "g/rgb24.bmp", 0},
        {"q/rgb32fakealpha.bmp", "g/rgb24.bmp", 0},
        {"q/rgb32h52.bmp", "g/rgb24.bmp", 0},
        {"q/rgb32-xbgr.bmp", "g/rgb24.bmp", 0},
        // 7- and 10-bit channels round to within 1.
        {"q/rgb32-7187.bmp", "g/rgb24.bmp", 1},
        {"q/rgb32-111110.bmp", "g/rgb24.bmp", 1},
        // 5- and 6-bit channels: within half a step of 255 / 31.
        {"g/rgb16.bmp", "g/rgb24.bmp", 4},
        {"g/rgb16bfdef.bmp", "g/rgb24.bmp", 4},
        {"g/rgb16-565.bmp", "g/rgb24.bmp", 4},
        {"g/rgb16-565pal.bmp", "g/rgb24.bmp", 4},
        {"q/rgb16faketrns.bmp", "g/rgb24.bmp", 4},
        {"q/rgba16-5551.bmp", "g/rgb24.bmp", 4},
        // A 252-colour palette is up to 50 away; its variants match it exactly.
        {"g/pal8.bmp", "g/rgb24.bmp", 50},
        {"g/pal8-0.bmp", "g/pal8.bmp", 0},
        {"g/pal8os2.bmp", "g/pal8.bmp", 0},
        {"g/pal8rle.bmp", "g/pal8.bmp", 0},
        {"g/pal8topdown.bmp", "g/pal8.bmp", 0},
        {"g/pal8v4.bmp", "g/pal8.bmp", 0},
        {"g/pal8v5.bmp", "g/pal8.bmp", 0},
        {"q/pal8offs.bmp", "g/pal8.bmp", 0},
        {"q/pal8oversizepal.bmp", "g/pal8.bmp", 0},
        {"q/pal8os2sp.bmp", "g/pal8.bmp", 0},
        {"q/pal8os2v2.bmp", "g/pal8.bmp", 0},
        {"q/pal8os2v2-16.bmp", "g/pal8.bmp", 0},
        {"q/pal8os2-sz.bmp", "g/pal8.bmp", 0},
        {"g/pal4rle.bmp", "g/pal4.bmp", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cDIBSection surface, reference;
        ASSERT_TRUE(DecodeSuite(c.name, surface));
        ASSERT_TRUE(DecodeSuite(c.reference, reference));
        ASSERT_EQ(surface.Width(), 127);
        ASSERT_EQ(surface.Height(), 64);
        EXPECT_LE(MaxDifference(surface, reference), c.tolerance);
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
        std::vector<uint8_t> bytes(junk, 0xEE);
        for (int i = 0; i < 3 * 16; ++i) bytes.push_back(uint8_t(i * 37 + 11));
        return bytes;
    };
    const uint32_t infoStart = 14 + 40;
    const struct {
        const char* name;
        BmpLayout layout;
    } cases[] = {
        {"bottom-up", BmpLayout().Size(5, 3).Pixels(rows(0))},
        {"top-down", BmpLayout().Size(5, -3).Pixels(rows(0))},
        {"core header", BmpLayout().Size(5, 3).Header(12).Pixels(rows(0))},
        {"V5 header", BmpLayout().Size(5, 3).Header(124).Pixels(rows(0))},
        {"gap before the rows", BmpLayout().Size(5, 3).Pixels(rows(7)).Offset(infoStart + 7)},
        {"rows beyond 64 KiB", BmpLayout().Size(5, -3).Pixels(rows(70000)).Offset(infoStart + 70000)},
    };
    kxtest::TempDir dir;
    for (const auto& [name, layout] : cases) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> file = Build(layout);
        const std::string path = dir / "plain.bmp";
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
