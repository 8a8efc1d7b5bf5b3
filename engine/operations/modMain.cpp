#include "engine/operations/modMain.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

#include "common/modErrorReport.h"
#include "common/modImageInfo.h"
#include "engine/files/ColourManagement.h"
#include "engine/files/FailureReason.h"
#include "engine/files/MemoryBudget.h"
#include "engine/files/MetadataTransfer.h"
#include "engine/files/PictureWriters.h"
#include "engine/files/RowSources.h"
#include "engine/files/mIntelJPEGLibrary.h"
#include "engine/operations/Proportions.h"
#include "engine/surface/AlphaPlane.h"
#include "engine/surface/LanczosResample.h"
#include "engine/surface/cDIBSection.h"

namespace kx {

namespace {

// Runs an operation's body; a run-time error that escapes it is reported
// under the operation's name and gives `fallback`. The memory reserved for
// the operation's picture is given back when it ends.
template <typename Result, typename Body>
Result Guarded(const char* procedure, Result fallback, Body&& body)
{
    // What the operation reserved in the memory budget goes back when it ends.
    const PictureMemoryScope reservation;
    try {
        return body();
    } catch (const RunTimeError& e) {
        ReportError(procedure, e.Description(), e.Number());
    } catch (const std::bad_alloc&) {
        ReportError(procedure, StandardDescription(errOutOfMemory), errOutOfMemory);
    } catch (const std::exception& e) {
        ReportError(procedure, e.what(), errInvalidCall);
    }
    return fallback;
}

bool Fail(Long code)
{
    ErrorCode() = code;
    return false;
}

// Width or height scaled by a percentage: round((size / 100) * percent).
Long Scaled(Long size, Long percent) { return RoundTo<Long>((size / 100.0) * percent); }

// The whole percentage that takes `from` to `to`: round(to / (from / 100)).
Long WholePercent(Long to, Long from) { return RoundTo<Long>(CheckedDivide(to, from / 100.0)); }

// The size the operations work with: the upright picture's, or the stored
// one's when pictures are not turned upright. The antialiased filter reduces
// rows as they are decoded, so it takes pictures too large to hold whole.
ImageInfo SourceInfo(const std::string& path, const EngineSettings& settings)
{
    ImageInfo info = GetImageInfo(
        path, settings.Filter == ResampleFilter::Lanczos ? ProbedSizes::Streamed : ProbedSizes::Loadable);
    if (!settings.AutoOrient && info.Orientation >= 5) std::swap(info.Width, info.Height);
    return info;
}

// The picture's size from its header, as the operations see it; a missing,
// unreadable or unrecognised file fails with ecInputNotLoaded instead of
// giving 0.
bool ProbeOrFail(const std::string& InImage, const EngineSettings& settings, PictureSize& size)
{
    const ImageInfo info = SourceInfo(InImage, settings);
    size = {info.Width, info.Height};
    if (size.Width > 0 && size.Height > 0) return true;
    // The loader says why (no such file, a folder, not a picture, ...); the
    // smallest target keeps a JPEG's decode at its cheapest.
    cDIBSection unused;
    PictureMetadata ignored;
    LoadPictureFile(unused, InImage, ignored, settings.AutoOrient, ShrinkTarget{1, 1});
    return Fail(ecInputNotLoaded);
}

// Every operation reads its input here, so that settings about how pictures
// are read apply to all of them alike.
bool LoadOrFail(cDIBSection& surface, PictureMetadata& metadata, const std::string& InImage,
                const EngineSettings& settings, const ShrinkTarget& shrink = {}, AlphaPlane* alpha = nullptr)
{
    SetCmykThroughProfile(settings.ColourManage);
    return LoadPictureFile(surface, InImage, metadata, settings.AutoOrient, shrink, alpha) ||
           Fail(ecInputNotLoaded);
}

// The memory for resampling the loaded picture to Width x Height: the new
// surface beside the loaded one, and the filters' rows and weights; with
// `alpha`, both planes and the plane's filter rows too.
bool ReserveResampling(const cDIBSection& surface, Long Width, Long Height, bool alpha = false)
{
    const int64_t planes = alpha ? 1 : 0;
    return EnsurePictureMemory(PictureNeeds()
                                   .Surface(surface.Width(), surface.Height())
                                   .Surface(Width, Height)
                                   .Bytes(kLibraryStateBytes)
                                   .Pixels(surface.Width(), 16, 1)
                                   .Pixels(surface.Width(), surface.Height(), planes)
                                   .Pixels(Width, Height, planes)
                                   .Pixels(surface.Width(), 6, planes)
                                   .Total()) ||
           Fail(ecResampleFailed);
}

// Whether the picture's transparency is wanted: kept in the formats that
// have alpha, or flattened onto the background after resampling.
bool WantsAlpha(const EngineSettings& settings)
{
    return settings.KeepAlpha && settings.Filter == ResampleFilter::Lanczos &&
           (settings.Format != OutputFormat::Jpeg || settings.Background >= 0);
}

// Loads InImage and resamples it to Width x Height with the object's filter.
// The antialiased filter lets a JPEG picture decode at a reduced scale.
// Transparency that is wanted comes in `alpha` (left empty for an opaque
// picture), or is already flattened onto the background.
bool LoadResampled(cDIBSection& surface, PictureMetadata& metadata, const std::string& InImage, Long Width,
                   Long Height, const EngineSettings& settings, AlphaPlane& alpha)
{
    alpha.Clear();
    if (settings.Filter != ResampleFilter::Lanczos) {
        if (!LoadOrFail(surface, metadata, InImage, settings) || !ReserveResampling(surface, Width, Height))
            return false;
        return ResampleSurface(surface, Width, Height) || Fail(ecResampleFailed);
    }
    // A reduction streams from the decoder where the format allows.
    SetCmykThroughProfile(settings.ColourManage);
    const auto flatten = [&] {
        if (!alpha.IsLive() || settings.Background < 0) return;
        const Long back = settings.Background;  // 0x00BBGGRR
        FlattenOnto(surface, alpha, back & 255, (back >> 8) & 255, (back >> 16) & 255);
        alpha.Clear();
    };
    AlphaPlane* const wanted = WantsAlpha(settings) ? &alpha : nullptr;
    switch (LoadReducedPicture(InImage, StreamRequest{Width, Height, settings.AutoOrient, wanted != nullptr},
                               surface, metadata, wanted)) {
    case StreamOutcome::Done: flatten(); return true;
    case StreamOutcome::Failed: return Fail(ecInputNotLoaded);
    case StreamOutcome::WholePicture: break;
    }
    if (!LoadOrFail(surface, metadata, InImage, settings, ShrinkTarget{Width, Height}, wanted) ||
        !ReserveResampling(surface, Width, Height, alpha.IsLive()))
        return false;
    if (alpha.IsLive()) {
        if (ResampleWithAlpha(surface, alpha, Width, Height)) flatten();
        return true;
    }
    // As with the exact filter, a size that makes no surface gives an empty one.
    std::unique_ptr<cDIBSection> resampled = ResampleLanczos(surface, Width, Height);
    surface = resampled ? std::move(*resampled) : cDIBSection();
    return true;
}

// Writes the output with what of the input's metadata the settings let travel.
bool SaveOrFail(cDIBSection& surface, const PictureMetadata& read, const std::string& OutImage, Long quality,
                const EngineSettings& settings, const AlphaPlane* alpha = nullptr)
{
    PictureMetadata written =
        MetadataForOutput(read, settings.KeepMetadata, surface.Width(), surface.Height());
    if (settings.Srgb != 0 && !written.IccProfile.empty() && ConvertToSrgb(surface, written.IccProfile))
        written.IccProfile = settings.Srgb == 2 ? SrgbProfile() : std::vector<uint8_t>{};
    if (settings.Format != OutputFormat::Jpeg)
        return SaveSurfaceAs(surface, OutImage, quality, settings.Format, written,
                             alpha && alpha->IsLive() ? alpha : nullptr) ||
               Fail(ecOutputNotWritten);
    return SaveSurfaceAsJpeg(surface, OutImage, quality, written, settings.ModernJpeg) ||
           Fail(ecOutputNotWritten);
}

// Where the classic fit writes its passes before the last, to read each back:
// the output itself, unless that is a stream (a pipe, a terminal), which
// cannot be read back; then a temporary file, removed when the fit ends.
// Path() is empty, with the reason set, when no temporary file can be made.
class PassFile {
public:
    explicit PassFile(const std::string& output)
        : path_(output)
    {
        struct stat info {};
        if (::stat(output.c_str(), &info) != 0 || !(S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode))) return;
        const char* folder = std::getenv("TMPDIR");
        std::string name = std::string(folder && *folder ? folder : "/tmp") + "/kestrix-passes-XXXXXX";
        const int fd = ::mkstemp(name.data());
        if (fd < 0) {
            SetFailureReason("cannot make a temporary file for the passes: " + ErrnoReason(errno));
            path_.clear();
            return;
        }
        ::close(fd);
        path_ = name;
        temporary_ = true;
    }
    ~PassFile()
    {
        if (temporary_) ::unlink(path_.c_str());
    }
    PassFile(const PassFile&) = delete;
    PassFile& operator=(const PassFile&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    bool temporary_ = false;
};

}  // namespace

Long& ErrorCode()
{
    thread_local Long code = ecNone;
    return code;
}

bool ResizeImage(const std::string& InImage, const std::string& OutImage, Long Height, Long Width,
                 Long Quality, const EngineSettings& settings)
{
    return Guarded("ResizeImage", false, [&] {
        cDIBSection surface;
        PictureMetadata metadata;
        AlphaPlane alpha;
        if (!LoadResampled(surface, metadata, InImage, Width, Height, settings, alpha)) return false;
        return SaveOrFail(surface, metadata, OutImage, Quality, settings, &alpha);
    });
}

bool PercentageResize(const std::string& InImage, const std::string& OutImage, Long Percentage, Long Quality,
                      const EngineSettings& settings)
{
    return Guarded("PercentageResize", false, [&] {
        if (Percentage <= 0) return Fail(ecBadPercentage);
        if (settings.TrueProportions) {
            PictureSize source;
            if (!ProbeOrFail(InImage, settings, source)) return false;
            const Long height = std::max<Long>(Scaled(source.Height, Percentage), 1);
            const Long width = std::max<Long>(Scaled(source.Width, Percentage), 1);
            return ResizeImage(InImage, OutImage, height, width, Quality, settings);
        }
        const ImageInfo info = SourceInfo(InImage, settings);
        const Long height = Scaled(info.Height, Percentage);
        const Long width = Scaled(info.Width, Percentage);
        return ResizeImage(InImage, OutImage, height, width, Quality, settings);
    });
}

bool ResizeMaxWidth(const std::string& InImage, const std::string& OutImage, Long Width, Long Quality,
                    const EngineSettings& settings)
{
    return Guarded("ResizeMaxWidth", false, [&] {
        if (Width <= 0) return Fail(ecBadWidth);
        if (settings.TrueProportions) {
            PictureSize source;
            if (!ProbeOrFail(InImage, settings, source)) return false;
            const PictureSize size = ScaledToWidth(source, Width);
            return ResizeImage(InImage, OutImage, size.Height, size.Width, Quality, settings);
        }
        const ImageInfo info = SourceInfo(InImage, settings);
        const Long percent = WholePercent(Width, info.Width);
        return ResizeImage(InImage, OutImage, Scaled(info.Height, percent), Width, Quality, settings);
    });
}

bool ResizeMaxHeight(const std::string& InImage, const std::string& OutImage, Long Height, Long Quality,
                     const EngineSettings& settings)
{
    return Guarded("ResizeMaxHeight", false, [&] {
        if (Height <= 0) return Fail(ecBadHeight);
        if (settings.TrueProportions) {
            PictureSize source;
            if (!ProbeOrFail(InImage, settings, source)) return false;
            const PictureSize size = ScaledToHeight(source, Height);
            return ResizeImage(InImage, OutImage, size.Height, size.Width, Quality, settings);
        }
        const ImageInfo info = SourceInfo(InImage, settings);
        const Long percent = WholePercent(Height, info.Height);
        return ResizeImage(InImage, OutImage, Height, Scaled(info.Width, percent), Quality, settings);
    });
}

bool ResizeWithDimensions(const std::string& InImage, const std::string& OutImage, Long Height, Long Width,
                          Long Quality, const EngineSettings& settings)
{
    return Guarded("ResizeWithDimensions", false, [&] {
        if (Height <= 0) return Fail(ecBadHeight);
        if (Width <= 0) return Fail(ecBadWidth);
        if (settings.TrueProportions) {
            // One decode and one encode; a picture that fits keeps its size.
            PictureSize original;
            if (!ProbeOrFail(InImage, settings, original)) return false;
            const PictureSize size = FittedWithin(original, Width, Height);
            return ResizeImage(InImage, OutImage, size.Height, size.Width, Quality, settings);
        }
        const PassFile passes(OutImage);
        if (passes.Path().empty()) return Fail(ecOutputNotWritten);
        std::string source = InImage;
        ImageInfo info = SourceInfo(source, settings);
        if (info.Height > Height) {
            if (!ResizeMaxHeight(source, passes.Path(), Height, 100, settings)) return false;
            source = passes.Path();
            info = SourceInfo(source, settings);
        }
        if (info.Width > Width) {
            if (!ResizeMaxWidth(source, passes.Path(), Width, 100, settings)) return false;
            source = passes.Path();
        }
        return PercentageResize(source, OutImage, 100, Quality, settings);
    });
}

bool ResizeToFill(const std::string& InImage, const std::string& OutImage, Long Height, Long Width,
                  Long Quality, const EngineSettings& settings)
{
    return Guarded("ResizeToFill", false, [&] {
        if (Height <= 0) return Fail(ecBadHeight);
        if (Width <= 0) return Fail(ecBadWidth);
        PictureSize source;
        if (!ProbeOrFail(InImage, settings, source)) return false;
        const PictureSize covering = CoveringBox(source, Width, Height);
        cDIBSection surface;
        PictureMetadata metadata;
        AlphaPlane alpha;
        if (!LoadResampled(surface, metadata, InImage, covering.Width, covering.Height, settings, alpha))
            return false;
        cDIBSection box;
        if (!surface.IsLive() || !box.Create(Width, Height)) return Fail(ecResampleFailed);
        const PictureSize centre = CentreCropOffset(covering, Width, Height);
        // Column and row of the place: the start, the middle or the end of the overhang.
        const auto along = [](int third, Long middle, Long overhang) {
            return third == 0 ? 0 : third == 1 ? middle : overhang;
        };
        const int place = settings.FillPlace >= 0 && settings.FillPlace <= 8 ? settings.FillPlace : 4;
        const Long left = along(place % 3, centre.Width, covering.Width - Width);
        const Long top = along(place / 3, centre.Height, covering.Height - Height);
        BlockCopy(box, 0, 0, surface, left, top, Width, Height);
        if (alpha.IsLive()) {
            if (!EnsurePictureMemory(HeldPictureMemory() + PictureNeeds().Pixels(Width, Height, 1).Total()))
                return Fail(ecResampleFailed);
            alpha = CropAlpha(alpha, left, top, Width, Height);
        }
        return SaveOrFail(box, metadata, OutImage, Quality, settings, &alpha);
    });
}

bool ImageAddBorder(const std::string& InImage, const std::string& OutImage, Long lngBorderColour,
                    Integer intBorderTopSize, Integer intBorderBottomSize, Integer intBorderLeftSize,
                    Integer intBorderRightSize, const EngineSettings& settings)
{
    return Guarded("ImageAddBorder", false, [&] {
        cDIBSection source;
        PictureMetadata metadata;
        if (!LoadOrFail(source, metadata, InImage, settings)) return false;
        // Border pairs are summed as Integers, then the picture size is added.
        const Long width =
            CheckedAdd<Long>(CheckedAdd<Integer>(intBorderLeftSize, intBorderRightSize), source.Width());
        const Long height =
            CheckedAdd<Long>(CheckedAdd<Integer>(intBorderTopSize, intBorderBottomSize), source.Height());
        // The framed picture is made beside the loaded one.
        if (!EnsurePictureMemory(HeldPictureMemory() + PictureNeeds().Surface(width, height).Total()))
            return Fail(ecOutputNotWritten);
        cDIBSection framed;
        framed.Create(width, height);
        const RGBBytes colour = ColorCodeToRGB(lngBorderColour);
        framed.ColourFillDIB(colour.Red, colour.Green, colour.Blue);
        source.PaintPicture(framed.hdc(), intBorderLeftSize, intBorderTopSize, -1, -1, 0, 0, SRCCOPY);
        return SaveOrFail(framed, metadata, OutImage, settings.DecorationQuality, settings);
    });
}

bool ImageAddText(const std::string& InImage, const std::string& OutImage, const std::string& strText,
                  const StdFont& fontStdFnt, Long lngColour, Integer intTopPos, Integer intLeftPos,
                  const EngineSettings& settings)
{
    return Guarded("ImageAddText", false, [&] {
        cDIBSection surface;
        PictureMetadata metadata;
        if (!LoadOrFail(surface, metadata, InImage, settings)) return false;
        const RGBBytes colour = ColorCodeToRGB(lngColour);
        surface.AddTextToImage(strText, fontStdFnt, colour.Red, colour.Green, colour.Blue, intTopPos,
                               intLeftPos);
        return SaveOrFail(surface, metadata, OutImage, settings.DecorationQuality, settings);
    });
}

bool ImageAddTextUsingSpecifiedPosition(const std::string& InImage, const std::string& OutImage,
                                        const std::string& strText, const StdFont& fontStdFnt, Long lngColour,
                                        Long txtPos, const EngineSettings& settings)
{
    return Guarded("ImageAddTextUsingSpecifiedPosition", false, [&] {
        cDIBSection surface;
        PictureMetadata metadata;
        if (!LoadOrFail(surface, metadata, InImage, settings)) return false;
        const RGBBytes colour = ColorCodeToRGB(lngColour);
        surface.AddTextToImageUsingSpecPostion(strText, fontStdFnt, colour.Red, colour.Green, colour.Blue,
                                               txtPos);
        return SaveOrFail(surface, metadata, OutImage, settings.DecorationQuality, settings);
    });
}

RGBBytes ColorCodeToRGB(Long lngColour)
{
    return Guarded("ColorCodeToRGB", RGBBytes{}, [&] {
        // Division truncates toward zero and the remainder keeps the sign:
        // a negative remainder does not fit a byte.
        RGBBytes rgb;
        rgb.Red = CheckedCast<Byte>(lngColour % 256);
        rgb.Green = CheckedCast<Byte>((lngColour / 256) % 256);
        rgb.Blue = CheckedCast<Byte>((lngColour / 256 / 256) % 256);
        return rgb;
    });
}

}  // namespace kx
