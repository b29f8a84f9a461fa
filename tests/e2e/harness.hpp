#pragma once
// Runs the real programs as processes against the simulated device.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/process_runner.hpp"
#include "tests/support/run_result.hpp"

namespace vardel::e2e {

using test::CRLF;
using test::RunResult;

struct SimOptions {
    std::vector<std::string> arguments;  // more options; "{dir}" stands for the device's directory
    bool readErrors = false;             // the error output kept for waitForError()
};

// A simulated device on its own pseudo-terminal, for one test. The scenario
// is given as lines of the simulator's scenario file format.
class SimDevice {
public:
    explicit SimDevice(const std::vector<std::string>& scenarioLines);
    SimDevice(const std::vector<std::string>& scenarioLines, const SimOptions& options);
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
    // A path in the device's own directory, removed with it.
    std::string file(const std::string& name) const { return directory_.path + "/" + name; }
    // With readErrors: waits until the error output shows `text` after what
    // earlier waits found, at most `limit`. False when it didn't come.
    bool waitForError(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(10));
    const std::string& errorsSoFar() const { return errors_.text(); }
    // Stops the simulator where it is (SIGSTOP) and lets it go on (SIGCONT),
    // to see what a run alone leaves on the terminal.
    void pause() const { process_->signal(SIGSTOP); }
    void resume() const { process_->signal(SIGCONT); }

private:
    test::TempDirectory directory_{"vardel-e2e"};
    std::string linkPath_;
    std::string logPath_;
    std::unique_ptr<test::ChildProcess> process_;
    bool stopped_ = false;
    test::OutputWatch errors_;
    int exitStatus_ = -1;
    double cpuSeconds_ = 0;
};

// Pipe, File, DevFull, Closed, BrokenPipe, HungUpTerminal.
using StdoutMode = test::OutputTo;

struct RunOptions {
    bool frenchLocale = false;        // LC_ALL=fr_FR.UTF-8 from the generated locale
    StdoutMode stdoutMode = StdoutMode::Pipe;
    std::string portPath;             // what VARDEL_COM<N> names; empty: a path where no device is
    std::vector<std::string> environment;  // more NAME=VALUE entries
    std::vector<std::string> wrapper;      // a command the program runs under, such as strace and its options
};

// program: "vardel1", "vardel3", "vardel-sim" or "vardel-find". Arguments are passed as they are.
RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const RunOptions& options = {});

// Whole files as bytes.
using test::readFile;
using test::writeFile;

// Starts a program and leaves it running, for a test that signals it or
// reads its output as it comes; its standard output goes to `output`
// (/dev/null when -1), its error output to /dev/null.
std::unique_ptr<test::ChildProcess> startProgram(const std::string& program, const std::vector<std::string>& arguments,
                                                 const RunOptions& options = {}, int output = -1);

// False when the programs under test run through a prefix (an emulator):
// then a wrapper such as strace sees the emulator's doings too.
bool programsRunNatively();

// Shorthand: runs against the device, Pipe output, "." locale.
RunResult runWith(const SimDevice& device, const std::string& program, const std::vector<std::string>& arguments);

}  // namespace vardel::e2e
