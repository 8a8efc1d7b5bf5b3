// Every file of the shared corpora through the loader, as a user's folder
// would reach it (see docs/corpus.md); with KX_CORPUS_ACCOUNTING=<file> the
// accounting of every file (loaded, or refused and why) as a Markdown table.
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

// One second is generous for these small files; the sanitizers (no counting
// malloc there) slow the decoders down several times.
constexpr double kSecondsPerFile = KX_COUNTING_MALLOC ? 1.0 : 5.0;

// The picture size a file's own header states, read here independently of
// the decoders (the engine's probe keeps older readers' quirks): BMP core and
// info headers, the PNG IHDR, the GIF logical screen and the first JPEG frame
// header of any coding. 0 x 0 when the header does not say.
using Size = std::pair<int, int>;  // width, height
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

    std::ofstream accounting;
    if (const char* table = std::getenv("KX_CORPUS_ACCOUNTING")) {
        accounting.open(table);
        accounting << "| file | result | reason |\n| --- | --- | --- |\n";
    }
    for (const std::string& relative : files) {
        SCOPED_TRACE(relative);
        const std::string path = kxtest::CorpusPath(relative);
        const Expectation expected = Expected(relative);
        const auto bytes = kxtest::ReadFileBytes(path);

        kx::cDIBSection surface;
#if KX_COUNTING_MALLOC
        const int64_t before = kxtest::LiveBytes();
        kxtest::ResetPeak();
#endif
        const auto start = std::chrono::steady_clock::now();
        const bool loaded = kx::LoadPicture(path, surface);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took.count(), kSecondsPerFile);

        if (expected.outcome != Expect::Either) {
            EXPECT_EQ(loaded, expected.outcome == Expect::Load);
        }
        if (loaded) {
            // The probe calls every loaded file a picture of the loaded size,
            // which is the header's, turned upright.
            const kx::ImageInfo probed = kx::GetImageInfo(path);
            const Size size{surface.Width(), surface.Height()};
            EXPECT_NE(probed.ImageType, kx::ImageTypeNone);
            EXPECT_EQ(Size(probed.Width, probed.Height), size);
            Size header = HeaderSize(bytes);
            if (probed.Orientation >= 5) std::swap(header.first, header.second);
            EXPECT_EQ(header, size);
        } else {
            EXPECT_FALSE(surface.IsLive());
        }
#if KX_COUNTING_MALLOC
        // The surface, the file's bytes, a temporary copy of the pixels with
        // alpha (4 bytes a pixel) and the libraries' working state.
        const int64_t surfaceBytes = int64_t{surface.BytesPerScanLine()} * surface.Height();
        EXPECT_LE(kxtest::PeakBytes() - before,
                  int64_t(bytes.size()) + surfaceBytes * 3 + (int64_t{4} << 20));
#endif
        if (accounting.is_open())
            accounting << "| " << relative << " | "
                       << (loaded ? "loaded " + std::to_string(surface.Width()) + "x" +
                                        std::to_string(surface.Height())
                                  : "refused")
                       << " | " << (loaded && expected.outcome == Expect::Either ? "" : expected.why)
                       << " |\n";
    }
}

struct Picture {
    int width = 0, height = 0;
    std::vector<kxtest::Bgr> pixels;  // top row first
};

// A reference rendering: a binary 8-bit PPM, or a picture the engine loads.
Picture LoadReference(const std::string& relative)
{
    const std::string path = kxtest::CorpusPath(relative);
    Picture p;
    kx::cDIBSection surface;
    if (!relative.ends_with(".ppm")) {
        if (kx::LoadPicture(path, surface))
            p = {surface.Width(), surface.Height(), kxtest::AllPixels(surface)};
        return p;
    }
    const auto bytes = kxtest::ReadFileBytes(path);
    const std::string text(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 64));
    int maxValue = 0, consumed = 0;
    if (std::sscanf(text.c_str(), "P6 %d %d %d%n", &p.width, &p.height, &maxValue, &consumed) != 3 ||
        maxValue != 255)
        return {};
    for (size_t at = consumed + 1; at + 2 < bytes.size() && p.pixels.size() < size_t(p.width) * p.height;
         at += 3)
        p.pixels.push_back({bytes[at + 2], bytes[at + 1], bytes[at]});
    return p;
}

// Decoders round the inverse DCT and the chroma upsampling apart: a reference
// decode may differ by 3 levels in a channel and half a level on average.
TEST(Corpus, JpegsMatchTheReferenceRenderingsTheirSetsShip)
{
    KX_SKIP_WITHOUT_CORPORA();
    struct Case {
        std::string picture, reference;
        int largest;
        double mean;
    };
    std::vector<Case> cases{
        {"libjpeg-turbo/testorig.jpg", "libjpeg-turbo/testorig.ppm", 3, 0.5},
        // These two references are the picture before lossy coding.
        {"libjpeg-turbo/testimgari.jpg", "libjpeg-turbo/historic-testimgari.ppm", 48, 2.5},
        {"libjpeg-turbo/testimgint.jpg", "libjpeg-turbo/historic-testimgint.ppm", 48, 2.5},
    };
    for (const std::string name :
         {"16bit-qtables", "blank_800x280", "extraneous-data", "grayscale_24x16_sampling2x2",
          "grayscale_large", "grayscale_long", "grayscale_square", "mjpeg", "partial_progressive",
          "progressive-missing-ac", "progressive-missing-dc", "rgb", "ycck"})
        cases.push_back({"jpeg-edge/reftest/" + name + ".jpg", "jpeg-edge/reftest/" + name + ".png", 3, 0.5});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.picture);
        kx::cDIBSection surface;
        ASSERT_TRUE(kx::LoadPicture(kxtest::CorpusPath(c.picture), surface));
        const Picture reference = LoadReference(c.reference);
        ASSERT_EQ(surface.Width(), reference.width);
        ASSERT_EQ(surface.Height(), reference.height);
        const std::vector<kxtest::Bgr> pixels = kxtest::AllPixels(surface);
        ASSERT_EQ(reference.pixels.size(), pixels.size());
        int largest = 0;
        double sum = 0;
        for (size_t i = 0; i < pixels.size(); ++i) {
            const kxtest::Bgr p = pixels[i], q = reference.pixels[i];
            for (int delta : {p.b - q.b, p.g - q.g, p.r - q.r}) {
                largest = std::max(largest, std::abs(delta));
                sum += std::abs(delta);
            }
        }
        EXPECT_LE(largest, c.largest);
        EXPECT_LE(sum / (3.0 * double(pixels.size())), c.mean);
    }
}

}  // namespace
