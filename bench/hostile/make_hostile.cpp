// Writes three small files that claim far more than they hold, for run.sh:
//   g4.tif     a blank 30000 x 20000 1-bit page, CCITT G4 coded in strips of 5 rows
//   canvas.webp an animation on a 65535 x 10922 canvas, one tiny frame and
//              metadata that brings the file to 11 KB
//   ztxt.png   a 640 x 480 grey picture with 300 zTXt chunks, each inflating
//              to 8 MiB (2.4 GB in all)
//
//   make_hostile FOLDER
#include <tiffio.h>
#include <webp/encode.h>
#include <webp/mux.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

bool WriteFile(const std::string& path, const Bytes& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

bool MakeG4Tiff(const std::string& path)
{
    constexpr uint32_t kWidth = 30000, kHeight = 20000;
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 5);  // as scanners write: about 42 KB in all
    const std::vector<uint8_t> blank((kWidth + 7) / 8, 0);
    bool ok = true;
    for (uint32_t y = 0; y < kHeight && ok; ++y)
        ok = TIFFWriteScanline(tif, const_cast<uint8_t*>(blank.data()), y, 0) == 1;
    TIFFClose(tif);
    return ok;
}

bool MakeCanvasWebp(const std::string& path)
{
    // One white 16 x 16 lossless frame.
    const std::vector<uint8_t> rgba(16 * 16 * 4, 255);
    uint8_t* frame = nullptr;
    const size_t frameSize = WebPEncodeLosslessRGBA(rgba.data(), 16, 16, 16 * 4, &frame);
    if (frameSize == 0) return false;
    WebPMux* mux = WebPMuxNew();
    WebPMuxFrameInfo info{};
    info.bitstream = {frame, frameSize};
    info.duration = 100;
    info.id = WEBP_CHUNK_ANMF;
    info.dispose_method = WEBP_MUX_DISPOSE_NONE;
    info.blend_method = WEBP_MUX_NO_BLEND;
    const std::vector<uint8_t> padding(11000, 'x');  // an XMP chunk: 11 KB, as a plausible file
    const WebPData xmp{padding.data(), padding.size()};
    WebPMuxAnimParams params{0xFFFFFFFF, 0};
    WebPData assembled{};
    const bool ok = WebPMuxPushFrame(mux, &info, 1) == WEBP_MUX_OK &&
                    WebPMuxSetCanvasSize(mux, 65535, 10922) == WEBP_MUX_OK &&
                    WebPMuxSetAnimationParams(mux, &params) == WEBP_MUX_OK &&
                    WebPMuxSetChunk(mux, "XMP ", &xmp, 1) == WEBP_MUX_OK &&
                    WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK &&
                    WriteFile(path, Bytes(assembled.bytes, assembled.bytes + assembled.size));
    WebPDataClear(&assembled);
    WebPMuxDelete(mux);
    WebPFree(frame);
    return ok;
}

void PutChunk(Bytes& png, const char* type, const Bytes& data)
{
    const uint32_t size = static_cast<uint32_t>(data.size());
    for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<uint8_t>(size >> shift));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    const uint32_t crc = static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size())));
    for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<uint8_t>(crc >> shift));
}

Bytes Deflated(const Bytes& data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 9);
    out.resize(size);
    return out;
}

bool MakeTextPng(const std::string& path)
{
    constexpr uint32_t kWidth = 640, kHeight = 480;
    Bytes png{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes header;
    for (uint32_t v : {kWidth, kHeight})
        for (int shift = 24; shift >= 0; shift -= 8) header.push_back(static_cast<uint8_t>(v >> shift));
    header.insert(header.end(), {8, 0, 0, 0, 0});  // 8-bit grey
    PutChunk(png, "IHDR", header);
    Bytes text{'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
    const Bytes inflated = Deflated(Bytes(size_t{8} << 20, 'a'));
    text.insert(text.end(), inflated.begin(), inflated.end());
    for (int i = 0; i < 300; ++i) PutChunk(png, "zTXt", text);
    Bytes rows;
    for (uint32_t y = 0; y < kHeight; ++y) {
        rows.push_back(0);
        for (uint32_t x = 0; x < kWidth; ++x) rows.push_back(static_cast<uint8_t>(x ^ y));
    }
    PutChunk(png, "IDAT", Deflated(rows));
    PutChunk(png, "IEND", {});
    return WriteFile(path, png);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_hostile FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    TIFFSetWarningHandler(nullptr);
    if (!MakeG4Tiff(folder + "/g4.tif") || !MakeCanvasWebp(folder + "/canvas.webp") ||
        !MakeTextPng(folder + "/ztxt.png")) {
        std::fprintf(stderr, "make_hostile: could not write the files\n");
        return 1;
    }
    return 0;
}
