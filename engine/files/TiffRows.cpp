// TIFF rows for the streaming path, through libtiff's RGBA conversion (the
// same as the whole-picture decoder's) but never for the whole raster:
// - strips of contiguous samples (not YCbCr): one scanline at a time,
//   converted by the RGBA image's own row routine, whatever the strip's size;
// - tiles: one band of tiles at a time;
// - other strips (separate planes, YCbCr): one strip at a time.
// In the modern mode, CMYK and Lab samples are read as stored and converted
// through their profile instead (TiffColour.h).
// The file is read through libtiff's client procedures from the descriptor.
#include <tiffio.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "engine/files/DecodeLimits.h"
#include "engine/files/FailureReason.h"
#include "engine/files/ModernDecoders.h"
#include "engine/files/PictureFile.h"
#include "engine/files/RowSources.h"
#include "engine/files/TiffColour.h"
#include "engine/files/TiffHandles.h"

namespace kx {

namespace {

struct FileHandle {
    int fd;
    int64_t size;
    uint64_t position = 0;
};

tmsize_t ReadProc(thandle_t handle, void* into, tmsize_t count)
{
    auto* file = static_cast<FileHandle*>(handle);
    if (count <= 0 || file->position >= static_cast<uint64_t>(file->size)) return 0;
    const int64_t got = ReadAt(file->fd, static_cast<uint8_t*>(into),
                               std::min<uint64_t>(static_cast<uint64_t>(count), file->size - file->position),
                               static_cast<int64_t>(file->position));
    if (got < 0) return -1;
    file->position += static_cast<uint64_t>(got);
    return static_cast<tmsize_t>(got);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekProc(thandle_t handle, toff_t offset, int whence)
{
    auto* file = static_cast<FileHandle*>(handle);
    return SeekWithin(file->position, static_cast<uint64_t>(file->size), offset, whence);
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<toff_t>(static_cast<FileHandle*>(handle)->size); }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}
// Largest compressed strip or tile, at most the file.
int64_t LargestStrile(TIFF* tif, int64_t fileSize)
{
    uint64_t most = 0;
    const uint32_t count = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    for (uint32_t i = 0; i < count && most < static_cast<uint64_t>(fileSize); ++i)
        most = std::max(most, TIFFGetStrileByteCount(tif, i));
    return std::min<int64_t>(static_cast<int64_t>(std::min<uint64_t>(most, INT64_MAX)), fileSize);
}

// CMYK and Lab rows through their profile (the modern mode), one scanline
// or one band of tiles at a time.
StreamOutcome StreamManaged(TIFF* tif, TiffProfileRows& rows, int64_t fileSize, RowReducer& reducer,
                            PictureMetadata& metadata)
{
    uint32_t width = 0, height = 0;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    if (orientation < 1 || orientation > 8) orientation = ORIENTATION_TOPLEFT;
    if (!reducer.Reduces(static_cast<Long>(width), static_cast<Long>(height), orientation))
        return StreamOutcome::WholePicture;
    // The conversion's buffer and tables, libtiff's decoded strip or tile
    // and its compressed one, the codec's state and a BGR row.
    const int64_t decoded = static_cast<int64_t>(
        std::min<uint64_t>(TIFFIsTiled(tif) ? TIFFTileSize64(tif) : TIFFStripSize64(tif), kMaxSurfaceBytes));
    if (!reducer.Start(rows.Bytes() + decoded + LargestStrile(tif, fileSize) + (int64_t{1} << 20) +
                       int64_t{width} * 3))
        return StreamOutcome::Failed;
    if (!rows.Start()) {
        Refuse("out of memory");
        return StreamOutcome::Failed;
    }
    std::vector<uint8_t> bgr(static_cast<size_t>(width) * 3);
    for (uint32_t y = 0; y < height; ++y) {
        if (!rows.NextRow(bgr.data())) return StreamOutcome::Failed;
        reducer.Push(bgr.data());
    }
    ReadTiffMetadata(tif, metadata);
    return StreamOutcome::Done;
}

}  // namespace

StreamOutcome StreamTiff(const PictureSource& file, RowReducer& reducer, PictureMetadata& metadata)
{
    const std::unique_ptr<TIFFOpenOptions, TiffOptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (!options) return StreamOutcome::WholePicture;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxSurfaceBytes);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), QuietTiff, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), QuietTiff, nullptr);
    FileHandle handle{file.Fd, file.Size};
    const std::unique_ptr<TIFF, TiffDeleter> tif(TIFFClientOpenExt("picture", "rm", &handle, ReadProc,
                                                                   WriteProc, SeekProc, CloseProc, SizeProc,
                                                                   MapProc, UnmapProc, options.get()));
    if (!tif) return StreamOutcome::WholePicture;
    uint32_t width = 0, height = 0;
    if (TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height) != 1)
        return StreamOutcome::WholePicture;
    if (!StreamedSizeAllowed(width, height, file.Size) ||
        !SizePlausible(width, height, file.Size, kModernMaxPixelsPerByte))
        return StreamOutcome::WholePicture;
    TiffProfileRows managed;
    if (managed.Open(tif.get(), PixelOut::Bgr))
        return StreamManaged(tif.get(), managed, file.Size, reducer, metadata);
    char message[1024] = {};
    if (TIFFRGBAImageOK(tif.get(), message) != 1) return StreamOutcome::WholePicture;
    TIFFRGBAImage image;
    if (TIFFRGBAImageBegin(&image, tif.get(), 1, message) != 1) return StreamOutcome::WholePicture;
    const RgbaImageEnd end{&image};
    const int orientation = image.orientation >= 1 && image.orientation <= 8 ? image.orientation : 1;
    // The pixels as stored, top row first.
    image.orientation = ORIENTATION_TOPLEFT;
    image.req_orientation = ORIENTATION_TOPLEFT;
    if (!reducer.Reduces(static_cast<Long>(width), static_cast<Long>(height), orientation))
        return StreamOutcome::WholePicture;
    const bool keepAlpha = image.alpha != 0 && reducer.KeepsAlpha();
    if (keepAlpha) reducer.WithAlpha();

    const bool tiled = TIFFIsTiled(tif.get()) != 0;
    const bool byScanline =
        !tiled && image.isContig && image.put.contig != nullptr && image.photometric != PHOTOMETRIC_YCBCR;
    uint32_t band = 1;  // rows converted at once
    if (tiled) {
        if (TIFFGetField(tif.get(), TIFFTAG_TILELENGTH, &band) != 1) return StreamOutcome::WholePicture;
    } else if (!byScanline) {
        if (TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ROWSPERSTRIP, &band) != 1)
            return StreamOutcome::WholePicture;
    }
    band = std::clamp<uint32_t>(band, 1, height);
    const int64_t rasterBytes = int64_t{width} * band * 4;
    const int64_t decoded =
        static_cast<int64_t>(std::min<uint64_t>(tiled        ? TIFFTileSize64(tif.get())
                                                : byScanline ? TIFFScanlineSize64(tif.get())
                                                             : TIFFStripSize64(tif.get()),
                                                kMaxSurfaceBytes));
    // The raster, libtiff's decoded strip or tile (a band of tiles side by
    // side), its compressed one, the codec's state and a BGR row.
    const int64_t tilesAcross = tiled ? int64_t{width} : 1;
    if (!reducer.Start(rasterBytes + decoded * std::min<int64_t>(tilesAcross, 2) +
                       LargestStrile(tif.get(), file.Size) + (int64_t{1} << 20) +
                       int64_t{width} * (keepAlpha ? 4 : 3)))
        return StreamOutcome::Failed;
    std::vector<uint32_t> raster(static_cast<size_t>(width) * band);
    std::vector<uint8_t> bgr(static_cast<size_t>(width) * 3), alpha(keepAlpha ? width : 0);
    std::vector<uint8_t> scanline(byScanline ? static_cast<size_t>(decoded) : 0);
    for (uint32_t y = 0; y < height; y += band) {
        const uint32_t rows = std::min(band, height - y);
        if (byScanline) {
            if (TIFFReadScanline(tif.get(), scanline.data(), y, 0) != 1) return StreamOutcome::Failed;
            image.put.contig(&image, raster.data(), 0, 0, width, 1, 0, 0, scanline.data());
        } else {
            image.row_offset = static_cast<int>(y);
            if (TIFFRGBAImageGet(&image, raster.data(), width, rows) != 1) return StreamOutcome::Failed;
        }
        for (uint32_t i = 0; i < rows; ++i) {
            const uint32_t* abgr = raster.data() + static_cast<size_t>(i) * width;
            if (keepAlpha) {
                AbgrRowSplit(abgr, static_cast<Long>(width), bgr.data(), alpha.data());
                reducer.Push(bgr.data(), alpha.data());
                continue;
            }
            AbgrRowOverWhite(abgr, static_cast<Long>(width), bgr.data());
            reducer.Push(bgr.data());
        }
    }
    ReadTiffMetadata(tif.get(), metadata);
    return StreamOutcome::Done;
}

}  // namespace kx
