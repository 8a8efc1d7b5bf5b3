// Camera-photo fixtures: JPEG files with EXIF, XMP and ICC segments, and a reader of their segments.
#pragma once

#include <string>
#include <utility>

#include "tests/support/PictureBytes.h"
#include "tests/support/TestSupport.h"

namespace kxtest {

// A w x h picture whose every pixel differs from its neighbours and mirror images: a wrong turn shows.
Image AsymmetricPicture(int width, int height);

// The stored pixel that upright pixel (ux, uy) shows in a picture stored
// w x h with orientation tag 1 to 8 (any other value: as 1).
std::pair<int, int> StoredFor(int orientation, int ux, int uy, int w, int h);

Bytes JpegOf(const Image& image);  // quality 95, no chroma subsampling

// `jpeg` with `segments` (whole marker segments) inserted after its JFIF one.
Bytes WithSegments(const Bytes& jpeg, const Bytes& segments);

Bytes Segment(uint8_t code, const std::string& header, const Bytes& body);  // 0xFF, code, length, payload

// A TIFF block (EXIF from its TIFF header on) whose IFD0 holds one entry: tag 0x0112 of
// `type` and `count` with the 16-bit `value`, then `padding` unreferenced bytes.
Bytes OrientationTiff(uint16_t value, bool littleEndian, size_t padding = 0, uint16_t type = 3,
                      uint32_t count = 1);

// The APP2 "ICC_PROFILE" segments of `profile` in `chunks` parts, those numbered in `order` (from 1).
Bytes IccSegments(const Bytes& profile, int chunks, const std::vector<int>& order);

// A profile libpng accepts of `bytes` bytes (4n, at least 132) for `space` ("RGB ", "CMYK", "GRAY").
Bytes IccProfile(size_t bytes, const char* space);

// A w x h RGB PNG (every pixel 0x80 grey) with an iCCP chunk when `profile` is not empty.
Bytes RgbPng(int width, int height, const Bytes& profile = {});

// A TIFF file as libtiff writes it: `samples` interleaved, top row first (16-bit ones in the
// machine's order), LZW in strips of `stripRows` rows (0: libtiff's choice) or in 16 x 16 tiles, on each of `pages` pages.
struct TiffLayout {
    int width = 0, height = 0, channels = 3, photometric = 2;  // 2: RGB
    int bits = 8, orientation = 1;
    bool tiled = false, alpha = false;  // alpha: the last channel is unassociated alpha
    Bytes icc = {}, xmp = {};
    int pages = 1, stripRows = 7;
};
Bytes TiffOf(const TiffLayout& layout, const Bytes& samples);

// The segments of a JPEG file up to its first scan.
struct JpegSegment {
    uint8_t code;
    Bytes payload;
};
std::vector<JpegSegment> SegmentsOf(const Bytes& jpeg);

}  // namespace kxtest
