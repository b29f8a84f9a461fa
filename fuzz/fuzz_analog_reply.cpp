// A raw analog reading: the device answers "ZEA n" with the input's bytes
// (all at once), the driver keeps the digits of the reply up to its carriage
// return and converts them strictly. A digit string above 2147483647 is the
// only failure; no digit, or no carriage return in time, gives -777.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/failure.hpp"
#include "device/protocol.hpp"
#include "tests/support/fake_port.hpp"
#include "fuzz/fuzz_check.hpp"

namespace {

using vardel::DriverFailure;
using vardel::FailureKind;
using vardel::escapedBytes;

struct Outcome {
    std::optional<std::int32_t> value;
    std::optional<std::string> failedText;
};

Outcome expectedFor(std::string_view digits) {
    if (digits.empty()) return {vardel::NO_VALUE, std::nullopt};
    const auto first = digits.find_first_not_of('0');
    const std::string_view significant = first == std::string_view::npos ? std::string_view() : digits.substr(first);
    if (significant.size() > 10) return {std::nullopt, std::string(digits)};
    const std::int64_t value = significant.empty() ? 0 : std::stoll(std::string(significant));
    if (value > INT32_MAX) return {std::nullopt, std::string(digits)};
    return {static_cast<std::int32_t>(value), std::nullopt};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string sent(reinterpret_cast<const char*>(data), size);
    const std::string context = "device sends \"" + escapedBytes(sent) + "\"";
    const auto cr = sent.find('\r');
    const std::string reply = cr == std::string::npos ? std::string() : sent.substr(0, cr);
    std::string digits;
    for (char c : reply) {
        if (c >= '0' && c <= '9') digits += c;
    }
    FUZZ_CHECK(vardel::keepDigits(reply) == digits, context + ": digits \"" + escapedBytes(vardel::keepDigits(reply)) + "\"");
    const Outcome expected = expectedFor(digits);

    vardel::fake::FakeDevice device;
    device.byteSpacingMs = 0;
    device.replies.push_back({0, sent});
    vardel::SerialLink link;
    vardel::fake::attachDevice(link, device);
    vardel::openPort(link);
    vardel::fake::resetFakeClock(static_cast<std::uint32_t>(size) * 2654435761u);
    const auto n = static_cast<std::int32_t>(size) - 3;
    Outcome actual;
    try {
        actual.value = vardel::readAnalogRaw(link, n);
    } catch (const DriverFailure& failure) {
        FUZZ_CHECK(failure.kind == FailureKind::Conversion, context + ": failure of another kind");
        actual.failedText = failure.insert;
    }
    FUZZ_CHECK(device.written.size() == 1 && device.written[0] == "ZEA " + std::to_string(n) + "\r",
               context + ": the command was not \"ZEA " + std::to_string(n) + "\"");
    FUZZ_CHECK(actual.value == expected.value && actual.failedText == expected.failedText,
               context + ": read " + (actual.value ? std::to_string(*actual.value) : "a failure on \"" + escapedBytes(actual.failedText.value_or("")) + "\""));
    const std::uint64_t waited = vardel::fake::fakeMillisecondsPassed();
    FUZZ_CHECK(cr == std::string::npos ? waited > vardel::REPLY_TIMEOUT_MS && waited <= vardel::REPLY_TIMEOUT_MS + 1 : waited == 0,
               context + ": waited " + std::to_string(waited) + " ms");
    return 0;
}
