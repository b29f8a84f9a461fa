#pragma once
// The run of one command: port, arguments, the command table, one line.

#include <cstdint>
#include <string>
#include <vector>

#include "cli/build_constants.hpp"
#include "cli/output.hpp"
#include "measure/analog.hpp"
#include "measure/binary_io.hpp"

namespace vardel {

struct RunState {
    std::string command;
    double x = 11.0;
    double y = 22.0;
    std::int32_t n = 0;
    std::int32_t m = 0;
};

// The process-wide records of one run, created once by the entry point.
struct DriverRecords {
    Trace trace;  // before the link, which refers to it
    SerialLink link;
    IdentificationFields fields;
    SensorTable sensors;
    OutputMirror outputs;
    RunState run;
    StandardOutput out;
    char separator = '.';
};

// Runs one command: opens the port, converts the arguments, calls the
// handler and prints its line. Failures propagate as DriverFailure.
void dispatch(DriverRecords& records, const BuildConstants& build, const std::vector<std::string>& arguments);

// The whole run with its end: returns the exit status after the output has
// been handed over and any failure reported.
int runDriver(DriverRecords& records, const BuildConstants& build, const std::vector<std::string>& arguments,
              std::string_view programName);

}  // namespace vardel
