#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/surface/ResamplePaths.h"
#include "tests/support/TestSupport.h"

using namespace kx;
using namespace kxtest;

namespace {

constexpr uint8_t kPad = 0xAB;      // marks the bytes behind each row's last pixel
constexpr Bgr kPaint{120, 80, 40};  // the picture's colour before text is drawn

StdFont TestFont(std::string name = "Sans", int16_t charset = 0)
{
    return StdFont{.Name = std::move(name), .Size = 12, .Charset = charset};
}

// A live w x h surface: every pixel kPaint, every byte behind a row's last pixel kPad.
void Paint(cDIBSection& surface, Long w, Long h)
{
    ASSERT_TRUE(surface.Create(w, h));
    std::memset(surface.DIBSectionBitsPtr(), kPad, size_t(surface.BytesPerScanLine()) * h);
    FillPicture(surface, [](int, int) { return kPaint; });
}

// Glyph pixels of the block at picture (left, top) are `colour`, all else kPaint; glyph
// pixels behind a row's last pixel write its bytes there. Returns how many such bytes.
int ExpectOverlay(const cDIBSection& surface, const Ink& block, int top, int left, Bgr colour)
{
    int wrong = 0, rowEndWrites = 0;
    const uint8_t colourBytes[3] = {colour.b, colour.g, colour.r};
    for (int y = 0; y < surface.Height(); ++y) {
        for (int x = 0; x < surface.Width(); ++x)
            wrong += PixelAt(surface, x, y) != (block.At(x - left, y - top) ? colour : kPaint);
        const uint8_t* row = surface.PictureRow(y);
        for (int p = 3 * surface.Width(); p < surface.BytesPerScanLine(); ++p) {
            const bool written = block.At(p / 3 - left, y - top);
            rowEndWrites += written;
            wrong += row[p] != (written ? colourBytes[p % 3] : kPad);
        }
    }
    EXPECT_EQ(wrong, 0) << "block at top " << top << ", left " << left;
    return rowEndWrites;
}

// The resampling rule evaluated pixel by pixel, straight from its definition,
// with the run time's rounding; the engine's precomputed version must match.
uint8_t ReferencePixel(const cDIBSection& s, Long wd, Long hd, Long x, Long y, int c)
{
    const float sx = static_cast<float>(static_cast<double>(s.Width() - 1) / wd);
    const float sy = static_cast<float>(static_cast<double>(s.Height() - 1) / hd);
    const float fy = static_cast<float>(static_cast<double>(sy) * y);
    const float fx = static_cast<float>(static_cast<double>(sx) * x);
    const int iy = static_cast<int>(std::floor(fy)), ix = static_cast<int>(std::floor(fx));
    const float dy = fy - static_cast<float>(iy), dx = fx - static_cast<float>(ix);
    auto S = [&](int p, int q) { return static_cast<double>(s.Row(q)[3 * p + c]); };
    const double a = RoundHalfEven((1.0 - dy) * S(ix, iy) + static_cast<double>(dy) * S(ix, iy + 1));
    const double b = RoundHalfEven((1.0 - dy) * S(ix + 1, iy) + static_cast<double>(dy) * S(ix + 1, iy + 1));
    const double v = RoundHalfEven((1.0 - dx) * a + static_cast<double>(dx) * b);
    return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
}

}  // namespace

TEST(Drawing, FillExactColourReplacementAndNoiseLeaveRowEnds)
{
    cDIBSection surface;
    Paint(surface, 5, 2);
    EXPECT_TRUE(surface.ColourFillDIB(10, 20, 30));
    const std::vector<uint8_t> filled = {30, 20, 10, 30, 20, 10, 30, 20, 10, 30, 20, 10, 30, 20, 10, kPad};
    for (int r = 0; r < 2; ++r) EXPECT_EQ(std::vector<uint8_t>(surface.Row(r), surface.Row(r) + 16), filled);

    // Old colour white; each near miss differs in one channel by one step.
    const Bgr pixels[] = {{255, 255, 255}, {254, 255, 255}, {255, 254, 255}, {255, 255, 254}, {0, 0, 0}};
    FillPicture(surface, [&](int x, int) { return pixels[x]; });
    EXPECT_TRUE(surface.ConvertColour(255, 255, 255, 0, 0, 255));
    const Bgr converted[] = {{255, 0, 0}, {254, 255, 255}, {255, 254, 255}, {255, 255, 254}, {0, 0, 0}};
    for (int x = 0; x < 5; ++x) EXPECT_EQ(PixelAt(surface, x, 0), converted[x]) << x;

    // Colour noise has no blue, grey noise equal channels.
    for (bool grey : {false, true}) {
        Paint(surface, 37, 5);  // 111 pixel bytes and 1 row-end byte a row
        surface.RandomiseBits(grey);
        std::set<int> levels;
        for (const Bgr p : AllPixels(surface)) {
            EXPECT_TRUE(grey ? (p.b == p.g && p.g == p.r) : p.b == 0);
            levels.insert(p.g);
        }
        for (int r = 0; r < 5; ++r) EXPECT_EQ(surface.Row(r)[111], kPad);
        EXPECT_GT(levels.size(), 10u);
    }
}

TEST(LogFontFromStdFont, HeightStyleNameAndCharacterSet)
{
    const std::pair<double, int32_t> heights[] = {{8.25, -11}, {8.5, -11}, {10, -13}, {12, -16},
                                                  {9.5, -13},  {7.5, -11}, {0.4, 0},  {72, -96}};
    for (const auto& [size, height] : heights)  // whole points scaled at 96 pixels an inch
        EXPECT_EQ(LogFontFromStdFont(StdFont{.Size = size}, 96).lfHeight, height) << size;

    const LOGFONT f = LogFontFromStdFont(
        {.Bold = true, .Italic = true, .Underline = true, .Strikethrough = true, .Charset = 255}, 96);
    EXPECT_EQ(std::vector<int>({f.lfWeight, f.lfItalic, f.lfUnderline, f.lfStrikeOut, f.lfCharSet}),
              std::vector<int>({700, 255, 255, 255, 255}));

    std::string accented;  // 20 two-byte characters: whole characters up to 31 bytes
    for (int i = 0; i < 20; ++i) accented += "\xC3\xA9";
    for (const auto& [name, kept] :
         {std::pair{std::string(31, 'a'), 31}, {std::string(32, 'b'), 31}, {accented, 30}})
        EXPECT_EQ(std::string(LogFontFromStdFont(TestFont(name), 96).lfFaceName), name.substr(0, kept));

    // Errors pass through both text operations to their caller.
    cDIBSection picture;
    Paint(picture, 40, 20);
    for (const auto& c : {std::pair{TestFont(std::string(34, 'd')), 9}, {TestFont("Sans", 256), 6}}) {
        EXPECT_EQ(RaisedNumber([&] { picture.AddTextToImage("a", c.first, 0, 0, 0, 1, 1); }), c.second);
        EXPECT_EQ(RaisedNumber([&] { picture.AddTextToImageUsingSpecPostion("a", c.first, 0, 0, 0, 0); }),
                  c.second);
    }
}

// A 99-pixel row holds 297 pixel bytes and 3 row-end bytes, where glyphs beyond the last pixel write.
TEST(AddTextToImage, OnlyGlyphPixelsTakeTheColourTwoRowsAboveTop)
{
    const struct {
        std::string text;
        uint8_t r, g, b;
        int top, left;
    } cases[] = {{"Text", 0, 0, 0, 10, 20},
                 {"Wi&de\nlines", 255, 255, 255, 12, 7},  // white: background not copied
                 {"Clipped text", 9, 8, 7, -3, -5},
                 {"Clipped text", 9, 8, 7, 5, 60},
                 {"Clipped text", 9, 8, 7, 32767, -32768},
                 {"", 0, 0, 0, 10, 10}};  // empty: nothing drawn
    int rowEndWrites = 0;
    for (const auto& c : cases) {
        const Ink block = DrawnText(LogFontFromStdFont(TestFont(), ScreenPixelsPerInch), c.text);
        cDIBSection picture;
        Paint(picture, 99, 50);
        EXPECT_TRUE(
            picture.AddTextToImage(c.text, TestFont(), c.r, c.g, c.b, Integer(c.top), Integer(c.left)));
        rowEndWrites += ExpectOverlay(picture, block, c.top - 2, c.left, {c.b, c.g, c.r});
    }
    EXPECT_GT(rowEndWrites, 0);
}

TEST(AddTextToImageUsingSpecPostion, NineStandardPlacesCentredHalvesToEven)
{
    const Ink block = DrawnText(LogFontFromStdFont(TestFont(), ScreenPixelsPerInch), "Place");
    ASSERT_GT(block.width, 0);
    // The picture is the block plus the slack; the block's top row lands two rows above top.
    const auto expectPlace = [&](Long txtPos, int slackW, int slackH, int blockTop, int left) {
        SCOPED_TRACE(testing::Message() << txtPos << " with slack " << slackW << "x" << slackH);
        cDIBSection picture;
        Paint(picture, block.width + slackW, block.height + slackH);
        EXPECT_TRUE(picture.AddTextToImageUsingSpecPostion("Place", TestFont(), 0, 0, 0, txtPos));
        ExpectOverlay(picture, block, blockTop, left, {0, 0, 0});
    };
    // W - TW = 41, H - TH = 37: centred left round(20.5) = 20, centred top
    // round(18.5) = 18, right 39, bottom 35.
    const int tops[] = {0, 16, 33}, lefts[] = {2, 20, 39};
    for (Long place = TopLeft; place <= BottomRight; ++place)
        expectPlace(place, 41, 37, tops[place / 3], lefts[place % 3]);
    expectPlace(9, 41, 37, -2, 0);
    for (const auto& [slack, centred] : {std::pair{5, 2}, {7, 4}, {3, 2}, {4, 2}, {9, 4}})
        expectPlace(MiddleCentre, slack, slack, centred - 2, centred);
    expectPlace(MiddleCentre, 61, 35, 16, 30);  // as 40 x 16 on 101 x 51: round(30.5) = 30, round(17.5) = 18
}

TEST(SurfaceLifeCycle, CreateClearUpAndRefusedSizes)
{
    cDIBSection s;
    for (const auto& [width, rowBytes] : {std::pair{1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}})
        EXPECT_TRUE(s.Create(width, 1) && s.BytesPerScanLine() == rowBytes) << width;
    ASSERT_TRUE(s.Create(3, 2));
    EXPECT_EQ(s.Header().biSizeImage, 24u);  // rows of 9 bytes padded to 12
    s.ClearUp();                             // keeps the size, releases everything
    EXPECT_TRUE(s.hdc() == nullptr && s.hDib() == nullptr && s.DIBSectionBitsPtr() == nullptr);
    EXPECT_EQ(std::pair(s.Width(), s.Height()), std::pair(3, 2));

    EXPECT_FALSE(s.Create(0, 10));  // refused: empty, showing the request, not drawn on
    EXPECT_EQ(std::pair(s.Width(), s.Height()), std::pair(0, 10));
    EXPECT_TRUE(s.ColourFillDIB(1, 2, 3));
    EXPECT_TRUE(s.ConvertColour(0, 0, 0, 1, 2, 3));
    s.RandomiseBits(true);
    EXPECT_TRUE(s.AddTextToImage("Text", TestFont(), 0, 0, 0, 5, 5));
    EXPECT_FALSE(s.AddTextToImageUsingSpecPostion("Text", TestFont(), 0, 0, 0, TopLeft));
    EXPECT_EQ(RaisedNumber([&] { s.Create(40000, 40000); }), errOverflow);  // beyond 32-bit byte counts
    EXPECT_EQ(RaisedNumber([&] { s.Create(INT32_MAX, 1); }), errOverflow);
    EXPECT_EQ(s.DIBSectionBitsPtr(), nullptr);
}

TEST(SurfaceLifeCycle, ReusedMemoryStartsBlackAgain)
{
    // Large buffers are kept for the next surface: it must not see old pixels.
    for (int round = 0; round < 3; ++round) {
        cDIBSection s;
        ASSERT_TRUE(s.Create(1000, 600 + round));
        const size_t bytes = static_cast<size_t>(s.BytesPerScanLine()) * s.Height();
        for (size_t i = 0; i < bytes; i += 4093) ASSERT_EQ(s.DIBSectionBitsPtr()[i], 0) << round;
        ASSERT_EQ(s.DIBSectionBitsPtr()[bytes - 1], 0);
        std::memset(s.DIBSectionBitsPtr(), 0xEE, bytes);
    }
}

TEST(BlockCopy, PictureCoordinatesOnBottomUpRowsClippedToBothPictures)
{
    cDIBSection source, big, small;
    ASSERT_TRUE(source.Create(4, 4));
    ASSERT_TRUE(big.Create(10, 6));
    ASSERT_TRUE(small.Create(3, 3));
    FillPicture(source, [](int x, int y) { return Bgr{uint8_t(10 + x), uint8_t(20 + y), 7}; });
    const auto expectPixels = [](const cDIBSection& s, std::vector<std::tuple<int, int, Bgr>> pixels) {
        for (const auto& [x, y, colour] : pixels) EXPECT_EQ(PixelAt(s, x, y), colour) << x << "," << y;
    };
    source.PaintPicture(big.hdc(), 4, 2, -1, -1, 0, 0, SRCCOPY);
    // The top-left pixel lands at picture (4, 2): memory row 6 - 3 = 3, bytes 12..14.
    EXPECT_EQ((Bgr{big.Row(3)[12], big.Row(3)[13], big.Row(3)[14]}), (Bgr{10, 20, 7}));
    expectPixels(big, {{7, 5, {13, 23, 7}}, {3, 2, {}}, {8, 2, {}}});
    source.PaintPicture(small.hdc(), -2, 1, -1, -1, 0, 0, SRCCOPY);
    expectPixels(small, {{0, 1, {12, 20, 7}}, {1, 2, {13, 21, 7}}, {2, 1, {}}, {0, 0, {}}});
    small.LoadPictureBlt(source.hdc(), 3, 3, -1, -1, SRCCOPY);  // only one source pixel is left
    expectPixels(small, {{0, 0, {13, 23, 7}}, {1, 0, {}}});
}

// Worked examples from the blue channel of 2 x 2 sources, memory rows bottom first.
TEST(Resample, WorkedExamplesGiveTheExactBytes)
{
    using Rows = std::vector<std::vector<int>>;
    const Rows rising = {{10, 20}, {11, 21}}, crossed = {{0, 255}, {255, 0}};
    const struct {
        const Rows& source;
        Long width, height;
        Rows expected;
    } cases[] = {
        // Two roundings, halves to even: row 1 has A = round(10.5) = 10, B = round(20.5) = 20; then
        // sx = sy = 0.33333334 in single precision.
        {rising, 4, 2, {{10, 12, 15, 18}, {10, 12, 15, 18}}},
        {rising, 3, 3, {{10, 13, 17}, {10, 13, 17}, {11, 14, 18}}},
        // sx = sy = 0.25: 63.75 -> 64, 191.25 -> 191, 95.75 -> 96, and 127.5 -> 128 at either pass.
        {crossed, 4, 4, {{0, 64, 128, 191}, {64, 96, 128, 159}, {128, 128, 128, 128}, {191, 159, 128, 96}}},
    };
    for (const auto& c : cases) {
        cDIBSection source;
        ASSERT_TRUE(source.Create(2, 2));
        for (Long r = 0; r < 2; ++r)
            for (Long x = 0; x < 2; ++x) source.Row(r)[3 * x] = static_cast<uint8_t>(c.source[r][x]);
        const auto result = source.Resample(c.height, c.width);
        ASSERT_TRUE(result);
        Rows rows(static_cast<size_t>(result->Height()));
        for (Long r = 0; r < result->Height(); ++r)
            for (Long x = 0; x < result->Width(); ++x) rows[r].push_back(result->Row(r)[3 * x]);
        EXPECT_EQ(rows, c.expected) << c.width << "x" << c.height;
    }
}

TEST(Resample, OnePixelWideOrHighSourcesAndRefusedSizes)
{
    cDIBSection thin, flat;
    ASSERT_TRUE(thin.Create(1, 5));
    ASSERT_TRUE(flat.Create(5, 1));
    EXPECT_EQ(RaisedNumber([&] { thin.Resample(5, 3); }), errSubscript);
    EXPECT_EQ(RaisedNumber([&] { flat.Resample(3, 5); }), errSubscript);
    cDIBSection picture;  // at its own size: copied byte for byte
    ASSERT_TRUE(picture.Create(7, 5));
    FillPicture(picture, [](int x, int y) { return Bgr{uint8_t(x * 37), uint8_t(y * 51), uint8_t(x ^ y)}; });
    const auto copy = picture.Resample(5, 7);
    ASSERT_TRUE(copy);
    EXPECT_EQ(std::memcmp(copy->DIBSectionBitsPtr(), picture.DIBSectionBitsPtr(), 5 * 24), 0);
    EXPECT_EQ(flat.Resample(4, 0), nullptr);
}

TEST(Resample, BothPathsMatchThePixelByPixelRuleOnNoise)
{
    for (const bool plain : {true, false}) {
        SCOPED_TRACE(plain ? "plain path" : "AVX2 path");
        kx::ForcePlainResample(plain);
#if defined(__x86_64__)
        EXPECT_EQ(kx::ResampleUsesAvx2(), !plain && __builtin_cpu_supports("avx2") != 0);
#endif
        if (!plain && !kx::ResampleUsesAvx2())
            GTEST_SKIP() << "the plain path matches; this processor has no AVX2 path to compare";
        const std::pair<Long, Long> sources[] = {{2, 2}, {3, 7}, {17, 11}, {64, 48}, {101, 3}};
        const std::pair<Long, Long> targets[] = {{1, 1}, {5, 3}, {13, 29}, {40, 30}, {200, 150}, {7, 100}};
        uint32_t seed = 12345;
        for (auto [ws, hs] : sources) {
            cDIBSection source;
            ASSERT_TRUE(source.Create(ws, hs));
            for (Long i = 0; i < source.BytesPerScanLine() * hs; ++i) {
                seed = seed * 1664525u + 1013904223u;
                source.DIBSectionBitsPtr()[i] = static_cast<uint8_t>(seed >> 24);
            }
            for (Long r = 0; r < hs; ++r)  // row-end bytes are never pixels
                for (Long b = 3 * ws; b < source.BytesPerScanLine(); ++b) source.Row(r)[b] = 0;
            for (auto [wd, hd] : targets) {
                auto result = source.Resample(hd, wd);
                ASSERT_TRUE(result);
                for (Long y = 0; y < hd; ++y) {
                    for (Long b = 3 * wd; b < result->BytesPerScanLine(); ++b)
                        ASSERT_EQ(result->Row(y)[b], 0);
                    for (Long x = 0; x < wd; ++x)
                        for (int c = 0; c < 3; ++c)
                            ASSERT_EQ(result->Row(y)[3 * x + c], ReferencePixel(source, wd, hd, x, y, c))
                                << ws << "x" << hs << " -> " << wd << "x" << hd << " at " << x << "," << y;
                }
            }
        }
    }
}
