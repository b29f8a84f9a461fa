#include "tests/support/process_runner.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace vardel::test {
namespace {

using Clock = std::chrono::steady_clock;

// A descriptor closed with its owner.
struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    explicit Descriptor(int value) : fd(value) {}
    Descriptor(Descriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
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

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

double seconds(const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; }

int statusCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// In the child: `from` becomes `to`, without close-on-exec; -1 closes `to`.
void becomes(int from, int to) {
    if (from < 0) {
        close(to);
    } else if (from == to) {
        fcntl(to, F_SETFD, 0);
    } else {
        dup2(from, to);
    }
}

// Standard input holding `bytes`: a removed file, so that nothing is
// written to a child that may never read it.
Descriptor inputHolding(const std::string& bytes) {
    if (bytes.empty()) return Descriptor(open("/dev/null", O_RDONLY | O_CLOEXEC));
    const TempDirectory directory("vardel-input");
    const std::string path = directory.path + "/input";
    writeFile(path, bytes);
    return Descriptor(open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

Descriptor hungUpTerminal() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) throw std::runtime_error("no pseudo-terminal");
    Descriptor terminal(open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC));
    close(master);
    return terminal;
}

// Descriptor that the child's standard output becomes; `pipe` is made for
// OutputTo::Pipe.
Descriptor outputTarget(const ProcessLaunch& launch, Pipe& pipe) {
    switch (launch.output) {
        case OutputTo::Pipe: pipe = makePipe(); return std::move(pipe.writeEnd);
        case OutputTo::File:
            return Descriptor(open(launch.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        case OutputTo::DevFull: return Descriptor(open("/dev/full", O_WRONLY | O_CLOEXEC));
        case OutputTo::Closed: return {};
        case OutputTo::BrokenPipe: return std::move(makePipe().writeEnd);
        case OutputTo::HungUpTerminal: return hungUpTerminal();
    }
    return {};
}

struct Stream {
    int fd;
    std::string* text;
};

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

// Reads the streams until they end or, with CollectUntil::Exit, the child
// has exited; never past the deadline.
void collect(std::vector<Stream> streams, int exitEvent, CollectUntil until, Clock::time_point deadline) {
    for (const Stream& stream : streams) fcntl(stream.fd, F_SETFL, O_NONBLOCK);
    const bool untilExit = until == CollectUntil::Exit;
    while (!streams.empty() || untilExit) {
        std::vector<pollfd> entries;
        for (const Stream& stream : streams) entries.push_back({stream.fd, POLLIN, 0});
        if (untilExit) entries.push_back({exitEvent, POLLIN, 0});
        const int ready = poll(entries.data(), entries.size(), millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return;
        for (std::size_t i = streams.size(); i-- > 0;) {
            if (entries[i].revents != 0 && !drain(streams[i].fd, *streams[i].text)) {
                streams.erase(streams.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        if (untilExit && entries.back().revents != 0) {
            for (const Stream& stream : streams) drain(stream.fd, *stream.text);
            return;
        }
    }
}

ChildEnd reap(pid_t pid) {
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    ChildEnd end;
    end.status = statusCode(status);
    end.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    end.maxRssKilobytes = usage.ru_maxrss;
    return end;
}

// True once the stream of `fd` has ended (its writers are gone), false at
// the deadline.
bool endsBy(int fd, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = poll(&entry, 1, millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char byte = 0;
        const ssize_t count = read(fd, &byte, 1);
        if (count == 0 || (count < 0 && errno != EINTR && errno != EAGAIN)) return true;
    }
}

pid_t forkAndExec(const ProcessLaunch& launch, const ChildStreams& streams, char* const* argv, char* const* envp) {
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, launch.parentDeathSignal);
        becomes(streams.input, 0);
        becomes(streams.output, 1);
        becomes(streams.errors, 2);
        if (launch.environment) {
            execve(argv[0], argv, envp);
        } else {
            execv(argv[0], argv);
        }
        _exit(127);
    }
    if (pid < 0) throw std::runtime_error("fork failed");
    return pid;
}

// How long a forked child may take to reach its exec, and how often it is
// started again when it doesn't.
constexpr auto EXEC_LIMIT = std::chrono::seconds(2);
constexpr int START_ATTEMPTS = 3;

// Under qemu-user, a fork while another thread starts or ends can leave the
// child hung before its exec, on a lock of the emulator's that the thread
// held. Such a child is killed and the program started again.
pid_t startChild(const ProcessLaunch& launch, const ChildStreams& streams, char* const* argv, char* const* envp) {
    for (int attempt = 1;; ++attempt) {
        Pipe execWatch = makePipe();  // the child's copy of the write end closes at its exec
        const pid_t pid = forkAndExec(launch, streams, argv, envp);
        execWatch.writeEnd.reset();
        if (endsBy(execWatch.readEnd.fd, Clock::now() + EXEC_LIMIT)) return pid;
        kill(pid, SIGKILL);
        reap(pid);
        std::fprintf(stderr, "%s hung before its exec (attempt %d)\n", launch.argv[0].c_str(), attempt);
        if (attempt == START_ATTEMPTS) throw std::runtime_error(launch.argv[0] + " never reached its exec");
    }
}

}  // namespace

ChildProcess::ChildProcess(const ProcessLaunch& launch, const ChildStreams& streams) {
    std::vector<std::string> argumentTexts = launch.argv;
    std::vector<std::string> environmentTexts = launch.environment.value_or(std::vector<std::string>{});
    auto argv = pointersTo(argumentTexts);
    auto envp = pointersTo(environmentTexts);
    pid_ = startChild(launch, streams, argv.data(), envp.data());
    exitEvent_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (exitEvent_ < 0) {
        kill(pid_, SIGKILL);
        reap(pid_);
        throw std::runtime_error("pidfd_open failed: the tests need Linux 5.3 or later");
    }
}

ChildProcess::~ChildProcess() {
    if (!ended_) wait(Clock::now());
    close(exitEvent_);
}

void ChildProcess::signal(int number) const {
    if (!ended_) kill(pid_, number);
}

ChildEnd ChildProcess::wait(Clock::time_point deadline) {
    if (ended_) return end_;
    pollfd entry{exitEvent_, POLLIN, 0};
    int ready = 0;
    while ((ready = poll(&entry, 1, millisecondsUntil(deadline))) < 0 && errno == EINTR) {
    }
    const bool inTime = ready > 0;
    // Not yet reaped: the process id is still the child's.
    if (!inTime) kill(pid_, SIGKILL);
    end_ = reap(pid_);
    ended_ = true;
    end_.inTime = inTime;
    return end_;
}

ProcessRun runProcess(const ProcessLaunch& launch) {
    Pipe outputPipe;
    Descriptor output = outputTarget(launch, outputPipe);
    Pipe errors = makePipe();
    const Descriptor input = inputHolding(launch.input);

    ProcessRun run;
    const auto start = Clock::now();
    const auto deadline = start + launch.timeLimit;
    ChildProcess child(launch, {input.fd, output.fd, errors.writeEnd.fd});
    output.reset();
    errors.writeEnd.reset();
    std::vector<Stream> streams{{errors.readEnd.fd, &run.err}};
    if (outputPipe.readEnd.fd >= 0) streams.push_back({outputPipe.readEnd.fd, &run.out});
    collect(streams, child.exitEvent(), launch.collect, deadline);
    const ChildEnd end = child.wait(deadline);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.status = end.status;
    run.cpuSeconds = end.cpuSeconds;
    run.maxRssKilobytes = end.maxRssKilobytes;
    run.timedOut = !end.inTime;
    if (launch.output == OutputTo::File) run.out = readFile(launch.outputFile);
    return run;
}

TempDirectory::TempDirectory(const std::string& prefix) {
    const char* base = std::getenv("TMPDIR");
    path = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    if (mkdtemp(path.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + path);
}

TempDirectory::~TempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

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

OutputWatch::~OutputWatch() { close(); }

void OutputWatch::watch(int readEnd) {
    close();
    fd_ = readEnd;
}

void OutputWatch::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool OutputWatch::readSome(Clock::time_point deadline) {
    if (fd_ < 0) return false;
    pollfd entry{fd_, POLLIN, 0};
    if (poll(&entry, 1, millisecondsUntil(deadline)) <= 0) return true;
    char buffer[4096];
    const ssize_t count = read(fd_, buffer, sizeof buffer);
    if (count > 0) text_.append(buffer, static_cast<std::size_t>(count));
    if (count > 0 || (count < 0 && errno == EINTR)) return true;
    close();
    return false;
}

std::string OutputWatch::firstLine(Clock::time_point deadline) {
    while (text_.find('\n') == std::string::npos && Clock::now() < deadline && readSome(deadline)) {
    }
    const std::size_t end = text_.find('\n');
    return end == std::string::npos ? text_ : text_.substr(0, end + 1);
}

bool OutputWatch::waitFor(const std::string& text, Clock::time_point deadline) {
    for (;;) {
        const auto found = text_.find(text, taken_);
        if (found != std::string::npos) {
            taken_ = found + text.size();
            return true;
        }
        if (Clock::now() >= deadline || !readSome(deadline)) return false;
    }
}

}  // namespace vardel::test
