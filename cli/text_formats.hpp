#pragma once
// Text crossing the process boundary: command-line splitting, numeric
// arguments, integers read from and written to text.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vardel {

// Splits a whole command line (program name first) into tokens by the
// Windows rules: separators 0x01..0x20, quoted runs without escapes, ""
// pairs skipped between tokens, at most 4,096 bytes per token.
std::vector<std::string> splitCommandLine(std::string_view commandLine);

// Reads a real argument with the given decimal separator. Raises the
// conversion failure for invalid text and the overflow failure for a value
// beyond the double range.
double parseRealArgument(std::string_view text, char separator);

// Nearest integer, ties to even, then the low 32 bits of the 64-bit value.
// Raises the invalid-operation failure outside the signed 64-bit range.
std::int32_t roundArgument(double value);

std::string formatInteger(std::int32_t value);

// Raises the integer conversion failure at any fault.
std::int32_t parseIntegerStrict(std::string_view text);
// Never fails: the value held when the first fault was met.
std::int32_t parseIntegerLenient(std::string_view text);

// Narrows y to single precision; raises the overflow failure beyond its range.
float narrowArgumentToSingle(double value);

}  // namespace vardel
