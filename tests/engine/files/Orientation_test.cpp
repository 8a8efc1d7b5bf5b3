// Camera photos stored on their side: the loader turns every orientation
// upright with exact pixel moves, and the probe reports the size the loader
// gives (also behind EXIF segments of up to 64 KB).
#include <gtest/gtest.h>

#include "Orientation.h"
#include "PhotoFixtures.h"
#include "PictureLoader.h"
#include "modImageInfo.h"

using namespace kxtest;

namespace {

// 37 x 21: more rows than one decoding strip, odd sides.
constexpr int kW = 37, kH = 21;

Bytes ExifJpeg(const Bytes& jpeg, const Bytes& tiff)
{
    return WithSegments(jpeg, Segment(0xE1, std::string("Exif\0\0", 6), tiff));
}

// What the probe and the loader make of a file: both must agree.
struct Seen {
    kx::ImageInfo info;
    bool loaded;
    kx::cDIBSection surface;
};
Seen ProbeAndLoad(const TempDir& dir, const Bytes& file)
{
    const std::string path = dir / "picture";
    WriteFileBytes(path, file);
    Seen seen{kx::GetImageInfo(path), false, {}};
    seen.loaded = kx::LoadPicture(path, seen.surface);
    if (seen.loaded) {
        EXPECT_NE(seen.info.ImageType, kx::ImageTypeNone);
        EXPECT_EQ(seen.info.Width, seen.surface.Width());
        EXPECT_EQ(seen.info.Height, seen.surface.Height());
    }
    return seen;
}

}  // namespace

TEST(Orientation, EveryTagGivesTheUprightPictureExactly)
{
    TempDir dir;
    const Bytes plain = JpegOf(AsymmetricPicture(kW, kH));
    kx::cDIBSection stored;
    WriteFileBytes(dir / "plain.jpg", plain);
    ASSERT_TRUE(kx::LoadPicture(dir / "plain.jpg", stored));
    for (const bool little : {false, true}) {
        for (const int orientation : {1, 2, 3, 4, 5, 6, 7, 8, 9, 0}) {  // 9 and 0 are out of range: as 1
            SCOPED_TRACE("orientation " + std::to_string(orientation) + (little ? " II" : " MM"));
            const Bytes file = ExifJpeg(plain, OrientationTiff(uint16_t(orientation), little));
            Seen seen = ProbeAndLoad(dir, file);
            ASSERT_TRUE(seen.loaded);
            const bool valid = orientation >= 1 && orientation <= 8, quarter = valid && orientation >= 5;
            EXPECT_EQ(seen.info.Orientation, valid ? orientation : 1);
            ASSERT_EQ(seen.surface.Width(), quarter ? kH : kW);
            ASSERT_EQ(seen.surface.Height(), quarter ? kW : kH);
            // The turn made on a decoded surface (for other formats) is the same.
            kx::cDIBSection turned;
            ASSERT_TRUE(kx::LoadPicture(dir / "plain.jpg", turned));
            ASSERT_TRUE(kx::TurnUpright(turned, orientation));
            for (int y = 0; y < seen.surface.Height(); ++y)
                for (int x = 0; x < seen.surface.Width(); ++x) {
                    const auto [sx, sy] = StoredFor(orientation, x, y, kW, kH);
                    ASSERT_EQ(PixelAt(seen.surface, x, y), PixelAt(stored, sx, sy)) << x << "," << y;
                    ASSERT_EQ(PixelAt(turned, x, y), PixelAt(stored, sx, sy)) << x << "," << y;
                }
            // Without turning: the stored pixels and the tag's value.
            kx::PictureMetadata metadata;
            kx::cDIBSection asStored;
            ASSERT_TRUE(kx::LoadPicture(dir / "picture", asStored, metadata, false));
            EXPECT_EQ(AllPixels(asStored), AllPixels(stored));
            EXPECT_EQ(metadata.Orientation, seen.info.Orientation);
        }
    }
}

TEST(Orientation, ProbeAndLoaderAgreeOnTagsSegmentsAndSizes)
{
    TempDir dir;
    const Bytes plain = JpegOf(AsymmetricPicture(kW, kH));
    const auto tiff = [](size_t padding, uint16_t type = 3, uint32_t count = 1, uint16_t value = 6) {
        return OrientationTiff(value, false, padding, type, count);
    };
    const Bytes whole = tiff(0);
    // A 40000 x 8 GIF logical screen with one black pixel; the rest is white.
    const Bytes gif{'G', 'I', 'F',  '8',  '9', 'a', 0x40, 0x9C, 8, 0, 0x80, 0, 0,  // screen, 2 colours
                    0,   0,   0,    255,  255, 255,                                // black, white
                    ',', 0,   0,    0,    0,   1,   0,    1,    0, 0,              // 1 x 1 at 0, 0
                    2,   2,   0x44, 0x01, 0,   ';'};                               // clear, 0, end
    // A 3 x 2 top-down 24-bit BMP: height -2.
    Bytes bmp{'B', 'M', 78, 0, 0, 0, 0, 0,    0,    0,    54,   0, 0, 0,  40,
              0,   0,   0,  3, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 1, 0, 24, 0};
    bmp.resize(54, 0);
    bmp.resize(78, 0x33);
    const struct {
        const char* name;
        Bytes file;
        int orientation, width, height;
    } cases[] = {
        // A segment length of 32768 and more once made the probe give up.
        {"EXIF segment of 40 KB", ExifJpeg(plain, tiff(40960 - 8 - 26)), 6, kH, kW},
        {"EXIF payload of 65,533 bytes", ExifJpeg(plain, tiff(65533 - 6 - 26)), 6, kH, kW},
        {"orientation as a LONG", ExifJpeg(plain, tiff(0, 4)), 1, kW, kH},
        {"two values", ExifJpeg(plain, tiff(0, 3, 2)), 1, kW, kH},
        {"entry outside the block", ExifJpeg(plain, Bytes(whole.begin(), whole.begin() + 20)), 1, kW, kH},
        {"second EXIF segment ignored", ExifJpeg(ExifJpeg(plain, tiff(0, 3, 1, 8)), OrientationTiff(1, true)),
         1, kW, kH},
        {"XMP before EXIF",
         WithSegments(ExifJpeg(plain, tiff(0)),
                      Segment(0xE1, "http://ns.adobe.com/xap/1.0/", Bytes(3000, ' '))),
         6, kH, kW},
        {"40000 x 8 PNG", RgbPng(40000, 8), 1, 40000, 8},
        {"40000 x 8 GIF", gif, 1, 40000, 8},
        {"top-down BMP", bmp, 1, 3, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Seen seen = ProbeAndLoad(dir, c.file);
        ASSERT_TRUE(seen.loaded);
        if (c.file[0] == 0xFF) {
            EXPECT_EQ(seen.info.ImageType, kx::ImageTypeJPEG);
        }
        EXPECT_EQ(seen.info.Orientation, c.orientation);
        EXPECT_EQ(seen.surface.Width(), c.width);
        EXPECT_EQ(seen.surface.Height(), c.height);
    }
}
