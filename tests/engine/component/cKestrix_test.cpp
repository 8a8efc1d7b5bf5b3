// The engine as a client program sees it: through kestrix.h and the shared
// library only.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "kestrix.h"

namespace {

void Record(const char* text, void* user) { static_cast<std::vector<std::string>*>(user)->push_back(text); }

class Component : public testing::Test {
protected:
    void SetUp() override
    {
        engine = cKestrix_Create();
        ASSERT_NE(engine, nullptr);
        Kestrix_SetReportHandler(Record, &reports);
        kxtest::EncodeJpegFile(in, {200, 100, std::vector<uint8_t>(200 * 100 * 3, 0)}, 95, 0);
    }
    void TearDown() override
    {
        Kestrix_SetReportHandler(nullptr, nullptr);
        cKestrix_Release(engine);
    }

    kxtest::TempDir dir;
    cKestrix* engine = nullptr;
    std::vector<std::string> reports;
    const std::string in = dir / "in.jpg", out = dir / "out.jpg";
};

}  // namespace

// Each method's result, the calling thread's code and reason, and no output
// after a failure; a NULL object is a fresh object with the default settings.
TEST_F(Component, ResultCodeAndReasonOfEachCall)
{
    const std::string huge = dir / "huge.bmp", missing = dir / "missing.bmp";
    // The headers of a 24-bit BMP of 70000 x 1 pixels (0x11170 wide).
    std::vector<uint8_t> bmp(54, 0);
    bmp[0] = 'B', bmp[1] = 'M', bmp[10] = 54, bmp[14] = 40, bmp[18] = 0x70, bmp[19] = 0x11, bmp[20] = 1;
    bmp[22] = 1, bmp[26] = 1, bmp[28] = 24;
    kxtest::WriteFileBytes(huge, bmp);
    const char *i = in.c_str(), *o = out.c_str();
    struct Case {
        std::function<KestrixBool()> call;
        int32_t code;
        std::string reason;
    };
    const Case cases[] = {
        {[&] { return cKestrix_ImageResizeMaxWidth(engine, i, o, 0, 90); }, KESTRIX_BAD_WIDTH,
         "the width must be 1 or more"},
        {[&] { return cKestrix_ImagePercentageResize(engine, i, o, 50, 90); }, KESTRIX_OK, ""},
        {[&] { return cKestrix_ImageResizeWithinDimensions(engine, i, o, 0, 0, 90); }, KESTRIX_BAD_HEIGHT,
         "the height must be 1 or more"},
        {[&] { return cKestrix_ImageResize(engine, huge.c_str(), o, 4, 4, 90); }, KESTRIX_INPUT_NOT_LOADED,
         "the picture is 70000 x 1 pixels; the engine takes at most 65535 pixels a side and 2147483647 bytes "
         "of pixels"},
        {[&] { return cKestrix_ImageResize(engine, dir.Path().c_str(), o, 4, 4, 90); },
         KESTRIX_INPUT_NOT_LOADED, "a folder, not a picture"},
        {[&] { return cKestrix_ImageResize(engine, nullptr, nullptr, 10, 10, 90); }, KESTRIX_INPUT_NOT_LOADED,
         "no such file or folder"},
        {[&] { return cKestrix_ImageResize(engine, i, nullptr, 10, 10, 90); }, KESTRIX_OUTPUT_NOT_WRITTEN,
         "the output folder does not exist"},
        {[&] { return cKestrix_AddTextToImage(engine, i, o, "Hi", nullptr, 0, 10, 10); }, KESTRIX_OK, ""},
        {[&] { return cKestrix_ImageResizeMaxWidth(nullptr, i, o, 0, 90); }, KESTRIX_BAD_WIDTH,
         "the width must be 1 or more"},
        // The probe gives a missing file the size 0: scaling to a height divides by it.
        {[&] { return cKestrix_ImageResizeMaxHeight(engine, missing.c_str(), o, 100, 90); },
         KESTRIX_UNEXPECTED_ERROR, "an unexpected error (reported)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        std::remove(o);
        EXPECT_EQ(c.call(), c.code == KESTRIX_OK ? KESTRIX_TRUE : KESTRIX_FALSE);
        EXPECT_EQ(cKestrix_ErrorCode(engine), c.code);
        EXPECT_EQ(cKestrix_ErrorCode(nullptr), c.code);
        EXPECT_EQ(Kestrix_LastErrorText(), c.reason);
        EXPECT_EQ(std::filesystem::exists(out), c.code == KESTRIX_OK);
    }
    EXPECT_EQ(cKestrix_ImageResizeMaxWidth(nullptr, i, o, 50, KESTRIX_DEFAULT_QUALITY), KESTRIX_TRUE);
    EXPECT_EQ(kxtest::DecodeJpegFile(out).height, 25);
    EXPECT_EQ(cKestrix_AddBorderToExistingImage(engine, i, o, 0xFF, 5, 6, 7, 8), KESTRIX_TRUE);
    const kxtest::Image framed = kxtest::DecodeJpegFile(out);  // top, bottom, left, right
    EXPECT_EQ(std::pair(framed.width, framed.height), std::pair(215, 111));
    EXPECT_EQ(reports,
              std::vector<std::string>{"Error in : ResizeMaxHeight\r\nError Number : 11\r\nError Desc : "
                                       "Division by zero"});

    // Another thread's code and reason are its own.
    std::thread([&] {
        EXPECT_STREQ(Kestrix_LastErrorText(), "");
        cKestrix* second = cKestrix_Create();
        cKestrix_ImageResizeMaxHeight(second, i, (dir / "t.jpg").c_str(), 0, 90);
        EXPECT_EQ(cKestrix_ErrorCode(second), KESTRIX_BAD_HEIGHT);
        EXPECT_STREQ(Kestrix_LastErrorText(), "the height must be 1 or more");
        cKestrix_Release(second);
    }).join();
    EXPECT_EQ(cKestrix_ErrorCode(engine), KESTRIX_OK);
    EXPECT_EQ(Kestrix_LastErrorText(), std::string());
    cKestrix_Release(nullptr);
}

TEST_F(Component, OmittedQualityIsNinetyAndOthersOutside1To100WriteNothing)
{
    const auto bytesAt = [&](int32_t quality) {
        EXPECT_EQ(cKestrix_ImageResize(engine, in.c_str(), out.c_str(), 150, 200, quality), KESTRIX_TRUE);
        return kxtest::ReadFileBytes(out);
    };
    EXPECT_EQ(bytesAt(KESTRIX_DEFAULT_QUALITY), bytesAt(90));
    EXPECT_NE(bytesAt(KESTRIX_DEFAULT_QUALITY), bytesAt(50));
    for (const int32_t quality : {0, 101, -5, INT32_MAX}) {
        SCOPED_TRACE(quality);
        std::remove(out.c_str());
        EXPECT_EQ(cKestrix_ImageResize(nullptr, in.c_str(), out.c_str(), 10, 10, quality), KESTRIX_FALSE);
        EXPECT_EQ(cKestrix_ErrorCode(nullptr), KESTRIX_OUTPUT_NOT_WRITTEN);
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

// A place outside the nine draws with top 0 and left 0: two rows higher and
// two columns further left than TopLeft (top 2, left 2).
TEST_F(Component, PlaceOutsideTheNineDrawsAtTheOrigin)
{
    const KestrixFont font{"Sans", 30, KESTRIX_TRUE, KESTRIX_FALSE, KESTRIX_FALSE, KESTRIX_FALSE, 0};
    const auto firstLitAt = [&](int place) {  // the top row and left column the white text lit
        EXPECT_EQ(cKestrix_AddTextToImageUsingSpecifiedPosition(nullptr, in.c_str(), out.c_str(), "HH", &font,
                                                                0xFFFFFF, static_cast<TEXT_POSITION>(place)),
                  KESTRIX_TRUE);
        const kxtest::Image image = kxtest::DecodeJpegFile(out);
        int top = image.height, left = image.width;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                if (image.At(x, y).g > 128) top = std::min(top, y), left = std::min(left, x);
        return std::pair{top, left};
    };
    const auto [top, left] = firstLitAt(TopLeft);
    for (const int place : {9, 15}) {  // C callers may pass any int; C++ only the enum's range
        SCOPED_TRACE(place);
        EXPECT_EQ(firstLitAt(place), std::pair(top - 2, left - 2));
    }
}
