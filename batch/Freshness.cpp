#include "Freshness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace

Freshness CheckOutput(const std::string& output, const std::vector<std::string>& inputs)
{
    const int fd = ::open(output.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? Freshness::Missing : Freshness::Incomplete;
    struct stat info {};
    const bool whole = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && WholeJpeg(fd, info.st_size);
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
