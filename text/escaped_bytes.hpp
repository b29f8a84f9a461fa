#pragma once
// Raw bytes (a command, a reply, an argument) in a form that any log or
// message can carry.

#include <string>
#include <string_view>

namespace vardel {

// Printable ASCII as it is; \r, \n, \\ and \xHH for the rest.
std::string escapedBytes(std::string_view bytes);

}  // namespace vardel
