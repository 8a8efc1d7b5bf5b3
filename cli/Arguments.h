// Reading the tool's argument values: whole numbers, colours and the nine
// text places, each as a plain parser and as a CLI11 transformer that turns
// the user's spelling into plain decimal before CLI11 converts it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "kestrix.h"

namespace kx::cli {

// A decimal number ("12", "10.5") from `lowest` to `highest`; not "nan"
// or "inf".
std::optional<double> ParseDecimal(std::string_view text, double lowest, double highest);

// A decimal whole number ("-12", "640") from `lowest` to `highest`; nothing
// for other text, including "0x10", "1e3", " 5" and "+5".
std::optional<int64_t> ParseWholeNumber(std::string_view text, int64_t lowest, int64_t highest);

// The largest colour code: white.
constexpr int64_t kMaxColourCode = 0xFFFFFF;

// A colour as the engine's colour code 0x00BBGGRR (red in the low byte):
// "#RRGGBB" or "#RGB" (hex digits in either case), the code itself in hex
// ("0xBBGGRR") or decimal (0 to 16777215), or a common name in any case
// ("red", "white", ...). "#FF0000", "#F00", "0xFF", "255" and "red" all
// give 255.
std::optional<int32_t> ParseColour(std::string_view text);

// One of the nine places ("top-left" ... "bottom-right"), "centre", "top",
// "bottom", "left", "right" (the centre and the middles of the edges) or a
// compass name ("north-west" ... "south-east"); case, the separator ("-",
// "_", " " or none) and "center" for "centre" are free.
std::optional<TEXT_POSITION> ParsePlace(std::string_view text);

// The largest width or height the engine makes, and the largest
// percentage that could still give a picture within it.
constexpr int64_t kMaxSide = KESTRIX_MAX_SIDE;
constexpr int64_t kMaxPercent = KESTRIX_MAX_SIDE * int64_t{100};

// A width or height in pixels, 1 to kMaxSide; otherwise nothing, with
// `why` saying what is wrong ("'0' is below 1: ...", "... is too large: ...").
std::optional<int32_t> ParseSide(std::string_view text, std::string& why);
// A percentage above 0 and up to kMaxPercent ("50", "50%", "50.5"; whole
// ones from 1), the same way.
std::optional<double> ParsePercent(std::string_view text, std::string& why);
// "WIDTHxHEIGHT" ("1024x768", "X" too), each side as ParseSide and the whole
// within KESTRIX_MAX_PIXELS, the same way; one side may be left out ("640x",
// "x480"), which gives 0 for it.
std::optional<std::pair<int32_t, int32_t>> ParseBox(std::string_view text, std::string& why);
// A percentage in plain decimal, shortest form ("50", "50.5").
std::string PercentText(double percent);
// A box as ParseBox reads it back ("640x480", "640x", "x480").
std::string BoxText(int32_t width, int32_t height);

// A memory size: bytes ("1048576") or a number with a unit K, M, G or T
// (powers of 1024; "512M", "1.5G", "2GiB", any case), 1 byte to 1 PiB;
// otherwise nothing, with `why` saying what is wrong.
std::optional<int64_t> ParseMemorySize(std::string_view text, std::string& why);

// The output format an output file's name asks for: .jpg or .jpeg, .png,
// .webp, .avif (any case); nullopt for any other name.
std::optional<int32_t> FormatOfFileName(const std::string& path);

// The words a value of the kind `typeName` (an option's type name) may be
// written as, for shell completion: "FORMAT" the output formats, "PLACE" the
// nine places, "COLOUR" the colour names, "a|b" a and b. Empty for a free
// value (a number, a name, a file).
std::vector<std::string> ValueWords(std::string_view typeName);

// Transformers for CLI11 options of the matching integer type: a value they
// reject is a usage error naming the option.
CLI::Validator WholeNumber(int64_t lowest, int64_t highest);
CLI::Validator Decimal(double lowest, double highest);
CLI::Validator ColourCode();
// Sides, percentages and boxes as above, turned into plain decimal (a box
// stays "WIDTHxHEIGHT", BoxText).
CLI::Validator Side();
CLI::Validator Percent();
CLI::Validator Box();
CLI::Validator TextPlace();
// A memory size as ParseMemorySize, turned into bytes.
CLI::Validator MemorySize();
// "jpeg" (or "jpg"), "png", "webp" or "avif", any case: the KestrixFormat.
CLI::Validator OutputFormat();

}  // namespace kx::cli
