// What travels from a camera photo into its resized copy: the RGB colour
// profile, whole and in order, and by default nothing else; with
// KeepMetadata the EXIF record (orientation, preview and pixel dimensions
// brought up to date) and the XMP packet.
#include <gtest/gtest.h>
#include <libexif/exif-data.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

#include "PhotoFixtures.h"
#include "PictureBytes.h"
#include "modMain.h"

using namespace kxtest;

namespace {

// The profile the APP2 chunks of a written JPEG hold, checking their
// numbering: 1 to n in order, each chunk at most 65,519 bytes.
Bytes WrittenProfile(const std::vector<JpegSegment>& segments)
{
    Bytes profile;
    int expected = 1;
    for (const JpegSegment& s : segments) {
        if (s.code != 0xE2) continue;
        EXPECT_EQ(std::memcmp(s.payload.data(), "ICC_PROFILE\0", 12), 0);
        EXPECT_EQ(s.payload[12], expected++);
        EXPECT_LE(s.payload.size() - 14, 65519u);
        profile.insert(profile.end(), s.payload.begin() + 14, s.payload.end());
    }
    return profile;
}

// An EXIF record as a camera writes it, big-endian: IFD0 with orientation 6
// and the EXIF and GPS pointers, IFD1 naming a 500-byte preview, the EXIF IFD
// with pixel dimensions 40 (LONG) x 20 (SHORT), the GPS IFD with a latitude
// reference. Whole APP1 payload.
Bytes CameraExif()
{
    Bytes exif{'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8};
    using Entry = std::array<uint32_t, 4>;  // tag, type, count, value
    const auto ifd = [&](const std::vector<Entry>& entries, uint32_t next) {
        PutBE(exif, static_cast<uint32_t>(entries.size()), 2);
        for (const auto& [tag, type, count, value] : entries) {
            PutBE(exif, tag, 2);
            PutBE(exif, type, 2);
            PutBE(exif, count, 4);
            PutBE(exif, type == 4 ? value : value << 16, 4);  // left-justified
        }
        PutBE(exif, next, 4);
    };
    // Offsets from the TIFF header: IFD0 at 8, IFD1 at 50, EXIF at 80, GPS at 110, preview at 128.
    ifd({{0x0112, 3, 1, 6}, {0x8769, 4, 1, 80}, {0x8825, 4, 1, 110}}, 50);
    ifd({{0x0201, 4, 1, 128}, {0x0202, 4, 1, 500}}, 0);
    ifd({{0xA002, 4, 1, 40}, {0xA003, 3, 1, 20}}, 0);
    ifd({{0x0001, 2, 2, 'N' << 8}}, 0);  // GPSLatitudeRef "N"
    exif.resize(6 + 128 + 500, 0xD9);
    return exif;
}

// The EXIF segment of CameraExif, then an XMP one holding `packet`.
Bytes CameraSegments(const std::string& packet)
{
    return Concat(
        {Segment(0xE1, "", CameraExif()), Segment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29),
                                                  Bytes(packet.begin(), packet.end()))});
}

}  // namespace

TEST(ColourProfile, TheRgbProfileTravelsWholeAndAlone)
{
    TempDir dir;
    const Bytes picture = JpegOf(AsymmetricPicture(16, 8));
    const Bytes rgb = IccProfile(140000, "RGB "), small = IccProfile(1000, "RGB ");  // rgb: three chunks
    const Bytes others = CameraSegments(std::string(100, ' '));
    const struct {
        const char* name;
        Bytes input;
        Bytes profile;  // expected in the output
    } cases[] = {
        {"chunks in any order", WithSegments(picture, Concat({IccSegments(rgb, 3, {2, 3, 1}), others})), rgb},
        {"one chunk", WithSegments(picture, IccSegments(small, 1, {1})), small},
        {"PNG iCCP", RgbPng(16, 8, small), small},
        {"CMYK profile", WithSegments(picture, IccSegments(IccProfile(1000, "CMYK"), 1, {1})), {}},
        {"a chunk twice", WithSegments(picture, IccSegments(rgb, 3, {1, 2, 2, 3})), {}},
        {"a chunk missing", WithSegments(picture, IccSegments(rgb, 3, {1, 3})), {}},
        {"no profile", WithSegments(picture, others), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(dir / "in", c.input);
        ASSERT_TRUE(kx::ResizeImage(dir / "in", dir / "out.jpg", 4, 8, 90));
        const auto segments = SegmentsOf(ReadFileBytes(dir / "out.jpg"));
        EXPECT_EQ(WrittenProfile(segments), c.profile);
        // No EXIF (no GPS position), no XMP.
        EXPECT_EQ(std::ranges::count(segments, 0xE1, &JpegSegment::code), 0);
    }
}

TEST(ColourProfile, KeepMetadataCarriesExifAndXmpBroughtUpToDate)
{
    TempDir dir;
    const std::string xmp = "<x:xmpmeta><rdf:Description tiff:Orientation=\"6\"/></x:xmpmeta>";
    WriteFileBytes(dir / "in.jpg", WithSegments(JpegOf(AsymmetricPicture(40, 20)), CameraSegments(xmp)));
    const struct {
        const char* name;
        bool autoOrient;
        int orientation, width, height;  // in the written EXIF
        char xmpOrientation;
    } cases[] = {{"upright", true, 1, 10, 20, '1'}, {"as stored", false, 6, 10, 5, '6'}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kx::EngineSettings settings;
        settings.KeepMetadata = true;
        settings.AutoOrient = c.autoOrient;
        ASSERT_TRUE(kx::ResizeMaxWidth(dir / "in.jpg", dir / "out.jpg", 10, 90, settings));
        const auto segments = SegmentsOf(ReadFileBytes(dir / "out.jpg"));
        ASSERT_EQ(std::ranges::count(segments, 0xE1, &JpegSegment::code), 2);
        const Bytes& exif = segments[1].payload;  // after JFIF
        ExifData* data = exif_data_new();
        exif_data_unset_option(data, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
        exif_data_load_data(data, exif.data(), static_cast<unsigned>(exif.size()));
        const ExifByteOrder order = exif_data_get_byte_order(data);
        const auto value = [&](ExifIfd ifd, ExifTag tag) -> long {
            const ExifEntry* e = exif_content_get_entry(data->ifd[ifd], tag);
            return !e                              ? -1L
                   : e->format == EXIF_FORMAT_LONG ? long(exif_get_long(e->data, order))
                                                   : exif_get_short(e->data, order);
        };
        EXPECT_EQ(value(EXIF_IFD_0, EXIF_TAG_ORIENTATION), c.orientation);
        EXPECT_EQ(value(EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION), c.width);
        EXPECT_EQ(value(EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION), c.height);
        EXPECT_NE(exif_content_get_entry(data->ifd[EXIF_IFD_GPS], ExifTag(0x0001)), nullptr);
        EXPECT_EQ(data->ifd[EXIF_IFD_1]->count, 0u);  // no preview
        EXPECT_EQ(data->size, 0u);
        exif_data_unref(data);
        const std::string written(segments[2].payload.begin() + 29, segments[2].payload.end());
        EXPECT_EQ(written, std::string(xmp).replace(xmp.find('6'), 1, 1, c.xmpOrientation));
    }
}
