// What travels from a camera photo into its resized copy: the RGB colour profile, whole and in order,
// and by default nothing else; with KeepMetadata the EXIF record (orientation, preview and pixel
// dimensions brought up to date) and the XMP packet.
#include <gtest/gtest.h>
#include <lcms2.h>
#include <libexif/exif-data.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/files/ColourManagement.h"
#include "engine/files/PictureLoader.h"
#include "engine/files/PictureWriters.h"
#include "engine/files/RowSources.h"
#include "engine/operations/modMain.h"
#include "tests/support/PhotoFixtures.h"

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

// An EXIF record as a camera writes it, big-endian, as a whole APP1 payload.
// IFD entries: tag, type (2 ASCII, 3 SHORT, 4 LONG), count, value left-justified.
Bytes CameraExif()
{
    Bytes exif = Concat({Hex("457869660000 4d4d 002a 00000008"),  // "Exif", TIFF header, IFD0 at 8
                         // IFD0: orientation 6, the EXIF IFD at 80, the GPS IFD at 110; IFD1 at 50.
                         Hex("0003 0112 0003 00000001 00060000 8769 0004 00000001 00000050"
                             "     8825 0004 00000001 0000006e 00000032"),
                         // IFD1: a 500-byte preview at 128.
                         Hex("0002 0201 0004 00000001 00000080 0202 0004 00000001 000001f4 00000000"),
                         // EXIF IFD: pixel dimensions 40 (LONG) x 20 (SHORT).
                         Hex("0002 a002 0004 00000001 00000028 a003 0003 00000001 00140000 00000000"),
                         // GPS IFD: latitude reference "N".
                         Hex("0001 0001 0002 00000002 4e000000 00000000")});
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

// lcms2's own conversion of `pixels` samples of `type` in `profile` to sRGB BGR.
Bytes ToSrgb(const Bytes& profile, cmsUInt32Number type, const uint8_t* in, int pixels)
{
    Bytes out(pixels * 3);
    cmsHPROFILE from = cmsOpenProfileFromMem(profile.data(), profile.size()), srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = cmsCreateTransform(from, type, srgb, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
    cmsDoTransform(transform, in, out.data(), pixels);
    cmsDeleteTransform(transform), cmsCloseProfile(from), cmsCloseProfile(srgb);
    return out;
}

// The mean difference of two pictures of the same size, in levels a channel.
double MeanDifference(const kx::cDIBSection& a, const kx::cDIBSection& b)
{
    double sum = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width() * 3; ++x) sum += std::abs(a.PictureRow(y)[x] - b.PictureRow(y)[x]);
    return sum / (a.Width() * a.Height() * 3);
}

TEST(ColourProfile, CmykAndLabGoToSrgbThroughTheirProfileAsLcms2Does)
{
    const std::string press = "/usr/share/color/icc/ghostscript/ps_cmyk.icc";  // libgs-common's
    if (!std::filesystem::exists(press) || !std::filesystem::exists(kx::kStandardCmykProfile))
        GTEST_SKIP() << "libgs-common's profiles are missing";
    const Bytes profile = ReadFileBytes(press), standard = ReadFileBytes(kx::kStandardCmykProfile);
    cmsHPROFILE labProfile = cmsCreateLab4Profile(nullptr);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(labProfile, nullptr, &size);
    Bytes lab4(size);
    cmsSaveProfileToMem(labProfile, lab4.data(), &size);
    cmsCloseProfile(labProfile);
    // Smooth inks (0: no ink), as TIFF stores them, also in 16 bits; Lab in the ICC encoding, as
    // TIFF's CIELAB (a and b signed; L up to 0xFFFF in 16 bits) and as lcms2's doubles.
    const int w = 48, h = 32;
    Bytes inks(w * h * 4), adobe(inks.size()), inks16(inks.size() * 2), lab(w * h * 3), cielab(lab.size()),
        cielab16(lab.size() * 2), labDouble(lab.size() * 8);
    for (int i = 0; i < w * h; ++i) {
        const int x = i % w, y = i / w;
        for (int c = 0; c < 4; ++c) {
            inks[i * 4 + c] = uint8_t((x * (c + 2) + y * (5 - c)) % 200);
            adobe[i * 4 + c] = 255 - inks[i * 4 + c];
            const uint16_t deep = uint16_t(inks[i * 4 + c] * 257 + x * 3);
            std::memcpy(&inks16[(i * 4 + c) * 2], &deep, 2);
        }
        const int l = 40 + x * 4, a = (x * 5 + y * 3) % 100 - 50, b = (y * 6 + x) % 120 - 60;
        const uint8_t icc8[3] = {uint8_t(l), uint8_t(a + 128), uint8_t(b + 128)},
                      tiff8[3] = {uint8_t(l), uint8_t(a), uint8_t(b)};
        const uint16_t tiff16[3] = {uint16_t(l * 257), uint16_t(a * 256), uint16_t(b * 256)};
        const double exact[3] = {l * 100.0 / 255, double(a), double(b)};
        std::memcpy(&lab[i * 3], icc8, 3), std::memcpy(&cielab[i * 3], tiff8, 3);
        std::memcpy(&cielab16[i * 6], tiff16, 6), std::memcpy(&labDouble[i * 24], exact, 24);
    }
    // JPEGs as libjpeg-turbo writes them; lcms2 gets the samples they decode to.
    const auto jpeg = [&](const Bytes& samples, int format, const Bytes& icc, Bytes& decoded) {
        const auto handle = [](tjhandle t) { return std::unique_ptr<void, int (*)(tjhandle)>(t, tjDestroy); };
        unsigned char* encoded = nullptr;
        unsigned long length = 0;
        tjCompress2(handle(tjInitCompress()).get(), samples.data(), w, 0, h, format, &encoded, &length,
                    TJSAMP_444, 95, 0);
        const Bytes file =
            WithSegments(Bytes(encoded, encoded + length), icc.empty() ? Bytes{} : IccSegments(icc, 1, {1}));
        tjFree(encoded);
        decoded.resize(samples.size());
        tjDecompress2(handle(tjInitDecompress()).get(), file.data(), file.size(), decoded.data(), w, 0, h,
                      format, 0);
        return file;
    };
    Bytes cmykDecoded, plainDecoded, labDecoded;
    const TiffLayout cmykTiff{.width = w, .height = h, .channels = 4, .photometric = PHOTOMETRIC_SEPARATED};
    TiffLayout cmyk16 = cmykTiff, cmykWithProfile = cmykTiff, labTiff = cmykTiff;
    cmyk16.bits = 16, cmyk16.tiled = true, cmykWithProfile.icc = profile;
    labTiff.channels = 3, labTiff.photometric = PHOTOMETRIC_CIELAB, labTiff.tiled = true;
    TiffLayout iccLab = labTiff, lab16 = labTiff;
    iccLab.photometric = PHOTOMETRIC_ICCLAB, iccLab.tiled = false, iccLab.icc = lab4;
    lab16.bits = 16, lab16.tiled = false;
    const struct {
        const char* name;
        Bytes file;
        const Bytes& profile;  // lcms2's
        cmsUInt32Number type;
        const Bytes& samples;
    } cases[] = {
        {"CMYK JPEG with its profile", jpeg(adobe, TJPF_CMYK, profile, cmykDecoded), profile, TYPE_CMYK_8_REV,
         cmykDecoded},
        {"CMYK JPEG, standard profile", jpeg(adobe, TJPF_CMYK, {}, plainDecoded), standard, TYPE_CMYK_8_REV,
         plainDecoded},
        {"CMYK TIFF with its profile", TiffOf(cmykWithProfile, inks), profile, TYPE_CMYK_8, inks},
        {"CMYK TIFF, standard profile", TiffOf(cmykTiff, inks), standard, TYPE_CMYK_8, inks},
        {"16-bit tiled CMYK TIFF, standard profile", TiffOf(cmyk16, inks16), standard, TYPE_CMYK_16, inks16},
        {"tiled CIELAB TIFF", TiffOf(labTiff, cielab), lab4, TYPE_Lab_8, lab},
        {"ICCLAB TIFF with its profile", TiffOf(iccLab, lab), lab4, TYPE_Lab_8, lab},
        {"16-bit CIELAB TIFF", TiffOf(lab16, cielab16), lab4, TYPE_Lab_DBL, labDouble},
        {"Lab JPEG with its profile", jpeg(lab, TJPF_RGB, lab4, labDecoded), lab4, TYPE_Lab_8, labDecoded},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(dir / "in", c.file);
        // lcms2's own conversion, also as a PNG to reduce as the engine reduces.
        const Bytes want = ToSrgb(c.profile, c.type, c.samples.data(), w * h);
        kx::cDIBSection wanted, got, reduced;
        ASSERT_TRUE(wanted.Create(w, h));
        for (int y = 0; y < h; ++y) std::memcpy(wanted.PictureRow(y), &want[y * w * 3], w * 3);
        WriteFileBytes(dir / "want.png", kx::EncodeSurface(wanted, kx::OutputFormat::Png, 90, {}));
        kx::PictureMetadata metadata;
        ASSERT_EQ(kx::LoadReducedPicture(dir / "want.png", {36, 24}, reduced, metadata),
                  kx::StreamOutcome::Done);
        // Through the profile within 2 levels mean, the whole picture and its streamed reduction.
        for (const bool managed : {true, false}) {
            kx::SetCmykThroughProfile(managed);
            // The classic mode reads no ICCLAB, and turns CMYK as each ink times black.
            const double whole =
                kx::LoadPicture(dir / "in", got, metadata, true) ? MeanDifference(got, wanted) : 255;
            const bool streams =
                kx::LoadReducedPicture(dir / "in", {36, 24}, got, metadata) == kx::StreamOutcome::Done;
            const double streamed = streams ? MeanDifference(got, reduced) : 255;
            EXPECT_EQ(whole <= 2, managed) << whole;
            EXPECT_EQ(streamed <= 2, managed) << streamed;
        }
    }
    kx::SetCmykThroughProfile(false);
    // The classic mode turns 16-bit inks as libtiff turns 8-bit ones.
    Bytes wide(inks16.size());
    for (size_t i = 0; i < inks.size(); ++i) {
        const uint16_t deep = uint16_t(inks[i] * 257);
        std::memcpy(&wide[i * 2], &deep, 2);
    }
    kx::cDIBSection narrowPicture, widePicture;
    kx::PictureMetadata metadata;
    WriteFileBytes(dir / "8.tif", TiffOf(cmykTiff, inks));
    WriteFileBytes(dir / "16.tif", TiffOf(cmyk16, wide));
    ASSERT_TRUE(kx::LoadPicture(dir / "8.tif", narrowPicture, metadata, true));
    ASSERT_TRUE(kx::LoadPicture(dir / "16.tif", widePicture, metadata, true));
    EXPECT_EQ(MeanDifference(widePicture, narrowPicture), 0);
}

TEST(ColourProfile, SrgbConvertsADisplayP3PictureAndWritesNoProfileOrLcms2sSrgb)
{
    // Display P3: its primaries, D65 and the sRGB curve.
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsCIExyYTRIPLE primaries{{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
    const double curve[] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* tone = cmsBuildParametricToneCurve(nullptr, 4, curve);
    cmsToneCurve* tones[] = {tone, tone, tone};
    cmsHPROFILE p3 = cmsCreateRGBProfile(&white, &primaries, tones);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(p3, nullptr, &size);
    Bytes profile(size);
    cmsSaveProfileToMem(p3, profile.data(), &size);
    cmsFreeToneCurve(tone), cmsCloseProfile(p3);
    const uint8_t colour[3] = {50, 100, 200};  // blue, green, red
    const Bytes want = ToSrgb(profile, TYPE_BGR_8, colour, 1);
    TempDir dir;
    kx::cDIBSection picture;
    ASSERT_TRUE(picture.Create(16, 8));
    FillPicture(picture, [&](int, int) { return Bgr{colour[0], colour[1], colour[2]}; });
    WriteFileBytes(dir / "p3.png",
                   kx::EncodeSurface(picture, kx::OutputFormat::Png, 90, {1, profile, {}, {}}));
    // Kept as it is by default; in sRGB with no profile, or with lcms2's.
    const std::tuple<int, Bgr, Bytes> cases[] = {{0, {colour[0], colour[1], colour[2]}, profile},
                                                 {1, {want[0], want[1], want[2]}, {}},
                                                 {2, {want[0], want[1], want[2]}, kx::SrgbProfile()}};
    for (const auto& [srgbOutput, pixel, written] : cases) {
        kx::EngineSettings settings;
        settings.Srgb = srgbOutput;
        settings.Format = kx::OutputFormat::Png;
        ASSERT_TRUE(kx::ResizeMaxWidth(dir / "p3.png", dir / "out.png", 8, 90, settings));
        kx::PictureMetadata metadata;
        ASSERT_TRUE(kx::LoadPicture(dir / "out.png", picture, metadata, true));
        EXPECT_EQ(PixelAt(picture, 3, 3), pixel) << srgbOutput;
        EXPECT_EQ(metadata.IccProfile, written) << srgbOutput;
    }
    EXPECT_NE(PixelAt(picture, 3, 3), (Bgr{colour[0], colour[1], colour[2]}));
}
