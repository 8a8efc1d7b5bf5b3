// Decoders for the formats of today's phones, web pages and scanners: HEIF
// (HEIC and AVIF), WebP and TIFF. Each works like those of PictureDecoders.h:
// the whole file's bytes in, a live 24-bit surface of the upright picture out,
// false (nothing raised) for anything it cannot decode or that is beyond the
// limits of DecodeLimits.h. What the file says besides its pixels (orientation
// still to apply, colour profile, EXIF, XMP) goes into `metadata` when given.
#pragma once

#include <cstdint>
#include <span>

#include "common/modImageInfo.h"
#include "engine/files/PictureMetadata.h"
#include "engine/surface/cDIBSection.h"

namespace kx {

class AlphaPlane;  // AlphaPlane.h

// Bytes no decoder of today's formats accepts as a picture of more than
// kAlwaysPlausiblePixels: AV1, HEVC and lossless WebP code a flat picture in a
// few hundred bytes for twelve megapixels (about 30,000 pixels a byte), and
// deflate- or fax-coded TIFF comes close; 65,536 pixels a byte still stops a
// tiny file from claiming the largest surface (that needs 11 KB at least).
inline constexpr int64_t kModernMaxPixelsPerByte = int64_t{1} << 16;

// The signatures (LooksLikeHeif, LooksLikeWebp, LooksLikeTiff) are the
// probe's, in modImageInfo.h.

// HEIF/HEIC and AVIF: the primary picture, with the container's rotation,
// mirroring and crop applied whatever the caller's wish (they are part of the
// picture, so metadata->Orientation is 1; an EXIF orientation inside is
// informative only and is not applied); alpha is
// blended onto white; 10- and 12-bit pictures are reduced to 8 bits. Its ICC
// profile goes to metadata->IccProfile, its EXIF block to metadata->Exif.
// Given a plane, a picture with alpha keeps it there, its colour as stored.
bool DecodeHeif(std::span<const uint8_t> file, cDIBSection& surface, PictureMetadata* metadata = nullptr,
                AlphaPlane* alpha = nullptr);

// WebP, lossy or lossless: a still picture, or the first frame of an animation
// on its canvas; alpha is blended onto white. ICCP, EXIF and XMP chunks go to
// `metadata`.
// Given a plane, a still picture with alpha keeps it there, its colour as
// stored.
bool DecodeWebp(std::span<const uint8_t> file, cDIBSection& surface, PictureMetadata* metadata = nullptr,
                AlphaPlane* alpha = nullptr);

// TIFF: the first page, 1 to 16 bits a sample, RGB, grey, palette, CMYK
// and YCbCr, any compression libtiff reads; alpha is blended onto white.
// With autoOrient the orientation tag (274) is applied as the pixels are
// copied to the surface and metadata->Orientation is 1; without, the pixels
// stay as stored and metadata->Orientation is the tag's value. Its ICC
// profile goes to metadata->IccProfile.
// Given a plane, a picture with alpha keeps it there, its colour as stored.
bool DecodeTiff(std::span<const uint8_t> file, cDIBSection& surface, PictureMetadata* metadata = nullptr,
                bool autoOrient = true, AlphaPlane* alpha = nullptr);

// The colour c (0-255) with alpha a (0-255) over white, rounded.
inline uint8_t OverWhite(unsigned c, unsigned a)
{
    return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

}  // namespace kx
