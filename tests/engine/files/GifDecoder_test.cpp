#include <gtest/gtest.h>

#include <vector>

#include "PictureBytes.h"
#include "PictureDecoders.h"
#include "PictureLoader.h"
#include "TestSupport.h"
#include "modImageInfo.h"

using kxtest::Bgr;
using kxtest::Bytes;
using kxtest::Concat;
using kxtest::Gif;
using kxtest::PixelAt;

namespace {

constexpr Bgr kWhite{255, 255, 255};

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
        ASSERT_TRUE(kx::DecodeGif(Gif(c.layout), surface)) << c.name;
        EXPECT_EQ(kxtest::Sketch(surface), c.expected) << c.name;
    }
}

TEST(DecodeGif, TruncatedDataKeepsDecodedRowsAndLeavesTheRestWhite)
{
    // 64 x 64 varied indices, so that the data spans many sub-blocks.
    kxtest::GifLayout layout{64, 64, 0, 0, 64, 64, std::vector<Bytes>(64, Bytes(64))};
    layout.colours.resize(256);
    for (uint32_t i = 0; i < 256; ++i) layout.colours[i] = i << 16 | (255 - i) << 8 | i / 2;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) layout.rows[y][x] = uint8_t((x * 37 + y * 91) ^ (x * y));
    Bytes file = Gif(layout);
    file.resize(file.size() / 2);
    kx::cDIBSection surface;
    ASSERT_TRUE(kx::DecodeGif(file, surface));
    EXPECT_EQ(PixelAt(surface, 5, 0), (Bgr{92, 70, 185}));  // index 185
    EXPECT_EQ(PixelAt(surface, 5, 63), kWhite);
}

TEST(DecodeGif, HostileFilesFail)
{
    // A 2 x 2 picture: 6 + 7 bytes of header, 12 of colour table, 10 of image
    // descriptor, then the data and the trailer.
    const Bytes base = Gif({2, 2, 0, 0, 2, 2, {{0, 1}, {1, 0}}});
    const Bytes head(base.begin(), base.begin() + 25), desc(base.begin() + 25, base.begin() + 35);
    const Bytes data(base.begin() + 35, base.end());
    ASSERT_EQ(desc[0], 0x2C);
    kx::cDIBSection check;
    ASSERT_TRUE(kx::DecodeGif(base, check)) << "the base file must decode";
    const struct {
        const char* name;
        Bytes file;
    } cases[] = {
        {"gif_lzw_garbage", Concat({head, desc, {2, 3, 0xFF, 0xFF, 0xFF, 0, 0x3B}})},
        {"gif_no_colour_table", Gif({2, 2, 0, 0, 2, 2, {{0, 1}, {1, 0}}, -1, false, {}})},
        {"gif_no_image", Concat({head, {0x3B}})},
        {"gif_truncated_screen_descriptor", {'G', 'I', 'F', '8', '9', 'a', 2, 0}},
        {"gif_truncated_before_image_data", Concat({head, desc})},
        {"gif_unknown_record", Concat({head, {0x99}, desc, data})},
        {"not_a_gif", {'G', 'I', 'X', '8', '9', 'a', 2, 0, 2, 0, 0, 0, 0}},
        {"empty_file", {}},
    };
    for (const auto& c : cases) {
        kx::cDIBSection surface;
        EXPECT_FALSE(kx::DecodeGif(c.file, surface)) << c.name;
    }
}

// The header probe takes any file that starts with "GIF" for a GIF, whatever
// its version field says, and so does giflib; the loader must too, or a
// folder run would size such a picture and then fail to read it.
TEST(LoadPicture, TakesAGifWhateverItsVersionSays)
{
    Bytes gif = Gif({2, 1, 0, 0, 2, 1, {{0, 1}}});
    gif[3] = '6';
    kxtest::TempDir dir;
    const std::string path = dir / "odd-version.gif";
    kxtest::WriteFileBytes(path, gif);
    EXPECT_EQ(kx::GetImageInfo(path).ImageType, kx::ImageTypeGIF);
    kx::cDIBSection surface;
    ASSERT_TRUE(kx::LoadPicture(path, surface));
    EXPECT_EQ(kxtest::Sketch(surface), "RG/");
}

}  // namespace
