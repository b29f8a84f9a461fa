#include "cli/text_formats.hpp"

#include <cmath>
#include <optional>

#include "cli/extended.hpp"
#include "cli/failure.hpp"

namespace vardel {

// ---- Command line ---------------------------------------------------------

namespace {

constexpr std::size_t TOKEN_LIMIT = 4096;

bool isSeparator(unsigned char byte) { return byte >= 0x01 && byte <= 0x20; }

// Skips separators and "" pairs; returns the position of the next token.
std::size_t skipSeparators(std::string_view line, std::size_t pos) {
    while (pos < line.size()) {
        if (isSeparator(static_cast<unsigned char>(line[pos]))) {
            ++pos;
        } else if (line.compare(pos, 2, "\"\"") == 0) {
            pos += 2;
        } else {
            break;
        }
    }
    return pos;
}

// Takes a quoted run starting after its opening quote. Bytes beyond the
// token limit are dropped; the run still ends at its closing quote.
std::size_t takeQuotedRun(std::string_view line, std::size_t pos, std::string& token) {
    while (pos < line.size() && line[pos] != '"' && line[pos] != '\0') {
        if (token.size() < TOKEN_LIMIT) token += line[pos];
        ++pos;
    }
    return pos < line.size() && line[pos] == '"' ? pos + 1 : pos;
}

std::size_t takeToken(std::string_view line, std::size_t pos, std::string& token) {
    while (pos < line.size() && token.size() < TOKEN_LIMIT) {
        const unsigned char byte = static_cast<unsigned char>(line[pos]);
        if (byte <= 0x20) break;
        if (byte == '"') {
            pos = takeQuotedRun(line, pos + 1, token);
        } else {
            token += static_cast<char>(byte);
            ++pos;
        }
    }
    return pos;
}

}  // namespace

std::vector<std::string> splitCommandLine(std::string_view commandLine) {
    const std::string_view line = commandLine.substr(0, commandLine.find('\0'));
    std::vector<std::string> tokens;
    std::size_t pos = skipSeparators(line, 0);
    while (pos < line.size()) {
        std::string token;
        pos = takeToken(line, pos, token);
        tokens.push_back(std::move(token));
        pos = skipSeparators(line, pos);
    }
    return tokens;
}

// ---- Real arguments -------------------------------------------------------

namespace {

struct RealSyntax {
    bool negative = false;
    std::string digits;          // integer and fraction digits, in order
    std::int32_t fractionDigits = 0;
    std::int32_t exponent = 0;
};

constexpr std::int32_t EXPONENT_READ_LIMIT = 500;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the exponent digits while the exponent is below 500.
void readExponentDigits(std::string_view text, std::size_t& pos, std::int32_t& exponent) {
    while (pos < text.size() && isDigit(text[pos]) && exponent < EXPONENT_READ_LIMIT) {
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
    while (pos < text.size() && isDigit(text[pos])) syntax.digits += text[pos++];
    if (pos < text.size() && text[pos] == separator) {
        ++pos;
        while (pos < text.size() && isDigit(text[pos])) {
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
        if (isInfinite(value)) raiseRealConversionFailure(text);
    }
    value = scaleByPowerOfTen(value, syntax->exponent - syntax->fractionDigits);
    if (isInfinite(value)) raiseRealConversionFailure(text);
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

// ---- Rounding to an integer -----------------------------------------------

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

// ---- Integers -------------------------------------------------------------

std::string formatInteger(std::int32_t value) { return std::to_string(value); }

namespace {

struct IntegerScan {
    std::int32_t value = 0;  // the value, or the one held at the fault
    bool fault = false;
};

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::int32_t asSigned(std::uint64_t bits) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
}

IntegerScan scanHex(std::string_view text, std::size_t pos) {
    constexpr std::uint64_t LIMIT_BEFORE_DIGIT = 0x0FFFFFFF;
    std::uint64_t value = 0;
    if (pos == text.size()) return {0, true};
    for (; pos < text.size(); ++pos) {
        const int digit = hexDigitValue(text[pos]);
        if (digit < 0 || value > LIMIT_BEFORE_DIGIT) return {asSigned(value), true};
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return {asSigned(value), false};
}

IntegerScan scanDecimal(std::string_view text, std::size_t pos, bool negative) {
    constexpr std::uint64_t LIMIT_BEFORE_DIGIT = 214748364;
    std::uint64_t value = 0;
    if (pos == text.size() || !isDigit(text[pos])) return {0, true};
    for (; pos < text.size(); ++pos) {
        if (!isDigit(text[pos]) || value > LIMIT_BEFORE_DIGIT) return {asSigned(value), true};
        value = value * 10 + static_cast<unsigned>(text[pos] - '0');
    }
    const std::uint64_t limit = negative ? 2147483648u : 2147483647u;
    const std::int32_t wrapped = asSigned(negative ? 0 - value : value);
    return {wrapped, value > limit};
}

IntegerScan scanInteger(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (pos < text.size() && (text[pos] == '$' || text[pos] == 'x' || text[pos] == 'X')) {
        return scanHex(text, pos + 1);
    }
    if (text.compare(pos, 2, "0x") == 0 || text.compare(pos, 2, "0X") == 0) return scanHex(text, pos + 2);
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) negative = text[pos++] == '-';
    IntegerScan scan = scanDecimal(text, pos, negative);
    return scan;
}

}  // namespace

std::int32_t parseIntegerStrict(std::string_view text) {
    const IntegerScan scan = scanInteger(text);
    if (scan.fault) raiseIntegerConversionFailure(text);
    return scan.value;
}

std::int32_t parseIntegerLenient(std::string_view text) { return scanInteger(text).value; }

}  // namespace vardel
