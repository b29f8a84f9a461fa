#pragma once
// The text of a real result: at most 18 significant digits, fixed notation
// for ordinary magnitudes, scientific notation outside them.

#include <string>

namespace vardel {

std::string formatReal(double value, char separator);

}  // namespace vardel
