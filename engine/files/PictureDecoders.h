// The picture loader's format decoders. Each takes a whole file's bytes and,
// on success, makes `surface` a live surface of the picture's size holding
// the picture (24-bit BGR, rows bottom-up, see cDIBSection). Each returns
// false for data it cannot decode: a wrong signature, a corrupt or truncated
// file, or a size beyond the limits of DecodeLimits.h. None of them raises,
// crashes or reads outside `file`; on failure the surface's content is
// unspecified (the loader discards it).
#pragma once

#include <cstdint>
#include <span>

#include "cDIBSection.h"

namespace kx {

// BMP: core (OS/2 1.x), info, V4 and V5 headers; 1, 4, 8, 16, 24 and 32 bits
// a pixel; uncompressed, RLE4, RLE8 and bit fields; bottom-up and top-down.
bool DecodeBmp(std::span<const uint8_t> file, cDIBSection& surface);

// GIF87a/89a: the first image, placed on the logical screen; transparent and
// uncovered pixels are white.
bool DecodeGif(std::span<const uint8_t> file, cDIBSection& surface);

// PNG: every colour type and depth; alpha is blended onto white.
bool DecodePng(std::span<const uint8_t> file, cDIBSection& surface);

// JPEG: baseline, progressive and greyscale (and CMYK), decoded straight into
// the surface's buffer.
bool DecodeJpeg(std::span<const uint8_t> file, cDIBSection& surface);

}  // namespace kx
