#include "engine/surface/StdFont.h"

#include <cstring>
#include <limits>

#include "engine/surface/TextRenderer.h"

namespace kx {

Long MulDiv(Long nNumber, Long nNumerator, Long nDenominator)
{
    if (nDenominator == 0) return -1;
    const int64_t product = int64_t{nNumber} * nNumerator;
    const bool negative = (product < 0) != (nDenominator < 0);
    const uint64_t magnitude = product < 0 ? uint64_t(-product) : uint64_t(product);
    const uint64_t divisor = nDenominator < 0 ? uint64_t(-int64_t{nDenominator}) : uint64_t(nDenominator);
    const uint64_t quotient = (magnitude + divisor / 2) / divisor;
    if (quotient > uint64_t{std::numeric_limits<Long>::max()}) return -1;
    return negative ? -static_cast<Long>(quotient) : static_cast<Long>(quotient);
}

LOGFONT LogFontFromStdFont(const StdFont& font, Long lPixelsPerInch)
{
    LOGFONT logFont;

    // The face-name field takes 31 bytes and the terminating zero. Names of
    // 32 and 33 characters are cut to what fits; longer ones are refused.
    // Only whole characters are copied, so the name stays valid UTF-8.
    const std::string_view name = font.Name;
    size_t characters = 0;
    for (size_t pos = 0; pos < name.size(); ++characters) pos += Utf8CharLength(name, pos);
    if (characters > 33) Raise(errSubscript);
    size_t copied = 0;
    while (copied < name.size()) {
        const size_t length = Utf8CharLength(name, copied);
        if (copied + length > sizeof(logFont.lfFaceName) - 1) break;
        copied += length;
    }
    std::memcpy(logFont.lfFaceName, name.data(), copied);

    const Long points = RoundTo<Long>(font.Size);
    logFont.lfHeight = CheckedCast<Long>(-int64_t{MulDiv(points, lPixelsPerInch, 72)});
    logFont.lfItalic = font.Italic ? 255 : 0;
    logFont.lfUnderline = font.Underline ? 255 : 0;
    logFont.lfStrikeOut = font.Strikethrough ? 255 : 0;
    logFont.lfWeight = font.Bold ? 700 : 400;
    logFont.lfCharSet = CheckedCast<Byte>(font.Charset);
    return logFont;
}

}  // namespace kx
