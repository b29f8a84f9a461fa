#pragma once
// The 80-bit extended real format (sign, 15-bit exponent, 64-bit significand
// with an explicit integer bit), computed in software so that the results are
// the same on every host, whatever its long double or floating-point control
// word. Every operation rounds to nearest, ties to the even significand.

#include <cstdint>

namespace vardel {

struct Extended {
    // value = (-1)^negative * significand * 2^(exponent - 63).
    // A normal value has bit 63 of the significand set and
    // exponent >= MIN_EXPONENT; a denormal has exponent == MIN_EXPONENT and
    // bit 63 clear; zero has a zero significand.
    bool negative = false;
    std::int32_t exponent = 0;
    std::uint64_t significand = 0;
    bool overflow = false;  // beyond the extended range: no finite value

    static constexpr std::int32_t MIN_EXPONENT = -16382;
    static constexpr std::int32_t MAX_EXPONENT = 16383;
};

// Exact conversions into the extended format.
Extended extendedFromUint64(std::uint64_t value);
Extended extendedFromDouble(double value);  // finite values only

bool isZero(const Extended& a);
bool hasOverflowed(const Extended& a);  // true after an overflow

Extended negate(Extended a);
Extended multiply(const Extended& a, const Extended& b);
Extended divide(const Extended& a, const Extended& b);  // b nonzero
Extended add(const Extended& a, const Extended& b);

// a * 10 + digit, each step rounded to a 64-bit significand.
Extended accumulateDigit(const Extended& a, unsigned digit);

// The extended value nearest to 10^k, for the k that the power-of-ten
// scaling uses (0..31, multiples of 32 up to 480, multiples of 512 up to 4608).
Extended powerOfTen(unsigned k);

// Multiplies (p >= 0) or divides (p < 0) by 10^|p| in up to three factors:
// 10^(k mod 32), 10^(32 * ((k div 32) mod 16)), 10^(512 * (k div 512)),
// rounding after each. For |p| >= 5120 with p < 0 the result is zero.
Extended scaleByPowerOfTen(const Extended& a, std::int32_t p);

// Rounds to an integral value, ties to even (the result stays extended).
Extended roundToIntegral(const Extended& a);

// Narrowing. `overflow` is set when the value is beyond the narrower range;
// below it the result is denormal or zero without any signal.
double narrowToDouble(const Extended& a, bool& overflow);
float narrowToFloat(const Extended& a, bool& overflow);
float narrowDoubleToFloat(double value, bool& overflow);

// For an integral value of magnitude below 2^64: that magnitude.
std::uint64_t integralMagnitude(const Extended& a);

// Comparison of magnitudes: -1, 0 or 1.
int compareMagnitude(const Extended& a, const Extended& b);

}  // namespace vardel
