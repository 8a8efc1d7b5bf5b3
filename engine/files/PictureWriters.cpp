// PNG through libpng, WebP through libwebp (with its muxer for the colour
// profile) and AVIF through libheif's AV1 encoder. The surface's rows are
// handed over top row first, straight from its buffer where the library
// takes BGR (PNG, WebP); AVIF needs its own RGB image.
#include "engine/files/PictureWriters.h"

#include <libheif/heif.h>
#include <png.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "engine/files/FailureReason.h"
#include "engine/files/HeifHandles.h"
#include "engine/files/mIntelJPEGLibrary.h"
#include "engine/surface/AlphaPlane.h"

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
bool EncodePngRows(png_structp png, png_infop info, const cDIBSection& surface,
                   const PictureMetadata& metadata, png_text* xmp, png_bytepp rows, bool withAlpha)
{
    if (setjmp(png_jmpbuf(png))) return false;
    // A profile libpng finds faulty is left out rather than failing the write.
    png_set_benign_errors(png, 1);
    png_set_IHDR(png, info, static_cast<png_uint_32>(surface.Width()),
                 static_cast<png_uint_32>(surface.Height()), 8,
                 withAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const std::vector<uint8_t>& icc = metadata.IccProfile;
    if (!icc.empty())
        png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, icc.data(),
                     static_cast<png_uint_32>(icc.size()));
    // libpng copies the block; it takes a non-const pointer only.
    if (!metadata.Exif.empty())
        png_set_eXIf_1(png, info, static_cast<png_uint_32>(metadata.Exif.size()),
                       const_cast<png_bytep>(metadata.Exif.data()));
    if (xmp) png_set_text(png, info, xmp, 1);
    png_write_info(png, info);
    png_set_bgr(png);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

// The picture's rows top row first as BGRA, for the encoders that take alpha.
std::vector<uint8_t> BgraRows(const cDIBSection& surface, const AlphaPlane& alpha)
{
    const size_t width = static_cast<size_t>(surface.Width());
    std::vector<uint8_t> bgra(width * 4 * static_cast<size_t>(surface.Height()));
    for (Long y = 0; y < surface.Height(); ++y) {
        const uint8_t* in = surface.PictureRow(y);
        const uint8_t* a = alpha.PictureRow(y);
        uint8_t* out = bgra.data() + static_cast<size_t>(y) * width * 4;
        for (size_t x = 0; x < width; ++x, in += 3, out += 4) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = a[x];
        }
    }
    return bgra;
}

std::vector<uint8_t> EncodePng(const cDIBSection& surface, const PictureMetadata& metadata,
                               const AlphaPlane* alpha)
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
    std::vector<uint8_t> bgra = alpha ? BgraRows(surface, *alpha) : std::vector<uint8_t>();
    for (Long y = 0; y < surface.Height(); ++y)
        rows[static_cast<size_t>(y)] =
            alpha ? bgra.data() + static_cast<size_t>(y) * static_cast<size_t>(surface.Width()) * 4
                  : const_cast<png_bytep>(surface.PictureRow(y));
    // XMP as uncompressed international text, as XMP readers look for it.
    std::string xmpText(metadata.Xmp.begin(), metadata.Xmp.end());
    png_text xmp{};
    xmp.compression = PNG_ITXT_COMPRESSION_NONE;
    xmp.key = const_cast<png_charp>("XML:com.adobe.xmp");
    xmp.text = xmpText.data();
    xmp.itxt_length = xmpText.size();
    const bool withXmp = !xmpText.empty() && xmpText.find('\0') == std::string::npos;
    if (!EncodePngRows(png.get(), info, surface, metadata, withXmp ? &xmp : nullptr, rows.data(),
                       alpha != nullptr))
        return {};
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

std::vector<uint8_t> EncodeWebp(const cDIBSection& surface, Long quality, const PictureMetadata& metadata,
                                const AlphaPlane* alpha)
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
    if (alpha) {
        const std::vector<uint8_t> bgra = BgraRows(surface, *alpha);
        if (!WebPPictureImportBGRA(&picture, bgra.data(), surface.Width() * 4)) return {};
    } else if (!WebPPictureImportBGR(&picture, surface.PictureRow(0), -surface.BytesPerScanLine())) {
        return {};
    }
    if (!WebPEncode(&config, &picture)) {
        Refuse("the WebP encoder failed (error " + std::to_string(picture.error_code) + ")");
        return {};
    }
    const std::pair<const char*, const std::vector<uint8_t>*> chunks[] = {
        {"ICCP", &metadata.IccProfile}, {"EXIF", &metadata.Exif}, {"XMP ", &metadata.Xmp}};
    if (std::all_of(std::begin(chunks), std::end(chunks), [](const auto& c) { return c.second->empty(); }))
        return std::vector<uint8_t>(memory.mem, memory.mem + memory.size);

    const std::unique_ptr<WebPMux, WebPMuxDeleter> mux(WebPMuxNew());
    if (!mux) return {};
    const WebPData image{memory.mem, memory.size};
    if (WebPMuxSetImage(mux.get(), &image, 0) != WEBP_MUX_OK) return {};
    for (const auto& [fourcc, bytes] : chunks) {
        const WebPData chunk{bytes->data(), bytes->size()};
        if (!bytes->empty() && WebPMuxSetChunk(mux.get(), fourcc, &chunk, 0) != WEBP_MUX_OK) return {};
    }
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

std::vector<uint8_t> EncodeAvif(const cDIBSection& surface, Long quality, const PictureMetadata& metadata,
                                const AlphaPlane* alpha)
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
    if (AvifFailed(heif_image_create(width, height, heif_colorspace_RGB,
                                     alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                                     &rawImage)))
        return {};
    const HeifImage image(rawImage);
    if (AvifFailed(heif_image_add_plane(image.get(), heif_channel_interleaved, width, height, 8))) return {};
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr) return {};
    const int channels = alpha ? 4 : 3;
    for (Long y = 0; y < height; ++y) {
        const uint8_t* in = surface.PictureRow(y);
        uint8_t* out = plane + static_cast<size_t>(y) * static_cast<size_t>(stride);
        for (int x = 0; x < width; ++x, in += 3, out += channels) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            if (alpha) out[3] = alpha->PictureRow(y)[x];
        }
    }
    const std::vector<uint8_t>& icc = metadata.IccProfile;
    if (!icc.empty() &&
        heif_image_set_raw_color_profile(image.get(), "prof", icc.data(), icc.size()).code != heif_error_Ok)
        return {};
    // Pixels not upright get irot/imir, which HEIF readers apply when they
    // decode; the EXIF tag inside a HEIF file is only informative.
    HeifEncodingOptions options;
    if (metadata.Orientation >= 2 && metadata.Orientation <= 8) {
        options.reset(heif_encoding_options_alloc());
        if (!options) return {};
        options->image_orientation = static_cast<heif_orientation>(metadata.Orientation);
    }
    heif_image_handle* rawHandle = nullptr;
    if (AvifFailed(
            heif_context_encode_image(context.get(), image.get(), encoder.get(), options.get(), &rawHandle)))
        return {};
    const HeifHandle handle(rawHandle);
    if (!metadata.Exif.empty() &&
        AvifFailed(heif_context_add_exif_metadata(context.get(), handle.get(), metadata.Exif.data(),
                                                  static_cast<int>(metadata.Exif.size()))))
        return {};
    if (!metadata.Xmp.empty() &&
        AvifFailed(heif_context_add_XMP_metadata(context.get(), handle.get(), metadata.Xmp.data(),
                                                 static_cast<int>(metadata.Xmp.size()))))
        return {};
    std::vector<uint8_t> out;
    heif_writer writer{1, AppendHeif};
    if (AvifFailed(heif_context_write(context.get(), &writer, &out))) return {};
    return out;
}

}  // namespace

std::vector<uint8_t> EncodeSurface(const cDIBSection& surface, OutputFormat format, Long quality,
                                   const PictureMetadata& metadata, const AlphaPlane* alpha)
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
        // A plane that does not match the surface is not the picture's.
        if (alpha &&
            (!alpha->IsLive() || alpha->Width() != surface.Width() || alpha->Height() != surface.Height()))
            alpha = nullptr;
        switch (format) {
        case OutputFormat::Png: return EncodePng(surface, metadata, alpha);
        case OutputFormat::Webp: return EncodeWebp(surface, quality, metadata, alpha);
        case OutputFormat::Avif: return EncodeAvif(surface, quality, metadata, alpha);
        case OutputFormat::Jpeg: break;
        }
    } catch (const std::bad_alloc&) {
        Refuse("out of memory");
    } catch (...) {}
    return {};
}

bool SaveSurfaceAs(const cDIBSection& surface, const std::string& path, Long quality, OutputFormat format,
                   const PictureMetadata& metadata, const AlphaPlane* alpha)
{
    const std::vector<uint8_t> encoded = EncodeSurface(surface, format, quality, metadata, alpha);
    return !encoded.empty() && SaveEncodedFile(path, encoded);
}

}  // namespace kx
