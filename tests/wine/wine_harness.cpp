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

// Points the prefix's fixed port path at the device (replaced in one step).
void pointWinePort(const std::string& program, const std::string& target) {
    const std::string ports = std::string(VARDEL_WINE_PREFIX) + "/ports";
    const std::string link = ports + "/com" + portDigit(program);
    const std::string staged = link + ".new";
    std::error_code ignored;
    fs::remove(staged, ignored);
    fs::create_symlink(target, staged);
    fs::rename(staged, link);
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

Command linuxCommand(const Invocation& run, const std::string& noDevice) {
    Command command;
    command.argv.push_back(linuxProgramPath(run.program));
    command.argv.insert(command.argv.end(), run.arguments.begin(), run.arguments.end());
    const std::string port = run.device != nullptr ? run.device->path() : noDevice;
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
    const std::string noDevice = std::string(VARDEL_WINE_PREFIX) + "/ports/no-device";
    pointWinePort(run.program, run.device != nullptr ? run.device->path() : noDevice);
    command.environment = {"PATH=/usr/bin:/bin", std::string("WINEPREFIX=") + VARDEL_WINE_PREFIX, "WINEDEBUG=-all"};
    if (const char* home = std::getenv("HOME")) command.environment.push_back(std::string("HOME=") + home);
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
