// Writes a reproducible folder of photo-like pictures for the peer benchmarks.
//
//   make_folder FOLDER [JPEGS] [WIDTH HEIGHT]     default 8 JPEGs, 4000 x 3000
//       JPEGs (quality 90, 4:2:0) plus two BMPs and two GIFs, all of one size.
//   make_folder --phone FOLDER COUNT [FIRST]
//       COUNT 4032x3024 JPEGs as a phone stores them, IMG_(1000 + FIRST).jpg on
//       (FIRST default 1): every fourth turned by EXIF orientation 6, every
//       fourth by 8. IMG_2000.jpg and later are upright, untagged.
//   make_folder --tree FOLDER COUNT
//       COUNT everyday pictures of 1 to 3 megapixels in folders by year and
//       month, some a level deeper: three fifths JPEG, a fifth PNG, a fifth
//       lossy WebP, every seventh portrait. Names are unique across the tree.
//
// Every picture comes from a fixed seed, so two runs write the same bytes.
#include <gif_lib.h>
#include <png.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <webp/encode.h>

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
        const double across = std::cos(fy * 23.0 - phase);
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 29) - 4;
            const double fx = static_cast<double>(x) / w;
            const double wave = 40.0 * std::sin(fx * 31.0 + fy * 7.0 + phase) * across;
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

// With `orientation` above 1, an EXIF segment holding only that tag
// follows the start of the file, as a phone writes a picture on its side.
bool WriteJpeg(const std::string& path, const std::vector<uint8_t>& rgb, int w, int h, int orientation = 1)
{
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    bool ok = tj && tjCompress2(tj, rgb.data(), w, 0, h, TJPF_RGB, &out, &size, TJSAMP_420, 90, 0) == 0;
    if (ok && orientation > 1) {
        // APP1 "Exif", a little-endian TIFF header and one IFD of one SHORT entry (0x0112).
        const uint8_t exif[] = {0xFF,
                                0xE1,
                                0,
                                34,
                                'E',
                                'x',
                                'i',
                                'f',
                                0,
                                0,
                                'I',
                                'I',
                                42,
                                0,
                                8,
                                0,
                                0,
                                0,
                                1,
                                0,
                                0x12,
                                0x01,
                                3,
                                0,
                                1,
                                0,
                                0,
                                0,
                                static_cast<uint8_t>(orientation),
                                0,
                                0,
                                0,
                                0,
                                0,
                                0,
                                0};
        std::vector<uint8_t> file(out, out + 2);
        file.insert(file.end(), exif, exif + sizeof exif);
        file.insert(file.end(), out + 2, out + size);
        ok = WriteFile(path, file.data(), file.size());
    } else {
        ok = ok && WriteFile(path, out, size);
    }
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

// 8-bit RGB at the fastest compression, as a screenshot tool would.
bool WritePng(const std::string& path, const std::vector<uint8_t>& rgb, int w, int h)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = info && setjmp(png_jmpbuf(png)) == 0;
    if (ok) {
        png_init_io(png, f);
        png_set_compression_level(png, 1);
        png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < h; ++y) png_write_row(png, rgb.data() + static_cast<size_t>(y) * w * 3);
        png_write_end(png, info);
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0 && ok;
}

// Lossy, quality 80, at the encoder's fastest method.
bool WriteWebp(const std::string& path, const std::vector<uint8_t>& rgb, int w, int h)
{
    WebPConfig config;
    WebPPicture picture;
    if (!WebPConfigInit(&config) || !WebPPictureInit(&picture)) return false;
    config.quality = 80;
    config.method = 0;
    picture.width = w;
    picture.height = h;
    WebPMemoryWriter memory;
    WebPMemoryWriterInit(&memory);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &memory;
    const bool ok = WebPPictureImportRGB(&picture, rgb.data(), w * 3) && WebPEncode(&config, &picture) &&
                    WriteFile(path, memory.mem, memory.size);
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&memory);
    return ok;
}

int MakePhone(const std::string& folder, int count, int first)
{
    for (int i = first; i < first + count; ++i) {
        const int orientation = i >= 1000 ? 1 : i % 4 == 1 ? 6 : i % 4 == 3 ? 8 : 1;
        const std::string path = folder + "/IMG_" + std::to_string(1000 + i) + ".jpg";
        if (!WriteJpeg(path, PhotoLike(4032, 3024, 4099u + 7919u * i), 4032, 3024, orientation))
            return std::fprintf(stderr, "make_folder: cannot write %s\n", path.c_str()), 1;
    }
    return 0;
}

int MakeTree(const std::string& folder, int count)
{
    const int sizes[][2] = {{1152, 864}, {1600, 1200}, {2000, 1500}, {1440, 1080}};
    for (int i = 0; i < count; ++i) {
        char month[16];
        std::snprintf(month, sizeof month, "/%d/%02d", 2015 + i % 6, 1 + (i / 6) % 12);
        std::string path = folder + std::string(month, 5);
        ::mkdir(path.c_str(), 0777);
        path = folder + month;
        ::mkdir(path.c_str(), 0777);
        if (i % 9 == 8) ::mkdir((path += "/edits").c_str(), 0777);
        int w = sizes[i % 4][0], h = sizes[i % 4][1];
        if (i % 7 == 0) std::swap(w, h);
        const std::vector<uint8_t> rgb = PhotoLike(w, h, 31337u + 7919u * i);
        char name[32];
        const char* extension = i % 5 == 3 ? "png" : i % 5 == 4 ? "webp" : "jpg";
        std::snprintf(name, sizeof name, "/pic%04d.%s", i, extension);
        path += name;
        const bool ok = i % 5 == 3   ? WritePng(path, rgb, w, h)
                        : i % 5 == 4 ? WriteWebp(path, rgb, w, h)
                                     : WriteJpeg(path, rgb, w, h);
        if (!ok) return std::fprintf(stderr, "make_folder: cannot write %s\n", path.c_str()), 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--phone" && argc > 3)
        return MakePhone(argv[2], std::atoi(argv[3]), argc > 4 ? std::atoi(argv[4]) : 1);
    if (mode == "--tree" && argc > 3) return MakeTree(argv[2], std::atoi(argv[3]));
    if (argc < 2 || mode.starts_with("--")) {
        std::fprintf(stderr, "usage: make_folder FOLDER [JPEGS] [WIDTH HEIGHT]\n"
                             "       make_folder --phone FOLDER COUNT [FIRST] | --tree FOLDER COUNT\n");
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
