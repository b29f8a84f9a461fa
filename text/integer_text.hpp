#pragma once
// Integers written as text, and read from the texts of the device's replies.

#include <cstdint>
#include <string>
#include <string_view>

namespace vardel {

constexpr bool isDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// 0..15 for a hexadecimal digit of either case; -1 for any other byte.
int hexDigitValue(char c);

std::string formatInteger(std::int32_t value);

// Raises the integer conversion failure at any fault.
std::int32_t parseIntegerStrict(std::string_view text);
// Never fails: the value held when the first fault was met.
std::int32_t parseIntegerLenient(std::string_view text);

}  // namespace vardel
