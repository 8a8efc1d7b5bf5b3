// Writes one photo-like picture as JPEG (quality 90), PNG, TIFF (LZW, 16-row
// strips) and lossy WebP (quality 90), row by row where the format allows:
// soft gradients, discs, fine stripes and a little grain (one level), the same on every
// run. Usage: make_big WIDTH HEIGHT OUT_PREFIX (writes PREFIX.jpg, .png, .tif,
// .webp). The WebP side is at most 16383.
#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>
#include <webp/encode.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Row y, RGB.
void MakeRow(int width, int height, int y, std::vector<uint8_t>& row)
{
    uint32_t seed = 2463534242u ^ static_cast<uint32_t>(y) * 2654435761u;
    for (int x = 0; x < width; ++x) {
        seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
        const double u = static_cast<double>(x) / width, v = static_cast<double>(y) / height;
        const double disc = std::fmod(std::hypot(u - 0.4, v - 0.55) * 23.0, 1.0) < 0.5 ? 30.0 : 0.0;
        const double stripes = (x / 3 + y / 5) % 7 == 0 ? 25.0 : 0.0;
        const int grain = static_cast<int>(seed % 3) - 1;
        const double r = 60 + 140 * u + disc + grain, g = 90 + 100 * v + stripes + grain,
                     b = 160 - 90 * u * v + disc / 2 + grain;
        row[3 * x] = static_cast<uint8_t>(std::clamp(r, 0.0, 255.0));
        row[3 * x + 1] = static_cast<uint8_t>(std::clamp(g, 0.0, 255.0));
        row[3 * x + 2] = static_cast<uint8_t>(std::clamp(b, 0.0, 255.0));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) return std::fprintf(stderr, "usage: make_big WIDTH HEIGHT OUT_PREFIX\n"), 2;
    const int width = std::atoi(argv[1]), height = std::atoi(argv[2]);
    const std::string prefix = argv[3];
    std::vector<uint8_t> whole(static_cast<size_t>(width) * height * 3), row(static_cast<size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        MakeRow(width, height, y, row);
        std::copy(row.begin(), row.end(), whole.begin() + static_cast<size_t>(y) * width * 3);
    }
    // JPEG, 4:2:0.
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    if (tjCompress2(tj, whole.data(), width, 0, height, TJPF_RGB, &jpeg, &jpegSize, TJSAMP_420, 90, 0) != 0)
        return std::fprintf(stderr, "make_big: %s\n", tjGetErrorStr2(tj)), 1;
    FILE* f = std::fopen((prefix + ".jpg").c_str(), "wb");
    std::fwrite(jpeg, 1, jpegSize, f);
    std::fclose(f);
    tjFree(jpeg);
    tjDestroy(tj);
    // PNG, default compression.
    f = std::fopen((prefix + ".png").c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) png_write_row(png, whole.data() + static_cast<size_t>(y) * width * 3);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    // TIFF, LZW with the horizontal predictor.
    TIFF* tif = TIFFOpen((prefix + ".tif").c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, 2);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
    for (int y = 0; y < height; ++y)
        TIFFWriteScanline(tif, whole.data() + static_cast<size_t>(y) * width * 3, y, 0);
    TIFFClose(tif);
    // WebP, lossy.
    uint8_t* webp = nullptr;
    const size_t webpSize = WebPEncodeRGB(whole.data(), width, height, width * 3, 90, &webp);
    if (webpSize == 0) return std::fprintf(stderr, "make_big: the WebP encoder failed\n"), 1;
    f = std::fopen((prefix + ".webp").c_str(), "wb");
    std::fwrite(webp, 1, webpSize, f);
    std::fclose(f);
    WebPFree(webp);
    return 0;
}
