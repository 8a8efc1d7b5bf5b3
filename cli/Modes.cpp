#include "Modes.h"

#include <map>

#include "modImageInfo.h"

namespace kx::cli {

void AddModeOptions(CLI::App* command, ResampleModes& modes, bool shrinkOnly)
{
    command->add_flag("--classic", modes.classic,
                      "Folvane's bytes: the exact sampler and whole-percent proportions");
    const std::map<std::string, int32_t> filters{{"exact", KESTRIX_FILTER_EXACT},
                                                 {"lanczos", KESTRIX_FILTER_LANCZOS}};
    command->add_option("--filter", modes.filter, "Resample filter: lanczos (default) or exact (--classic)")
        ->transform(CLI::CheckedTransformer(filters, CLI::ignore_case).description(""))
        ->type_name("exact|lanczos");
    if (shrinkOnly) command->add_flag("--shrink-only", modes.shrinkOnly, "Never enlarge a picture");
}

void ApplyModes(cKestrix* engine, const ResampleModes& modes)
{
    const int32_t filter =
        modes.filter >= 0 ? modes.filter : (modes.classic ? KESTRIX_FILTER_EXACT : KESTRIX_FILTER_LANCZOS);
    cKestrix_SetResampleFilter(engine, filter);
    cKestrix_SetTrueProportions(engine, modes.classic ? KESTRIX_FALSE : KESTRIX_TRUE);
    cKestrix_SetJpegCoding(engine, modes.classic ? KESTRIX_JPEG_CLASSIC : KESTRIX_JPEG_MODERN);
}

bool HeaderGivesSize(const std::string& input)
{
    const ImageInfo info = GetImageInfo(input);
    return info.Width > 0 && info.Height > 0;
}

}  // namespace kx::cli
