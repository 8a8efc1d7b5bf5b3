// The tool's --keep-metadata and --no-auto-orient on a phone photo stored on
// its side (40 x 20 pixels, EXIF orientation 6: 20 x 40 upright).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "PhotoFixtures.h"
#include "modImageInfo.h"

using namespace kxtest;

TEST(KestrixPhotoOptions, OrientationAndMetadataAsAsked)
{
    TempDir dir;
    WriteFileBytes(dir / "in.jpg",
                   WithSegments(JpegOf(AsymmetricPicture(40, 20)),
                                Segment(0xE1, std::string("Exif\0\0", 6), OrientationTiff(6, true))));
    const struct {
        const char* options;
        int width, height, orientation;  // of the output, as the probe reads it
        int exifSegments;
    } cases[] = {
        {"", 10, 20, 1, 0},
        {"--keep-metadata", 10, 20, 1, 1},
        {"--no-auto-orient", 5, 10, 6, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const std::string command = std::string(KESTRIX_CLI) + " max-width '" + (dir / "in.jpg") + "' '" +
                                    (dir / "out.jpg") + "' 10 " + c.options;
        ASSERT_EQ(std::system(command.c_str()), 0);
        const kx::ImageInfo out = kx::GetImageInfo(dir / "out.jpg");
        EXPECT_EQ(out.Width, c.width);
        EXPECT_EQ(out.Height, c.height);
        EXPECT_EQ(out.Orientation, c.orientation);
        const auto segments = SegmentsOf(ReadFileBytes(dir / "out.jpg"));
        EXPECT_EQ(std::count_if(segments.begin(), segments.end(),
                                [](const JpegSegment& s) { return s.code == 0xE1; }),
                  c.exifSegments);
    }
}
