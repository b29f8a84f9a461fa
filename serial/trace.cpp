#include "serial/trace.hpp"

#include <cerrno>
#include <cstring>
#include <string>

namespace vardel {

void FileClose::operator()(std::FILE* file) const noexcept { std::fclose(file); }

Trace openTrace(const char* setting, std::uint32_t startMs) {
    Trace trace;
    trace.startMs = startMs;
    const std::string_view value = setting == nullptr ? std::string_view() : std::string_view(setting);
    if (value.empty()) return trace;
    if (value == "1") {
        trace.stream = stderr;
        return trace;
    }
    trace.ownedFile.reset(std::fopen(setting, "ab"));
    trace.stream = trace.ownedFile.get();
    if (trace.stream == nullptr) {
        // A trace asked for and not written would leave the user guessing:
        // one line on the error output says so, and the run goes on untraced.
        const std::string line =
            "vardel trace: " + std::string(value) + ": " + std::strerror(errno) + "; this run is not traced\n";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
    }
    return trace;
}

bool isTracing(const Trace* trace) { return trace != nullptr && trace->stream != nullptr; }

void traceLine(const Trace* trace, std::uint32_t nowMs, std::string_view text) {
    if (!isTracing(trace)) return;
    const std::string line = "vardel trace " + std::to_string(nowMs - trace->startMs) + " ms: " + std::string(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), trace->stream);
    std::fflush(trace->stream);
}

}  // namespace vardel
