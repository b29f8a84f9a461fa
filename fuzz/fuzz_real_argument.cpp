// A real argument read with either separator, then rounded to an integer.
// Failures must be of the kinds these two raise; a value must be finite and
// agree with an independent reading of the text: exactly where a single
// rounding is certain, within a few units of the last place elsewhere.

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "text/failure.hpp"
#include "text/real_argument.hpp"
#include "fuzz/fuzz_check.hpp"

namespace {

using vardel::DriverFailure;
using vardel::FailureKind;
using vardel::escapedBytes;

// The accepted syntax read step by step, without the value.
struct Syntax {
    bool negative = false;
    std::string digits;  // integer and fraction digits
    std::int64_t fractionDigits = 0;
    std::int64_t exponent = 0;
};

bool allDigits(std::string_view text) { return text.find_first_not_of("0123456789") == std::string_view::npos; }

// The exponent's digits are read while it is below 500, and a digit left
// over makes the text invalid: past its leading zeros, at most three digits,
// or four whose first three are below 500.
std::optional<std::int64_t> exponentOf(std::string_view digits) {
    if (!allDigits(digits)) return std::nullopt;
    digits.remove_prefix(std::min(digits.size(), digits.find_first_not_of('0')));
    if (digits.size() > 4 || (digits.size() == 4 && digits.substr(0, 3) >= "500")) return std::nullopt;
    return digits.empty() ? 0 : std::stoll(std::string(digits));
}

// Cuts the text into its parts, where the library scans it byte by byte:
// blanks around, a sign, the mantissa up to "e" or "E", the exponent.
std::optional<Syntax> readSyntax(std::string_view text, char separator) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return std::nullopt;
    text = text.substr(first, text.find_last_not_of(' ') + 1 - first);
    Syntax syntax;
    if (text[0] == '+' || text[0] == '-') {
        syntax.negative = text[0] == '-';
        text.remove_prefix(1);
    }
    const auto exponentMark = text.find_first_of("eE");
    const std::string_view mantissa = text.substr(0, exponentMark);
    const auto point = mantissa.find(separator);
    const std::string_view whole = mantissa.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? "" : mantissa.substr(point + 1);
    if (mantissa.empty() || !allDigits(whole) || !allDigits(fraction)) return std::nullopt;
    syntax.digits = std::string(whole) + std::string(fraction);
    syntax.fractionDigits = static_cast<std::int64_t>(fraction.size());
    if (exponentMark == std::string_view::npos) return syntax;
    std::string_view power = text.substr(exponentMark + 1);
    const bool negative = !power.empty() && power[0] == '-';
    if (!power.empty() && (power[0] == '+' || power[0] == '-')) power.remove_prefix(1);
    const std::optional<std::int64_t> exponent = exponentOf(power);
    if (!exponent) return std::nullopt;
    syntax.exponent = negative ? -*exponent : *exponent;
    return syntax;
}

std::string describe(std::string_view text, char separator) {
    return "text \"" + escapedBytes(text) + "\" with separator '" + separator + "'";
}

void checkRounding(double value, const std::string& context) {
    const double nearest = std::nearbyint(value);  // ties to even in the default mode
    const bool inRange = nearest >= -0x1p63 && nearest < 0x1p63;
    try {
        const std::int32_t rounded = vardel::roundArgument(value);
        FUZZ_CHECK(inRange, context + ": rounded outside the 64-bit range");
        const auto low = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(static_cast<std::uint64_t>(static_cast<std::int64_t>(nearest))));
        FUZZ_CHECK(rounded == low, context + ": rounded to " + std::to_string(rounded));
    } catch (const DriverFailure& failure) {
        FUZZ_CHECK(failure.kind == FailureKind::InvalidOperation, context + ": rounding raised another kind");
        FUZZ_CHECK(!inRange, context + ": rounding failed inside the 64-bit range");
    }
}

// The value, or the failure, that the text must give.
void checkValue(std::string_view text, char separator, const std::optional<Syntax>& syntax,
                const std::optional<double>& value, const std::optional<FailureKind>& failure) {
    const std::string context = describe(text, separator);
    if (!syntax) {
        FUZZ_CHECK(failure == FailureKind::Conversion, context + ": invalid text accepted");
        return;
    }
    const std::size_t firstSignificant = syntax->digits.find_first_not_of('0');
    const std::string significant =
        firstSignificant == std::string::npos ? std::string() : syntax->digits.substr(firstSignificant);
    const auto length = static_cast<std::int64_t>(significant.size());
    const std::int64_t p = syntax->exponent - syntax->fractionDigits;
    const std::int64_t magnitude = length + p;  // 10^(magnitude-1) <= |value| < 10^magnitude
    // Beyond the extended range the text is invalid; beyond the double range
    // the value overflows.
    const bool extendedMayOverflow = length >= 4930 || (length > 0 && magnitude >= 4930);
    const bool doubleMayOverflow = length > 0 && magnitude >= 309;
    if (failure) {
        FUZZ_CHECK(*failure != FailureKind::Conversion || extendedMayOverflow, context + ": valid text refused");
        FUZZ_CHECK(*failure != FailureKind::Overflow || doubleMayOverflow, context + ": overflow reported");
        return;
    }
    FUZZ_CHECK(!(length > 0 && magnitude >= 310), context + ": no overflow for a value beyond the double range");
    FUZZ_CHECK(std::isfinite(*value), context + ": value not finite");
    FUZZ_CHECK(std::signbit(*value) == syntax->negative, context + ": wrong sign");
    if (length == 0) {
        FUZZ_CHECK(*value == 0, context + ": zero digits give a nonzero value");
        return;
    }
    const std::string normalized = significant + "e" + std::to_string(p);
    if (length <= 19 && std::llabs(p) <= 27) {
        // The digits are exact and 10^|p| too: the product or quotient is the
        // only rounding to 64 bits, then comes the rounding to double.
        static_assert(LDBL_MANT_DIG == 64, "long double must be the x87 extended format");
        long double once = std::strtold(normalized.c_str(), nullptr);
        if (syntax->negative) once = -once;
        const double expected = static_cast<double>(once);
        FUZZ_CHECK(*value == expected, context + ": value differs from the single rounding");
        return;
    }
    double correct = std::strtod(normalized.c_str(), nullptr);
    if (syntax->negative) correct = -correct;
    const double tolerance = 0x1p-50 + static_cast<double>(length + 16) * 0x1p-61;
    const double allowed = std::fabs(correct) * tolerance + 2 * DBL_TRUE_MIN;
    FUZZ_CHECK(std::fabs(*value - correct) <= allowed, context + ": value far from the decimal value");
}

struct Outcome {
    std::optional<double> value;
    std::optional<FailureKind> failure;
};

Outcome parse(std::string_view text, char separator) {
    try {
        return {vardel::parseRealArgument(text, separator), std::nullopt};
    } catch (const DriverFailure& failure) {
        const std::string context = describe(text, separator);
        FUZZ_CHECK(failure.kind == FailureKind::Conversion || failure.kind == FailureKind::Overflow,
                   context + ": failure of another kind");
        if (failure.kind == FailureKind::Conversion) {
            FUZZ_CHECK(failure.insert == text, context + ": report names \"" + escapedBytes(failure.insert) + "\"");
            FUZZ_CHECK(failure.messageFormat == "'%s' n'est pas une valeur en virgule flottante correcte",
                       context + ": message " + failure.messageFormat);
        }
        return {std::nullopt, failure.kind};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Outcome outcomes[2];
    const char separators[2] = {'.', ','};
    for (int i = 0; i < 2; ++i) {
        outcomes[i] = parse(text, separators[i]);
        checkValue(text, separators[i], readSyntax(text, separators[i]), outcomes[i].value, outcomes[i].failure);
        if (outcomes[i].value) checkRounding(*outcomes[i].value, describe(text, separators[i]));
    }
    if (text.find_first_of(".,") == std::string_view::npos) {
        const bool same = outcomes[0].failure == outcomes[1].failure &&
                          outcomes[0].value.has_value() == outcomes[1].value.has_value() &&
                          (!outcomes[0].value || std::memcmp(&*outcomes[0].value, &*outcomes[1].value, 8) == 0);
        FUZZ_CHECK(same, describe(text, '.') + ": the separator changed a text without one");
    }
    return 0;
}
