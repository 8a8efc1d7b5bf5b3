// The image header probe: tells from the first bytes of a file whether it is
// a PNG, GIF, BMP or JPEG picture (or HEIF, AVIF, WebP or TIFF) and reads its width, height and bits per
// pixel without decoding it. Built into both the engine and the desktop
// program.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kx {

// Values of ImageInfo::ImageType.
inline constexpr uint8_t ImageTypePNG = 1;
inline constexpr uint8_t ImageTypeGIF = 2;
inline constexpr uint8_t ImageTypeJPEG = 3;
inline constexpr uint8_t ImageTypeBMP = 4;
// Today's formats, after the classic four: a caller that knows only 1 to 4
// still sees "a picture" (below ImageTypeNone).
inline constexpr uint8_t ImageTypeHEIF = 5;  // HEIF with HEVC: .heic, .heif
inline constexpr uint8_t ImageTypeAVIF = 6;  // HEIF with AV1
inline constexpr uint8_t ImageTypeWEBP = 7;
inline constexpr uint8_t ImageTypeTIFF = 8;
inline constexpr uint8_t ImageTypeNone = 255;

// The probe's result. Only ImageType tells success: a record returned by
// GetImageInfo with ImageTypeNone has the other fields 0.
struct ImageInfo {
    uint8_t ImageType = ImageTypeNone;
    int32_t Width = 0;     // pixels, 0 to kMaxProbedSide, as the picture is seen
    int32_t Height = 0;    // pixels, 0 to kMaxProbedSide, as the picture is seen
    uint8_t BitDepth = 0;  // bits per pixel as the header states it
    // A JPEG's EXIF orientation or a TIFF's orientation tag, 1 to 8 (1 for
    // every other picture, HEIF included, whose container's turn is part of
    // its picture, and for a missing or unusable tag). For 5 to 8 the stored pixels are turned a
    // quarter, and Width and Height above are already swapped to the upright
    // picture's.
    uint8_t Orientation = 1;
};

// The largest width or height the probe reports: what the picture loader
// accepts. Larger sizes, and pictures whose 24-bit rows would not fit in
// 2^31 - 1 bytes, are not pictures.
inline constexpr int32_t kMaxProbedSide = 65535;

// A picture too large for a surface, to be streamed, comes with at least a
// byte of file for this many pixels (photographs and scans have far more),
// so that a small file cannot set the reducer to work through billions of
// pixels.
inline constexpr int64_t kHugePixelsPerByte = 64;

// The sizes the probe takes for pictures: those whose whole 24-bit surface
// the loader can hold, or, for a reduction that reads the picture a row at a
// time, any size up to kMaxProbedSide a side, when beyond a surface the
// file holds a byte for every kHugePixelsPerByte pixels.
enum class ProbedSizes { Loadable, Streamed };

// Probes the file at `path` (UTF-8, passed to the file system as it is).
// Never raises and never creates a file: a missing, unreadable, empty or
// unrecognised file, a folder or any other non-regular path gives
// ImageTypeNone. The file is closed again before the call returns.
ImageInfo GetImageInfo(const std::string& path, ProbedSizes sizes = ProbedSizes::Loadable) noexcept;

// Signatures of today's formats, from a file's first bytes (at least 16 for
// HEIF; the whole "ftyp" box for its brands).
// HEIF: an "ftyp" box naming a HEIF, HEIC or AVIF brand; `isAvif` then tells
// an AV1-coded file (AVIF) from a HEVC-coded one (HEIC).
bool LooksLikeHeif(std::span<const uint8_t> head, bool* isAvif = nullptr);
// WebP: "RIFF", a size, "WEBP".
bool LooksLikeWebp(std::span<const uint8_t> head);
// TIFF: "II*\0" or "MM\0*" (classic TIFF, not BigTIFF).
bool LooksLikeTiff(std::span<const uint8_t> head);

// Older writers put a PNG's eXIf chunk after its pixels. It is looked for in
// the file's last kPngTailBytes only, by the probe and the loader alike, so
// that both agree on the picture's turn: an eXIf chunk there from which whole
// chunks (up to kMaxProbedChunks), none of them IDAT, lead to IEND. Gives
// its data (from the TIFF header on), or nothing.
inline constexpr int64_t kPngTailBytes = 65536;
std::span<const uint8_t> LatePngExif(std::span<const uint8_t> tail);

// high * 256 + low as a 16-bit signed value; a high byte of 128 or more
// raises the overflow error (6).
int16_t MakeWord(uint8_t low, uint8_t high);

// high * 256 + low, unsigned: 0 to 65535.
inline int32_t MakeUnsignedWord(uint8_t low, uint8_t high) { return int32_t{high} * 256 + low; }

namespace detail {

// A file opened read-only for probing, read through a cache of one aligned
// block so that header fields cost no system call each and a search runs
// over whole blocks. Closes the file when destroyed.
class ProbeFile {
public:
    static constexpr int64_t kBlockSize = 65536;

    // Opens `path` read-only. Raises file not found (53), permission denied
    // (70) or path/file access (75, also for folders, devices and pipes).
    explicit ProbeFile(const std::string& path, ProbedSizes sizes = ProbedSizes::Loadable);
    ~ProbeFile();
    ProbeFile(const ProbeFile&) = delete;
    ProbeFile& operator=(const ProbeFile&) = delete;

    // The file's length in bytes when it was opened.
    int64_t Length() const { return length_; }
    // The sizes the readers take for pictures.
    ProbedSizes Sizes() const { return sizes_; }

    // The byte at `offset`. Raises "Input past end of file" (62) when the
    // offset is negative or not below the length, 75 when reading fails.
    uint8_t At(int64_t offset);

    // The cached bytes from `offset` to the end of its block (never empty),
    // valid until the next call of At or Block. Raises as At does.
    std::span<const uint8_t> Block(int64_t offset);

private:
    void Load(int64_t blockStart);

    int fd_ = -1;
    int64_t length_ = 0;
    ProbedSizes sizes_;
    std::vector<uint8_t> cache_;
    int64_t cacheStart_ = 0;  // file offset of cache_[0]
    size_t cached_ = 0;       // bytes of cache_ that hold file data
};

// Whether the probe takes a picture of width x height from `file` for its
// memory: its 24-bit rows (padded to 4 bytes) fit in 2^31 - 1 bytes, or it
// is probed for streamed sizes and the file holds a byte for every
// kHugePixelsPerByte pixels.
bool HeldOrStreamed(const ProbeFile& file, int64_t width, int64_t height);

// The readers work on the already open file and catch their own run-time
// errors (an overflow in MakeWord, a field past the end of the file): a
// failed reader returns ImageTypeNone, possibly with other fields filled.
ImageInfo GetPNGInfo(ProbeFile& file);
ImageInfo GetGIFInfo(ProbeFile& file);
ImageInfo GetBMPInfo(ProbeFile& file);
// The first offset holding 0xFF 0xD8 0xFF (start of image and the first byte
// of the next marker), or -1 when the file has none.
int64_t FindJPEGStart(ProbeFile& file);
// Walks the segments after the start of image at `start` to the first frame
// header (any coding) and reads the picture's size from it; the first EXIF
// segment on the way gives the orientation.
ImageInfo GetJPEGInfo(ProbeFile& file, int64_t start);
// Today's formats: the size is the upright picture's (HEIF after its
// container's rotation and crop, TIFF after its orientation tag), and a size
// the loader refuses fails the reader. HEIF is read by libheif's box parser
// (no picture data is decoded); WebP and TIFF by their headers.
ImageInfo GetHEIFInfo(ProbeFile& file, bool avif);
ImageInfo GetWEBPInfo(ProbeFile& file);
ImageInfo GetTIFFInfo(ProbeFile& file);
// The orientation entry (0x0112) of IFD0 of the EXIF segment whose payload
// (from "Exif\0\0" on) is `length` bytes at `offset`: 1 to 8, or 1 when the
// entry is missing, not one SHORT, out of range or outside the segment.
uint8_t ReadExifOrientation(ProbeFile& file, int64_t offset, int64_t length);
// The same for a block that starts with its TIFF header (PNG eXIf, WebP EXIF).
uint8_t ReadTiffOrientation(ProbeFile& file, int64_t tiff, int64_t size);
// The chunks a PNG or WebP probe walks looking for the EXIF one.
inline constexpr int kMaxProbedChunks = 64;

}  // namespace detail

}  // namespace kx
