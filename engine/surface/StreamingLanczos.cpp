#include "engine/surface/StreamingLanczos.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "engine/surface/ResamplePaths.h"

namespace kx {

namespace {

// Columns summed at once: their 32-bit sums stay in the first-level cache
// while every source row of the kernel is added.
constexpr size_t kBlockBytes = 1024;

// The vertical pass for `bytes` bytes of one output row, as LanczosResample's:
// whole numbers, so every path gives the same sums.
void SumBlocksPlain(const uint8_t* const* rows, const int32_t* weights, Long count, size_t bytes,
                    int16_t* out)
{
    for (size_t begin = 0; begin < bytes; begin += kBlockBytes) {
        const size_t n = std::min(kBlockBytes, bytes - begin);
        int32_t sums[kBlockBytes];
        for (size_t b = 0; b < n; ++b) sums[b] = int32_t{1} << (kLanczosVerticalPassShift - 1);
        for (Long k = 0; k < count; ++k) {
            const uint8_t* in = rows[k] + begin;
            const int32_t w = weights[k];
            for (size_t b = 0; b < n; ++b) sums[b] += w * in[b];
        }
        for (size_t b = 0; b < n; ++b)
            out[begin + b] = static_cast<int16_t>(std::clamp(sums[b] >> kLanczosVerticalPassShift,
                                                             kLanczosBetweenLowest, kLanczosBetweenHighest));
    }
}

#if KX_HAVE_AVX2_PATH
// The sums at `v` shifted down and clamped, as the plain loop does.
__attribute__((target("avx2"), always_inline)) inline __m256i ClampBetween(const __m256i* v, __m256i lowest,
                                                                           __m256i highest)
{
    return _mm256_min_epi32(
        _mm256_max_epi32(_mm256_srai_epi32(_mm256_load_si256(v), kLanczosVerticalPassShift), lowest),
        highest);
}

// The same sums sixteen bytes at a time, two kernel rows per step: their
// bytes are interleaved as 16-bit pairs, which one multiply-add weighs and
// adds into 32-bit sums (weights of a reduction fit 16 bits; others take
// the plain loop). The pairs come out of each 128-bit lane in the order
// 0-3 and 8-11, then 4-7 and 12-15; packing the two halves back puts every
// byte's sum in its place.
__attribute__((target("avx2"))) void SumBlocksAvx2(const uint8_t* const* rows, const int32_t* weights,
                                                   Long count, size_t bytes, int16_t* out)
{
    for (Long k = 0; k < count; ++k)
        if (weights[k] < INT16_MIN || weights[k] > INT16_MAX)
            return SumBlocksPlain(rows, weights, count, bytes, out);
    const size_t whole = bytes / 16 * 16;
    const __m256i lowest = _mm256_set1_epi32(kLanczosBetweenLowest);
    const __m256i highest = _mm256_set1_epi32(kLanczosBetweenHighest);
    alignas(32) int32_t sums[kBlockBytes];
    for (size_t begin = 0; begin < whole; begin += kBlockBytes) {
        const size_t n = std::min(kBlockBytes, whole - begin);
        std::fill(sums, sums + n, int32_t{1} << (kLanczosVerticalPassShift - 1));
        for (Long k = 0; k < count; k += 2) {
            const bool pair = k + 1 < count;
            const uint8_t* first = rows[k] + begin;
            const uint8_t* second = pair ? rows[k + 1] + begin : first;
            const uint32_t w =
                static_cast<uint16_t>(weights[k]) |
                (pair ? static_cast<uint32_t>(static_cast<uint16_t>(weights[k + 1])) << 16 : 0u);
            const __m256i both = _mm256_set1_epi32(static_cast<int32_t>(w));
            for (size_t b = 0; b < n; b += 16) {
                const __m256i x =
                    _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first + b)));
                const __m256i y =
                    _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(second + b)));
                auto* lo = reinterpret_cast<__m256i*>(sums + b);
                _mm256_store_si256(lo,
                                   _mm256_add_epi32(_mm256_load_si256(lo),
                                                    _mm256_madd_epi16(_mm256_unpacklo_epi16(x, y), both)));
                _mm256_store_si256(lo + 1,
                                   _mm256_add_epi32(_mm256_load_si256(lo + 1),
                                                    _mm256_madd_epi16(_mm256_unpackhi_epi16(x, y), both)));
            }
        }
        for (size_t b = 0; b < n; b += 16) {
            const auto* lo = reinterpret_cast<const __m256i*>(sums + b);
            _mm256_storeu_si256(
                reinterpret_cast<__m256i*>(out + begin + b),
                _mm256_packs_epi32(ClampBetween(lo, lowest, highest), ClampBetween(lo + 1, lowest, highest)));
        }
    }
    // The last bytes (fewer than sixteen), plainly, from rows moved on.
    std::vector<const uint8_t*> tail(rows, rows + count);
    for (const uint8_t*& row : tail) row += whole;
    if (whole < bytes) SumBlocksPlain(tail.data(), weights, count, bytes - whole, out + whole);
}
#endif

}  // namespace

int64_t StreamingLanczos::WorkingBytes(Long sourceWidth, Long sourceHeight, Long targetWidth,
                                       Long targetHeight)
{
    const auto axisBytes = [](Long source, Long target) {
        const double filterScale = std::max(1.0, static_cast<double>(source) / target);
        return int64_t{target} * ((static_cast<int64_t>(6 * filterScale) + 4) * 4 + 16);
    };
    const double filterScale = std::max(1.0, static_cast<double>(sourceHeight) / targetHeight);
    const int64_t kernelRows = std::min<int64_t>(sourceHeight, static_cast<int64_t>(6 * filterScale) + 4);
    const int64_t rowBytes = int64_t{3} * sourceWidth;
    return axisBytes(sourceWidth, targetWidth) + axisBytes(sourceHeight, targetHeight) +
           kernelRows * rowBytes + rowBytes * 2 + kernelRows * 8;
}

bool StreamingLanczos::Start(Long sourceWidth, Long sourceHeight, Long targetWidth, Long targetHeight,
                             cDIBSection& out)
{
    if (sourceWidth < 1 || sourceHeight < 1 || !out.Create(targetWidth, targetHeight)) return false;
    sourceWidth_ = sourceWidth;
    sourceHeight_ = sourceHeight;
    targetWidth_ = targetWidth;
    columns_ = LanczosWeights(sourceWidth, targetWidth);
    rows_ = LanczosWeights(sourceHeight, targetHeight);
    ringRows_ = 1;
    for (Long count : rows_.Count) ringRows_ = std::max(ringRows_, count);
    const size_t bytes = 3 * static_cast<size_t>(sourceWidth);
    ring_.assign(bytes * static_cast<size_t>(ringRows_), 0);
    rowsOfKernel_.assign(static_cast<size_t>(ringRows_), nullptr);
    between_.assign(bytes, 0);
    black_.clear();
    next_ = 0;
    finished_ = 0;
    out_ = &out;
    return true;
}

void StreamingLanczos::Push(const uint8_t* row)
{
    if (out_ == nullptr || next_ >= sourceHeight_) return;
    const Long y = next_++;
    std::memcpy(const_cast<uint8_t*>(Kept(y)), row, 3 * static_cast<size_t>(sourceWidth_));
    const Long targetHeight = static_cast<Long>(rows_.First.size());
    // Output rows end in order: the kernels' last rows never go back.
    while (finished_ < targetHeight && rows_.First[finished_] + rows_.Count[finished_] - 1 <= y)
        FinishRow(finished_++);
}

void StreamingLanczos::FinishRow(Long i)
{
    const size_t bytes = 3 * static_cast<size_t>(sourceWidth_);
    const Long count = rows_.Count[i];
    for (Long k = 0; k < count; ++k) rowsOfKernel_[static_cast<size_t>(k)] = Kept(rows_.First[i] + k);
    const int32_t* weights = &rows_.Weights[static_cast<size_t>(i) * rows_.Stride];
#if KX_HAVE_AVX2_PATH
    if (ResampleUsesAvx2()) {
        SumBlocksAvx2(rowsOfKernel_.data(), weights, count, bytes, between_.data());
        LanczosFilterRow(between_.data(), out_->PictureRow(i), columns_, targetWidth_);
        return;
    }
#endif
    SumBlocksPlain(rowsOfKernel_.data(), weights, count, bytes, between_.data());
    LanczosFilterRow(between_.data(), out_->PictureRow(i), columns_, targetWidth_);
}

void StreamingLanczos::Finish()
{
    if (out_ == nullptr) return;
    if (next_ < sourceHeight_) black_.assign(3 * static_cast<size_t>(sourceWidth_), 0);
    while (next_ < sourceHeight_) Push(black_.data());
    out_ = nullptr;
}

}  // namespace kx
