#include "tests/e2e/harness.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>
#include <stdexcept>

namespace vardel::e2e {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto TIME_LIMIT = std::chrono::seconds(10);

// The command that runs a program of the build on this machine, such as an
// emulator for another processor: words separated by spaces, empty for none.
#ifndef VARDEL_PROGRAM_PREFIX
#define VARDEL_PROGRAM_PREFIX ""
#endif

std::vector<std::string> programPrefix() {
    std::vector<std::string> words;
    std::istringstream text(VARDEL_PROGRAM_PREFIX);
    for (std::string word; text >> word;) words.push_back(word);
    return words;
}

std::string programPath(const std::string& program) {
    if (program == "vardel1") return VARDEL1_PATH;
    if (program == "vardel3") return VARDEL3_PATH;
    if (program == "vardel-sim") return VARDEL_SIM_PATH;
    if (program == "vardel-find") return VARDEL_FIND_PATH;
    throw std::invalid_argument("unknown program " + program);
}

std::string portVariable(const std::string& program) {
    return program == "vardel3" ? "VARDEL_COM3" : "VARDEL_COM1";
}

std::vector<std::string> programEnvironment(const std::string& program, const std::string& portPath,
                                            bool frenchLocale) {
    std::vector<std::string> environment{"PATH=/usr/local/bin:/usr/bin:/bin", portVariable(program) + "=" + portPath};
    if (frenchLocale) {
        environment.push_back("LC_ALL=fr_FR.UTF-8");
        environment.push_back(std::string("LOCPATH=") + VARDEL_LOCALE_DIR);
    } else {
        environment.push_back("LC_ALL=C");
    }
    return environment;
}

// The program's command line and environment, as runProgram and startProgram give them.
test::ProcessLaunch programLaunch(const std::string& program, const std::vector<std::string>& arguments,
                                  const RunOptions& options, const std::string& noDevicePath) {
    test::ProcessLaunch launch;
    launch.argv = options.wrapper;
    // The simulated device is always a program of this machine: only the
    // drivers run through the prefix.
    if (program != "vardel-sim") {
        const std::vector<std::string> prefix = programPrefix();
        launch.argv.insert(launch.argv.end(), prefix.begin(), prefix.end());
    }
    launch.argv.push_back(programPath(program));
    launch.argv.insert(launch.argv.end(), arguments.begin(), arguments.end());
    const std::string portPath = options.portPath.empty() ? noDevicePath : options.portPath;
    launch.environment = programEnvironment(program, portPath, options.frenchLocale);
    launch.environment->insert(launch.environment->end(), options.environment.begin(), options.environment.end());
    launch.output = options.stdoutMode;
    launch.timeLimit = TIME_LIMIT;
    return launch;
}

}  // namespace

SimDevice::SimDevice(const std::vector<std::string>& scenarioLines) : SimDevice(scenarioLines, SimOptions{}) {}

SimDevice::SimDevice(const std::vector<std::string>& scenarioLines, const SimOptions& options) {
    linkPath_ = file("port");
    logPath_ = file("received");
    const std::string scenarioPath = file("scenario");
    std::string scenario;
    for (const auto& line : scenarioLines) scenario += line + "\n";
    writeFile(scenarioPath, scenario);

    test::ProcessLaunch launch;
    launch.argv = {VARDEL_SIM_PATH, "--link", linkPath_, "--scenario", scenarioPath, "--log", logPath_};
    for (std::string argument : options.arguments) {
        for (auto at = argument.find("{dir}"); at != std::string::npos; at = argument.find("{dir}")) {
            argument.replace(at, 5, directory_.path);
        }
        launch.argv.push_back(argument);
    }
    launch.parentDeathSignal = SIGTERM;
    int ready[2];
    int errors[2] = {-1, -1};
    if (pipe2(ready, O_CLOEXEC) != 0 || (options.readErrors && pipe2(errors, O_CLOEXEC) != 0)) {
        throw std::runtime_error("pipe failed");
    }
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    process_ = std::make_unique<test::ChildProcess>(launch, test::ChildStreams{input, ready[1], errors[1]});
    close(input);
    close(ready[1]);
    if (errors[1] >= 0) close(errors[1]);
    errors_.watch(errors[0]);
    const std::string line = test::OutputWatch(ready[0]).firstLine(Clock::now() + TIME_LIMIT);
    if (line == "ready " + linkPath_ + "\n") return;
    received();
    throw std::runtime_error("vardel-sim did not get ready; it said \"" + line + "\"");
}

SimDevice::~SimDevice() {
    if (!stopped_) received();
}

bool SimDevice::waitForError(const std::string& text, std::chrono::milliseconds limit) {
    return errors_.waitFor(text, Clock::now() + limit);
}

std::string SimDevice::received() {
    if (!stopped_) {
        process_->signal(SIGTERM);
        const test::ChildEnd end = process_->wait(Clock::now() + TIME_LIMIT);
        if (!end.inTime) ADD_FAILURE() << "vardel-sim did not stop on SIGTERM";
        exitStatus_ = end.status;
        cpuSeconds_ = end.cpuSeconds;
        stopped_ = true;
    }
    return readFile(logPath_);
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const RunOptions& options) {
    const test::TempDirectory directory("vardel-e2e");
    test::ProcessLaunch launch = programLaunch(program, arguments, options, directory.path + "/no-device");
    launch.outputFile = directory.path + "/stdout";
    const test::ProcessRun run = runProcess(launch);
    if (run.timedOut) ADD_FAILURE() << program << " was still running after the time limit and was killed";
    return run;
}

std::unique_ptr<test::ChildProcess> startProgram(const std::string& program, const std::vector<std::string>& arguments,
                                                 const RunOptions& options, int output) {
    const test::ProcessLaunch launch = programLaunch(program, arguments, options, "/nonexistent/no-device");
    const int nowhere = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nowhere < 0) throw std::runtime_error("no /dev/null");
    auto child = std::make_unique<test::ChildProcess>(
        launch, test::ChildStreams{nowhere, output >= 0 ? output : nowhere, nowhere});
    close(nowhere);
    return child;
}

bool programsRunNatively() { return programPrefix().empty(); }

RunResult runWith(const SimDevice& device, const std::string& program, const std::vector<std::string>& arguments) {
    RunOptions options;
    options.portPath = device.path();
    return runProgram(program, arguments, options);
}

}  // namespace vardel::e2e
