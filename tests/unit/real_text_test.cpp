#include "cli/real_text.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace vardel {
namespace {

double nearest(const std::string& decimal) {
    double value = 0;
    std::from_chars(decimal.data(), decimal.data() + decimal.size(), value);
    return value;
}

double stepped(double value, int ulps) {
    for (; ulps > 0; --ulps) value = std::nextafter(value, std::numeric_limits<double>::infinity());
    for (; ulps < 0; ++ulps) value = std::nextafter(value, -std::numeric_limits<double>::infinity());
    return value;
}

// ---------------------------------------------------------------------------
// Documented texts.

struct Example {
    double value;
    const char* text;
};

TEST(RealText, DocumentedExamples) {
    const Example examples[] = {
        {2.34375, "2.34375"},
        {-2655.76171875, "-2655.76171875"},
        {-777, "-777"},
        {0.0, "0"},
        {-0.0, "0"},
        {1750, "1750"},
        {100.0 / 3, "33.3333333333333357"},
        {0.1, "0.100000000000000006"},
        {12.345, "12.3450000000000006"},
        {183.75 / 255, "0.72058823529411764"},
        {0.0001, "0.000100000000000000005"},
        {0.00005, "5.00000000000000024E-5"},
        {1e17, "100000000000000000"},
        {1e18, "1E18"},
        {1e20, "1E20"},
        {-1e-300, "-1.00000000000000002E-300"},
        {std::numeric_limits<double>::infinity(), "INF"},
        {std::numeric_limits<double>::quiet_NaN(), "NAN"},
    };
    for (const Example& example : examples) EXPECT_EQ(formatReal(example.value, '.'), example.text);
}

TEST(RealText, CommaSeparator) {
    EXPECT_EQ(formatReal(2.34375, ','), "2,34375");
    EXPECT_EQ(formatReal(0.00005, ','), "5,00000000000000024E-5");
    EXPECT_EQ(formatReal(0.0001, ','), "0,000100000000000000005");
    EXPECT_EQ(formatReal(-1e-300, ','), "-1,00000000000000002E-300");
    EXPECT_EQ(formatReal(1750, ','), "1750");
    EXPECT_EQ(formatReal(1e20, ','), "1E20");
}

TEST(RealText, InfinitiesNansAndZeros) {
    const double infinity = std::numeric_limits<double>::infinity();
    EXPECT_EQ(formatReal(-infinity, '.'), "-INF");
    EXPECT_EQ(formatReal(-std::numeric_limits<double>::quiet_NaN(), '.'), "NAN");
    EXPECT_EQ(formatReal(std::numeric_limits<double>::signaling_NaN(), ','), "NAN");
    EXPECT_EQ(formatReal(-0.0, ','), "0");
}

TEST(RealText, LimitsOfTheFixedNotation) {
    EXPECT_EQ(formatReal(1e18 - 128, '.'), "999999999999999872");  // largest double below 10^18
    EXPECT_EQ(formatReal(-1e18, '.'), "-1E18");
    EXPECT_EQ(formatReal(123456789012345678.0, '.'), "123456789012345680");  // zero written out
    EXPECT_EQ(formatReal(0.5, '.'), "0.5");
    EXPECT_EQ(formatReal(1, '.'), "1");
    EXPECT_EQ(formatReal(-1e-4, '.').rfind("-0.0001", 0), 0u);
    const std::string belowTenToMinusFour = formatReal(stepped(1e-4, -1), '.');
    EXPECT_EQ(belowTenToMinusFour.substr(0, 2), "9.");
    EXPECT_EQ(belowTenToMinusFour.substr(belowTenToMinusFour.size() - 3), "E-5");
}

TEST(RealText, ExtremeMagnitudes) {
    EXPECT_EQ(formatReal(std::numeric_limits<double>::max(), '.'), "1.79769313486231571E308");
    EXPECT_EQ(formatReal(-std::numeric_limits<double>::denorm_min(), '.'), "-4.94065645841246544E-324");
    EXPECT_EQ(formatReal(std::numeric_limits<double>::min(), ','), "2,22507385850720138E-308");
}

// 2^-877 lies just below 10^-264 while the estimate from its binary exponent
// gives 10^-263: the decimal exponent must come out one lower.
TEST(RealText, TinyMagnitudeWhoseEstimateIsOneTooHigh) {
    for (int binaryExponent : {-877, -681}) {
        const std::string text = formatReal(std::ldexp(1.0, binaryExponent), '.');
        EXPECT_EQ(text.substr(0, 3), "9.9") << text;
        EXPECT_EQ(text.size(), 24u) << text;  // 18 significant digits
    }
    EXPECT_EQ(formatReal(std::ldexp(1.0, -877), '.').substr(19), "E-265");
    EXPECT_EQ(formatReal(std::ldexp(1.0, -681), '.').substr(19), "E-206");
}

// ---------------------------------------------------------------------------
// An exact reference: natural numbers of any size, and every rounding to a
// 64-bit significand done on exact values.

struct Natural {
    std::vector<std::uint32_t> limbs;  // least significant first, no leading zero limbs

    static Natural of(std::uint64_t value) {
        Natural n;
        for (; value != 0; value >>= 32) n.limbs.push_back(static_cast<std::uint32_t>(value));
        return n;
    }
    bool isZero() const { return limbs.empty(); }
    int bitLength() const {
        return isZero() ? 0 : 32 * static_cast<int>(limbs.size()) - std::countl_zero(limbs.back());
    }
    bool bit(int position) const {
        const auto limb = static_cast<std::size_t>(position / 32);
        return position >= 0 && limb < limbs.size() && ((limbs[limb] >> (position % 32)) & 1) != 0;
    }
    bool anyBitBelow(int position) const {
        for (int i = 0; i < position; ++i) {
            if (bit(i)) return true;
        }
        return false;
    }
    std::uint64_t toUint64() const {
        std::uint64_t value = 0;
        for (std::size_t i = std::min<std::size_t>(limbs.size(), 2); i-- > 0;)
            value = (value << 32) | limbs[i];
        return value;
    }
    void trim() {
        while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
    }
};

int compare(const Natural& a, const Natural& b) {
    if (a.limbs.size() != b.limbs.size()) return a.limbs.size() < b.limbs.size() ? -1 : 1;
    for (std::size_t i = a.limbs.size(); i-- > 0;) {
        if (a.limbs[i] != b.limbs[i]) return a.limbs[i] < b.limbs[i] ? -1 : 1;
    }
    return 0;
}

Natural shiftedLeft(const Natural& n, int bits) {
    Natural result;
    result.limbs.assign(static_cast<std::size_t>(bits / 32), 0);
    std::uint32_t carry = 0;
    for (std::uint32_t limb : n.limbs) {
        result.limbs.push_back(bits % 32 == 0 ? limb : (limb << (bits % 32)) | carry);
        carry = bits % 32 == 0 ? 0 : limb >> (32 - bits % 32);
    }
    result.limbs.push_back(carry);
    result.trim();
    return result;
}

Natural shiftedRight(const Natural& n, int bits) {
    Natural result;
    for (int position = bits; position < n.bitLength(); position += 32) {
        std::uint32_t limb = 0;
        for (int i = 31; i >= 0; --i) limb = (limb << 1) | (n.bit(position + i) ? 1 : 0);
        result.limbs.push_back(limb);
    }
    result.trim();
    return result;
}

Natural sum(const Natural& a, const Natural& b) {
    Natural result;
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < std::max(a.limbs.size(), b.limbs.size()) || carry != 0; ++i) {
        carry += (i < a.limbs.size() ? a.limbs[i] : 0) + std::uint64_t{i < b.limbs.size() ? b.limbs[i] : 0};
        result.limbs.push_back(static_cast<std::uint32_t>(carry));
        carry >>= 32;
    }
    result.trim();
    return result;
}

Natural difference(const Natural& a, const Natural& b) {  // a >= b
    Natural result;
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < a.limbs.size(); ++i) {
        std::int64_t digit = std::int64_t{a.limbs[i]} - (i < b.limbs.size() ? b.limbs[i] : 0) - borrow;
        borrow = digit < 0 ? 1 : 0;
        result.limbs.push_back(static_cast<std::uint32_t>(digit + (borrow << 32)));
    }
    result.trim();
    return result;
}

Natural product(const Natural& a, const Natural& b) {
    Natural result;
    result.limbs.assign(a.limbs.size() + b.limbs.size() + 1, 0);
    for (std::size_t i = 0; i < a.limbs.size(); ++i) {
        std::uint64_t carry = 0;
        for (std::size_t j = 0; j < b.limbs.size() || carry != 0; ++j) {
            carry += result.limbs[i + j] + std::uint64_t{a.limbs[i]} * (j < b.limbs.size() ? b.limbs[j] : 0);
            result.limbs[i + j] = static_cast<std::uint32_t>(carry);
            carry >>= 32;
        }
    }
    result.trim();
    return result;
}

struct Division {
    Natural quotient, remainder;
};

Division divide(const Natural& dividend, const Natural& divisor) {
    Division result{Natural{}, dividend};
    for (int shift = dividend.bitLength() - divisor.bitLength(); shift >= 0; --shift) {
        const Natural part = shiftedLeft(divisor, shift);
        if (compare(result.remainder, part) >= 0) {
            result.remainder = difference(result.remainder, part);
            result.quotient = sum(result.quotient, shiftedLeft(Natural::of(1), shift));
        }
    }
    return result;
}

Natural roundedUpWhen(const Natural& kept, bool half, bool below) {
    return half && (below || kept.bit(0)) ? sum(kept, Natural::of(1)) : kept;
}

// mantissa * 2^exponent. The values met here stay far inside the extended
// exponent range, so that range plays no part.
struct Dyadic {
    Natural mantissa;
    int exponent;
};

// Nearest value with 64 significant bits, ties to even; `sticky` stands for
// a nonzero amount below the mantissa's last bit.
Dyadic roundToSignificand(const Dyadic& x, bool sticky = false) {
    const int excess = x.mantissa.bitLength() - 64;
    if (excess <= 0) return x;
    const Natural kept = shiftedRight(x.mantissa, excess);
    const bool below = sticky || x.mantissa.anyBitBelow(excess - 1);
    return {roundedUpWhen(kept, x.mantissa.bit(excess - 1), below), x.exponent + excess};
}

Dyadic roundedProduct(const Dyadic& a, const Dyadic& b) {
    return roundToSignificand({product(a.mantissa, b.mantissa), a.exponent + b.exponent});
}

Dyadic roundedQuotient(const Dyadic& a, const Dyadic& b) {
    // At least 66 quotient bits, so that the rounding bit is one of them.
    const int shift = std::max(0, 66 + b.mantissa.bitLength() - a.mantissa.bitLength());
    const Division division = divide(shiftedLeft(a.mantissa, shift), b.mantissa);
    return roundToSignificand({division.quotient, a.exponent - shift - b.exponent},
                              !division.remainder.isZero());
}

Natural roundToInteger(const Dyadic& x) {
    if (x.exponent >= 0) return shiftedLeft(x.mantissa, x.exponent);
    const int fractionBits = -x.exponent;
    const Natural kept = shiftedRight(x.mantissa, fractionBits);
    return roundedUpWhen(kept, x.mantissa.bit(fractionBits - 1), x.mantissa.anyBitBelow(fractionBits - 1));
}

// The nearest 64-bit-significand values of the powers of ten the scaling uses.
std::map<unsigned, Dyadic> nearestPowersOfTen() {
    std::map<unsigned, Dyadic> powers;
    Natural exact = Natural::of(1);
    for (unsigned k = 0; k <= 4608; ++k) {
        if (k < 32 || (k % 32 == 0 && k <= 480) || k % 512 == 0) powers[k] = roundToSignificand({exact, 0});
        exact = product(exact, Natural::of(10));
    }
    return powers;
}

struct ReferenceFormatter {
    std::map<unsigned, Dyadic> powers = nearestPowersOfTen();

    // round(a * 10^(18 - E)), the power applied in up to three rounded factors.
    Natural scaledDigits(const Dyadic& a, int decimalExponent) const {
        const int p = 18 - decimalExponent;
        const unsigned k = static_cast<unsigned>(std::abs(p));
        std::vector<unsigned> factors{k % 32};
        if ((k / 32) % 16 != 0) factors.push_back(32 * ((k / 32) % 16));
        if (k / 512 != 0) factors.push_back(512 * (k / 512));
        Dyadic x = a;
        for (unsigned factor : factors) {
            x = p >= 0 ? roundedProduct(x, powers.at(factor)) : roundedQuotient(x, powers.at(factor));
        }
        return roundToInteger(x);
    }

    // The 18 digits and the decimal exponent E (value = 0.d1d2... * 10^E).
    std::pair<std::uint64_t, int> digits(double magnitude) const {
        int frexpExponent = 0;
        const double fraction = std::frexp(magnitude, &frexpExponent);
        const Dyadic a{Natural::of(static_cast<std::uint64_t>(std::ldexp(fraction, 64))), frexpExponent - 64};
        int decimalExponent = static_cast<int>(std::floor((frexpExponent - 1) * 19728 / 65536.0)) + 1;
        Natural s = scaledDigits(a, decimalExponent);
        if (compare(s, Natural::of(100000000000000000u)) < 0) s = scaledDigits(a, --decimalExponent);
        if (compare(s, Natural::of(1000000000000000000u)) >= 0) {
            s = roundToInteger(roundedQuotient({s, 0}, {Natural::of(10), 0}));
            ++decimalExponent;
        }
        return {s.toUint64(), decimalExponent};
    }

    std::string text(double value, char separator) const {
        const auto [digitValue, decimalExponent] = digits(std::fabs(value));
        std::string digitText = std::to_string(digitValue);
        digitText.erase(digitText.find_last_not_of('0') + 1);
        std::string body;
        if (decimalExponent > 18 || decimalExponent < -3) {
            body = digitText.substr(0, 1) + (digitText.size() > 1 ? separator + digitText.substr(1) : "") +
                   "E" + std::to_string(decimalExponent - 1);
        } else if (decimalExponent <= 0) {
            body = "0" + std::string(1, separator) + std::string(-decimalExponent, '0') + digitText;
        } else {
            const auto wholeDigits = static_cast<std::size_t>(decimalExponent);
            body = digitText.substr(0, wholeDigits);
            if (digitText.size() < wholeDigits) body += std::string(wholeDigits - digitText.size(), '0');
            if (digitText.size() > wholeDigits) body += separator + digitText.substr(wholeDigits);
        }
        return (value < 0 ? "-" : "") + body;
    }
};

// ---------------------------------------------------------------------------
// Doubles to compare: fixed families first, then random ones.

std::size_t referenceCount() {
    const char* setting = std::getenv("VARDEL_REFERENCE_COUNT");
    return setting != nullptr ? std::strtoull(setting, nullptr, 10) : 150000;
}

void addWithNeighbours(std::vector<double>& values, double value, int ulps) {
    for (int step = -ulps; step <= ulps; ++step) values.push_back(stepped(value, step));
}

std::vector<double> fixedFamilies() {
    std::vector<double> values;
    for (int exponent = -1074; exponent <= 1023; ++exponent)
        addWithNeighbours(values, std::ldexp(1.0, exponent), 1);
    for (int exponent = -323; exponent <= 308; ++exponent) {
        addWithNeighbours(values, nearest("1e" + std::to_string(exponent)), 3);
    }
    addWithNeighbours(values, 1e18, 300);
    addWithNeighbours(values, 1e17, 300);
    addWithNeighbours(values, std::numeric_limits<double>::max(), 3);
    addWithNeighbours(values, std::numeric_limits<double>::min(), 3);
    addWithNeighbours(values, std::numeric_limits<double>::denorm_min(), 3);
    values.erase(
        std::remove_if(values.begin(), values.end(), [](double v) { return v == 0 || std::isinf(v); }),
        values.end());
    return values;
}

double randomDouble(std::mt19937_64& bits) {
    switch (bits() % 4) {
        case 0: return std::bit_cast<double>(bits() & 0x800FFFFFFFFFFFFFu);  // subnormal
        case 1: {  // a converted reading: a count scaled to a unit
            const double count = static_cast<double>(bits() % 1024) - 512;
            const double scale =
                static_cast<double>(bits() % 10000 + 1) / static_cast<double>(bits() % 997 + 1);
            return count * scale / 255;
        }
        default: return std::bit_cast<double>(bits());
    }
}

std::vector<double> referenceSample(std::size_t count) {
    std::vector<double> values = fixedFamilies();
    std::mt19937_64 bits(20240611);
    while (values.size() < count) {
        const double value = randomDouble(bits);
        if (std::isfinite(value) && value != 0) values.push_back(value);
    }
    return values;
}

TEST(RealText, AgreesWithExactReference) {
    const ReferenceFormatter reference;
    const auto started = std::chrono::steady_clock::now();
    const std::vector<double> sample = referenceSample(referenceCount());
    std::size_t mismatches = 0;
    for (double value : sample) {
        const std::string expected = reference.text(value, '.');
        const std::string actual = formatReal(value, '.');
        const bool same = actual == expected && formatReal(value, ',') == reference.text(value, ',');
        if (!same && ++mismatches <= 10) {
            ADD_FAILURE() << std::hexfloat << value << ": " << actual << " instead of " << expected;
        }
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    std::cout << "compared " << sample.size() << " doubles with the exact reference: " << mismatches
              << " mismatches, " << elapsed.count() << " s\n";
    EXPECT_EQ(mismatches, 0u);
}

TEST(RealText, ReferenceAgreesWithDocumentedTexts) {
    const ReferenceFormatter reference;
    EXPECT_EQ(reference.text(183.75 / 255, '.'), "0.72058823529411764");
    EXPECT_EQ(reference.text(0.00005, ','), "5,00000000000000024E-5");
    EXPECT_EQ(reference.text(1e18 - 128, '.'), "999999999999999872");
    EXPECT_EQ(reference.text(-1e-300, '.'), "-1.00000000000000002E-300");
    EXPECT_EQ(reference.text(1750, '.'), "1750");
}

// Eighteen digits are more than enough to tell any two doubles apart.
TEST(RealText, TextsReadBackAsTheSameDouble) {
    std::mt19937_64 bits(99);
    for (int i = 0; i < 100000; ++i) {
        const double value = randomDouble(bits);
        if (!std::isfinite(value) || value == 0) continue;
        const std::string text = formatReal(value, '.');
        double back = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), back);
        ASSERT_TRUE(error == std::errc() && end == text.data() + text.size()) << text;
        ASSERT_EQ(back, value) << text;
    }
}

}  // namespace
}  // namespace vardel
