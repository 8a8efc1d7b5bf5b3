#include "tests/support/PictureBytes.h"

#include <zlib.h>

#include <algorithm>
#include <map>

#include "tests/support/TestSupport.h"

namespace kxtest {

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes Hex(std::string_view digits)
{
    Bytes out;
    for (size_t i = 0; i < digits.size(); ++i)
        if (digits[i] != ' ')
            out.push_back(uint8_t(std::stoi(std::string(digits.substr(i++, 2)), nullptr, 16)));
    return out;
}

Bytes Deflate(const Bytes& raw)
{
    uLongf size = compressBound(uLong(raw.size()));
    Bytes out(size);
    compress2(out.data(), &size, raw.data(), uLong(raw.size()), 1);
    out.resize(size);
    return out;
}

void Put(Bytes& out, uint32_t value, int count, bool big)
{
    for (int i = 0; i < count; ++i) out.push_back(uint8_t(value >> (8 * (big ? count - 1 - i : i))));
}

namespace {

// Each index as a literal code of minCodeSize + 1 bits, with a clear code
// before the decoder's table would grow to need wider codes.
Bytes LiteralLzw(const std::vector<Bytes>& rows, int minCodeSize)
{
    const uint32_t clear = 1u << minCodeSize;
    Bytes out;
    uint32_t pending = 0, literals = 0;
    int bits = 0;
    auto put = [&](uint32_t code) {
        pending |= code << bits;
        for (bits += minCodeSize + 1; bits >= 8; bits -= 8, pending >>= 8) out.push_back(uint8_t(pending));
    };
    for (const Bytes& row : rows)
        for (uint8_t index : row) {
            if (literals++ % (clear - 2) == 0) put(clear);
            put(index);
        }
    put(clear + 1);
    if (bits > 0) out.push_back(uint8_t(pending));
    return out;
}

void PutChunk(Bytes& png, const std::string& type, const Bytes& data)
{
    Put(png, uint32_t(data.size()), 4, true);
    const Bytes body = Concat({Bytes(type.begin(), type.end()), data});
    png.insert(png.end(), body.begin(), body.end());
    Put(png, uint32_t(crc32(0, body.data(), uInt(body.size()))), 4, true);
}

}  // namespace

Bytes Bmp(const BmpLayout& s)
{
    Bytes f{'B', 'M'};
    const bool core = s.headerSize == 12;
    const bool masksInHeader = s.headerSize >= 52;
    const uint32_t start = 14 + s.headerSize + (masksInHeader ? 0 : 4 * uint32_t(s.masks.size())) +
                           uint32_t(s.palette.size()) * (core ? 3 : 4);
    // File size, reserved, offset of the pixels, header size; width, height; planes, bits a pixel.
    for (uint32_t value : {start + uint32_t(s.pixels.size()), 0u, s.offset.value_or(start), s.headerSize})
        Put(f, value, 4);
    for (int32_t side : {s.width, s.height}) Put(f, uint32_t(side), core ? 2 : 4);
    Put(f, s.planes, 2);
    Put(f, s.bits, 2);
    if (!core) {
        // Compression, image size, pixels a metre across and down, colours used, important colours.
        for (uint32_t value :
             {s.compression, uint32_t(s.pixels.size()), 2835u, 2835u, uint32_t(s.palette.size()), 0u})
            Put(f, value, 4);
        if (masksInHeader)
            for (size_t i = 0; i < 3; ++i) Put(f, i < s.masks.size() ? s.masks[i] : 0, 4);
        f.resize(14 + s.headerSize);  // V4 and V5 colour space fields: zero
        if (!masksInHeader)
            for (uint32_t m : s.masks) Put(f, m, 4);
    }
    for (uint32_t c : s.palette) Put(f, c, core ? 3 : 4);  // blue, green, red (, reserved)
    f.insert(f.end(), s.pixels.begin(), s.pixels.end());
    return f;
}

Bytes Gif(const GifLayout& s)
{
    int tableBits = 1;
    while ((1u << tableBits) < s.colours.size()) ++tableBits;
    Bytes g{'G', 'I', 'F', '8', '9', 'a'};
    for (int side : {s.screenWidth, s.screenHeight}) Put(g, uint32_t(side), 2);
    g.insert(g.end(), {uint8_t(s.colours.empty() ? 0 : 0x80 | (tableBits - 1)), 0, 0});
    if (!s.colours.empty())
        for (uint32_t i = 0; i < 1u << tableBits; ++i)
            Put(g, i < s.colours.size() ? s.colours[i] : 0, 3, true);
    if (s.transparent >= 0) g.insert(g.end(), {0x21, 0xF9, 4, 1, 0, 0, uint8_t(s.transparent), 0});
    g.push_back(0x2C);
    for (int v : {s.left, s.top, s.width, s.height}) Put(g, uint32_t(v), 2);
    const int minCodeSize = std::max(2, tableBits);
    g.insert(g.end(), {uint8_t(s.interlace ? 0x40 : 0), uint8_t(minCodeSize)});
    const Bytes lzw = s.lzw.value_or(LiteralLzw(s.rows, minCodeSize));
    for (size_t at = 0; at < lzw.size(); at += 255) {
        const size_t count = std::min<size_t>(255, lzw.size() - at);
        g.push_back(uint8_t(count));  // a sub-block
        g.insert(g.end(), lzw.begin() + at, lzw.begin() + at + count);
    }
    g.insert(g.end(), {0, 0x3B});
    return g;
}

Bytes Png(const PngLayout& s)
{
    Bytes png{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, header;
    for (uint32_t side : {s.width, s.height}) Put(header, side, 4, true);
    header.insert(header.end(), {s.depth, s.colourType, 0, 0, 0});
    PutChunk(png, "IHDR", header);
    if (!s.palette.empty()) PutChunk(png, "PLTE", s.palette);
    if (!s.transparency.empty()) PutChunk(png, "tRNS", s.transparency);
    for (const auto& [type, data] : s.chunks) PutChunk(png, type, data);
    Bytes raw;
    for (const Bytes& row : s.rows) {
        raw.push_back(0);  // no filter
        raw.insert(raw.end(), row.begin(), row.end());
    }
    PutChunk(png, "IDAT", Deflate(s.data.value_or(raw)));
    for (const auto& [type, data] : s.after) PutChunk(png, type, data);
    PutChunk(png, "IEND", {});
    return png;
}

Bytes XmpItxt(const Bytes& packet)
{
    // The keyword, compressed, method 0, no language, no translated keyword.
    const std::string_view head{"XML:com.adobe.xmp\0\1\0\0\0", 22};
    return Concat({Bytes(head.begin(), head.end()), Deflate(packet)});
}

std::string Sketch(const kx::cDIBSection& surface)
{
    static const std::map<uint32_t, char> kLetters{{0x000000, 'K'}, {0xFFFFFF, 'W'}, {0xFF0000, 'R'},
                                                   {0x00FF00, 'G'}, {0x0000FF, 'B'}, {0xFFFF00, 'Y'}};
    std::string letters;
    for (int y = 0; y < surface.Height(); ++y, letters += '/')
        for (int x = 0; x < surface.Width(); ++x) {
            const Bgr p = PixelAt(surface, x, y);
            const auto letter = kLetters.find(uint32_t(p.r) << 16 | p.g << 8 | p.b);
            letters += letter == kLetters.end() ? '?' : letter->second;
        }
    return letters;
}

Bytes Jpeg(uint8_t frameCode, uint16_t width, uint16_t height, uint8_t components)
{
    Bytes j{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    j.insert(j.end(), {0xFF, 0xDB, 0, 67, 0});
    j.resize(j.size() + 64, 1);
    // Frame header: length, sample precision, height, width, components.
    j.insert(j.end(), {0xFF, frameCode, 0, uint8_t(8 + 3 * components), 8, uint8_t(height >> 8),
                       uint8_t(height), uint8_t(width >> 8), uint8_t(width), components});
    for (int c = 1; c <= components; ++c) j.insert(j.end(), {uint8_t(c), 0x11, 0});
    j.insert(j.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0});
    j.resize(j.size() + 200, 0);
    j.insert(j.end(), {0xFF, 0xD9});
    return j;
}

}  // namespace kxtest
