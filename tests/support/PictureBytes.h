// Small BMP, GIF, PNG and JPEG files laid out byte by byte, each builder writing exactly
// the fields its layout names.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kx {
class cDIBSection;
}

namespace kxtest {

using Bytes = std::vector<uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Hex(std::string_view digits);  // "ff00 0a": spaces ignored
Bytes Deflate(const Bytes& raw);     // a zlib stream
// Appends the low `count` bytes of `value`, least significant first or, when `big`, last.
void Put(Bytes& out, uint32_t value, int count, bool big = false);

struct BmpLayout {
    int32_t width = 3;
    int32_t height = 2;  // negative: top-down
    uint16_t bits = 24;
    uint32_t compression = 0;            // 0 RGB, 1 RLE8, 2 RLE4, 3 bit fields
    uint32_t headerSize = 40;            // 12 core, 16..64 info or OS/2 2.x, 124 V5
    std::vector<uint32_t> palette = {};  // 0xRRGGBB
    std::vector<uint32_t> masks = {};    // red, green, blue
    Bytes pixels = {};                   // exactly as stored, bottom row first
    uint16_t planes = 1;
    std::optional<uint32_t> offset = {};  // of the pixels; default: right after the palette
};
Bytes Bmp(const BmpLayout& layout);

// One image on a screen, a global colour table (none when empty), a control extension for `transparent`.
struct GifLayout {
    int screenWidth, screenHeight, left, top, width, height;
    std::vector<Bytes> rows = {};  // colour indices in stored order (interlaced when `interlace`)
    int transparent = -1;
    bool interlace = false;
    std::vector<uint32_t> colours = {0xFF0000, 0x00FF00, 0x0000FF, 0x000000};  // 0xRRGGBB
    std::optional<Bytes> lzw = {};  // the image data as given, instead of the rows as literal codes
};
Bytes Gif(const GifLayout& layout);

// Signature, IHDR, PLTE, tRNS, the extra chunks, one IDAT, those after it and IEND, with checksums.
struct PngLayout {
    uint32_t width, height;
    uint8_t depth, colourType;
    std::vector<Bytes> rows = {};  // packed samples, 16-bit ones big-endian, without the filter byte
    Bytes palette = {};            // red, green, blue of each entry
    Bytes transparency = {};       // tRNS as stored
    std::vector<std::pair<std::string, Bytes>> chunks = {};  // before IDAT
    std::optional<Bytes> data = {};  // IDAT's inflated bytes as given, instead of the filtered rows
    std::vector<std::pair<std::string, Bytes>> after = {};  // between IDAT and IEND
};
Bytes Png(const PngLayout& layout);
// An iTXt chunk's data holding `packet` as XMP, compressed.
Bytes XmpItxt(const Bytes& packet);

// SOI, JFIF, a quantisation table, a frame header of `frameCode` (8-bit samples,
// `components` components), a one-component scan of zeros, EOI.
Bytes Jpeg(uint8_t frameCode, uint16_t width, uint16_t height, uint8_t components);

// The picture as letters, top row first, rows ended by '/': K black, W white, R red, G green,
// B blue, Y yellow, ? any other colour.
std::string Sketch(const kx::cDIBSection& surface);

}  // namespace kxtest
