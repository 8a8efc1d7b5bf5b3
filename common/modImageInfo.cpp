#include "modImageInfo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CheckedMath.h"
#include "RunTimeError.h"

namespace kx {

namespace {

// The run time's number for a read beyond the end of a file. It never leaves
// the probe: the reader that hits it fails.
constexpr int32_t errPastEndOfFile = 62;

[[noreturn]] void RaisePastEnd()
{
    throw RunTimeError(errPastEndOfFile, "modImageInfo", "Input past end of file");
}

}  // namespace

int16_t MakeWord(uint8_t low, uint8_t high)
{
    return CheckedCast<Integer>(int32_t{high} * 256 + low);
}

namespace detail {

ProbeFile::ProbeFile(const std::string& path)
{
    // Non-blocking so that a named pipe without a writer cannot hold the
    // probe; it makes no difference to reading a regular file.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0) {
        switch (errno) {
        case ENOENT: Raise(errFileNotFound);
        case ENOTDIR: Raise(errPathNotFound);
        case EACCES:
        case EPERM: Raise(errPermissionDenied);
        default: Raise(errPathFileAccess);
        }
    }
    try {
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) Raise(errPathFileAccess);
        length_ = st.st_size;
        cache_.resize(static_cast<size_t>(std::min<int64_t>(length_, kBlockSize)));
    } catch (...) {
        ::close(fd_);
        throw;
    }
}

ProbeFile::~ProbeFile() { ::close(fd_); }

void ProbeFile::Load(int64_t blockStart)
{
    const size_t want = static_cast<size_t>(std::min<int64_t>(length_ - blockStart, kBlockSize));
    size_t got = 0;
    cacheStart_ = blockStart;
    cached_ = 0;
    while (got < want) {
        const ssize_t n = ::pread(fd_, cache_.data() + got, want - got,
                                  static_cast<off_t>(blockStart + static_cast<int64_t>(got)));
        if (n < 0) {
            if (errno == EINTR) continue;
            Raise(errPathFileAccess);
        }
        if (n == 0) break;  // the file shrank since it was opened
        got += static_cast<size_t>(n);
    }
    cached_ = got;
}

std::span<const uint8_t> ProbeFile::Block(int64_t offset)
{
    if (offset < 0 || offset >= length_) RaisePastEnd();
    if (offset < cacheStart_ || offset - cacheStart_ >= static_cast<int64_t>(cached_)) {
        Load(offset - offset % kBlockSize);
        if (offset - cacheStart_ >= static_cast<int64_t>(cached_)) RaisePastEnd();
    }
    const size_t index = static_cast<size_t>(offset - cacheStart_);
    return {cache_.data() + index, cached_ - index};
}

uint8_t ProbeFile::At(int64_t offset) { return Block(offset)[0]; }

ImageInfo GetPNGInfo(ProbeFile& file)
{
    ImageInfo info;
    try {
        info.ImageType = ImageTypePNG;
        // The low 16 bits of the big-endian width and height of the header chunk.
        info.Width = MakeWord(file.At(19), file.At(18));
        info.Height = MakeWord(file.At(23), file.At(22));
        const Integer depth = file.At(24);
        switch (file.At(25)) {
        case 0: info.BitDepth = CheckedCast<Byte>(depth); break;
        case 2: info.BitDepth = CheckedCast<Byte>(CheckedMul<Integer>(depth, 3)); break;
        case 3: info.BitDepth = 8; break;  // palette entries, whatever the index depth
        case 4: info.BitDepth = CheckedCast<Byte>(CheckedMul<Integer>(depth, 2)); break;
        case 6: info.BitDepth = CheckedCast<Byte>(CheckedMul<Integer>(depth, 4)); break;
        default: info.ImageType = ImageTypeNone; break;
        }
    } catch (const RunTimeError&) {
        info.ImageType = ImageTypeNone;
    }
    return info;
}

ImageInfo GetGIFInfo(ProbeFile& file)
{
    ImageInfo info;
    try {
        info.ImageType = ImageTypeGIF;
        // Little-endian logical-screen size; the low three bits of the packed
        // byte give the global colour table's size as 2^(n+1) entries.
        info.Width = MakeWord(file.At(6), file.At(7));
        info.Height = MakeWord(file.At(8), file.At(9));
        info.BitDepth = static_cast<uint8_t>((file.At(10) & 7) + 1);
    } catch (const RunTimeError&) {
        info.ImageType = ImageTypeNone;
    }
    return info;
}

ImageInfo GetBMPInfo(ProbeFile& file)
{
    ImageInfo info;
    try {
        info.ImageType = ImageTypeBMP;
        // Low 16 bits of the information header's width and height: a
        // top-down bitmap's negative height has a high byte of 0xFF and fails.
        info.Width = MakeWord(file.At(18), file.At(19));
        info.Height = MakeWord(file.At(22), file.At(23));
        info.BitDepth = file.At(28);
    } catch (const RunTimeError&) {
        info.ImageType = ImageTypeNone;
    }
    return info;
}

int64_t FindJPEGStart(ProbeFile& file)
{
    try {
        const int64_t length = file.Length();
        int64_t offset = 0;
        while (offset < length) {
            const std::span<const uint8_t> block = file.Block(offset);
            const void* hit = std::memchr(block.data(), 0xFF, block.size());
            if (hit == nullptr) {
                offset += static_cast<int64_t>(block.size());
                continue;
            }
            const int64_t candidate =
                offset + (static_cast<const uint8_t*>(hit) - block.data());
            // Only three bytes are compared, so a marker in the last three
            // bytes of the file still counts. The two bytes after the 0xFF may
            // lie in the next block; Block is asked afresh on the next turn.
            if (candidate + 2 < length && file.At(candidate + 1) == 0xD8 &&
                file.At(candidate + 2) == 0xFF)
                return candidate;
            offset = candidate + 1;
        }
    } catch (const RunTimeError&) {
    }
    return -1;
}

ImageInfo GetJPEGInfo(ProbeFile& file, int64_t start)
{
    ImageInfo info;
    try {
        info.ImageType = ImageTypeJPEG;
        const int64_t length = file.Length();
        int64_t cursor = start + 2;  // the 0xFF that opens the marker after start of image
        if (cursor >= length) {
            info.ImageType = ImageTypeNone;
            return info;
        }
        for (;;) {
            const uint8_t code = file.At(cursor);
            int64_t next;
            if (code == 0xFF) {
                next = cursor + 1;  // marker prefix or fill byte
            } else if (code >= 0xC0 && code <= 0xC3) {
                break;  // start of frame: baseline, extended, progressive, lossless
            } else {
                // Any other code is taken as a segment with a big-endian
                // length; the length is never negative, so the walk advances.
                const int16_t segment = MakeWord(file.At(cursor + 2), file.At(cursor + 1));
                next = cursor + segment + 1;
            }
            if (next >= length) {
                info.ImageType = ImageTypeNone;
                return info;
            }
            cursor = next;
        }
        info.Height = MakeWord(file.At(cursor + 5), file.At(cursor + 4));
        info.Width = MakeWord(file.At(cursor + 7), file.At(cursor + 6));
        const Integer components = file.At(cursor + 8);
        info.BitDepth = CheckedCast<Byte>(CheckedMul<Integer>(components, 8));
    } catch (const RunTimeError&) {
        info.ImageType = ImageTypeNone;
    }
    return info;
}

}  // namespace detail

ImageInfo GetImageInfo(const std::string& path) noexcept
{
    using namespace detail;
    try {
        ProbeFile file(path);
        // A signature byte beyond the end of the file matches nothing.
        auto byteAt = [&file](int64_t offset) -> int {
            return offset < file.Length() ? file.At(offset) : -1;
        };
        const int b0 = byteAt(0);
        const int b1 = byteAt(1);
        const int b2 = byteAt(2);

        ImageInfo result;
        auto take = [&result](const ImageInfo& info) {
            if (info.ImageType < ImageTypeNone) result = info;
        };
        if (b0 == 0x89 && b1 == 0x50 && b2 == 0x4E) take(GetPNGInfo(file));
        if (b0 == 0x47 && b1 == 0x49 && b2 == 0x46) take(GetGIFInfo(file));
        if (b0 == 0x42 && b1 == 0x4D) take(GetBMPInfo(file));
        // Today's formats, recognised by their own signatures: a file that
        // has one is never searched for an embedded JPEG (a preview inside).
        const std::span<const uint8_t> head = file.Length() > 0 ? file.Block(0) : std::span<const uint8_t>();
        bool avif = false;
        const bool modern = LooksLikeHeif(head, &avif) || LooksLikeWebp(head) || LooksLikeTiff(head);
        if (LooksLikeHeif(head)) take(GetHEIFInfo(file, avif));
        else if (LooksLikeWebp(head)) take(GetWEBPInfo(file));
        else if (LooksLikeTiff(head)) take(GetTIFFInfo(file));
        // No signature or a failed reader: look for a JPEG anywhere in the file.
        if (result.ImageType == ImageTypeNone && !modern) {
            const int64_t start = FindJPEGStart(file);
            if (start != -1) take(GetJPEGInfo(file, start));
        }
        return result;
    } catch (...) {
        return ImageInfo{};
    }
}

}  // namespace kx
