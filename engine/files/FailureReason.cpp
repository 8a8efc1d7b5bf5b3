#include "engine/files/FailureReason.h"

#include <cerrno>
#include <cstring>

#include "engine/files/DecodeLimits.h"

namespace kx {

namespace {

thread_local std::string reason;

bool Starts(std::span<const uint8_t> data, size_t at, const char* text)
{
    const size_t n = std::strlen(text);
    return data.size() >= at + n && std::memcmp(data.data() + at, text, n) == 0;
}

}  // namespace

void SetFailureReason(const std::string& text)
{
    if (reason.empty()) reason = text;
}

bool Refuse(const std::string& text)
{
    SetFailureReason(text);
    return false;
}

void SetFailureReasonInCallback(const char* prefix, const char* detail) noexcept
{
    try {
        SetFailureReason(std::string(prefix) + (detail ? detail : "unknown error"));
    } catch (...) {
        // Short enough for the string's own storage: nothing is allocated.
        if (reason.empty()) reason = "out of memory";
    }
}

bool SidesWithin(const char* format, int64_t width, int64_t height, int64_t most)
{
    if (width <= most && height <= most) return true;
    return Refuse(std::string(format) + " pictures are at most " + std::to_string(most) + " pixels " +
                  (width > most ? "wide" : "high"));
}

const std::string& FailureReason() { return reason; }

void ClearFailureReason() { reason.clear(); }

std::string ErrnoReason(int error)
{
    switch (error) {
    case ENOENT: return "no such file or folder";
    case ENOTDIR: return "a part of the path is not a folder";
    case EACCES:
    case EPERM: return "permission denied";
    case EROFS: return "read-only file system";
    case ENOSPC: return "disk full";
    case EDQUOT: return "disk quota exceeded";
    case EISDIR: return "a folder, not a file";
    case ENAMETOOLONG: return "the name is too long";
    case EIO: return "input/output error (a failing disk?)";
    case ENOMEM: return "out of memory";
    default: return std::strerror(error);
    }
}

std::string TooLargeReason(int64_t width, int64_t height)
{
    if (width <= 0 || height <= 0) return "corrupt data: the header gives no picture size";
    const std::string size = "the picture is " + std::to_string(width) + " x " + std::to_string(height);
    if (width > kMaxPictureSide || height > kMaxPictureSide)
        return size + " pixels; the engine takes at most " + std::to_string(kMaxPictureSide) + " pixels a side";
    // Only a modern reduction reads a picture a row at a time.
    return size + " pixels, more than the 2 GB of pixels the engine holds whole (a reduction in the modern "
                  "mode reads it a row at a time)";
}

std::string UnreadFormatReason(std::span<const uint8_t> head)
{
    constexpr const char* kReads = " (Kestrix reads JPEG, PNG, GIF, BMP, HEIF, AVIF, WebP and TIFF)";
    const char* format = nullptr;
    if (head.empty()) return "the file is empty";
    if (Starts(head, 0, "8BPS")) format = "Photoshop";
    if (Starts(head, 0, "\xFF\x0A")) format = "JPEG XL";
    if (format) return std::string("a ") + format + " picture, a format Kestrix does not read" + kReads;
    return std::string("not a picture Kestrix reads") + kReads;
}

}  // namespace kx
