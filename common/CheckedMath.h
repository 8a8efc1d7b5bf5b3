// Whole-number types of the system with checked arithmetic: a result outside
// the type's range raises the overflow error (6) instead of wrapping, and
// conversions from floating point round halves to the even neighbour.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "common/RunTimeError.h"

namespace kx {

using Integer = int16_t;
using Long = int32_t;
using Byte = uint8_t;

// Narrows a wide whole number to T, raising overflow when it does not fit.
template <typename T>
constexpr T CheckedCast(int64_t value)
{
    if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()) Raise(errOverflow);
    return static_cast<T>(value);
}

template <typename T>
constexpr T CheckedAdd(T a, T b)
{
    return CheckedCast<T>(int64_t{a} + int64_t{b});
}

template <typename T>
constexpr T CheckedSub(T a, T b)
{
    return CheckedCast<T>(int64_t{a} - int64_t{b});
}

template <typename T>
constexpr T CheckedMul(T a, T b)
{
    return CheckedCast<T>(int64_t{a} * int64_t{b});
}

// Rounds to the nearest whole number, halves to even (2.5 -> 2, 3.5 -> 4),
// independent of the current floating-point rounding mode.
inline double RoundHalfEven(double value)
{
    double floor = std::floor(value);
    double diff = value - floor;
    if (diff > 0.5) return floor + 1.0;
    if (diff < 0.5) return floor;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

// Converts a floating-point value to T the way the run time does: halves to
// even, overflow (6) when the rounded value is outside T or not a number.
template <typename T>
T RoundTo(double value)
{
    if (std::isnan(value)) Raise(errOverflow);
    double rounded = RoundHalfEven(value);
    if (rounded < static_cast<double>(std::numeric_limits<T>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<T>::max()))
        Raise(errOverflow);
    return static_cast<T>(rounded);
}

// Floating-point division as the run time does it: n / 0 raises division by
// zero (11), while 0 / 0 has no value at all and raises overflow (6).
inline double CheckedDivide(double numerator, double denominator)
{
    if (denominator == 0.0) Raise(numerator == 0.0 ? errOverflow : errDivisionByZero);
    return numerator / denominator;
}

}  // namespace kx
