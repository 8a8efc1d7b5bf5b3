// Reading the tool's argument values: whole numbers, colours and the nine
// text places, each as a plain parser and as a CLI11 transformer that turns
// the user's spelling into plain decimal before CLI11 converts it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include <CLI/CLI.hpp>

#include "kestrix.h"

namespace kx::cli {

// A decimal number ("12", "10.5") from `lowest` to `highest`; not "nan"
// or "inf".
std::optional<double> ParseDecimal(std::string_view text, double lowest, double highest);

// A decimal whole number ("-12", "640") from `lowest` to `highest`; nothing
// for other text, including "0x10", "1e3", " 5" and "+5".
std::optional<int64_t> ParseWholeNumber(std::string_view text, int64_t lowest, int64_t highest);

// "#RRGGBB" (hex digits in either case) or a decimal colour code, as the
// engine's colour code 0x00BBGGRR: "#FF0000" gives 255, "#0000FF" 16711680.
// Decimal codes may be negative; the engine itself reports those.
std::optional<int32_t> ParseColour(std::string_view text);

// One of the nine places ("top-left" ... "bottom-right"); case, the
// separator ("-", "_", " " or none) and "center" for "centre" are free.
std::optional<TEXT_POSITION> ParsePlace(std::string_view text);

// Transformers for CLI11 options of the matching integer type: a value they
// reject is a usage error naming the option.
CLI::Validator WholeNumber(int64_t lowest, int64_t highest);
CLI::Validator Decimal(double lowest, double highest);
CLI::Validator ColourCode();
CLI::Validator TextPlace();
// "jpeg" (or "jpg"), "png", "webp" or "avif", any case: the KestrixFormat.
CLI::Validator OutputFormat();

}  // namespace kx::cli
