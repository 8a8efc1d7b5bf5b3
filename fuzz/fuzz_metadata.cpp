// The metadata path of a JPEG file on the fuzzer's bytes: the segments the
// loader collects (EXIF, XMP, ICC chunks), the EXIF record through libexif,
// the record rewritten as --keep-metadata writes it and the segments that
// carry it, which must read back unchanged. Where the bytes start as a JPEG
// does, the header probe's orientation must be the loader's.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "common/modImageInfo.h"
#include "engine/files/JpegSegments.h"
#include "engine/files/MetadataTransfer.h"

namespace {

kx::ImageInfo ProbeBytes(const uint8_t* data, size_t size)
{
    static const int fd = memfd_create("kx-metadata-input", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0) std::abort();
    for (size_t done = 0; done < size;) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    return kx::GetImageInfo(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> file(data, size);
    kx::PictureMetadata read = kx::ReadJpegSegments(file);
    read.Orientation = kx::ExifOrientation(read.Exif);
    if (read.Orientation < 1 || read.Orientation > 8) __builtin_trap();

    const kx::PictureMetadata written = kx::MetadataForOutput(read, true, 640, 480);
    std::vector<uint8_t> again{0xFF, 0xD8};
    const std::vector<uint8_t> segments = kx::JpegMetadataSegments(written);
    again.insert(again.end(), segments.begin(), segments.end());
    again.insert(again.end(), {0xFF, 0xC0, 0x00, 0x0B, 8, 0x01, 0xE0, 0x02, 0x80, 1, 1, 0x11, 0});
    const kx::PictureMetadata back = kx::ReadJpegSegments(again);
    if (back.Exif != written.Exif || back.Xmp != written.Xmp || back.IccProfile != written.IccProfile)
        __builtin_trap();
    if (kx::ExifOrientation(written.Exif) != written.Orientation) __builtin_trap();

    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) {
        const kx::ImageInfo info = ProbeBytes(data, size);
        if (info.ImageType == kx::ImageTypeJPEG && info.Orientation != read.Orientation) __builtin_trap();
    }
    return 0;
}
