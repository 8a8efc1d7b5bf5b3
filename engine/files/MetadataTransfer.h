// Reading the EXIF record (through libexif) and deciding what of a read
// picture's metadata travels into the file written from it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/CheckedMath.h"
#include "engine/files/PictureMetadata.h"

namespace kx {

// The orientation entry of IFD0 of an EXIF block (from its TIFF header on):
// 1 to 8; 1 when the block or the entry is missing, unreadable, not one SHORT
// or out of range. The preview's orientation (IFD1) does not count.
int ExifOrientation(std::span<const uint8_t> exif);

// True for an ICC profile whose data colour space (header bytes 16 to 19) is
// "RGB ": the only kind that describes the engine's RGB output.
bool IsRgbProfile(std::span<const uint8_t> profile);

// What is written with a picture of width x height made from one read with
// `read` (whose Orientation is that of the pixels as handed over: 1 once
// they were turned upright):
// - the colour profile when it is an RGB one;
// - by default nothing else, except an EXIF block holding only the
//   orientation when the pixels are not upright, so that viewers still turn
//   them;
// - with keepMetadata, the EXIF block too, its orientation set to the
//   pixels', its preview picture removed and its pixel dimensions set to
//   width x height, and the XMP packet (its tiff:Orientation set to 1 when
//   the pixels are upright). An EXIF block that libexif cannot read, or
//   that no longer fits one JPEG segment, is left out.
PictureMetadata MetadataForOutput(const PictureMetadata& read, bool keepMetadata, Long width, Long height);

}  // namespace kx
