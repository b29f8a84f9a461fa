#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "text/failure.hpp"
#include "text/real_argument.hpp"

using namespace vardel;

namespace {

FailureKind failureOf(const std::string& text, char separator = '.') {
    try {
        parseRealArgument(text, separator);
    } catch (const DriverFailure& failure) {
        return failure.kind;
    }
    ADD_FAILURE() << "'" << text << "' was accepted";
    return FailureKind::Output;
}

bool isNegativeZero(double value) { return value == 0 && std::signbit(value); }

}  // namespace

TEST(RealArgument, AcceptedForms) {
    EXPECT_EQ(parseRealArgument("5", '.'), 5.0);
    EXPECT_EQ(parseRealArgument("5.", '.'), 5.0);
    EXPECT_EQ(parseRealArgument(".5", '.'), 0.5);
    EXPECT_EQ(parseRealArgument(" 3 ", '.'), 3.0);
    EXPECT_EQ(parseRealArgument("+2.5", '.'), 2.5);
    EXPECT_EQ(parseRealArgument("-2.5e1", '.'), -25.0);
    EXPECT_EQ(parseRealArgument("1e", '.'), 1.0);
    EXPECT_EQ(parseRealArgument("1E+", '.'), 1.0);
    EXPECT_EQ(parseRealArgument("1e-", '.'), 1.0);
    EXPECT_EQ(parseRealArgument("25E-1", '.'), 2.5);
    EXPECT_EQ(parseRealArgument(".", '.'), 0.0);
    EXPECT_TRUE(isNegativeZero(parseRealArgument("-.", '.')));
    EXPECT_TRUE(isNegativeZero(parseRealArgument("-0", '.')));
    EXPECT_EQ(parseRealArgument("2,5", ','), 2.5);
    EXPECT_EQ(parseRealArgument("4294967297", '.'), 4294967297.0);
}

TEST(RealArgument, RejectedTextsAreConversionFailures) {
    for (const char* text : {"", " ", "+", "-", "E5", "e", "abc", "1..2", "1.2.3", "0x10", "1 2", "\t1", "1\t",
                             "1,5", "1E5x", "++1", "1e+-2", "1E6000", "1E4999", "1,000", "\xE9"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(failureOf(text), FailureKind::Conversion);
    }
    EXPECT_EQ(failureOf("2.5", ','), FailureKind::Conversion);
}

TEST(RealArgument, FailureMessageCarriesTheArgumentAsGiven) {
    try {
        parseRealArgument(" a b ", '.');
        FAIL();
    } catch (const DriverFailure& failure) {
        EXPECT_EQ(failure.insert, " a b ");
        EXPECT_EQ(failure.messageFormat, "'%s' n'est pas une valeur en virgule flottante correcte");
    }
}

TEST(RealArgument, ExponentRangeAndOverflow) {
    // 1E600 fits the extended range but not the double range.
    EXPECT_EQ(failureOf("1E600"), FailureKind::Overflow);
    EXPECT_EQ(failureOf("-1E309"), FailureKind::Overflow);
    EXPECT_EQ(parseRealArgument("1E308", '.'), 1e308);
    EXPECT_EQ(parseRealArgument("1E-400", '.'), 0.0);
    EXPECT_EQ(parseRealArgument("4.9406564584124654E-324", '.'), std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(parseRealArgument("1E-4999", '.'), 0.0);
    EXPECT_EQ(failureOf("1E-5000"), FailureKind::Conversion);
    EXPECT_EQ(parseRealArgument("0E4999", '.'), 0.0);
    // Exponent digits stop being read at 500 or more: "1E0499" reads all.
    EXPECT_EQ(failureOf("1E0499"), FailureKind::Overflow);
    EXPECT_EQ(failureOf("1E50000"), FailureKind::Conversion);
}

TEST(RealArgument, ValuesRoundedOnceForShortTexts) {
    EXPECT_EQ(parseRealArgument("0.1", '.'), 0.1);
    EXPECT_EQ(parseRealArgument("12.345", '.'), 12.345);
    EXPECT_EQ(parseRealArgument("123456789012345678", '.'), 123456789012345678.0);
    EXPECT_EQ(parseRealArgument("1e22", '.'), 1e22);
    EXPECT_EQ(parseRealArgument("9007199254740993", '.'), 9007199254740992.0);
    EXPECT_EQ(parseRealArgument("2.2250738585072014E-308", '.'), std::numeric_limits<double>::min());
    EXPECT_EQ(parseRealArgument("1.7976931348623157E308", '.'), std::numeric_limits<double>::max());
}

TEST(RealArgument, LongDigitStrings) {
    const std::string thousandNines(1000, '9');
    EXPECT_EQ(failureOf(thousandNines), FailureKind::Overflow);
    EXPECT_EQ(parseRealArgument("0." + std::string(1400, '0') + "1", '.'), 0.0);
    // Beyond the extended range while accumulating: not a number at all.
    EXPECT_EQ(failureOf(std::string(5000, '9')), FailureKind::Conversion);
}

TEST(NarrowArgument, SinglePrecision) {
    EXPECT_EQ(narrowArgumentToSingle(22.0), 22.0f);
    EXPECT_EQ(narrowArgumentToSingle(0.1), 0.1f);
    EXPECT_EQ(narrowArgumentToSingle(1e-50), 0.0f);
    try {
        narrowArgumentToSingle(1e39);
        FAIL();
    } catch (const DriverFailure& failure) {
        EXPECT_EQ(failure.kind, FailureKind::Overflow);
    }
}

TEST(RoundArgument, NearestWithTiesToEven) {
    EXPECT_EQ(roundArgument(0.5), 0);
    EXPECT_EQ(roundArgument(1.5), 2);
    EXPECT_EQ(roundArgument(2.5), 2);
    EXPECT_EQ(roundArgument(3.5), 4);
    EXPECT_EQ(roundArgument(-2.5), -2);
    EXPECT_EQ(roundArgument(-0.5), 0);
    EXPECT_EQ(roundArgument(-0.0), 0);
    EXPECT_EQ(roundArgument(0.49999999999999994), 0);
    EXPECT_EQ(roundArgument(2.5000000000000004), 3);
    EXPECT_EQ(roundArgument(-1.5), -2);
}

TEST(RoundArgument, KeepsTheLow32BitsOfThe64BitValue) {
    EXPECT_EQ(roundArgument(4294967297.0), 1);
    EXPECT_EQ(roundArgument(2147483648.0), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(roundArgument(3000000000.0), -1294967296);
    EXPECT_EQ(roundArgument(-9223372036854775808.0), 0);
    EXPECT_EQ(roundArgument(9223372036854774784.0), -1024);  // largest double below 2^63
}

TEST(RoundArgument, OutsideThe64BitRangeIsAnInvalidOperation) {
    for (double value : {9223372036854775808.0, 1e19, -1e19, -9223372036854777856.0,
                         std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        SCOPED_TRACE(value);
        try {
            roundArgument(value);
            FAIL() << "no failure raised";
        } catch (const DriverFailure& failure) {
            EXPECT_EQ(failure.kind, FailureKind::InvalidOperation);
        }
    }
}
