#include "common/RunTimeError.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/CheckedMath.h"
#include "tests/support/TestSupport.h"

using namespace kx;
using kxtest::RaisedNumber;

TEST(RoundHalfEven, TiesGoToTheEvenNeighbour)
{
    const std::pair<double, double> cases[] = {
        {2.5, 2},   {3.5, 4},   {10.5, 10},    {17.5, 18},
        {-2.5, -2}, {-3.5, -4}, {253.44, 253}, {0.49999999999999994, 0}};
    for (const auto& [value, rounded] : cases) EXPECT_EQ(RoundHalfEven(value), rounded) << value;
}

TEST(CheckedMath, OutOfRangeResultsRaiseOverflowAndErrorsCarryTheirDescription)
{
    EXPECT_EQ(CheckedAdd<Integer>(20000, 12767), 32767);
    EXPECT_EQ(CheckedCast<Byte>(255), 255);
    EXPECT_EQ(RoundTo<Long>(30.5), 30);
    EXPECT_EQ(RoundTo<Integer>(32767.4), 32767);
    EXPECT_EQ(RaisedNumber([] { CheckedAdd<Integer>(20000, 20000); }), errOverflow);
    EXPECT_EQ(RaisedNumber([] { CheckedMul<Long>(INT32_MAX, 3); }), errOverflow);
    EXPECT_EQ(RaisedNumber([] { CheckedCast<Byte>(-1); }), errOverflow);
    EXPECT_EQ(RaisedNumber([] { CheckedCast<Byte>(256); }), errOverflow);
    EXPECT_EQ(RaisedNumber([] { RoundTo<Integer>(32767.5); }), errOverflow);
    EXPECT_EQ(RaisedNumber([] { RoundTo<Long>(3e9); }), errOverflow);
    EXPECT_EQ(RaisedNumber([] { RoundTo<Long>(std::nan("")); }), errOverflow);
    EXPECT_EQ(RaisedNumber([] { CheckedDivide(640, 0.0); }), errDivisionByZero);
    EXPECT_EQ(RaisedNumber([] { CheckedDivide(0, 0.0); }), errOverflow);  // zero over zero
    // Division by zero and Path/File access error are pinned by the C interface and folder reports.
    EXPECT_EQ(RunTimeError(errSubscript).Description(), "Subscript out of range");
}
