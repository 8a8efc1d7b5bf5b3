// CMYK and Lab TIFF pictures through lcms2, when profile conversion is on
// for the thread: libtiff's RGBA interface would turn CMYK into RGB as each
// ink times black and Lab through a fixed display model, so their stored
// samples are read as they are and converted a row at a time. Without
// profile conversion, 16-bit CMYK (which libtiff's interface refuses) is
// read here too and turned as libtiff turns 8-bit CMYK.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <vector>

#include "engine/files/ColourManagement.h"

namespace kx {

class TiffProfileRows {
public:
    // True when profile conversion is on for this thread and `tif` holds
    // contiguous CMYK or Lab (CIELAB or ICCLAB) samples of 8 or 16 bits
    // with no extra ones, and a transform through its profile
    // (else the standard one) can be made; or when conversion is off and
    // `tif` holds such 16-bit CMYK. Nothing is allocated yet.
    bool Open(TIFF* tif, PixelOut out);

    // What Start will allocate and lcms2 holds, for the memory budget.
    int64_t Bytes() const { return bufferBytes_ + transformBytes_; }

    // Allocates the buffer of a scanline or of a band of tiles.
    bool Start();

    // The next stored row, top row first: `width` pixels as BGR, or as
    // opaque ABGR words. False when libtiff cannot read it.
    bool NextRow(uint8_t* out);

private:
    bool ReadBand();
    void Convert(uint8_t* samples, uint8_t* out, uint32_t pixels) const;
    void PlainCmyk16(const uint8_t* samples, uint8_t* out, uint32_t pixels) const;

    TIFF* tif_ = nullptr;
    SrgbTransform transform_;
    PixelOut out_ = PixelOut::Bgr;
    bool plainCmyk_ = false;  // no profile conversion: ink times black
    bool signedAb_ = false;  // CIELAB: a and b signed, L up to 0xFFFF in 16 bits
    bool tiled_ = false;
    uint32_t width_ = 0, height_ = 0, tileWidth_ = 0, tileHeight_ = 0;
    uint32_t row_ = 0, bandTop_ = 0;
    size_t pixelBytes_ = 0, tileBytes_ = 0;
    int64_t bufferBytes_ = 0, transformBytes_ = 0;
    std::vector<uint8_t> buffer_;
};

}  // namespace kx
