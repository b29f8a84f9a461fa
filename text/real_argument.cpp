#include "text/real_argument.hpp"

#include <cmath>
#include <optional>

#include "numeric/extended.hpp"
#include "text/failure.hpp"
#include "text/integer_text.hpp"

namespace vardel {

namespace {

struct RealSyntax {
    bool negative = false;
    std::string digits;          // integer and fraction digits, in order
    std::int32_t fractionDigits = 0;
    std::int32_t exponent = 0;
};

constexpr std::int32_t EXPONENT_READ_LIMIT = 500;

// Reads the exponent digits while the exponent is below 500. The limit is on
// purpose: the exponent stays at most 4999, past the extended range (about
// 1E4932) yet far from overflowing, and a digit left over makes the text
// invalid, so "1E600" is read (and overflows) while "1E6000" is no number.
void readExponentDigits(std::string_view text, std::size_t& pos, std::int32_t& exponent) {
    while (pos < text.size() && isDecimalDigit(text[pos]) && exponent < EXPONENT_READ_LIMIT) {
        exponent = exponent * 10 + (text[pos] - '0');
        ++pos;
    }
}

std::optional<RealSyntax> readRealSyntax(std::string_view text, char separator) {
    RealSyntax syntax;
    std::size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) syntax.negative = text[pos++] == '-';
    const std::size_t mantissaStart = pos;
    while (pos < text.size() && isDecimalDigit(text[pos])) syntax.digits += text[pos++];
    if (pos < text.size() && text[pos] == separator) {
        ++pos;
        while (pos < text.size() && isDecimalDigit(text[pos])) {
            syntax.digits += text[pos++];
            ++syntax.fractionDigits;
        }
    }
    if (pos == mantissaStart) return std::nullopt;
    if (pos < text.size() && (text[pos] == 'E' || text[pos] == 'e')) {
        ++pos;
        bool negativeExponent = false;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negativeExponent = text[pos++] == '-';
        readExponentDigits(text, pos, syntax.exponent);
        if (negativeExponent) syntax.exponent = -syntax.exponent;
    }
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (pos != text.size()) return std::nullopt;
    return syntax;
}

}  // namespace

double parseRealArgument(std::string_view text, char separator) {
    const auto syntax = readRealSyntax(text, separator);
    if (!syntax) raiseRealConversionFailure(text);
    Extended value = extendedFromUint64(0);
    for (char digit : syntax->digits) {
        value = accumulateDigit(value, static_cast<unsigned>(digit - '0'));
        if (hasOverflowed(value)) raiseRealConversionFailure(text);
    }
    value = scaleByPowerOfTen(value, syntax->exponent - syntax->fractionDigits);
    if (hasOverflowed(value)) raiseRealConversionFailure(text);
    if (syntax->negative) value = negate(value);
    bool overflow = false;
    const double result = narrowToDouble(value, overflow);
    if (overflow) raiseOverflow();
    return result;
}

float narrowArgumentToSingle(double value) {
    bool overflow = false;
    const float result = narrowDoubleToFloat(value, overflow);
    if (overflow) raiseOverflow();
    return result;
}

std::int32_t roundArgument(double value) {
    constexpr double TWO_POW_52 = 4503599627370496.0;
    constexpr double TWO_POW_63 = 9223372036854775808.0;
    double rounded = value;
    if (std::fabs(value) < TWO_POW_52) {
        // Both the floor and the difference are exact at these magnitudes.
        const double below = std::floor(value);
        const double fraction = value - below;
        const bool belowIsEven = std::fmod(below, 2.0) == 0.0;
        rounded = fraction > 0.5 || (fraction == 0.5 && !belowIsEven) ? below + 1.0 : below;
    }
    if (!(rounded >= -TWO_POW_63 && rounded < TWO_POW_63)) raiseInvalidOperation();
    const auto wide = static_cast<std::int64_t>(rounded);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(wide)));
}

}  // namespace vardel
