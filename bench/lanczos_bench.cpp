// The antialiased path against the exact one, on a 12-megapixel JPEG (4032 x
// 3024, a phone photo's size) reduced to width 640: the whole operation in
// each mode, and the stages of the antialiased path (the decode at 1/2 scale
// that shrink-on-load picks, and the Lanczos reduction alone, from the full
// and from the half-size picture).
#include <benchmark/benchmark.h>

#include "BenchPictures.h"
#include "engine/files/PictureLoader.h"
#include "engine/files/mIntelJPEGLibrary.h"
#include "engine/operations/modMain.h"
#include "engine/surface/LanczosResample.h"

namespace {

const std::string& Phone12MP()
{
    static const std::string path = kxbench::MakePhotoJpeg(4032, 3024, "/tmp/kx-bench-lanczos-12mp.jpg");
    return path;
}

const char* kOut = "/tmp/kx-bench-lanczos-out.jpg";

void MaxWidth640(benchmark::State& state, const kx::EngineSettings& settings)
{
    for (auto _ : state)
        if (!kx::ResizeMaxWidth(Phone12MP(), kOut, 640, 90, settings)) state.SkipWithError("failed");
}

void BM_MaxWidth640_Exact(benchmark::State& state) { MaxWidth640(state, {}); }
BENCHMARK(BM_MaxWidth640_Exact)->Unit(benchmark::kMillisecond);

void BM_MaxWidth640_Modern(benchmark::State& state)
{
    MaxWidth640(state, {.Filter = kx::ResampleFilter::Lanczos, .TrueProportions = true});
}
BENCHMARK(BM_MaxWidth640_Modern)->Unit(benchmark::kMillisecond);

void BM_Stage_DecodeHalfScale(benchmark::State& state)
{
    kx::cDIBSection s;
    kx::PictureMetadata metadata;
    for (auto _ : state)
        if (!kx::LoadPicture(Phone12MP(), s, metadata, true, {640, 480})) state.SkipWithError("failed");
}
BENCHMARK(BM_Stage_DecodeHalfScale)->Unit(benchmark::kMillisecond);

void Lanczos640(benchmark::State& state, const kx::ShrinkTarget& shrink)
{
    kx::cDIBSection s;
    kx::PictureMetadata metadata;
    if (!kx::LoadPicture(Phone12MP(), s, metadata, true, shrink)) state.SkipWithError("failed");
    for (auto _ : state) benchmark::DoNotOptimize(kx::ResampleLanczos(s, 640, 480));
}

void BM_Stage_LanczosFromFull(benchmark::State& state) { Lanczos640(state, {}); }
BENCHMARK(BM_Stage_LanczosFromFull)->Unit(benchmark::kMillisecond);

void BM_Stage_LanczosFromHalf(benchmark::State& state) { Lanczos640(state, {640, 480}); }
BENCHMARK(BM_Stage_LanczosFromHalf)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
