#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "ResamplePaths.h"
#include "TestSupport.h"
#include "cDIBSection.h"

using namespace kx;
using kxtest::Bgr;
using kxtest::PixelAt;
using kxtest::RaisedNumber;

TEST(SurfaceLifeCycle, CreateClearUpAndRefusedSizes)
{
    cDIBSection s;
    ASSERT_TRUE(s.Create(5, 5));
    std::memset(s.DIBSectionBitsPtr(), 0xAB, 5 * 16);
    ASSERT_TRUE(s.Create(3, 2));             // a new black surface in place of the old one
    EXPECT_EQ(s.Header().biSizeImage, 24u);  // rows of 9 bytes padded to 12
    EXPECT_EQ(s.BytesPerScanLine(), 12);
    EXPECT_EQ(std::vector<uint8_t>(s.DIBSectionBitsPtr(), s.DIBSectionBitsPtr() + 24),
              std::vector<uint8_t>(24));
    s.ClearUp();  // keeps the size, releases everything
    EXPECT_EQ(s.hdc(), nullptr);
    EXPECT_EQ(s.hDib(), nullptr);
    EXPECT_EQ(s.DIBSectionBitsPtr(), nullptr);
    EXPECT_EQ(std::pair(s.Width(), s.Height()), std::pair(3, 2));

    EXPECT_FALSE(s.Create(0, 10));  // refused: empty, showing the request
    EXPECT_EQ(s.hdc(), nullptr);
    EXPECT_EQ(std::pair(s.Width(), s.Height()), std::pair(0, 10));
    EXPECT_FALSE(s.Create(-4, 10));
    EXPECT_FALSE(s.Create(10, -4));
    EXPECT_FALSE(s.IsLive());
    EXPECT_EQ(RaisedNumber([&] { s.Create(40000, 40000); }), errOverflow);  // beyond 32-bit byte counts
    EXPECT_EQ(RaisedNumber([&] { s.Create(INT32_MAX, 1); }), errOverflow);
    EXPECT_EQ(s.DIBSectionBitsPtr(), nullptr);
}

TEST(SurfaceLifeCycle, ReusedMemoryStartsBlackAgain)
{
    // Large buffers are kept for the next surface: it must not see old pixels.
    for (int round = 0; round < 3; ++round) {
        cDIBSection s;
        ASSERT_TRUE(s.Create(1000, 600 + round));
        const size_t bytes = static_cast<size_t>(s.BytesPerScanLine()) * s.Height();
        for (size_t i = 0; i < bytes; i += 4093) ASSERT_EQ(s.DIBSectionBitsPtr()[i], 0) << round;
        ASSERT_EQ(s.DIBSectionBitsPtr()[bytes - 1], 0);
        std::memset(s.DIBSectionBitsPtr(), 0xEE, bytes);
    }
}

TEST(BlockCopy, PictureCoordinatesOnBottomUpRowsClippedToBothPictures)
{
    cDIBSection source, big, small, copy;
    ASSERT_TRUE(source.Create(4, 4));
    ASSERT_TRUE(big.Create(10, 6));
    ASSERT_TRUE(small.Create(3, 3));
    kxtest::FillPicture(source, [](int x, int y) { return Bgr{uint8_t(10 + x), uint8_t(20 + y), 7}; });
    source.PaintPicture(big.hdc(), 4, 2, -1, -1, 0, 0, SRCCOPY);
    // The top-left pixel lands at picture (4, 2): memory row 6 - 3 = 3, bytes 12..14.
    EXPECT_EQ((Bgr{big.Row(3)[12], big.Row(3)[13], big.Row(3)[14]}), (Bgr{10, 20, 7}));
    EXPECT_EQ(PixelAt(big, 7, 5), (Bgr{13, 23, 7}));
    EXPECT_EQ(PixelAt(big, 3, 2), (Bgr{0, 0, 0}));
    EXPECT_EQ(PixelAt(big, 8, 2), (Bgr{0, 0, 0}));

    source.PaintPicture(small.hdc(), -2, 1, -1, -1, 0, 0, SRCCOPY);
    EXPECT_EQ(PixelAt(small, 0, 1), (Bgr{12, 20, 7}));
    EXPECT_EQ(PixelAt(small, 1, 2), (Bgr{13, 21, 7}));
    EXPECT_EQ(PixelAt(small, 2, 1), (Bgr{0, 0, 0}));
    EXPECT_EQ(PixelAt(small, 0, 0), (Bgr{0, 0, 0}));
    small.LoadPictureBlt(source.hdc(), 3, 3, -1, -1, SRCCOPY);
    EXPECT_EQ(PixelAt(small, 0, 0), (Bgr{13, 23, 7}));
    EXPECT_EQ(PixelAt(small, 1, 0), (Bgr{0, 0, 0}));  // only one source pixel was left

    copy.CreateFromPicture(source);
    ASSERT_EQ(std::pair(copy.Width(), copy.Height()), std::pair(4, 4));
    EXPECT_EQ(std::memcmp(copy.DIBSectionBitsPtr(), source.DIBSectionBitsPtr(), 4 * 12), 0);
}

// Worked examples: one channel shown, memory rows bottom first.
TEST(Resample, WorkedExamplesGiveTheExactBytes)
{
    using Rows = std::vector<std::vector<int>>;
    const struct {
        Rows source;
        Long width, height;
        Rows expected;
    } cases[] = {
        // Two roundings, halves to even: row 1 has A = round(10.5) = 10, B = round(20.5) = 20.
        {{{10, 20}, {11, 21}}, 4, 2, {{10, 12, 15, 18}, {10, 12, 15, 18}}},
        {{{0, 255}, {255, 0}},
         4,
         4,
         {{0, 64, 128, 191}, {64, 96, 128, 159}, {128, 128, 128, 128}, {191, 159, 128, 96}}},
        // sx = sy = 0.33333334 in single precision.
        {{{10, 20}, {11, 21}}, 3, 3, {{10, 13, 17}, {10, 13, 17}, {11, 14, 18}}},
    };
    for (const auto& c : cases) {
        cDIBSection source;
        ASSERT_TRUE(source.Create(2, 2));
        for (Long r = 0; r < 2; ++r)
            for (Long x = 0; x < 2; ++x) source.Row(r)[3 * x] = static_cast<uint8_t>(c.source[r][x]);
        const auto result = source.Resample(c.height, c.width);
        ASSERT_TRUE(result);
        Rows blue(static_cast<size_t>(result->Height()));
        for (Long r = 0; r < result->Height(); ++r)
            for (Long x = 0; x < result->Width(); ++x) blue[r].push_back(result->Row(r)[3 * x]);
        EXPECT_EQ(blue, c.expected);
    }
}

TEST(Resample, AllChannelsAndRowEndBytes)
{
    cDIBSection source;
    ASSERT_TRUE(source.Create(2, 2));
    // Bottom row (10, 20) in blue; green and red offset.
    kxtest::FillPicture(source, [](int x, int y) {
        const uint8_t v = static_cast<uint8_t>(10 + 10 * x + (y == 0 ? 1 : 0));
        return Bgr{v, uint8_t(v + 100), uint8_t(v + 200)};
    });
    const auto result = source.Resample(2, 5);  // width 5: one row-end byte per row
    ASSERT_TRUE(result);
    // sx = 1/5 = 0.2f: positions 0, .2, .4, .6, .8 on row 0.
    const std::vector<uint8_t> row0 = {10,  110, 210, 12,  112, 212, 14,  114,
                                       214, 16,  116, 216, 18,  118, 218, 0};
    EXPECT_EQ(std::vector<uint8_t>(result->Row(0), result->Row(0) + 16), row0);
    EXPECT_EQ(result->Row(1)[15], 0);

    cDIBSection picture;  // at its own size: a byte-identical copy
    ASSERT_TRUE(picture.Create(7, 5));
    kxtest::FillPicture(picture, [](int x, int y) {
        return Bgr{uint8_t(x * 37), uint8_t(y * 51), uint8_t(x ^ y)};
    });
    const auto copy = picture.Resample(5, 7);
    ASSERT_TRUE(copy);
    EXPECT_EQ(std::memcmp(copy->DIBSectionBitsPtr(), picture.DIBSectionBitsPtr(), 5 * 24), 0);
}

TEST(Resample, OnePixelWideOrHighSourcesAndRefusedSizes)
{
    cDIBSection thin, flat;
    ASSERT_TRUE(thin.Create(1, 5));
    ASSERT_TRUE(flat.Create(5, 1));
    EXPECT_EQ(RaisedNumber([&] { thin.Resample(5, 3); }), errSubscript);
    EXPECT_EQ(RaisedNumber([&] { flat.Resample(3, 5); }), errSubscript);
    EXPECT_TRUE(thin.Resample(5, 1));  // at its own size: copied without error
    EXPECT_EQ(flat.Resample(4, 0), nullptr);
    EXPECT_EQ(flat.Resample(0, 4), nullptr);
}

namespace {

// The resampling rule evaluated pixel by pixel, straight from its definition,
// with the run time's rounding; the engine's precomputed version must match.
uint8_t ReferencePixel(const cDIBSection& s, Long wd, Long hd, Long x, Long y, int c)
{
    const float sx = static_cast<float>(static_cast<double>(s.Width() - 1) / wd);
    const float sy = static_cast<float>(static_cast<double>(s.Height() - 1) / hd);
    const float fy = static_cast<float>(static_cast<double>(sy) * y);
    const float fx = static_cast<float>(static_cast<double>(sx) * x);
    const int iy = static_cast<int>(std::floor(fy)), ix = static_cast<int>(std::floor(fx));
    const float dy = fy - static_cast<float>(iy), dx = fx - static_cast<float>(ix);
    auto S = [&](int p, int q) { return static_cast<double>(s.Row(q)[3 * p + c]); };
    const double a = RoundHalfEven((1.0 - dy) * S(ix, iy) + static_cast<double>(dy) * S(ix, iy + 1));
    const double b = RoundHalfEven((1.0 - dy) * S(ix + 1, iy) + static_cast<double>(dy) * S(ix + 1, iy + 1));
    const double v = RoundHalfEven((1.0 - dx) * a + static_cast<double>(dx) * b);
    return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
}

void MatchesThePixelByPixelRuleOnNoise()
{
    const std::pair<Long, Long> sources[] = {{2, 2}, {3, 7}, {17, 11}, {64, 48}, {101, 3}};
    const std::pair<Long, Long> targets[] = {{1, 1}, {5, 3}, {13, 29}, {40, 30}, {200, 150}, {7, 100}};
    uint32_t seed = 12345;
    for (auto [ws, hs] : sources) {
        cDIBSection source;
        ASSERT_TRUE(source.Create(ws, hs));
        for (Long i = 0; i < source.BytesPerScanLine() * hs; ++i) {
            seed = seed * 1664525u + 1013904223u;
            source.DIBSectionBitsPtr()[i] = static_cast<uint8_t>(seed >> 24);
        }
        for (Long r = 0; r < hs; ++r)  // row-end bytes are never pixels
            for (Long b = 3 * ws; b < source.BytesPerScanLine(); ++b) source.Row(r)[b] = 0;
        for (auto [wd, hd] : targets) {
            if (wd == ws && hd == hs) continue;
            auto result = source.Resample(hd, wd);
            ASSERT_TRUE(result);
            for (Long y = 0; y < hd; ++y)
                for (Long x = 0; x < wd; ++x)
                    for (int c = 0; c < 3; ++c)
                        ASSERT_EQ(result->Row(y)[3 * x + c], ReferencePixel(source, wd, hd, x, y, c))
                            << ws << "x" << hs << " -> " << wd << "x" << hd << " at " << x << "," << y;
        }
    }
}

}  // namespace

TEST(Resample, BothPathsMatchThePixelByPixelRuleOnNoise)
{
    for (const bool plain : {true, false}) {
        SCOPED_TRACE(plain ? "plain path" : "AVX2 path where the processor has it");
        kx::ForcePlainResample(plain);
#if defined(__x86_64__)
        EXPECT_EQ(kx::ResampleUsesAvx2(), !plain && __builtin_cpu_supports("avx2") != 0);
#endif
        MatchesThePixelByPixelRuleOnNoise();
    }
    kx::ForcePlainResample(false);
}
