#pragma once
// The Windows process file's choice of code page for the failure report's
// fixed texts, for its unit tests.

#include <string>
#include <string_view>

namespace vardel {

// The code page of the report's fixed texts when the ANSI code page is
// `ansiCodePage`: that code page when it is a single-byte one; otherwise
// (UTF-8, the East Asian code pages) Windows-1252, the bytes the build's own
// texts are in, so that "à" is 0xE0 whatever the system's setting.
unsigned reportCodePageFor(unsigned ansiCodePage);

// A UTF-8 text in the given code page.
std::string textInCodePage(std::string_view utf8, unsigned codePage);

}  // namespace vardel
