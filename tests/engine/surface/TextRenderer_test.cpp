#include "TextRenderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "StdFont.h"
#include "TestSupport.h"
#include "cDIBSection.h"

using namespace kx;
using kxtest::Bgr;

namespace {

LOGFONT Font(int32_t height = -16, int32_t weight = 400, uint8_t italic = 0, uint8_t lines = 0)
{
    LOGFONT font;
    font.lfHeight = height;
    font.lfWeight = weight;
    font.lfItalic = italic;
    font.lfUnderline = font.lfStrikeOut = lines;
    std::strcpy(font.lfFaceName, "Sans");
    return font;
}

// A text drawn on white at its measured size; ink marks the black pixels.
// Any pixel that is neither black nor white fails the test.
struct Rendered {
    TextExtent extent;
    std::vector<bool> ink;
    bool Ink(int x, int y) const { return ink[size_t(y) * extent.Width + x]; }
    bool operator==(const Rendered& o) const
    {
        return extent.Width == o.extent.Width && extent.Height == o.extent.Height && ink == o.ink;
    }
};

Rendered Render(const LOGFONT& font, const std::string& text, bool prefix = true)
{
    Rendered result{TextRenderer::Measure(font, text, prefix), {}};
    cDIBSection surface;
    if (!surface.Create(result.extent.Width, result.extent.Height)) return result;
    surface.ColourFillDIB(255, 255, 255);
    TextRenderer::Draw(surface, font, text, result.extent.Width, result.extent.Height, prefix);
    for (int y = 0; y < result.extent.Height; ++y)
        for (int x = 0; x < result.extent.Width; ++x) {
            const Bgr pixel = kxtest::PixelAt(surface, x, y);
            EXPECT_TRUE((pixel == Bgr{0, 0, 0} || pixel == Bgr{255, 255, 255})) << x << "," << y;
            result.ink.push_back(pixel == Bgr{0, 0, 0});
        }
    return result;
}

}  // namespace

TEST(Utf8, DecodesAndReplacesInvalidSequences)
{
    constexpr char32_t R = 0xFFFD;
    const struct {
        std::string bytes;
        std::u32string expected;
    } cases[] = {
        {"A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", U"A\u00E9\u20AC\U0001F600"},
        {"\xFF", {R}},
        {"\xC0\xAF", {R, R}},                // overlong
        {"\xED\xA0\x80", {R, R, R}},         // surrogate
        {"\xF4\x90\x80\x80", {R, R, R, R}},  // beyond U+10FFFF
        {"a\xE2\x82"
         "b",
         {U'a', R, U'b'}},  // cut-off sequence
        {"\xE2\x82", {R}},  // cut off by the end
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeUtf8(c.bytes), c.expected) << c.bytes;
}

TEST(TextRenderer, LinesBreakOnlyAtLineBreaks)
{
    const LOGFONT font = Font();
    const TextExtent one = TextRenderer::Measure(font, "a");
    ASSERT_GT(one.Width, 0);
    EXPECT_EQ(TextRenderer::Measure(font, "a\nb").Height, 2 * one.Height);
    EXPECT_EQ(TextRenderer::Measure(font, "a\nb\nc").Height, 3 * one.Height);
    EXPECT_EQ(TextRenderer::Measure(font, "a b").Height, one.Height);
    EXPECT_EQ(TextRenderer::Measure(font, "ab\nabc").Width, TextRenderer::Measure(font, "abc").Width);
    EXPECT_EQ(TextRenderer::Measure(font, "").Width, 0);
    EXPECT_EQ(TextRenderer::Measure(Font(-(TextRenderer::MaxPixelHeight + 1)), "a").Height, 0);

    const Rendered lf = Render(font, "ab\ncd");
    EXPECT_EQ(Render(font, "ab\r\ncd"), lf);
    EXPECT_EQ(Render(font, "ab\rcd"), lf);
    EXPECT_EQ(Render(font, std::string("ab\0cd", 5)), Render(font, "ab"));  // ends at a zero
}

TEST(TextRenderer, SingleAmpersandUnderlinesTheNextCharacter)
{
    const LOGFONT font = Font();
    const Rendered plain = Render(font, "ab");
    const Rendered prefixed = Render(font, "a&b");
    ASSERT_EQ(prefixed.extent.Width, plain.extent.Width);
    ASSERT_EQ(prefixed.extent.Height, plain.extent.Height);

    const int bStart = TextRenderer::Measure(font, "a").Width;
    int lowestInk = -1, added = 0;
    for (int y = 0; y < plain.extent.Height; ++y)
        for (int x = 0; x < plain.extent.Width; ++x)
            if (plain.Ink(x, y)) lowestInk = y;
    for (int y = 0; y < plain.extent.Height; ++y)
        for (int x = 0; x < plain.extent.Width; ++x) {
            EXPECT_TRUE(!plain.Ink(x, y) || prefixed.Ink(x, y));
            if (prefixed.Ink(x, y) && !plain.Ink(x, y)) {
                ++added;
                EXPECT_GE(x, bStart) << "underline reaches under the a";
                EXPECT_GT(y, lowestInk) << "underline is not below the baseline";
            }
        }
    EXPECT_GT(added, 0);
}

TEST(TextRenderer, DoubleAndTrailingAmpersands)
{
    const LOGFONT font = Font();
    EXPECT_EQ(Render(font, "a&&b"), Render(font, "a&b", false));
    EXPECT_GT(Render(font, "a&&b").extent.Width, Render(font, "ab").extent.Width);
    EXPECT_EQ(Render(font, "ab&"), Render(font, "ab"));
    EXPECT_EQ(Render(font, "ab&\ncd"), Render(font, "ab\ncd"));
}

TEST(TextRenderer, GlyphPixelsAreExactlyBlackInEveryStyle)
{
    const std::string text = "Hamburgefonstiv &x \xC3\xA9\xE2\x82\xAC";
    const Rendered plain = Render(Font(), text);
    for (const LOGFONT& font :
         {Font(-16, 700), Font(-16, 400, 255), Font(-16, 700, 255), Font(-16, 400, 0, 255), Font(-40)}) {
        const Rendered r = Render(font, text);
        EXPECT_GT(std::count(r.ink.begin(), r.ink.end(), true), 0);
    }
    // Underline and strike-out draw over the same glyphs.
    const Rendered lined = Render(Font(-16, 400, 0, 255), text);
    ASSERT_EQ(lined.ink.size(), plain.ink.size());
    for (size_t i = 0; i < plain.ink.size(); ++i) EXPECT_TRUE(!plain.ink[i] || lined.ink[i]);
    int fullRows = 0;  // the underline and the strike-out each cross the whole line
    for (int y = 0; y < lined.extent.Height; ++y) {
        bool full = true;
        for (int x = 0; x < lined.extent.Width; ++x) full = full && lined.Ink(x, y);
        fullRows += full;
    }
    EXPECT_GE(fullRows, 2);
}

TEST(TextRenderer, GarbageUnknownFacesAndEmptySurfaces)
{
    const Rendered r = Render(Font(), "\xFF\xFE\xC3\x28\xE2\x82\xF0\x9F\x98\xED\xA0\x80&\x80");
    EXPECT_GT(std::count(r.ink.begin(), r.ink.end(), true), 0);  // U+FFFD or .notdef boxes
    std::string noise;
    for (unsigned i = 0, v = 12345; i < 2000; ++i)
        noise.push_back(char((v = v * 1103515245u + 12345u) >> 16));
    Render(Font(), noise);

    LOGFONT unknown = Font();
    std::strcpy(unknown.lfFaceName, "No Such Face Anywhere");
    EXPECT_GT(TextRenderer::Measure(unknown, "abc").Width, 0);
    cDIBSection empty;
    TextRenderer::Draw(empty, Font(), "x", 10, 10);
}

TEST(TextRenderer, ConcurrentDrawsMatchASingleDraw)
{
    const LOGFONT fonts[2] = {Font(), Font(-24, 700)};
    const std::string texts[2] = {"Thread &one", "Thread two"};
    const Rendered expected[2] = {Render(fonts[0], texts[0]), Render(fonts[1], texts[1])};
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i)
                if (!(Render(fonts[(t + i) % 2], texts[(t + i) % 2]) == expected[(t + i) % 2])) ++failures[t];
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}
