// What travels from a camera photo into its resized copy: the RGB colour
// profile, whole and in order, and by default nothing else; with
// KeepMetadata the EXIF record (orientation, preview and pixel dimensions
// brought up to date) and the XMP packet.
#include <gtest/gtest.h>
#include <libexif/exif-data.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "PhotoFixtures.h"
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

int CountOf(const std::vector<JpegSegment>& segments, uint8_t code)
{
    return static_cast<int>(std::count_if(segments.begin(), segments.end(),
                                          [code](const JpegSegment& s) { return s.code == code; }));
}

// An EXIF record as a camera writes it: orientation 6, pixel dimensions
// 40 x 20, a GPS entry and a 500-byte preview. Whole APP1 payload.
Bytes CameraExif()
{
    ExifData* data = exif_data_new();
    exif_data_unset_option(data, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_set_byte_order(data, EXIF_BYTE_ORDER_MOTOROLA);
    const auto add = [&](ExifIfd ifd, ExifTag tag, ExifFormat format, uint32_t value) {
        ExifEntry* entry = exif_entry_new();
        entry->tag = tag;
        entry->format = format;
        entry->components = 1;
        entry->size = exif_format_get_size(format);
        entry->data = static_cast<unsigned char*>(std::calloc(1, entry->size));
        if (format == EXIF_FORMAT_SHORT)
            exif_set_short(entry->data, EXIF_BYTE_ORDER_MOTOROLA, uint16_t(value));
        else if (format == EXIF_FORMAT_LONG)
            exif_set_long(entry->data, EXIF_BYTE_ORDER_MOTOROLA, value);
        else
            entry->data[0] = uint8_t(value);
        exif_content_add_entry(data->ifd[ifd], entry);
        exif_entry_unref(entry);
    };
    add(EXIF_IFD_0, EXIF_TAG_ORIENTATION, EXIF_FORMAT_SHORT, 6);
    add(EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION, EXIF_FORMAT_LONG, 40);
    add(EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION, EXIF_FORMAT_SHORT, 20);
    add(EXIF_IFD_GPS, ExifTag(0x0001), EXIF_FORMAT_BYTE, 'N');  // GPSLatitudeRef
    data->data = static_cast<unsigned char*>(std::calloc(1, 500));
    data->size = 500;
    unsigned char* saved = nullptr;
    unsigned int size = 0;
    exif_data_save_data(data, &saved, &size);
    Bytes out(saved, saved + size);
    std::free(saved);
    exif_data_unref(data);
    return out;
}

}  // namespace

TEST(ColourProfile, TheRgbProfileTravelsWholeAndAlone)
{
    TempDir dir;
    const Bytes picture = JpegOf(AsymmetricPicture(16, 8));
    const Bytes rgb = IccProfile(140000, "RGB ");  // three chunks
    const Bytes small = IccProfile(1000, "RGB ");
    const Bytes others = Segment(0xE1, "", CameraExif()) +
                         Segment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29), Bytes(100, ' '));
    const struct {
        const char* name;
        Bytes input;
        Bytes profile;  // expected in the output
    } cases[] = {
        {"chunks in any order", WithSegments(picture, IccSegments(rgb, 3, {2, 3, 1}) + others), rgb},
        {"one chunk", WithSegments(picture, IccSegments(small, 1, {1})), small},
        {"PNG iCCP", RgbPng(16, 8, small), small},
        {"CMYK profile", WithSegments(picture, IccSegments(IccProfile(1000, "CMYK"), 1, {1})), {}},
        {"grey profile", WithSegments(picture, IccSegments(IccProfile(1000, "GRAY"), 1, {1})), {}},
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
        EXPECT_EQ(CountOf(segments, 0xE1), 0);  // no EXIF (no GPS position), no XMP
    }
}

TEST(ColourProfile, KeepMetadataCarriesExifAndXmpBroughtUpToDate)
{
    TempDir dir;
    const std::string xmp = "<x:xmpmeta><rdf:Description tiff:Orientation=\"6\"/></x:xmpmeta>";
    WriteFileBytes(dir / "in.jpg",
                   WithSegments(JpegOf(AsymmetricPicture(40, 20)),
                                Segment(0xE1, "", CameraExif()) +
                                    Segment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29),
                                            Bytes(xmp.begin(), xmp.end()))));
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
        ASSERT_EQ(CountOf(segments, 0xE1), 2);
        const Bytes& exif = segments[1].payload;  // after JFIF
        ExifData* data = exif_data_new();
        ASSERT_NE(data, nullptr);
        exif_data_unset_option(data, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
        exif_data_load_data(data, exif.data(), static_cast<unsigned>(exif.size()));
        const ExifByteOrder order = exif_data_get_byte_order(data);
        const auto value = [&](ExifIfd ifd, ExifTag tag) -> long {
            ExifEntry* e = exif_content_get_entry(data->ifd[ifd], tag);
            if (!e) return -1;
            return e->format == EXIF_FORMAT_LONG ? long(exif_get_long(e->data, order))
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
