#include "text/real_text.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

#include "numeric/extended.hpp"

namespace vardel {
namespace {

constexpr int SIGNIFICANT_DIGITS = 18;
constexpr std::uint64_t TEN_TO_17 = 100000000000000000u;
constexpr std::uint64_t TEN_TO_18 = 1000000000000000000u;

// The value reads 0.d1d2...d18 x 10^exponent, with digits = d1d2...d18.
struct DecimalForm {
    std::uint64_t digits;
    int exponent;
};

int floorDivide(int numerator, int denominator) {
    const int quotient = numerator / denominator;
    return (numerator % denominator != 0 && numerator < 0) ? quotient - 1 : quotient;
}

// The power of two of the leading bit: 2^e2 <= |a| < 2^(e2+1).
int binaryExponent(const Extended& a) { return a.exponent - std::countl_zero(a.significand); }

// 19728 / 65536 lies just below log10(2), so this is the decimal exponent or
// one less (one more for some tiny magnitudes).
int estimateDecimalExponent(const Extended& a) { return floorDivide(binaryExponent(a) * 19728, 65536) + 1; }

Extended scaleToIntegralDigits(const Extended& a, int decimalExponent) {
    return roundToIntegral(scaleByPowerOfTen(a, SIGNIFICANT_DIGITS - decimalExponent));
}

DecimalForm decimalForm(const Extended& magnitude) {
    int exponent = estimateDecimalExponent(magnitude);
    Extended scaled = scaleToIntegralDigits(magnitude, exponent);
    if (compareMagnitude(scaled, extendedFromUint64(TEN_TO_17)) < 0) {  // the estimate was one too high
        --exponent;
        scaled = scaleToIntegralDigits(magnitude, exponent);
    }
    if (compareMagnitude(scaled, extendedFromUint64(TEN_TO_18)) >= 0) {  // one digit too many
        scaled = roundToIntegral(divide(scaled, extendedFromUint64(10)));
        ++exponent;
    }
    return DecimalForm{integralMagnitude(scaled), exponent};
}

std::string withoutTrailingZeros(std::uint64_t digits) {
    std::string text = std::to_string(digits);
    text.erase(text.find_last_not_of('0') + 1);
    return text;
}

std::string fixedNotation(const std::string& digits, int exponent, char separator) {
    const auto count = static_cast<int>(digits.size());
    if (exponent <= 0) {
        std::string text{'0', separator};
        text.append(static_cast<std::size_t>(-exponent), '0');
        return text.append(digits);
    }
    if (count <= exponent) return digits + std::string(exponent - count, '0');
    return digits.substr(0, exponent) + separator + digits.substr(exponent);
}

std::string scientificNotation(const std::string& digits, int exponent, char separator) {
    std::string text = digits.substr(0, 1);
    if (digits.size() > 1) text += separator + digits.substr(1);
    return text + "E" + std::to_string(exponent - 1);
}

}  // namespace

std::string formatReal(double value, char separator) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";
    const DecimalForm form = decimalForm(extendedFromDouble(std::fabs(value)));
    const std::string digits = withoutTrailingZeros(form.digits);
    const bool fixed = form.exponent >= -3 && form.exponent <= SIGNIFICANT_DIGITS;
    const std::string text = fixed ? fixedNotation(digits, form.exponent, separator)
                                   : scientificNotation(digits, form.exponent, separator);
    return value < 0 ? "-" + text : text;
}

}  // namespace vardel
