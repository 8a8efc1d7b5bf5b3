#include "Freshness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace kx::batch {

namespace {

bool Before(const timespec& a, const timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// A JPEG file's first two and last two bytes are its start and end markers.
bool WholeJpeg(int fd, off_t size)
{
    unsigned char start[2] = {}, end[2] = {};
    return size >= 4 && ::pread(fd, start, 2, 0) == 2 && ::pread(fd, end, 2, size - 2) == 2 &&
           start[0] == 0xFF && start[1] == 0xD8 && end[0] == 0xFF && end[1] == 0xD9;
}

// A PNG file ends with its IEND chunk.
bool WholePng(int fd, off_t size)
{
    static const unsigned char kStart[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    static const unsigned char kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    unsigned char start[8] = {}, end[12] = {};
    return size >= 20 && ::pread(fd, start, 8, 0) == 8 && ::pread(fd, end, 12, size - 12) == 12 &&
           std::memcmp(start, kStart, 8) == 0 && std::memcmp(end, kEnd, 12) == 0;
}

// A WebP file is one RIFF chunk whose declared size covers the whole file.
bool WholeWebp(int fd, off_t size)
{
    unsigned char head[12] = {};
    if (size < 12 || ::pread(fd, head, 12, 0) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WEBP", 4) != 0)
        return false;
    const uint64_t riff = head[4] | head[5] << 8 | head[6] << 16 | uint64_t{head[7]} << 24;
    return riff + 8 + (riff & 1) == static_cast<uint64_t>(size);
}

// An AVIF (ISO media) file starts with its ftyp box and its top-level boxes
// end exactly at the end of the file.
bool WholeIsoMedia(int fd, off_t size)
{
    uint64_t at = 0;
    for (int boxes = 0; at < static_cast<uint64_t>(size); ++boxes) {
        unsigned char head[16] = {};
        if (boxes > 4096 || ::pread(fd, head, 8, static_cast<off_t>(at)) != 8) return false;
        if (boxes == 0 && std::memcmp(head + 4, "ftyp", 4) != 0) return false;
        uint64_t box = uint64_t{head[0]} << 24 | head[1] << 16 | head[2] << 8 | head[3];
        if (box == 0) return true;  // to the end of the file
        if (box == 1) {
            if (::pread(fd, head + 8, 8, static_cast<off_t>(at + 8)) != 8) return false;
            box = 0;
            for (int i = 8; i < 16; ++i) box = box << 8 | head[i];
        }
        if (box < 8 || box > static_cast<uint64_t>(size) - at) return false;
        at += box;
    }
    return at == static_cast<uint64_t>(size) && at > 0;
}

// A whole file of any format the run writes.
bool WholeOutput(int fd, off_t size)
{
    return WholeJpeg(fd, size) || WholePng(fd, size) || WholeWebp(fd, size) || WholeIsoMedia(fd, size);
}

}  // namespace

Freshness CheckOutput(const std::string& output, const std::vector<std::string>& inputs)
{
    const int fd = ::open(output.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? Freshness::Missing : Freshness::Incomplete;
    struct stat info {};
    const bool whole = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && WholeOutput(fd, info.st_size);
    ::close(fd);
    if (!whole) return Freshness::Incomplete;
    for (const std::string& input : inputs) {
        struct stat picture {};
        if (::stat(input.c_str(), &picture) != 0 || Before(info.st_mtim, picture.st_mtim))
            return Freshness::Older;
    }
    return Freshness::Current;
}

const char* FreshnessText(Freshness freshness)
{
    switch (freshness) {
    case Freshness::Current: return "output is up to date";
    case Freshness::Missing: return "no output yet";
    case Freshness::Older: return "picture changed since its output";
    case Freshness::Incomplete: return "output incomplete";
    }
    return "";
}

}  // namespace kx::batch
