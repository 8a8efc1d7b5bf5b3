// The file formats by the names and extensions users see: which pictures a
// folder run over every format takes, and how output formats are named on the
// command line and in output file names.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kx {

// The text with A to Z turned to a to z: extensions are compared and shown so.
std::string LowerCaseAscii(std::string_view text);

// Output formats by number: the C interface's KestrixFormat values.
inline constexpr int kFormatJpeg = 0;
inline constexpr int kFormatPng = 1;
inline constexpr int kFormatWebp = 2;
inline constexpr int kFormatAvif = 3;

// The output format a user names: "jpeg" (or "jpg"), "png", "webp" or
// "avif", in any case. Nothing for any other text.
std::optional<int> OutputFormatNamed(std::string_view name);

// The extension an output file of the format gets, with its dot: ".jpg",
// ".png", ".webp", ".avif". Empty for a number that is no format.
std::string_view OutputFormatExtension(int format);

// The format's name in messages: "JPEG", "PNG", "WebP", "AVIF"; "JPEG" for
// a number that is no format.
std::string_view OutputFormatTitle(int format);

// True when a folder run takes a file with this extension (given without its
// dot, any case): classically jpg, bmp and gif; over every format also png,
// jpeg, jpe, webp, heic, heif, avif, tif and tiff.
bool TakenClassically(std::string_view extension);
bool TakenWithAllFormats(std::string_view extension);

}  // namespace kx
