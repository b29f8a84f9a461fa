#pragma once
// The real number text computed the slow way: exact natural numbers, every
// rounding to a 64-bit significand done on exact values. Shared by the unit
// tests and the fuzz targets as the reference for formatReal.

#include <string>

namespace vardel::reference {

// The text that formatReal must give for `value`, any double included.
std::string referenceFormatReal(double value, char separator);

}  // namespace vardel::reference
