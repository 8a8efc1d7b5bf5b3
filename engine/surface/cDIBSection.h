// The engine's in-memory picture: a 24-bit pixel buffer and the drawing
// context through which block copies reach it.
//
// Pixel layout: 3 bytes a pixel in the order blue, green, red; each row
// (scan line) is BytesPerScanLine() bytes, Width * 3 rounded up to a multiple
// of 4; rows are stored bottom-up, so memory row 0 is the bottom row of the
// picture and memory row Height - 1 the top row. A new buffer is all zero.
//
// Block copies (LoadPictureBlt, PaintPicture) use picture coordinates, x to
// the right and y downward from the top-left pixel; the byte-level
// operations work on memory rows numbered from the bottom.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "common/CheckedMath.h"

namespace kx {

class cDIBSection;
struct StdFont;  // StdFont.h
struct LOGFONT;  // StdFont.h

// A drawing context refers to a live surface's pixels; nullptr is "no context".
using HDC = cDIBSection*;

// The plain-copy raster operation, the only one the engine uses.
inline constexpr Long SRCCOPY = 0x00CC0020;

// The description from which a surface's buffer is made (a BITMAPINFOHEADER).
struct BitmapInfoHeader {
    uint32_t biSize = 0;
    Long biWidth = 0;
    Long biHeight = 0;
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    Long biXPelsPerMeter = 0;
    Long biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};

// Gives a surface's buffer back to the surface memory keep (SurfaceMemory.h).
struct SurfaceBufferRelease {
    size_t capacity = 0;
    void operator()(uint8_t* p) const;
};

class cDIBSection {
public:
    cDIBSection() = default;
    ~cDIBSection() { ClearUp(); }
    cDIBSection(const cDIBSection&) = delete;
    cDIBSection& operator=(const cDIBSection&) = delete;
    // Moving hands the buffer over; the moved-from surface is empty.
    cDIBSection(cDIBSection&& other) noexcept { *this = std::move(other); }
    cDIBSection& operator=(cDIBSection&& other) noexcept
    {
        if (this != &other) {
            header_ = other.header_;
            hasContext_ = other.hasContext_;
            bits_ = std::move(other.bits_);
            stride_ = other.stride_;
            other.header_ = BitmapInfoHeader{};
            other.hasContext_ = false;
            other.stride_ = 0;
        }
        return *this;
    }

    // Releases any current pixels, then makes a live surface of that size with
    // a black buffer. False, leaving the surface empty, when the size is
    // refused: a width or height of 0 or less, or memory not available.
    // Raises overflow (6) when the buffer's byte count leaves 32 bits.
    bool Create(Long lWidth, Long lHeight);

    // Fills the header and allocates the buffer for a context that Create has
    // made; hDib receives the buffer's handle. Used by Create.
    bool CreateDIB(HDC lhDC, Long lWidth, Long lHeight, const void*& hDib);

    // Makes this surface a copy of a decoded picture, at the picture's size.
    void CreateFromPicture(const cDIBSection& picThis);

    // Copies the rectangle at (lSrcLeft, lSrcTop) of the context lhDC to (0, 0)
    // of this surface. A negative width or height stands for this surface's.
    void LoadPictureBlt(HDC lhDC, Long lSrcLeft = 0, Long lSrcTop = 0, Long lSrcWidth = -1,
                        Long lSrcHeight = -1, Long eRop = SRCCOPY);

    // Copies the rectangle at (lSrcLeft, lSrcTop) of this surface to
    // (lDestLeft, lDestTop) of the context lhDC. A negative width or height
    // stands for this surface's. Parts outside either picture are clipped.
    void PaintPicture(HDC lhDC, Long lDestLeft = 0, Long lDestTop = 0, Long lDestWidth = -1,
                      Long lDestHeight = -1, Long lSrcLeft = 0, Long lSrcTop = 0, Long eRop = SRCCOPY) const;

    // Row length in bytes: (Width * 3 + 3) with the two lowest bits cleared.
    // Raises overflow (6) when that leaves 32 bits.
    Long BytesPerScanLine() const;

    // The last requested size; kept by ClearUp and by a failed Create.
    Long Width() const { return header_.biWidth; }
    Long Height() const { return header_.biHeight; }
    const BitmapInfoHeader& Header() const { return header_; }

    // The drawing context (nullptr when there is none).
    HDC hdc() { return hasContext_ ? this : nullptr; }
    // The bitmap's handle (nullptr when the surface holds no pixels).
    const void* hDib() const { return bits_.get(); }
    // First byte of the buffer (nullptr when the surface holds no pixels).
    uint8_t* DIBSectionBitsPtr() { return bits_.get(); }
    const uint8_t* DIBSectionBitsPtr() const { return bits_.get(); }

    // True when the surface holds a pixel buffer.
    bool IsLive() const { return bits_ != nullptr; }

    // Memory row r (0 = bottom row of the picture). The surface must be live
    // and 0 <= r < Height(); callers that cannot promise that use RowChecked.
    uint8_t* Row(Long r) { return bits_.get() + static_cast<size_t>(r) * stride_; }
    const uint8_t* Row(Long r) const { return bits_.get() + static_cast<size_t>(r) * stride_; }
    // Memory row r, raising the subscript error (9) outside 0..Height-1 or on
    // a surface without pixels.
    uint8_t* RowChecked(Long r);
    // The picture row y counted from the top (memory row Height - 1 - y).
    uint8_t* PictureRow(Long y) { return Row(header_.biHeight - 1 - y); }
    const uint8_t* PictureRow(Long y) const { return Row(header_.biHeight - 1 - y); }

    // Releases the buffer and the context; Width and Height are kept.
    void ClearUp();

    // A new surface of lNewWidth x lNewHeight holding this picture scaled
    // (height first). nullptr when the new surface cannot be created. Raises
    // the subscript error (9) for a source 1 pixel wide or high.
    std::unique_ptr<cDIBSection> Resample(Long lNewHeight, Long lNewWidth) const;

    // There is no system clipboard for the engine: always false.
    bool CopyToClipboard(bool bAsDIB);

    // Drawing (cDIBSectionDrawing.cpp). Colours are given red, green, blue.
    // Fills every pixel with one colour; the row-end bytes are not touched.
    bool ColourFillDIB(Byte byteRed, Byte byteGreen, Byte byteBlue);
    // Replaces every pixel of exactly the old colour by the new one.
    bool ConvertColour(Byte byteOldRed, Byte byteOldGreen, Byte byteOldBlue, Byte byteRed, Byte byteGreen,
                       Byte byteBlue);
    // Fills the picture with random noise: grey levels, or random green and
    // red with blue 0.
    void RandomiseBits(bool bGray);
    // Draws strText (UTF-8) in the font and colour with the text block's top
    // left at picture (intLeftPos, intTopPos - 2); only glyph pixels change.
    bool AddTextToImage(const std::string& strText, const StdFont& fontStdFont, Byte byteRed, Byte byteGreen,
                        Byte byteBlue, Integer intTopPos, Integer intLeftPos);
    // Draws strText at one of the nine standard places (a TEXT_POSITION).
    // False, drawing nothing, on a surface of width or height 0.
    bool AddTextToImageUsingSpecPostion(const std::string& strText, const StdFont& fontStdFont, Byte byteRed,
                                        Byte byteGreen, Byte byteBlue, Long txtPos);

private:
    void ResampleInto(cDIBSection& destination) const;
    void StdFontToLogFont(const StdFont& font, HDC lhDC, LOGFONT& logFont) const;
    void OverlayColourPixels(const cDIBSection& textSurface, Byte byteRed, Byte byteGreen, Byte byteBlue,
                             Long lTop, Long lLeft);

    BitmapInfoHeader header_;
    bool hasContext_ = false;
    std::unique_ptr<uint8_t, SurfaceBufferRelease> bits_;
    size_t stride_ = 0;
};

// Copies a w x h rectangle between two surfaces in picture coordinates,
// clipped to both pictures. Copying a surface onto itself is allowed.
void BlockCopy(cDIBSection& destination, Long destLeft, Long destTop, const cDIBSection& source, Long srcLeft,
               Long srcTop, Long width, Long height);

}  // namespace kx
