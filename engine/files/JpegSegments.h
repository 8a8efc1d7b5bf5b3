// The marker segments of a JPEG file that carry what a picture holds besides
// its pixels: EXIF (APP1 "Exif\0\0"), XMP (APP1 with the XMP namespace) and
// the ICC colour profile (APP2 "ICC_PROFILE\0" chunks).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/files/PictureMetadata.h"

namespace kx {

// Collects the first EXIF block (from its TIFF header on), the first XMP
// packet and the ICC profile from the segments between the start of image
// (at offset 0) and the first frame header, walking them as the header probe
// does. The profile's chunks may come in any order; a gap, a duplicate or
// disagreeing counts leave it empty. Orientation is not read here (see
// MetadataTransfer.h). Never reads outside `file`.
PictureMetadata ReadJpegSegments(std::span<const uint8_t> file);

// The segments that write `metadata` into a JPEG file, to follow its JFIF
// segment: EXIF, then XMP, then the profile in as many APP2 chunks of at most
// 65,519 bytes as it needs. A part that cannot fit (EXIF or XMP beyond one
// segment, a profile beyond 255 chunks) is left out. Empty when there is
// nothing to write.
std::vector<uint8_t> JpegMetadataSegments(const PictureMetadata& metadata);

// Largest profile part of one APP2 segment.
inline constexpr size_t kIccChunkBytes = 65519;

}  // namespace kx
