// Sizes that keep a picture's true proportions: the side that is given is
// met exactly and the other is rounded (halves to even) from the exact
// ratio, never below 1 pixel. All comparisons of ratios are made on whole
// numbers, so a 4:3 picture fitted into a 4:3 box fills it.
#pragma once

#include "common/CheckedMath.h"

namespace kx {

struct PictureSize {
    Long Width = 0;
    Long Height = 0;
    bool operator==(const PictureSize&) const = default;
};

// round(from * to / of), at least 1; raises overflow (6) beyond 32 bits.
// `of` must be positive.
Long ProportionalSide(Long from, Long to, Long of);

// Width exactly `width`, height round(h0 * width / w0).
PictureSize ScaledToWidth(PictureSize source, Long width);
// Height exactly `height`, width round(w0 * height / h0).
PictureSize ScaledToHeight(PictureSize source, Long height);
// Within width x height, never enlarged: the binding side exactly on its
// target; a picture that fits already keeps its size.
PictureSize FittedWithin(PictureSize source, Long width, Long height);
// Covering width x height: the side that needs the larger scale exactly on
// its target, the other at least its target (enlarging if need be).
PictureSize CoveringBox(PictureSize source, Long width, Long height);
// The width x height box cut from the middle of a covering picture: its
// left and top offsets (the odd pixel goes to the right and bottom).
PictureSize CentreCropOffset(PictureSize covering, Long width, Long height);

}  // namespace kx
