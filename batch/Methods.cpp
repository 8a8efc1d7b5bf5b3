#include "batch/Methods.h"

#include "common/modImageInfo.h"

namespace kx::batch {

std::string SummaryOf(Method method, const std::string& width, const std::string& height,
                      const std::string& percentage)
{
    std::string text;
    for (const char* c = SpecOf(method).Summary; *c != '\0'; ++c) {
        const bool field = c[0] == '%' && (c[1] == 'W' || c[1] == 'H' || c[1] == 'P');
        if (!field) {
            text += *c;
            continue;
        }
        ++c;
        text += *c == 'W' ? width : *c == 'H' ? height : percentage;
    }
    return text;
}

bool KeepsOwnSize(Method method, const std::string& in, const Sizes& sizes)
{
    if (!SpecOf(method).CanEnlarge) return false;
    if (method == Method::Percent) return sizes.Percentage > 100 || sizes.DecimalPercentage > 100;
    const int32_t requested = method == Method::MaxWidth ? sizes.Width : sizes.Height;
    if (requested <= 0) return false;  // the engine reports the size
    const ImageInfo info = GetImageInfo(in);
    const int32_t side = method == Method::MaxWidth ? info.Width : info.Height;
    return side > 0 && side <= requested;
}

}  // namespace kx::batch
