#pragma once
// Standard output with its 128-byte buffer. A console gets each line as soon
// as it ends; a file or a pipe gets the buffer whenever it is full and once
// more at the end of the run.

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "text/failure.hpp"

namespace vardel {

// Where the bytes go. The program uses the platform's standard output;
// tests plug in their own.
struct OutputSink {
    // Opens the stream: returns 0 or an output failure code; sets isConsole.
    std::function<int(bool& isConsole)> open;
    // Hands bytes over: returns 0 or an output failure code.
    std::function<int(std::string_view bytes)> write;
    // Where a report goes when standard output can't take it.
    std::function<void(std::string_view bytes)> writeError;
    // The character set of what is written: fixed texts are converted with it.
    TextConverter toAnsi;
};

struct StandardOutput {
    static constexpr std::size_t BUFFER_SIZE = 128;

    OutputSink sink;
    std::array<char, BUFFER_SIZE> buffer{};
    std::size_t used = 0;
    bool opened = false;
    bool isConsole = false;
    int pendingError = 0;  // first failure since the last check
};

// Appends the text and CR LF; hands the line over on a console. Raises the
// output failure when opening or handing over failed since the last check.
void printLine(StandardOutput& out, std::string_view text);

// Hands over what is left in the buffer. Returns 0 or the failure code.
int flushOutput(StandardOutput& out);

// Writes the failure report through the buffer (or, when standard output has
// failed or can't be opened, to the error output) and flushes. Returns the
// exit status, 1.
int reportFailure(StandardOutput& out, const DriverFailure& failure, std::string_view programName);

OutputSink platformOutputSink(bool wasClosedAtStart);

}  // namespace vardel
