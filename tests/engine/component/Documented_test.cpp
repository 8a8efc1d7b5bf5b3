// What kestrix.h promises for arguments outside the usual: a NULL object, a
// place outside the nine and a quality outside 1 to 100.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "kestrix.h"

TEST(DocumentedEdges, NullObjectPlaceAndQuality)
{
    kxtest::TempDir dir;
    const std::string in = dir / "in.jpg", out = dir / "out.jpg";
    kxtest::EncodeJpegFile(in, {200, 100, std::vector<uint8_t>(200 * 100 * 3, 0)}, 95, 0);
    const KestrixFont font{"Sans", 30, KESTRIX_TRUE, KESTRIX_FALSE, KESTRIX_FALSE, KESTRIX_FALSE, 0};
    const auto firstLit = [&] {  // the top row and left column the white text lit
        const kxtest::Image image = kxtest::DecodeJpegFile(out);
        int top = image.height, left = image.width;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                if (image.At(x, y).g > 128) top = std::min(top, y), left = std::min(left, x);
        return std::pair{top, left};
    };
    const auto drawAt = [&](int place) {
        return cKestrix_AddTextToImageUsingSpecifiedPosition(nullptr, in.c_str(), out.c_str(), "HH", &font,
                                                             0xFFFFFF, static_cast<TEXT_POSITION>(place));
    };

    // A NULL object is a fresh object with the default settings.
    EXPECT_EQ(cKestrix_ImageResizeMaxWidth(nullptr, in.c_str(), out.c_str(), 50, KESTRIX_DEFAULT_QUALITY),
              KESTRIX_TRUE);
    EXPECT_EQ(kxtest::DecodeJpegFile(out).height, 25);
    EXPECT_EQ(cKestrix_ImageResizeMaxWidth(nullptr, in.c_str(), out.c_str(), 0, KESTRIX_DEFAULT_QUALITY),
              KESTRIX_FALSE);
    EXPECT_EQ(cKestrix_ErrorCode(nullptr), KESTRIX_BAD_WIDTH);

    // A place outside the nine draws with top 0 and left 0: two rows higher
    // and two columns further left than TopLeft (top 2, left 2).
    ASSERT_EQ(drawAt(TopLeft), KESTRIX_TRUE);
    const auto [top, left] = firstLit();
    for (const int place : {9, 15}) {  // C callers may pass any int; C++ only the enum's range
        SCOPED_TRACE(place);
        ASSERT_EQ(drawAt(place), KESTRIX_TRUE);
        EXPECT_EQ(firstLit(), std::pair(top - 2, left - 2));
    }

    // A quality outside 1 to 100 writes nothing and fails with code 2.
    for (const int32_t quality : {0, 101, -5, INT32_MAX}) {
        SCOPED_TRACE(quality);
        std::remove(out.c_str());
        EXPECT_EQ(cKestrix_ImageResize(nullptr, in.c_str(), out.c_str(), 10, 10, quality), KESTRIX_FALSE);
        EXPECT_EQ(cKestrix_ErrorCode(nullptr), KESTRIX_OUTPUT_NOT_WRITTEN);
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}
