// The picture loader: reads a picture file of any format the engine decodes
// (JPEG, GIF, PNG, BMP, HEIF/HEIC, AVIF, WebP, TIFF; recognised by content,
// not by name) into a surface.
#pragma once

#include <cstdint>
#include <string>

#include "cDIBSection.h"

namespace kx {

// Largest file the loader reads; larger ones are refused before reading.
inline constexpr int64_t kMaxPictureFileBytes = int64_t{1} << 30;

// Makes `surface` a live surface holding the picture in `path`. False, with
// the surface empty, when the file is missing, unreadable, not a picture the
// engine decodes, corrupt, or beyond the engine's size limits.
bool LoadPicture(const std::string& path, cDIBSection& surface);

}  // namespace kx
