#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "PictureDecoders.h"
#include "TestSupport.h"

using kxtest::Bgr;
using kxtest::PixelAt;

namespace {

constexpr Bgr kWhite{255, 255, 255}, kBlack{0, 0, 0};

// A picture as libpng writes it: rows of packed samples in file order
// (16-bit samples big-endian), with an optional palette and tRNS chunk.
struct PngLayout {
    int width, height, colourType, bitDepth;
    std::vector<std::vector<uint8_t>> rows;
    std::vector<png_color> palette = {};
    std::vector<uint8_t> paletteAlpha = {};
    bool greyKey = false;  // tRNS making grey 16 transparent
    bool interlace = false;
};

void Append(png_structp png, png_bytep bytes, size_t count)
{
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), bytes, bytes + count);
}

std::vector<uint8_t> EncodePng(const PngLayout& layout)
{
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, Append, nullptr);
    png_set_IHDR(png, info, layout.width, layout.height, layout.bitDepth, layout.colourType,
                 layout.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!layout.palette.empty())
        png_set_PLTE(png, info, layout.palette.data(), static_cast<int>(layout.palette.size()));
    png_color_16 key{0, 0, 0, 0, 16};
    if (!layout.paletteAlpha.empty() || layout.greyKey)
        png_set_tRNS(png, info, layout.paletteAlpha.data(), static_cast<int>(layout.paletteAlpha.size()),
                     &key);
    png_write_info(png, info);
    std::vector<png_bytep> rows;
    for (auto& row : layout.rows) rows.push_back(const_cast<png_bytep>(row.data()));
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

TEST(DecodePng, EveryColourTypeAndDepthDecodesExactly)
{
    // Half alpha (128) over white: (c * 128 + 255 * 127 + 127) / 255, so
    // 0 gives 127, 100 gives 177, 200 gives 227 and 255 stays 255.
    const struct {
        const char* name;
        PngLayout layout;
        std::vector<Bgr> expected;
    } cases[] = {
        {"grey 1-bit", {3, 1, PNG_COLOR_TYPE_GRAY, 1, {{0xA0}}}, {kWhite, kBlack, kWhite}},
        {"grey 8-bit", {2, 1, PNG_COLOR_TYPE_GRAY, 8, {{16, 238}}}, {{16, 16, 16}, {238, 238, 238}}},
        {"grey 8-bit, tRNS key 16",
         {2, 1, PNG_COLOR_TYPE_GRAY, 8, {{16, 17}}, {}, {}, true},
         {kWhite, {17, 17, 17}}},
        {"palette 2-bit with tRNS",
         {3, 1, PNG_COLOR_TYPE_PALETTE, 2, {{0x18}}, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}, {255, 128}},
         {{0, 0, 255}, {127, 255, 127}, {255, 0, 0}}},
        {"RGB 8-bit",
         {2, 1, PNG_COLOR_TYPE_RGB, 8, {{1, 2, 3, 250, 251, 252}}},
         {{3, 2, 1}, {252, 251, 250}}},
        {"RGBA with half alpha",
         {3, 1, PNG_COLOR_TYPE_RGBA, 8, {{200, 100, 0, 128, 10, 20, 30, 0, 10, 20, 30, 255}}},
         {{127, 177, 227}, kWhite, {30, 20, 10}}},
        {"grey-alpha 8-bit",
         {2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {{0, 128, 200, 255}}},
         {{127, 127, 127}, {200, 200, 200}}},
        {"RGB 16-bit keeps the high bytes",
         {1, 1, PNG_COLOR_TYPE_RGB, 16, {{0x12, 0x34, 0xAB, 0xCD, 0xFF, 0x00}}},
         {{0xFF, 0xAB, 0x12}}},
        {"grey-alpha 16-bit",
         {1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 16, {{0x80, 0x01, 0xFF, 0xFF}}},
         {{128, 128, 128}}},
        {"two rows, top first", {1, 2, PNG_COLOR_TYPE_GRAY, 8, {{0}, {255}}}, {kBlack, kWhite}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kx::cDIBSection surface;
        ASSERT_TRUE(kx::DecodePng(EncodePng(c.layout), surface));
        ASSERT_EQ(surface.Width(), c.layout.width);
        ASSERT_EQ(surface.Height(), c.layout.height);
        EXPECT_EQ(kxtest::AllPixels(surface), c.expected);
    }
}

TEST(DecodePng, InterlacedMatchesPlain)
{
    PngLayout layout{9, 7, PNG_COLOR_TYPE_RGB, 8, {}};
    for (int y = 0; y < 7; ++y) {
        layout.rows.emplace_back();
        for (int x = 0; x < 9; ++x)
            for (int c = 0; c < 3; ++c) layout.rows[y].push_back(static_cast<uint8_t>(x * 28 + y * 3 + c));
    }
    kx::cDIBSection plain, interlaced;
    ASSERT_TRUE(kx::DecodePng(EncodePng(layout), plain));
    layout.interlace = true;
    ASSERT_TRUE(kx::DecodePng(EncodePng(layout), interlaced));
    EXPECT_EQ(PixelAt(interlaced, 8, 6), (Bgr{8 * 28 + 18 + 2, 8 * 28 + 18 + 1, 8 * 28 + 18}));
    EXPECT_EQ(kxtest::AllPixels(interlaced), kxtest::AllPixels(plain));
}

// Rewrites IHDR's width and height and its CRC (the chunk starts at byte 8).
std::vector<uint8_t> WithSize(std::vector<uint8_t> file, uint32_t width, uint32_t height)
{
    for (int i = 0; i < 4; ++i) {
        file[16 + i] = static_cast<uint8_t>(width >> (24 - 8 * i));
        file[20 + i] = static_cast<uint8_t>(height >> (24 - 8 * i));
    }
    const uint32_t crc = static_cast<uint32_t>(crc32(0, &file[12], 17));
    for (int i = 0; i < 4; ++i) file[29 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    return file;
}

TEST(DecodePng, HostileFilesFail)
{
    PngLayout layout{16, 16, PNG_COLOR_TYPE_RGB, 8, {}};
    layout.rows.resize(16);
    for (int y = 0; y < 16; ++y)
        for (int i = 0; i < 48; ++i) layout.rows[y].push_back(static_cast<uint8_t>(i * 7919 + y * 31));
    const std::vector<uint8_t> good = EncodePng(layout);
    kx::cDIBSection check;
    ASSERT_TRUE(kx::DecodePng(WithSize(good, 16, 16), check)) << "rewriting IHDR must keep it valid";

    std::vector<uint8_t> truncated(good.begin(), good.begin() + good.size() / 2);
    std::vector<uint8_t> badCrc = good;
    badCrc[good.size() / 2] ^= 0x55;  // inside IDAT
    const struct {
        const char* name;
        std::vector<uint8_t> file;
    } cases[] = {
        {"png_ihdr_huge_size", WithSize(good, 20000, 20000)},  // 1.2 GB of samples from 800 bytes
        {"png_ihdr_beyond_side_limit", WithSize(good, 70000, 1)},
        {"png_ihdr_zero_width", WithSize(good, 0, 16)},
        {"png_truncated_idat", truncated},
        {"png_idat_crc_wrong", badCrc},
        {"png_signature_only", std::vector<uint8_t>(good.begin(), good.begin() + 8)},
        {"not_a_png", std::vector<uint8_t>(40, 'P')},
        {"empty_file", {}},
    };
    for (const auto& c : cases) {
        kx::cDIBSection surface;
        EXPECT_FALSE(kx::DecodePng(c.file, surface)) << c.name;
    }
}

}  // namespace
