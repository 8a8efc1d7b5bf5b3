#include "StreamingLanczos.h"

#include <algorithm>

#include "ResamplePaths.h"

#if defined(__x86_64__) || defined(__i386__)
#define KX_HAVE_AVX2_PATH 1
#else
#define KX_HAVE_AVX2_PATH 0
#endif

namespace kx {

namespace {

// The output rows open at once at most: rows i .. j are all open when row i
// takes its last source row and row j has taken its first.
Long MostOpenRows(const LanczosAxis& axis)
{
    Long most = 1;
    const Long n = static_cast<Long>(axis.First.size());
    Long j = 0;
    for (Long i = 0; i < n; ++i) {
        const Long last = axis.First[i] + axis.Count[i] - 1;
        j = std::max(j, i);
        while (j + 1 < n && axis.First[j + 1] <= last) ++j;
        most = std::max(most, j - i + 1);
    }
    return most;
}

// sums[b] += weight * row[b]: whole numbers, so every path gives the same.
void AddWeightedPlain(int32_t* sums, const uint8_t* row, int32_t weight, size_t bytes)
{
    for (size_t b = 0; b < bytes; ++b) sums[b] += weight * row[b];
}

#if KX_HAVE_AVX2_PATH
__attribute__((target("avx2"))) void AddWeightedAvx2(int32_t* sums, const uint8_t* row, int32_t weight,
                                                     size_t bytes)
{
    for (size_t b = 0; b < bytes; ++b) sums[b] += weight * row[b];
}
#endif

}  // namespace

int64_t StreamingLanczos::WorkingBytes(Long sourceWidth, Long sourceHeight, Long targetWidth,
                                       Long targetHeight)
{
    const auto axisBytes = [](Long source, Long target) {
        const double filterScale = std::max(1.0, static_cast<double>(source) / target);
        const int64_t stride = static_cast<int64_t>(6 * filterScale) + 4;
        return int64_t{target} * (stride * 4 + 16);
    };
    const int64_t rowBytes = int64_t{3} * sourceWidth;
    // Open rows: at most the kernel's reach over the reduction, plus one.
    const double scale = static_cast<double>(sourceHeight) / targetHeight;
    const int64_t open =
        std::min<int64_t>(targetHeight, static_cast<int64_t>(6 + 6 / std::max(scale, 1.0)) + 2);
    return axisBytes(sourceWidth, targetWidth) + axisBytes(sourceHeight, targetHeight) + open * rowBytes * 4 +
           rowBytes * 3;
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
    slots_ = MostOpenRows(rows_);
    const size_t bytes = 3 * static_cast<size_t>(sourceWidth);
    sums_.assign(bytes * static_cast<size_t>(slots_), 0);
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
    const size_t bytes = 3 * static_cast<size_t>(sourceWidth_);
    const Long targetHeight = static_cast<Long>(rows_.First.size());
#if KX_HAVE_AVX2_PATH
    const bool avx2 = ResampleUsesAvx2();
#endif
    for (Long i = finished_; i < targetHeight && rows_.First[i] <= y; ++i) {
        const Long k = y - rows_.First[i];
        if (k >= rows_.Count[i]) continue;
        int32_t* sums = &sums_[static_cast<size_t>(i % slots_) * bytes];
        if (k == 0) std::fill(sums, sums + bytes, int32_t{1} << (kLanczosVerticalPassShift - 1));
        const int32_t weight = rows_.Weights[static_cast<size_t>(i) * rows_.Stride + k];
#if KX_HAVE_AVX2_PATH
        if (avx2)
            AddWeightedAvx2(sums, row, weight, bytes);
        else
#endif
            AddWeightedPlain(sums, row, weight, bytes);
        if (k + 1 == rows_.Count[i]) FinishRow(i);
    }
    while (finished_ < targetHeight && rows_.First[finished_] + rows_.Count[finished_] <= next_) ++finished_;
}

void StreamingLanczos::FinishRow(Long i)
{
    const size_t bytes = 3 * static_cast<size_t>(sourceWidth_);
    const int32_t* sums = &sums_[static_cast<size_t>(i % slots_) * bytes];
    for (size_t b = 0; b < bytes; ++b)
        between_[b] = static_cast<int16_t>(
            std::clamp(sums[b] >> kLanczosVerticalPassShift, kLanczosBetweenLowest, kLanczosBetweenHighest));
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
