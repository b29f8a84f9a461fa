#include "numeric/extended.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace vardel {
namespace {

constexpr std::uint64_t TOP = std::uint64_t{1} << 63;

Extended make(bool negative, std::int32_t exponent, std::uint64_t significand) {
    return Extended{negative, exponent, significand, false};
}

std::string describe(const Extended& a) {
    if (a.overflow) return a.negative ? "-overflow" : "+overflow";
    char text[64];
    std::snprintf(text, sizeof text, "%c%016llx*2^(%d-63)", a.negative ? '-' : '+',
                  static_cast<unsigned long long>(a.significand), a.exponent);
    return text;
}

// Same value: zeros compare by sign only, overflows by sign only.
bool sameValue(const Extended& a, const Extended& b) {
    if (a.overflow || b.overflow) return a.overflow == b.overflow && a.negative == b.negative;
    if (isZero(a) || isZero(b)) return isZero(a) == isZero(b) && a.negative == b.negative;
    return a.negative == b.negative && a.exponent == b.exponent && a.significand == b.significand;
}

#define EXPECT_SAME(expected, actual) \
    EXPECT_TRUE(sameValue(expected, actual)) << describe(expected) << " vs " << describe(actual)

// ---------------------------------------------------------------------------
// Powers of ten, checked against exact integers.

// A natural number in 32-bit limbs, least significant first.
struct Natural {
    std::vector<std::uint32_t> limbs{1};

    void multiplyBy(std::uint32_t factor) {
        std::uint64_t carry = 0;
        for (auto& limb : limbs) {
            const std::uint64_t product = std::uint64_t{limb} * factor + carry;
            limb = static_cast<std::uint32_t>(product);
            carry = product >> 32;
        }
        if (carry != 0) limbs.push_back(static_cast<std::uint32_t>(carry));
    }
    int bitLength() const { return 32 * static_cast<int>(limbs.size()) - std::countl_zero(limbs.back()); }
    bool bit(int position) const {
        return position >= 0 && ((limbs[position / 32] >> (position % 32)) & 1) != 0;
    }
};

Natural tenToThe(unsigned k) {
    Natural n;
    for (unsigned i = 0; i < k; ++i) n.multiplyBy(10);
    return n;
}

// The nearest 64-bit-significand value of n, as (significand, exponent of
// the leading bit), by reading n's bits one at a time.
struct Rounded {
    std::uint64_t significand;
    int exponent;
    bool exact;
};

Rounded roundTo64Bits(const Natural& n) {
    const int length = n.bitLength();
    std::uint64_t top = 0;
    for (int i = 0; i < 64; ++i) top = (top << 1) | (n.bit(length - 1 - i) ? 1 : 0);
    const int firstDropped = length - 65;
    bool below = false;
    for (int position = 0; position < firstDropped; ++position) below = below || n.bit(position);
    const bool half = n.bit(firstDropped);
    Rounded result{top, length - 1, !half && !below};
    if (half && (below || (top & 1) != 0)) {
        if (++result.significand == 0) {
            result.significand = TOP;
            ++result.exponent;
        }
    }
    return result;
}

std::vector<unsigned> scalingExponents() {
    std::vector<unsigned> all;
    for (unsigned k = 0; k < 32; ++k) all.push_back(k);
    for (unsigned i = 1; i <= 15; ++i) all.push_back(32 * i);
    for (unsigned j = 1; j <= 9; ++j) all.push_back(512 * j);
    return all;
}

TEST(ExtendedPowersOfTen, AreTheNearestValuesOfTheExactPowers) {
    for (unsigned k : scalingExponents()) {
        const Rounded expected = roundTo64Bits(tenToThe(k));
        const Extended actual = powerOfTen(k);
        EXPECT_FALSE(actual.negative || actual.overflow) << "10^" << k;
        EXPECT_EQ(actual.significand, expected.significand) << "10^" << k;
        EXPECT_EQ(actual.exponent, expected.exponent) << "10^" << k;
    }
}

TEST(ExtendedPowersOfTen, AreExactUpToTenToTwentySeven) {
    for (unsigned k = 0; k < 32; ++k) EXPECT_EQ(roundTo64Bits(tenToThe(k)).exact, k <= 27) << k;
    const Extended tenTo27 = powerOfTen(27);
    const std::uint64_t fiveTo27 = 7450580596923828125u;
    EXPECT_EQ(tenTo27.significand >> std::countr_zero(tenTo27.significand), fiveTo27);
}

TEST(ExtendedPowersOfTen, ScalingSplitsTheExponentIntoThreeRoundedFactors) {
    const Extended one = extendedFromUint64(1);
    // 10^1000 = 10^(1000 mod 32) * 10^(32 * 15) * 10^512, each product rounded.
    const Extended stepwise = multiply(multiply(powerOfTen(8), powerOfTen(480)), powerOfTen(512));
    EXPECT_SAME(stepwise, scaleByPowerOfTen(one, 1000));
    const Extended down = divide(divide(divide(one, powerOfTen(8)), powerOfTen(480)), powerOfTen(512));
    EXPECT_SAME(down, scaleByPowerOfTen(one, -1000));
    EXPECT_SAME(extendedFromUint64(1000000000000000000u), scaleByPowerOfTen(one, 18));
    EXPECT_SAME(extendedFromUint64(5), scaleByPowerOfTen(extendedFromUint64(500), -2));
}

TEST(ExtendedPowersOfTen, ScalingBeyondTheRangeOverflowsOrVanishes) {
    const Extended one = extendedFromUint64(1);
    EXPECT_FALSE(hasOverflowed(scaleByPowerOfTen(one, 4932)));
    EXPECT_TRUE(hasOverflowed(scaleByPowerOfTen(one, 4933)));
    EXPECT_TRUE(hasOverflowed(scaleByPowerOfTen(one, 4999)));
    EXPECT_TRUE(hasOverflowed(scaleByPowerOfTen(one, 6000)));
    // 10^-4950 is a denormal; 10^-4952 lies below half the smallest one.
    const Extended tiny = scaleByPowerOfTen(one, -4950);
    EXPECT_EQ(tiny.exponent, Extended::MIN_EXPONENT);
    EXPECT_FALSE(isZero(tiny));
    EXPECT_LT(tiny.significand, TOP);
    EXPECT_TRUE(isZero(scaleByPowerOfTen(one, -4952)));
    EXPECT_TRUE(isZero(scaleByPowerOfTen(extendedFromUint64(~std::uint64_t{0}), -5120)));
    EXPECT_TRUE(isZero(scaleByPowerOfTen(extendedFromUint64(0), 4999)));
}

// ---------------------------------------------------------------------------
// Behaviour that holds on every host.

TEST(ExtendedConversion, DoublesWidenExactlyAndNarrowBack) {
    std::mt19937_64 bits(7);
    for (int i = 0; i < 200000; ++i) {
        std::uint64_t pattern = bits();
        if (i % 4 == 0) pattern &= 0x800FFFFFFFFFFFFFu;  // subnormals
        const double value = std::bit_cast<double>(pattern);
        if (!std::isfinite(value)) continue;
        bool overflow = true;
        const double back = narrowToDouble(extendedFromDouble(value), overflow);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back), pattern);
        ASSERT_FALSE(overflow);
    }
}

TEST(ExtendedConversion, SubnormalDoublesBecomeNormalExtendedValues) {
    const Extended smallest = extendedFromDouble(std::numeric_limits<double>::denorm_min());
    EXPECT_SAME(make(false, -1074, TOP), smallest);
    EXPECT_SAME(make(true, -1023, TOP | (TOP >> 1)), extendedFromDouble(-1.5 * std::ldexp(1.0, -1023)));
    EXPECT_TRUE(isZero(extendedFromDouble(-0.0)));
    EXPECT_TRUE(extendedFromDouble(-0.0).negative);
}

TEST(ExtendedConversion, IntegersWidenExactly) {
    for (std::uint64_t value :
         {std::uint64_t{1}, std::uint64_t{10}, std::uint64_t{1} << 40, ~std::uint64_t{0}}) {
        EXPECT_EQ(integralMagnitude(extendedFromUint64(value)), value);
    }
    EXPECT_SAME(make(false, 3, 0xA000000000000000u), extendedFromUint64(10));
    EXPECT_TRUE(isZero(extendedFromUint64(0)));
}

TEST(ExtendedNarrowing, RoundsHalfwayToEvenAndSignalsOnlyTrueOverflow) {
    bool overflow = false;
    const Extended largestDouble = extendedFromDouble(std::numeric_limits<double>::max());
    // Largest double plus half an ulp: the tie goes to the even 2^1024.
    EXPECT_TRUE(std::isinf(narrowToDouble(make(false, 1023, largestDouble.significand | 0x400), overflow)));
    EXPECT_TRUE(overflow);
    EXPECT_EQ(narrowToDouble(make(true, 1023, largestDouble.significand | 0x3FF), overflow),
              -std::numeric_limits<double>::max());
    EXPECT_FALSE(overflow);
    EXPECT_TRUE(std::isinf(narrowToDouble(make(false, 1024, TOP), overflow)));
    EXPECT_TRUE(overflow);
    // Half the smallest denormal goes to zero, a little more to the denormal.
    EXPECT_EQ(narrowToDouble(make(false, -1075, TOP), overflow), 0.0);
    EXPECT_FALSE(overflow);
    EXPECT_EQ(narrowToDouble(make(false, -1075, TOP | 1), overflow),
              std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(narrowToDouble(make(false, -1074, TOP | (TOP >> 1)), overflow),
              2 * std::numeric_limits<double>::denorm_min());
    // 1 + 2^-53 ties to 1, 1 + 3 * 2^-53 to 1 + 2^-51.
    EXPECT_EQ(narrowToDouble(make(false, 0, TOP | (1u << 10)), overflow), 1.0);
    EXPECT_EQ(narrowToDouble(make(false, 0, TOP | (3u << 10)), overflow), 1.0 + std::ldexp(1.0, -51));
}

TEST(ExtendedNarrowing, SinglePrecisionRangeAndDenormals) {
    bool overflow = false;
    EXPECT_EQ(narrowDoubleToFloat(double{std::numeric_limits<float>::max()}, overflow),
              std::numeric_limits<float>::max());
    EXPECT_FALSE(overflow);
    const double halfwayAboveLargest = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);
    EXPECT_TRUE(std::isinf(narrowDoubleToFloat(-halfwayAboveLargest, overflow)));
    EXPECT_TRUE(overflow);
    EXPECT_TRUE(std::isinf(narrowDoubleToFloat(1e39, overflow)));
    EXPECT_TRUE(overflow);
    EXPECT_EQ(narrowDoubleToFloat(1e-46, overflow), 0.0f);
    EXPECT_FALSE(overflow);
    EXPECT_EQ(narrowDoubleToFloat(1e-45, overflow), std::numeric_limits<float>::denorm_min());
    EXPECT_EQ(narrowDoubleToFloat(-50.19607843137255, overflow), -50.1960792541503906f);
    EXPECT_TRUE(std::isnan(narrowDoubleToFloat(std::numeric_limits<double>::quiet_NaN(), overflow)));
    EXPECT_TRUE(std::isinf(narrowToFloat(scaleByPowerOfTen(extendedFromUint64(1), 600), overflow)));
    EXPECT_TRUE(overflow);
}

TEST(ExtendedRounding, RoundToIntegralTiesToEven) {
    const struct {
        double value, rounded;
    } cases[] = {{0.5, 0.0},
                 {1.5, 2.0},
                 {2.5, 2.0},
                 {-2.5, -2.0},
                 {-0.5, -0.0},
                 {0.49999999999999994, 0.0},
                 {3.0000000000000004, 3.0},
                 {4503599627370495.5, 4503599627370496.0},
                 {1e300, 1e300}};
    for (const auto& c : cases) {
        bool overflow = false;
        const double rounded = narrowToDouble(roundToIntegral(extendedFromDouble(c.value)), overflow);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(rounded), std::bit_cast<std::uint64_t>(c.rounded)) << c.value;
    }
    // 2^63 - 1/2 ties to the even 2^63, a carry out of the significand.
    const Extended nearTop = make(false, 63, ~std::uint64_t{0});
    EXPECT_SAME(nearTop, roundToIntegral(nearTop));
    EXPECT_SAME(make(false, 63, TOP), roundToIntegral(make(false, 62, ~std::uint64_t{0})));
}

TEST(ExtendedArithmetic, OverflowIsStickyAndUnderflowIsGradual) {
    const Extended largest = make(false, Extended::MAX_EXPONENT, ~std::uint64_t{0});
    const Extended two = extendedFromUint64(2);
    const Extended overflowed = multiply(largest, two);
    EXPECT_TRUE(hasOverflowed(overflowed));
    EXPECT_TRUE(hasOverflowed(divide(overflowed, extendedFromUint64(1000))));
    EXPECT_TRUE(hasOverflowed(multiply(overflowed, extendedFromUint64(0))));
    EXPECT_TRUE(hasOverflowed(accumulateDigit(overflowed, 0)));
    EXPECT_TRUE(hasOverflowed(divide(largest, make(false, -1, TOP))));
    EXPECT_TRUE(negate(overflowed).negative);

    const Extended smallestNormal = make(false, Extended::MIN_EXPONENT, TOP);
    EXPECT_SAME(make(false, Extended::MIN_EXPONENT, TOP >> 1), divide(smallestNormal, two));
    EXPECT_SAME(make(true, Extended::MIN_EXPONENT, 1),
                multiply(make(true, Extended::MIN_EXPONENT, 2), make(false, -1, TOP)));
    // Half the smallest denormal ties to zero, a little more rounds up to it.
    EXPECT_TRUE(isZero(divide(make(false, Extended::MIN_EXPONENT, 1), two)));
    EXPECT_SAME(make(false, Extended::MIN_EXPONENT, 1),
                divide(make(false, Extended::MIN_EXPONENT, 1), make(false, 0, 0xFFFFFFFFFFFFFFF0u)));
    EXPECT_SAME(make(false, Extended::MIN_EXPONENT, TOP),
                multiply(make(false, Extended::MIN_EXPONENT, TOP - 1), make(false, 0, TOP | 1)));
}

TEST(ExtendedArithmetic, DivisionIsCorrectlyRounded) {
    const Extended one = extendedFromUint64(1);
    // 1/3 = 0.AAAA...: the 65th bit is 1 with more below it, so it rounds up.
    EXPECT_SAME(make(false, -2, 0xAAAAAAAAAAAAAAABu), divide(one, extendedFromUint64(3)));
    EXPECT_SAME(make(false, -4, 0xCCCCCCCCCCCCCCCDu), divide(one, extendedFromUint64(10)));
    EXPECT_SAME(make(true, -1, TOP), divide(extendedFromUint64(3), negate(extendedFromUint64(6))));
    // (2 - 2^-63) / 1.5 is exactly 0xAAAAAAAAAAAAAAAA * 2^-63.
    EXPECT_SAME(make(false, 0, 0xAAAAAAAAAAAAAAAAu),
                divide(make(false, 0, ~std::uint64_t{0}), make(false, 0, 0xC000000000000000u)));
}

TEST(ExtendedArithmetic, AdditionRoundsOnceAndCancelsToPositiveZero) {
    const Extended one = extendedFromUint64(1);
    EXPECT_SAME(one, add(one, make(false, -64, TOP)));                          // tie, even stays
    EXPECT_SAME(make(false, 0, TOP | 1), add(one, make(false, -64, TOP | 1)));  // above the tie
    EXPECT_SAME(make(false, 0, TOP | 2), add(make(false, 0, TOP | 1), make(false, -64, TOP)));  // tie to even
    // Below 1 the ulp is 2^-64: 1 - 2^-65 ties back to 1, 1 - 3 * 2^-66 doesn't.
    EXPECT_SAME(one, add(one, make(true, -65, TOP)));
    EXPECT_SAME(make(false, -1, ~std::uint64_t{0}), add(one, make(true, -65, TOP | (TOP >> 1))));
    EXPECT_SAME(make(false, -1, ~std::uint64_t{0}), add(one, make(true, -65, TOP | 1)));
    EXPECT_SAME(one, add(one, make(true, -200, TOP)));
    EXPECT_SAME(extendedFromUint64(2), add(extendedFromUint64(2), make(true, -200, TOP)));
    EXPECT_SAME(make(false, 0, TOP | 1), add(make(false, 0, TOP | 1), make(true, -200, TOP)));
    EXPECT_SAME(extendedFromUint64(0), add(one, negate(one)));
    EXPECT_FALSE(add(one, negate(one)).negative);
    EXPECT_TRUE(add(negate(extendedFromUint64(0)), negate(extendedFromUint64(0))).negative);
}

TEST(ExtendedArithmetic, AccumulatingDigitsRoundsAfterEachStep) {
    Extended value = extendedFromUint64(0);
    for (char digit : std::string("18446744073709551615")) value = accumulateDigit(value, digit - '0');
    EXPECT_EQ(integralMagnitude(value), ~std::uint64_t{0});
    // (2^64 - 1) * 10 = 2^67 + 2^65 - 10 rounds down to a multiple of the ulp
    // 16; adding 7 then rounds down again, although 2^67 + 2^65 - 3 alone
    // would round up. 8 is a tie and goes to the even significand.
    const Extended roundedDown = make(false, 67, 0x9FFFFFFFFFFFFFFFu);
    EXPECT_SAME(roundedDown, accumulateDigit(value, 0));
    EXPECT_SAME(roundedDown, accumulateDigit(value, 7));
    EXPECT_SAME(make(false, 67, 0xA000000000000000u), accumulateDigit(value, 8));
}

TEST(ExtendedComparison, OrdersMagnitudesIgnoringSign) {
    const Extended denormal = make(false, Extended::MIN_EXPONENT, 5);
    const Extended smallestNormal = make(true, Extended::MIN_EXPONENT, TOP);
    const Extended overflowed = multiply(make(false, Extended::MAX_EXPONENT, TOP), extendedFromUint64(2));
    EXPECT_EQ(compareMagnitude(denormal, smallestNormal), -1);
    EXPECT_EQ(compareMagnitude(extendedFromUint64(0), denormal), -1);
    EXPECT_EQ(compareMagnitude(negate(extendedFromUint64(0)), extendedFromUint64(0)), 0);
    EXPECT_EQ(compareMagnitude(extendedFromUint64(7), negate(extendedFromUint64(7))), 0);
    EXPECT_EQ(compareMagnitude(extendedFromUint64(8), extendedFromUint64(7)), 1);
    EXPECT_EQ(compareMagnitude(overflowed, make(false, Extended::MAX_EXPONENT, ~std::uint64_t{0})), 1);
}

// ---------------------------------------------------------------------------
// Cross-check against the x87 extended type, where long double is that
// format (x86 hosts, 64- and 32-bit): the same 64-bit significand and 15-bit
// exponent, stored in the first ten bytes.

#if LDBL_MANT_DIG == 64 && LDBL_MAX_EXP == 16384

constexpr int OPERATIONS = 1000000;

long double toLongDouble(const Extended& a) {
    std::uint16_t signAndExponent = a.negative ? 0x8000 : 0;
    std::uint64_t significand = a.significand;
    if (a.overflow) {
        signAndExponent |= 0x7FFF;
        significand = TOP;
    } else if ((a.significand & TOP) != 0) {
        signAndExponent |= static_cast<std::uint16_t>(a.exponent + 16383);
    }
    long double result = 0;
    std::memcpy(&result, &significand, 8);
    std::memcpy(reinterpret_cast<char*>(&result) + 8, &signAndExponent, 2);
    return result;
}

Extended fromLongDouble(long double value) {
    std::uint64_t significand = 0;
    std::uint16_t signAndExponent = 0;
    std::memcpy(&significand, &value, 8);
    std::memcpy(&signAndExponent, reinterpret_cast<const char*>(&value) + 8, 2);
    const bool negative = (signAndExponent & 0x8000) != 0;
    const int biased = signAndExponent & 0x7FFF;
    if (biased == 0x7FFF) return Extended{negative, Extended::MAX_EXPONENT + 1, TOP, true};
    if (biased == 0) return make(negative, significand == 0 ? 0 : Extended::MIN_EXPONENT, significand);
    return make(negative, biased - 16383, significand);
}

// 1 + 2^-63 needs all 64 bits of the significand: a unit set to a shorter
// precision gives 1.
bool x87RoundsToNearestWithFullPrecision() {
    const volatile long double one = 1;
    const volatile long double lastBit = std::ldexp(1.0L, -63);
    const volatile long double sum = one + lastBit;
    return std::fegetround() == FE_TONEAREST && sum != one;
}

// Deterministic operands: random signs and significands, some with few
// significant bits so that exact halfway cases come up, some with long runs
// of ones so that rounding up carries into the exponent.
class Operands {
public:
    explicit Operands(std::uint64_t seed) : bits_(seed) {}

    int between(int low, int high) {
        return low + static_cast<int>(bits_() % static_cast<std::uint64_t>(high - low + 1));
    }
    bool coin() { return (bits_() & 1) != 0; }

    // A value whose leading bit is 2^lead; below MIN_EXPONENT it is denormal.
    Extended withLead(int lead) {
        std::uint64_t significand = bits_() | TOP;
        switch (between(0, 3)) {
            case 0: significand &= ~std::uint64_t{0} << between(0, 63); break;  // short
            case 1: significand |= ~std::uint64_t{0} << between(0, 63); break;  // carries when rounded up
            default: break;
        }
        int exponent = lead;
        if (lead < Extended::MIN_EXPONENT) {
            significand >>= std::min(Extended::MIN_EXPONENT - lead, 63);
            exponent = Extended::MIN_EXPONENT;
        }
        return make(coin(), exponent, significand);
    }
    Extended anywhere() { return withLead(between(Extended::MIN_EXPONENT - 63, Extended::MAX_EXPONENT)); }

private:
    std::mt19937_64 bits_;
};

constexpr int LOWEST_LEAD = Extended::MIN_EXPONENT - 63;

// Leading-bit positions of two operands whose product or quotient lands near
// `target`.
struct LeadPair {
    int first, second;
};

LeadPair leadsForSum(Operands& operands, int target) {
    const int first = operands.between(std::max(LOWEST_LEAD, target - Extended::MAX_EXPONENT),
                                       std::min(Extended::MAX_EXPONENT, target - LOWEST_LEAD));
    return {first, target - first};
}

LeadPair leadsForDifference(Operands& operands, int target) {
    const int first = operands.between(std::max(LOWEST_LEAD, target + LOWEST_LEAD),
                                       std::min(Extended::MAX_EXPONENT, target + Extended::MAX_EXPONENT));
    return {first, first - target};
}

// Result exponents spread over the ordinary range, the denormal edge and the
// overflow edge.
int targetExponent(Operands& operands) {
    switch (operands.between(0, 3)) {
        case 0: return operands.between(Extended::MIN_EXPONENT - 70, Extended::MIN_EXPONENT + 2);
        case 1: return operands.between(Extended::MAX_EXPONENT - 2, Extended::MAX_EXPONENT + 1);
        case 2: return operands.between(-100, 100);
        default: return operands.between(Extended::MIN_EXPONENT - 80, Extended::MAX_EXPONENT + 10);
    }
}

class Mismatches {
public:
    template <typename Describe>
    void check(bool same, Describe describeCase) {
        if (same) return;
        if (++count_ <= 5) first_ += describeCase() + "\n";
    }
    int count() const { return count_; }
    const std::string& first() const { return first_; }

private:
    int count_ = 0;
    std::string first_;
};

#define EXPECT_NO_MISMATCH(mismatches) EXPECT_EQ((mismatches).count(), 0) << (mismatches).first()

class ExtendedAgainstX87 : public ::testing::Test {
protected:
    void SetUp() override {
        if (!x87RoundsToNearestWithFullPrecision())
            GTEST_SKIP() << "x87 not in round-to-nearest, 64-bit mode";
    }
};

TEST_F(ExtendedAgainstX87, Multiply) {
    Operands operands(101);
    Mismatches mismatches;
    for (int i = 0; i < OPERATIONS; ++i) {
        const LeadPair leads = leadsForSum(operands, targetExponent(operands));
        const Extended a = operands.withLead(leads.first);
        const Extended b = operands.withLead(leads.second);
        const volatile long double expected = toLongDouble(a) * toLongDouble(b);
        const Extended actual = multiply(a, b);
        mismatches.check(sameValue(fromLongDouble(expected), actual),
                         [&] { return describe(a) + " * " + describe(b) + " = " + describe(actual); });
    }
    EXPECT_NO_MISMATCH(mismatches);
}

TEST_F(ExtendedAgainstX87, Divide) {
    Operands operands(202);
    Mismatches mismatches;
    for (int i = 0; i < OPERATIONS; ++i) {
        const LeadPair leads = leadsForDifference(operands, targetExponent(operands));
        const Extended a = operands.withLead(leads.first);
        const Extended b = operands.withLead(leads.second);
        const volatile long double expected = toLongDouble(a) / toLongDouble(b);
        const Extended actual = divide(a, b);
        mismatches.check(sameValue(fromLongDouble(expected), actual),
                         [&] { return describe(a) + " / " + describe(b) + " = " + describe(actual); });
    }
    EXPECT_NO_MISMATCH(mismatches);
}

TEST_F(ExtendedAgainstX87, AccumulateDigit) {
    Operands operands(303);
    Mismatches mismatches;
    for (int i = 0; i < OPERATIONS; ++i) {
        int lead = 0;
        switch (operands.between(0, 3)) {
            case 0: lead = operands.between(-70, 140); break;  // where the digit counts
            case 1: lead = operands.between(Extended::MAX_EXPONENT - 5, Extended::MAX_EXPONENT); break;
            case 2: lead = operands.between(LOWEST_LEAD, Extended::MIN_EXPONENT + 2); break;
            default: lead = operands.between(LOWEST_LEAD, Extended::MAX_EXPONENT); break;
        }
        const Extended a = operands.withLead(lead);
        const auto digit = static_cast<unsigned>(operands.between(0, 9));
        volatile long double tenTimes = toLongDouble(a) * 10.0L;
        const volatile long double expected = tenTimes + static_cast<long double>(digit);
        const Extended actual = accumulateDigit(a, digit);
        mismatches.check(sameValue(fromLongDouble(expected), actual), [&] {
            return describe(a) + " *10+ " + std::to_string(digit) + " = " + describe(actual);
        });
    }
    EXPECT_NO_MISMATCH(mismatches);
}

TEST_F(ExtendedAgainstX87, NarrowToDouble) {
    Operands operands(404);
    Mismatches mismatches;
    for (int i = 0; i < OPERATIONS; ++i) {
        int lead = 0;
        switch (operands.between(0, 3)) {
            case 0: lead = operands.between(-1140, -1015); break;
            case 1: lead = operands.between(1018, 1025); break;
            case 2: lead = operands.between(-1100, 1100); break;
            default: lead = operands.between(LOWEST_LEAD, Extended::MAX_EXPONENT); break;
        }
        const Extended a = operands.withLead(lead);
        const volatile double expected = static_cast<double>(toLongDouble(a));
        bool overflow = false;
        const double actual = narrowToDouble(a, overflow);
        const bool same =
            std::bit_cast<std::uint64_t>(actual) == std::bit_cast<std::uint64_t>(double{expected}) &&
            overflow == std::isinf(expected);
        mismatches.check(same, [&] { return describe(a) + " -> " + std::to_string(actual); });
    }
    EXPECT_NO_MISMATCH(mismatches);
}

TEST_F(ExtendedAgainstX87, NarrowToFloat) {
    Operands operands(505);
    Mismatches mismatches;
    for (int i = 0; i < OPERATIONS; ++i) {
        int lead = 0;
        switch (operands.between(0, 3)) {
            case 0: lead = operands.between(-160, -120); break;
            case 1: lead = operands.between(124, 129); break;
            case 2: lead = operands.between(-200, 200); break;
            default: lead = operands.between(LOWEST_LEAD, Extended::MAX_EXPONENT); break;
        }
        const Extended a = operands.withLead(lead);
        const volatile float expected = static_cast<float>(toLongDouble(a));
        bool overflow = false;
        const float actual = narrowToFloat(a, overflow);
        const bool same =
            std::bit_cast<std::uint32_t>(actual) == std::bit_cast<std::uint32_t>(float{expected}) &&
            overflow == std::isinf(expected);
        mismatches.check(same, [&] { return describe(a) + " -> " + std::to_string(actual); });
    }
    EXPECT_NO_MISMATCH(mismatches);
}

TEST_F(ExtendedAgainstX87, RoundToIntegral) {
    Operands operands(606);
    Mismatches mismatches;
    for (int i = 0; i < OPERATIONS; ++i) {
        const int lead = operands.coin() ? operands.between(-3, 66) : operands.between(LOWEST_LEAD, 200);
        const Extended a = operands.withLead(lead);
        const volatile long double expected = std::nearbyint(toLongDouble(a));
        const Extended actual = roundToIntegral(a);
        mismatches.check(sameValue(fromLongDouble(expected), actual),
                         [&] { return describe(a) + " -> " + describe(actual); });
    }
    EXPECT_NO_MISMATCH(mismatches);
}

#endif  // x87 long double

}  // namespace
}  // namespace vardel
