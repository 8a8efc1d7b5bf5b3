#include "engine/surface/TextRenderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

using namespace kx;
using kxtest::DrawnText;

namespace {

// A face as the renderer takes it, `height` pixels (negative: character height).
LOGFONT Face(const char* name, int32_t height = -16, int32_t weight = 400, uint8_t italic = 0,
             uint8_t underline = 0, uint8_t strikeOut = 0)
{
    LOGFONT font{.lfHeight = height, .lfWeight = weight, .lfItalic = italic, .lfUnderline = underline};
    font.lfStrikeOut = strikeOut;
    std::snprintf(font.lfFaceName, sizeof font.lfFaceName, "%s", name);
    return font;
}

// FNV-1a over the extent and the ink, row by row.
uint64_t Hash(const kxtest::Ink& drawn)
{
    uint64_t hash = 14695981039346656037u;
    const auto mix = [&](uint64_t v) { hash = (hash ^ v) * 1099511628211u; };
    for (const int side : {drawn.width, drawn.height}) mix(uint64_t(side));
    for (const bool ink : drawn.ink) mix(ink);
    return hash;
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
        {"a\342\202b", {U'a', R, U'b'}},     // cut-off sequence
        {"\xE2\x82", {R}},                   // cut off by the end
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeUtf8(c.bytes), c.expected) << c.bytes;
}

// Random bytes are the fuzz target's; here invalid UTF-8 draws boxes, an unknown face falls back.
TEST(TextRenderer, LineBreaksAmpersandsGarbageAndUnknownFaces)
{
    const LOGFONT font = Face("Sans");
    const TextExtent one = TextRenderer::Measure(font, "a");
    ASSERT_GT(one.Width, 0);
    EXPECT_EQ(TextRenderer::Measure(font, "a\nb\nc").Height, 3 * one.Height);
    EXPECT_EQ(TextRenderer::Measure(font, "ab\nabc").Width, TextRenderer::Measure(font, "abc").Width);
    EXPECT_EQ(TextRenderer::Measure(font, "").Width, 0);
    EXPECT_EQ(TextRenderer::Measure(Face("Sans", -(TextRenderer::MaxPixelHeight + 1)), "a").Height, 0);

    const kxtest::Ink lf = DrawnText(font, "ab\ncd");
    EXPECT_EQ(DrawnText(font, "ab\r\ncd"), lf);
    EXPECT_EQ(DrawnText(font, "ab\rcd"), lf);
    EXPECT_EQ(DrawnText(font, std::string("ab\0cd", 5)), DrawnText(font, "ab"));  // ends at a zero
    // The underline of "&x" is pinned by the fallback tests' hashes.
    EXPECT_EQ(DrawnText(font, "a&&b"), DrawnText(font, "a&b", false));
    EXPECT_EQ(DrawnText(font, "ab&"), DrawnText(font, "ab"));
    EXPECT_EQ(DrawnText(font, "ab&\ncd"), DrawnText(font, "ab\ncd"));
    const kxtest::Ink r = DrawnText(font, "\xFF\xFE\xC3\x28\xE2\x82\xF0\x9F\x98\xED\xA0\x80&\x80");
    EXPECT_GT(std::count(r.ink.begin(), r.ink.end(), true), 0);
    EXPECT_GT(TextRenderer::Measure(Face("No Such Face Anywhere"), "abc").Width, 0);
    cDIBSection empty;
    TextRenderer::Draw(empty, Face("Sans"), "x", 10, 10);
}

TEST(TextRenderer, ConcurrentDrawsMatchASingleDraw)
{
    const LOGFONT fonts[2] = {Face("Sans"), Face("Sans", -24, 700)};
    const std::string texts[2] = {"Thread &one", "Thread two"};
    const kxtest::Ink expected[2] = {DrawnText(fonts[0], texts[0]), DrawnText(fonts[1], texts[1])};
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = t; i < t + 20; ++i)
                failures[t] += !(DrawnText(fonts[i % 2], texts[i % 2]) == expected[i % 2]);
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

// Characters the face lacks come from a face fontconfig names; covered texts are drawn as before.
TEST(TextFallback, CoveredTextsKeepTheirPixels)
{
    // Hashes of these renderings as they were before fallback faces existed (DejaVu Sans 2.37,
    // the face "Sans" gives on Debian 12); the last, strike-out, once checked to cross the whole line.
    const std::string text = "Hamburgefonstiv &x \xC3\xA9\xE2\x82\xAC 0123";
    const LOGFONT fonts[] = {Face("Sans"), Face("Sans", -16, 700), Face("Sans", -16, 400, 255),
                             Face("Sans", -16, 700, 255, 255), Face("Sans", -40, 400, 0, 0, 255)};
    const uint64_t hashes[] = {0xae2cc93225165c85u, 0xa908fdd12b9c6e7bu, 0x124bc1f62e630ceau,
                               0xe08828d35ed2721cu, 0x2187d082849e1b47u};
    for (size_t i = 0; i < std::size(fonts); ++i)
        EXPECT_EQ(Hash(kxtest::DrawnText(fonts[i], text)), hashes[i]) << i;
}

TEST(TextFallback, MissingCharactersComeFromAFaceThatHasThem)
{
    // DejaVu Sans has no CJK characters; Droid Sans Fallback (fonts-droid-fallback) has.
    const std::string write = "\xE5\x86\x99", truth = "\xE7\x9C\x9F";  // the two characters of "photo"
    const LOGFONT sans = Face("Sans"), droid = Face("Droid Sans Fallback");
    // Each character's own glyph, not one empty box, pixel for pixel as the fallback face draws it.
    EXPECT_NE(DrawnText(sans, write), DrawnText(sans, truth));
    EXPECT_EQ(DrawnText(sans, write), DrawnText(droid, write));
}
