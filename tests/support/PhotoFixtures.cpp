#include "tests/support/PhotoFixtures.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>

namespace kxtest {

Image AsymmetricPicture(int width, int height)
{
    Image image{width, height, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.bgr.insert(image.bgr.end(),
                             {static_cast<uint8_t>(x * 255 / width), static_cast<uint8_t>(y * 255 / height),
                              static_cast<uint8_t>((x * 7 + y * 13) % 256)});
    return image;
}

std::pair<int, int> StoredFor(int orientation, int ux, int uy, int w, int h)
{
    const int o = orientation >= 1 && orientation <= 8 ? orientation : 1;
    const int x = o >= 5 ? uy : ux, y = o >= 5 ? ux : uy;  // 5 to 8 swap the axes, then
    const bool mirrorX = o == 2 || o == 3 || o == 7 || o == 8, mirrorY = o == 3 || o == 4 || o == 6 || o == 7;
    return {mirrorX ? w - 1 - x : x, mirrorY ? h - 1 - y : y};
}

Bytes JpegOf(const Image& image)
{
    TempDir dir;
    EncodeJpegFile(dir / "p.jpg", image, 95, 0 /* TJSAMP_444 */);
    return ReadFileBytes(dir / "p.jpg");
}

Bytes WithSegments(const Bytes& jpeg, const Bytes& segments)
{
    const auto at = jpeg.begin() + 4 + (jpeg[4] << 8 | jpeg[5]);  // after SOI and APP0
    return Concat({Bytes(jpeg.begin(), at), segments, Bytes(at, jpeg.end())});
}

Bytes Segment(uint8_t code, const std::string& header, const Bytes& body)
{
    Bytes out{0xFF, code};
    Put(out, static_cast<uint32_t>(2 + header.size() + body.size()), 2, true);
    return Concat({out, Bytes(header.begin(), header.end()), body});
}

Bytes OrientationTiff(uint16_t value, bool littleEndian, size_t padding, uint16_t type, uint32_t count)
{
    Bytes out(2, littleEndian ? 'I' : 'M');
    // 42, IFD0 at 8 with one entry: tag, type, count, the value left-justified; no IFD1.
    const uint32_t values[]{42, 8, 1, 0x0112, type, count, value, 0, 0}, widths[]{2, 4, 2, 2, 2, 4, 2, 2, 4};
    for (int i = 0; i < 9; ++i) Put(out, values[i], int(widths[i]), !littleEndian);
    out.resize(out.size() + padding, 0xA5);
    return out;
}

Bytes IccSegments(const Bytes& profile, int chunks, const std::vector<int>& order)
{
    const size_t part = (profile.size() + static_cast<size_t>(chunks) - 1) / static_cast<size_t>(chunks);
    Bytes out;
    for (const int sequence : order) {
        const size_t from = part * static_cast<size_t>(sequence - 1);
        Bytes body{static_cast<uint8_t>(sequence), static_cast<uint8_t>(chunks)};
        body.insert(body.end(), profile.begin() + static_cast<ptrdiff_t>(from),
                    profile.begin() + static_cast<ptrdiff_t>(std::min(profile.size(), from + part)));
        const Bytes segment = Segment(0xE2, std::string("ICC_PROFILE\0", 12), body);
        out.insert(out.end(), segment.begin(), segment.end());
    }
    return out;
}

Bytes IccProfile(size_t bytes, const char* space)
{
    const auto text = [](const char* four) { return Bytes(four, four + 4); };
    // Size, CMM, version 2.1, class, colour space, connection space, date, signature,
    // platform to rendering intent, the D50 illuminant, creator to reserved, no tags.
    Bytes size;
    Put(size, static_cast<uint32_t>(bytes), 4, true);
    Bytes p = Concat({size, Hex("00000000 02100000"), text("mntr"), text(space), text("XYZ "), Bytes(12),
                      text("acsp"), Bytes(28), Hex("0000F6D6 00010000 0000D32D"), Bytes(52)});
    for (size_t i = 132; i < bytes; ++i) p.push_back(static_cast<uint8_t>(i * 31 + i / 251));
    return p;
}

Bytes RgbPng(int width, int height, const Bytes& profile)
{
    PngLayout png{static_cast<uint32_t>(width), static_cast<uint32_t>(height), 8, 2};
    png.rows.assign(static_cast<size_t>(height), Bytes(static_cast<size_t>(width) * 3, 0x80));
    if (!profile.empty()) png.chunks = {{"iCCP", Concat({{'t', 'e', 's', 't', 0, 0}, Deflate(profile)})}};
    return Png(png);
}

std::vector<JpegSegment> SegmentsOf(const Bytes& jpeg)
{
    std::vector<JpegSegment> out;
    for (size_t at = 2; at + 4 <= jpeg.size() && jpeg[at] == 0xFF;) {
        const uint8_t code = jpeg[at + 1];
        if (code == 0xDA) break;
        const size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
        if (length < 2 || at + 2 + length > jpeg.size()) break;
        out.push_back({code, Bytes(jpeg.begin() + static_cast<ptrdiff_t>(at + 4),
                                   jpeg.begin() + static_cast<ptrdiff_t>(at + 2 + length))});
        at += 2 + length;
    }
    return out;
}

Bytes TiffOf(const TiffLayout& l, const Bytes& samples)
{
    const TempDir dir;
    TIFF* tif = TIFFOpen((dir / "p.tif").c_str(), "w");
    for (int page = 0; page < l.pages; ++page) {
        const uint32_t tags[]{TIFFTAG_IMAGEWIDTH,      TIFFTAG_IMAGELENGTH, TIFFTAG_BITSPERSAMPLE,
                              TIFFTAG_SAMPLESPERPIXEL, TIFFTAG_ORIENTATION, TIFFTAG_COMPRESSION,
                              TIFFTAG_PHOTOMETRIC};
        const int values[]{l.width,       l.height,        l.bits,       l.channels,
                           l.orientation, COMPRESSION_LZW, l.photometric};
        for (int i = 0; i < 7; ++i) TIFFSetField(tif, tags[i], values[i]);
        if (!l.icc.empty())
            TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(l.icc.size()), l.icc.data());
        if (!l.xmp.empty())
            TIFFSetField(tif, TIFFTAG_XMLPACKET, static_cast<uint32_t>(l.xmp.size()), l.xmp.data());
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        if (l.alpha) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
        const size_t pixel = static_cast<size_t>(l.channels) * l.bits / 8, pitch = pixel * l.width;
        if (!l.tiled) {
            if (l.stripRows > 0) TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, l.stripRows);
            for (int y = 0; y < l.height; ++y)
                TIFFWriteScanline(tif, const_cast<uint8_t*>(&samples[y * pitch]), y, 0);
        } else {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
            Bytes tile(16 * 16 * pixel);
            for (int ty = 0; ty < l.height; ty += 16)
                for (int tx = 0; tx < l.width; tx += 16) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (int y = ty; y < std::min(ty + 16, l.height); ++y)
                        std::memcpy(&tile[(y - ty) * 16 * pixel], &samples[y * pitch + tx * pixel],
                                    std::min(16, l.width - tx) * pixel);
                    TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0);
                }
        }
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    return ReadFileBytes(dir / "p.tif");
}

}  // namespace kxtest
