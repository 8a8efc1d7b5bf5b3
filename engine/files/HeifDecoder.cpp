// HEIF input (HEIC, coded with HEVC, and AVIF, coded with AV1) through
// libheif. libheif applies the container's transforms (irot, imir, clap) when
// it decodes, which is what makes the picture upright: an EXIF orientation
// inside a HEIF file is informative only and is not applied again.
#include <libheif/heif.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/ByteOrder.h"
#include "engine/files/DecodeLimits.h"
#include "engine/files/FailureReason.h"
#include "engine/files/HeifBoxes.h"
#include "engine/files/HeifHandles.h"
#include "engine/files/MemoryBudget.h"
#include "engine/files/ModernDecoders.h"
#include "engine/surface/AlphaPlane.h"

namespace kx {

namespace {

// The first metadata block of `type` (and, for "mime", of `contentType`),
// counted in the memory budget; empty when none, too large or unreadable.
std::vector<uint8_t> MetadataBlock(const heif_image_handle* handle, const char* type,
                                   const char* contentType = nullptr)
{
    constexpr int kMaxBlocks = 16;
    heif_item_id ids[kMaxBlocks] = {};
    const int count = heif_image_handle_get_list_of_metadata_block_IDs(handle, type, ids, kMaxBlocks);
    for (int i = 0; i < count; ++i) {
        const char* content = heif_image_handle_get_metadata_content_type(handle, ids[i]);
        if (contentType && (!content || std::strcmp(content, contentType) != 0)) continue;
        const size_t size = heif_image_handle_get_metadata_size(handle, ids[i]);
        if (size == 0 || size > (size_t{64} << 20) || !CountMorePictureMemory(static_cast<int64_t>(size)))
            return {};
        std::vector<uint8_t> block(size);
        if (heif_image_handle_get_metadata(handle, ids[i], block.data()).code != heif_error_Ok) return {};
        return block;
    }
    return {};
}

// The EXIF block of an item is preceded by a 4-byte offset to its TIFF header.
std::vector<uint8_t> ReadExif(const heif_image_handle* handle)
{
    std::vector<uint8_t> block = MetadataBlock(handle, "Exif");
    if (block.size() < 4 || BigEndian32(block.data()) > block.size() - 4) return {};
    block.erase(block.begin(), block.begin() + 4 + BigEndian32(block.data()));
    return block;
}

bool Failed(const heif_error& error) { return HeifFailed(error, "HEIF decoder"); }

// The engine's limits for a side of width x height, with the reason.
bool SizeAccepted(int64_t width, int64_t height, size_t fileBytes)
{
    if (!SurfaceSizeAllowed(width, height)) return Refuse(TooLargeReason(width, height));
    if (!SizePlausible(width, height, static_cast<int64_t>(fileBytes), kModernMaxPixelsPerByte))
        return Refuse("truncated HEIF data: too few bytes for its size");
    return true;
}

}  // namespace

bool DecodeHeif(std::span<const uint8_t> file, cDIBSection& surface, PictureMetadata* metadata,
                AlphaPlane* alphaPlane)
{
    try {
        if (!LooksLikeHeif(file)) return false;
        HeifContext context(heif_context_alloc());
        if (!context) return false;
        // libheif's own limit, a square of this side: a first line of defence
        // before the checks below.
        heif_context_set_maximum_image_size_limit(context.get(), static_cast<int>(kMaxPictureSide));
        if (Failed(
                heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(), nullptr)))
            return false;
        heif_image_handle* rawHandle = nullptr;
        if (Failed(heif_context_get_primary_image_handle(context.get(), &rawHandle))) return false;
        const HeifHandle handle(rawHandle);

        // The upright size (after rotation and crop): checked before anything
        // of the picture's size is allocated.
        const int64_t width = heif_image_handle_get_width(handle.get());
        const int64_t height = heif_image_handle_get_height(handle.get());
        const int64_t codedWidth = heif_image_handle_get_ispe_width(handle.get());
        const int64_t codedHeight = heif_image_handle_get_ispe_height(handle.get());
        if (!SizeAccepted(width, height, file.size())) return false;
        // A grid or crop may make the coded picture larger than the shown one.
        const bool coded = codedWidth > 0 && codedHeight > 0;
        if (coded && !SizeAccepted(codedWidth, codedHeight, file.size())) return false;
        // A grid or overlay makes a picture of the size its own data declares,
        // which libheif allocates whatever the size above says; and a derived
        // picture made of an item that is no picture stops libheif.
        if (!HeifDerivedPicturesSound(file, codedWidth, codedHeight)) return false;

        // libheif holds the decoded planes (up to 4:4:4, 1 or 2 bytes a
        // sample), the codec its own frame, and the conversion the
        // interleaved picture, beside the surface.
        const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
        const int64_t sampleBytes = heif_image_handle_get_luma_bits_per_pixel(handle.get()) > 8 ? 2 : 1;
        const int64_t planes = (alpha ? 4 : 3) * sampleBytes;
        if (!PictureNeeds()
                 .Bytes(static_cast<int64_t>(file.size()) + kLibraryStateBytes)
                 .Pixels(coded ? codedWidth : width, coded ? codedHeight : height, planes + planes / 2)
                 .Pixels(width, height, alpha ? 4 : 3)
                 .Pixels(alpha && alphaPlane ? width : 0, height, 1)
                 .Surface(width, height)
                 .Reserve())
            return false;
        HeifDecodingOptions options(heif_decoding_options_alloc());
        if (!options) return false;
        options->convert_hdr_to_8bit = 1;
        heif_image* rawImage = nullptr;
        if (Failed(heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                                     alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                                     options.get())))
            return false;
        const HeifImage image(rawImage);
        if (heif_image_get_width(image.get(), heif_channel_interleaved) != width ||
            heif_image_get_height(image.get(), heif_channel_interleaved) != height ||
            heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8)
            return false;
        int stride = 0;
        const uint8_t* pixels = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
        if (pixels == nullptr || stride < width * (alpha ? 4 : 3)) return false;

        if (!surface.Create(static_cast<Long>(width), static_cast<Long>(height))) return false;
        const bool keepAlpha = alpha && alphaPlane && alphaPlane->Create(surface.Width(), surface.Height());
        for (Long y = 0; y < height; ++y) {
            const uint8_t* in = pixels + static_cast<size_t>(y) * static_cast<size_t>(stride);
            uint8_t* out = surface.PictureRow(y);
            if (keepAlpha) {
                uint8_t* a = alphaPlane->PictureRow(y);
                for (Long x = 0; x < width; ++x, in += 4, out += 3) {
                    out[0] = in[2];
                    out[1] = in[1];
                    out[2] = in[0];
                    a[x] = in[3];
                }
            } else if (alpha) {
                for (Long x = 0; x < width; ++x, in += 4, out += 3) {
                    out[0] = OverWhite(in[2], in[3]);
                    out[1] = OverWhite(in[1], in[3]);
                    out[2] = OverWhite(in[0], in[3]);
                }
            } else {
                for (Long x = 0; x < width; ++x, in += 3, out += 3) {
                    out[0] = in[2];
                    out[1] = in[1];
                    out[2] = in[0];
                }
            }
        }

        if (metadata != nullptr) {
            metadata->Orientation = 1;  // the container's transforms are applied
            metadata->IccProfile.clear();
            const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle.get());
            const size_t profileSize = heif_image_handle_get_raw_color_profile_size(handle.get());
            if ((type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) &&
                profileSize > 0 && profileSize < (size_t{64} << 20)) {
                metadata->IccProfile.resize(profileSize);
                if (heif_image_handle_get_raw_color_profile(handle.get(), metadata->IccProfile.data()).code !=
                    heif_error_Ok)
                    metadata->IccProfile.clear();
            }
            metadata->Exif = ReadExif(handle.get());
            metadata->Xmp = MetadataBlock(handle.get(), "mime", "application/rdf+xml");
        }
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace kx
