#include "numeric/extended.hpp"

#include "numeric/wide128.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>

namespace vardel {
namespace {

using Wide = Wide128;

constexpr int TOP_BIT = 63;  // position of the integer bit in the significand

constexpr Extended zero(bool negative) { return Extended{negative, 0, 0, false}; }

constexpr Extended overflowed(bool negative) {
    return Extended{negative, Extended::MAX_EXPONENT + 1, std::uint64_t{1} << TOP_BIT, true};
}

// m / 2^shift rounded to nearest, ties to even; `sticky` says that nonzero
// bits lie below m itself (only meaningful when shift >= 1).
constexpr Wide shiftRightRounded(Wide m, int shift, bool sticky) {
    if (shift <= 0) return m;
    if (shift > 128) return 0;
    // One bit more than kept: the rounding bit; the bits below it only say
    // whether the value lies exactly halfway.
    const ShiftedWide withRoundingBit = shiftRightSticky(m, shift - 1);
    const Wide kept = withRoundingBit.value >> 1;
    const bool roundingBit = (withRoundingBit.value.low & 1) != 0;
    const bool roundUp = roundingBit && (withRoundingBit.lost || sticky || (kept.low & 1) != 0);
    return roundUp ? kept + 1 : kept;
}

// The extended value nearest to (m + f) * 2^e, where 0 <= f < 1 and f > 0
// exactly when `sticky`. With `sticky`, m must carry at least 65 significant
// bits so that the rounding bit lies inside m.
constexpr Extended roundPack(bool negative, Wide m, int e, bool sticky) {
    if (m == 0) return zero(negative);
    const int lead = e + bitLength(m) - 1;
    int exponent = std::max(lead, int{Extended::MIN_EXPONENT});
    const int shift = exponent - TOP_BIT - e;
    Wide significand = shift < 0 ? m << -shift : shiftRightRounded(m, shift, sticky);
    if (significand.high != 0) {  // rounding carried into a 65th bit
        significand = significand >> 1;
        ++exponent;
    }
    if (exponent > Extended::MAX_EXPONENT) return overflowed(negative);
    if (significand == 0) return zero(negative);
    return Extended{negative, exponent, significand.low, false};
}

// Exact powers of five for building the table (10^k = 5^k * 2^k), in 64-bit
// limbs; 5^4608 lies below 2^10700.
struct PowerOfFive {
    std::array<std::uint64_t, 168> limbs{1};
    int used = 1;
};

constexpr void multiplyBy(PowerOfFive& n, std::uint64_t factor) {
    std::uint64_t carry = 0;
    for (int i = 0; i < n.used; ++i) {
        const Wide product = multiplyWide(n.limbs[i], factor) + carry;
        n.limbs[i] = product.low;
        carry = product.high;
    }
    if (carry != 0) n.limbs[n.used++] = carry;
}

// The nearest extended value of n * 2^twos: the two top limbs go into the
// rounding, the limbs below them only as a sticky bit.
constexpr Extended nearestExtended(const PowerOfFive& n, int twos) {
    const int top = n.used - 1;
    if (top == 0) return roundPack(false, n.limbs[0], twos, false);
    const Wide window{n.limbs[top], n.limbs[top - 1]};
    bool sticky = false;
    for (int i = 0; i < top - 1; ++i) sticky = sticky || n.limbs[i] != 0;
    return roundPack(false, window, 64 * (top - 1) + twos, sticky);
}

constexpr int SMALL_POWERS = 32;   // 10^0 .. 10^31
constexpr int MIDDLE_POWERS = 15;  // 10^32 .. 10^480, steps of 32
constexpr int LARGE_POWERS = 9;    // 10^512 .. 10^4608, steps of 512
constexpr int POWER_COUNT = SMALL_POWERS + MIDDLE_POWERS + LARGE_POWERS;

constexpr unsigned tabulatedExponent(int index) {
    if (index < SMALL_POWERS) return static_cast<unsigned>(index);
    if (index < SMALL_POWERS + MIDDLE_POWERS) return 32u * static_cast<unsigned>(index - SMALL_POWERS + 1);
    return 512u * static_cast<unsigned>(index - SMALL_POWERS - MIDDLE_POWERS + 1);
}

constexpr std::array<Extended, POWER_COUNT> buildPowersOfTen() {
    constexpr std::uint64_t FIVE_TO_27 = 7450580596923828125u;  // the largest power of five below 2^64
    std::array<Extended, POWER_COUNT> table{};
    PowerOfFive exact;
    unsigned reached = 0;
    for (int index = 0; index < POWER_COUNT; ++index) {
        const unsigned wanted = tabulatedExponent(index);
        for (; reached + 27 <= wanted; reached += 27) multiplyBy(exact, FIVE_TO_27);
        if (reached < wanted) {  // the rest in one step, 5^26 at most
            std::uint64_t factor = 1;
            for (; reached < wanted; ++reached) factor *= 5;
            multiplyBy(exact, factor);
        }
        table[index] = nearestExtended(exact, static_cast<int>(wanted));
    }
    return table;
}

constexpr std::array<Extended, POWER_COUNT> POWERS_OF_TEN = buildPowersOfTen();

Extended applyPower(const Extended& a, unsigned k, bool multiplies) {
    return multiplies ? multiply(a, powerOfTen(k)) : divide(a, powerOfTen(k));
}

// Shifts the significand up until its integer bit is set; the exponent may
// then lie below MIN_EXPONENT.
void normalize(std::uint64_t& significand, int& exponent) {
    const int shift = std::countl_zero(significand);
    significand <<= shift;
    exponent -= shift;
}

struct NarrowFormat {
    int precision;    // significand bits, the hidden bit included
    int minExponent;  // of the smallest normal number
    int maxExponent;
};

constexpr NarrowFormat DOUBLE_FORMAT{53, -1022, 1023};
constexpr NarrowFormat FLOAT_FORMAT{24, -126, 127};

constexpr std::uint64_t infinityBits(NarrowFormat format) {
    return std::uint64_t(2 * format.maxExponent + 1) << (format.precision - 1);
}

// The IEEE bit pattern of |a| rounded to the narrower format.
std::uint64_t narrowMagnitude(const Extended& a, NarrowFormat format, bool& overflow) {
    overflow = false;
    if (isZero(a)) return 0;
    const int lead = a.exponent - std::countl_zero(a.significand);
    if (a.overflow || lead > format.maxExponent) {
        overflow = true;
        return infinityBits(format);
    }
    const int smallestUnit = format.minExponent - (format.precision - 1);
    const int unit = std::max(lead, format.minExponent) - (format.precision - 1);
    const Wide m = shiftRightRounded(a.significand, unit - (a.exponent - TOP_BIT), false);
    // A significand that rounded up to 2^precision carries into the exponent field.
    const std::uint64_t bits =
        (std::uint64_t(unit - smallestUnit) << (format.precision - 1)) + m.low;
    if (bits >= infinityBits(format)) {
        overflow = true;
        return infinityBits(format);
    }
    return bits;
}

}  // namespace

Extended extendedFromUint64(std::uint64_t value) {
    if (value == 0) return zero(false);
    const int shift = std::countl_zero(value);
    return Extended{false, TOP_BIT - shift, value << shift, false};
}

Extended extendedFromDouble(double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const bool negative = (bits >> 63) != 0;
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    if (biased == 0x7FF) return overflowed(negative);
    if (biased == 0) return roundPack(negative, fraction, -1074, false);
    return Extended{negative, biased - 1023, (fraction | (std::uint64_t{1} << 52)) << 11, false};
}

bool isZero(const Extended& a) { return !a.overflow && a.significand == 0; }

bool hasOverflowed(const Extended& a) { return a.overflow; }

Extended negate(Extended a) {
    a.negative = !a.negative;
    return a;
}

Extended multiply(const Extended& a, const Extended& b) {
    const bool negative = a.negative != b.negative;
    if (a.overflow || b.overflow) return overflowed(negative);
    if (isZero(a) || isZero(b)) return zero(negative);
    const Wide product = multiplyWide(a.significand, b.significand);
    return roundPack(negative, product, a.exponent + b.exponent - 2 * TOP_BIT, false);
}

Extended divide(const Extended& a, const Extended& b) {
    const bool negative = a.negative != b.negative;
    if (a.overflow || b.overflow || isZero(b)) return overflowed(negative);
    if (isZero(a)) return zero(negative);
    std::uint64_t dividend = a.significand;
    std::uint64_t divisor = b.significand;
    int dividendExponent = a.exponent;
    int divisorExponent = b.exponent;
    normalize(dividend, dividendExponent);
    normalize(divisor, divisorExponent);
    // Long division: a 65-bit quotient leaves a rounding bit, the remainder
    // tells whether anything lies below it.
    const WideQuotient division = divideWide(Wide{dividend, 0}, divisor);
    Wide quotient = division.quotient;
    std::uint64_t remainder = division.remainder;
    int e = dividendExponent - divisorExponent - 64;
    if (quotient.high == 0) {
        // One more quotient bit from the doubled remainder, which may need
        // a 65th bit: then it certainly holds the divisor once.
        const bool carried = (remainder >> 63) != 0;
        remainder <<= 1;
        quotient = quotient << 1;
        if (carried || remainder >= divisor) {
            remainder -= divisor;
            quotient = quotient | 1;
        }
        --e;
    }
    return roundPack(negative, quotient, e, remainder != 0);
}

Extended add(const Extended& a, const Extended& b) {
    if (a.overflow || b.overflow) return overflowed(a.overflow ? a.negative : b.negative);
    if (isZero(a)) return isZero(b) ? zero(a.negative && b.negative) : b;
    if (isZero(b)) return a;
    const bool aIsLarger = compareMagnitude(a, b) >= 0;
    const Extended& large = aIsLarger ? a : b;
    const Extended& small = aIsLarger ? b : a;
    // 62 guard bits keep the sum exact until it is rounded, except for the
    // part of `small` shifted out entirely, which only matters as a sticky bit.
    constexpr int GUARD = 62;
    const Wide largeBits = Wide{large.significand} << GUARD;
    const Wide smallBits = Wide{small.significand} << GUARD;
    const int gap = large.exponent - small.exponent;
    const ShiftedWide shifted = shiftRightSticky(smallBits, gap);
    const Wide aligned = shifted.value;
    const bool sticky = shifted.lost;
    const int e = large.exponent - TOP_BIT - GUARD;
    if (a.negative == b.negative) return roundPack(large.negative, largeBits + aligned, e, sticky);
    const Wide difference = largeBits - aligned - (sticky ? 1u : 0u);
    if (isZero(difference) && !sticky) return zero(false);
    return roundPack(large.negative, difference, e, sticky);
}

Extended accumulateDigit(const Extended& a, unsigned digit) {
    return add(multiply(a, extendedFromUint64(10)), extendedFromUint64(digit));
}

Extended powerOfTen(unsigned k) {
    if (k < SMALL_POWERS) return POWERS_OF_TEN[k];
    if (k % 32 == 0 && k / 32 <= MIDDLE_POWERS) return POWERS_OF_TEN[SMALL_POWERS + k / 32 - 1];
    if (k % 512 == 0 && k / 512 <= LARGE_POWERS) {
        return POWERS_OF_TEN[SMALL_POWERS + MIDDLE_POWERS + k / 512 - 1];
    }
    return overflowed(false);  // not a power that the scaling uses
}

Extended scaleByPowerOfTen(const Extended& a, std::int32_t p) {
    if (a.overflow || isZero(a)) return a;
    const bool multiplies = p >= 0;
    const auto k = static_cast<unsigned>(std::abs(static_cast<std::int64_t>(p)));
    if (k >= 5120) return multiplies ? overflowed(a.negative) : zero(a.negative);
    Extended result = applyPower(a, k % 32, multiplies);
    if ((k / 32) % 16 != 0) result = applyPower(result, 32 * ((k / 32) % 16), multiplies);
    if (k / 512 != 0) result = applyPower(result, 512 * (k / 512), multiplies);
    return result;
}

Extended roundToIntegral(const Extended& a) {
    if (a.overflow || isZero(a) || a.exponent >= TOP_BIT) return a;
    const Wide rounded = shiftRightRounded(a.significand, TOP_BIT - a.exponent, false);
    if (isZero(rounded)) return zero(a.negative);
    Extended result = extendedFromUint64(rounded.low);
    result.negative = a.negative;
    return result;
}

double narrowToDouble(const Extended& a, bool& overflow) {
    const std::uint64_t sign = a.negative ? std::uint64_t{1} << 63 : 0;
    return std::bit_cast<double>(sign | narrowMagnitude(a, DOUBLE_FORMAT, overflow));
}

float narrowToFloat(const Extended& a, bool& overflow) {
    const std::uint32_t sign = a.negative ? std::uint32_t{1} << 31 : 0;
    const auto magnitude = static_cast<std::uint32_t>(narrowMagnitude(a, FLOAT_FORMAT, overflow));
    return std::bit_cast<float>(sign | magnitude);
}

float narrowDoubleToFloat(double value, bool& overflow) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const bool negative = (bits >> 63) != 0;
    if (((bits >> 52) & 0x7FF) == 0x7FF) {  // infinities and NaNs carry over
        overflow = false;
        const bool isNan = (bits & ((std::uint64_t{1} << 52) - 1)) != 0;
        const std::uint32_t sign = negative ? std::uint32_t{1} << 31 : 0;
        return std::bit_cast<float>(sign | (isNan ? 0x7FC00000u : 0x7F800000u));
    }
    return narrowToFloat(extendedFromDouble(value), overflow);
}

std::uint64_t integralMagnitude(const Extended& a) {
    if (isZero(a) || a.exponent < 0) return 0;
    if (a.overflow || a.exponent > TOP_BIT) return ~std::uint64_t{0};  // out of range: saturate
    return a.significand >> (TOP_BIT - a.exponent);
}

int compareMagnitude(const Extended& a, const Extended& b) {
    if (a.overflow || b.overflow) return int{a.overflow} - int{b.overflow};
    if (isZero(a) || isZero(b)) return int{!isZero(a)} - int{!isZero(b)};
    if (a.exponent != b.exponent) return a.exponent < b.exponent ? -1 : 1;
    if (a.significand != b.significand) return a.significand < b.significand ? -1 : 1;
    return 0;
}

}  // namespace vardel
