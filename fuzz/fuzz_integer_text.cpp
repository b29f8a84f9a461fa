// The two integer conversions of one text. The lenient one never fails and,
// where the strict one succeeds, gives the same value; texts of a plain form
// give the value they denote; a byte that no integer text holds is a fault.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/failure.hpp"
#include "text/integer_text.hpp"
#include "fuzz/fuzz_check.hpp"

namespace {

using vardel::DriverFailure;
using vardel::FailureKind;
using vardel::escapedBytes;

bool isDecimalDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return isDecimalDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

template <typename Predicate>
bool allOf(std::string_view text, Predicate predicate) {
    for (char c : text) {
        if (!predicate(c)) return false;
    }
    return !text.empty();
}

std::string_view withoutLeadingZeros(std::string_view digits) {
    const auto first = digits.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view() : digits.substr(first);
}

// What strict conversion must give for "blanks, optional sign, decimal
// digits" and "blanks, prefix, hexadecimal digits"; nothing for other texts.
struct Expectation {
    bool known = false;
    std::optional<std::int32_t> value;  // none: a fault
};

Expectation plainForm(std::string_view text) {
    text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
    std::string_view hex;
    if (!text.empty() && (text[0] == '$' || text[0] == 'x' || text[0] == 'X')) {
        hex = text.substr(1);
    } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        hex = text.substr(2);
    }
    if (hex.data() != nullptr) {
        if (!allOf(hex, isHexDigit)) return {};
        const std::string_view significant = withoutLeadingZeros(hex);
        if (significant.size() > 8) return {true, std::nullopt};
        const auto bits = static_cast<std::uint32_t>(std::stoul(std::string(significant.empty() ? "0" : significant), nullptr, 16));
        return {true, static_cast<std::int32_t>(bits)};
    }
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (!allOf(text, isDecimalDigit)) return {};
    const std::string_view significant = withoutLeadingZeros(text);
    if (significant.size() > 10) return {true, std::nullopt};
    const std::int64_t magnitude = significant.empty() ? 0 : std::stoll(std::string(significant));
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX || value < INT32_MIN) return {true, std::nullopt};
    return {true, static_cast<std::int32_t>(value)};
}

bool onlyIntegerBytes(std::string_view text) {
    return text.find_first_not_of(" +-0123456789abcdefABCDEF$xX") == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string context = "text \"" + escapedBytes(text) + "\"";
    std::optional<std::int32_t> strict;
    try {
        strict = vardel::parseIntegerStrict(text);
    } catch (const DriverFailure& failure) {
        FUZZ_CHECK(failure.kind == FailureKind::Conversion, context + ": failure of another kind");
        FUZZ_CHECK(failure.insert == text, context + ": report names \"" + escapedBytes(failure.insert) + "\"");
        FUZZ_CHECK(failure.messageFormat == "'%s' n'est pas une valeur enti\xC3\xA8re correcte",
                   context + ": message " + failure.messageFormat);
    }
    const std::int32_t lenient = vardel::parseIntegerLenient(text);
    if (strict) FUZZ_CHECK(lenient == *strict, context + ": lenient " + std::to_string(lenient) + ", strict " + std::to_string(*strict));
    if (!onlyIntegerBytes(text)) FUZZ_CHECK(!strict, context + ": accepted with a byte no integer has");
    const Expectation expected = plainForm(text);
    if (expected.known) {
        FUZZ_CHECK(strict == expected.value,
                   context + ": strict gives " + (strict ? std::to_string(*strict) : std::string("a failure")));
    }
    return 0;
}
