#pragma once
// Runs the Windows programs under Wine, and the Linux programs built from
// the same sources, against simulated devices on pseudo-terminals: the
// Linux vardel-sim, or vardel-sim.exe under Wine on COM2 with the driver on
// COM1, the two ports joined by a socat pseudo-terminal pair.

#include <chrono>
#include <memory>
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
    const SimDevice* device = nullptr;    // none: the port leads to portPath
    // Without a device: where the port leads (e.g. WindowsSimDevice::path());
    // empty: nowhere.
    std::string portPath;
    std::vector<std::string> environment;  // more NAME=VALUE for the program, such as VARDEL_TRACE=1
};

RunResult runOn(Platform platform, const Invocation& run);

// The Windows program's output with "vardel1.exe" ("vardel3.exe") in the
// failure report written as the Linux program writes it.
std::string withLinuxProgramName(std::string text);

struct WindowsSimOptions {
    std::vector<std::string> arguments;  // more options of vardel-sim.exe
    bool control = false;                // with --control \\.\pipe\NAME, for control()
};

// vardel-sim.exe under Wine on COM2 of the test prefix, for one test. COM2
// is one end of a pseudo-terminal pair made by socat, COM1 the other end:
// runOn() with `portPath = path()` gives it the driver on COM1, or the
// Linux driver on that end's path.
class WindowsSimDevice {
public:
    explicit WindowsSimDevice(const std::vector<std::string>& scenarioLines, const WindowsSimOptions& options = {});
    ~WindowsSimDevice();
    WindowsSimDevice(const WindowsSimDevice&) = delete;
    WindowsSimDevice& operator=(const WindowsSimDevice&) = delete;

    // The pair's other end.
    const std::string& path() const { return driverEnd_; }
    // Writes the line into the control pipe with Wine's cmd; true once the
    // simulator acknowledged it on its error output with "ok", false when it
    // named an error there instead (or said nothing for 10 s).
    bool control(const std::string& line);
    // A batch file in the device's directory that writes each line into the
    // control pipe by a redirection of its own, back to back, as a user's
    // batch file would ("@>\\.\pipe\NAME echo LINE"); its path here.
    std::string controlBatch(const std::string& name, const std::vector<std::string>& lines) const;
    // A batch file that writes the lines of a text file into the control
    // pipe through one redirection ("type"): one writer, several lines.
    std::string controlFileBatch(const std::string& name, const std::vector<std::string>& lines) const;
    // Waits until the error output has acknowledged every line with "ok",
    // in any order, at most 10 s. The acknowledgements' lines, in the order
    // they came (those missing at the deadline left out).
    std::vector<std::string> waitForAcknowledgements(const std::vector<std::string>& lines);
    // Waits until the error output shows `text` after what earlier waits
    // found, at most 10 s. False when it didn't come.
    bool waitForError(const std::string& text);
    // Stops the simulator with Ctrl+C and returns every byte it received.
    std::string received();
    // Once stopped: the simulator's exit status.
    int exitStatus() const { return exitStatus_; }
    const std::string& errorsSoFar() const { return errors_.text(); }
    // A path in the device's own directory, removed with it.
    std::string file(const std::string& name) const { return directory_->path + "/" + name; }

private:
    void startPair();
    void startSimulator(const std::vector<std::string>& scenarioLines, const WindowsSimOptions& options);
    void stop();
    void cleanUp();

    std::unique_ptr<test::TempDirectory> directory_;
    std::string driverEnd_;
    std::string pipeName_;
    std::unique_ptr<test::ChildProcess> socat_;
    std::unique_ptr<test::ChildProcess> sim_;
    test::OutputWatch errors_;
    int exitStatus_ = -1;
};

// Points the prefix's COM<digit> ('1' to '3') at `target`, a device's path.
void pointWinePortAt(char digit, const std::string& target);

// The Windows path (Z:\...) of a path of this machine.
std::string windowsPathOf(const std::string& unixPath);

// The cross build's "vardel1.exe", "vardel-sim.exe"...: its path here.
std::string windowsProgramFile(const std::string& program);

// Runs `wine ARGUMENTS...` in the test prefix (e.g. "cmd", "/c", a batch
// file), with more NAME=VALUE entries in its environment.
RunResult runUnderWine(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {},
                       Locale locale = Locale::Point);

}  // namespace vardel::wine
