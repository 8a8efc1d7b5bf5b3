// Shrink-on-load: a JPEG picture that is about to be reduced a lot can be
// decoded at 1/2, 1/4 or 1/8 of its size by the decoder itself, for a
// fraction of the work of decoding every pixel. The antialiased resampler
// then finishes the reduction from a picture that still has at least twice
// the target's pixels along each side, so the result keeps its quality.
#pragma once

#include "common/CheckedMath.h"

namespace kx {

// The size a picture will be resampled to after loading; 0 x 0 (the
// default) asks for every pixel.
struct ShrinkTarget {
    Long Width = 0;
    Long Height = 0;
};

// The decoder's side at scale 1/denominator: the side divided, rounded up.
constexpr Long ScaledSide(Long side, Long denominator) { return (side + denominator - 1) / denominator; }

// The largest of 1, 2, 4 and 8 at which a width x height picture decodes to
// at least twice the target along both sides; 1 when the target is empty
// or the picture is not at least twice the target.
constexpr Long ShrinkOnLoadDenominator(Long width, Long height, const ShrinkTarget& target)
{
    if (target.Width <= 0 || target.Height <= 0) return 1;
    for (Long d = 8; d > 1; d /= 2)
        if (int64_t{ScaledSide(width, d)} >= 2 * int64_t{target.Width} &&
            int64_t{ScaledSide(height, d)} >= 2 * int64_t{target.Height})
            return d;
    return 1;
}

}  // namespace kx
