// The font a caller asks for (StdFont), the record the text renderer works
// from (LOGFONT) and the nine standard text places (TEXT_POSITION).
#pragma once

#include <cstdint>
#include <string>

#include "common/CheckedMath.h"

namespace kx {

// The resolution at which point sizes become pixels: there is no display to
// ask, so the common screen value.
inline constexpr Long ScreenPixelsPerInch = 96;

// A font object: name (UTF-8), size in points (fractional), style flags and
// character set.
struct StdFont {
    std::string Name = "Sans";
    double Size = 8.25;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool Strikethrough = false;
    int16_t Charset = 0;
};

// A font description as the renderer takes it. All fields start at 0.
// lfHeight < 0 is the character height in pixels, > 0 the cell height,
// 0 the renderer's default; lfWeight 700 is bold; lfItalic, lfUnderline and
// lfStrikeOut are on when non-zero; lfFaceName is a zero-terminated UTF-8
// family name.
struct LOGFONT {
    int32_t lfHeight = 0;
    int32_t lfWidth = 0;
    int32_t lfEscapement = 0;
    int32_t lfOrientation = 0;
    int32_t lfWeight = 0;
    uint8_t lfItalic = 0;
    uint8_t lfUnderline = 0;
    uint8_t lfStrikeOut = 0;
    uint8_t lfCharSet = 0;
    uint8_t lfOutPrecision = 0;
    uint8_t lfClipPrecision = 0;
    uint8_t lfQuality = 0;
    uint8_t lfPitchAndFamily = 0;
    char lfFaceName[32] = {};
};

// The nine standard places for a text on a picture.
enum TEXT_POSITION : int32_t {
    TopLeft = 0,
    TopCentre = 1,
    TopRight = 2,
    MiddleLeft = 3,
    MiddleCentre = 4,
    MiddleRight = 5,
    BottomLeft = 6,
    BottomCentre = 7,
    BottomRight = 8,
};

// nNumber * nNumerator / nDenominator computed in 64 bits and rounded to the
// nearest whole number, halves away from zero; -1 when nDenominator is 0 or
// the result does not fit 32 bits.
Long MulDiv(Long nNumber, Long nNumerator, Long nDenominator);

// The description of `font` at lPixelsPerInch: face name, height (the size
// rounded to whole points, halves to even, then scaled), weight 700 or 400,
// italic/underline/strike-out 255 or 0 and the character set; all other
// fields 0. Raises the subscript error (9) for a name longer than 33
// characters and overflow (6) for a character set outside 0..255 or a size
// that has no whole-number value.
LOGFONT LogFontFromStdFont(const StdFont& font, Long lPixelsPerInch);

}  // namespace kx
