// GIF input through giflib, reading from memory. Only the first image is
// decoded (an animation shows its first frame): the records before it are
// walked one by one, so later frames are never read. The picture is the
// logical screen, white where the image does not cover it or is transparent.
#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/DecodeLimits.h"
#include "engine/files/FailureReason.h"
#include "engine/files/MemoryBudget.h"
#include "engine/files/PictureDecoders.h"
#include "engine/surface/AlphaPlane.h"

namespace kx {

namespace {

// With 12-bit codes the LZW dictionary holds strings of at most about 4090
// pixels, and once it is full every further code (12 bits) may emit such a
// string: under 2730 pixels per byte. 4096 leaves room above that.
constexpr int64_t kGifMaxPixelsPerByte = 4096;

struct MemorySource {
    std::span<const uint8_t> data;
    size_t position = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int count)
{
    auto* source = static_cast<MemorySource*>(gif->UserData);
    if (count <= 0) return 0;
    const size_t n = std::min(static_cast<size_t>(count), source->data.size() - source->position);
    std::memcpy(out, source->data.data() + source->position, n);
    source->position += n;
    return static_cast<int>(n);
}

struct GifDeleter {
    void operator()(GifFileType* gif) const
    {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifHandle = std::unique_ptr<GifFileType, GifDeleter>;

// What one palette index paints: a colour, or nothing (transparent).
struct Paint {
    uint8_t b = 0, g = 0, r = 0;
    bool opaque = true;
};

// Reads the records up to the first image descriptor, taking the transparent
// index from a Graphic Control Extension on the way. False when the stream
// ends or breaks before an image.
bool ReadUpToFirstImage(GifFileType* gif, int* transparentIndex)
{
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
        if (type == IMAGE_DESC_RECORD_TYPE) return DGifGetImageDesc(gif) != GIF_ERROR;
        if (type != EXTENSION_RECORD_TYPE) return false;

        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
            GraphicsControlBlock gcb;
            if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK)
                *transparentIndex = gcb.TransparentColor;
        }
        while (block != nullptr)
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    }
}

}  // namespace

bool DecodeGif(std::span<const uint8_t> file, cDIBSection& surface, AlphaPlane* alpha)
{
    try {
        if (file.size() < 6 || std::memcmp(file.data(), "GIF", 3) != 0) return false;
        MemorySource source{file, 0};
        int error = 0;
        GifHandle gif(DGifOpen(&source, ReadFromMemory, &error));
        if (!gif) return Refuse(std::string("the GIF decoder says: ") + GifErrorString(error));

        int transparentIndex = NO_TRANSPARENT_COLOR;
        if (!ReadUpToFirstImage(gif.get(), &transparentIndex))
            return Refuse("corrupt GIF data: no picture in it");
        const GifImageDesc& image = gif->Image;
        if (image.Width <= 0 || image.Height <= 0 || image.Left < 0 || image.Top < 0) return false;

        // A screen of zero width or height is taken from the image's extent.
        const int64_t width = gif->SWidth > 0 ? gif->SWidth : int64_t{image.Left} + image.Width;
        const int64_t height = gif->SHeight > 0 ? gif->SHeight : int64_t{image.Top} + image.Height;
        if (!SurfaceSizeAllowed(width, height)) return Refuse(TooLargeReason(width, height));
        if (!SizePlausible(width, height, static_cast<int64_t>(file.size()), kGifMaxPixelsPerByte))
            return Refuse("truncated GIF data: too few bytes for its size");

        // Without a local or global colour table the colours are undefined.
        const ColorMapObject* map = image.ColorMap != nullptr ? image.ColorMap : gif->SColorMap;
        if (map == nullptr || map->Colors == nullptr) return Refuse("corrupt GIF data: no colour table");
        std::array<Paint, 256> paints{};  // indices beyond the table paint black
        const int colours = std::min(map->ColorCount, 256);
        for (int i = 0; i < colours; ++i)
            paints[i] = {map->Colors[i].Blue, map->Colors[i].Green, map->Colors[i].Red, true};
        const bool transparent = transparentIndex >= 0 && transparentIndex < 256;
        if (transparent) paints[transparentIndex].opaque = false;
        if (!transparent) alpha = nullptr;

        if (!PictureNeeds()
                 .Bytes(static_cast<int64_t>(file.size()) + kLibraryStateBytes)
                 .Surface(width, height)
                 .Pixels(image.Width, 1, sizeof(GifPixelType))
                 .Pixels(alpha ? width : 0, height, 1)
                 .Reserve())
            return false;
        if (!surface.Create(static_cast<Long>(width), static_cast<Long>(height))) return false;
        for (Long y = 0; y < height; ++y) std::memset(surface.PictureRow(y), 0xFF, width * 3);
        // With a plane, the transparent colour's pixels are transparent; the
        // rest of the screen stays opaque white.
        if (alpha && !alpha->Create(surface.Width(), surface.Height())) return false;
        for (Long y = 0; alpha && y < height; ++y) std::memset(alpha->Row(y), 0xFF, width);

        // The image is clipped to the screen.
        const int columns = static_cast<int>(std::clamp<int64_t>(width - image.Left, 0, image.Width));
        std::vector<GifPixelType> line(image.Width);
        auto paintRow = [&](int imageRow) {
            const int64_t y = int64_t{image.Top} + imageRow;
            if (y >= height || columns == 0) return;
            uint8_t* out = surface.PictureRow(static_cast<Long>(y)) + 3 * image.Left;
            uint8_t* a = alpha ? alpha->PictureRow(static_cast<Long>(y)) + image.Left : nullptr;
            for (int x = 0; x < columns; ++x, out += 3) {
                const Paint& p = paints[line[x]];
                if (!p.opaque && a) a[x] = 0;
                if (!p.opaque) continue;
                out[0] = p.b;
                out[1] = p.g;
                out[2] = p.r;
            }
        };

        // Rows come in the stored order: four passes when interlaced. Data
        // that breaks off (truncated or corrupt LZW) keeps the rows decoded
        // so far and leaves the rest white, as a partly received picture
        // would look; but an image whose first stored row does not decode
        // shows nothing of itself, and fails.
        static constexpr int kPassStart[] = {0, 4, 2, 1};
        static constexpr int kPassStep[] = {8, 8, 4, 2};
        const int passes = image.Interlace ? 4 : 1;
        bool anyRow = false;
        for (int pass = 0; pass < passes; ++pass) {
            const int step = image.Interlace ? kPassStep[pass] : 1;
            for (int row = image.Interlace ? kPassStart[pass] : 0; row < image.Height; row += step) {
                if (DGifGetLine(gif.get(), line.data(), image.Width) == GIF_ERROR)
                    return anyRow || Refuse("corrupt GIF data: its first row does not decode");
                paintRow(row);
                anyRow = true;
            }
        }
        return true;
    } catch (...) {
        return false;
    }
}

bool DecodeGif(std::span<const uint8_t> file, cDIBSection& surface)
{
    return DecodeGif(file, surface, nullptr);
}

}  // namespace kx
