#include "PictureLoader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <span>

#include "PictureDecoders.h"

namespace kx {

namespace {

struct FileDescriptor {
    int fd;
    explicit FileDescriptor(int f) : fd(f) {}
    ~FileDescriptor()
    {
        if (fd >= 0) ::close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
};

constexpr size_t kKeptReadBufferBytes = size_t{16} << 20;

bool StartsWith(std::span<const uint8_t> data, std::initializer_list<uint8_t> signature)
{
    if (data.size() < signature.size()) return false;
    size_t i = 0;
    for (uint8_t b : signature)
        if (data[i++] != b) return false;
    return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes)
{
    // Non-blocking: a named pipe without a writer must not hold the loader.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.fd < 0) return false;
    struct stat info {};
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (info.st_size < 0 || info.st_size > kMaxPictureFileBytes) return false;

    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(file.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;  // the file shrank while we read it
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return true;
}

bool LoadPicture(const std::string& path, cDIBSection& surface)
{
    surface.ClearUp();
    // Kept between calls on a thread: fresh pages for every file cost more
    // than reading it. A very large file's buffer is not kept.
    thread_local std::vector<uint8_t> bytes;
    struct ShrinkAfterUse {
        ~ShrinkAfterUse()
        {
            if (bytes.capacity() > kKeptReadBufferBytes) std::vector<uint8_t>().swap(bytes);
        }
    } shrink;
    bool ok = false;
    try {
        if (!ReadWholeFile(path, bytes)) return false;
        const std::span<const uint8_t> data(bytes);
        if (StartsWith(data, {0xFF, 0xD8, 0xFF}))
            ok = DecodeJpeg(data, surface);
        else if (StartsWith(data, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}))
            ok = DecodePng(data, surface);
        else if (StartsWith(data, {'G', 'I', 'F', '8'}))
            ok = DecodeGif(data, surface);
        else if (StartsWith(data, {'B', 'M'}))
            ok = DecodeBmp(data, surface);
    } catch (...) {
        ok = false;
    }
    if (!ok) surface.ClearUp();
    return ok;
}

}  // namespace kx
