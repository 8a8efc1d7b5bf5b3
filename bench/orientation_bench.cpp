// The cost of turning camera photos upright: scale-to-width 640 of the same
// 12-megapixel JPEG with EXIF orientation 1 (nothing to turn) and with the
// others (a mirror, a half turn, quarter turns), and the decode alone.
// The aim: orientation 6 within 1.10x of orientation 1.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchPictures.h"
#include "engine/files/PictureLoader.h"
#include "engine/operations/modMain.h"

namespace {

// The 12-megapixel photo with an EXIF segment holding `orientation`.
std::string Photo(int orientation)
{
    static const std::string plain = kxbench::MakePhotoJpeg(4000, 3000, "/tmp/kx-bench-orient-plain.jpg");
    const std::string path = "/tmp/kx-bench-orient-" + std::to_string(orientation) + ".jpg";
    std::FILE* in = std::fopen(plain.c_str(), "rb");
    std::vector<uint8_t> bytes;
    for (int c; (c = std::fgetc(in)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(in);
    const std::vector<uint8_t> exif{0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0, 0,
                                    'M',  'M',  0, 42, 0,   0,   0,   8,   0, 1,
                                    0x01, 0x12, 0, 3,  0,   0,   0,   1,   0, uint8_t(orientation),
                                    0,    0,    0, 0,  0,   0};
    const size_t at = 4 + (size_t{bytes[4]} << 8 | bytes[5]);
    bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(at), exif.begin(), exif.end());
    std::FILE* out = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
    return path;
}

void BM_ResizeMaxWidth640_Orientation(benchmark::State& state)
{
    const std::string path = Photo(static_cast<int>(state.range(0)));
    for (auto _ : state)
        if (!kx::ResizeMaxWidth(path, "/tmp/kx-bench-orient-out.jpg", 640, 90)) state.SkipWithError("failed");
}
BENCHMARK(BM_ResizeMaxWidth640_Orientation)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Arg(6)
    ->Arg(8)
    ->Unit(benchmark::kMillisecond);

void BM_Load12MP_Orientation(benchmark::State& state)
{
    const std::string path = Photo(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        kx::cDIBSection surface;
        if (!kx::LoadPicture(path, surface)) state.SkipWithError("failed");
    }
}
BENCHMARK(BM_Load12MP_Orientation)->Arg(1)->Arg(3)->Arg(6)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
