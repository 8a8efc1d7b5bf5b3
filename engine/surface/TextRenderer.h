// Measures and draws texts: fontconfig picks the face for a LOGFONT,
// FreeType renders it without smoothing, so every glyph pixel is exactly
// black (0, 0, 0) and every other pixel is left as it was. A character the
// face lacks is drawn from the face fontconfig prefers for it among those
// that have it, at the same size and in the same style (its .notdef box when
// no installed face has it); lines are then as tall as the faces they use.
//
// Layout: lines break only at "\n", "\r\n" and a lone "\r"; the text ends at
// its first zero character; there is no word wrapping. With prefix
// processing a single "&" is not drawn and underlines the character after
// it, "&&" draws one "&", and a "&" at the end of the text or of a line
// draws nothing.
//
// Safe to call from several threads at once: FreeType and fontconfig are
// reached under one lock.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/CheckedMath.h"

namespace kx {

class cDIBSection;
struct LOGFONT;

// The extent of a text in pixels: the widest line's advance width and the
// height of all lines. 0 x 0 when no face could be found.
struct TextExtent {
    Long Width = 0;
    Long Height = 0;
};

class TextRenderer {
public:
    // Faces larger than this many pixels are refused (an empty extent):
    // their glyph bitmaps would be absurdly large.
    static constexpr Long MaxPixelHeight = 4096;

    static TextExtent Measure(const LOGFONT& font, std::string_view text, bool bPrefix = true);

    // Draws text in black with its top-left at picture (0, 0) of surface,
    // clipped to the rectangle (0, 0, lRight, lBottom) and to the surface.
    // The background is not painted. A surface without pixels is not touched.
    static void Draw(cDIBSection& surface, const LOGFONT& font, std::string_view text, Long lRight,
                     Long lBottom, bool bPrefix = true);
};

// The length in bytes of the UTF-8 character at pos (pos < text.size()); an
// invalid or cut-off sequence counts as a character of its longest valid
// start, at least one byte, and decodes to U+FFFD.
size_t Utf8CharLength(std::string_view text, size_t pos, char32_t* codePoint = nullptr);

// Decodes UTF-8; each invalid sequence becomes U+FFFD.
std::u32string DecodeUtf8(std::string_view text);

}  // namespace kx
