#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <vector>

#include "PhotoFixtures.h"
#include "PictureDecoders.h"
#include "TestSupport.h"

using kxtest::Image;
using kxtest::PixelAt;

namespace {

// One kind stands for all: every colour JPEG takes the same library call.
TEST(DecodeJpeg, MatchesBareDecodeUpright)
{
    const Image picture = kxtest::AsymmetricPicture(37, 23);  // odd width: rows carry padding
    kxtest::TempDir dir;
    kxtest::EncodeJpegFile(dir / "p.jpg", picture, 90, TJSAMP_420, false);
    kx::cDIBSection surface;
    ASSERT_TRUE(kx::DecodeJpeg(kxtest::ReadFileBytes(dir / "p.jpg"), surface));
    const Image bare = kxtest::DecodeJpegFile(dir / "p.jpg");  // top-down
    ASSERT_EQ(surface.Width(), bare.width);
    ASSERT_EQ(surface.Height(), bare.height);
    int differing = 0;
    for (int y = 0; y < bare.height; ++y)
        for (int x = 0; x < bare.width; ++x) differing += PixelAt(surface, x, y) != bare.At(x, y);
    EXPECT_EQ(differing, 0);
    // The picture's black top-left pixel sits at the start of the top memory
    // row (rows are bottom-up); within 12 of it at quality 90.
    const uint8_t* top = surface.Row(surface.Height() - 1);
    EXPECT_LE(std::max({top[0], top[1], top[2]}), 12);
}

// The offset of the first marker FF <code> after the start of the file.
size_t FindMarker(const std::vector<uint8_t>& file, uint8_t code)
{
    for (size_t i = 2; i + 9 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == code) return i;
    return 0;
}

TEST(DecodeJpeg, TruncatedFileKeepsTheDecodedPart)
{
    const auto file = kxtest::JpegOf(kxtest::AsymmetricPicture(64, 128));
    const size_t scan = FindMarker(file, 0xDA);
    ASSERT_NE(scan, 0u);
    // Half of the entropy-coded data: the upper MCU rows are complete.
    const std::vector<uint8_t> cut(file.begin(), file.begin() + scan + (file.size() - scan) / 2);
    kx::cDIBSection full, partial;
    ASSERT_TRUE(kx::DecodeJpeg(file, full));
    ASSERT_TRUE(kx::DecodeJpeg(cut, partial));
    for (int x = 0; x < 64; ++x) EXPECT_EQ(PixelAt(partial, x, 0), PixelAt(full, x, 0));
}

std::vector<uint8_t> Patched(std::vector<uint8_t> file, size_t offset, std::vector<uint8_t> bytes)
{
    std::copy(bytes.begin(), bytes.end(), file.begin() + offset);
    return file;
}

TEST(DecodeJpeg, HostileFilesFail)
{
    const auto good = kxtest::JpegOf(kxtest::AsymmetricPicture(16, 16));
    const size_t sof = FindMarker(good, 0xC0);  // FF C0, length, precision, height, width
    ASSERT_NE(sof, 0u);
    const struct {
        const char* name;
        std::vector<uint8_t> file;
    } cases[] = {
        {"jpeg_header_zero_width", Patched(good, sof + 7, {0, 0})},
        {"jpeg_lossless_frame", Patched(good, sof + 1, {0xC3})},
        {"jpeg_precision_12", Patched(good, sof + 4, {12})},
        {"jpeg_truncated_in_header", std::vector<uint8_t>(good.begin(), good.begin() + sof + 6)},
        {"jpeg_no_frame", {0xFF, 0xD8, 0xFF, 0xD9}},
        {"not_a_jpeg", std::vector<uint8_t>(64, 0xFF)},
        {"empty_file", {}},
    };
    for (const auto& c : cases) {
        kx::cDIBSection surface;
        EXPECT_FALSE(kx::DecodeJpeg(c.file, surface)) << c.name;
    }
}

}  // namespace
