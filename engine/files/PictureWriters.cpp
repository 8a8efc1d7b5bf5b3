// PNG through libpng, WebP through libwebp (with its muxer for the colour
// profile) and AVIF through libheif's AV1 encoder. The surface's rows are
// handed over top row first, straight from its buffer where the library
// takes BGR (PNG, WebP); AVIF needs its own RGB image.
#include "PictureWriters.h"

#include <libheif/heif.h>
#include <png.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "FailureReason.h"
#include "HeifHandles.h"
#include "mIntelJPEGLibrary.h"

namespace kx {

namespace {

// ---- PNG ----

struct PngWriteDeleter {
    png_infop* info;
    void operator()(png_struct* png) const { png_destroy_write_struct(&png, info); }
};

void PngError(png_structp png, png_const_charp message)
{
    SetFailureReasonInCallback("the PNG encoder says: ", message);
    std::longjmp(png_jmpbuf(png), 1);
}
void PngWarning(png_structp, png_const_charp) {}

void PngAppend(png_structp png, png_bytep data, size_t size)
{
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    bool kept = false;
    try {
        out->insert(out->end(), data, data + size);
        kept = true;
    } catch (...) {}
    // libpng's own error, once out of the handler: its jump must not leave a
    // caught exception behind.
    if (!kept) png_error(png, "out of memory");
}
void PngFlush(png_structp) {}

// Only plain C objects live across the longjmp.
bool EncodePngRows(png_structp png, png_infop info, const cDIBSection& surface, std::span<const uint8_t> icc,
                   png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png))) return false;
    // A profile libpng finds faulty is left out rather than failing the write.
    png_set_benign_errors(png, 1);
    png_set_IHDR(png, info, static_cast<png_uint_32>(surface.Width()),
                 static_cast<png_uint_32>(surface.Height()), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!icc.empty())
        png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, icc.data(),
                     static_cast<png_uint_32>(icc.size()));
    png_write_info(png, info);
    png_set_bgr(png);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

std::vector<uint8_t> EncodePng(const cDIBSection& surface, std::span<const uint8_t> icc)
{
    std::vector<uint8_t> out;
    png_infop info = nullptr;
    std::unique_ptr<png_struct, PngWriteDeleter> png(
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning),
        PngWriteDeleter{&info});
    if (!png) return {};
    info = png_create_info_struct(png.get());
    if (info == nullptr) return {};
    png_set_write_fn(png.get(), &out, PngAppend, PngFlush);
    std::vector<png_bytep> rows(static_cast<size_t>(surface.Height()));
    for (Long y = 0; y < surface.Height(); ++y)
        rows[static_cast<size_t>(y)] = const_cast<png_bytep>(surface.PictureRow(y));
    if (!EncodePngRows(png.get(), info, surface, icc, rows.data())) return {};
    return out;
}

// ---- WebP ----

struct WebPPictureRelease {
    void operator()(WebPPicture* p) const { ::WebPPictureFree(p); }
};
struct WebPMemoryClear {
    void operator()(WebPMemoryWriter* w) const { WebPMemoryWriterClear(w); }
};
struct WebPMuxDeleter {
    void operator()(WebPMux* m) const { WebPMuxDelete(m); }
};

std::vector<uint8_t> EncodeWebp(const cDIBSection& surface, Long quality, std::span<const uint8_t> icc)
{
    WebPConfig config;
    if (!WebPConfigPreset(&config, WEBP_PRESET_DEFAULT, static_cast<float>(quality)) ||
        !WebPValidateConfig(&config))
        return {};
    if (!SidesWithin("WebP", surface.Width(), surface.Height(), WEBP_MAX_DIMENSION)) return {};
    WebPPicture picture;
    if (!WebPPictureInit(&picture)) return {};
    const std::unique_ptr<WebPPicture, WebPPictureRelease> pictureOwner(&picture);
    picture.width = surface.Width();
    picture.height = surface.Height();
    WebPMemoryWriter memory;
    WebPMemoryWriterInit(&memory);
    const std::unique_ptr<WebPMemoryWriter, WebPMemoryClear> memoryOwner(&memory);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &memory;
    // Top row first: from the last row in memory, stepping back.
    if (!WebPPictureImportBGR(&picture, surface.PictureRow(0), -surface.BytesPerScanLine())) return {};
    if (!WebPEncode(&config, &picture)) {
        Refuse("the WebP encoder failed (error " + std::to_string(picture.error_code) + ")");
        return {};
    }
    if (icc.empty()) return std::vector<uint8_t>(memory.mem, memory.mem + memory.size);

    const std::unique_ptr<WebPMux, WebPMuxDeleter> mux(WebPMuxNew());
    if (!mux) return {};
    const WebPData image{memory.mem, memory.size};
    const WebPData profile{icc.data(), icc.size()};
    if (WebPMuxSetImage(mux.get(), &image, 0) != WEBP_MUX_OK ||
        WebPMuxSetChunk(mux.get(), "ICCP", &profile, 0) != WEBP_MUX_OK)
        return {};
    WebPData assembled;
    WebPDataInit(&assembled);
    if (WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK) return {};
    std::vector<uint8_t> out(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    return out;
}

// ---- AVIF ----

heif_error AppendHeif(heif_context*, const void* data, size_t size, void* user)
{
    auto* out = static_cast<std::vector<uint8_t>*>(user);
    const auto* bytes = static_cast<const uint8_t*>(data);
    try {
        out->insert(out->end(), bytes, bytes + size);
    } catch (...) {
        // Nothing may be thrown through libheif: its own error carries the reason.
        return heif_error{heif_error_Memory_allocation_error, heif_suberror_Unspecified, "out of memory"};
    }
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

bool AvifFailed(const heif_error& error) { return HeifFailed(error, "AVIF encoder"); }

std::vector<uint8_t> EncodeAvif(const cDIBSection& surface, Long quality, std::span<const uint8_t> icc)
{
    const HeifContext context(heif_context_alloc());
    if (!context) return {};
    heif_encoder* rawEncoder = nullptr;
    if (heif_context_get_encoder_for_format(context.get(), heif_compression_AV1, &rawEncoder).code !=
        heif_error_Ok) {
        Refuse("no AVIF encoder is installed (libheif has no AV1 encoder)");
        return {};
    }
    const HeifEncoder encoder(rawEncoder);
    if (AvifFailed(heif_encoder_set_lossy_quality(encoder.get(), quality))) return {};

    const int width = surface.Width(), height = surface.Height();
    heif_image* rawImage = nullptr;
    if (AvifFailed(
            heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &rawImage)))
        return {};
    const HeifImage image(rawImage);
    if (AvifFailed(heif_image_add_plane(image.get(), heif_channel_interleaved, width, height, 8))) return {};
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr) return {};
    for (Long y = 0; y < height; ++y) {
        const uint8_t* in = surface.PictureRow(y);
        uint8_t* out = plane + static_cast<size_t>(y) * static_cast<size_t>(stride);
        for (int x = 0; x < width; ++x, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    if (!icc.empty() &&
        heif_image_set_raw_color_profile(image.get(), "prof", icc.data(), icc.size()).code != heif_error_Ok)
        return {};
    if (AvifFailed(heif_context_encode_image(context.get(), image.get(), encoder.get(), nullptr, nullptr)))
        return {};
    std::vector<uint8_t> out;
    heif_writer writer{1, AppendHeif};
    if (AvifFailed(heif_context_write(context.get(), &writer, &out))) return {};
    return out;
}

}  // namespace

std::vector<uint8_t> EncodeSurface(const cDIBSection& surface, OutputFormat format, Long quality,
                                   std::span<const uint8_t> iccProfile)
{
    try {
        if (quality < 1 || quality > 100) {
            Refuse("the quality must be from 1 to 100, not " + std::to_string(quality));
            return {};
        }
        if (!surface.IsLive() || surface.Width() <= 0 || surface.Height() <= 0) {
            Refuse("there is no picture to write");
            return {};
        }
        switch (format) {
        case OutputFormat::Png: return EncodePng(surface, iccProfile);
        case OutputFormat::Webp: return EncodeWebp(surface, quality, iccProfile);
        case OutputFormat::Avif: return EncodeAvif(surface, quality, iccProfile);
        case OutputFormat::Jpeg: break;
        }
    } catch (const std::bad_alloc&) {
        Refuse("out of memory");
    } catch (...) {}
    return {};
}

bool SaveSurfaceAs(const cDIBSection& surface, const std::string& path, Long quality, OutputFormat format,
                   std::span<const uint8_t> iccProfile)
{
    const std::vector<uint8_t> encoded = EncodeSurface(surface, format, quality, iccProfile);
    return !encoded.empty() && SaveEncodedFile(path, encoded);
}

}  // namespace kx
