#include <gtest/gtest.h>

#include "CheckedMath.h"
#include "RunTimeError.h"
#include "TestSupport.h"

#include <cmath>
#include <functional>

using namespace kx;

TEST(RoundHalfEven, TiesGoToTheEvenNeighbour)
{
    EXPECT_EQ(RoundHalfEven(2.5), 2.0);
    EXPECT_EQ(RoundHalfEven(3.5), 4.0);
    EXPECT_EQ(RoundHalfEven(10.5), 10.0);
    EXPECT_EQ(RoundHalfEven(17.5), 18.0);
    EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
    EXPECT_EQ(RoundHalfEven(-3.5), -4.0);
    EXPECT_EQ(RoundHalfEven(253.44), 253.0);
    EXPECT_EQ(RoundHalfEven(0.49999999999999994), 0.0);
}

TEST(CheckedMath, OutOfRangeResultsRaiseOverflow)
{
    EXPECT_EQ(CheckedAdd<Integer>(20000, 12767), 32767);
    EXPECT_EQ(kxtest::RaisedNumber([] { CheckedAdd<Integer>(20000, 20000); }), errOverflow);
    EXPECT_EQ(kxtest::RaisedNumber([] { CheckedMul<Long>(INT32_MAX, 3); }), errOverflow);
    EXPECT_EQ(kxtest::RaisedNumber([] { CheckedCast<Byte>(-1); }), errOverflow);
    EXPECT_EQ(kxtest::RaisedNumber([] { CheckedCast<Byte>(256); }), errOverflow);
    EXPECT_EQ(CheckedCast<Byte>(255), 255);
}

TEST(CheckedMath, RoundToConvertsWithHalvesToEvenAndRangeCheck)
{
    EXPECT_EQ(RoundTo<Long>(30.5), 30);
    EXPECT_EQ(RoundTo<Long>(17.5), 18);
    EXPECT_EQ(RoundTo<Integer>(32767.4), 32767);
    EXPECT_EQ(kxtest::RaisedNumber([] { RoundTo<Integer>(32767.5); }), errOverflow);
    EXPECT_EQ(kxtest::RaisedNumber([] { RoundTo<Long>(3e9); }), errOverflow);
    EXPECT_EQ(kxtest::RaisedNumber([] { RoundTo<Long>(std::nan("")); }), errOverflow);
}

TEST(CheckedMath, DivisionByZeroAndZeroOverZero)
{
    EXPECT_EQ(kxtest::RaisedNumber([] { CheckedDivide(640, 0.0); }), errDivisionByZero);
    EXPECT_EQ(kxtest::RaisedNumber([] { CheckedDivide(0, 0.0); }), errOverflow);
    EXPECT_DOUBLE_EQ(CheckedDivide(10, 4), 2.5);
}

TEST(RunTimeError, CarriesNumberSourceAndStandardDescription)
{
    RunTimeError e(errDivisionByZero);
    EXPECT_EQ(e.Number(), 11);
    EXPECT_EQ(e.Description(), "Division by zero");
    EXPECT_EQ(RunTimeError(errSubscript).Description(), "Subscript out of range");
    EXPECT_EQ(RunTimeError(errPathFileAccess).Description(), "Path/File access error");
    RunTimeError custom(26001, "Kestrix.mIntelJPEGLibrary", "Failed to save to JPG -1");
    EXPECT_EQ(custom.Source(), "Kestrix.mIntelJPEGLibrary");
    EXPECT_STREQ(custom.what(), "Failed to save to JPG -1");
}
