// The versions of the libraries the engine decodes and encodes with, read
// from the libraries themselves where they tell it, for --version.
#include "cli/Versions.h"

#include <gif_lib.h>
#include <jconfig.h>
#include <libheif/heif.h>
#include <png.h>
#include <tiffio.h>
#include <webp/decode.h>

#include <string>

#include "kestrix.h"

namespace kx::cli {

namespace {

#define KX_TEXT(x) #x
#define KX_TEXT_OF(x) KX_TEXT(x)

// libtiff's "LIBTIFF, Version 4.5.0\nCopyright ...": the number.
std::string TiffVersion()
{
    const std::string text = TIFFGetVersion();
    const size_t at = text.find("Version ");
    if (at == std::string::npos) return "?";
    const size_t start = at + 8;
    return text.substr(start, text.find_first_of(" \n", start) - start);
}

// libwebp's 0xMMmmpp.
std::string WebpVersion()
{
    const int version = WebPGetDecoderVersion();
    return std::to_string(version >> 16) + "." + std::to_string((version >> 8) & 0xFF) + "." +
           std::to_string(version & 0xFF);
}

}  // namespace

std::string VersionText()
{
    // libjpeg-turbo and giflib tell their version only when built against.
    return "kestrix " + std::string(Kestrix_Version()) + " (engine " + Kestrix_Version() +
           ")\nlibjpeg-turbo " KX_TEXT_OF(LIBJPEG_TURBO_VERSION) ", libpng " + png_get_libpng_ver(nullptr) +
           ", giflib " KX_TEXT_OF(GIFLIB_MAJOR) "." KX_TEXT_OF(GIFLIB_MINOR) "." KX_TEXT_OF(
               GIFLIB_RELEASE) ", libwebp " +
           WebpVersion() + ", libheif " + heif_get_version() + ", libtiff " + TiffVersion();
}

}  // namespace kx::cli
