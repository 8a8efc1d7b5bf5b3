// Writes a reproducible folder of photo-like pictures for the peer benchmark:
// JPEGs (quality 90, 4:2:0) plus two BMPs and two GIFs, all of one size.
//
//   make_folder FOLDER [JPEGS] [WIDTH HEIGHT]     default 8 JPEGs, 4000 x 3000
//
// Every picture comes from a fixed seed, so two runs write the same bytes.
#include <gif_lib.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Smooth gradients, waves and fine noise, like FillPhotoLike in
// BenchPictures.h, with a phase per picture so that no two are alike.
// Rows top-down, bytes R, G, B.
std::vector<uint8_t> PhotoLike(int w, int h, uint32_t seed)
{
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    const double phase = (seed % 97) * 0.37;
    auto clamp = [](double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    for (int y = 0; y < h; ++y) {
        uint8_t* row = rgb.data() + static_cast<size_t>(y) * w * 3;
        const double fy = static_cast<double>(y) / h;
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 29) - 4;
            const double fx = static_cast<double>(x) / w;
            const double wave = 40.0 * std::sin(fx * 31.0 + fy * 7.0 + phase) * std::cos(fy * 23.0 - phase);
            row[3 * x] = clamp(200 - 120 * fx * fy - wave + noise);
            row[3 * x + 1] = clamp(60 + 100 * fx + 0.5 * wave + noise);
            row[3 * x + 2] = clamp(90 + 120 * fy + wave + noise);
        }
    }
    return rgb;
}

bool WriteFile(const std::string& path, const void* data, size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

bool WriteJpeg(const std::string& path, const std::vector<uint8_t>& rgb, int w, int h)
{
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const bool ok = tj &&
                    tjCompress2(tj, rgb.data(), w, 0, h, TJPF_RGB, &out, &size, TJSAMP_420, 90, 0) == 0 &&
                    WriteFile(path, out, size);
    tjFree(out);
    if (tj) tjDestroy(tj);
    return ok;
}

// 24-bit, bottom-up.
bool WriteBmp(const std::string& path, const std::vector<uint8_t>& rgb, int w, int h)
{
    const size_t stride = (static_cast<size_t>(w) * 3 + 3) / 4 * 4;
    std::vector<uint8_t> b(54 + stride * h, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    put32(2, static_cast<uint32_t>(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(w));
    put32(22, static_cast<uint32_t>(h));
    put32(26, 1 | (24 << 16));
    for (int y = 0; y < h; ++y) {
        const uint8_t* from = rgb.data() + static_cast<size_t>(h - 1 - y) * w * 3;
        uint8_t* to = b.data() + 54 + y * stride;
        for (int x = 0; x < w; ++x)
            to[3 * x] = from[3 * x + 2], to[3 * x + 1] = from[3 * x + 1], to[3 * x + 2] = from[3 * x];
    }
    return WriteFile(path, b.data(), b.size());
}

// 256 colours: 3 bits red, 3 green, 2 blue.
bool WriteGif(const std::string& path, const std::vector<uint8_t>& rgb, int w, int h)
{
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif) return false;
    GifColorType colours[256];
    for (int i = 0; i < 256; ++i)
        colours[i] = {static_cast<GifByteType>((i >> 5) * 255 / 7),
                      static_cast<GifByteType>(((i >> 2) & 7) * 255 / 7),
                      static_cast<GifByteType>((i & 3) * 255 / 3)};
    ColorMapObject* map = GifMakeMapObject(256, colours);
    bool ok = EGifPutScreenDesc(gif, w, h, 8, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
    std::vector<GifPixelType> line(static_cast<size_t>(w));
    for (int y = 0; ok && y < h; ++y) {
        const uint8_t* p = rgb.data() + static_cast<size_t>(y) * w * 3;
        for (int x = 0; x < w; ++x)
            line[x] = static_cast<GifPixelType>((p[3 * x] >> 5) << 5 | (p[3 * x + 1] >> 5) << 2 |
                                                p[3 * x + 2] >> 6);
        ok = EGifPutLine(gif, line.data(), w) == GIF_OK;
    }
    GifFreeMapObject(map);
    return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_folder FOLDER [JPEGS] [WIDTH HEIGHT]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int count = argc > 2 ? std::atoi(argv[2]) : 8;
    const int w = argc > 4 ? std::atoi(argv[3]) : 4000, h = argc > 4 ? std::atoi(argv[4]) : 3000;
    if (count < 0 || w < 16 || h < 16 || w > 20000 || h > 20000) return 2;
    char name[64];
    for (int i = 0; i < count + 4; ++i) {
        const std::vector<uint8_t> rgb = PhotoLike(w, h, 2024u + 7919u * i);
        bool ok;
        if (i < count) {
            std::snprintf(name, sizeof name, "/photo%02d.jpg", i + 1);
            ok = WriteJpeg(folder + name, rgb, w, h);
        } else if (i < count + 2) {
            std::snprintf(name, sizeof name, "/scan%02d.bmp", i - count + 1);
            ok = WriteBmp(folder + name, rgb, w, h);
        } else {
            std::snprintf(name, sizeof name, "/poster%02d.gif", i - count - 1);
            ok = WriteGif(folder + name, rgb, w, h);
        }
        if (!ok) {
            std::fprintf(stderr, "make_folder: cannot write %s%s\n", folder.c_str(), name);
            return 1;
        }
    }
    return 0;
}
