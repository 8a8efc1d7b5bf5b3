// The floor of the peer benchmark: the least work any tool must do per
// picture. A plain libjpeg-turbo decode (giflib for GIF, TurboJPEG's loader
// for BMP), a nearest-neighbour shrink and a quality-90 encode, on N threads.
// Each thread keeps its buffers from picture to picture, so that page faults
// are paid once, not per picture.
//
//   floor [-j N] (--width W | --fit WxH) IN_FOLDER OUT_FOLDER
#include <dirent.h>
#include <gif_lib.h>
#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Picture {
    int w = 0, h = 0;
    std::vector<unsigned char> rgb;  // top-down R, G, B
};

// The file's size, 0 when it cannot be read; `bytes` only grows.
size_t ReadFile(const std::string& path, std::vector<unsigned char>& bytes)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    if (size > 0 && bytes.size() < static_cast<size_t>(size)) bytes.resize(static_cast<size_t>(size));
    const bool ok =
        size > 0 && std::fread(bytes.data(), 1, static_cast<size_t>(size), f) == static_cast<size_t>(size);
    std::fclose(f);
    return ok ? static_cast<size_t>(size) : 0;
}

bool DecodeJpeg(tjhandle tj, const std::string& path, std::vector<unsigned char>& bytes, Picture& p)
{
    int sub = 0, space = 0;
    const size_t size = ReadFile(path, bytes);
    if (size == 0 || tjDecompressHeader3(tj, bytes.data(), size, &p.w, &p.h, &sub, &space) != 0) return false;
    p.rgb.resize(static_cast<size_t>(p.w) * p.h * 3);
    return tjDecompress2(tj, bytes.data(), size, p.rgb.data(), p.w, 0, p.h, TJPF_RGB, 0) == 0;
}

bool DecodeBmp(tjhandle tj, const std::string& path, Picture& p)
{
    int format = TJPF_RGB;
    unsigned char* pixels = tjLoadImage(path.c_str(), &p.w, 1, &p.h, &format, 0);
    if (!pixels) return false;
    p.rgb.assign(pixels, pixels + static_cast<size_t>(p.w) * p.h * 3);
    tjFree(pixels);
    (void)tj;
    return true;
}

bool DecodeGif(const std::string& path, Picture& p)
{
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (!gif) return false;
    bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount > 0;
    if (ok) {
        const SavedImage& image = gif->SavedImages[0];
        const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        p.w = gif->SWidth;
        p.h = gif->SHeight;
        ok = map && image.ImageDesc.Width == p.w && image.ImageDesc.Height == p.h;
        if (ok) {
            p.rgb.resize(static_cast<size_t>(p.w) * p.h * 3);
            for (size_t i = 0; i < static_cast<size_t>(p.w) * p.h; ++i) {
                const GifColorType c = map->Colors[image.RasterBits[i] % map->ColorCount];
                p.rgb[3 * i] = c.Red, p.rgb[3 * i + 1] = c.Green, p.rgb[3 * i + 2] = c.Blue;
            }
        }
    }
    DGifCloseFile(gif, &error);
    return ok;
}

void Shrink(const Picture& in, int w, int h, Picture& out)
{
    out.w = w, out.h = h;
    out.rgb.resize(static_cast<size_t>(w) * h * 3);
    std::vector<int> columns(w);
    for (int x = 0; x < w; ++x) columns[x] = static_cast<int>(static_cast<long long>(x) * in.w / w) * 3;
    for (int y = 0; y < h; ++y) {
        const unsigned char* from =
            in.rgb.data() + static_cast<size_t>(static_cast<long long>(y) * in.h / h) * in.w * 3;
        unsigned char* to = out.rgb.data() + static_cast<size_t>(y) * w * 3;
        for (int x = 0; x < w; ++x) std::memcpy(to + 3 * x, from + columns[x], 3);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    int width = 0, fitW = 0, fitH = 0;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-j" && i + 1 < argc)
            jobs = std::atoi(argv[++i]);
        else if (arg == "--width" && i + 1 < argc)
            width = std::atoi(argv[++i]);
        else if (arg == "--fit" && i + 1 < argc)
            std::sscanf(argv[++i], "%dx%d", &fitW, &fitH);
        else
            folders.push_back(arg);
    }
    if (folders.size() != 2 || jobs < 1 || (width <= 0 && (fitW <= 0 || fitH <= 0))) {
        std::fprintf(stderr, "usage: floor [-j N] (--width W | --fit WxH) IN_FOLDER OUT_FOLDER\n");
        return 2;
    }
    std::vector<std::string> names;
    if (DIR* dir = opendir(folders[0].c_str())) {
        while (const dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            const std::string ext = name.size() > 4 ? name.substr(name.size() - 4) : "";
            if (ext == ".jpg" || ext == ".bmp" || ext == ".gif") names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());

    std::atomic<size_t> next{0};
    std::atomic<int> failures{0};
    auto work = [&] {
        tjhandle decoder = tjInitDecompress(), encoder = tjInitCompress();
        std::vector<unsigned char> bytes, jpeg;
        Picture p, small;
        for (size_t i = next++; i < names.size(); i = next++) {
            const std::string& name = names[i];
            const std::string in = folders[0] + "/" + name;
            const char kind = name[name.size() - 3];
            const bool ok = kind == 'j'   ? DecodeJpeg(decoder, in, bytes, p)
                            : kind == 'b' ? DecodeBmp(decoder, in, p)
                                          : DecodeGif(in, p);
            if (!ok) {
                ++failures;
                continue;
            }
            double scale =
                width > 0 ? static_cast<double>(width) / p.w
                          : std::min({1.0, static_cast<double>(fitW) / p.w, static_cast<double>(fitH) / p.h});
            const int w = std::max(1, static_cast<int>(std::lround(p.w * scale)));
            const int h = std::max(1, static_cast<int>(std::lround(p.h * scale)));
            Shrink(p, w, h, small);
            const unsigned long bound = tjBufSize(w, h, TJSAMP_420);
            if (jpeg.size() < bound) jpeg.resize(bound);
            unsigned char* out = jpeg.data();
            unsigned long size = bound;
            const std::string path = folders[1] + "/" + name.substr(0, name.size() - 4) + ".jpg";
            FILE* f = nullptr;
            if (tjCompress2(encoder, small.rgb.data(), w, 0, h, TJPF_RGB, &out, &size, TJSAMP_420, 90,
                            TJFLAG_NOREALLOC) != 0 ||
                !(f = std::fopen(path.c_str(), "wb")) || std::fwrite(out, 1, size, f) != size)
                ++failures;
            if (f) std::fclose(f);
        }
        tjDestroy(decoder);
        tjDestroy(encoder);
    };
    std::vector<std::thread> threads;
    for (int t = 1; t < jobs; ++t) threads.emplace_back(work);
    work();
    for (auto& t : threads) t.join();
    return failures == 0 ? 0 : 1;
}
