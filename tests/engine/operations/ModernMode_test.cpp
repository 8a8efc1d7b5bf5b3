#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "PictureLoader.h"
#include "Proportions.h"
#include "TestSupport.h"
#include "modMain.h"

using namespace kx;
using kxtest::Bgr;

namespace {

const EngineSettings kModern{.Filter = ResampleFilter::Lanczos, .TrueProportions = true};

Bgr Pattern(int x, int y) { return Bgr{uint8_t(x * 7), uint8_t(y * 5), uint8_t((x ^ y) * 3)}; }

using ModernMode = kxtest::OperationsTest;

}  // namespace

TEST(Proportions, TrueSizesRoundHalfToEvenAndNeverReachZero)
{
    const PictureSize p1000{1000, 750}, p4000{4000, 3000};
    EXPECT_EQ(ScaledToWidth(p1000, 333), (PictureSize{333, 250}));        // 249.75; whole percent gave 248
    EXPECT_EQ(FittedWithin(p4000, 1024, 768), (PictureSize{1024, 768}));  // passes gave 1024x753
    EXPECT_EQ(FittedWithin(p4000, 2000, 500), (PictureSize{667, 500}));   // 666.67
    EXPECT_EQ(FittedWithin({800, 600}, 1024, 768), (PictureSize{800, 600}));  // fits: kept
    EXPECT_EQ(FittedWithin({2000, 10}, 300, 500), (PictureSize{300, 2}));     // 1.5 -> 2
    EXPECT_EQ(ScaledToWidth({400, 300}, 10), (PictureSize{10, 8}));           // 7.5 -> 8
    EXPECT_EQ(ScaledToWidth({4, 5}, 2), (PictureSize{2, 2}));                 // 2.5 -> 2
    EXPECT_EQ(ScaledToHeight({1024, 768}, 500), (PictureSize{667, 500}));
    EXPECT_EQ(ScaledToWidth({10000, 10}, 10), (PictureSize{10, 1}));  // 0.01 -> at least 1
    EXPECT_EQ(CoveringBox(p4000, 200, 200), (PictureSize{267, 200}));
    EXPECT_EQ(CoveringBox({3000, 4000}, 300, 100), (PictureSize{300, 400}));
    EXPECT_EQ(CentreCropOffset({267, 200}, 200, 200), (PictureSize{33, 0}));
}

TEST(ShrinkOnLoad, LargestScaleThatKeepsTwiceTheTarget)
{
    const struct {
        Long w0, h0, wt, ht, denominator;
    } cases[] = {
        {4032, 3024, 640, 480, 2},  // 1/4 gives 1008 < 1280
        {4032, 3024, 320, 240, 4},  {4032, 3024, 252, 189, 8},  {4032, 3024, 253, 189, 4},
        {4000, 3000, 1000, 750, 2}, {4000, 3000, 1001, 750, 1}, {800, 600, 400, 300, 1},
        {8000, 100, 100, 10, 4},  // the height limits it: 100 / 8 rounds up to 13 < 20
        {4000, 3000, 0, 0, 1},    // no target: every pixel
        {100, 100, 200, 200, 1},  // enlarged
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShrinkOnLoadDenominator(c.w0, c.h0, {c.wt, c.ht}), c.denominator)
            << c.w0 << "x" << c.h0 << " to " << c.wt << "x" << c.ht;
}

TEST_F(ModernMode, JpegDecodesScaledOnlyWhenAsked)
{
    const std::string jpeg = Picture("in.jpg", 101, 48, Pattern);
    cDIBSection s;
    PictureMetadata metadata;
    ASSERT_TRUE(LoadPicture(jpeg, s, metadata, true, {12, 6}));
    EXPECT_EQ(std::pair(s.Width(), s.Height()), std::pair(26, 12));  // 1/4, sides rounded up
    ASSERT_TRUE(LoadPicture(jpeg, s));
    EXPECT_EQ(std::pair(s.Width(), s.Height()), std::pair(101, 48));
}

TEST_F(ModernMode, OperationsGiveTrueSizesInOnePassAndMissingInputIsNotLoaded)
{
    const std::string in = Picture("in.jpg", 160, 120, Pattern), out = dir / "out.jpg";
    const struct {
        char method;
        int a, b;
        std::pair<int, int> expected;
        EngineSettings settings = kModern;
    } cases[] = {
        {'w', 10, 0, {10, 8}},                                                      // 7.5; whole percent 7
        {'h', 50, 0, {67, 50}},  {'f', 80, 60, {80, 60}},     {'p', 1, 0, {2, 1}},  // 1.2 and 1.6
        {'F', 30, 30, {30, 30}}, {'F', 30, 30, {30, 30}, {}},  // filling is always true to the proportions
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        ErrorCode() = 0;
        ASSERT_TRUE(Resize(c.method, in, out, c.a, c.b, c.settings));
        EXPECT_EQ(kxtest::JpegSize(out), c.expected);
        EXPECT_FALSE(Resize(c.method, dir / "missing.jpg", out, c.a, c.b, c.settings));
        EXPECT_EQ(ErrorCode(), ecInputNotLoaded);
    }
    EXPECT_TRUE(reports.empty());
}

// Three bands, red, green, blue from the left: filling a square keeps the
// middle band, with either filter.
TEST_F(ModernMode, FillCropsTheMiddle)
{
    const std::string in = Picture("bands.jpg", 240, 80, [](int x, int) {
        return x < 80 ? Bgr{0, 0, 255} : x < 160 ? Bgr{0, 255, 0} : Bgr{255, 0, 0};
    });
    const std::string out = dir / "out.jpg";
    for (const EngineSettings& settings : {EngineSettings{}, kModern}) {
        ASSERT_TRUE(ResizeToFill(in, out, 40, 40, 95, settings));
        const auto image = kxtest::DecodeJpegFile(out);
        ASSERT_EQ(std::pair(image.width, image.height), std::pair(40, 40));
        for (const int x : {4, 20, 35}) {  // the band edges blur a little
            const Bgr p = image.At(x, 20);
            EXPECT_TRUE(p.g > 230 && p.r < 25 && p.b < 25)
                << x << ": " << int(p.b) << "," << int(p.g) << "," << int(p.r);
        }
    }
}

// Any number of threads resizing at once write the bytes one thread writes.
TEST_F(ModernMode, SameBytesWhateverTheNumberOfWorkers)
{
    const std::string in = Picture("in.jpg", 300, 200, Pattern);
    ASSERT_TRUE(ResizeMaxWidth(in, dir / "alone.jpg", 70, 90, kModern));
    const auto expected = kxtest::ReadFileBytes(dir / "alone.jpg");
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i)
        workers.emplace_back(
            [&, i] { ResizeMaxWidth(in, dir / ("w" + std::to_string(i) + ".jpg"), 70, 90, kModern); });
    for (auto& worker : workers) worker.join();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(kxtest::ReadFileBytes(dir / ("w" + std::to_string(i) + ".jpg")), expected);
}
