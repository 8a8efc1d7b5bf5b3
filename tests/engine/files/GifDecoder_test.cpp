#include <gif_lib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "PictureDecoders.h"
#include "PictureLoader.h"
#include "TestSupport.h"
#include "modImageInfo.h"

using kxtest::Bgr;
using kxtest::PixelAt;

namespace {

constexpr Bgr kWhite{255, 255, 255}, kBlack{0, 0, 0}, kRed{0, 0, 255}, kGreen{0, 255, 0}, kBlue{255, 0, 0};

// One image on a logical screen, written with giflib's encoder. Rows are given
// in stored order (already interlaced when `interlace` is set).
struct GifLayout {
    int screenWidth, screenHeight;
    int left, top, width, height;
    std::vector<std::vector<uint8_t>> rows;
    int transparent = -1;
    bool interlace = false;
    std::vector<GifColorType> colours = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 0, 0}};
};

int Append(GifFileType* gif, const GifByteType* bytes, int count)
{
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), bytes, bytes + count);
    return count;
}

std::vector<uint8_t> EncodeGif(const GifLayout& layout)
{
    std::vector<uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, Append, &error);
    ColorMapObject* map = GifMakeMapObject(static_cast<int>(layout.colours.size()), layout.colours.data());
    EGifSetGifVersion(gif, true);
    EXPECT_EQ(EGifPutScreenDesc(gif, layout.screenWidth, layout.screenHeight, 8, 0, map), GIF_OK);
    if (layout.transparent >= 0) {
        GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, layout.transparent};
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        EXPECT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext), GIF_OK);
    }
    EXPECT_EQ(EGifPutImageDesc(gif, layout.left, layout.top, layout.width, layout.height, layout.interlace,
                               nullptr),
              GIF_OK);
    for (auto row : layout.rows) EXPECT_EQ(EGifPutLine(gif, row.data(), layout.width), GIF_OK);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

TEST(DecodeGif, PlacesFrameOnScreenWithTransparencyAndClipping)
{
    struct Case {
        const char* name;
        GifLayout layout;
        int width, height;
        std::vector<Bgr> expected;
    };
    const Case cases[] = {
        {"offset frame, index 2 transparent",
         {4, 3, 1, 1, 3, 2, {{0, 1, 2}, {3, 0, 1}}, 2},
         4,
         3,
         {kWhite, kWhite, kWhite, kWhite,  //
          kWhite, kRed, kGreen, kWhite,    //
          kWhite, kBlack, kRed, kGreen}},
        {"frame clipped at the screen's right and bottom",
         {3, 2, 2, 1, 2, 2, {{1, 2}, {3, 3}}},
         3,
         2,
         {kWhite, kWhite, kWhite,  //
          kWhite, kWhite, kGreen}},
        {"screen of zero size takes the frame's extent",
         {0, 0, 1, 0, 1, 2, {{2}, {1}}},
         2,
         2,
         {kWhite, kBlue,  //
          kWhite, kGreen}},
        {"indices 2 and 3 lie beyond a 2-colour table",
         {4, 1, 0, 0, 4, 1, {{0, 1, 2, 3}}, -1, false, {{255, 0, 0}, {0, 255, 0}}},
         4,
         1,
         {kRed, kGreen, kBlack, kBlack}},
        // Stored rows 0, 4 | 2 | 1, 3, 5 hold the picture rows' own numbers.
        {"interlaced rows in four passes",
         {1, 6, 0, 0, 1, 6, {{0}, {0}, {2}, {1}, {3}, {1}}, -1, true},
         1,
         6,
         {kRed, kGreen, kBlue, kBlack, kRed, kGreen}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kx::cDIBSection surface;
        ASSERT_TRUE(kx::DecodeGif(EncodeGif(c.layout), surface));
        ASSERT_EQ(surface.Width(), c.width);
        ASSERT_EQ(surface.Height(), c.height);
        EXPECT_EQ(kxtest::AllPixels(surface), c.expected);
    }
}

// A 64 x 64 picture of varied indices, so that its LZW data spans many sub-blocks.
GifLayout NoisySpec()
{
    GifLayout layout{64, 64, 0, 0, 64, 64, {}};
    layout.colours.resize(256);
    for (int i = 0; i < 256; ++i) layout.colours[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)};
    for (int y = 0; y < 64; ++y) {
        layout.rows.emplace_back(64);
        for (int x = 0; x < 64; ++x) layout.rows[y][x] = static_cast<uint8_t>((x * 37 + y * 91) ^ (x * y));
    }
    return layout;
}

TEST(DecodeGif, TruncatedDataKeepsDecodedRowsAndLeavesTheRestWhite)
{
    const GifLayout layout = NoisySpec();
    std::vector<uint8_t> file = EncodeGif(layout);
    file.resize(file.size() / 2);
    kx::cDIBSection surface;
    ASSERT_TRUE(kx::DecodeGif(file, surface));
    const GifColorType c = layout.colours[layout.rows[0][5]];
    EXPECT_EQ(PixelAt(surface, 5, 0), (Bgr{c.Blue, c.Green, c.Red}));
    EXPECT_EQ(PixelAt(surface, 5, 63), kWhite);
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(DecodeGif, HostileFilesFail)
{
    // A 2 x 2 picture with a 2-colour global table: 6 + 7 bytes of header,
    // 6 of table, 10 of image descriptor, then the LZW data and the trailer.
    const std::vector<uint8_t> base =
        EncodeGif({2, 2, 0, 0, 2, 2, {{0, 1}, {1, 0}}, -1, false, {{0, 0, 0}, {255, 255, 255}}});
    const std::vector<uint8_t> head(base.begin(), base.begin() + 19);
    const std::vector<uint8_t> desc(base.begin() + 19, base.begin() + 29);
    const std::vector<uint8_t> data(base.begin() + 29, base.end());
    std::vector<uint8_t> noTable(head.begin(), head.begin() + 13);
    noTable[10] = 0;  // no global table
    ASSERT_EQ(desc[0], 0x2C);
    kx::cDIBSection check;
    ASSERT_TRUE(kx::DecodeGif(base, check)) << "the base file must decode";

    std::vector<uint8_t> huge = base;
    huge[6] = huge[8] = 0xA0;  // 4000 x 4000 screen: 16M pixels from 30 bytes
    huge[7] = huge[9] = 0x0F;
    const struct {
        const char* name;
        std::vector<uint8_t> file;
    } cases[] = {
        {"gif_screen_claims_huge_size", huge},
        {"gif_lzw_garbage", Concat({head, desc, {2, 3, 0xFF, 0xFF, 0xFF, 0, 0x3B}})},
        {"gif_no_colour_table", Concat({noTable, desc, data})},
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

TEST(DecodeGif, CorpusPicturesMatchTheirReferenceRenderings)
{
    KX_SKIP_WITHOUT_CORPORA();
    // Single-image pictures that cover their screen; references are top-down RGB.
    for (const char* name : {"porsche", "treescap", "treescap-interlaced", "gifgrid", "solid2"}) {
        SCOPED_TRACE(name);
        kx::cDIBSection surface;
        ASSERT_TRUE(kx::DecodeGif(
            kxtest::ReadFileBytes(kxtest::CorpusPath(std::string("gif/giflib/pic/") + name + ".gif")),
            surface));
        const auto ref =
            kxtest::ReadFileBytes(kxtest::CorpusPath(std::string("gif/giflib/rgb-ref/") + name + ".rgb"));
        ASSERT_EQ(ref.size(), size_t(surface.Width()) * surface.Height() * 3);
        size_t differing = 0;
        for (int y = 0; y < surface.Height(); ++y)
            for (int x = 0; x < surface.Width(); ++x) {
                const uint8_t* p = &ref[(size_t(y) * surface.Width() + x) * 3];
                differing += PixelAt(surface, x, y) != Bgr{p[2], p[1], p[0]};
            }
        EXPECT_EQ(differing, 0u);
    }
}

}  // namespace

namespace {

// The header probe takes any file that starts with "GIF" for a GIF, whatever
// its version field says, and so does giflib; the loader must too, or a
// folder run would size such a picture and then fail to read it.
TEST(LoadPicture, TakesAGifWhateverItsVersionSays)
{
    GifLayout layout{2, 1, 0, 0, 2, 1, {{0, 1}}};
    std::vector<uint8_t> gif = EncodeGif(layout);
    ASSERT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF89a");
    gif[3] = '6';
    kxtest::TempDir dir;
    const std::string path = dir / "odd-version.gif";
    kxtest::WriteFileBytes(path, gif);
    EXPECT_EQ(kx::GetImageInfo(path).ImageType, kx::ImageTypeGIF);
    kx::cDIBSection surface;
    ASSERT_TRUE(kx::LoadPicture(path, surface));
    EXPECT_EQ(PixelAt(surface, 0, 0), kRed);
    EXPECT_EQ(PixelAt(surface, 1, 0), kGreen);
}

}  // namespace
