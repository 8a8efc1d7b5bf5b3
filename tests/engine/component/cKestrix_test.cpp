// The engine as a client program sees it: through kestrix.h and the shared library only.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "kestrix.h"
#include "tests/support/PictureBytes.h"
#include "tests/support/TestSupport.h"

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
         "the picture is 70000 x 1 pixels; the engine takes at most 65535 pixels a side"},
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
    EXPECT_EQ(std::tuple(cKestrix_SetMemoryLimit(-1), cKestrix_SetJpegCoding(e, 2),
                         cKestrix_SetJpegCoding(nullptr, 1)),
              std::tuple(KESTRIX_FALSE, KESTRIX_FALSE, KESTRIX_FALSE));
    Kestrix_SetReportHandler(nullptr, nullptr);
    cKestrix_Release(e);
    cKestrix_Release(nullptr);
}

// Bytes to bytes gives exactly the file method's bytes, for every method and
// format, in both modes (the classic fit in its passes too), and fails with
// the file method's code and reason. The probe reads sizes from headers.
TEST(Component, BuffersAsFiles)
{
    kxtest::TempDir dir;
    const std::string in = dir / "in.jpg", out = dir / "out";
    std::vector<uint8_t> pixels(200 * 100 * 3);
    for (size_t n = 0; n < pixels.size(); ++n) pixels[n] = static_cast<uint8_t>(n * 7 % 251);
    kxtest::EncodeJpegFile(in, {200, 100, pixels}, 95, 0);
    const std::vector<uint8_t> input = kxtest::ReadFileBytes(in);
    cKestrix* e = cKestrix_Create();
    const auto file = [&](int32_t method, const char* from, int32_t w, int32_t h, int32_t q) {
        const char* o = out.c_str();
        switch (method) {
        case KESTRIX_METHOD_RESIZE: return cKestrix_ImageResize(e, from, o, h, w, q);
        case KESTRIX_METHOD_MAX_WIDTH: return cKestrix_ImageResizeMaxWidth(e, from, o, w, q);
        case KESTRIX_METHOD_MAX_HEIGHT: return cKestrix_ImageResizeMaxHeight(e, from, o, h, q);
        case KESTRIX_METHOD_FIT: return cKestrix_ImageResizeWithinDimensions(e, from, o, h, w, q);
        case KESTRIX_METHOD_FILL: return cKestrix_ImageResizeToFill(e, from, o, h, w, q);
        default: return cKestrix_ImagePercentageResize(e, from, o, w, q);
        }
    };
    const auto same = [&](int32_t method, const std::vector<uint8_t>& bytes, int32_t w, int32_t h,
                          int32_t q) {
        void* output = &output;
        size_t size = 1;
        const KestrixBool done =
            cKestrix_ResizeBuffer(e, method, bytes.data(), bytes.size(), w, h, q, &output, &size);
        const auto got = std::tuple(
            done, cKestrix_ErrorCode(e), std::string(Kestrix_LastErrorText()),
            std::vector<uint8_t>(static_cast<uint8_t*>(output), static_cast<uint8_t*>(output) + size));
        cKestrix_FreeBuffer(output);
        kxtest::WriteFileBytes(dir / "from", bytes);
        std::filesystem::remove(out);
        const KestrixBool fileDone = file(method, (dir / "from").c_str(), w, h, q);
        EXPECT_EQ(got,
                  std::tuple(fileDone, cKestrix_ErrorCode(e), std::string(Kestrix_LastErrorText()),
                             fileDone == KESTRIX_TRUE ? kxtest::ReadFileBytes(out) : std::vector<uint8_t>{}));
        return done == KESTRIX_TRUE;
    };
    for (const bool modern : {false, true})
        for (int32_t format = KESTRIX_FORMAT_JPEG; format <= KESTRIX_FORMAT_AVIF; ++format)
            for (int32_t method = KESTRIX_METHOD_RESIZE; method <= KESTRIX_METHOD_PERCENT; ++method) {
                SCOPED_TRACE(testing::Message() << modern << " " << format << " " << method);
                cKestrix_SetOutputFormat(e, format);
                cKestrix_SetResampleFilter(e, modern ? KESTRIX_FILTER_LANCZOS : KESTRIX_FILTER_EXACT);
                cKestrix_SetTrueProportions(e, modern ? KESTRIX_TRUE : KESTRIX_FALSE);
                EXPECT_TRUE(same(method, input, method == KESTRIX_METHOD_PERCENT ? 30 : 70, 30, 80));
            }
    cKestrix_SetOutputFormat(e, KESTRIX_FORMAT_JPEG);
    EXPECT_FALSE(same(KESTRIX_METHOD_MAX_WIDTH, input, 0, 0, 90));
    EXPECT_FALSE(same(KESTRIX_METHOD_FIT, {'x', 'y'}, 10, 10, 90));
    EXPECT_FALSE(same(KESTRIX_METHOD_RESIZE, {}, 10, 10, 90));
    EXPECT_FALSE(same(KESTRIX_METHOD_RESIZE, input, 10, 10, 101));
    cKestrix_SetMemoryLimit(1 << 20);
    EXPECT_FALSE(same(KESTRIX_METHOD_FILL, input, 10, 10, 90));
    cKestrix_SetMemoryLimit(0);
    void* output = nullptr;
    size_t size = 0;
    const auto told = [&](KestrixBool done) {  // read after the call
        return std::tuple(done, cKestrix_ErrorCode(e), std::string(Kestrix_LastErrorText()));
    };
    EXPECT_EQ(told(cKestrix_ResizeBuffer(e, 6, input.data(), input.size(), 9, 9, 90, &output, &size)),
              std::tuple(KESTRIX_FALSE, KESTRIX_UNEXPECTED_ERROR, std::string("unknown method 6")));
    EXPECT_TRUE(output == nullptr && size == 0);
    int32_t w = 0, h = 0, format = 0;
    EXPECT_EQ(told(Kestrix_ProbePicture(in.c_str(), &w, &h, &format)),
              std::tuple(KESTRIX_TRUE, KESTRIX_OK, std::string()));
    EXPECT_EQ(std::tuple(w, h, format), std::tuple(200, 100, KESTRIX_PICTURE_JPEG));
    for (const auto& [path, reason] : {std::pair(dir / "none", "no such file or folder"),
                                       std::pair(dir / "", "not a picture the engine reads")}) {
        EXPECT_EQ(told(Kestrix_ProbePicture(path.c_str(), &w, &h, nullptr)),
                  std::tuple(KESTRIX_FALSE, KESTRIX_INPUT_NOT_LOADED, std::string(reason)));
        EXPECT_EQ(std::pair(w, h), std::pair(0, 0));
    }
    cKestrix_Release(e);
}
