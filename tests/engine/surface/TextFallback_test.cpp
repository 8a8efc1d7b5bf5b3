// Characters the chosen face lacks come from a face fontconfig names for
// them; texts the face covers are drawn exactly as before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "TestSupport.h"
#include "TextRenderer.h"

using namespace kx;
using kxtest::Face;

namespace {

// FNV-1a over the extent and the ink, row by row.
uint64_t Hash(const kxtest::Ink& drawn)
{
    uint64_t hash = 14695981039346656037u;
    const auto mix = [&](uint64_t v) { hash = (hash ^ v) * 1099511628211u; };
    mix(uint64_t(drawn.width));
    mix(uint64_t(drawn.height));
    for (const bool ink : drawn.ink) mix(ink);
    return hash;
}

// The ink of a text cropped to its bounding box, as rows of '#' and '.'.
std::string InkShape(const LOGFONT& font, const std::string& text)
{
    const kxtest::Ink drawn = kxtest::DrawnText(font, text);
    int left = drawn.width, right = -1, top = drawn.height, bottom = -1;
    for (int y = 0; y < drawn.height; ++y)
        for (int x = 0; x < drawn.width; ++x)
            if (drawn.At(x, y)) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
    std::string shape;
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) shape += drawn.At(x, y) ? '#' : '.';
        shape += '\n';
    }
    return shape;
}

}  // namespace

TEST(TextFallback, CoveredTextsKeepTheirPixels)
{
    // Hashes of these renderings as they were before fallback faces existed
    // (DejaVu Sans 2.37, the face "Sans" gives on Debian 12).
    const std::string text = "Hamburgefonstiv &x \xC3\xA9\xE2\x82\xAC 0123";
    const LOGFONT fonts[] = {Face("Sans"), Face("Sans", -16, 700), Face("Sans", -16, 400, 255),
                             Face("Sans", -16, 700, 255, 255)};
    const uint64_t hashes[] = {0xae2cc93225165c85u, 0xa908fdd12b9c6e7bu, 0x124bc1f62e630ceau,
                               0xe08828d35ed2721cu};
    for (size_t i = 0; i < std::size(fonts); ++i)
        EXPECT_EQ(Hash(kxtest::DrawnText(fonts[i], text)), hashes[i]) << i;
}

TEST(TextFallback, MissingCharactersComeFromAFaceThatHasThem)
{
    // DejaVu Sans has no CJK characters; Droid Sans Fallback (fonts-droid-fallback) has.
    const std::string write = "\xE5\x86\x99", truth = "\xE7\x9C\x9F";  // the two characters of "photo"
    const LOGFONT sans = Face("Sans"), droid = Face("Droid Sans Fallback");
    // Not the same empty box for both characters, but each one's own glyph,
    // pixel for pixel as the fallback face draws it at the same size.
    EXPECT_NE(InkShape(sans, write), InkShape(sans, truth));
    EXPECT_EQ(InkShape(sans, write), InkShape(droid, write));
    const std::string boldWrite = InkShape(Face("Sans", -16, 700), write);
    EXPECT_EQ(boldWrite, InkShape(Face("Droid Sans Fallback", -16, 700), write));
    EXPECT_NE(boldWrite, InkShape(sans, write));  // bold stays bold

    // In a mixed text the covered part keeps its face: the text is as wide
    // as its two parts, and its lines are tall enough for both faces.
    const std::string latin = "Holiday \xE2\x80\x94 ";
    const TextExtent mixed = TextRenderer::Measure(sans, latin + write + truth);
    EXPECT_EQ(mixed.Width,
              TextRenderer::Measure(sans, latin).Width + TextRenderer::Measure(droid, write + truth).Width);
    EXPECT_GE(mixed.Height, TextRenderer::Measure(sans, latin).Height);
    EXPECT_GE(mixed.Height, TextRenderer::Measure(droid, write).Height);
}
