// WebP rows for the streaming path. libwebp decodes a still picture, fed
// from the file a piece at a time, straight to a reduced size with its own area-averaging scaler, as the JPEG decoder
// decodes at 1/2, 1/4 or 1/8 (ShrinkOnLoad.h: at least twice the target's
// pixels are kept), and the rows of that go to the Lanczos reducer. A picture
// less than twice the target, and an animation, take the whole-picture path.
#include <webp/decode.h>

#include <cstring>
#include <functional>
#include <future>
#include <system_error>
#include <vector>

#include "engine/files/DecodeLimits.h"
#include "engine/files/FailureReason.h"
#include "engine/files/MetadataTransfer.h"
#include "engine/files/ModernDecoders.h"
#include "engine/files/PictureFile.h"
#include "engine/files/RowSources.h"
#include "engine/surface/AlphaPlane.h"

namespace kx {

namespace {

constexpr size_t kReadBytes = size_t{1} << 20;

struct IncrementalDecoder {
    WebPIDecoder* decoder;
    ~IncrementalDecoder() { WebPIDelete(decoder); }
};

// Feeds the file to libwebp's incremental decoder a piece at a time: the
// data already decoded is not kept. With `ahead`, the next piece is read on
// a second thread while libwebp decodes this one, so that the kernel's copy
// is off the decoding thread; a thread that cannot start leaves the read to
// this one.
bool DecodeFromFile(const PictureSource& file, WebPDecoderConfig& config, bool ahead)
{
    const IncrementalDecoder incremental{WebPIDecode(nullptr, 0, &config)};
    if (!incremental.decoder) return false;
    std::vector<uint8_t> pieces[2] = {std::vector<uint8_t>(kReadBytes),
                                      std::vector<uint8_t>(ahead ? kReadBytes : 0)};
    const auto read = [&file](std::vector<uint8_t>& into, int64_t at) {
        return ReadAt(file.Fd, into.data(), into.size(), at);
    };
    int64_t at = 0, got = read(pieces[0], 0);
    for (int current = 0; got > 0; current ^= ahead ? 1 : 0) {
        at += got;
        std::future<int64_t> next;
        if (ahead && at < file.Size) {
            try {
                next = std::async(std::launch::async, read, std::ref(pieces[current ^ 1]), at);
            } catch (const std::system_error&) {
                ahead = false;
            }
        }
        const VP8StatusCode status =
            WebPIAppend(incremental.decoder, pieces[current].data(), static_cast<size_t>(got));
        got = next.valid() ? next.get() : at < file.Size ? read(pieces[current], at) : 0;
        if (status == VP8_STATUS_OK) return true;
        if (status != VP8_STATUS_SUSPENDED) return false;
    }
    return false;
}

// The ICCP, EXIF and XMP chunks of an extended file (the first of each), read
// from the file as the demuxer finds them for the whole-picture decoder.
void ReadChunks(const PictureSource& file, PictureMetadata& metadata)
{
    uint8_t header[8];
    const auto chunkAt = [&](int64_t at) {
        return ReadAt(file.Fd, header, 8, at) == 8 ? int64_t{header[4]} | int64_t{header[5]} << 8 |
                                                         int64_t{header[6]} << 16 | int64_t{header[7]} << 24
                                                   : int64_t{-1};
    };
    if (chunkAt(12) < 0 || std::memcmp(header, "VP8X", 4) != 0) return;
    for (int64_t at = 12, size; (size = chunkAt(at)) >= 0 && at + 8 + size <= file.Size;
         at += 8 + size + size % 2) {
        std::vector<uint8_t>* into = std::memcmp(header, "ICCP", 4) == 0   ? &metadata.IccProfile
                                     : std::memcmp(header, "EXIF", 4) == 0 ? &metadata.Exif
                                     : std::memcmp(header, "XMP ", 4) == 0 ? &metadata.Xmp
                                                                           : nullptr;
        if (!into || !into->empty()) continue;
        into->resize(static_cast<size_t>(size));
        if (ReadAt(file.Fd, into->data(), into->size(), at + 8) != size) into->clear();
    }
    // Some writers keep the JPEG APP1 prefix in front of the TIFF header.
    if (metadata.Exif.size() >= 6 && std::memcmp(metadata.Exif.data(), "Exif\0\0", 6) == 0)
        metadata.Exif.erase(metadata.Exif.begin(), metadata.Exif.begin() + 6);
    metadata.Orientation = ExifOrientation(metadata.Exif);
}

}  // namespace

StreamOutcome StreamWebp(const PictureSource& file, RowReducer& reducer, PictureMetadata& metadata)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return StreamOutcome::WholePicture;
    if (WebPGetFeatures(file.Head.data(), file.Head.size(), &config.input) != VP8_STATUS_OK)
        return StreamOutcome::WholePicture;
    if (config.input.has_animation) return StreamOutcome::WholePicture;
    const int64_t width = config.input.width, height = config.input.height;
    if (!StreamedSizeAllowed(width, height, file.Size) ||
        !SizePlausible(width, height, file.Size, kModernMaxPixelsPerByte))
        return StreamOutcome::WholePicture;
    ReadChunks(file, metadata);
    const Long denominator = ShrinkOnLoadDenominator(static_cast<Long>(width), static_cast<Long>(height),
                                                     reducer.StoredTarget(metadata.Orientation));
    const Long scaledWidth = ScaledSide(static_cast<Long>(width), denominator);
    const Long scaledHeight = ScaledSide(static_cast<Long>(height), denominator);
    if (denominator == 1 || !reducer.Reduces(scaledWidth, scaledHeight, metadata.Orientation))
        return StreamOutcome::WholePicture;

    const bool alpha = config.input.has_alpha != 0;
    const bool keepAlpha = alpha && reducer.KeepsAlpha();
    if (keepAlpha) reducer.WithAlpha();
    const int channels = alpha ? 4 : 3;
    const int64_t scaledBytes = int64_t{scaledWidth} * scaledHeight * channels;
    // The file, the scaled picture, the pieces read, and libwebp's own: a
    // lossless picture is decoded whole (4 bytes a pixel) before it is
    // scaled; a lossy one keeps a few rows of macroblocks, and its alpha
    // plane whole.
    const int64_t library = (config.input.format == 2 ? width * height * 4 : width * 64 * 3) +
                            (alpha ? width * height : 0) + int64_t{scaledWidth} * 64 + (int64_t{4} << 20) +
                            2 * static_cast<int64_t>(kReadBytes);
    if (!reducer.Start(file.Size + scaledBytes + library + int64_t{scaledWidth} * (keepAlpha ? 4 : 3)))
        return StreamOutcome::Failed;

    std::vector<uint8_t> scaled(static_cast<size_t>(scaledBytes));
    // libwebp filters on a second thread where a processor is free; the
    // pixels are the same either way.
    config.options.use_threads = reducer.Threaded() ? 1 : 0;
    config.options.use_scaling = 1;
    config.options.scaled_width = scaledWidth;
    config.options.scaled_height = scaledHeight;
    config.output.colorspace = alpha ? MODE_BGRA : MODE_BGR;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = scaled.data();
    config.output.u.RGBA.stride = scaledWidth * channels;
    config.output.u.RGBA.size = scaled.size();
    if (!DecodeFromFile(file, config, reducer.Threaded())) return StreamOutcome::Failed;
    std::vector<uint8_t> bgr(alpha ? static_cast<size_t>(scaledWidth) * 3 : 0);
    std::vector<uint8_t> plane(keepAlpha ? static_cast<size_t>(scaledWidth) : 0);
    for (Long y = 0; y < scaledHeight; ++y) {
        const uint8_t* in = scaled.data() + static_cast<size_t>(y) * scaledWidth * channels;
        if (keepAlpha) {
            SplitBgraRow(in, scaledWidth, bgr.data(), plane.data());
            reducer.Push(bgr.data(), plane.data());
            continue;
        }
        if (alpha) {
            for (Long x = 0; x < scaledWidth; ++x, in += 4) {
                bgr[3 * x] = OverWhite(in[0], in[3]);
                bgr[3 * x + 1] = OverWhite(in[1], in[3]);
                bgr[3 * x + 2] = OverWhite(in[2], in[3]);
            }
            in = bgr.data();
        }
        reducer.Push(in);
    }
    return StreamOutcome::Done;
}

}  // namespace kx
