#pragma once
// Raw bytes (a command, a reply, an argument) in a form that any log or
// message can carry.

#include <string>
#include <string_view>

namespace vardel {

// Whether bytes from 0x80 up are written as they are (UTF-8 text a person
// typed, shown back) or escaped (bytes from a device).
enum class HighBytes { Escaped, Kept };

// Printable ASCII as it is; \r, \n, \\ and \xHH for the rest.
std::string escapedBytes(std::string_view bytes, HighBytes high = HighBytes::Escaped);

}  // namespace vardel
