#include "engine/files/PictureLoader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "engine/files/FailureReason.h"
#include "engine/files/MemoryBudget.h"
#include "engine/files/ModernDecoders.h"
#include "engine/files/Orientation.h"
#include "engine/files/PictureDecoders.h"
#include "engine/files/PictureFile.h"

namespace kx {

namespace {

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

int64_t ReadAt(int fd, uint8_t* into, size_t count, int64_t offset)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, into + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

bool OpenPictureFile(const std::string& path, FileDescriptor& file, int64_t& size)
{
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0) {
        SetFailureReason(ErrnoReason(errno));
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        SetFailureReason("a folder, not a picture");
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        SetFailureReason("not an ordinary file");
        return false;
    }
    if (info.st_size < 0 || info.st_size > kMaxPictureFileBytes) {
        SetFailureReason("the file is " + std::to_string(info.st_size) +
                         " bytes; the engine reads files up to " + std::to_string(kMaxPictureFileBytes) +
                         " bytes");
        return false;
    }
    size = info.st_size;
    return true;
}

namespace {

// Enough of a file to recognise its format and find a BMP's rows.
constexpr size_t kHeadBytes = size_t{64} << 10;

// Reads the rows of an uncompressed 24-bit BMP straight into the surface:
// no copy of the file is held, and a kept surface buffer costs no page
// faults.
bool ReadBmpRowsInPlace(int fd, const BmpPixelRows& rows, cDIBSection& surface)
{
    if (!PictureNeeds().Bytes(kHeadBytes).Surface(rows.width, rows.height).Reserve()) return false;
    if (!surface.Create(rows.width, rows.height)) return false;
    const size_t stride = static_cast<size_t>(surface.BytesPerScanLine());
    if (!rows.topDown) {
        const size_t bytes = stride * static_cast<size_t>(rows.height);
        if (ReadAt(fd, surface.Row(0), bytes, rows.dataOffset) != static_cast<int64_t>(bytes)) return false;
    } else {
        for (Long i = 0; i < rows.height; ++i) {
            const int64_t at = rows.dataOffset + static_cast<int64_t>(stride) * i;
            if (ReadAt(fd, surface.Row(rows.height - 1 - i), stride, at) != static_cast<int64_t>(stride))
                return false;
        }
    }
    // The file's row padding is not picture: it stays zero, as in every surface.
    const size_t pixelBytes = static_cast<size_t>(rows.width) * 3;
    if (pixelBytes != stride)
        for (Long y = 0; y < rows.height; ++y)
            std::memset(surface.Row(y) + pixelBytes, 0, stride - pixelBytes);
    return true;
}

}  // namespace

bool LoadPicture(const std::string& path, cDIBSection& surface)
{
    PictureMetadata metadata;
    return LoadPicture(path, surface, metadata, true);
}

bool LoadPicture(const std::string& path, cDIBSection& surface, PictureMetadata& metadata, bool autoOrient,
                 const ShrinkTarget& target, AlphaPlane* alpha)
{
    surface.ClearUp();
    if (alpha) alpha->Clear();
    metadata = PictureMetadata{};
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
        FileDescriptor file(-1);
        int64_t size = 0;
        if (!OpenPictureFile(path, file, size)) return false;
        // The head first: the common BMP is read without a copy of the file.
        bytes.resize(std::min(static_cast<size_t>(size), kHeadBytes));
        const int64_t head = ReadAt(file.fd, bytes.data(), bytes.size(), 0);
        if (head < 0) {
            SetFailureReason(ErrnoReason(errno));
            return false;
        }
        bytes.resize(static_cast<size_t>(head));
        std::optional<BmpPixelRows> bmpRows;
        if (StartsWith(bytes, {'B', 'M'})) bmpRows = LocateBmpPixelRows(bytes, size);
        if (bmpRows) {
            ok = ReadBmpRowsInPlace(file.fd, *bmpRows, surface);
        } else {
            if (head == static_cast<int64_t>(kHeadBytes) && size > head) {
                // The file's copy is the first of the picture's buffers.
                if (!ReservePictureMemory(size)) return false;
                bytes.resize(static_cast<size_t>(size));
                const int64_t rest = ReadAt(file.fd, bytes.data() + head, bytes.size() - head, head);
                if (rest < 0) {
                    SetFailureReason(ErrnoReason(errno));
                    return false;
                }
                bytes.resize(static_cast<size_t>(head + rest));
            }
            const std::span<const uint8_t> data(bytes);
            const char* format = nullptr;
            if (StartsWith(data, {0xFF, 0xD8, 0xFF}))
                format = "JPEG", ok = DecodeJpeg(data, surface, metadata, autoOrient, target);
            else if (StartsWith(data, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}))
                format = "PNG", ok = DecodePng(data, surface, metadata, alpha);
            else if (StartsWith(data, {'G', 'I', 'F'}))  // as the probe and giflib: any version
                format = "GIF", ok = DecodeGif(data, surface, alpha);
            else if (StartsWith(data, {'B', 'M'}))
                format = "BMP", ok = DecodeBmp(data, surface);
            else if (LooksLikeHeif(data))
                format = "HEIF", ok = DecodeHeif(data, surface, &metadata, alpha);
            else if (LooksLikeWebp(data))
                format = "WebP", ok = DecodeWebp(data, surface, &metadata, alpha);
            else if (LooksLikeTiff(data))
                format = "TIFF", ok = DecodeTiff(data, surface, &metadata, autoOrient, alpha);
            // A decoder that gave no reason of its own.
            if (!ok && format) SetFailureReason(std::string("corrupt or truncated ") + format + " data");
            if (!format) SetFailureReason(UnreadFormatReason(data));
        }
        // A decoder that reports an orientation without turning the pixels
        // itself has them turned here.
        if (ok && autoOrient && metadata.Orientation != 1) {
            ok = TurnUpright(surface, metadata.Orientation);
            // The plane's turned copy is made beside it.
            if (ok && alpha && alpha->IsLive())
                ok = EnsurePictureMemory(HeldPictureMemory() +
                                         PictureNeeds().Pixels(alpha->Width(), alpha->Height(), 1).Total());
            if (ok && alpha) TurnAlphaUpright(*alpha, metadata.Orientation);
            metadata.Orientation = 1;
        }
        if (bmpRows && !ok) SetFailureReason("truncated BMP data");
    } catch (const std::bad_alloc&) {
        SetFailureReason("out of memory");
        ok = false;
    } catch (...) {
        ok = false;
    }
    // A plane that hides nothing is not kept.
    if (alpha && (!ok || !alpha->HasTransparency())) alpha->Clear();
    if (!ok) {
        surface.ClearUp();
        metadata = PictureMetadata{};
        ReleasePictureMemory();
    }
    return ok;
}

namespace {
thread_local std::string decodeWarnings;
}  // namespace

const std::string& DecodeWarnings() { return decodeWarnings; }

void NoteDecodeWarning(std::string_view text)
{
    // Bounded for callers that never clear it.
    if (text.empty() || decodeWarnings.size() > 4096) return;
    std::string line(text);
    if (("\n" + decodeWarnings).find("\n" + line + "\n") != std::string::npos) return;
    decodeWarnings += line + "\n";
}

void ClearDecodeWarnings() { decodeWarnings.clear(); }

}  // namespace kx
