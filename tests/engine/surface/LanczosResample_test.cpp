#include "engine/surface/LanczosResample.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/TestSupport.h"

using namespace kx;
using kxtest::Bgr;

namespace {

// A grey surface of width x height whose level at (x, y) comes from `level`.
cDIBSection Grey(int width, int height, int (*level)(int x, int y, int width))
{
    cDIBSection s;
    EXPECT_TRUE(s.Create(width, height));
    kxtest::FillPicture(s, [&](int x, int y) {
        const auto v = static_cast<uint8_t>(level(x, y, width));
        return Bgr{v, v, v};
    });
    return s;
}

int Checker(int x, int y, int) { return (x + y) % 2 ? 255 : 0; }

}  // namespace

// Per scale: each set of weights sums to exactly one, the sets mirror each other, the
// middle set is symmetric, and the kernel reaches 3 source pixels times the reduction.
TEST(LanczosResample, KernelAndWeights)
{
    const double kernel[][3] = {
        {0, 1, 0}, {1.5, -0.1350949, 1e-7}, {-1.5, -0.1350949, 1e-7}, {1, 0, 1e-15}, {3, 0, 0},
        {-4, 0, 0}};  // x, value, tolerance
    for (const auto& k : kernel) EXPECT_NEAR(Lanczos3(k[0]), k[1], k[2]) << k[0];
    const struct {
        Long source, target, middle;  // `middle`: an output away from the edges
        Long taps;                    // its number of non-zero taps
    } cases[] = {
        {30, 10, 5, 13},    // 3:1, centre on a pixel: d = -8..8 less the zeros at +-3, +-6
        {80, 20, 10, 24},   // 4:1, centre between pixels: +-0.5 .. +-11.5
        {100, 50, 25, 12},  // 2:1: +-0.5 .. +-5.5
        {10, 20, 10, 6},    // enlarged 2x: plain Lanczos-3, 6 taps
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.source << "->" << c.target);
        const LanczosAxis axis = LanczosWeights(c.source, c.target);
        ASSERT_EQ(axis.First.size(), static_cast<size_t>(c.target));
        const auto weights = [&](Long i) { return &axis.Weights[static_cast<size_t>(i) * axis.Stride]; };
        for (Long i = 0; i < c.target; ++i) {
            int64_t sum = 0;
            for (Long k = 0; k < axis.Count[i]; ++k) sum += weights(i)[k];
            EXPECT_EQ(sum, kLanczosWeightOne) << i;
            EXPECT_GE(axis.First[i], 0);
            EXPECT_LE(axis.First[i] + axis.Count[i], c.source);
            const Long m = c.target - 1 - i;  // output i mirrors output m
            ASSERT_EQ(axis.Count[m], axis.Count[i]);
            EXPECT_EQ(axis.First[m], c.source - axis.First[i] - axis.Count[i]);
            for (Long k = 0; k < axis.Count[i]; ++k)
                EXPECT_EQ(weights(m)[axis.Count[i] - 1 - k], weights(i)[k]);
        }
        const Long count = axis.Count[c.middle];
        const int32_t* w = weights(c.middle);
        EXPECT_EQ(count - std::count(w, w + count, 0), c.taps);
        for (Long k = 0; c.source % c.target == 0 && k < count; ++k) EXPECT_NEAR(w[k], w[count - 1 - k], 1);
    }
}

// A one-pixel checkerboard reduced is flat grey; at its own size it is copied; one pixel spreads evenly.
TEST(LanczosResample, CheckerboardDotAndSizes)
{
    const cDIBSection board = Grey(64, 48, Checker);
    for (const auto& [w, h] : {std::pair{16, 12}, std::pair{21, 13}}) {
        const auto out = ResampleLanczos(board, w, h);
        ASSERT_TRUE(out);
        for (const Bgr p : kxtest::AllPixels(*out)) EXPECT_NEAR(p.g, 127.5, 3) << w << "x" << h;
    }
    const auto copy = ResampleLanczos(board, 64, 48);
    ASSERT_TRUE(copy);
    EXPECT_EQ(kxtest::AllPixels(*copy), kxtest::AllPixels(board));
    EXPECT_FALSE(ResampleLanczos(board, 0, 5));
    const auto grown = ResampleLanczos(Grey(1, 1, [](int, int, int) { return 200; }), 3, 2);
    ASSERT_TRUE(grown);
    EXPECT_EQ(kxtest::AllPixels(*grown), std::vector<Bgr>(6, Bgr{200, 200, 200}));
}
