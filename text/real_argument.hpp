#pragma once
// The numeric arguments of the command line: read as reals, then rounded to
// integers or narrowed to single precision where a command wants that.

#include <cstdint>
#include <string_view>

namespace vardel {

// Reads a real argument with the given decimal separator. Raises the
// conversion failure for invalid text and the overflow failure for a value
// beyond the double range.
double parseRealArgument(std::string_view text, char separator);

// Nearest integer, ties to even, then the low 32 bits of the 64-bit value.
// Raises the invalid-operation failure outside the signed 64-bit range.
std::int32_t roundArgument(double value);

// Narrows y to single precision; raises the overflow failure beyond its range.
float narrowArgumentToSingle(double value);

}  // namespace vardel
