#include "engine/operations/Proportions.h"

#include <algorithm>

namespace kx {

Long ProportionalSide(Long from, Long to, Long of)
{
    // Whole numbers throughout: the 64-bit product is divided once and the
    // quotient rounded from its remainder, halves to even.
    const int64_t product = int64_t{from} * to;
    const int64_t whole = product / of, remainder = product % of;
    int64_t rounded = whole;
    if (2 * remainder > of || (2 * remainder == of && (whole % 2) != 0)) rounded = whole + 1;
    return CheckedCast<Long>(std::max<int64_t>(rounded, 1));
}

PictureSize ScaledToWidth(PictureSize source, Long width)
{
    return {width, ProportionalSide(source.Height, width, source.Width)};
}

PictureSize ScaledToHeight(PictureSize source, Long height)
{
    return {ProportionalSide(source.Width, height, source.Height), height};
}

PictureSize FittedWithin(PictureSize source, Long width, Long height)
{
    if (source.Width <= width && source.Height <= height) return source;
    // width / w0 <= height / h0: the width binds.
    if (int64_t{width} * source.Height <= int64_t{height} * source.Width) return ScaledToWidth(source, width);
    return ScaledToHeight(source, height);
}

PictureSize CoveringBox(PictureSize source, Long width, Long height)
{
    // width / w0 >= height / h0: the width needs the larger scale.
    if (int64_t{width} * source.Height >= int64_t{height} * source.Width) {
        const PictureSize s = ScaledToWidth(source, width);
        return {s.Width, std::max(s.Height, height)};
    }
    const PictureSize s = ScaledToHeight(source, height);
    return {std::max(s.Width, width), s.Height};
}

PictureSize CentreCropOffset(PictureSize covering, Long width, Long height)
{
    return {(covering.Width - width) / 2, (covering.Height - height) / 2};
}

}  // namespace kx
