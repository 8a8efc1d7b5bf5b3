// Argument parsing shared by the sub-commands.
#include "Arguments.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <sstream>
#include <string>

#include "PictureFormats.h"

namespace kx::cli {

namespace {

constexpr std::array<std::string_view, 9> kPlaceNames = {
    "top-left",    "top-centre",    "top-right",    "middle-left", "middle-centre",
    "middle-right", "bottom-left", "bottom-centre", "bottom-right"};

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
    if (text.starts_with('#')) {
        if (text.size() != 7) return std::nullopt;
        const auto red = HexByte(text, 1);
        const auto green = HexByte(text, 3);
        const auto blue = HexByte(text, 5);
        if (!red || !green || !blue) return std::nullopt;
        // Red sits in the low byte of the engine's colour code.
        return *red | (*green << 8) | (*blue << 16);
    }
    const auto code = ParseWholeNumber(text, INT32_MIN, INT32_MAX);
    if (!code) return std::nullopt;
    return static_cast<int32_t>(*code);
}

std::optional<TEXT_POSITION> ParsePlace(std::string_view text)
{
    const std::string wanted = CanonicalPlace(text);
    for (size_t i = 0; i < kPlaceNames.size(); ++i) {
        if (CanonicalPlace(kPlaceNames[i]) == wanted) return static_cast<TEXT_POSITION>(i);
    }
    return std::nullopt;
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
            if (!code) return "'" + value + "' is not a colour: use #RRGGBB (hex) or a decimal colour code";
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
