#include "text/integer_text.hpp"

#include "text/failure.hpp"

namespace vardel {

std::string formatInteger(std::int32_t value) { return std::to_string(value); }

namespace {

struct IntegerScan {
    std::int32_t value = 0;  // the value, or the one held at the fault
    bool fault = false;
};

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
    if (pos == text.size() || !isDecimalDigit(text[pos])) return {0, true};
    for (; pos < text.size(); ++pos) {
        if (!isDecimalDigit(text[pos]) || value > LIMIT_BEFORE_DIGIT) return {asSigned(value), true};
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

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::int32_t parseIntegerStrict(std::string_view text) {
    const IntegerScan scan = scanInteger(text);
    if (scan.fault) raiseIntegerConversionFailure(text);
    return scan.value;
}

std::int32_t parseIntegerLenient(std::string_view text) { return scanInteger(text).value; }

}  // namespace vardel
