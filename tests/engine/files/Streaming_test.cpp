// The modern mode's streaming path: every streaming decoder gives what the
// whole-picture decoder and ResampleLanczos give, the reducer's bytes are
// pinned on each path, and a picture far larger than its memory ceiling
// streams within it.
#include <sched.h>
#include <turbojpeg.h>
#include <webp/encode.h>
#include <webp/mux.h>
#include <zlib.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/modImageInfo.h"
#include "engine/files/FailureReason.h"
#include "engine/files/Orientation.h"
#include "engine/files/PictureLoader.h"
#include "engine/files/RowSources.h"
#include "engine/surface/LanczosResample.h"
#include "engine/surface/ResamplePaths.h"
#include "engine/surface/StreamingLanczos.h"
#include "tests/support/CountingMalloc.h"
#include "tests/support/PhotoFixtures.h"

namespace {

using kxtest::Bytes;
using kxtest::Image;
using kxtest::TempDir;

// `pixel(x, y)` as a w x h picture, alpha by column when `alpha` (255, 0, 128 in turn).
struct Picture {
    int width, height;
    bool alpha;
    Image image;
    uint8_t Alpha(int x) const { return !alpha ? 255 : x % 3 == 0 ? 255 : x % 3 == 1 ? 0 : 128; }
    // Row y as BGR (A) or RGB (A) bytes.
    Bytes Row(int y, bool rgb) const
    {
        Bytes row;
        for (int x = 0; x < width; ++x) {
            const kxtest::Bgr p = image.At(x, y);
            row.insert(row.end(), rgb ? std::initializer_list<uint8_t>{p.r, p.g, p.b}
                                      : std::initializer_list<uint8_t>{p.b, p.g, p.r});
            if (alpha) row.push_back(Alpha(x));
        }
        return row;
    }
};

// Every format but BMP carries this XMP packet.
const std::string kXmpText = "<x:xmpmeta/>";
const Bytes kXmp(kXmpText.begin(), kXmpText.end());

Bytes JpegFile(const Picture& p, int orientation)
{
    const Bytes exif =
        kxtest::Segment(0xE1, std::string("Exif\0\0", 6), kxtest::OrientationTiff(orientation, true));
    const Bytes xmp = kxtest::Segment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29), kXmp);
    return kxtest::WithSegments(kxtest::JpegOf(p.image), kxtest::Concat({exif, xmp}));
}

// The rows filtered with each of the five filters in turn, as IDAT holds them inflated.
Bytes FilteredRows(const Picture& p)
{
    const size_t n = p.alpha ? 4 : 3;
    Bytes data, prior(p.width * n, 0);
    for (int y = 0; y < p.height; ++y) {
        const Bytes row = p.Row(y, true);
        data.push_back(static_cast<uint8_t>(y % 5));
        for (size_t i = 0; i < row.size(); ++i) {
            const int a = i >= n ? row[i - n] : 0, b = prior[i], c = i >= n ? prior[i - n] : 0;
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int predicted[]{0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
            data.push_back(static_cast<uint8_t>(row[i] - predicted[y % 5]));
        }
        prior = row;
    }
    return data;
}

// The rows filtered as FilteredRows gives them, XMP compressed, the eXIf after the pixels, as older writers place it.
Bytes PngFile(const Picture& p, int orientation)
{
    kxtest::PngLayout png{static_cast<uint32_t>(p.width), static_cast<uint32_t>(p.height), 8,
                          static_cast<uint8_t>(p.alpha ? 6 : 2)};
    png.data = FilteredRows(p);
    png.chunks = {{"iTXt", kxtest::XmpItxt(kXmp)}};
    png.after = {{"eXIf", kxtest::OrientationTiff(orientation, true)}};
    return kxtest::Png(png);
}

Bytes BmpFile(const Picture& p, int)
{
    kxtest::BmpLayout bmp{p.width, p.height, 24};
    for (int y = p.height - 1; y >= 0; --y) {
        Bytes row = p.Row(y, false);
        row.resize((row.size() + 3) / 4 * 4, 0);
        bmp.pixels.insert(bmp.pixels.end(), row.begin(), row.end());
    }
    return kxtest::Bmp(bmp);
}

// With an ICC profile and an EXIF block, as chunks of the extended format.
Bytes WebpFile(const Picture& p, int)
{
    Bytes bgr;
    for (int y = 0; y < p.height; ++y) {
        const Bytes row = p.Row(y, false);
        bgr.insert(bgr.end(), row.begin(), row.end());
    }
    uint8_t* encoded = nullptr;
    const size_t size = p.alpha ? WebPEncodeLosslessBGRA(bgr.data(), p.width, p.height, p.width * 4, &encoded)
                                : WebPEncodeBGR(bgr.data(), p.width, p.height, p.width * 3, 90, &encoded);
    const WebPData image{encoded, size};
    WebPMux* mux = WebPMuxCreate(&image, 1);
    const Bytes icc = kxtest::IccProfile(132, "RGB "), exif = kxtest::OrientationTiff(1, true);
    const WebPData iccChunk{icc.data(), icc.size()}, exifChunk{exif.data(), exif.size()},
        xmpChunk{kXmp.data(), kXmp.size()};
    WebPMuxSetChunk(mux, "ICCP", &iccChunk, 1);
    WebPMuxSetChunk(mux, "EXIF", &exifChunk, 1);
    WebPMuxSetChunk(mux, "XMP ", &xmpChunk, 1);
    WebPData assembled;
    WebPMuxAssemble(mux, &assembled);
    Bytes file(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    WebPMuxDelete(mux);
    WebPFree(encoded);
    return file;
}

// LZW in strips of `stripRows` rows, or in 16 x 16 tiles when `tiled`.
Bytes TiffFile(const Picture& p, int orientation, bool tiled, int stripRows = 7)
{
    Bytes samples;
    for (int y = 0; y < p.height; ++y) {
        const Bytes row = p.Row(y, true);
        samples.insert(samples.end(), row.begin(), row.end());
    }
    kxtest::TiffLayout layout{.width = p.width, .height = p.height, .channels = p.alpha ? 4 : 3};
    layout.orientation = orientation, layout.tiled = tiled, layout.alpha = p.alpha,
    layout.stripRows = stripRows, layout.xmp = kXmp;
    return kxtest::TiffOf(layout, samples);
}

struct Format {
    const char* name;
    Bytes (*write)(const Picture&, int orientation);
    bool orients;   // the format carries an orientation the loader applies
    int tolerance;  // the largest channel difference from the whole picture's reduction
};
const Format kFormats[]{
    {"JPEG", JpegFile, true, 0},
    {"PNG", PngFile, true, 0},
    {"BMP", BmpFile, false, 0},
    {"WebP", WebpFile, false, 12},
    {"TIFF strips", [](const Picture& p, int o) { return TiffFile(p, o, false); }, true, 0},
    {"TIFF tiles", [](const Picture& p, int o) { return TiffFile(p, o, true); }, true, 0},
};

int LargestDifference(const kx::cDIBSection& a, const kx::cDIBSection& b)
{
    int most = 0;
    const auto pa = kxtest::AllPixels(a), pb = kxtest::AllPixels(b);
    for (size_t i = 0; i < pa.size(); ++i) most = std::max(most, kxtest::Difference(pa[i], pb[i]));
    return most;
}

// Every format, with and without alpha, in each orientation it carries,
// turned upright or left as stored: the streamed reduction against the whole
// picture's (decoded, then ResampleLanczos), 120 x 90 to 29 x 22 (a JPEG
// decodes at 1/2 first), with the same metadata (XMP in every format but BMP),
// the rows reduced on the decoder's thread or on a second one (PNG, BMP and
// WebP only on the second).
// Upright and mirrored pictures give the same bytes (the weights are
// mirror-symmetric); a quarter-turned one is reduced before it is turned, so
// its passes swap and the 6-bit rounding between them may differ by one.
// WebP decodes at 1/2 with libwebp's area-averaging scaler first, as JPEG
// decodes at 1/2 in both paths: on this pattern, whose every pixel differs
// from its neighbours (and alpha from column to column), the results differ
// by up to 12 levels.
TEST(Streaming, EachFormatAndOrientationGivesTheWholePictureReduction)
{
    constexpr kx::ReduceThread kThreads[]{kx::ReduceThread::Never, kx::ReduceThread::Always};
    const TempDir dir;
    for (const Format& format : kFormats)
        for (bool alpha : {false, true}) {
            if (alpha && (format.write == JpegFile || format.write == BmpFile)) continue;
            const Picture picture{120, 90, alpha, kxtest::AsymmetricPicture(120, 90)};
            for (int orientation = 1; orientation <= (format.orients ? 8 : 1); ++orientation)
                for (bool upright : {true, false}) {
                    SCOPED_TRACE(std::string(format.name) + (alpha ? " with alpha" : "") + ", orientation " +
                                 std::to_string(orientation) + (upright ? "" : ", as stored"));
                    const std::string path = dir / "in";
                    kxtest::WriteFileBytes(path, format.write(picture, orientation));
                    kx::cDIBSection whole, streamed;
                    kx::PictureMetadata read, streamedRead;
                    ASSERT_TRUE(kx::LoadPicture(path, whole, read, upright, kx::ShrinkTarget{29, 22}));
                    const auto reduced = kx::ResampleLanczos(whole, 29, 22);
                    // A PNG turned on its side by a late eXIf is read again whole.
                    const bool again = format.write == PngFile && upright && kx::SwapsSides(orientation);
                    // Kept alpha: the same colour and plane whichever thread reduces.
                    kx::cDIBSection kept[2];
                    kx::AlphaPlane keptAlpha[2];
                    for (int t = 0; t < 2; ++t)
                        ASSERT_EQ(kx::LoadReducedPicture(path, {29, 22, upright, true, kThreads[t]}, kept[t],
                                                         streamedRead, &keptAlpha[t]),
                                  again ? kx::StreamOutcome::WholePicture : kx::StreamOutcome::Done);
                    if (again) continue;
                    EXPECT_EQ(kxtest::AllPixels(kept[0]), kxtest::AllPixels(kept[1]));
                    EXPECT_EQ(keptAlpha[0].IsLive(), alpha);
                    for (int y = 0; y < keptAlpha[0].Height(); ++y)
                        EXPECT_EQ(std::memcmp(keptAlpha[0].Row(y), keptAlpha[1].Row(y), 29), 0);
                    const auto thread = kThreads[orientation % 2];
                    ASSERT_EQ(kx::LoadReducedPicture(path, {29, 22, upright, false, thread}, streamed,
                                                     streamedRead),
                              kx::StreamOutcome::Done);
                    ASSERT_EQ(streamed.Width(), 29);
                    ASSERT_EQ(streamed.Height(), 22);
                    EXPECT_LE(LargestDifference(*reduced, streamed),
                              format.tolerance + (upright && kx::SwapsSides(orientation) ? 1 : 0));
                    EXPECT_EQ(streamedRead.Orientation, upright ? 1 : orientation);
                    EXPECT_EQ(read.Orientation, streamedRead.Orientation);
                    EXPECT_EQ(read.IccProfile.size(), format.write == WebpFile ? 132u : 0u);
                    EXPECT_EQ(streamedRead.IccProfile, read.IccProfile);
                    EXPECT_EQ(streamedRead.Exif, read.Exif);
                    EXPECT_EQ(read.Xmp, format.write == BmpFile ? Bytes{} : kXmp);
                    EXPECT_EQ(streamedRead.Xmp, read.Xmp);
                }
        }
}

// Damaged image data (the streaming path reads it past libpng): refused as
// the whole-picture path refuses it, with libpng's reason, or read as it
// reads it, the second thread stopped with rows not yet reduced. The file:
// signature, IHDR, one IDAT, IEND.
TEST(Streaming, DamagedPngDataGivesTheWholePicturesOutcome)
{
    const Picture picture{120, 90, false, kxtest::AsymmetricPicture(120, 90)};
    const Bytes rows = FilteredRows(picture);
    const auto withData = [&](Bytes data) { return kxtest::Png({120, 90, 8, 2, {}, {}, {}, {}, data}); };
    const auto fixCrc = [](Bytes& f) {
        const uint32_t crc = crc32(0, &f[37], static_cast<uInt>(f.size() - 53));
        for (int i = 0; i < 4; ++i) f[f.size() - 16 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    };
    struct Case {
        const char* flaw;
        std::function<Bytes()> file;
        const char* reason;  // empty: read
    };
    const Case cases[]{
        {"a wrong CRC",
         [&] {
             Bytes f = withData(rows);
             f[f.size() - 13] ^= 1;
             return f;
         },
         "IDAT: CRC error"},
        {"cut short",
         [&] {
             Bytes f = withData(rows);
             f.resize(f.size() / 2);
             return f;
         },
         "file truncated"},
        {"a filter value of 5",
         [&] {
             Bytes d = rows;
             d[361 * 40] = 5;
             return withData(d);
         },
         "bad adaptive filter value"},
        {"rows missing", [&] { return withData(Bytes(rows.begin(), rows.end() - 361)); },
         "Not enough image data"},
        {"a wrong checksum",
         [&] {
             Bytes f = withData(rows);
             f[f.size() - 17] ^= 1;
             fixCrc(f);
             return f;
         },
         "IDAT: incorrect data check"},
        {"a row too many",
         [&] {
             Bytes d = rows;
             d.insert(d.end(), rows.begin(), rows.begin() + 361);
             return withData(d);
         },
         ""},
    };
    const TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flaw);
        kxtest::WriteFileBytes(dir / "in", c.file());
        kx::cDIBSection whole, streamed;
        kx::PictureMetadata metadata;
        kx::ClearFailureReason();
        const bool read = kx::LoadPicture(dir / "in", whole);
        const std::string wholeReason = kx::FailureReason();
        kx::ClearFailureReason();
        EXPECT_EQ(read, *c.reason == 0);
        EXPECT_EQ(kx::LoadReducedPicture(dir / "in", {29, 22, true, false, kx::ReduceThread::Always},
                                         streamed, metadata),
                  read ? kx::StreamOutcome::Done : kx::StreamOutcome::Failed);
        EXPECT_EQ(kx::FailureReason(), wholeReason);
        if (!read) {
            EXPECT_EQ(kx::FailureReason(), std::string("the PNG decoder says: ") + c.reason);
        }
    }
}

// FNV-1a of the picture's rows, top row first.
uint64_t Hash(const kx::cDIBSection& surface)
{
    uint64_t h = 14695981039346656037u;
    for (int y = 0; y < surface.Height(); ++y)
        for (int i = 0; i < surface.Width() * 3; ++i) h = (h ^ surface.PictureRow(y)[i]) * 1099511628211u;
    return h;
}

// The reducer's bytes, pinned on the plain and the vector path (the same on
// both, and the same as ResampleLanczos on the whole picture), for a
// reduction by about 3 and one of a single column to a 7-row strip.
TEST(Streaming, ReducerGivesThePinnedBytesOnEveryPath)
{
    kx::cDIBSection source;
    ASSERT_TRUE(source.Create(301, 203));
    kxtest::FillPicture(source, [](int x, int y) {
        return kxtest::Bgr{uint8_t(x * 7 + y * 3), uint8_t((x * y) % 251),
                           uint8_t(x % 9 == 0 || y % 7 == 0 ? 255 : 0)};
    });
    struct Target {
        int width, height;
        uint64_t hash;
    };
    const Target targets[]{{97, 61, 15543974016520926473u}, {300, 7, 12232754571330168582u}};
    for (bool plain : {true, false}) {
        if (!plain && !__builtin_cpu_supports("avx2"))
            GTEST_SKIP() << "no AVX2 on this processor: vector path not run";
        kx::ForcePlainResample(plain);
        for (const Target& t : targets) {
            SCOPED_TRACE(std::to_string(t.width) + " x " + std::to_string(t.height) +
                         (plain ? ", plain" : ", AVX2"));
            kx::StreamingLanczos reducer;
            kx::cDIBSection out;
            ASSERT_TRUE(reducer.Start(301, 203, t.width, t.height, out));
            for (int y = 0; y < 203; ++y) reducer.Push(source.PictureRow(y));
            reducer.Finish();
            EXPECT_EQ(Hash(out), t.hash);
            EXPECT_EQ(Hash(out), Hash(*kx::ResampleLanczos(source, t.width, t.height)));
        }
    }
    kx::ForcePlainResample(false);
}

// A 12000 x 2000 picture (72 MB as a surface) of each streaming format,
// reduced to 6001 x 200 (WebP, which decodes at a reduced scale, to 1500 x
// 200), within 16 MB of memory beside the compressed strip that libtiff reads
// whole (this TIFF is one LZW strip of all 2000 rows, decoded a scanline at
// a time), giving the whole picture's reduction.
TEST(Streaming, LargePicturesStreamWithinAMemoryCeiling)
{
    if (!KX_COUNTING_MALLOC) GTEST_SKIP() << "malloc is not counted under AddressSanitizer";
    constexpr int kW = 12000, kH = 2000;
    Picture big{kW, kH, false, Image{kW, kH, Bytes(size_t{kW} * kH * 3)}};
    for (size_t i = 0; i < big.image.bgr.size(); ++i)
        big.image.bgr[i] = static_cast<uint8_t>(i % 3 * 80 + i / 3 % kW / 50 + (i * 2654435761u >> 28));
    const auto tiff = [](const Picture& p, int) { return TiffFile(p, 1, false, p.height); };
    const auto jpeg = [](const Picture& p, int) {
        tjhandle tj = tjInitCompress();
        unsigned char* out = nullptr;
        unsigned long size = 0;
        tjCompress2(tj, p.image.bgr.data(), p.width, 0, p.height, TJPF_BGR, &out, &size, TJSAMP_420, 80, 0);
        Bytes file(out, out + size);
        tjFree(out);
        tjDestroy(tj);
        return file;
    };
    // WebP's encoder is slow on detail: its picture is flat.
    const Picture flat{kW, kH, false, Image{kW, kH, Bytes(size_t{kW} * kH * 3, 0x80)}};
    const struct {
        const char* name;
        std::function<Bytes(const Picture&, int)> write;
        const Picture& picture;
        int width;
        bool readsFile;  // a strip as large as the file is read whole
    } cases[]{{"JPEG", jpeg, big, 6001, false},
              {"PNG", PngFile, big, 6001, false},
              {"BMP", BmpFile, big, 6001, false},
              {"TIFF", tiff, big, 6001, true},
              {"WebP", WebpFile, flat, 1500, false}};
    const TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = c.write(c.picture, 1);
        kxtest::WriteFileBytes(dir / "big", file);
        kx::cDIBSection reduced;
        kx::PictureMetadata metadata;
        const int64_t before = kxtest::LiveBytes();
        kxtest::ResetPeak();
        EXPECT_EQ(kx::LoadReducedPicture(dir / "big", {c.width, 200, true}, reduced, metadata),
                  kx::StreamOutcome::Done);
        EXPECT_LE(kxtest::PeakBytes() - before,
                  (int64_t{16} << 20) + (c.readsFile ? static_cast<int64_t>(file.size()) : 0));
        EXPECT_EQ(reduced.Width(), c.width);
        if (c.width == 1500) continue;  // decoded at 1/4 first
        kx::cDIBSection whole;
        ASSERT_TRUE(kx::LoadPicture(dir / "big", whole));
        EXPECT_EQ(Hash(reduced), Hash(*kx::ResampleLanczos(whole, c.width, 200)));
    }
}

TEST(Streaming, AReductionTakesASecondThreadOnlyWhenAProcessorIsFree)
{
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    const int processors = CPU_COUNT(&allowed);
    if (processors < 2) GTEST_SKIP() << "one processor: never a second thread";
    for (const int others : {processors - 2, processors - 1}) {
        SCOPED_TRACE(others);
        // Other threads at work on pictures (a batch's workers), this one too, twice over.
        std::atomic<bool> done{false};
        std::atomic<int> working{0};
        std::vector<std::jthread> workers;
        for (int i = 0; i < others; ++i)
            workers.emplace_back([&] {
                const kx::PictureWorkScope scope;
                ++working;
                while (!done) std::this_thread::yield();
            });
        while (working < others) std::this_thread::yield();
        const kx::PictureWorkScope method;
        kx::cDIBSection out;
        kx::RowReducer reducer({100, 100}, out);
        ASSERT_TRUE(reducer.Reduces(2000, 2000, 1));
        ASSERT_TRUE(reducer.Start(0));
        EXPECT_EQ(reducer.Threaded(), others < processors - 1);
        done = true;
    }
}

// A flat grey baseline JPEG of any size, cheap to make: every block is the
// DC code (unchanged), `dcBits` zero bits, then EOB, one zero bit.
Bytes FlatGreyJpeg(uint16_t width, uint16_t height, int dcBits)
{
    const auto seg = [](uint8_t code, const Bytes& body) { return kxtest::Segment(code, "", body); };
    const auto table = [](uint8_t kind, int bits) {  // one code, for the symbol 0
        Bytes t(17, 0);
        t[0] = kind, t[bits] = 1;
        t.push_back(0);
        return t;
    };
    Bytes frame = {8};
    kxtest::Put(frame, height, 2, true), kxtest::Put(frame, width, 2, true);
    frame.insert(frame.end(), {1, 1, 0x11, 0});
    Bytes quantisers(65, 1);
    quantisers[0] = 0;
    const size_t blocks = size_t{(width + 7u) / 8} * ((height + 7u) / 8);
    return kxtest::Concat({{0xFF, 0xD8},
                           seg(0xDB, quantisers),
                           seg(0xC0, frame),
                           seg(0xC4, table(0x00, dcBits)),
                           seg(0xC4, table(0x10, 1)),
                           seg(0xDA, {1, 1, 0x00, 0, 63, 0}),
                           Bytes((blocks * (dcBits + 1) + 7) / 8, 0),
                           {0xFF, 0xD9}});
}

TEST(Streaming, APictureTooLargeToHoldWholeIsReducedAsItIsReadWhenItsFileHasTheWeight)
{
    // 800 megapixels: 2.4 GB as a whole surface, more than one may be.
    const TempDir dir;
    const std::string heavy = dir / "heavy.jpg", light = dir / "light.jpg";
    kxtest::WriteFileBytes(heavy, FlatGreyJpeg(40000, 20000, 8));  // 57 pixels a byte
    kxtest::WriteFileBytes(light, FlatGreyJpeg(40000, 20000, 1));  // 256: too light
    const kx::ImageInfo whole = kx::GetImageInfo(heavy),
                        streamed = kx::GetImageInfo(heavy, kx::ProbedSizes::Streamed);
    EXPECT_EQ(whole.ImageType, kx::ImageTypeNone);
    EXPECT_EQ(std::tuple(streamed.ImageType, streamed.Width, streamed.Height),
              std::tuple(kx::ImageTypeJPEG, 40000, 20000));
    EXPECT_EQ(kx::GetImageInfo(light, kx::ProbedSizes::Streamed).ImageType, kx::ImageTypeNone);
    kx::cDIBSection reduced;
    kx::PictureMetadata metadata;
    EXPECT_EQ(kx::LoadReducedPicture(light, {400, 200, true}, reduced, metadata),
              kx::StreamOutcome::WholePicture);
    const int64_t before = kxtest::LiveBytes();
    kxtest::ResetPeak();
    ASSERT_EQ(kx::LoadReducedPicture(heavy, {400, 200, true}, reduced, metadata), kx::StreamOutcome::Done);
    if (KX_COUNTING_MALLOC) {
        EXPECT_LE(kxtest::PeakBytes() - before, int64_t{16} << 20);
    }
    ASSERT_EQ(std::tuple(reduced.Width(), reduced.Height()), std::tuple(400, 200));
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 400 * 3; ++x) ASSERT_EQ(reduced.PictureRow(y)[x], 128) << x << "," << y;
    // The whole-picture loader refuses it with the reason.
    EXPECT_FALSE(kx::LoadPicture(heavy, reduced));
    EXPECT_NE(kx::FailureReason().find("20000 pixels, more than the 2 GB of pixels the engine holds whole"),
              std::string::npos)
        << kx::FailureReason();
}

}  // namespace
