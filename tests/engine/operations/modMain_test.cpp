#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <tuple>
#include <vector>

#include "TestSupport.h"
#include "modErrorReport.h"
#include "modMain.h"

using namespace kx;
using kxtest::Bgr;

namespace {

using Operations = kxtest::OperationsTest;

bool Near(Bgr a, Bgr b, int tolerance)
{
    return std::abs(a.b - b.b) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.r - b.r) <= tolerance;
}

Bgr Plain(int, int) { return {90, 120, 150}; }

}  // namespace

TEST_F(Operations, SizesFollowTheWholePercentage)
{
    const struct {
        int w0, h0;
        char method;
        int a, b;
        std::pair<int, int> expected;
    } cases[] = {
        {400, 300, 'w', 10, 0, {10, 6}},       // p = 2
        {1024, 768, 'w', 500, 0, {500, 376}},  // p = 49
        {1024, 768, 'h', 500, 0, {666, 500}},  // p = 65
        {300, 200, 'w', 640, 0, {640, 426}},   // p = 213
        {1024, 768, 'p', 33, 0, {338, 253}},   // round(337.92), round(253.44)
        {1024, 768, 'p', 100, 0, {1024, 768}},
        {1024, 768, 'f', 300, 500, {300, 225}},  // never enlarges: the height step gives 666x500, then p = 45
        {2000, 10, 'f', 300, 500, {300, 2}},     // the height step is skipped, p = 15, round(1.5) = 2
        {200, 100, 'f', 300, 500, {200, 100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w0 << "x" << c.h0 << " " << c.method << c.a);
        EXPECT_TRUE(Resize(c.method, Picture("in.jpg", c.w0, c.h0, Plain), dir / "out.jpg", c.a, c.b));
        EXPECT_EQ(kxtest::JpegSize(dir / "out.jpg"), c.expected);
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
        {"missing input", [&] { return ResizeImage(dir / "missing.bmp", out, 10, 10, 90); }, 1},
        {"output folder missing", [&] { return ResizeImage(in, dir / "no/out.jpg", 10, 10, 90); }, 2},
        {"width 0", [&] { return ResizeMaxWidth(in, out, 0, 90); }, 3},
        {"height -1", [&] { return ResizeMaxHeight(in, out, -1, 90); }, 4},
        {"fit height and width 0", [&] { return ResizeWithDimensions(in, out, 0, 0, 90); }, 4},
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
    EXPECT_EQ(ColorCodeToRGB(255), (RGBBytes{255, 0, 0}));
    EXPECT_EQ(ColorCodeToRGB(0x01FF8040), (RGBBytes{64, 128, 255}));  // the fourth byte is ignored
    EXPECT_EQ(ColorCodeToRGB(-16777216), (RGBBytes{0, 0, 0}));        // a multiple of 2^24
    EXPECT_EQ(ColorCodeToRGB(-1), (RGBBytes{0, 0, 0}));               // reported
    const Bgr inside{20, 200, 40}, blue{255, 0, 0};
    const std::string in = Picture("in.jpg", 100, 50, [&](int, int) { return inside; });
    EXPECT_TRUE(ImageAddBorder(in, dir / "framed.jpg", 255 * 65536, 10, 20, 0, 5));
    const auto image = kxtest::DecodeJpegFile(dir / "framed.jpg");
    ASSERT_EQ(std::pair(image.width, image.height), std::pair(105, 80));
    // The source starts at row 10 and column 0, the border below it at row 60, right of it at column 100.
    const std::tuple<int, int, Bgr> pixels[] = {
        {50, 4, blue}, {50, 15, inside}, {2, 55, inside}, {50, 70, blue}, {103, 30, blue}};
    for (const auto& [x, y, colour] : pixels) EXPECT_TRUE(Near(image.At(x, y), colour, 8)) << x << "," << y;
    // A negative colour is reported and drawn black.
    EXPECT_TRUE(ImageAddBorder(in, dir / "out.jpg", -1, 4, 4, 4, 4));
    EXPECT_TRUE(Near(kxtest::DecodeJpegFile(dir / "out.jpg").At(0, 0), {0, 0, 0}, 8));
    // Two borders of 20,000 overflow the Integer sum.
    EXPECT_FALSE(ImageAddBorder(in, dir / "out.jpg", 0, 20000, 20000, 0, 0));
    EXPECT_EQ(ErrorCode(), 0);
    EXPECT_EQ(reports, (std::vector<std::string>{FormatErrorReport("ColorCodeToRGB", "Overflow", 6),
                                                 FormatErrorReport("ColorCodeToRGB", "Overflow", 6),
                                                 FormatErrorReport("ImageAddBorder", "Overflow", 6)}));
}
