// The picture loader: reads a picture file of any format the engine decodes
// (JPEG, GIF, PNG, BMP, HEIF/HEIC, AVIF, WebP, TIFF; recognised by content,
// not by name) into a surface.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/files/PictureMetadata.h"
#include "engine/files/ShrinkOnLoad.h"
#include "engine/surface/AlphaPlane.h"
#include "engine/surface/cDIBSection.h"

namespace kx {

// Largest file the loader reads; larger ones are refused before reading.
inline constexpr int64_t kMaxPictureFileBytes = int64_t{1} << 30;

// Makes `surface` a live surface holding the picture in `path`. False, with
// the surface empty, when the file is missing, unreadable, not a picture the
// engine decodes, corrupt, or beyond the engine's size limits or memory
// limit. The memory the decode needs is reserved for this thread before
// anything of the picture's size is allocated (MemoryBudget.h), and held
// until the caller gives it back or the thread loads its next picture.
// The picture is turned upright from its orientation tag.
bool LoadPicture(const std::string& path, cDIBSection& surface);

// The same, also handing over what the file carries besides its pixels. With
// autoOrient the surface holds the picture upright and metadata.Orientation
// is 1; without, the pixels are as stored and metadata.Orientation is the
// file's tag. `metadata` is empty after a failure. A JPEG picture may come
// smaller than stored when a shrink target is given (see ShrinkOnLoad.h);
// other formats always come at their full size. Given `alpha`, a PNG, WebP,
// HEIF, TIFF or GIF picture with transparency keeps it there (and its colour
// unblended); the plane is empty for every other picture.
bool LoadPicture(const std::string& path, cDIBSection& surface, PictureMetadata& metadata, bool autoOrient,
                 const ShrinkTarget& target = {}, AlphaPlane* alpha = nullptr);

// What the decoders noted on this thread about pictures they still decoded
// (a truncated or slightly damaged JPEG stream: the part that decoded is
// kept), one note per line, each note once; "" when none since the last
// ClearDecodeWarnings.
const std::string& DecodeWarnings();
void NoteDecodeWarning(std::string_view text);
void ClearDecodeWarnings();

}  // namespace kx
