// Writers for the output formats beside JPEG: PNG, WebP and AVIF. Each
// encodes the whole surface in memory and then replaces the file at the path
// as the JPEG writer does (a temporary file beside it, renamed over it only
// when complete; a failure leaves the old file as it was).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/files/OutputFormat.h"
#include "engine/files/PictureMetadata.h"
#include "engine/surface/cDIBSection.h"

namespace kx {

class AlphaPlane;  // AlphaPlane.h

// The surface encoded as `format` (Png, Webp or Avif), with what `metadata`
// holds embedded: the colour profile (PNG iCCP, WebP ICCP, AVIF colr), the
// EXIF block from its TIFF header on (PNG eXIf, WebP EXIF, an AVIF Exif item)
// and the XMP packet (PNG iTXt "XML:com.adobe.xmp", WebP XMP, an AVIF mime
// item). An AVIF also gets irot/imir properties for an Orientation other than
// 1: viewers of AVIF and HEIF follow those, not the EXIF tag. `quality` is 1 to 100 and means:
//   Png:  nothing (PNG is lossless); still checked to be 1 to 100.
//   Webp: libwebp's lossy quality factor, the same number (4:2:0, method 4).
//   Avif: libheif's lossy quality for the AV1 encoder, the same number
//         (4:2:0; 100 is the best lossy quality, not lossless).
// Empty on any failure: a quality out of range, an empty surface, an encoder
// missing or failing, or the Jpeg format (written by WriteJpeg instead).
// Given an alpha plane of the surface's size, the output keeps it (RGBA).
std::vector<uint8_t> EncodeSurface(const cDIBSection& surface, OutputFormat format, Long quality,
                                   const PictureMetadata& metadata = {}, const AlphaPlane* alpha = nullptr);

// Encodes the surface and writes it to `path`, replacing a file already there
// as a new file (its permissions and times are not carried over). False,
// raising nothing, on any failure; the file at `path` is then untouched.
bool SaveSurfaceAs(const cDIBSection& surface, const std::string& path, Long quality, OutputFormat format,
                   const PictureMetadata& metadata = {}, const AlphaPlane* alpha = nullptr);

}  // namespace kx
