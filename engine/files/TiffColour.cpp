#include "engine/files/TiffColour.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <span>

#include "engine/files/DecodeLimits.h"

namespace kx {

bool TiffProfileRows::Open(TIFF* tif, PixelOut out)
{
    uint16_t photometric = 0, bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT,
             inkset = INKSET_CMYK, extra = 0;
    uint16_t* extraKinds = nullptr;
    if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1 ||
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width_) != 1 ||
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height_) != 1)
        return false;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkset);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra, &extraKinds);
    if (planar != PLANARCONFIG_CONTIG || format != SAMPLEFORMAT_UINT || extra != 0 || width_ == 0 ||
        height_ == 0)
        return false;
    const bool cmyk = photometric == PHOTOMETRIC_SEPARATED && inkset == INKSET_CMYK && samples == 4;
    const bool lab = (photometric == PHOTOMETRIC_CIELAB || photometric == PHOTOMETRIC_ICCLAB) && samples == 3;
    if (!(cmyk || lab) || (bits != 8 && bits != 16)) return false;
    // Without profiles libtiff converts the rest itself, as each ink times black.
    plainCmyk_ = !CmykThroughProfile();
    if (plainCmyk_ && !(cmyk && bits == 16)) return false;
    const SampleKind kind = cmyk ? (bits == 8 ? SampleKind::Cmyk8 : SampleKind::Cmyk16)
                                 : (bits == 8 ? SampleKind::Lab8 : SampleKind::Lab16);
    signedAb_ = photometric == PHOTOMETRIC_CIELAB;
    pixelBytes_ = size_t{samples} * (bits / 8);

    if (!plainCmyk_) {
        uint32_t count = 0;
        void* data = nullptr;
        std::span<const uint8_t> profile;
        if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &count, &data) == 1 && data != nullptr)
            profile = {static_cast<const uint8_t*>(data), count};
        transform_ = SrgbTransform(profile, kind, out);
        if (!transform_) return false;
        transformBytes_ = TransformBytes(profile);
    }

    // libtiff's own sizes must hold the pixels this reads from them.
    tiled_ = TIFFIsTiled(tif) != 0;
    if (tiled_) {
        if (TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth_) != 1 ||
            TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight_) != 1 || tileWidth_ == 0 || tileHeight_ == 0)
            return false;
        const uint64_t tile = TIFFTileSize64(tif);
        if (tile < uint64_t{tileWidth_} * tileHeight_ * pixelBytes_ ||
            tile > static_cast<uint64_t>(kMaxSurfaceBytes))
            return false;
        tileBytes_ = tile;
        const uint64_t across = (uint64_t{width_} + tileWidth_ - 1) / tileWidth_;
        bufferBytes_ = static_cast<int64_t>(std::min<uint64_t>(across * tile, INT64_MAX / 4));
    } else {
        const uint64_t line = TIFFScanlineSize64(tif);
        if (line < uint64_t{width_} * pixelBytes_ || line > static_cast<uint64_t>(kMaxSurfaceBytes))
            return false;
        bufferBytes_ = static_cast<int64_t>(line);
    }
    tif_ = tif;
    out_ = out;
    return true;
}

bool TiffProfileRows::Start()
{
    try {
        buffer_.assign(static_cast<size_t>(bufferBytes_), 0);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// 16-bit inks as libtiff turns 8-bit ones into RGB: each sample taken to 8
// bits as libtiff does for 16-bit RGB, then each colour's ink times black.
void TiffProfileRows::PlainCmyk16(const uint8_t* samples, uint8_t* out, uint32_t pixels) const
{
    const auto eight = [](uint16_t v) { return (v + 128u) / 257u; };
    for (uint32_t x = 0; x < pixels; ++x) {
        uint16_t ink[4];
        std::memcpy(ink, samples + x * 8, 8);
        const unsigned k = 255 - eight(ink[3]);
        const unsigned r = k * (255 - eight(ink[0])) / 255, g = k * (255 - eight(ink[1])) / 255,
                       b = k * (255 - eight(ink[2])) / 255;
        if (out_ == PixelOut::Bgr) {
            out[x * 3] = static_cast<uint8_t>(b);
            out[x * 3 + 1] = static_cast<uint8_t>(g);
            out[x * 3 + 2] = static_cast<uint8_t>(r);
        } else {
            const uint32_t word = r | g << 8 | b << 16 | 0xFF000000u;
            std::memcpy(out + x * 4, &word, 4);
        }
    }
}

void TiffProfileRows::Convert(uint8_t* samples, uint8_t* out, uint32_t pixels) const
{
    if (plainCmyk_) return PlainCmyk16(samples, out, pixels);
    // CIELAB to the ICC encoding: signed a and b offset by half their
    // range, and a 16-bit L from 0xFFFF for 100 to 0xFF00.
    if (signedAb_ && pixelBytes_ == 3)
        for (uint32_t x = 0; x < pixels; ++x) {
            samples[x * 3 + 1] ^= 0x80;
            samples[x * 3 + 2] ^= 0x80;
        }
    if (signedAb_ && pixelBytes_ == 6)
        for (uint32_t x = 0; x < pixels; ++x) {
            uint16_t lab[3];
            std::memcpy(lab, samples + x * 6, 6);
            lab[0] = static_cast<uint16_t>((lab[0] * 0xFF00u + 0x7FFF) / 0xFFFF);
            lab[1] ^= 0x8000;
            lab[2] ^= 0x8000;
            std::memcpy(samples + x * 6, lab, 6);
        }
    transform_.Convert(samples, out, static_cast<int>(pixels));
    if (out_ == PixelOut::RgbaWords)
        for (uint32_t x = 0; x < pixels; ++x)
            out[x * 4 + (std::endian::native == std::endian::little ? 3 : 0)] = 255;
}

// The tiles across the picture at the row reached, each whole in the buffer.
bool TiffProfileRows::ReadBand()
{
    bandTop_ = row_ - row_ % tileHeight_;
    for (uint32_t x = 0, i = 0; x < width_; x += tileWidth_, ++i)
        if (TIFFReadTile(tif_, buffer_.data() + i * tileBytes_, x, bandTop_, 0, 0) < 0) return false;
    return true;
}

bool TiffProfileRows::NextRow(uint8_t* out)
{
    if (row_ >= height_) return false;
    const size_t outBytes = out_ == PixelOut::Bgr ? 3 : 4;
    if (!tiled_) {
        if (TIFFReadScanline(tif_, buffer_.data(), row_, 0) != 1) return false;
        Convert(buffer_.data(), out, width_);
    } else {
        if (row_ % tileHeight_ == 0 && !ReadBand()) return false;
        const size_t rowInTile = (row_ - bandTop_) * size_t{tileWidth_} * pixelBytes_;
        for (uint32_t x = 0, i = 0; x < width_; x += tileWidth_, ++i)
            Convert(buffer_.data() + i * tileBytes_ + rowInTile, out + x * outBytes,
                    std::min(tileWidth_, width_ - x));
    }
    ++row_;
    return true;
}

}  // namespace kx
