#include "text/real_text.hpp"

#include <gtest/gtest.h>

#include "tests/support/real_text_reference.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace vardel {
namespace {

using reference::referenceFormatReal;

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
    const auto started = std::chrono::steady_clock::now();
    const std::vector<double> sample = referenceSample(referenceCount());
    std::size_t mismatches = 0;
    for (double value : sample) {
        const std::string expected = referenceFormatReal(value, '.');
        const std::string actual = formatReal(value, '.');
        const bool same = actual == expected && formatReal(value, ',') == referenceFormatReal(value, ',');
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
    EXPECT_EQ(referenceFormatReal(183.75 / 255, '.'), "0.72058823529411764");
    EXPECT_EQ(referenceFormatReal(0.00005, ','), "5,00000000000000024E-5");
    EXPECT_EQ(referenceFormatReal(1e18 - 128, '.'), "999999999999999872");
    EXPECT_EQ(referenceFormatReal(-1e-300, '.'), "-1.00000000000000002E-300");
    EXPECT_EQ(referenceFormatReal(1750, '.'), "1750");
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
