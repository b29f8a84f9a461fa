#pragma once
// The run's trace: what the link did and why, for a user who wonders why a
// run printed its markers. Nothing is traced unless the user asks for it;
// standard output and the exit status never change with it.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "text/escaped_bytes.hpp"  // the form of the bytes in a trace line

namespace vardel {

struct FileClose {
    void operator()(std::FILE* file) const noexcept;
};

struct Trace {
    std::FILE* stream = nullptr;  // none: nothing is traced
    std::unique_ptr<std::FILE, FileClose> ownedFile;
    std::uint32_t startMs = 0;    // the link's clock at the start of the run
};

// The trace that the setting asks for: none when it is absent or empty,
// the error output for "1", else the file it names, appended to. A file
// that can't be opened is named on the error output, with the system's
// reason, and nothing is traced.
Trace openTrace(const char* setting, std::uint32_t startMs);

bool isTracing(const Trace* trace);

// One line: the milliseconds since the start, then the text.
void traceLine(const Trace* trace, std::uint32_t nowMs, std::string_view text);

}  // namespace vardel
