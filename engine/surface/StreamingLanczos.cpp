#include "StreamingLanczos.h"

#include <algorithm>
#include <cstring>

#include "ResamplePaths.h"

#if defined(__x86_64__) || defined(__i386__)
#define KX_HAVE_AVX2_PATH 1
#else
#define KX_HAVE_AVX2_PATH 0
#endif

namespace kx {

namespace {

// Columns summed at once: their 32-bit sums stay in the first-level cache
// while every source row of the kernel is added.
constexpr size_t kBlockBytes = 1024;

// The vertical pass for bytes [begin, end) of one output row, as
// LanczosResample's: whole numbers, so every path gives the same sums.
#if defined(__GNUC__) && !defined(__clang__)
#define KX_VECTORISE __attribute__((optimize("O3")))
#else
#define KX_VECTORISE
#endif
#define KX_SUM_BLOCKS_BODY                                                                                   \
    for (size_t begin = 0; begin < bytes; begin += kBlockBytes) {                                            \
        const size_t n = std::min(kBlockBytes, bytes - begin);                                               \
        int32_t sums[kBlockBytes];                                                                           \
        for (size_t b = 0; b < n; ++b) sums[b] = int32_t{1} << (kLanczosVerticalPassShift - 1);              \
        for (Long k = 0; k < count; ++k) {                                                                   \
            const uint8_t* in = rows[k] + begin;                                                             \
            const int32_t w = weights[k];                                                                    \
            for (size_t b = 0; b < n; ++b) sums[b] += w * in[b];                                             \
        }                                                                                                    \
        for (size_t b = 0; b < n; ++b)                                                                       \
            out[begin + b] = static_cast<int16_t>(std::clamp(                                                \
                sums[b] >> kLanczosVerticalPassShift, kLanczosBetweenLowest, kLanczosBetweenHighest));       \
    }

KX_VECTORISE void SumBlocksPlain(const uint8_t* const* rows, const int32_t* weights, Long count, size_t bytes,
                                 int16_t* out){KX_SUM_BLOCKS_BODY}

#if KX_HAVE_AVX2_PATH
KX_VECTORISE
    __attribute__((target("avx2"))) void SumBlocksAvx2(const uint8_t* const* rows, const int32_t* weights,
                                                       Long count, size_t bytes, int16_t* out)
{
    KX_SUM_BLOCKS_BODY
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
