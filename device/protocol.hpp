#pragma once
// The device's five commands and the reading of their replies.

#include <array>
#include <cstdint>
#include <string>

#include "serial/serial_link.hpp"

namespace vardel {

inline constexpr std::int32_t NO_VALUE = -777;

// The 20 identification fields, all 0 at start; each identification request
// overwrites the slots its reply provides.
struct IdentificationFields {
    std::array<std::int32_t, 20> slots{};
};

std::int32_t readAnalogRaw(SerialLink& link, std::int32_t n);
void requestIdentification(SerialLink& link, IdentificationFields& fields);
// The identification request's bytes, as requestIdentification sends them.
std::string identificationRequest();
// Splits an identification reply into the fields (the part after the reply read).
void applyIdentificationReply(std::string reply, IdentificationFields& fields);
std::int32_t identificationField(const IdentificationFields& fields, int k);
void sendBinaryInputRequest(SerialLink& link, std::int32_t n);
std::int32_t readBinaryInputReply(SerialLink& link);
void sendBinaryOutput(SerialLink& link, std::int32_t n, bool on);

// The digits "0".."9" of a reply, in order.
std::string keepDigits(const std::string& reply);
// "ZEBIT " + index character + CR (and its twins), cut to 10 characters.
std::string bitCommand(const char* word, std::int32_t n);

}  // namespace vardel
