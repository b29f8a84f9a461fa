// An identification reply split into the 20 fields. Only the integer
// conversion failure may come out; slots and failures must be those of the
// splitting rules followed literally (1-based comma positions).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/failure.hpp"
#include "text/integer_text.hpp"
#include "device/protocol.hpp"
#include "fuzz/fuzz_check.hpp"

namespace {

using vardel::DriverFailure;
using vardel::FailureKind;
using vardel::IdentificationFields;
using vardel::escapedBytes;

struct Outcome {
    IdentificationFields fields;
    std::optional<std::string> failedText;  // the text whose conversion failed
};

IdentificationFields startingFields() {
    IdentificationFields fields;
    for (std::size_t k = 0; k < fields.slots.size(); ++k) fields.slots[k] = -1000 - static_cast<std::int32_t>(k);
    return fields;
}

Outcome literally(std::string s) {
    Outcome outcome{startingFields(), std::nullopt};
    for (int k = 0; k < 20; ++k) {
        const std::size_t comma = s.find(',');
        const std::size_t p = comma == std::string::npos ? 0 : comma + 1;
        std::string field;
        if (p <= 1) {
            field = s.size() <= 1 ? std::string() : s.substr(0, s.size() - 1);
        } else {
            field = s.substr(0, p - 1);
            s = s.substr(p);
        }
        if (field.empty()) continue;
        try {
            outcome.fields.slots[static_cast<std::size_t>(k)] = vardel::parseIntegerStrict(field);
        } catch (const DriverFailure&) {
            outcome.failedText = field;
            break;
        }
    }
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    const std::string context = "reply \"" + escapedBytes(reply) + "\"";
    Outcome actual{startingFields(), std::nullopt};
    try {
        vardel::applyIdentificationReply(reply, actual.fields);
    } catch (const DriverFailure& failure) {
        FUZZ_CHECK(failure.kind == FailureKind::Conversion, context + ": failure of another kind");
        actual.failedText = failure.insert;
    }
    const Outcome expected = literally(reply);
    FUZZ_CHECK(actual.failedText == expected.failedText,
               context + ": failure on \"" + escapedBytes(actual.failedText.value_or("(none)")) + "\" instead of \"" +
                   escapedBytes(expected.failedText.value_or("(none)")) + "\"");
    for (std::size_t k = 0; k < 20; ++k) {
        FUZZ_CHECK(actual.fields.slots[k] == expected.fields.slots[k],
                   context + ": slot " + std::to_string(k) + " is " + std::to_string(actual.fields.slots[k]) +
                       " instead of " + std::to_string(expected.fields.slots[k]));
    }
    return 0;
}
