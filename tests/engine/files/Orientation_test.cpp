// Camera photos stored on their side: the loader turns every orientation
// upright with exact pixel moves, and the probe reports the size the loader
// gives (also behind EXIF segments of up to 64 KB, and for a PNG's eXIf after its pixels).
#include <gtest/gtest.h>

#include "common/modImageInfo.h"
#include "engine/files/Orientation.h"
#include "engine/files/PictureLoader.h"
#include "tests/support/PhotoFixtures.h"

using namespace kxtest;

namespace {

// 37 x 21: more rows than one decoding strip, odd sides.
constexpr int kW = 37, kH = 21;

Bytes ExifJpeg(const Bytes& jpeg, const Bytes& tiff)
{
    return WithSegments(jpeg, Segment(0xE1, std::string("Exif\0\0", 6), tiff));
}

// Loads `file` (turned upright) and checks that the probe gives its size.
kx::cDIBSection ProbeAndLoad(const TempDir& dir, const Bytes& file, kx::ImageInfo& info)
{
    WriteFileBytes(dir / "picture", file);
    info = kx::GetImageInfo(dir / "picture");
    kx::cDIBSection surface;
    EXPECT_TRUE(kx::LoadPicture(dir / "picture", surface));
    EXPECT_NE(info.ImageType, kx::ImageTypeNone);
    EXPECT_EQ(info.Width, surface.Width());
    EXPECT_EQ(info.Height, surface.Height());
    return surface;
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
            kx::ImageInfo info;
            const kx::cDIBSection upright =
                ProbeAndLoad(dir, ExifJpeg(plain, OrientationTiff(uint16_t(orientation), little)), info);
            const bool valid = orientation >= 1 && orientation <= 8, quarter = valid && orientation >= 5;
            EXPECT_EQ(info.Orientation, valid ? orientation : 1);
            ASSERT_EQ(std::pair(upright.Width(), upright.Height()),
                      quarter ? std::pair(kH, kW) : std::pair(kW, kH));
            // The turn made on a decoded surface (for other formats) is the same.
            kx::cDIBSection turned;
            ASSERT_TRUE(kx::LoadPicture(dir / "plain.jpg", turned));
            ASSERT_TRUE(kx::TurnUpright(turned, orientation));
            for (int y = 0; y < upright.Height(); ++y)
                for (int x = 0; x < upright.Width(); ++x) {
                    const auto [sx, sy] = StoredFor(orientation, x, y, kW, kH);
                    ASSERT_EQ(PixelAt(upright, x, y), PixelAt(stored, sx, sy)) << x << "," << y;
                    ASSERT_EQ(PixelAt(turned, x, y), PixelAt(stored, sx, sy)) << x << "," << y;
                }
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
    Bytes gif = Gif({40000, 8, 0, 0, 1, 1, {{3}}});
    gif[3] = '6';  // the loader takes any version, as the probe and giflib do (it once refused them)
    const Bytes whole = tiff(0), xmp = Segment(0xE1, "http://ns.adobe.com/xap/1.0/", Bytes(3000, ' '));
    using Chunks = std::vector<std::pair<std::string, Bytes>>;
    const auto png = [](const Chunks& before, const Chunks& after) {
        return Png({kW, kH, 8, 2, std::vector<Bytes>(kH, Bytes(kW * 3, 9)), {}, {}, before, {}, after});
    };
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
        {"XMP before EXIF", WithSegments(ExifJpeg(plain, whole), xmp), 6, kH, kW},
        // A PNG's eXIf after the pixels counts when no eXIf came before them and it is near the end.
        {"PNG eXIf after the pixels", png({}, {{"eXIf", whole}, {"tEXt", Bytes(9, 'a')}}), 6, kH, kW},
        {"PNG eXIf before them first", png({{"eXIf", tiff(0, 3, 1, 3)}}, {{"eXIf", whole}}), 3, kW, kH},
        {"PNG eXIf 70 KB from the end", png({}, {{"eXIf", whole}, {"tEXt", Bytes(70000, 'a')}}), 1, kW, kH},
        // Wide and top-down pictures of other formats.
        {"40000 x 8 PNG", RgbPng(40000, 8), 1, 40000, 8},
        {"40000 x 8 GIF of version 69a", gif, 1, 40000, 8},
        {"top-down BMP", Bmp({.height = -2, .pixels = Bytes(24, 0x33)}), 1, 3, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kx::ImageInfo info;
        const kx::cDIBSection surface = ProbeAndLoad(dir, c.file, info);
        EXPECT_EQ(info.Orientation, c.orientation);
        EXPECT_EQ(surface.Width(), c.width);
        EXPECT_EQ(surface.Height(), c.height);
    }
}
