#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"
#include "mIntelJPEGLibrary.h"
#include "modErrorReport.h"
#include "modMain.h"

using namespace kx;
using kxtest::Bgr;
using kxtest::TempDir;

namespace {

// Records every error report instead of showing it.
class Operations : public testing::Test {
protected:
    void SetUp() override
    {
        SetReportHandler([this](const std::string& text) { reports.push_back(text); });
        ErrorCode() = 0;
    }
    void TearDown() override { SetReportHandler(nullptr); }

    // A one-colour JPEG of the given size in the temporary folder.
    std::string Picture(const std::string& name, Long width, Long height, Bgr colour = {90, 120, 150})
    {
        cDIBSection s;
        EXPECT_TRUE(s.Create(width, height));
        kxtest::FillPicture(s, [colour](int, int) { return colour; });
        const std::string path = dir / name;
        EXPECT_TRUE(SaveSurfaceAsJpeg(s, path, 95));
        return path;
    }

    std::pair<int, int> SizeOf(const std::string& path)
    {
        const auto image = kxtest::DecodeJpegFile(path);
        return {image.width, image.height};
    }

    TempDir dir;
    std::vector<std::string> reports;
};

std::string Report(const std::string& procedure, const std::string& description, int number)
{
    return FormatErrorReport(procedure, description, number);
}

bool Near(Bgr a, Bgr b, int tolerance)
{
    return std::abs(a.b - b.b) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.r - b.r) <= tolerance;
}

}  // namespace

TEST_F(Operations, ScaleToWidthOrHeightFollowsTheWholePercentage)
{
    struct Case {
        Long w0, h0;
        bool byWidth;
        Long argument;
        std::pair<int, int> expected;
    };
    const Case cases[] = {
        {400, 300, true, 10, {10, 6}},        // p = round(2.5) = 2
        {1024, 768, true, 500, {500, 376}},   // p = round(48.828125) = 49
        {1024, 768, false, 500, {666, 500}},  // p = round(65.104...) = 65
        {300, 200, true, 640, {640, 426}},    // enlarged: p = round(213.33) = 213
    };
    for (const Case& c : cases) {
        const std::string in = Picture("in.jpg", c.w0, c.h0);
        const std::string out = dir / "out.jpg";
        const bool ok =
            c.byWidth ? ResizeMaxWidth(in, out, c.argument, 90) : ResizeMaxHeight(in, out, c.argument, 90);
        EXPECT_TRUE(ok);
        EXPECT_EQ(SizeOf(out), c.expected) << c.w0 << "x" << c.h0 << " to " << c.argument;
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(Operations, PercentageOfTheHeaderSize)
{
    const std::string in = Picture("in.jpg", 1024, 768);
    EXPECT_TRUE(PercentageResize(in, dir / "33.jpg", 33, 90));
    EXPECT_EQ(SizeOf(dir / "33.jpg"), std::make_pair(338, 253));  // round(337.92), round(253.44)
    EXPECT_TRUE(PercentageResize(in, dir / "100.jpg", 100, 90));
    EXPECT_EQ(SizeOf(dir / "100.jpg"), std::make_pair(1024, 768));
}

TEST_F(Operations, FitWithinNeverEnlarges)
{
    struct Case {
        Long w0, h0, height, width;
        std::pair<int, int> expected;
    };
    const Case cases[] = {
        {1024, 768, 500, 300, {300, 225}},  // height step 666x500, then p = 45
        {2000, 10, 500, 300, {300, 2}},     // height step skipped, p = 15, round(1.5) = 2
        {200, 100, 500, 300, {200, 100}},   // already fits: copied at its own size
    };
    for (const Case& c : cases) {
        const std::string in = Picture("in.jpg", c.w0, c.h0);
        EXPECT_TRUE(ResizeWithDimensions(in, dir / "fit.jpg", c.height, c.width, 90));
        EXPECT_EQ(SizeOf(dir / "fit.jpg"), c.expected) << c.w0 << "x" << c.h0;
    }
}

TEST_F(Operations, ExpectedFailuresSetTheirCodesSilently)
{
    const std::string in = Picture("in.jpg", 40, 30);
    const std::string out = dir / "out.jpg";
    struct Case {
        const char* what;
        std::function<bool()> call;
        Long code;
    };
    const Case cases[] = {
        {"missing input", [&] { return ResizeImage(dir / "missing.bmp", out, 10, 10, 90); }, 1},
        {"output folder missing", [&] { return ResizeImage(in, dir / "no/out.jpg", 10, 10, 90); }, 2},
        {"width 0", [&] { return ResizeMaxWidth(in, out, 0, 90); }, 3},
        {"height -1", [&] { return ResizeMaxHeight(in, out, -1, 90); }, 4},
        {"fit height and width 0", [&] { return ResizeWithDimensions(in, out, 0, 0, 90); }, 4},
        {"fit width 0", [&] { return ResizeWithDimensions(in, out, 10, 0, 90); }, 3},
        {"percentage 0", [&] { return PercentageResize(in, out, 0, 90); }, 5},
        {"border missing input", [&] { return ImageAddBorder(dir / "missing.bmp", out, 0, 1, 1, 1, 1); }, 1},
        {"quality 0", [&] { return ResizeImage(in, out, 10, 10, 0); }, 2},
    };
    for (const Case& c : cases) {
        ErrorCode() = 0;
        EXPECT_FALSE(c.call()) << c.what;
        EXPECT_EQ(ErrorCode(), c.code) << c.what;
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(Operations, OnePixelWideSourceFailsTheResampleStep)
{
    const std::string in = Picture("thin.jpg", 1, 30);
    EXPECT_FALSE(ResizeImage(in, dir / "out.jpg", 10, 10, 90));
    EXPECT_EQ(ErrorCode(), 7);
}

TEST_F(Operations, TinyPercentageGivesAnEmptySurfaceThatCannotBeSaved)
{
    // 10,000 wide to width 10: p = round(0.1) = 0, so the height is 0.
    const std::string in = Picture("wide.jpg", 10000, 8);
    EXPECT_FALSE(ResizeMaxWidth(in, dir / "out.jpg", 10, 90));
    EXPECT_EQ(ErrorCode(), 2);
    EXPECT_FALSE(kxtest::DecodeJpegFile(dir / "out.jpg").width);
}

TEST_F(Operations, MissingInputToScaleToHeightIsAReportedDivisionByZero)
{
    EXPECT_FALSE(ResizeMaxHeight(dir / "missing.bmp", dir / "out.jpg", 100, 90));
    EXPECT_EQ(ErrorCode(), 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], Report("ResizeMaxHeight", "Division by zero", 11));
}

TEST_F(Operations, BorderPlacesTheSourceAndFillsTheRest)
{
    const Bgr inside{20, 200, 40};
    const std::string in = Picture("in.jpg", 100, 50, inside);
    const Long blue = 255 * 65536;  // 0x00BBGGRR
    EXPECT_TRUE(ImageAddBorder(in, dir / "framed.jpg", blue, 10, 20, 0, 5));
    const auto image = kxtest::DecodeJpegFile(dir / "framed.jpg");
    ASSERT_EQ(image.width, 105);
    ASSERT_EQ(image.height, 80);
    const Bgr border{255, 0, 0};
    EXPECT_TRUE(Near(image.At(50, 4), border, 8));    // above the source
    EXPECT_TRUE(Near(image.At(50, 15), inside, 8));   // the source starts at row 10
    EXPECT_TRUE(Near(image.At(2, 55), inside, 8));    // and at column 0
    EXPECT_TRUE(Near(image.At(50, 70), border, 8));   // below it, from row 60
    EXPECT_TRUE(Near(image.At(103, 30), border, 8));  // right of it, from column 100
}

TEST_F(Operations, BorderSumsBeyondAnIntegerAreAReportedOverflow)
{
    const std::string in = Picture("in.jpg", 10, 10);
    EXPECT_FALSE(ImageAddBorder(in, dir / "out.jpg", 0, 20000, 20000, 0, 0));
    EXPECT_EQ(ErrorCode(), 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], Report("ImageAddBorder", "Overflow", 6));
}

TEST_F(Operations, ColourCodesSplitIntoRedGreenBlue)
{
    EXPECT_EQ(ColorCodeToRGB(255), (RGBBytes{255, 0, 0}));
    EXPECT_EQ(ColorCodeToRGB(255 * 65536), (RGBBytes{0, 0, 255}));
    EXPECT_EQ(ColorCodeToRGB(0x01FF8040), (RGBBytes{64, 128, 255}));  // the fourth byte is ignored
    EXPECT_EQ(ColorCodeToRGB(-16777216), (RGBBytes{0, 0, 0}));        // a multiple of 2^24
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(ColorCodeToRGB(-1), (RGBBytes{0, 0, 0}));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], Report("ColorCodeToRGB", "Overflow", 6));
}

TEST_F(Operations, NegativeBorderColourIsReportedAndDrawnBlack)
{
    const std::string in = Picture("in.jpg", 10, 10, {200, 200, 200});
    EXPECT_TRUE(ImageAddBorder(in, dir / "out.jpg", -1, 4, 4, 4, 4));
    EXPECT_EQ(reports.size(), 1u);
    const auto image = kxtest::DecodeJpegFile(dir / "out.jpg");
    ASSERT_EQ(image.width, 18);
    EXPECT_TRUE(Near(image.At(0, 0), {0, 0, 0}, 8));
}

TEST_F(Operations, TextAtBottomRightChangesOnlyThatCorner)
{
    const Bgr grey{128, 128, 128};
    const std::string in = Picture("in.jpg", 200, 100, grey);
    StdFont font;
    font.Size = 12;
    EXPECT_TRUE(ImageAddTextUsingSpecifiedPosition(in, dir / "out.jpg", "Hello", font, 0, BottomRight));
    const auto image = kxtest::DecodeJpegFile(dir / "out.jpg");
    ASSERT_EQ(image.width, 200);
    int darkLeft = 200, darkTop = 100;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x)
            if (image.At(x, y).g < 60) {
                darkLeft = std::min(darkLeft, x);
                darkTop = std::min(darkTop, y);
            }
    EXPECT_GT(darkLeft, 100);  // "Hello" at 12 points is far narrower than half the picture
    EXPECT_GT(darkTop, 60);
    EXPECT_LT(darkTop, 100);
}
