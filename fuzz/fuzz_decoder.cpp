// One picture decoder on the fuzzer's bytes, as the loader would call it
// after recognising the signature. Built once per format (KX_FUZZ_DECODER).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "engine/files/ColourManagement.h"
#include "engine/files/ModernDecoders.h"
#include "engine/files/PictureDecoders.h"

#ifdef KX_FUZZ_PNG_CRC
#include "FuzzPng.h"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
#ifdef KX_FUZZ_PNG_CRC
    std::vector<uint8_t> fixed(data, data + size);
    kx::fuzz::FixPngChunkChecksums(fixed);
    const std::span<const uint8_t> file(fixed);
#else
    const std::span<const uint8_t> file(data, size);
#endif
#ifdef KX_FUZZ_COLOUR
    // Odd lengths read CMYK and Lab pictures through their profile (lcms2),
    // as the modern mode does.
    kx::SetCmykThroughProfile(size % 2 == 1);
#endif
    kx::cDIBSection surface;
#if defined(KX_FUZZ_METADATA)
    // Today's formats also hand over what they carry besides pixels.
    kx::PictureMetadata metadata;
    const bool decoded = kx::KX_FUZZ_DECODER(file, surface, &metadata);
#elif defined(KX_FUZZ_PNG_CRC)
    // With its colour profile (iCCP) and what else the file carries.
    kx::PictureMetadata metadata;
    const bool decoded = kx::DecodePng(file, surface, metadata);
#elif defined(KX_FUZZ_JPEG_TURNS)
    // The length picks the call: the plain decode, or the one that turns the
    // picture upright by its EXIF orientation while decoding, each at full
    // size or shrunk on load towards a target of a few pixels.
    kx::PictureMetadata metadata;
    const kx::ShrinkTarget shrink = size % 3 == 0 ? kx::ShrinkTarget{}
                                                  : kx::ShrinkTarget{1 + static_cast<kx::Long>(size % 29),
                                                                     1 + static_cast<kx::Long>(size % 31)};
    const bool turned = size % 4 != 0;
    const bool decoded = turned ? kx::DecodeJpeg(file, surface, metadata, true, shrink)
                                : kx::DecodeJpeg(file, surface, shrink);
    if (turned && decoded && metadata.Orientation != 1) __builtin_trap();
#else
    const bool decoded = kx::KX_FUZZ_DECODER(file, surface);
#endif
#ifdef KX_FUZZ_BMP_ROWS
    // The loader reads the rows of a plain 24-bit BMP in place where this
    // says it can: the decoder must then give the same picture.
    if (const auto rows = kx::LocateBmpPixelRows(file, static_cast<int64_t>(file.size()))) {
        if (!decoded || surface.Width() != rows->width || surface.Height() != rows->height) __builtin_trap();
        const size_t stride = static_cast<size_t>(surface.BytesPerScanLine());
        for (kx::Long i = 0; i < rows->height; ++i) {
            const uint8_t* stored = file.data() + rows->dataOffset + stride * static_cast<size_t>(i);
            const uint8_t* row = surface.Row(rows->topDown ? rows->height - 1 - i : i);
            if (std::memcmp(stored, row, static_cast<size_t>(rows->width) * 3) != 0) __builtin_trap();
        }
    }
#endif
    if (decoded) {
        // A success must leave a whole, readable surface: touch every row.
        volatile uint8_t sum = 0;
        for (kx::Long y = 0; y < surface.Height(); ++y) {
            const uint8_t* row = surface.PictureRow(y);
            sum = sum + row[0] + row[surface.Width() * 3 - 1];
        }
    }
    return 0;
}
