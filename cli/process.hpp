#pragma once
// What the program needs from its operating system besides the serial port:
// arguments, standard output, the locale's decimal separator, its own file
// name, the system's character set. One implementation file per platform.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vardel {

// Makes the process safe to run before anything else happens: on POSIX a
// closed descriptor 0, 1 or 2 is taken by /dev/null so that the serial port
// can never become standard output, and SIGPIPE is ignored so that a closed
// pipe shows as a write error. Returns false when standard output was closed.
bool prepareProcess();

// Arguments 1, 2, 3 ... of the command line (the program name left out).
std::vector<std::string> commandLineArguments(int argc, char** argv);

// The running program's file name without its directories.
std::string programFileName(char** argv);

// The locale's decimal separator, "." when it can't be had in one byte.
char queryDecimalSeparator();

// Converts a fixed UTF-8 text to the system's single-byte character set
// (Windows-1252 on POSIX).
std::string toAnsi(std::string_view utf8);

// The platform's standard output.
struct OutputChannel {
    std::intptr_t handle = -1;
    bool isConsole = false;
};

// Opens standard output. Returns 0, or the output failure code (103 when
// there is no usable standard output).
int openStandardOutput(OutputChannel& channel, bool wasClosedAtStart);

// Hands bytes to the system. Returns 0, or the output failure code.
int writeStandardOutput(const OutputChannel& channel, std::string_view bytes);

// The output failure code of a failed write's system error (errno on POSIX,
// GetLastError on Windows): the code of the fault it names, else DEVICE_FAULT.
int outputFailureCodeFor(std::uint32_t systemError);

// Last resort for a report that standard output could not take.
void writeErrorOutput(std::string_view bytes);

}  // namespace vardel
