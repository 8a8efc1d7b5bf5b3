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
#include <cmath>
#include <vector>

#include "cDIBSection.h"

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
    return {static_cast<Long>(whole), 1.0 - static_cast<double>(fraction),
            static_cast<double>(fraction)};
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
    std::vector<Long> neededColumns;
    for (Long p = 0; p <= ws; ++p)
        if (needed[static_cast<size_t>(p)]) neededColumns.push_back(p);

    // Vertical results of the current destination row, by source pixel.
    std::vector<double> vertical(3 * (static_cast<size_t>(ws) + 1), 0.0);

    for (Long y = 0; y < hd; ++y) {
        const Tap ty = TapAt(sy, y);
        if (ty.index < 0 || ty.index + 1 >= hs) Raise(errSubscript);
        const uint8_t* near = Row(ty.index);
        const uint8_t* far = Row(ty.index + 1);
        const double w0 = ty.weightNear, w1 = ty.weightFar;

        for (Long p : neededColumns) {
            const size_t b = 3 * static_cast<size_t>(p);
            for (size_t c = 0; c < 3; ++c)
                vertical[b + c] = RoundEven(w0 * near[b + c] + w1 * far[b + c]);
        }

        uint8_t* out = destination.Row(y);
        for (Long x = 0; x < wd; ++x) {
            const Tap& t = columns[static_cast<size_t>(x)];
            const double* a = &vertical[3 * static_cast<size_t>(t.index)];
            const double* b = a + 3;
            for (size_t c = 0; c < 3; ++c)
                out[3 * x + c] = ClampToByte(RoundEven(t.weightNear * a[c] + t.weightFar * b[c]));
        }
    }
}

}  // namespace kx
