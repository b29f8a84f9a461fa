#pragma once
// Starts programs as child processes for the tests: their arguments,
// environment and standard streams, a time limit, and what they wrote.
// Every descriptor it opens closes itself at exec; only the child's
// standard streams pass on.

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/run_result.hpp"

namespace vardel::test {

// Where the child's standard output goes.
// HungUpTerminal: a pseudo-terminal whose other end has gone, as after a
// dropped SSH session; every write there fails with EIO.
enum class OutputTo { Pipe, File, DevFull, Closed, BrokenPipe, HungUpTerminal };

// When collecting ends: at the end of both output streams, or when the
// child has exited (what a process it left behind still holds open, such as
// Wine's server, is not waited for).
enum class CollectUntil { EndOfOutput, Exit };

struct ProcessLaunch {
    std::vector<std::string> argv;  // argv[0] is the program's path
    // NAME=VALUE, the child's whole environment; none: this process's own.
    std::optional<std::vector<std::string>> environment;
    std::string input;  // standard input bytes; empty: /dev/null
    OutputTo output = OutputTo::Pipe;
    std::string outputFile;  // with OutputTo::File: read into `out` at the end
    std::chrono::milliseconds timeLimit = std::chrono::seconds(10);
    CollectUntil collect = CollectUntil::EndOfOutput;
    int parentDeathSignal = SIGKILL;  // sent to the child should the test die (Linux)
};

// How a child ended.
struct ChildEnd {
    int status = -1;  // exit status, or 128 + signal
    double cpuSeconds = 0;
    long maxRssKilobytes = 0;
    bool inTime = true;  // false: killed at the deadline
};

// Standard streams of a child: descriptors to become 0, 1 and 2; -1 for a
// closed one.
struct ChildStreams {
    int input = -1;
    int output = -1;
    int errors = -1;
};

// A started child. Its end is polled for on a pidfd (Linux 5.3), beside its output,
// without a signal handler shared by the whole test process. No thread per
// child: under qemu-user, a thread that starts or ends while another one
// forks can leave the new child hung before its exec (it inherits a lock of
// the emulator's held by that thread).
class ChildProcess {
public:
    ChildProcess(const ProcessLaunch& launch, const ChildStreams& streams);
    ~ChildProcess();  // kills a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void signal(int number) const;
    int exitEvent() const { return exitEvent_; }
    // Waits for the end, killing the child once `deadline` has passed.
    ChildEnd wait(std::chrono::steady_clock::time_point deadline);

private:
    pid_t pid_ = -1;
    int exitEvent_ = -1;
    bool ended_ = false;
    ChildEnd end_;
};

// Runs a program to its end and returns what it wrote and how it ended
// (`timedOut` when it was killed at the time limit).
struct ProcessRun : RunResult {
    bool timedOut = false;
};
ProcessRun runProcess(const ProcessLaunch& launch);

// What a child writes to a pipe, read as it comes: for the line a server
// prints once it is ready, and the messages it writes while it serves.
class OutputWatch {
public:
    OutputWatch() = default;
    explicit OutputWatch(int readEnd) : fd_(readEnd) {}  // takes the descriptor
    ~OutputWatch();
    OutputWatch(const OutputWatch&) = delete;
    OutputWatch& operator=(const OutputWatch&) = delete;

    // Reads until a line feed has come, the stream ends or the deadline
    // passes; returns the first line, its line feed included when it came.
    std::string firstLine(std::chrono::steady_clock::time_point deadline);
    // Reads until `text` shows after what earlier waits found, and takes it.
    // False when the stream ended or the deadline passed first.
    bool waitFor(const std::string& text, std::chrono::steady_clock::time_point deadline);
    // Reads what one read gives by the deadline; false at the end of the stream.
    bool readSome(std::chrono::steady_clock::time_point deadline);
    // Everything read so far, and where the next waitFor starts looking.
    const std::string& text() const { return text_; }
    std::size_t taken() const { return taken_; }
    // Watches `readEnd` (taken) in place of the stream before.
    void watch(int readEnd);
    void close();

private:
    int fd_ = -1;
    std::string text_;
    std::size_t taken_ = 0;
};

// A temporary directory, removed with what it holds.
struct TempDirectory {
    explicit TempDirectory(const std::string& prefix = "vardel-test");
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    std::string path;
};

// Whole files as bytes.
void writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);

}  // namespace vardel::test
