// Characters the chosen face lacks come from a face fontconfig names for
// them; texts the face covers are drawn exactly as before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

#include "StdFont.h"
#include "TestSupport.h"
#include "TextRenderer.h"
#include "cDIBSection.h"

using namespace kx;

namespace {

LOGFONT Font(const char* face, int32_t weight = 400, uint8_t italic = 0, uint8_t lines = 0)
{
    LOGFONT font;
    font.lfHeight = -16;
    font.lfWeight = weight;
    font.lfItalic = italic;
    font.lfUnderline = lines;
    std::strcpy(font.lfFaceName, face);
    return font;
}

// The text drawn black on white at its measured size.
struct Drawn {
    TextExtent extent;
    cDIBSection surface;
    bool Ink(int x, int y) const { return kxtest::PixelAt(surface, x, y) == kxtest::Bgr{0, 0, 0}; }
    // FNV-1a over the extent and the ink, row by row.
    uint64_t Hash() const
    {
        uint64_t hash = 14695981039346656037u;
        const auto mix = [&](uint64_t v) { hash = (hash ^ v) * 1099511628211u; };
        mix(uint64_t(extent.Width)), mix(uint64_t(extent.Height));
        for (int y = 0; y < extent.Height; ++y)
            for (int x = 0; x < extent.Width; ++x) mix(Ink(x, y));
        return hash;
    }
};

Drawn Draw(const LOGFONT& font, const std::string& text)
{
    Drawn drawn{TextRenderer::Measure(font, text), {}};
    if (drawn.surface.Create(drawn.extent.Width, drawn.extent.Height)) {
        drawn.surface.ColourFillDIB(255, 255, 255);
        TextRenderer::Draw(drawn.surface, font, text, drawn.extent.Width, drawn.extent.Height);
    }
    return drawn;
}

}  // namespace

// The ink of a drawing cropped to its bounding box, as rows of '#' and '.'.
std::string InkShape(const Drawn& drawn)
{
    int left = drawn.extent.Width, right = -1, top = drawn.extent.Height, bottom = -1;
    for (int y = 0; y < drawn.extent.Height; ++y)
        for (int x = 0; x < drawn.extent.Width; ++x)
            if (drawn.Ink(x, y))
                left = std::min(left, x), right = std::max(right, x), top = std::min(top, y),
                bottom = std::max(bottom, y);
    std::string shape;
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) shape += drawn.Ink(x, y) ? '#' : '.';
        shape += '\n';
    }
    return shape;
}

TEST(TextFallback, CoveredTextsKeepTheirPixels)
{
    // Hashes of these renderings as they were before fallback faces existed
    // (DejaVu Sans 2.37, the face "Sans" gives on Debian 12).
    const std::string text = "Hamburgefonstiv &x \xC3\xA9\xE2\x82\xAC 0123";
    const LOGFONT fonts[] = {Font("Sans"), Font("Sans", 700), Font("Sans", 400, 255),
                             Font("Sans", 700, 255, 255)};
    const uint64_t hashes[] = {0xae2cc93225165c85u, 0xa908fdd12b9c6e7bu, 0x124bc1f62e630ceau,
                               0xe08828d35ed2721cu};
    for (size_t i = 0; i < std::size(fonts); ++i) EXPECT_EQ(Draw(fonts[i], text).Hash(), hashes[i]) << i;
}

TEST(TextFallback, MissingCharactersComeFromAFaceThatHasThem)
{
    // DejaVu Sans has no CJK characters; Droid Sans Fallback (fonts-droid-fallback) has.
    const std::string write = "\xE5\x86\x99", truth = "\xE7\x9C\x9F";  // the two characters of "photo"
    const Drawn sansWrite = Draw(Font("Sans"), write);
    // Not the same empty box for both characters, but each one's own glyph,
    // pixel for pixel as the fallback face draws it at the same size.
    EXPECT_NE(InkShape(sansWrite), InkShape(Draw(Font("Sans"), truth)));
    EXPECT_EQ(InkShape(sansWrite), InkShape(Draw(Font("Droid Sans Fallback"), write)));
    EXPECT_EQ(InkShape(Draw(Font("Sans", 700), write)),
              InkShape(Draw(Font("Droid Sans Fallback", 700), write)));
    EXPECT_NE(InkShape(Draw(Font("Sans", 700), write)), InkShape(sansWrite));  // bold stays bold

    // In a mixed text the covered part keeps its face: the text is as wide
    // as its two parts, and its lines are tall enough for both faces.
    const std::string latin = "Holiday \xE2\x80\x94 ";
    const TextExtent mixed = TextRenderer::Measure(Font("Sans"), latin + write + truth);
    EXPECT_EQ(mixed.Width, TextRenderer::Measure(Font("Sans"), latin).Width +
                               TextRenderer::Measure(Font("Droid Sans Fallback"), write + truth).Width);
    EXPECT_GE(mixed.Height, TextRenderer::Measure(Font("Sans"), latin).Height);
    EXPECT_GE(mixed.Height, TextRenderer::Measure(Font("Droid Sans Fallback"), write).Height);
}
