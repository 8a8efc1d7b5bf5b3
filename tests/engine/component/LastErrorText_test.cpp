// The reason of the last failure, as a client program reads it.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "TestSupport.h"
#include "kestrix.h"

namespace {

TEST(LastErrorText, SaysWhyOnItsOwnThreadAndIsEmptyAfterASuccess)
{
    kxtest::TempDir dir;
    const std::string input = dir / "in.jpg", huge = dir / "huge.bmp";
    kxtest::EncodeJpegFile(input, kxtest::Image{8, 8, std::vector<uint8_t>(8 * 8 * 3, 90)}, 90, 0);
    // The headers of a 24-bit BMP of 70000 x 1 pixels (0x11170 wide).
    std::vector<uint8_t> bmp(54, 0);
    bmp[0] = 'B', bmp[1] = 'M', bmp[10] = 54, bmp[14] = 40, bmp[18] = 0x70, bmp[19] = 0x11, bmp[20] = 1;
    bmp[22] = 1, bmp[26] = 1, bmp[28] = 24;
    kxtest::WriteFileBytes(huge, bmp);
    cKestrix* engine = cKestrix_Create();
    const std::string out = dir / "out.jpg";
    struct Case {
        std::string in;
        int32_t code;
        std::string text;
    };
    const Case cases[] = {
        {huge, KESTRIX_INPUT_NOT_LOADED,
         "the picture is 70000 x 1 pixels; the engine takes at most 65535 pixels a side and 2147483647 bytes "
         "of pixels"},
        {input, KESTRIX_OK, ""},
        {dir.Path(), KESTRIX_INPUT_NOT_LOADED, "a folder, not a picture"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        cKestrix_ImageResize(engine, c.in.c_str(), out.c_str(), 4, 4, KESTRIX_DEFAULT_QUALITY);
        EXPECT_EQ(cKestrix_ErrorCode(engine), c.code);
        EXPECT_EQ(Kestrix_LastErrorText(), c.text);
    }
    std::thread([&] {
        EXPECT_STREQ(Kestrix_LastErrorText(), "");  // another thread's reason is its own
        cKestrix_ImageResizeMaxHeight(engine, input.c_str(), out.c_str(), 0, KESTRIX_DEFAULT_QUALITY);
        EXPECT_STREQ(Kestrix_LastErrorText(), "the height must be 1 or more");
    }).join();
    EXPECT_EQ(Kestrix_LastErrorText(), std::string("a folder, not a picture"));
    cKestrix_Release(engine);
}

}  // namespace
