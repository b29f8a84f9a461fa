#include "device/protocol.hpp"

#include <optional>

#include "text/integer_text.hpp"

namespace vardel {

namespace {

constexpr char CR = '\r';
// Bit commands are kept within 10 bytes on purpose; the index is always one
// byte, 48 + n modulo 256, whatever n is, so the limit never cuts today.
constexpr std::size_t BIT_COMMAND_LIMIT = 10;

// The field split off the front of an identification reply; `rest` keeps
// what later fields are read from. On purpose, once no comma is left, every
// later field is the remainder less its last character, read again each time.
std::string nextField(std::string& rest) {
    const auto comma = rest.find(',');
    if (comma == std::string::npos || comma == 0) {
        return rest.size() <= 1 ? std::string() : rest.substr(0, rest.size() - 1);
    }
    std::string field = rest.substr(0, comma);
    rest.erase(0, comma + 1);
    return field;
}

}  // namespace

// The sign goes with the other bytes on purpose: a count is never negative,
// so a reply "-12" reads as 12, as "1.5" reads as 15.
std::string keepDigits(const std::string& reply) {
    std::string digits;
    for (char c : reply) {
        if (isDecimalDigit(c)) digits += c;
    }
    return digits;
}

std::int32_t readAnalogRaw(SerialLink& link, std::int32_t n) {
    writeText(link, "ZEA " + formatInteger(n) + CR);
    const std::string digits = keepDigits(readReply(link).value_or(std::string()));
    return digits.empty() ? NO_VALUE : parseIntegerStrict(digits);
}

void applyIdentificationReply(std::string reply, IdentificationFields& fields) {
    for (std::int32_t& slot : fields.slots) {
        const std::string field = nextField(reply);
        if (!field.empty()) slot = parseIntegerStrict(field);
    }
}

std::string identificationRequest() { return std::string("ZRECO") + CR; }

void requestIdentification(SerialLink& link, IdentificationFields& fields) {
    writeText(link, identificationRequest());
    applyIdentificationReply(readReply(link).value_or(std::string()), fields);
}

std::int32_t identificationField(const IdentificationFields& fields, int k) {
    return fields.slots.at(static_cast<std::size_t>(k));
}

std::string bitCommand(const char* word, std::int32_t n) {
    const auto index = static_cast<char>(static_cast<unsigned char>((48 + static_cast<std::uint32_t>(n)) & 0xFF));
    std::string command = std::string(word) + ' ' + index + CR;
    if (command.size() > BIT_COMMAND_LIMIT) command.resize(BIT_COMMAND_LIMIT);
    return command;
}

void sendBinaryInputRequest(SerialLink& link, std::int32_t n) { writeText(link, bitCommand("ZEBIT", n)); }

// A reply that never came is the marker, not the state 0: a calling program
// must not read a missing device as an input that is off. A reply that came,
// even an empty one, is read as the device's number.
std::int32_t readBinaryInputReply(SerialLink& link) {
    const std::optional<std::string> reply = readReply(link);
    return reply ? parseIntegerLenient(*reply) : NO_VALUE;
}

void sendBinaryOutput(SerialLink& link, std::int32_t n, bool on) {
    writeText(link, bitCommand(on ? "ZSBIT" : "ZRBIT", n));
}

}  // namespace vardel
