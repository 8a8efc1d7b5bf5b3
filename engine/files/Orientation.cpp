#include "engine/files/Orientation.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace kx {

UprightPlacer::UprightPlacer(cDIBSection& upright, int orientation, Long storedWidth, Long storedHeight)
    : upright_(upright)
    , orientation_(orientation < 1 || orientation > 8 ? 1 : orientation)
    , width_(storedWidth)
    , height_(storedHeight)
{}

void UprightPlacer::Place(const uint8_t* const* rows, Long firstRow, Long count)
{
    const size_t rowBytes = static_cast<size_t>(width_) * 3;
    if (!SwapsSides(orientation_)) {
        // Stored row y stays a row: the same one, or counted from the bottom
        // (3, 4); its pixels in order, or mirrored (2, 3).
        const bool flip = orientation_ == 3 || orientation_ == 4;
        const bool mirror = orientation_ == 2 || orientation_ == 3;
        for (Long i = 0; i < count; ++i) {
            const Long y = firstRow + i;
            uint8_t* out = upright_.PictureRow(flip ? height_ - 1 - y : y);
            if (!mirror) {
                std::memcpy(out, rows[i], rowBytes);
                continue;
            }
            const uint8_t* in = rows[i] + rowBytes;
            for (Long x = 0; x < width_; ++x, out += 3) {
                in -= 3;
                out[0] = in[0];
                out[1] = in[1];
                out[2] = in[2];
            }
        }
        return;
    }
    // A quarter turn: stored column x becomes upright row x (5, 6) or
    // width - 1 - x (7, 8); stored row y becomes upright column y (5, 8) or
    // height - 1 - y (6, 7). The strip's rows land side by side in each
    // upright row.
    const bool rowsFromRight = orientation_ == 7 || orientation_ == 8;
    const bool columnsReversed = orientation_ == 6 || orientation_ == 7;
    const Long firstColumn = columnsReversed ? height_ - 1 - firstRow : firstRow;
    const ptrdiff_t step = columnsReversed ? -3 : 3;
    const Long leftmost = columnsReversed ? firstColumn - (count - 1) : firstColumn;
    const auto target = [&](Long x) {
        return upright_.PictureRow(rowsFromRight ? width_ - 1 - x : x) + size_t{3} * firstColumn;
    };
    constexpr Long kAhead = 16;  // upright rows are far apart: fetch them early
    for (Long x = 0; x < width_; ++x) {
        if (x + kAhead < width_) {
            const uint8_t* ahead = upright_.PictureRow(rowsFromRight ? width_ - 1 - x - kAhead : x + kAhead) +
                                   size_t{3} * leftmost;
            for (Long b = 0; b < count * 3 + 63; b += 64) __builtin_prefetch(ahead + b, 1);
        }
        uint8_t* out = target(x);
        const size_t at = static_cast<size_t>(x) * 3;
        for (Long i = 0; i < count; ++i, out += step) {
            const uint8_t* in = rows[i] + at;
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
    }
}

bool TurnUpright(cDIBSection& surface, int orientation)
{
    if (orientation < 2 || orientation > 8 || !surface.IsLive()) return true;
    const Long width = surface.Width(), height = surface.Height();
    cDIBSection upright;
    if (!(SwapsSides(orientation) ? upright.Create(height, width) : upright.Create(width, height)))
        return false;
    UprightPlacer placer(upright, orientation, width, height);
    constexpr Long kStrip = 16;
    const uint8_t* rows[kStrip];
    for (Long y = 0; y < height; y += kStrip) {
        const Long count = std::min(kStrip, height - y);
        for (Long i = 0; i < count; ++i) rows[i] = surface.PictureRow(y + i);
        placer.Place(rows, y, count);
    }
    surface = std::move(upright);
    return true;
}

}  // namespace kx
