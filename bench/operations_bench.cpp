// The image operations end to end on a 12-megapixel JPEG, their stages
// (decode, resample, draw, encode) one by one, and the floor: a bare
// TurboJPEG decode of the picture plus an encode of a 640 x 480 result.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cstdio>
#include <vector>

#include "BenchPictures.h"
#include "engine/files/mIntelJPEGLibrary.h"
#include "engine/operations/modMain.h"

namespace {

const std::string& Photo12MP()
{
    static const std::string path = kxbench::MakePhotoJpeg(4000, 3000, "/tmp/kx-bench-ops-12mp.jpg");
    return path;
}

const char* kOut = "/tmp/kx-bench-ops-out.jpg";

void BM_ResizeMaxWidth640(benchmark::State& state)
{
    for (auto _ : state)
        if (!kx::ResizeMaxWidth(Photo12MP(), kOut, 640, 90)) state.SkipWithError("failed");
}
BENCHMARK(BM_ResizeMaxWidth640)->Unit(benchmark::kMillisecond);

void BM_PercentageResize50(benchmark::State& state)
{
    for (auto _ : state)
        if (!kx::PercentageResize(Photo12MP(), kOut, 50, 90)) state.SkipWithError("failed");
}
BENCHMARK(BM_PercentageResize50)->Unit(benchmark::kMillisecond);

void BM_ResizeWithin1024x768(benchmark::State& state)
{
    for (auto _ : state)
        if (!kx::ResizeWithDimensions(Photo12MP(), kOut, 768, 1024, 90)) state.SkipWithError("failed");
}
BENCHMARK(BM_ResizeWithin1024x768)->Unit(benchmark::kMillisecond);

void BM_TextCaptionOperation(benchmark::State& state)
{
    kx::StdFont font;
    font.Size = 24;
    font.Bold = true;
    for (auto _ : state)
        if (!kx::ImageAddTextUsingSpecifiedPosition(Photo12MP(), kOut, "Holiday 2026", font, 0xFFFFFF,
                                                    kx::BottomRight))
            state.SkipWithError("failed");
}
BENCHMARK(BM_TextCaptionOperation)->Unit(benchmark::kMillisecond);

// Stages.
void BM_Stage_Decode12MP(benchmark::State& state)
{
    for (auto _ : state) {
        kx::cDIBSection surface;
        kx::LoadPictureFile(surface, Photo12MP());
    }
}
BENCHMARK(BM_Stage_Decode12MP)->Unit(benchmark::kMillisecond);

void BM_Stage_ResampleTo640(benchmark::State& state)
{
    kx::cDIBSection surface;
    kx::LoadPictureFile(surface, Photo12MP());
    for (auto _ : state) benchmark::DoNotOptimize(surface.Resample(480, 640));
}
BENCHMARK(BM_Stage_ResampleTo640)->Unit(benchmark::kMillisecond);

void BM_Stage_ResampleTo50Percent(benchmark::State& state)
{
    kx::cDIBSection surface;
    kx::LoadPictureFile(surface, Photo12MP());
    for (auto _ : state) benchmark::DoNotOptimize(surface.Resample(1500, 2000));
}
BENCHMARK(BM_Stage_ResampleTo50Percent)->Unit(benchmark::kMillisecond);

void BM_Stage_DrawCaption(benchmark::State& state)
{
    kx::cDIBSection surface;
    kx::LoadPictureFile(surface, Photo12MP());
    kx::StdFont font;
    font.Size = 24;
    font.Bold = true;
    for (auto _ : state)
        surface.AddTextToImageUsingSpecPostion("Holiday 2026", font, 255, 255, 255, kx::BottomRight);
}
BENCHMARK(BM_Stage_DrawCaption)->Unit(benchmark::kMillisecond);

void BM_Stage_Encode640(benchmark::State& state)
{
    kx::cDIBSection surface;
    kx::LoadPictureFile(surface, Photo12MP());
    kx::ResampleSurface(surface, 640, 480);
    for (auto _ : state) kx::SaveSurfaceAsJpeg(surface, kOut, 90);
}
BENCHMARK(BM_Stage_Encode640)->Unit(benchmark::kMillisecond);

void BM_Stage_Encode12MP(benchmark::State& state)
{
    kx::cDIBSection surface;
    kx::LoadPictureFile(surface, Photo12MP());
    for (auto _ : state) kx::SaveSurfaceAsJpeg(surface, kOut, 100);
}
BENCHMARK(BM_Stage_Encode12MP)->Unit(benchmark::kMillisecond);

// The floor for a resize to width 640: read and decode the picture, encode a
// 640 x 480 part of it, write the file; every buffer kept between rounds.
void BM_BareDecodeEncode640(benchmark::State& state)
{
    tjhandle decoder = tjInitDecompress(), encoder = tjInitCompress();
    std::vector<unsigned char> jpeg(64 << 20), pixels;
    unsigned long capacity = tjBufSize(640, 480, TJSAMP_420);
    unsigned char* out = tjAlloc(static_cast<int>(capacity));
    for (auto _ : state) {
        FILE* in = std::fopen(Photo12MP().c_str(), "rb");
        const size_t got = std::fread(jpeg.data(), 1, jpeg.size(), in);
        std::fclose(in);
        int w = 0, h = 0, ss = 0, cs = 0;
        tjDecompressHeader3(decoder, jpeg.data(), got, &w, &h, &ss, &cs);
        const int pitch = (w * 3 + 3) & ~3;
        pixels.resize(static_cast<size_t>(pitch) * h);
        tjDecompress2(decoder, jpeg.data(), got, pixels.data(), w, pitch, h, TJPF_BGR, TJFLAG_BOTTOMUP);
        unsigned long size = capacity;
        tjCompress2(encoder, pixels.data(), 640, pitch, 480, TJPF_BGR, &out, &size, TJSAMP_420, 90,
                    TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
        FILE* f = std::fopen(kOut, "wb");
        std::fwrite(out, 1, size, f);
        std::fclose(f);
    }
    tjFree(out);
    tjDestroy(decoder);
    tjDestroy(encoder);
}
BENCHMARK(BM_BareDecodeEncode640)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
