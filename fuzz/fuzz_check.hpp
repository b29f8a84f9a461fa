#pragma once
// What the fuzz targets share: a check that stops the run with a message,
// and a printable form of raw bytes for that message.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace vardel::fuzz {

// Bytes with everything outside printable ASCII (and the backslash) escaped.
inline std::string printable(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            text += c;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            text += escape;
        }
    }
    return text;
}

[[noreturn]] inline void checkFailed(const char* condition, const char* file, int line, const std::string& detail) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n%s\n", file, line, condition, detail.c_str());
    std::abort();
}

}  // namespace vardel::fuzz

#define FUZZ_CHECK(condition, detail) \
    ((condition) ? void(0) : ::vardel::fuzz::checkFailed(#condition, __FILE__, __LINE__, (detail)))
