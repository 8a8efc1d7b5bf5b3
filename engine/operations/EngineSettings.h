// How an engine object treats pictures beyond the operations' own arguments.
// A default-constructed value gives the engine's classic behaviour; each
// setting of the C interface changes one field of its object's value.
#pragma once

#include "engine/files/OutputFormat.h"

namespace kx {

// How pixels are resampled when a picture changes size.
enum class ResampleFilter {
    Exact,    // the two-pass bilinear sampler, bit-exact to its rule
    Lanczos,  // antialiased Lanczos-3 reduction, Lanczos-3 enlargement
};

struct EngineSettings {
    // Turn pictures upright from their orientation tag before any operation.
    bool AutoOrient = true;
    // Carry EXIF (orientation reset, preview removed) and XMP to the output.
    bool KeepMetadata = false;
    // CMYK and Lab pictures go to sRGB through their ICC profile (lcms2).
    bool ColourManage = false;
    // Pictures with another RGB profile are written in sRGB: 0 no (the
    // profile is kept), 1 without a profile, 2 with lcms2's sRGB one.
    int Srgb = 0;
    ResampleFilter Filter = ResampleFilter::Exact;
    // Sizes follow the exact ratio rather than a whole percentage.
    bool TrueProportions = false;
    OutputFormat Format = OutputFormat::Jpeg;
    // JPEG outputs without chroma subsampling from quality 90 and with
    // optimised Huffman tables (SaveSurfaceAsJpeg's modern coding).
    bool ModernJpeg = false;
    // The JPEG quality of the border and text operations' outputs, 1 to 100.
    int DecorationQuality = 100;
    // The part of the covering picture that the fill method keeps: a place
    // 0 to 8, rows of three from the top-left (4: the middle).
    int FillPlace = 4;
    // With the antialiased filter, pictures with transparency (PNG, WebP,
    // HEIF) keep it in PNG, WebP and AVIF outputs; JPEG outputs are
    // flattened onto white.
    bool KeepAlpha = false;
    // A colour code (0x00BBGGRR) that pictures with transparency are
    // flattened onto after resampling; -1: none.
    int Background = -1;
};

}  // namespace kx
