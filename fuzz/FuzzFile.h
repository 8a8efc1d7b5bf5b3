// The fuzzer's bytes as a file, for code that reads a path: one memory-backed
// file (memfd) reached through /proc, rewritten for every input.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace kx::fuzz {

inline const std::string& BytesAsFile(const uint8_t* data, size_t size)
{
    static const int fd = [] {
        const int f = memfd_create("kx-fuzz-input", MFD_CLOEXEC);
        if (f < 0) std::abort();
        return f;
    }();
    if (ftruncate(fd, 0) != 0) std::abort();
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    return path;
}

}  // namespace kx::fuzz
