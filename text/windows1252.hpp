#pragma once
// The programs' single-byte texts (Windows-1252) read as UTF-8, for the
// tools around them that speak UTF-8.

#include <string>
#include <string_view>

namespace vardel {

// Windows-1252 bytes as UTF-8. The five bytes that name no character keep
// their own value (U+0081 for 0x81 ...), as Windows maps them.
std::string utf8FromWindows1252(std::string_view bytes);

}  // namespace vardel
