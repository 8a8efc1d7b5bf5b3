// The picture loader's format decoders. Each takes a whole file's bytes and,
// on success, makes `surface` a live surface of the picture's size holding
// the picture (24-bit BGR, rows bottom-up, see cDIBSection). Each returns
// false for data it cannot decode: a wrong signature, a corrupt or truncated
// file, or a size beyond the limits of DecodeLimits.h. None of them raises,
// crashes or reads outside `file`; on failure the surface's content is
// unspecified (the loader discards it).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "engine/files/PictureMetadata.h"
#include "engine/files/ShrinkOnLoad.h"
#include "engine/surface/cDIBSection.h"

namespace kx {

class AlphaPlane;  // AlphaPlane.h

// BMP: core (OS/2 1.x), info, V4 and V5 headers; 1, 4, 8, 16, 24 and 32 bits
// a pixel; uncompressed, RLE4, RLE8 and bit fields; bottom-up and top-down.
bool DecodeBmp(std::span<const uint8_t> file, cDIBSection& surface);

// An uncompressed 24-bit BMP stores its rows as a surface does (BGR, padded
// to 4 bytes), so they can be read from the file straight into one.
struct BmpPixelRows {
    Long width = 0;
    Long height = 0;
    int64_t dataOffset = 0;  // where the first stored row starts
    bool topDown = false;    // rows stored top row first
};

// Where the rows of such a BMP are, from the file's first bytes (at least
// its headers) and its size: the file is checked exactly as DecodeBmp checks
// it, including that it holds every row. nullopt for a file DecodeBmp would
// refuse and for every other kind of BMP.
std::optional<BmpPixelRows> LocateBmpPixelRows(std::span<const uint8_t> head, int64_t fileSize);

// An uncompressed BMP of any depth read a row at a time, top row first:
// `start` is given the size (false: stop before reading a row), `read` fills
// the stored row at a file offset (false: stop), `push` takes each row as
// BGR. False, calling nothing, for a file DecodeBmp refuses and for RLE
// pictures, whose rows come bottom-up.
struct BmpRowCalls {
    std::function<bool(Long width, Long height)> start;
    std::function<bool(int64_t offset, std::span<uint8_t> into)> read;
    std::function<void(const uint8_t* bgr)> push;
};
bool ReadBmpRows(std::span<const uint8_t> head, int64_t fileSize, const BmpRowCalls& calls);

// GIF87a/89a: the first image, placed on the logical screen; transparent and
// uncovered pixels are white. Given a plane, a picture with a transparent
// colour has its pixels of that colour transparent there.
bool DecodeGif(std::span<const uint8_t> file, cDIBSection& surface);
bool DecodeGif(std::span<const uint8_t> file, cDIBSection& surface, AlphaPlane* alpha);

// PNG: every colour type and depth; alpha is blended onto white.
bool DecodePng(std::span<const uint8_t> file, cDIBSection& surface);
// The same, handing over the colour profile (iCCP) in `metadata`. Given a
// plane, a picture with alpha keeps it there and its colour as stored.
bool DecodePng(std::span<const uint8_t> file, cDIBSection& surface, PictureMetadata& metadata,
               AlphaPlane* alpha = nullptr);

// JPEG: baseline, progressive and greyscale (and CMYK), decoded straight into
// the surface's buffer, as stored (the orientation tag is not looked at).
// With a shrink target, a picture at least twice the target decodes at 1/2,
// 1/4 or 1/8 of its size (ShrinkOnLoadDenominator).
bool DecodeJpeg(std::span<const uint8_t> file, cDIBSection& surface);
bool DecodeJpeg(std::span<const uint8_t> file, cDIBSection& surface, const ShrinkTarget& shrink);
// The same, handing over EXIF, XMP and the colour profile in `metadata`.
// With autoOrient, a picture whose EXIF orientation is 2 to 8 is turned
// upright while it is decoded and metadata.Orientation becomes 1; without,
// the pixels stay as stored and metadata.Orientation is the tag's value.
// A shrink target describes the picture as it comes out (upright or not).
//
// Every decoder that hands over metadata follows this rule: Orientation
// describes the pixels in the surface (1: upright), so that writers know
// whether a tag must travel with them.
bool DecodeJpeg(std::span<const uint8_t> file, cDIBSection& surface, PictureMetadata& metadata,
                bool autoOrient, const ShrinkTarget& shrink = {});

}  // namespace kx
