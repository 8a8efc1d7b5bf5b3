#include "Modes.h"

#include <map>

#include "Arguments.h"
#include "PictureFormats.h"
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
    cKestrix_SetColourManagement(engine, modes.classic ? KESTRIX_FALSE : KESTRIX_TRUE);
}

bool HeaderGivesSize(const std::string& input)
{
    const ImageInfo info = GetImageInfo(input);
    return info.Width > 0 && info.Height > 0;
}

kx::batch::Method OneSided(kx::batch::Method method, int32_t width, int32_t height, bool& shrinkOnly)
{
    if (!kx::batch::SpecOf(method).TwoSides() || (width > 0 && height > 0)) return method;
    if (method == kx::batch::Method::Fit) shrinkOnly = true;
    return width > 0 ? kx::batch::Method::MaxWidth : kx::batch::Method::MaxHeight;
}

kx::batch::NameFields FieldsOf(const kx::batch::Job& job, kx::batch::Method asked)
{
    const auto side = [](int32_t value) { return value > 0 ? std::to_string(value) : std::string(); };
    const kx::batch::Sizes& sizes = job.sizes;
    if (job.method == kx::batch::Method::Percent) {
        const std::string percent =
            sizes.DecimalPercentage > 0 ? PercentText(sizes.DecimalPercentage) : side(sizes.Percentage);
        return {"percent", percent, percent};
    }
    const kx::batch::MethodSpec& row = kx::batch::SpecOf(job.method);
    return {kx::batch::SpecOf(asked).Name, row.UsesWidth ? side(sizes.Width) : "",
            row.UsesHeight ? side(sizes.Height) : ""};
}

std::string PatternOf(std::string pattern, int32_t& format)
{
    if (pattern.empty() || pattern.find('/') != std::string::npos)
        throw CLI::ValidationError("--name: '" + pattern + "' is not a file name pattern (no '/')");
    const std::optional<int32_t> named = FormatOfFileName(pattern);
    if (!named) return pattern;
    if (format >= 0 && format != *named)
        throw CLI::ValidationError("--name: '" + pattern + "' names another format than --format");
    format = *named;
    return pattern.substr(0, pattern.rfind('.'));
}

}  // namespace kx::cli
