#pragma once
// The command line as Windows hands it over: one text split into tokens.

#include <string>
#include <string_view>
#include <vector>

namespace vardel {

// Splits a whole command line (program name first) into tokens by the
// Windows rules: separators 0x01..0x20, quoted runs without escapes, ""
// pairs skipped between tokens, at most 4,096 bytes per token.
std::vector<std::string> splitCommandLine(std::string_view commandLine);

}  // namespace vardel
