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

namespace {

// Sets the blue bytes of a surface from memory rows listed bottom row first.
void SetBlueRows(cDIBSection& s, const std::vector<std::vector<int>>& rows)
{
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t x = 0; x < rows[r].size(); ++x)
            s.Row(static_cast<Long>(r))[3 * x] = static_cast<uint8_t>(rows[r][x]);
}

std::vector<std::vector<int>> BlueRows(const cDIBSection& s)
{
    std::vector<std::vector<int>> rows(static_cast<size_t>(s.Height()));
    for (Long r = 0; r < s.Height(); ++r)
        for (Long x = 0; x < s.Width(); ++x) rows[static_cast<size_t>(r)].push_back(s.Row(r)[3 * x]);
    return rows;
}

}  // namespace

TEST(BytesPerScanLine, RoundsThreeBytesAPixelUpToFour)
{
    const std::pair<Long, Long> cases[] = {{1, 4},  {2, 8},      {3, 12},    {4, 12},
                                           {5, 16}, {640, 1920}, {641, 1924}};
    for (auto [width, expected] : cases) {
        cDIBSection s;
        ASSERT_TRUE(s.Create(width, 1));
        EXPECT_EQ(s.BytesPerScanLine(), expected) << "width " << width;
    }
}

TEST(SurfaceLifeCycle, NewSurfaceIsBlackAndDescribedByItsHeader)
{
    cDIBSection s;
    EXPECT_EQ(s.Width(), 0);
    EXPECT_EQ(s.hdc(), nullptr);
    ASSERT_TRUE(s.Create(3, 2));
    EXPECT_EQ(s.Header().biSizeImage, 24u);
    EXPECT_NE(s.hdc(), nullptr);
    EXPECT_NE(s.hDib(), nullptr);
    const uint8_t* bits = s.DIBSectionBitsPtr();
    for (int i = 0; i < 24; ++i) EXPECT_EQ(bits[i], 0) << i;
}

TEST(SurfaceLifeCycle, CreateOnALiveSurfaceDiscardsItsPixels)
{
    cDIBSection s;
    ASSERT_TRUE(s.Create(5, 5));
    std::memset(s.DIBSectionBitsPtr(), 0xAB, 5 * 16);
    ASSERT_TRUE(s.Create(10, 10));
    EXPECT_EQ(s.Width(), 10);
    for (int i = 0; i < 10 * 32; ++i) ASSERT_EQ(s.DIBSectionBitsPtr()[i], 0) << i;
}

TEST(SurfaceLifeCycle, ClearUpKeepsTheSizeButReleasesEverything)
{
    cDIBSection s;
    ASSERT_TRUE(s.Create(7, 3));
    s.ClearUp();
    EXPECT_EQ(s.hdc(), nullptr);
    EXPECT_EQ(s.hDib(), nullptr);
    EXPECT_EQ(s.DIBSectionBitsPtr(), nullptr);
    EXPECT_EQ(s.Width(), 7);
    EXPECT_EQ(s.Height(), 3);
}

TEST(SurfaceLifeCycle, RefusedSizesLeaveTheSurfaceEmptyShowingTheRequest)
{
    cDIBSection s;
    EXPECT_FALSE(s.Create(0, 10));
    EXPECT_EQ(s.hdc(), nullptr);
    EXPECT_EQ(s.Width(), 0);
    EXPECT_EQ(s.Height(), 10);
    EXPECT_FALSE(s.Create(-4, 10));
    EXPECT_FALSE(s.Create(10, -4));
    EXPECT_FALSE(s.IsLive());
}

TEST(SurfaceLifeCycle, ByteCountBeyond32BitsRaisesOverflow)
{
    cDIBSection s;
    EXPECT_EQ(kxtest::RaisedNumber([&] { s.Create(40000, 40000); }), errOverflow);
    EXPECT_EQ(kxtest::RaisedNumber([&] { s.Create(INT32_MAX, 1); }), errOverflow);
    EXPECT_EQ(s.DIBSectionBitsPtr(), nullptr);
    s.ClearUp();
    EXPECT_EQ(s.hdc(), nullptr);
}

TEST(BlockCopy, PaintPictureUsesPictureCoordinatesOnBottomUpRows)
{
    cDIBSection small, big;
    ASSERT_TRUE(small.Create(2, 2));
    ASSERT_TRUE(big.Create(10, 6));
    kxtest::FillPicture(small, [](int x, int y) { return Bgr{uint8_t(10 + x), uint8_t(20 + y), 30}; });
    small.PaintPicture(big.hdc(), 4, 2, -1, -1, 0, 0, SRCCOPY);
    // The top-left pixel lands at picture (4, 2): memory row 6 - 3 = 3, bytes 12..14.
    const uint8_t* row = big.Row(3);
    EXPECT_EQ(row[12], 10);
    EXPECT_EQ(row[13], 20);
    EXPECT_EQ(row[14], 30);
    EXPECT_EQ(kxtest::PixelAt(big, 5, 3), (Bgr{11, 21, 30}));
    EXPECT_EQ(kxtest::PixelAt(big, 3, 2), (Bgr{0, 0, 0}));
    EXPECT_EQ(kxtest::PixelAt(big, 6, 2), (Bgr{0, 0, 0}));
}

TEST(BlockCopy, CreateFromPictureKeepsTheTopRowOnTop)
{
    cDIBSection picture, copy;
    ASSERT_TRUE(picture.Create(7, 3));
    kxtest::FillPicture(picture, [](int x, int y) { return Bgr{uint8_t(x), uint8_t(y), 99}; });
    copy.CreateFromPicture(picture);
    ASSERT_EQ(copy.Width(), 7);
    ASSERT_EQ(copy.Height(), 3);
    // Memory row 0 holds the bottom row; the top-left pixel is bytes 0..2 of row 2.
    EXPECT_EQ(copy.Row(0)[1], 2);
    EXPECT_EQ(copy.Row(2)[0], 0);
    EXPECT_EQ(copy.Row(2)[1], 0);
    EXPECT_EQ(copy.Row(2)[2], 99);
    EXPECT_EQ(std::memcmp(copy.DIBSectionBitsPtr(), picture.DIBSectionBitsPtr(), 3 * 24), 0);
}

TEST(BlockCopy, RectanglesReachingOutsideEitherPictureAreClipped)
{
    cDIBSection source, target;
    ASSERT_TRUE(source.Create(4, 4));
    ASSERT_TRUE(target.Create(3, 3));
    kxtest::FillPicture(source, [](int x, int y) { return Bgr{uint8_t(x), uint8_t(y), 7}; });
    source.PaintPicture(target.hdc(), -2, 1, -1, -1, 0, 0, SRCCOPY);
    EXPECT_EQ(kxtest::PixelAt(target, 0, 1), (Bgr{2, 0, 7}));
    EXPECT_EQ(kxtest::PixelAt(target, 1, 2), (Bgr{3, 1, 7}));
    EXPECT_EQ(kxtest::PixelAt(target, 2, 1), (Bgr{0, 0, 0}));
    EXPECT_EQ(kxtest::PixelAt(target, 0, 0), (Bgr{0, 0, 0}));
    target.LoadPictureBlt(source.hdc(), 3, 3, -1, -1, SRCCOPY);
    EXPECT_EQ(kxtest::PixelAt(target, 0, 0), (Bgr{3, 3, 7}));
    EXPECT_EQ(kxtest::PixelAt(target, 1, 0), (Bgr{0, 0, 0}));  // only one source pixel was left
}

// Worked examples: one channel shown, memory rows bottom first.
struct ResampleCase {
    const char* name;
    std::vector<std::vector<int>> source;
    Long width, height;
    std::vector<std::vector<int>> expected;
};

void PrintTo(const ResampleCase& c, std::ostream* os) { *os << c.name; }

class ResampleExamples : public testing::TestWithParam<ResampleCase> {};

TEST_P(ResampleExamples, GiveTheExactBytes)
{
    const auto& c = GetParam();
    cDIBSection source;
    ASSERT_TRUE(source.Create(static_cast<Long>(c.source[0].size()), static_cast<Long>(c.source.size())));
    SetBlueRows(source, c.source);
    auto result = source.Resample(c.height, c.width);
    ASSERT_TRUE(result);
    EXPECT_EQ(BlueRows(*result), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, ResampleExamples,
    testing::Values(
        // Two roundings, halves to even: row 1 has A = round(10.5) = 10, B = round(20.5) = 20.
        ResampleCase{"TwoByTwoToFourByTwo", {{10, 20}, {11, 21}}, 4, 2, {{10, 12, 15, 18}, {10, 12, 15, 18}}},
        ResampleCase{"DiagonalToFourByFour",
                     {{0, 255}, {255, 0}},
                     4,
                     4,
                     {{0, 64, 128, 191}, {64, 96, 128, 159}, {128, 128, 128, 128}, {191, 159, 128, 96}}},
        // sx = sy = 0.33333334 in single precision.
        ResampleCase{"TwoByTwoToThreeByThree",
                     {{10, 20}, {11, 21}},
                     3,
                     3,
                     {{10, 13, 17}, {10, 13, 17}, {11, 14, 18}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Resample, EqualSizeIsAByteIdenticalCopy)
{
    cDIBSection source;
    ASSERT_TRUE(source.Create(7, 5));
    kxtest::FillPicture(source, [](int x, int y) {
        return Bgr{uint8_t(x * 37), uint8_t(y * 51), uint8_t(x ^ y)};
    });
    auto copy = source.Resample(5, 7);
    ASSERT_TRUE(copy);
    EXPECT_EQ(std::memcmp(copy->DIBSectionBitsPtr(), source.DIBSectionBitsPtr(), 5 * 24), 0);
}

TEST(Resample, HeightComesFirst)
{
    cDIBSection source;
    ASSERT_TRUE(source.Create(8, 8));
    auto result = source.Resample(3, 5);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->Width(), 5);
    EXPECT_EQ(result->Height(), 3);
}

TEST(Resample, AllChannelsAndRowEndBytes)
{
    cDIBSection source;
    ASSERT_TRUE(source.Create(2, 2));
    // Bottom row (10, 20), top row (11, 21) in blue; green and red offset.
    kxtest::FillPicture(source, [](int x, int y) {
        const uint8_t v = static_cast<uint8_t>(10 + 10 * x + (y == 0 ? 1 : 0));
        return Bgr{v, uint8_t(v + 100), uint8_t(v + 200)};
    });
    auto result = source.Resample(2, 5);  // width 5: one row-end byte per row
    ASSERT_TRUE(result);
    // sx = 1/5 = 0.2f: positions 0, .2, .4, .6, .8 on row 0 (10, 20).
    const int blue[] = {10, 12, 14, 16, 18};
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(result->Row(0)[3 * x], blue[x]) << x;
        EXPECT_EQ(result->Row(0)[3 * x + 1], blue[x] + 100) << x;
        EXPECT_EQ(result->Row(0)[3 * x + 2], blue[x] + 200) << x;
    }
    EXPECT_EQ(result->Row(0)[15], 0);
    EXPECT_EQ(result->Row(1)[15], 0);
}

TEST(Resample, OnePixelWideOrHighSourceRaisesSubscriptError)
{
    cDIBSection thin, flat;
    ASSERT_TRUE(thin.Create(1, 5));
    ASSERT_TRUE(flat.Create(5, 1));
    EXPECT_EQ(kxtest::RaisedNumber([&] { thin.Resample(5, 3); }), errSubscript);
    EXPECT_EQ(kxtest::RaisedNumber([&] { flat.Resample(3, 5); }), errSubscript);
    // At its own size a 1-pixel source is copied without error.
    EXPECT_TRUE(thin.Resample(5, 1));
}

TEST(Resample, RefusedSizeGivesNoSurface)
{
    cDIBSection source;
    ASSERT_TRUE(source.Create(4, 4));
    EXPECT_EQ(source.Resample(4, 0), nullptr);
    EXPECT_EQ(source.Resample(0, 4), nullptr);
}

TEST(Resample, LargeReductionSamplesSinglePoints)
{
    cDIBSection source;
    ASSERT_TRUE(source.Create(1000, 1000));
    kxtest::FillPicture(source, [](int x, int) { return Bgr{uint8_t(x % 256), 0, 0}; });
    auto result = source.Resample(10, 10);
    ASSERT_TRUE(result);
    // sx = 999 / 10 = 99.9f; column x samples 99.9x between two neighbours.
    for (int x = 0; x < 10; ++x) {
        const float fx = static_cast<float>(static_cast<double>(99.9f) * x);
        const int ix = static_cast<int>(fx);
        EXPECT_NEAR(result->Row(0)[3 * x], ix % 256 + (fx - ix), 1.0) << x;
    }
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

}  // namespace

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

TEST(Resample, BothPathsMatchThePixelByPixelRuleOnNoise)
{
    for (const bool plain : {true, false}) {
        SCOPED_TRACE(plain ? "plain path" : "AVX2 path where the processor has it");
        kx::ForcePlainResample(plain);
        MatchesThePixelByPixelRuleOnNoise();
    }
    kx::ForcePlainResample(false);
}

TEST(Resample, TheVectorPathRunsWhereTheProcessorHasIt)
{
#if defined(__x86_64__)
    kx::ForcePlainResample(false);
    EXPECT_EQ(kx::ResampleUsesAvx2(), __builtin_cpu_supports("avx2") != 0);
#endif
    kx::ForcePlainResample(true);
    EXPECT_FALSE(kx::ResampleUsesAvx2());
    kx::ForcePlainResample(false);
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
