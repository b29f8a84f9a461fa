#include "tests/wine/wine_harness.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <utility>

#include "text/windows1252.hpp"

namespace vardel::wine {
namespace {

namespace fs = std::filesystem;

constexpr auto RUN_TIME_LIMIT = std::chrono::seconds(20);

using test::readFile;
using test::writeFile;

std::string windowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string windowsProgramPath(const std::string& program) {
    const std::string path = std::string(VARDEL_WINDOWS_BUILD_DIR) + "/" + program + ".exe";
    if (!fs::exists(path)) {
        throw std::runtime_error(path + " is missing: build the Windows programs first (scripts/build-windows.sh)");
    }
    return path;
}

std::string linuxProgramPath(const std::string& program) {
    if (program == "vardel1") return VARDEL1_PATH;
    if (program == "vardel3") return VARDEL3_PATH;
    throw std::invalid_argument("unknown program " + program);
}

char portDigit(const std::string& program) { return program == "vardel3" ? '3' : '1'; }

std::string noWineDevice() { return std::string(VARDEL_WINE_PREFIX) + "/ports/no-device"; }

// Points the prefix's fixed path of COM<digit> at the device (replaced in
// one step).
void pointWinePortNumber(char digit, const std::string& target) {
    const std::string ports = std::string(VARDEL_WINE_PREFIX) + "/ports";
    const std::string link = ports + "/com" + digit;
    const std::string staged = link + ".new";
    std::error_code ignored;
    fs::remove(staged, ignored);
    fs::create_symlink(target, staged);
    fs::rename(staged, link);
}

void pointWinePort(const std::string& program, const std::string& target) {
    pointWinePortNumber(portDigit(program), target);
}

// Where the program's port leads: the device, the given path, or nowhere.
std::string portTarget(const Invocation& run, const std::string& noDevice) {
    if (run.device != nullptr) return run.device->path();
    return run.portPath.empty() ? noDevice : run.portPath;
}

std::vector<std::string> localeEnvironment(Platform platform, Locale locale) {
    if (locale == Locale::FrenchComma) {
        return {"LC_ALL=fr_FR.UTF-8", std::string("LOCPATH=") + VARDEL_LOCALE_DIR};
    }
    // Wine takes C.UTF-8 for English (United States) with Windows-1252.
    return {platform == Platform::Windows ? "LC_ALL=C.UTF-8" : "LC_ALL=C"};
}

using Command = test::ProcessLaunch;

// What every program run through the prefix gets.
std::vector<std::string> wineEnvironment() {
    std::vector<std::string> environment{"PATH=/usr/bin:/bin", std::string("WINEPREFIX=") + VARDEL_WINE_PREFIX,
                                         "WINEDEBUG=-all"};
    if (const char* home = std::getenv("HOME")) environment.push_back(std::string("HOME=") + home);
    return environment;
}

Command linuxCommand(const Invocation& run, const std::string& noDevice) {
    Command command;
    command.argv.push_back(linuxProgramPath(run.program));
    command.argv.insert(command.argv.end(), run.arguments.begin(), run.arguments.end());
    const std::string port = portTarget(run, noDevice);
    command.environment = std::vector<std::string>{"PATH=/usr/bin:/bin", std::string("VARDEL_COM") + portDigit(run.program) + "=" + port};
    return command;
}

Command windowsCommand(const Invocation& run, const std::string& workDirectory) {
    Command command;
    const std::string program = windowsProgramPath(run.program);
    command.argv.push_back(VARDEL_WINE);
    if (run.commandLineTail.empty()) {
        command.argv.push_back(program);
        // Wine reads a Unix command line in the Unix locale's character set
        // (UTF-8 here) and hands it to the program in the Windows one.
        for (const auto& argument : run.arguments) command.argv.push_back(utf8FromWindows1252(argument));
    } else {
        const std::string batch = workDirectory + "/run.bat";
        writeFile(batch, "@\"" + windowsPath(program) + "\" " + run.commandLineTail + "\r\n@exit %ERRORLEVEL%\r\n");
        command.argv.insert(command.argv.end(), {"cmd", "/c", windowsPath(batch)});
    }
    pointWinePort(run.program, portTarget(run, noWineDevice()));
    command.environment = wineEnvironment();
    return command;
}

RunResult execute(Command command, Output output, const std::string& outputFile) {
    command.output = output;
    command.outputFile = outputFile;
    command.timeLimit = RUN_TIME_LIMIT;
    command.collect = test::CollectUntil::Exit;
    const test::ProcessRun run = test::runProcess(command);
    if (run.timedOut) throw std::runtime_error("the program was still running after the time limit");
    return run;
}

}  // namespace

RunResult runOn(Platform platform, const Invocation& run) {
    const test::TempDirectory work("vardel-wine");
    const std::string noDevice = work.path + "/no-device";
    Command command = platform == Platform::Linux ? linuxCommand(run, noDevice) : windowsCommand(run, work.path);
    for (auto& setting : localeEnvironment(platform, run.locale)) command.environment->push_back(setting);
    command.environment->insert(command.environment->end(), run.environment.begin(), run.environment.end());
    return execute(std::move(command), run.output, work.path + "/stdout");
}

std::string withLinuxProgramName(std::string text) {
    for (const std::string program : {"vardel1", "vardel3"}) {
        const std::string windowsName = " dans le module " + program + ".exe ";
        for (auto at = text.find(windowsName); at != std::string::npos; at = text.find(windowsName, at)) {
            text.replace(at, windowsName.size(), " dans le module " + program + " ");
        }
    }
    return text;
}

}  // namespace vardel::wine

namespace vardel::wine {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto START_LIMIT = std::chrono::seconds(20);
constexpr auto STOP_LIMIT = std::chrono::seconds(10);

// The two ends of a new pipe, closed at exec.
std::pair<int, int> makePipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    return {ends[0], ends[1]};
}

void closeFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Starts the program with /dev/null for input and the given ends of pipes
// for its output and errors, which are closed here once it has them.
std::unique_ptr<test::ChildProcess> start(const Command& command, int& output, int& errors) {
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    auto child = std::make_unique<test::ChildProcess>(command, test::ChildStreams{input, output, errors});
    if (input >= 0) close(input);
    if (errors != output) closeFd(errors);
    closeFd(output);
    errors = -1;
    return child;
}

// Sends the signal and waits for the end, killing the child after
// STOP_LIMIT: its exit status, or 128 + the signal that ended it.
int endChild(std::unique_ptr<test::ChildProcess>& child, int signal) {
    if (!child) return -1;
    child->signal(signal);
    const int status = child->wait(Clock::now() + STOP_LIMIT).status;
    child.reset();
    return status;
}

}  // namespace

std::string windowsPathOf(const std::string& unixPath) { return windowsPath(unixPath); }

std::string windowsProgramFile(const std::string& program) { return windowsProgramPath(program); }

void pointWinePortAt(char digit, const std::string& target) { pointWinePortNumber(digit, target); }

RunResult runUnderWine(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                       Locale locale) {
    const test::TempDirectory work("vardel-wine");
    Command command;
    command.argv = {VARDEL_WINE};
    command.argv.insert(command.argv.end(), arguments.begin(), arguments.end());
    command.environment = wineEnvironment();
    command.environment->insert(command.environment->end(), environment.begin(), environment.end());
    for (auto& setting : localeEnvironment(Platform::Windows, locale)) command.environment->push_back(setting);
    return execute(std::move(command), Output::Pipe, work.path + "/stdout");
}

WindowsSimDevice::WindowsSimDevice(const std::vector<std::string>& scenarioLines, const WindowsSimOptions& options)
    : directory_(std::make_unique<test::TempDirectory>("vardel-wine-sim")), driverEnd_(directory_->path + "/com1") {
    try {
        startPair();
        pointWinePortNumber('1', driverEnd_);
        pointWinePortNumber('2', file("com2"));
        startSimulator(scenarioLines, options);
    } catch (...) {
        cleanUp();
        throw;
    }
}

// The pair first: socat says when both ends are there.
void WindowsSimDevice::startPair() {
    Command socat;
    socat.argv = {VARDEL_SOCAT, "-d", "-d", "pty,raw,echo=0,link=" + driverEnd_, "pty,raw,echo=0,link=" + file("com2")};
    socat.environment = std::vector<std::string>{"PATH=/usr/bin:/bin"};
    auto [logRead, logWrite] = makePipe();
    test::OutputWatch log(logRead);
    socat_ = start(socat, logWrite, logWrite);
    if (!log.waitFor("starting data transfer loop", Clock::now() + START_LIMIT)) {
        throw std::runtime_error("socat made no pseudo-terminal pair: " + log.text());
    }
}

void WindowsSimDevice::startSimulator(const std::vector<std::string>& scenarioLines, const WindowsSimOptions& options) {
    std::string scenario;
    for (const auto& line : scenarioLines) scenario += line + "\n";
    test::writeFile(file("scenario"), scenario);
    Command sim;
    sim.argv = {VARDEL_WINE, windowsProgramPath("vardel-sim"), "--port", "COM2", "--scenario",
                windowsPath(file("scenario")), "--log", windowsPath(file("received"))};
    sim.environment = wineEnvironment();
    for (auto& setting : localeEnvironment(Platform::Windows, Locale::Point)) sim.environment->push_back(setting);
    if (options.control) {
        pipeName_ = "\\\\.\\pipe\\" + fs::path(directory_->path).filename().string();
        sim.argv.insert(sim.argv.end(), {"--control", pipeName_});
    }
    sim.argv.insert(sim.argv.end(), options.arguments.begin(), options.arguments.end());
    auto [outputRead, outputWrite] = makePipe();
    auto [errorRead, errorWrite] = makePipe();
    test::OutputWatch output(outputRead);
    errors_.watch(errorRead);
    sim_ = start(sim, outputWrite, errorWrite);
    const std::string ready = output.firstLine(Clock::now() + START_LIMIT);
    if (ready != "ready COM2\r\n") {
        stop();
        throw std::runtime_error("vardel-sim.exe did not get ready; it said \"" + ready +
                                 "\", and on its error output \"" + errors_.text() + "\"");
    }
}

WindowsSimDevice::~WindowsSimDevice() { cleanUp(); }

void WindowsSimDevice::cleanUp() {
    stop();
    errors_.close();
    pointWinePortNumber('1', noWineDevice());
    pointWinePortNumber('2', noWineDevice());
}

void WindowsSimDevice::stop() {
    if (sim_) {
        // Wine turns SIGINT into the console's Ctrl+C event.
        exitStatus_ = endChild(sim_, SIGINT);
        errors_.readSome(Clock::now());
    }
    endChild(socat_, SIGTERM);
}

std::string WindowsSimDevice::received() {
    stop();
    return test::readFile(file("received"));
}

bool WindowsSimDevice::waitForError(const std::string& text) { return errors_.waitFor(text, Clock::now() + STOP_LIMIT); }

bool WindowsSimDevice::control(const std::string& line) {
    if (pipeName_.empty()) throw std::logic_error("the device was started without a control pipe");
    // Wine's cmd opens the pipe as a file, writes the line and CR LF, and
    // closes it. The redirection comes first: "echo x 1>" would take "1>"
    // for standard output, and Wine 8 sends nothing from "(echo x)>".
    const std::string batch = controlBatch("control.bat", {line});
    const RunResult sent = runUnderWine({"cmd", "/c", windowsPath(batch)});
    if (sent.status != 0) {
        throw std::runtime_error("cmd couldn't write to the control pipe: status " + std::to_string(sent.status) + ", " +
                                 sent.out + sent.err);
    }
    // The acknowledgement's whole line, then whether it says "ok"; the
    // error output is in text mode: "ok" CR LF.
    if (!waitForError("vardel-sim: control: '" + line + "': ")) return false;
    const std::size_t answer = errors_.taken();
    return waitForError("\n") && errors_.text().compare(answer, 4, "ok\r\n") == 0;
}

std::string WindowsSimDevice::controlBatch(const std::string& name, const std::vector<std::string>& lines) const {
    if (pipeName_.empty()) throw std::logic_error("the device was started without a control pipe");
    std::string text;
    for (const auto& line : lines) text += "@>" + pipeName_ + " echo " + line + "\r\n";
    const std::string batch = file(name);
    test::writeFile(batch, text);
    return batch;
}

std::string WindowsSimDevice::controlFileBatch(const std::string& name, const std::vector<std::string>& lines) const {
    if (pipeName_.empty()) throw std::logic_error("the device was started without a control pipe");
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    const std::string lineFile = file(name + ".txt");
    test::writeFile(lineFile, text);
    const std::string batch = file(name);
    test::writeFile(batch, "@>" + pipeName_ + " type " + windowsPath(lineFile) + "\r\n");
    return batch;
}

std::vector<std::string> WindowsSimDevice::waitForAcknowledgements(const std::vector<std::string>& lines) {
    const auto deadline = Clock::now() + STOP_LIMIT;
    const std::size_t start = errors_.taken();
    std::vector<std::pair<std::size_t, std::string>> found;
    for (;;) {
        found.clear();
        for (const auto& line : lines) {
            const std::size_t at = errors_.text().find("vardel-sim: control: '" + line + "': ok\r\n", start);
            if (at != std::string::npos) found.emplace_back(at, line);
        }
        if (found.size() == lines.size() || Clock::now() >= deadline || !errors_.readSome(deadline)) break;
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> order;
    for (auto& [at, line] : found) order.push_back(std::move(line));
    return order;
}

}  // namespace vardel::wine
