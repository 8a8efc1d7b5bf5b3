// HEIF/HEIC, AVIF, WebP and TIFF in, PNG, WebP and AVIF out, with fixtures
// written by the formats' own libraries: lossless ones checked pixel for
// pixel, lossy ones against the bare library's decode of the same file. The
// probe must agree with every load.
#include <gtest/gtest.h>

#include <libheif/heif.h>
#include <tiffio.h>
#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "ModernDecoders.h"
#include "PhotoFixtures.h"
#include "PictureFormats.h"
#include "PictureLoader.h"
#include "PictureWriters.h"
#include "modImageInfo.h"
#include "modMain.h"

namespace {

using kxtest::Bgr;
using kxtest::Bytes;
using kxtest::PixelAt;
using kxtest::TempDir;

// A 6 x 4 picture in which every pixel differs, so any mirror or turn shows.
Bgr Pattern(int x, int y)
{
    return {static_cast<uint8_t>(x * 40 + 5), static_cast<uint8_t>(y * 60 + 10),
            static_cast<uint8_t>(250 - x * 20 - y * 30)};
}
constexpr int kW = 6, kH = 4;

// The smallest profile libpng takes for RGB: a header and no tags.
const Bytes kIcc = kxtest::IccProfile(132, "RGB ");

// Writes one TIFF page (or `pages` of them) of the pattern with libtiff.
// kind: "rgb8", "rgb16", "grey8", "palette", "cmyk", "rgba" (alpha 0 in even
// columns).
void WriteTiff(const std::string& path, const std::string& kind, int orientation = 1, int pages = 1,
               const Bytes& icc = {})
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    for (int page = 0; page < pages; ++page) {
        const bool grey = kind == "grey8", palette = kind == "palette", cmyk = kind == "cmyk";
        const int samples = grey || palette ? 1 : kind == "rgba" || cmyk ? 4 : 3;
        const int bits = kind == "rgb16" ? 16 : 8;
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kW);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kH);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                     grey      ? PHOTOMETRIC_MINISBLACK
                     : palette ? PHOTOMETRIC_PALETTE
                     : cmyk    ? PHOTOMETRIC_SEPARATED
                               : PHOTOMETRIC_RGB);
        if (!icc.empty())
            TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(icc.size()), icc.data());
        if (kind == "rgba") {
            const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
        }
        std::vector<uint16_t> map[3];
        if (palette) {
            for (auto& m : map) m.assign(256, 0);
            for (int i = 0; i < kW * kH; ++i) {  // entry i: the pattern's pixel i
                const Bgr c = Pattern(i % kW, i / kW);
                map[0][i] = c.r * 257, map[1][i] = c.g * 257, map[2][i] = c.b * 257;
            }
            TIFFSetField(tif, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
        }
        for (int y = 0; y < kH; ++y) {
            std::vector<uint16_t> row16;
            Bytes row;
            for (int x = 0; x < kW; ++x) {
                const Bgr c = Pattern(x, y);
                if (grey)
                    row.push_back(c.g);
                else if (palette)
                    row.push_back(static_cast<uint8_t>(y * kW + x));
                else if (cmyk)
                    row.insert(row.end(), {uint8_t(255 - c.r), uint8_t(255 - c.g), uint8_t(255 - c.b), 0});
                else if (bits == 16)
                    row16.insert(row16.end(),
                                 {uint16_t(c.r * 257), uint16_t(c.g * 257), uint16_t(c.b * 257)});
                else
                    row.insert(row.end(), {c.r, c.g, c.b});
                if (kind == "rgba") row.push_back(x % 2 ? 255 : 0);
            }
            TIFFWriteScanline(tif, bits == 16 ? static_cast<void*>(row16.data()) : row.data(), y, 0);
        }
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
}

// Loads `path`, handing over its metadata, and checks that the probe agrees
// on the size and says `type`.
kx::cDIBSection LoadAndProbe(const std::string& path, uint8_t type, kx::PictureMetadata* metadata = nullptr)
{
    kx::cDIBSection surface;
    kx::PictureMetadata ignored;
    EXPECT_TRUE(kx::LoadPicture(path, surface, metadata ? *metadata : ignored, true)) << path;
    const kx::ImageInfo info = kx::GetImageInfo(path);
    EXPECT_EQ(info.ImageType, type) << path;
    EXPECT_EQ(info.Width, surface.Width()) << path;
    EXPECT_EQ(info.Height, surface.Height()) << path;
    return surface;
}

// w x h of the pattern repeated, as BGRA with the given alpha.
Bytes PatternBgra(int w, int h, const std::function<uint8_t(int x, int y)>& alpha)
{
    Bytes bgra;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Bgr c = Pattern(x % kW, y % kH);
            bgra.insert(bgra.end(), {c.b, c.g, c.r, alpha(x, y)});
        }
    return bgra;
}

Bytes Owned(uint8_t* data, size_t size)
{
    Bytes bytes(data, data + size);
    WebPFree(data);
    return bytes;
}

// An animation of `frames` frames of w x h: the first the pattern, the others
// black and opaque.
Bytes WebpAnimation(int frames, int w, int h)
{
    WebPAnimEncoderOptions options;
    WebPAnimEncoderOptionsInit(&options);
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(w, h, &options);
    WebPConfig config;
    WebPConfigInit(&config);
    config.lossless = 1;
    for (int i = 0; i < frames; ++i) {
        WebPPicture picture;
        WebPPictureInit(&picture);
        picture.width = w, picture.height = h, picture.use_argb = 1;
        const Bytes pixels =
            i == 0 ? PatternBgra(w, h, [](int, int) { return 255; }) : Bytes(size_t(w) * h * 4, 0);
        WebPPictureImportBGRA(&picture, pixels.data(), w * 4);
        WebPAnimEncoderAdd(encoder, &picture, i * 40, &config);
        WebPPictureFree(&picture);
    }
    WebPAnimEncoderAdd(encoder, nullptr, frames * 40, nullptr);
    WebPData data;
    WebPDataInit(&data);
    WebPAnimEncoderAssemble(encoder, &data);
    Bytes bytes(data.bytes, data.bytes + data.size);
    WebPDataClear(&data);
    WebPAnimEncoderDelete(encoder);
    return bytes;
}

// Lossless files load exactly and upright: TIFF of each kind and orientation
// and the first of many pages, WebP with alpha 255, 0 and 128 by column over
// white and the first frame of an animation, however many follow.
TEST(ModernFormats, LosslessFilesLoadExactlyAndUpright)
{
    TempDir dir;
    uint8_t* out = nullptr;
    const auto webpAlpha = [](int x) {
        return static_cast<uint8_t>(x % 3 == 0 ? 255 : x % 3 == 1 ? 0 : 128);
    };
    const Bytes bgra = PatternBgra(kW, kH, [&](int x, int) { return webpAlpha(x); });
    kxtest::WriteFileBytes(dir / "alpha.webp",
                           Owned(out, WebPEncodeLosslessBGRA(bgra.data(), kW, kH, kW * 4, &out)));
    kxtest::WriteFileBytes(dir / "anim-2.webp", WebpAnimation(2, kW, kH));
    kxtest::WriteFileBytes(dir / "anim-1000.webp", WebpAnimation(1000, kW, kH));
    WriteTiff(dir / "pages.tif", "rgb8", 1, 1000);
    const struct {
        std::string kind;  // of TIFF to write, or a file written above
        int orientation;
    } cases[] = {{"rgb8", 1},        {"rgb16", 1},         {"grey8", 1}, {"palette", 1},   {"cmyk", 1},
                 {"rgba", 1},        {"rgb8", 2},          {"rgb8", 3},  {"rgb8", 4},      {"rgb8", 5},
                 {"rgb8", 6},        {"rgb8", 7},          {"rgb8", 8},  {"pages.tif", 1}, {"alpha.webp", 1},
                 {"anim-2.webp", 1}, {"anim-1000.webp", 1}};
    for (const auto& c : cases) {
        const bool written = c.kind.find('.') != std::string::npos;
        const std::string path =
            dir / (written ? c.kind : c.kind + "-" + std::to_string(c.orientation) + ".tif");
        SCOPED_TRACE(path);
        if (!written) WriteTiff(path, c.kind, c.orientation);
        const bool webp = c.kind.ends_with(".webp");
        const kx::cDIBSection surface = LoadAndProbe(path, webp ? kx::ImageTypeWEBP : kx::ImageTypeTIFF);
        const bool quarter = c.orientation >= 5;
        ASSERT_EQ(surface.Width(), quarter ? kH : kW);
        ASSERT_EQ(surface.Height(), quarter ? kW : kH);
        for (int uy = 0; uy < surface.Height(); ++uy)
            for (int ux = 0; ux < surface.Width(); ++ux) {
                const auto [x, y] = kxtest::StoredFor(c.orientation, ux, uy, kW, kH);
                const Bgr p = Pattern(x, y);
                const unsigned a = c.kind == "alpha.webp"           ? webpAlpha(x)
                                   : c.kind == "rgba" && x % 2 == 0 ? 0
                                                                    : 255;
                // Grey keeps only green; alpha goes over white.
                const Bgr want = c.kind == "grey8" ? Bgr{p.g, p.g, p.g}
                                                   : Bgr{kx::OverWhite(p.b, a), kx::OverWhite(p.g, a),
                                                         kx::OverWhite(p.r, a)};
                ASSERT_EQ(PixelAt(surface, ux, uy), want) << ux << "," << uy;
            }
    }
    // Without turning: the pixels as stored, the tag handed over.
    kx::cDIBSection stored;
    kx::PictureMetadata metadata;
    ASSERT_TRUE(kx::LoadPicture(dir / "rgb8-6.tif", stored, metadata, false));
    EXPECT_EQ(stored.Width(), kW);
    EXPECT_EQ(metadata.Orientation, 6);
    EXPECT_EQ(PixelAt(stored, 1, 0), Pattern(1, 0));
}

// A HEIF file of a w x h picture, left half red and right half blue, coded
// with `format`, shown turned by `orientation`, carrying `icc`.
Bytes WriteHeif(heif_compression_format format, int w, int h, int orientation, const Bytes& icc)
{
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, format, &encoder);
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_image* image = nullptr;
    heif_image_create(w, h, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, w, h, 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = plane + y * stride + x * 3;
            p[0] = x < w / 2 ? 220 : 20, p[1] = 20, p[2] = x < w / 2 ? 20 : 220;
        }
    if (!icc.empty()) heif_image_set_raw_color_profile(image, "prof", icc.data(), icc.size());
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = static_cast<heif_orientation>(orientation);
    heif_context_encode_image(context, image, encoder, options, nullptr);
    const TempDir dir;
    heif_context_write_to_file(context, (dir / "x.heif").c_str());
    const Bytes bytes = kxtest::ReadFileBytes(dir / "x.heif");
    heif_encoding_options_free(options);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(context);
    return bytes;
}

// A lossy file as its bare library decodes it (HEIF with its turns applied),
// top row first.
std::vector<Bgr> BareDecode(const Bytes& file)
{
    std::vector<Bgr> pixels;
    int w = 0, h = 0, stride = 0;
    if (uint8_t* bgr = WebPDecodeBGR(file.data(), file.size(), &w, &h)) {
        for (int i = 0; i < w * h; ++i) pixels.push_back({bgr[i * 3], bgr[i * 3 + 1], bgr[i * 3 + 2]});
        WebPFree(bgr);
        return pixels;
    }
    heif_context* context = heif_context_alloc();
    heif_context_read_from_memory_without_copy(context, file.data(), file.size(), nullptr);
    heif_image_handle* handle = nullptr;
    heif_context_get_primary_image_handle(context, &handle);
    heif_image* image = nullptr;
    heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr);
    const uint8_t* plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < heif_image_get_height(image, heif_channel_interleaved); ++y)
        for (int x = 0; x < heif_image_get_width(image, heif_channel_interleaved); ++x) {
            const uint8_t* p = plane + y * stride + x * 3;
            pixels.push_back({p[2], p[1], p[0]});
        }
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(context);
    return pixels;
}

// Lossy WebP, HEIC and AVIF give the bare library's decode exactly, upright
// (a red and a blue point show the turn), with the file's profile.
TEST(ModernFormats, LossyFilesMatchTheBareLibraryUpright)
{
    TempDir dir;
    uint8_t* out = nullptr;
    const Bytes big = PatternBgra(37, 21, [](int, int) { return 255; });
    const Bytes lossyWebp = Owned(out, WebPEncodeBGRA(big.data(), 37, 21, 37 * 4, 80, &out));
    const struct {
        uint8_t type;
        heif_compression_format format;
        int orientation;
        int width, height;             // upright
        int redX, redY, blueX, blueY;  // a red and a blue point of the upright HEIF picture
    } cases[] = {
        {kx::ImageTypeWEBP, heif_compression_undefined, 1, 37, 21, -1, -1, -1, -1},
        {kx::ImageTypeHEIF, heif_compression_HEVC, 1, 64, 32, 8, 16, 56, 16},
        {kx::ImageTypeHEIF, heif_compression_HEVC, 6, 32, 64, 16, 8, 16, 56},
        {kx::ImageTypeAVIF, heif_compression_AV1, 3, 64, 32, 56, 16, 8, 16},
        {kx::ImageTypeAVIF, heif_compression_AV1, 8, 32, 64, 16, 56, 16, 8},
        {kx::ImageTypeAVIF, heif_compression_AV1, 2, 64, 32, 56, 16, 8, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + ", orientation " + std::to_string(c.orientation));
        const bool webp = c.type == kx::ImageTypeWEBP;
        const Bytes file = webp ? lossyWebp : WriteHeif(c.format, 64, 32, c.orientation, kIcc);
        kxtest::WriteFileBytes(dir / "in", file);
        kx::PictureMetadata metadata;
        const kx::cDIBSection surface = LoadAndProbe(dir / "in", c.type, &metadata);
        ASSERT_EQ(surface.Width(), c.width);
        ASSERT_EQ(surface.Height(), c.height);
        if (!webp) {
            const Bgr red = PixelAt(surface, c.redX, c.redY), blue = PixelAt(surface, c.blueX, c.blueY);
            EXPECT_TRUE(red.r > 180 && red.b < 60);
            EXPECT_TRUE(blue.b > 180 && blue.r < 60);
        }
        EXPECT_EQ(kxtest::AllPixels(surface), BareDecode(file));
        EXPECT_EQ(metadata.Orientation, 1);
        EXPECT_EQ(metadata.IccProfile, webp ? Bytes{} : kIcc);
    }
}

TEST(ModernFormats, EachOutputFormatReadsBackWithItsProfile)
{
    TempDir dir;
    WriteTiff(dir / "in.tif", "rgb8", 1, 1, kIcc);
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
        const kx::cDIBSection back = LoadAndProbe(out, c.type, &metadata);
        ASSERT_EQ(back.Width(), kW);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const Bgr got = PixelAt(back, x, y), want = Pattern(x, y);
                EXPECT_LE(
                    std::max({std::abs(got.b - want.b), std::abs(got.g - want.g), std::abs(got.r - want.r)}),
                    c.tolerance)
                    << x << "," << y;
            }
        // The input's profile travels as it is (libpng reads back only
        // profiles with tags, so for PNG its chunk is looked for).
        const Bytes bytes = kxtest::ReadFileBytes(out);
        if (c.format == kx::OutputFormat::Png)
            EXPECT_NE(std::search(bytes.begin(), bytes.end(), "iCCP", "iCCP" + 4), bytes.end());
        else
            EXPECT_EQ(metadata.IccProfile, kIcc);
        // Quality outside 1 to 100 and a folder that does not exist fail,
        // and leave nothing behind.
        EXPECT_TRUE(kx::EncodeSurface(source, c.format, 0).empty());
        EXPECT_TRUE(kx::EncodeSurface(source, c.format, 101).empty());
        EXPECT_FALSE(kx::SaveSurfaceAs(source, dir / "no/such/folder.png", 90, c.format));
    }
    EXPECT_EQ(dir.List().size(), 4u);  // in.tif and the three outputs
}

// Hostile files, a huge or zero declared size or cut short, are refused.
TEST(ModernFormats, HostileFilesAreRefused)
{
    TempDir dir;
    WriteTiff(dir / "ok.tif", "rgb8");
    const Bytes tiff = kxtest::ReadFileBytes(dir / "ok.tif");
    uint8_t* out = nullptr;
    const Bytes bgra = PatternBgra(kW, kH, [](int, int) { return 200; });
    const Bytes webp = Owned(out, WebPEncodeLosslessBGRA(bgra.data(), kW, kH, kW * 4, &out));
    const Bytes anim = WebpAnimation(3, kW, kH);
    const Bytes heic = WriteHeif(heif_compression_HEVC, 64, 32, 1, {});
    const Bytes avif = WriteHeif(heif_compression_AV1, 64, 32, 1, {});
    // A copy of `bytes` with `value` written over `at` (big- or little-endian).
    const auto patched = [](Bytes bytes, size_t at, uint32_t value, int width, bool big) {
        for (int i = 0; i < width; ++i)
            bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * (big ? width - 1 - i : i)));
        return bytes;
    };
    // The TIFF's width and height entries (tags 256, 257; SHORT or LONG values).
    const auto tiffSized = [&](uint32_t width, uint32_t height) {
        Bytes bytes = tiff;
        const size_t ifd = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | size_t{bytes[7]} << 24;
        for (size_t e = ifd + 2; e + 12 <= bytes.size() && e < ifd + 2 + 12 * size_t{bytes[ifd]}; e += 12) {
            const uint32_t value = bytes[e] == 0 ? width : bytes[e] == 1 ? height : 0;
            if (bytes[e + 1] == 1 && bytes[e] <= 1) {
                bytes = patched(bytes, e + 2, 4, 2, false);  // LONG, count 1
                bytes = patched(bytes, e + 8, value, 4, false);
            }
        }
        return bytes;
    };
    // Every "ispe" box (version and flags, then width and height) set to w x h.
    const auto ispeSized = [&](Bytes bytes, uint32_t w, uint32_t h) {
        const auto find = [&] {
            return static_cast<size_t>(std::search(bytes.begin(), bytes.end(), "ispe", "ispe" + 4) -
                                       bytes.begin());
        };
        for (size_t at = find(); at + 16 <= bytes.size(); at = find()) {
            bytes = patched(patched(bytes, at + 8, w, 4, true), at + 12, h, 4, true);
            bytes[at] = 'I';  // found once
        }
        return bytes;
    };
    // Those with a lying header first: the probe refuses them too.
    std::vector<std::pair<std::string, Bytes>> cases = {
        {"tiff-65535-square", tiffSized(65535, 65535)},
        {"tiff-width-zero", tiffSized(0, kH)},
        {"webp-vp8l-16384-square", patched(webp, 21, 0x0FFFFFFF, 4, false)},
        {"webp-canvas-16m-square", patched(anim, 24, 0xFFFFFF, 3, false)},
        {"heic-ispe-huge", ispeSized(heic, 60000, 60000)},
        {"avif-ispe-zero", ispeSized(avif, 0, 0)},
    };
    const size_t lying = cases.size();
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, Bytes>>{
             {"tiff", tiff}, {"webp", webp}, {"anim", anim}, {"heic", heic}, {"avif", avif}})
        for (const size_t keep : {size_t{8}, size_t{16}, bytes.size() / 2, bytes.size() - 1})
            cases.push_back(
                {name + "-cut-to-" + std::to_string(keep), Bytes(bytes.begin(), bytes.begin() + keep)});
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string path = dir / cases[i].first;
        SCOPED_TRACE(path);
        kxtest::WriteFileBytes(path, cases[i].second);
        kx::cDIBSection surface;
        EXPECT_FALSE(kx::LoadPicture(path, surface));
        EXPECT_FALSE(surface.IsLive());
        if (i < lying) {
            EXPECT_EQ(kx::GetImageInfo(path).ImageType, kx::ImageTypeNone);
        }
    }
}

TEST(ModernFormats, FolderRulesAndFormatNames)
{
    for (const char* taken :
         {"jpg", "JPG", "bmp", "gif", "png", "jpeg", "JPE", "webp", "heic", "HEIF", "avif", "tif", "Tiff"})
        EXPECT_TRUE(kx::TakenWithAllFormats(taken)) << taken;
    for (const char* left : {"", "jp", "jpgx", "txt", "heics", "svg", "raw", ".jpg"})
        EXPECT_FALSE(kx::TakenWithAllFormats(left)) << left;
    const struct {
        const char* name;
        std::optional<int> format;
        const char* extension;
    } names[] = {{"jpeg", 0, ".jpg"},  {"JPG", 0, ".jpg"},   {"png", 1, ".png"},
                 {"WebP", 2, ".webp"}, {"avif", 3, ".avif"}, {"bmp", std::nullopt, ""}};
    for (const auto& n : names) {
        EXPECT_EQ(kx::OutputFormatNamed(n.name), n.format) << n.name;
        EXPECT_EQ(kx::OutputFormatExtension(n.format.value_or(4)), n.extension) << n.name;
    }
}

}  // namespace
