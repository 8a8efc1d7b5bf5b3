#include "engine/surface/AlphaPlane.h"

#include <algorithm>
#include <utility>

#include "engine/surface/LanczosResample.h"

namespace kx {

bool AlphaPlane::Create(Long width, Long height)
{
    Clear();
    if (width <= 0 || height <= 0) return false;
    bytes_.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    width_ = width;
    height_ = height;
    return true;
}

void AlphaPlane::Clear()
{
    std::vector<uint8_t>().swap(bytes_);
    width_ = height_ = 0;
}

bool AlphaPlane::HasTransparency() const
{
    return std::any_of(bytes_.begin(), bytes_.end(), [](uint8_t a) { return a != 255; });
}

AlphaPlane ResampleAlpha(const AlphaPlane& alpha, Long width, Long height)
{
    AlphaPlane result;
    if (!alpha.IsLive() || !result.Create(width, height)) return result;
    const Long ws = alpha.Width(), hs = alpha.Height();
    if (ws == width && hs == height) {
        for (Long r = 0; r < hs; ++r) std::copy_n(alpha.Row(r), ws, result.Row(r));
        return result;
    }
    // The colour channels' arithmetic, one channel wide: the vertical pass
    // into 16-bit fixed point, then the horizontal pass to bytes.
    const LanczosAxis columns = LanczosWeights(ws, width);
    const LanczosAxis rows = LanczosWeights(hs, height);
    constexpr int kRowShift = kLanczosVerticalPassShift;
    constexpr int kColumnShift = 15 + kLanczosBetweenBits;
    std::vector<int32_t> sums(static_cast<size_t>(ws));
    std::vector<int16_t> between(static_cast<size_t>(ws));
    for (Long y = 0; y < height; ++y) {
        const int32_t* w = &rows.Weights[static_cast<size_t>(y) * rows.Stride];
        std::fill(sums.begin(), sums.end(), int32_t{1} << (kRowShift - 1));
        for (Long k = 0; k < rows.Count[y]; ++k) {
            const uint8_t* in = alpha.Row(rows.First[y] + k);
            for (Long x = 0; x < ws; ++x) sums[x] += w[k] * in[x];
        }
        for (Long x = 0; x < ws; ++x)
            between[x] = static_cast<int16_t>(
                std::clamp(sums[x] >> kRowShift, kLanczosBetweenLowest, kLanczosBetweenHighest));
        uint8_t* out = result.Row(y);
        for (Long x = 0; x < width; ++x) {
            const int32_t* cw = &columns.Weights[static_cast<size_t>(x) * columns.Stride];
            const int16_t* p = &between[static_cast<size_t>(columns.First[x])];
            int32_t sum = 1 << (kColumnShift - 1);
            for (Long k = 0; k < columns.Count[x]; ++k) sum += cw[k] * p[k];
            out[x] = static_cast<uint8_t>(std::clamp(sum >> kColumnShift, 0, 255));
        }
    }
    return result;
}

void PremultiplyRow(const uint8_t* bgr, const uint8_t* alpha, Long width, uint8_t* out)
{
    for (Long x = 0; x < width; ++x, bgr += 3, out += 3) {
        out[0] = Premultiplied(bgr[0], alpha[x]);
        out[1] = Premultiplied(bgr[1], alpha[x]);
        out[2] = Premultiplied(bgr[2], alpha[x]);
    }
}

void Unpremultiply(cDIBSection& surface, const AlphaPlane& alpha)
{
    // Premultiplied colour never exceeds its alpha; the filter's overshoot
    // may, and is cut back before the division.
    for (Long r = 0; r < surface.Height(); ++r) {
        uint8_t* p = surface.Row(r);
        const uint8_t* a = alpha.Row(r);
        for (Long x = 0; x < surface.Width(); ++x, p += 3) {
            const unsigned al = a[x];
            for (int c = 0; c < 3; ++c)
                p[c] = al == 0 ? 0 : static_cast<uint8_t>((std::min<unsigned>(p[c], al) * 255 + al / 2) / al);
        }
    }
}

AlphaPlane AlphaOfGrey(const cDIBSection& grey)
{
    AlphaPlane alpha;
    if (!grey.IsLive() || !alpha.Create(grey.Width(), grey.Height())) return alpha;
    for (Long r = 0; r < grey.Height(); ++r) {
        const uint8_t* in = grey.Row(r);
        uint8_t* out = alpha.Row(r);
        for (Long x = 0; x < grey.Width(); ++x) out[x] = in[3 * x];
    }
    return alpha;
}

bool ResampleWithAlpha(cDIBSection& surface, AlphaPlane& alpha, Long width, Long height)
{
    if (!surface.IsLive() || !alpha.IsLive() || alpha.Width() != surface.Width() ||
        alpha.Height() != surface.Height())
        return false;
    for (Long r = 0; r < surface.Height(); ++r)
        PremultiplyRow(surface.Row(r), alpha.Row(r), surface.Width(), surface.Row(r));
    std::unique_ptr<cDIBSection> resampled = ResampleLanczos(surface, width, height);
    AlphaPlane reduced = ResampleAlpha(alpha, width, height);
    if (!resampled || !reduced.IsLive()) {
        surface.ClearUp();
        alpha.Clear();
        return false;
    }
    Unpremultiply(*resampled, reduced);
    surface = std::move(*resampled);
    alpha = std::move(reduced);
    return true;
}

void FlattenOnto(cDIBSection& surface, const AlphaPlane& alpha, Byte red, Byte green, Byte blue)
{
    if (!surface.IsLive() || alpha.Width() != surface.Width() || alpha.Height() != surface.Height()) return;
    for (Long r = 0; r < surface.Height(); ++r) {
        uint8_t* p = surface.Row(r);
        const uint8_t* a = alpha.Row(r);
        for (Long x = 0; x < surface.Width(); ++x, p += 3) {
            p[0] = Over(p[0], a[x], blue);
            p[1] = Over(p[1], a[x], green);
            p[2] = Over(p[2], a[x], red);
        }
    }
}

void TurnAlphaUpright(AlphaPlane& alpha, int orientation)
{
    if (orientation < 2 || orientation > 8 || !alpha.IsLive()) return;
    const Long w = alpha.Width(), h = alpha.Height();
    const bool quarter = orientation >= 5;
    AlphaPlane upright;
    upright.Create(quarter ? h : w, quarter ? w : h);
    // Where stored pixel (x, y) of the picture lands, as UprightPlacer moves it.
    for (Long y = 0; y < h; ++y) {
        const uint8_t* in = alpha.PictureRow(y);
        for (Long x = 0; x < w; ++x) {
            if (!quarter) {
                const bool flip = orientation == 3 || orientation == 4;
                const bool mirror = orientation == 2 || orientation == 3;
                upright.PictureRow(flip ? h - 1 - y : y)[mirror ? w - 1 - x : x] = in[x];
            } else {
                const bool rowsFromRight = orientation == 7 || orientation == 8;
                const bool columnsReversed = orientation == 6 || orientation == 7;
                upright.PictureRow(rowsFromRight ? w - 1 - x : x)[columnsReversed ? h - 1 - y : y] = in[x];
            }
        }
    }
    alpha = std::move(upright);
}

AlphaPlane CropAlpha(const AlphaPlane& source, Long left, Long top, Long width, Long height)
{
    AlphaPlane crop;
    if (!crop.Create(width, height)) return crop;
    for (Long y = 0; y < height; ++y) {
        const Long sy = top + y;
        if (sy < 0 || sy >= source.Height()) continue;
        for (Long x = 0; x < width; ++x) {
            const Long sx = left + x;
            if (sx >= 0 && sx < source.Width()) crop.PictureRow(y)[x] = source.PictureRow(sy)[sx];
        }
    }
    return crop;
}

}  // namespace kx
