// WebP input through libwebp. A still picture without alpha decodes in one
// library call straight into the surface's rows (BGR, flipped to bottom-up);
// one with alpha goes through a BGRA buffer and is blended onto white, or
// split into the colour and the alpha plane when alpha is kept. An
// animation gives its first frame, composed on the canvas as a player shows
// it before the second, its transparency kept or blended alike.
#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <memory>
#include <vector>

#include "engine/files/DecodeLimits.h"
#include "engine/files/FailureReason.h"
#include "engine/files/MemoryBudget.h"
#include "engine/files/MetadataTransfer.h"
#include "engine/files/ModernDecoders.h"
#include "engine/surface/AlphaPlane.h"

namespace kx {

namespace {

struct DemuxDeleter {
    void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};
struct AnimDecoderDeleter {
    void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};

bool SizeAccepted(int64_t width, int64_t height, size_t fileBytes)
{
    if (!SurfaceSizeAllowed(width, height)) return Refuse(TooLargeReason(width, height));
    if (!SizePlausible(width, height, static_cast<int64_t>(fileBytes), kModernMaxPixelsPerByte))
        return Refuse("truncated WebP data: too few bytes for its size");
    return true;
}

// What libwebp holds to decode a width x height bitstream beside its output:
// a lossless one its whole picture (4 bytes a pixel), a lossy one its alpha
// plane, and a few rows of macroblocks either way.
void AddDecoderNeeds(PictureNeeds& needs, const WebPBitstreamFeatures& features)
{
    const bool lossless = features.format == 2;
    needs.Pixels(features.width, features.height,
                 lossless             ? 4
                 : features.has_alpha ? 1
                                      : 0)
        .Pixels(features.width, 64, 4)
        .Bytes(kLibraryStateBytes);
}

// Blends top-down BGRA rows of the surface's width onto white into it.
void BlendRowsOntoWhite(const uint8_t* pixels, size_t stride, cDIBSection& surface)
{
    for (Long y = 0; y < surface.Height(); ++y) {
        const uint8_t* in = pixels + static_cast<size_t>(y) * stride;
        uint8_t* out = surface.PictureRow(y);
        for (Long x = 0; x < surface.Width(); ++x, in += 4, out += 3) {
            out[0] = OverWhite(in[0], in[3]);
            out[1] = OverWhite(in[1], in[3]);
            out[2] = OverWhite(in[2], in[3]);
        }
    }
}

// Top-down BGRA rows of the surface's width split into it and the plane,
// or, without a plane, blended onto white into it.
void TakeBgraRows(const uint8_t* pixels, size_t stride, cDIBSection& surface, AlphaPlane* alpha)
{
    if (!alpha || !alpha->Create(surface.Width(), surface.Height()))
        return BlendRowsOntoWhite(pixels, stride, surface);
    for (Long y = 0; y < surface.Height(); ++y)
        SplitBgraRow(pixels + static_cast<size_t>(y) * stride, surface.Width(), surface.PictureRow(y),
                     alpha->PictureRow(y));
}

bool DecodeFirstFrame(std::span<const uint8_t> file, cDIBSection& surface, AlphaPlane* alpha)
{
    const WebPData data{file.data(), file.size()};
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return false;
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    // Parses every frame's header (not its pixels) and checks each frame
    // lies on the canvas; the canvases are only allocated below. The
    // animation decoder keeps two canvases of 4 bytes a pixel (the frame
    // shown and the one before it) and decodes the first frame beside them.
    {
        const std::unique_ptr<WebPDemuxer, DemuxDeleter> probe(WebPDemux(&data));
        if (!probe) return Refuse("corrupt WebP data: the animation's chunks do not parse");
        const int64_t width = WebPDemuxGetI(probe.get(), WEBP_FF_CANVAS_WIDTH);
        const int64_t height = WebPDemuxGetI(probe.get(), WEBP_FF_CANVAS_HEIGHT);
        if (!SizeAccepted(width, height, file.size())) return false;
        PictureNeeds needs;
        needs.Bytes(static_cast<int64_t>(file.size()))
            .Pixels(width, height, 2 * 4 + (alpha ? 1 : 0))
            .Surface(width, height);
        WebPIterator frame;
        if (WebPDemuxGetFrame(probe.get(), 1, &frame)) {
            WebPBitstreamFeatures features;
            if (WebPGetFeatures(frame.fragment.bytes, frame.fragment.size, &features) == VP8_STATUS_OK)
                AddDecoderNeeds(needs, features);
            WebPDemuxReleaseIterator(&frame);
        }
        if (!needs.Reserve()) return false;
    }
    const std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder(WebPAnimDecoderNew(&data, &options));
    if (!decoder) return Refuse("corrupt WebP data: the animation cannot be decoded");
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(decoder.get(), &info) || info.frame_count < 1)
        return Refuse("corrupt WebP data: the animation has no frame");
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || canvas == nullptr)
        return Refuse("corrupt or truncated WebP data: the first frame does not decode");
    if (!surface.Create(static_cast<Long>(info.canvas_width), static_cast<Long>(info.canvas_height)))
        return false;
    TakeBgraRows(canvas, static_cast<size_t>(info.canvas_width) * 4, surface, alpha);
    return true;
}

void CopyChunk(const WebPDemuxer* demux, const char* fourcc, std::vector<uint8_t>& into)
{
    into.clear();
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(demux, fourcc, 1, &chunk)) {
        into.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }
}

void ReadMetadata(std::span<const uint8_t> file, PictureMetadata& metadata)
{
    metadata.Orientation = 1;
    const WebPData data{file.data(), file.size()};
    const std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&data));
    if (!demux) return;
    CopyChunk(demux.get(), "ICCP", metadata.IccProfile);
    CopyChunk(demux.get(), "EXIF", metadata.Exif);
    // Some writers keep the JPEG APP1 prefix in front of the TIFF header.
    if (metadata.Exif.size() >= 6 && std::memcmp(metadata.Exif.data(), "Exif\0\0", 6) == 0)
        metadata.Exif.erase(metadata.Exif.begin(), metadata.Exif.begin() + 6);
    CopyChunk(demux.get(), "XMP ", metadata.Xmp);
    metadata.Orientation = ExifOrientation(metadata.Exif);
}

}  // namespace

bool DecodeWebp(std::span<const uint8_t> file, cDIBSection& surface, PictureMetadata* metadata,
                AlphaPlane* alpha)
{
    try {
        if (!LooksLikeWebp(file)) return false;
        WebPDecoderConfig config;
        if (!WebPInitDecoderConfig(&config)) return false;
        if (WebPGetFeatures(file.data(), file.size(), &config.input) != VP8_STATUS_OK)
            return Refuse("corrupt or truncated WebP data: its header does not parse");
        bool ok = false;
        if (config.input.has_animation) {
            ok = DecodeFirstFrame(file, surface, alpha);
        } else {
            const int64_t width = config.input.width;
            const int64_t height = config.input.height;
            if (!SizeAccepted(width, height, file.size())) return false;
            PictureNeeds needs;
            needs.Bytes(static_cast<int64_t>(file.size()))
                .Surface(width, height)
                .Pixels(config.input.has_alpha ? width : 0, height, alpha ? 5 : 4);
            AddDecoderNeeds(needs, config.input);
            if (!needs.Reserve()) return false;
            if (!surface.Create(static_cast<Long>(width), static_cast<Long>(height))) return false;
            config.options.use_threads = 0;
            config.output.is_external_memory = 1;
            std::vector<uint8_t> bgra;
            if (!config.input.has_alpha) {
                // Into the surface's rows: the flip puts the first decoded
                // row last in memory, where the surface keeps its top row.
                config.output.colorspace = MODE_BGR;
                config.options.flip = 1;
                config.output.u.RGBA.rgba = surface.DIBSectionBitsPtr();
                config.output.u.RGBA.stride = surface.BytesPerScanLine();
                config.output.u.RGBA.size =
                    static_cast<size_t>(surface.BytesPerScanLine()) * static_cast<size_t>(height);
            } else {
                config.output.colorspace = MODE_BGRA;
                bgra.resize(static_cast<size_t>(width) * 4 * static_cast<size_t>(height));
                config.output.u.RGBA.rgba = bgra.data();
                config.output.u.RGBA.stride = static_cast<int>(width * 4);
                config.output.u.RGBA.size = bgra.size();
            }
            const VP8StatusCode status = WebPDecode(file.data(), file.size(), &config);
            WebPFreeDecBuffer(&config.output);  // external memory: frees nothing of ours
            ok =
                status == VP8_STATUS_OK || Refuse(status == VP8_STATUS_NOT_ENOUGH_DATA ? "truncated WebP data"
                                                  : status == VP8_STATUS_OUT_OF_MEMORY
                                                      ? "out of memory"
                                                      : "corrupt WebP data: the picture does not decode");
            if (ok && config.input.has_alpha)
                TakeBgraRows(bgra.data(), static_cast<size_t>(width) * 4, surface, alpha);
        }
        if (ok && metadata != nullptr) ReadMetadata(file, *metadata);
        return ok;
    } catch (...) {
        return false;
    }
}

}  // namespace kx
