#include "common/modImageInfo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/CheckedMath.h"
#include "common/RunTimeError.h"

namespace kx {

namespace {

// The run time's number for a read beyond the end of a file. It never leaves
// the probe: the reader that hits it fails.
constexpr int32_t errPastEndOfFile = 62;

[[noreturn]] void RaisePastEnd()
{
    throw RunTimeError(errPastEndOfFile, "modImageInfo", "Input past end of file");
}

// The size of a BMP's OS/2 1.x information header, whose sizes are 16-bit.
constexpr int64_t kCoreHeaderBytes = 12;

// A size the picture loader takes, or the overflow error (6): each side 0 to
// kMaxProbedSide, and the 24-bit rows (padded to 4 bytes) within 2^31 - 1
// bytes unless the picture is to be streamed from a file of its weight.
void RequireLoadableSize(const detail::ProbeFile& file, int64_t width, int64_t height)
{
    if (width < 0 || height < 0 || width > kMaxProbedSide || height > kMaxProbedSide ||
        !detail::HeldOrStreamed(file, width, height))
        Raise(errOverflow);
}

int64_t LittleEndian32(detail::ProbeFile& file, int64_t at)
{
    return int64_t{file.At(at)} | int64_t{file.At(at + 1)} << 8 | int64_t{file.At(at + 2)} << 16 |
           int64_t{file.At(at + 3)} << 24;
}

// A PNG size: big-endian, at most 2^31 - 1.
int32_t BigEndian31(detail::ProbeFile& file, int64_t at)
{
    const int64_t value = int64_t{file.At(at)} << 24 | int64_t{file.At(at + 1)} << 16 |
                          int64_t{file.At(at + 2)} << 8 | file.At(at + 3);
    if (value > INT32_MAX) Raise(errOverflow);
    return static_cast<int32_t>(value);
}

// A start-of-frame code of any coding: 0xC0 to 0xCF but for the Huffman
// table (0xC4), the reserved 0xC8 and the arithmetic conditioning (0xCC).
bool IsFrameCode(uint8_t code)
{
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

}  // namespace

int16_t MakeWord(uint8_t low, uint8_t high) { return CheckedCast<Integer>(int32_t{high} * 256 + low); }

namespace detail {

bool HeldOrStreamed(const ProbeFile& file, int64_t width, int64_t height)
{
    return ((width * 3 + 3) & ~int64_t{3}) * height <= INT32_MAX ||
           (file.Sizes() == ProbedSizes::Streamed && width * height / kHugePixelsPerByte <= file.Length());
}

ProbeFile::ProbeFile(const std::string& path, ProbedSizes sizes)
    : sizes_(sizes)
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
        // The big-endian width and height of the header chunk, 31 bits each.
        info.Width = BigEndian31(file, 16);
        info.Height = BigEndian31(file, 20);
        RequireLoadableSize(file, info.Width, info.Height);
        const Integer depth = file.At(24);
        switch (file.At(25)) {
        case 0: info.BitDepth = CheckedCast<Byte>(depth); break;
        case 2: info.BitDepth = CheckedCast<Byte>(CheckedMul<Integer>(depth, 3)); break;
        case 3: info.BitDepth = 8; break;  // palette entries, whatever the index depth
        case 4: info.BitDepth = CheckedCast<Byte>(CheckedMul<Integer>(depth, 2)); break;
        case 6: info.BitDepth = CheckedCast<Byte>(CheckedMul<Integer>(depth, 4)); break;
        default: info.ImageType = ImageTypeNone; break;
        }
        // An eXIf chunk before the pixels (IDAT) may turn the picture; without
        // one, an eXIf at the file's end may.
        int64_t chunk = 33;
        bool exif = false;
        for (int count = 0; count < kMaxProbedChunks && chunk + 8 <= file.Length(); ++count) {
            const int64_t length = BigEndian31(file, chunk);
            exif = file.At(chunk + 4) == 'e' && file.At(chunk + 5) == 'X' && file.At(chunk + 6) == 'I' &&
                   file.At(chunk + 7) == 'f';
            if (exif) info.Orientation = ReadTiffOrientation(file, chunk + 8, length);
            if (exif || (file.At(chunk + 4) == 'I' && file.At(chunk + 5) == 'D')) break;
            chunk += 12 + length;
        }
        const int64_t tailStart = std::max<int64_t>(0, file.Length() - kPngTailBytes);
        std::vector<uint8_t> tail;
        while (!exif && tailStart + static_cast<int64_t>(tail.size()) < file.Length()) {
            const std::span<const uint8_t> block = file.Block(tailStart + static_cast<int64_t>(tail.size()));
            tail.insert(tail.end(), block.begin(), block.end());
        }
        const std::span<const uint8_t> late = LatePngExif(tail);
        if (!late.empty())
            info.Orientation = ReadTiffOrientation(file, tailStart + (late.data() - tail.data()),
                                                   static_cast<int64_t>(late.size()));
        if (info.Orientation >= 5) std::swap(info.Width, info.Height);
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
        // Little-endian, unsigned logical-screen size; the low three bits of
        // the packed byte give the global colour table's size as 2^(n+1)
        // entries.
        info.Width = MakeUnsignedWord(file.At(6), file.At(7));
        info.Height = MakeUnsignedWord(file.At(8), file.At(9));
        RequireLoadableSize(file, info.Width, info.Height);
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
        const int64_t headerSize = LittleEndian32(file, 14);
        if (headerSize == kCoreHeaderBytes) {
            // OS/2 1.x: unsigned 16-bit width and height, bits per pixel at 24.
            info.Width = MakeUnsignedWord(file.At(18), file.At(19));
            info.Height = MakeUnsignedWord(file.At(20), file.At(21));
            info.BitDepth = file.At(24);
        } else {
            // Signed 32-bit width and height; a negative height is a
            // top-down bitmap of that many rows.
            const int64_t width = static_cast<int32_t>(LittleEndian32(file, 18));
            const int64_t height = static_cast<int32_t>(LittleEndian32(file, 22));
            RequireLoadableSize(file, width, height < 0 ? -height : height);
            info.Width = static_cast<int32_t>(width);
            info.Height = static_cast<int32_t>(height < 0 ? -height : height);
            info.BitDepth = file.At(28);
        }
        RequireLoadableSize(file, info.Width, info.Height);
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
            const int64_t candidate = offset + (static_cast<const uint8_t*>(hit) - block.data());
            // Only three bytes are compared, so a marker in the last three
            // bytes of the file still counts. The two bytes after the 0xFF may
            // lie in the next block; Block is asked afresh on the next turn.
            if (candidate + 2 < length && file.At(candidate + 1) == 0xD8 && file.At(candidate + 2) == 0xFF)
                return candidate;
            offset = candidate + 1;
        }
    } catch (const RunTimeError&) {}
    return -1;
}

uint8_t ReadExifOrientation(ProbeFile& file, int64_t offset, int64_t length)
{
    // "Exif\0\0", then the TIFF header.
    return ReadTiffOrientation(file, offset + 6, length - 6);
}

uint8_t ReadTiffOrientation(ProbeFile& file, int64_t tiff, int64_t size)
{
    constexpr uint16_t kOrientationTag = 0x0112;
    constexpr uint16_t kShort = 3;
    try {
        // The TIFF header's offsets count from its start.
        if (size < 8) return 1;
        const uint8_t order = file.At(tiff);
        if (order != file.At(tiff + 1) || (order != 'I' && order != 'M')) return 1;
        const bool little = order == 'I';
        const auto u16 = [&](int64_t at) -> uint32_t {
            const uint32_t a = file.At(tiff + at), b = file.At(tiff + at + 1);
            return little ? a | b << 8 : a << 8 | b;
        };
        const auto u32 = [&](int64_t at) -> int64_t {
            const int64_t a = u16(at), b = u16(at + 2);
            return little ? a | b << 16 : a << 16 | b;
        };
        if (u16(2) != 42) return 1;
        const int64_t ifd = u32(4);
        if (ifd + 2 > size) return 1;
        const int64_t entries = u16(ifd);
        for (int64_t i = 0; i < entries; ++i) {
            const int64_t entry = ifd + 2 + 12 * i;
            if (entry + 12 > size) break;  // the entries that fit are read
            if (u16(entry) != kOrientationTag) continue;
            if (u16(entry + 2) != kShort || u32(entry + 4) != 1) return 1;
            const uint32_t value = u16(entry + 8);
            return value >= 1 && value <= 8 ? static_cast<uint8_t>(value) : 1;
        }
    } catch (const RunTimeError&) {}
    return 1;
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
        bool exifSeen = false;
        for (;;) {
            const uint8_t code = file.At(cursor);
            int64_t next;
            if (code == 0xFF) {
                next = cursor + 1;  // marker prefix or fill byte
            } else if (IsFrameCode(code)) {
                break;
            } else {
                // Any other code is taken as a segment with an unsigned
                // big-endian length, which counts itself.
                const int64_t segment = MakeUnsignedWord(file.At(cursor + 2), file.At(cursor + 1));
                // Only the first EXIF segment counts; just its orientation
                // entry is read, never the picture data.
                if (code == 0xE1 && !exifSeen && segment >= 8 && file.At(cursor + 3) == 'E' &&
                    file.At(cursor + 4) == 'x' && file.At(cursor + 5) == 'i' && file.At(cursor + 6) == 'f' &&
                    file.At(cursor + 7) == 0 && file.At(cursor + 8) == 0) {
                    exifSeen = true;
                    info.Orientation = ReadExifOrientation(file, cursor + 3, segment - 2);
                }
                next = cursor + segment + 1;
            }
            if (next >= length) {
                info.ImageType = ImageTypeNone;
                return info;
            }
            cursor = next;
        }
        info.Height = MakeUnsignedWord(file.At(cursor + 5), file.At(cursor + 4));
        info.Width = MakeUnsignedWord(file.At(cursor + 7), file.At(cursor + 6));
        RequireLoadableSize(file, info.Width, info.Height);
        const Integer components = file.At(cursor + 8);
        info.BitDepth = CheckedCast<Byte>(CheckedMul<Integer>(components, 8));
        if (info.Orientation >= 5) std::swap(info.Width, info.Height);
    } catch (const RunTimeError&) {
        info.ImageType = ImageTypeNone;
    }
    return info;
}

}  // namespace detail

ImageInfo GetImageInfo(const std::string& path, ProbedSizes sizes) noexcept
{
    using namespace detail;
    try {
        ProbeFile file(path, sizes);
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
        if (LooksLikeHeif(head))
            take(GetHEIFInfo(file, avif));
        else if (LooksLikeWebp(head))
            take(GetWEBPInfo(file));
        else if (LooksLikeTiff(head))
            take(GetTIFFInfo(file));
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
