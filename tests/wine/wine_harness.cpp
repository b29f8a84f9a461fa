#include "tests/wine/wine_harness.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "text/windows1252.hpp"

namespace vardel::wine {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto RUN_TIME_LIMIT = std::chrono::seconds(20);

struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    explicit Descriptor(int value) : fd(value) {}
    Descriptor(Descriptor&& other) noexcept : fd(other.fd) { other.fd = -1; }
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd, other.fd);
        return *this;
    }
    ~Descriptor() { reset(); }
    void reset() {
        if (fd >= 0) close(fd);
        fd = -1;
    }
};

struct Pipe {
    Descriptor readEnd;
    Descriptor writeEnd;
};

Pipe makePipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    return {Descriptor(ends[0]), Descriptor(ends[1])};
}

std::string makeTempDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vardel-wine-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
    return pattern;
}

struct TempDirectory {
    std::string path = makeTempDirectory();
    ~TempDirectory() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

using vardel::e2e::readFile;
using vardel::e2e::writeFile;

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

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

struct Command {
    std::vector<std::string> argv;
    std::vector<std::string> environment;
};

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
    command.environment = {"PATH=/usr/bin:/bin", std::string("VARDEL_COM") + portDigit(run.program) + "=" + port};
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

// Descriptor that the child's standard output becomes.
Descriptor outputTarget(Output output, const std::string& filePath, Pipe& pipe) {
    switch (output) {
        case Output::Pipe: pipe = makePipe(); return std::move(pipe.writeEnd);
        case Output::File: return Descriptor(open(filePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        case Output::DevFull: return Descriptor(open("/dev/full", O_WRONLY | O_CLOEXEC));
        case Output::BrokenPipe: {
            Pipe broken = makePipe();
            return std::move(broken.writeEnd);
        }
    }
    return {};
}

pid_t spawn(Command& command, int input, int output, int errors) {
    auto argv = pointersTo(command.argv);
    auto envp = pointersTo(command.environment);
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(input, 0);
        dup2(output, 1);
        dup2(errors, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (pid < 0) throw std::runtime_error("fork failed");
    return pid;
}

// Appends what can be read now; false at the end of the stream.
bool drain(int fd, std::string& text) {
    char buffer[4096];
    for (;;) {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count > 0) {
            text.append(buffer, static_cast<std::size_t>(count));
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            return count < 0 && errno == EAGAIN;
        }
    }
}

// Collects the child's output until it has ended. Output still held open by
// a process it left behind is not waited for. False at the deadline.
bool collectUntilExit(pid_t pid, std::vector<std::pair<int, std::string*>> streams, Clock::time_point deadline) {
    Descriptor exited(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    if (exited.fd < 0) throw std::runtime_error("pidfd_open failed");
    for (auto& stream : streams) fcntl(stream.first, F_SETFL, O_NONBLOCK);
    for (;;) {
        std::vector<pollfd> entries{{exited.fd, POLLIN, 0}};
        for (auto& stream : streams) entries.push_back({stream.first, POLLIN, 0});
        const int ready = poll(entries.data(), entries.size(), millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        for (std::size_t i = streams.size(); i-- > 0;) {
            if (entries[i + 1].revents != 0 && !drain(streams[i].first, *streams[i].second)) {
                streams.erase(streams.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        if (entries[0].revents != 0) {
            for (auto& stream : streams) drain(stream.first, *stream.second);
            return true;
        }
    }
}

double seconds(const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; }

void reap(pid_t pid, bool inTime, RunResult& outcome) {
    if (!inTime) kill(pid, SIGKILL);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    if (!inTime) throw std::runtime_error("the program was still running after the time limit");
}

RunResult execute(Command command, Output output, const std::string& outputFile) {
    Pipe stdoutPipe;
    Descriptor target = outputTarget(output, outputFile, stdoutPipe);
    Pipe errors = makePipe();
    const Descriptor input(open("/dev/null", O_RDONLY | O_CLOEXEC));

    RunResult outcome;
    const auto start = Clock::now();
    const pid_t pid = spawn(command, input.fd, target.fd, errors.writeEnd.fd);
    errors.writeEnd.reset();
    std::vector<std::pair<int, std::string*>> streams{{errors.readEnd.fd, &outcome.err}};
    if (stdoutPipe.readEnd.fd >= 0) streams.push_back({stdoutPipe.readEnd.fd, &outcome.out});
    target.reset();
    const bool inTime = collectUntilExit(pid, streams, start + RUN_TIME_LIMIT);
    reap(pid, inTime, outcome);
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (output == Output::File) outcome.out = readFile(outputFile);
    return outcome;
}

}  // namespace

RunResult runOn(Platform platform, const Invocation& run) {
    const TempDirectory work;
    const std::string noDevice = work.path + "/no-device";
    Command command = platform == Platform::Linux ? linuxCommand(run, noDevice) : windowsCommand(run, work.path);
    for (auto& setting : localeEnvironment(platform, run.locale)) command.environment.push_back(setting);
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

constexpr auto START_LIMIT = std::chrono::seconds(20);
constexpr auto STOP_LIMIT = std::chrono::seconds(10);

// Reads `fd` up to the first line feed, or what came by the deadline.
std::string readLine(int fd, Clock::time_point deadline) {
    std::string line;
    char byte = 0;
    while (line.empty() || line.back() != '\n') {
        pollfd entry{fd, POLLIN, 0};
        const int ready = poll(&entry, 1, millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || read(fd, &byte, 1) != 1) break;
        line.push_back(byte);
    }
    return line;
}

std::string withoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

// Sends the signal and reaps the process: its exit status, or 128 + the
// signal that ended it; killed when it is still there after STOP_LIMIT.
int endProcess(pid_t pid, int signal) {
    kill(pid, signal);
    {
        const Descriptor exited(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
        const auto deadline = Clock::now() + STOP_LIMIT;
        pollfd entry{exited.fd, POLLIN, 0};
        while (exited.fd >= 0 && poll(&entry, 1, millisecondsUntil(deadline)) < 0 && errno == EINTR) {
        }
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid) {
        kill(pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int release(Descriptor& descriptor) {
    const int fd = descriptor.fd;
    descriptor.fd = -1;
    return fd;
}

}  // namespace

std::string windowsPathOf(const std::string& unixPath) { return windowsPath(unixPath); }

std::string windowsProgramFile(const std::string& program) { return windowsProgramPath(program); }

RunResult runUnderWine(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                       Locale locale) {
    const TempDirectory work;
    Command command{{VARDEL_WINE}, wineEnvironment()};
    command.argv.insert(command.argv.end(), arguments.begin(), arguments.end());
    command.environment.insert(command.environment.end(), environment.begin(), environment.end());
    for (auto& setting : localeEnvironment(Platform::Windows, locale)) command.environment.push_back(setting);
    return execute(std::move(command), Output::Pipe, work.path + "/stdout");
}

WindowsSimDevice::WindowsSimDevice(const std::vector<std::string>& scenarioLines, const WindowsSimOptions& options)
    : directory_(makeTempDirectory()), driverEnd_(directory_ + "/com1") {
    try {
        // The pair first: socat says when both ends are there.
        const std::string simEnd = directory_ + "/com2";
        Command socat{{VARDEL_SOCAT, "-d", "-d", "pty,raw,echo=0,link=" + driverEnd_, "pty,raw,echo=0,link=" + simEnd},
                      {"PATH=/usr/bin:/bin"}};
        Pipe socatLog = makePipe();
        const Descriptor input(open("/dev/null", O_RDONLY | O_CLOEXEC));
        socatPid_ = spawn(socat, input.fd, socatLog.writeEnd.fd, socatLog.writeEnd.fd);
        socatLog.writeEnd.reset();
        socatLog_ = release(socatLog.readEnd);
        const auto socatDeadline = Clock::now() + START_LIMIT;
        std::string said;
        while (said.find("starting data transfer loop") == std::string::npos && Clock::now() < socatDeadline) {
            const std::string line = readLine(socatLog_, socatDeadline);
            if (line.empty()) break;
            said += line;
        }
        if (said.find("starting data transfer loop") == std::string::npos) {
            throw std::runtime_error("socat made no pseudo-terminal pair: " + said);
        }
        pointWinePortNumber('1', driverEnd_);
        pointWinePortNumber('2', simEnd);

        std::string scenario;
        for (const auto& line : scenarioLines) scenario += line + "\n";
        writeFile(directory_ + "/scenario", scenario);
        Command sim{{VARDEL_WINE, windowsProgramPath("vardel-sim"), "--port", "COM2", "--scenario",
                     windowsPath(directory_ + "/scenario"), "--log", windowsPath(directory_ + "/received")},
                    wineEnvironment()};
        for (auto& setting : localeEnvironment(Platform::Windows, Locale::Point)) sim.environment.push_back(setting);
        if (options.control) {
            pipeName_ = "\\\\.\\pipe\\" + fs::path(directory_).filename().string();
            sim.argv.insert(sim.argv.end(), {"--control", pipeName_});
        }
        sim.argv.insert(sim.argv.end(), options.arguments.begin(), options.arguments.end());
        Pipe output = makePipe();
        Pipe errors = makePipe();
        simPid_ = spawn(sim, input.fd, output.writeEnd.fd, errors.writeEnd.fd);
        output.writeEnd.reset();
        errors.writeEnd.reset();
        outputPipe_ = release(output.readEnd);
        errorPipe_ = release(errors.readEnd);
        const std::string ready = readLine(outputPipe_, Clock::now() + START_LIMIT);
        if (withoutLineEnd(ready) != "ready COM2") {
            stop();
            throw std::runtime_error("vardel-sim.exe did not get ready; it said \"" + ready + "\", and on its error output \"" +
                                     errors_ + "\"");
        }
    } catch (...) {
        cleanUp();
        throw;
    }
}

WindowsSimDevice::~WindowsSimDevice() { cleanUp(); }

void WindowsSimDevice::cleanUp() {
    stop();
    for (int* fd : {&socatLog_, &outputPipe_, &errorPipe_}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    pointWinePortNumber('1', noWineDevice());
    pointWinePortNumber('2', noWineDevice());
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
}

void WindowsSimDevice::stop() {
    if (simPid_ > 0) {
        // Wine turns SIGINT into the console's Ctrl+C event.
        exitStatus_ = endProcess(simPid_, SIGINT);
        simPid_ = -1;
        if (errorPipe_ >= 0) {
            fcntl(errorPipe_, F_SETFL, O_NONBLOCK);
            drain(errorPipe_, errors_);
        }
    }
    if (socatPid_ > 0) {
        endProcess(socatPid_, SIGTERM);
        socatPid_ = -1;
    }
}

std::string WindowsSimDevice::received() {
    stop();
    return readFile(directory_ + "/received");
}

bool WindowsSimDevice::waitForError(const std::string& text) {
    const auto deadline = Clock::now() + STOP_LIMIT;
    for (;;) {
        const auto found = errors_.find(text, errorsTaken_);
        if (found != std::string::npos) {
            errorsTaken_ = found + text.size();
            return true;
        }
        if (errorPipe_ < 0 || Clock::now() >= deadline) return false;
        pollfd entry{errorPipe_, POLLIN, 0};
        if (poll(&entry, 1, millisecondsUntil(deadline)) <= 0) continue;
        char buffer[4096];
        const ssize_t count = read(errorPipe_, buffer, sizeof buffer);
        if (count > 0) {
            errors_.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            close(errorPipe_);
            errorPipe_ = -1;
        }
    }
}

bool WindowsSimDevice::control(const std::string& line) {
    if (pipeName_.empty()) throw std::logic_error("the device was started without a control pipe");
    // Wine's cmd opens the pipe as a file, writes the line and CR LF, and
    // closes it. The redirection comes first: "echo x 1>" would take "1>"
    // for standard output, and Wine 8 sends nothing from "(echo x)>".
    const std::string batch = directory_ + "/control.bat";
    writeFile(batch, "@>" + pipeName_ + " echo " + line + "\r\n");
    const RunResult sent = runUnderWine({"cmd", "/c", windowsPath(batch)});
    if (sent.status != 0) errors_ += "[cmd: status " + std::to_string(sent.status) + ", " + sent.out + sent.err + "]";
    // The acknowledgement's whole line, then whether it says "ok".
    if (!waitForError("vardel-sim: control: '" + line + "': ")) return false;
    const std::size_t answer = errorsTaken_;
    // The error output is in text mode: "ok" CR LF.
    return waitForError("\n") && errors_.compare(answer, 4, "ok\r\n") == 0;
}

}  // namespace vardel::wine
