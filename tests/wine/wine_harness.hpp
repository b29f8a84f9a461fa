#pragma once
// Runs the Windows programs under Wine, and the Linux programs built from
// the same sources, against simulated devices on pseudo-terminals.

#include <string>
#include <vector>

#include "tests/e2e/harness.hpp"

namespace vardel::wine {

// The simulated device of the Linux end-to-end tests.
using SimDevice = vardel::e2e::SimDevice;
using test::CRLF;
using test::RunResult;

enum class Platform { Linux, Windows };
enum class Locale { Point, FrenchComma };
// Pipe, File, BrokenPipe, DevFull (and Closed).
using Output = test::OutputTo;

struct Invocation {
    std::string program = "vardel1";      // "vardel1" or "vardel3"
    std::vector<std::string> arguments;   // Windows-1252 bytes
    // Windows only: the exact command line after the program's path, given
    // through a batch file run by cmd; `arguments` are then ignored.
    std::string commandLineTail;
    Locale locale = Locale::Point;
    Output output = Output::Pipe;
    const SimDevice* device = nullptr;    // none: the port leads nowhere
};

RunResult runOn(Platform platform, const Invocation& run);

// The Windows program's output with "vardel1.exe" ("vardel3.exe") in the
// failure report written as the Linux program writes it.
std::string withLinuxProgramName(std::string text);

}  // namespace vardel::wine
