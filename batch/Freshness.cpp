#include "batch/Freshness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

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

Freshness CheckOutput(const std::string& output, const std::vector<std::string>& inputs,
                      const timespec* since)
{
    const int fd = ::open(output.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? Freshness::Missing : Freshness::Incomplete;
    struct stat info {};
    const bool whole = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && WholeOutput(fd, info.st_size);
    ::close(fd);
    if (!whole) return Freshness::Incomplete;
    if (since && Before(info.st_mtim, *since)) return Freshness::OtherSettings;
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
    case Freshness::OtherSettings: return "output made with other settings";
    case Freshness::Warned: return "output made from a damaged picture";
    }
    return "";
}

namespace {

constexpr char kRecordName[] = "/.kestrix-run", kWarnedName[] = "/.kestrix-warned";

std::string Contents(const std::string& path)
{
    std::string text;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
        std::fclose(file);
    }
    return text;
}

}  // namespace

RunRecord::RunRecord(const std::string& folder, const std::string& settings, bool readOnly)
    : folder_(folder)
    , readOnly_(readOnly)
{
    const std::string path = folder + kRecordName;
    struct stat info {};
    if (Contents(path) == settings + "\n" && ::stat(path.c_str(), &info) == 0) {
        since_ = info.st_mtim;  // when the settings were written
        const std::string warned = Contents(folder + kWarnedName);
        // "SECONDS NANOSECONDS OUTPUT": the output's time when it was made.
        for (size_t at = 0; at < warned.size();) {
            const size_t next = std::min(warned.find('\n', at), warned.size());
            long long seconds = 0;
            long nanoseconds = 0;
            int length = 0;
            const std::string line = warned.substr(at, next - at);
            if (std::sscanf(line.c_str(), "%lld %ld %n", &seconds, &nanoseconds, &length) == 2 && length > 0)
                warned_[line.substr(static_cast<size_t>(length))] = {static_cast<time_t>(seconds),
                                                                     nanoseconds};
            at = next + 1;
        }
        return;
    }
    // Other settings: every output there now was made with them. The
    // coarse clock is the one file times are taken from.
    ::clock_gettime(CLOCK_REALTIME_COARSE, &since_);
    if (readOnly_) return;
    ::unlink((folder + kWarnedName).c_str());
    // Written whole under another name, then renamed over the old record.
    const std::string temporary = path + ".new";
    if (FILE* file = std::fopen(temporary.c_str(), "wb")) {
        const bool written = std::fputs((settings + "\n").c_str(), file) >= 0;
        if (std::fclose(file) == 0 && written && ::rename(temporary.c_str(), path.c_str()) == 0 &&
            ::stat(path.c_str(), &info) == 0)
            since_ = info.st_mtim;
    }
}

Freshness RunRecord::Check(const std::string& output, const std::vector<std::string>& inputs) const
{
    const Freshness freshness = CheckOutput(output, inputs, &since_);
    if (freshness != Freshness::Current || output.size() <= folder_.size()) return freshness;
    // Still the output made from a damaged picture: written no later than noted.
    const auto noted = warned_.find(output.substr(folder_.size() + 1));
    struct stat info {};
    if (noted != warned_.end() && ::stat(output.c_str(), &info) == 0 && !Before(noted->second, info.st_mtim))
        return Freshness::Warned;
    return freshness;
}

void RunRecord::NoteWarned(const std::string& output)
{
    if (readOnly_ || output.size() <= folder_.size()) return;
    std::lock_guard lock(mutex_);
    // One line appended at once, so runs of several shards do not mix lines.
    struct stat info {};
    if (::stat(output.c_str(), &info) != 0) return;
    const std::string line = std::to_string(info.st_mtim.tv_sec) + " " +
                             std::to_string(info.st_mtim.tv_nsec) + " " + output.substr(folder_.size() + 1) +
                             "\n";
    const int fd = ::open((folder_ + kWarnedName).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return;
    [[maybe_unused]] const auto written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

}  // namespace kx::batch
