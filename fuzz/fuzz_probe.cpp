// The header probe on the fuzzer's bytes, for loaded and for streamed sizes.
// The probe reads a path, so the bytes go into one memory-backed file (memfd)
// reached through /proc.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzFile.h"
#include "common/modImageInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = kx::fuzz::BytesAsFile(data, size);
    const kx::ImageInfo info = kx::GetImageInfo(path);
    // A failed probe leaves every other field 0; a success stays in range.
    if (info.ImageType == kx::ImageTypeNone && (info.Width != 0 || info.Height != 0 || info.BitDepth != 0))
        std::abort();
    if (info.Width < 0 || info.Width > kx::kMaxProbedSide || info.Height < 0 ||
        info.Height > kx::kMaxProbedSide || info.Orientation < 1 || info.Orientation > 8)
        std::abort();
    // Asked for sizes to be streamed, the probe takes more pictures, never
    // fewer (a header it took may then stand before the JPEG it found).
    const kx::ImageInfo streamed = kx::GetImageInfo(path, kx::ProbedSizes::Streamed);
    if ((info.ImageType != kx::ImageTypeNone && streamed.ImageType == kx::ImageTypeNone) ||
        streamed.Width > kx::kMaxProbedSide || streamed.Height > kx::kMaxProbedSide)
        std::abort();
    return 0;
}
