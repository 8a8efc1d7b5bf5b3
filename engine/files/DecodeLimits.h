// Limits that every decoder checks before it allocates a surface, so that a
// hostile header cannot make a small file cost a large allocation.
#pragma once

#include <cstdint>

#include "common/modImageInfo.h"

namespace kx {

// Largest width or height a decoder accepts.
inline constexpr int64_t kMaxPictureSide = 65535;

// The surface's buffer must fit in 31 bits: rows of 4-byte-padded BGR.
inline constexpr int64_t kMaxSurfaceBytes = INT32_MAX;

// Pictures up to this many pixels are always plausible, whatever the file size.
inline constexpr int64_t kAlwaysPlausiblePixels = int64_t{1} << 20;

// True when a surface of width x height fits the engine's limits.
constexpr bool SurfaceSizeAllowed(int64_t width, int64_t height)
{
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide) return false;
    const int64_t stride = (width * 3 + 3) & ~int64_t{3};
    return stride * height <= kMaxSurfaceBytes;
}

// True when a picture of width x height in a file of fileBytes can be read a
// row at a time and reduced as it comes: no surface holds it whole, so its
// sides are bounded, and beyond a surface's size its weight
// (kHugePixelsPerByte); the memory budget counts the rows kept.
constexpr bool StreamedSizeAllowed(int64_t width, int64_t height, int64_t fileBytes)
{
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide) return false;
    return SurfaceSizeAllowed(width, height) || width * height / kHugePixelsPerByte <= fileBytes;
}

// True when a file of fileBytes bytes can plausibly describe width x height
// pixels with a coder that expands at most maxPixelsPerByte pixels per byte
// of input (the format's worst legitimate case); tiny pictures always pass.
constexpr bool SizePlausible(int64_t width, int64_t height, int64_t fileBytes, int64_t maxPixelsPerByte)
{
    const int64_t pixels = width * height;
    return pixels <= kAlwaysPlausiblePixels || pixels / maxPixelsPerByte <= fileBytes;
}

}  // namespace kx
