#pragma once
// What the fuzz targets share: a check that stops the run with a message.
// Raw bytes go into that message as the trace writes them (escapedBytes).

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/escaped_bytes.hpp"

namespace vardel::fuzz {

[[noreturn]] inline void checkFailed(const char* condition, const char* file, int line, const std::string& detail) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n%s\n", file, line, condition, detail.c_str());
    std::abort();
}

}  // namespace vardel::fuzz

#define FUZZ_CHECK(condition, detail) \
    ((condition) ? void(0) : ::vardel::fuzz::checkFailed(#condition, __FILE__, __LINE__, (detail)))
