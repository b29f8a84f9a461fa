#include <gtest/gtest.h>

#include <limits>

#include "text/failure.hpp"
#include "text/integer_text.hpp"

using namespace vardel;

namespace {

struct IntegerCase {
    const char* text;
    bool strictFails;
    std::int32_t value;  // strict result, or the lenient one when strict fails
};

}  // namespace

TEST(IntegerText, StrictAndLenientReading) {
    const IntegerCase cases[] = {
        {"12", false, 12},
        {" 7", false, 7},
        {"7 ", true, 7},
        {"12x", true, 12},
        {"1.5", true, 1},
        {"", true, 0},
        {"   ", true, 0},
        {"abc", true, 0},
        {"-", true, 0},
        {"+", true, 0},
        {"-5", false, -5},
        {"+5", false, 5},
        {"$1F", false, 31},
        {"x1f", false, 31},
        {"X1F", false, 31},
        {"0x1F", false, 31},
        {"0X1f", false, 31},
        {"$FFFFFFFF", false, -1},
        {"$7FFFFFFF", false, 2147483647},
        {"$123456789", true, 0x12345678},
        {"$", true, 0},
        {"0x", true, 0},
        {"$1G", true, 1},
        {"-$1", true, 0},
        {"x1", false, 1},
        {"2147483647", false, 2147483647},
        {"2147483648", true, std::numeric_limits<std::int32_t>::min()},
        {"-2147483648", false, std::numeric_limits<std::int32_t>::min()},
        {"-2147483649", true, 2147483647},
        {"9999999999", true, 999999999},
        {"-12a", true, 12},
        {"--1", true, 0},
        {"- 1", true, 0},
        {"007", false, 7},
        {"1,2", true, 1},
    };
    for (const IntegerCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseIntegerLenient(c.text), c.value);
        if (c.strictFails) {
            EXPECT_THROW(parseIntegerStrict(c.text), DriverFailure);
        } else {
            EXPECT_EQ(parseIntegerStrict(c.text), c.value);
        }
    }
}

TEST(IntegerText, StrictFailureNamesTheWholeText) {
    try {
        parseIntegerStrict(" 12 ");
        FAIL() << "no failure raised";
    } catch (const DriverFailure& failure) {
        EXPECT_EQ(failure.kind, FailureKind::Conversion);
        EXPECT_EQ(failure.insert, " 12 ");
        EXPECT_EQ(failure.messageFormat, "'%s' n'est pas une valeur entière correcte");
    }
}

TEST(IntegerText, FormatInteger) {
    EXPECT_EQ(formatInteger(0), "0");
    EXPECT_EQ(formatInteger(-777), "-777");
    EXPECT_EQ(formatInteger(2147483647), "2147483647");
    EXPECT_EQ(formatInteger(std::numeric_limits<std::int32_t>::min()), "-2147483648");
}
