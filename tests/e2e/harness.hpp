#pragma once
// Runs the real programs as processes against the simulated device.

#include <string>
#include <vector>

#include "tests/support/run_result.hpp"

namespace vardel::e2e {

using test::CRLF;
using test::RunResult;

// A simulated device on its own pseudo-terminal, for one test. The scenario
// is given as lines of the simulator's scenario file format.
class SimDevice {
public:
    explicit SimDevice(const std::vector<std::string>& scenarioLines);
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    const std::string& path() const { return linkPath_; }
    // Stops the simulator after it has read everything sent to it, and
    // returns every byte it received.
    std::string received();
    // Once stopped: the simulator's exit status and CPU seconds.
    int exitStatus() const { return exitStatus_; }
    double cpuSeconds() const { return cpuSeconds_; }

private:
    std::string directory_;
    std::string linkPath_;
    std::string logPath_;
    int pid_ = -1;
    bool stopped_ = false;
    int exitStatus_ = -1;
    double cpuSeconds_ = 0;
};

enum class StdoutMode { Pipe, File, DevFull, Closed, BrokenPipe };

struct RunOptions {
    bool frenchLocale = false;        // LC_ALL=fr_FR.UTF-8 from the generated locale
    StdoutMode stdoutMode = StdoutMode::Pipe;
    std::string portPath;             // what VARDEL_COM<N> names; empty: a path where no device is
    std::vector<std::string> environment;  // more NAME=VALUE entries
};

// program: "vardel1" or "vardel3". Arguments are passed as they are.
RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const RunOptions& options = {});

// Whole files as bytes.
void writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);

// Shorthand: runs against the device, Pipe output, "." locale.
RunResult runWith(const SimDevice& device, const std::string& program, const std::vector<std::string>& arguments);

}  // namespace vardel::e2e
