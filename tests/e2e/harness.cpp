#include "tests/e2e/harness.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vardel::e2e {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto TIME_LIMIT = std::chrono::seconds(10);

struct Pipe {
    int readEnd = -1;
    int writeEnd = -1;
};

struct ChildEnd {
    int status = -1;  // exit status, or 128 + signal
    double cpuSeconds = 0;
    long maxRssKilobytes = 0;
    bool inTime = true;
};

void closeFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

Pipe makePipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    return {ends[0], ends[1]};
}

std::string makeTempDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vardel-e2e-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
    return pattern;
}

void removeDirectory(const std::string& directory) {
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
}

int millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

double seconds(const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; }

int statusCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Reaps the child, killing it once the deadline has passed.
ChildEnd reap(pid_t pid, Clock::time_point deadline) {
    ChildEnd end;
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return end;
        if (Clock::now() >= deadline) {
            end.inTime = false;
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            break;
        }
        const timespec pause{0, 5'000'000};
        nanosleep(&pause, nullptr);
    }
    end.status = statusCode(status);
    end.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    end.maxRssKilobytes = usage.ru_maxrss;
    return end;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Reads `fd` up to the first line feed, or what came by the deadline.
std::string readLine(int fd, Clock::time_point deadline) {
    std::string line;
    char byte = 0;
    while (line.empty() || line.back() != '\n') {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, millisecondsLeft(deadline)) <= 0) break;
        if (read(fd, &byte, 1) != 1) break;
        line.push_back(byte);
    }
    return line;
}

// Reads every open descriptor of `fds` into its text until all are at their
// end or the deadline has passed.
void readAll(std::vector<std::pair<int, std::string*>> fds, Clock::time_point deadline) {
    while (!fds.empty() && Clock::now() < deadline) {
        std::vector<pollfd> entries;
        for (auto& [fd, text] : fds) entries.push_back({fd, POLLIN, 0});
        if (poll(entries.data(), entries.size(), millisecondsLeft(deadline)) < 0 && errno != EINTR) return;
        for (std::size_t i = entries.size(); i-- > 0;) {
            if (entries[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t count = read(fds[i].first, buffer, sizeof buffer);
            if (count > 0) {
                fds[i].second->append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }
}

void redirect(int from, int to) {
    if (from >= 0 && from != to) dup2(from, to);
}

ChildEnd stopSimulator(pid_t pid) {
    kill(pid, SIGTERM);
    const ChildEnd end = reap(pid, Clock::now() + TIME_LIMIT);
    if (!end.inTime) ADD_FAILURE() << "vardel-sim did not stop on SIGTERM";
    return end;
}

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

// Descriptor that the child's standard output becomes, -1 for a closed one.
int stdoutTarget(StdoutMode mode, const std::string& filePath, Pipe& pipe) {
    switch (mode) {
        case StdoutMode::Pipe: pipe = makePipe(); return pipe.writeEnd;
        case StdoutMode::File: return open(filePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        case StdoutMode::DevFull: return open("/dev/full", O_WRONLY | O_CLOEXEC);
        case StdoutMode::Closed: return -1;
        case StdoutMode::BrokenPipe:
            pipe = makePipe();
            closeFd(pipe.readEnd);
            return pipe.writeEnd;
    }
    return -1;
}

}  // namespace

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    if (!file) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}


SimDevice::SimDevice(const std::vector<std::string>& scenarioLines) : SimDevice(scenarioLines, SimOptions{}) {}

SimDevice::SimDevice(const std::vector<std::string>& scenarioLines, const SimOptions& options) {
    directory_ = makeTempDirectory();
    linkPath_ = directory_ + "/port";
    logPath_ = directory_ + "/received";
    const std::string scenarioPath = directory_ + "/scenario";
    std::string scenario;
    for (const auto& line : scenarioLines) scenario += line + "\n";
    writeFile(scenarioPath, scenario);

    std::vector<std::string> arguments{VARDEL_SIM_PATH, "--link", linkPath_, "--scenario", scenarioPath,
                                       "--log", logPath_};
    for (std::string argument : options.arguments) {
        for (auto at = argument.find("{dir}"); at != std::string::npos; at = argument.find("{dir}")) {
            argument.replace(at, 5, directory_);
        }
        arguments.push_back(argument);
    }
    auto argv = pointersTo(arguments);
    Pipe ready = makePipe();
    Pipe errors = options.readErrors ? makePipe() : Pipe{};
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = fork();
    if (pid_ == 0) {
#ifdef __linux__
        prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
        redirect(input, 0);
        redirect(ready.writeEnd, 1);
        redirect(errors.writeEnd, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    closeFd(ready.writeEnd);
    closeFd(errors.writeEnd);
    errorPipe_ = errors.readEnd;
    const std::string line = readLine(ready.readEnd, Clock::now() + TIME_LIMIT);
    closeFd(ready.readEnd);
    if (input >= 0) close(input);
    if (pid_ > 0 && line == "ready " + linkPath_ + "\n") return;
    if (pid_ > 0) stopSimulator(pid_);
    closeFd(errorPipe_);
    removeDirectory(directory_);
    throw std::runtime_error("vardel-sim did not get ready; it said \"" + line + "\"");
}

SimDevice::~SimDevice() {
    if (!stopped_) received();
    closeFd(errorPipe_);
    removeDirectory(directory_);
}

bool SimDevice::waitForError(const std::string& text, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto found = errors_.find(text, errorsTaken_);
        if (found != std::string::npos) {
            errorsTaken_ = found + text.size();
            return true;
        }
        if (errorPipe_ < 0 || Clock::now() >= deadline) return false;
        pollfd entry{errorPipe_, POLLIN, 0};
        if (poll(&entry, 1, millisecondsLeft(deadline)) <= 0) continue;
        char buffer[4096];
        const ssize_t count = read(errorPipe_, buffer, sizeof buffer);
        if (count > 0) {
            errors_.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            closeFd(errorPipe_);
        }
    }
}

std::string SimDevice::received() {
    if (!stopped_) {
        const ChildEnd end = stopSimulator(pid_);
        exitStatus_ = end.status;
        cpuSeconds_ = end.cpuSeconds;
        stopped_ = true;
    }
    return readFile(logPath_);
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const RunOptions& options) {
    const std::string path = programPath(program);
    const std::string directory = makeTempDirectory();
    const std::string outputFile = directory + "/stdout";
    const std::string portPath = options.portPath.empty() ? directory + "/no-device" : options.portPath;

    // The simulated device is always a program of this machine: only the
    // drivers run through the prefix.
    std::vector<std::string> argumentTexts = program == "vardel-sim" ? std::vector<std::string>{} : programPrefix();
    argumentTexts.push_back(path);
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environmentTexts = programEnvironment(program, portPath, options.frenchLocale);
    environmentTexts.insert(environmentTexts.end(), options.environment.begin(), options.environment.end());
    auto argv = pointersTo(argumentTexts);
    auto envp = pointersTo(environmentTexts);

    Pipe output;
    int outputTarget = stdoutTarget(options.stdoutMode, outputFile, output);
    Pipe errors = makePipe();
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);

    RunResult result;
    const auto start = Clock::now();
    const auto deadline = start + TIME_LIMIT;
    const pid_t pid = fork();
    if (pid == 0) {
        redirect(input, 0);
        if (outputTarget < 0) close(1);
        redirect(outputTarget, 1);
        redirect(errors.writeEnd, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (outputTarget != output.writeEnd) closeFd(outputTarget);
    closeFd(output.writeEnd);
    closeFd(errors.writeEnd);
    if (input >= 0) close(input);

    std::vector<std::pair<int, std::string*>> readable{{errors.readEnd, &result.err}};
    if (output.readEnd >= 0) readable.push_back({output.readEnd, &result.out});
    if (pid > 0) readAll(readable, deadline);
    closeFd(output.readEnd);
    closeFd(errors.readEnd);

    const ChildEnd end = pid > 0 ? reap(pid, deadline) : ChildEnd{};
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.status = end.status;
    result.cpuSeconds = end.cpuSeconds;
    result.maxRssKilobytes = end.maxRssKilobytes;
    if (!end.inTime) ADD_FAILURE() << program << " was still running after the time limit and was killed";
    if (options.stdoutMode == StdoutMode::File) result.out = readFile(outputFile);
    removeDirectory(directory);
    return result;
}

RunResult runWith(const SimDevice& device, const std::string& program, const std::vector<std::string>& arguments) {
    RunOptions options;
    options.portPath = device.path();
    return runProgram(program, arguments, options);
}

}  // namespace vardel::e2e
