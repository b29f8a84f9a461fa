#pragma once
// The mode string of the serial link ("baud=9600 parity=n data=8 stop=1")
// read into line parameters, as a Windows mode string is read.

#include <cstdint>
#include <string_view>

namespace vardel {

enum class Parity { None, Odd, Even, Mark, Space };
enum class StopBits { One, OnePointFive, Two };

struct LineParameters {
    std::uint32_t baud = 1200;
    Parity parity = Parity::Even;
    unsigned dataBits = 7;
    StopBits stopBits = StopBits::One;
};

// Applies the keys of the mode string to `params`. Returns false, leaving
// `params` unchanged, when the text is not a valid mode string.
bool applyModeString(std::string_view mode, LineParameters& params);

}  // namespace vardel
