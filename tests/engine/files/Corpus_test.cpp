// Every file of the shared corpora through the loader, as a user's folder
// would reach it (see docs/corpus.md), the texts among them included.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/modImageInfo.h"
#include "engine/files/PictureLoader.h"
#include "tests/support/CountingMalloc.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

enum class Expect { Load, Refuse, Either };

// What the loader should do with a corpus file, by folder and name.
Expect Expected(const std::string& relative)
{
    const fs::path path(relative);
    const std::string name = path.filename(), ext = path.extension();
    // Huffman 1D, embedded JPEG and PNG, 24-bit RLE and 64 bits a pixel are not decoded.
    static const std::set<std::string> kUnsupportedBmp{"pal1huffmsb.bmp", "rgb24jpeg.bmp", "rgb24png.bmp",
                                                       "rgb24rle24.bmp", "rgba64.bmp"};
    if (ext != ".bmp" && ext != ".gif" && ext != ".png" && ext != ".jpg") return Expect::Refuse;  // or a text
    if (relative.starts_with("bmpsuite/q/"))
        return kUnsupportedBmp.contains(name) ? Expect::Refuse : Expect::Either;
    if (relative.starts_with("pngsuite/") && name.starts_with("x")) return Expect::Refuse;   // corrupt
    if (name == "monkey12.jpg" || name == "historic-testorig12.jpg") return Expect::Refuse;  // 12-bit samples
    if (relative.starts_with("jpeg-edge/reftest/lossless/") && ext == ".jpg") return Expect::Refuse;  // SOF3
    return Expect::Load;
}

// Generous for these small files; the sanitizers (no counting malloc there) slow decoders down.
constexpr double kSecondsPerFile = KX_COUNTING_MALLOC ? 1.0 : 5.0;

TEST(Corpus, EveryFileLoadsOrIsRefusedCleanlyInTimeAndMemory)
{
    KX_SKIP_WITHOUT_CORPORA();
    const fs::path root = kxtest::CorpusPath("");
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), root).string());
    ASSERT_GT(files.size(), 350u);  // the corpora are there

    for (const std::string& relative : files) {
        SCOPED_TRACE(relative);
        const std::string path = kxtest::CorpusPath(relative);
        const Expect expected = Expected(relative);
        kx::cDIBSection surface;
#if KX_COUNTING_MALLOC
        const int64_t fileBytes = int64_t(fs::file_size(path)), before = kxtest::LiveBytes();
        kxtest::ResetPeak();
#endif
        const auto start = std::chrono::steady_clock::now();
        const bool loaded = kx::LoadPicture(path, surface);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took.count(), kSecondsPerFile);
        if (expected != Expect::Either) {
            EXPECT_EQ(loaded, expected == Expect::Load);
        }
        if (loaded) {
            // The probe reads the headers apart from the decoders, and agrees.
            const kx::ImageInfo probed = kx::GetImageInfo(path);
            EXPECT_EQ(std::pair(probed.Width, probed.Height), std::pair(surface.Width(), surface.Height()));
        } else {
            EXPECT_FALSE(surface.IsLive());
        }
#if KX_COUNTING_MALLOC
        // The surface, the file's bytes, a temporary copy of the pixels with
        // alpha (4 bytes a pixel) and the libraries' working state.
        const int64_t surfaceBytes = int64_t{surface.BytesPerScanLine()} * surface.Height();
        EXPECT_LE(kxtest::PeakBytes() - before, fileBytes + surfaceBytes * 3 + (int64_t{4} << 20));
#endif
    }
}

// Against the renderings their sets ship: 10-bit BMP channels (within 1), JPEGs whose YCCK inversion
// and damaged-file handling are ours (decoders round apart: 3 levels, half a level on average).
TEST(Corpus, PicturesMatchTheReferenceRenderingsTheirSetsShip)
{
    KX_SKIP_WITHOUT_CORPORA();
    const std::string j = "jpeg-edge/reftest/";
    const struct {
        std::string picture, reference;
        int largest;
        double mean;
    } cases[]{
        {"bmpsuite/q/rgb32-111110.bmp", "bmpsuite/g/rgb24.bmp", 1, 1},
        {j + "ycck.jpg", j + "ycck.png", 3, 0.5},
        {j + "partial_progressive.jpg", j + "partial_progressive.png", 3, 0.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.picture);
        kx::cDIBSection surface, reference;
        ASSERT_TRUE(kx::LoadPicture(kxtest::CorpusPath(c.picture), surface));
        ASSERT_TRUE(kx::LoadPicture(kxtest::CorpusPath(c.reference), reference));
        const std::vector<kxtest::Bgr> pixels = kxtest::AllPixels(surface),
                                       expected = kxtest::AllPixels(reference);
        ASSERT_EQ(surface.Width(), reference.Width());
        ASSERT_EQ(pixels.size(), expected.size());
        int largest = 0;
        double sum = 0;
        for (size_t i = 0; i < pixels.size(); ++i)
            for (int delta :
                 {pixels[i].b - expected[i].b, pixels[i].g - expected[i].g, pixels[i].r - expected[i].r}) {
                largest = std::max(largest, std::abs(delta));
                sum += std::abs(delta);
            }
        EXPECT_LE(largest, c.largest);
        EXPECT_LE(sum / (3.0 * double(pixels.size())), c.mean);
    }
}

}  // namespace
