#pragma once
// Binary inputs and outputs.

#include <cstdint>
#include <string>

#include "device/protocol.hpp"

namespace vardel {

// The last value this process switched each of outputs 0..7 to.
struct OutputMirror {
    std::uint8_t bits = 0;
};

std::int32_t readBinaryInput(SerialLink& link, std::int32_t n);
std::string binaryInputName(std::int32_t n);
std::int32_t writeBinaryOutput(SerialLink& link, OutputMirror& mirror, std::int32_t n, std::int32_t m);
std::string binaryOutputName(std::int32_t n);
std::int32_t readBinaryOutput(const OutputMirror& mirror, std::int32_t n);

}  // namespace vardel
