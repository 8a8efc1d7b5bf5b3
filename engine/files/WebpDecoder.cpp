// WebP input through libwebp. A still picture without alpha decodes in one
// library call straight into the surface's rows (BGR, flipped to bottom-up);
// one with alpha goes through a BGRA buffer and is blended onto white. An
// animation gives its first frame, composed on the canvas as a player shows
// it before the second.
#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <memory>
#include <vector>

#include "DecodeLimits.h"
#include "ModernDecoders.h"

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
    return SurfaceSizeAllowed(width, height) &&
           SizePlausible(width, height, static_cast<int64_t>(fileBytes), kModernMaxPixelsPerByte);
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

bool DecodeFirstFrame(std::span<const uint8_t> file, cDIBSection& surface)
{
    const WebPData data{file.data(), file.size()};
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return false;
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    // Parses every frame's header (not its pixels) and checks each frame
    // lies on the canvas; the canvas itself is only allocated here.
    {
        const std::unique_ptr<WebPDemuxer, DemuxDeleter> probe(WebPDemux(&data));
        if (!probe) return false;
        const int64_t width = WebPDemuxGetI(probe.get(), WEBP_FF_CANVAS_WIDTH);
        const int64_t height = WebPDemuxGetI(probe.get(), WEBP_FF_CANVAS_HEIGHT);
        if (!SizeAccepted(width, height, file.size())) return false;
    }
    const std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder(WebPAnimDecoderNew(&data, &options));
    if (!decoder) return false;
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(decoder.get(), &info) || info.frame_count < 1) return false;
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || canvas == nullptr) return false;
    if (!surface.Create(static_cast<Long>(info.canvas_width), static_cast<Long>(info.canvas_height)))
        return false;
    BlendRowsOntoWhite(canvas, static_cast<size_t>(info.canvas_width) * 4, surface);
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
}

}  // namespace

bool DecodeWebp(std::span<const uint8_t> file, cDIBSection& surface, PictureMetadata* metadata)
{
    try {
        if (!LooksLikeWebp(file)) return false;
        WebPDecoderConfig config;
        if (!WebPInitDecoderConfig(&config)) return false;
        if (WebPGetFeatures(file.data(), file.size(), &config.input) != VP8_STATUS_OK) return false;
        bool ok = false;
        if (config.input.has_animation) {
            ok = DecodeFirstFrame(file, surface);
        } else {
            const int64_t width = config.input.width;
            const int64_t height = config.input.height;
            if (!SizeAccepted(width, height, file.size())) return false;
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
            ok = WebPDecode(file.data(), file.size(), &config) == VP8_STATUS_OK;
            WebPFreeDecBuffer(&config.output);  // external memory: frees nothing of ours
            if (ok && config.input.has_alpha)
                BlendRowsOntoWhite(bgra.data(), static_cast<size_t>(width) * 4, surface);
        }
        if (ok && metadata != nullptr) ReadMetadata(file, *metadata);
        return ok;
    } catch (...) {
        return false;
    }
}

}  // namespace kx
