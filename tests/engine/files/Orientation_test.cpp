// Camera photos stored on their side: the loader turns every orientation
// upright with exact pixel moves, the probe reports the upright size (also
// behind EXIF segments of up to 64 KB). The operations on the upright
// picture are checked through the tool (kestrix_photo_options_test).
#include <gtest/gtest.h>

#include <functional>

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
    // Where upright pixel (x, y) of a w x h upright picture comes from in the
    // stored picture (stored width kW, height kH).
    using From = std::function<std::pair<int, int>(int x, int y)>;
    const struct {
        int orientation, width, height;
        From from;
    } cases[] = {
        {1, kW, kH,
         [](int x, int y) {
             return std::pair{x, y};
         }},
        {2, kW, kH,
         [](int x, int y) {
             return std::pair{kW - 1 - x, y};
         }},
        {3, kW, kH,
         [](int x, int y) {
             return std::pair{kW - 1 - x, kH - 1 - y};
         }},
        {4, kW, kH,
         [](int x, int y) {
             return std::pair{x, kH - 1 - y};
         }},
        {5, kH, kW,
         [](int x, int y) {
             return std::pair{y, x};
         }},
        {6, kH, kW,
         [](int x, int y) {
             return std::pair{y, kH - 1 - x};
         }},
        {7, kH, kW,
         [](int x, int y) {
             return std::pair{kW - 1 - y, kH - 1 - x};
         }},
        {8, kH, kW,
         [](int x, int y) {
             return std::pair{kW - 1 - y, x};
         }},
        {9, kW, kH,
         [](int x, int y) {
             return std::pair{x, y};
         }},  // out of range: as 1
        {0, kW, kH,
         [](int x, int y) {
             return std::pair{x, y};
         }},
    };
    for (const bool little : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE("orientation " + std::to_string(c.orientation) + (little ? " II" : " MM"));
            const Bytes file = ExifJpeg(plain, OrientationTiff(uint16_t(c.orientation), little));
            Seen seen = ProbeAndLoad(dir, file);
            ASSERT_TRUE(seen.loaded);
            EXPECT_EQ(seen.info.Orientation, c.orientation >= 1 && c.orientation <= 8 ? c.orientation : 1);
            ASSERT_EQ(seen.surface.Width(), c.width);
            ASSERT_EQ(seen.surface.Height(), c.height);
            // The turn made on a decoded surface (for other formats) is the same.
            kx::cDIBSection turned;
            ASSERT_TRUE(kx::LoadPicture(dir / "plain.jpg", turned));
            ASSERT_TRUE(kx::TurnUpright(turned, c.orientation));
            for (int y = 0; y < c.height; ++y)
                for (int x = 0; x < c.width; ++x) {
                    const auto [sx, sy] = c.from(x, y);
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

TEST(Orientation, TagsAndSegmentsTheProbeAndLoaderReadAlike)
{
    TempDir dir;
    const Bytes plain = JpegOf(AsymmetricPicture(kW, kH));
    const auto tiff = [](size_t padding, uint16_t type = 3, uint32_t count = 1, uint16_t value = 6) {
        return OrientationTiff(value, false, padding, type, count);
    };
    const Bytes whole = tiff(0);
    const struct {
        const char* name;
        Bytes file;
        int orientation;  // 6 turns a quarter: 21 x 37
    } cases[] = {
        // A segment length of 32768 and more once made the probe give up.
        {"EXIF segment of 40 KB", ExifJpeg(plain, tiff(40960 - 8 - 26)), 6},
        {"EXIF payload of 65,533 bytes", ExifJpeg(plain, tiff(65533 - 6 - 26)), 6},
        {"orientation as a LONG", ExifJpeg(plain, tiff(0, 4)), 1},
        {"two values", ExifJpeg(plain, tiff(0, 3, 2)), 1},
        {"entry outside the block", ExifJpeg(plain, Bytes(whole.begin(), whole.begin() + 20)), 1},
        {"second EXIF segment ignored", ExifJpeg(ExifJpeg(plain, tiff(0, 3, 1, 8)), OrientationTiff(1, true)),
         1},
        {"XMP before EXIF",
         WithSegments(ExifJpeg(plain, tiff(0)),
                      Segment(0xE1, "http://ns.adobe.com/xap/1.0/", Bytes(3000, ' '))),
         6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Seen seen = ProbeAndLoad(dir, c.file);
        ASSERT_TRUE(seen.loaded);
        EXPECT_EQ(seen.info.ImageType, kx::ImageTypeJPEG);
        EXPECT_EQ(seen.info.Orientation, c.orientation);
        EXPECT_EQ(seen.surface.Width(), c.orientation == 6 ? kH : kW);
    }
}

TEST(Orientation, ProbeGivesTheLoadedSizeOfWideAndTopDownPictures)
{
    TempDir dir;
    // A 40000 x 8 logical screen with one black pixel; the rest is white.
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
        int width, height;
    } cases[] = {{"40000 x 8 PNG", RgbPng(40000, 8), 40000, 8},
                 {"40000 x 8 GIF", gif, 40000, 8},
                 {"top-down BMP", bmp, 3, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Seen seen = ProbeAndLoad(dir, c.file);
        ASSERT_TRUE(seen.loaded);
        EXPECT_EQ(seen.surface.Width(), c.width);
        EXPECT_EQ(seen.surface.Height(), c.height);
    }
}
