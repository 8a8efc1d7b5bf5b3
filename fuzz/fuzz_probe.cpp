// The header probe on the fuzzer's bytes. The probe reads a path, so the
// bytes go into one memory-backed file (memfd) reached through /proc.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "modImageInfo.h"

namespace {

int MemoryFile()
{
    static const int fd = [] {
        const int f = memfd_create("kx-probe-input", MFD_CLOEXEC);
        if (f < 0) std::abort();
        return f;
    }();
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = MemoryFile();
    if (ftruncate(fd, 0) != 0) std::abort();
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const kx::ImageInfo info = kx::GetImageInfo(path);
    // A failed probe leaves every other field 0; a success stays in range.
    if (info.ImageType == kx::ImageTypeNone && (info.Width != 0 || info.Height != 0 || info.BitDepth != 0))
        std::abort();
    if (info.Width < 0 || info.Width > kx::kMaxProbedSide || info.Height < 0 ||
        info.Height > kx::kMaxProbedSide || info.Orientation < 1 || info.Orientation > 8)
        std::abort();
    return 0;
}
