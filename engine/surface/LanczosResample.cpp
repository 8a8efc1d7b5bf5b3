#include "engine/surface/LanczosResample.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kx {

namespace {

constexpr double kLobes = 3.0;

constexpr int kBetweenBits = kLanczosBetweenBits;
constexpr int kHorizontalShift = kLanczosVerticalPassShift;
constexpr int kVerticalShift = 15 + kBetweenBits;
constexpr int32_t kBetweenLowest = kLanczosBetweenLowest;
constexpr int32_t kBetweenHighest = kLanczosBetweenHighest;

double Sinc(double x)
{
    if (x == 0.0) return 1.0;
    const double px = std::numbers::pi * x;
    return std::sin(px) / px;
}

// The weights of destination index i, appended as whole numbers at `out`.
void WeightsAt(Long i, Long sourceSize, double scale, double filterScale, Long& first, Long& count,
               int32_t* out, Long stride)
{
    const double support = kLobes * filterScale;
    const double centre = (i + 0.5) * scale;
    Long lo = std::max<Long>(0, static_cast<Long>(std::floor(centre - support - 0.5)));
    Long hi = std::min<Long>(sourceSize - 1, static_cast<Long>(std::ceil(centre + support - 0.5)));
    std::vector<double> w;
    w.reserve(static_cast<size_t>(hi - lo + 1));
    for (Long j = lo; j <= hi; ++j) w.push_back(Lanczos3((j + 0.5 - centre) / filterScale));
    // Taps outside the kernel are dropped from both ends.
    size_t begin = 0, end = w.size();
    while (begin < end && w[begin] == 0.0) ++begin;
    while (end > begin && w[end - 1] == 0.0) --end;
    if (begin == end) {  // cannot happen with a centre inside the source; kept safe
        const Long nearest = std::clamp<Long>(static_cast<Long>(centre), 0, sourceSize - 1);
        first = nearest;
        count = 1;
        out[0] = kLanczosWeightOne;
        return;
    }
    double sum = 0;
    for (size_t k = begin; k < end; ++k) sum += w[k];
    first = lo + static_cast<Long>(begin);
    count = static_cast<Long>(end - begin);
    if (count > stride) Raise(errSubscript);
    // Whole-number weights from the rounded running sum: they add up to
    // exactly one, and the rounding error is spread evenly, not piled on
    // one tap.
    double running = 0;
    int64_t previous = 0;
    for (size_t k = 0; k < static_cast<size_t>(count); ++k) {
        running += w[begin + k];
        const int64_t next = k + 1 == static_cast<size_t>(count)
                                 ? kLanczosWeightOne
                                 : std::llround(running / sum * kLanczosWeightOne);
        out[k] = static_cast<int32_t>(next - previous);
        previous = next;
    }
}

// Vertical pass for one destination row: `count` source rows weighted and
// summed byte by byte into 16-bit fixed point. Plain loops over whole
// numbers, which the compiler vectorises; every order of the additions gives
// the same sums.
void SumRows(const uint8_t* const* rows, const int32_t* weights, Long count, size_t bytes, int32_t* sums,
             int16_t* out)
{
    std::fill(sums, sums + bytes, int32_t{1} << (kHorizontalShift - 1));
    for (Long k = 0; k < count; ++k) {
        const uint8_t* in = rows[k];
        const int32_t w = weights[k];
        for (size_t i = 0; i < bytes; ++i) sums[i] += w * in[i];
    }
    for (size_t i = 0; i < bytes; ++i)
        out[i] =
            static_cast<int16_t>(std::clamp(sums[i] >> kHorizontalShift, kBetweenLowest, kBetweenHighest));
}

}  // namespace

// Horizontal pass: a row of 16-bit fixed point to a destination row.
void LanczosFilterRow(const int16_t* in, uint8_t* out, const LanczosAxis& axis, Long width)
{
    for (Long x = 0; x < width; ++x) {
        const int32_t* w = &axis.Weights[static_cast<size_t>(x) * axis.Stride];
        const int16_t* p = in + 3 * static_cast<size_t>(axis.First[x]);
        int32_t b = 1 << (kVerticalShift - 1), g = b, r = b;
        for (Long k = 0, n = axis.Count[x]; k < n; ++k, p += 3) {
            b += w[k] * p[0];
            g += w[k] * p[1];
            r += w[k] * p[2];
        }
        out[3 * x] = static_cast<uint8_t>(std::clamp(b >> kVerticalShift, 0, 255));
        out[3 * x + 1] = static_cast<uint8_t>(std::clamp(g >> kVerticalShift, 0, 255));
        out[3 * x + 2] = static_cast<uint8_t>(std::clamp(r >> kVerticalShift, 0, 255));
    }
}

double Lanczos3(double x)
{
    if (x <= -kLobes || x >= kLobes) return 0.0;
    return Sinc(x) * Sinc(x / kLobes);
}

LanczosAxis LanczosWeights(Long sourceSize, Long targetSize)
{
    LanczosAxis axis;
    if (sourceSize < 1 || targetSize < 1) return axis;
    const double scale = static_cast<double>(sourceSize) / targetSize;
    const double filterScale = std::max(scale, 1.0);
    axis.Stride = static_cast<Long>(std::ceil(2 * kLobes * filterScale)) + 3;
    const size_t n = static_cast<size_t>(targetSize);
    axis.First.resize(n);
    axis.Count.resize(n);
    axis.Weights.assign(n * static_cast<size_t>(axis.Stride), 0);
    // The second half mirrors the first, so that a mirrored picture gives
    // exactly the mirrored result.
    for (Long i = 0; i < targetSize; ++i) {
        int32_t* out = &axis.Weights[static_cast<size_t>(i) * axis.Stride];
        const Long mirror = targetSize - 1 - i;
        if (mirror < i) {
            const Long count = axis.Count[mirror];
            const int32_t* from = &axis.Weights[static_cast<size_t>(mirror) * axis.Stride];
            axis.Count[i] = count;
            axis.First[i] = sourceSize - axis.First[mirror] - count;
            for (Long k = 0; k < count; ++k) out[k] = from[count - 1 - k];
        } else {
            WeightsAt(i, sourceSize, scale, filterScale, axis.First[i], axis.Count[i], out, axis.Stride);
        }
    }
    return axis;
}

std::unique_ptr<cDIBSection> ResampleLanczos(const cDIBSection& source, Long lNewWidth, Long lNewHeight)
{
    if (!source.IsLive()) return nullptr;
    auto result = std::make_unique<cDIBSection>();
    if (!result->Create(lNewWidth, lNewHeight)) return nullptr;
    const Long ws = source.Width(), hs = source.Height();
    if (lNewWidth == ws && lNewHeight == hs) {
        BlockCopy(*result, 0, 0, source, 0, 0, ws, hs);
        return result;
    }
    const LanczosAxis columns = LanczosWeights(ws, lNewWidth);
    // Memory rows run bottom-up; the weights are mirror-symmetric, so
    // filtering memory rows gives the same picture as filtering from the top.
    const LanczosAxis rows = LanczosWeights(hs, lNewHeight);

    // Row by row: the vertical pass makes one row of the source's width,
    // the horizontal pass reduces it to the destination row. Only one such
    // row is held, whatever the picture's size.
    const size_t bytes = 3 * static_cast<size_t>(ws);
    std::vector<int32_t> sums(bytes);
    std::vector<int16_t> between(bytes);
    std::vector<const uint8_t*> sourceRows(static_cast<size_t>(rows.Stride));
    for (Long y = 0; y < lNewHeight; ++y) {
        for (Long k = 0; k < rows.Count[y]; ++k)
            sourceRows[static_cast<size_t>(k)] = source.Row(rows.First[y] + k);
        SumRows(sourceRows.data(), &rows.Weights[static_cast<size_t>(y) * rows.Stride], rows.Count[y], bytes,
                sums.data(), between.data());
        LanczosFilterRow(between.data(), result->Row(y), columns, lNewWidth);
    }
    return result;
}

}  // namespace kx
