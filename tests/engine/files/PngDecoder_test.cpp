#include <gtest/gtest.h>

#include <vector>

#include "PictureBytes.h"
#include "PictureDecoders.h"
#include "TestSupport.h"

using kxtest::Bgr;
using kxtest::Bytes;
using kxtest::Png;
using kxtest::PngLayout;

namespace {

constexpr Bgr kWhite{255, 255, 255}, kBlack{0, 0, 0};

TEST(DecodePng, EveryColourTypeAndDepthDecodesExactly)
{
    // Half alpha (128) over white: (c * 128 + 255 * 127 + 127) / 255, so
    // 0 gives 127, 100 gives 177, 200 gives 227 and 255 stays 255.
    const struct {
        const char* name;
        PngLayout layout;  // colour types: 0 grey, 2 RGB, 3 palette, 4 grey-alpha, 6 RGBA
        std::vector<Bgr> expected;
    } cases[] = {
        {"grey 1-bit", {3, 1, 1, 0, {{0xA0}}}, {kWhite, kBlack, kWhite}},
        {"grey, tRNS key 16", {2, 1, 8, 0, {{16, 17}}, {}, {0, 16}}, {kWhite, {17, 17, 17}}},
        {"palette 2-bit, tRNS",
         {3, 1, 2, 3, {{0x18}}, {255, 0, 0, 0, 255, 0, 0, 0, 255}, {255, 128}},
         {{0, 0, 255}, {127, 255, 127}, {255, 0, 0}}},
        {"RGB", {2, 1, 8, 2, {{1, 2, 3, 250, 251, 252}}}, {{3, 2, 1}, {252, 251, 250}}},
        {"RGBA",
         {3, 1, 8, 6, {{200, 100, 0, 128, 10, 20, 30, 0, 10, 20, 30, 255}}},
         {{127, 177, 227}, kWhite, {30, 20, 10}}},
        {"grey-alpha", {2, 1, 8, 4, {{0, 128, 200, 255}}}, {{127, 127, 127}, {200, 200, 200}}},
        {"RGB 16-bit, high bytes",
         {1, 1, 16, 2, {{0x12, 0x34, 0xAB, 0xCD, 0xFF, 0x00}}},
         {{0xFF, 0xAB, 0x12}}},
        {"two rows, top first", {1, 2, 8, 0, {{0}, {255}}}, {kBlack, kWhite}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kx::cDIBSection surface;
        ASSERT_TRUE(kx::DecodePng(Png(c.layout), surface));
        ASSERT_EQ(surface.Width(), int(c.layout.width));
        ASSERT_EQ(surface.Height(), int(c.layout.height));
        EXPECT_EQ(kxtest::AllPixels(surface), c.expected);
    }
}

TEST(DecodePng, HostileFilesFail)
{
    PngLayout layout{16, 16, 8, 2, std::vector<Bytes>(16)};
    for (int y = 0; y < 16; ++y)
        for (int i = 0; i < 48; ++i) layout.rows[y].push_back(uint8_t(i * 7919 + y * 31));
    const Bytes good = Png(layout);
    Bytes badCrc = good;
    badCrc[good.size() / 2] ^= 0x55;  // inside IDAT
    layout.width = 0;
    const struct {
        const char* name;
        Bytes file;
    } cases[] = {
        {"png_ihdr_zero_width", Png(layout)},
        {"png_truncated_idat", Bytes(good.begin(), good.begin() + good.size() / 2)},
        {"png_idat_crc_wrong", badCrc},
        {"png_signature_only", Bytes(good.begin(), good.begin() + 8)},
        {"not_a_png", Bytes(40, 'P')},
        {"empty_file", {}},
    };
    for (const auto& c : cases) {
        kx::cDIBSection surface;
        EXPECT_FALSE(kx::DecodePng(c.file, surface)) << c.name;
    }
}

}  // namespace
