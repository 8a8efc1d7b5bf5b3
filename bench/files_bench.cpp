// Picture files: the engine's load and save against the bare TurboJPEG calls
// on the same 12-megapixel picture, and the resampler's throughput.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "BenchPictures.h"
#include "engine/files/mIntelJPEGLibrary.h"

namespace {

const std::string& Photo12MP()
{
    static const std::string path = kxbench::MakePhotoJpeg(4000, 3000, "/tmp/kx-bench-12mp.jpg");
    return path;
}

// A 12 MP uncompressed 24-bit BMP of the same photo: its rows are stored as
// a surface keeps them, bottom-up and padded to 4 bytes.
const std::string& Photo12MPBmp()
{
    static const std::string path = [] {
        kx::cDIBSection s;
        s.Create(4000, 3000);
        kxbench::FillPhotoLike(s);
        const uint32_t pixels = static_cast<uint32_t>(s.BytesPerScanLine()) * 3000;
        std::vector<unsigned char> header(54, 0);
        auto put = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i) header[at + i] = static_cast<unsigned char>(v >> (8 * i));
        };
        header[0] = 'B';
        header[1] = 'M';
        put(2, 54 + pixels);  // file size
        put(10, 54);          // where the rows start
        put(14, 40);          // information header size
        put(18, 4000);
        put(22, 3000);
        put(26, 1 | 24 << 16);  // one plane, 24 bits a pixel
        const std::string file = "/tmp/kx-bench-12mp.bmp";
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(header.data()), 54);
        out.write(reinterpret_cast<const char*>(s.DIBSectionBitsPtr()), pixels);
        return file;
    }();
    return path;
}

std::vector<unsigned char> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void BM_Resample(benchmark::State& state)
{
    const int ws = static_cast<int>(state.range(0)), hs = static_cast<int>(state.range(1));
    const int wd = static_cast<int>(state.range(2)), hd = static_cast<int>(state.range(3));
    kx::cDIBSection source;
    source.Create(ws, hs);
    kxbench::FillPhotoLike(source);
    for (auto _ : state) {
        auto result = source.Resample(hd, wd);
        benchmark::DoNotOptimize(result->DIBSectionBitsPtr());
    }
    state.SetItemsProcessed(state.iterations() * int64_t{wd} * hd);  // output pixels
}
BENCHMARK(BM_Resample)
    ->Args({4000, 3000, 640, 480})
    ->Args({640, 480, 4000, 3000})
    ->Unit(benchmark::kMillisecond);

void BM_LoadPictureFile_12MP(benchmark::State& state)
{
    const std::string& path = Photo12MP();
    for (auto _ : state) {
        kx::cDIBSection surface;
        if (!kx::LoadPictureFile(surface, path)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(surface.DIBSectionBitsPtr());
    }
}
BENCHMARK(BM_LoadPictureFile_12MP)->Unit(benchmark::kMillisecond);

void BM_LoadPictureFile_12MP_Bmp(benchmark::State& state)
{
    const std::string& path = Photo12MPBmp();
    for (auto _ : state) {
        kx::cDIBSection surface;
        if (!kx::LoadPictureFile(surface, path)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(surface.DIBSectionBitsPtr());
    }
}
BENCHMARK(BM_LoadPictureFile_12MP_Bmp)->Unit(benchmark::kMillisecond);

// The floor for a BMP: read the whole file into a buffer kept between calls.
void BM_BareRead_12MP_Bmp(benchmark::State& state)
{
    const std::string& path = Photo12MPBmp();
    std::vector<unsigned char> bytes(ReadAll(path).size());
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "rb");
        benchmark::DoNotOptimize(std::fread(bytes.data(), 1, bytes.size(), f));
        std::fclose(f);
    }
}
BENCHMARK(BM_BareRead_12MP_Bmp)->Unit(benchmark::kMillisecond);

// The floor: read the file into a buffer kept between calls and decode it
// with the bare library into a pixel buffer kept between calls.
void BM_BareTurboJpegDecode_12MP(benchmark::State& state)
{
    const std::string& path = Photo12MP();
    tjhandle tj = tjInitDecompress();
    std::vector<unsigned char> jpeg(ReadAll(path).size());
    std::vector<unsigned char> pixels;
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "rb");
        const size_t got = std::fread(jpeg.data(), 1, jpeg.size(), f);
        std::fclose(f);
        int w = 0, h = 0, ss = 0, cs = 0;
        tjDecompressHeader3(tj, jpeg.data(), got, &w, &h, &ss, &cs);
        const int pitch = (w * 3 + 3) & ~3;
        pixels.resize(static_cast<size_t>(pitch) * h);
        tjDecompress2(tj, jpeg.data(), got, pixels.data(), w, pitch, h, TJPF_BGR, TJFLAG_BOTTOMUP);
        benchmark::DoNotOptimize(pixels.data());
    }
    tjDestroy(tj);
}
BENCHMARK(BM_BareTurboJpegDecode_12MP)->Unit(benchmark::kMillisecond);

void BM_SaveSurfaceAsJpeg_12MP(benchmark::State& state)
{
    kx::cDIBSection surface;
    kx::LoadPictureFile(surface, Photo12MP());
    for (auto _ : state) {
        if (!kx::SaveSurfaceAsJpeg(surface, "/tmp/kx-bench-save.jpg", 90)) state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_SaveSurfaceAsJpeg_12MP)->Unit(benchmark::kMillisecond);

// The floor: encode the same pixels with the bare library and write the file.
void BM_BareTurboJpegEncode_12MP(benchmark::State& state)
{
    kx::cDIBSection surface;
    kx::LoadPictureFile(surface, Photo12MP());
    tjhandle tj = tjInitCompress();
    // An output buffer kept between calls, as large as the library may need.
    unsigned long capacity = tjBufSize(surface.Width(), surface.Height(), TJSAMP_420);
    unsigned char* out = tjAlloc(static_cast<int>(capacity));
    for (auto _ : state) {
        unsigned long size = capacity;
        tjCompress2(tj, surface.DIBSectionBitsPtr(), surface.Width(), surface.BytesPerScanLine(),
                    surface.Height(), TJPF_BGR, &out, &size, TJSAMP_420, 90,
                    TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
        FILE* f = std::fopen("/tmp/kx-bench-bare.jpg", "wb");
        std::fwrite(out, 1, size, f);
        std::fclose(f);
    }
    tjFree(out);
    tjDestroy(tj);
}
BENCHMARK(BM_BareTurboJpegEncode_12MP)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
