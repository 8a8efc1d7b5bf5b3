// The transparency of a picture that has any, carried beside its 24-bit
// surface: one byte a pixel (0 transparent, 255 opaque), rows of Width bytes
// stored bottom-up like the surface's, so that memory row r of both belongs
// to the same picture row.
//
// The antialiased filter works on premultiplied colour (colour times alpha),
// so that the colour of transparent pixels, which is not seen, does not leak
// into the edges as a dark or light fringe. All arithmetic is on whole
// numbers: the same picture gives the same bytes on any machine.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/surface/cDIBSection.h"

namespace kx {

class AlphaPlane {
public:
    // Makes a plane of width x height, every pixel transparent. False, the
    // plane empty, for a size of 0 or less.
    bool Create(Long width, Long height);
    void Clear();

    bool IsLive() const { return !bytes_.empty(); }
    Long Width() const { return width_; }
    Long Height() const { return height_; }
    // Memory row r (0: the bottom row of the picture).
    uint8_t* Row(Long r) { return bytes_.data() + static_cast<size_t>(r) * static_cast<size_t>(width_); }
    const uint8_t* Row(Long r) const
    {
        return bytes_.data() + static_cast<size_t>(r) * static_cast<size_t>(width_);
    }
    // The picture row y counted from the top.
    uint8_t* PictureRow(Long y) { return Row(height_ - 1 - y); }
    const uint8_t* PictureRow(Long y) const { return Row(height_ - 1 - y); }
    // True when some pixel is not fully opaque.
    bool HasTransparency() const;

private:
    Long width_ = 0;
    Long height_ = 0;
    std::vector<uint8_t> bytes_;
};

// A byte times alpha / 255, rounded to nearest.
inline uint8_t Premultiplied(unsigned c, unsigned a) { return static_cast<uint8_t>((c * a + 127) / 255); }

// Colour over a background: (c * a + back * (255 - a)) / 255, rounded.
inline uint8_t Over(unsigned c, unsigned a, unsigned back)
{
    return static_cast<uint8_t>((c * a + back * (255 - a) + 127) / 255);
}

// A decoded row of BGRA pixels split into BGR colour and alpha.
inline void SplitBgraRow(const uint8_t* bgra, Long width, uint8_t* bgr, uint8_t* alpha)
{
    for (Long x = 0; x < width; ++x, bgra += 4, bgr += 3) {
        bgr[0] = bgra[0];
        bgr[1] = bgra[1];
        bgr[2] = bgra[2];
        alpha[x] = bgra[3];
    }
}

// A row of colour times alpha, as the antialiased filter takes it.
void PremultiplyRow(const uint8_t* bgr, const uint8_t* alpha, Long width, uint8_t* out);

// Divides a filtered premultiplied picture by its filtered alpha again
// (colour above its alpha, the filter's overshoot, is cut back first;
// transparent pixels become black).
void Unpremultiply(cDIBSection& surface, const AlphaPlane& alpha);

// The plane held in the first channel of a grey surface.
AlphaPlane AlphaOfGrey(const cDIBSection& grey);

// Resamples a picture with transparency to width x height with the
// antialiased filter: the colour is premultiplied in place, filtered, and
// divided by the filtered alpha again (transparent pixels come out black).
// The alpha is filtered with the same weights. False, both left as they
// were or empty, when a new surface cannot be made.
bool ResampleWithAlpha(cDIBSection& surface, AlphaPlane& alpha, Long width, Long height);

// The alpha plane alone filtered to width x height, exactly as the antialiased
// filter treats each colour channel.
AlphaPlane ResampleAlpha(const AlphaPlane& alpha, Long width, Long height);

// Blends every pixel onto one colour (given red, green, blue).
void FlattenOnto(cDIBSection& surface, const AlphaPlane& alpha, Byte red, Byte green, Byte blue);

// Turns the plane as TurnUpright turns its surface (orientation 1 to 8).
void TurnAlphaUpright(AlphaPlane& alpha, int orientation);

// A width x height plane cut from `source` at picture (left, top); parts
// outside the source are transparent.
AlphaPlane CropAlpha(const AlphaPlane& source, Long left, Long top, Long width, Long height);

}  // namespace kx
