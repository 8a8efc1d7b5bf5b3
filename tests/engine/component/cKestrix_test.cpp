// The engine as a client program sees it: through kestrix.h and the shared library only.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "PictureBytes.h"
#include "TestSupport.h"
#include "kestrix.h"

// Each method's result, the calling thread's code and reason, and no output
// after a failure; a NULL object is a fresh object with the default settings.
TEST(Component, ResultCodeAndReasonOfEachCall)
{
    kxtest::TempDir dir;
    std::vector<std::string> reports;
    Kestrix_SetReportHandler(
        [](const char* text, void* to) { static_cast<decltype(reports)*>(to)->push_back(text); }, &reports);
    cKestrix* e = cKestrix_Create();
    ASSERT_NE(e, nullptr);
    const std::string in = dir / "in.jpg", out = dir / "out.jpg", huge = dir / "huge.bmp";
    kxtest::EncodeJpegFile(in, {200, 100, std::vector<uint8_t>(200 * 100 * 3, 0)}, 95, 0);
    // The headers of a 24-bit BMP of 70000 x 1 pixels.
    kxtest::WriteFileBytes(huge, kxtest::Bmp({.width = 70000, .height = 1}));
    const std::string height = "the height must be 1 or more";
    const char *i = in.c_str(), *o = out.c_str(), *width = "the width must be 1 or more";
    const TEXT_POSITION outside = TEXT_POSITION(15);  // C callers may pass any place: drawn at the origin
    // Percent, text, border and the omitted quality are the command-line tests'.
    const std::tuple<std::function<KestrixBool()>, int32_t, std::string> cases[] = {
        {[&] { return cKestrix_ImageResizeMaxWidth(e, i, o, 0, 90); }, KESTRIX_BAD_WIDTH, width},
        {[&] { return cKestrix_ImageResizeWithinDimensions(e, i, o, 0, 0, 90); }, KESTRIX_BAD_HEIGHT, height},
        {[&] { return cKestrix_ImageResize(e, huge.c_str(), o, 4, 4, 90); }, KESTRIX_INPUT_NOT_LOADED,
         "the picture is 70000 x 1 pixels; the engine takes at most 65535 pixels a side and 2147483647 bytes "
         "of pixels"},
        {[&] { return cKestrix_ImageResize(e, nullptr, nullptr, 10, 10, 90); }, KESTRIX_INPUT_NOT_LOADED,
         "no such file or folder"},
        {[&] { return cKestrix_ImageResize(e, i, nullptr, 10, 10, 90); }, KESTRIX_OUTPUT_NOT_WRITTEN,
         "the output folder does not exist"},
        {[&] { return cKestrix_AddTextToImageUsingSpecifiedPosition(e, i, o, "H", nullptr, 0, outside); },
         KESTRIX_OK, ""},
        // The probe gives a missing file the size 0: scaling to a height divides by it.
        {[&] { return cKestrix_ImageResizeMaxHeight(e, (dir / "missing.bmp").c_str(), o, 100, 90); },
         KESTRIX_UNEXPECTED_ERROR, "an unexpected error (reported)"},
        {[&] { return cKestrix_ImageResizeMaxWidth(nullptr, i, o, 0, 90); }, KESTRIX_BAD_WIDTH, width},
        // The memory limit is the process's; a writer names its own format's limits.
        {[&] { return cKestrix_SetMemoryLimit(1 << 20) & cKestrix_ImageResize(e, i, o, 10, 10, 90); },
         KESTRIX_INPUT_NOT_LOADED, "this picture needs 1.1 MB, more than the 1 MB memory limit"},
        {[&] {
             cKestrix_SetMemoryLimit(0);
             cKestrix_SetOutputFormat(e, KESTRIX_FORMAT_WEBP);
             return cKestrix_ImageResize(e, i, o, 1, 16384, 90);
         },
         KESTRIX_OUTPUT_NOT_WRITTEN, "WebP pictures are at most 16383 pixels wide"},
    };
    for (size_t n = 0; n < std::size(cases); ++n) {
        SCOPED_TRACE(testing::Message() << "case " << n);
        const auto& [call, code, reason] = cases[n];
        std::filesystem::remove(out);
        EXPECT_EQ(call(), code == KESTRIX_OK ? KESTRIX_TRUE : KESTRIX_FALSE);
        EXPECT_EQ(std::pair(cKestrix_ErrorCode(e), cKestrix_ErrorCode(nullptr)), std::pair(code, code));
        EXPECT_EQ(Kestrix_LastErrorText(), reason);
        EXPECT_EQ(std::filesystem::exists(out), code == KESTRIX_OK);
    }
    EXPECT_EQ(reports,
              std::vector<std::string>{"Error in : ResizeMaxHeight\r\nError Number : 11\r\nError Desc : "
                                       "Division by zero"});

    // Another thread's code and reason are its own (this one's: the last case's).
    std::thread([&] {
        EXPECT_STREQ(Kestrix_LastErrorText(), "");
        cKestrix_ImageResizeMaxHeight(e, i, o, 0, 90);
        EXPECT_EQ(cKestrix_ErrorCode(e), KESTRIX_BAD_HEIGHT);
        EXPECT_EQ(Kestrix_LastErrorText(), height);
    }).join();
    EXPECT_EQ(cKestrix_ErrorCode(e), KESTRIX_OUTPUT_NOT_WRITTEN);
    EXPECT_STREQ(Kestrix_LastErrorText(), "WebP pictures are at most 16383 pixels wide");
    EXPECT_EQ(std::tuple(cKestrix_SetMemoryLimit(-1), cKestrix_SetJpegCoding(e, 2), cKestrix_SetJpegCoding(nullptr, 1)),
              std::tuple(KESTRIX_FALSE, KESTRIX_FALSE, KESTRIX_FALSE));
    Kestrix_SetReportHandler(nullptr, nullptr);
    cKestrix_Release(e);
    cKestrix_Release(nullptr);
}
