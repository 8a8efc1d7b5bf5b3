// The engine's boundary between pixel surfaces and files: loading pictures,
// the resampling step, and writing surfaces as JPEG files.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "engine/files/PictureMetadata.h"
#include "engine/files/ShrinkOnLoad.h"
#include "engine/surface/cDIBSection.h"

namespace kx {

class AlphaPlane;  // AlphaPlane.h

// Source of the JPEG writer's run-time errors.
inline constexpr const char* kJpegWriterSource = "Kestrix.mIntelJPEGLibrary";

// Loads the picture file at `path` into `surface`. False, reporting nothing,
// when the file is missing, unreadable, corrupt or not a picture.
bool LoadPictureFile(cDIBSection& surface, const std::string& path);
// The same, handing over the picture's metadata; with autoOrient the picture
// is turned upright from its orientation tag, and a shrink target lets a
// JPEG picture decode smaller (see LoadPicture).
bool LoadPictureFile(cDIBSection& surface, const std::string& path, PictureMetadata& metadata,
                     bool autoOrient, const ShrinkTarget& target = {}, AlphaPlane* alpha = nullptr);

// Replaces `surface` by its resampled copy of lNewWidth x lNewHeight. When no
// new surface can be made (a zero size, say) the surface becomes a fresh,
// never-created one and the step still succeeds. False only when the
// resampler raised an error (a source 1 pixel wide or high).
bool ResampleSurface(cDIBSection& surface, Long lNewWidth, Long lNewHeight);

// Writes `surface` to `path` as a colour JPEG at lngQuality (1..100; other
// values fail). An ordinary file already at `path` is replaced without
// carrying over its permissions or times. False, reporting nothing, on any
// failure; the file at `path` is then left exactly as it was.
bool SaveSurfaceAsJpeg(cDIBSection& surface, const std::string& path, Long lngQuality);
// The same, writing `metadata` into the file exactly as given (EXIF, XMP,
// the ICC profile in chunks; see JpegMetadataSegments), right after the JFIF
// segment. Choosing what travels is the caller's part (MetadataForOutput).
// Empty metadata writes the same bytes as the call above.
// With modernCoding the picture is coded as the modern mode writes it: the
// accurate DCT, no chroma subsampling (4:4:4) from kFullChromaQuality up, and
// Huffman tables optimised for the picture at every quality (a smaller file
// of the same pixels). Without, 4:2:0 and the standard tables: the bytes the
// classic methods always wrote.
bool SaveSurfaceAsJpeg(cDIBSection& surface, const std::string& path, Long lngQuality,
                       const PictureMetadata& metadata, bool modernCoding = false);

// The quality from which the modern coding keeps every chroma sample.
inline constexpr Long kFullChromaQuality = 90;

// The JPEG writer. Replaces a file already at `path`, carrying its permission
// bits and access and modification times over to the new file. The new file
// is written beside the old one and renamed over it only when complete, so a
// failure never loses the old file. Returns true; raises RunTimeError 26001
// (source kJpegWriterSource) when encoding or writing fails, and 75 when the
// existing file is read-only (owner-write bit cleared), a folder or a
// dangling link. A link to a file, a FIFO or a device is written as
// FileReplacement.h says.
bool WriteJpeg(cDIBSection& surface, std::string path, Long quality);

// Writes already encoded bytes to `path` as SaveSurfaceAsJpeg writes a JPEG:
// through a temporary file and a rename, a file already there replaced as a
// new one, a read-only file or a folder refused. False, raising nothing, on
// any failure; the file at `path` is then untouched.
bool SaveEncodedFile(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace kx
