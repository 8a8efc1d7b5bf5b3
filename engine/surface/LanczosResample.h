// The antialiased resampler: a separable Lanczos-3 filter on the BGR
// surfaces. When a picture is reduced, the kernel is widened by the reduction
// factor, so that every source pixel counts (no aliasing); when it is
// enlarged, plain Lanczos-3 interpolates. Pixel centres are mapped onto each
// other: destination pixel i covers source (i + 0.5) * scale - 0.5.
//
// Weights are computed once per destination column and once per destination
// row in double precision, normalised, and stored as fixed-point whole
// numbers summing exactly to kLanczosWeightOne; all pixel arithmetic is on
// whole numbers. The same picture and size therefore give the same bytes on
// any machine and in any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/surface/cDIBSection.h"

namespace kx {

// Fixed-point one of a weight: weights carry 15 fraction bits.
inline constexpr int32_t kLanczosWeightOne = 1 << 15;

// The weights along one axis, for every destination index i: source indices
// First[i] .. First[i] + Count[i] - 1 with weights Weights[i * Stride + k].
// Taps that would fall outside the source are left out and the others
// normalised, so each set sums exactly to kLanczosWeightOne.
struct LanczosAxis {
    Long Stride = 0;
    std::vector<Long> First;
    std::vector<Long> Count;
    std::vector<int32_t> Weights;
};

// Pixels between the passes (vertical first) keep 6 fraction bits, in 16
// bits: the filter's overshoot (below 0, above 255) survives until the final
// rounding. The vertical pass's sums (weights times bytes) are shifted down
// by kLanczosVerticalPassShift and clamped to -64 .. 320 in that fixed point.
// With weights whose magnitudes sum to less than 3 (Lanczos-3's do to about
// 1.3), the horizontal sums stay within 32 bits.
inline constexpr int kLanczosBetweenBits = 6;
inline constexpr int kLanczosVerticalPassShift = 15 - kLanczosBetweenBits;
inline constexpr int32_t kLanczosBetweenLowest = -64 << kLanczosBetweenBits;
inline constexpr int32_t kLanczosBetweenHighest = 320 << kLanczosBetweenBits;

// The horizontal pass: a row of `axis`'s source size in 16-bit fixed point
// (BGR, as the vertical pass leaves it) to `width` BGR bytes at `out`.
void LanczosFilterRow(const int16_t* in, uint8_t* out, const LanczosAxis& axis, Long width);

// The Lanczos-3 kernel: sinc(x) * sinc(x / 3) for |x| < 3, else 0.
double Lanczos3(double x);

// The weights that take `sourceSize` pixels to `targetSize` (both >= 1).
LanczosAxis LanczosWeights(Long sourceSize, Long targetSize);

// A new surface of lNewWidth x lNewHeight holding `source` filtered to that
// size; the same size is a plain copy. nullptr when the new surface cannot
// be created (a size of 0 or less, or no memory) or the source holds no
// pixels.
std::unique_ptr<cDIBSection> ResampleLanczos(const cDIBSection& source, Long lNewWidth, Long lNewHeight);

}  // namespace kx
