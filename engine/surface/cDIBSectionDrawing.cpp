// The surface's drawing operations: fill, exact colour replacement, noise
// and text. Text is rendered black on white onto a scratch surface, cut out
// to a surface as large as the text, recoloured, and only the pixels of the
// text colour are copied onto the picture, so the picture's own pixels
// around and between the glyphs stay as they were.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <random>

#include "engine/surface/StdFont.h"
#include "engine/surface/TextRenderer.h"
#include "engine/surface/cDIBSection.h"

namespace kx {

namespace {

// The scratch surface every text is rendered on.
constexpr Long kScratchWidth = 2000;
constexpr Long kScratchHeight = 1000;

// Seconds since local midnight, the noise generator's seed.
unsigned SecondsSinceMidnight()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return 0;
    return static_cast<unsigned>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
}

}  // namespace

bool cDIBSection::ColourFillDIB(Byte byteRed, Byte byteGreen, Byte byteBlue)
{
    if (!IsLive()) return true;
    // One row is filled pixel by pixel and copied to the others: a whole
    // 2000 x 1000 surface in well under a millisecond.
    const size_t rowBytes = static_cast<size_t>(Width()) * 3;
    uint8_t* first = Row(0);
    for (size_t x = 0; x < rowBytes; x += 3) {
        first[x] = byteBlue;
        first[x + 1] = byteGreen;
        first[x + 2] = byteRed;
    }
    for (Long y = 1; y < Height(); ++y) std::memcpy(Row(y), first, rowBytes);
    return true;
}

bool cDIBSection::ConvertColour(Byte byteOldRed, Byte byteOldGreen, Byte byteOldBlue, Byte byteRed,
                                Byte byteGreen, Byte byteBlue)
{
    if (!IsLive()) return true;
    for (Long y = 0; y < Height(); ++y) {
        uint8_t* row = Row(y);
        for (Long x = 0; x < Width(); ++x) {
            uint8_t* pixel = row + 3 * x;
            if (pixel[0] == byteOldBlue && pixel[1] == byteOldGreen && pixel[2] == byteOldRed) {
                pixel[0] = byteBlue;
                pixel[1] = byteGreen;
                pixel[2] = byteRed;
            }
        }
    }
    return true;
}

void cDIBSection::RandomiseBits(bool bGray)
{
    if (!IsLive()) return;
    std::mt19937 generator(SecondsSinceMidnight());
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    auto level = [&] { return RoundTo<Byte>(fraction(generator) * 255.0); };
    for (Long y = 0; y < Height(); ++y) {
        uint8_t* row = Row(y);
        for (Long x = 0; x < Width(); ++x) {
            uint8_t* pixel = row + 3 * x;
            if (bGray) {
                const Byte grey = level();
                pixel[0] = pixel[1] = pixel[2] = grey;
            } else {
                pixel[0] = 0;
                pixel[1] = level();
                pixel[2] = level();
            }
        }
    }
}

void cDIBSection::StdFontToLogFont(const StdFont& font, HDC /*lhDC*/, LOGFONT& logFont) const
{
    // Every context has the same resolution here: there is no display.
    logFont = LogFontFromStdFont(font, ScreenPixelsPerInch);
}

bool cDIBSection::AddTextToImage(const std::string& strText, const StdFont& fontStdFont, Byte byteRed,
                                 Byte byteGreen, Byte byteBlue, Integer intTopPos, Integer intLeftPos)
{
    LOGFONT logFont;
    StdFontToLogFont(fontStdFont, hdc(), logFont);
    const TextExtent extent = TextRenderer::Measure(logFont, strText);

    // Text is rendered black on white within a scratch area of at most
    // kScratchWidth x kScratchHeight: whatever lies beyond is not drawn. The
    // block is only as large as the part of the text inside that area, so
    // it is rendered straight into it. The overlay places the block's top
    // row by the block's height, so the rows that are kept land where they
    // would in an uncut block.
    cDIBSection textSurface;
    const Long textWidth = std::min(extent.Width, kScratchWidth);
    const Long textHeight = std::min(extent.Height, kScratchHeight);
    if (!textSurface.Create(textWidth, textHeight)) return true;  // an empty text
    textSurface.ColourFillDIB(255, 255, 255);
    TextRenderer::Draw(textSurface, logFont, strText, extent.Width, extent.Height);

    // A white background would be taken for white text.
    if (byteRed == 255 && byteGreen == 255 && byteBlue == 255)
        textSurface.ConvertColour(255, 255, 255, 255, 0, 0);
    textSurface.ConvertColour(0, 0, 0, byteRed, byteGreen, byteBlue);
    OverlayColourPixels(textSurface, byteRed, byteGreen, byteBlue, intTopPos, intLeftPos);
    return true;
}

void cDIBSection::OverlayColourPixels(const cDIBSection& textSurface, Byte byteRed, Byte byteGreen,
                                      Byte byteBlue, Long lTop, Long lLeft)
{
    if (!IsLive() || !textSurface.IsLive()) return;
    // 64-bit: positions near the ends of the 32-bit range must not wrap.
    const int64_t height = Height();
    const int64_t rowBytes = BytesPerScanLine();
    const int64_t textWidth = textSurface.Width();
    const int64_t textHeight = textSurface.Height();
    const uint8_t colour[3] = {byteBlue, byteGreen, byteRed};
    for (int64_t y = 0; y < textHeight; ++y) {
        // Memory rows count from the bottom; the block's top row lands two
        // rows above lTop.
        const int64_t r = (height - lTop - textHeight) + y + 2;
        if (r < 0 || r >= height) continue;
        const uint8_t* source = textSurface.Row(static_cast<Long>(y));
        uint8_t* target = Row(static_cast<Long>(r));
        for (int64_t x = 0; x < textWidth; ++x) {
            const uint8_t* pixel = source + 3 * x;
            if (pixel[0] != byteBlue || pixel[1] != byteGreen || pixel[2] != byteRed) continue;
            // Each byte is tested by itself: a pixel may straddle an edge,
            // and bytes behind a row's last pixel are written (they show
            // nothing).
            const int64_t b = 3 * int64_t{lLeft} + 3 * x;
            for (int64_t k = 0; k < 3; ++k)
                if (b + k >= 0 && b + k < rowBytes) target[b + k] = colour[k];
        }
    }
}

bool cDIBSection::AddTextToImageUsingSpecPostion(const std::string& strText, const StdFont& fontStdFont,
                                                 Byte byteRed, Byte byteGreen, Byte byteBlue, Long txtPos)
{
    LOGFONT logFont;
    StdFontToLogFont(fontStdFont, hdc(), logFont);
    const TextExtent extent = TextRenderer::Measure(logFont, strText);

    if (Width() == 0 || Height() == 0) return false;

    const int64_t width = Width(), height = Height();
    const int64_t textWidth = extent.Width, textHeight = extent.Height;
    auto centred = [](int64_t outer, int64_t inner) {
        return RoundTo<Integer>(double(outer) / 2.0 - double(inner) / 2.0);
    };
    auto within = [](int64_t value) { return CheckedCast<Integer>(value); };
    auto top = [&](int row) -> Integer {
        switch (row) {
        case 0: return 2;
        case 1: return centred(height, textHeight);
        default: return within(height - textHeight - 2);
        }
    };
    auto left = [&](int column) -> Integer {
        switch (column) {
        case 0: return 2;
        case 1: return centred(width, textWidth);
        default: return within(width - textWidth - 2);
        }
    };

    Integer topPos = 0;
    Integer leftPos = 0;
    if (txtPos >= TopLeft && txtPos <= BottomRight) {
        topPos = top(txtPos / 3);
        leftPos = left(txtPos % 3);
    }
    AddTextToImage(strText, fontStdFont, byteRed, byteGreen, byteBlue, topPos, leftPos);
    return true;
}

}  // namespace kx
