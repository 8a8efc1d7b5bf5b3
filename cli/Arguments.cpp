// Argument parsing shared by the sub-commands.
#include "cli/Arguments.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <sstream>
#include <string>
#include <utility>

#include "common/PictureFormats.h"

namespace kx::cli {

namespace {

constexpr std::array<std::string_view, 9> kPlaceNames = {"top-left",    "top-centre",    "top-right",
                                                         "middle-left", "middle-centre", "middle-right",
                                                         "bottom-left", "bottom-centre", "bottom-right"};

// "Bottom_Center" -> "bottomcentre": the form the place names are compared in.
std::string CanonicalPlace(std::string_view text)
{
    std::string folded;
    for (char c : text) {
        if (c == '-' || c == '_' || c == ' ') continue;
        folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (const auto at = folded.find("center"); at != std::string::npos) folded.replace(at, 6, "centre");
    return folded;
}

std::optional<int> HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return std::nullopt;
}

// The byte written as two hex digits at text[at].
std::optional<int32_t> HexByte(std::string_view text, size_t at)
{
    const auto high = HexDigit(text[at]);
    const auto low = HexDigit(text[at + 1]);
    if (!high || !low) return std::nullopt;
    return *high * 16 + *low;
}

// The common colour names (as in CSS), with their red, green and blue.
struct ColourName {
    std::string_view name;
    int32_t red, green, blue;
};
constexpr ColourName kColourNames[] = {
    {"black", 0, 0, 0},      {"white", 255, 255, 255},  {"red", 255, 0, 0},       {"lime", 0, 255, 0},
    {"green", 0, 128, 0},    {"blue", 0, 0, 255},       {"yellow", 255, 255, 0},  {"cyan", 0, 255, 255},
    {"aqua", 0, 255, 255},   {"magenta", 255, 0, 255},  {"fuchsia", 255, 0, 255}, {"grey", 128, 128, 128},
    {"gray", 128, 128, 128}, {"silver", 192, 192, 192}, {"maroon", 128, 0, 0},    {"olive", 128, 128, 0},
    {"navy", 0, 0, 128},     {"purple", 128, 0, 128},   {"teal", 0, 128, 128},    {"orange", 255, 165, 0},
    {"pink", 255, 192, 203}, {"brown", 165, 42, 42},
};

// Other spellings of the places: one word for the middle of an edge or the
// centre, and the compass names.
constexpr std::pair<std::string_view, TEXT_POSITION> kPlaceAliases[] = {
    {"centre", MiddleCentre},   {"top", TopCentre},     {"bottom", BottomCentre},  {"left", MiddleLeft},
    {"right", MiddleRight},     {"northwest", TopLeft}, {"north", TopCentre},      {"northeast", TopRight},
    {"west", MiddleLeft},       {"east", MiddleRight},  {"southwest", BottomLeft}, {"south", BottomCentre},
    {"southeast", BottomRight},
};

std::string PlaceList()
{
    std::string list;
    for (const auto name : kPlaceNames) list += (list.empty() ? "" : ", ") + std::string(name);
    return list;
}

}  // namespace

std::optional<int64_t> ParseWholeNumber(std::string_view text, int64_t lowest, int64_t highest)
{
    int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    if (value < lowest || value > highest) return std::nullopt;
    return value;
}

std::optional<double> ParseDecimal(std::string_view text, double lowest, double highest)
{
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    if (!std::isfinite(value) || value < lowest || value > highest) return std::nullopt;
    return value;
}

std::optional<int32_t> ParseColour(std::string_view text)
{
    // Red sits in the low byte of the engine's colour code.
    const auto code = [](int32_t red, int32_t green, int32_t blue) {
        return red | (green << 8) | (blue << 16);
    };
    if (text.starts_with('#')) {
        if (text.size() == 4) {  // #RGB: each digit doubled
            const auto red = HexDigit(text[1]), green = HexDigit(text[2]), blue = HexDigit(text[3]);
            if (!red || !green || !blue) return std::nullopt;
            return code(*red * 17, *green * 17, *blue * 17);
        }
        if (text.size() != 7) return std::nullopt;
        const auto red = HexByte(text, 1);
        const auto green = HexByte(text, 3);
        const auto blue = HexByte(text, 5);
        if (!red || !green || !blue) return std::nullopt;
        return code(*red, *green, *blue);
    }
    if (text.starts_with("0x") || text.starts_with("0X")) {  // the code itself, 0xBBGGRR
        if (text.size() < 3 || text.size() > 10) return std::nullopt;
        int64_t value = 0;
        for (const char c : text.substr(2)) {
            const auto digit = HexDigit(c);
            if (!digit) return std::nullopt;
            value = value * 16 + *digit;
        }
        if (value > kMaxColourCode) return std::nullopt;
        return static_cast<int32_t>(value);
    }
    if (const auto decimal = ParseWholeNumber(text, 0, kMaxColourCode)) return static_cast<int32_t>(*decimal);
    std::string name;
    for (const char c : text) name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& [known, red, green, blue] : kColourNames)
        if (name == known) return code(red, green, blue);
    return std::nullopt;
}

std::optional<TEXT_POSITION> ParsePlace(std::string_view text)
{
    const std::string wanted = CanonicalPlace(text);
    for (size_t i = 0; i < kPlaceNames.size(); ++i) {
        if (CanonicalPlace(kPlaceNames[i]) == wanted) return static_cast<TEXT_POSITION>(i);
    }
    for (const auto& [alias, place] : kPlaceAliases)
        if (alias == wanted) return place;
    return std::nullopt;
}

namespace {

// A whole number from 1 to `highest` of `unit`s.
std::optional<int64_t> ParsePositive(std::string_view text, int64_t highest, const std::string& unit,
                                     std::string& why)
{
    const std::string quoted = "'" + std::string(text) + "'";
    const auto number = ParseWholeNumber(text, INT64_MIN, INT64_MAX);
    if (!number) {
        why = quoted + " is not a whole number from 1 to " + std::to_string(highest);
        return std::nullopt;
    }
    if (*number < 1) {
        why = quoted + " is below 1: the smallest is 1 " + unit;
        return std::nullopt;
    }
    if (*number > highest) {
        why = quoted + " is too large: at most " + std::to_string(highest) + " " + unit + "s";
        return std::nullopt;
    }
    return number;
}

// A validator from a parser that explains its refusals.
template <typename Parse, typename Format>
CLI::Validator Explaining(Parse parse, Format format)
{
    return CLI::Validator(
        [parse, format](std::string& value) -> std::string {
            std::string why;
            const auto parsed = parse(value, why);
            if (!parsed) return why;
            value = format(*parsed);
            return {};
        },
        "");
}

}  // namespace

std::optional<int32_t> ParseSide(std::string_view text, std::string& why)
{
    const auto side = ParsePositive(text, kMaxSide, "pixel", why);
    if (!side) return std::nullopt;
    return static_cast<int32_t>(*side);
}

std::optional<double> ParsePercent(std::string_view text, std::string& why)
{
    if (text.ends_with('%')) text.remove_suffix(1);
    if (text.find('.') != std::string_view::npos) {
        // A share with decimals ("50.5"): sized exactly in the modern mode.
        const auto share = ParseDecimal(text, 0, static_cast<double>(kMaxPercent));
        if (share && *share > 0) return share;
        why = "'" + std::string(text) + "' is not a percentage from 1 to " + std::to_string(kMaxPercent);
        return std::nullopt;
    }
    const auto percent = ParsePositive(text, kMaxPercent, "percent", why);
    if (!percent) return std::nullopt;
    return static_cast<double>(*percent);
}

std::optional<std::pair<int32_t, int32_t>> ParseBox(std::string_view text, std::string& why)
{
    const std::string quoted = "'" + std::string(text) + "'";
    const size_t cross = text.find_first_of("xX");
    if (cross == std::string_view::npos || text.size() == 1) {
        why = quoted + " is not a size: use WIDTHxHEIGHT, e.g. 1024x768 (or 640x, x480)";
        return std::nullopt;
    }
    // "640x" and "x480": the other side follows the proportions (0).
    std::string sideWhy;
    const auto width = cross == 0 ? std::optional<int32_t>(0) : ParseSide(text.substr(0, cross), sideWhy);
    if (!width) {
        why = quoted + ": the width " + sideWhy;
        return std::nullopt;
    }
    const auto height =
        cross + 1 == text.size() ? std::optional<int32_t>(0) : ParseSide(text.substr(cross + 1), sideWhy);
    if (!height) {
        why = quoted + ": the height " + sideWhy;
        return std::nullopt;
    }
    // The engine's rows of 3 bytes a pixel, padded to 4 bytes, fit in 2^31 - 1 bytes.
    if (((int64_t{*width} * 3 + 3) & ~int64_t{3}) * *height > INT32_MAX) {
        why = quoted + " is too large: at most " + std::to_string(KESTRIX_MAX_PIXELS) + " pixels in all";
        return std::nullopt;
    }
    return std::pair{*width, *height};
}

std::optional<int64_t> ParseMemorySize(std::string_view text, std::string& why)
{
    constexpr double kMost = double(int64_t{1} << 50);
    const std::string quoted = "'" + std::string(text) + "'";
    std::string_view number = text;
    std::string unit;
    while (!number.empty() && std::isalpha(static_cast<unsigned char>(number.back()))) {
        unit.insert(unit.begin(), static_cast<char>(std::toupper(static_cast<unsigned char>(number.back()))));
        number.remove_suffix(1);
    }
    if (unit.size() > 1 && (unit.ends_with("IB") || unit.ends_with("B")))
        unit.resize(unit.size() - (unit.ends_with("IB") ? 2 : 1));
    static constexpr std::string_view kUnits = "KMGT";
    const size_t power = unit.empty() ? 0 : kUnits.find(unit) + 1;
    const auto value = ParseDecimal(number, 0, kMost);
    if (unit.size() > 1 || (!unit.empty() && power == 0) || !value ||
        (unit.empty() && !ParseWholeNumber(number, 0, INT64_MAX))) {
        why = quoted + " is not a memory size: use bytes or a number with K, M, G or T, e.g. 512M or 1.5G";
        return std::nullopt;
    }
    const double bytes = std::floor(*value * std::pow(1024.0, static_cast<double>(power)));
    if (bytes < 1 || bytes > kMost) {
        why = quoted + (bytes < 1 ? " is below 1 byte" : " is too large: at most 1 PiB");
        return std::nullopt;
    }
    return static_cast<int64_t>(bytes);
}

std::string PercentText(double percent)
{
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, percent);
    return error == std::errc() ? std::string(text, end) : std::to_string(percent);
}

std::string BoxText(int32_t width, int32_t height)
{
    return (width ? std::to_string(width) : "") + "x" + (height ? std::to_string(height) : "");
}

std::optional<int32_t> FormatOfFileName(const std::string& path)
{
    const size_t dot = path.rfind('.');
    std::string extension = dot == std::string::npos ? "" : path.substr(dot);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".jpg" || extension == ".jpeg") return KESTRIX_FORMAT_JPEG;
    if (extension == ".png") return KESTRIX_FORMAT_PNG;
    if (extension == ".webp") return KESTRIX_FORMAT_WEBP;
    if (extension == ".avif") return KESTRIX_FORMAT_AVIF;
    return std::nullopt;
}

CLI::Validator Side()
{
    return Explaining(ParseSide, [](int32_t side) { return std::to_string(side); });
}

CLI::Validator Percent() { return Explaining(ParsePercent, PercentText); }

CLI::Validator Box()
{
    return Explaining(ParseBox,
                      [](const std::pair<int32_t, int32_t>& box) { return BoxText(box.first, box.second); });
}

CLI::Validator MemorySize()
{
    return Explaining(ParseMemorySize, [](int64_t bytes) { return std::to_string(bytes); });
}

std::vector<std::string> ValueWords(std::string_view typeName)
{
    std::vector<std::string> words;
    if (typeName == "FORMAT") {
        for (const int format : {kFormatJpeg, kFormatPng, kFormatWebp, kFormatAvif})
            words.push_back(LowerCaseAscii(OutputFormatTitle(format)));
    } else if (typeName == "PLACE") {
        words.assign(kPlaceNames.begin(), kPlaceNames.end());
    } else if (typeName == "COLOUR") {
        for (const ColourName& colour : kColourNames) words.emplace_back(colour.name);
    } else if (typeName.find('|') != std::string_view::npos) {
        for (size_t start = 0, end = 0; end != std::string_view::npos; start = end + 1) {
            end = typeName.find('|', start);
            words.emplace_back(typeName.substr(start, end - start));
        }
    }
    return words;
}

CLI::Validator WholeNumber(int64_t lowest, int64_t highest)
{
    const std::string range = std::to_string(lowest) + " to " + std::to_string(highest);
    return CLI::Validator(
        [lowest, highest, range](std::string& value) -> std::string {
            const auto number = ParseWholeNumber(value, lowest, highest);
            if (!number) return "'" + value + "' is not a whole number from " + range;
            // Plain decimal: CLI11 itself would read "010" as octal.
            value = std::to_string(*number);
            return {};
        },
        "");
}

CLI::Validator Decimal(double lowest, double highest)
{
    std::ostringstream range;
    range << lowest << " to " << highest;
    return CLI::Validator(
        [lowest, highest, range = range.str()](std::string& value) -> std::string {
            if (!ParseDecimal(value, lowest, highest)) return "'" + value + "' is not a number from " + range;
            return {};
        },
        "");
}

CLI::Validator ColourCode()
{
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const auto code = ParseColour(value);
            if (!code)
                return "'" + value +
                       "' is not a colour: use #RRGGBB, #RGB, 0xBBGGRR, a decimal code or a name";
            value = std::to_string(*code);
            return {};
        },
        "");
}

CLI::Validator TextPlace()
{
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const auto place = ParsePlace(value);
            if (!place) return "'" + value + "' is not a place: use one of " + PlaceList();
            value = std::to_string(static_cast<int>(*place));
            return {};
        },
        "");
}

CLI::Validator OutputFormat()
{
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const auto format = kx::OutputFormatNamed(value);
            if (!format) return "'" + value + "' is not an output format: use jpeg, png, webp or avif";
            value = std::to_string(*format);
            return {};
        },
        "");
}

}  // namespace kx::cli
