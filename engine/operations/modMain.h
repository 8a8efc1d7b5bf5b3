// The engine's operations on picture files: five ways to resize, a coloured
// border, and text at a position or at a standard place. Each reads InImage,
// works on a pixel surface and writes OutImage as a JPEG file.
//
// Expected failures return false and leave a code in ErrorCode(); any other
// run-time error is shown through ReportError under the operation's own name,
// and the operation returns false without touching ErrorCode().
#pragma once

#include <string>

#include "common/CheckedMath.h"
#include "engine/operations/EngineSettings.h"
#include "engine/surface/StdFont.h"

namespace kx {

// Why the last operation on this thread failed. Each thread has its own.
enum ErrorCodes : Long {
    ecNone = 0,
    ecInputNotLoaded = 1,
    ecOutputNotWritten = 2,
    ecBadWidth = 3,
    ecBadHeight = 4,
    ecBadPercentage = 5,
    ecUnexpectedError = 6,  // set by the public methods: the error was reported
    ecResampleFailed = 7,
};
Long& ErrorCode();

// Red, green and blue of a colour code 0x00BBGGRR.
struct RGBBytes {
    Byte Red = 0;
    Byte Green = 0;
    Byte Blue = 0;
    bool operator==(const RGBBytes&) const = default;
};

// Exact size: the picture stretched to Width x Height.
bool ResizeImage(const std::string& InImage, const std::string& OutImage, Long Height, Long Width,
                 Long Quality, const EngineSettings& settings = EngineSettings{});
// Percentage of the header's width and height.
bool PercentageResize(const std::string& InImage, const std::string& OutImage, Long Percentage, Long Quality,
                      const EngineSettings& settings = EngineSettings{});
// With TrueProportions set in the settings, the four methods below size by
// the exact ratio instead (Proportions.h), in one decode and one encode, and
// a missing or unreadable input fails with ecInputNotLoaded.
// Exactly Width wide; the height follows the whole percentage of the change.
bool ResizeMaxWidth(const std::string& InImage, const std::string& OutImage, Long Width, Long Quality,
                    const EngineSettings& settings = EngineSettings{});
// Exactly Height high; the width follows the whole percentage of the change.
bool ResizeMaxHeight(const std::string& InImage, const std::string& OutImage, Long Height, Long Quality,
                     const EngineSettings& settings = EngineSettings{});
// Fitted within Height x Width, never enlarged; intermediate steps are
// written to OutImage at quality 100, the last one at Quality.
bool ResizeWithDimensions(const std::string& InImage, const std::string& OutImage, Long Height, Long Width,
                          Long Quality, const EngineSettings& settings = EngineSettings{});
// Covers Width x Height keeping the true proportions, then keeps exactly the
// middle Width x Height of it (the thumbnail crop). Always true proportions;
// the object's filter resamples.
bool ResizeToFill(const std::string& InImage, const std::string& OutImage, Long Height, Long Width,
                  Long Quality, const EngineSettings& settings = EngineSettings{});
// Borders of the given sizes (in pixels) in one colour, saved at quality 100.
bool ImageAddBorder(const std::string& InImage, const std::string& OutImage, Long lngBorderColour,
                    Integer intBorderTopSize, Integer intBorderBottomSize, Integer intBorderLeftSize,
                    Integer intBorderRightSize, const EngineSettings& settings = EngineSettings{});
// Text with its block's top left at (intLeftPos, intTopPos - 2), quality 100.
bool ImageAddText(const std::string& InImage, const std::string& OutImage, const std::string& strText,
                  const StdFont& fontStdFnt, Long lngColour, Integer intTopPos, Integer intLeftPos,
                  const EngineSettings& settings = EngineSettings{});
// Text at one of the nine standard places, quality 100.
bool ImageAddTextUsingSpecifiedPosition(const std::string& InImage, const std::string& OutImage,
                                        const std::string& strText, const StdFont& fontStdFnt, Long lngColour,
                                        Long txtPos, const EngineSettings& settings = EngineSettings{});
// Splits a colour code; a negative code that is not a multiple of 2^24 is
// reported as an overflow and gives black.
RGBBytes ColorCodeToRGB(Long lngColour);

}  // namespace kx
