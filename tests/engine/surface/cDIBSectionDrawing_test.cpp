#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "StdFont.h"
#include "TestSupport.h"
#include "cDIBSection.h"

using namespace kx;
using kxtest::Bgr;
using kxtest::RaisedNumber;

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
    kxtest::FillPicture(surface, [](int, int) { return kPaint; });
}

// The renderer's own drawing of a text in the test font.
kxtest::Ink RenderBlock(const std::string& text)
{
    return kxtest::DrawnText(LogFontFromStdFont(TestFont(), ScreenPixelsPerInch), text);
}

// Checks the whole picture after a text overlay: glyph pixels of the block
// with its top-left at picture (left, top) are `colour`, every other pixel
// kPaint; a glyph pixel behind a row's last pixel writes its bytes there.
// Returns the number of such row-end bytes.
int ExpectOverlay(const cDIBSection& surface, const kxtest::Ink& block, int top, int left, Bgr colour)
{
    int wrong = 0, rowEndWrites = 0;
    const uint8_t colourBytes[3] = {colour.b, colour.g, colour.r};
    for (int y = 0; y < surface.Height(); ++y) {
        for (int x = 0; x < surface.Width(); ++x)
            wrong += kxtest::PixelAt(surface, x, y) != (block.At(x - left, y - top) ? colour : kPaint);
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
    kxtest::FillPicture(surface, [&](int x, int) { return pixels[x]; });
    EXPECT_TRUE(surface.ConvertColour(255, 255, 255, 0, 0, 255));
    const Bgr converted[] = {{255, 0, 0}, {254, 255, 255}, {255, 254, 255}, {255, 255, 254}, {0, 0, 0}};
    for (int x = 0; x < 5; ++x) EXPECT_EQ(kxtest::PixelAt(surface, x, 0), converted[x]) << x;

    // Colour noise has no blue, grey noise equal channels.
    for (bool grey : {false, true}) {
        Paint(surface, 37, 5);  // 111 pixel bytes and 1 row-end byte a row
        surface.RandomiseBits(grey);
        std::set<int> levels;
        for (int r = 0; r < 5; ++r) {
            const uint8_t* row = surface.Row(r);
            EXPECT_EQ(row[111], kPad);
            for (const uint8_t* p = row; p < row + 111; p += 3) {
                EXPECT_TRUE(grey ? (p[0] == p[1] && p[1] == p[2]) : p[0] == 0);
                levels.insert(p[1]);
            }
        }
        EXPECT_GT(levels.size(), 10u);
    }
}

TEST(Drawing, SurfacesWithoutPixelsAreNotTouched)
{
    cDIBSection surface;
    EXPECT_FALSE(surface.Create(0, 10));
    EXPECT_TRUE(surface.ColourFillDIB(1, 2, 3));
    EXPECT_TRUE(surface.ConvertColour(0, 0, 0, 1, 2, 3));
    surface.RandomiseBits(true);
    EXPECT_TRUE(surface.AddTextToImage("Text", TestFont(), 0, 0, 0, 5, 5));
    EXPECT_FALSE(surface.AddTextToImageUsingSpecPostion("Text", TestFont(), 0, 0, 0, TopLeft));
    EXPECT_FALSE(surface.Create(10, 0));
    EXPECT_FALSE(surface.AddTextToImageUsingSpecPostion("Text", TestFont(), 0, 0, 0, TopLeft));
}

TEST(LogFontFromStdFont, HeightStyleNameAndCharacterSet)
{
    const std::pair<double, int32_t> heights[] = {{8.25, -11}, {8.5, -11}, {10, -13}, {12, -16},
                                                  {9.5, -13},  {7.5, -11}, {0.4, 0},  {72, -96}};
    for (const auto& [size, height] : heights)  // whole points scaled at 96 pixels an inch
        EXPECT_EQ(LogFontFromStdFont(StdFont{.Size = size}, 96).lfHeight, height) << size;
    EXPECT_EQ(MulDiv(1, 3, 2), 2);  // halves away from zero
    EXPECT_EQ(MulDiv(-1, 3, 2), -2);
    EXPECT_EQ(MulDiv(5, 1, 0), -1);
    EXPECT_EQ(MulDiv(2147483647, 2, 1), -1);

    StdFont font = TestFont("Verdana", 255);
    const LOGFONT plain = LogFontFromStdFont(font, 96);
    EXPECT_EQ(plain.lfWeight, 400);
    EXPECT_EQ(plain.lfItalic + plain.lfUnderline + plain.lfStrikeOut, 0);
    EXPECT_EQ(plain.lfCharSet, 255);
    font.Bold = font.Italic = font.Underline = font.Strikethrough = true;
    const LOGFONT styled = LogFontFromStdFont(font, 96);
    EXPECT_EQ(styled.lfWeight, 700);
    EXPECT_EQ(styled.lfItalic + styled.lfUnderline + styled.lfStrikeOut, 3 * 255);

    std::string accented;  // 20 two-byte characters: whole characters up to 31 bytes
    for (int i = 0; i < 20; ++i) accented += "\xC3\xA9";
    const std::pair<std::string, std::string> names[] = {{"Verdana", "Verdana"},
                                                         {std::string(31, 'a'), std::string(31, 'a')},
                                                         {std::string(32, 'b'), std::string(31, 'b')},
                                                         {std::string(33, 'c'), std::string(31, 'c')},
                                                         {accented, accented.substr(0, 30)}};
    for (const auto& [name, stored] : names)
        EXPECT_EQ(std::string(LogFontFromStdFont(TestFont(name), 96).lfFaceName), stored);

    // Errors pass through both text operations to their caller.
    cDIBSection picture;
    Paint(picture, 40, 20);
    for (const auto& [testFont, number] :
         {std::pair{TestFont(std::string(34, 'd')), 9}, std::pair{TestFont("Sans", 256), 6},
          std::pair{TestFont("Sans", -1), 6}}) {
        const StdFont& font = testFont;  // clang 14 cannot capture a structured binding
        EXPECT_EQ(RaisedNumber([&] { picture.AddTextToImage("a", font, 0, 0, 0, 1, 1); }), number);
        EXPECT_EQ(RaisedNumber([&] { picture.AddTextToImageUsingSpecPostion("a", font, 0, 0, 0, 0); }),
                  number);
    }
}

// A 99-pixel row holds 297 pixel bytes and 3 row-end bytes, where glyphs
// beyond the last pixel write.
TEST(AddTextToImage, OnlyGlyphPixelsTakeTheColourTwoRowsAboveTop)
{
    const struct {
        std::string text;
        uint8_t r, g, b;
        int top, left;
    } cases[] = {{"Text", 0, 0, 0, 10, 20},
                 {"Wi&de\nlines", 255, 255, 255, 12, 7},  // white: background not copied
                 {"Wi&de\nlines", 255, 0, 0, 12, 7},
                 {"Clipped text", 9, 8, 7, -3, -5},
                 {"Clipped text", 9, 8, 7, 5, 60},
                 {"Clipped text", 9, 8, 7, -100, 0},
                 {"Clipped text", 9, 8, 7, 32767, -32768}};
    int rowEndWrites = 0;
    for (const auto& c : cases) {
        const kxtest::Ink block = RenderBlock(c.text);
        ASSERT_GT(block.width, 0);
        cDIBSection picture;
        Paint(picture, 99, 50);
        EXPECT_TRUE(
            picture.AddTextToImage(c.text, TestFont(), c.r, c.g, c.b, Integer(c.top), Integer(c.left)));
        rowEndWrites += ExpectOverlay(picture, block, c.top - 2, c.left, {c.b, c.g, c.r});
    }
    EXPECT_GT(rowEndWrites, 0);
}

TEST(AddTextToImage, EmptyGarbageAndOversizedTexts)
{
    cDIBSection picture;
    Paint(picture, 40, 20);
    EXPECT_TRUE(picture.AddTextToImage("", TestFont(), 0, 0, 0, 10, 10));
    EXPECT_TRUE(picture.AddTextToImageUsingSpecPostion("", TestFont(), 0, 0, 0, MiddleCentre));
    ExpectOverlay(picture, kxtest::Ink{}, 0, 0, {0, 0, 0});

    // Only what fits the 2000-pixel-wide scratch surface is drawn.
    const std::string wide(400, 'W');
    ASSERT_GT(RenderBlock(wide).width, 2100);
    cDIBSection large;
    Paint(large, 2600, 30);
    EXPECT_TRUE(large.AddTextToImage(wide, TestFont(), 0, 0, 0, 10, 100));
    int inkInside = 0, inkBeyond = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 2600; ++x)
            if (kxtest::PixelAt(large, x, y) != kPaint) ++(x < 2100 ? inkInside : inkBeyond);
    EXPECT_GT(inkInside, 0);
    EXPECT_EQ(inkBeyond, 0);
}

TEST(AddTextToImageUsingSpecPostion, NineStandardPlacesCentredHalvesToEven)
{
    const kxtest::Ink block = RenderBlock("Place");
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
    expectPlace(-1, 41, 37, -2, 0);
    for (const auto& [slack, centred] : {std::pair{5, 2}, {7, 4}, {3, 2}, {4, 2}, {9, 4}})
        expectPlace(MiddleCentre, slack, slack, centred - 2, centred);

    cDIBSection wide;  // positions beyond 32767 do not fit an Integer
    ASSERT_TRUE(wide.Create(70000, 1));
    EXPECT_TRUE(wide.AddTextToImageUsingSpecPostion("a", TestFont(), 0, 0, 0, TopLeft));
    for (const Long place : {TopCentre, TopRight})
        EXPECT_EQ(RaisedNumber([&] { wide.AddTextToImageUsingSpecPostion("a", TestFont(), 0, 0, 0, place); }),
                  6);
}
