// Resampling: separable bilinear interpolation over a 2 x 2 neighbourhood,
// two passes with a rounding after each, on memory rows counted from the
// bottom of the picture.
//
// Scale factors and sampling positions are single precision; products and
// sums are double precision; both passes round halves to even. The vertical
// pass for source pixel p of a destination row does not depend on the
// destination column, so it is done once per needed source column and row,
// and the horizontal pass reads it from there: the same arithmetic on the
// same operands, so the same bytes as a pixel-by-pixel evaluation.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/surface/ResamplePaths.h"
#include "engine/surface/cDIBSection.h"

namespace kx {

namespace {

// Rounds halves to even for |v| < 2^51: adding 1.5 * 2^52 leaves no fraction
// bits, so the addition itself rounds (to nearest, ties to even).
inline double RoundEven(double v)
{
    constexpr double kMagic = 6755399441055744.0;  // 1.5 * 2^52
    // Strict IEEE evaluation (no -ffast-math) keeps this from being folded.
    return (v + kMagic) - kMagic;
}

inline uint8_t ClampToByte(double v)
{
    if (v <= 0.0) return 0;
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(v);
}

// One sampling position: the whole part and the two weights.
struct Tap {
    Long index;
    double weightNear;  // 1 - fraction
    double weightFar;   // fraction
};

// Position of destination index i: the single-precision product of the
// single-precision scale and i, split into its floor and fraction.
inline Tap TapAt(float scale, Long i)
{
    const float position = static_cast<float>(static_cast<double>(scale) * i);
    const float whole = std::floor(position);
    const float fraction = position - whole;
    return {static_cast<Long>(whole), 1.0 - static_cast<double>(fraction), static_cast<double>(fraction)};
}

}  // namespace

std::unique_ptr<cDIBSection> cDIBSection::Resample(Long lNewHeight, Long lNewWidth) const
{
    auto result = std::make_unique<cDIBSection>();
    if (!result->Create(lNewWidth, lNewHeight)) return nullptr;
    if (lNewWidth == Width() && lNewHeight == Height()) {
        result->LoadPictureBlt(const_cast<cDIBSection*>(this), 0, 0, -1, -1, SRCCOPY);
        return result;
    }
    ResampleInto(*result);  // an error here releases the new surface
    return result;
}

namespace {

// A run of consecutive source columns that the horizontal pass reads.
struct ColumnRun {
    Long first;  // first source column
    Long last;   // last source column, inclusive
};

// One destination row's work: the two source rows with their weights, the
// vertical results by source byte, and the destination row.
struct RowWork {
    const uint8_t* near;
    const uint8_t* far;
    double w0, w1;
    double* vertical;
    const std::vector<ColumnRun>* runs;
    const Tap* columns;
    Long width;
    uint8_t* out;
};

void VerticalPassScalar(const RowWork& r, size_t begin, size_t end)
{
    for (size_t i = begin; i < end; ++i) r.vertical[i] = RoundEven(r.w0 * r.near[i] + r.w1 * r.far[i]);
}

void HorizontalPixelScalar(const RowWork& r, Long x)
{
    const Tap& t = r.columns[x];
    const double* a = &r.vertical[3 * static_cast<size_t>(t.index)];
    const double* b = a + 3;
    for (size_t c = 0; c < 3; ++c)
        r.out[3 * x + c] = ClampToByte(RoundEven(t.weightNear * a[c] + t.weightFar * b[c]));
}

void ResampleRowScalar(const RowWork& r)
{
    for (const ColumnRun& run : *r.runs)
        VerticalPassScalar(r, 3 * size_t(run.first), 3 * size_t(run.last) + 3);
    for (Long x = 0; x < r.width; ++x) HorizontalPixelScalar(r, x);
}

#if KX_HAVE_AVX2_PATH
// The same arithmetic four lanes at a time: the same IEEE operations on the
// same operands (multiplications and additions kept apart, no fused
// multiply-add), so the same bytes.
__attribute__((target("avx2"))) void ResampleRowAvx2(const RowWork& r)
{
    const __m256d magic = _mm256_set1_pd(6755399441055744.0);
    const __m256d w0 = _mm256_set1_pd(r.w0), w1 = _mm256_set1_pd(r.w1);
    for (const ColumnRun& run : *r.runs) {
        size_t i = 3 * size_t(run.first);
        const size_t end = 3 * size_t(run.last) + 3;
        for (; i + 4 <= end; i += 4) {
            int32_t nearBytes, farBytes;
            std::memcpy(&nearBytes, r.near + i, 4);
            std::memcpy(&farBytes, r.far + i, 4);
            const __m256d n = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(nearBytes)));
            const __m256d f = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(farBytes)));
            const __m256d v = _mm256_add_pd(_mm256_mul_pd(w0, n), _mm256_mul_pd(w1, f));
            _mm256_storeu_pd(r.vertical + i, _mm256_sub_pd(_mm256_add_pd(v, magic), magic));
        }
        VerticalPassScalar(r, i, end);
    }
    // Each pixel is computed as four lanes (its three channels and the next
    // pixel's blue) and stored as four bytes; the fourth is written again by
    // the next pixel. The last pixel is done alone so that nothing lands
    // behind the row's last pixel.
    for (Long x = 0; x + 1 < r.width; ++x) {
        const Tap& t = r.columns[x];
        const double* a = &r.vertical[3 * static_cast<size_t>(t.index)];
        const __m256d va = _mm256_loadu_pd(a), vb = _mm256_loadu_pd(a + 3);
        const __m256d v = _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(t.weightNear), va),
                                        _mm256_mul_pd(_mm256_set1_pd(t.weightFar), vb));
        const __m128i whole = _mm256_cvtpd_epi32(_mm256_sub_pd(_mm256_add_pd(v, magic), magic));
        const __m128i bytes = _mm_packus_epi16(_mm_packus_epi32(whole, whole), whole);
        const int32_t four = _mm_cvtsi128_si32(bytes);
        std::memcpy(r.out + 3 * static_cast<size_t>(x), &four, 4);
    }
    if (r.width > 0) HorizontalPixelScalar(r, r.width - 1);
}

#endif

std::atomic<bool> forcePlain{false};

bool CpuHasAvx2()
{
#if KX_HAVE_AVX2_PATH
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
#else
    return false;
#endif
}

}  // namespace

void ForcePlainResample(bool plain) { forcePlain = plain; }

bool ResampleUsesAvx2() { return !forcePlain && CpuHasAvx2(); }

void cDIBSection::ResampleInto(cDIBSection& destination) const
{
    const Long ws = Width(), hs = Height();
    const Long wd = destination.Width(), hd = destination.Height();
    if (!IsLive() || !destination.IsLive()) Raise(errSubscript);

    const float sx = static_cast<float>(static_cast<double>(ws - 1) / wd);
    const float sy = static_cast<float>(static_cast<double>(hs - 1) / hd);
    const int64_t sourceStride = BytesPerScanLine();

    // Per destination column: the tap, and which source columns the
    // vertical pass must produce. Pixel p + 1 is read as bytes 3p + 3..3p + 5
    // of the row, which must lie inside the row (they may be row-end bytes).
    std::vector<Tap> columns(static_cast<size_t>(wd));
    std::vector<uint8_t> needed(static_cast<size_t>(ws) + 1, 0);
    for (Long x = 0; x < wd; ++x) {
        const Tap t = TapAt(sx, x);
        if (t.index < 0 || 3 * int64_t{t.index} + 5 >= sourceStride) Raise(errSubscript);
        columns[static_cast<size_t>(x)] = t;
        needed[static_cast<size_t>(t.index)] = 1;
        needed[static_cast<size_t>(t.index) + 1] = 1;
    }
    std::vector<ColumnRun> runs;
    for (Long p = 0; p <= ws; ++p) {
        if (!needed[static_cast<size_t>(p)]) continue;
        if (!runs.empty() && runs.back().last + 1 == p)
            runs.back().last = p;
        else
            runs.push_back({p, p});
    }

    // Vertical results of the current destination row, by source byte, with
    // room for the four-lane reads past the last needed pixel.
    std::vector<double> vertical(3 * (static_cast<size_t>(ws) + 1) + 4, 0.0);
    const bool avx2 = ResampleUsesAvx2();

    for (Long y = 0; y < hd; ++y) {
        const Tap ty = TapAt(sy, y);
        if (ty.index < 0 || ty.index + 1 >= hs) Raise(errSubscript);
        const RowWork work{Row(ty.index),     Row(ty.index + 1),
                           ty.weightNear,     ty.weightFar,
                           vertical.data(),   &runs,
                           columns.data(),    wd,
                           destination.Row(y)};
#if KX_HAVE_AVX2_PATH
        if (avx2) {
            ResampleRowAvx2(work);
            continue;
        }
#endif
        ResampleRowScalar(work);
    }
}

}  // namespace kx
