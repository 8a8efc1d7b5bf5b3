// WebP and TIFF in, PNG, WebP and AVIF out and read back, with fixtures written
// by the formats' own libraries. The probe must agree with every load.
#include <gtest/gtest.h>

#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/PictureFormats.h"
#include "common/modImageInfo.h"
#include "engine/files/FailureReason.h"
#include "engine/files/MemoryBudget.h"
#include "engine/files/ModernDecoders.h"
#include "engine/files/Orientation.h"
#include "engine/files/PictureLoader.h"
#include "engine/files/PictureWriters.h"
#include "engine/operations/modMain.h"
#include "engine/surface/AlphaPlane.h"
#include "engine/surface/LanczosResample.h"
#include "engine/surface/ResamplePaths.h"
#include "tests/support/PhotoFixtures.h"
#include "tests/support/PictureBytes.h"

namespace {

using kxtest::Bgr;
using kxtest::Bytes;
using kxtest::PixelAt;
using kxtest::TempDir;

constexpr int kW = 6, kH = 4;
// Every pixel differs, so any mirror or turn shows.
const kxtest::Image kPattern = kxtest::AsymmetricPicture(kW, kH);

// The smallest profile libpng takes for RGB: a header and no tags.
const Bytes kIcc = kxtest::IccProfile(132, "RGB ");

// Alpha by column: 255, 0, 128 in turn.
uint8_t ColumnAlpha(int x) { return static_cast<uint8_t>(x % 3 == 0 ? 255 : x % 3 == 1 ? 0 : 128); }

// The pattern as 8-bit RGB TIFF pages written by libtiff (the colour models
// are libtiff's to convert; our decoder only turns and blends), alpha by column when `alpha`.
Bytes TiffOf(bool alpha, int orientation = 1, int pages = 1, const Bytes& icc = {})
{
    Bytes samples;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            samples.insert(samples.end(), {kPattern.At(x, y).r, kPattern.At(x, y).g, kPattern.At(x, y).b});
            if (alpha) samples.push_back(ColumnAlpha(x));
        }
    kxtest::TiffLayout layout{
        .width = kW, .height = kH, .channels = alpha ? 4 : 3, .orientation = orientation};
    layout.alpha = alpha, layout.icc = icc, layout.pages = pages, layout.stripRows = 0;
    return kxtest::TiffOf(layout, samples);
}

// The pattern turned upright for `orientation` over white, alpha by stored column, top row first.
std::vector<Bgr> Upright(int orientation, uint8_t (*alpha)(int x))
{
    std::vector<Bgr> pixels;
    const bool quarter = orientation >= 5;
    for (int uy = 0; uy < (quarter ? kW : kH); ++uy)
        for (int ux = 0; ux < (quarter ? kH : kW); ++ux) {
            const auto [x, y] = kxtest::StoredFor(orientation, ux, uy, kW, kH);
            const Bgr p = kPattern.At(x, y);
            pixels.push_back(
                {kx::OverWhite(p.b, alpha(x)), kx::OverWhite(p.g, alpha(x)), kx::OverWhite(p.r, alpha(x))});
        }
    return pixels;
}
uint8_t Opaque(int) { return 255; }

// Loads `path`, handing over its metadata; the probe must agree on the size and say `type`.
kx::cDIBSection LoadAndProbe(const std::string& path, uint8_t type, kx::PictureMetadata& metadata)
{
    kx::cDIBSection surface;
    EXPECT_TRUE(kx::LoadPicture(path, surface, metadata, true)) << path;
    const kx::ImageInfo info = kx::GetImageInfo(path);
    EXPECT_EQ(info.ImageType, type) << path;
    EXPECT_EQ(std::pair(info.Width, info.Height), std::pair(surface.Width(), surface.Height())) << path;
    return surface;
}

// The pattern as a lossless still WebP, alpha by column when `alpha`.
Bytes WebpOf(bool alpha)
{
    Bytes bgra;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const Bgr c = kPattern.At(x, y);
            bgra.insert(bgra.end(), {c.b, c.g, c.r, alpha ? ColumnAlpha(x) : uint8_t{255}});
        }
    uint8_t* out = nullptr;
    const size_t size = WebPEncodeLosslessBGRA(bgra.data(), kW, kH, kW * 4, &out);
    Bytes bytes(out, out + size);
    WebPFree(out);
    return bytes;
}

// An animation of `frames` frames: the first the pattern (opaque unless `alpha`), the others with alpha.
Bytes WebpAnimation(int frames, bool alpha = false)
{
    const Bytes first = WebpOf(alpha), other = WebpOf(true);
    WebPMux* mux = WebPMuxNew();
    for (int i = 0; i < frames; ++i) {
        const Bytes& still = i == 0 ? first : other;
        WebPMuxFrameInfo frame{};  // no offsets, no disposal, blended
        frame.bitstream = {still.data(), still.size()};
        frame.duration = 40;
        frame.id = WEBP_CHUNK_ANMF;
        WebPMuxPushFrame(mux, &frame, 1);
    }
    const WebPMuxAnimParams loop{0xFFFFFFFF, 0};
    WebPMuxSetAnimationParams(mux, &loop);
    WebPData data;
    WebPMuxAssemble(mux, &data);
    Bytes bytes(data.bytes, data.bytes + data.size);
    WebPDataClear(&data);
    WebPMuxDelete(mux);
    return bytes;
}

// Every input format loads upright, exactly, with its profile: TIFF in each orientation, with alpha
// and the first of many pages; WebP with alpha and the first frame of a long animation. (HEIF input:
// the AVIF read back below; libheif itself decodes HEVC and applies the container's turns.)
TEST(ModernFormats, EachInputFormatLoadsUprightAndExactly)
{
    struct Case {
        std::string name;
        Bytes file;
        uint8_t type;
        std::vector<Bgr> pixels;
        int width = kW, height = kH;
        Bytes icc = {};
    };
    std::vector<Case> cases{
        {"tiff alpha", TiffOf(true), kx::ImageTypeTIFF, Upright(1, ColumnAlpha)},
        {"tiff pages", TiffOf(false, 1, 1000, kIcc), kx::ImageTypeTIFF, Upright(1, Opaque), kW, kH, kIcc},
        {"webp alpha", WebpOf(true), kx::ImageTypeWEBP, Upright(1, ColumnAlpha)},
        {"webp animation", WebpAnimation(1000), kx::ImageTypeWEBP, Upright(1, Opaque)}};
    for (int o = 1; o <= 8; ++o)
        cases.push_back({"tiff " + std::to_string(o), TiffOf(false, o), kx::ImageTypeTIFF, Upright(o, Opaque),
                         o >= 5 ? kH : kW, o >= 5 ? kW : kH});
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kxtest::WriteFileBytes(dir / "in", c.file);
        kx::PictureMetadata metadata;
        const kx::cDIBSection surface = LoadAndProbe(dir / "in", c.type, metadata);
        EXPECT_EQ(std::pair(surface.Width(), surface.Height()), std::pair(c.width, c.height));
        EXPECT_EQ(kxtest::AllPixels(surface), c.pixels);
        EXPECT_EQ(metadata.Orientation, 1);
        EXPECT_EQ(metadata.IccProfile, c.icc);
    }
    // Without turning: the pixels as stored, the tag handed over.
    kxtest::WriteFileBytes(dir / "in", TiffOf(false, 6));
    kx::cDIBSection stored;
    kx::PictureMetadata metadata;
    ASSERT_TRUE(kx::LoadPicture(dir / "in", stored, metadata, false));
    EXPECT_EQ(kxtest::AllPixels(stored), Upright(1, Opaque));
    EXPECT_EQ(metadata.Orientation, 6);
}

TEST(ModernFormats, EachOutputFormatReadsBackWithItsProfile)
{
    TempDir dir;
    kxtest::WriteFileBytes(dir / "in.tif", TiffOf(false, 1, 1, kIcc));
    kx::cDIBSection source;
    ASSERT_TRUE(kx::LoadPicture(dir / "in.tif", source));
    const struct {
        kx::OutputFormat format;
        uint8_t type;
        int tolerance;  // largest difference of a channel: 0 for lossless
    } cases[] = {{kx::OutputFormat::Png, kx::ImageTypePNG, 0},
                 {kx::OutputFormat::Webp, kx::ImageTypeWEBP, 48},
                 {kx::OutputFormat::Avif, kx::ImageTypeAVIF, 48}};
    for (const auto& c : cases) {
        kx::EngineSettings settings;
        settings.Format = c.format;
        const std::string out = dir / ("out" + std::to_string(static_cast<int>(c.format)));
        SCOPED_TRACE(out);
        // Through an operation: the same size, so the picture is kept as it is.
        ASSERT_TRUE(kx::ResizeImage(dir / "in.tif", out, kH, kW, 100, settings));
        kx::PictureMetadata metadata;
        const kx::cDIBSection back = LoadAndProbe(out, c.type, metadata);
        const std::vector<Bgr> got = kxtest::AllPixels(back), want = Upright(1, Opaque);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_LE(kxtest::Difference(got[i], want[i]), c.tolerance) << "pixel " << i;
        // The input's profile travels (libpng reads back only profiles with
        // tags, so for PNG its chunk is looked for).
        const Bytes bytes = kxtest::ReadFileBytes(out);
        if (c.format == kx::OutputFormat::Png)
            EXPECT_NE(std::search(bytes.begin(), bytes.end(), "iCCP", "iCCP" + 4), bytes.end());
        else
            EXPECT_EQ(metadata.IccProfile, kIcc);
        // Quality outside 1 to 100 and a folder that does not exist fail.
        for (const int quality : {0, 101}) EXPECT_TRUE(kx::EncodeSurface(source, c.format, quality).empty());
        EXPECT_FALSE(kx::SaveSurfaceAs(source, dir / "no/such/folder.png", 90, c.format));
    }
    EXPECT_EQ(dir.List().size(), 4u);  // in.tif and the three outputs
}

// A copy of `bytes` with `value` written over `at` (big- or little-endian).
Bytes Patched(Bytes bytes, size_t at, uint32_t value, int width, bool big)
{
    for (int i = 0; i < width; ++i)
        bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * (big ? width - 1 - i : i)));
    return bytes;
}

// Hostile files, a huge or zero declared size or cut short, are refused.
TEST(ModernFormats, HostileFilesAreRefused)
{
    TempDir dir;
    const Bytes tiff = TiffOf(false), webp = WebpOf(true);
    kx::cDIBSection grey;
    ASSERT_TRUE(grey.Create(64, 32));
    const Bytes anim = WebpAnimation(3), avif = kx::EncodeSurface(grey, kx::OutputFormat::Avif, 90);
    // IFD0 starts with the width and height entries (tags 256, 257): made LONG.
    const size_t ifd = tiff[4] | tiff[5] << 8 | tiff[6] << 16 | size_t{tiff[7]} << 24;
    ASSERT_EQ(Bytes(tiff.begin() + ifd + 2, tiff.begin() + ifd + 4), (Bytes{0, 1}));  // tag 256
    const auto tiffSized = [&](uint32_t w, uint32_t h) {
        const Bytes wide = Patched(Patched(tiff, ifd + 4, 4, 2, false), ifd + 10, w, 4, false);
        return Patched(Patched(wide, ifd + 16, 4, 2, false), ifd + 22, h, 4, false);
    };
    // Every "ispe" box (version and flags, then width and height) set to w x h.
    const auto ispeSized = [](Bytes bytes, uint32_t w, uint32_t h) {
        for (size_t at = 0; at + 16 <= bytes.size(); ++at)
            if (std::memcmp(&bytes[at], "ispe", 4) == 0)
                bytes = Patched(Patched(bytes, at + 8, w, 4, true), at + 12, h, 4, true);
        return bytes;
    };
    // Those with a lying header first: the probe refuses them too.
    std::vector<std::pair<std::string, Bytes>> cases = {
        {"tiff-65535-square", tiffSized(65535, 65535)},
        {"tiff-width-zero", tiffSized(0, kH)},
        {"webp-vp8l-16384-square", Patched(webp, 21, 0x0FFFFFFF, 4, false)},
        {"webp-canvas-16m-square", Patched(anim, 24, 0xFFFFFF, 3, false)},
        {"avif-ispe-huge", ispeSized(avif, 60000, 60000)},
        {"avif-ispe-zero", ispeSized(avif, 0, 0)},
    };
    const size_t lying = cases.size();
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, Bytes>>{
             {"tiff", tiff}, {"webp", webp}, {"anim", anim}, {"avif", avif}})
        for (const size_t keep : {size_t{8}, size_t{16}, bytes.size() / 2, bytes.size() - 1})
            cases.push_back(
                {name + "-cut-to-" + std::to_string(keep), Bytes(bytes.begin(), bytes.begin() + keep)});
    // A fuzzer's find: a grid (40 x 24 in "ispe" and in its header in "idat", at 0x63) of one 64 x 64
    // tile typed an overlay whose data declares far more. With a coded tile ('hvc1') it is sound.
    const Bytes found = kxtest::ReadFileBytes(std::string(KX_TEST_DATA_DIR) +
                                              "/fuzz-regressions/heif-overlay-tile-larger-than-grid");
    Bytes grid = found;
    std::memcpy(&*std::search(grid.begin(), grid.end(), "iovl", "iovl" + 4), "hvc1", 4);
    kx::cDIBSection tiled;
    ASSERT_TRUE(kx::DecodeHeif(grid, tiled));
    EXPECT_EQ(std::pair(tiled.Width(), tiled.Height()), std::pair(40, 24));
    // Plausible claims over a 4 MiB limit: refused before anything of their size is made, with
    // what the surface and the library's buffers (raster, canvases, planes) come to; and
    // derived pictures larger than the picture, before libheif allocates them.
    const std::pair<std::string, Bytes> overBudget[] = {
        {"corrupt HEIF data: its overlay makes 13632 x 62770 pixels of a 40 x 24 picture", found},
        {"corrupt HEIF data: its grid makes 10240 x 6144 pixels of a 40 x 24 picture",
         Patched(Patched(grid, 0x63, 10240, 2, true), 0x65, 6144, 2, true)},
        {"corrupt HEIF data: the grid's data lies outside the file", Patched(grid, 0x9B, 9, 4, true)},
        {"this picture needs 11 MB, more than the 4 MB memory limit", tiffSized(1024, 1024)},
        {"this picture needs 12 MB, more than the 4 MB memory limit",
         Patched(Patched(anim, 24, 1023, 3, false), 27, 1023, 3, false)},  // canvas side - 1
        {"this picture needs 11 MB, more than the 4 MB memory limit", ispeSized(avif, 1024, 1024)},
    };
    kx::SetMemoryLimit(4 << 20);
    for (const auto& [reason, bytes] : overBudget) cases.push_back({reason, bytes});
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string path = dir / std::to_string(i);
        SCOPED_TRACE(cases[i].first);
        kxtest::WriteFileBytes(path, cases[i].second);
        kx::cDIBSection surface;
        kx::ClearFailureReason();
        EXPECT_FALSE(kx::LoadPicture(path, surface));
        EXPECT_FALSE(surface.IsLive());
        EXPECT_FALSE(kx::FailureReason().empty());
        if (i < lying) {
            EXPECT_EQ(kx::GetImageInfo(path).ImageType, kx::ImageTypeNone);
        }
        if (i >= cases.size() - std::size(overBudget)) {
            EXPECT_EQ(kx::FailureReason(), cases[i].first);
        }
    }
    kx::SetMemoryLimit(0);
}

// A red square with a half-transparent edge on a transparent black surround, reduced 24 -> 12:
// PNG keeps the alpha exactly as the filter treats a colour channel, and the colour stays pure
// red wherever alpha > 0 (no dark fringe); WebP and AVIF keep it closely; a background
// flattens exactly; JPEG, and the classic settings, flatten onto white as before.
TEST(ModernFormats, TransparencyIsKeptOrFlattened)
{
    TempDir dir;
    constexpr int kSide = 24, kHalf = 12;
    const auto alphaAt = [](int x, int y) {
        const int ring = std::min({x, y, kSide - 1 - x, kSide - 1 - y});
        return ring >= 6 ? 255 : ring >= 4 ? 128 : 0;
    };
    std::vector<Bytes> rows(kSide);
    kx::cDIBSection asColour;  // the source alpha as a grey picture
    ASSERT_TRUE(asColour.Create(kSide, kSide));
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const uint8_t a = static_cast<uint8_t>(alphaAt(x, y));
            rows[y].insert(rows[y].end(), {uint8_t(a ? 255 : 0), 0, 0, a});
            std::fill_n(asColour.PictureRow(y) + 3 * x, 3, a);
        }
    kxtest::WriteFileBytes(dir / "in.png", kxtest::Png({kSide, kSide, 8, 6, rows}));
    const std::unique_ptr<kx::cDIBSection> wanted = kx::ResampleLanczos(asColour, kHalf, kHalf);
    const auto run = [&](kx::OutputFormat format, bool keep, int background, kx::cDIBSection& back,
                         kx::AlphaPlane& alpha, kx::ResampleFilter filter = kx::ResampleFilter::Lanczos) {
        kx::EngineSettings settings;
        settings.Format = format;
        settings.Filter = filter;
        settings.KeepAlpha = keep;
        settings.Background = background;
        const std::string out = dir / ("out" + std::to_string(keep) + std::to_string(background) +
                                       std::to_string(static_cast<int>(format)));
        EXPECT_TRUE(kx::ResizeImage(dir / "in.png", out, kHalf, kHalf, 100, settings));
        kx::PictureMetadata metadata;
        EXPECT_TRUE(kx::LoadPicture(out, back, metadata, true, {}, &alpha));
        return kxtest::ReadFileBytes(out);
    };
    kx::cDIBSection png, other, flat;
    kx::AlphaPlane pngAlpha, otherAlpha, flatAlpha;
    run(kx::OutputFormat::Png, true, -1, png, pngAlpha);
    ASSERT_TRUE(pngAlpha.IsLive());
    for (int y = 0; y < kHalf; ++y)
        for (int x = 0; x < kHalf; ++x) {
            const uint8_t a = pngAlpha.PictureRow(y)[x];
            ASSERT_EQ(a, wanted->PictureRow(y)[3 * x]) << x << "," << y;
            if (a > 0) {
                EXPECT_EQ(PixelAt(png, x, y), (Bgr{0, 0, 255})) << x << "," << y;
            }
        }
    // The rows streamed give the bytes of the whole picture resampled, on the plain path too.
    kx::cDIBSection whole;
    kx::AlphaPlane wholeAlpha;
    kx::PictureMetadata ignored;
    ASSERT_TRUE(kx::LoadPicture(dir / "in.png", whole, ignored, true, {}, &wholeAlpha));
    ASSERT_TRUE(kx::ResampleWithAlpha(whole, wholeAlpha, kHalf, kHalf));
    EXPECT_EQ(kxtest::AllPixels(whole), kxtest::AllPixels(png));
    for (int y = 0; y < kHalf; ++y)
        EXPECT_TRUE(std::equal(wholeAlpha.Row(y), wholeAlpha.Row(y) + kHalf, pngAlpha.Row(y)));
    const Bytes vector = run(kx::OutputFormat::Png, true, -1, other, otherAlpha);
    kx::ForcePlainResample(true);
    EXPECT_EQ(run(kx::OutputFormat::Png, true, -1, other, otherAlpha), vector);
    kx::ForcePlainResample(false);
    EXPECT_EQ(pngAlpha.PictureRow(0)[0], 0);
    EXPECT_GE(pngAlpha.PictureRow(6)[6], 250);  // the filter's ringing from the edge
    for (const kx::OutputFormat format : {kx::OutputFormat::Webp, kx::OutputFormat::Avif}) {
        run(format, true, -1, other, otherAlpha);
        ASSERT_TRUE(otherAlpha.IsLive());
        for (int y = 0; y < kHalf; ++y)
            for (int x = 0; x < kHalf; ++x)
                EXPECT_NEAR(otherAlpha.PictureRow(y)[x], pngAlpha.PictureRow(y)[x], 8) << x << "," << y;
    }
    // Fill crops the plane with the picture: the middle rows of the 12 x 12 reduction.
    kx::EngineSettings fill;
    fill.Format = kx::OutputFormat::Png;
    fill.Filter = kx::ResampleFilter::Lanczos;
    fill.KeepAlpha = true;
    ASSERT_TRUE(kx::ResizeToFill(dir / "in.png", dir / "fill.png", 6, kHalf, 100, fill));
    kx::PictureMetadata read;
    ASSERT_TRUE(kx::LoadPicture(dir / "fill.png", other, read, true, {}, &otherAlpha));
    for (int y = 0; y < 6; ++y)
        EXPECT_TRUE(std::equal(otherAlpha.PictureRow(y), otherAlpha.PictureRow(y) + kHalf,
                               pngAlpha.PictureRow(y + 3)));
    // Onto green: red where opaque, green where transparent, exactly the blend between.
    run(kx::OutputFormat::Png, true, 0x00FF00, flat, flatAlpha);
    EXPECT_FALSE(flatAlpha.IsLive());
    for (int y = 0; y < kHalf; ++y)
        for (int x = 0; x < kHalf; ++x) {
            const uint8_t a = pngAlpha.PictureRow(y)[x];
            EXPECT_EQ(PixelAt(flat, x, y), (Bgr{0, kx::Over(0, a, 255), kx::Over(255, a, 0)}))
                << x << "," << y;
        }
    // JPEG keeps today's bytes; so do the classic settings (white under the transparent corner).
    EXPECT_EQ(run(kx::OutputFormat::Jpeg, true, -1, flat, flatAlpha),
              run(kx::OutputFormat::Jpeg, false, -1, flat, flatAlpha));
    run(kx::OutputFormat::Png, true, -1, flat, flatAlpha, kx::ResampleFilter::Exact);
    EXPECT_FALSE(flatAlpha.IsLive());
    EXPECT_EQ(PixelAt(flat, 0, 0), (Bgr{255, 255, 255}));
    // TIFF, animated WebP (its first frame) and GIF inputs hand over their alpha and transparent
    // colour, the colour unblended.
    kxtest::WriteFileBytes(dir / "a.tif", TiffOf(true));
    kxtest::WriteFileBytes(dir / "a.webp", WebpAnimation(2, true));
    kxtest::WriteFileBytes(dir / "a.gif", kxtest::Gif({4, 3, 1, 1, 3, 2, {{0, 1, 2}, {3, 0, 1}}, 2}));
    kx::PictureMetadata metadata;
    for (const char* name : {"a.tif", "a.webp"}) {
        ASSERT_TRUE(kx::LoadPicture(dir / name, other, metadata, true, {}, &otherAlpha) &&
                    otherAlpha.IsLive())
            << name;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                ASSERT_EQ(otherAlpha.PictureRow(y)[x], ColumnAlpha(x)) << name;
                if (ColumnAlpha(x) > 0) {
                    EXPECT_LE(kxtest::Difference(PixelAt(other, x, y), kPattern.At(x, y)), 1) << name;
                }
            }
    }
    // A TIFF on its side streams with its alpha to the whole picture's bytes.
    kxtest::WriteFileBytes(dir / "side.tif", TiffOf(true, 6));
    ASSERT_TRUE(kx::ResizeImage(dir / "side.tif", dir / "side.png", 3, 2, 100, fill));
    ASSERT_TRUE(kx::LoadPicture(dir / "side.tif", whole, metadata, true, {}, &wholeAlpha));
    ASSERT_TRUE(kx::ResampleWithAlpha(whole, wholeAlpha, 2, 3));
    ASSERT_TRUE(kx::LoadPicture(dir / "side.png", other, metadata, true, {}, &otherAlpha));
    EXPECT_EQ(kxtest::AllPixels(other), kxtest::AllPixels(whole));
    for (int y = 0; y < 3; ++y)
        EXPECT_TRUE(std::equal(otherAlpha.Row(y), otherAlpha.Row(y) + 2, wholeAlpha.Row(y)));
    ASSERT_TRUE(kx::LoadPicture(dir / "a.gif", other, metadata, true, {}, &otherAlpha));
    EXPECT_EQ(kxtest::Sketch(other), "WWWW/WRGW/WKRG/");
    for (const int at : {0, 5, 6, 7, 11}) EXPECT_EQ(otherAlpha.PictureRow(at / 4)[at % 4], at == 7 ? 0 : 255);
}

// The plane turns as its surface does, in every orientation.
TEST(ModernFormats, AlphaPlaneTurnsWithItsSurface)
{
    for (int orientation = 1; orientation <= 8; ++orientation) {
        kx::cDIBSection surface;
        kx::AlphaPlane alpha;
        ASSERT_TRUE(surface.Create(kW, kH) && alpha.Create(kW, kH));
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                alpha.PictureRow(y)[x] = surface.PictureRow(y)[3 * x] = uint8_t(y * kW + x);
        ASSERT_TRUE(kx::TurnUpright(surface, orientation));
        kx::TurnAlphaUpright(alpha, orientation);
        ASSERT_EQ(std::pair(alpha.Width(), alpha.Height()), std::pair(surface.Width(), surface.Height()));
        for (int y = 0; y < alpha.Height(); ++y)
            for (int x = 0; x < alpha.Width(); ++x)
                EXPECT_EQ(alpha.PictureRow(y)[x], surface.PictureRow(y)[3 * x]) << orientation;
    }
}

TEST(ModernFormats, FolderRulesAndFormatNames)
{
    for (const char* taken : {"JPE", "gif", "heic", "HEIF", "Tiff"})
        EXPECT_TRUE(kx::TakenWithAllFormats(taken));
    for (const char* left : {"", "jp", "jpgx", "heics", ".jpg"})
        EXPECT_FALSE(kx::TakenWithAllFormats(left)) << left;
    EXPECT_EQ(kx::OutputFormatExtension(4), "");
    // A phone's HEIC, by its brands (heic, mif1), is HEIF coded with HEVC, not AVIF.
    bool avif = true;
    EXPECT_TRUE(
        kx::LooksLikeHeif(kxtest::Hex("00000018 66747970 68656963 00000000 6d696631 68656963"), &avif));
    EXPECT_FALSE(avif);
}

}  // namespace
