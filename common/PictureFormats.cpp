#include "PictureFormats.h"

#include <array>
#include <cctype>
#include <string>

namespace kx {

namespace {

std::string LowerCaseAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

}  // namespace

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

bool TakenWithAllFormats(std::string_view extension)
{
    static constexpr std::array<std::string_view, 12> kExtensions = {
        "jpg", "bmp", "gif", "png", "jpeg", "jpe", "webp", "heic", "heif", "avif", "tif", "tiff"};
    const std::string lower = LowerCaseAscii(extension);
    for (std::string_view taken : kExtensions)
        if (lower == taken) return true;
    return false;
}

}  // namespace kx
