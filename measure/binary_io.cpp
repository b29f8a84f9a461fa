#include "measure/binary_io.hpp"

#include "text/integer_text.hpp"

namespace vardel {

namespace {

constexpr std::int32_t LAST_INPUT = 5;
constexpr std::int32_t LAST_SWITCHED_OUTPUT = 8;
constexpr std::int32_t LAST_RECORDED_OUTPUT = 7;

}  // namespace

std::int32_t readBinaryInput(SerialLink& link, std::int32_t n) {
    // The request goes out before the range check on purpose: the device
    // sees "ZEBIT 6" even though the answer is the marker.
    sendBinaryInputRequest(link, n);
    if (n < 0 || n > LAST_INPUT) return NO_VALUE;
    return readBinaryInputReply(link);
}

std::string binaryInputName(std::int32_t n) {
    if (n < 0 || n > LAST_INPUT) return std::string();
    return "entr\xE9" "e binaire " + formatInteger(n);
}

std::int32_t writeBinaryOutput(SerialLink& link, OutputMirror& mirror, std::int32_t n, std::int32_t m) {
    // A rejected switch sends nothing and answers like every other integer
    // rejection of the program.
    if (n < 0 || n > LAST_SWITCHED_OUTPUT || (m != 0 && m != 1)) return NO_VALUE;
    sendBinaryOutput(link, n, m == 1);
    // Output 8 is switched on the device but not recorded on purpose.
    if (n <= LAST_RECORDED_OUTPUT) {
        const auto mask = static_cast<std::uint8_t>(1u << n);
        mirror.bits = static_cast<std::uint8_t>(m == 1 ? (mirror.bits | mask) : (mirror.bits & ~mask));
    }
    return m;
}

std::string binaryOutputName(std::int32_t n) {
    if (n < 0 || n > LAST_RECORDED_OUTPUT) return std::string();
    return "sortie logique " + formatInteger(n);
}

std::int32_t readBinaryOutput(const OutputMirror& mirror, std::int32_t n) {
    if (n < 0 || n > LAST_RECORDED_OUTPUT) return 0;
    return (mirror.bits >> n) & 1;
}

}  // namespace vardel
