#include <gtest/gtest.h>
#include <sys/stat.h>
#include <turbojpeg.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/modErrorReport.h"
#include "engine/files/mIntelJPEGLibrary.h"
#include "engine/operations/Proportions.h"
#include "engine/operations/modMain.h"
#include "tests/support/TestSupport.h"

using namespace kx;
using kxtest::Bgr;

namespace {

const EngineSettings kModern{.Filter = ResampleFilter::Lanczos, .TrueProportions = true, .ModernJpeg = true};

class Operations : public kxtest::OperationsTest {
protected:
    // At quality 90: 'w' max width a, 'h' max height a, 'p' a percent, within 'f' or filling 'F' a x b.
    static bool Resize(char method, const std::string& in, const std::string& out, int a, int b = 0,
                       const EngineSettings& settings = {})
    {
        switch (method) {
        case 'w': return ResizeMaxWidth(in, out, a, 90, settings);
        case 'h': return ResizeMaxHeight(in, out, a, 90, settings);
        case 'f': return ResizeWithDimensions(in, out, b, a, 90, settings);
        case 'p': return PercentageResize(in, out, a, 90, settings);
        default: return ResizeToFill(in, out, b, a, 90, settings);
        }
    }
};

Bgr Plain(int, int) { return {90, 120, 150}; }
Bgr Pattern(int x, int y) { return Bgr{uint8_t(x * 7), uint8_t(y * 5), uint8_t((x ^ y) * 3)}; }

}  // namespace

TEST_F(Operations, SizesFollowTheWholePercentageOrInModernModeTheTrueProportions)
{
    const struct {
        int w0, h0;
        char method;
        int a, b;
        std::pair<int, int> expected;
        EngineSettings settings = {};
    } cases[] = {
        {400, 300, 'w', 10, 0, {10, 6}},        // p = 2
        {1024, 768, 'w', 500, 0, {500, 376}},   // p = 49
        {3000, 2000, 'w', 640, 0, {640, 420}},  // p = 21
        {1024, 768, 'h', 500, 0, {666, 500}},   // p = 65
        {640, 480, 'p', 50, 0, {320, 240}},
        {300, 200, 'w', 640, 0, {640, 426}},     // p = 213
        {1024, 768, 'f', 300, 500, {300, 225}},  // never enlarges: the height step gives 666x500, then p = 45
        {2000, 10, 'f', 300, 500, {300, 2}},     // the height step is skipped, p = 15, round(1.5) = 2
        {200, 100, 'f', 300, 500, {200, 100}},
        // In one pass: 7.5 (whole percent gave 7), 66.7, 1.2 and 1.6; filling is always true to them.
        {160, 120, 'w', 10, 0, {10, 8}, kModern},
        {160, 120, 'h', 50, 0, {67, 50}, kModern},
        {160, 120, 'f', 80, 60, {80, 60}, kModern},
        {160, 120, 'p', 1, 0, {2, 1}, kModern},
        {160, 120, 'F', 30, 30, {30, 30}, kModern},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w0 << "x" << c.h0 << " " << c.method << c.a);
        EXPECT_TRUE(
            Resize(c.method, Picture("in.jpg", c.w0, c.h0, Plain), dir / "out.jpg", c.a, c.b, c.settings));
        EXPECT_EQ(kxtest::DecodeJpegFile(dir / "out.jpg").Size(), c.expected);
        if (c.settings.TrueProportions) {  // where the classic mode divides by the missing size 0
            ErrorCode() = 0;
            EXPECT_FALSE(Resize(c.method, dir / "missing.jpg", dir / "out.jpg", c.a, c.b, c.settings));
            EXPECT_EQ(ErrorCode(), ecInputNotLoaded);
        }
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(Operations, ExpectedFailuresSetTheirCodesSilentlyAndWriteNothing)
{
    const std::string in = Picture("in.jpg", 40, 30, Plain), out = dir / "out.jpg";
    const std::string thin = Picture("thin.jpg", 1, 30, Plain);
    // 10,000 wide to width 10: p = round(0.1) = 0, so the height is 0.
    const std::string wide = Picture("wide.jpg", 10000, 8, Plain);
    const struct {
        const char* what;
        std::function<bool()> call;
        Long code;
    } cases[] = {
        {"height -1", [&] { return ResizeMaxHeight(in, out, -1, 90); }, 4},
        {"fit width 0", [&] { return ResizeWithDimensions(in, out, 10, 0, 90); }, 3},
        {"percentage 0", [&] { return PercentageResize(in, out, 0, 90); }, 5},
        {"border missing input", [&] { return ImageAddBorder(dir / "missing.bmp", out, 0, 1, 1, 1, 1); }, 1},
        {"quality 0", [&] { return ResizeImage(in, out, 10, 10, 0); }, 2},
        {"quality 101", [&] { return ResizeImage(in, out, 10, 10, 101); }, 2},
        {"1 pixel wide", [&] { return ResizeImage(thin, out, 10, 10, 90); }, 7},
        {"empty surface", [&] { return ResizeMaxWidth(wide, out, 10, 90); }, 2},
    };
    for (const auto& c : cases) {
        ErrorCode() = 0;
        EXPECT_FALSE(c.call()) << c.what;
        EXPECT_EQ(ErrorCode(), c.code) << c.what;
        EXPECT_FALSE(std::filesystem::exists(out)) << c.what;
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(Operations, BorderColoursAndPlaces)
{
    EXPECT_EQ(ColorCodeToRGB(0x01FF8040), (RGBBytes{64, 128, 255}));  // the fourth byte is ignored
    EXPECT_EQ(ColorCodeToRGB(-16777216), (RGBBytes{0, 0, 0}));        // a multiple of 2^24
    const Bgr inside{20, 200, 40}, blue{255, 0, 0};
    const std::string in = Picture("in.jpg", 100, 50, [&](int, int) { return inside; });
    EXPECT_TRUE(ImageAddBorder(in, dir / "framed.jpg", 255 * 65536, 10, 20, 0, 5));
    const auto image = kxtest::DecodeJpegFile(dir / "framed.jpg");
    ASSERT_EQ(image.Size(), std::pair(105, 80));
    // The source starts at row 10 and column 0, the border below it at row 60, right of it at column 100.
    const std::tuple<int, int, Bgr> pixels[] = {
        {50, 4, blue}, {50, 15, inside}, {2, 55, inside}, {50, 70, blue}, {103, 30, blue}};
    for (const auto& [x, y, colour] : pixels)
        EXPECT_LE(kxtest::Difference(image.At(x, y), colour), 8) << x << "," << y;
    // A negative colour is reported and drawn black.
    EXPECT_TRUE(ImageAddBorder(in, dir / "out.jpg", -1, 4, 4, 4, 4));
    EXPECT_LE(kxtest::Difference(kxtest::DecodeJpegFile(dir / "out.jpg").At(0, 0), {0, 0, 0}), 8);
    // Two borders of 20,000 overflowing their sum is the command-line tests' report.
    EXPECT_EQ(reports, (std::vector<std::string>(1, FormatErrorReport("ColorCodeToRGB", "Overflow", 6))));
}

TEST(Proportions, TrueSizesRoundHalfToEvenAndNeverReachZero)
{
    const PictureSize p1000{1000, 750}, p4000{4000, 3000};
    EXPECT_EQ(ScaledToWidth(p1000, 333), (PictureSize{333, 250}));        // 249.75; whole percent gave 248
    EXPECT_EQ(FittedWithin(p4000, 1024, 768), (PictureSize{1024, 768}));  // passes gave 1024x753
    EXPECT_EQ(FittedWithin(p4000, 2000, 500), (PictureSize{667, 500}));   // 666.67
    EXPECT_EQ(FittedWithin({800, 600}, 1024, 768), (PictureSize{800, 600}));  // fits: kept
    EXPECT_EQ(FittedWithin({2000, 10}, 300, 500), (PictureSize{300, 2}));     // 1.5 -> 2
    EXPECT_EQ(ScaledToWidth({4, 5}, 2), (PictureSize{2, 2}));                 // 2.5 -> 2
    EXPECT_EQ(ScaledToWidth({10000, 10}, 10), (PictureSize{10, 1}));          // 0.01 -> at least 1
    EXPECT_EQ(CoveringBox({3000, 4000}, 300, 100), (PictureSize{300, 400}));
}

TEST(ShrinkOnLoad, LargestScaleThatKeepsTwiceTheTarget)
{
    const struct {
        Long w0, h0, wt, ht, denominator;
    } cases[] = {
        {4032, 3024, 252, 189, 8},  {4032, 3024, 253, 189, 4},  // 1/8 gives 504 >= 504
        {4000, 3000, 1000, 750, 2}, {4000, 3000, 1001, 750, 1},
        {8000, 100, 100, 10, 4},  // the height limits it: 100 / 8 rounds up to 13 < 20
        {4000, 3000, 0, 0, 1},    // no target: every pixel
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShrinkOnLoadDenominator(c.w0, c.h0, {c.wt, c.ht}), c.denominator)
            << c.w0 << "x" << c.h0 << " to " << c.wt << "x" << c.ht;
}

// Three bands, red, green, blue from the left: filling a square keeps the middle one, with either filter.
TEST_F(Operations, FillCropsTheMiddleWithEitherFilter)
{
    const std::string in = Picture("bands.jpg", 240, 80, [](int x, int) {
        return x < 80 ? Bgr{0, 0, 255} : x < 160 ? Bgr{0, 255, 0} : Bgr{255, 0, 0};
    });
    for (const EngineSettings& settings : {EngineSettings{}, kModern}) {
        ASSERT_TRUE(ResizeToFill(in, dir / "out.jpg", 40, 40, 95, settings));
        const auto image = kxtest::DecodeJpegFile(dir / "out.jpg");
        ASSERT_EQ(image.Size(), std::pair(40, 40));
        for (const int x : {4, 20, 35})
            EXPECT_LE(kxtest::Difference(image.At(x, 20), {0, 255, 0}), 24) << x;  // edges blur
    }
}

// The modern coding keeps every chroma sample from quality 90 and optimises the tables (a smaller
// file than the standard tables' of the same picture); the classic one writes 4:2:0 at every quality.
TEST_F(Operations, ModernJpegKeepsChromaFromQuality90)
{
    const std::string in = Picture("in.jpg", 300, 200, Pattern);
    EngineSettings standardTables = kModern;
    standardTables.ModernJpeg = false;
    const std::tuple<Long, EngineSettings, int> cases[] = {{100, kModern, TJSAMP_444},
                                                           {90, kModern, TJSAMP_444},
                                                           {89, kModern, TJSAMP_420},
                                                           {89, standardTables, TJSAMP_420},
                                                           {100, EngineSettings{}, TJSAMP_420}};
    std::vector<size_t> sizes;
    for (const auto& [quality, settings, sampling] : cases) {
        ASSERT_TRUE(ResizeMaxWidth(in, dir / "out.jpg", 70, quality, settings));
        const auto bytes = kxtest::ReadFileBytes(dir / "out.jpg");
        int width = 0, height = 0, subsampling = -1, colours = 0;
        const std::unique_ptr<void, int (*)(void*)> decoder(tjInitDecompress(), tjDestroy);
        tjDecompressHeader3(decoder.get(), bytes.data(), bytes.size(), &width, &height, &subsampling,
                            &colours);
        EXPECT_EQ(subsampling, sampling) << quality;
        sizes.push_back(bytes.size());
    }
    EXPECT_LT(sizes[2], sizes[3]);
}

// Any number of threads resizing at once write the bytes one thread writes.
TEST_F(Operations, ModernModeWritesTheSameBytesWhateverTheNumberOfWorkers)
{
    const std::string in = Picture("in.jpg", 300, 200, Pattern);
    ASSERT_TRUE(ResizeMaxWidth(in, dir / "alone.jpg", 70, 90, kModern));
    const auto expected = kxtest::ReadFileBytes(dir / "alone.jpg");
    const char* names[] = {"w0.jpg", "w1.jpg", "w2.jpg", "w3.jpg"};
    std::vector<std::thread> workers;
    for (const char* name : names)
        workers.emplace_back([&, name] { ResizeMaxWidth(in, dir / name, 70, 90, kModern); });
    for (auto& worker : workers) worker.join();
    for (const char* name : names) EXPECT_EQ(kxtest::ReadFileBytes(dir / name), expected) << name;
}

// The classic fit reads each pass back from its output; a pipe cannot be read back, so its
// passes go to a temporary file and the pipe gets only the last pass: the file's bytes.
TEST_F(Operations, ClassicFitIntoAPipeWritesWhatItWritesIntoAFile)
{
    const std::string in = Picture("in.jpg", 1024, 768, Pattern), fifo = dir / "pipe.jpg";
    ASSERT_TRUE(ResizeWithDimensions(in, dir / "file.jpg", 500, 300, 90));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::setenv("TMPDIR", dir.Path().c_str(), 1);
    std::vector<uint8_t> piped;
    std::thread reader([&] { piped = kxtest::ReadFileBytes(fifo); });
    EXPECT_TRUE(ResizeWithDimensions(in, fifo, 500, 300, 90));
    reader.join();
    ::unsetenv("TMPDIR");
    EXPECT_EQ(piped, kxtest::ReadFileBytes(dir / "file.jpg"));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"file.jpg", "in.jpg", "pipe.jpg"}));  // no pass left
}
