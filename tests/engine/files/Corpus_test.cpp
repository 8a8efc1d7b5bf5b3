// Every file of the shared corpora through the loader, as a user's folder
// would reach it: valid pictures load at the size their header states,
// corrupt and foreign files are refused, questionable ones do either, and
// none costs more than a second or much more memory than its decoded
// surface. Pixel-exact checks of each format live in the decoder tests; here
// only the references those do not cover (libjpeg-turbo's own decodes and
// the remaining jpeg-edge renderings).
//
// With KX_CORPUS_ACCOUNTING=<file> the test also writes the accounting of
// every file (loaded, or refused and why) as a Markdown table.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "CountingMalloc.h"
#include "PictureLoader.h"
#include "TestSupport.h"
#include "modImageInfo.h"

namespace {

namespace fs = std::filesystem;

enum class Expect { Load, Refuse, Either };

struct Expectation {
    Expect outcome;
    std::string why;  // why a file is refused, or may be
};

// Corrupt PngSuite files and what is wrong with each.
const std::map<std::string, std::string> kCorruptPng{
    {"xs1n0g01.png", "signature byte 1 wrong"},
    {"xs2n0g01.png", "signature byte 2 wrong"},
    {"xs4n0g01.png", "signature byte 4 wrong"},
    {"xs7n0g01.png", "signature byte 7 wrong"},
    {"xcrn0g04.png", "signature mangled by CR-LF conversion"},
    {"xlfn0g04.png", "signature mangled by LF conversion"},
    {"xhdn0g08.png", "IHDR checksum wrong"},
    {"xc1n0g08.png", "colour type 1 does not exist"},
    {"xc9n2c08.png", "colour type 9 does not exist"},
    {"xd0n2c08.png", "bit depth 0"},
    {"xd3n2c08.png", "bit depth 3"},
    {"xd9n2c08.png", "bit depth 99"},
    {"xdtn0g01.png", "no IDAT chunk"},
    {"xcsn0g01.png", "IDAT checksum wrong"},
};

// BMP variants the decoder does not take, and why.
const std::map<std::string, std::string> kUnsupportedBmp{
    {"pal1huffmsb.bmp", "Huffman 1D coding is not decoded"},
    {"rgb24jpeg.bmp", "embedded JPEG is not decoded"},
    {"rgb24png.bmp", "embedded PNG is not decoded"},
    {"rgb24rle24.bmp", "24-bit RLE is not decoded"},
    {"rgba64.bmp", "64 bits a pixel are not decoded"},
};

// What the loader should do with a corpus file, by folder and name.
Expectation Expected(const std::string& relative)
{
    const fs::path path(relative);
    const std::string name = path.filename();
    const std::string ext = path.extension();
    const auto under = [&](const char* folder) { return relative.starts_with(folder); };
    if (ext == ".ppm" || ext == ".pgm" || ext == ".rgb" || ext == ".ico")
        return {Expect::Refuse, "not a format the engine reads"};
    if (under("bmpsuite/q/")) {
        const auto unsupported = kUnsupportedBmp.find(name);
        if (unsupported != kUnsupportedBmp.end()) return {Expect::Refuse, unsupported->second};
        return {Expect::Either, "questionable variant"};
    }
    if (under("pngsuite/") && name.starts_with("x")) {
        const auto corrupt = kCorruptPng.find(name);
        return {Expect::Refuse, corrupt != kCorruptPng.end() ? corrupt->second : "corrupt"};
    }
    if (name == "monkey12.jpg" || name == "historic-testorig12.jpg")
        return {Expect::Refuse, "12-bit samples: the JPEG library decodes 8-bit ones"};
    if (under("jpeg-edge/reftest/lossless/") && ext == ".jpg")
        return {Expect::Refuse, "lossless (SOF3) coding is not decoded"};
    return {Expect::Load, ""};
}

bool IsDocument(const fs::path& path)
{
    static const std::vector<std::string> kDocuments{".txt", ".md", ".md5", ".list", ".README"};
    const std::string name = path.filename();
    return std::find(kDocuments.begin(), kDocuments.end(), path.extension().string()) != kDocuments.end() ||
           name.starts_with("LICENSE") || name == "COPYING" || name == "NOTES";
}

// One second is generous for these small files; the sanitizers slow the
// decoders down several times.
#if !KX_COUNTING_MALLOC
constexpr double kSecondsPerFile = 5.0;
#else
constexpr double kSecondsPerFile = 1.0;
#endif

// The picture size a file's own header states, read here independently of
// the decoders (the engine's probe keeps older readers' quirks): BMP core and
// info headers, the PNG IHDR, the GIF logical screen and the first JPEG frame
// header of any coding. 0 x 0 when the header does not say.
struct Size {
    int width = 0, height = 0;
};
Size HeaderSize(const std::vector<uint8_t>& f)
{
    const auto le16 = [&](size_t at) { return f[at] | f[at + 1] << 8; };
    const auto be16 = [&](size_t at) { return f[at] << 8 | f[at + 1]; };
    const auto be32 = [&](size_t at) { return int(uint32_t(be16(at)) << 16 | be16(at + 2)); };
    if (f.size() >= 26 && f[0] == 'B' && f[1] == 'M') {
        if (le16(14) == 12) return {le16(18), le16(20)};
        const int32_t height = int32_t(uint32_t(le16(22)) | uint32_t(le16(24)) << 16);
        return {le16(18) | le16(20) << 16, height < 0 ? -height : height};
    }
    if (f.size() >= 24 && f[0] == 0x89 && f[1] == 'P') return {be32(16), be32(20)};
    if (f.size() >= 10 && f[0] == 'G' && f[1] == 'I') return {le16(6), le16(8)};
    for (size_t at = 2; f.size() >= 2 && at + 9 < f.size();) {
        if (f[at] != 0xFF) return {};
        const uint8_t marker = f[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return {be16(at + 7), be16(at + 5)};
        at += 2 + be16(at + 2);
    }
    return {};
}

struct Outcome {
    std::string relative;
    bool loaded = false;
    int width = 0, height = 0;
    std::string note;
};

TEST(Corpus, EveryFileLoadsOrIsRefusedCleanlyInTimeAndMemory)
{
    KX_SKIP_WITHOUT_CORPORA();
    const fs::path root = kxtest::CorpusPath("");
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file() && !IsDocument(entry.path()))
            files.push_back(fs::relative(entry.path(), root).string());
    std::sort(files.begin(), files.end());
    ASSERT_GT(files.size(), 350u);  // the corpora are there

    std::vector<Outcome> outcomes;
    for (const std::string& relative : files) {
        SCOPED_TRACE(relative);
        const std::string path = kxtest::CorpusPath(relative);
        const Expectation expected = Expected(relative);
        const auto bytes = kxtest::ReadFileBytes(path);
        const int64_t fileBytes = static_cast<int64_t>(bytes.size());

        kx::cDIBSection surface;
#if KX_COUNTING_MALLOC
        const int64_t before = kxtest::LiveBytes();
        kxtest::ResetPeak();
#endif
        const auto start = std::chrono::steady_clock::now();
        const bool loaded = kx::LoadPicture(path, surface);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took.count(), kSecondsPerFile);

        Outcome outcome{relative, loaded, surface.Width(), surface.Height(), expected.why};
        if (expected.outcome != Expect::Either) {
            EXPECT_EQ(loaded, expected.outcome == Expect::Load);
        }
        if (loaded) {
            // The probe calls every loaded file a picture of the loaded size,
            // which is the header's, turned upright.
            const kx::ImageInfo probed = kx::GetImageInfo(path);
            EXPECT_NE(probed.ImageType, kx::ImageTypeNone);
            EXPECT_EQ(probed.Width, surface.Width());
            EXPECT_EQ(probed.Height, surface.Height());
            Size header = HeaderSize(bytes);
            if (probed.Orientation >= 5) std::swap(header.width, header.height);
            EXPECT_EQ(surface.Width(), header.width);
            EXPECT_EQ(surface.Height(), header.height);
            if (expected.outcome == Expect::Either) outcome.note.clear();
        } else {
            EXPECT_FALSE(surface.IsLive());
        }
#if KX_COUNTING_MALLOC
        // The surface, the file's bytes, a temporary copy of the pixels with
        // alpha (4 bytes a pixel) and the libraries' working state.
        const int64_t surfaceBytes = int64_t{surface.BytesPerScanLine()} * surface.Height();
        const int64_t allowed = fileBytes + surfaceBytes * 3 + (int64_t{4} << 20);
        EXPECT_LE(kxtest::PeakBytes() - before, allowed);
#else
        (void)fileBytes;
#endif
        outcomes.push_back(outcome);
    }

    if (const char* accounting = std::getenv("KX_CORPUS_ACCOUNTING")) {
        std::ofstream out(accounting);
        out << "| file | result | reason |\n| --- | --- | --- |\n";
        for (const Outcome& o : outcomes)
            out << "| " << o.relative << " | "
                << (o.loaded ? "loaded " + std::to_string(o.width) + "x" + std::to_string(o.height)
                             : std::string("refused"))
                << " | " << o.note << " |\n";
    }
}

// A top-down picture from a binary PPM (P6, 8-bit) as BGR rows.
kxtest::Image ReadPpm(const std::string& path)
{
    const auto bytes = kxtest::ReadFileBytes(path);
    kxtest::Image image;
    std::string text(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 64));
    int maxValue = 0, consumed = 0;
    if (std::sscanf(text.c_str(), "P6 %d %d %d%n", &image.width, &image.height, &maxValue, &consumed) != 3 ||
        maxValue != 255)
        return {};
    const size_t start = static_cast<size_t>(consumed) + 1;
    const size_t count = static_cast<size_t>(image.width) * image.height * 3;
    if (bytes.size() < start + count) return {};
    image.bgr.resize(count);
    for (size_t i = 0; i < count; i += 3) {
        image.bgr[i] = bytes[start + i + 2];
        image.bgr[i + 1] = bytes[start + i + 1];
        image.bgr[i + 2] = bytes[start + i];
    }
    return image;
}

kxtest::Image FromSurface(const kx::cDIBSection& surface)
{
    kxtest::Image image{surface.Width(), surface.Height(), {}};
    for (const kxtest::Bgr& p : kxtest::AllPixels(surface))
        image.bgr.insert(image.bgr.end(), {p.b, p.g, p.r});
    return image;
}

// The largest difference of any channel, and the mean over all channels.
struct Difference {
    int largest = 0;
    double mean = 0;
};
Difference Compare(const kxtest::Image& a, const kxtest::Image& b)
{
    Difference d;
    double sum = 0;
    for (size_t i = 0; i < a.bgr.size(); ++i) {
        const int delta = std::abs(a.bgr[i] - b.bgr[i]);
        d.largest = std::max(d.largest, delta);
        sum += delta;
    }
    d.mean = a.bgr.empty() ? 0 : sum / static_cast<double>(a.bgr.size());
    return d;
}

kxtest::Image LoadReference(const std::string& relative)
{
    const std::string path = kxtest::CorpusPath(relative);
    if (relative.ends_with(".ppm")) return ReadPpm(path);
    kx::cDIBSection surface;
    if (!kx::LoadPicture(path, surface)) return {};
    return FromSurface(surface);
}

// Decoders round the inverse DCT and the chroma upsampling apart: a reference
// decode may differ by 3 levels in a channel and half a level on average.
TEST(Corpus, JpegsMatchTheReferenceRenderingsTheirSetsShip)
{
    KX_SKIP_WITHOUT_CORPORA();
    const struct {
        const char* picture;
        const char* reference;
        int largest;
        double mean;
    } cases[]{
        {"libjpeg-turbo/testorig.jpg", "libjpeg-turbo/testorig.ppm", 3, 0.5},
        // These two references are the picture before lossy coding.
        {"libjpeg-turbo/testimgari.jpg", "libjpeg-turbo/historic-testimgari.ppm", 48, 2.5},
        {"libjpeg-turbo/testimgint.jpg", "libjpeg-turbo/historic-testimgint.ppm", 48, 2.5},
        {"jpeg-edge/reftest/16bit-qtables.jpg", "jpeg-edge/reftest/16bit-qtables.png", 3, 0.5},
        {"jpeg-edge/reftest/blank_800x280.jpg", "jpeg-edge/reftest/blank_800x280.png", 3, 0.5},
        {"jpeg-edge/reftest/extraneous-data.jpg", "jpeg-edge/reftest/extraneous-data.png", 3, 0.5},
        {"jpeg-edge/reftest/grayscale_24x16_sampling2x2.jpg",
         "jpeg-edge/reftest/grayscale_24x16_sampling2x2.png", 3, 0.5},
        {"jpeg-edge/reftest/grayscale_large.jpg", "jpeg-edge/reftest/grayscale_large.png", 3, 0.5},
        {"jpeg-edge/reftest/grayscale_long.jpg", "jpeg-edge/reftest/grayscale_long.png", 3, 0.5},
        {"jpeg-edge/reftest/grayscale_square.jpg", "jpeg-edge/reftest/grayscale_square.png", 3, 0.5},
        {"jpeg-edge/reftest/mjpeg.jpg", "jpeg-edge/reftest/mjpeg.png", 3, 0.5},
        {"jpeg-edge/reftest/partial_progressive.jpg", "jpeg-edge/reftest/partial_progressive.png", 3, 0.5},
        {"jpeg-edge/reftest/progressive-missing-ac.jpg", "jpeg-edge/reftest/progressive-missing-ac.png", 3,
         0.5},
        {"jpeg-edge/reftest/progressive-missing-dc.jpg", "jpeg-edge/reftest/progressive-missing-dc.png", 3,
         0.5},
        {"jpeg-edge/reftest/rgb.jpg", "jpeg-edge/reftest/rgb.png", 3, 0.5},
        {"jpeg-edge/reftest/ycck.jpg", "jpeg-edge/reftest/ycck.png", 3, 0.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.picture);
        kx::cDIBSection surface;
        ASSERT_TRUE(kx::LoadPicture(kxtest::CorpusPath(c.picture), surface));
        const kxtest::Image reference = LoadReference(c.reference);
        ASSERT_EQ(surface.Width(), reference.width);
        ASSERT_EQ(surface.Height(), reference.height);
        const Difference d = Compare(FromSurface(surface), reference);
        EXPECT_LE(d.largest, c.largest);
        EXPECT_LE(d.mean, c.mean);
    }
}

}  // namespace
