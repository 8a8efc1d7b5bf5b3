// What the whole-picture and the streaming PNG decoders share.
#pragma once

#include <png.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/CheckedMath.h"
#include "engine/files/PictureMetadata.h"

namespace kx {

// libpng's error handler: sets the failure reason from its message and jumps
// back to the guarded call. Its warnings are ignored.
[[noreturn]] void OnPngError(png_structp png, png_const_charp message);
void OnPngWarning(png_structp png, png_const_charp message);

// A row of grey and alpha (2 channels) or blue, green, red and alpha (4)
// over white, as BGR.
void PngRowOverWhite(const uint8_t* in, int channels, Long width, uint8_t* out);
// The same row split into BGR colour and alpha.
void PngRowSplit(const uint8_t* in, int channels, Long width, uint8_t* bgr, uint8_t* alpha);

// Sets up the transforms to 8-bit BGR (plus alpha, or grey plus alpha, when
// the picture has any) and gives the resulting row length; interlaced
// pictures are read in passes. False when libpng raised an error.
bool GuardedSetPngTransforms(png_structp png, png_infop info, bool* hasAlpha, size_t* rowBytes);

// XMP packets beyond this (inflated) are left out.
inline constexpr size_t kMaxPngXmpBytes = size_t{1} << 20;

// Text chunks are skipped unread, however much they claim to inflate to.
// With `xmp`, the first iTXt chunk keyworded "XML:com.adobe.xmp" is the
// exception: its packet, stored or compressed, up to kMaxPngXmpBytes and
// counted in the memory budget, goes to *xmp as libpng reads past it. Other
// ancillary chunks libpng does not know are dropped, as by default.
void SkipPngText(png_structp png, std::vector<uint8_t>* xmp);

// The profile (iCCP) and the EXIF block (eXIf) read with the header, and the
// orientation that block gives.
void ReadPngMetadata(png_structp png, png_infop info, PictureMetadata& metadata);

// Without an eXIf before the pixels, the one after them (LatePngExif in the
// file's last kPngTailBytes, `tail`), counted in the memory budget, and the
// orientation it gives.
void TakeLatePngExif(std::span<const uint8_t> tail, PictureMetadata& metadata);

}  // namespace kx
