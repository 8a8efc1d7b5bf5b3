#include "common/PictureFormats.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace kx {

std::string LowerCaseAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::optional<int> OutputFormatNamed(std::string_view name)
{
    const std::string lower = LowerCaseAscii(name);
    if (lower == "jpeg" || lower == "jpg") return kFormatJpeg;
    if (lower == "png") return kFormatPng;
    if (lower == "webp") return kFormatWebp;
    if (lower == "avif") return kFormatAvif;
    return std::nullopt;
}

std::string_view OutputFormatExtension(int format)
{
    switch (format) {
    case kFormatJpeg: return ".jpg";
    case kFormatPng: return ".png";
    case kFormatWebp: return ".webp";
    case kFormatAvif: return ".avif";
    default: return {};
    }
}

std::string_view OutputFormatTitle(int format)
{
    switch (format) {
    case kFormatPng: return "PNG";
    case kFormatWebp: return "WebP";
    case kFormatAvif: return "AVIF";
    default: return "JPEG";
    }
}

namespace {

// The classic three first.
constexpr std::array<std::string_view, 12> kTakenExtensions = {
    "jpg", "bmp", "gif", "png", "jpeg", "jpe", "webp", "heic", "heif", "avif", "tif", "tiff"};

bool TakenAmong(std::string_view extension, size_t count)
{
    const std::string lower = LowerCaseAscii(extension);
    return std::find(kTakenExtensions.begin(), kTakenExtensions.begin() + count, lower) !=
           kTakenExtensions.begin() + count;
}

}  // namespace

bool TakenClassically(std::string_view extension) { return TakenAmong(extension, 3); }

bool TakenWithAllFormats(std::string_view extension)
{
    return TakenAmong(extension, kTakenExtensions.size());
}

}  // namespace kx
